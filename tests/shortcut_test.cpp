#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "fsclean/shortcut.h"
#include "tests/sim/machine.h"

namespace {
const std::string kDesktop = "C:\\Documents and Settings\\All Users\\Desktop";

bool AllUnder(const sim::Machine& m, const std::string& root) {
  for (const auto& a : m.log) {
    if (a.target.compare(0, root.size(), root) != 0) return false;
    if (a.target.size() > root.size() && a.target[root.size()] != '\\') return false;
  }
  return true;
}
}  // namespace

TEST(RemoveShortcut, BareNameDeletesShortcutNotifiesAndTouchesNoFolder) {
  sim::Machine m;
  m.AddFile(kDesktop + "\\USBKey MANAGE OF KESTOVA.lnk", FILE_ATTRIBUTE_READONLY);
  m.AddFile(kDesktop + "\\Other.lnk");
  RemoveShortcutAndFolders("\\USBKey MANAGE OF KESTOVA.lnk", CSIDL_COMMON_DESKTOPDIRECTORY);
  EXPECT_EQ(m.LogLines(), (std::vector<std::string>{
                              "SetFileAttributes " + kDesktop + "\\USBKey MANAGE OF KESTOVA.lnk 0x80",
                              "DeleteFile " + kDesktop + "\\USBKey MANAGE OF KESTOVA.lnk",
                              "SHChangeNotify " + kDesktop + " event=0x1000 flags=0x1001 item2=null",
                          }));
  EXPECT_TRUE(m.Exists(kDesktop + "\\Other.lnk"));
}

TEST(RemoveShortcut, FolderLevelsInnermostFirstAndAtMostTwo) {
  const struct {
    const char* name;
    std::vector<std::string> removed;  // folders removed, in order
    std::vector<std::string> kept;
  } cases[] = {
      {"\\A\\n.lnk", {"\\A"}, {}},
      {"\\A\\B\\n.lnk", {"\\A\\B", "\\A"}, {}},
      {"\\A\\B\\X\\n.lnk", {"\\A\\B\\X", "\\A\\B"}, {"\\A"}},
  };
  for (const auto& c : cases) {
    sim::Machine m;
    m.AddFile(kDesktop + c.name);
    RemoveShortcutAndFolders(c.name, CSIDL_COMMON_DESKTOPDIRECTORY);
    std::vector<std::string> removed;
    for (const auto& a : m.log)
      if (a.op == "RemoveDirectory") removed.push_back(a.target.substr(kDesktop.size()));
    EXPECT_EQ(removed, c.removed) << c.name;
    for (const auto& k : c.kept) EXPECT_TRUE(m.Exists(kDesktop + k)) << k;
    EXPECT_TRUE(m.Exists(kDesktop));
    EXPECT_TRUE(AllUnder(m, kDesktop)) << c.name;
  }
}

TEST(RemoveShortcut, MissingShortcutStillNotifies) {
  sim::Machine m;
  RemoveShortcutAndFolders("\\gone.lnk", CSIDL_COMMON_DESKTOPDIRECTORY);
  ASSERT_EQ(m.log.size(), 1u);
  EXPECT_EQ(m.log[0].op, "SHChangeNotify");
}

TEST(RemoveShortcut, UnknownSpecialFolderDoesNothingAtAll) {
  sim::Machine m;
  m.AddFile("C:\\A\\n.lnk");
  m.AddFile("C:\\n.lnk");
  m.FailAlways("SHGetSpecialFolderPathA");
  RemoveShortcutAndFolders("\\A\\n.lnk", CSIDL_COMMON_DESKTOPDIRECTORY);
  RemoveShortcutAndFolders("\\n.lnk", CSIDL_COMMON_DESKTOPDIRECTORY);
  EXPECT_TRUE(m.log.empty());
  EXPECT_TRUE(m.Exists("C:\\n.lnk"));
}

TEST(RemoveShortcut, Windows9xUsesFixedFolderOnTheSystemDrive) {
  sim::Machine m;
  m.platformId = VER_PLATFORM_WIN32_WINDOWS;
  m.systemDir = "D:\\WINDOWS\\SYSTEM";
  m.AddFile("D:\\WINDOWS\\ALL Users\\Desktop\\x.lnk");
  m.AddFile("D:\\WINDOWS\\Start Menu\\Programs\\G\\y.lnk");
  RemoveShortcutAndFolders("\\x.lnk", CSIDL_COMMON_DESKTOPDIRECTORY);
  RemoveShortcutAndFolders("\\G\\y.lnk", CSIDL_COMMON_PROGRAMS);
  EXPECT_FALSE(m.Exists("D:\\WINDOWS\\ALL Users\\Desktop\\x.lnk"));
  EXPECT_FALSE(m.Exists("D:\\WINDOWS\\Start Menu\\Programs\\G"));
  EXPECT_TRUE(m.Exists("D:\\WINDOWS\\Start Menu\\Programs"));
}

TEST(RemoveShortcut, TrailByte5CTrimsToALoneLeadByteAndNoFolderIsTouched) {
  sim::Machine m;
  m.acp = 950;
  // 0xA5 0x5C is one Big5 character; the byte-wise trim leaves "\<0xA5>",
  // which Windows' conversion would shorten to the Desktop folder itself.
  const std::string name = "\\\xA5\x5C.lnk";
  m.AddFile(kDesktop + name);
  m.AddFile(kDesktop + "\\Other.lnk");
  RemoveShortcutAndFolders(name.c_str(), CSIDL_COMMON_DESKTOPDIRECTORY);
  EXPECT_FALSE(m.Exists(kDesktop + name));
  EXPECT_TRUE(m.Exists(kDesktop + "\\Other.lnk"));
  for (const auto& a : m.log) EXPECT_TRUE(a.op == "DeleteFile" || a.op == "SetFileAttributes" || a.op == "SHChangeNotify");
}

// Random names from the pieces that path resolution treats specially, in both
// double-byte code pages, with links (to D:\T) at two depths below it:
// whatever the name, every change lies strictly below the Desktop folder as
// the machine resolves paths, and the folder stays.
TEST(RemoveShortcut, GuardSweepNeverActsOnOrAboveTheSpecialFolder) {
  const char* pieces[] = {"\\", "/", ".", "..", " ", "A", "b", "\xA5", "\x5C", "\xB0", ".lnk", "\\x.lnk", "L"};
  std::mt19937 rng(20261207);
  int names = 0, actedBelow = 0;
  for (UINT acp : {936u, 950u}) {
    for (int i = 0; i < 2000; ++i, ++names) {
      std::string name = (rng() % 8 == 0) ? "" : "\\";
      for (int n = 1 + rng() % 7; n > 0; --n) name += pieces[rng() % (sizeof pieces / sizeof *pieces)];
      sim::Machine m;
      m.acp = acp;
      m.AddFile(kDesktop + "\\A\\b\\x.lnk");
      m.AddFile(kDesktop + "\\keep.lnk");
      m.AddFile("D:\\T\\keep.txt");
      m.AddLink(kDesktop + "\\L", "D:\\T");
      m.AddLink(kDesktop + "\\A\\L", "D:\\T");
      m.AddFile("C:\\Documents and Settings\\All Users\\keep.txt");
      m.AddFile("C:\\Documents and Settings\\All Users\\DesktopA\\keep.txt");
      RemoveShortcutAndFolders(name.c_str(), CSIDL_COMMON_DESKTOPDIRECTORY);
      const std::string below = m.Fold(kDesktop) + "\\";
      bool acted = false;
      for (const auto& a : m.log) {
        if (a.op == "SHChangeNotify") continue;
        const std::string t = m.Fold(m.Normalize(a.target));
        ASSERT_TRUE(t.size() > below.size() && t.compare(0, below.size(), below) == 0)
            << "name " << name << ": " << a.ToString();
        acted = acted || a.op != "SetFileAttributes";
      }
      actedBelow += acted || m.callCounts["FindFirstFileA"] > 0;
      ASSERT_TRUE(m.Exists(kDesktop)) << name;
      ASSERT_TRUE(m.Exists("C:\\Documents and Settings\\All Users\\keep.txt")) << name;
      ASSERT_TRUE(m.Exists("C:\\Documents and Settings\\All Users\\DesktopA\\keep.txt")) << name;
    }
  }
  std::printf("guard sweep: %d names, %d acted below the Desktop folder, none on or above it\n", names,
              actedBelow);
  // The sweep reaches the folder steps, not only refusals (a folder that is
  // not there is not listed, so most names act on the shortcut alone).
  EXPECT_GT(actedBelow, names / 200);
}

TEST(RemoveShortcut, NamesThatWouldLeaveTheSpecialFolderRemoveNoFolder) {
  for (const char* name : {"\\..\\x.lnk", "\\\\x.lnk", "\\A\\..\\..\\x.lnk"}) {
    sim::Machine m;
    m.AddFile("C:\\Documents and Settings\\All Users\\keep.txt");
    RemoveShortcutAndFolders(name, CSIDL_COMMON_DESKTOPDIRECTORY);
    for (const auto& a : m.log) {
      EXPECT_NE(a.op, "RemoveDirectory") << name;
      EXPECT_NE(a.op, "ScheduleDelete") << name;
    }
    EXPECT_TRUE(m.Exists("C:\\Documents and Settings\\All Users\\keep.txt"));
  }
}

TEST(RemoveShortcut, TooLongForItsBufferNothingHappens) {
  sim::Machine m;
  // special folder (44 bytes) + name must stay below 500 bytes.
  const std::string name = "\\" + std::string(500 - kDesktop.size() - 1, 'n');
  RemoveShortcutAndFolders(name.c_str(), CSIDL_COMMON_DESKTOPDIRECTORY);
  EXPECT_TRUE(m.log.empty());
}
