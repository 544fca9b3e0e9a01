// The entry: the DLL search is narrowed before anything else happens.
#include <gtest/gtest.h>

#include "app/startup.h"
#include "tests/sim/machine.h"

namespace {
int RunRecorded(HINSTANCE, int showCommand) {
  sim::Machine::Current().Record("Run", std::to_string(showCommand));
  return 7;
}
}  // namespace

TEST(Startup, DllSearchIsNarrowedFirstOnEverySystem) {
  const struct {
    const char* system;
    bool hasDefault, hasSetDll, defaultFails;
    DllSearch result;
    std::vector<std::string> log;
  } cases[] = {
      {"Windows 8 and later, 7 with KB2533623", true, true, false, DllSearch::kSystemDirectoryOnly,
       {"SetDefaultDllDirectories 0x800", "SetProcessMitigationPolicy RedirectionTrust 1", "GetStartupInfo self",
        "Run 10"}},
      {"XP SP1 to an unpatched 7", false, true, false, DllSearch::kWithoutCurrentDirectory,
       {"SetDllDirectory \"\"", "GetStartupInfo self", "Run 10"}},
      {"the call refused", true, true, true, DllSearch::kWithoutCurrentDirectory,
       {"SetDllDirectory \"\"", "SetProcessMitigationPolicy RedirectionTrust 1", "GetStartupInfo self", "Run 10"}},
      {"Windows 2000, XP", false, false, false, DllSearch::kUnchanged, {"GetStartupInfo self", "Run 10"}},
  };
  for (const auto& c : cases) {
    {
      sim::Machine m;
      m.hasSetDefaultDllDirectories = c.hasDefault;
      m.hasSetDllDirectory = c.hasSetDll;
      m.hasSetProcessMitigationPolicy = c.hasDefault;  // from Windows 8, as the first row
      if (c.defaultFails) m.FailAlways("SetDefaultDllDirectories");
      EXPECT_EQ(StartProgram(nullptr, RunRecorded), 7) << c.system;
      EXPECT_EQ(m.LogLines(), c.log) << c.system;
    }
    sim::Machine m;
    m.hasSetDefaultDllDirectories = c.hasDefault;
    m.hasSetDllDirectory = c.hasSetDll;
    if (c.defaultFails) m.FailAlways("SetDefaultDllDirectories");
    EXPECT_EQ(HardenDllSearch(), c.result) << c.system;
  }
}

TEST(Startup, ShowCommandComesFromStartupInfoOnlyWhenFlagged) {
  const struct {
    DWORD flags;
    WORD show;
    const char* run;
  } cases[] = {{STARTF_USESHOWWINDOW, 7, "Run 7"}, {STARTF_USESHOWWINDOW, 0, "Run 0"}, {0, 3, "Run 10"}};
  for (const auto& c : cases) {
    sim::Machine m;
    m.startupFlags = c.flags;
    m.startupShow = c.show;
    StartProgram(nullptr, RunRecorded);
    EXPECT_EQ(m.LogLines().back(), c.run) << c.flags << " " << c.show;
  }
}
