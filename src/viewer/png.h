#pragma once
// libpng's and zlib's version texts as the linked libraries report them.
const char *PNGVersion();
const char *ZLIBVersion();
