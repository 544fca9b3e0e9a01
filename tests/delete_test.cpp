#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "fsclean/delete.h"
#include "fsclean/leftovers.h"
#include "fsclean/security.h"
#include "platform/files.h"
#include "tests/sim/machine.h"

namespace {
const char kRunFolder[] = "C:\\WINDOWS\\Brannoch.pending\\";
bool StartsWith(const std::string& s, const std::string& p) { return s.compare(0, p.size(), p) == 0; }

// The "_@" names the machine holds under a folder.
std::vector<std::string> TempNamesIn(const sim::Machine& m, const std::string& folder) {
  std::vector<std::string> out;
  for (const std::string& p : m.ListAll())
    if (StartsWith(p, folder + "_@")) out.push_back(p);
  return out;
}
// The program runs from drive D:; path is a file held open but movable.
void ExeOnDWithLockedFile(sim::Machine& m, const std::string& path) {
  m.platformId = VER_PLATFORM_WIN32_WINDOWS;
  m.modulePath = "D:\\Tools\\Brannoch.exe";
  m.AddFile(m.modulePath);
  m.AddFile(path);
  m.Lock(path, true);
}
}  // namespace

TEST(DeleteOrScheduleFile, DeletableFileGoesAtOnceWithoutTemporaryName) {
  sim::Machine m;
  m.AddFile("C:\\WINDOWS\\system32\\ZenfoResv3_kstv.dll");
  EXPECT_EQ(DeleteOrScheduleFile("C:\\WINDOWS\\system32\\ZenfoResv3_kstv.dll"), 1);
  EXPECT_EQ(m.LogLines(), std::vector<std::string>{"DeleteFile C:\\WINDOWS\\system32\\ZenfoResv3_kstv.dll"});
}

// Into the run's folder in the Windows folder, where only administrators
// make names (folders another account made at the root do not matter; one of
// an earlier run's is taken and finished); handed over at the end of the run,
// each name once and then the folder, or by the next run's. The restart
// follows a link at a scheduled name as SYSTEM: none can be planted, a
// missing file schedules none.
TEST(DeleteOrScheduleFile, LockedFileMovesToTheRunsFolderWhereNoScheduledNameCanBeTakenOver) {
  sim::Machine m;
  const std::string victim = "C:\\WINDOWS\\system32\\config\\SAM", run = "C:\\WINDOWS\\Brannoch.pending";
  m.AddFile(victim);
  for (const char* taken : {"C:\\Brannoch.pending", "C:\\Brannoch.pending1", "C:\\Brannoch.pending2"}) m.AddDir(taken);
  m.AddFile(run + "\\_@1.tmp");
  m.FindNode(run)->adminOnly = true;
  m.AddFile("C:\\P\\key.dll");
  m.Lock("C:\\P\\key.dll", true);
  m.Lock(run + "\\_@1.tmp", true);
  EXPECT_EQ(DeleteOrScheduleFile("C:\\WINDOWS\\system32\\ZenfoResv3_kstv.dll"), 0);
  EXPECT_EQ(DeleteOrScheduleFile("C:\\P\\key.dll"), 1);
  EXPECT_FALSE(m.Exists("C:\\P\\key.dll"));
  EXPECT_EQ(TempNamesIn(m, run + "\\"), (std::vector<std::string>{run + "\\_@1.tmp", run + "\\_@2.tmp"}));
  for (const std::string& name : TempNamesIn(m, run + "\\")) EXPECT_FALSE(m.Plant(name, victim)) << name;
  EXPECT_TRUE(TempNamesIn(m, "C:\\TEMP\\").empty() && m.restartQueue.empty());
  m.Restart();  // cut short before the hand-over, then a hand-over refused
  for (const char* held : {"\\_@1.tmp", "\\_@2.tmp"}) m.Lock(run + held, true);
  m.FailAlways("MoveFileExA");
  ScheduleRunFolders("C:\\P");
  m.ClearFaults();
  EXPECT_TRUE(m.restartQueue.empty());
  m.AddFile(run + "\\Temp\\left.tmp", FILE_ATTRIBUTE_HIDDEN);  // an uninstaller's: hidden, yet deleted
  ScheduleRunFolders("C:\\P\\key.dll");
  EXPECT_FALSE(m.Exists(run + "\\Temp"));
  ScheduleRunFolders("C:\\WINDOWS");
  EXPECT_EQ(m.restartQueue, (std::vector<std::string>{run + "\\_@1.tmp", run + "\\_@2.tmp", run}));
  for (const std::string& name : m.restartQueue) EXPECT_FALSE(m.Plant(name, victim)) << name;
  m.Restart();
  EXPECT_TRUE(m.Exists(victim) && m.Exists("C:\\Brannoch.pending") && !m.Exists(run));
}

TEST(DeleteOrScheduleFile, ReadOnlyFileIsScheduledWritableSoTheRestartDeletesIt) {
  sim::Machine m;
  m.AddFile("C:\\WINDOWS\\system32\\ZenfoResv3E_kstv.dll", FILE_ATTRIBUTE_READONLY);
  m.Lock("C:\\WINDOWS\\system32\\ZenfoResv3E_kstv.dll", true);
  EXPECT_EQ(DeleteOrScheduleFile("C:\\WINDOWS\\system32\\ZenfoResv3E_kstv.dll"), 1);
  ScheduleRunFolders("C:\\WINDOWS\\system32");
  ASSERT_EQ(m.restartQueue.size(), 2u);
  m.Restart();
  EXPECT_FALSE(m.Exists(kRunFolder));
}

// Whom a folder's descriptor, as Windows lays it out, lets change it: only the
// administrators' own, with others reading (an inherit-only entry for what
// is made inside does not count), is closed; a truncated one is open.
TEST(Security, OnlyFoldersTheAdministratorsOwnAndAloneChangeAreClosed) {
  const struct { const char* owner; bool adminOnly, closed, nullDacl, open; } cases[] = {
      {"", true, false, false, false},  {"", false, true, false, false},     {"TI", false, true, false, false},
      {"SY", true, false, false, false}, {"", false, false, false, true},    {"user", true, false, false, true},
      {"", true, false, true, true}};
  for (const auto& c : cases) {
    sim::Machine m;
    m.AddDir("C:\\F");
    sim::Machine::Node* n = m.FindNode("C:\\F");
    n->owner = c.owner, n->adminOnly = c.adminOnly, n->closed = c.closed, n->nullDacl = c.nullDacl;
    DWORD sd[128];
    const long size = pf::GetItemSecurity("C:\\F", true, sd, sizeof sd);
    ASSERT_GT(size, 0);
    EXPECT_EQ(LetsOthersChange(sd, static_cast<size_t>(size)), c.open) << c.owner << c.closed;
    EXPECT_TRUE(LetsOthersChange(sd, static_cast<size_t>(size) - 1)) << c.owner << c.closed;
    EXPECT_EQ(OwnedByTrustedInstaller(sd, static_cast<size_t>(size)), std::string(c.owner) == "TI");
  }
}

// A "Brannoch.pending" found in the Windows folder is used only when no account
// but the administrators' can change it (on XP a Power User may have made
// it): a link there, one a user owns, one that lets Users add files are
// passed over, untouched, for the next free name, up to 16, then Program Files.
TEST(DeleteOrScheduleFile, ARunFolderSomeoneElseMadeIsNeverUsed) {
  enum Squat { kNone, kRuns, kLink, kUserOwned, kOpen, kAllNames };
  const std::string run = "C:\\WINDOWS\\Brannoch.pending";
  const std::pair<Squat, std::string> cases[] = {{kNone, run},           {kRuns, run},
                                                 {kLink, run + ".2"},    {kUserOwned, run + ".2"},
                                                 {kOpen, run + ".2"},    {kAllNames, "C:\\Program Files\\Brannoch.pending"}};
  for (const auto& c : cases) {
    sim::Machine m;
    m.AddFile("D:\\T\\keep.txt");
    for (int i = 1; i <= (c.first == kAllNames ? 16 : 1); ++i) {
      const std::string name = run + (i == 1 ? "" : "." + std::to_string(i));
      if (c.first == kLink) m.AddLink(name, "D:\\T");
      if (c.first == kNone || c.first == kLink) continue;
      m.AddFile(name + "\\_@1.tmp");
      m.FindNode(name)->adminOnly = c.first != kOpen && c.first != kAllNames;
      if (c.first == kUserOwned) m.FindNode(name)->owner = "user";
    }
    m.AddFile("C:\\P\\key.dll"), m.Lock("C:\\P\\key.dll", true);
    RunRecord record;
    EXPECT_EQ(DeleteOrScheduleFile("C:\\P\\key.dll", &record), c.second.empty() ? 0 : 1) << c.first;
    EXPECT_EQ(record.StayCount(), c.second.empty() ? 1u : 0u) << c.first;
    ScheduleRunFolders("C:\\P");
    const std::string moved = c.second + (c.first == kRuns ? "\\_@2.tmp" : "\\_@1.tmp");
    EXPECT_TRUE(c.second.empty() || m.restartQueue.front() == moved) << c.first;
    for (const auto& a : m.log)
      EXPECT_TRUE(c.first == kRuns || c.first == kNone || a.target.compare(0, run.size() + 1, run + "\\") != 0) << c.first << a.ToString();
    m.Restart();
    EXPECT_TRUE(m.Exists("D:\\T\\keep.txt")) << c.first;
    if (c.first != kNone && c.first != kRuns && c.first != kLink) {
      EXPECT_TRUE(m.Exists(run + "\\_@1.tmp")) << c.first;
    }
  }
}

// Without security (Windows 9x, a FAT volume) the root of the file's own
// drive; else the run's folder in the Windows folder or Program Files on the
// file's volume, and where the volume has neither, the file stays.
TEST(DeleteOrScheduleFile, TemporaryNameGoesToTheFilesOwnVolume) {
  enum { kNt, k9x, kFatD, kProgramFilesOnD };
  const std::string onD = "D:\\Program Files\\Brannoch.pending", onC = "C:\\WINDOWS\\Brannoch.pending";
  const std::tuple<const char*, int, std::vector<std::string>> cases[] = {
      {"D:\\P\\key.dll", k9x, {"D:\\_@1.tmp"}},
      {"c:\\P\\key.dll", k9x, {"c:\\_@1.tmp"}},
      {"D:\\P\\key.dll", kFatD, {"D:\\_@1.tmp"}},
      {"C:\\P\\key.dll", kNt, {onC + "\\_@1.tmp", onC}},
      {"D:\\P\\key.dll", kProgramFilesOnD, {onD + "\\_@1.tmp", onD}},
      {"D:\\P\\key.dll", kNt, {}},
      {"C:\\Mnt\\Vol\\P\\key.dll", kNt, {}}};
  for (const auto& c : cases) {
    const char* path = std::get<0>(c);
    sim::Machine m;
    if (std::get<1>(c) == k9x) m.platformId = VER_PLATFORM_WIN32_WINDOWS;
    if (std::get<1>(c) == kFatD) m.volumesWithoutAcls.insert("D:\\");
    if (std::get<1>(c) == kProgramFilesOnD) m.specialFolders[CSIDL_PROGRAM_FILES] = "D:\\Program Files";
    m.AddDir("D:\\Program Files");
    m.mountPoints.push_back("C:\\Mnt\\Vol");
    m.AddFile(path);
    m.Lock(path, true);
    RunRecord record;
    EXPECT_EQ(DeleteOrScheduleFile(path, &record), std::get<2>(c).empty() ? 0 : 1) << path;
    EXPECT_EQ(record.StayCount(), std::get<2>(c).empty() ? 1u : 0u) << path;
    EXPECT_EQ(m.Exists(path), std::get<2>(c).empty()) << path;
    EXPECT_EQ(TempNamesIn(m, "C:\\TEMP\\").size(), 0u) << path;
    ScheduleRunFolders(path);
    EXPECT_EQ(m.restartQueue, std::get<2>(c)) << path;
  }
}

TEST(DeleteOrScheduleFile, PathWithoutDriveLetterUsesTheExecutablesDrive) {
  {
    // First byte differs from the temp folder's: the root of the exe's drive,
    // where the cross-volume move fails and nothing is left behind.
    sim::Machine m;
    ExeOnDWithLockedFile(m, "C:\\Tools\\P\\x.dll");
    EXPECT_EQ(DeleteOrScheduleFile("P\\x.dll"), 0);
    EXPECT_TRUE(TempNamesIn(m, "D:\\").empty());
    for (const auto& q : m.restartQueue) EXPECT_FALSE(m.Exists(q)) << q;
  }
  {
    // A path whose first byte is the temp folder's first byte uses the temp folder.
    sim::Machine m;
    ExeOnDWithLockedFile(m, "C:\\Tools\\Cx.dll");
    EXPECT_EQ(DeleteOrScheduleFile("Cx.dll"), 1);
    EXPECT_EQ(TempNamesIn(m, "C:\\TEMP\\").size(), 1u);
  }
}

TEST(DeleteOrScheduleFile, FailedMoveLeavesNoTemporaryLitter) {
  sim::Machine m;
  m.AddFile("C:\\P\\pinned.dll");
  m.Lock("C:\\P\\pinned.dll", false);
  EXPECT_EQ(DeleteOrScheduleFile("C:\\P\\pinned.dll"), 0);
  EXPECT_TRUE(m.Exists("C:\\P\\pinned.dll"));
  EXPECT_TRUE(TempNamesIn(m, "C:\\TEMP\\").empty());
  ScheduleRunFolders("C:\\P");  // nothing scheduled; the empty folder goes now
  EXPECT_TRUE(m.restartQueue.empty() && !m.Exists(kRunFolder));
}

// Without security: the file moves, writable, onto a free name without
// replacing anything (an earlier run's name is passed over), and only then is
// that name scheduled; a refused scheduling moves it back.
TEST(DeleteOrScheduleFile, WithoutSecurityTheMoveComesFirstAndNeverOntoATakenName) {
  sim::Machine m;
  m.platformId = VER_PLATFORM_WIN32_WINDOWS;
  m.AddFile("C:\\TEMP\\_@1.tmp", FILE_ATTRIBUTE_READONLY);
  m.AddFile("C:\\P\\key.dll", FILE_ATTRIBUTE_READONLY);
  m.Lock("C:\\P\\key.dll", true);
  EXPECT_EQ(DeleteOrScheduleFile("C:\\P\\key.dll"), 1);
  EXPECT_EQ(m.LogLines(), (std::vector<std::string>{"SetFileAttributes C:\\P\\key.dll 0x80",
                                                    "MoveFile C:\\P\\key.dll C:\\TEMP\\_@2.tmp",
                                                    "ScheduleDelete C:\\TEMP\\_@2.tmp"}));
  EXPECT_EQ(m.Attributes("C:\\TEMP\\_@1.tmp"), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));

  // Scheduling refused: the file is back in its place.
  m.AddFile("C:\\P\\b.dll");
  m.Lock("C:\\P\\b.dll", true);
  m.FailNth("MoveFileExA", 4);
  EXPECT_EQ(DeleteOrScheduleFile("C:\\P\\b.dll"), 0);
  EXPECT_TRUE(m.Exists("C:\\P\\b.dll"));
  EXPECT_EQ(m.restartQueue, std::vector<std::string>{"C:\\TEMP\\_@2.tmp"});
}

TEST(DeleteOrScheduleFile, MissingFileOrNoTemporaryNameGivesZero) {
  sim::Machine m;
  EXPECT_EQ(DeleteOrScheduleFile("C:\\nothing.dll"), 0);
  EXPECT_EQ(DeleteOrScheduleFile("C:\\no\\nothing.dll"), 0);
  ScheduleRunFolders("C:\\");
  EXPECT_TRUE(m.log.empty() && m.restartQueue.empty()) << m.log[0].ToString();
  m.AddFile("C:\\P\\a.dll");
  m.Lock("C:\\P\\a.dll", true);
  m.FailAlways("GetTempFileNameA");
  EXPECT_EQ(DeleteOrScheduleFile("C:\\P\\a.dll"), 0);
  EXPECT_TRUE(m.Exists("C:\\P\\a.dll"));
}

TEST(EmptyAndRemoveFolder, EmptiesOneLevelAndRemovesTheFolder) {
  sim::Machine m;
  m.AddFile("C:\\Program Files\\Kestovanet\\a.exe", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  m.AddFile("C:\\Program Files\\Kestovanet\\b.dll");
  EXPECT_EQ(EmptyAndRemoveFolder("C:\\Program Files\\Kestovanet"), 1);
  EXPECT_FALSE(m.Exists("C:\\Program Files\\Kestovanet"));
  EXPECT_TRUE(m.Exists("C:\\Program Files"));
  EXPECT_TRUE(m.restartQueue.empty());
}

TEST(EmptyAndRemoveFolder, LockedMovableFilesLeaveAndTheFolderGoesNow) {
  sim::Machine m;
  m.AddFile("C:\\Program Files\\Kestovanet\\held.dll");
  m.Lock("C:\\Program Files\\Kestovanet\\held.dll", true);
  EXPECT_EQ(EmptyAndRemoveFolder("C:\\Program Files\\Kestovanet"), 1);
  EXPECT_FALSE(m.Exists("C:\\Program Files\\Kestovanet"));
  ScheduleRunFolders("C:\\Program Files");
  ASSERT_EQ(m.restartQueue.size(), 2u);
  EXPECT_TRUE(StartsWith(m.restartQueue[0], kRunFolder + std::string("_@")));
  m.Restart();
  EXPECT_FALSE(m.Exists(kRunFolder));
}

// The running exe keeps its folder: not the run's to hand over or take.
TEST(EmptyAndRemoveFolder, OwnExeStaysAndItsFolderIsLeftAsItWas) {
  sim::Machine m;
  m.modulePath = "C:\\Program Files\\Kestovanet\\Brannoch.exe";
  m.AddFile(m.modulePath);
  m.AddFile("C:\\Program Files\\Kestovanet\\old.exe");
  EXPECT_EQ(EmptyAndRemoveFolder("C:\\Program Files\\Kestovanet"), 1);
  EXPECT_TRUE(m.Exists(m.modulePath));
  EXPECT_FALSE(m.Exists("C:\\Program Files\\Kestovanet\\old.exe"));
  EXPECT_TRUE(m.restartQueue.empty());
  EXPECT_FALSE(m.FindNode("C:\\Program Files\\Kestovanet")->adminOnly);
  EXPECT_TRUE(TempNamesIn(m, "C:\\TEMP\\").empty());
}

// A folder can replace the empty temporary file (as on Windows), so a
// subfolder must never reach the move: nothing of it may end under "_@".
TEST(EmptyAndRemoveFolder, SubfolderIsSkippedAndStaysWithItsFolderAfterRestart) {
  for (const char* exe : {"C:\\Tools\\Brannoch.exe", "D:\\Tools\\Brannoch.exe"}) {
    sim::Machine m;
    m.modulePath = exe;
    m.AddFile(exe);
    m.AddFile("C:\\K\\sub\\inner.txt");
    m.AddFile("C:\\K\\top.txt");
    EXPECT_EQ(EmptyAndRemoveFolder("C:\\K"), 1);
    for (const auto& a : m.log) EXPECT_EQ(a.target.find("C:\\K\\sub"), std::string::npos) << a.ToString();
    EXPECT_FALSE(m.Exists("C:\\K\\top.txt"));
    // Not the run's: neither scheduled nor taken (the restart would not remove
    // it, and its rights would lock users out of the subfolder for good).
    EXPECT_TRUE(m.restartQueue.empty());
    EXPECT_FALSE(m.FindNode("C:\\K")->adminOnly);
    m.Restart();
    EXPECT_TRUE(m.Exists("C:\\K\\sub\\inner.txt"));
    for (const std::string& p : m.ListAll()) EXPECT_EQ(p.find("_@"), std::string::npos) << p;
  }
}

TEST(DeleteOrScheduleFile, AFolderIsNeverMoved) {
  sim::Machine m;
  m.AddFile("C:\\K\\sub\\inner.txt");
  EXPECT_EQ(DeleteOrScheduleFile("C:\\K\\sub"), 0);
  EXPECT_TRUE(m.Exists("C:\\K\\sub\\inner.txt"));
  EXPECT_TRUE(m.restartQueue.empty());
  EXPECT_TRUE(TempNamesIn(m, "C:\\TEMP\\").empty());
}

// Nothing there: nothing is handed to the restart, which would otherwise
// delete whatever a new edition made at that name meanwhile.
TEST(EmptyAndRemoveFolder, MissingFolderIsNeitherListedNorScheduled) {
  sim::Machine m;
  EXPECT_EQ(EmptyAndRemoveFolder("C:\\Program Files\\Kestovanet"), 1);
  EXPECT_TRUE(m.restartQueue.empty());
  EXPECT_EQ(m.callCounts["RemoveDirectoryA"] + m.callCounts["FindFirstFileA"], 0);
}

TEST(EmptyAndRemoveFolder, ListingFailureDeletesNothingAndSchedulesNothing) {
  sim::Machine m;
  m.AddFile("C:\\K\\a.txt");
  m.FailAlways("FindFirstFileA");
  EXPECT_EQ(EmptyAndRemoveFolder("C:\\K"), 0);
  EXPECT_TRUE(m.Exists("C:\\K\\a.txt"));
  EXPECT_TRUE(m.restartQueue.empty());
  EXPECT_EQ(m.OpenHandles(), 0u);
}

TEST(EmptyAndRemoveFolder, EntryPathOneByteTooLongIsLeftAlone) {
  sim::Machine m;
  const std::string folder = "C:\\" + std::string(240, 'f');  // 243 bytes
  // folder + '\' + name = 259 bytes fits; one more byte does not.
  const std::string fits = folder + "\\" + std::string(15, 'a');
  const std::string tooLong = folder + "\\" + std::string(16, 'b');
  m.AddFile(fits);
  m.AddFile(tooLong);
  EmptyAndRemoveFolder(folder.c_str());
  EXPECT_FALSE(m.Exists(fits));
  EXPECT_TRUE(m.Exists(tooLong));
  for (const auto& a : m.log) EXPECT_NE(a.target, tooLong) << a.ToString();
  for (const auto& a : m.log) EXPECT_EQ(a.target.compare(0, folder.size(), folder), 0) << a.ToString();
}

// Links are never followed: one inside the folder (to a folder or a file),
// the folder itself (only the link goes), one on the way to it, or one the
// folder turns into while it is emptied (on Windows 9x too).
TEST(EmptyAndRemoveFolder, LinksAreNeverFollowed) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"C:\\K", {"SetFileAttributes C:\\K\\f 0x80", "DeleteFile C:\\K\\f", "SetFileAttributes C:\\K 0x80"}},
      {"C:\\J", {"RemoveDirectory C:\\J"}},
      {"C:\\J\\sub", {}},
      {"C:\\M", {"SetFileAttributes C:\\M\\a 0x80", "DeleteFile C:\\M\\a"}}};
  for (const auto& c : cases) {
    sim::Machine m;
    if (std::string(c.first) == "C:\\M") m.platformId = VER_PLATFORM_WIN32_WINDOWS;  // no identity
    for (const char* f : {"D:\\T\\a", "D:\\T\\b", "D:\\T\\sub\\x", "C:\\K\\f", "C:\\M\\a", "C:\\M\\b"}) m.AddFile(f);
    m.AddFile("C:\\K\\flink", FILE_ATTRIBUTE_REPARSE_POINT);
    for (const char* link : {"C:\\K\\dir", "C:\\J"}) m.AddLink(link, "D:\\T");
    m.beforeCall = [&m](const std::string& call) {  // after C:\M\a is deleted
      if (call != "FindNextFileA" || m.callCounts["DeleteFileA"] != 1 || !m.Exists("C:\\M\\b")) return;
      m.nodes.erase(m.Fold("C:\\M\\b"));
      m.nodes.erase(m.Fold("C:\\M"));
      m.AddLink("C:\\M", "D:\\T");
    };
    EmptyAndRemoveFolder(c.first);
    EXPECT_EQ(m.LogLines(), c.second) << c.first;
    EXPECT_TRUE(m.Exists("D:\\T\\a") && m.Exists("D:\\T\\b") && m.Exists("D:\\T\\sub\\x")) << c.first;
  }
}

// An ACL that refuses DELETE: the edition's file is taken and goes; a folder
// that still holds a subfolder is left as it was; one that is the run's but
// cannot be taken stays, and is told.
TEST(EmptyAndRemoveFolder, RefusedFoldersAreLeftAndOnlyTheRunsOwnAreTold) {
  sim::Machine m;
  m.AddFile("C:\\K\\a.dll");
  m.AddFile("C:\\K\\sub\\b.txt");
  for (const char* p : {"C:\\K", "C:\\K\\a.dll"}) m.FindNode(p)->deleteDenied = true;
  m.AddFile("C:\\L\\c.txt");
  m.FindNode("C:\\L")->notOwnable = true;
  m.Hold("C:\\L\\c.txt", m.AddProcess("viewer.exe", "alice"), true);
  RunRecord record;
  EXPECT_EQ(EmptyAndRemoveFolder("C:\\K", &record), 1);
  EXPECT_FALSE(m.Exists("C:\\K\\a.dll"));
  EXPECT_EQ(record.StayCount(), 0u);
  EXPECT_EQ(EmptyAndRemoveFolder("C:\\L", &record), 0);
  ASSERT_EQ(record.StayCount(), 1u);
  EXPECT_EQ(record.Item(0).why, StayReason::kNotTaken);
  EXPECT_TRUE(m.restartQueue.empty() && !m.FindNode("C:\\K")->adminOnly);
}

// How a folder ends, with a chain of folders that lets other accounts change
// it (XP: Power Users may modify the program folder) and one that does not
// (Vista on): removed now; handed to the restart only when nothing but the
// run's own leftovers remain (names it deleted, still listed until their
// holder lets go; a file it handed over by name), made the administrators'
// first only where it is open to others; anything else leaves the folder
// exactly as it was, and is nothing that stays.
TEST(EmptyAndRemoveFolder, FolderEndingsTakeAndScheduleOnlyWhatIsTheRunsOwn) {
  const std::string f = "C:\\Program Files\\Kestovanet3.0";
  enum Ending { kEmpty, kPending, kPendingPosix, kSubfolder, kOtherFile, kOwnExe, kHeld, kListingFails };
  const struct {
    Ending ending;
    bool closed;
    std::vector<std::string> queue;
    bool taken;
    unsigned stays;
  } cases[] = {
      {kEmpty, false, {}, false, 0},        {kEmpty, true, {}, false, 0},        {kPending, false, {f}, true, 0},
      {kPending, true, {f}, false, 0},      {kPendingPosix, false, {}, false, 0}, {kSubfolder, false, {}, false, 0},
      {kSubfolder, true, {}, false, 0},     {kOtherFile, false, {}, false, 0},    {kOtherFile, true, {}, false, 0},
      {kOwnExe, false, {}, false, 0},       {kOwnExe, true, {}, false, 0},        {kHeld, false, {}, false, 1},
      {kHeld, true, {f + "\\held.dll", f}, false, 0}, {kListingFails, false, {}, false, 0},
      {kListingFails, true, {}, false, 0},
  };
  for (const auto& c : cases) {
    sim::Machine m;
    m.AddFile(f + "\\a.exe");
    m.FindNode(f)->closed = c.closed;
    m.posixDelete = c.ending == kPendingPosix;
    const DWORD viewer = m.AddProcess("viewer.exe", "alice");
    if (c.ending == kPending || c.ending == kPendingPosix) m.Hold(f + "\\a.exe", viewer, true);
    if (c.ending == kSubfolder) m.AddFile(f + "\\data\\kept.txt");
    if (c.ending == kOwnExe) m.modulePath = f + "\\Brannoch.exe", m.AddFile(m.modulePath);
    if (c.ending == kHeld) m.AddFile(f + "\\held.dll"), m.Lock(f + "\\held.dll", false);
    if (c.ending == kListingFails) m.FailAlways("FindFirstFileA");
    RunRecord record;
    if (c.ending == kOtherFile) {
      m.AddFile(f + "\\other.lnk");
      RemoveOrScheduleFolderBelow("C:\\Program Files", f.c_str(), &record);
    } else {
      EmptyAndRemoveFolderBelow("C:\\Program Files", f.c_str(), &record);
    }
    const std::string what = std::to_string(c.ending) + (c.closed ? " closed" : " open");
    EXPECT_EQ(m.restartQueue, c.queue) << what;
    EXPECT_EQ(record.StayCount(), c.stays) << what;
    const sim::Machine::Node* n = m.FindNode(f);
    EXPECT_EQ(n != nullptr && n->adminOnly, c.taken) << what;
    EXPECT_EQ(n != nullptr && n->closed, c.closed && n != nullptr) << what;
    EXPECT_TRUE(m.FindNode("C:\\Program Files")->adminOnly) << what;
    if (!c.queue.empty()) {
      m.Restart();
      EXPECT_FALSE(m.Exists(f)) << what;
    }
  }
}

// A folder between the special folder and the one emptied that others may
// change (a vendor's group) is never taken, and the folder below is then not
// handed to the restart: it stays, and is told.
TEST(EmptyAndRemoveFolder, AFolderOpenToOthersAboveKeepsTheOneBelowFromTheRestart) {
  sim::Machine m;
  const std::string group = "C:\\Documents and Settings\\All Users\\Start Menu\\Programs\\Vendor";
  m.AddFile(group + "\\Other\\x.lnk");
  m.AddFile(group + "\\Tool\\a.lnk");
  m.Hold(group + "\\Tool\\a.lnk", m.AddProcess("viewer.exe", "alice"), true);
  RunRecord record;
  EmptyAndRemoveFolderBelow("C:\\Documents and Settings\\All Users\\Start Menu\\Programs",
                            (group + "\\Tool").c_str(), &record);
  EXPECT_TRUE(m.restartQueue.empty());
  EXPECT_FALSE(m.FindNode(group)->adminOnly || m.FindNode(group + "\\Tool")->adminOnly);
  ASSERT_EQ(record.StayCount(), 1u);
  EXPECT_EQ(record.Item(0).path, group + "\\Tool");
  EXPECT_EQ(record.Item(0).why, StayReason::kOpenFolder);
}

// A file whose DACL refuses the administrators DELETE is the edition's own:
// it is taken and goes; one of TrustedInstaller's, or one that cannot be
// taken, stays, and is told.
TEST(DeleteOrScheduleFile, AFileThatRefusesTheAdministratorsIsTakenUnlessItIsTheSystems) {
  for (const char* owner : {"", "user", "TI"}) {
    sim::Machine m;
    const std::string file = "C:\\Program Files\\Kestovanet3.0\\guarded.dll";
    m.AddFile(file);
    m.FindNode(file)->deleteDenied = true, m.FindNode(file)->owner = owner;
    RunRecord record;
    const bool system = std::string(owner) == "TI";
    EXPECT_EQ(DeleteOrScheduleFile(file.c_str(), &record), system ? 0 : 1) << owner;
    EXPECT_TRUE(m.Exists(file) == system && record.StayCount() == (system ? 1u : 0u) && m.restartQueue.empty()) << owner;
  }
}
