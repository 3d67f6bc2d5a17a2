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
#include <vector>

#include "dfu/dfu_dialog_template.h"
#include "flash_road.h"
#include "platform/win32/utf.h"
#include "ui/backend.h"
#include "ui/win32/win32_backend.h"
#include "ui/win32/win32_include.h"

namespace {

std::wstring TextOf(HWND hwnd) {
  wchar_t text[512] = {};
  if (hwnd) GetWindowTextW(hwnd, text, 512);
  return text;
}

// The screen as a 24-bit bottom-up BMP file; the test's runner turns it into a PNG.
bool SaveScreen(const std::string& path) {
  HDC screen = GetDC(nullptr);
  if (!screen) return false;
  const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = w;
  info.biHeight = h;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const DWORD row = ((static_cast<DWORD>(w) * 3 + 3) / 4) * 4;
  std::vector<uint8_t> pixels(static_cast<size_t>(row) * static_cast<size_t>(h));
  bool ok = GetDIBits(memory, bitmap, 0, static_cast<UINT>(h), pixels.data(),
                      reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) == h;
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (!ok) return false;
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  ok = std::fwrite(&file, sizeof file, 1, f) == 1 && std::fwrite(&info, sizeof info, 1, f) == 1 &&
       std::fwrite(pixels.data(), 1, pixels.size(), f) == pixels.size();
  return std::fclose(f) == 0 && ok;
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
