// UTF-8 <-> UTF-16 at the Win32 boundary: the core speaks UTF-8, the W functions UTF-16.
#pragma once

#include <string>

namespace platform {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);

}  // namespace platform
