// The flashing dialog's library operations: following the running operation every 300 ms, the
// chain erase -> download -> read back inside it, the comparison and the read-back's launch.
// Portable.
#include <cstdio>
#include <vector>

#include "dfu/dfu_dialog_template.h"
#include "dfu/dfu_upgrade_dialog.h"
#include "dfu/dfuse/stdfufiles.h"
#include "dfu/dfuse/stdfuprt.h"
#include "log/log.h"

namespace {

const char kUpgraded[] = "升级成功";
const char kVerifying[] = "正在校验升级，请稍后";
const char kVerified[] = "校验成功";
// The erase has run but the flash was not written and verified to its end: the reader may hold
// no firmware now, and the package stays in the cache for the next try.
const char kUpgradeAgain[] = "升级失败，请重新升级读卡器";
const char kLeaveFailed[] = "升级完成，但重启读卡器失败";
const char kUnsupported[] = "This feature is not supported by this firmware.";

}  // namespace

void DFUpgradeDialog::PollOperation() {
  if (!m_OperationHandle) return;
  OperationContext context;
  uint32_t known = STDFUPRT_GetOperationStatus(m_OperationHandle, &context);
  if (known != STDFU_NOERROR) {
    // The library no longer knows the operation: nothing to follow, and nothing that would
    // end the chain otherwise.
    WriteLog("Operation %u: status unavailable (0x%08X)", static_cast<unsigned>(m_RunningOperation),
             static_cast<unsigned>(known));
    m_OperationHandle = 0;
    FailSequence(m_RunningOperation);
    return;
  }
  if (context.errorCode != STDFU_NOERROR) {
    FailOperation(context);
    return;
  }
  ShowPhase(context);
  if (context.percent != 100) return;
  if (context.operation == kOperationErase) {
    ChainDownload(context);
    return;
  }
  STDFUPRT_StopOperation(m_OperationHandle, nullptr);
  SetProgressPos(dfu::ids::kProgress, 100);
  m_OperationHandle = 0;
  if (context.operation == kOperationUpload && m_SourceImage) {
    CompareReadBack(context.image);
  } else if (context.operation == kOperationDownload) {
    WriteLog("Upgrade successful !");
    ShowStatus(kUpgraded);
    m_SourceImage = nullptr;  // the image just written: the context's, released below
    LaunchVerify();
  } else if (context.operation == kOperationLeave) {
    m_FlashCompleted = true;
    STDFUFILES_DestroyImage(&context.image);
    ReleaseAll();
    EndSequence();
    return;
  }
  STDFUFILES_DestroyImage(&context.image);
}

void DFUpgradeDialog::ShowPhase(const OperationContext& context) {
  const int p = context.percent;
  const int t = static_cast<int>(m_CurrentTarget);
  char line[128];
  switch (context.operation) {
    case kOperationDetach:
      std::snprintf(line, sizeof line, "Detaching %i%%...", p);
      break;
    case kOperationLeave:
      std::snprintf(line, sizeof line, "Leaving DFU mode %i%%...", p);
      break;
    case kOperationUpload:
      std::snprintf(line, sizeof line, "Target %02i: Uploading %i%%...", t, p);
      break;
    case kOperationDownload:
      std::snprintf(line, sizeof line, "Target %02i: Upgrading - Download Phase (%i%%)...", t, p);
      break;
    default:
      std::snprintf(line, sizeof line, "Target %02i: Upgrading - Erase Phase (%i%%)...", t, p);
      break;
  }
  if (context.operation == kOperationUpload || context.operation == kOperationDownload)
    ShowTransfer(STDFUFILES_GetImageSize(context.image), static_cast<uint32_t>(p));
  SetProgressText(dfu::ids::kProgress, line);
  SetProgressPos(dfu::ids::kProgress, p);
  // A console gets the phase line at each new ten-percent step, not at every poll.
  const int operation = static_cast<int>(context.operation);
  if (operation != m_AnnouncedOperation || p / 10 != m_AnnouncedDecade) {
    m_AnnouncedOperation = operation;
    m_AnnouncedDecade = p / 10;
    ui::Announce(line);
  }
}

void DFUpgradeDialog::ChainDownload(const OperationContext& erase) {
  STDFUPRT_StopOperation(m_OperationHandle, nullptr);
  m_OperationHandle = 0;
  DfuImageHandle erased = erase.image;
  STDFUFILES_DestroyImage(&erased);
  OperationContext context = erase;
  context.operation = kOperationDownload;
  context.image = m_SourceImage;
  uint32_t launched = Launch(&context);
  if (launched == STDFU_NOERROR) return;
  // The flash is erased and nothing will be written: say so, release everything, and leave the
  // package where it is so that the start-up check can offer it again.
  WriteLog("Launch download failed, error 0x%08X", static_cast<unsigned>(launched));
  FailSequence(kOperationDownload);
}

void DFUpgradeDialog::FailOperation(const OperationContext& context) {
  STDFUPRT_StopOperation(m_OperationHandle, nullptr);
  m_OperationHandle = 0;
  // The library's result, with what the device said last, is all there is to go on later.
  WriteLog("Operation %u failed at %u%%, error 0x%08X (device status 0x%02X, state %u)",
           static_cast<unsigned>(context.operation), static_cast<unsigned>(context.percent),
           static_cast<unsigned>(context.errorCode), static_cast<unsigned>(context.lastStatus),
           static_cast<unsigned>(context.lastState));
  DfuImageHandle image = context.image;
  if (m_SourceImage == image) m_SourceImage = nullptr;  // the download's own image
  if (image) STDFUFILES_DestroyImage(&image);
  if (context.errorCode == STDFUPRT_UNSUPPORTED) MessageBox(kUnsupported);
  FailSequence(context.operation);
}

void DFUpgradeDialog::FailSequence(uint32_t operation) {
  // Nothing follows a failed operation: the device, the mapping and the copy kept for the next
  // phase are released. An erase, a download or a read back that did not end leaves the reader's
  // firmware unknown; a leave that failed leaves a written and verified reader in DFU mode.
  ReleaseAll();
  ShowStatus(operation == kOperationLeave ? kLeaveFailed : kUpgradeAgain);
  EndSequence();
}

// Compares what the device sent back with the package, element by element, and stops at the
// first byte that differs. Releases m_SourceImage; the caller releases readBack.
void DFUpgradeDialog::CompareReadBack(DfuImageHandle readBack) {
  bool failed = false, differs = false;
  uint32_t count = 0;
  if (STDFUFILES_GetImageNbElement(readBack, &count) != STDFU_NOERROR) {
    WriteLog("Unable to get elements from read image...");
    failed = true;
  }
  for (uint32_t i = 0; i < count && !failed && !differs; ++i) {
    DfuElement read;
    if (STDFUFILES_GetImageElement(readBack, i, &read) != STDFU_NOERROR) {
      WriteLog("Unable to get data from read image...");
      failed = true;
      break;
    }
    std::vector<uint8_t> readBytes(read.dwDataLength + 1u);
    read.Data = readBytes.data();
    if (STDFUFILES_GetImageElement(readBack, i, &read) != STDFU_NOERROR) {
      WriteLog("Unable to get data from read image...");
      failed = true;
      break;
    }
    std::vector<uint8_t> fileBytes(read.dwDataLength + 1u);
    DfuElement file;
    file.dwDataLength = read.dwDataLength;
    file.Data = fileBytes.data();
    if (STDFUFILES_GetImageElement(m_SourceImage, i, &file) != STDFU_NOERROR) {
      WriteLog("Unable to get data from source image...");
      failed = true;
      break;
    }
    for (uint32_t j = 0; j < read.dwDataLength; ++j) {
      if (fileBytes[j] == readBytes[j]) continue;
      WriteLog("Verify successful, but data not matching...");
      char text[160];
      std::snprintf(text, sizeof text,
                    "Matching not good. First Difference at address 0x%08X:\nFile  byte  is  "
                    "0x%02X.\nRead byte is 0x%02X.",
                    static_cast<unsigned>(file.dwAddress + j), fileBytes[j], readBytes[j]);
      MessageBox(text);
      differs = true;
      break;
    }
  }
  STDFUFILES_DestroyImage(&m_SourceImage);
  if (failed || differs) {
    EndSequence();
    return;
  }
  ShowStatus(kVerified);
  WriteLog("Verify successful !");
  SetTimer(dfu::timers::kLeave, dfu::timers::kStepMs);
}

void DFUpgradeDialog::LaunchVerify() {
  ShowStatus(kVerifying);
  DfuImageHandle image = nullptr;
  if (!FindVerifyImage(static_cast<uint8_t>(m_CurrentTarget), &image)) {
    EndSequence();
    return;
  }
  if (!m_Mapping || m_CurrentTarget >= m_TargetCount) {
    STDFUFILES_DestroyImage(&image);
    EndSequence();
    return;
  }
  OperationContext context;
  PrepareContext(&context, kOperationUpload);
  if (m_SourceImage) STDFUFILES_DestroyImage(&m_SourceImage);
  STDFUFILES_FilterImageForOperation(image, &m_Mapping[m_CurrentTarget], kOperationUpload, 0);
  context.image = image;
  STDFUFILES_DuplicateImage(image, &m_SourceImage);
  if (Launch(&context) != STDFU_NOERROR) {
    STDFUFILES_DestroyImage(&image);
    if (m_SourceImage) STDFUFILES_DestroyImage(&m_SourceImage);
    EndSequence();
    return;
  }
  ProgressRestart();
}
