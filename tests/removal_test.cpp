#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <string>

#include "engine/removal.h"
#include "fsclean/delete.h"
#include "fsclean/leftovers.h"
#include "platform/files.h"
#include "i18n/texts.h"
#include "tests/cp_convert.h"
#include "tests/installed_machine.h"

using fixture::kDesktop;
using fixture::kPrograms;
using fixture::kProgramFiles;
using fixture::kSystem;

namespace {
const HWND kOwner = reinterpret_cast<HWND>(static_cast<uintptr_t>(0xD1A1));
const uint16_t kLangIds[3] = {0x0804, 0x0409, 0x0404};
const UINT kAcps[3] = {936, 1252, 950};

void SetLanguage(sim::Machine& m, UiLanguage l) {
  m.langId = kLangIds[l];
  m.acp = kAcps[l];
}

fixture::Allowlist AllowlistFor(const sim::Machine& m, UiLanguage l) {
  fixture::Allowlist allow{l, {}};
  for (const auto& a : m.log)
    if (a.op == "CreateFile" || (a.op == "ScheduleDelete" && a.target.find("\\_@") != std::string::npos))
      allow.createdTempNames.push_back(a.target);
  return allow;
}

std::vector<std::string> Outside(const sim::Machine& m, UiLanguage l) {
  const fixture::Allowlist allow = AllowlistFor(m, l);
  std::vector<std::string> out;
  for (const auto& a : m.log)
    if (!allow.Allows(m, a)) out.push_back(a.ToString());
  return out;
}

void ExpectNeighboursIntact(sim::Machine& m, const std::vector<DWORD>& neighbourPids) {
  for (const auto& p : fixture::NeighbourPaths()) EXPECT_TRUE(m.Exists(p)) << p;
  for (const auto& v : fixture::NeighbourValues()) EXPECT_TRUE(m.ValueExists(v.first, v.second)) << v.second;
  for (const auto& k : fixture::NeighbourKeys()) EXPECT_TRUE(m.KeyExists(k)) << k;
  for (DWORD pid : neighbourPids) {
    const sim::Process* p = m.FindProcess(pid);
    EXPECT_FALSE(p->terminated) << p->exeFile << " of " << p->owner;
  }
}

bool Installed(const sim::Machine& m, const EditionProfile& p) { return m.KeyExists(p.uninstallKey); }

// The boxes from index `from` on are browser prompts and, when the run got
// that far, one final box as the last: 's' the success box, 'a' the one that
// asks for administrator rights, 'c' the one that says something stays and
// asks to close what holds it and run again, 'x' the one that says something
// stays and to ask the administrator, 'g' the one that says something stays
// and to run again, 'A' the administrator box naming what stays, 'h' its head
// alone in code page 936, 'n' none. Its sentence on the restart, to note: ' '
// none, 'r' the restart finishes the removal.
// A fixed text as the box shows it (recorded in UTF-8).
std::string Shown(const char* text936) { return Recode(text936, "CP936", "UTF-8"); }
bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}
char FinalBox(const sim::Machine& m, size_t from, UiLanguage l, char* note = nullptr) {
  char final = 'n';
  const UINT warning = MB_OK | MB_ICONWARNING;
  for (size_t i = from; i < m.boxes.size(); ++i) {
    const sim::BoxRecord& b = m.boxes[i];
    const bool prompt = b.owner == nullptr && b.text == BrowserPromptTexts[l] &&
                        b.caption == BrowserPromptCaption && b.codePage == BrowserPromptCodePages[l] &&
                        b.style == static_cast<UINT>(MB_YESNO | MB_ICONINFORMATION);
    const bool unicode = b.caption == Shown(SuccessCaption) && b.codePage == 65001;
    const bool last = b.owner == kOwner && i + 1 == m.boxes.size() &&
                      (unicode || (b.caption == SuccessCaption && b.codePage == 936));
    const std::string& t = b.text;
    char said = 'n', restart = ' ';
    // Where code page 936 cannot be converted: the head alone, in its bytes.
    if (!unicode && (t == SuccessText || t == NotAllRemovedText || t == LeftoverText)) said = 'h';
    if (t == Shown(SuccessText) || t == Shown(SuccessText) + Shown(RestartSentence))
      said = b.style == MB_OK ? 's' : 'n', restart = t.size() > Shown(SuccessText).size() ? 'r' : ' ';
    if (t == Shown(NotAllRemovedText) || t == Shown(NotAllRemovedRestartText))
      said = b.style == warning ? 'a' : 'n', restart = t == Shown(NotAllRemovedText) ? ' ' : 'r';
    // What stays: named, then what the restart does and what the user can do.
    if (t.find(Shown(LeftoverText) + Shown(ListColon)) != std::string::npos && b.style == warning) {
      restart = t.find(Shown(RestartRemainderSentence)) != std::string::npos ? 'r' : ' ';
      if (EndsWith(t, Shown(CloseAndRunAgainSentence))) said = 'c';
      if (EndsWith(t, Shown(RunAgainSentence))) said = 'g';
      if (EndsWith(t, Shown(AskAdministratorSentence))) said = 'x';
      if (t.compare(0, Shown(NotAllRemovedText).size(), Shown(NotAllRemovedText)) == 0) said = 'A';
    }
    if (last && said != 'n') {
      final = said;
      if (note != nullptr) *note = restart;
    } else {
      EXPECT_TRUE(prompt) << "box " << i << ": " << b.caption << " " << b.text;
    }
  }
  return final;
}
bool OnlyPromptsThenSuccess(const sim::Machine& m, size_t from, UiLanguage l) { return FinalBox(m, from, l) == 's'; }

// Three editions in the names of every language, neighbours, a browser that
// is closed at the second prompt, and Yes for every prompt.
std::vector<DWORD> PrepareFullRun(sim::Machine& m, UiLanguage l) {
  SetLanguage(m, l);
  auto pids = fixture::Install(m, {{1, 2, 3}, {0, 1, 2}});
  const DWORD ff = m.AddProcess("firefox.exe", "alice");
  m.ScriptBox(IDYES);
  m.ScriptBox(IDYES, [&m, ff] { m.FindProcess(ff)->exited = true; });
  for (int i = 0; i < 8; ++i) m.ScriptBox(IDYES);
  return pids;
}

// What a restart leaves of a run: every file with its attributes, every key
// with its values.
std::vector<std::string> Persistent(const sim::Machine& m) {
  std::vector<std::string> out;
  char attributes[16];
  for (const auto& n : m.nodes) {
    std::snprintf(attributes, sizeof attributes, " 0x%X", m.Attributes(n.second.path));
    out.push_back(n.second.path + attributes);
  }
  for (const auto& k : m.keys) {
    out.push_back("key " + k.second.path);
    for (const auto& v : k.second.values) out.push_back("value " + k.second.path + "|" + v.second.first + "=" + v.second.second);
  }
  return out;
}

// An uninstaller the program started suspended and was ended before letting
// run stays suspended until the restart, as on Windows; it does nothing, and
// the next run starts it anew (a program that never resumed one would hang).
std::multiset<std::string> Running(const sim::Machine& m) {
  std::multiset<std::string> out;
  for (const auto& p : m.processes)
    if (m.IsAlive(p.pid) && !p.suspended) out.insert(p.exeFile + " of " + p.owner);
  return out;
}

std::set<std::string> Terminated(const sim::Machine& m) {
  std::set<std::string> out;
  for (const auto& a : m.log)
    if (a.op == "TerminateProcess") out.insert(a.target);
  return out;
}
}  // namespace

TEST(RemovalRun, NoEditionInstalledShowsOnlyTheSuccessBox) {
  sim::Machine m;
  m.AddProcess("firefox.exe", "alice");  // no edition: the guard is never asked
  RemoveAllEditions(kOwner);
  EXPECT_EQ(m.LogLines(), std::vector<std::string>{"MessageBox " + Shown(SuccessCaption)});
  ASSERT_EQ(m.boxes.size(), 1u);
  EXPECT_EQ(m.boxes[0].owner, kOwner);
  EXPECT_EQ(m.boxes[0].text, Shown(SuccessText));
  EXPECT_EQ(m.boxes[0].codePage, 65001u);
  EXPECT_EQ(m.boxes[0].style, static_cast<UINT>(MB_OK));
  for (const auto& open : m.keyOpens)  // the restart list is only read
    EXPECT_EQ(open.second, open.first == sim::Machine::kSessionManagerKey ? KEY_QUERY_VALUE : 0xF003Fu);
  EXPECT_EQ(m.OpenHandles(), 0u);
}

TEST(RemovalRun, FullRunInEnglishLeavesExactlyTheExpectedLog) {
  sim::Machine m;
  SetLanguage(m, 1);
  const auto neighbours = fixture::Install(m);
  RemoveAllEditions(kOwner);
  const std::vector<std::string> log = m.LogLines();
  std::string joined;
  for (const auto& l : log) joined += l + "\n";
  // The expected sequence for edition 1 (editions 2.0 and 3.0 follow the same shape).
  const std::string pf = std::string(kProgramFiles) + "\\Kestovanet";
  const std::string run = "C:\\WINDOWS\\Brannoch.pending";
  const std::string sub = std::string(kPrograms) + "\\Internet banking Key MANAGE OF KESTOVA\\Dorwyn";
  const std::string outer = std::string(kPrograms) + "\\Internet banking Key MANAGE OF KESTOVA";
  const std::vector<std::string> edition1Head = {
      "TerminateProcess " + pf + "\\Keyloft_User.exe 0",
      "SendMessage USBKey MANAGE OF KESTOVA msg=0x111 wparam=32867",
      "RegDeleteValue SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\Keyloft_User.exe",
      "SetFileAttributes " + pf + "\\inuse.dll 0x80",
      "CreateDirectory " + run,
      "SetFileAttributes " + run + " 0x2",
      "SetFileAttributes " + pf + "\\inuse.dll 0x80",
      "MoveFile " + pf + "\\inuse.dll " + run + "\\_@1.tmp",
      "SetFileAttributes " + pf + "\\Keyloft_User.exe 0x80",
      "DeleteFile " + pf + "\\Keyloft_User.exe",
      "SetFileAttributes " + pf + "\\readme.txt 0x80",
      "DeleteFile " + pf + "\\readme.txt",
      // The subfolder is passed over: it stays, and so does the folder, as it was
      // (the restart would not remove it, and its rights are not the run's to change).
      "SetFileAttributes " + pf + " 0x80",
      "SetFileAttributes " + sub + "\\Tool.lnk 0x80",
      "DeleteFile " + sub + "\\Tool.lnk",
      "SetFileAttributes " + sub + "\\Uninstall.lnk 0x80",
      "DeleteFile " + sub + "\\Uninstall.lnk",
      "SetFileAttributes " + sub + " 0x80",
      "RemoveDirectory " + sub,
      "SetFileAttributes " + outer + " 0x80",
      "RemoveDirectory " + outer,
      "SetFileAttributes " + std::string(kDesktop) + "\\USBKey MANAGE OF KESTOVA.lnk 0x80",
      "DeleteFile " + std::string(kDesktop) + "\\USBKey MANAGE OF KESTOVA.lnk",
      "SHChangeNotify " + std::string(kDesktop) + " event=0x1000 flags=0x1001 item2=null",
      "CreateDirectory " + run + "\\Temp",  // the uninstallers' TEMP
      "SetFileAttributes " + run + "\\Temp 0x2",
      "CreateProcess C:\\WINDOWS\\unins000.exe \"C:\\WINDOWS\\unins000.exe\" /S",
      "CreateProcess C:\\WINDOWS\\system32\\uninst.exe \"C:\\WINDOWS\\system32\\uninst.exe\" /S",
      "DeleteFile C:\\WINDOWS\\system32\\capicom.dll",
      "DeleteFile C:\\WINDOWS\\system32\\ZenfoResv3_kstv.dll",
      "SetFileAttributes C:\\WINDOWS\\system32\\ZenfoResv3E_kstv.dll 0x80",
      "MoveFile C:\\WINDOWS\\system32\\ZenfoResv3E_kstv.dll " + run + "\\_@2.tmp",
      "SetFileAttributes C:\\WINDOWS\\system32\\ZenfoResv3T_kstv.dll 0x80",
      "MoveFile C:\\WINDOWS\\system32\\ZenfoResv3T_kstv.dll " + run + "\\_@3.tmp",
      // Last: until the key is gone, the next run redoes the edition.
      "RegDeleteTree SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{5D21A7E0-3B9C-4F62-A18D-7C04E9B2F615}",
  };
  ASSERT_GE(log.size(), edition1Head.size()) << joined;
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + edition1Head.size()), edition1Head) << joined;
  // Then edition 2.0 and 3.0, each starting with its registration tool, then the box.
  const auto at = [&](const std::string& line) {
    return std::find(log.begin(), log.end(), line) - log.begin();
  };
  const auto e2 = at("SendMessage Kestovanet Key Manager Tool 2.0 msg=0x111 wparam=32772");
  const auto e3 = at("SendMessage Kestovanet Key Manager Tool 3.0 msg=0x111 wparam=32772");
  EXPECT_LT(static_cast<size_t>(e2), log.size());
  EXPECT_LT(e2, e3);
  EXPECT_LT(static_cast<size_t>(e3), log.size());
  EXPECT_EQ(log.back(), "MessageBox " + Shown(SuccessCaption));
  // The end of the run: the run's folder handed over whole, deepest first:
  // each moved name once (2.0's library, its holder ended, goes at once; 3.0's
  // inuse.dll last), the uninstallers' empty TEMP at once, then the folder,
  // then the marks.
  std::vector<std::string> end;
  for (const char* n : {"_@1", "_@2", "_@3", "_@4", "_@5"}) {
    end.push_back("SetFileAttributes " + run + "\\" + n + ".tmp 0x80");
    end.push_back((n[2] == '2' ? "DeleteFile " : "ScheduleDelete ") + run + "\\" + n + ".tmp");
  }
  end.insert(end.end(), {"RemoveDirectory " + run + "\\Temp", "ScheduleDelete " + run});
  for (const char* n : {"_@1", "_@3", "_@4", "_@5"}) end.push_back("SetFileAttributes " + run + "\\" + n + ".tmp 0x2");
  const auto from = at(end[0]);
  ASSERT_LE(static_cast<size_t>(from) + end.size() + 1, log.size());
  EXPECT_EQ(std::vector<std::string>(log.begin() + from, log.end() - 1), end);
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("CreateProcess", 0) == 0; }),
            6);  // two uninstallers, once per installed edition
  EXPECT_TRUE(Outside(m, 1).empty()) << Outside(m, 1)[0];
  ExpectNeighboursIntact(m, neighbours);
  // The Chinese-named folders and shortcuts of the other languages are not found.
  EXPECT_TRUE(m.Exists(std::string(kPrograms) + EditionNamesFor(1, 0).menuSubfolder + "\\Tool.lnk"));
  EXPECT_TRUE(m.Exists(std::string(kDesktop) + EditionNamesFor(3, 2).desktopShortcut));
  EXPECT_EQ(m.OpenHandles(), 0u);
  EXPECT_EQ(m.hangs, 0);
  for (int e = 1; e <= 3; ++e) EXPECT_FALSE(Installed(m, e == 1 ? kEdition1Profile : e == 2 ? kEdition2Profile : kEdition3Profile));
}

TEST(RemovalRun, EveryLanguageRemovesItsOwnNamesAndRestartFinishesTheJob) {
  for (UiLanguage l : {UiLanguage{0}, UiLanguage{1}, UiLanguage{2}}) {
    SCOPED_TRACE("language " + std::to_string(l));
    sim::Machine m;
    SetLanguage(m, l);
    const auto neighbours = fixture::Install(m, {{1, 2, 3}, {l}});
    RemoveAllEditions(kOwner);
    EXPECT_TRUE(Outside(m, l).empty());
    const std::vector<std::string> scheduled = m.restartQueue;
    const std::vector<std::string> before = m.ListAll();
    m.Restart();
    for (const auto& p : scheduled) {
      // Folders still holding something stay, as on Windows; the only one here
      // is edition 1's program folder with its subfolder.
      if (p == std::string(kProgramFiles) + "\\Kestovanet") continue;
      EXPECT_FALSE(m.Exists(p)) << p;
    }
    for (const auto& p : before) {
      const bool wasScheduled = std::find(scheduled.begin(), scheduled.end(), p) != scheduled.end();
      if (!wasScheduled) {
        EXPECT_TRUE(m.Exists(p)) << "restart removed " << p;
      }
    }
    for (int e = 1; e <= 3; ++e) {
      const EditionNameRow& n = EditionNamesFor(e, l);
      EXPECT_FALSE(m.Exists(std::string(kPrograms) + n.menuFolder));
      EXPECT_FALSE(m.Exists(std::string(kDesktop) + n.desktopShortcut));
    }
    EXPECT_FALSE(m.Exists(std::string(kProgramFiles) + "\\Kestovanet2.0"));
    EXPECT_FALSE(m.Exists(std::string(kSystem) + "\\ZenfoResv3T_kstv.dll"));
    ExpectNeighboursIntact(m, neighbours);
    ASSERT_EQ(m.boxes.size(), 1u);
  }
}

TEST(RemovalRun, SecondRunShowsTheBoxAndChangesNothing) {
  sim::Machine m;
  fixture::Install(m);
  RemoveAllEditions(kOwner);
  const std::vector<std::string> state = m.ListAll();
  m.log.clear();
  RemoveAllEditions(kOwner);
  EXPECT_EQ(m.LogLines(), std::vector<std::string>{"MessageBox " + Shown(SuccessCaption)});
  EXPECT_EQ(m.ListAll(), state);
}

TEST(RemovalRun, OnlyEditionThreeInstalledPromptsOnlyForIt) {
  sim::Machine m;
  fixture::Install(m, {{3}, {0}, false, false, false});
  const DWORD ff = m.AddProcess("firefox.exe", "alice");
  m.ScriptBox(IDYES, [&] { m.FindProcess(ff)->exited = true; });
  RemoveAllEditions(kOwner);
  ASSERT_EQ(m.boxes.size(), 2u);
  EXPECT_EQ(m.boxes[0].caption, "Information");
  EXPECT_EQ(FinalBox(m, 1, 0), 's');
  EXPECT_FALSE(Installed(m, kEdition3Profile));
  // The prompt came before anything of edition 3.0 was touched.
  EXPECT_EQ(m.log[0].op, "MessageBox");
  EXPECT_EQ(m.log[1].op, "TerminateProcess");
}

TEST(RemovalRun, NoDuringEditionTwoKeepsTwoAndThreeAndShowsNothingMore) {
  sim::Machine m;
  const auto neighbours = fixture::Install(m, {{1, 2, 3}, {0}});
  const DWORD first = m.AddProcess("QQBrowser.exe", "alice");
  // Closed for edition 1, opened again while edition 1 is being removed.
  m.ScriptBox(IDYES, [&] { m.FindProcess(first)->exited = true; });
  m.WindowByTitle(EditionNamesFor(1, 0).toolWindowTitle)->onCommand = [&] {
    m.AddProcess("C:\\Program Files\\Mozilla Firefox\\firefox.exe", "alice");
  };
  m.ScriptBox(IDYES);  // edition 2.0: still running ...
  m.ScriptBox(IDNO);   // ... and then declined: the run stops
  RemoveAllEditions(kOwner);
  EXPECT_FALSE(Installed(m, kEdition1Profile));
  EXPECT_TRUE(Installed(m, kEdition2Profile));
  EXPECT_TRUE(Installed(m, kEdition3Profile));
  EXPECT_TRUE(m.Exists(std::string(kProgramFiles) + "\\Kestovanet2.0\\readme.txt"));
  EXPECT_TRUE(m.ValueExists(kRunKey, "DWReg_kstv(user)"));
  ASSERT_EQ(m.boxes.size(), 3u);
  for (const auto& b : m.boxes) EXPECT_EQ(b.caption, "Information");
  // After the declined prompt, only what edition 1 moved aside is handed over.
  for (auto it = m.log.rbegin(); it != m.log.rend() && it->op != "MessageBox"; ++it)
    EXPECT_EQ(it->target.rfind("C:\\WINDOWS\\Brannoch.pending", 0), 0u) << it->ToString();
  EXPECT_EQ(m.boxScript.size(), 0u);
  ExpectNeighboursIntact(m, neighbours);
}

TEST(RemovalRun, NoAtTheFirstEditionTouchesNothing) {
  sim::Machine m;
  fixture::Install(m, {{1, 2, 3}, {0}});
  m.AddProcess("QQBrowser.exe", "alice");
  m.ScriptBox(IDNO);
  RemoveAllEditions(kOwner);
  ASSERT_EQ(m.log.size(), 1u);
  EXPECT_EQ(m.log[0].op, "MessageBox");
}

// Skipped as not installed, the others removed, and the run does not end
// with "卸载成功": it asks for administrator rights.
TEST(RemovalRun, KeyThatCannotBeOpenedForAllAccessIsSkippedAndReported) {
  sim::Machine m;
  fixture::Install(m, {{1, 2, 3}, {0}, false, false, false});
  m.DenyAllAccess(kEdition2Profile.uninstallKey);
  RemoveAllEditions(kOwner);
  EXPECT_FALSE(Installed(m, kEdition1Profile));
  EXPECT_TRUE(Installed(m, kEdition2Profile));
  EXPECT_TRUE(m.Exists(std::string(kProgramFiles) + "\\Kestovanet2.0\\readme.txt"));
  EXPECT_FALSE(Installed(m, kEdition3Profile));
  EXPECT_EQ(FinalBox(m, 0, 0), 'a');
  EXPECT_EQ(m.boxes.size(), 1u);
  // Removing the editions one at a time says nothing of the denied key.
  EXPECT_EQ(RemoveEdition2(), 1);
}

// An ANSI code page other than the names' own ("Use Unicode UTF-8", or
// Singapore's 936 with Traditional names): the folders and shortcuts, named in
// Unicode at install time, are found in that code page; the old tool titled its
// window through the A calls with the stored bytes. What the code page cannot
// hold is left alone.
TEST(RemovalRun, AnsiCodePageOtherThanTheNames) {
  const struct {
    LANGID langId;
    UINT acp;
    const char *from, *to;
  } cases[] = {{0x0804, 65001, "CP936", "UTF-8"}, {0x0404, 65001, "CP950", "UTF-8"},
               {0x1004, 936, "CP950", "CP936"},   {0x0804, 950, "CP936", "CP950"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.to);
    sim::Machine m;
    m.langId = c.langId;
    m.acp = c.acp;
    fixture::Install(m, {{1, 2, 3}, {}, false, false, false});
    std::vector<std::string> named;
    for (int e = 1; e <= 3; ++e) {
      const EditionNameRow& n = EditionNamesFor(e, UiLanguageFromLangId(c.langId));
      const std::string sub = Recode(n.menuSubfolder, c.from, c.to), lnk = Recode(n.desktopShortcut, c.from, c.to);
      if (!sub.empty()) named.push_back(kPrograms + sub + "\\Tool.lnk");
      if (!lnk.empty()) named.push_back(kDesktop + lnk);
      m.AddWindow(n.toolWindowTitle);
    }
    for (const auto& p : named) m.AddFile(p);
    RemoveAllEditions(kOwner);
    for (const auto& p : named) EXPECT_FALSE(m.Exists(p)) << p;
    for (const auto& w : m.windows) EXPECT_EQ(w.commands.size(), 1u) << w.title;
    for (const auto& a : m.log)  // nothing in the shared folders when no name converts
      EXPECT_TRUE(!named.empty() || (a.target.rfind(kPrograms, 0) != 0 && a.target.rfind(kDesktop, 0) != 0))
          << a.ToString();
    EXPECT_EQ(named.empty(), c.acp == 950);
  }
}

TEST(RemovalRun, MissingRunValueDoesNotStopTheOther) {
  sim::Machine m;
  fixture::Install(m, {{2}, {0}, false, false, false});
  m.FindKey(kRunKey)->values.erase(m.Fold("KSKeyloft2_0.exe"));
  RemoveAllEditions(kOwner);
  EXPECT_FALSE(m.ValueExists(kRunKey, "DWReg_kstv(user)"));
}

// Another product's file keeps the group: it is neither scheduled nor made
// the administrators', so the file stays in every user's Start menu.
TEST(RemovalRun, OuterStartMenuFolderWithAFileIsLeftAsItWas) {
  sim::Machine m;
  SetLanguage(m, 1);
  fixture::Install(m, {{1}, {1}, false, false, false});
  const std::string outer = std::string(kPrograms) + EditionNamesFor(1, 1).menuFolder;
  m.AddFile(outer + "\\user note.txt");
  RemoveAllEditions(kOwner);
  EXPECT_TRUE(m.Exists(outer + "\\user note.txt"));
  EXPECT_EQ(std::find(m.restartQueue.begin(), m.restartQueue.end(), outer), m.restartQueue.end());
  EXPECT_FALSE(m.FindNode(outer)->adminOnly);
  m.Restart();
  EXPECT_TRUE(m.Exists(outer + "\\user note.txt"));
  // The 100 ms wait comes before the outer folder's removal.
  EXPECT_NE(std::find(m.sleeps.begin(), m.sleeps.end(), 100u), m.sleeps.end());
}

// Program Files moved and reached through a link at its old name (mklink /J):
// the shell's answer is trusted, so the editions' folders still go.
TEST(RemovalRun, ProgramFilesReachedThroughALinkStillLosesTheEditionsFolders) {
  sim::Machine m;
  fixture::Install(m, {{1, 2, 3}, {0}, false, false, false});
  m.AddDir("C:\\Data");
  ASSERT_TRUE(pf::MoveFileExA(kProgramFiles, "C:\\Data\\Program Files", 0));
  m.AddLink(kProgramFiles, "C:\\Data\\Program Files");
  RemoveAllEditions(kOwner);
  for (const char* folder : {"\\Kestovanet", "\\Kestovanet2.0", "\\Kestovanet3.0"})
    EXPECT_FALSE(m.Exists(std::string("C:\\Data\\Program Files") + folder)) << folder;
  EXPECT_EQ(m.Attributes(kProgramFiles), 0x410u);
}

TEST(RemovalRun, UninstallKeyWithSubkeysIsReallyDeleted) {
  sim::Machine m;
  fixture::Install(m, {{1}, {0}, false, false, false});
  ASSERT_TRUE(m.KeyExists(std::string(kEdition1Profile.uninstallKey) + "\\Components"));
  RemoveAllEditions(kOwner);
  EXPECT_FALSE(Installed(m, kEdition1Profile));
}

TEST(RemovalRun, FailedSpecialFolderOrSystemDirectorySkipsItsSteps) {
  for (const char* call : {"SHGetSpecialFolderPathA", "GetSystemDirectoryA"}) {
    sim::Machine m;
    m.AddFile("C:\\Kestovanet\\x.exe");  // where a relative path would land
    m.AddFile("C:\\ZenfoResv3_kstv.dll");
    m.AddFile("C:\\Dorwyn\\y.lnk");
    fixture::Install(m, {{1}, {0}, false, false, false});
    m.FailAlways(call);
    RemoveAllEditions(kOwner);
    EXPECT_TRUE(m.Exists("C:\\Kestovanet\\x.exe")) << call;
    EXPECT_TRUE(m.Exists("C:\\ZenfoResv3_kstv.dll")) << call;
    EXPECT_TRUE(Outside(m, 0).empty()) << call << ": " << Outside(m, 0)[0];
  }
}

// An earlier run's file waiting for the restart, listed in value as a
// deletion (the last `cut` bytes left off; its type).
const char kEarlier[] = "C:\\WINDOWS\\Brannoch.pending\\_@1.tmp";
const char kNsisCopy[] = "C:\\WINDOWS\\Brannoch.pending\\Temp\\~nsu.tmp\\Un.exe";
const char kPfro[] = "PendingFileRenameOperations", kPfro2[] = "PendingFileRenameOperations2";
void Listed(sim::Machine& m, const char* value, const std::string& name, size_t cut = 0, DWORD type = REG_MULTI_SZ) {
  if (!m.Exists(kEarlier)) m.AddFile(kEarlier), m.AddFile("C:\\Other\\upd.tmp");
  const std::string bytes = "\\??\\" + name + std::string(3, '\0');
  m.restartValues[value] = {type, bytes.substr(0, bytes.size() - cut)};
}

// Edition 3.0 with a file its folder's holder keeps open without delete
// sharing: kind 0 none known (Restart Manager missing), else that holder's
// RM_APP_TYPE in session; closed: its folders are the administrators'.
void HeldInEdition3(sim::Machine& m, int kind, bool closed, DWORD session = 1) {
  fixture::Install(m, {{3}, {0}, false, false, false});
  const std::string folder = std::string(kProgramFiles) + "\\Kestovanet3.0";
  m.AddFile(folder + "\\held.dat");
  m.FindNode(folder)->closed = closed;
  if (kind == 0) {
    m.Lock(folder + "\\held.dat", false);
    return;
  }
  m.restartManagerMissing = false;
  const DWORD pid = m.AddProcess("holder.exe", kind == 3 ? "SYSTEM" : "alice");
  m.FindProcess(pid)->rmKind = kind;
  m.FindProcess(pid)->session = session;
  m.Hold(folder + "\\held.dat", pid, false);
}

// The final box names the restart when the system's restart list grew during
// the run, whoever added to it; where something stays, it says so and asks to
// run again only where closing a program of the user's can help, and only
// then does the edition keep its key.
TEST(RemovalRun, FinalBoxSaysWhatTheRestartStillHasToDo) {
  const struct Case {
    const char* what;
    std::function<void(sim::Machine&)> setup;
    char box, note;
  } cases[] = {
      {"nothing installed", nullptr, 's', ' '},
      {"nothing installed, an entry listed before", [](sim::Machine& m) { m.restartQueue.push_back("C:\\x.tmp"); },
       's', ' '},
      {"files moved aside", [](sim::Machine& m) { fixture::Install(m); }, 's', 'r'},
      {"files moved aside without security",
       [](sim::Machine& m) { m.platformId = VER_PLATFORM_WIN32_WINDOWS, fixture::Install(m); }, 's', 'r'},
      {"files moved aside, a key refused",
       [](sim::Machine& m) { fixture::Install(m), m.DenyAllAccess(kEdition2Profile.uninstallKey); }, 'a', 'r'},
      // XP: no one can tell what holds it, and Power Users may change its folder.
      {"a file held, not movable, its folder open to others",
       [](sim::Machine& m) { HeldInEdition3(m, 0, false); }, 'x', ' '},
      // Vista on: what holds it cannot be told (or is a service); its folders are
      // the administrators': its own name goes to the restart.
      {"a file held, its folders closed", [](sim::Machine& m) { HeldInEdition3(m, 0, true); }, 's', 'r'},
      {"a file held by a service, its folders closed",
       [](sim::Machine& m) { HeldInEdition3(m, 3, true); }, 's', 'r'},
      {"a file held by a service, its folder open", [](sim::Machine& m) { HeldInEdition3(m, 3, false); }, 'x', ' '},
      {"a file held by another session's program",
       [](sim::Machine& m) { HeldInEdition3(m, 1, true, 2); }, 's', 'r'},
      // A program of the user's: closing it and running again finishes the job.
      {"a file held by the user's program", [](sim::Machine& m) { HeldInEdition3(m, 1, true); }, 'c', ' '},
      // The restart list as it stands at the end: only a deletion of the old
      // editions' that still exists asks for the restart, whoever listed it.
      {"the NSIS copy's own entry, the copy gone", [](sim::Machine& m) { Listed(m, kPfro, kNsisCopy); }, 's', ' '},
      {"another program's entry", [](sim::Machine& m) { Listed(m, kPfro, "C:\\Other\\upd.tmp"); }, 's', ' '},
      {"an earlier run's entry still waiting", [](sim::Machine& m) { Listed(m, kPfro, kEarlier); }, 's', 'r'},
      {"an earlier run's entry in the second list", [](sim::Machine& m) { Listed(m, kPfro2, kEarlier); }, 's', 'r'},
      {"a list without its final terminator", [](sim::Machine& m) { Listed(m, kPfro, kEarlier, 1); }, 's', 'r'},
      {"a name without its terminator", [](sim::Machine& m) { Listed(m, kPfro, kEarlier, 3); }, 's', ' '},
      {"a REG_SZ value", [](sim::Machine& m) { Listed(m, kPfro, kEarlier, 0, REG_SZ); }, 's', ' '},
      {"a list that grows between its two reads", [](sim::Machine& m) {
         Listed(m, kPfro, "C:\\Other\\upd.tmp");
         m.beforeCall = [&m](const std::string& call) {  // more than the room read for
           if (call == "RegQueryValueExA" && m.callCounts[call] == 1)
             Listed(m, kPfro, std::string(5000, 'x') + std::string(2, '\0') + "\\??\\" + kEarlier);
         };
       }, 's', 'r'},
      // An uninstaller that cannot be given the system's variables is not started.
      {"an uninstaller not started", [](sim::Machine& m) {
         fixture::Install(m, {{3}, {0}, false, false, true});
         m.FailAlways("CreateEnvironmentBlock");
       }, 'g', ' '},
      {"the hand-over refused, after the keys", [](sim::Machine& m) {
         fixture::Install(m, {{3}, {0}, false, false, false});
         m.AddFile(std::string(kProgramFiles) + "\\Kestovanet3.0\\held.dat");
         m.Lock(std::string(kProgramFiles) + "\\Kestovanet3.0\\held.dat", true);
         m.FailAlways("MoveFileExA");
       }, 'x', ' '},
  };
  for (const Case& c : cases) {
    sim::Machine m;
    if (c.setup) c.setup(m);
    RemoveAllEditions(kOwner);
    char note = '?';
    EXPECT_EQ(FinalBox(m, 0, 0, &note), c.box) << c.what;
    EXPECT_EQ(note, c.note) << c.what;
    EXPECT_EQ(m.boxes.size(), 1u) << c.what;
    // Its key stays only where running again can finish the job.
    EXPECT_EQ(Installed(m, kEdition3Profile), c.box == 'c' || c.box == 'g') << c.what;
  }
}

// The box names what stays: three paths, each shortened in the middle to 60
// characters with a mark no path can hold, with its holder, then how many more.
TEST(RemovalRun, FinalBoxNamesWhatStaysWithItsHolder) {
  sim::Machine m;
  HeldInEdition3(m, 1, false);
  const std::string folder = std::string(kProgramFiles) + "\\Kestovanet3.0\\";
  const std::string deep = folder + std::string(40, 'd') + Cp936("旧版组件") + std::string(30, 'e') + ".dll";
  for (const std::string& f : {folder + "a.dat", folder + "b.dat", deep}) {
    m.AddFile(f);
    m.Hold(f, m.FindNode(folder + "held.dat")->heldBy, false);
  }
  m.FindProcess(m.FindNode(folder + "held.dat")->heldBy)->description = "Key Viewer";
  RemoveAllEditions(kOwner);
  ASSERT_EQ(FinalBox(m, 0, 0), 'c');
  std::vector<std::string> lines;
  for (size_t at = 0, next; at != std::string::npos; at = next == std::string::npos ? next : next + 1)
    lines.push_back(m.boxes.back().text.substr(at, (next = m.boxes.back().text.find('\n', at)) - at));
  ASSERT_EQ(lines.size(), 6u) << m.boxes.back().text;
  EXPECT_EQ(lines[4], Shown(MoreItemsText) + "1" + Shown(ItemsText));
  for (int i = 1; i <= 3; ++i) EXPECT_TRUE(EndsWith(lines[i], "\xEF\xBC\x88Key Viewer\xEF\xBC\x89")) << lines[i];
  const auto held = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.find("\xE2\x80\xA6") != std::string::npos; });
  ASSERT_NE(held, lines.end());
  // 28 characters, the mark, 29: the head and the tail of the path.
  EXPECT_EQ(held->substr(0, held->find("<")), "C:\\Program Files\\Kestovanet3");
  EXPECT_TRUE(held->find("<\xE2\x80\xA6>") != std::string::npos && held->find("eee.dll") != std::string::npos);
}

// What a program of the user's holds keeps the key and asks to close it and
// run again; once it is closed, that run finishes the job.
TEST(RemovalRun, ClosingTheHolderAndRunningAgainFinishes) {
  sim::Machine m;
  HeldInEdition3(m, 1, false);
  const std::string held = std::string(kProgramFiles) + "\\Kestovanet3.0\\held.dat";
  RemoveAllEditions(kOwner);
  EXPECT_EQ(FinalBox(m, 0, 0), 'c');
  m.FindNode(held)->heldBy = 0;
  RemoveAllEditions(kOwner);
  EXPECT_EQ(FinalBox(m, 1, 0), 's');
  EXPECT_FALSE(m.Exists(held) || Installed(m, kEdition3Profile));
}

// A run tells each step of each installed edition once, in the table's
// order, then the hand-over; an uninstaller's wait about once a second.
TEST(RemovalRun, ProgressTellsEachStepInOrderAndNeverGoesBack) {
  sim::Machine m;
  fixture::Install(m, {{1, 3}, {0}, false, false, true});
  m.programs[m.Fold(std::string(kSystem) + "\\uninst.exe")].runsForMs = 4500;
  std::vector<std::pair<unsigned, unsigned>> told;
  const RunProgress progress = {[](void* c, unsigned step, unsigned detail) {
                                  static_cast<decltype(told)*>(c)->emplace_back(step, detail);
                                },
                                &told};
  RunRecord record;
  EXPECT_EQ(RunRemoval(&record, &progress).outcome, RunOutcome::kAllRemoved);
  std::vector<unsigned> steps, positions, uninstSeconds;
  for (const auto& t : told) {
    if (steps.empty() || steps.back() != t.first)
      steps.push_back(t.first), positions.push_back(RunProgressBefore(t.first));
    if (t.first == 10 && t.second >> 16 == 3) uninstSeconds.push_back(t.second & 0xFFFF);
  }
  EXPECT_EQ(steps, (std::vector<unsigned>{0, 1, 2, 3, 8, 9, 10, 11, 12}));  // edition 2.0 not installed
  EXPECT_EQ(positions, (std::vector<unsigned>{0, 2, 4, 12, 26, 28, 30, 38, 39}));
  EXPECT_EQ(RunProgressBefore(kRunStepCount), 40u);
  EXPECT_EQ(uninstSeconds, (std::vector<unsigned>{0, 1, 2, 3, 4}));
  char line[128];
  const struct {
    unsigned step, detail;
    bool closing;
    const char* shown;
  } lines[] = {
      {10, UninstallerDetail(2, 4), false, "正在运行卸载程序 uninst.exe，已等待 4 秒"},
      {10, UninstallerDetail(0, 2), false, "正在运行卸载程序 unins000.exe"},
      {9, 0, false, "凯斯托瓦银行网上银行Tokara管理工具 3.0：正在删除程序文件"},
      {0, 0, false, "凯斯托瓦银行网上银行tokara管理工具：正在关闭程序"},
      {12, 0, false, "正在安排重新启动后删除剩余文件"},
      {10, UninstallerDetail(2, 40), true, "正在运行卸载程序 uninst.exe，卸载结束后将自动关闭窗口"},
      {5, 0, true, "正在删除程序文件，卸载结束后将自动关闭窗口"},
  };
  SetLanguage(m, 1);  // the group names are Simplified Chinese in every language
  for (const auto& l : lines) {
    ComposeRunStepLine(line, sizeof line, l.step, l.detail, l.closing);
    EXPECT_EQ(Recode(line, "CP936", "UTF-8"), l.shown);
  }
  // Every step and wait length: clean 936 within one row of its control, 243
  // dialog units of 9-point 宋体 at 4 a half-width cell (one 936 byte).
  for (unsigned step = 0; step < kRunStepCount; ++step)
    for (unsigned detail : {0u, UninstallerDetail(1, 2), UninstallerDetail(1, 3), UninstallerDetail(1, 65535)})
      for (bool closing : {false, true}) {
        ComposeRunStepLine(line, sizeof line, step, detail, closing);
        const std::string shown = Recode(line, "CP936", "UTF-8");
        EXPECT_TRUE(!shown.empty() && Recode(shown, "UTF-8", "CP936") == line && std::strlen(line) <= 60 &&
                    shown.find("移交") == std::string::npos && shown.find("版本") == std::string::npos)
            << step << " " << detail << " " << shown;
      }
}

// Every seam call the run makes fails once, then always; the run still ends,
// closes every handle and acts on nothing outside what the editions own.
TEST(RemovalRun, FaultSweepNeverActsOutsideTheAllowlist) {
  auto prepare = [](sim::Machine& m) {
    SetLanguage(m, 0);
    auto pids = fixture::Install(m, {{1, 2, 3}, {0, 1, 2}});
    const DWORD ff = m.AddProcess("firefox.exe", "alice");
    m.ScriptBox(IDYES);
    m.ScriptBox(IDYES, [&m, ff] { m.FindProcess(ff)->exited = true; });
    for (int i = 0; i < 4; ++i) m.ScriptBox(IDYES);
    return pids;
  };
  std::set<std::string> calls;
  {
    sim::Machine m;
    prepare(m);
    RemoveAllEditions(kOwner);
    for (const auto& c : m.callCounts) calls.insert(c.first);
  }
  ASSERT_GT(calls.size(), 25u);
  int scenarios = 0, outside = 0;
  for (const std::string& call : calls) {
    for (int mode = 0; mode < 3; ++mode) {
      sim::Machine m;
      const auto neighbours = prepare(m);
      if (mode == 0) m.FailNth(call, 1);
      if (mode == 1) m.FailNth(call, 2);
      if (mode == 2) m.FailAlways(call);
      RemoveAllEditions(kOwner);
      ++scenarios;
      SCOPED_TRACE(call + " mode " + std::to_string(mode));
      // A prompt that cannot be shown counts as No; an Uninstall key that
      // cannot be opened (the first, or every one) ends the run with the
      // administrator box; no other failure decides how the run ends.
      bool promptRefused = false;
      if (call == "MessageBoxInCodePage")
        for (size_t i = 0; i < m.boxes.size(); ++i)
          if (m.boxes[i].owner == nullptr && (mode == 2 || static_cast<int>(i) == mode)) promptRefused = true;
      const bool keyRefused = call == "RegOpenKeyExA" && mode != 1;
      // What a failure leaves is told ('x'); an uninstaller it kept from starting
      // asks for another run ('g'); nothing asks to close a program ('c').
      const char box = FinalBox(m, 0, 0);
      if (promptRefused) EXPECT_EQ(box, 'n');
      else EXPECT_TRUE(box == (keyRefused ? 'a' : 's') || box == 'x' || box == 'g' ||
                       (box == 'h' && call == "MultiByteToWideChar")) << box;
      const auto out = Outside(m, 0);
      outside += static_cast<int>(out.size());
      EXPECT_TRUE(out.empty()) << out[0];
      EXPECT_EQ(m.hangs, 0);
      EXPECT_EQ(m.OpenHandles(), 0u);
      ExpectNeighboursIntact(m, neighbours);
      EXPECT_LT(m.clockMs, 120000u);
    }
  }
  std::printf("fault sweep: %d scenarios, %d actions outside the allowlist\n", scenarios, outside);
}

// The program ended before each seam call of a full run in turn; then, with
// and without a restart in between, run again to the success box and
// restarted: the machine ends as after one whole run and a restart. Four
// shards (cut points by their remainder), so that CTest runs them side by side.
constexpr uint64_t kSweepShards = 4;
class InterruptedRun : public testing::TestWithParam<uint64_t> {};
INSTANTIATE_TEST_SUITE_P(Shard, InterruptedRun, testing::Range<uint64_t>(0, kSweepShards));

TEST_P(InterruptedRun, RunEndedAtAnyCallIsFinishedByTheNextRun) {
  int cutPoints = 0, differences = 0, outside = 0;
  uint64_t calls = 0;
  for (UiLanguage l : {UiLanguage{1}, UiLanguage{0}}) {
    std::vector<std::string> reference;
    std::multiset<std::string> referenceRunning;
    std::set<std::string> referenceTerminated;
    uint64_t full = 0;
    {
      sim::Machine m;
      PrepareFullRun(m, l);
      RemoveAllEditions(kOwner);
      full = m.seamCalls;
      referenceRunning = Running(m);
      referenceTerminated = Terminated(m);
      m.Restart();
      reference = Persistent(m);
    }
    calls += full;
    for (uint64_t cut = 1 + GetParam(); cut <= full; cut += kSweepShards) {
      for (bool restartBetween : {false, true}) {
        SCOPED_TRACE("language " + std::to_string(l) + ", ended before seam call " + std::to_string(cut) +
                     (restartBetween ? ", restart between" : ""));
        sim::Machine m;
        const auto neighbours = PrepareFullRun(m, l);
        m.endBefore = cut;
        bool ended = false;
        try {
          RemoveAllEditions(kOwner);
        } catch (const sim::ProgramEnded&) {
          ended = true;
        }
        m.EndProgram();
        ASSERT_TRUE(ended);
        ++cutPoints;
        const size_t firstRunBoxes = m.boxes.size();
        EXPECT_FALSE(OnlyPromptsThenSuccess(m, 0, l));
        if (restartBetween) m.Restart();
        RemoveAllEditions(kOwner);
        EXPECT_TRUE(OnlyPromptsThenSuccess(m, firstRunBoxes, l));
        EXPECT_EQ(m.OpenHandles(), 0u);
        EXPECT_EQ(m.hangs, 0);
        bool same = true;
        if (!restartBetween) same = Running(m) == referenceRunning;
        for (const auto& t : Terminated(m)) same = same && referenceTerminated.count(t) != 0;
        if (!restartBetween) ExpectNeighboursIntact(m, neighbours);
        const auto out = Outside(m, l);
        outside += static_cast<int>(out.size());
        EXPECT_TRUE(out.empty()) << out[0];
        m.Restart();
        same = same && Persistent(m) == reference;
        EXPECT_TRUE(same);
        differences += !same;
      }
    }
  }
  std::printf("interrupted runs, shard %llu of %llu: %d cut points (every %lluth of the %llu seam calls of a "
              "full run, with and without a restart between), %d differences, %d actions outside the allowlist\n",
              static_cast<unsigned long long>(GetParam() + 1), static_cast<unsigned long long>(kSweepShards),
              cutPoints, static_cast<unsigned long long>(kSweepShards), static_cast<unsigned long long>(calls),
              differences, outside);
  EXPECT_EQ(differences, 0);
  EXPECT_EQ(outside, 0);
}
