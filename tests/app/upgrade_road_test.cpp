// The whole road of an upgrade on the headless host: the server's notice relayed, the reader's
// order with the flash flag, the download and its check, the cache copy, the enter-DFU command,
// the reader restarting into DFU mode, the flashing dialog from package check to leave, and the
// relay back on the reader's serial port.
#include "support/flash_statuses.h"
#include "upgrade_flow_fixture.h"

namespace apptest {
namespace {

const char* const kDone = testsupport::kFlashDone;

class UpgradeRoadTest : public UpgradeFlowTest {
 protected:
  // The reader asks for the server connection and sends a few bytes through it.
  bool ConnectAndPing(testsupport::SimulatedReader& reader) {
    const size_t results = reader.CountFrames(0x0A);
    const size_t received = server_.Received().size();
    const uint8_t ping[] = {'p', 'i', 'n', 'g'};
    return reader.SendConnectRequest() && reader.WaitFrames(0x0A, results + 1, 10000) &&
           reader.SendRelay(ping, sizeof ping) && server_.WaitReceived(received + 4, 10000);
  }
};

TEST_F(UpgradeRoadTest, ServerNoticeToFlashedReaderAndTheRelayBackOnItsPort) {
  ASSERT_TRUE(http_.available()) << "run through ctest: the HTTP servers wrap this test";
  auto& reader = AddReader(3);
  MakeWindow();
  ASSERT_TRUE(window_->readerOnline());
  window_->service().downloader()->setTempDirForTesting(folder_.dir());

  // The reader connects through us; the server's upgrade notice reaches it unchanged. (The
  // server has the relay's connection once the reader's first bytes arrived through it.)
  ASSERT_TRUE(ConnectAndPing(reader));
  const Bytes notice = {0x01, 0x3F, 0x02, ':', 'U', 'p', 'g', 'r', 'a', 'd', 'e', ':', 0x03};
  ASSERT_TRUE(server_.Send(notice));
  ASSERT_TRUE(reader.WaitRelayed(notice.size(), 10000));
  EXPECT_EQ(reader.Relayed(), notice);

  // The reader orders the package with the flag " 1" and polls it to the end.
  const Bytes firmware = testsupport::Pattern(70000, 21);
  const Bytes file = PackageFile(firmware);
  ASSERT_EQ(OrderAndPoll(reader, file), 0);
  char temp[kPackagePathBufferSize];
  ASSERT_TRUE(window_->service().downloader()->makeTempPath(temp, sizeof temp));
  const std::string tempPath = temp;

  // The reader restarts into DFU mode once it has acknowledged the enter-DFU command: its port
  // goes, and the DFU device shows up a few searches later. When the device has left DFU mode,
  // the reader's port comes back.
  std::shared_ptr<testsupport::SimDfuDevice> device;
  testsupport::SimulatedReader* back = nullptr;
  host_.SetModalDriver([&](ui::Dialog& dialog) {
    EXPECT_EQ(dialog.dialog_template().resource_id, 136);
    ports_.Get(3)->Unplug();
    listed_.clear();
    window_->PostDeviceChange(ui::kDeviceRemoveComplete);  // as the system tells the window
    device = bus_.AddAfterListings(testsupport::SimDfuOptions(), 3);
    ASSERT_TRUE(Drive([&] { return device->left(); }));
    back = &AddReader(3);
    window_->PostDeviceChange(ui::kDeviceArrival);
    // The port scan finds the port and starts the relay again while the dialog is still open.
    ASSERT_TRUE(Drive([&] { return window_->readerOnline(); }));
    EXPECT_EQ(window_->GetItemText(ids::kPortLabel), "当前使用的端口：" + platform::PortNameFromNumber(3));
    ASSERT_TRUE(Drive([&] {
      return dialog.GetProgressText(1043) == "Leaving DFU mode 100%...";
    }));
    EXPECT_TRUE(host_.PressClose(dialog));
  });
  ASSERT_TRUE(Drive([&] { return back != nullptr && FlashingDialog() == nullptr; }));
  ASSERT_NE(device, nullptr);

  std::vector<uint8_t> flash;
  ASSERT_TRUE(device->Read(0x08000000, static_cast<uint32_t>(firmware.size()), &flash));
  EXPECT_TRUE(flash == firmware) << "the reader's flash differs from the package";
  EXPECT_EQ(Count(reader, 0x0F), 1u);           // NotifyEnterDfuMode over the serial link
  EXPECT_EQ(usbReader_.hidOpens, 0);            // and never the USB command as well
  EXPECT_TRUE(window_->IsVisible());            // shown for the dialog
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(CachedPath(file))));

  EXPECT_EQ(DialogStatusLines(), testsupport::SuccessfulFlashStatuses());
  const std::vector<std::string> expected = {
      "Call enter dfu callback",
      "OnUpgradeFileDownloadFinished " + tempPath,
      "StartUpgrade path: " + tempPath,
      "File correctly loaded.",
      "Check DFU file success, m_HasDFUDevice = 1",
      "Find DFU Device success",
      "Select DFU Device success",
      "Launch Upgrade success",
      "Upgrade successful !",
      "Verify successful !"};
  std::vector<std::string> lines = LogLines();
  size_t at = 0;
  for (const std::string& line : lines)
    if (at < expected.size() && line == expected[at]) ++at;
  EXPECT_EQ(at, expected.size()) << "missing from the log in order: "
                                 << (at < expected.size() ? expected[at] : "");

  // The bar went through the four phases and ended full.
  std::vector<std::string> phases;
  for (const auto& r : host_.progress_records()) {
    std::string phase = r.text.find("Erase") != std::string::npos      ? "erase"
                        : r.text.find("Download") != std::string::npos ? "download"
                        : r.text.find("Uploading") != std::string::npos ? "upload"
                        : r.text.find("Leaving") != std::string::npos   ? "leave"
                                                                        : "";
    if (!phase.empty() && (phases.empty() || phases.back() != phase)) phases.push_back(phase);
  }
  EXPECT_EQ(phases, (std::vector<std::string>{"erase", "download", "upload", "leave"}));
  ASSERT_FALSE(host_.progress_records().empty());
  EXPECT_EQ(host_.progress_records().back().pos, 100);

  // The relay relays again on the reader's new port.
  ASSERT_TRUE(window_->readerOnline());
  ASSERT_TRUE(ConnectAndPing(*back));
  const Bytes hello = {'h', 'e', 'l', 'l', 'o'};
  ASSERT_TRUE(server_.Send(hello));
  ASSERT_TRUE(back->WaitRelayed(hello.size(), 10000));
  EXPECT_EQ(back->Relayed(), hello);
  EXPECT_TRUE(host_.message_boxes().empty());
  EXPECT_EQ(bus_.openDevices(), 0);
}

}  // namespace
}  // namespace apptest
