#pragma once
#include "app/dialog.h"
#include "app/ui_logic.h"
#include "engine/removal.h"
#include "platform/handles.h"

// Marks the main dialog among the system's dialogs, for a second start to find.
constexpr char kMainDialogMark[] = "Brannoch.MainDialog";

// The main dialog: its first button runs the removal, "取消" ends the program.
// The run goes on a thread of its own so that the dialog keeps answering; the
// dialog only starts it, hears of its end and holds the user's requests meanwhile.
class CCleanupDlg : public CDialog {
 public:
  explicit CCleanupDlg(HWND parent = nullptr);

 protected:
  BOOL OnInitDialog() override;
  bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;
  void OnOK() override {}  // the button runs the removal; the dialog stays open
  void OnCancel() override;

 private:
  void OnSysCommand(UINT id, LPARAM lParam, INT_PTR* result, bool* handled);
  bool OnPaint();
  HCURSOR OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(m_hMainIcon); }
  void RemoveAllEditions();
  void ShowRunning(bool running);
  void OnRunEnded(unsigned sender, RunOutcome outcome);
  static unsigned __stdcall RunThread(void* dialog);

  HICON m_hMainIcon;
  RunGate m_run;
  pf::ScopedHandle m_runThread;
};
