// The probe table on the simulated machine:
//   conformance_sim            prints the simulator's lines (code page 936,
//                              after-restart lines, code page 950) and the
//                              table's recorded Wine-versus-Windows differences
//   conformance_sim --check    the simulator gives Windows' documented line
//                              wherever Wine is known to differ
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/conformance/probes.h"
#include "tests/sim/machine.h"

namespace {

class SimFixture : public conformance::Fixture {
 public:
  explicit SimFixture(sim::Machine& m) : m_(m) {}
  void Dir(const std::string& path) override { m_.AddDir(path); }
  void File(const std::string& path, bool readOnly) override {
    m_.AddFile(path, readOnly ? FILE_ATTRIBUTE_READONLY : 0);
  }
  // A holder sharing deletion stands in the way of neither deletion nor renaming.
  void Hold(const std::string& path, bool shareDelete) override {
    if (!shareDelete) m_.Lock(path, false);
  }
  void MapImage(const std::string& path) override {
    m_.AddFile(path);
    m_.Lock(path, true);
  }
  void Link(const std::string& path, const std::string& target) override { m_.AddLink(path, target); }
  void DenyDelete(const std::string& path) override { m_.FindNode(path)->deleteDenied = true; }
  void Release() override {
    for (auto& kv : m_.nodes) kv.second.locked = false;
  }
  void Key(const std::string& path) override { m_.AddKey(path); }
  void Value(const std::string& key, const std::string& name) override { m_.SetValue(key, name, "x"); }
  void DenyAllAccess(const std::string& key) override { m_.DenyAllAccess(key); }
  void Window(const std::string& title, bool hung) override { m_.AddWindow(title, hung); }
  // Toolhelp on NT names a process by its bare exe name.
  DWORD StartProcess(const std::string& path) override {
    m_.AddFile(path);
    return m_.AddProcess(path.substr(path.rfind('\\') + 1), m_.userName);
  }

 private:
  sim::Machine& m_;
};

std::vector<std::string> Pass(UINT acp) {
  sim::Machine m;
  m.acp = acp;
  m.currentDir = conformance::kRoot;
  SimFixture fixture(m);
  fixture.Dir(conformance::kRoot);
  fixture.Dir(conformance::kOtherDrive);
  std::vector<std::string> lines = conformance::Run(fixture, acp, false);
  m.Restart();
  for (const std::string& l : conformance::Run(fixture, acp, true)) lines.push_back(l);
  return lines;
}

}  // namespace

int main(int argc, char** argv) {
  const bool check = argc >= 2 && std::strcmp(argv[1], "--check") == 0;
  std::vector<std::string> lines = Pass(936);
  for (const std::string& l : Pass(950)) lines.push_back(l);
  int known = 0, wrong = 0;
  for (const conformance::Difference& k : conformance::KnownDifferences()) {
    ++known;
    const std::string want = std::string(k.name) + ": " + k.windows;
    bool found = false;
    for (const std::string& l : lines) found = found || l == want;
    if (!found) {
      ++wrong;
      std::printf("%s: the simulator does not give Windows' line \"%s\"\n", k.name, k.windows);
    }
    if (!check) std::printf("known\t%s\t%s\t%s\t%s\n", k.name, k.wine, k.windows, k.source);
  }
  if (!check)
    for (const conformance::Difference& u : conformance::UnprobedDifferences())
      std::printf("unprobed\t%s\t%s\t%s\t%s\n", u.name, u.wine, u.windows, u.source);
  if (check) {
    std::printf("simulator follows Windows where Wine differs: %d of %d probes\n", known - wrong, known);
    return wrong == 0 ? 0 : 1;
  }
  for (const std::string& l : lines) std::printf("%s\n", l.c_str());
  return 0;
}
