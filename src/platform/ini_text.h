// INI text rules as pure functions (portable), the same on every system: section and key names
// match without regard to case, a value's leading decimal digits are its integer, a missing
// section or key gives the default, and a write changes only its own key.
#pragma once

#include <string>

namespace platform {

// The integer value of [section] key in text. An absent section or key, or an empty value,
// gives defaultValue; a value without leading digits gives 0. Leading blanks and one sign are
// accepted; digits beyond 32 bits wrap as the Windows profile functions do. Never fails.
int IniReadInt(const std::string& text, const std::string& section, const std::string& key,
               int defaultValue);

// The string value of [section] key; false when absent. The value has its blanks trimmed.
bool IniReadString(const std::string& text, const std::string& section, const std::string& key,
                   std::string* value);

// text with [section] key set to value. An existing key keeps its spelling and place; a new
// key goes after the section's last entry; a new section goes at the end. newline ("\r\n" or
// "\n") is used for the lines added. Every other byte of text is kept as it was.
std::string IniWriteString(const std::string& text, const std::string& section,
                           const std::string& key, const std::string& value, const char* newline);

}  // namespace platform
