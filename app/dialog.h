// A tiny modal-dialog layer on raw Win32 in place of the framework's CDialog.
// Dialogs are created with the W entry points so their Chinese template texts
// stay Unicode on every NT system, with the A entry points on Windows 9x; the
// static procedure stores `this` at WM_INITDIALOG and forwards every message
// to the object.
#pragma once
#include <windows.h>

class CDialog {
 public:
  CDialog(UINT templateId, HWND parent) : m_templateId(templateId), m_parent(parent) {}
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Runs the dialog modally with its owner disabled; returns the end code,
  // or -1 when the dialog cannot be created.
  INT_PTR DoModal();
  HWND GetSafeHwnd() const { return m_hWnd; }

 protected:
  // Dialogs live on the stack and are never deleted through this class: no
  // virtual destructor, so no operator delete is linked in.
  ~CDialog() = default;
  virtual BOOL OnInitDialog() { return TRUE; }
  // Returns true when the message was handled; result is the message's result.
  virtual bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR* result);
  virtual void OnOK() { EndDialog(m_hWnd, IDOK); }
  virtual void OnCancel() { EndDialog(m_hWnd, IDCANCEL); }

  HWND m_hWnd = nullptr;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  UINT m_templateId;
  HWND m_parent;
};
