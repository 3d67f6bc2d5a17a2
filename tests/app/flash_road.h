// The whole road of an upgrade, run on the headless host and through the Win32 (under wine) and
// Qt (on Xvfb) windows: the main window with the simulated reader on the serial cable, the
// loopback HTTP server, the server's notice, the reader's order, then the flashing dialog on the
// simulated DFU device, held half way through the download for a picture, and the reader's port
// back at the end. The suite supplies what only its window system can do: read the dialog's
// controls, take a picture, close the dialog.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/ovra7_server_dlg.h"
#include "support/card_server.h"
#include "support/http_server.h"
#include "support/serial_cable.h"
#include "support/sim_dfu_device.h"
#include "support/sim_hid_reader.h"
#include "support/simulated_reader.h"
#include "support/temp_folder.h"

namespace apptest {

// The flashing dialog's controls as the window system shows them, in UTF-8.
struct FlashDialogView {
  std::string status;   // the status line
  std::string bar;      // the progress bar's window text: the phase line
  std::string bytes;    // the byte count beside the bar
  std::string warning;  // the fixed warning text
  int position = -1;    // the bar's position
};

struct FlashWindowSystem {
  // Fills *view while the dialog is on screen; false when it is not (yet, or any more).
  std::function<bool(FlashDialogView* view)> read;
  // Draws the dialog as it is now and keeps a picture of it, named after `moment` ("download",
  // "end"), in the suite's artifacts folder. False when the picture could not be kept (a
  // backend that draws nothing keeps none and says true).
  std::function<bool(const std::string& moment)> shoot;
  // The user closes the dialog with its close box.
  std::function<void()> close;
  // The device's wait per block: long enough for a real window system's ticks to see the bar.
  uint32_t writePollMs = 20;
};

class FlashRoad {
 public:
  explicit FlashRoad(FlashWindowSystem windowSystem);
  ~FlashRoad();

  // The main window on the suite's backend, the reader connected through the relay, the
  // server's ":Upgrade:" notice relayed and the package ordered with the flash flag and
  // downloaded. Reports through gtest: call under ASSERT_NO_FATAL_FAILURE.
  void Start();
  // One look at the dialog and the next step of the road. Called every few tens of
  // milliseconds from a timer that fires inside every loop of the thread, the modal dialog's
  // included. Ends the program's loop (ui::PostQuit) when the dialog has closed, or after 180 s.
  void Tick();
  bool ended() const { return ended_; }
  // After the loop: the reader's flash, what the dialog showed, and the relay serving the
  // reader's port again.
  void Check();

 private:
  testsupport::SimulatedReader* PlugReader();

  FlashWindowSystem windowSystem_;
  testsupport::LoopbackHttpServer http_;
  testsupport::TempFolder folder_;
  testsupport::SimUsbBus bus_;
  testsupport::SimHidReader usbReader_;
  testsupport::CardServer server_;
  testsupport::FakePorts ports_;
  std::vector<std::string> listed_;
  std::vector<std::unique_ptr<testsupport::SimulatedReader>> readers_;
  std::unique_ptr<app::COvra7ServerDlg> window_;
  std::vector<uint8_t> firmware_;

  std::shared_ptr<testsupport::SimDfuDevice> device_;
  testsupport::SimulatedReader* first_ = nullptr;
  testsupport::SimulatedReader* back_ = nullptr;  // the reader on its port again, after leave
  std::string tempPath_;  // where the package was downloaded
  bool ended_ = false, sawDialog_ = false, shotDownload_ = false, shotEnd_ = false, timedOut_ = false;
  std::vector<std::string> statuses_;  // each status the dialog showed at a tick, in order
  std::vector<int> positions_;         // each bar position seen at a tick
  FlashDialogView atDownload_, atEnd_;
  int heldTicks_ = 0;
  uint64_t startMs_ = 0;
};

}  // namespace apptest
