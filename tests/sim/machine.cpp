#include "tests/sim/machine.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <stdexcept>

namespace sim {

static Machine* g_current = nullptr;

Machine::Machine() {
  if (g_current != nullptr) throw std::logic_error("one simulated machine at a time");
  g_current = this;
  AddDrive('C');
  AddDrive('D');
  specialFolders[CSIDL_PROGRAM_FILES] = "C:\\Program Files";
  specialFolders[CSIDL_COMMON_PROGRAMS] = "C:\\Documents and Settings\\All Users\\Start Menu\\Programs";
  specialFolders[CSIDL_COMMON_DESKTOPDIRECTORY] = "C:\\Documents and Settings\\All Users\\Desktop";
  for (const auto& f : specialFolders) AddDir(f.second);
  AddDir(systemDir);
  // Only administrators may write there (and SYSTEM, TrustedInstaller).
  for (const std::string& f : {windowsDir, systemDir, specialFolders[CSIDL_PROGRAM_FILES],
                               specialFolders[CSIDL_COMMON_PROGRAMS]})
    FindNode(f)->adminOnly = true;
  AddDir(tempPath);
  AddFile(modulePath);
  AddKey("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
  AddKey("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
  AddKey(kSessionManagerKey);
  Process self;
  self.pid = currentPid;
  self.exeFile = "Brannoch.exe";
  self.owner = userName;
  processes.push_back(self);
}

Machine::~Machine() { g_current = nullptr; }

Machine& Machine::Current() {
  if (g_current == nullptr) throw std::logic_error("no simulated machine");
  return *g_current;
}

std::string Machine::Fold(const std::string& s) const {
  std::string out = s;
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (IsLead(c) && i + 1 < out.size()) {
      ++i;  // trail byte kept as it is
      continue;
    }
    if (c >= 'A' && c <= 'Z') out[i] = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// The last separator's position, never a trail byte; npos where there is none.
static size_t LastSeparator(const Machine& m, const std::string& s) {
  size_t last = std::string::npos;
  for (size_t i = 0; i < s.size(); ++i) {
    if (m.IsLead(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) {
      ++i;
      continue;
    }
    if (s[i] == '\\') last = i;
  }
  return last;
}

// GetFullPathNameA: the name is read as characters of the code page, then made
// absolute (current drive C:, current directory currentDir), '/' becomes '\',
// runs of separators collapse, "." and ".." components are evaluated (never
// above the root), an inner component ending in a single period loses it
// ("a." -> "a", "b.." kept: Vista and later; Wine's ntdll/tests/path.c,
// "c:/test../file"; on XP, and with fullPathLikeXp, any inner component loses
// one trailing period), and a name that does not end in a separator loses its
// trailing periods and spaces.
std::string Machine::FullPath(const std::string& path) const {
  std::string s;
  s.reserve(path.size());
  bool drive = false;  // a single-byte character, then ':'
  for (size_t i = 0; i < path.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsLead(c)) {
      if (i + 1 < path.size()) s.append(path, i++, 2);
      continue;  // a lead byte without its trail byte converts to nothing
    }
    drive = drive || (s.size() == 1 && c == ':');
    s += c == '/' ? '\\' : static_cast<char>(c);
  }
  if (s.empty()) return "";
  std::string root, rest;
  if (drive) {
    root = s.substr(0, 2) + "\\";
    rest = s.substr(2);
  } else if (s[0] == '\\') {
    root = "C:\\";
    rest = s;
  } else {
    root = "C:\\";
    rest = currentDir.substr(3) + "\\" + s;
  }
  // Components, split on real separators only.
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < rest.size(); ++i) {
    if (IsLead(static_cast<unsigned char>(rest[i])) && i + 1 < rest.size()) {
      parts.back() += rest.substr(i++, 2);
    } else if (rest[i] == '\\') {
      parts.emplace_back();
    } else {
      parts.back() += rest[i];
    }
  }
  const bool endsInSeparator = parts.size() > 1 && parts.back().empty();
  std::vector<std::string> out;
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string part = parts[i];
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!out.empty()) out.pop_back();
      continue;
    }
    const bool last = i + 1 == parts.size();
    const bool periodRun = part.size() > 1 && part[part.size() - 2] == '.';
    if (!last && part.back() == '.' && part.find_first_not_of('.') != std::string::npos &&
        (fullPathLikeXp || !periodRun))
      part.pop_back();
    out.push_back(part);
  }
  std::string full = root;
  for (size_t i = 0; i < out.size(); ++i) full += (i ? "\\" : "") + out[i];
  if (endsInSeparator && full.size() > 3) full += "\\";
  if (!endsInSeparator) {
    while (full.size() > 3 && (full.back() == ' ' || full.back() == '.')) full.pop_back();
  }
  return full;
}

// A full path ends in a separator: a trailing byte 0x5C may be a trail byte.
static bool EndsInSeparator(const Machine& m, const std::string& full) {
  return full.size() > 3 && full.back() == '\\' && LastSeparator(m, full) == full.size() - 1;
}

std::string Machine::Normalize(const std::string& path) const {
  std::string p = FullPath(path);
  if (EndsInSeparator(*this, p)) p.pop_back();
  return p;
}

std::string Machine::Parent(const std::string& n) const {
  const size_t last = LastSeparator(*this, n);
  if (n.size() <= 3 || last == std::string::npos) return "";
  return last == 2 ? n.substr(0, 3) : n.substr(0, last);
}

std::string Machine::Leaf(const std::string& n) const {
  const size_t last = LastSeparator(*this, n);
  return last == std::string::npos ? n : n.substr(last + 1);
}

std::vector<std::string> Machine::Children(const std::string& n) const {
  std::vector<std::string> out;
  const std::string key = Fold(n);
  // Only keys that begin with the folder's key and a backslash can be its
  // children (folding keeps every byte in place).
  const std::string from = key.back() == '\\' ? key : key + "\\";
  for (auto it = nodes.lower_bound(from); it != nodes.end() && it->first.compare(0, from.size(), from) == 0; ++it) {
    if (it->first == key) continue;
    if (Fold(Parent(it->second.path)) == key) out.push_back(it->first);
  }
  return out;
}

// A name ending in a separator names a folder only ("a.txt\" is not found).
Machine::Node* Machine::FindNode(const std::string& path) {
  return const_cast<Node*>(static_cast<const Machine*>(this)->FindNode(path));
}
const Machine::Node* Machine::FindNode(const std::string& path) const {
  std::string full = FullPath(path);
  const bool trailing = EndsInSeparator(*this, full);
  if (trailing) full.pop_back();  // as Normalize
  auto it = nodes.find(Fold(Resolve(full, false)));
  if (it == nodes.end()) return nullptr;
  return trailing && !it->second.dir ? nullptr : &it->second;
}

std::string Machine::Resolve(const std::string& normalized, bool followLast, int hops) const {
  const std::string parent = Parent(normalized);
  if (parent.empty() || hops > 99) return normalized;  // the root, or a loop of links (not found)
  const std::string p = Resolve(parent, true, hops + 1), n = p + (p.size() > 3 ? "\\" : "") + Leaf(normalized);
  auto it = nodes.find(Fold(n));
  return followLast && it != nodes.end() && !it->second.linkTo.empty() ? Resolve(it->second.linkTo, true, hops + 1) : n;
}

void Machine::AddLink(const std::string& path, const std::string& target) {
  AddDir(path);
  Node& node = nodes[Fold(Normalize(path))];
  node.attributes = FILE_ATTRIBUTE_REPARSE_POINT;
  node.linkTo = Normalize(target);
}

void Machine::AddDrive(char letter) {
  Node n;
  n.path = std::string(1, letter) + ":\\";
  n.dir = true;
  n.id = nextNodeId++;
  nodes[Fold(n.path)] = n;
}

void Machine::AddDir(const std::string& path) {
  const std::string n = Normalize(path);
  if (n.size() <= 3) return;
  if (FindNode(n) != nullptr) return;
  AddDir(Parent(n));
  Node node;
  node.path = n;
  node.dir = true;
  node.id = nextNodeId++;
  nodes[Fold(n)] = node;
}

void Machine::AddFile(const std::string& path, DWORD attributes) {
  const std::string n = Normalize(path);
  AddDir(Parent(n));
  Node node;
  node.path = n;
  node.attributes = attributes;
  node.id = nextNodeId++;
  nodes[Fold(n)] = node;
}

void Machine::Lock(const std::string& path, bool movable) {
  Node* node = FindNode(path);
  if (node == nullptr) throw std::logic_error("lock of a missing file: " + path);
  node->locked = true;
  node->lockMovable = movable;
}

void Machine::Hold(const std::string& path, DWORD pid, bool shareDelete) {
  Node* node = FindNode(path);
  if (node == nullptr) throw std::logic_error("hold of a missing file: " + path);
  node->heldBy = pid;
  node->shareDelete = shareDelete;
}

std::string Machine::VolumeRoot(const std::string& normalized) const {
  for (std::string p = normalized; p.size() > 3; p = Parent(p))
    for (const std::string& mount : mountPoints)
      if (Fold(p) == Fold(Normalize(mount))) return Normalize(mount) + "\\";
  return normalized.substr(0, 3);
}

bool Machine::Plant(const std::string& path, const std::string& target) {
  const std::string n = Resolve(Normalize(path), false);
  const Node* node = FindNode(n);
  const bool inTemp = Fold(Parent(n)) == Fold(Normalize(tempPath));
  if (node != nullptr) {
    // A folder it may write: emptied, then made a junction (FSCTL_SET_REPARSE_POINT, MS-FSA).
    if (!inTemp && !(node->dir && !node->adminOnly && !node->closed)) return false;
  } else {
    // A free name: made in the nearest folder that exists, if it may write there.
    std::string p = Parent(n);
    while (!p.empty() && FindNode(p) == nullptr) p = Parent(p);
    if (p.empty() || FindNode(p)->adminOnly || FindNode(p)->closed) return false;
  }
  nodes.erase(Fold(n));
  AddLink(n, target);
  return true;
}

bool Machine::Exists(const std::string& path) const { return FindNode(path) != nullptr; }

DWORD Machine::Attributes(const std::string& path) const {
  const Node* node = FindNode(path);
  if (node == nullptr) return INVALID_FILE_ATTRIBUTES;
  DWORD a = node->attributes | (node->dir ? FILE_ATTRIBUTE_DIRECTORY : 0);
  return a == 0 ? FILE_ATTRIBUTE_NORMAL : a;
}

std::vector<std::string> Machine::ListAll() const {
  std::vector<std::string> out;
  for (const auto& kv : nodes) out.push_back(kv.second.path);
  return out;
}

void Machine::Restart() {
  // Every holder lets go at shutdown: what waited for it goes first.
  for (auto it = nodes.begin(); it != nodes.end();) it = it->second.deletePending ? nodes.erase(it) : std::next(it);
  for (const std::string& path : restartQueue) {
    Node* node = FindNode(Resolve(Normalize(path), true));
    if (node == nullptr) continue;
    if (node->dir && !Children(node->path).empty()) continue;
    if (node->attributes & FILE_ATTRIBUTE_READONLY) continue;  // the deletion honours it
    nodes.erase(Fold(node->path));
  }
  restartQueue.clear();
  for (auto& kv : nodes) kv.second.locked = false, kv.second.heldBy = 0;
  for (auto& p : processes)
    if (p.pid != currentPid) p.exited = true;
  windows.clear();
}

void Machine::AddKey(const std::string& path) {
  std::string p = path;
  while (!p.empty() && p.back() == '\\') p.pop_back();
  if (p.empty() || FindKey(p) != nullptr) return;
  size_t sep = p.rfind('\\');
  if (sep != std::string::npos) AddKey(p.substr(0, sep));
  Key k;
  k.path = p;
  keys[Fold(p)] = k;
}

void Machine::SetValue(const std::string& keyPath, const std::string& name, const std::string& data) {
  AddKey(keyPath);
  FindKey(keyPath)->values[Fold(name)] = {name, data};
}

void Machine::DenyAllAccess(const std::string& keyPath) {
  AddKey(keyPath);
  FindKey(keyPath)->denyAllAccess = true;
}

bool Machine::KeyExists(const std::string& path) const { return keys.count(Fold(path)) != 0; }

bool Machine::ValueExists(const std::string& keyPath, const std::string& name) const {
  auto it = keys.find(Fold(keyPath));
  return it != keys.end() && it->second.values.count(Fold(name)) != 0;
}

Machine::Key* Machine::FindKey(const std::string& path) {
  auto it = keys.find(Fold(path));
  return it == keys.end() ? nullptr : &it->second;
}

DWORD Machine::AddProcess(const std::string& exeFile, const std::string& owner) {
  Process p;
  p.pid = nextPid_;
  nextPid_ += 4;
  p.exeFile = exeFile;
  p.owner = owner;
  p.startedAt = clockMs;
  processes.push_back(p);
  return p.pid;
}

Process* Machine::FindProcess(DWORD pid) {
  for (auto& p : processes)
    if (p.pid == pid) return &p;
  return nullptr;
}

uint64_t Machine::RunProgram(DWORD pid) {
  const auto found = programs.find(Fold(FindProcess(pid)->exeFile));
  const Program prog = found == programs.end() ? Program{} : found->second;
  const std::vector<int> jobs = FindProcess(pid)->jobs;
  if (prog.run) prog.run();
  const uint64_t end = clockMs + prog.runsForMs;
  const auto start = [&](const std::string& exe, bool joins, bool outside) {
    Process* c = FindProcess(AddProcess(exe, userName));
    c->parentPid = pid;
    c->joinsParentJobs = joins;
    if (!outside) c->jobs = jobs;  // the jobs its starter is in by then
    return c;
  };
  if (prog.copyRunsForMs != 0) {
    // As NSIS 3.08 does on Wine 8: "%TEMP%\\~nsu1.tmp\\Un.exe", started by
    // the uninstaller just before it ends.
    Process* copy = start(tempPath + "~nsu1.tmp\\Un.exe", !prog.copyStartsAtOnce, false);
    copy->terminated = true;
    copy->endAt = end + prog.copyRunsForMs;
  }
  // Breakaway needs every job of the starter to allow it; else CreateProcess
  // fails with ERROR_ACCESS_DENIED and nothing starts (Microsoft's
  // JOBOBJECT_BASIC_LIMIT_INFORMATION page; Wine's kernel32 process tests, test_BreakawayOk).
  const bool away = prog.leavesBreakingAway;
  if (!prog.leavesRunning.empty() &&
      (!away || std::all_of(jobs.begin(), jobs.end(), [&](int j) { return breakawayJobs.count(j) != 0; }))) {
    const DWORD left = start(prog.leavesRunning, !away, away)->pid;
    if (programs.count(Fold(Normalize(prog.leavesRunning))) != 0) RunProgram(left);
  }
  Process* p = FindProcess(pid);
  p->terminated = true;  // ends on its own after runsFor
  p->endAt = end;
  return end + prog.copyRunsForMs;
}

bool Machine::IsAlive(DWORD pid) const {
  for (const auto& p : processes) {
    if (p.pid != pid) continue;
    if (p.exited) return false;
    return !(p.terminated && clockMs >= p.endAt);
  }
  return false;
}

HWND Machine::AddWindow(const std::string& title, bool hung, DWORD pid) {
  Window w;
  w.title = title;
  w.hung = hung;
  w.pid = pid;
  windows.push_back(w);
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(0x5000 + windows.size()));
}

Window* Machine::WindowByTitle(const std::string& title) {
  for (auto& w : windows)
    if (w.title == title) return &w;
  return nullptr;
}

void Machine::ScriptBox(int answer, std::function<void()> before) {
  boxScript.emplace_back(answer, std::move(before));
}

void Machine::InstallProgram(const std::string& path, Program program) {
  AddFile(path);
  programs[Fold(Normalize(path))] = std::move(program);
}

bool Machine::ShouldFail(const char* call) {
  const int n = ++callCounts[call];
  if (failAlways_.count(call)) return true;
  auto it = failNth_.find(call);
  return it != failNth_.end() && it->second.count(n) != 0;
}

void Machine::Enter(const char* call, bool mayEnd) {
  ++seamCalls;
  if (beforeCall) beforeCall(call);
  if (endBefore != 0 && seamCalls == endBefore) endPending_ = true;
  if (endPending_ && mayEnd) {
    endPending_ = false;
    endBefore = 0;
    throw ProgramEnded();
  }
}

// As Windows does for an ended process: its handles close (and with them its
// file locks, its listings and its job handles; jobs without limits keep
// their processes running), and its memory goes.
void Machine::EndProgram() {
  handles_.clear();
  environmentBlocks.clear();
  endPending_ = false;
  endBefore = 0;
}

std::vector<std::string> Machine::LogLines() const {
  std::vector<std::string> out;
  for (const auto& a : log) out.push_back(a.ToString());
  return out;
}

uintptr_t Machine::NewHandle(HandleObj obj) {
  const uintptr_t h = nextHandle_;
  nextHandle_ += 4;
  handles_.emplace(h, std::move(obj));
  return h;
}

Machine::HandleObj* Machine::GetHandle(uintptr_t h, HandleObj::Kind kind) {
  auto it = handles_.find(h);
  if (it == handles_.end() || it->second.kind != kind) return nullptr;
  return &it->second;
}

bool Machine::CloseHandleValue(uintptr_t h) { return handles_.erase(h) != 0; }

void Machine::Record(const std::string& op, const std::string& target, const std::string& detail) {
  log.push_back({op, target, detail});
}

}  // namespace sim
