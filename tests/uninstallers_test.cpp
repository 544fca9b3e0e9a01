#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "fsclean/uninstallers.h"
#include "tests/sim/machine.h"

namespace {
const char kUnins000[] = "C:\\WINDOWS\\unins000.exe";
const char kUninstall[] = "C:\\WINDOWS\\system32\\Uninstall.exe";
const char kUninst[] = "C:\\WINDOWS\\system32\\uninst.exe";
const char kCapicom[] = "C:\\WINDOWS\\system32\\capicom.dll";
}  // namespace

// Elevated: started suspended, in the system directory, with the system's
// variables alone, TEMP and TMP in a folder of the run's (sorted in place) and
// SystemRoot the Windows folder, whatever the program's environment holds; or,
// where that cannot be had, not started at all ('n': reported, capicom.dll
// kept). Where the token says the program lacks administrator rights, by the
// shell, with COM on the thread and TEMP as it is; without security, with the
// program's own environment ('o').
TEST(LeftoverUninstallers, EverySubsetRunsInOrderOneAtATime) {
  const char* all[] = {kUnins000, kUninstall, kUninst};
  const std::string temp = "C:\\WINDOWS\\Brannoch.pending\\Temp";
  const struct Case {
    const char* what;
    std::function<void(sim::Machine&)> setup;
    char how;  // 'c' suspended with the system's variables, 'o' with the program's, 's' shell, 'n' none
  } cases[] = {
      {"elevated", nullptr, 'c'},
      {"no administrator rights", [](sim::Machine& m) { m.elevation = 0, m.FailAlways("CreateAdminOnlyFolder"); }, 's'},
      {"suspended start refused", [](sim::Machine& m) { m.FailAlways("CreateProcessA"); }, 'n'},
      {"no run's folder", [](sim::Machine& m) { m.FailAlways("CreateAdminOnlyFolder"); }, 'n'},
      {"no run's folder, token unread", [](sim::Machine& m) { m.elevation = -1, m.FailAlways("CreateAdminOnlyFolder"); }, 'n'},
      {"no block of the system's", [](sim::Machine& m) { m.FailAlways("CreateEnvironmentBlock"); }, 'n'},
      {"SystemRoot not set", [](sim::Machine& m) { m.FailAlways("SetEnvironmentVariableA"); }, 'n'},
      {"no security (Windows 9x)", [](sim::Machine& m) { m.platformId = VER_PLATFORM_WIN32_WINDOWS; }, 'o'},
  };
  for (const Case& c : cases)
  for (int mask = 0; mask < 8; ++mask) {
    sim::Machine m;
    m.environment = {"=C:=C:\\Tools", "KEYHOOK=C:\\Users\\alice\\k.dll", "PATH=C:\\Users\\alice", "SystemRoot=C:\\Users\\alice",
                     "TEMP=C:\\TEMP", "TMP=C:\\TEMP", "windir=C:\\Users\\alice"};  // the user's, which elevation keeps
    m.AddFile(kCapicom);
    if (c.setup) c.setup(m);
    std::vector<std::string> expected;
    for (int i = 0; i < 3; ++i) {
      if (!(mask & (1 << i))) continue;
      m.InstallProgram(all[i], {nullptr, 1000});  // each runs for a second
      expected.push_back(all[i]);
    }
    EXPECT_EQ(RunLeftoverUninstallers(), c.how == 'n' ? static_cast<unsigned>(mask) : 0u) << c.what;
    std::vector<std::string> started;
    for (size_t i = 0; i < m.launches.size(); ++i) {
      const sim::Launch& l = m.launches[i];
      started.push_back(l.file);
      EXPECT_EQ(l.how, c.how == 's' ? "ShellExecute" : "CreateProcess");
      EXPECT_EQ(l.commandLine, c.how == 's' ? "" : "\"" + l.file + "\" /S");
      EXPECT_EQ(l.creationFlags, c.how == 's' ? 0u : c.how == 'o' ? 4u : 0x404u);  // suspended; UTF-16
      if (c.how == 's') {
        EXPECT_EQ(l.parameters, " /S");
        EXPECT_EQ(l.fMask, 0x440u);
        EXPECT_EQ(l.nShow, 5);
        EXPECT_EQ(l.cbSize, sizeof(SHELLEXECUTEINFOA));
        EXPECT_TRUE(l.comReady && l.verbNull && l.hwnd == nullptr);
      }
      EXPECT_EQ(l.environment, c.how != 'c' ? "" : "ComSpec=C:\\WINDOWS\\system32\\cmd.exe|SystemRoot=C:\\WINDOWS|TEMP=" +
                                                     temp + "|TMP=" + temp + "|windir=C:\\WINDOWS") << c.what;
      EXPECT_EQ(l.directory, "C:\\WINDOWS\\system32");
      if (i > 0) {
        EXPECT_GE(l.atMs, m.launches[i - 1].endMs) << "started before the previous ended";
      }
    }
    EXPECT_EQ(started, c.how == 'n' ? std::vector<std::string>{} : expected) << c.what << mask;
    EXPECT_EQ(m.Exists(kCapicom), !(mask & 4) || c.how == 'n') << c.what << mask;
    EXPECT_EQ(m.comFlags, c.how == 's' && mask ? static_cast<DWORD>(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE) : 0u);
    EXPECT_EQ(m.comDepth, 0);
    EXPECT_EQ(m.OpenHandles() + m.environmentBlocks.size(), 0u);
    EXPECT_EQ(m.hangs, 0);
  }
}

TEST(LeftoverUninstallers, CapicomDeletedOnlyAfterUninstEnded) {
  sim::Machine m;
  m.AddFile(kCapicom);
  bool capicomPresentWhileRunning = false;
  m.InstallProgram(kUninst, {[&] { capicomPresentWhileRunning = m.Exists(kCapicom); }, 0});
  RunLeftoverUninstallers();
  EXPECT_TRUE(capicomPresentWhileRunning);
  EXPECT_FALSE(m.Exists(kCapicom));
  EXPECT_EQ(m.log.back().ToString(), std::string("DeleteFile ") + kCapicom);
}

TEST(LeftoverUninstallers, WrongDirectoriesAreNotLookedIn) {
  sim::Machine m;
  m.InstallProgram("C:\\WINDOWS\\system32\\unins000.exe", {});
  m.InstallProgram("C:\\WINDOWS\\uninst.exe", {});
  m.AddFile(kCapicom);
  RunLeftoverUninstallers();
  EXPECT_TRUE(m.launches.empty());
  EXPECT_TRUE(m.Exists(kCapicom));
}

TEST(LeftoverUninstallers, LaunchWithoutProcessHandleIsNotWaitedFor) {
  sim::Machine m;
  m.elevation = 0;  // the shell's start
  m.launchWithoutProcessHandle = true;
  m.InstallProgram(kUnins000, {nullptr, 5000});
  m.InstallProgram(kUninst, {});
  EXPECT_EQ(RunLeftoverUninstallers(), 0u);  // started, if not waited for
  EXPECT_EQ(m.launches.size(), 2u);
  EXPECT_EQ(m.callCounts["WaitForSingleObject"], 0);
  EXPECT_EQ(m.hangs, 0);
}

TEST(LeftoverUninstallers, DirectoryLookupFailureSkipsItsPaths) {
  sim::Machine m;
  m.InstallProgram(kUnins000, {});
  m.InstallProgram(kUninst, {});
  m.AddFile(kCapicom);
  m.FailAlways("GetSystemDirectoryA");
  RunLeftoverUninstallers();
  ASSERT_EQ(m.launches.size(), 1u);
  EXPECT_EQ(m.launches[0].file, kUnins000);
  EXPECT_TRUE(m.Exists(kCapicom));
}

// An uninstaller that hands its work to a copy of itself (as NSIS does) is
// waited for until the copy has ended too, where the system has jobs; else,
// as before, until the uninstaller itself ends.
TEST(LeftoverUninstallers, WaitCoversWhatTheUninstallerStarted) {
  const struct Case {
    const char* what;
    std::function<void(sim::Machine&)> setup;
    bool copyAwaited;
  } cases[] = {
      {"jobs", nullptr, true},
      {"no jobs on this system", [](sim::Machine& m) { m.jobsMissing = true; }, false},
      {"job refused (started in a job, before Windows 8)",
       [](sim::Machine& m) {
         m.nestedJobsMissing = true;
         m.FindProcess(m.currentPid)->jobs.push_back(m.nextJob++);
       },
       false},
      {"job not created", [](sim::Machine& m) { m.FailAlways("CreateJobObjectA"); }, false},
      {"job count unreadable", [](sim::Machine& m) { m.FailAlways("QueryJobActiveProcesses"); }, false},
      // A copy started at once is inside the wait with the suspended start, not with the shell's.
      {"copy at once", [](sim::Machine& m) { for (auto& p : m.programs) p.second.copyStartsAtOnce = true; }, true},
      {"copy at once, shell",
       [](sim::Machine& m) {
         for (auto& p : m.programs) p.second.copyStartsAtOnce = true;
         m.elevation = 0;
       },
       false},
  };
  for (const Case& c : cases) {
    sim::Machine m;
    m.AddFile(kCapicom);
    m.InstallProgram(kUninstall, {nullptr, 100, 3000});
    m.InstallProgram(kUninst, {nullptr, 100, 2000});
    if (c.setup) c.setup(m);
    bool copyRunningAtCapicom = false;
    m.beforeCall = [&](const std::string& call) {
      if (call != "DeleteFileA") return;
      for (const auto& p : m.processes)
        if (p.parentPid != 0 && m.IsAlive(p.pid)) copyRunningAtCapicom = true;
    };
    RunLeftoverUninstallers();
    ASSERT_EQ(m.launches.size(), 2u) << c.what;
    EXPECT_EQ(m.launches[1].atMs >= m.launches[0].endMs, c.copyAwaited) << c.what;
    EXPECT_EQ(!copyRunningAtCapicom, c.copyAwaited) << c.what;
    EXPECT_FALSE(m.Exists(kCapicom)) << c.what;
    EXPECT_EQ(m.OpenHandles(), 0u) << c.what;
    EXPECT_EQ(m.hangs, 0) << c.what;
    if (c.copyAwaited) {
      EXPECT_LE(m.clockMs - m.launches[1].endMs, 20u) << "noticed within one look";
    }
  }
}

// The job has no limits: the program ended while it waits leaves the copy at work.
TEST(LeftoverUninstallers, JobEndsNothingWhenTheProgramIsEnded) {
  sim::Machine m;
  m.InstallProgram(kUninst, {nullptr, 100, 3000});
  int polls = 0;
  m.beforeCall = [&](const std::string& call) {
    if (call == "QueryJobActiveProcesses" && ++polls == 3) m.endBefore = m.seamCalls + 1;
  };
  EXPECT_THROW(RunLeftoverUninstallers(), sim::ProgramEnded);
  m.EndProgram();
  const sim::Process& copy = m.processes.back();
  ASSERT_NE(copy.parentPid, 0u);
  EXPECT_TRUE(m.IsAlive(copy.pid));
  m.clockMs = copy.endAt;
  EXPECT_FALSE(m.IsAlive(copy.pid));  // it ends when its own work is done
}

// A browser or folder window the uninstaller leaves open is not waited for, nor the program registered
// for web pages (the user's choice from Windows 8 on, the class key before); the rest of its tree two
// minutes at most after it ended; a child that asks to leave the job starts, and is not waited for.
// Nor what such a program starts: a launcher's real browser, named otherwise, and the browser's helpers,
// where the job's port tells who joined, the launcher named as it joins however soon it ends; an 8.3 registration.
TEST(LeftoverUninstallers, PageLeftOpenDoesNotHoldTheRun) {
  const char kLauncher[] = "C:\\Apps\\Pale\\launch.exe";  // starts kBrowser, ends after launcherMs
  const char kBrowser[] = "C:\\Apps\\Pale\\palemoon.exe";  // starts kHelper, never ends
  const char kHelper[] = "C:\\Apps\\Pale\\renderer.exe";
  const struct Case {
    const char* leaves;
    bool breaksAway;
    uint32_t copyMs, waitedMs;  // waited after the uninstaller's own 500 ms
    const char* pages = nullptr;  // "http" and "https": the user's choice (Windows 8) or the class key's
    bool windows8 = true;
    const char* running = nullptr;  // left running, if not `leaves`
    uint32_t launcherMs = 30;
    const char* fails = nullptr;
  } cases[] = {
      {kLauncher, false, 0, 0, kLauncher, true, kHelper},
      {kBrowser, false, 0, 0, kBrowser, true, kHelper},
      {"C:\\Apps\\Pale Moon\\palemoon.exe", false, 0, 0, "C:\\Apps\\PALEMO~1\\PALEMO~1.EXE"},
      {kLauncher, false, 0, 0, kLauncher, true, kHelper, 0},  // ends at once
      {kLauncher, false, 0, 120000, kLauncher, true, kHelper, 0, "OpenProcess"},  // not named as it joined
      {kLauncher, false, 0, 120000, kLauncher, true, kHelper, 30, "WatchJobStarts"},  // no port: by name alone
      {"C:\\Program Files\\Mozilla Firefox\\FIREFOX.EXE", false, 0, 0},
      {"C:\\Program Files\\Internet Explorer\\iexplore.exe", false, 3000, 3000},
      {"C:\\WINDOWS\\explorer.exe", false, 0, 0},
      {"C:\\Tools\\feedback.exe", false, 0, 120000},  // not a browser: the bound
      {"C:\\Tools\\feedback.exe", true, 0, 0},        // outside the job
      {"C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe", false, 0, 0, "D:\\Apps\\CHROME.EXE"},
      {"C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe", false, 0, 120000, "chrome.exe", false},
      // A path longer than MAX_PATH is not found.
      {"C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe", false, 0, 120000, "*\\chrome.exe"},
  };
  for (const Case& c : cases) {
    sim::Machine m;
    m.InstallProgram(kUnins000, {nullptr, 500, c.copyMs, false, c.leaves, c.breaksAway});
    m.InstallProgram(kUninst, {nullptr, 100});
    m.InstallProgram(kLauncher, {nullptr, c.launcherMs, 0, false, kBrowser});
    m.InstallProgram(kBrowser, {nullptr, UINT32_MAX, 0, false, kHelper});
    m.AddFile("C:\\Apps\\Pale Moon\\palemoon.exe");
    m.longNames[m.Fold("C:\\Apps\\PALEMO~1\\PALEMO~1.EXE")] = "C:\\Apps\\Pale Moon\\palemoon.exe";
    if (c.fails) m.FailAlways(c.fails);
    m.ntMajor = 6, m.ntMinor = c.windows8 ? 2 : 1;
    m.protocolClassExe["http"] = m.protocolClassExe["https"] = "C:\\Program Files\\Internet Explorer\\iexplore.exe";
    if (c.pages != nullptr) m.protocolChoiceExe["http"] = m.protocolChoiceExe["https"] = c.pages;
    if (c.pages != nullptr && c.pages[0] == '*')
      m.protocolChoiceExe["http"] = m.protocolChoiceExe["https"] = "C:\\" + std::string(MAX_PATH, 'x') + c.pages;
    RunLeftoverUninstallers();
    ASSERT_EQ(m.launches.size(), 2u) << c.leaves;
    EXPECT_NEAR(static_cast<double>(m.launches[1].atMs - 500), static_cast<double>(c.waitedMs), 40) << c.leaves;
    EXPECT_TRUE(std::any_of(m.processes.begin(), m.processes.end(),
                            [&](const sim::Process& p) { return p.exeFile == (c.running ? c.running : c.leaves) && m.IsAlive(p.pid); }))
        << c.leaves << ": left running";
    EXPECT_EQ(m.OpenHandles() + m.hangs, 0u) << c.leaves;
  }
}
