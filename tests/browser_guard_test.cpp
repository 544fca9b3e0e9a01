#include <gtest/gtest.h>

#include "i18n/texts.h"
#include "process/browser_guard.h"
#include "tests/sim/machine.h"

TEST(BrowserGuard, NoBrowserMeansNoPromptAndNoWait) {
  sim::Machine m;
  m.AddProcess("chrome.exe", "alice");  // not in the list
  m.AddProcess("IEXPLORE.exe", "bob");  // another account
  EXPECT_EQ(ConfirmBrowsersClosed(), 1);
  EXPECT_TRUE(m.boxes.empty());
  EXPECT_EQ(m.clockMs, 0u);
}

TEST(BrowserGuard, YesWithBrowserStillRunningPromptsAgain) {
  sim::Machine m;
  const DWORD ff = m.AddProcess("firefox.exe", "alice");
  m.ScriptBox(IDYES);
  m.ScriptBox(IDYES);
  m.ScriptBox(IDYES, [&] { m.FindProcess(ff)->exited = true; });
  EXPECT_EQ(ConfirmBrowsersClosed(), 1);
  ASSERT_EQ(m.boxes.size(), 3u);
  for (const auto& b : m.boxes) {
    EXPECT_EQ(b.owner, nullptr);
    EXPECT_EQ(b.caption, "Information");
    EXPECT_EQ(b.style, 0x44u);
    EXPECT_EQ(b.text, BrowserPromptTexts[0]);
  }
  EXPECT_EQ(m.sleeps, (std::vector<DWORD>{500, 500, 500}));
  EXPECT_EQ(m.boxes[1].atMs - m.boxes[0].atMs, 500u);
}

TEST(BrowserGuard, NoOrUnshownBoxDeclines) {
  for (int answer : {IDNO, 0, IDCANCEL}) {
    sim::Machine m;
    m.AddProcess("360se.exe", "alice");
    m.ScriptBox(answer);
    EXPECT_EQ(ConfirmBrowsersClosed(), 0) << answer;
    EXPECT_TRUE(m.sleeps.empty());
  }
  sim::Machine m;
  m.AddProcess("360se.exe", "alice");
  m.FailAlways("MessageBoxInCodePage");
  EXPECT_EQ(ConfirmBrowsersClosed(), 0);
}

TEST(BrowserGuard, TwoBrowsersClosedOneAtATime) {
  sim::Machine m;
  const DWORD ie = m.AddProcess("IEXPLORE.EXE", "alice");
  const DWORD tw = m.AddProcess("C:\\TheWorld\\TheWorld.exe", "alice");
  m.ScriptBox(IDYES, [&] { m.FindProcess(ie)->exited = true; });
  m.ScriptBox(IDYES, [&] { m.FindProcess(tw)->exited = true; });
  EXPECT_EQ(ConfirmBrowsersClosed(), 1);
  EXPECT_EQ(m.boxes.size(), 2u);
  EXPECT_EQ(m.callCounts["CreateToolhelp32Snapshot"], 3);
}

TEST(BrowserGuard, LanguageIsChosenAgainBeforeEachPrompt) {
  sim::Machine m;
  const DWORD ff = m.AddProcess("Maxthon.exe", "alice");
  m.langId = 0x0409;
  m.ScriptBox(IDYES, [&] { m.langId = 0x0C04; });
  m.ScriptBox(IDYES, [&] { m.FindProcess(ff)->exited = true; });
  EXPECT_EQ(ConfirmBrowsersClosed(), 1);
  ASSERT_EQ(m.boxes.size(), 2u);
  EXPECT_EQ(m.boxes[0].text, BrowserPromptTexts[1]);
  EXPECT_EQ(m.boxes[1].text, BrowserPromptTexts[2]);
  EXPECT_EQ(m.boxes[0].codePage, 0u);  // ASCII: read alike in every ANSI code page
  EXPECT_EQ(m.boxes[1].codePage, 950u);
}

// Which processes count as a running browser: the eleven names (case
// ignored), the first 800 processes of the user only, and the owner compared
// with the program's own owner, case ignored, a failed lookup giving "".
TEST(BrowserGuard, NamesCapacityAndOwnerComparison) {
  const char* const names[] = {"iexplore.EXE", "SogouExplorer.exe", "360SE.exe", "maxthon.exe",
                               "FIREFOX.exe",  "qqbrowser.exe",     "ttraveler.exe", "safari.EXE",
                               "avant.exe",    "RUIYING.exe",       "theworld.exe"};
  struct Case {
    std::string exe;
    int fillers;        // user processes before it (the program itself is one more)
    std::string selfOwner;
    int failLookup;     // 0 none, 1 the browser's account, 2 the program's, 3 both
    bool seen;
  };
  std::vector<Case> cases;
  for (const char* n : names) cases.push_back({std::string("C:\\x\\") + n, 0, "alice", 0, true});
  cases.push_back({"chrome.exe", 0, "alice", 0, false});
  cases.push_back({"firefox.exe", 798, "alice", 0, true});   // entry 800
  cases.push_back({"firefox.exe", 799, "alice", 0, false});  // entry 801: not seen
  cases.push_back({"firefox.exe", 0, "ALICE", 0, true});
  cases.push_back({"firefox.exe", 0, "alice", 1, false});
  cases.push_back({"firefox.exe", 0, "alice", 2, false});
  cases.push_back({"firefox.exe", 0, "alice", 3, false});  // no account of ours: nothing is ours
  cases.push_back({"firefox.exe", 0, "CORP\\alice", 0, false});  // our name, another SID
  for (const Case& c : cases) {
    sim::Machine m;
    m.FindProcess(m.currentPid)->owner = c.selfOwner;
    for (int i = 0; i < c.fillers; ++i) m.AddProcess("filler.exe", "alice");
    m.AddProcess(c.exe, "alice");
    // The snapshot reads our account, then every process's; the test of the
    // match reads ours again, then the browser's.
    const int snapshotLookups = c.fillers + 3;
    if (c.failLookup & 1) m.FailNth("GetTokenInformation", snapshotLookups + 2);
    if (c.failLookup & 2) m.FailNth("GetTokenInformation", snapshotLookups + 1);
    m.ScriptBox(IDNO);
    EXPECT_EQ(ConfirmBrowsersClosed(), c.seen ? 0 : 1)
        << c.exe << " after " << c.fillers << ", own owner " << c.selfOwner << ", failed " << c.failLookup;
    EXPECT_EQ(m.boxes.size(), c.seen ? 1u : 0u);
  }
}

// A name Toolhelp delivers without its zero is read as its first 259 bytes.
TEST(BrowserGuard, ExeNameWithoutItsZeroEndsWithinItsField) {
  sim::Machine m;
  const std::string name = "C:\\" + std::string(244, 'd') + "\\firefox.exe";  // 259 bytes
  ASSERT_EQ(name.size(), 259u);
  m.AddProcess(name + "X", "alice");  // 260 bytes: the field holds no zero
  m.AddProcess("notepad.exe", "alice");
  m.ScriptBox(IDNO);
  EXPECT_EQ(ConfirmBrowsersClosed(), 0);
}
