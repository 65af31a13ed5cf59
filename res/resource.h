// Resource and control ids of the program.
#pragma once

// Dialogs, icons, bitmaps, the intro animation.
#define IDD_MAIN_DIALOG 102
#define IDR_MAINFRAME 128
#define IDD_ABOUTBOX 138
#define IDB_ABOUT_LOGO 140
#define IDB_ABOUT_FRAME1 141
#define IDB_ABOUT_FRAME2 142
#define IDB_ABOUT_FRAME3 143
#define IDB_ABOUT_FRAME4 144
#define IDB_ABOUT_FRAME5 145
#define IDR_INTRO_GIF 143 // type "gif"; shares its number with a bitmap of another type
#define IDB_BANNER 146

// Controls of the main dialog.
#define IDC_RADIO_SYSTEM_DIR 1000
#define IDC_RADIO_ALL_DRIVES 1001
#define IDC_RADIO_FOLDER 1002
#define IDC_EDIT_FOLDER 1003
#define IDC_BTN_BROWSE 1004
#define IDC_BTN_STOP 1005
#define IDC_BTN_SCAN 1006
#define IDC_GROUP_OPTIONS 1007
#define IDC_GROUP_RESULTS 1008
#define IDC_LIST_RESULTS 1009
#define IDC_BTN_ABOUT 1011
#define IDC_STATUS 1012
#define IDC_INTRO_PICTURE 1023
#define IDC_BANNER 1027
#define IDC_CHECK_FAILED_ONLY 1028
