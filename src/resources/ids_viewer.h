#pragma once
// Clipboard viewer, dialog 970
#define IDD_VIEWER 970
#define IDC_VIEWFORMATS 650
#define IDC_VIEWADD 660
#define IDC_VIEWSIZE 700
#define IDC_VIEWHEX 720
#define IDC_VIEWREFRESH 790
#define IDC_VIEWRTF 805
#define IDC_VIEWSAVE 810
#define IDC_VIEWNULLS 820
#define IDC_VIEWSOURCE 830
#define IDC_VIEWTEXT 890
// The row list that stands in for the text pane when the text is long
#define IDC_VIEWROWS 895
// Also named by the code that drives them, in clipboard/clipboard.h and
// viewer/render.h; spelt alike, so the definitions agree.
#define IDC_VIEWPROGRESS 780
#define IDC_PICTUREFRAME 880

// The add button's images: enabled and disabled
#define IDB_ADD 135
#define IDB_ADDGREY 136

#define IDM_VIEW 1080

#define IDS_FILECREATED 1320
