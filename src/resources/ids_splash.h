#pragma once
// Splash / about dialog 950 and credits dialog 420
#define IDD_SPLASH 950
#define IDD_CREDITS 420
#define IDB_SPLASH 190
#define IDC_SPLASHART 191

// Shared by both dialogs
#define IDC_PRODUCT 200
#define IDC_VERSION 870
#define IDC_COPYRIGHT 680

// Dialog 950
#define IDC_WEBLINK 740
#define IDC_CREDITS 410

// Dialog 420
#define IDC_CREDITSTEXT 400

// Texts of the product line and the copyright notice, for the code of both.
#define ABOUT_DESCRIPTION "Converts Clipboard Contents to Plain Text"
#define ABOUT_COPYRIGHT "Quillet is free to use and to host yourself."
