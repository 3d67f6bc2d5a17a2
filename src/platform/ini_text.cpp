// INI text reader and writer with the Windows profile rules. Portable: pure text functions.
#include "platform/ini_text.h"

#include <cstdint>
#include <vector>

namespace platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string Trim(const std::string& s, size_t begin, size_t end) {
  while (begin < end && IsBlank(s[begin])) ++begin;
  while (end > begin && IsBlank(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// One line of the text: [begin, end) without the line break; next is where the next line starts.
struct Line {
  size_t begin, end, next;
};

std::vector<Line> SplitLines(const std::string& text) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    size_t end = (nl == std::string::npos) ? text.size() : nl;
    size_t next = (nl == std::string::npos) ? text.size() : nl + 1;
    size_t contentEnd = (end > pos && text[end - 1] == '\r') ? end - 1 : end;
    lines.push_back({pos, contentEnd, next});
    pos = next;
  }
  return lines;
}

// "[name]" gives true and the trimmed name; text after "]" is ignored as Windows does.
bool SectionName(const std::string& text, const Line& line, std::string* name) {
  std::string t = Trim(text, line.begin, line.end);
  if (t.empty() || t[0] != '[') return false;
  size_t close = t.find(']');
  if (close == std::string::npos) return false;
  *name = Trim(t, 1, close);
  return true;
}

// "key=value" gives true with both trimmed; a line without "=" or a comment is not an entry.
bool Entry(const std::string& text, const Line& line, std::string* key, std::string* value) {
  std::string t = Trim(text, line.begin, line.end);
  if (t.empty() || t[0] == ';') return false;
  size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  *key = Trim(t, 0, eq);
  if (value) *value = Trim(t, eq + 1, t.size());
  return !key->empty();
}

// Where [section] key lies: the line index of the key (or -1), of the section header (or -1),
// and of the section's last entry line (the header when it has none).
struct Place {
  long keyLine = -1, sectionLine = -1, lastEntryLine = -1;
};

Place Find(const std::string& text, const std::vector<Line>& lines, const std::string& section,
           const std::string& key) {
  Place place;
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string name, k;
    if (SectionName(text, lines[i], &name)) {
      if (place.sectionLine >= 0 && inSection) break;  // the first matching section counts
      inSection = SameName(name, Trim(section, 0, section.size()));
      if (inSection) place.sectionLine = place.lastEntryLine = static_cast<long>(i);
      continue;
    }
    if (!inSection || !Entry(text, lines[i], &k, nullptr)) continue;
    place.lastEntryLine = static_cast<long>(i);
    if (SameName(k, Trim(key, 0, key.size())) && place.keyLine < 0)
      place.keyLine = static_cast<long>(i);
  }
  return place;
}

}  // namespace

bool IniReadString(const std::string& text, const std::string& section, const std::string& key,
                   std::string* value) {
  std::vector<Line> lines = SplitLines(text);
  Place place = Find(text, lines, section, key);
  if (place.keyLine < 0) return false;
  std::string k;
  return Entry(text, lines[static_cast<size_t>(place.keyLine)], &k, value);
}

int IniReadInt(const std::string& text, const std::string& section, const std::string& key,
               int defaultValue) {
  std::string value;
  if (!IniReadString(text, section, key, &value) || value.empty()) return defaultValue;
  size_t i = 0;
  bool negative = false;
  if (value[i] == '+' || value[i] == '-') negative = (value[i++] == '-');
  uint32_t result = 0;  // unsigned: an over-long number wraps instead of overflowing
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i)
    result = result * 10u + static_cast<uint32_t>(value[i] - '0');
  if (negative) result = 0u - result;
  return static_cast<int>(result);
}

std::string IniWriteString(const std::string& text, const std::string& section,
                           const std::string& key, const std::string& value, const char* newline) {
  std::vector<Line> lines = SplitLines(text);
  Place place = Find(text, lines, section, key);
  if (place.keyLine >= 0) {
    // Keep the key's own spelling and everything around it; only the value changes.
    const Line& line = lines[static_cast<size_t>(place.keyLine)];
    size_t eq = text.find('=', line.begin);
    return text.substr(0, eq + 1) + value + text.substr(line.end);
  }
  std::string entry = key + "=" + value + newline;
  if (place.sectionLine >= 0) {
    const Line& last = lines[static_cast<size_t>(place.lastEntryLine)];
    std::string before = text.substr(0, last.next);
    // A last line without a line break needs one before the new entry.
    if (before.empty() || before.back() != '\n') before += newline;
    return before + entry + text.substr(last.next);
  }
  std::string out = text;
  if (!out.empty() && out.back() != '\n') out += newline;
  return out + "[" + section + "]" + newline + entry;
}

}  // namespace platform
