#include "tests/conformance/probes.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "fsclean/security.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/loader.h"
#include "platform/mbstring.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform/window.h"

namespace conformance {
namespace {

using Dir = const std::string&;

std::string Num(unsigned long v) { return std::to_string(v); }

// Call result: "1", or "0 e=<last error>".
std::string R(BOOL ok) { return ok ? "1" : "0 e=" + Num(pf::GetLastError()); }
std::string Reg(LONG r) { return "r=" + Num(static_cast<unsigned long>(r)); }

// Bytes outside printable ASCII as \xHH.
std::string Esc(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02X", c);
      out += b;
    }
  }
  return out;
}

// "_@" followed by hex digits and ".tmp": the digits are the system's choice.
std::string MaskTempNumber(const std::string& name) {
  const size_t at = name.find("_@");
  if (at == std::string::npos) return name;
  size_t end = at + 2;
  while (end < name.size() && std::isxdigit(static_cast<unsigned char>(name[end]))) ++end;
  if (end == at + 2 || end - at - 2 > 4) return name;
  return name.substr(0, at + 2) + "#" + name.substr(end);
}

void ListInto(const std::string& dir, const std::string& rel, std::vector<std::string>& out) {
  WIN32_FIND_DATAA d;
  std::memset(&d, 0, sizeof d);
  pf::ScopedFindHandle find(pf::FindFirstFileA((dir + "\\*").c_str(), &d));
  if (!find.IsValid()) return;
  std::vector<std::pair<std::string, DWORD>> entries;
  do {
    if (std::strcmp(d.cFileName, ".") != 0 && std::strcmp(d.cFileName, "..") != 0)
      entries.emplace_back(d.cFileName, d.dwFileAttributes);
  } while (pf::FindNextFileA(find.Get(), &d));
  std::sort(entries.begin(), entries.end());
  for (const auto& e : entries) {
    const bool isDir = (e.second & FILE_ATTRIBUTE_DIRECTORY) != 0;
    out.push_back(MaskTempNumber(rel + e.first) + (isDir ? "\\" : "") +
                  ((e.second & FILE_ATTRIBUTE_READONLY) ? "(r)" : ""));
    if (isDir) ListInto(dir + "\\" + e.first, rel + e.first + "\\", out);
  }
}

// What a folder holds, recursively: "[a, sub\, sub\b(r)]".
std::string List(const std::string& dir) {
  std::vector<std::string> all;
  ListInto(dir, "", all);
  std::string s = "[";
  for (size_t i = 0; i < all.size(); ++i) s += (i ? ", " : "") + all[i];
  return s + "]";
}

// Arrangement through the call itself, which sets read-only on a folder too.
void ReadOnly(const std::string& path) { pf::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY); }

std::string Attr(const std::string& path) {
  const DWORD a = pf::GetFileAttributesA(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return "none e=" + Num(pf::GetLastError());
  return (a & FILE_ATTRIBUTE_DIRECTORY) ? "dir" : "file";
}

std::string Full(const std::string& path) {
  char buf[MAX_PATH] = {};
  const DWORD n = pf::GetFullPathNameA(path.c_str(), MAX_PATH, buf, nullptr);
  if (n == 0 || n >= MAX_PATH) return "n=" + Num(n);
  return Esc(buf);
}

std::string Move(const std::string& from, const std::string& to, DWORD flags) {
  return R(pf::MoveFileExA(from.c_str(), to.empty() ? nullptr : to.c_str(), flags));
}

// The parts in order (a braced list is evaluated left to right), space-separated.
std::string Join(std::initializer_list<std::string> parts) {
  std::string s;
  for (const std::string& p : parts) s += (s.empty() ? "" : " ") + p;
  return s;
}

std::string Key(Dir dir) { return std::string(kKeyRoot) + "\\" + dir.substr(dir.rfind('\\') + 1); }

bool KeyOpens(const std::string& key, REGSAM access) {
  pf::ScopedRegKey k;
  return k.Open(HKEY_LOCAL_MACHINE, key.c_str(), access);
}

// Offset of MbsRChr's answer from the start, or "null". The string sits in a
// zero-filled buffer, so a search that runs past its terminator reads zeros.
std::string RChr(const char* text, unsigned ch) {
  char s[32] = {};
  std::memcpy(s, text, std::strlen(text));
  const char* p = pf::MbsRChr(s, ch);
  return p == nullptr ? "null" : Num(static_cast<unsigned long>(p - s));
}

// MultiByteToWideChar into 8 units: "<result> <units>" or "0 e=<error>".
std::string ToWide(UINT codePage, DWORD flags, const char* text) {
  WCHAR w[8] = {};
  const int n = pf::MultiByteToWideChar(codePage, flags, text, -1, w, 8);
  std::string s = n == 0 ? "0 e=" + Num(pf::GetLastError()) : Num(static_cast<unsigned long>(n));
  char b[8];
  for (int i = 0; i < n; ++i) std::snprintf(b, sizeof b, " %04X", static_cast<unsigned>(w[i])), s += b;
  return s;
}

// WideCharToMultiByte of a terminated string into cap bytes, with a
// used-default pointer when asked: "<result> <bytes> used=<0|1>", or
// "0 e=<error> <bytes written>".
std::string FromWide(UINT codePage, DWORD flags, const WCHAR* w, bool askUsed, int cap = 16) {
  char t[16] = {};
  BOOL used = 7;
  const int n = pf::WideCharToMultiByte(codePage, flags, w, -1, t, cap, nullptr, askUsed ? &used : nullptr);
  if (n == 0) return "0 e=" + Num(pf::GetLastError()) + " " + Esc(t);
  return Num(static_cast<unsigned long>(n)) + " " + Esc(std::string(t, n - 1)) +
         (askUsed ? " used=" + Num(static_cast<unsigned long>(used)) : "");
}

}  // namespace

// The newest Windows, which the simulator follows; a row whose two lines
// agree records what older Windows do.
const std::vector<Difference>& KnownDifferences() {
  static const std::vector<Difference> differences = {
    {"move.file-onto-read-only-file", "1 [b.txt]", "0 e=5 [a.txt, b.txt(r)]",
     "Wine's ntdll/tests/file.c, test_file_rename_information_ex: STATUS_ACCESS_DENIED for a read-only "
     "target without FILE_RENAME_IGNORE_READONLY_ATTRIBUTE"},
    {"move.folder-into-itself", "0 e=87 [src\\, src\\inner.txt]", "0 e=87 [src\\, src\\inner.txt]",
     "Windows 11 22H2 and later; every earlier Windows gives ERROR_SHARING_VIOLATION (32): MS-FSA 2.1.5.15.11 "
     "opens the target folder sharing deletion only since then (python/cpython#120883)"},
    {"full.periods-ending-inner-names", "C:\\conf\\full.periods-ending-inner-names\\a\\b.\\c "
     "C:\\conf\\full.periods-ending-inner-names\\ .\\",
     "C:\\conf\\full.periods-ending-inner-names\\a\\b..\\c C:\\conf\\full.periods-ending-inner-names\\ ..\\",
     "Wine's ntdll/tests/path.c (\"c:/test../file\" keeps \"test..\" on Vista and later; XP gave \"test.\"); "
     "learn.microsoft.com/dotnet/standard/io/file-path-formats (a segment loses a single trailing period)"},
    {"rmdir.read-only-folder", "1 []", "0 e=5 [sub\\(r)]",
     "MS-FSA 2.1.5.15.3: a read-only file or folder cannot be deleted; isaacs/rimraf#161 (rmdir of a "
     "read-only folder fails on Windows); Wine 8 keeps no read-only attribute on a folder"},
    {"reboot.read-only-folder@restart", "[]", "[sub\\(r)]",
     "MS-FSA 2.1.5.15.3 (the restart-time deletion is a disposition, refused for read-only; ReactOS's smss "
     "clears read-only on a rename's target only); Wine 8 keeps no read-only attribute on a folder"},
    {"toolhelp.bad-size", "0 e=122", "0 e=24",
     "microsoft/windows-rs#611, haskell/win32#14: Process32First with a wrong dwSize fails with ERROR_BAD_LENGTH"},
    {"full.three-dots-inside", "C:\\conf\\full.three-dots-inside\\..\\y",
     "C:\\conf\\full.three-dots-inside\\...\\y",
     "learn.microsoft.com/dotnet/standard/io/file-path-formats (Trim characters: a segment of three "
     "or more periods is not normalized)"},
    {"link.folder", "1040 file 0 e=145 [link\\, link\\a.txt, target\\, target\\a.txt]",
     "1040 file 1 [target\\, target\\a.txt]",
     "learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-removedirectorya (Remarks: it removes a junction "
     "or a symbolic link, not its target)"},
    // Wine 8 takes WC_NO_BEST_FIT_CHARS and a used-default pointer with UTF-8;
    // Windows refuses them (as Wine's own kernel32 codepage test expects of the pointer).
    {"convert.to-utf8", "5 \\xE5\\x87\\xAFa 5 \\xE5\\x87\\xAFa used=0 5 \\xE5\\x87\\xAFa", "0 e=1004  0 e=87  5 \\xE5\\x87\\xAFa",
     "learn.microsoft.com/windows/win32/api/stringapiset/nf-stringapiset-widechartomultibyte (UTF-8: dwFlags 0 or "
     "WC_ERR_INVALID_CHARS, else ERROR_INVALID_FLAGS; lpUsedDefaultChar must be NULL, else ERROR_INVALID_PARAMETER)"},
    // The runtime's own source: a lead byte before the terminator answers with
    // the terminator when nothing matched before it; Wine's msvcrt steps over
    // the terminator instead.
    {"mbsrchr.936", "null 1 1 null 1 null", "4 1 1 null 1 null",
     "Microsoft CRT source mbsrchr (ucrt/mbstring/mbsrchr.cpp: 'return pointer to \\0')"},
    // Wine 8 keeps no folder's security descriptor (it reports the Unix owner
    // and a DACL from the mode bits): the temporary folder serves instead.
    {"security.admin-only-folder", "1 0 0 0 e=183 1 0 0 e=2 1 [own\\, plain\\]",
     "1 1 0 0 e=183 1 1 0 e=2 1 [own\\, plain\\]",
     "learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-createdirectorya (lpSecurityAttributes) and "
     "securitybaseapi/nf-securitybaseapi-setkernelobjectsecurity (kept on the object, propagated to nothing); "
     "Wine 8 accepts both and answers O:S-1-5-21-0-0-0-1000 D:(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-0-0-0-1000) "
     "for either folder; NTFS and Wine's drives report FILE_PERSISTENT_ACLS (fileapi GetVolumeInformationA)"},
    {"security.item-descriptor", "open open 0 e=5 0 e=5 0 e=2", "closed open 0 e=5 0 e=5 0 e=2",
     "learn.microsoft.com/windows/win32/api/securitybaseapi/nf-securitybaseapi-getkernelobjectsecurity (the "
     "self-relative descriptor kept on the object); Wine 8 names the user as every entry's owner, so a folder made "
     "the administrators' reads as open to others there"},
    {"reboot.delete-denied", "1 1 [sub\\]", "0 e=5 0 e=5 [sub\\, sub\\a.txt]",
     "ReactOS's MoveFileWithProgressW (the source opened for DELETE first); MS-FSA 2.1.5.1.2 (DELETE from the "
     "file's DACL or FILE_DELETE_CHILD from its folder's); Wine 8 checks neither"},
    {"mbsrchr.950", "null 0 0", "3 0 0",
     "Microsoft CRT source mbsrchr (ucrt/mbstring/mbsrchr.cpp: 'return pointer to \\0')"},
};
  return differences;
}

namespace {

DWORD sessionChild = 0;

std::vector<Probe> MakeProbes() {
  std::vector<Probe> t;
  auto add = [&t](const char* name, UINT acp, void (*arrange)(Fixture&, Dir), std::string (*act)(Dir),
                  std::string (*after)(Dir) = nullptr) {
    t.push_back(Probe{name, acp, arrange, act, after});
  };
  auto none = [](Fixture&, Dir) {};

  // ---- MoveFileExA ------------------------------------------------------------
  add(
      "move.folder-onto-file", 936,
      [](Fixture& f, Dir d) { f.File(d + "\\src\\inner.txt"), f.File(d + "\\_@1.tmp"); },
      [](Dir d) {
        return Join({Move(d + "\\src", d + "\\_@1.tmp", MOVEFILE_REPLACE_EXISTING), List(d)});
      });
  add(
      "move.folder-onto-folder", 936,
      [](Fixture& f, Dir d) { f.File(d + "\\src\\inner.txt"), f.Dir(d + "\\dst"); },
      [](Dir d) {
        return Join({Move(d + "\\src", d + "\\dst", MOVEFILE_REPLACE_EXISTING), List(d)});
      });
  add(
      "move.file-onto-folder", 936, [](Fixture& f, Dir d) { f.File(d + "\\a.txt"), f.Dir(d + "\\dst"); },
      [](Dir d) {
        return Join({Move(d + "\\a.txt", d + "\\dst", MOVEFILE_REPLACE_EXISTING), List(d)});
      });
  add(
      "move.file-onto-file-no-replace", 936,
      [](Fixture& f, Dir d) { f.File(d + "\\a.txt"), f.File(d + "\\b.txt"); },
      [](Dir d) {
        return Join({Move(d + "\\a.txt", d + "\\b.txt", 0), List(d)});
      });
  add(
      "move.file-onto-file", 936, [](Fixture& f, Dir d) { f.File(d + "\\a.txt"), f.File(d + "\\b.txt"); },
      [](Dir d) {
        return Join({Move(d + "\\a.txt", d + "\\b.txt", MOVEFILE_REPLACE_EXISTING), List(d)});
      });
  // Refused on Windows, ERROR_ACCESS_DENIED (Wine's ntdll/tests/file.c,
  // test_file_rename_information_ex); Wine 8 replaces it.
  add(
      "move.file-onto-read-only-file", 936,
      [](Fixture& f, Dir d) { f.File(d + "\\a.txt"), f.File(d + "\\b.txt", true); },
      [](Dir d) {
        return Join({Move(d + "\\a.txt", d + "\\b.txt", MOVEFILE_REPLACE_EXISTING), List(d)});
      });
  add(
      "move.non-empty-folder", 936, [](Fixture& f, Dir d) { f.File(d + "\\src\\x\\inner.txt"); },
      [](Dir d) {
        return Join({Move(d + "\\src", d + "\\moved", 0), List(d)});
      });
  // 87 from Windows 11 22H2; ERROR_SHARING_VIOLATION (32) before (MS-FSA
  // 2.1.5.15.11; python/cpython#120883).
  add(
      "move.folder-into-itself", 936, [](Fixture& f, Dir d) { f.File(d + "\\src\\inner.txt"); },
      [](Dir d) {
        return Join({Move(d + "\\src", d + "\\src\\in", 0), List(d)});
      });
  add(
      "move.held-no-share", 936,
      [](Fixture& f, Dir d) { f.File(d + "\\a.txt"), f.Hold(d + "\\a.txt", false); },
      [](Dir d) {
        return Join({Move(d + "\\a.txt", d + "\\b.txt", 0), List(d)});
      });
  add(
      "move.held-delete-share", 936,
      [](Fixture& f, Dir d) { f.File(d + "\\a.txt"), f.Hold(d + "\\a.txt", true); },
      [](Dir d) {
        return Join({Move(d + "\\a.txt", d + "\\b.txt", 0), List(d)});
      });
  add(
      "move.mapped-module", 936, [](Fixture& f, Dir d) { f.MapImage(d + "\\m.dll"); },
      [](Dir d) {
        return Join({Move(d + "\\m.dll", d + "\\n.dll", 0), List(d)});
      });
  add("move.missing-source", 936, none, [](Dir d) {
    return Join({Move(d + "\\gone.txt", d + "\\b.txt", MOVEFILE_REPLACE_EXISTING), List(d)});
  });
  add(
      "move.into-missing-folder", 936, [](Fixture& f, Dir d) { f.File(d + "\\a.txt"); },
      [](Dir d) {
        return Join({Move(d + "\\a.txt", d + "\\no\\b.txt", 0), List(d)});
      });
  add(
      "move.file-across-drives", 936, [](Fixture& f, Dir d) { f.File(d + "\\a.txt"); },
      [](Dir d) {
        return Join({Move(d + "\\a.txt", std::string(kOtherDrive) + "\\a.txt", 0), List(d)});
      });
  add(
      "move.file-across-drives-copy", 936, [](Fixture& f, Dir d) { f.File(d + "\\a.txt"); },
      [](Dir d) {
        const std::string to = std::string(kOtherDrive) + "\\b.txt";
        return Join({Move(d + "\\a.txt", to, MOVEFILE_COPY_ALLOWED), List(d), Attr(to)});
      });
  add(
      "move.folder-across-drives", 936, [](Fixture& f, Dir d) { f.File(d + "\\src\\inner.txt"); },
      [](Dir d) {
        return Join({Move(d + "\\src", std::string(kOtherDrive) + "\\src", 0), List(d)});
      });
  add(
      "move.folder-across-drives-copy", 936, [](Fixture& f, Dir d) { f.File(d + "\\src\\inner.txt"); },
      [](Dir d) {
        const std::string to = std::string(kOtherDrive) + "\\src";
        return Join({Move(d + "\\src", to, MOVEFILE_COPY_ALLOWED), List(d), Attr(to)});
      });
  // Restart-time deletion, applied by the next start of the system. A missing
  // name is accepted: ReactOS's MoveFileWithProgressW, modelled on Windows,
  // postpones a source it cannot find when the delay flag is given.
  add(
      "reboot.missing-source", 936, none,
      [](Dir d) { return Move(d + "\\gone.txt", "", MOVEFILE_DELAY_UNTIL_REBOOT); },
      [](Dir d) { return List(d); });
  add(
      "reboot.file", 936, [](Fixture& f, Dir d) { f.File(d + "\\a.txt"); },
      [](Dir d) { return Move(d + "\\a.txt", "", MOVEFILE_DELAY_UNTIL_REBOOT); },
      [](Dir d) { return List(d); });
  add(
      "reboot.read-only-file", 936, [](Fixture& f, Dir d) { f.File(d + "\\a.txt", true); },
      [](Dir d) { return Move(d + "\\a.txt", "", MOVEFILE_DELAY_UNTIL_REBOOT); },
      [](Dir d) { return List(d); });
  // A read-only folder stays: the removal is a disposition, refused for
  // read-only (MS-FSA 2.1.5.15.3); ReactOS's smss clears read-only only on a
  // rename's target.
  add(
      "reboot.read-only-folder", 936, [](Fixture& f, Dir d) { f.Dir(d + "\\sub"), ReadOnly(d + "\\sub"); },
      [](Dir d) { return Move(d + "\\sub", "", MOVEFILE_DELAY_UNTIL_REBOOT); },
      [](Dir d) { return List(d); });
  add(
      "reboot.non-empty-folder", 936, [](Fixture& f, Dir d) { f.File(d + "\\sub\\inner.txt"); },
      [](Dir d) { return Move(d + "\\sub", "", MOVEFILE_DELAY_UNTIL_REBOOT); },
      [](Dir d) { return List(d); });
  add(
      "reboot.folder-emptied-first", 936, [](Fixture& f, Dir d) { f.File(d + "\\sub\\inner.txt"); },
      [](Dir d) {
        return Join({Move(d + "\\sub\\inner.txt", "", MOVEFILE_DELAY_UNTIL_REBOOT),
                     Move(d + "\\sub", "", MOVEFILE_DELAY_UNTIL_REBOOT)});
      },
      [](Dir d) { return List(d); });

  // A restart-time request opens an existing source for DELETE first.
  add(
      "reboot.delete-denied", 936,
      [](Fixture& f, Dir d) { f.File(d + "\\sub\\a.txt"), f.DenyDelete(d + "\\sub\\a.txt"); },
      [](Dir d) {
        const std::string a = d + "\\sub\\a.txt";
        return Join({Move(a, "", MOVEFILE_DELAY_UNTIL_REBOOT), R(pf::DeleteFileA(a.c_str())), List(d)});
      });
  // What the system keeps of a folder made with a security descriptor of
  // owner Administrators and a protected DACL for SYSTEM and Administrators.
  add(
      "security.admin-only-folder", 936, [](Fixture& f, Dir d) { f.Dir(d + "\\plain"); },
      [](Dir d) {
        const std::string own = d + "\\own";
        const auto n = [](int v) { return Num(static_cast<unsigned long>(v)); };
        const std::string plain = d + "\\plain";
        char root[MAX_PATH] = {};
        DWORD flags = 0;
        const BOOL volume = pf::GetVolumePathNameA(d.c_str(), root, MAX_PATH) && pf::GetVolumeFlags(root, &flags);
        return Join({n(pf::CreateAdminOnlyFolder(own.c_str())), n(pf::IsAdminOnlyFolder(own.c_str())),
                     n(pf::IsAdminOnlyFolder(plain.c_str())), R(pf::CreateAdminOnlyFolder(own.c_str())),
                     n(pf::MakeFolderAdminOnly(plain.c_str())), n(pf::IsAdminOnlyFolder(plain.c_str())),
                     R(pf::MakeFolderAdminOnly((d + "\\none").c_str())), n(volume && (flags & FILE_PERSISTENT_ACLS)),
                     List(d)});
      });

  // The owner and DACL of an entry, read through its own handle: a link, a
  // file asked for as a folder, a folder as a file refused; whom they let
  // change it (fsclean/security.h).
  add(
      "security.item-descriptor", 936,
      [](Fixture& f, Dir d) {
        f.Dir(d + "\\plain");
        f.File(d + "\\f.txt");
      },
      [](Dir d) {
        const std::string own = d + "\\own";
        pf::CreateAdminOnlyFolder(own.c_str());
        const auto read = [](const std::string& path, bool folder) {
          DWORD sd[128];
          const long n = pf::GetItemSecurity(path.c_str(), folder, sd, sizeof sd);
          return n > 0 ? std::string(LetsOthersChange(sd, static_cast<size_t>(n)) ? "open" : "closed")
                       : "0 e=" + Num(pf::GetLastError());
        };
        return Join({read(own, true), read(d + "\\f.txt", false), read(d + "\\f.txt", true),
                     read(d + "\\plain", false), read(d + "\\none", true)});
      });

  // ---- path forms ---------------------------------------------------------------
  auto tree = [](Fixture& f, Dir d) { f.File(d + "\\a.txt"), f.File(d + "\\sub\\b.txt"); };
  add("path.forward-slashes", 936, tree, [](Dir d) {
    std::string p = d + "/sub/b.txt";
    std::replace(p.begin(), p.end(), '\\', '/');
    return Attr(p);
  });
  add("path.backslash-runs", 936, tree, [](Dir d) { return Attr(d + "\\\\\\sub\\\\b.txt"); });
  add("path.dot-components", 936, tree, [](Dir d) { return Attr(d + "\\.\\x\\..\\sub\\.\\b.txt"); });
  add("path.trailing-dots-spaces", 936, tree, [](Dir d) {
    return Join({Attr(d + "\\a.txt."), Attr(d + "\\a.txt . ."), Attr(d + "\\sub.\\b.txt")});
  });
  add("path.trailing-backslash", 936, tree, [](Dir d) {
    return Join({Attr(d + "\\sub\\"), Attr(d + "\\a.txt\\")});
  });
  add("path.delete-forward-slashes", 936, tree, [](Dir d) {
    return Join({R(pf::DeleteFileA((d + "/sub/b.txt").c_str())), List(d)});
  });
  add("full.dots-and-spaces", 936, none, [](Dir d) {
    return Join({Full(d + "\\x\\..."), Full(d + "\\x\\.. "), Full(d + "\\ \\y"), Full(d + "\\x\\. "),
                 Full(d + "\\ .\\z")});
  });
  // An inner name loses a single trailing period only: "b.." stays (Vista and
  // later; Windows XP, like Wine 8, gave "b.": Wine's ntdll/tests/path.c).
  add("full.periods-ending-inner-names", 936, none,
      [](Dir d) { return Join({Full(d + "\\a.\\b..\\c"), Full(d + "\\ ..\\")}); });
  add("full.three-dots-inside", 936, none, [](Dir d) { return Full(d + "\\...\\y"); });
  add("full.separators", 936, none, [](Dir d) {
    return Join({Full(d + "\\a/b//c\\\\d\\"), Full("C:\\conf/x/../../..\\.."), Full("\\conf\\y")});
  });
  add("full.buffer-too-small", 936, none, [](Dir d) {
    char small[8];
    return "n=" + Num(pf::GetFullPathNameA((d + "\\abc").c_str(), sizeof small, small, nullptr)) +
           " need=" + Num(d.size() + 5);
  });
  add("full.lone-lead-byte-936", 936, none, [](Dir d) {
    return Join({Full(d + "\\a\\\xB0"), Full(d + "\\\xB0\x5C"), Full(d + "\\\xB0\\x")});
  });
  add("full.lone-lead-byte-950", 950, none, [](Dir d) {
    return Join({Full(d + "\\a\\\xA5"), Full(d + "\\\xA5\x5C"), Full(d + "\\\xA5\x5C\\x"),
                 Full(d + "\\\xA5\x5C.lnk")});
  });
  add(
      "file.lone-lead-byte-950", 950, [](Fixture& f, Dir d) { f.Dir(d + "\\x"); },
      [](Dir d) {
        return Join({Attr(d + "\\x\\\xA5"), Attr(d + "\\x\\\xA5\\")});
      });

  // ---- deletion, listing, temporary names ---------------------------------------------
  add(
      "delete.read-only", 936, [](Fixture& f, Dir d) { f.File(d + "\\a.txt", true); },
      [](Dir d) {
        return Join({R(pf::DeleteFileA((d + "\\a.txt").c_str())), List(d)});
      });
  add(
      "delete.held-no-share", 936,
      [](Fixture& f, Dir d) { f.File(d + "\\a.txt"), f.Hold(d + "\\a.txt", false); },
      [](Dir d) { return R(pf::DeleteFileA((d + "\\a.txt").c_str())); });
  add(
      "delete.held-delete-share", 936,
      [](Fixture& f, Dir d) { f.File(d + "\\a.txt"), f.Hold(d + "\\a.txt", true); },
      [](Dir d) { return R(pf::DeleteFileA((d + "\\a.txt").c_str())); });
  add(
      "delete.mapped-module", 936, [](Fixture& f, Dir d) { f.MapImage(d + "\\m.dll"); },
      [](Dir d) {
        return Join({R(pf::DeleteFileA((d + "\\m.dll").c_str())), List(d)});
      });
  add(
      "delete.folder-as-file", 936, [](Fixture& f, Dir d) { f.Dir(d + "\\sub"); },
      [](Dir d) {
        return Join({R(pf::DeleteFileA((d + "\\sub").c_str())), List(d)});
      });
  add("delete.missing", 936, none, [](Dir d) {
    return Join(
        {R(pf::DeleteFileA((d + "\\gone.txt").c_str())), R(pf::DeleteFileA((d + "\\no\\gone.txt").c_str()))});
  });
  add(
      "rmdir.non-empty", 936, [](Fixture& f, Dir d) { f.File(d + "\\sub\\a.txt"); },
      [](Dir d) {
        return Join({R(pf::RemoveDirectoryA((d + "\\sub").c_str())), List(d)});
      });
  add(
      "rmdir.empty-and-missing", 936, [](Fixture& f, Dir d) { f.Dir(d + "\\sub"); },
      [](Dir d) {
        return Join({R(pf::RemoveDirectoryA((d + "\\sub").c_str())),
                     R(pf::RemoveDirectoryA((d + "\\sub").c_str())), List(d)});
      });
  // Refused for read-only: STATUS_CANNOT_DELETE, ERROR_ACCESS_DENIED (MS-FSA 2.1.5.15.3).
  add(
      "rmdir.read-only-folder", 936, [](Fixture& f, Dir d) { f.Dir(d + "\\sub"), ReadOnly(d + "\\sub"); },
      [](Dir d) {
        return Join({R(pf::RemoveDirectoryA((d + "\\sub").c_str())), List(d)});
      });
  add(
      "attributes.set-and-clear", 936, [](Fixture& f, Dir d) { f.File(d + "\\a.txt", true); },
      [](Dir d) {
        const std::string p = d + "\\a.txt";
        const BOOL ok = pf::SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
        return Join({R(ok), List(d), R(pf::SetFileAttributesA((d + "\\gone").c_str(), 0x80))});
      });
  add(
      "tempname.creates-file", 936, [](Fixture& f, Dir d) { f.Dir(d + "\\t"); },
      [](Dir d) {
        char name[MAX_PATH] = {};
        const UINT n = pf::GetTempFileNameA((d + "\\t").c_str(), "_@", 0, name);
        const std::string s = name;
        const std::string leaf = s.substr(s.rfind('\\') + 1);
        const bool same = n != 0 && std::strtoul(leaf.c_str() + 2, nullptr, 16) == n;
        return Join({std::string(n != 0 ? "1" : "0") + " number-in-name=" + (same ? "1" : "0"),
                     MaskTempNumber(s.substr(0, s.rfind('\\') + 1) == d + "\\t\\" ? leaf : s), List(d)});
      });
  add(
      "tempname.trailing-backslash", 936, [](Fixture& f, Dir d) { f.Dir(d + "\\t"); },
      [](Dir d) {
        char name[MAX_PATH] = {};
        const UINT n = pf::GetTempFileNameA((d + "\\t\\").c_str(), "_@", 0, name);
        return std::string(n != 0 ? "1 " : "0 ") + MaskTempNumber(Esc(name).substr(d.size()));
      });
  add("tempname.missing-folder", 936, none, [](Dir d) {
    char name[MAX_PATH] = {};
    const UINT n = pf::GetTempFileNameA((d + "\\no").c_str(), "_@", 0, name);
    return n != 0 ? std::string("1") : "0 e=" + Num(pf::GetLastError());
  });
  // A number given: the name is only formed, nothing is created, also when
  // that name exists ("unique ... you must create the file yourself":
  // GetTempFileNameA's page). Case aside: the page writes ".TMP".
  add(
      "tempname.given-number", 936, [](Fixture& f, Dir d) { f.File(d + "\\t\\_@2.tmp"); },
      [](Dir d) {
        std::string r;
        for (UINT unique : {0x1234u, 2u}) {
          char name[MAX_PATH] = {};
          const UINT n = pf::GetTempFileNameA((d + "\\t").c_str(), "_@", unique, name);
          std::string leaf = name;
          leaf = leaf.substr(leaf.rfind('\\') + 1);
          for (char& c : leaf) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
          r += Num(n) + " " + leaf + " ";
        }
        return r + List(d);
      });
  // The folder is checked first, whatever the number (dotnet/runtime#74855).
  add("tempname.given-number-missing-folder", 936, none, [](Dir d) {
    char name[MAX_PATH] = {};
    const UINT n = pf::GetTempFileNameA((d + "\\no").c_str(), "_@", 0x1234, name);
    return Join({n != 0 ? std::string("1") : "0 e=" + Num(pf::GetLastError()), List(d)});
  });
  // A link to a folder: a folder and a reparse point (0x410), followed below it; removing it removes the link.
  add(
      "link.folder", 936,
      [](Fixture& f, Dir d) { f.File(d + "\\target\\a.txt"), f.Link(d + "\\link", d + "\\target"); },
      [](Dir d) {
        const std::string link = d + "\\link";
        return Join({Num(pf::GetFileAttributesA(link.c_str())), Attr(link + "\\a.txt"),
                     R(pf::RemoveDirectoryA(link.c_str())), List(d)});
      });
  add("find.missing-folder", 936, none, [](Dir d) {
    WIN32_FIND_DATAA data;
    HANDLE h = pf::FindFirstFileA((d + "\\no\\*").c_str(), &data);
    const std::string r = h == INVALID_HANDLE_VALUE ? "invalid e=" + Num(pf::GetLastError()) : "valid";
    if (h != INVALID_HANDLE_VALUE) pf::FindClose(h);
    return r;
  });
  add(
      "find.empty-folder", 936, [](Fixture& f, Dir d) { f.Dir(d + "\\e"); },
      [](Dir d) {
        WIN32_FIND_DATAA data;
        pf::ScopedFindHandle h(pf::FindFirstFileA((d + "\\e\\*").c_str(), &data));
        std::string r = h.IsValid() ? std::string("first=") + data.cFileName : "invalid";
        while (h.IsValid() && pf::FindNextFileA(h.Get(), &data)) r += std::string(" next=") + data.cFileName;
        return r + " e=" + Num(pf::GetLastError());
      });

  // ---- windows ----------------------------------------------------------------------
  add(
      "window.find-title-case", 936, [](Fixture& f, Dir) { f.Window("Brannoch Probe Window", false); },
      [](Dir) {
        auto found = [](const char* t) { return pf::FindWindowA(nullptr, t) != nullptr ? "1" : "0"; };
        return std::string("exact=") + found("Brannoch Probe Window") +
               " other-case=" + found("BRANNOCH probe WINDOW") + " prefix=" + found("Brannoch Probe");
      });
  add(
      "window.send-to-hung", 936, [](Fixture& f, Dir) { f.Window("Brannoch Hung Window", true); },
      [](Dir) {
        HWND w = pf::FindWindowA(nullptr, "Brannoch Hung Window");
        if (w == nullptr) return std::string("no window");
        DWORD_PTR answer = 0;
        const LRESULT r = pf::SendMessageTimeoutA(w, WM_COMMAND, MAKEWPARAM(32772, 0), 0,
                                                  SMTO_ABORTIFHUNG | SMTO_BLOCK, 300, &answer);
        return "r=" + Num(r != 0) + (r == 0 ? " e=" + Num(pf::GetLastError()) : "");
      });

  // ---- registry -------------------------------------------------------------------------
  add(
      "reg.deny-all-access", 936, [](Fixture& f, Dir d) { f.Key(Key(d)), f.DenyAllAccess(Key(d)); },
      [](Dir d) {
        HKEY k = nullptr;
        const LONG all = pf::RegOpenKeyExA(HKEY_LOCAL_MACHINE, Key(d).c_str(), 0, KEY_ALL_ACCESS, &k);
        if (k != nullptr) pf::RegCloseKey(k);
        return "all=" + Num(all) + " read=" + (KeyOpens(Key(d), KEY_READ) ? "0" : "fails");
      });
  add("reg.open-missing", 936, none, [](Dir d) {
    HKEY k = nullptr;
    const LONG r = pf::RegOpenKeyExA(HKEY_LOCAL_MACHINE, (Key(d) + "\\no").c_str(), 0, KEY_READ, &k);
    if (k != nullptr) pf::RegCloseKey(k);
    return Reg(r);
  });
  add(
      "reg.delete-key-with-subkeys", 936, [](Fixture& f, Dir d) { f.Key(Key(d) + "\\Sub\\Deeper"); },
      [](Dir d) {
        const LONG r = pf::RegDeleteKeyA(HKEY_LOCAL_MACHINE, Key(d).c_str());
        return Reg(r) + " left=" + (KeyOpens(Key(d) + "\\Sub\\Deeper", KEY_READ) ? "1" : "0");
      });
  add(
      "reg.delete-key-leaf-other-case", 936, [](Fixture& f, Dir d) { f.Key(Key(d) + "\\Leaf"); },
      [](Dir d) {
        std::string k = Key(d) + "\\LEAF";
        const LONG r = pf::RegDeleteKeyA(HKEY_LOCAL_MACHINE, k.c_str());
        return Reg(r) + " left=" + (KeyOpens(Key(d) + "\\Leaf", KEY_READ) ? "1" : "0");
      });
  add(
      "reg.shdelete-key-with-subkeys", 936,
      [](Fixture& f, Dir d) { f.Key(Key(d) + "\\Sub\\Deeper"), f.Value(Key(d) + "\\Sub", "V"); },
      [](Dir d) {
        const LONG r = pf::SHDeleteKeyA(HKEY_LOCAL_MACHINE, Key(d).c_str());
        const bool left = KeyOpens(Key(d), KEY_READ);
        const LONG again = pf::SHDeleteKeyA(HKEY_LOCAL_MACHINE, Key(d).c_str());
        return Reg(r) + " left=" + (left ? "1" : "0") + " again=" + Num(again);
      });
  add(
      "reg.value-name-case", 936, [](Fixture& f, Dir d) { f.Value(Key(d), "DisplayName"); },
      [](Dir d) {
        pf::ScopedRegKey k;
        if (!k.Open(HKEY_LOCAL_MACHINE, Key(d).c_str(), KEY_ALL_ACCESS)) return std::string("no key");
        const LONG first = pf::RegDeleteValueA(k.Get(), "DISPLAYNAME");
        const LONG second = pf::RegDeleteValueA(k.Get(), "displayname");
        return "first=" + Num(first) + " second=" + Num(second);
      });
  add(
      "reg.delete-value-read-only-handle", 936, [](Fixture& f, Dir d) { f.Value(Key(d), "V"); },
      [](Dir d) {
        pf::ScopedRegKey k;
        if (!k.Open(HKEY_LOCAL_MACHINE, Key(d).c_str(), KEY_READ)) return std::string("no key");
        return Reg(pf::RegDeleteValueA(k.Get(), "V"));
      });

  // ---- processes --------------------------------------------------------------------------
  add(
      "toolhelp.exe-name", 936, [](Fixture& f, Dir d) { f.StartProcess(d + "\\Probe Child.exe"); },
      [](Dir) {
        pf::ScopedHandle snap(pf::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32 e;
        std::memset(&e, 0x7F, sizeof e);
        e.dwSize = sizeof e;
        std::string r = "none";
        for (BOOL ok = pf::Process32First(snap.Get(), &e); ok; ok = pf::Process32Next(snap.Get(), &e)) {
          const size_t len = strnlen(e.szExeFile, MAX_PATH);
          if (len == MAX_PATH) return std::string("unterminated");
          if (pf::MbsICmp(e.szExeFile + (len > 15 ? len - 15 : 0), "Probe Child.exe") == 0)
            r = Esc(e.szExeFile);
        }
        return r;
      });
  // ERROR_BAD_LENGTH on Windows (microsoft/windows-rs#611); Wine 8 gives 122.
  add("toolhelp.bad-size", 936, none, [](Dir) {
    pf::ScopedHandle snap(pf::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 e;
    std::memset(&e, 0, sizeof e);
    e.dwSize = 100;
    return R(pf::Process32First(snap.Get(), &e));
  });

  // A process already in a job joins a second one (Windows 8 and later;
  // before, ERROR_ACCESS_DENIED: AssignProcessToJobObject's page).
  add(
      "job.already-in-a-job", 936, [](Fixture& f, Dir d) { f.StartProcess(d + "\\Job Child.exe"); },
      [](Dir) {
        pf::ScopedHandle snap(pf::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32 e;
        std::memset(&e, 0, sizeof e);
        e.dwSize = sizeof e;
        DWORD pid = 0;
        for (BOOL ok = pf::Process32First(snap.Get(), &e); ok; ok = pf::Process32Next(snap.Get(), &e)) {
          const size_t len = strnlen(e.szExeFile, MAX_PATH);
          if (len >= 13 && pf::MbsICmp(e.szExeFile + len - 13, "Job Child.exe") == 0) pid = e.th32ProcessID;
        }
        pf::ScopedHandle process(pf::OpenProcess(0x0100 | 0x0001, FALSE, pid));  // set quota, terminate
        if (!process.IsValid()) return std::string("no process");
        pf::ScopedHandle first(pf::CreateJobObjectA(nullptr, nullptr));
        pf::ScopedHandle second(pf::CreateJobObjectA(nullptr, nullptr));
        return Join({R(pf::AssignProcessToJobObject(first.Get(), process.Get())),
                     R(pf::AssignProcessToJobObject(second.Get(), process.Get()))});
      });

  // A child shares our session; an id of no process has none (ProcessIdToSessionId's page).
  add(
      "session.child-and-no-process", 936, [](Fixture& f, Dir d) { sessionChild = f.StartProcess(d + "\\S.exe"); },
      [](Dir) {
        DWORD own = 0, child = 1, none = 0;
        BYTE system[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0}, local[] = {1, 1, 0, 0, 0, 0, 0, 5, 19, 0, 0, 0};
        return Join({R(pf::ProcessIdToSessionId(pf::GetCurrentProcessId(), &own)),
                     R(pf::ProcessIdToSessionId(sessionChild, &child)), Num(own == child),
                     R(pf::ProcessIdToSessionId(0xFFFFFFFC, &none)), Num(pf::EqualSid(system, system) != 0),
                     Num(pf::EqualSid(system, local) != 0)});
      });
  // ---- multibyte strings in the runtime -----------------------------------------------------
  add("mbsrchr.936", 936, none, [](Dir) {
    return Join({RChr("abc\x81", '\\'), RChr("a\\b\x81", '\\'), RChr("a\\b", '\\'), RChr("\x81\x5C", '\\'),
                 RChr("a\\\x81\x5C", '\\'), RChr("", '\\')});
  });
  add("mbsrchr.950", 950, none, [](Dir) {
    return Join({RChr("ab\xA5", '\\'), RChr("\\\xA5\x5C", '\\'), RChr("\\\xA5", '\\')});
  });
  add("mbsicmp.936", 936, none, [](Dir) {
    return Join({Num(static_cast<unsigned long>(pf::MbsICmp("Probe.EXE", "probe.exe") == 0)),
                 Num(static_cast<unsigned long>(pf::MbsICmp("\x82\x41", "\x82\x61") == 0))});
  });
  add("leadbyte.950", 950, none, [](Dir) {
    return Num(pf::IsDBCSLeadByte(0xA5) != 0) + Num(pf::IsDBCSLeadByte(0x5C) != 0) +
           Num(pf::IsDBCSLeadByte(0x81) != 0) + Num(pf::IsDBCSLeadByte(0x80) != 0);
  });
  add("leadbyte.936", 936, none, [](Dir) {
    return Num(pf::IsDBCSLeadByte(0x81) != 0) + Num(pf::IsDBCSLeadByte(0xFE) != 0) +
           Num(pf::IsDBCSLeadByte(0x80) != 0) + Num(pf::IsDBCSLeadByte(0xFF) != 0);
  });
  // ---- conversions between code pages through UTF-16 ----------------------------------------
  // 936 and 950 names to UTF-16, strictly: an incomplete character fails the
  // whole name; a code page no system has is refused.
  add("convert.936-to-utf16", 936, none, [](Dir) {
    return Join({ToWide(936, MB_ERR_INVALID_CHARS, "\xBF\xAD" "a"), ToWide(936, MB_ERR_INVALID_CHARS, "\xBF\xAD\xCB"),
                 ToWide(936, 0, "\xBF\xAD\xCB"), ToWide(936, MB_ERR_INVALID_CHARS, "\xFF"), ToWide(12345, 0, "a")});
  });
  add("convert.950-to-utf16", 950, none, [](Dir) {
    return Join({ToWide(950, MB_ERR_INVALID_CHARS, "\xB3\xCD" "a"), ToWide(950, MB_ERR_INVALID_CHARS, "\xB3\xCD\xB4"),
                 ToWide(950, 0, "\xB3\xCD\xB4")});
  });
  // Back: a character the code page lacks becomes the default character and
  // is reported; UTF-8 takes neither flags nor the used-default pointer.
  add("convert.from-utf16", 936, none, [](Dir) {
    static const WCHAR kaiS[] = {0x51EF, 'a', 0}, kaiT[] = {0x51F1, 0}, hangul[] = {0xAC00, 'a', 0};
    static const WCHAR abKai[] = {'a', 'b', 0x51EF, 0};
    return Join({FromWide(950, WC_NO_BEST_FIT_CHARS, kaiS, true), FromWide(950, WC_NO_BEST_FIT_CHARS, kaiT, true),
                 FromWide(936, WC_NO_BEST_FIT_CHARS, hangul, true), FromWide(936, WC_NO_BEST_FIT_CHARS, kaiS, true),
                 FromWide(936, WC_NO_BEST_FIT_CHARS, abKai, true, 3)});
  });
  add("convert.to-utf8", 936, none, [](Dir) {
    static const WCHAR kai[] = {0x51EF, 'a', 0};
    return Join({FromWide(CP_UTF8, WC_NO_BEST_FIT_CHARS, kai, false), FromWide(CP_UTF8, 0, kai, true),
                 FromWide(CP_UTF8, 0, kai, false)});
  });
  // ---- DLL search, narrowed at start-up; last, as it stays for the process ----------------
  add("dll-search.narrow", 936, none, [](Dir) {
    return Join({Num(static_cast<unsigned long>(pf::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32))),
                 Num(static_cast<unsigned long>(pf::SetDllDirectoryA("")))});
  });
  return t;
}
}  // namespace

const std::vector<Difference>& UnprobedDifferences() {
  static const std::vector<Difference> differences = {
      {"reboot.link-at-name",
       "the restart-time pass deletes a link standing at a scheduled name, never its target",
       "the pass opens each name as SYSTEM without FILE_OPEN_REPARSE_POINT: a link there has its target deleted",
       "ReactOS smss SmpProcessFileRenames, modelled on Windows; Wine's wineboot pending_file_rename_operations"},
      {"restart-manager.holders", "RmGetList lists no one for a file held open (a stub that answers success)",
       "RmGetList names each program and service holding a registered file, with its type and session",
       "learn.microsoft.com/windows/win32/api/restartmanager/nf-restartmanager-rmgetlist; Wine's "
       "dlls/rstrtmgr/main.c (FIXME stub, *pnProcInfo = 0)"},
      {"dll-search.delay-load",
       "a delay load of a built-in DLL searches the process's initial path whatever the program set",
       "every load by name follows the search set with SetDefaultDllDirectories",
       "Wine's ntdll LdrResolveDelayLoadedAPI passes no path to LdrLoadDll; learn.microsoft.com "
       "SetDefaultDllDirectories (the process's search path, for the life of the process)"},
      {"session.other-sessions-and-accounts", "one session and one account: every process is the prefix's user's",
       "processes of other sessions and of other accounts (SYSTEM's S-1-5-18, a domain account of the user's name)",
       "learn.microsoft.com ProcessIdToSessionId, EqualSid, \"Security identifiers\" (the domain in each SID); "
       "KB 243330 (well-known SIDs); Wine 8 gives every process of a prefix the one token and session"},
      {"toolhelp.name-before-it-runs", "a process not yet running has no name: an empty szExeFile, GetProcessImageFileNameA 0",
       "a process has its image's name from its creation",
       "learn.microsoft.com PROCESSENTRY32 (szExeFile: the name of the executable file for the process), "
       "NtCreateUserProcess names the image as it maps it; seen under Wine 8 in the page-left-open scenario"},
      {"taskbar.progress", "ITaskbarList3::SetProgressState and SetProgressValue are stubs: the button shows nothing",
       "the taskbar button shows the dialog's progress (Windows 7 on)",
       "Wine's explorerframe taskbar.c (FIXME stubs); learn.microsoft.com ITaskbarList3::SetProgressValue"},
  };
  return differences;
}

const std::vector<Probe>& Probes() {
  static const std::vector<Probe> probes = MakeProbes();
  return probes;
}

std::vector<std::string> Run(Fixture& fixture, UINT acp, bool afterRestart) {
  std::vector<std::string> lines;
  for (const Probe& p : Probes()) {
    if (p.acp != acp || (afterRestart && p.afterRestart == nullptr)) continue;
    const std::string dir = std::string(kRoot) + "\\" + p.name;
    if (afterRestart) {
      lines.push_back(std::string(p.name) + "@restart: " + p.afterRestart(dir));
      continue;
    }
    fixture.Dir(dir);
    p.arrange(fixture, dir);
    std::string line = p.act(dir);
    fixture.Release();
    lines.push_back(std::string(p.name) + ": " + line);
  }
  return lines;
}

}  // namespace conformance
