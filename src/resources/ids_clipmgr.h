#pragma once
// Local clippings manager, dialog 912 (the cloud manager reuses the template)
#define IDD_CLIPMGR 912
#define IDC_CM_GROUP 295
#define IDC_CM_DCRENAME 297
#define IDC_CM_DCCOPY 298
#define IDC_CM_LIST 300
#define IDC_CM_RENAME 310
#define IDC_CM_DELETE 320
#define IDC_CM_COPY 350
#define IDC_CM_SYNC 360

// The picture buttons' images: enabled and disabled
#define IDB_CM_COPY 140
#define IDB_CM_COPYGREY 145
#define IDB_CM_DELETE 150
#define IDB_CM_DELETEGREY 155
#define IDB_CM_RENAME 160
#define IDB_CM_RENAMEGREY 165
#define IDB_CM_SYNC 285
#define IDB_CM_SYNCGREY 290

#define IDS_CONFIRMDELETE 1360
