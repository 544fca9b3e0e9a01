#include "app/about_box.h"

#include "app/resource.h"

CAboutBox::CAboutBox(HWND owner) : CDialog(IDD_ABOUT, owner) {}
