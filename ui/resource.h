// Resource and control identifiers of the program, shared by the resource script and the code.
#pragma once

// String table
#define IDS_APP_TITLE 103
#define IDS_WINDOW_CLASS 109

// Icon, menu and accelerators
#define IDI_ZORVEN 107
#define IDR_MAINMENU 109
#define IDR_ACCELERATORS 109

// Dialogs
#define IDD_ABOUTBOX 103
#define IDD_UPDATE 110

// Commands of the main window
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_OPEN_UPDATE_DIALOG 110

// Controls of the update dialog (the START button is IDOK, Cancel is IDCANCEL)
#define IDC_PROGRESS 1000
#define IDC_PORT 1001
#define IDC_SPEED 1002
#define IDC_LOG 1005
#define IDC_VERSION 1006

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
