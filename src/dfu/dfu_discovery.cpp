// Finding and selecting the DFU device: discovery by interface class, descriptor checks, the
// memory mapping and the option-bytes probe. Portable.
#include <cctype>
#include <cstring>

#include "dfu/dfu_upgrade_dialog.h"
#include "dfu/dfuse/stdfu.h"
#include "dfu/dfuse/stdfufiles.h"
#include "dfu/dfuse/stdfuprt.h"
#include "log/log.h"

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
  if (m_Mapping) STDFUPRT_DestroyMapping(&m_Mapping);
  m_TargetCount = 0;
  m_DevTargets.clear();
  if (m_DevicePaths.empty()) return false;
  m_DeviceLink = m_DevicePaths[0];

  DfuDeviceHandle device = nullptr;
  if (STDFU_Open(m_DeviceLink.c_str(), &device) != STDFU_NOERROR) return false;
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
    ProbeOptionBytes(device, &readProtection, &writeProtection);
    ApplyProtection(m_Mapping, m_TargetCount, readProtection, writeProtection);
  }
  for (uint32_t t = 0; t < m_TargetCount; ++t) m_DevTargets.push_back(MakeDevTarget(m_Mapping[t]));
close:
  STDFU_Close(&device);
  return mapped;
}

bool DFUpgradeDialog::WaitForIdle(DfuDeviceHandle device) {
  for (int round = 0; round < kProbeIdleRounds; ++round) {
    DfuStatus status = {};
    // A status request that fails (some devices stall a few while busy) is asked again; only
    // a state that is not idle is cleared.
    if (STDFU_Getstatus(device, &status) != STDFU_NOERROR) continue;
    if (status.bState == kDfuIdle) return true;
    STDFU_Clrstatus(device);
  }
  return false;
}

// Reads the option bytes to learn the protection: first whether flash reads are refused (read
// protection), then the read-protection byte and the write-protection word themselves.
void DFUpgradeDialog::ProbeOptionBytes(DfuDeviceHandle device, uint8_t* readProtection,
                                       uint32_t* writeProtection) {
  *readProtection = 0;
  *writeProtection = 0;
  if (STDFU_SelectCurrentConfiguration(device, 0, 0, 1) == STDFU_NOERROR) {
    uint8_t buffer[16];
    std::memset(buffer, 0xFF, sizeof buffer);
    const uint8_t flash[5] = {0x21, 0x00, 0x00, 0x00, 0x08};
    std::memcpy(buffer, flash, sizeof flash);
    if (!WaitForIdle(device)) return;
    STDFU_Dnload(device, buffer, 5, 0);
    if (!WaitForIdle(device)) return;
    STDFU_Upload(device, buffer, 16, 2);
    DfuStatus status = {};
    if (STDFU_Getstatus(device, &status) == STDFU_NOERROR && status.bState == kDfuError)
      readProtected = true;
    if (!WaitForIdle(device)) return;
  }
  if (readProtected) return;
  uint8_t buffer[64] = {};
  if (STDFU_SelectCurrentConfiguration(device, 0, 0, 1) != STDFU_NOERROR) return;
  if (!WaitForIdle(device)) return;
  const uint8_t options[5] = {0x21, 0x00, 0xF8, 0xFF, 0x1F};
  std::memcpy(buffer, options, sizeof options);
  STDFU_Dnload(device, buffer, 5, 0);
  if (!WaitForIdle(device)) return;
  uint32_t received = 0;
  if (STDFU_Upload(device, buffer, 16, 2, &received) != STDFU_NOERROR || received < 16) return;
  *readProtection = buffer[0];
  *writeProtection = buffer[8] | (buffer[10] << 8) | (buffer[12] << 16) |
                     (static_cast<uint32_t>(buffer[14]) << 24);
}
