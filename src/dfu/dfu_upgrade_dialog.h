// DFUpgradeDialog, the modal flashing dialog (template 136): it checks the package, puts the
// reader into DFU mode when asked, finds, opens and maps the DFU device, picks or matches the
// package, erases, writes, reads back and compares, and makes the reader leave DFU mode, each
// step on a window timer, reporting in a status line, a progress bar (its text the phase line)
// and a byte count line. Portable: built on the dialog framework (ui/).
//
// Everything runs on the loop thread, in timer handlers. The library's operations run on their
// own threads and are only polled (timer 6). Blocking steps: EnterDfuMode (about 1 s) and
// SelectDevice (descriptors, mapping and the option-bytes probe: in practice milliseconds; a
// device that stops answering is given up after kSelectionLimitMs in all, no single request
// waiting longer than the request time-out). Closing is refused while an erase or a download
// runs; during the leave it waits for the leave's end; otherwise it stops whatever runs and
// releases the mapping and every image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dfu/dfuse/dfuse_types.h"
#include "ui/dialog.h"

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

class DFUpgradeDialog : public ui::Dialog {
 public:
  // SelectDevice's whole exchange with the device, probe included, on the window's thread.
  static constexpr int kSelectionLimitMs = 15000;
  // Where nobody can close the dialog (a console), the search for the DFU device ends after this
  // long: a reader that has not shown up in DFU mode by then will not.
  static constexpr int kSearchLimitMs = 30000;
  // The smallest wTransferSize a download can use: the DfuSe commands are 5 bytes long.
  static constexpr uint32_t kMinTransferSize = 5;

  // No parent window; nothing is opened until the dialog runs (or FindDfuDevices is called).
  DFUpgradeDialog();
  // Stops a running operation and releases the mapping and every image still held.
  ~DFUpgradeDialog() override;

  // The calling order: constructor, SetHasDFUDevice, StartUpgrade, DoModal.
  // 1: the caller has already made the reader enter DFU mode (no enter-DFU command is sent).
  void SetHasDFUDevice(int flag) { m_HasDFUDevice = flag; }
  // Logs "StartUpgrade path: %s" and keeps the package path ("" : choose from the cache).
  void StartUpgrade(const std::string& path);

  // The status line as last shown ("" before the dialog ran).
  const std::string& lastStatus() const { return m_StatusText; }
  // The chain has ended, by success or failure; nothing more will happen but closing.
  bool sequenceEnded() const { return m_SequenceEnded; }
  // The chain ended with the new firmware written, verified and the reader told to leave DFU
  // mode (a leave that could not start or failed does not count).
  bool flashCompleted() const { return m_FlashCompleted; }
  // The program is to end: the dialog ends itself as soon as the chain has ended (at once if it
  // has), so that the exit waits for the erase, the download, the read back and the leave.
  void EndWhenSequenceEnds();
  // Whether an erase, a download, a read back or a leave is running now (the flash is then in a
  // state that an exit must not cut short).
  bool operationRunning() const { return m_OperationHandle != 0; }

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
  // The last SelectDevice gave up on a device that stopped answering; or its probe could not
  // read the option bytes (the sectors then count as protected).
  bool m_DeviceSilent = false;
  bool m_OptionBytesUnread = false;

 protected:
  // Shows "开始升级读卡器，请等待升级完成" and arms timer 1.
  bool OnInitDialog() override;
  // m_TransferText -> the byte count line.
  void DoDataExchange(ui::DataExchange& dx) override;
  // Kills the timer that fired, then runs its step.
  void OnTimer(int id) override;
  // Enter, Escape and the close box: refused (with the warning text) while an erase or a
  // download runs, else the dialog ends.
  void OnOK() override;
  void OnCancel() override;
  // Stops a running operation; releases the mapping and the images.
  void OnDestroy() override;
  // Every library operation starts here (STDFUPRT_LaunchOperation), so that a test can make a
  // launch fail.
  virtual uint32_t LaunchOperation(OperationContext* context, DfuOperationHandle* handle);

 private:
  // The steps (dfu_upgrade_dialog.cpp).
  void CheckPackage();
  bool EnterDfuMode();
  void FindDevice();
  void OpenDevice();
  bool LaunchUpgrade();
  void LeaveDfuMode();
  void ShowStatus(const std::string& text);
  // The byte count line from a size and a percent, in 32-bit unsigned arithmetic.
  void ShowTransfer(uint32_t size, uint32_t percent);
  // The chain ends here. Where nobody can close windows (a console), the dialog ends itself.
  void EndSequence();
  bool CloseAllowed();
  void ReleaseAll();
  // The operations (dfu_flash_operations.cpp).
  void PollOperation();
  void ShowPhase(const OperationContext& context);
  void ChainDownload(const OperationContext& erase);
  void FailOperation(const OperationContext& context);
  void CompareReadBack(DfuImageHandle readBack);
  void LaunchVerify();
  void PrepareContext(OperationContext* context, uint32_t operation) const;
  void ProgressRestart();

  bool FindImage(uint8_t alternate, DfuImageHandle* image, uint32_t* openResult);
  // STDFU_NOERROR with the protection read (or read protection found); STDFUPRT_NOANSWER when
  // the device stopped answering; another code when the option bytes could not be read.
  uint32_t ProbeOptionBytes(DfuDeviceHandle device, uint8_t* readProtection,
                            uint32_t* writeProtection);
  // The device's functional descriptor allows the download that follows an erase.
  bool DeviceCanTakeDownload();
  // LaunchOperation into m_OperationHandle (0 on failure), remembering the operation.
  uint32_t Launch(OperationContext* context);
  // Ends the chain after an operation failed or could not be followed: the status line for
  // that operation, everything released.
  void FailSequence(uint32_t operation);

  std::string m_StatusText;
  bool m_SequenceEnded = false;
  bool m_FlashCompleted = false;
  bool m_EndWhenSequenceEnds = false;
  bool m_CloseAfterLeave = false;  // closed while the leave ran: the dialog ends after it
  bool m_EraseLaunched = false;    // from here on the reader's flash is being changed
  uint32_t m_RunningOperation = kOperationErase;  // the operation of m_OperationHandle
  int m_SearchAttempts = 0;
  // The longest a close or the destructor waits for a running leave.
  static constexpr int kLeaveWaitMs = 15000;
  // The phase line is announced on the console at each new ten-percent step of an operation.
  int m_AnnouncedOperation = -1;
  int m_AnnouncedDecade = -1;
};
