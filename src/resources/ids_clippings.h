#pragma once
// The name dialog of the clippings and the store command's messages.
#define IDD_CLIPNAME 915
#define IDC_CLIPNAME 665

#define IDS_CLIPTOOLONG 1370
#define IDS_CLIPLIMIT 1380
