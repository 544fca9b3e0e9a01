// Drives Brannoch.exe like a user under Wine and writes what it saw to a log:
//   driver folders <log>                      the machine's folders and language
//   driver run <exe> <log> [--ready F --go F] [--probe] [--about] [--during A,B...] answer...
//   driver startup <exe> <log>                time until the dialog is shown, and the
//                                             processor time the program took to it
//   driver regcheck <log> KEY[|VALUE]...      which HKLM keys and values exist,
//                                             the processes and the pending
//                                             restart operations
//   driver deny <log> KEY                     leave HKLM\KEY readable only
//   driver cut <exe> <log> FILE TEXT          click the main button, wait until
//                                             FILE holds TEXT, probe the dialog
//                                             with WM_NULL, then end the program
//                                             as Task Manager does
// Answers are taken by the message boxes in order: yes, no, ok,
// kill:NAME+yes (end the processes of that name first, then Yes), or
// click+ANSWER (click the main button again first, which must do nothing).
// Every run measures the main dialog's texts against their controls (fit
// lines); --about the About box's too.
// --probe: another thread sends the dialog WM_NULL every 20 ms from the click
// to the end of the run and logs the longest wait for an answer.
// --ready/--go: the harness takes pictures. At each stage (idle before the
// click, run for the shot action, boxN before answering the Nth box) the
// driver writes the stage's name to the ready file and waits for the go file.
// --during: once uninst.exe runs, acts on the main dialog: cursor (sample the
// cursor over the main button then, before the click and after the run),
// click, about, esc, close (the close box), altf4, cancel, second (start the
// exe again), progress (the bar and the step line, now and 3.5 s later), line
// (the bar and the line once), shot (a picture 4 s in); then logs
// whether the dialog is still there and whether another
// window of it appeared. Window texts are logged as hex of their Unicode's UTF-8.
// Each box logs the bar and the line behind it (at-box); from the click to the
// run's end an out-of-context event hook counts the line's events (events).
#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "deny_key.h"

namespace {
FILE* g_log = nullptr;

std::string Hex(const std::string& s) {
  std::string out;
  char b[3];
  for (unsigned char c : s) {
    std::snprintf(b, sizeof b, "%02X", c);
    out += b;
  }
  return out;
}

std::string Utf8(const wchar_t* w) {
  char buf[4096] = {};
  WideCharToMultiByte(CP_UTF8, 0, w, -1, buf, sizeof buf - 1, nullptr, nullptr);
  return buf;
}

std::string TextW(HWND h) {
  wchar_t buf[2048] = {};
  GetWindowTextW(h, buf, 2048);
  return Utf8(buf);
}

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return 1000.0 * c.QuadPart / f.QuadPart;
}

struct Find {
  DWORD pid;
  HWND exclude;
  HWND found;
};

BOOL CALLBACK EnumDialogs(HWND h, LPARAM lp) {
  Find* f = reinterpret_cast<Find*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  char cls[64] = {};
  GetClassNameA(h, cls, sizeof cls);
  if (pid == f->pid && h != f->exclude && IsWindowVisible(h) && std::strcmp(cls, "#32770") == 0) {
    f->found = h;
    return FALSE;
  }
  return TRUE;
}

HWND FindDialog(DWORD pid, HWND exclude) {
  Find f{pid, exclude, nullptr};
  EnumWindows(EnumDialogs, reinterpret_cast<LPARAM>(&f));
  return f.found;
}

bool Responsive(HWND h) {
  DWORD_PTR r;
  return SendMessageTimeoutA(h, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 200, &r) != 0;
}

void KillByName(const char* name) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 e;
  e.dwSize = sizeof e;
  for (BOOL ok = Process32First(snap, &e); ok; ok = Process32Next(snap, &e)) {
    if (lstrcmpiA(e.szExeFile, name) != 0) continue;
    HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, e.th32ProcessID);
    if (p) {
      TerminateProcess(p, 0);
      WaitForSingleObject(p, 5000);
      CloseHandle(p);
      std::fprintf(g_log, "killed %s\n", name);
    }
  }
  CloseHandle(snap);
}

bool Running(const char* name) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 e;
  e.dwSize = sizeof e;
  bool found = false;
  for (BOOL ok = Process32First(snap, &e); ok && !found; ok = Process32Next(snap, &e))
    found = lstrcmpiA(e.szExeFile, name) == 0;
  CloseHandle(snap);
  return found;
}

struct Probe {
  HWND dlg;
  volatile LONG stop;
  int count, late;
  double longest, longestAt, t0;
};

DWORD WINAPI ProbeThread(LPVOID arg) {
  Probe* p = static_cast<Probe*>(arg);
  while (!p->stop) {
    const double sent = Now();
    DWORD_PTR r;
    SendMessageTimeoutA(p->dlg, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &r);
    const double waited = Now() - sent;
    ++p->count;
    if (waited > 100.0) ++p->late;
    if (waited > p->longest) {
      p->longest = waited;
      p->longestAt = sent - p->t0;
    }
    const double next = sent + 20.0 - Now();
    if (next > 0) Sleep(static_cast<DWORD>(next));
  }
  return 0;
}

// The cursor shown with the mouse over the main button: the foreground
// thread's cursor, the dialog's.
HCURSOR CursorOverButton(HWND dlg) {
  RECT r;
  GetWindowRect(GetDlgItem(dlg, IDOK), &r);
  const int x = (r.left + r.right) / 2, y = (r.top + r.bottom) / 2;
  SetCursorPos(x + 3, y + 1);
  Sleep(60);
  SetCursorPos(x, y);
  Sleep(200);
  CURSORINFO ci = {};
  ci.cbSize = sizeof ci;
  GetCursorInfo(&ci);
  return ci.hCursor;
}

// The main button's state and the control that holds the dialog's focus (its id, 0 for none).
void LogButtonState(const char* when, HWND dlg) {
  GUITHREADINFO gui = {};
  gui.cbSize = sizeof gui;
  const bool known = GetGUIThreadInfo(GetWindowThreadProcessId(dlg, nullptr), &gui) != 0;
  std::fprintf(g_log, "%s ok-enabled=%d focus=%d\n", when, IsWindowEnabled(GetDlgItem(dlg, IDOK)) ? 1 : 0,
               known && gui.hwndFocus ? GetDlgCtrlID(gui.hwndFocus) : 0);
}

HANDLE Start(const char* exe, DWORD* pid);

// A second start with the dialog minimised: it must end by itself and bring the dialog back.
void StartSecond(HWND dlg, const char* exe) {
  ShowWindowAsync(dlg, SW_MINIMIZE);
  for (int i = 0; i < 40 && !IsIconic(dlg); ++i) Sleep(50);
  const int minimised = IsIconic(dlg) != 0;
  DWORD pid = 0, code = 1;
  HANDLE second = Start(exe, &pid);
  const int ended = second && WaitForSingleObject(second, 15000) == WAIT_OBJECT_0 && GetExitCodeProcess(second, &code);
  if (second) TerminateProcess(second, 1), CloseHandle(second);
  for (int i = 0; i < 40 && IsIconic(dlg); ++i) Sleep(50);
  std::fprintf(g_log, "second minimised=%d exited=%d code=%lu iconic=%d foreground=%d\n", minimised, ended, code,
               IsIconic(dlg) ? 1 : 0, GetForegroundWindow() == dlg);
}

void LogTextFit(HWND dlg, const char* which);

// The run's bar and step line (ids 1000, 1001) as the user sees them, after waitMs.
void LogProgress(HWND dlg, const char* word, DWORD waitMs) {
  for (int i = 0; i < (waitMs != 0 ? 2 : 1); ++i) {
    Sleep(i != 0 ? waitMs : 0);
    HWND bar = GetDlgItem(dlg, 1000), line = GetDlgItem(dlg, 1001);
    std::fprintf(g_log, "%s shown=%d pos=%d max=%d state=%d line=%s\n", word,
                 IsWindowVisible(bar) && IsWindowVisible(line),
                 static_cast<int>(SendMessageW(bar, 0x408 /* PBM_GETPOS */, 0, 0)),
                 static_cast<int>(SendMessageW(bar, 0x407 /* PBM_GETRANGE */, FALSE, 0)),
                 static_cast<int>(SendMessageW(bar, 0x411 /* PBM_GETSTATE */, 0, 0)), Hex(TextW(line)).c_str());
  }
}

// The step line's events, counted on a thread of their own (an out-of-context
// hook is called through that thread's messages).
struct LineEvents {
  HWND line;
  DWORD pid, thread;
  volatile LONG live, name, other;
  HANDLE ready;
};
LineEvents* g_events = nullptr;

void CALLBACK OnWinEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG, DWORD, DWORD) {
  if (hwnd != g_events->line) return;
  if (event == 0x8019 && object == OBJID_CLIENT) ++g_events->live;
  else if (event == EVENT_OBJECT_NAMECHANGE) ++g_events->name;
  else ++g_events->other;
}

DWORD WINAPI EventThread(LPVOID) {
  HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_CREATE, 0x8019, nullptr, OnWinEvent, g_events->pid, 0,
                                       WINEVENT_OUTOFCONTEXT);
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
  SetEvent(g_events->ready);
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  if (hook) UnhookWinEvent(hook);
  return hook != nullptr;
}

const char* g_ready = nullptr;
const char* g_go = nullptr;

// Holds the driver while the harness takes its picture of the stage.
void PauseFor(const std::string& stage) {
  if (!g_ready || !g_go) return;
  const std::string part = std::string(g_ready) + ".part";
  FILE* r = std::fopen(part.c_str(), "w");
  if (r) std::fputs(stage.c_str(), r), std::fclose(r);
  MoveFileExA(part.c_str(), g_ready, MOVEFILE_REPLACE_EXISTING);
  for (int i = 0; i < 600 && GetFileAttributesA(g_go) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
  DeleteFileA(g_go);
}

void ActDuringRun(HWND dlg, DWORD pid, const char* exe, const std::string& actions, HCURSOR* during) {
  LogButtonState("during-state", dlg);
  size_t from = 0;
  while (from <= actions.size()) {
    const size_t comma = actions.find(',', from);
    const std::string a = actions.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    from = comma == std::string::npos ? actions.size() + 1 : comma + 1;
    HWND ok = GetDlgItem(dlg, IDOK);
    if (a == "cursor") *during = CursorOverButton(dlg);
    else if (a == "click") PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
    else if (a == "about") PostMessageA(dlg, WM_SYSCOMMAND, 0x0010, 0);
    else if (a == "esc") {
      PostMessageA(ok, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
      PostMessageA(ok, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    } else if (a == "close") PostMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
    else if (a == "altf4") PostMessageA(dlg, WM_SYSKEYDOWN, VK_F4, 0x203E0001);
    else if (a == "cancel") PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                                         reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDCANCEL)));
    else if (a == "second") StartSecond(dlg, exe);
    else if (a == "progress") LogProgress(dlg, "progress", 3500), LogTextFit(dlg, "during");
    else if (a == "line") LogProgress(dlg, "line", 0), LogTextFit(dlg, "during");
    else if (a == "shot") Sleep(4000), PauseFor("run");
    else std::fprintf(g_log, "error unknown action %s\n", a.c_str());
    Sleep(150);
  }
  Sleep(500);
  std::fprintf(g_log, "during-run actions=%s dialog=%d other-window=%d uninstaller-still-running=%d\n",
               actions.c_str(), IsWindow(dlg) && IsWindowVisible(dlg), FindDialog(pid, dlg) != nullptr,
               Running("uninst.exe"));
  std::fflush(g_log);
}

// Each control's text, measured with the dialogs' font (9-point 宋体 from the
// templates, which the resource check holds them to) at the screen's DPI,
// against its client rectangle: a button's on one line inside its edges, a
// static's wrapped as the control draws it.
void LogTextFit(HWND dlg, const char* which) {
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  HFONT font = CreateFontW(-MulDiv(9, dpi, 72), 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0,
                           L"\x5B8B\x4F53");
  HGDIOBJ old = SelectObject(dc, font);
  std::fprintf(g_log, "fit-dpi %s dpi=%d\n", which, dpi);
  for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    wchar_t text[512] = {};
    char cls[16] = {};
    GetClassNameA(c, cls, sizeof cls);
    const LONG style = GetWindowLongW(c, GWL_STYLE);
    const bool button = lstrcmpiA(cls, "Button") == 0;
    if (GetWindowTextW(c, text, 512) == 0 || (!button && (style & SS_TYPEMASK) == SS_ICON)) continue;
    RECT room;
    GetClientRect(c, &room);
    if (button) InflateRect(&room, -2 * GetSystemMetrics(SM_CXEDGE), -2 * GetSystemMetrics(SM_CYEDGE));
    RECT need = {0, 0, room.right - room.left, 0};
    DrawTextW(dc, text, -1, &need,
              DT_CALCRECT | (button ? DT_SINGLELINE : DT_WORDBREAK | DT_EXPANDTABS | (style & SS_NOPREFIX ? DT_NOPREFIX : 0)));
    const LONG w = room.right - room.left, h = room.bottom - room.top;
    std::fprintf(g_log, "fit %s id=%d need=%ldx%ld room=%ldx%ld ok=%d text=%s\n", which, GetDlgCtrlID(c), need.right,
                 need.bottom, w, h, need.right <= w && need.bottom <= h, Utf8(text).c_str());
  }
  SelectObject(dc, old);
  DeleteObject(font);
  ReleaseDC(nullptr, dc);
}

// Opens the About box from the system menu, measures it, closes it.
void LogAboutFit(HWND dlg, DWORD pid) {
  PostMessageA(dlg, WM_SYSCOMMAND, 0x0010, 0);
  HWND about = nullptr;
  for (int i = 0; i < 100 && !(about = FindDialog(pid, dlg)); ++i) Sleep(50);
  if (!about) {
    std::fprintf(g_log, "error no About box\n");
    return;
  }
  LogTextFit(about, "about");
  PostMessageA(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  for (int i = 0; i < 100 && IsWindow(about); ++i) Sleep(50);
}

HANDLE Start(const char* exe, DWORD* pid) {
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::string cmd = std::string("\"") + exe + "\"";
  if (!CreateProcessA(exe, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return nullptr;
  CloseHandle(pi.hThread);
  *pid = pi.dwProcessId;
  return pi.hProcess;
}

HWND WaitForDialog(DWORD pid, HANDLE process, double timeoutMs) {
  const double t0 = Now();
  while (Now() - t0 < timeoutMs) {
    HWND d = FindDialog(pid, nullptr);
    if (d) return d;
    if (WaitForSingleObject(process, 10) == WAIT_OBJECT_0) return nullptr;
  }
  return nullptr;
}

int Folders() {
  const int ids[] = {CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_PROGRAM_FILES};
  for (int id : ids) {
    wchar_t w[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, w, id, FALSE);
    std::fprintf(g_log, "csidl%d=%s\n", id, Utf8(w).c_str());
  }
  wchar_t w[MAX_PATH] = {};
  GetSystemDirectoryW(w, MAX_PATH);
  std::fprintf(g_log, "system=%s\n", Utf8(w).c_str());
  GetWindowsDirectoryW(w, MAX_PATH);
  std::fprintf(g_log, "windows=%s\n", Utf8(w).c_str());
  GetTempPathW(MAX_PATH, w);
  std::fprintf(g_log, "temp=%s\n", Utf8(w).c_str());
  std::fprintf(g_log, "acp=%u\nlangid=%04X\n", GetACP(), GetSystemDefaultLangID());
  return 0;
}

int Startup(const char* exe) {
  DWORD pid = 0;
  const double t0 = Now();
  HANDLE p = Start(exe, &pid);
  if (!p) return 2;
  HWND d = WaitForDialog(pid, p, 30000);
  const double t1 = Now();
  // and the processor time the program's process took to get there
  FILETIME created, exited, kernel, user;
  GetProcessTimes(p, &created, &exited, &kernel, &user);
  const double cpu = (static_cast<double>(kernel.dwLowDateTime) + user.dwLowDateTime +
                      4294967296.0 * (static_cast<double>(kernel.dwHighDateTime) + user.dwHighDateTime)) / 1e4;
  std::fprintf(g_log, "startup_ms=%.1f cpu_ms=%.1f\n", t1 - t0, cpu);
  if (d) PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  WaitForSingleObject(p, 10000);
  CloseHandle(p);
  return d ? 0 : 3;
}

int Run(const char* exe, const char* ready, const char* go, bool probe, bool about, const std::string& during,
        std::vector<std::string> answers) {
  DWORD pid = 0;
  const double t0 = Now();
  HANDLE p = Start(exe, &pid);
  if (!p) {
    std::fprintf(g_log, "error cannot start %s: %lu\n", exe, GetLastError());
    return 2;
  }
  HWND dlg = WaitForDialog(pid, p, 30000);
  if (!dlg) {
    std::fprintf(g_log, "error no dialog\n");
    return 3;
  }
  const double tDialog = Now();
  std::fprintf(g_log, "dialog title=%s\n", Hex(TextW(dlg)).c_str());
  std::fprintf(g_log, "dialog ok=%s cancel=%s\n", TextW(GetDlgItem(dlg, IDOK)).c_str(),
               TextW(GetDlgItem(dlg, IDCANCEL)).c_str());
  std::fprintf(g_log, "dialog unicode=%d\n", IsWindowUnicode(dlg) ? 1 : 0);
  LogTextFit(dlg, "main");
  if (about) LogAboutFit(dlg, pid);
  std::fflush(g_log);
  g_ready = ready;
  g_go = go;
  PauseFor("idle");
  const bool cursor = during.find("cursor") != std::string::npos;
  HCURSOR cursorBefore = cursor ? CursorOverButton(dlg) : nullptr, cursorDuring = nullptr;
  const double tClick = Now();
  Probe prober = {dlg, 0, 0, 0, 0.0, 0.0, tClick};
  HANDLE probeThread = probe ? CreateThread(nullptr, 0, ProbeThread, &prober, 0, nullptr) : nullptr;
  LineEvents events = {GetDlgItem(dlg, 1001), pid, 0, 0, 0, 0, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  g_events = &events;
  HANDLE eventThread = CreateThread(nullptr, 0, EventThread, nullptr, 0, &events.thread);
  WaitForSingleObject(events.ready, 5000);
  PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK)));
  size_t next = 0;
  int quiet = 0, boxes = 0;
  bool ok = true, acted = during.empty(), closed = false;
  double tDone = 0;
  while (Now() - tClick < 180000) {
    if (!IsWindow(dlg)) {
      closed = true;
      tDone = Now();
      break;
    }
    if (!acted && Running("uninst.exe")) {
      ActDuringRun(dlg, pid, exe, during, &cursorDuring);
      acted = true;
      continue;
    }
    HWND box = FindDialog(pid, dlg);
    if (box) {
      quiet = 0;
      HWND owner = GetWindow(box, GW_OWNER);
      std::fprintf(g_log, "box at_ms=%.1f caption=%s text=%s owner=%s yes=%d no=%d okbtn=%d\n", Now() - tClick,
                   Hex(TextW(box)).c_str(), Hex(TextW(GetDlgItem(box, 0xFFFF))).c_str(),
                   owner == dlg ? "main" : owner ? "other" : "none", GetDlgItem(box, IDYES) != nullptr,
                   GetDlgItem(box, IDNO) != nullptr, GetDlgItem(box, IDOK) != nullptr);
      LogProgress(dlg, "at-box", 0);
      PauseFor("box" + std::to_string(++boxes));
      std::string answer = next < answers.size() ? answers[next++] : "unexpected";
      int id = IDOK;
      if (answer.rfind("click+", 0) == 0) {
        // A second click on the main button while the box is open must not
        // start a run inside the running one.
        PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK)));
        Sleep(700);
        HWND other = FindDialog(pid, dlg);
        std::fprintf(g_log, "second click: %s\n", other == box ? "ignored" : "started something");
        if (other != box) ok = false;
        answer = answer.substr(6);
      }
      if (answer.rfind("kill:", 0) == 0) {
        const size_t plus = answer.find('+');
        KillByName(answer.substr(5, plus - 5).c_str());
        answer = answer.substr(plus + 1);
      }
      if (answer == "yes") id = IDYES;
      else if (answer == "no") id = IDNO;
      else if (answer == "ok") id = IDOK;
      else {
        ok = false;
        id = GetDlgItem(box, IDNO) ? IDNO : IDOK;
      }
      std::fprintf(g_log, "answer %s\n", answer.c_str());
      std::fflush(g_log);
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
      for (int i = 0; i < 200 && IsWindow(box) && IsWindowVisible(box); ++i) Sleep(20);
      continue;
    }
    if (next >= answers.size() && Responsive(dlg)) {
      if (++quiet >= 3) {
        tDone = Now();
        break;
      }
    } else {
      quiet = 0;
    }
    Sleep(100);
  }
  // Asked to close during the run, the dialog ends when the run has ended.
  const bool closeAsked = during.find("esc") != std::string::npos || during.find("close") != std::string::npos ||
                          during.find("altf4") != std::string::npos || during.find("cancel") != std::string::npos;
  for (int i = 0; closeAsked && !closed && i < 100; ++i) {
    closed = !IsWindow(dlg);
    if (!closed) Sleep(50);
  }
  if (probeThread) {
    prober.stop = 1;
    WaitForSingleObject(probeThread, INFINITE);
    CloseHandle(probeThread);
    std::fprintf(g_log, "probe count=%d late=%d longest_ms=%.1f at_ms=%.0f\n", prober.count, prober.late,
                 prober.longest, prober.longestAt);
  }
  PostThreadMessageW(events.thread, WM_QUIT, 0, 0);
  DWORD hooked = 0;
  WaitForSingleObject(eventThread, 5000);
  GetExitCodeThread(eventThread, &hooked);
  CloseHandle(eventThread);
  CloseHandle(events.ready);
  std::fprintf(g_log, "events hooked=%lu live=%ld name=%ld other=%ld\n", hooked, events.live, events.name,
               events.other);
  if (tDone == 0) {
    std::fprintf(g_log, "error run did not end\n");
    ok = false;
  }
  if (!acted) std::fprintf(g_log, "error uninst.exe never seen running\n");
  std::fprintf(g_log, "time dialog_ms=%.1f run_ms=%.1f\n", tDialog - t0, tDone - tClick - 200.0);
  if (cursor && !closed) {
    const HCURSOR after = CursorOverButton(dlg);
    std::fprintf(g_log, "cursor before=%p during=%p after=%p\n", static_cast<void*>(cursorBefore),
                 static_cast<void*>(cursorDuring), static_cast<void*>(after));
  }
  if (!closed) std::fprintf(g_log, "dialog enabled=%d\n", IsWindowEnabled(dlg) ? 1 : 0);
  if (!closed) LogProgress(dlg, "progress-after", 0);
  if (!closed) LogButtonState("after-run", dlg);
  if (closed) std::fprintf(g_log, "dialog closed by itself after the run\n");
  else PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  if (WaitForSingleObject(p, 15000) != WAIT_OBJECT_0) {
    std::fprintf(g_log, "error did not exit\n");
    TerminateProcess(p, 1);
    ok = false;
  } else {
    std::fprintf(g_log, "exited\n");
  }
  CloseHandle(p);
  return ok ? 0 : 1;
}
bool FileHolds(const char* path, const char* text) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::string data;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) data.append(buf, n);
  std::fclose(f);
  return data.find(text) != std::string::npos;
}

int Cut(const char* exe, const char* watch, const char* text) {
  DWORD pid = 0;
  HANDLE p = Start(exe, &pid);
  HWND dlg = p ? WaitForDialog(pid, p, 30000) : nullptr;
  if (!dlg) {
    std::fprintf(g_log, "error no dialog\n");
    return 3;
  }
  PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK)));
  const double t0 = Now();
  while (!FileHolds(watch, text) && Now() - t0 < 120000) Sleep(50);
  if (!FileHolds(watch, text)) {
    std::fprintf(g_log, "error %s never appeared\n", text);
    TerminateProcess(p, 1);
    return 4;
  }
  Sleep(500);
  // Another program asking the window: answered within 100 ms while the
  // uninstaller runs, or not.
  const double t1 = Now();
  DWORD_PTR r = 0;
  const LRESULT answered = SendMessageTimeoutA(dlg, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100, &r);
  std::fprintf(g_log, "probe answered=%d ms=%.1f\n", answered != 0, Now() - t1);
  TerminateProcess(p, 1);
  const bool ended = WaitForSingleObject(p, 10000) == WAIT_OBJECT_0;
  std::fprintf(g_log, "ended=%d at_ms=%.1f\n", ended, Now() - t0);
  CloseHandle(p);
  return ended ? 0 : 1;
}

std::wstring Wide(const std::string& s) {
  wchar_t buf[1024] = {};
  MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, buf, 1024);
  return buf;
}

int RegCheck(int argc, char** argv) {
  for (int i = 3; i < argc; ++i) {
    std::string arg = argv[i];
    const size_t bar = arg.find('|');
    const std::string key = arg.substr(0, bar);
    HKEY h = nullptr;
    LONG r = RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(key).c_str(), 0, KEY_READ, &h);
    bool exists = r == ERROR_SUCCESS;
    if (exists && bar != std::string::npos) {
      exists = RegQueryValueExW(h, Wide(arg.substr(bar + 1)).c_str(), nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS;
    }
    if (h) RegCloseKey(h);
    std::fprintf(g_log, "%s %s\n", exists ? "present" : "absent", arg.c_str());
  }
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 e;
  e.dwSize = sizeof e;
  for (BOOL ok = Process32First(snap, &e); ok; ok = Process32Next(snap, &e))
    std::fprintf(g_log, "process %s\n", e.szExeFile);
  CloseHandle(snap);
  HKEY sm = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                    &sm) == ERROR_SUCCESS) {
    static wchar_t data[65536];
    DWORD size = sizeof data - 4;
    DWORD type = 0;
    if (RegQueryValueExW(sm, L"PendingFileRenameOperations", nullptr, &type,
                         reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS) {
      data[size / 2] = 0;
      data[size / 2 + 1] = 0;
      // Pairs of (source, destination); an empty destination means delete.
      const wchar_t* p = data;
      while (*p) {
        const wchar_t* dst = p + wcslen(p) + 1;
        std::fprintf(g_log, "pending %s -> %s\n", Utf8(p).c_str(), Utf8(dst).c_str());
        if (!*dst && !dst[1]) break;
        p = dst + wcslen(dst) + 1;
      }
    }
    RegCloseKey(sm);
  }
  return 0;
}

int Deny(const char* key) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(key).c_str(), 0, READ_CONTROL | WRITE_DAC, &h) != ERROR_SUCCESS) {
    std::fprintf(g_log, "error open\n");
    return 1;
  }
  const LONG r = DenyAllButRead(h);
  RegCloseKey(h);
  HKEY test = nullptr;
  const LONG all = RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(key).c_str(), 0, KEY_ALL_ACCESS, &test);
  if (test) RegCloseKey(test);
  std::fprintf(g_log, "deny set=%ld all_access_open=%ld\n", r, all);
  return r == ERROR_SUCCESS && all != ERROR_SUCCESS ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  SetProcessDPIAware();  // rectangles and fonts in the screen's pixels, as a DPI-aware program has them
  const std::string mode = argv[1];
  const bool withExe = mode == "run" || mode == "startup" || mode == "cut";
  if (withExe && argc < 4) return 2;
  g_log = std::fopen(argv[withExe ? 3 : 2], "w");
  if (!g_log) return 2;
  int rc = 2;
  if (mode == "folders") {
    rc = Folders();
  } else if (mode == "regcheck") {
    rc = RegCheck(argc, argv);
  } else if (mode == "deny" && argc >= 4) {
    rc = Deny(argv[3]);
  } else if (mode == "cut" && argc >= 6) {
    rc = Cut(argv[2], argv[4], argv[5]);
  } else if (mode == "startup") {
    rc = Startup(argv[2]);
  } else if (mode == "run") {
    const char* ready = nullptr;
    const char* go = nullptr;
    bool probe = false, about = false;
    std::string during;
    std::vector<std::string> answers;
    for (int i = 4; i < argc; ++i) {
      if (!std::strcmp(argv[i], "--probe")) probe = true;
      else if (!std::strcmp(argv[i], "--about")) about = true;
      else if (!std::strcmp(argv[i], "--during") && i + 1 < argc) during = argv[++i];
      else if (!std::strcmp(argv[i], "--ready") && i + 1 < argc) ready = argv[++i];
      else if (!std::strcmp(argv[i], "--go") && i + 1 < argc) go = argv[++i];
      else answers.push_back(argv[i]);
    }
    rc = Run(argv[2], ready, go, probe, about, during, answers);
  }
  std::fclose(g_log);
  return rc;
}
