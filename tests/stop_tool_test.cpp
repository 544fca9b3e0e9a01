#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "engine/catalogue.h"
#include "engine/removal.h"
#include "process/stop_tool.h"
#include "tests/sim/machine.h"

TEST(PrefixMatches, Table) {
  const struct {
    const char* name;
    const char* prefix;
    bool expected;
  } cases[] = {
      {"DWReg_kstv.exe", "DWReg_kstv.exe", true},
      {"dwreg_KSTV.EXE", "DWReg_kstv.exe", true},
      {"DWReg_kstv.exe.old", "DWReg_kstv.exe", true},  // longer
      {"DWReg", "DWReg_kstv.exe", true},                // a leading part of the prefix
      {"DWReg_other.exe", "DWReg_kstv.exe", false},
      {"Keyloft_User.exe", "DWReg_kstv.exe", false},
      {"", "DWReg_kstv.exe", false},                    // empty file-name part
      {"DWReg_kstv.exe", "", false},
      {"\x82\xA0.exe", "\x82\xA0.EXE", true},           // double-byte names compared byte-wise
      {"\x82\xA0.exe", "\x82\xA1.exe", false},
  };
  for (const auto& c : cases) EXPECT_EQ(PrefixMatches(c.name, c.prefix), c.expected) << c.name;
}

TEST(TerminateByPrefix, MatchingUserProcessesGoInSnapshotOrderWithTheirWaits) {
  sim::Machine m;
  m.AddProcess("C:\\Program Files\\Kestovanet2.0\\DWReg_kstv.exe", "alice");
  m.AddProcess("DWReg_kstv.exe", "bob");  // another account: never touched
  m.AddProcess("DWReg_other.exe", "alice");
  m.AddProcess("dwreg_kstv.exe", "alice");
  TerminateByPrefix("DWReg_kstv.exe", nullptr, nullptr, nullptr);
  EXPECT_EQ(m.LogLines(), (std::vector<std::string>{
                              "TerminateProcess C:\\Program Files\\Kestovanet2.0\\DWReg_kstv.exe 0",
                              "TerminateProcess dwreg_kstv.exe 0"}));
  EXPECT_EQ(m.clockMs, 1000u);  // each exits at once, then 500 ms
  for (const auto& open : m.processOpens)
    if (open.second != PROCESS_QUERY_INFORMATION) {
      EXPECT_EQ(open.second, 0x1F0FFFu);
    }
  EXPECT_EQ(m.OpenHandles(), 0u);
}

TEST(TerminateByPrefix, SlowExitCostsTheFullSixHundredMilliseconds) {
  sim::Machine m;
  const DWORD a = m.AddProcess("Keyloft_User.exe", "alice");
  const DWORD b = m.AddProcess("Keyloft_User.exe", "alice");
  m.FindProcess(a)->exitDelayMs = 5000;
  m.FindProcess(b)->exitDelayMs = 5000;
  TerminateByPrefix("Keyloft_User.exe", nullptr, nullptr, nullptr);
  EXPECT_EQ(m.clockMs, 1200u);
  EXPECT_EQ(m.sleeps, (std::vector<DWORD>{500, 500}));
}

TEST(TerminateByPrefix, UnopenableProcessIsSkippedWithoutWaiting) {
  sim::Machine m;
  const DWORD pid = m.AddProcess("DWReg_kstv.exe", "alice");
  m.FindProcess(pid)->canOpenAll = false;
  TerminateByPrefix("DWReg_kstv.exe", nullptr, nullptr, nullptr);
  EXPECT_TRUE(m.log.empty());
  EXPECT_EQ(m.clockMs, 0u);
}

TEST(TerminateByPrefix, AbsentPrefixesTerminateNothingButStillSnapshot) {
  sim::Machine m;
  m.AddProcess("DWReg_kstv.exe", "alice");
  TerminateByPrefix(nullptr, "", nullptr, nullptr);
  EXPECT_TRUE(m.log.empty());
  EXPECT_EQ(m.callCounts["CreateToolhelp32Snapshot"], 1);
}

TEST(TerminateByPrefix, OnlyTheFirstTwoHundredUserProcessesAreExamined) {
  sim::Machine m;
  for (int i = 0; i < 199; ++i) m.AddProcess("filler.exe", "alice");  // + the program itself
  m.AddProcess("DWReg_kstv.exe", "alice");
  TerminateByPrefix("DWReg_kstv.exe", nullptr, nullptr, nullptr);
  EXPECT_TRUE(m.log.empty());
}

TEST(CloseToolWindow, AbsentWindowSendsNothing) {
  sim::Machine m;
  m.AddWindow("Kestovanet Key Manager Tool 2.0 ");  // the title must match whole
  EXPECT_EQ(CloseToolWindow("Kestovanet Key Manager Tool 2.0", 32772), 0);
  EXPECT_TRUE(m.log.empty());
}

TEST(CloseToolWindow, ResponsiveWindowHandlesTheCommandBeforeReturning) {
  sim::Machine m;
  m.AddWindow("USBKey MANAGE OF KESTOVA");
  bool handled = false;
  m.WindowByTitle("USBKey MANAGE OF KESTOVA")->onCommand = [&] { handled = true; };
  EXPECT_NE(CloseToolWindow("USBKey MANAGE OF KESTOVA", 32867), 0);
  EXPECT_TRUE(handled);
  const sim::Window* w = m.WindowByTitle("USBKey MANAGE OF KESTOVA");
  EXPECT_EQ(w->commands, std::vector<WPARAM>{32867});
  EXPECT_EQ(w->sendFlags, std::vector<UINT>{SMTO_ABORTIFHUNG | SMTO_BLOCK});
}

TEST(CloseToolWindow, HungWindowCostsAtMostTheBound) {
  sim::Machine m;
  m.AddWindow("Kestovanet Key Manager Tool 3.0", true);
  EXPECT_EQ(CloseToolWindow("Kestovanet Key Manager Tool 3.0", 32772), 0);
  EXPECT_EQ(m.clockMs, 5000u);
}

// Between the snapshot and the opening, the id may have come to name another
// process: what is terminated is decided on the open handle itself.
TEST(TerminateByPrefix, DecidedOnTheOpenHandle) {
  const struct Case {
    const char* what;
    std::string exe;
    const char* prefix;
    std::function<void(sim::Machine&, DWORD)> meanwhile;  // just before it is opened
    bool terminated;
  } cases[] = {
      {"unchanged", "C:\\K\\DWReg_kstv.exe", "DWReg_kstv.exe", nullptr, true},
      {"id now another account's", "DWReg_kstv.exe", "DWReg_kstv.exe",
       [](sim::Machine& m, DWORD pid) { m.FindProcess(pid)->owner = "bob"; }, false},
      {"id now a domain account's of our name", "DWReg_kstv.exe", "DWReg_kstv.exe",
       [](sim::Machine& m, DWORD pid) { m.FindProcess(pid)->owner = "CORP\\alice"; }, false},
      {"id now in another session", "DWReg_kstv.exe", "DWReg_kstv.exe",
       [](sim::Machine& m, DWORD pid) { m.FindProcess(pid)->session = 2; }, false},
      {"id now another program", "DWReg_kstv.exe", "DWReg_kstv.exe",
       [](sim::Machine& m, DWORD pid) { m.FindProcess(pid)->exeFile = "C:\\x\\notepad.exe"; }, false},
      // Before Vista the file name of the device path; on 2000, with neither call, the owner alone.
      {"XP, unchanged", "C:\\K\\DWReg_kstv.exe", "DWReg_kstv.exe", [](sim::Machine& m, DWORD) { m.imageNameCallMissing = true; }, true},
      {"XP, unchanged, longer than half a path", "C:\\" + std::string(140, 'k') + "\\DWReg_kstv.exe", "DWReg_kstv.exe",
       [](sim::Machine& m, DWORD) { m.imageNameCallMissing = true; }, true},
      {"XP, id now another program", "DWReg_kstv.exe", "DWReg_kstv.exe",
       [](sim::Machine& m, DWORD pid) { m.FindProcess(pid)->exeFile = "C:\\x\\notepad.exe", m.imageNameCallMissing = true; }, false},
      {"XP, device path unread", "DWReg_kstv.exe", "DWReg_kstv.exe",
       [](sim::Machine& m, DWORD) { m.imageNameCallMissing = true, m.FailAlways("GetProcessImageFileNameA"); }, false},
      {"2000, id now another program: owner alone", "DWReg_kstv.exe", "DWReg_kstv.exe", [](sim::Machine& m, DWORD pid) {
         m.FindProcess(pid)->exeFile = "C:\\x\\notepad.exe", m.imageNameCallMissing = m.imageFileCallMissing = true; }, true},
      {"image name unreadable", "DWReg_kstv.exe", "DWReg_kstv.exe",
       [](sim::Machine& m, DWORD) { m.FailAlways("QueryFullProcessImageNameA"); }, false},
      {"owner unreadable", "DWReg_kstv.exe", "DWReg_kstv.exe",
       [](sim::Machine& m, DWORD) { m.FailAlways("OpenProcessToken"); }, false},
      {"the program itself", "Brannoch.exe", "Brannoch.exe", nullptr, false},
      // Byte-wise split: the trail byte 0x5C of a double-byte character counts
      // as a backslash, so the part after it is taken as the file name.
      {"split after a trail byte", "\x95\x5C" "DWReg_kstv.exe", "DWReg_kstv.exe", nullptr, true},
      {"nothing after a trail byte", "DWReg_kstv.exe\x95\x5C", "DWReg_kstv.exe", nullptr, false},
  };
  for (const Case& c : cases) {
    sim::Machine m;
    const DWORD pid = c.exe == "Brannoch.exe" ? m.currentPid : m.AddProcess(c.exe, "alice");
    int opens = 0;
    m.beforeCall = [&](const std::string& call) {
      // The snapshot opens ours and the two processes, the stop step ours again; the next open is the one.
      if (call == "OpenProcess" && ++opens == 5 && c.meanwhile) c.meanwhile(m, pid);
    };
    TerminateByPrefix(c.prefix, nullptr, nullptr, nullptr);
    EXPECT_EQ(!m.log.empty(), c.terminated) << c.what;
    EXPECT_EQ(m.hangs, 0) << c.what;
    EXPECT_EQ(m.OpenHandles(), 0u) << c.what;
  }
}

// The edition's second call takes a new snapshot: a process of the tool that
// started after the first one is stopped too.
TEST(TerminateByPrefix, SecondCallStopsWhatStartedAfterTheFirstSnapshot) {
  sim::Machine m;
  m.AddKey(kEdition1Profile.uninstallKey);
  m.AddProcess("Keyloft_User.exe", "alice");
  int snapshots = 0;
  DWORD late = 0;
  m.beforeCall = [&](const std::string& call) {
    // The browser sweep's snapshot, then one per call of TerminateByPrefix.
    if (call == "CreateToolhelp32Snapshot" && ++snapshots == 3) late = m.AddProcess("keyloft_user.EXE", "alice");
  };
  EXPECT_EQ(RemoveEdition1(), 1);
  ASSERT_NE(late, 0u);
  EXPECT_TRUE(m.FindProcess(late)->terminated);
  EXPECT_EQ(std::count_if(m.log.begin(), m.log.end(), [](const sim::Action& a) { return a.op == "TerminateProcess"; }), 2);
}

// The title as given first, then its other form; an empty title names no
// window (FindWindowA would take an untitled one), and one form is looked up once.
TEST(CloseToolWindow, EitherFormOfTheTitle) {
  const struct {
    const char *window, *title, *other;
    int lookups;
    bool sent;
  } cases[] = {{"Tool", "Tool", "Raw", 1, true}, {"Raw", "Tool", "Raw", 2, true}, {"Raw", "", "Raw", 1, true},
               {"", "", nullptr, 0, false},       {"", "", "", 0, false},         {"Tool", "Tool", "Tool", 1, true},
               {"Other", "Tool", "Raw", 2, false}};
  for (const auto& c : cases) {
    sim::Machine m;
    m.AddWindow(c.window);
    CloseToolWindow(c.title, 32772, c.other);
    EXPECT_EQ(m.callCounts["FindWindowA"], c.lookups) << c.window << " " << c.title;
    EXPECT_EQ(m.WindowByTitle(c.window)->commands.size(), c.sent ? 1u : 0u) << c.window << " " << c.title;
  }
}
