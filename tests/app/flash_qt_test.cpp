// The whole road of an upgrade through the real Qt windows on a private X display: the main
// window and the flashing dialog with its progress bar, the simulated reader on the serial
// cable, the loopback HTTP server, and the simulated DFU device behind platform/usb.h.
// Pictures of the dialog in the download phase and at the end go to the artifacts folder named
// by OVRA7_ARTIFACTS, beside the Windows ones.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QTimer>
#include <QWidget>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "dfu/dfu_dialog_template.h"
#include "flash_road.h"
#include "ui/backend.h"
#include "ui/qt/qt_backend.h"

namespace {

// The flashing dialog's window while it is on screen, else null.
QWidget* FlashingDialog() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->isVisible() && w->windowTitle() == QString::fromUtf8("DFU升级")) return w;
  }
  return nullptr;
}

// The template's controls carry their ids in their object names.
template <typename T>
T* Item(QWidget* dialog, int id) {
  return dialog->findChild<T*>(QString("item%1").arg(id));
}

std::string LabelText(QWidget* dialog, int id) {
  QLabel* label = Item<QLabel>(dialog, id);
  return label ? label->text().toStdString() : std::string("(no label)");
}

apptest::FlashWindowSystem QtWindowSystem(const std::string& artifacts) {
  apptest::FlashWindowSystem ws;
  ws.read = [](apptest::FlashDialogView* view) {
    QWidget* dialog = FlashingDialog();
    if (!dialog) return false;
    view->status = LabelText(dialog, dfu::ids::kStatus);
    view->bytes = LabelText(dialog, dfu::ids::kTransfer);
    view->warning = LabelText(dialog, dfu::ids::kWarning);
    if (QProgressBar* bar = Item<QProgressBar>(dialog, dfu::ids::kProgress)) {
      view->bar = bar->text().toStdString();  // the phase line drawn inside the bar
      view->position = bar->value();
    }
    return true;
  };
  ws.shoot = [artifacts](const std::string& moment) {
    QWidget* dialog = FlashingDialog();
    if (!dialog) return false;
    const std::string path = artifacts + "/linux-flash-" + moment + ".png";
    return dialog->grab().save(QString::fromStdString(path), "PNG");
  };
  ws.close = [] {
    if (QWidget* dialog = FlashingDialog()) dialog->close();  // as the close box does
  };
  return ws;
}

TEST(FlashOnQt, ServerNoticeToFlashedReaderThroughTheQtDialogAndProgressBar) {
  const char* artifacts = std::getenv("OVRA7_ARTIFACTS");
  ASSERT_NE(artifacts, nullptr);
  std::filesystem::create_directories(std::filesystem::u8path(artifacts));
  for (const char* moment : {"download", "end"}) {
    std::filesystem::remove(std::string(artifacts) + "/linux-flash-" + moment + ".png");
  }
  std::unique_ptr<ui::Backend> backend = ui::qt::CreateQtBackend();
  ASSERT_NE(backend, nullptr) << "no display: run under Xvfb (run-with-xvfb.sh)";
  ui::ScopedBackend scoped(backend.get());

  apptest::FlashRoad road(QtWindowSystem(artifacts));
  ASSERT_NO_FATAL_FAILURE(road.Start());
  // A timer of the loop thread: Qt fires it inside the modal dialog's loop too.
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&road] { road.Tick(); });
  tick.start(50);
  ui::RunMessageLoop();
  tick.stop();
  road.Check();
}

}  // namespace
