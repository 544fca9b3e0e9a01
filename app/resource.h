// Resource identifiers, shared by the resource script and the code.
#pragma once

#define IDD_ABOUT 100
#define IDS_ABOUT_MENU 101
#define IDD_CLEANUP 102
#define IDI_MAIN 128
#define IDM_ABOUT 0x0010
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
