// The dialog framework's backend interface and the choice of backend for the process.
// Portable: win32, headless (and later Qt) implement Backend; windows never call it directly.
#pragma once

#include <memory>
#include <string>

#include "ui/dialog.h"

namespace ui {

class DialogPeer;
class TrayIconPeer;

class Backend {
 public:
  virtual ~Backend() = default;
  // The window behind a Dialog; null when it cannot be made. Loop thread.
  virtual std::unique_ptr<DialogPeer> CreateDialogPeer(Dialog& dialog) = 0;
  virtual std::unique_ptr<TrayIconPeer> CreateTrayIconPeer() = 0;
  // owner may be null. caption is already resolved (never empty). Blocks until answered.
  virtual MessageBoxResult ShowMessageBox(Dialog* owner, const std::string& text,
                                          const std::string& caption,
                                          MessageBoxButtons buttons) = 0;
  // Serves every window until Quit; returns the quit code. Loop thread.
  virtual int RunMessageLoop() = 0;
  // Any thread.
  virtual void Quit(int code) = 0;
  // See ui::Announce. The default (a backend with a display) ignores the line. Loop thread.
  virtual void Announce(const std::string& /*line*/) {}
  // See ui::UserCanCloseWindows. The default (a backend with a display): true.
  virtual bool UserCanCloseWindows() const { return true; }
};

// The backend every Dialog and TrayIcon uses. Install one before creating windows; the caller
// keeps ownership and must keep it alive while windows exist. Not thread-safe: set it on the
// loop thread before any window exists (tests: once per test, see ScopedBackend).
void SetBackend(Backend* backend);
Backend* GetBackend();

class ScopedBackend {
 public:
  explicit ScopedBackend(Backend* backend) : previous_(GetBackend()) { SetBackend(backend); }
  ~ScopedBackend() { SetBackend(previous_); }
  ScopedBackend(const ScopedBackend&) = delete;
  ScopedBackend& operator=(const ScopedBackend&) = delete;

 private:
  Backend* previous_;
};

enum class BackendKind {
  kNative,    // Win32 on Windows, Qt on Linux (null without a display)
  kHeadless,  // controls in memory, real clock, message boxes on standard error
  kWin32,
  kQt,
};

// Builds a backend of this kind, or null when it is not part of this build (library
// ovra7_ui_backends links every backend the target has).
std::unique_ptr<Backend> CreateBackend(BackendKind kind);

}  // namespace ui
