#pragma once
// Resource and command ids. Shared by the resource script and the code.

// Controls that are never addressed
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Icons and bitmaps
#define IDI_APP 50
#define IDI_FLASH 980
#define IDB_MAIN 180
#define IDC_MAINART 181

// Main window, dialog 910
#define IDD_MAIN 910
#define IDC_FORMATLIST 760
#define IDC_REDUCE 1050

// Exit dialog 920
#define IDD_QUIT 920
#define IDC_QUIT_EXIT 670
#define IDC_QUIT_DONTASK 690
#define IDC_QUIT_TRAY 840

// Menus and accelerators
#define IDM_TRAY 1170
#define IDM_MAIN 1180
#define IDA_MAIN 1150

// Commands
#define IDM_EXIT 2
#define IDM_TRAYTOGGLE 100
#define IDM_TRAYICON 990
#define IDM_CONVERT 1025
#define IDM_LOWER 1030
#define IDM_UPPER 1040
#define IDM_REDUCE 1050
#define IDM_UNDO 1060
#define IDM_EMPTY 1070
#define IDM_TRIM 1071
#define IDM_JOIN 1072
#define IDM_STRAIGHT 1073

// Strings
#define IDS_ALLOCFAILED 1210
#define IDS_LOCKFAILED 1240
#define IDS_REDUCEONLY 1280
#define IDS_PASTEKEYTAKEN 1285

#define IDM_FILEOPEN 90
#define IDM_FILESAVEAS 110
#define IDM_ABOUT 1000
#define IDM_HELP 1090
#define IDM_OPTIONS 1100
#define IDM_UPDATECHECK 1145

// Clippings: the submenu item, its items 501 to 519, the store command and the managers
#define IDM_CLIPPINGS 500
#define IDM_CLIPFIRST 501
#define IDM_CLIPLAST 519
#define IDM_LOCALCLIPS 600
#define IDM_CLOUDCLIPS 605
#define IDM_CLIPADD 1105

#define IDS_ABOUT 1190
#define IDS_FILEFILTER 1270

#include "ids_options.h"
#include "ids_splash.h"
#include "ids_viewer.h"
#include "ids_clippings.h"
#include "ids_clipmgr.h"
#include "ids_net.h"
#include "ids_cloud.h"
