// Resource identifiers, shared by the resource script and the code.
#pragma once

#define IDD_ABOUT 100
#define IDS_ABOUT_MENU 101
#define IDD_CLEANUP 102
#define IDI_MAIN 128
#define IDM_ABOUT 0x0010
// Shown during a run only: its progress and the step it is at.
#define IDC_RUN_PROGRESS 1000
#define IDC_RUN_STEP 1001
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
