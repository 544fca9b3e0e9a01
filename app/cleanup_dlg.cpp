#include "app/cleanup_dlg.h"

#include "app/about_box.h"
#include "app/resource.h"
#include "app/ui_logic.h"
#include "engine/removal.h"
#include "i18n/texts.h"

CCleanupDlg::CCleanupDlg(HWND parent)
    : CDialog(IDD_CLEANUP, parent),
      m_hMainIcon(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_MAIN))) {}

BOOL CCleanupDlg::OnInitDialog() {
  HMENU systemMenu = GetSystemMenu(m_hWnd, FALSE);
  if (systemMenu != nullptr) {
    // Loaded as Unicode so the entry reads the same on every system.
    wchar_t text[64] = {};
    if (LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUT_MENU, text, 64) > 0) {
      AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
      AppendMenuW(systemMenu, MF_STRING, IDM_ABOUT, text);
    }
  }
  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hMainIcon));
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hMainIcon));
  SetWindowTextA(m_hWnd, MainWindowTitle);
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
  CAboutBox about(m_hWnd);
  about.DoModal();
  *result = TRUE;
  *handled = true;
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
  // The browser prompt has no owner, so the dialog stays enabled under it: a
  // second click must not start a run inside the running one.
  if (m_running) return;
  m_running = true;
  HCURSOR previous = SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
  ::RemoveAllEditions(m_hWnd);
  SetCursor(previous);
  m_running = false;
}
