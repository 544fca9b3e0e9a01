// What a run leaves of the old editions, and what it handed to the restart
// under its own name. The dialog owns one; the run fills it on its own
// thread, and the dialog reads it only once the run has ended.
#pragma once
#include "platform/wintypes.h"

// Why something stays after the run.
enum class StayReason : unsigned char {
  kHeld,         // held open by a program of the user's session, which the final box names
  kHeldElsewhere,  // held by a service or another session's program, and no safe way to the restart
  kNoRunFolder,  // no folder of the run's on its volume to move it into
  kNotTaken,     // its folder could not be made the administrators'
  kOpenFolder,   // a folder above it lets other accounts change it
  kRefused,      // the system refused it for the restart
  kNotStarted,   // an uninstaller that could not be started as the run requires
};

struct StayingItem {
  char path[MAX_PATH];
  StayReason why;
  bool keepsKey;       // running again after closing the holder can finish it
  WCHAR holder[64];    // the program or service that holds it, as the system names it; "" unknown
};

// Up to N paths, compared without case; one that does not fit is not kept.
template <unsigned N>
struct PathList {
  char paths[N][MAX_PATH];
  unsigned count = 0;
  void Add(const char* path);
  bool Has(const char* path) const;
};

class RunRecord {
 public:
  static constexpr unsigned kMaxItems = 8;
  static constexpr unsigned kMaxHanded = 32;
  static constexpr unsigned kMaxMade = 4;

  // A record starts empty; Clear makes it so again.
  void Clear();
  // Notes path as staying; holder may be null. Counted beyond kMaxItems.
  void Stay(const char* path, StayReason why, bool keepsKey, const WCHAR* holder = nullptr);
  unsigned StayCount() const { return stays_; }
  unsigned KeptKeyCount() const { return keptKeys_; }
  // The first min(StayCount(), kMaxItems) items, in the order noted.
  const StayingItem& Item(unsigned i) const { return items_[i]; }

  // A file or folder handed to the restart under its own name. Beyond
  // kMaxHanded a name is not remembered, and a folder holding it is not
  // taken for the run's.
  void Handed(const char* path) { handed_.Add(path); }
  bool WasHanded(const char* path) const { return handed_.Has(path); }
  // A run's folder this run made, with its descriptor at creation: the
  // run's by construction, whatever the system answers when its security is
  // read back (Wine keeps no descriptor and names the user as the owner).
  void Made(const char* folder) { made_.Add(folder); }
  bool WasMade(const char* folder) const { return made_.Has(folder); }

 private:
  StayingItem items_[kMaxItems];
  unsigned stays_ = 0, keptKeys_ = 0;
  PathList<kMaxHanded> handed_;
  PathList<kMaxMade> made_;
};
