// The simulated reader's HID and vendor interfaces. Portable.
#include "sim_hid_reader.h"

#include <cstring>

namespace testsupport {

namespace {

class SimReaderIo : public platform::ReaderDeviceIo {
 public:
  SimReaderIo(SimHidReader* reader, bool hid) : reader_(reader), hid_(hid) {
    ++reader_->openHandles;
  }
  ~SimReaderIo() override { --reader_->openHandles; }

  bool Control(uint32_t code, const uint8_t* in, uint32_t inLength, uint8_t* out,
               uint32_t outLength) override {
    const SimReaderOptions& o = reader_->options;
    if (code == platform::kHidSetOutputReport || code == platform::kVendorWriteHead) {
      if (hid_ != (code == platform::kHidSetOutputReport)) return false;
      reader_->lastOutput.assign(in, in + inLength);
      sent_ = true;
      return true;
    }
    if (code == platform::kVendorWriteBody) {
      reader_->lastOutput.insert(reader_->lastOutput.end(), in, in + inLength);
      return !hid_;
    }
    if (code == platform::kHidGetInputReport || code == platform::kVendorReadHead) {
      if (hid_ != (code == platform::kHidGetInputReport) || !sent_) return false;
      ++reader_->polls;
      if (o.answerOnPoll == 0 || reader_->polls < o.answerOnPoll) return false;
      std::memset(out, 0, outLength);
      size_t offset = hid_ ? 1 : 0;  // HID: byte 0 is the report id
      size_t n = hid_ ? o.reply.size() : 7;
      for (size_t i = 0; i < n && i < o.reply.size() && offset + i < outLength; ++i)
        out[offset + i] = o.reply[i];
      return true;
    }
    if (code == platform::kVendorReadBody) {
      if (hid_) return false;
      std::memset(out, 0, outLength);
      for (size_t i = 0; i < outLength && 7 + i < o.reply.size(); ++i) out[i] = o.reply[7 + i];
      return true;
    }
    return false;
  }

 private:
  SimHidReader* reader_;
  bool hid_;
  bool sent_ = false;
};

}  // namespace

SimHidReader::SimHidReader(const SimReaderOptions& o) : options(o) {
  platform::SetReaderUsbHostForTesting(this);
}

SimHidReader::~SimHidReader() { platform::SetReaderUsbHostForTesting(nullptr); }

bool SimHidReader::ListHidPaths(std::vector<std::string>* out) {
  *out = options.hidPaths;
  return true;
}

std::unique_ptr<platform::ReaderDeviceIo> SimHidReader::OpenHid(const std::string& path) {
  ++hidOpens;
  openedPath = path;
  if (options.hidOpenFails) return nullptr;
  return std::unique_ptr<platform::ReaderDeviceIo>(new SimReaderIo(this, true));
}

bool SimHidReader::FirstVendorPath(std::string* out) {
  if (!options.vendorPresent) return false;
  *out = "\\\\?\\usb#vid_0483&pid_a19b#5&0&1#{ff646f81-8def-11d2-9449-00105a075f6b}";
  return true;
}

std::unique_ptr<platform::ReaderDeviceIo> SimHidReader::OpenVendor(const std::string& path) {
  ++vendorOpens;
  openedPath = path;
  return std::unique_ptr<platform::ReaderDeviceIo>(new SimReaderIo(this, false));
}

}  // namespace testsupport
