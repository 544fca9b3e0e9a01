#include "fsclean/leftovers.h"

#include <cstring>

#include "platform/mbstring.h"

void RunRecord::Clear() {
  stays_ = keptKeys_ = handed_.count = made_.count = 0;
}

void RunRecord::Stay(const char* path, StayReason why, bool keepsKey, const WCHAR* holder) {
  if (keepsKey) ++keptKeys_;
  if (stays_ < kMaxItems) {
    StayingItem& item = items_[stays_];
    const size_t n = std::strlen(path);
    // A path longer than the buffer is not cut into another: it shows empty.
    if (n < sizeof item.path) std::memcpy(item.path, path, n + 1);
    else item.path[0] = '\0';
    item.why = why;
    item.keepsKey = keepsKey;
    unsigned i = 0;
    for (; holder != nullptr && holder[i] != 0 && i + 1 < sizeof item.holder / sizeof item.holder[0]; ++i)
      item.holder[i] = holder[i];
    item.holder[i] = 0;
  }
  ++stays_;
}

template <unsigned N>
void PathList<N>::Add(const char* path) {
  const size_t n = std::strlen(path);
  if (count < N && n < MAX_PATH) std::memcpy(paths[count++], path, n + 1);
}

template <unsigned N>
bool PathList<N>::Has(const char* path) const {
  for (unsigned i = 0; i < count; ++i)
    if (pf::MbsICmp(paths[i], path) == 0) return true;
  return false;
}

template struct PathList<RunRecord::kMaxHanded>;
template struct PathList<RunRecord::kMaxMade>;
