// Arbitrary settings-file text and control requests through the INI reader and writer and the
// control parser: no crash, and a written key always reads back as written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/control_protocol.h"
#include "platform/ini_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  platform::IniReadInt(text, "HeartBeat", "Usb", 600);
  platform::IniReadInt(text, "COM", "port", 0);
  std::string updated = platform::IniWriteString(text, "COM", "PORT", "7", "\n");
  // The write must win over whatever the text held, in any spelling of the names.
  if (platform::IniReadInt(updated, "com", "port", -1) != 7) std::abort();
  int command = 0, argument = 0;
  platform::ParseControlRequest(text, &command, &argument);
  return 0;
}
