// One table of probes of the platform calls the core relies on. The same
// table runs on the simulated machine (host) and, through the real platform,
// under Wine; each probe prints one normalised line and the two are compared.
#pragma once
#include <string>
#include <vector>

#include "platform/wintypes.h"

namespace conformance {

// What a probe needs set up around it, done by each machine its own way.
class Fixture {
 public:
  virtual ~Fixture() = default;
  virtual void Dir(const std::string& path) = 0;
  virtual void File(const std::string& path, bool readOnly = false) = 0;
  // Another party holds the file open: without sharing, or sharing deletion.
  virtual void Hold(const std::string& path, bool shareDelete) = 0;
  // A copy of a program mapped as a loaded module (created here).
  virtual void MapImage(const std::string& path) = 0;
  // A link at path to the folder target (under Wine: run.py's Unix directory symlink).
  virtual void Link(const std::string& path, const std::string& target) = 0;
  // Its ACL refuses DELETE to everyone, and its folder's FILE_DELETE_CHILD.
  virtual void DenyDelete(const std::string& path) = 0;
  virtual void Release() = 0;                     // ends every hold and mapping
  virtual void Key(const std::string& path) = 0;  // below HKEY_LOCAL_MACHINE
  virtual void Value(const std::string& key, const std::string& name) = 0;
  virtual void DenyAllAccess(const std::string& key) = 0;  // readable only
  // A top-level window; a hung one never answers messages.
  virtual void Window(const std::string& title, bool hung) = 0;
  // A running copy of a program started from path; its pid.
  virtual DWORD StartProcess(const std::string& path) = 0;
};

struct Probe {
  const char* name;
  UINT acp;  // the ANSI code page it runs under
  void (*arrange)(Fixture&, const std::string& dir);
  std::string (*act)(const std::string& dir);
  std::string (*afterRestart)(const std::string& dir);  // may be null
};

const std::vector<Probe>& Probes();

// Where Wine differs from Windows: for a probe's line ("name" or
// "name@restart"), Wine's line, Windows' documented one and the source; for
// what no probe can show, what each does.
struct Difference {
  const char* name;
  const char* wine;
  const char* windows;
  const char* source;
};
const std::vector<Difference>& KnownDifferences();
const std::vector<Difference>& UnprobedDifferences();

// Runs the probes for acp: before a restart (afterRestart false) or after it.
// Each result is "name: line" (after a restart "name@restart: line").
std::vector<std::string> Run(Fixture& fixture, UINT acp, bool afterRestart);

constexpr const char* kRoot = "C:\\conf";
constexpr const char* kOtherDrive = "D:\\conf";
constexpr const char* kKeyRoot = "SOFTWARE\\BrannochConformance";

}  // namespace conformance
