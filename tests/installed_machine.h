// A simulated machine with the three old editions installed, in the names of
// one or more languages, beside unrelated neighbours that must survive.
#pragma once
#include <string>
#include <vector>

#include "engine/catalogue.h"
#include "tests/sim/machine.h"

namespace fixture {

extern const char kProgramFiles[];
extern const char kPrograms[];
extern const char kDesktop[];
extern const char kSystem[];

struct Options {
  std::vector<int> editions = {1, 2, 3};
  std::vector<UiLanguage> languages = {0, 1, 2};
  bool neighbours = true;
  bool lockedFiles = true;
  bool uninstallers = true;
};

// Returns the pids of the neighbour processes (other accounts, same names).
std::vector<DWORD> Install(sim::Machine& m, const Options& options = {});

// Every path, key and value of the neighbours, which a run must leave alone.
std::vector<std::string> NeighbourPaths();
std::vector<std::pair<std::string, std::string>> NeighbourValues();  // key, value
std::vector<std::string> NeighbourKeys();

// What a run in this language may touch; everything else is outside it.
struct Allowlist {
  UiLanguage language;
  std::vector<std::string> createdTempNames;  // filled from the log: created or scheduled
  bool Allows(const sim::Machine& m, const sim::Action& a) const;
};

}  // namespace fixture
