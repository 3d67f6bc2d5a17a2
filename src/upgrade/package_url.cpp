// Package address parsing. Portable, pure.
#include "upgrade/package_url.h"

namespace {

// atoi's reading of a port text, without its overflow: leading blanks, a sign, digits.
uint16_t PortFromText(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint32_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<uint32_t>(text[i] - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<uint16_t>(value);
}

}  // namespace

PackageUrlResult ParsePackageUrl(const std::string& url, PackageUrl* out) {
  size_t start;
  if (url.compare(0, 7, "http://") == 0) {
    out->secure = false;
    out->port = 80;
    start = 7;
  } else if (url.compare(0, 8, "https://") == 0) {
    out->secure = true;
    out->port = 443;
    start = 8;
  } else {
    return PackageUrlResult::kNoScheme;
  }
  size_t slash = url.find('/', start);
  if (slash == std::string::npos) return PackageUrlResult::kNoPath;
  out->path = url.substr(slash);
  std::string authority = url.substr(start, slash - start);
  size_t colon = authority.find(':');
  if (colon == std::string::npos) {
    out->host = authority;
  } else {
    out->host = authority.substr(0, colon);
    out->port = PortFromText(authority.substr(colon + 1));
  }
  return PackageUrlResult::kOk;
}
