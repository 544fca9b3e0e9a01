#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fsclean/paths.h"
#include "tests/sim/machine.h"

namespace {
std::string Trim(const std::string& path, size_t cap = 500) {
  std::vector<char> dest(cap + 8, '\0');
  TrimLastComponent(path.c_str(), dest.data(), cap);
  return std::string(dest.data());
}
}  // namespace

TEST(TrimLastComponent, Table) {
  const struct {
    const char* path;
    const char* expected;
  } cases[] = {
      {"\\name.lnk", ""},        {"\\A\\name.lnk", "\\A"}, {"\\A\\B\\name.lnk", "\\A\\B"},
      {"\\A\\B", "\\A"},         {"\\A", ""},              {"\\A\\", "\\A"},
      {"", ""},                  {"name.lnk", ""},         {"A\\B", ""},  // one backslash
      {"\\A\\B\\X\\n.lnk", "\\A\\B\\X"},
      // A trail byte 0x5C counts as a backslash: the byte-wise rule.
      {"\\\x83\x5C.lnk", "\\\x83"},
  };
  for (const auto& c : cases) EXPECT_EQ(Trim(c.path), c.expected) << c.path;
}

TEST(TrimLastComponent, WritesNothingWhenThePrefixWouldNotFit) {
  const std::string path = "\\" + std::string(300, 'a') + "\\x.lnk";
  EXPECT_EQ(Trim(path, 301), "");
  EXPECT_EQ(Trim(path, 302), "\\" + std::string(300, 'a'));
}

TEST(ComposePath, FitsOrLeavesEmpty) {
  char buf[10];
  EXPECT_TRUE(ComposePath(buf, sizeof buf, "C:\\a", "\\", "bcd"));
  EXPECT_STREQ(buf, "C:\\a\\bcd");
  EXPECT_FALSE(ComposePath(buf, sizeof buf, "C:\\a", "\\", "bcdef"));  // needs 11 bytes
  EXPECT_STREQ(buf, "");
  EXPECT_TRUE(ComposePath(buf, sizeof buf, "123456789", ""));
  EXPECT_FALSE(ComposePath(buf, sizeof buf, "1234567890", ""));
}

// Canonical forms on the simulated machine, which resolves paths as Windows
// does, as Vista and later, then as XP (an inner "A.." became "A.", which
// does not resolve to itself); below each special folder a link at any
// depth, or a file on the way, refuses.
TEST(IsFolderBelow, AcceptsOnlyWhatWindowsResolvesStrictlyBelow) {
  static const char kSame[] = "as on Vista";
  struct Case {
    UINT acp;
    const char* rel;
    const char* below;           // canonical remainder after d, or null when refused
    const char* link = nullptr;  // made a link to another folder first
    const char* file = nullptr;  // made a file first
    const char* xp = kSame;      // on Windows XP
  };
  const Case cases[] = {
      {936, "\\A..\\B", "\\A..\\B", nullptr, nullptr, nullptr},
      {936, "\\A...\\B", "\\A...\\B", nullptr, nullptr, nullptr},
      {936, "\\ ..\\B", "\\ ..\\B", nullptr, nullptr, nullptr},
      {936, "\\A..\\..", nullptr},
      {936, "\\A", "\\A"},           {936, "\\A\\B", "\\A\\B"},
      {936, "\\A/B", "\\A\\B"},     {936, "\\A\\.", "\\A"},
      {936, "\\..A", "\\..A"},       {936, "\\A.\\B", "\\A\\B"},
      {936, "\\", nullptr},           {936, "\\\\", nullptr},
      {936, "\\.", nullptr},          {936, "\\..", nullptr},
      {936, "\\A\\..\\..", nullptr},  {936, "\\A/../..", nullptr},
      {936, "\\...", nullptr},        {936, "\\ ", nullptr},
      {936, "\\.. ", nullptr},        {936, "A\\B", nullptr},  // a sibling of the folder
      {936, "\\A\\..", nullptr},      {950, "\\\xA5", nullptr},  // lone lead byte
      {950, "\\\xA5\x5C", "\\\xA5\x5C"},  // one Big5 character
      {1252, "\\\xA5", "\\\xA5"},   // no lead bytes in 1252
      {936, "\\A\\B\\C", nullptr, "\\A"},  {936, "\\A\\B\\C", nullptr, "\\A\\B"},
      {936, "\\A\\B\\C", nullptr, "\\A\\B\\C"},  // the link itself: CheckBelow says kLink
      {936, "\\A\\B", nullptr, nullptr, "\\A"}, {936, "\\A\\B", "\\A\\B", nullptr, "\\A\\B"},
  };
  for (const int csidl : {CSIDL_PROGRAM_FILES, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_DESKTOPDIRECTORY}) {
    for (const auto& c : cases) {
      for (const bool xp : {false, true}) {
        sim::Machine m;
        m.acp = c.acp;
        m.fullPathLikeXp = xp;
        const std::string d = m.specialFolders[csidl];
        if (c.link != nullptr) m.AddLink(d + c.link, "D:\\Elsewhere");
        if (c.file != nullptr) m.AddFile(d + c.file);
        const char* want = xp && c.xp != kSame ? c.xp : c.below;
        const std::string where = d + c.rel + (xp ? " on XP" : "");
        char dst[kCanonicalCap];
        const bool below = IsFolderBelow(d.c_str(), c.rel, dst, sizeof dst);
        EXPECT_EQ(below, want != nullptr) << where;
        EXPECT_EQ(std::string(dst), want != nullptr ? d + want : "") << where;
        const bool linkItself = c.link != nullptr && std::string(c.link) == c.rel;
        EXPECT_EQ(CheckBelow(d.c_str(), c.rel, dst, sizeof dst) == PathBelow::kLink, linkItself) << where;
      }
    }
  }
}

// Random byte strings, including 0x5C trail bytes and lengths around 260 and
// 500: the output is always a prefix of the input and never overruns.
TEST(PathProperties, TrimAndComposeNeverOverrunAndTrimGivesAPrefix) {
  std::mt19937 rng(20261207);
  const char alphabet[] = {'\\', 'a', 'B', '.', ':', '\x81', '\x5C', '\xFE', ' '};
  for (int iter = 0; iter < 20000; ++iter) {
    const size_t lengths[] = {0, 1, 2, 259, 260, 261, 499, 500, 501};
    size_t len = (iter % 3 == 0) ? lengths[rng() % 9] : rng() % 520;
    std::string s;
    for (size_t i = 0; i < len; ++i) s.push_back(alphabet[rng() % sizeof alphabet]);
    const size_t cap = (iter % 2 == 0) ? 500 : 260;
    std::vector<char> dest(cap, '\0');  // exactly cap bytes: ASan sees any overrun
    TrimLastComponent(s.c_str(), dest.data(), cap);
    const std::string out(dest.data(), strnlen(dest.data(), cap));
    ASSERT_LT(out.size(), cap);
    ASSERT_EQ(s.compare(0, out.size(), out), 0) << "not a prefix";
    if (!out.empty()) {
      ASSERT_EQ(s[out.size()], '\\');
    }

    std::vector<char> buf(cap);
    const std::string a = s.substr(0, s.size() / 2), b = s.substr(s.size() / 2);
    const bool ok = ComposePath(buf.data(), cap, a.c_str(), "\\", b.c_str());
    ASSERT_EQ(ok, a.size() + 1 + b.size() < cap);
    ASSERT_EQ(std::string(buf.data()), ok ? a + "\\" + b : std::string());
  }
}
