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
  m.FailAlways("MessageBoxA");
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
}
