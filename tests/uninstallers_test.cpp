#include <gtest/gtest.h>

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
      EXPECT_EQ(l.parameters, " /S");
      EXPECT_EQ(l.fMask, 0x440u);
      EXPECT_EQ(l.nShow, 5);
      EXPECT_EQ(l.cbSize, sizeof(SHELLEXECUTEINFOA));
      EXPECT_EQ(l.hwnd, nullptr);
      EXPECT_TRUE(l.verbNull && l.dirNull);
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

TEST(LeftoverUninstallers, LaunchWithoutProcessHandleIsNotWaitedFor) {
  sim::Machine m;
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
