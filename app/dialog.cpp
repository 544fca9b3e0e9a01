#include "app/dialog.h"

#include "app/ui_logic.h"

// Calls without text use their A form, which every system implements.
INT_PTR CDialog::DoModal() {
  const LPARAM self = reinterpret_cast<LPARAM>(this);
  if (UsesAnsiWindowCalls())
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_templateId), m_parent,
                           &CDialog::DialogProc, self);
  return DialogBoxParamW(GetModuleHandleA(nullptr), MAKEINTRESOURCEW(m_templateId), m_parent,
                         &CDialog::DialogProc, self);
}

bool CDialog::OnMessage(UINT msg, WPARAM wParam, LPARAM, INT_PTR* result) {
  if (msg != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return false;
  if (LOWORD(wParam) == IDOK) {
    OnOK();
  } else if (LOWORD(wParam) == IDCANCEL) {
    OnCancel();  // Cancel, Esc and the close command
  } else {
    return false;
  }
  *result = TRUE;
  return true;
}

// Centres the dialog over its owner, or on the screen's work area when it has
// none, kept inside the work area.
static void CentreWindow(HWND hwnd) {
  RECT area, self, over;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  GetWindowRect(hwnd, &self);
  HWND owner = GetWindow(hwnd, GW_OWNER);
  if (owner == nullptr || !IsWindowVisible(owner) || IsIconic(owner) || !GetWindowRect(owner, &over)) over = area;
  const int w = self.right - self.left, h = self.bottom - self.top;
  int x = (over.left + over.right - w) / 2, y = (over.top + over.bottom - h) / 2;
  if (x + w > area.right) x = area.right - w;
  if (y + h > area.bottom) y = area.bottom - h;
  if (x < area.left) x = area.left;
  if (y < area.top) y = area.top;
  SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CDialog* self = nullptr;
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<CDialog*>(lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->m_hWnd = hwnd;
    CentreWindow(hwnd);
    return self->OnInitDialog();
  }
  self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (self == nullptr) return FALSE;
  INT_PTR result = FALSE;
  if (!self->OnMessage(msg, wParam, lParam, &result)) return FALSE;
  if (msg == WM_QUERYDRAGICON) return result;  // returned directly, not via DWLP_MSGRESULT
  SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
  return TRUE;
}
