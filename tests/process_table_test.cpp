#include <gtest/gtest.h>

#include <cstring>

#include "process/process_table.h"
#include "process/stop_tool.h"
#include "tests/sim/machine.h"

namespace {
std::vector<std::string> Snapshot(DWORD capacity) {
  std::vector<PROCESSENTRY32> table(capacity);
  DWORD count = capacity;
  SnapshotUserProcesses(&count, table.data());
  std::vector<std::string> names;
  for (DWORD i = 0; i < count; ++i) names.push_back(table[i].szExeFile);
  return names;
}
}  // namespace

TEST(ProcessTable, OnlyExactOwnerEntersInSnapshotOrder) {
  sim::Machine m;
  m.AddProcess("a.exe", "alice");
  m.AddProcess("b.exe", "bob");
  m.AddProcess("c.exe", "CORP\\alice");  // a domain account of our name: another SID
  m.AddProcess("f.exe", "ALICE");        // the same account: names are compared by SID
  const DWORD unreadable = m.AddProcess("d.exe", "alice");
  m.FindProcess(unreadable)->ownerReadable = false;
  m.AddProcess("e.exe", "alice");
  EXPECT_EQ(Snapshot(200), (std::vector<std::string>{"Brannoch.exe", "a.exe", "f.exe", "e.exe"}));
  EXPECT_EQ(m.OpenHandles(), 0u);
}

TEST(ProcessTable, CapacityLimitsTheEntriesSeen) {
  sim::Machine m;
  for (int i = 0; i < 805; ++i) m.AddProcess("p" + std::to_string(i) + ".exe", "alice");
  EXPECT_EQ(Snapshot(800).size(), 800u);
  EXPECT_EQ(Snapshot(800).back(), "p798.exe");  // the program itself is first
  EXPECT_EQ(Snapshot(200).size(), 200u);
  EXPECT_EQ(Snapshot(0).size(), 0u);
}

TEST(ProcessTable, UserNameSecondAttemptOrNothing) {
  sim::Machine m;
  m.AddProcess("a.exe", "alice");
  m.FailNth("GetUserNameA", 1);  // first fails, the second with the reported size succeeds
  EXPECT_EQ(Snapshot(200).size(), 2u);

  m.FailAlways("GetUserNameA");
  char name[260];
  EXPECT_EQ(GetCurrentUserName(name), 0);
  EXPECT_STREQ(name, "");
  m.FailAlways("OpenProcessToken");  // no account of our own: nothing can be shown to be ours
  EXPECT_TRUE(Snapshot(200).empty());
  EXPECT_EQ(m.OpenHandles(), 0u);
}

TEST(ProcessTable, UserNameTooLongForTheBufferIsNotCutShort) {
  sim::Machine m;
  m.userName = std::string(300, 'u');
  m.AddProcess("a.exe", std::string(259, 'u'));  // what a cut name would match
  char name[260];
  EXPECT_EQ(GetCurrentUserName(name), 0);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(Snapshot(200), std::vector<std::string>{"Brannoch.exe"});  // accounts by SID, not by a cut name
}

TEST(ProcessTable, SnapshotFailuresGiveAnEmptyTable) {
  for (const char* call : {"CreateToolhelp32Snapshot", "Process32First", "ProcessIdToSessionId"}) {
    sim::Machine m;
    m.AddProcess("a.exe", "alice");
    m.FailAlways(call);
    EXPECT_TRUE(Snapshot(200).empty()) << call;
    EXPECT_EQ(m.OpenHandles(), 0u) << call;
  }
}

TEST(ProcessTable, OwnerLookupFailuresReleaseEverything) {
  for (const char* call : {"OpenProcess", "OpenProcessToken", "GetTokenInformation", "LookupAccountSidA"}) {
    sim::Machine m;
    const DWORD pid = m.AddProcess("a.exe", "alice");
    m.FailAlways(call);
    char owner[260];
    std::memset(owner, 'x', sizeof owner);
    EXPECT_EQ(GetProcessOwnerName(pid, owner, sizeof owner), 0) << call;
    EXPECT_STREQ(owner, "") << call;
    EXPECT_EQ(m.OpenHandles(), 0u) << call;
  }
  sim::Machine m;
  const DWORD pid = m.AddProcess("a.exe", "carol");
  char owner[260];
  EXPECT_NE(GetProcessOwnerName(pid, owner, sizeof owner), 0);
  EXPECT_STREQ(owner, "carol");
  EXPECT_EQ(m.processOpens.back().second, static_cast<DWORD>(PROCESS_QUERY_INFORMATION));
}

TEST(IsBrowserRunning, NameMatchTable) {
  const struct {
    const char* exe;
    const char* wanted;
    int expected;
  } cases[] = {
      {"IEXPLORE.exe", "IEXPLORE.exe", 1},
      {"iexplore.exe", "IEXPLORE.exe", 1},
      {"C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE", "IEXPLORE.exe", 1},
      {"IEXPLORE.exe.bak", "IEXPLORE.exe", 0},
      {"IEXPLOR.exe", "IEXPLORE.exe", 0},
      {"C:\\dir\\", "IEXPLORE.exe", 0},
      // A 936 name whose trail byte is 0x5C is not cut there.
      {"C:\\\x81\x5C" "firefox.exe", "firefox.exe", 0},
      {"C:\\\x81\x5C\\firefox.exe", "firefox.exe", 1},
  };
  for (const auto& c : cases) {
    sim::Machine m;
    m.AddProcess(c.exe, "alice");
    browserTableFilled = 0;
    EXPECT_EQ(IsBrowserRunning(c.wanted), c.expected) << c.exe;
  }
}

// The runtime answers a name ending in a lone lead byte with a pointer to its
// terminator: the part after it would lie past the name.
TEST(MbFileNamePart, WholeNameUnlessTheMatchIsABackslash) {
  const struct {
    const char* path;
    size_t offset;
  } cases[] = {{"firefox.exe\x81", 0}, {"\x81", 0}, {"C:\\b\x81", 3}, {"C:\\x\\f.exe", 5}, {"", 0}};
  sim::Machine m;
  for (const auto& c : cases) EXPECT_EQ(MbFileNamePart(c.path), c.path + c.offset) << c.path;
  m.AddProcess("firefox.exe\x81", "alice");
  browserTableFilled = 0;
  EXPECT_EQ(IsBrowserRunning("firefox.exe"), 0);
}

TEST(IsBrowserRunning, AnotherAccountsBrowserIsNotReported) {
  sim::Machine m;
  m.AddProcess("firefox.exe", "bob");
  m.AddProcess("firefox.exe", "CORP\\alice");
  browserTableFilled = 0;
  EXPECT_EQ(IsBrowserRunning("firefox.exe"), 0);
}

TEST(IsBrowserRunning, OneSnapshotPerSweep) {
  sim::Machine m;
  browserTableFilled = 0;
  EXPECT_EQ(IsBrowserRunning("firefox.exe"), 0);
  m.AddProcess("firefox.exe", "alice");  // starts after the sweep's first test
  EXPECT_EQ(IsBrowserRunning("firefox.exe"), 0);
  EXPECT_EQ(m.callCounts["CreateToolhelp32Snapshot"], 1);
  browserTableFilled = 0;
  EXPECT_EQ(IsBrowserRunning("firefox.exe"), 1);
}

TEST(IsBrowserRunning, UnknownUserSeesNoBrowser) {
  sim::Machine m;
  m.AddProcess("firefox.exe", "alice");
  m.FindProcess(m.currentPid)->ownerReadable = false;
  browserTableFilled = 0;
  EXPECT_EQ(IsBrowserRunning("firefox.exe"), 0);
}

// Run as an administrator whose password was given at the elevation prompt:
// the desktop user's processes count as the user's too, seen (and its old
// tool stopped) once the debug privilege opens them; without a shell, the
// program's own account alone.
TEST(ProcessTable, DesktopUsersAccountCountsToo) {
  const std::vector<std::string> ownOnly = {"TerminateProcess dwreg_kstv.exe 0"};
  const struct {
    const char* shellOwner;  // "" no shell
    bool debugHeld;
    std::vector<std::string> seen;
    int browserSeen;
    std::vector<std::string> stopped;
    DWORD shellSession = 1;
    bool oneSession = false;  // no ProcessIdToSessionId: session 2 is ours too
  } cases[] = {
      {"alice", true, {"Brannoch.exe", "C:\\WINDOWS\\explorer.exe", "C:\\K\\DWReg_kstv.exe", "firefox.exe", "dwreg_kstv.exe"},
       1, {"TerminateProcess C:\\K\\DWReg_kstv.exe 0", ownOnly[0]}},
      {"alice", false, {"Brannoch.exe", "dwreg_kstv.exe"}, 0, ownOnly},  // the user's processes stay closed
      {"", true, {"Brannoch.exe", "dwreg_kstv.exe"}, 0, ownOnly},
      {"admin", true, {"Brannoch.exe", "C:\\WINDOWS\\explorer.exe", "dwreg_kstv.exe"}, 0, ownOnly},
      {"SYSTEM", true, {"Brannoch.exe", "dwreg_kstv.exe"}, 0, ownOnly},  // a service's shell is no user's
      {"alice", true, {"Brannoch.exe", "dwreg_kstv.exe"}, 0, ownOnly, 2},  // the shell of another session
      {"", true, {"Brannoch.exe", "dwreg_kstv.exe", "iexplore.exe", "DWReg_kstv.exe"}, 0,
       {ownOnly[0], "TerminateProcess DWReg_kstv.exe 0"}, 1, true},
  };
  for (const auto& c : cases) {
    sim::Machine m;
    m.userName = m.FindProcess(m.currentPid)->owner = "admin";
    if (!c.debugHeld) m.FailAlways("EnableDebugPrivilege");
    m.sessionCallMissing = c.oneSession;
    if (c.shellOwner[0] != '\0') m.shellPid = m.AddProcess("C:\\WINDOWS\\explorer.exe", c.shellOwner);
    if (c.shellOwner[0] != '\0') m.FindProcess(m.shellPid)->session = c.shellSession;
    m.AddProcess("C:\\K\\DWReg_kstv.exe", "alice");
    m.AddProcess("firefox.exe", "alice");
    m.AddProcess("DWReg_kstv.exe", "bob");
    m.AddProcess("dwreg_kstv.exe", "admin");
    m.AddProcess("DWReg_kstv.exe", "CORP\\admin");  // a domain account of the same name
    m.FindProcess(m.AddProcess("iexplore.exe", "admin"))->session = 2;  // our account, another session
    m.FindProcess(m.AddProcess("DWReg_kstv.exe", "admin"))->session = 2;
    EXPECT_EQ(Snapshot(200), c.seen) << c.shellOwner << " " << c.debugHeld;
    browserTableFilled = 0;
    EXPECT_EQ(IsBrowserRunning("firefox.exe"), c.browserSeen) << c.shellOwner << " " << c.debugHeld;
    TerminateByPrefix("DWReg_kstv.exe", nullptr, nullptr, nullptr);
    EXPECT_EQ(m.LogLines(), c.stopped) << c.shellOwner << " " << c.debugHeld;
    EXPECT_EQ(m.OpenHandles(), 0u);
  }
}
