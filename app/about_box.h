#pragma once
#include "app/dialog.h"

// The About box: template IDD_ABOUT, the framework's handling only.
class CAboutBox : public CDialog {
 public:
  explicit CAboutBox(HWND owner);
};
