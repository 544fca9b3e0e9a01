#include <gtest/gtest.h>

#include <string>

#include "app/ui_logic.h"
#include "tests/sim/machine.h"

TEST(AppLogic, SystemCommandsInTheAboutRangeOpenTheAboutBox) {
  for (unsigned id = 0x0010; id <= 0x001F; ++id) EXPECT_TRUE(IsAboutCommand(id)) << id;
  EXPECT_FALSE(IsAboutCommand(0x000F));
  EXPECT_FALSE(IsAboutCommand(0x0020));
  EXPECT_FALSE(IsAboutCommand(0xF060));  // SC_CLOSE
  EXPECT_FALSE(IsAboutCommand(0xF010));  // SC_MOVE
}

TEST(AppLogic, MinimisedIconPositionTruncatesTowardZero) {
  const struct {
    int client, expected;
  } cases[] = {{36, 2}, {35, 2}, {33, 1}, {32, 0}, {0, -15}, {31, 0}, {1, -15}};
  for (const auto& c : cases) EXPECT_EQ(CentredIconOrigin(c.client, 32), c.expected) << c.client;
}

TEST(AppLogic, AnsiWindowCallsOnlyOnWindows9x) {
  sim::Machine m;
  EXPECT_FALSE(UsesAnsiWindowCalls());  // NT
  m.platformId = VER_PLATFORM_WIN32_WINDOWS;
  EXPECT_TRUE(UsesAnsiWindowCalls());
  m.FailAlways("GetVersionExA");  // unknown system: the W calls, as on NT
  EXPECT_FALSE(UsesAnsiWindowCalls());
  EXPECT_EQ(m.callCounts["GetVersionExA"], 3);
}

TEST(AppLogic, InstanceMutexInTheLogonSessionWhereThereAreSessions) {
  EXPECT_STREQ(InstanceMutexName(VER_PLATFORM_WIN32_NT, 5), "Local\\Brannoch.CleanupDialog");
  for (DWORD platform : {VER_PLATFORM_WIN32_NT, VER_PLATFORM_WIN32_WINDOWS})  // NT 4, 9x
    EXPECT_STREQ(InstanceMutexName(platform, 4), "Brannoch.CleanupDialog");
}

// One letter per user action or run event, and what the dialog does:
// s = click or Enter, c = Cancel/Esc/Alt+F4/close box, a = About, e = the run ends
// (x: the same message from another thread). Answers: R run starts, - ignored,
// X dialog ends, A About opens, w held, E run ended.
TEST(AppLogic, RunGateHoldsTheUsersRequestsUntilTheRunEnds) {
  const struct {
    const char* events;
    const char* answers;
  } cases[] = {
      {"c", "X"},                // idle: Cancel ends at once
      {"a", "A"},                // idle: About opens
      {"ses", "RER"},            // a run after a run
      {"sse", "R-E"},            // second click during a run ignored
      {"sce", "RwX"},            // close during the run: carried out at its end
      {"scccce", "RwwwwX"},      // many close requests: one end
      {"sae", "R-E"},            // About during a run does not open
      {"scae", "Rw-X"},
      {"sceec", "RwX-X"},        // (a stray end changes nothing)
      {"seas", "REAR"},          // after the run all is as before
      {"e", "-"},                // an end with no run in progress
      {"xc", "-X"},
      {"sxs", "R--"},            // an end from another thread: the run goes on
      {"sxae", "R--E"},
      {"scxe", "Rw-X"},          // ... and the held close waits for the real end
  };
  for (const auto& c : cases) {
    RunGate gate;
    std::string got;
    const unsigned ui = 7, runner = 12;
    const char ends[] = {'-', 'E', 'X'};  // RunEnd: ignored, ended, ended and close
    for (const char* e = c.events; *e; ++e) {
      switch (*e) {
        case 's': got += gate.Start(ui) ? (gate.SetRunner(runner), 'R') : '-'; break;
        case 'c': got += gate.RequestClose() ? 'X' : 'w'; break;
        case 'a': got += gate.AboutAllowed() ? 'A' : '-'; break;
        case 'e': got += ends[static_cast<int>(gate.Finish(runner))]; break;
        case 'x': got += ends[static_cast<int>(gate.Finish(ui))]; break;
      }
    }
    EXPECT_EQ(got, c.answers) << c.events;
  }
}

TEST(AppLogic, WaitCursorForTheWholeRunOverEveryPartButTheDisabledAnswer) {
  RunGate gate;
  const int hitTests[] = {1 /* HTCLIENT */, 2 /* HTCAPTION */, 20 /* HTCLOSE */, 0 /* HTNOWHERE */};
  for (int hit : hitTests) EXPECT_FALSE(gate.WantsWaitCursor(hit)) << hit;
  gate.Start(3);
  for (int hit : hitTests) EXPECT_TRUE(gate.WantsWaitCursor(hit)) << hit;
  EXPECT_FALSE(gate.WantsWaitCursor(-2));  // HTERROR: the system beeps and shows the box
  gate.RequestClose();
  EXPECT_TRUE(gate.WantsWaitCursor(1));
  gate.Finish(3);
  for (int hit : hitTests) EXPECT_FALSE(gate.WantsWaitCursor(hit)) << hit;
}

// A second start: the first dialog brought forward, or, when none appeared, a box that says why.
TEST(AppLogic, SecondStartThatFindsNobodySaysSo) {
  sim::Machine m;
  AnswerSecondStart([] { return true; });
  AnswerSecondStart([] { return false; });
  ASSERT_EQ(m.boxes.size(), 1u);
  EXPECT_EQ(m.boxes[0].text + "|" + m.boxes[0].caption, SecondStartText + std::string("|\xCC\xE1\xCA\xBE"));  // "提示"
  EXPECT_EQ(m.boxes[0].codePage, 936u);
  EXPECT_EQ(m.boxes[0].owner, nullptr);
}

// Bar (PBST_*) and taskbar (TBPF_*) behind the final box; live regions from Windows 8 on.
TEST(AppLogic, RunEndLooksLikeItsOutcome) {
  const struct {
    RunOutcome outcome;
    WhatStays stays;
    unsigned bar, taskbar;
  } cases[] = {
      {RunOutcome::kAllRemoved, WhatStays::kNothing, 1, 2},
      {RunOutcome::kAllRemoved, WhatStays::kCloseAndRunAgain, 3, 8},
      {RunOutcome::kAllRemoved, WhatStays::kRunAgain, 3, 8},
      {RunOutcome::kAllRemoved, WhatStays::kAskAdministrator, 3, 8},
      {RunOutcome::kNotAllowed, WhatStays::kNothing, 2, 4},
      {RunOutcome::kNotAllowed, WhatStays::kCloseAndRunAgain, 2, 4},
  };
  for (const auto& c : cases) {
    const RunEndLook look = EndLookOf({c.outcome, RestartNeed::kRestart, c.stays});
    EXPECT_EQ(look.barState * 16 + look.taskbarState, c.bar * 16 + c.taskbar) << static_cast<int>(c.stays);
  }
  EXPECT_FALSE(HasLiveRegions(VER_PLATFORM_WIN32_NT, 6, 1));   // 7
  EXPECT_FALSE(HasLiveRegions(VER_PLATFORM_WIN32_WINDOWS, 6, 2));
  EXPECT_TRUE(HasLiveRegions(VER_PLATFORM_WIN32_NT, 6, 2));    // 8
  EXPECT_TRUE(HasLiveRegions(VER_PLATFORM_WIN32_NT, 10, 0));
}
