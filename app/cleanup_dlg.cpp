#include "app/cleanup_dlg.h"

#include <commctrl.h>
#include <objbase.h>
#include <process.h>
#include <shobjidl.h>

#include "app/about_box.h"
#include "app/resource.h"
#include "app/ui_logic.h"
#include "engine/removal.h"
#include "i18n/texts.h"
#include "platform/window.h"

namespace {
// Posted by the run's thread as its last act: its thread id, the RunResult (PackResult).
constexpr UINT kRunEnded = WM_APP + 1;
// Posted by the run's thread as it goes: the step, its detail (RunProgress).
constexpr UINT kRunStep = WM_APP + 2;
LPARAM PackResult(RunResult r) {
  return static_cast<LPARAM>(r.outcome) | static_cast<LPARAM>(r.restart) << 8 | static_cast<LPARAM>(r.stays) << 16;
}
RunResult UnpackResult(LPARAM p) {
  return {static_cast<RunOutcome>(p & 0xFF), static_cast<RestartNeed>((p >> 8) & 0xFF),
          static_cast<WhatStays>((p >> 16) & 0xFF)};
}
const GUID kTaskbarListClass = {0x56FDF344, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
const GUID kTaskbarList3 = {0xEA1AFB91, 0x9E28, 0x4B86, {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};
constexpr WORD kAppStartingCursor = 32650;  // IDC_APPSTARTING: busy, and answering
constexpr UINT kSetBarState = WM_USER + 16;     // PBM_SETSTATE (comctl32 6, Vista on; ignored before)
constexpr unsigned kBarNormal = 1;              // PBST_NORMAL
constexpr DWORD kLiveRegionChanged = 0x8019;    // EVENT_OBJECT_LIVEREGIONCHANGED
const GUID kAccPropServicesClass = {0xB5F8350B, 0x0548, 0x48B1, {0xA6, 0xEE, 0x88, 0xBD, 0x00, 0xB4, 0xA5, 0xE7}};
const GUID kAccPropServicesId = {0x6E26E776, 0x04F0, 0x495D, {0x80, 0xE4, 0x33, 0x30, 0x35, 0x2E, 0x31, 0x69}};
const GUID kLiveSettingProperty = {0xC12BCD8E, 0x2A8E, 0x4950, {0x8A, 0xE7, 0x36, 0x25, 0x11, 0x1D, 0x58, 0xEB}};

// Lets the window under the mouse, when it is the dialog or one of its
// controls, choose the cursor again at once rather than at the next move.
void RefreshCursor(HWND dialog) {
  POINT point;
  if (!GetCursorPos(&point)) return;
  HWND under = WindowFromPoint(point);
  if (under != dialog && !IsChild(dialog, under)) return;
  const LRESULT hit = SendMessageA(under, WM_NCHITTEST, 0, MAKELPARAM(point.x, point.y));
  SendMessageA(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under), MAKELPARAM(hit, WM_MOUSEMOVE));
}
}  // namespace

// IAccPropServices (oleacc.h) up to the last method called, in its vtable order.
struct AccPropServices : IUnknown {
  virtual HRESULT __stdcall SetPropValue(const BYTE*, DWORD, GUID, VARIANT) = 0;
  virtual HRESULT __stdcall SetPropServer(const BYTE*, DWORD, const GUID*, int, IUnknown*, int) = 0;
  virtual HRESULT __stdcall ClearProps(const BYTE*, DWORD, const GUID*, int) = 0;
  virtual HRESULT __stdcall SetHwndProp(HWND, DWORD, DWORD, GUID, VARIANT) = 0;
  virtual HRESULT __stdcall SetHwndPropStr(HWND, DWORD, DWORD, GUID, const wchar_t*) = 0;
  virtual HRESULT __stdcall SetHwndPropServer(HWND, DWORD, DWORD, const GUID*, int, IUnknown*, int) = 0;
  virtual HRESULT __stdcall ClearHwndProps(HWND, DWORD, DWORD, const GUID*, int) = 0;
};

CCleanupDlg::CCleanupDlg(HWND parent)
    : CDialog(IDD_CLEANUP, parent),
      m_hMainIcon(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_MAIN))) {}

BOOL CCleanupDlg::OnInitDialog() {
  HMENU systemMenu = GetSystemMenu(m_hWnd, FALSE);
  if (systemMenu != nullptr) {
    // Loaded as Unicode so the entry reads the same on every NT system.
    if (UsesAnsiWindowCalls()) {
      char text[64] = {};
      if (LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUT_MENU, text, 64) > 0) {
        AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(systemMenu, MF_STRING, IDM_ABOUT, text);
      }
    } else {
      wchar_t text[64] = {};
      if (LoadStringW(GetModuleHandleA(nullptr), IDS_ABOUT_MENU, text, 64) > 0) {
        AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(systemMenu, MF_STRING, IDM_ABOUT, text);
      }
    }
  }
  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hMainIcon));
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hMainIcon));
  pf::SetWindowTextInCodePage(m_hWnd, MainWindowTitle, kFixedTextsCodePage);
  SetPropA(m_hWnd, kMainDialogMark, reinterpret_cast<HANDLE>(1));
  SendMessageA(GetDlgItem(m_hWnd, IDC_RUN_PROGRESS), PBM_SETRANGE32, 0, RunProgressBefore(kRunStepCount));
  // The taskbar's progress is COM on this thread; the shell names the button
  // with a registered message, which reaches the elevated dialog only when let through.
  m_comReady = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE) >= 0;
  m_taskbarButtonCreated = RegisterWindowMessageA("TaskbarButtonCreated");
  if (m_taskbarButtonCreated != 0) pf::AllowMessageThrough(m_hWnd, m_taskbarButtonCreated);
  MakeLiveRegion();
  return TRUE;  // focus to the first tab stop, "卸载旧版本"
}

bool CCleanupDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR* result) {
  if (msg == m_taskbarButtonCreated && msg != 0) {
    OnTaskbarButtonCreated();
    return true;
  }
  switch (msg) {
    case WM_SYSCOMMAND: {
      bool handled = false;
      OnSysCommand(static_cast<UINT>(wParam), lParam, result, &handled);
      return handled;
    }
    case WM_PAINT:
      return OnPaint();
    case WM_QUERYDRAGICON:
      *result = reinterpret_cast<INT_PTR>(OnQueryDragIcon());
      return true;
    case WM_SETCURSOR:
      if (!m_run.WantsWaitCursor(static_cast<short>(LOWORD(lParam)))) break;
      SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(kAppStartingCursor)));
      *result = TRUE;
      return true;
    case WM_DESTROY:
      RemovePropA(m_hWnd, kMainDialogMark);  // a window must leave with no property of its own left
      if (m_runThread.IsValid()) WaitForSingleObject(m_runThread.Get(), 5000);  // only ever an ended run's
      if (m_taskbar != nullptr) m_taskbar->Release();
      m_taskbar = nullptr;
      if (m_liveRegion != nullptr) {  // the line is still there: its children go after the dialog hears this
        m_liveRegion->ClearHwndProps(GetDlgItem(m_hWnd, IDC_RUN_STEP), static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                     &kLiveSettingProperty, 1);
        m_liveRegion->Release();
      }
      m_liveRegion = nullptr;
      if (m_comReady) CoUninitialize();
      m_comReady = false;
      break;
    case kRunEnded:
      OnRunEnded(static_cast<unsigned>(wParam), UnpackResult(lParam));
      return true;
    case kRunStep:
      OnRunStep(static_cast<unsigned>(wParam), static_cast<unsigned>(lParam));
      return true;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK && HIWORD(wParam) == BN_CLICKED) {
        RemoveAllEditions();
        *result = TRUE;
        return true;
      }
      break;
    default:
      break;
  }
  return CDialog::OnMessage(msg, wParam, lParam, result);
}

void CCleanupDlg::OnSysCommand(UINT id, LPARAM, INT_PTR* result, bool* handled) {
  if (!IsAboutCommand(id)) return;  // default processing: move, close...
  *result = TRUE;
  *handled = true;
  if (!m_run.AboutAllowed()) return;
  CAboutBox about(m_hWnd);
  about.DoModal();
}

// "取消", Esc, Alt+F4 and the close box.
// During a run the line says from then on that the run's end closes the window.
void CCleanupDlg::OnCancel() {
  const bool told = m_run.ClosePending();
  if (m_run.RequestClose()) {
    CDialog::OnCancel();
    return;
  }
  if (told) return;
  ShowStepLine(m_lineStep, m_lineDetail);
  Announce();
}

bool CCleanupDlg::OnPaint() {
  if (!IsIconic(m_hWnd)) return false;
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(m_hWnd, &ps);
  SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  const int cxIcon = GetSystemMetrics(SM_CXICON);
  const int cyIcon = GetSystemMetrics(SM_CYICON);
  RECT rect;
  GetClientRect(m_hWnd, &rect);
  const int x = CentredIconOrigin(rect.right - rect.left, cxIcon);
  const int y = CentredIconOrigin(rect.bottom - rect.top, cyIcon);
  DrawIcon(dc, x, y, m_hMainIcon);
  EndPaint(m_hWnd, &ps);
  return true;
}

void CCleanupDlg::RemoveAllEditions() {
  // A click or Enter that still reaches the dialog during a run must not
  // start another run beside the running one.
  if (!m_run.Start(GetCurrentThreadId())) return;
  ShowRunning(true);
  SetProgress(0);
  SendMessageA(GetDlgItem(m_hWnd, IDC_RUN_PROGRESS), kSetBarState, kBarNormal, 0);
  m_lineStep = kRunStepCount;
  SetWindowTextA(GetDlgItem(m_hWnd, IDC_RUN_STEP), "");
  ShowProgress(true);
  RefreshCursor(m_hWnd);
  unsigned runner = 0;
  *m_runThread.Receive() =
      reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &CCleanupDlg::RunThread, this, 0, &runner));
  if (m_runThread.IsValid()) {
    m_run.SetRunner(runner);  // its end message is read on this thread, after this
    return;
  }
  // No thread to be had: the run holds the dialog, as it always could.
  OnRunEnded(GetCurrentThreadId(), ::RunRemoval(&m_record));
}

// On the run's thread: posted, never sent, so the run never waits on the dialog.
void CCleanupDlg::ReportStep(void* dialog, unsigned step, unsigned detail) {
  PostMessageA(static_cast<HWND>(dialog), kRunStep, step, static_cast<LPARAM>(detail));
}

unsigned __stdcall CCleanupDlg::RunThread(void* dialog) {
  CCleanupDlg* self = static_cast<CCleanupDlg*>(dialog);
  HWND hwnd = self->m_hWnd;
  const RunProgress progress = {&CCleanupDlg::ReportStep, hwnd};
  // The record is the run's until its end message; the dialog reads it after.
  const RunResult result = ::RunRemoval(&self->m_record, &progress);  // its browser prompts are this thread's windows
  // The dialog cannot end before it hears this, so the window is still there.
  while (!PostMessageA(hwnd, kRunEnded, GetCurrentThreadId(), PackResult(result)) && IsWindow(hwnd)) Sleep(50);
  return 0;
}

void CCleanupDlg::OnRunStep(unsigned step, unsigned detail) {
  if (!m_run.Running()) return;
  SetProgress(RunProgressBefore(step));
  const bool newStep = step != m_lineStep;
  ShowStepLine(step, detail);
  if (newStep) Announce();  // not each second of a wait
}

void CCleanupDlg::ShowStepLine(unsigned step, unsigned detail) {
  m_lineStep = step;
  m_lineDetail = detail;
  char line[160];
  ComposeRunStepLine(line, sizeof line, step, detail, m_run.ClosePending());
  pf::SetWindowTextInCodePage(GetDlgItem(m_hWnd, IDC_RUN_STEP), line, kFixedTextsCodePage);
}

// Before Windows 8 the line's name change, which the system raises, is all.
void CCleanupDlg::Announce() {
  if (m_liveRegion == nullptr || m_notifyWinEvent == nullptr) return;
  m_notifyWinEvent(kLiveRegionChanged, GetDlgItem(m_hWnd, IDC_RUN_STEP), OBJID_CLIENT, CHILDID_SELF);
}

// On this thread, where COM is ready; the notification looked up at run time.
void CCleanupDlg::MakeLiveRegion() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (!m_comReady || !GetVersionExA(&version) ||
      !HasLiveRegions(version.dwPlatformId, version.dwMajorVersion, version.dwMinorVersion))
    return;
  m_notifyWinEvent = reinterpret_cast<decltype(m_notifyWinEvent)>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "NotifyWinEvent")));
  void* services = nullptr;
  if (m_notifyWinEvent == nullptr ||
      CoCreateInstance(kAccPropServicesClass, nullptr, CLSCTX_INPROC_SERVER, kAccPropServicesId, &services) < 0)
    return;
  m_liveRegion = static_cast<AccPropServices*>(services);
  VARIANT polite = {};
  polite.vt = VT_I4;
  polite.lVal = 1;  // LiveSetting Polite
  if (m_liveRegion->SetHwndProp(GetDlgItem(m_hWnd, IDC_RUN_STEP), static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                kLiveSettingProperty, polite) >= 0)
    return;
  m_liveRegion->Release();
  m_liveRegion = nullptr;
}

// The bar and the line below the instruction, and the taskbar button's progress.
void CCleanupDlg::ShowProgress(bool shown) {
  const UINT flags =
      SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | (shown ? SWP_SHOWWINDOW : SWP_HIDEWINDOW);
  for (int id = IDC_RUN_PROGRESS; id <= IDC_RUN_STEP; ++id)
    SetWindowPos(GetDlgItem(m_hWnd, id), nullptr, 0, 0, 0, 0, flags);
  m_taskbarState = shown ? TBPF_NORMAL : TBPF_NOPROGRESS;
  if (m_taskbar != nullptr) m_taskbar->SetProgressState(m_hWnd, static_cast<TBPFLAG>(m_taskbarState));
}

void CCleanupDlg::SetProgress(unsigned position) {
  SendMessageA(GetDlgItem(m_hWnd, IDC_RUN_PROGRESS), PBM_SETPOS, position, 0);
  m_taskbarValue = position;
  if (m_taskbar != nullptr) m_taskbar->SetProgressValue(m_hWnd, position, RunProgressBefore(kRunStepCount));
}

// Each time the shell makes the button, also again after Explorer restarted:
// a new list, given what the button shows now. Before Windows 7, nothing.
void CCleanupDlg::OnTaskbarButtonCreated() {
  if (!m_comReady) return;
  if (m_taskbar != nullptr) m_taskbar->Release();
  m_taskbar = nullptr;
  void* list = nullptr;
  if (CoCreateInstance(kTaskbarListClass, nullptr, CLSCTX_INPROC_SERVER, kTaskbarList3, &list) < 0) return;
  m_taskbar = static_cast<ITaskbarList3*>(list);
  if (m_taskbar->HrInit() >= 0) {
    ApplyTaskbar();
    return;
  }
  m_taskbar->Release();
  m_taskbar = nullptr;
}

void CCleanupDlg::ApplyTaskbar() {
  if (m_taskbar == nullptr || m_taskbarState == TBPF_NOPROGRESS) return;
  m_taskbar->SetProgressState(m_hWnd, static_cast<TBPFLAG>(m_taskbarState));
  m_taskbar->SetProgressValue(m_hWnd, m_taskbarValue, RunProgressBefore(kRunStepCount));
}

// The main button cannot be pressed during a run, and the keyboard is left
// on "取消" rather than on a disabled button: focus first, then disable.
void CCleanupDlg::ShowRunning(bool running) {
  HWND button = GetDlgItem(m_hWnd, IDOK);
  if (running) {
    SendMessageA(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(m_hWnd, IDCANCEL)), TRUE);
    EnableWindow(button, FALSE);
  } else {
    EnableWindow(button, TRUE);
    SendMessageA(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE);
  }
}

void CCleanupDlg::OnRunEnded(unsigned sender, RunResult result) {
  const RunEnd end = m_run.Finish(sender);
  if (end == RunEnd::kIgnored) return;  // not the run's own end: nothing to wait for
  // The thread has posted its last act: its exit is not waited for here, where
  // the dialog would stop answering meanwhile, but when the dialog goes.
  ShowRunning(false);
  RefreshCursor(m_hWnd);
  // Full while the final box is read, paused or in error where something
  // stays or was refused, the line saying the run has ended; hidden once the
  // box is closed, at once after a stopped run.
  if (result.outcome != RunOutcome::kStopped) {
    SetProgress(RunProgressBefore(kRunStepCount));
    const RunEndLook look = EndLookOf(result);
    SendMessageA(GetDlgItem(m_hWnd, IDC_RUN_PROGRESS), kSetBarState, look.barState, 0);
    m_taskbarState = look.taskbarState;
    ApplyTaskbar();
    m_lineStep = kRunStepCount;
    pf::SetWindowTextInCodePage(GetDlgItem(m_hWnd, IDC_RUN_STEP), RunEndedText, kFixedTextsCodePage);
    Announce();
  }
  ShowRunOutcome(m_hWnd, result, m_record);  // the final box belongs to this thread, like its owner
  ShowProgress(false);
  if (end == RunEnd::kEndedClose) CDialog::OnCancel();
}
