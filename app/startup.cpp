#include "app/startup.h"

#include "platform/loader.h"

DllSearch HardenDllSearch() {
  if (pf::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) > 0) return DllSearch::kSystemDirectoryOnly;
  // Systems without it: at least the current directory leaves the search.
  if (pf::SetDllDirectoryA("") > 0) return DllSearch::kWithoutCurrentDirectory;
  return DllSearch::kUnchanged;
}

int StartProgram(HINSTANCE instance, int (*run)(HINSTANCE instance, int showCommand)) {
  HardenDllSearch();
  // Junctions made by users without administrator rights are not followed
  // (Windows 10 22H2 and 11); elsewhere the call is missing or refused.
  pf::SetRedirectionTrustPolicy(pf::kEnforceRedirectionTrust);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  pf::GetStartupInfoA(&startup);
  const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
  return run(instance, show);
}
