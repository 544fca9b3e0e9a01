#include <gtest/gtest.h>

#include <functional>

#include "fsclean/uninstallers.h"
#include "tests/sim/machine.h"

namespace {
const char kUnins000[] = "C:\\WINDOWS\\unins000.exe";
const char kUninstall[] = "C:\\WINDOWS\\system32\\Uninstall.exe";
const char kUninst[] = "C:\\WINDOWS\\system32\\uninst.exe";
const char kCapicom[] = "C:\\WINDOWS\\system32\\capicom.dll";
}  // namespace

TEST(LeftoverUninstallers, EverySubsetRunsInOrderOneAtATime) {
  const char* all[] = {kUnins000, kUninstall, kUninst};
  for (int mask = 0; mask < 8; ++mask) {
    sim::Machine m;
    m.AddFile(kCapicom);
    std::vector<std::string> expected;
    for (int i = 0; i < 3; ++i) {
      if (!(mask & (1 << i))) continue;
      m.InstallProgram(all[i], {nullptr, 1000});  // each runs for a second
      expected.push_back(all[i]);
    }
    RunLeftoverUninstallers();
    std::vector<std::string> started;
    for (size_t i = 0; i < m.launches.size(); ++i) {
      const sim::Launch& l = m.launches[i];
      started.push_back(l.file);
      EXPECT_EQ(l.how, "CreateProcess");
      EXPECT_EQ(l.commandLine, "\"" + l.file + "\" /S");
      EXPECT_EQ(l.creationFlags, static_cast<DWORD>(CREATE_SUSPENDED));
      if (i > 0) {
        EXPECT_GE(l.atMs, m.launches[i - 1].endMs) << "started before the previous ended";
      }
    }
    EXPECT_EQ(started, expected) << mask;
    EXPECT_EQ(m.Exists(kCapicom), !(mask & 4)) << mask;
    EXPECT_EQ(m.OpenHandles(), 0u);
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

// Where the suspended start is refused (elevation asked while the program
// runs without it, or any refusal), the shell starts it, with COM on the thread.
TEST(LeftoverUninstallers, ShellStartsWhatCreateProcessRefuses) {
  for (const bool elevationAsked : {true, false}) {
    sim::Machine m;
    sim::Program asks{nullptr, 1000};
    asks.requiresElevation = true;
    m.InstallProgram(kUnins000, asks);
    m.elevated = !elevationAsked;
    if (!elevationAsked) m.FailAlways("CreateProcessA");
    RunLeftoverUninstallers();
    ASSERT_EQ(m.launches.size(), 1u);
    const sim::Launch& l = m.launches[0];
    EXPECT_EQ(l.how + l.parameters, "ShellExecute /S");
    EXPECT_EQ(l.fMask, 0x440u);
    EXPECT_EQ(l.nShow, 5);
    EXPECT_TRUE(l.comReady && l.verbNull && l.dirNull && l.hwnd == nullptr);
    EXPECT_EQ(m.comFlags, static_cast<DWORD>(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    EXPECT_EQ(m.comDepth, 0);
    EXPECT_EQ(m.OpenHandles() + m.hangs, 0u);
  }
}

TEST(LeftoverUninstallers, LaunchWithoutProcessHandleIsNotWaitedFor) {
  sim::Machine m;
  m.FailAlways("CreateProcessA");
  m.launchWithoutProcessHandle = true;
  m.InstallProgram(kUnins000, {nullptr, 5000});
  m.InstallProgram(kUninst, {});
  RunLeftoverUninstallers();
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

// The job has no limits: the program ended while it waits leaves the copy at
// work; and a copy started before the job was made is not waited for.
TEST(LeftoverUninstallers, JobNeitherEndsNorCatchesWhatItDoesNotOwn) {
  {
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
  // A copy started at once is inside the wait with the suspended start; only
  // the shell's start (the fallback) lets it slip out.
  for (const bool throughShell : {false, true}) {
    sim::Machine m;
    sim::Program early{nullptr, 100, 3000};
    early.copyStartsAtOnce = true;
    m.InstallProgram(kUninst, early);
    if (throughShell) m.FailAlways("CreateProcessA");
    RunLeftoverUninstallers();
    EXPECT_EQ(m.clockMs < m.launches[0].endMs, throughShell);
  }
}

// What the uninstaller leaves running for the user (a browser on a feedback
// page, a folder window) does not hold the run; what else it started is
// waited for at most two minutes after the uninstaller itself ended; a child
// that asks to leave the job starts, and is not waited for.
TEST(LeftoverUninstallers, PageLeftOpenDoesNotHoldTheRun) {
  const struct Case {
    const char* leaves;
    bool breaksAway;
    uint32_t copyMs;
    uint64_t waitedMs;  // after the uninstaller's own 500 ms
  } cases[] = {
      {"C:\\Program Files\\Mozilla Firefox\\FIREFOX.EXE", false, 0, 0},
      {"C:\\Program Files\\Internet Explorer\\iexplore.exe", false, 3000, 3000},
      {"C:\\WINDOWS\\explorer.exe", false, 0, 0},
      {"C:\\Tools\\feedback.exe", false, 0, 120000},  // not a browser: the bound
      {"C:\\Tools\\feedback.exe", true, 0, 0},        // outside the job
  };
  for (const Case& c : cases) {
    sim::Machine m;
    sim::Program opens{nullptr, 500, c.copyMs};
    opens.leavesRunning = c.leaves;
    opens.leavesBreakingAway = c.breaksAway;
    m.InstallProgram(kUnins000, opens);
    m.InstallProgram(kUninst, {nullptr, 100});
    RunLeftoverUninstallers();
    ASSERT_EQ(m.launches.size(), 2u) << c.leaves;
    EXPECT_NEAR(static_cast<double>(m.launches[1].atMs - 500), static_cast<double>(c.waitedMs), 40) << c.leaves;
    bool running = false;
    for (const auto& p : m.processes) running = running || (p.exeFile == c.leaves && m.IsAlive(p.pid));
    EXPECT_TRUE(running) << c.leaves << ": left running";
    EXPECT_EQ(m.OpenHandles() + m.hangs, 0u) << c.leaves;
  }
}
