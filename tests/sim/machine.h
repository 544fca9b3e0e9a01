// A small simulated Windows machine behind the platform seam, for host tests.
// It keeps a registry under HKLM, drives with files and folders, a restart
// queue, processes with owners, top-level windows, scripted message boxes,
// special folders, a virtual clock, fault injection and an action log.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/wintypes.h"

namespace sim {

// One change the program made (or a message it showed), in order.
struct Action {
  std::string op;      // "DeleteFile", "RemoveDirectory", "MoveFile", "ScheduleDelete",
                       // "CreateFile", "SetFileAttributes", "RegDeleteValue",
                       // "RegDeleteKey", "RegDeleteTree", "TerminateProcess",
                       // "SendMessage", "ShellExecute", "MessageBox", "SHChangeNotify",
                       // "SetDefaultDllDirectories", "SetDllDirectory", "GetStartupInfo"
  std::string target;  // path, key path, exe name, window title or caption
  std::string detail;  // new name, value, command id, parameters...
  std::string ToString() const { return op + " " + target + (detail.empty() ? "" : " " + detail); }
};

struct Process {
  DWORD pid = 0;
  std::string exeFile;  // as Toolhelp gives it: bare name or full path
  std::string owner;    // account name; "" with ownerReadable false = unreadable
  bool ownerReadable = true;  // owner "CORP\\name": a domain's; "SYSTEM" etc.: a service's
  DWORD session = 1;          // the Terminal Services session; the program's is 1
  bool canOpenAll = true;   // OpenProcess with terminate rights succeeds
  bool canTerminate = true;
  uint32_t exitDelayMs = 0;  // time from termination to exit
  bool terminated = false;
  bool exited = false;
  uint64_t endAt = 0, startedAt = 0;
  DWORD parentPid = 0;
  bool joinsParentJobs = true;  // started after its parent joined a job
  std::vector<int> jobs;        // nested jobs, as on Windows 8 and Wine 8
  bool suspended = false;       // started with CREATE_SUSPENDED, not yet resumed
  int rmKind = 1;               // RM_APP_TYPE: 1 a window, 3 a service, 1000 critical
  std::string description;      // as Restart Manager names it
};

struct Window {
  std::string title;
  bool hung = false;
  DWORD pid = 0;  // owning process; 0: always present
  std::vector<WPARAM> commands;
  std::vector<UINT> sendFlags;
  std::function<void()> onCommand;
};

struct BoxRecord {
  HWND owner;
  std::string text;
  std::string caption;
  UINT style;
  uint64_t atMs;
  UINT codePage;  // the one text and caption are stored in
};

struct Launch {
  DWORD cbSize;
  DWORD fMask;
  HWND hwnd;
  bool verbNull, dirNull;
  std::string file;
  std::string parameters;
  int nShow;
  uint64_t atMs;
  uint64_t endMs;
  std::string how = "ShellExecute", commandLine;  // or "CreateProcess", with its command line
  DWORD creationFlags = 0;
  bool comReady = false;  // COM initialised on the calling thread
  std::string directory;  // its current folder as given ("" none: the program's own)
  std::string environment;  // the block given, entries joined by '|' ("" none: the program's own)
};

struct Program {  // what a started program does
  std::function<void()> run;
  uint32_t runsForMs = 0;
  // Like an NSIS uninstaller: starts a copy of itself from the temporary
  // folder that runs this long after the program itself has ended.
  uint32_t copyRunsForMs = 0;
  bool copyStartsAtOnce = false;  // before the starter can put it in a job
  std::string leavesRunning = {};  // started as its last act, never ends (a page it opens) unless installed:
                                   // then it does what its own Program says (a launcher)
  bool leavesBreakingAway = false;  // that one asked to start outside the job
};

// Thrown at the seam call a test chose: the program's process ends there, as
// when it is ended from Task Manager or the machine loses power.
struct ProgramEnded {};

class Machine {
 public:
  Machine();
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;
  static Machine& Current();

  // --- setup -------------------------------------------------------------
  UINT acp = 936;          // decides double-byte lead bytes (936/950) or none, and what CP_ACP converts
  // The code pages the system can convert: East Asian ones are an optional
  // install on Windows XP and earlier.
  std::set<UINT> codePages = {437, 936, 950, 1252, 65001};
  LANGID langId = 0x0804;  // system default language
  DWORD platformId = VER_PLATFORM_WIN32_NT;
  DWORD ntMajor = 5, ntMinor = 1;  // what GetVersionExA says on NT: XP unless set
  // The program registered for a protocol: the class key's, and the user's choice, which AssocQueryString
  // reads only with ASSOCF_IS_PROTOCOL (Windows 8 on; learn.microsoft.com, ASSOCF enumeration).
  std::map<std::string, std::string> protocolClassExe, protocolChoiceExe;
  std::map<std::string, std::string> longNames;  // folded 8.3 path -> its long form (GetLongPathNameA)
  std::string systemDir = "C:\\WINDOWS\\system32";
  std::string windowsDir = "C:\\WINDOWS";
  std::string tempPath = "C:\\TEMP\\";
  std::string modulePath = "C:\\Tools\\Brannoch.exe";
  std::string userName = "alice";
  std::string currentDir = "C:\\Tools";
  // The program's environment, in the order the system keeps it (sorted).
  std::vector<std::string> environment = {"=C:=C:\\Tools", "PATH=C:\\WINDOWS\\system32", "TEMP=C:\\TEMP",
                                          "TMP=C:\\TEMP", "windir=C:\\WINDOWS"};
  // The system's variables (CreateEnvironmentBlock with no token; its SystemRoot is the program's).
  std::vector<std::string> systemEnvironment = {"ComSpec=C:\\WINDOWS\\system32\\cmd.exe", "SystemRoot=C:\\WINDOWS",
                                                "TEMP=C:\\WINDOWS\\TEMP", "TMP=C:\\WINDOWS\\TEMP", "windir=C:\\WINDOWS"};
  std::list<std::u16string> environmentBlocks;  // made and not yet destroyed
  int elevation = 1;  // RunsElevated's answer: 1, 0, or kMissing (-1)
  std::set<std::string> volumesWithoutAcls;  // roots of volumes that keep no security (FAT)
  std::map<int, std::string> specialFolders;
  // The DLL search calls the system has: Windows 8 and later, and 7 or Vista
  // with update KB2533623, both; XP SP1 to an unpatched 7 only
  // SetDllDirectoryA; older systems neither.
  bool hasSetDefaultDllDirectories = true;
  bool hasSetDllDirectory = true;
  bool hasSetProcessMitigationPolicy = true, hasGetFinalPathNameByHandle = true;  // Windows 8 on, Vista on
  DWORD startupFlags = 0;  // as the parent passed them in STARTUPINFO
  WORD startupShow = 0;
  DWORD currentPid = 4;
  bool debugPrivilegeEnabled = false;  // the desktop user's processes open only then
  DWORD shellPid = 0;                  // the desktop shell of the program's session; 0 none
  std::set<int> breakawayJobs;  // jobs that let a child start outside them
  std::pair<DWORD, uint64_t> justJoined;  // the process a job's port told of as it started, and when
  int comDepth = 0;             // COM initialisations not yet undone on the run's thread
  DWORD comFlags = 0;           // those of the last

  void AddKey(const std::string& path);
  void SetValue(const std::string& keyPath, const std::string& name, const std::string& data = "");
  void DenyAllAccess(const std::string& keyPath);  // opens only for reading
  bool KeyExists(const std::string& path) const;
  bool ValueExists(const std::string& keyPath, const std::string& name) const;

  void AddDrive(char letter);
  void AddDir(const std::string& path);    // with missing parents
  void AddFile(const std::string& path, DWORD attributes = 0);  // with missing parents
  // In use: cannot be deleted; movable says whether it can still be renamed.
  void Lock(const std::string& path, bool movable);
  // Held open by process pid (Restart Manager names it): without delete
  // sharing it can be neither deleted nor renamed; with it, a deletion is
  // accepted and, unless posixDelete, the name stays listed until the holder
  // lets go (opens fail with ERROR_ACCESS_DENIED, as for STATUS_DELETE_PENDING).
  void Hold(const std::string& path, DWORD pid, bool shareDelete);
  // DeleteFileW with POSIX semantics (Windows 10 1809 on, NTFS): the name goes at once.
  bool posixDelete = false;
  // A junction to the folder target: attributes 0x410, names below it looked
  // up in the target; removing it removes the link only.
  void AddLink(const std::string& path, const std::string& target);
  // Folders another volume is mounted on (each drive's root is one too).
  std::vector<std::string> mountPoints;
  std::string VolumeRoot(const std::string& normalized) const;  // "C:\" or a mount point
  // Another, unprivileged account puts a link to target at path: at a free
  // name in a folder it may write to, over a folder it may write to, or over
  // its own in the temporary folder; never in or over a folder only
  // administrators can write to.
  bool Plant(const std::string& path, const std::string& target);
  bool Exists(const std::string& path) const;
  DWORD Attributes(const std::string& path) const;  // INVALID_FILE_ATTRIBUTES when absent
  std::vector<std::string> ListAll() const;          // every path, sorted

  // Applies the restart queue as Windows does at boot (files deleted, folders
  // removed only when empty then), ends every process, releases every lock.
  // A link at a name is followed, as SYSTEM, and its target deleted (no
  // FILE_OPEN_REPARSE_POINT: ReactOS smss SmpProcessFileRenames; Wine 8
  // deletes the link itself).
  // A read-only entry, file or folder, stays: the deletion is a disposition,
  // refused for read-only (MS-FSA 2.1.5.15.3; ReactOS smss clears read-only
  // only on rename targets), as with Wine's.
  void Restart();
  // A name is accepted whether or not anything lies there (ReactOS
  // MoveFileWithProgressW postpones a missing source with the delay flag;
  // Wine 8 writes the entry for a missing file and folder); the restart skips it.
  std::vector<std::string> restartQueue;
  // Read as PendingFileRenameOperations (REG_MULTI_SZ) under this key, no value while empty
  // (learn.microsoft.com, Sysinternals PendMoves; Wine's kernelbase writes the same value).
  static constexpr const char* kSessionManagerKey = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  // Values under it as a test set them (type, bytes), read instead of the queue's.
  std::map<std::string, std::pair<DWORD, std::string>> restartValues;

  DWORD AddProcess(const std::string& exeFile, const std::string& owner);
  Process* FindProcess(DWORD pid);
  bool IsAlive(DWORD pid) const;

  HWND AddWindow(const std::string& title, bool hung = false, DWORD pid = 0);
  Window* WindowByTitle(const std::string& title);

  // Message boxes are answered in order; before() runs while the box is open.
  void ScriptBox(int answer, std::function<void()> before = nullptr);
  std::vector<BoxRecord> boxes;
  int unscriptedBoxes = 0;

  void InstallProgram(const std::string& path, Program program);
  std::vector<Launch> launches;
  bool launchWithoutProcessHandle = false;

  // --- fault injection ---------------------------------------------------
  void FailAlways(const std::string& call) { failAlways_.insert(call); }
  void FailNth(const std::string& call, int n) { failNth_[call].insert(n); }
  void ClearFaults() {
    failAlways_.clear();
    failNth_.clear();
  }
  bool ShouldFail(const char* call);  // counts the call
  std::map<std::string, int> callCounts;
  bool imageNameCallMissing = false;  // QueryFullProcessImageNameA, before Vista
  bool restartManagerMissing = true;  // rstrtmgr.dll, before Vista
  bool imageFileCallMissing = false;  // GetProcessImageFileNameA, before XP
  bool sessionCallMissing = false;    // ProcessIdToSessionId, without Terminal Services
  bool jobsMissing = false;           // job objects, before Windows 2000
  bool nestedJobsMissing = false;     // one job per process, before Windows 8
  // GetFullPathNameA as Windows XP: an inner name loses one trailing period
  // ("b.." -> "b."); Vista and later only take a lone one ("b." -> "b").
  bool fullPathLikeXp = false;

  // --- ending the program ------------------------------------------------
  // Every seam call counts; endBefore = N throws ProgramEnded just before the
  // Nth (a handle close is not a point to end at: the end then comes at the
  // next call). EndProgram() then closes what the process held.
  uint64_t seamCalls = 0;
  uint64_t endBefore = 0;
  std::function<void(const std::string&)> beforeCall;  // runs before each seam call
  void Enter(const char* call, bool mayEnd = true);
  void EndProgram();

  // --- observation -------------------------------------------------------
  std::vector<Action> log;
  std::vector<std::string> LogLines() const;
  uint64_t clockMs = 0;
  std::vector<DWORD> sleeps;
  int hangs = 0;  // infinite waits on something that never ends
  size_t OpenHandles() const { return handles_.size(); }
  std::vector<std::pair<std::string, DWORD>> processOpens;  // exe, access
  std::vector<std::pair<std::string, REGSAM>> keyOpens;     // key, access
  int specialFolderCreateRequests = 0;
  int specialFolderOwnerWindows = 0;

  // --- used by the seam implementation -------------------------------------
  struct Node {
    std::string path;
    bool dir = false;
    DWORD attributes = 0;
    bool locked = false;
    bool lockMovable = false;
    std::string linkTo;  // a link: the normalized path of its target folder
    uint64_t id = 0;     // the file index: the same under every name
    bool adminOnly = false;     // a folder only administrators can write to (owner and DACL)
    bool deleteDenied = false;  // its ACL, and its folder's, refuse DELETE
    bool notOwnable = false;    // its security cannot be changed, even by taking ownership
    // Who may change it, as its security descriptor says (GetItemSecurity):
    // owner "" Administrators, "SY" SYSTEM, "TI" TrustedInstaller, "user" an
    // account of the user's; closed: others may only read (Vista's Program
    // Files), else (adminOnly aside) Power Users may modify (XP's); a NULL DACL.
    std::string owner;
    bool closed = false, nullDacl = false;
    DWORD heldBy = 0;           // held open by this process (Hold)
    bool shareDelete = false;   // ... with delete sharing
    bool deletePending = false; // deleted while so held: listed, never opened, until let go
  };
  struct Key {
    std::string path;
    bool denyAllAccess = false;
    std::map<std::string, std::pair<std::string, std::string>> values;  // folded -> (name, data)
  };
  struct HandleObj {
    enum Kind { kProcess, kToken, kSnapshot, kFind, kKey, kJob, kThread, kPort } kind;
    explicit HandleObj(Kind k) : kind(k) {}
    DWORD pid = 0;
    DWORD access = 0;
    std::vector<PROCESSENTRY32> snapshot;
    std::vector<std::pair<std::string, DWORD>> entries;  // find: name, attributes
    size_t pos = 0;
    std::string keyPath;
    int job = 0;  // a port: the job it watches, pos the last process id told of
  };
  std::string Fold(const std::string& s) const;
  bool IsLead(unsigned char c) const { return (acp == 936 || acp == 950) && c >= 0x81 && c <= 0xFE; }
  std::string FullPath(const std::string& path) const;   // as GetFullPathNameA gives it
  std::string Normalize(const std::string& path) const;  // FullPath without a trailing '\'
  std::string Parent(const std::string& normalized) const;
  std::string Leaf(const std::string& normalized) const;
  std::vector<std::string> Children(const std::string& normalized) const;  // folded keys
  // The normalized path with each link on the way (and the last, if asked) replaced by its target.
  std::string Resolve(const std::string& normalized, bool followLast, int hops = 0) const;
  Node* FindNode(const std::string& path);
  const Node* FindNode(const std::string& path) const;
  Key* FindKey(const std::string& path);
  uintptr_t NewHandle(HandleObj obj);
  HandleObj* GetHandle(uintptr_t h, HandleObj::Kind kind);
  bool CloseHandleValue(uintptr_t h);
  void Record(const std::string& op, const std::string& target, const std::string& detail = "");
  uint64_t RunProgram(DWORD pid);  // does what Program says; the end of its work (its copy's)

  std::map<std::string, Node> nodes;  // folded path -> node
  std::map<std::string, Key> keys;    // folded key path -> key
  std::vector<Process> processes;
  std::vector<Window> windows;
  std::deque<std::pair<int, std::function<void()>>> boxScript;
  std::map<std::string, Program> programs;  // folded path
  std::vector<std::string> accounts;
  DWORD lastError = 0;
  unsigned tempCounter = 0x1A2B;
  uint64_t nextNodeId = 1;

 private:
  std::set<std::string> failAlways_;
  std::map<std::string, std::set<int>> failNth_;
  std::map<uintptr_t, HandleObj> handles_;
  uintptr_t nextHandle_ = 0x1000;
  DWORD nextPid_ = 1000;
  bool endPending_ = false;

 public:
  int nextJob = 1;
};

}  // namespace sim
