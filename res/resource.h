// Identifiers of the resources in quarnel.rc, shared by the resource script
// and the Win32 front end. The resource compiler reads only #define here.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_MAIN_DIALOG 102
#define IDD_BATCH_RESULTS 103
#define IDR_MAINFRAME 128

// System-menu command of the About entry; the platform's own commands start at
// 0xF000, and the low four bits are the platform's to use.
#define IDM_ABOUTBOX 0x0010

#define IDC_SOURCE_EDIT 1001
#define IDC_TARGET_EDIT 1002
#define IDC_BROWSE_SOURCE 1003
#define IDC_BROWSE_TARGET 1004
#define IDC_BROWSE_FOLDER 1005
#define IDC_BATCH_PROGRESS 1006

// The results window of a batch.
#define IDC_RESULT_LIST 1010
#define IDC_RESULT_SUMMARY 1011
#define IDC_SAVE_REPORT 1012
#define IDC_OPEN_FOLDER 1013

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
