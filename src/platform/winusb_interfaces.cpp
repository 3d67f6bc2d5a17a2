// The rule that picks the device interface classes of a WinUSB-bound device. Portable.
#include "platform/winusb_interfaces.h"

#include <algorithm>
#include <cctype>

namespace platform {

namespace {

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

void AddOnce(std::vector<std::string>* list, const std::string& guid) {
  if (!guid.empty() && std::find(list->begin(), list->end(), guid) == list->end())
    list->push_back(guid);
}

}  // namespace

std::string NormalizeGuidText(const std::string& text) {
  std::string core = text;
  if (core.size() == 38 && core.front() == '{' && core.back() == '}')
    core = core.substr(1, 36);
  if (core.size() != 36) return std::string();
  for (size_t i = 0; i < core.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    unsigned char c = static_cast<unsigned char>(core[i]);
    if (dash ? c != '-' : !std::isxdigit(c)) return std::string();
    core[i] = static_cast<char>(std::toupper(c));
  }
  return "{" + core + "}";
}

std::vector<std::string> WinUsbInterfaceClassesToTry(const std::string& service,
                                                     const std::vector<std::string>& registryGuids) {
  std::vector<std::string> classes;
  if (!EqualsIgnoringCase(service, "WinUSB")) return classes;
  AddOnce(&classes, kOvra7WinUsbInterfaceGuid);
  for (const std::string& text : registryGuids) AddOnce(&classes, NormalizeGuidText(text));
  AddOnce(&classes, kUsbDeviceInterfaceGuid);
  return classes;
}

}  // namespace platform
