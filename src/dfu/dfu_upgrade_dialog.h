// The flashing dialog's device and package side: finding and selecting the DFU device, its
// targets, loading and matching a package, and choosing one from the cache. Portable.
// Everything runs on the dialog's thread; SelectDevice blocks while the device settles (the
// option-bytes probe: at most kProbeIdleRounds status rounds of up to 5 s each, in practice
// milliseconds). The window side (template, timers, progress) derives from this later.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dfu/dfuse/dfuse_types.h"

// One target of the selected device as text: "%02i" alternate, name, "%i sectors...", and one
// line per sector joined by "\n".
struct DevTarget {
  std::string alternate;
  std::string name;
  std::string sectorCount;
  std::string sectors;
};

// "%i b" below 1 KiB, "%i Kb" below 1 MiB, else "%i Mb" (integer division).
std::string SectorSizeText(uint32_t size);
// "Sector %03i\t0x%08X\t0x%08X\t%s\t" then R, W, E for the attributes present.
std::string SectorLine(int index, const DfuSector& sector);
DevTarget MakeDevTarget(const DfuMappingEntry& entry);

// A device description keeps at most this many bytes.
constexpr size_t kDeviceDescriptionLimit = 253;
// `text` cut to kDeviceDescriptionLimit bytes, at a character boundary (UTF-8).
std::string CutDescription(const std::string& text);

// The attribute rule after the option-bytes probe: readable when the read-protection byte is
// 0xA5; erasable and writeable when the write-protection bit of the sector is 1 (bit j/4 for
// sector j below 128, bit 31 from 128 on).
void ApplyProtection(DfuMappingEntry* mapping, uint32_t targetCount, uint8_t readProtection,
                     uint32_t writeProtection);

class DFUpgradeDialog {
 public:
  // Bounded wait-for-idle during the probe; a device that takes longer fails the probe.
  static constexpr int kProbeIdleRounds = 50;

  DFUpgradeDialog();
  // Releases the mapping and any image still held.
  ~DFUpgradeDialog();
  DFUpgradeDialog(const DFUpgradeDialog&) = delete;
  DFUpgradeDialog& operator=(const DFUpgradeDialog&) = delete;

  void SetHasDFUDevice(int flag) { m_HasDFUDevice = flag; }
  // Logs "StartUpgrade path: %s" and keeps the package path.
  void StartUpgrade(const std::string& path);

  // Lists the DFU interfaces, class A first, then class B. True when any was found.
  bool FindDfuDevices();
  // Opens entry 0 of m_DevicePaths, checks it, maps it, probes the option bytes and fills
  // m_DevTargets. True when the mapping was built. Closes the device before returning.
  bool SelectDevice();
  static std::string FormatGuid(const Guid& guid);

  // Opens the package and reads each image; keeps the package's ids in m_FileVid/m_FilePid.
  bool LoadDfuFile(const std::string& path);
  // The device's and the package's vendor and product ids agree (and a device was selected).
  bool MatchDevice();
  // The first image of m_UpgradeFilePath for `alternate`, for the caller to destroy; false
  // when there is none. The two differ only in their log lines (upgrade and verification).
  bool FindUpgradeImage(uint8_t alternate, DfuImageHandle* image);
  bool FindVerifyImage(uint8_t alternate, DfuImageHandle* image);
  // The newest ".dfu" file of the package cache that loads and matches the selected device
  // becomes m_UpgradeFilePath.
  bool autoSelectDfuFile();

  // Device side.
  std::vector<std::string> m_DevicePaths;
  std::vector<std::string> m_DeviceNames;
  std::string m_DeviceLink;
  uint8_t m_DeviceDescriptor[18] = {};
  uint8_t m_DfuDescriptor[9] = {};
  std::string m_DeviceVid, m_DevicePid;
  DfuMappingEntry* m_Mapping = nullptr;
  uint32_t m_TargetCount = 0;
  std::vector<DevTarget> m_DevTargets;

  // Package side and the flashing sequence's state.
  std::string m_UpgradeFilePath;
  int m_HasDFUDevice = 0;
  std::string m_FileVid, m_FilePid;
  DfuImageHandle m_SourceImage = nullptr;
  DfuOperationHandle m_OperationHandle = 0;
  uint32_t m_CurrentTarget = 0;
  std::string m_TransferText;

  // What the last SelectDevice learnt from the option bytes.
  bool optionBytesPresent = false;
  bool readProtected = false;

 private:
  bool FindImage(uint8_t alternate, DfuImageHandle* image, uint32_t* openResult);
  void ProbeOptionBytes(DfuDeviceHandle device, uint8_t* readProtection, uint32_t* writeProtection);
  bool WaitForIdle(DfuDeviceHandle device);
};
