// Ids of the resources in tslflash.rc, shared with the Win32 front end. Plain
// macros, because the resource compiler reads this file too. The string
// table's ids are the catalogue's (resources/texts.h).
#pragma once

#define IDD_ABOUT_BOX 100
#define IDD_UPDATE_DIALOG 102

#define IDB_TREE_IMAGES 130
#define IDI_TSLFLASH 133

#define IDC_DEVICES_LABEL 1001
#define IDC_DRIVE_TREE 1002
#define IDC_PROGRESS 1007
#define IDC_UPGRADE 1009
#define IDC_LOG 1014

#define IDC_NONE (-1)
