// The Qt dialog peer: the window's life (modeless, modal runs), timers, the window rectangle, the
// keys and clicks of the window, and the calls that arrive from other threads (the item operations
// are in qt_items.cpp). Only Qt code.
#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <future>
#include <memory>

#include "ui/qt/qt_internal.h"

namespace ui::qt {

namespace {

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

Qt::WindowFlags FlagsOf(uint32_t style) {
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
  if (!(style & kWindowCaption)) return flags | Qt::FramelessWindowHint;
  flags |= Qt::WindowTitleHint;
  if (style & kWindowSysMenu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (style & kWindowMinimizeBox) flags |= Qt::WindowMinimizeButtonHint;
  if (style & kWindowMaximizeBox) flags |= Qt::WindowMaximizeButtonHint;
  return flags;
}

}  // namespace

QtDialogPeer::~QtDialogPeer() { Destroy(); }

const QtDialogPeer::Control* QtDialogPeer::Find(int id) const {
  if (!created_ || id == kStaticId) return nullptr;
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

QtDialogPeer::Control* QtDialogPeer::Find(int id) {
  return const_cast<Control*>(static_cast<const QtDialogPeer*>(this)->Find(id));
}

QWidget* QtDialogPeer::ItemWidget(int id) const {
  const Control* c = Find(id);
  return c ? c->widget : nullptr;
}

// --- life -----------------------------------------------------------------------------------

QPoint QtDialogPeer::InitialPlace(const DialogTemplate& t) const {
  QScreen* screen = QGuiApplication::primaryScreen();
  QRect available = screen ? screen->availableGeometry() : QRect();
  WorkArea area;
  if (available.isValid())
    area = WorkArea{available.x(), available.y(), available.width(), available.height()};
  // The frame is known only once a window manager has framed the window: the client size counts.
  WindowPlace place = InitialWindowPlace(t, area, WindowPlace{units_.X(t.x), units_.Y(t.y)},
                                         widget_->width(), widget_->height());
  return QPoint(place.x, place.y);
}

bool QtDialogPeer::Create(bool modal) {
  if (created_) return false;
  const DialogTemplate& t = dialog_.dialog_template();
  modal_ = modal;
  ended_ = false;
  result_ = 0;
  no_tray_host_ = false;
  show_after_create_ = false;
  widget_ = new DialogWidget(this);
  widget_->setWindowFlags(FlagsOf(t.style));
  widget_->setWindowTitle(Text(t.caption));
  QFont font = DialogFont(t);
  widget_->setFont(font);
  units_ = UnitsOf(font);
  // The template gives the client area; the window keeps that size (a dialog frame).
  widget_->setFixedSize(units_.X(t.cx), units_.Y(t.cy));
  widget_->move(InitialPlace(t));
  created_ = true;  // the item operations work from here on (an up-down takes its buddy)
  creating_ = true;
  BuildControls(t);
  backend_.AttachPeer(this);
  dialog_.DeliverInitDialog();
  creating_ = false;
  if (!created_) return false;  // OnInitDialog destroyed it
  if (((t.style & kWindowVisible) && !modal) || show_after_create_) ShowModeless(true);
  return true;
}

int QtDialogPeer::RunModal() {
  if (!created_) return -1;
  // As with a modal dialog's owner, the program's other windows take no input meanwhile.
  widget_->setWindowModality(Qt::ApplicationModal);
  widget_->show();
  widget_->raise();
  widget_->activateWindow();
  QEventLoop loop;
  modal_loop_ = &loop;
  while (created_ && !ended_) {
    loop.exec(QEventLoop::DialogExec);
    // Only EndModal, Destroy and the program quitting end the loop; quitting closes the run.
    if (created_ && !ended_) {
      result_ = kIdCancel;
      break;
    }
  }
  modal_loop_ = nullptr;
  if (widget_) widget_->hide();
  return result_;
}

void QtDialogPeer::EndModal(int result) {
  if (!modal_ || ended_) return;
  ended_ = true;
  result_ = result;
  if (modal_loop_) modal_loop_->exit(0);
}

void QtDialogPeer::Destroy() {
  if (!created_) return;
  dialog_.DeliverDestroy();
  if (!created_) return;  // destroyed again from OnDestroy
  created_ = false;
  backend_.DetachPeer(this);
  if (modal_loop_) modal_loop_->exit(0);
  if (widget_) {
    for (const auto& timer : timers_) widget_->killTimer(timer.second);
    // Its open message boxes close first (saying No), as Windows ends owned windows before
    // their owner; freed from the window, they stay with ShowMessageBox, which runs them.
    for (QMessageBox* box : widget_->findChildren<QMessageBox*>(Qt::FindDirectChildrenOnly)) {
      box->done(QDialog::Rejected);
      box->setParent(nullptr);
    }
    widget_->Detach();
    // The window outlives this call until its deferred delete: a signal of its controls (a
    // click queued behind the one that led here) must reach neither this peer nor its dialog,
    // which may both be gone by then.
    for (auto& control : controls_) Disconnect(control.second);
    widget_->hide();
    // Later, not now: the window may be inside one of its own signals (a button's click that led
    // here), which must return before the widget goes.
    widget_->deleteLater();
  }
  timers_.clear();
  controls_.clear();
  widget_.clear();
}

// --- timers ---------------------------------------------------------------------------------

bool QtDialogPeer::SetTimer(int id, int period_ms) {
  if (!created_ || !widget_) return false;
  auto it = timers_.find(id);
  if (it != timers_.end()) widget_->killTimer(it->second);
  int qt_id = widget_->startTimer(period_ms);
  if (qt_id == 0) {
    timers_.erase(id);
    return false;
  }
  timers_[id] = qt_id;
  return true;
}

bool QtDialogPeer::KillTimer(int id) {
  auto it = timers_.find(id);
  if (!created_ || !widget_ || it == timers_.end()) return false;
  widget_->killTimer(it->second);
  timers_.erase(it);
  return true;
}

// Qt never fires a timer again while its own handler has not returned (one sitting in a message
// box, say): the ticks that fall due meanwhile are dropped, not queued, and firing resumes once
// the handler returns. On Windows a box's loop does deliver WM_TIMER to the handler again, so a
// handler that opens a box must not count on either.
void QtDialogPeer::QtTimer(int qt_timer_id) {
  for (const auto& timer : timers_) {
    if (timer.second == qt_timer_id) {
      dialog_.DeliverTimer(timer.first);
      return;
    }
  }
}

// --- the window -----------------------------------------------------------------------------

bool QtDialogPeer::HidesByMinimising() const {
  // Without a tray host the icon cannot bring the window back: it must stay on the task bar.
  return no_tray_host_ && !backend_.TrayHostAvailable();
}

void QtDialogPeer::ShowModeless(bool show) {
  if (!widget_) return;
  if (show) {
    if (widget_->isMinimized()) {
      widget_->showNormal();
    } else {
      widget_->show();
    }
  } else if (HidesByMinimising()) {
    widget_->showMinimized();
  } else {
    widget_->hide();
  }
}

bool QtDialogPeer::ShowWindow(bool show) {
  if (!created_ || !widget_) return false;
  ShowModeless(show);
  return true;
}

bool QtDialogPeer::IsVisible() const {
  return created_ && widget_ && widget_->isVisible() && !widget_->isMinimized();
}

bool QtDialogPeer::SetForeground() {
  if (!created_ || !widget_) return false;
  if (widget_->isVisible()) {
    widget_->raise();
    widget_->activateWindow();
  }
  return true;
}

bool QtDialogPeer::SetCaption(const std::string& utf8) {
  if (!created_ || !widget_) return false;
  widget_->setWindowTitle(Text(utf8));
  return true;
}

Rect QtDialogPeer::GetWindowRect() const {
  if (!created_ || !widget_) return Rect();
  QRect r = widget_->frameGeometry();
  return Rect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

bool QtDialogPeer::MoveWindow(const Rect& rect) {
  if (!created_ || !widget_) return false;
  // The rectangle is the whole window; what the frame takes (known once a window manager has
  // framed the window) comes off the client area.
  QRect frame = widget_->frameGeometry();
  QRect client = widget_->geometry();
  int extra_w = frame.width() - client.width();
  int extra_h = frame.height() - client.height();
  widget_->setFixedSize(std::max(0, rect.Width() - extra_w), std::max(0, rect.Height() - extra_h));
  widget_->move(rect.left, rect.top);
  return true;
}

Rect QtDialogPeer::GetClientRect() const {
  if (!created_ || !widget_) return Rect();
  return Rect{0, 0, widget_->width(), widget_->height()};
}

bool QtDialogPeer::SetIcon(int icon_id) {
  if (!created_ || !widget_) return false;
  QIcon icon = backend_.Icon(icon_id);
  if (icon.isNull()) return false;
  widget_->setWindowIcon(icon);
  return true;
}

bool QtDialogPeer::RegisterPortNotifications() {
  // Device events come from the platform's monitor (udev), posted with PostDeviceChange.
  return created_;
}

void QtDialogPeer::NoTrayHost() {
  no_tray_host_ = true;
  // Hiding minimises the window from now on: its frame gets the minimise box, so that the user
  // has the same way down (and the window manager allows the state) whatever the template says.
  if (widget_ && !(widget_->windowFlags() & Qt::WindowMinimizeButtonHint)) {
    bool shown = widget_->isVisible();
    widget_->setWindowFlag(Qt::WindowMinimizeButtonHint, true);
    if (shown) widget_->show();  // new flags hide a shown window
  }
  if (creating_) {
    show_after_create_ = true;  // after OnInitDialog has given the window its final size
  } else {
    ShowModeless(true);
  }
}

// --- from the window ------------------------------------------------------------------------

void QtDialogPeer::Cancel() { dialog_.DeliverCommand(kIdCancel); }

void QtDialogPeer::Enter(QWidget* focus) {
  int focused = 0;
  if (auto* button = qobject_cast<QPushButton*>(focus)) {
    QVariant id = button->property("ovra7_id");
    if (id.isValid()) focused = id.toInt();
  }
  int command = EnterCommand(dialog_.dialog_template(), focused, [this](int id) {
    QWidget* w = ItemWidget(id);
    return w && w->isEnabled() && w->isVisible();
  });
  if (command != 0) dialog_.DeliverCommand(command);
}

void QtDialogPeer::DoubleClick(const QPoint& at) { dialog_.DeliverLeftDoubleClick(at.x(), at.y()); }

// --- from other threads ---------------------------------------------------------------------

bool QtDialogPeer::PostPrivateMessage(int msg, intptr_t wparam, intptr_t lparam) {
  Dialog* d = &dialog_;
  return backend_.Mail(this, [d, msg, wparam, lparam] { d->DeliverAppMessage(msg, wparam, lparam); });
}

intptr_t QtDialogPeer::SendPrivateMessage(int msg, intptr_t wparam, intptr_t lparam) {
  if (backend_.IsLoopThread()) return created_ ? dialog_.DeliverAppMessage(msg, wparam, lparam) : -1;
  // The promise lives in the queued call: when the window goes (or the loop ends) first, the call
  // is dropped unrun, the promise breaks and the sender gets -1 instead of waiting for ever.
  auto promise = std::make_shared<std::promise<intptr_t>>();
  std::future<intptr_t> answer = promise->get_future();
  Dialog* d = &dialog_;
  bool queued = backend_.Mail(this, [d, msg, wparam, lparam, promise] {
    promise->set_value(d->DeliverAppMessage(msg, wparam, lparam));
  });
  promise.reset();
  if (!queued) return -1;
  try {
    return answer.get();
  } catch (const std::future_error&) {
    return -1;
  }
}

bool QtDialogPeer::PostDeviceChange(int event) {
  Dialog* d = &dialog_;
  return backend_.Mail(this, [d, event] { d->DeliverDeviceChange(event); });
}

bool QtDialogPeer::PostPowerBroadcast(int event) {
  Dialog* d = &dialog_;
  return backend_.Mail(this, [d, event] { d->DeliverPowerBroadcast(event); });
}

}  // namespace ui::qt
