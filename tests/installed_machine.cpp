#include "tests/installed_machine.h"

#include <algorithm>

namespace fixture {

const char kProgramFiles[] = "C:\\Program Files";
const char kPrograms[] = "C:\\Documents and Settings\\All Users\\Start Menu\\Programs";
const char kDesktop[] = "C:\\Documents and Settings\\All Users\\Desktop";
const char kSystem[] = "C:\\WINDOWS\\system32";

namespace {
const EditionProfile* Profile(int e) {
  return e == 1 ? &kEdition1Profile : e == 2 ? &kEdition2Profile : &kEdition3Profile;
}
std::string S(const std::string& a, const std::string& b) { return a + b; }
}  // namespace

std::vector<std::string> NeighbourPaths() {
  return {
      S(kProgramFiles, "\\OtherVendor\\app.exe"),
      S(kProgramFiles, "\\Kestovanet2.0 backup\\keep.dll"),
      S(kProgramFiles, "\\Kestovanet\\sub\\deeper.txt"),  // not entered: the folder stays
      S(kPrograms, "\\OtherVendor\\Other.lnk"),
      S(kDesktop, "\\Other.lnk"),
      S(kDesktop, "\\USBKey MANAGE OF KESTOVA.lnk.bak"),
      S(kSystem, "\\ZenfoResv3X_kstv.dll"),
      S(kSystem, "\\kernel32.dll"),
      "C:\\WINDOWS\\system32\\unins000.exe",  // the Windows directory's one is ours
      "D:\\Data\\notes.txt",
  };
}

std::vector<std::pair<std::string, std::string>> NeighbourValues() {
  return {{kRunKey, "OtherTool.exe"}, {kRunKey, "DWReg_kstv(user).old"}};
}

std::vector<std::string> NeighbourKeys() {
  return {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OtherProduct",
          "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UnInstall\\DorwynforKSTV_V4",
          "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UnInstall\\DorwynforKSTV2"};
}

std::vector<DWORD> Install(sim::Machine& m, const Options& o) {
  std::vector<DWORD> neighbourPids;
  for (int e : o.editions) {
    const EditionProfile& p = *Profile(e);
    m.AddKey(p.uninstallKey);
    m.SetValue(p.uninstallKey, "DisplayName", "edition");
    m.AddKey(std::string(p.uninstallKey) + "\\Components");  // a subkey, as some installers leave
    for (const char* v : p.runValues)
      if (v) m.SetValue(kRunKey, v, "C:\\x.exe");
    const std::string folder = S(kProgramFiles, p.programFolder);
    m.AddFile(folder + "\\" + p.processPrefix);
    m.AddFile(folder + "\\readme.txt", FILE_ATTRIBUTE_READONLY);
    if (o.lockedFiles) {
      m.AddFile(folder + "\\inuse.dll");
      m.Lock(folder + "\\inuse.dll", true);
    }
    m.AddProcess(folder + "\\" + p.processPrefix, m.userName);
    for (UiLanguage l : o.languages) {
      const EditionNameRow& n = EditionNamesFor(e, l);
      m.AddFile(S(kPrograms, n.menuSubfolder) + "\\Tool.lnk");
      m.AddFile(S(kPrograms, n.menuSubfolder) + "\\Uninstall.lnk", FILE_ATTRIBUTE_READONLY);
      m.AddFile(S(kDesktop, n.desktopShortcut));
      m.AddWindow(n.toolWindowTitle);
    }
  }
  m.AddFile(S(kSystem, "\\ZenfoResv3_kstv.dll"));
  m.AddFile(S(kSystem, "\\ZenfoResv3E_kstv.dll"), FILE_ATTRIBUTE_READONLY);
  m.AddFile(S(kSystem, "\\ZenfoResv3T_kstv.dll"));
  if (o.lockedFiles) m.Lock(S(kSystem, "\\ZenfoResv3T_kstv.dll"), true);
  if (o.uninstallers) {
    m.AddFile(S(kSystem, "\\capicom.dll"));
    m.InstallProgram("C:\\WINDOWS\\unins000.exe", {nullptr, 2000});
    m.InstallProgram(S(kSystem, "\\uninst.exe"), {nullptr, 1000});
  }
  if (o.neighbours) {
    for (const auto& path : NeighbourPaths()) m.AddFile(path);
    for (const auto& v : NeighbourValues()) m.SetValue(v.first, v.second, "C:\\y.exe");
    for (const auto& k : NeighbourKeys()) m.AddKey(k);
    neighbourPids.push_back(m.AddProcess("DWReg_kstv.exe", "bob"));
    neighbourPids.push_back(m.AddProcess("Keyloft_User.exe", "CORP\\alice"));  // our name, another SID
    neighbourPids.push_back(m.AddProcess("DWReg_kstv.exe", m.userName));      // ours, in another session
    m.FindProcess(neighbourPids.back())->session = 2;
    neighbourPids.push_back(m.AddProcess("firefox.exe", "bob"));
    neighbourPids.push_back(m.AddProcess("DWReg_kstv_helper.exe", "alice"));  // differs within the prefix
    neighbourPids.push_back(m.AddProcess("notepad.exe", "alice"));
  }
  return neighbourPids;
}

namespace {
bool Under(const std::string& path, const std::string& folder, bool directChildOnly) {
  if (path == folder) return true;
  if (path.size() <= folder.size() + 1 || path.compare(0, folder.size(), folder) != 0 ||
      path[folder.size()] != '\\')
    return false;
  return !directChildOnly || path.find('\\', folder.size() + 1) == std::string::npos;
}

// The run's own folder (in the Windows folder, or Program Files on another
// volume) and what lies in it: the moved-aside files, the uninstallers' TEMP.
bool IsRunFolder(const std::string& p) {
  const size_t at = p.find("\\Brannoch.pending");
  if (at == std::string::npos) return false;
  const std::string parent = p.substr(0, at);
  return parent == "C:\\WINDOWS" || (parent.size() == 16 && parent.compare(2, 14, "\\Program Files") == 0);
}

bool IsTempName(const std::string& p) {
  const std::string leaf = p.substr(p.rfind('\\') + 1);
  const std::string dir = p.substr(0, p.rfind('\\') + 1);
  return leaf.compare(0, 2, "_@") == 0 &&
         (dir == "C:\\TEMP\\" || dir.size() == 3 || IsRunFolder(dir.substr(0, dir.size() - 1)));
}
}  // namespace

bool Allowlist::Allows(const sim::Machine& m, const sim::Action& a) const {
  (void)m;
  const std::string& t = a.target;
  auto ownPath = [&](const std::string& p) {
    for (int e = 1; e <= 3; ++e) {
      const EditionProfile& prof = *Profile(e);
      const EditionNameRow& n = EditionNamesFor(e, language);
      if (Under(p, S(kProgramFiles, prof.programFolder), true)) return true;
      if (Under(p, S(kPrograms, n.menuSubfolder), true)) return true;
      if (p == S(kPrograms, n.menuFolder)) return true;
      if (p == S(kDesktop, n.desktopShortcut)) return true;
    }
    for (const char* lib : kResourceLibraries)
      if (p == S(kSystem, lib)) return true;
    if (p == S(kSystem, "\\capicom.dll")) return true;
    return std::find(createdTempNames.begin(), createdTempNames.end(), p) != createdTempNames.end();
  };
  if (a.op == "CreateFile") return IsTempName(t);
  if (IsRunFolder(t))
    return a.op == "CreateDirectory" || a.op == "ScheduleDelete" || a.op == "RemoveDirectory" ||
           a.op == "DeleteFile" || a.op == "SetFileAttributes";
  if (a.op == "SetSecurity") return ownPath(t);
  if (a.op == "ScheduleDelete" && IsTempName(t)) return true;
  if (a.op == "DeleteFile" || a.op == "SetFileAttributes" || a.op == "RemoveDirectory" ||
      a.op == "ScheduleDelete")
    return ownPath(t);
  if (a.op == "MoveFile") return ownPath(t) && IsTempName(a.detail);
  if (a.op == "RegDeleteValue") {
    for (int e = 1; e <= 3; ++e)
      for (const char* v : Profile(e)->runValues)
        if (v && t == S(kRunKey, "\\") + v) return true;
    return false;
  }
  if (a.op == "RegDeleteKey" || a.op == "RegDeleteTree") {
    for (int e = 1; e <= 3; ++e)
      if (t == Profile(e)->uninstallKey) return true;
    return false;
  }
  const bool uninstaller =
      t == "C:\\WINDOWS\\unins000.exe" || t == S(kSystem, "\\Uninstall.exe") || t == S(kSystem, "\\uninst.exe");
  if (a.op == "TerminateProcess") {  // an uninstaller too, started suspended and not let run
    const std::string leaf = t.substr(t.rfind('\\') == std::string::npos ? 0 : t.rfind('\\') + 1);
    return uninstaller || leaf == "Keyloft_User.exe" || leaf == "DWReg_kstv.exe";
  }
  if (a.op == "SendMessage") {
    for (int e = 1; e <= 3; ++e)
      if (t == EditionNamesFor(e, language).toolWindowTitle) return true;
    return false;
  }
  if (a.op == "ShellExecute" || a.op == "CreateProcess")
    return uninstaller && a.detail == (a.op == "ShellExecute" ? " /S" : "\"" + t + "\" /S");
  if (a.op == "SHChangeNotify") return t == kDesktop;
  if (a.op == "MessageBox") return true;
  return false;
}

}  // namespace fixture
