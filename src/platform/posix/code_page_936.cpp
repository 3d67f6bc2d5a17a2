// POSIX code page 936 conversions through the C library's iconv.
#include "platform/code_page_936.h"

#include <iconv.h>

namespace platform {
namespace {

iconv_t OpenConverter(bool toUtf8) {
  // glibc knows both names; other C libraries may know only one of them.
  for (const char* name : {"CP936", "GBK"}) {
    iconv_t cd = toUtf8 ? iconv_open("UTF-8", name) : iconv_open(name, "UTF-8");
    if (cd != reinterpret_cast<iconv_t>(-1)) return cd;
  }
  return reinterpret_cast<iconv_t>(-1);
}

bool Convert(bool toUtf8, const std::string& in, std::string* out) {
  out->clear();
  if (in.empty()) return true;
  iconv_t cd = OpenConverter(toUtf8);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  // A byte of code page 936 gives at most 3 bytes of UTF-8; the other way never grows.
  std::string result(in.size() * 3 + 4, '\0');
  char* from = const_cast<char*>(in.data());
  size_t fromLeft = in.size();
  char* to = &result[0];
  size_t toLeft = result.size();
  // Without "//TRANSLIT" or "//IGNORE" iconv stops at the first sequence it cannot convert
  // (EILSEQ) or that ends cut short (EINVAL).
  bool ok = iconv(cd, &from, &fromLeft, &to, &toLeft) != static_cast<size_t>(-1) && fromLeft == 0;
  ok = ok && iconv(cd, nullptr, nullptr, &to, &toLeft) != static_cast<size_t>(-1);
  iconv_close(cd);
  if (!ok) return false;
  result.resize(result.size() - toLeft);
  *out = std::move(result);
  return true;
}

}  // namespace

bool Cp936ToUtf8(const std::string& cp936, std::string* utf8) { return Convert(true, cp936, utf8); }

bool Utf8ToCp936(const std::string& utf8, std::string* cp936) {
  return Convert(false, utf8, cp936);
}

}  // namespace platform
