// Win32 single instance and control channel: the session-local named mutex, the running
// window found by its title, and WM_SERVICE_CONTROL sent to it.
#include "platform/single_instance.h"

#include <windows.h>

#include "platform/win32/utf.h"

namespace platform {
namespace {

constexpr UINT kServiceControlMessage = WM_USER + 1006;
constexpr UINT kReplyTimeoutMs = 60000;

class MutexLock : public InstanceLock {
 public:
  explicit MutexLock(HANDLE mutex) : mutex_(mutex) {}
  ~MutexLock() override {
    if (mutex_) CloseHandle(mutex_);
  }

 private:
  HANDLE mutex_;
};

class NoListener : public ControlListener {};

}  // namespace

std::unique_ptr<InstanceLock> AcquireInstanceLock(bool* alreadyRunning) {
  // No "Global\" prefix: one instance per logon session, not per machine.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Ovra7Server_Mutex");
  *alreadyRunning = (GetLastError() == ERROR_ALREADY_EXISTS);
  return std::make_unique<MutexLock>(mutex);
}

bool ShowRunningInstance(const std::string& windowTitle) {
  HWND window = FindWindowW(nullptr, Widen(windowTitle).c_str());
  if (!window) return false;
  ShowWindow(window, SW_SHOW);
  return true;
}

bool SendControlCommand(const std::string& windowTitle, int command, int argument, long* result) {
  HWND window = FindWindowW(nullptr, Widen(windowTitle).c_str());
  if (!window) return false;
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(window, kServiceControlMessage, static_cast<WPARAM>(command),
                           static_cast<LPARAM>(argument), SMTO_NORMAL, kReplyTimeoutMs, &answer))
    return false;
  *result = static_cast<long>(static_cast<LRESULT>(answer));
  return true;
}

bool InstanceRunning(const std::string& windowTitle) {
  return FindWindowW(nullptr, Widen(windowTitle).c_str()) != nullptr;
}

bool ControlChannelCarriesUpgrade() { return false; }

UpgradeExchange SendUpgradeCommand(long*, std::string*) { return UpgradeExchange::kNoInstance; }

std::unique_ptr<ControlListener> StartControlListener(std::function<long(int, int)>,
                                                      std::function<void()>,
                                                      std::function<void(UpgradeReply)>) {
  return std::make_unique<NoListener>();
}

void WatchTerminationSignals(std::function<void()>) {}

}  // namespace platform
