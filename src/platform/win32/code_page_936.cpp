// Win32 code page 936 conversions: MultiByteToWideChar and WideCharToMultiByte.
#include "platform/code_page_936.h"

#include <windows.h>

#include "platform/win32/utf.h"

namespace platform {
namespace {

constexpr UINT kCodePage936 = 936;

// Strict decoding: MB_ERR_INVALID_CHARS refuses what is not a character of the code page.
bool Decode(UINT codePage, const std::string& in, std::wstring* out) {
  out->clear();
  const int n = static_cast<int>(in.size());
  int units = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), n, nullptr, 0);
  if (units <= 0) return false;
  out->assign(static_cast<size_t>(units), L'\0');
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), n, &(*out)[0], units) ==
         units;
}

}  // namespace

bool Cp936ToUtf8(const std::string& cp936, std::string* utf8) {
  utf8->clear();
  if (cp936.empty()) return true;
  std::wstring wide;
  if (!Decode(kCodePage936, cp936, &wide)) return false;
  *utf8 = Narrow(wide);
  return true;
}

bool Utf8ToCp936(const std::string& utf8, std::string* cp936) {
  cp936->clear();
  if (utf8.empty()) return true;
  std::wstring wide;
  if (!Decode(CP_UTF8, utf8, &wide)) return false;
  const int units = static_cast<int>(wide.size());
  // No best fit: a character without a code would otherwise go out as a look-alike or "?".
  BOOL usedDefault = FALSE;
  int n = WideCharToMultiByte(kCodePage936, WC_NO_BEST_FIT_CHARS, wide.data(), units, nullptr, 0,
                              nullptr, &usedDefault);
  if (n <= 0 || usedDefault) return false;
  std::string bytes(static_cast<size_t>(n), '\0');
  usedDefault = FALSE;
  if (WideCharToMultiByte(kCodePage936, WC_NO_BEST_FIT_CHARS, wide.data(), units, &bytes[0], n,
                          nullptr, &usedDefault) != n ||
      usedDefault)
    return false;
  *cp936 = std::move(bytes);
  return true;
}

}  // namespace platform
