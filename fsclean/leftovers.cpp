#include "fsclean/leftovers.h"

#include <cstring>

#include "platform/mbstring.h"

void RunRecord::Clear() {
  stays_ = keptKeys_ = handedCount_ = madeCount_ = 0;
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

void RunRecord::Handed(const char* path) {
  const size_t n = std::strlen(path);
  if (handedCount_ >= kMaxHanded || n >= MAX_PATH) return;
  std::memcpy(handed_[handedCount_++], path, n + 1);
}

bool RunRecord::WasHanded(const char* path) const {
  for (unsigned i = 0; i < handedCount_; ++i)
    if (pf::MbsICmp(handed_[i], path) == 0) return true;
  return false;
}

void RunRecord::Made(const char* folder) {
  const size_t n = std::strlen(folder);
  if (madeCount_ >= kMaxMade || n >= MAX_PATH) return;
  std::memcpy(made_[madeCount_++], folder, n + 1);
}

bool RunRecord::WasMade(const char* folder) const {
  for (unsigned i = 0; i < madeCount_; ++i)
    if (pf::MbsICmp(made_[i], folder) == 0) return true;
  return false;
}
