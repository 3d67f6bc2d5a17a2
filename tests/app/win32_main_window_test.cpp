// The main window's template through the Win32 backend under a real window system (wine and a
// private Xvfb display here): what the user sees of the reader configuration panel. A picture
// of the panel is kept in the build's artifacts folder.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/main_window_template.h"
#include "app/reader_text.h"
#include "ui/backend.h"
#include "ui/dialog.h"
#include "ui/win32/win32_backend.h"
#include "ui/win32/win32_internal.h"
#include "win32_picture.h"

namespace {

HWND WindowOf(const ui::Dialog& d) {
  return static_cast<ui::win32::Win32DialogPeer*>(d.peer())->hwnd();
}

// The window's client area as a BMP file; false when any step fails.
bool SaveClientPicture(HWND hwnd, const std::string& path) {
  RECT rc;
  if (!GetClientRect(hwnd, &rc)) return false;
  HDC window = GetDC(hwnd);
  const bool ok = apptest::SaveBmp(window, rc.right, rc.bottom, path);
  if (window) ReleaseDC(hwnd, window);
  return ok;
}

// Edit 1029 is multi-line: the 64 digits of the authorization code wrap onto its second line,
// so the last digits stay in view instead of scrolling out to the right.
TEST(Win32MainWindow, AuthorizationCodeWrapsOntoTheSecondLineOfItsEdit) {
  std::unique_ptr<ui::Backend> backend = ui::win32::CreateWin32Backend();
  ASSERT_NE(backend, nullptr);
  ui::ScopedBackend scoped(backend.get());
  ui::Dialog window(app::MainWindowTemplate());
  ASSERT_TRUE(window.Create());
  HWND hwnd = WindowOf(window);
  HWND edit = GetDlgItem(hwnd, app::ids::kLicense);
  ASSERT_NE(edit, nullptr);
  const LONG style = GetWindowLongW(edit, GWL_STYLE);
  EXPECT_TRUE(style & ES_MULTILINE);
  EXPECT_FALSE(style & ES_AUTOHSCROLL);
  // Single-line edits still scroll sideways.
  EXPECT_TRUE(GetWindowLongW(GetDlgItem(hwnd, app::ids::kServerAddress), GWL_STYLE) &
              ES_AUTOHSCROLL);

  uint8_t record[32];
  for (int i = 0; i < 32; ++i) record[i] = static_cast<uint8_t>(0x91 + i * 7);
  const std::string code = app::AuthorizationHex(record, sizeof record);
  ASSERT_EQ(code.size(), 64u);
  ASSERT_TRUE(window.SetItemText(app::ids::kLicense, code));
  // Shown and painted with every control before anything is measured or pictured; both happen
  // within these calls, so nothing needs waiting for.
  ASSERT_TRUE(window.ShowWindow(true));
  ASSERT_TRUE(IsWindowVisible(edit));
  RedrawWindow(hwnd, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);

  EXPECT_GE(SendMessageW(edit, EM_GETLINECOUNT, 0, 0), 2);
  EXPECT_EQ(SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
  // The first and the last digit both lie inside the edit's client area.
  RECT client;
  ASSERT_TRUE(GetClientRect(edit, &client));
  for (WPARAM index : {WPARAM{0}, WPARAM{63}}) {
    const LRESULT at = SendMessageW(edit, EM_POSFROMCHAR, index, 0);
    const POINT p = {static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at))};
    EXPECT_TRUE(PtInRect(&client, p)) << "digit " << index << " at " << p.x << "," << p.y;
  }

  const char* artifacts = std::getenv("OVRA7_ARTIFACTS");
  if (artifacts && *artifacts) {
    // Under wine the build folder is a Unix path: its drive Z: is the Unix root.
    const std::string folder = (artifacts[0] == '/' ? "Z:" : "") + std::string(artifacts);
    CreateDirectoryA(folder.c_str(), nullptr);
    EXPECT_TRUE(SaveClientPicture(hwnd, folder + "/main-window-license.bmp"));
  }
  window.DestroyWindow();
}

}  // namespace
