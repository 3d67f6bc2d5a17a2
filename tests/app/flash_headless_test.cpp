// The whole road of an upgrade on the headless host, whose virtual clock the test moves: the
// host records every line the bar showed, so the phases are checked here as well.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dfu/dfu_dialog_template.h"
#include "flash_road.h"
#include "platform/clock.h"
#include "support/drive_host.h"
#include "ui/headless/headless_host.h"

namespace apptest {
namespace {

TEST(FlashHeadless, ServerNoticeToFlashedReaderAndTheRelayBackOnItsPort) {
  ui::headless::HeadlessHost host(ui::headless::ClockMode::kVirtual);
  ui::ScopedBackend scoped(&host);
  bool closed = false;
  FlashWindowSystem ws;
  ws.read = [&](FlashDialogView* view) {
    ui::Dialog* dialog = host.FindDialog("DFU升级");
    if (!dialog || closed) return false;
    view->status = dialog->GetItemText(dfu::ids::kStatus);
    view->bar = dialog->GetProgressText(dfu::ids::kProgress);
    view->bytes = dialog->GetItemText(dfu::ids::kTransfer);
    view->warning = dialog->GetItemText(dfu::ids::kWarning);
    view->position = dialog->GetProgressPos(dfu::ids::kProgress);
    return true;
  };
  ws.shoot = [](const std::string&) { return true; };
  ws.close = [&] { closed = host.PressClose(*host.FindDialog("DFU升级")); };
  ws.writePollMs = 1;  // the virtual clock needs no time to see the bar

  FlashRoad road(ws);
  ASSERT_NO_FATAL_FAILURE(road.Start());
  // One look per timer that falls due (posts from other threads are delivered on the way).
  auto step = [&] {
    road.Tick();
    testsupport::StepHost(host);
  };
  host.SetModalDriver([&](ui::Dialog&) {
    while (!closed && !road.ended()) step();
  });
  while (!road.ended()) step();
  road.Check();

  std::vector<std::string> phases;
  for (const auto& r : host.progress_records()) {
    for (const char* phase : {"Erase", "Download", "Uploading", "Leaving"}) {
      if (r.text.find(phase) != std::string::npos && (phases.empty() || phases.back() != phase))
        phases.push_back(phase);
    }
  }
  EXPECT_EQ(phases, (std::vector<std::string>{"Erase", "Download", "Uploading", "Leaving"}));
  EXPECT_TRUE(host.message_boxes().empty());
}

}  // namespace
}  // namespace apptest
