#pragma once
// Cloud clippings: the synchronisation's progress dialog 975, the account
// dialog and the options button that opens it, their messages
#define IDD_SYNCPROGRESS 975
#define IDC_SP_TEXT 894
#define IDC_SP_BAR 896

#define IDD_ACCOUNT 940
#define IDC_ACC_NAME 941
#define IDC_ACC_KEY 942
#define IDC_ACC_GENERATE 943
#define IDC_ACC_SERVER 944
#define IDC_OPT_ACCOUNT 945
#define IDC_ACC_FINGERPRINT 946

#define IDS_DOWNLOADCLOUD 1410
#define IDS_NOSYNCACCOUNT 1450
#define IDS_NOCLOUDCLIPS 1460
