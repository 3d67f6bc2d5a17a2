// The upgrade flow of the main window: a package meant for flashing arrives from the download
// thread, the reader is told to enter DFU mode and the flashing dialog runs; at start-up (or on
// the control socket's "upgrade") a reader already waiting in DFU mode is flashed from the
// package cache. While a flash runs, an exit waits for it and the session's end is held off.
// Portable.
#include <utility>

#include "app/ovra7_server_dlg.h"
#include "log/log.h"
#include "platform/control_protocol.h"
#include "platform/session_end.h"

namespace app {
namespace {

const char kEnterDfuFailed[] = "Notify Device Enter DFU Mode failed";
const char kPendingQuestion[] = "检查到有设备需要升级，是否升级?";
const char kQuestionCaption[] = "提示";
// Shown by the system to a user who logs out or shuts down meanwhile.
const char kSessionEndReason[] = "正在升级读卡器，请勿关机";

}  // namespace

// Runs on the download thread: only queues the path and rings.
void COvra7ServerDlg::notifyUpgradeFileDownloaded(void* context, const char* path) {
  auto* self = static_cast<COvra7ServerDlg*>(context);
  {
    std::lock_guard<std::mutex> hold(self->inboxLock_);
    self->downloadedPackages_.push_back(path ? path : "");
  }
  self->PostMessage(WM_UPGRADE_FILE_READY, 0, 0);
}

int COvra7ServerDlg::OnUpgradeFileDownloadFinished() {
  std::string package;
  {
    std::lock_guard<std::mutex> hold(inboxLock_);
    if (downloadedPackages_.empty()) {
      WriteLog("OnUpgradeFileDownloadFinished: no package queued, ignored");
      return 1;
    }
    package = std::move(downloadedPackages_.front());
    downloadedPackages_.pop_front();
  }
  // A message without a path names no package: the dialog then chooses from the cache, where a
  // package meant for flashing has just been copied.
  WriteLog("OnUpgradeFileDownloadFinished %s", package.c_str());
  if (flashing_) {
    // The dialog that runs already owns the device; the reader can ask again afterwards.
    WriteLog("a flashing dialog is running, package not flashed");
    return 1;
  }
  if (exiting_ || exitPending_) return 1;
  // From here on this is a flash: an exit or a second flash asked for inside the command's
  // wait must not start meanwhile.
  flashing_ = true;
  if (service_->NotifyEnterDfuMode() != 0) {
    flashing_ = false;
    MessageBox(kEnterDfuFailed);
    if (exitPending_) RequestExit(exitMayAsk_);
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

void COvra7ServerDlg::RequestUpgrade(platform::UpgradeReply reply) {
  {
    std::lock_guard<std::mutex> hold(inboxLock_);
    upgradeRequests_.push_back(std::move(reply));
  }
  PostMessage(WM_UPGRADE_REQUEST, 0, 0);
}

void COvra7ServerDlg::ServeUpgradeRequests() {
  for (;;) {
    platform::UpgradeReply reply;
    {
      std::lock_guard<std::mutex> hold(inboxLock_);
      if (upgradeRequests_.empty()) return;
      reply = std::move(upgradeRequests_.front());
      upgradeRequests_.pop_front();
    }
    std::string status;
    long result = RunPendingUpgrade(&status);
    if (reply) reply(result, status);
  }
}

long COvra7ServerDlg::FlashPendingDevice(bool answeredYes, std::string* lastStatus) {
  if (flashing_) return platform::kUpgradeBusy;
  if (exiting_ || exitPending_) return platform::kUpgradeFailed;
  DFUpgradeDialog dialog;
  if (!dialog.FindDfuDevices()) return platform::kUpgradeNoDevice;
  // Busy from before the question on: a download or a control request served inside the box's
  // own loop must find the flash taken.
  flashing_ = true;
  ShowWindow(true);
  if (!answeredYes && MessageBox(kPendingQuestion, ui::MessageBoxButtons::kYesNo,
                                 kQuestionCaption) != ui::MessageBoxResult::kYes) {
    flashing_ = false;
    if (exitPending_) RequestExit(exitMayAsk_);
    return platform::kUpgradeFailed;
  }
  dialog.SetHasDFUDevice(1);
  dialog.StartUpgrade("");
  return RunFlashingDialog(dialog, lastStatus);
}

long COvra7ServerDlg::RunFlashingDialog(DFUpgradeDialog& dialog, std::string* lastStatus) {
  // The modal loop serves this window's messages and timers meanwhile: the port scan goes on,
  // and stops and restarts the relay as the reader's serial port goes and comes back.
  flashing_ = true;
  if (exitPending_) {
    // Asked for before the dialog began (inside the question's loop): nothing is erased yet.
    flashing_ = false;
    RequestExit(exitMayAsk_);
    return platform::kUpgradeFailed;
  }
  flashingDialog_ = &dialog;
  std::unique_ptr<platform::SessionEndBlock> block = platform::BlockSessionEnd(kSessionEndReason);
  WriteLog(block ? "session end and sleep held off during the flash"
                 : "session end and sleep could not be held off during the flash");
  dialog.DoModal();
  block.reset();
  flashingDialog_ = nullptr;
  flashing_ = false;
  if (lastStatus) *lastStatus = dialog.lastStatus();
  // Only a flash that was written, verified and left counts: a reader that could not be told to
  // leave DFU mode is still in it, and must be replugged before it works again.
  const long result =
      dialog.flashCompleted() ? platform::kUpgradeCompleted : platform::kUpgradeFailed;
  if (exitPending_) {
    WriteLog("the flash has ended: the deferred exit is carried out");
    RequestExit(exitMayAsk_);
  }
  return result;
}

void COvra7ServerDlg::RequestExit(bool mayAsk) {
  if (!flashing_) {
    exitPending_ = false;
    Exit(mayAsk);
    return;
  }
  if (!exitPending_) WriteLog("exit requested while a flash runs: deferred until it has ended");
  exitPending_ = true;
  exitMayAsk_ = exitMayAsk_ && mayAsk;
  if (flashingDialog_) flashingDialog_->EndWhenSequenceEnds();
}

bool COvra7ServerDlg::OnQueryEndSession() {
  if (!flashing_) return true;
  WriteLog("session end refused: a flash runs");
  return false;
}

void COvra7ServerDlg::OnEndSession() { RequestExit(false); }

}  // namespace app
