#include "fsclean/paths.h"

#include <cstring>

bool ComposePath(char* dst, size_t cap, const char* a, const char* b, const char* c) {
  if (cap == 0) return false;
  const size_t la = std::strlen(a), lb = std::strlen(b), lc = std::strlen(c);
  if (la + lb + lc >= cap) {
    dst[0] = '\0';
    return false;
  }
  std::memmove(dst, a, la);
  std::memcpy(dst + la, b, lb);
  std::memcpy(dst + la + lb, c, lc);
  dst[la + lb + lc] = '\0';
  return true;
}

void TrimLastComponent(const char* path, char* dest, size_t destCap) {
  size_t count = 0, last = 0;
  for (size_t i = 0; path[i] != '\0'; ++i) {
    if (path[i] == '\\') {
      ++count;
      last = i;
    }
  }
  if (count < 2) return;
  if (last >= destCap) return;
  std::memcpy(dest, path, last);
}

bool IsFolderBelow(const char* rel) {
  bool anyName = false;
  const char* p = rel;
  while (*p != '\0') {
    while (*p == '\\') ++p;
    const char* start = p;
    while (*p != '\0' && *p != '\\') ++p;
    const size_t n = static_cast<size_t>(p - start);
    if (n == 0) continue;
    if ((n == 1 && start[0] == '.') || (n == 2 && start[0] == '.' && start[1] == '.')) return false;
    anyName = true;
  }
  return anyName;
}
