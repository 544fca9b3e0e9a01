#include "app/dialog.h"

INT_PTR CDialog::DoModal() {
  return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), m_parent,
                         &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
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

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CDialog* self = nullptr;
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<CDialog*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->m_hWnd = hwnd;
    return self->OnInitDialog();
  }
  self = reinterpret_cast<CDialog*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return FALSE;
  INT_PTR result = FALSE;
  if (!self->OnMessage(msg, wParam, lParam, &result)) return FALSE;
  if (msg == WM_QUERYDRAGICON) return result;  // returned directly, not via DWLP_MSGRESULT
  return TRUE;
}
