// Finding and selecting the DFU device: discovery by interface class, descriptor checks, the
// memory mapping and the option-bytes probe. Portable.
#include <cctype>
#include <cstring>

#include "dfu/dfu_upgrade_dialog.h"
#include "dfu/dfuse/dfu_session.h"
#include "dfu/dfuse/stdfu.h"
#include "dfu/dfuse/stdfufiles.h"
#include "dfu/dfuse/stdfuprt.h"
#include "log/log.h"
#include "platform/clock.h"

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::string CutDescription(const std::string& text) {
  if (text.size() <= kDeviceDescriptionLimit) return text;
  size_t end = kDeviceDescriptionLimit;
  // Back to the first byte of a UTF-8 sequence, so that no character is cut in half.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::string DFUpgradeDialog::FormatGuid(const Guid& guid) { return DfuGuidText(guid); }

bool DFUpgradeDialog::FindDfuDevices() {
  m_DevicePaths.clear();
  m_DeviceNames.clear();
  bool found = false;
  for (const Guid* cls : {&kDfuInterfaceClassA, &kDfuInterfaceClassB}) {
    std::vector<DfuInterfaceEntry> entries;
    if (!DfuListInterfaces(*cls, &entries)) continue;
    for (const DfuInterfaceEntry& e : entries) {
      m_DevicePaths.push_back(Upper(e.path));
      m_DeviceNames.push_back(e.description.empty() ? "(Unnamed DFU device)"
                                                    : CutDescription(e.description));
      found = true;
    }
  }
  return found;
}

bool DFUpgradeDialog::SelectDevice() {
  optionBytesPresent = false;
  readProtected = false;
  m_DeviceSilent = false;
  m_OptionBytesUnread = false;
  if (m_Mapping) STDFUPRT_DestroyMapping(&m_Mapping);
  m_TargetCount = 0;
  m_DevTargets.clear();
  if (m_DevicePaths.empty()) return false;
  m_DeviceLink = m_DevicePaths[0];

  DfuDeviceHandle device = nullptr;
  if (STDFU_Open(m_DeviceLink.c_str(), &device) != STDFU_NOERROR) return false;
  // This runs on the window's thread: however the device behaves, it gets kSelectionLimitMs in
  // all, each request at most the request time-out of that.
  const uint64_t started = platform::NowMs();
  STDFU_SetDeadline(device, started + kSelectionLimitMs);
  bool mapped = false;
  uint32_t number = 0, alternates = 0;
  uint16_t version = 0;
  const std::string classA = FormatGuid(kDfuInterfaceClassA);
  char text[8];
  if (STDFU_GetDeviceDescriptor(device, m_DeviceDescriptor) != STDFU_NOERROR) {
    WriteLog("Unable to get descriptors... Bad Firmware");
    goto close;
  }
  std::memset(m_DfuDescriptor, 0, sizeof m_DfuDescriptor);
  if (STDFU_GetDFUDescriptor(device, &number, &alternates, m_DfuDescriptor) != STDFU_NOERROR) {
    WriteLog("Unable to get DFU descriptor... Bad Firmware");
    goto close;
  }
  version = static_cast<uint16_t>(m_DfuDescriptor[7] | (m_DfuDescriptor[8] << 8));
  if (version < 0x011A || version >= 0x0120) {
    WriteLog("Bad DFU protocol version. Should be 1.1A");
    goto close;
  }
  // Only an interface in DFU mode (class A) can be flashed; a run-time one is not selectable.
  if (m_DeviceLink.size() < classA.size() ||
      Upper(m_DeviceLink.substr(m_DeviceLink.size() - classA.size())) != classA)
    goto close;
  std::snprintf(text, sizeof text, "%04X", m_DeviceDescriptor[8] | (m_DeviceDescriptor[9] << 8));
  m_DeviceVid = text;
  std::snprintf(text, sizeof text, "%04X", m_DeviceDescriptor[10] | (m_DeviceDescriptor[11] << 8));
  m_DevicePid = text;
  // Through the handle already open: WinUSB refuses to open the device a second time.
  if (STDFUPRT_CreateMappingFromOpenDevice(device, &m_Mapping, &m_TargetCount) != STDFU_NOERROR) {
    WriteLog("Unable to find or decode device mapping... Bad Firmware");
    // Healthy string requests take milliseconds: one that took the request time-out went
    // unanswered.
    m_DeviceSilent = platform::NowMs() - started >= static_cast<uint64_t>(kDfuRequestTimeoutMs);
    goto close;
  }
  // Every later step works on target 0: a device that maps none has nothing to flash.
  if (m_TargetCount == 0 || !m_Mapping) {
    WriteLog("Unable to find or decode device mapping... Bad Firmware");
    if (m_Mapping) STDFUPRT_DestroyMapping(&m_Mapping);
    m_TargetCount = 0;
    goto close;
  }
  mapped = true;
  for (uint32_t t = 0; t < m_TargetCount; ++t)
    if (m_Mapping[t].name == "Option Bytes  ") optionBytesPresent = true;
  if (optionBytesPresent) {
    uint8_t readProtection = 0;
    uint32_t writeProtection = 0;
    uint32_t probe = ProbeOptionBytes(device, &readProtection, &writeProtection);
    if (probe == STDFUPRT_NOANSWER) {
      // A device that stopped answering cannot be flashed either: given up now, not after
      // every later step has waited for it in turn.
      m_DeviceSilent = true;
      STDFUPRT_DestroyMapping(&m_Mapping);
      m_TargetCount = 0;
      mapped = false;
      goto close;
    }
    if (probe != STDFU_NOERROR) {
      m_OptionBytesUnread = true;
      WriteLog("Unable to read the option bytes (0x%08X): every sector is taken as protected",
               static_cast<unsigned>(probe));
    }
    ApplyProtection(m_Mapping, m_TargetCount, readProtection, writeProtection);
  }
  for (uint32_t t = 0; t < m_TargetCount; ++t) m_DevTargets.push_back(MakeDevTarget(m_Mapping[t]));
close:
  if (m_DeviceSilent)
    WriteLog("DFU device does not answer: given up after %u ms",
             static_cast<unsigned>(platform::NowMs() - started));
  STDFU_Close(&device);
  return mapped;
}

namespace {

// A raw request's result in the probe's terms: a time-out (or the deadline) is a device that
// does not answer; anything else that failed is a probe that could not read.
uint32_t ProbeResult(uint32_t stdfuResult) {
  if (stdfuResult == STDFU_NOERROR) return STDFU_NOERROR;
  return stdfuResult == STDFU_REQUESTTIMEOUT ? STDFUPRT_NOANSWER : STDFUPRT_REQUESTFAILED;
}

}  // namespace

// Reads the option bytes to learn the protection: first whether flash reads are refused (read
// protection), then the read-protection byte and the write-protection word themselves. Between
// the steps the device goes back to dfuIDLE the way DFU 1.1 has for its state (DfuSession): an
// ABORT from the idle download and upload states, a CLRSTATUS only from dfuERROR. A boot loader
// that acknowledges a CLRSTATUS in dfuDNLOAD-IDLE and stays there would never be idle otherwise.
uint32_t DFUpgradeDialog::ProbeOptionBytes(DfuDeviceHandle device, uint8_t* readProtection,
                                           uint32_t* writeProtection) {
  *readProtection = 0;
  *writeProtection = 0;
  DfuSession session(device, nullptr);
  uint32_t r = ProbeResult(STDFU_SelectCurrentConfiguration(device, 0, 0, 1));
  if (r == STDFUPRT_NOANSWER) return r;
  if (r == STDFU_NOERROR) {
    uint8_t buffer[16];
    std::memset(buffer, 0xFF, sizeof buffer);
    const uint8_t flash[5] = {0x21, 0x00, 0x00, 0x00, 0x08};
    std::memcpy(buffer, flash, sizeof flash);
    if ((r = session.EnsureIdle()) != STDFU_NOERROR) return r;
    if ((r = ProbeResult(STDFU_Dnload(device, buffer, 5, 0))) == STDFUPRT_NOANSWER) return r;
    if ((r = session.EnsureIdle()) != STDFU_NOERROR) return r;
    if ((r = ProbeResult(STDFU_Upload(device, buffer, 16, 2))) == STDFUPRT_NOANSWER) return r;
    DfuStatus status = {};
    if ((r = ProbeResult(STDFU_Getstatus(device, &status))) == STDFUPRT_NOANSWER) return r;
    if (r == STDFU_NOERROR && status.bState == kDfuError) readProtected = true;
    if ((r = session.EnsureIdle()) != STDFU_NOERROR) return r;
  }
  if (readProtected) return STDFU_NOERROR;
  uint8_t buffer[64] = {};
  if ((r = ProbeResult(STDFU_SelectCurrentConfiguration(device, 0, 0, 1))) != STDFU_NOERROR)
    return r;
  if ((r = session.EnsureIdle()) != STDFU_NOERROR) return r;
  const uint8_t options[5] = {0x21, 0x00, 0xF8, 0xFF, 0x1F};
  std::memcpy(buffer, options, sizeof options);
  if ((r = ProbeResult(STDFU_Dnload(device, buffer, 5, 0))) == STDFUPRT_NOANSWER) return r;
  if ((r = session.EnsureIdle()) != STDFU_NOERROR) return r;
  uint32_t received = 0;
  if ((r = ProbeResult(STDFU_Upload(device, buffer, 16, 2, &received))) != STDFU_NOERROR) return r;
  if (received < 16) return STDFUPRT_SHORTUPLOAD;
  *readProtection = buffer[0];
  *writeProtection = buffer[8] | (buffer[10] << 8) | (buffer[12] << 16) |
                     (static_cast<uint32_t>(buffer[14]) << 24);
  return STDFU_NOERROR;
}
