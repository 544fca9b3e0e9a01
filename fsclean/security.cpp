#include "fsclean/security.h"

#include <cstdint>
#include <cstring>

namespace {

// Offsets in a self-relative SECURITY_DESCRIPTOR, ACL and ACE (winnt.h).
constexpr uint16_t kSelfRelative = 0x8000, kDaclPresent = 0x0004;
constexpr uint8_t kAccessAllowed = 0, kAccessDenied = 1, kAllowedCallback = 9, kDeniedCallback = 10;
constexpr uint8_t kInheritOnly = 0x08;

// FILE_ADD_FILE, FILE_ADD_SUBDIRECTORY, FILE_DELETE_CHILD, DELETE, WRITE_DAC, WRITE_OWNER.
constexpr uint32_t kChangeRights = 0x2 | 0x4 | 0x40 | 0x10000 | 0x40000 | 0x80000;

// Generic rights as the file system maps them (FILE_GENERIC_READ, _WRITE,
// _EXECUTE, FILE_ALL_ACCESS).
uint32_t MapGeneric(uint32_t mask) {
  if (mask & 0x80000000u) mask |= 0x120089;
  if (mask & 0x40000000u) mask |= 0x120116;
  if (mask & 0x20000000u) mask |= 0x1200A0;
  if (mask & 0x10000000u) mask |= 0x1F01FF;
  return mask & 0x0FFFFFFFu;
}

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Read32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// S-1-5-32-544, S-1-5-18, S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464.
const uint8_t kAdministrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
const uint8_t kSystem[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
const uint8_t kTrustedInstaller[] = {1,    6,    0,    0,    0,    0,    0,    5,    80,   0,    0,    0,
                                     0xB5, 0x89, 0xFB, 0x38, 0x19, 0x84, 0xC2, 0xCB, 0x5C, 0x6C, 0x23, 0x6D,
                                     0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87};

// The length of the SID at p within end, or 0 when it does not fit.
size_t SidLength(const uint8_t* p, const uint8_t* end) {
  if (end - p < 8 || p[0] != 1) return 0;
  const size_t n = 8 + 4 * static_cast<size_t>(p[1]);
  return static_cast<size_t>(end - p) >= n ? n : 0;
}
template <size_t N>
bool Is(const uint8_t* sid, size_t n, const uint8_t (&known)[N]) {
  return n == N && std::memcmp(sid, known, N) == 0;
}
bool Trusted(const uint8_t* sid, size_t n) {
  return Is(sid, n, kAdministrators) || Is(sid, n, kSystem) || Is(sid, n, kTrustedInstaller);
}

// The owner SID, or null with *n 0.
const uint8_t* Owner(const uint8_t* sd, size_t length, size_t* n) {
  *n = 0;
  if (sd == nullptr || length < 20 || sd[0] != 1 || !(Read16(sd + 2) & kSelfRelative)) return nullptr;
  const uint32_t at = Read32(sd + 4);
  if (at == 0 || at >= length) return nullptr;
  *n = SidLength(sd + at, sd + length);
  return *n != 0 ? sd + at : nullptr;
}

}  // namespace

bool OwnedByTrustedInstaller(const void* descriptor, size_t length) {
  size_t n = 0;
  const uint8_t* owner = Owner(static_cast<const uint8_t*>(descriptor), length, &n);
  return owner != nullptr && Is(owner, n, kTrustedInstaller);
}

bool LetsOthersChange(const void* descriptor, size_t length) {
  const uint8_t* sd = static_cast<const uint8_t*>(descriptor);
  size_t n = 0;
  const uint8_t* owner = Owner(sd, length, &n);
  if (owner == nullptr || !Trusted(owner, n)) return true;
  const uint32_t daclAt = Read32(sd + 16);
  // No DACL: everyone may do anything.
  if (!(Read16(sd + 2) & kDaclPresent) || daclAt == 0) return true;
  if (daclAt > length || length - daclAt < 8) return true;
  const uint8_t* acl = sd + daclAt;
  const uint8_t* end = acl + Read16(acl + 2);
  if (Read16(acl + 2) < 8 || end > sd + length) return true;
  const uint8_t* ace = acl + 8;
  for (unsigned i = 0, count = Read16(acl + 4); i < count; ++i) {
    if (end - ace < 8) return true;
    const uint8_t type = ace[0], flags = ace[1];
    const uint16_t size = Read16(ace + 2);
    if (size < 8 || end - ace < size) return true;
    const uint8_t* next = ace + size;
    // Denials only take rights away; entries for what is made inside do not
    // apply to the item itself.
    if (type == kAccessDenied || type == kDeniedCallback || (flags & kInheritOnly)) {
      ace = next;
      continue;
    }
    if (type != kAccessAllowed && type != kAllowedCallback) return true;  // object or compound entries
    const size_t sidLength = SidLength(ace + 8, next);
    if (sidLength == 0) return true;
    if ((MapGeneric(Read32(ace + 4)) & kChangeRights) && !Trusted(ace + 8, sidLength)) return true;
    ace = next;
  }
  return false;
}
