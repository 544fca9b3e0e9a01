#pragma once
#include "app/dialog.h"
#include "app/ui_logic.h"
#include "engine/removal.h"
#include "fsclean/leftovers.h"
#include "platform/handles.h"

struct ITaskbarList3;
struct AccPropServices;

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
  void OnRunEnded(unsigned sender, RunResult result);
  void OnRunStep(unsigned step, unsigned detail);
  void ShowProgress(bool shown);
  void SetProgress(unsigned position);
  void OnTaskbarButtonCreated();
  void ApplyTaskbar();
  void ShowStepLine(unsigned step, unsigned detail);
  void Announce();
  void MakeLiveRegion();
  static unsigned __stdcall RunThread(void* dialog);
  static void ReportStep(void* dialog, unsigned step, unsigned detail);

  HICON m_hMainIcon;
  RunGate m_run;
  pf::ScopedHandle m_runThread;
  // What a run leaves: filled by the run's thread, read here only after its end.
  RunRecord m_record;
  // The taskbar button's progress (Windows 7 on), made once the shell says the button is there.
  ITaskbarList3* m_taskbar = nullptr;
  UINT m_taskbarButtonCreated = 0;
  // What the taskbar button shows (TBPF_*, and the bar's position), given again
  // to the button Explorer makes when it restarts.
  unsigned m_taskbarState = 0;
  unsigned m_taskbarValue = 0;
  bool m_comReady = false;
  // The step the line shows (kRunStepCount: none) and its detail.
  unsigned m_lineStep = kRunStepCount;
  unsigned m_lineDetail = 0;
  // From Windows 8 on the line is a polite live region, each new step announced.
  AccPropServices* m_liveRegion = nullptr;
  void(__stdcall* m_notifyWinEvent)(DWORD event, HWND hwnd, LONG object, LONG child) = nullptr;
};
