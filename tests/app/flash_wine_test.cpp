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

#include "app/ovra7_server_dlg.h"
#include "dfu/dfu_dialog_template.h"
#include "log/log.h"
#include "platform/reader_usb.h"
#include "platform/win32/utf.h"
#include "reader_upgrade_side.h"
#include "support/card_server.h"
#include "support/serial_cable.h"
#include "support/sim_dfu_device.h"
#include "support/sim_hid_reader.h"
#include "support/temp_folder.h"
#include "ui/backend.h"
#include "ui/win32/win32_backend.h"
#include "ui/win32/win32_include.h"

namespace {

using apptest::Bytes;

const wchar_t kDone[] = L"升级完成，请关闭此对话框。如未能成功打开端口，请重新插拔读卡器";

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

// What the test watches and does while the program's own loops run (the thread timer below
// fires inside every message loop of this thread, the modal dialog's included).
struct Road {
  testsupport::FakePorts* ports = nullptr;
  std::vector<std::string>* listed = nullptr;
  testsupport::SimUsbBus* bus = nullptr;
  app::COvra7ServerDlg* window = nullptr;
  std::function<testsupport::SimulatedReader*()> plugReaderBack;
  std::string artifacts;

  std::shared_ptr<testsupport::SimDfuDevice> device;
  testsupport::SimulatedReader* back = nullptr;
  bool sawDialog = false, shotDownload = false, shotEnd = false, closed = false, timedOut = false;
  std::vector<std::wstring> statuses;  // each status the dialog showed at a tick, in order
  std::vector<int> positions;          // each bar position seen at a tick
  std::wstring downloadBar, downloadBytes, endBar, endBytes, warning;
  int endPos = -1;
  int heldTicks = 0;
  DWORD start = GetTickCount();

  void Tick() {
    if (GetTickCount() - start > 180000) {
      timedOut = true;
      if (device) device->Release();
      ui::PostQuit(1);
      return;
    }
    HWND dialog = FindWindowW(nullptr, L"DFU升级");
    if (!dialog) {
      if (sawDialog && !closed) closed = true;
      if (closed) ui::PostQuit(0);
      return;
    }
    if (!sawDialog) {
      // The reader acknowledged the enter-DFU command and restarts: its port goes, and the DFU
      // device appears a few searches later, held half way through the download.
      sawDialog = true;
      ports->Get(3)->Unplug();
      listed->clear();
      window->PostDeviceChange(ui::kDeviceRemoveComplete);  // as the system tells the window
      testsupport::SimDfuOptions o;
      o.writePollMs = 20;
      o.holdAfterBytes = 32768;
      device = bus->AddAfterListings(o, 3);
    }
    HWND status = GetDlgItem(dialog, dfu::ids::kStatus);
    HWND bar = GetDlgItem(dialog, dfu::ids::kProgress);
    HWND bytes = GetDlgItem(dialog, dfu::ids::kTransfer);
    warning = TextOf(GetDlgItem(dialog, dfu::ids::kWarning));
    std::wstring now = TextOf(status);
    if (statuses.empty() || statuses.back() != now) statuses.push_back(now);
    positions.push_back(static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0)));
    std::wstring barText = TextOf(bar);
    // The device holds half way through the download; the dialog's next poll shows it.
    if (device->holding()) ++heldTicks;
    if (!shotDownload && device->holding() &&
        (barText == L"Target 00: Upgrading - Download Phase (50%)..." || heldTicks > 200)) {
      RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
      GdiFlush();
      shotDownload = SaveScreen(artifacts + "/flash-download.bmp");
      downloadBar = barText;
      downloadBytes = TextOf(bytes);
      device->Release();
    }
    if (device->left() && !back) {
      back = plugReaderBack();
      window->PostDeviceChange(ui::kDeviceArrival);
    }
    if (back && window->readerOnline() && now == kDone && barText == L"Leaving DFU mode 100%..." &&
        !shotEnd) {
      RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
      GdiFlush();
      shotEnd = SaveScreen(artifacts + "/flash-end.bmp");
      endBar = barText;
      endBytes = TextOf(bytes);
      endPos = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
      PostMessageW(dialog, WM_CLOSE, 0, 0);  // the user closes it
    }
  }
};

Road* g_road = nullptr;
void CALLBACK OnTick(HWND, UINT, UINT_PTR, DWORD) {
  if (g_road) g_road->Tick();
}

TEST(FlashUnderWine, ServerNoticeToFlashedReaderThroughTheWin32DialogAndProgressBar) {
  testsupport::LoopbackHttpServer http;
  ASSERT_TRUE(http.available()) << "run through ctest: the HTTP servers wrap this test";
  const char* artifacts = std::getenv("OVRA7_ARTIFACTS");
  ASSERT_NE(artifacts, nullptr);
  std::filesystem::create_directories(std::filesystem::u8path(artifacts));
  std::unique_ptr<ui::Backend> backend = ui::win32::CreateWin32Backend();
  ASSERT_NE(backend, nullptr);
  ui::ScopedBackend scoped(backend.get());
  testsupport::TempFolder folder;
  ovra7log::SetLogDirForTesting(folder.dir());
  testsupport::SimUsbBus bus;
  testsupport::SimHidReader usbReader;
  platform::SetReaderUsbHostForTesting(&usbReader);
  testsupport::CardServer server;

  testsupport::FakePorts ports;
  std::vector<std::string> listed;
  std::vector<std::unique_ptr<testsupport::SimulatedReader>> readers;
  auto plug = [&]() {
    testsupport::CableTimeouts quick;
    quick.intervalMs = 50;
    quick.perByteMs = 0;
    quick.constantMs = 100;
    testsupport::ReaderConfig config;
    config.platformHost = "127.0.0.1";
    config.platformPort = server.port();
    readers.push_back(
        std::make_unique<testsupport::SimulatedReader>(ports.Add(3, quick).ReaderEnd(), config));
    listed.push_back(platform::PortNameFromNumber(3));
    return readers.back().get();
  };
  testsupport::SimulatedReader* reader = plug();

  app::DialogEnvironment env;
  env.settingsFolder = folder.file("OvraNetService");
  env.opener = [&](int n, int baud) { return ports.Open(n, baud); };
  env.discoverPorts = [&] {
    std::vector<std::string> list{"自动"};
    list.insert(list.end(), listed.begin(), listed.end());
    return list;
  };
  auto window = std::make_unique<app::COvra7ServerDlg>(env);
  LogEnabled = 1;
  ASSERT_TRUE(window->Create());
  ASSERT_TRUE(window->readerOnline());
  window->service().downloader()->setTempDirForTesting(folder.dir());

  // The reader's side before the loop runs: the connection, the notice, the order and its polls
  // are served by the relay thread alone.
  const size_t received = server.Received().size();
  const uint8_t ping[] = {'p', 'i', 'n', 'g'};
  ASSERT_TRUE(reader->SendConnectRequest());
  ASSERT_TRUE(reader->WaitFrames(0x0A, 1, 10000));
  ASSERT_TRUE(reader->SendRelay(ping, sizeof ping));
  ASSERT_TRUE(server.WaitReceived(received + 4, 10000));
  const Bytes notice = {0x01, 0x3F, 0x02, ':', 'U', 'p', 'g', 'r', 'a', 'd', 'e', ':', 0x03};
  ASSERT_TRUE(server.Send(notice));
  ASSERT_TRUE(reader->WaitRelayed(notice.size(), 10000));
  const Bytes firmware = testsupport::Pattern(65536, 17);
  ASSERT_EQ(apptest::OrderAndPoll(*reader, http, apptest::PackageFile(firmware)), 0);

  Road road;
  road.ports = &ports;
  road.listed = &listed;
  road.bus = &bus;
  road.window = window.get();
  road.plugReaderBack = plug;
  road.artifacts = artifacts;
  g_road = &road;
  UINT_PTR timer = SetTimer(nullptr, 0, 50, &OnTick);
  ASSERT_NE(timer, 0u);
  ui::RunMessageLoop();
  KillTimer(nullptr, timer);
  g_road = nullptr;

  EXPECT_FALSE(road.timedOut);
  EXPECT_TRUE(road.sawDialog);
  EXPECT_TRUE(road.shotDownload);
  EXPECT_TRUE(road.shotEnd);
  ASSERT_NE(road.device, nullptr);
  std::vector<uint8_t> flash;
  ASSERT_TRUE(road.device->Read(0x08000000, static_cast<uint32_t>(firmware.size()), &flash));
  EXPECT_TRUE(flash == firmware) << "the reader's flash differs from the package";
  EXPECT_EQ(usbReader.hidOpens, 0);
  EXPECT_EQ(road.warning, L"在程序升级成功或失败前，请勿关闭本对话框！");
  // The comctl32 bar carries the phase line as its window text; the byte count sits beside it.
  EXPECT_EQ(road.downloadBar, L"Target 00: Upgrading - Download Phase (50%)...");
  EXPECT_EQ(road.downloadBytes, L"32 KB(32768 Bytes) of 64 KB(65536 Bytes)");
  EXPECT_EQ(road.endBar, L"Leaving DFU mode 100%...");
  EXPECT_EQ(road.endPos, 100);
  EXPECT_EQ(road.endBytes, L"64 KB(65536 Bytes) of 64 KB(65536 Bytes)");
  // What the ticks saw of the status line follows the dialog's order.
  const std::vector<std::wstring> order = {
      L"开始升级读卡器，请等待升级完成", L"升级文件校验成功，正在查找DFU设备",
      L"找到DFU设备，正在打开",           L"DFU设备打开成功，开始升级",
      L"正在升级，请保持读卡器连接",       L"升级成功",
      L"正在校验升级，请稍后",             L"校验成功",
      kDone};
  size_t at = 0;
  for (const std::wstring& s : road.statuses) {
    while (at < order.size() && order[at] != s) ++at;
    EXPECT_LT(at, order.size()) << platform::Narrow(s) << " out of order";
  }
  EXPECT_EQ(road.statuses.back(), kDone);
  for (int p : road.positions) {
    EXPECT_GE(p, 0);
    EXPECT_LE(p, 100);
  }
  // The relay runs again on the reader's port.
  ASSERT_NE(road.back, nullptr);
  EXPECT_TRUE(window->readerOnline());
  const size_t before = server.Received().size();
  ASSERT_TRUE(road.back->SendConnectRequest());
  ASSERT_TRUE(road.back->WaitFrames(0x0A, 1, 10000));
  ASSERT_TRUE(road.back->SendRelay(ping, sizeof ping));
  EXPECT_TRUE(server.WaitReceived(before + 4, 10000));
  EXPECT_EQ(bus.openDevices(), 0);

  window.reset();
  readers.clear();
  platform::SetReaderUsbHostForTesting(nullptr);
  LogEnabled = 0;
  ovra7log::SetLogDirForTesting("");
}

}  // namespace
