// Texts on the reader's serial link: code page 936 bytes on the wire, UTF-8 in the program. The
// conversion happens here, at the serial boundary, in both directions. Portable; any thread.
#pragma once

#include <cstddef>
#include <string>

namespace relay {

// The reader's text as UTF-8. A byte sequence that is no character of code page 936 (a damaged
// record, or a text cut in the middle of a character) shows as U+FFFD, one per byte, and the
// rest of the text still reads: nothing is dropped silently.
std::string ReaderTextToUtf8(const char* bytes, size_t n);

// A UTF-8 text as the bytes the reader stores. false, with *wire cleared, when the text is not
// valid UTF-8 or holds a character code page 936 has no code for (an emoji, for one): such a
// text is refused, never sent with substitutes the reader would keep as if they were meant.
// Lengths on the wire count these bytes (a Chinese character takes two).
bool Utf8ToReaderText(const std::string& utf8, std::string* wire);

}  // namespace relay
