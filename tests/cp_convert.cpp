#include "tests/cp_convert.h"

#include "platform/text.h"

#include <iconv.h>

#include <stdexcept>
#include <vector>

std::string ToCodePage(const std::string& utf8, const char* codePage) {
  iconv_t cd = iconv_open(codePage, "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open failed");
  std::vector<char> in(utf8.begin(), utf8.end());
  std::vector<char> out(utf8.size() * 2 + 16);
  char* inp = in.data();
  char* outp = out.data();
  size_t inLeft = in.size(), outLeft = out.size();
  const size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) throw std::runtime_error("not representable in " + std::string(codePage));
  return std::string(out.data(), out.size() - outLeft);
}

std::string Utf8From(const std::string& bytes, unsigned codePage) {
  WCHAR wide[1024];
  const int n = pf::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.c_str(), -1, wide, 1024);
  if (n <= 0) return "";
  std::string utf16;
  for (int i = 0; i + 1 < n; ++i) utf16 += {static_cast<char>(wide[i] & 0xFF), static_cast<char>(wide[i] >> 8)};
  iconv_t cd = iconv_open("UTF-8", "UTF-16LE");
  std::vector<char> out(utf16.size() * 2 + 16);
  char* inp = &utf16[0];
  char* outp = out.data();
  size_t inLeft = utf16.size(), outLeft = out.size();
  const size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
  iconv_close(cd);
  return r == static_cast<size_t>(-1) ? "" : std::string(out.data(), out.size() - outLeft);
}
