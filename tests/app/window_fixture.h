// Shared set-up of the window suites: the main window on the headless host with a virtual
// clock, simulated readers on in-memory cables, a loopback card server, and the settings and
// the log in a folder of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/main_window_template.h"
#include "app/ovra7_server_dlg.h"
#include "log/log.h"
#include "platform/ini_text.h"
#include "platform/serial.h"
#include "simulated_environment.h"
#include "support/card_server.h"
#include "support/log_lines.h"
#include "support/serial_cable.h"
#include "support/sim_dfu_device.h"
#include "support/simulated_reader.h"
#include "support/temp_folder.h"
#include "ui/headless/headless_host.h"

namespace apptest {

using ui::headless::ClockMode;
using ui::headless::HeadlessHost;
namespace ids = app::ids;

class WindowTest : public testing::Test {
 protected:
  void SetUp() override {
    ovra7log::SetLogDirForTesting(folder_.dir());
    LogEnabled = 0;
  }

  void TearDown() override {
    window_.reset();
    readers_.clear();
    LogEnabled = 0;
    ovra7log::SetLogDirForTesting("");
  }

  // A reader attached as port n (and listed by discovery).
  testsupport::SimulatedReader& AddReader(int n) { return AddReader(n, ReachableConfig()); }
  testsupport::SimulatedReader& AddReader(int n, testsupport::ReaderConfig config) {
    testsupport::CableTimeouts quick;
    quick.intervalMs = 50;
    quick.perByteMs = 0;
    quick.constantMs = 100;
    testsupport::SerialCable& cable = ports_.Add(n, quick);
    readers_.push_back(std::make_unique<testsupport::SimulatedReader>(cable.ReaderEnd(), config));
    listed_.push_back(platform::PortNameFromNumber(n));
    return *readers_.back();
  }

  // The reader's platform address points at the loopback card server: TestServer succeeds.
  testsupport::ReaderConfig ReachableConfig() {
    testsupport::ReaderConfig c;
    c.platformHost = "127.0.0.1";
    c.platformPort = server_.port();
    return c;
  }
  // The reader's platform address has no listener: the computer cannot reach the server.
  static testsupport::ReaderConfig UnreachableConfig() {
    testsupport::ReaderConfig c;
    c.platformHost = "127.0.0.1";
    c.platformPort = 1;
    return c;
  }

  void WriteSettings(const std::string& text) {
    std::filesystem::create_directories(SettingsFolder());
    std::ofstream(std::filesystem::u8path(SettingsFile()), std::ios::binary) << text;
  }
  std::string SettingsFolder() const { return folder_.file("OvraNetService"); }
  std::string SettingsFile() const {
    return SettingsFolder() + platform::PathSeparator() + "setting.ini";
  }
  std::string SettingsText() const {
    std::ifstream in(std::filesystem::u8path(SettingsFile()), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool SettingPresent(const char* section, const char* key) const {
    std::string value;
    return platform::IniReadString(SettingsText(), section, key, &value);
  }
  int Setting(const char* section, const char* key) const {
    return platform::IniReadInt(SettingsText(), section, key, -12345);
  }

  // Builds and creates the window (OnInitDialog runs); the log is switched on afterwards.
  void MakeWindow(bool logOn = true) {
    window_ = std::make_unique<app::COvra7ServerDlg>(
        SimulatedEnvironment(SettingsFolder(), ports_, listed_));
    if (logOn) LogEnabled = 1;
    ASSERT_TRUE(window_->Create());
  }

  // The user opens the window from the tray and, where asked, expands it to the right half.
  void Show(bool expand = false) {
    ASSERT_TRUE(host_.SendTrayMouse(app::kIconApp, ui::kMouseLeftDown));
    if (expand) {
      ui::Rect client = window_->GetClientRect();
      ASSERT_TRUE(host_.DoubleClick(*window_, 2, client.bottom - 2));
      ASSERT_TRUE(window_->expanded());
    }
  }

  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& box : host_.message_boxes()) texts.push_back(box.text);
    return texts;
  }
  std::string LastBox() const {
    return host_.message_boxes().empty() ? std::string() : host_.message_boxes().back().text;
  }

  std::string Text(int id) const { return window_->GetItemText(id); }
  bool Enabled(int id) const { return window_->IsItemEnabled(id); }

  // Command codes the reader received, in order.
  static std::vector<uint8_t> Codes(const testsupport::SimulatedReader& reader) {
    std::vector<uint8_t> codes;
    for (const auto& f : reader.Frames()) codes.push_back(f.code);
    return codes;
  }
  static size_t Count(const testsupport::SimulatedReader& reader, uint8_t code) {
    return reader.CountFrames(code);
  }

  std::vector<std::string> LogLines() const { return testsupport::LogLines(); }
  int LogCount(const std::string& text) const { return testsupport::LogCount(text); }

  testsupport::TempFolder folder_;
  HeadlessHost host_{ClockMode::kVirtual};
  ui::ScopedBackend scoped_{&host_};
  testsupport::CardServer server_;
  testsupport::FakePorts ports_;
  // No DFU device: the start-up check never reaches the machine's own USB.
  testsupport::SimUsbBus usb_;
  std::vector<std::string> listed_;
  std::vector<std::unique_ptr<testsupport::SimulatedReader>> readers_;
  std::unique_ptr<app::COvra7ServerDlg> window_;
};

}  // namespace apptest
