// The flashing dialog's window side: the chain of timer steps from the package check to the
// erase's launch, the leave step, the status and byte count lines, and closing. Portable.
#include <cstdio>
#include <cstring>

#include "dfu/dfu_dialog_template.h"
#include "dfu/dfu_upgrade_dialog.h"
#include "dfu/dfuse/dfu_descriptors.h"
#include "dfu/dfuse/stdfufiles.h"
#include "dfu/dfuse/stdfuprt.h"
#include "dfu/reader_usb_port.h"
#include "log/log.h"
#include "platform/clock.h"
#include "ui/data_exchange.h"

namespace {

const char kStarting[] = "开始升级读卡器，请等待升级完成";
const char kLookingForDevice[] = "正在查找DFU设备";
const char kPackageBad[] = "升级文件校验失败";
const char kPackageGood[] = "升级文件校验成功，正在查找DFU设备";
const char kDeviceFound[] = "找到DFU设备，正在打开";
const char kOpenFailed[] = "DFU设备打开失败";
const char kDeviceSilent[] = "DFU设备无响应，请重新插拔读卡器";
const char kNoDevice[] = "未找到DFU设备";
const char kLookingForPackage[] = "正在查找匹配的升级包";
const char kPackageFound[] = "找到匹配的升级包,开始升级";
const char kNoPackage[] = "未找到匹配的升级包";
const char kOpened[] = "DFU设备打开成功，开始升级";
const char kMismatch[] = "升级文件与当前设备不匹配，无法升级";
const char kUpgrading[] = "正在升级，请保持读卡器连接";
const char kLaunchFailed[] = "启动升级失败";
const char kDone[] = "升级完成，请关闭此对话框。如未能成功打开端口，请重新插拔读卡器";

}  // namespace

DFUpgradeDialog::DFUpgradeDialog() : ui::Dialog(dfu::UpgradeDialogTemplate()) {}

DFUpgradeDialog::~DFUpgradeDialog() {
  // The base destructor would only run the base OnDestroy.
  DestroyWindow();
  ReleaseAll();
}

void DFUpgradeDialog::StartUpgrade(const std::string& path) {
  WriteLog("StartUpgrade path: %s", path.c_str());
  m_UpgradeFilePath = path;
}

bool DFUpgradeDialog::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  SetProgressRange(dfu::ids::kProgress, 0, 100);
  ShowStatus(kStarting);
  SetTimer(dfu::timers::kCheckPackage, dfu::timers::kStepMs);
  return true;
}

void DFUpgradeDialog::DoDataExchange(ui::DataExchange& dx) {
  dx.Text(dfu::ids::kTransfer, m_TransferText);
}

void DFUpgradeDialog::OnTimer(int id) {
  KillTimer(id);
  switch (id) {
    case dfu::timers::kCheckPackage:
      CheckPackage();
      break;
    case dfu::timers::kEnterDfu:
      if (EnterDfuMode()) {
        WriteLog("Enter DFU Mode success");
        SetTimer(dfu::timers::kFindDevice, dfu::timers::kStepMs);
      } else {
        EndSequence();
      }
      break;
    case dfu::timers::kFindDevice:
      FindDevice();
      break;
    case dfu::timers::kOpenDevice:
      OpenDevice();
      break;
    case dfu::timers::kLaunchUpgrade:
      if (LaunchUpgrade()) {
        ShowStatus(kUpgrading);
        WriteLog("Launch Upgrade success");
        SetTimer(dfu::timers::kPoll, dfu::timers::kPollMs);
      } else {
        ShowStatus(kLaunchFailed);
        EndSequence();
      }
      break;
    case dfu::timers::kPoll:
      PollOperation();
      // Polling goes on for the dialog's life; with no operation a tick does nothing.
      SetTimer(dfu::timers::kPoll, dfu::timers::kPollMs);
      break;
    case dfu::timers::kLeave:
      LeaveDfuMode();
      break;
    default:
      break;
  }
}

void DFUpgradeDialog::CheckPackage() {
  const int next = m_HasDFUDevice ? dfu::timers::kFindDevice : dfu::timers::kEnterDfu;
  if (m_UpgradeFilePath.empty()) {
    if (m_HasDFUDevice) ShowStatus(kLookingForDevice);
    SetTimer(next, dfu::timers::kStepMs);
    return;
  }
  if (!LoadDfuFile(m_UpgradeFilePath)) {
    ShowStatus(kPackageBad);
    EndSequence();
    return;
  }
  ShowStatus(kPackageGood);
  WriteLog("Check DFU file success, m_HasDFUDevice = %d", m_HasDFUDevice);
  SetTimer(next, dfu::timers::kStepMs);
}

bool DFUpgradeDialog::EnterDfuMode() {
  ReaderUsbPort port;
  return port.SendEnterDfu() == 1;
}

void DFUpgradeDialog::FindDevice() {
  if (!FindDfuDevices()) {
    // The reader may still be restarting: look again. A person can close the dialog when it
    // never comes; on a console the search ends by itself, or the program would wait forever.
    ++m_SearchAttempts;
    if (!ui::UserCanCloseWindows() &&
        m_SearchAttempts * dfu::timers::kStepMs >= kSearchLimitMs) {
      WriteLog("No DFU device found within %d s", kSearchLimitMs / 1000);
      ShowStatus(kNoDevice);
      EndSequence();
      return;
    }
    SetTimer(dfu::timers::kFindDevice, dfu::timers::kStepMs);
    return;
  }
  WriteLog("Find DFU Device success");
  ShowStatus(kDeviceFound);
  SetTimer(dfu::timers::kOpenDevice, dfu::timers::kStepMs);
}

void DFUpgradeDialog::OpenDevice() {
  if (!SelectDevice()) {
    ShowStatus(m_DeviceSilent ? kDeviceSilent : kOpenFailed);
    WriteLog("Select Device failed");
    EndSequence();
    return;
  }
  WriteLog("Select DFU Device success");
  if (m_UpgradeFilePath.empty()) {
    ShowStatus(kLookingForPackage);
    if (!autoSelectDfuFile()) {
      ShowStatus(kNoPackage);
      WriteLog("Auto select DFU file failed");
      EndSequence();
      return;
    }
    ShowStatus(kPackageFound);
  } else {
    if (!MatchDevice()) {
      ShowStatus(kMismatch);
      EndSequence();
      return;
    }
    ShowStatus(kOpened);
  }
  SetTimer(dfu::timers::kLaunchUpgrade, dfu::timers::kStepMs);
}

void DFUpgradeDialog::PrepareContext(OperationContext* context, uint32_t operation) const {
  *context = OperationContext();
  context->operation = operation;
  context->flag = 0;
  std::snprintf(context->devicePath, sizeof context->devicePath, "%s", m_DeviceLink.c_str());
}

bool DFUpgradeDialog::DeviceCanTakeDownload() {
  const uint32_t size = DfuTransferSize(m_DfuDescriptor);
  if ((DfuAttributes(m_DfuDescriptor) & kDfuCanDnload) && size >= kMinTransferSize) return true;
  WriteLog("The device cannot take a download (attributes 0x%02X, wTransferSize %u): nothing "
           "erased", DfuAttributes(m_DfuDescriptor), static_cast<unsigned>(size));
  return false;
}

// Erase, to be followed by the download. Both images are prepared and checked before anything
// is launched: an erase whose data could then not be written would leave the reader without
// firmware (a package element on a write-protected sector passes the erase's check, which only
// asks for the mapping, but not the download's, which asks for writeable sectors).
bool DFUpgradeDialog::LaunchUpgrade() {
  // The download's own prerequisites too: an erase that the download cannot follow leaves the
  // reader without firmware.
  if (!DeviceCanTakeDownload()) return false;
  DfuImageHandle image = nullptr;
  if (!FindUpgradeImage(0, &image)) return false;
  if (!m_Mapping || m_TargetCount == 0) {
    STDFUFILES_DestroyImage(&image);
    return false;
  }
  OperationContext context;
  PrepareContext(&context, kOperationErase);
  if (m_SourceImage) STDFUFILES_DestroyImage(&m_SourceImage);
  uint32_t copied = STDFUFILES_DuplicateImage(image, &m_SourceImage);
  uint32_t download = copied == STDFU_NOERROR
                          ? STDFUFILES_FilterImageForOperation(m_SourceImage, &m_Mapping[0],
                                                               kOperationDownload, 0)
                          : copied;
  uint32_t erase = STDFUFILES_FilterImageForOperation(image, &m_Mapping[0], kOperationErase, 0);
  if (download != STDFU_NOERROR || erase != STDFU_NOERROR) {
    if (m_OptionBytesUnread)
      WriteLog("The option bytes could not be read, so no sector counts as writeable: nothing "
               "erased");
    else
      WriteLog("Upgrade data does not fit the device's memory (download 0x%08X, erase 0x%08X)",
               static_cast<unsigned>(download), static_cast<unsigned>(erase));
    if (m_SourceImage) STDFUFILES_DestroyImage(&m_SourceImage);
    STDFUFILES_DestroyImage(&image);
    return false;
  }
  context.image = image;
  ShowTransfer(STDFUFILES_GetImageSize(m_SourceImage), 0);
  if (Launch(&context) != STDFU_NOERROR) {
    STDFUFILES_DestroyImage(&m_SourceImage);
    STDFUFILES_DestroyImage(&image);
    return false;
  }
  m_EraseLaunched = true;
  ProgressRestart();
  return true;
}

uint32_t DFUpgradeDialog::Launch(OperationContext* context) {
  uint32_t r = LaunchOperation(context, &m_OperationHandle);
  if (r != STDFU_NOERROR) m_OperationHandle = 0;
  m_RunningOperation = context->operation;
  return r;
}

void DFUpgradeDialog::LeaveDfuMode() {
  DfuImageHandle image = nullptr;
  OperationContext context;
  PrepareContext(&context, kOperationLeave);
  bool launched = false;
  if (m_Mapping && m_TargetCount > 0 && !m_DevTargets.empty() &&
      STDFUFILES_CreateImageFromMapping(&image, &m_Mapping[0]) == STDFU_NOERROR) {
    STDFUFILES_SetImageName(image, m_DevTargets[0].name.c_str());
    STDFUFILES_FilterImageForOperation(image, &m_Mapping[0], kOperationLeave, 0);
    context.image = image;
    launched = Launch(&context) == STDFU_NOERROR;
  }
  if (!launched) {
    if (image) STDFUFILES_DestroyImage(&image);
    FailSequence(kOperationLeave);
    return;
  }
  // Timer 6 follows the leave to its end and releases its image; the sequence ends there (a
  // close meanwhile waits for it).
  ProgressRestart();
  ShowStatus(kDone);
}

void DFUpgradeDialog::ShowStatus(const std::string& text) {
  m_StatusText = text;
  SetItemText(dfu::ids::kStatus, text);
  ui::Announce(text);
}

void DFUpgradeDialog::ShowTransfer(uint32_t size, uint32_t percent) {
  // Unsigned 32-bit and truncating, as the line has always been computed.
  const uint32_t kb = size / 1024;
  char text[128];
  std::snprintf(text, sizeof text, "%i KB(%i Bytes) of %i KB(%i Bytes)",
                static_cast<int>(kb * percent / 100), static_cast<int>(size * percent / 100),
                static_cast<int>(kb), static_cast<int>(size));
  m_TransferText = text;
  UpdateData(false);
}

void DFUpgradeDialog::ProgressRestart() {
  SetProgressText(dfu::ids::kProgress, "");
  SetProgressPos(dfu::ids::kProgress, 0);
  m_AnnouncedOperation = -1;
  m_AnnouncedDecade = -1;
}

void DFUpgradeDialog::EndSequence() {
  m_SequenceEnded = true;
  // On a console nobody is there to close the dialog; the caller learns the outcome from the
  // last status line. A close or an exit that waited for the end is carried out now.
  if (!ui::UserCanCloseWindows() || m_EndWhenSequenceEnds)
    EndDialog(ui::kIdOk);
  else if (m_CloseAfterLeave)
    EndDialog(ui::kIdCancel);
}

void DFUpgradeDialog::EndWhenSequenceEnds() {
  m_EndWhenSequenceEnds = true;
  // Before the erase the reader's firmware is untouched: nothing to wait for.
  if (m_SequenceEnded || !m_EraseLaunched) {
    WriteLog("flashing dialog ended for the exit");
    EndDialog(ui::kIdOk);
  }
}

// Closing in the middle of an erase or a download would leave the reader without firmware.
bool DFUpgradeDialog::CloseAllowed() {
  if (!m_OperationHandle) return true;
  OperationContext context;
  if (STDFUPRT_GetOperationStatus(m_OperationHandle, &context) != STDFU_NOERROR) return true;
  if (context.errorCode != STDFU_NOERROR) return true;
  // A finished erase is followed by the download at the next tick.
  if (context.operation == kOperationErase) return false;
  return !(context.operation == kOperationDownload && context.percent < 100);
}

void DFUpgradeDialog::OnOK() { OnCancel(); }

void DFUpgradeDialog::OnCancel() {
  if (!CloseAllowed()) {
    MessageBox(dfu::kWarningText);
    return;
  }
  // "升级完成…" shows while the leave runs; a close then waits for the leave's (bounded) end, so
  // that the reader does not stay in DFU mode.
  if (m_OperationHandle && m_RunningOperation == kOperationLeave) {
    m_CloseAfterLeave = true;
    return;
  }
  EndDialog(ui::kIdCancel);
}

void DFUpgradeDialog::OnDestroy() { ReleaseAll(); }

uint32_t DFUpgradeDialog::LaunchOperation(OperationContext* context, DfuOperationHandle* handle) {
  return STDFUPRT_LaunchOperation(context, handle);
}

void DFUpgradeDialog::ReleaseAll() {
  // A leave still running is let finish: stopped half way it may leave the reader in DFU mode.
  // It is a few requests, each bounded by the request time-out and the device's poll time.
  if (m_OperationHandle && m_RunningOperation == kOperationLeave) {
    const uint64_t end = platform::NowMs() + kLeaveWaitMs;
    OperationContext context;
    while (STDFUPRT_GetOperationStatus(m_OperationHandle, &context) == STDFU_NOERROR &&
           context.percent != 100 && context.errorCode == STDFU_NOERROR &&
           platform::NowMs() < end)
      platform::SleepMs(10);
  }
  if (m_OperationHandle) {
    OperationContext context;
    context.image = nullptr;
    if (STDFUPRT_StopOperation(m_OperationHandle, &context) == STDFU_NOERROR && context.image &&
        context.image != m_SourceImage)
      STDFUFILES_DestroyImage(&context.image);
    m_OperationHandle = 0;
  }
  if (m_SourceImage) STDFUFILES_DestroyImage(&m_SourceImage);
  if (m_Mapping) STDFUPRT_DestroyMapping(&m_Mapping);
  m_TargetCount = 0;
}
