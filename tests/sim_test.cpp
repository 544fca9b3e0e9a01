// The simulated machine's own behaviour where it is not obvious.
#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "tests/sim/machine.h"

TEST(Simulator, PathsAndKeysCompareWithoutCaseButKeepTrailBytes) {
  sim::Machine m;
  m.AddFile("C:\\Data\\File.TXT");
  EXPECT_TRUE(m.Exists("c:\\data\\file.txt"));
  EXPECT_FALSE(m.Exists("C:\\DATA\\FILE.txt\\"));  // a trailing separator names a folder
  EXPECT_TRUE(m.Exists("C:/data/./x/../FILE.txt. "));
  // 0x82 0x41 and 0x82 0x61 are two different double-byte characters.
  m.AddFile("C:\\Data\\\x82\x41.txt");
  EXPECT_FALSE(m.Exists("C:\\Data\\\x82\x61.txt"));
  m.AddKey("SOFTWARE\\Vendor\\UnInstall\\X");
  EXPECT_TRUE(m.KeyExists("software\\vendor\\uninstall\\x"));
}

TEST(Simulator, LockedFilesResistDeletionAndMayOrMayNotMove) {
  sim::Machine m;
  m.AddFile("C:\\a\\held.dll");
  m.AddFile("C:\\a\\pinned.dll");
  m.Lock("C:\\a\\held.dll", true);
  m.Lock("C:\\a\\pinned.dll", false);
  EXPECT_FALSE(pf::DeleteFileA("C:\\a\\held.dll"));
  EXPECT_TRUE(pf::MoveFileExA("C:\\a\\held.dll", "C:\\TEMP\\x.tmp", MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(pf::MoveFileExA("C:\\a\\pinned.dll", "C:\\TEMP\\y.tmp", MOVEFILE_REPLACE_EXISTING));
  m.AddFile("D:\\b\\f.dll");
  EXPECT_FALSE(pf::MoveFileExA("D:\\b\\f.dll", "C:\\TEMP\\z.tmp", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(pf::GetLastError(), static_cast<DWORD>(ERROR_NOT_SAME_DEVICE));
}

TEST(Simulator, RestartAppliesQueueInOrderAndLeavesNonEmptyFolders) {
  sim::Machine m;
  m.AddFile("C:\\p\\locked.dll");
  m.Lock("C:\\p\\locked.dll", false);
  m.AddFile("C:\\q\\keep.txt");
  ASSERT_TRUE(pf::MoveFileExA("C:\\p\\locked.dll", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  ASSERT_TRUE(pf::MoveFileExA("C:\\p", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  ASSERT_TRUE(pf::MoveFileExA("C:\\q", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  m.Restart();
  EXPECT_FALSE(m.Exists("C:\\p\\locked.dll"));
  EXPECT_FALSE(m.Exists("C:\\p"));  // empty by the time its turn came
  EXPECT_TRUE(m.Exists("C:\\q\\keep.txt"));
  EXPECT_TRUE(m.Exists("C:\\q"));
}

TEST(Simulator, FolderRemovalNeedsAnEmptyFolderAndKeyDeletionNeedsNoSubkeys) {
  sim::Machine m;
  m.AddFile("C:\\f\\x");
  EXPECT_FALSE(pf::RemoveDirectoryA("C:\\f"));
  m.AddKey("SOFTWARE\\K\\Sub");
  EXPECT_NE(pf::RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\K"), ERROR_SUCCESS);
  EXPECT_EQ(pf::SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\K"), ERROR_SUCCESS);
  EXPECT_FALSE(m.KeyExists("SOFTWARE\\K\\Sub"));
}

// MoveFileExA with MOVEFILE_REPLACE_EXISTING replaces an existing file with a
// file or a whole folder; an existing folder is never replaced.
TEST(Simulator, FolderReplacesAnExistingFileWithEverythingInIt) {
  sim::Machine m;
  m.AddFile("C:\\K\\sub\\inner.txt");
  m.AddFile("C:\\TEMP\\_@1.tmp");
  m.AddDir("C:\\TEMP\\dir");
  EXPECT_FALSE(pf::MoveFileExA("C:\\K\\sub", "C:\\TEMP\\dir", MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(pf::MoveFileExA("C:\\K\\sub", "C:\\K\\sub\\in", 0));
  EXPECT_FALSE(pf::MoveFileExA("C:\\K\\sub", "D:\\sub", MOVEFILE_COPY_ALLOWED));
  EXPECT_TRUE(pf::MoveFileExA("C:\\K\\sub", "C:\\TEMP\\_@1.tmp", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(m.Attributes("C:\\TEMP\\_@1.tmp"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_TRUE(m.Exists("C:\\TEMP\\_@1.tmp\\inner.txt"));
  EXPECT_FALSE(m.Exists("C:\\K\\sub"));
}

TEST(Simulator, FaultsFireOnTheNthCallOrAlways) {
  sim::Machine m;
  m.AddFile("C:\\a");
  m.AddFile("C:\\b");
  m.FailNth("DeleteFileA", 1);
  EXPECT_FALSE(pf::DeleteFileA("C:\\a"));
  EXPECT_TRUE(pf::DeleteFileA("C:\\a"));
  m.FailAlways("DeleteFileA");
  EXPECT_FALSE(pf::DeleteFileA("C:\\b"));
  EXPECT_TRUE(m.Exists("C:\\b"));
}
