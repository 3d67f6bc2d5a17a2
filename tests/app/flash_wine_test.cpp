// The whole road of an upgrade through the real Win32 windows (under wine and Xvfb here): the
// main window and the flashing dialog with its comctl32 progress bar, the simulated reader on
// the serial cable, the loopback HTTP server, and the simulated DFU device behind platform/usb.h
// (wine has no USB). Screenshots of the download phase and of the end go to the artifacts
// folder named by OVRA7_ARTIFACTS.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "dfu/dfu_dialog_template.h"
#include "flash_road.h"
#include "platform/win32/utf.h"
#include "ui/backend.h"
#include "ui/win32/win32_backend.h"
#include "ui/win32/win32_include.h"
#include "win32_picture.h"

namespace {

std::wstring TextOf(HWND hwnd) {
  wchar_t text[512] = {};
  if (hwnd) GetWindowTextW(hwnd, text, 512);
  return text;
}

// The screen as a BMP file; the test's runner turns it into a PNG.
bool SaveScreen(const std::string& path) {
  HDC screen = GetDC(nullptr);
  const bool ok = apptest::SaveBmp(screen, GetSystemMetrics(SM_CXSCREEN),
                                   GetSystemMetrics(SM_CYSCREEN), path);
  if (screen) ReleaseDC(nullptr, screen);
  return ok;
}

// The dialog's window, or null while it is not on screen.
HWND FlashingDialog() { return FindWindowW(nullptr, L"DFU升级"); }

apptest::FlashWindowSystem Win32WindowSystem(const std::string& artifacts) {
  apptest::FlashWindowSystem ws;
  ws.read = [](apptest::FlashDialogView* view) {
    HWND dialog = FlashingDialog();
    if (!dialog) return false;
    HWND bar = GetDlgItem(dialog, dfu::ids::kProgress);
    view->status = platform::Narrow(TextOf(GetDlgItem(dialog, dfu::ids::kStatus)));
    view->bar = platform::Narrow(TextOf(bar));  // the comctl32 bar's own window text
    view->bytes = platform::Narrow(TextOf(GetDlgItem(dialog, dfu::ids::kTransfer)));
    view->warning = platform::Narrow(TextOf(GetDlgItem(dialog, dfu::ids::kWarning)));
    view->position = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
    return true;
  };
  ws.shoot = [artifacts](const std::string& moment) {
    HWND dialog = FlashingDialog();
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    GdiFlush();
    return SaveScreen(artifacts + "/flash-" + moment + ".bmp");
  };
  ws.close = [] { PostMessageW(FlashingDialog(), WM_CLOSE, 0, 0); };
  return ws;
}

apptest::FlashRoad* g_road = nullptr;
// A thread timer: it fires inside every message loop of this thread, the modal dialog's too.
void CALLBACK OnTick(HWND, UINT, UINT_PTR, DWORD) {
  if (g_road) g_road->Tick();
}

TEST(FlashUnderWine, ServerNoticeToFlashedReaderThroughTheWin32DialogAndProgressBar) {
  const char* artifacts = std::getenv("OVRA7_ARTIFACTS");
  ASSERT_NE(artifacts, nullptr);
  std::filesystem::create_directories(std::filesystem::u8path(artifacts));
  std::unique_ptr<ui::Backend> backend = ui::win32::CreateWin32Backend();
  ASSERT_NE(backend, nullptr);
  ui::ScopedBackend scoped(backend.get());

  apptest::FlashRoad road(Win32WindowSystem(artifacts));
  ASSERT_NO_FATAL_FAILURE(road.Start());
  g_road = &road;
  UINT_PTR timer = SetTimer(nullptr, 0, 50, &OnTick);
  ASSERT_NE(timer, 0u);
  ui::RunMessageLoop();
  KillTimer(nullptr, timer);
  g_road = nullptr;
  road.Check();
}

}  // namespace
