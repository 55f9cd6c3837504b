#include "globals.h"

Globals gvGlobals;
