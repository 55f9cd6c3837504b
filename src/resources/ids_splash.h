#pragma once
// Splash / about dialog 950 and credits dialog 420
#define IDD_SPLASH 950
#define IDD_CREDITS 420
#define IDB_SPLASH 190
