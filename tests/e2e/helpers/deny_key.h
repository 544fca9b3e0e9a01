// Test helpers only: gives an open registry key (opened with READ_CONTROL |
// WRITE_DAC) a DACL under which everyone may read and nobody may write or
// delete, so that opening it with KEY_ALL_ACCESS fails.
#pragma once
#include <windows.h>

inline LONG DenyAllButRead(HKEY key) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
    return static_cast<LONG>(GetLastError());
  char aclBuf[256];
  PACL acl = reinterpret_cast<PACL>(aclBuf);
  InitializeAcl(acl, sizeof aclBuf, ACL_REVISION);
  AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ, everyone);
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
  const LONG r = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
  FreeSid(everyone);
  return r;
}
