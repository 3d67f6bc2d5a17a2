// The upgrade flow of the main window: a package meant for flashing arrives from the download
// thread, the reader is told to enter DFU mode and the flashing dialog runs; at start-up (or on
// the control socket's "upgrade") a reader already waiting in DFU mode is flashed from the
// package cache. Portable.
#include <cstring>

#include "app/ovra7_server_dlg.h"
#include "log/log.h"
#include "platform/control_protocol.h"

namespace app {
namespace {

const char kEnterDfuFailed[] = "Notify Device Enter DFU Mode failed";
const char kPendingQuestion[] = "检查到有设备需要升级，是否升级?";
const char kQuestionCaption[] = "提示";
const char kCompletedPrefix[] = "升级完成";

}  // namespace

// Runs on the download thread: only copies the path and posts it on.
void COvra7ServerDlg::notifyUpgradeFileDownloaded(void* context, const char* path) {
  auto* self = static_cast<COvra7ServerDlg*>(context);
  char* copy = nullptr;
  if (path) {
    size_t n = std::strlen(path);
    copy = new char[n + 1];
    std::memcpy(copy, path, n + 1);
  }
  if (!self->PostMessage(WM_UPGRADE_FILE_READY, 0, reinterpret_cast<intptr_t>(copy)))
    delete[] copy;  // no window to take it
}

int COvra7ServerDlg::OnUpgradeFileDownloadFinished(char* path) {
  // A message without a path names no package: the dialog then chooses from the cache, where a
  // package meant for flashing has just been copied.
  const std::string package = path ? path : "";
  delete[] path;
  WriteLog("OnUpgradeFileDownloadFinished %s", package.c_str());
  if (flashing_) {
    // The dialog that runs already owns the device; the reader can ask again afterwards.
    WriteLog("a flashing dialog is running, package not flashed");
    return 1;
  }
  if (service_->NotifyEnterDfuMode() != 0) {
    MessageBox(kEnterDfuFailed);
    return 1;
  }
  ShowWindow(true);
  DFUpgradeDialog dialog;
  dialog.SetHasDFUDevice(1);
  dialog.StartUpgrade(package);
  RunFlashingDialog(dialog, nullptr);
  return 1;
}

void COvra7ServerDlg::checkPendingDfuUpgrade() { FlashPendingDevice(false, nullptr); }

long COvra7ServerDlg::RunPendingUpgrade(std::string* lastStatus) {
  if (lastStatus) lastStatus->clear();
  return FlashPendingDevice(true, lastStatus);
}

long COvra7ServerDlg::FlashPendingDevice(bool answeredYes, std::string* lastStatus) {
  if (flashing_) return platform::kUpgradeBusy;
  DFUpgradeDialog dialog;
  if (!dialog.FindDfuDevices()) return platform::kUpgradeNoDevice;
  ShowWindow(true);
  if (!answeredYes && MessageBox(kPendingQuestion, ui::MessageBoxButtons::kYesNo,
                                 kQuestionCaption) != ui::MessageBoxResult::kYes)
    return platform::kUpgradeFailed;
  dialog.SetHasDFUDevice(1);
  dialog.StartUpgrade("");
  return RunFlashingDialog(dialog, lastStatus);
}

long COvra7ServerDlg::RunFlashingDialog(DFUpgradeDialog& dialog, std::string* lastStatus) {
  // The modal loop serves this window's messages and timers meanwhile: the port scan goes on,
  // and stops and restarts the relay as the reader's serial port goes and comes back.
  flashing_ = true;
  dialog.DoModal();
  flashing_ = false;
  if (lastStatus) *lastStatus = dialog.lastStatus();
  return dialog.lastStatus().rfind(kCompletedPrefix, 0) == 0 ? platform::kUpgradeCompleted
                                                             : platform::kUpgradeFailed;
}

}  // namespace app
