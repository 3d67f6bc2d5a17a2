// Code page 936 (GBK), the encoding of the texts on the reader's serial link, to and from the
// UTF-8 the program speaks. The OS boundary: Linux iconv ("CP936", or "GBK" where the C library
// knows only that name), Windows MultiByteToWideChar / WideCharToMultiByte with code page 936.
// Any thread; no state is kept between calls; nothing blocks.
#pragma once

#include <string>

namespace platform {

// Strict in both directions: false, with *out cleared, when any byte sequence is not a character
// of code page 936 (or, the other way, is not UTF-8 or is a character the code page has no code
// for). Nothing is ever replaced by a look-alike or a question mark. "" converts to "".
bool Cp936ToUtf8(const std::string& cp936, std::string* utf8);
bool Utf8ToCp936(const std::string& utf8, std::string* cp936);

}  // namespace platform
