#pragma once
#include "app/dialog.h"

// The main dialog: its first button runs the removal, "取消" ends the program.
class CCleanupDlg : public CDialog {
 public:
  explicit CCleanupDlg(HWND parent = nullptr);

 protected:
  BOOL OnInitDialog() override;
  bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;
  void OnOK() override {}  // the button runs the removal; the dialog stays open

 private:
  void OnSysCommand(UINT id, LPARAM lParam, INT_PTR* result, bool* handled);
  bool OnPaint();
  HCURSOR OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(m_hMainIcon); }
  void RemoveAllEditions();

  HICON m_hMainIcon;
  bool m_running = false;
};
