// A simulated reader behind platform/reader_usb.h for the enter-DFU exchange: a HID interface
// (and optionally a vendor-driver interface) that answers on a chosen poll, answers with a
// refusal, or never answers. Portable; used from one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/reader_usb.h"

namespace testsupport {

struct SimReaderOptions {
  std::vector<std::string> hidPaths = {
      "\\\\?\\hid#vid_0425&pid_8159#7&1a2b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}"};
  bool vendorPresent = false;
  bool hidOpenFails = false;
  int answerOnPoll = 1;  // 0: never answers
  std::vector<uint8_t> reply = {0x55, 0xAA, 0x04, 0x31, 0xFF, 0xFF, 0xCA};
};

class SimHidReader : public platform::ReaderUsbHost {
 public:
  explicit SimHidReader(const SimReaderOptions& options = SimReaderOptions());
  ~SimHidReader() override;

  bool ListHidPaths(std::vector<std::string>* out) override;
  std::unique_ptr<platform::ReaderDeviceIo> OpenHid(const std::string& path) override;
  bool FirstVendorPath(std::string* out) override;
  std::unique_ptr<platform::ReaderDeviceIo> OpenVendor(const std::string& path) override;

  // What the reader saw.
  std::string openedPath;
  int hidOpens = 0;
  int vendorOpens = 0;
  int openHandles = 0;              // handles not yet closed
  int polls = 0;                    // input reads, HID or vendor head
  std::vector<uint8_t> lastOutput;  // the last output report or frame head + body

  SimReaderOptions options;
};

}  // namespace testsupport
