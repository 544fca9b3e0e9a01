#include "app/cleanup_dlg.h"

#include <process.h>

#include "app/about_box.h"
#include "app/resource.h"
#include "app/ui_logic.h"
#include "engine/removal.h"
#include "i18n/texts.h"
#include "platform/window.h"

namespace {
// Posted by the run's thread as its last act: its thread id, the RunOutcome.
constexpr UINT kRunEnded = WM_APP + 1;
constexpr WORD kAppStartingCursor = 32650;  // IDC_APPSTARTING: busy, and answering

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
  return TRUE;  // focus to the first tab stop, "卸载旧版本"
}

bool CCleanupDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR* result) {
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
      break;
    case kRunEnded:
      OnRunEnded(static_cast<unsigned>(wParam), static_cast<RunOutcome>(lParam));
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
void CCleanupDlg::OnCancel() {
  if (m_run.RequestClose()) CDialog::OnCancel();
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
  RefreshCursor(m_hWnd);
  unsigned runner = 0;
  *m_runThread.Receive() =
      reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &CCleanupDlg::RunThread, this, 0, &runner));
  if (m_runThread.IsValid()) {
    m_run.SetRunner(runner);  // its end message is read on this thread, after this
    return;
  }
  // No thread to be had: the run holds the dialog, as it always could.
  OnRunEnded(GetCurrentThreadId(), ::RunRemoval());
}

unsigned __stdcall CCleanupDlg::RunThread(void* dialog) {
  HWND hwnd = static_cast<CCleanupDlg*>(dialog)->m_hWnd;
  const RunOutcome outcome = ::RunRemoval();  // its browser prompts are this thread's windows
  // The dialog cannot end before it hears this, so the window is still there.
  while (!PostMessageA(hwnd, kRunEnded, GetCurrentThreadId(), static_cast<LPARAM>(outcome)) && IsWindow(hwnd))
    Sleep(50);
  return 0;
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

void CCleanupDlg::OnRunEnded(unsigned sender, RunOutcome outcome) {
  const RunEnd end = m_run.Finish(sender);
  if (end == RunEnd::kIgnored) return;  // not the run's own end: nothing to wait for
  // The thread has posted its last act: its exit is not waited for here, where
  // the dialog would stop answering meanwhile, but when the dialog goes.
  ShowRunning(false);
  RefreshCursor(m_hWnd);
  ShowRunOutcome(m_hWnd, outcome);  // the final box belongs to this thread, like its owner
  if (end == RunEnd::kEndedClose) CDialog::OnCancel();
}
