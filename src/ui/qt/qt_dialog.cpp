// The Qt dialog peer: the window's life (modeless, modal runs), the item operations by id, timers,
// the window rectangle and the calls that arrive from other threads. Only Qt code.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QToolButton>

#include <future>
#include <memory>

#include "ui/qt/qt_internal.h"

namespace ui::qt {

namespace {

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }
std::string Utf8(const QString& text) { return text.toStdString(); }

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
  if (t.style & kWindowCenter) {
    QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    widget_->move(screen.center() - widget_->rect().center());
  } else {
    widget_->move(units_.X(t.x), units_.Y(t.y));
  }
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
    widget_->Detach();
    widget_->hide();
    // Later, not now: the window may be inside one of its own signals (a button's click that led
    // here), which must return before the widget goes.
    widget_->deleteLater();
  }
  timers_.clear();
  controls_.clear();
  widget_.clear();
}

// --- controls -------------------------------------------------------------------------------

void QtDialogPeer::Connect(int id, Control& control) {
  QWidget* w = control.widget;
  switch (control.kind) {
    case ControlKind::kPushButton:
    case ControlKind::kCheckBox:
      // A check box has toggled itself by the time clicked() arrives, as BS_AUTOCHECKBOX has.
      QObject::connect(static_cast<QAbstractButton*>(w), &QAbstractButton::clicked, w,
                       [this, id] { dialog_.DeliverCommand(id); });
      break;
    case ControlKind::kRadioButton:
      QObject::connect(static_cast<QAbstractButton*>(w), &QAbstractButton::clicked, w,
                       [this, id] { ClickRadio(id); });
      break;
    case ControlKind::kComboBox: {
      auto* box = static_cast<QComboBox*>(w);
      // Typing into the edit field leaves no list entry selected, as on Windows.
      QObject::connect(box->lineEdit(), &QLineEdit::textEdited, box, [box](const QString& text) {
        if (box->currentIndex() < 0 || box->itemText(box->currentIndex()) == text) return;
        int cursor = box->lineEdit()->cursorPosition();
        QSignalBlocker block(box);
        box->setCurrentIndex(-1);
        box->lineEdit()->setText(text);
        box->lineEdit()->setCursorPosition(cursor);
      });
      break;
    }
    case ControlKind::kUpDown:
      static_cast<UpDownWidget*>(w)->on_step = [this, id](int delta) { Step(id, delta); };
      break;
    default:
      break;
  }
}

void QtDialogPeer::ClickRadio(int id) {
  Control* c = Find(id);
  if (!c) return;
  // An automatic radio button: the clicked one is checked, the rest of its group cleared.
  for (int other : c->radio_group) {
    if (Control* o = Find(other)) static_cast<QAbstractButton*>(o->widget)->setChecked(other == id);
  }
  dialog_.DeliverCommand(id);
}

void QtDialogPeer::Step(int updown_id, int delta) {
  if (!Find(updown_id)) return;
  // The handler's answer decides whether the control completes the step; this control keeps no
  // position of its own and no buddy number (no UDS_SETBUDDYINT), so nothing else changes.
  dialog_.DeliverUpDownStep(updown_id, delta);
}

bool QtDialogPeer::SetItemText(int id, const std::string& utf8) {
  Control* c = Find(id);
  if (!c) return false;
  QWidget* w = c->widget;
  switch (c->kind) {
    case ControlKind::kPushButton:
    case ControlKind::kCheckBox:
    case ControlKind::kRadioButton:
      static_cast<QAbstractButton*>(w)->setText(Text(utf8));
      return true;
    case ControlKind::kGroupBox:
      return false;
    case ControlKind::kStatic:
      static_cast<QLabel*>(w)->setText(Text(utf8));
      return true;
    case ControlKind::kEdit:
      if (auto* e = qobject_cast<QPlainTextEdit*>(w)) {
        e->setPlainText(Text(utf8));
      } else {
        static_cast<QLineEdit*>(w)->setText(Text(utf8));
      }
      return true;
    case ControlKind::kComboBox:
      static_cast<QComboBox*>(w)->setEditText(Text(utf8));
      return true;
    case ControlKind::kUpDown:
      return false;
    case ControlKind::kProgressBar:
      return SetProgressText(id, utf8);
  }
  return false;
}

bool QtDialogPeer::GetItemText(int id, std::string* utf8) const {
  const Control* c = Find(id);
  if (!c) return false;
  QWidget* w = c->widget;
  switch (c->kind) {
    case ControlKind::kPushButton:
    case ControlKind::kCheckBox:
    case ControlKind::kRadioButton:
      *utf8 = Utf8(static_cast<QAbstractButton*>(w)->text());
      return true;
    case ControlKind::kStatic:
      *utf8 = Utf8(static_cast<QLabel*>(w)->text());
      return true;
    case ControlKind::kEdit:
      if (auto* e = qobject_cast<QPlainTextEdit*>(w)) {
        *utf8 = Utf8(e->toPlainText());
      } else {
        *utf8 = Utf8(static_cast<QLineEdit*>(w)->text());
      }
      return true;
    case ControlKind::kComboBox:
      *utf8 = Utf8(static_cast<QComboBox*>(w)->currentText());
      return true;
    case ControlKind::kProgressBar:
      *utf8 = c->progress_text;
      return true;
    case ControlKind::kGroupBox:
    case ControlKind::kUpDown:
      return false;
  }
  return false;
}

bool QtDialogPeer::EnableItem(int id, bool enable) {
  Control* c = Find(id);
  if (!c) return false;
  c->widget->setEnabled(enable);
  return true;
}

bool QtDialogPeer::IsItemEnabled(int id) const {
  const Control* c = Find(id);
  return c && c->widget->isEnabled();
}

bool QtDialogPeer::ShowItem(int id, bool show) {
  Control* c = Find(id);
  if (!c) return false;
  c->widget->setVisible(show);
  return true;
}

bool QtDialogPeer::CheckItem(int id, bool checked) {
  Control* c = Find(id);
  if (!c || (c->kind != ControlKind::kCheckBox && c->kind != ControlKind::kRadioButton)) {
    return false;
  }
  static_cast<QAbstractButton*>(c->widget)->setChecked(checked);
  return true;
}

bool QtDialogPeer::IsItemChecked(int id) const {
  const Control* c = Find(id);
  if (!c || (c->kind != ControlKind::kCheckBox && c->kind != ControlKind::kRadioButton)) {
    return false;
  }
  return static_cast<QAbstractButton*>(c->widget)->isChecked();
}

bool QtDialogPeer::SetFocusItem(int id) {
  Control* c = Find(id);
  if (!c) return false;
  c->widget->setFocus(Qt::OtherFocusReason);
  // The dialog manager selects an edit's text when it moves the focus there.
  if (auto* e = qobject_cast<QLineEdit*>(c->widget)) e->selectAll();
  return true;
}

int QtDialogPeer::GetFocusItem() const {
  if (!widget_) return 0;
  // The edit field inside a combo box has the focus for it: climb to our direct child.
  for (QWidget* w = widget_->focusWidget(); w && w != widget_; w = w->parentWidget()) {
    QVariant id = w->property("ovra7_id");
    if (id.isValid() && w->parentWidget() == widget_) return id.toInt();
  }
  return 0;
}

// --- combo box ------------------------------------------------------------------------------

bool QtDialogPeer::ComboResetContent(int id) {
  Control* c = Find(id);
  if (!c || c->kind != ControlKind::kComboBox) return false;
  auto* box = static_cast<QComboBox*>(c->widget);
  box->clear();
  box->setEditText(QString());
  return true;
}

int QtDialogPeer::ComboAddString(int id, const std::string& utf8) {
  Control* c = Find(id);
  if (!c || c->kind != ControlKind::kComboBox) return -1;
  auto* box = static_cast<QComboBox*>(c->widget);
  // Adding to an editable box with no current entry must not pick the first one, nor touch the
  // edit field's text.
  QString text = box->currentText();
  int current = box->currentIndex();
  {
    QSignalBlocker block(box);
    box->addItem(Text(utf8));
    if (current < 0) {
      box->setCurrentIndex(-1);
      box->setEditText(text);
    }
  }
  return box->count() - 1;
}

int QtDialogPeer::ComboGetCount(int id) const {
  const Control* c = Find(id);
  return c && c->kind == ControlKind::kComboBox ? static_cast<QComboBox*>(c->widget)->count() : 0;
}

bool QtDialogPeer::ComboGetString(int id, int index, std::string* utf8) const {
  const Control* c = Find(id);
  if (!c || c->kind != ControlKind::kComboBox) return false;
  auto* box = static_cast<QComboBox*>(c->widget);
  if (index < 0 || index >= box->count()) return false;
  *utf8 = Utf8(box->itemText(index));
  return true;
}

bool QtDialogPeer::ComboSetCurSel(int id, int index) {
  Control* c = Find(id);
  if (!c || c->kind != ControlKind::kComboBox) return false;
  auto* box = static_cast<QComboBox*>(c->widget);
  if (index < 0 || index >= box->count()) {
    // As on Windows: an index outside the list clears the selection and the edit field.
    box->setCurrentIndex(-1);
    box->setEditText(QString());
    return index == -1;
  }
  box->setCurrentIndex(index);
  box->setEditText(box->itemText(index));
  return true;
}

int QtDialogPeer::ComboGetCurSel(int id) const {
  const Control* c = Find(id);
  return c && c->kind == ControlKind::kComboBox ? static_cast<QComboBox*>(c->widget)->currentIndex()
                                                : -1;
}

// --- up-down and progress bar ---------------------------------------------------------------

bool QtDialogPeer::SetUpDownBuddy(int updown_id, int buddy_id) {
  Control* c = Find(updown_id);
  Control* buddy = Find(buddy_id);
  if (!c || c->kind != ControlKind::kUpDown || !buddy || buddy_id == updown_id) return false;
  if (c->style & kStyleAlignRight) {
    // UDS_ALIGNRIGHT: the arrows move to the buddy's right edge, which gives up their width.
    QRect b = buddy->widget->geometry();
    int width = c->widget->width();
    if (width < b.width()) {
      b.setWidth(b.width() - width);
      buddy->widget->setGeometry(b);
    }
    c->widget->setGeometry(b.right() + 1, b.top(), width, b.height());
  }
  if (c->style & kStyleArrowKeys) {
    // The arrow keys in the buddy step it, as the arrows do.
    if (Control* old = Find(c->buddy)) old->widget->removeEventFilter(c->widget);
    buddy->widget->installEventFilter(c->widget);
  }
  c->buddy = buddy_id;
  return true;
}

int QtDialogPeer::GetUpDownBuddy(int updown_id) const {
  const Control* c = Find(updown_id);
  return c && c->kind == ControlKind::kUpDown ? c->buddy : 0;
}

bool QtDialogPeer::SetProgressRange(int id, int low, int high) {
  Control* c = Find(id);
  if (!c || c->kind != ControlKind::kProgressBar) return false;
  static_cast<QProgressBar*>(c->widget)->setRange(low, high);
  return true;
}

bool QtDialogPeer::SetProgressPos(int id, int pos) {
  Control* c = Find(id);
  if (!c || c->kind != ControlKind::kProgressBar) return false;
  auto* bar = static_cast<QProgressBar*>(c->widget);
  // A bar clamps its position to its range (QProgressBar would ignore it instead).
  bar->setValue(std::max(bar->minimum(), std::min(bar->maximum(), pos)));
  return true;
}

int QtDialogPeer::GetProgressPos(int id) const {
  const Control* c = Find(id);
  return c && c->kind == ControlKind::kProgressBar ? static_cast<QProgressBar*>(c->widget)->value()
                                                   : 0;
}

bool QtDialogPeer::SetProgressText(int id, const std::string& utf8) {
  Control* c = Find(id);
  if (!c || c->kind != ControlKind::kProgressBar) return false;
  c->progress_text = utf8;
  static_cast<ProgressBarWidget*>(c->widget)->SetPhase(Text(utf8));
  return true;
}

bool QtDialogPeer::GetProgressText(int id, std::string* utf8) const {
  const Control* c = Find(id);
  if (!c || c->kind != ControlKind::kProgressBar) return false;
  *utf8 = c->progress_text;
  return true;
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
  if (creating_) {
    show_after_create_ = true;  // after OnInitDialog has given the window its final size
  } else {
    ShowModeless(true);
  }
}

// --- from the window ------------------------------------------------------------------------

void QtDialogPeer::Cancel() { dialog_.DeliverCommand(kIdCancel); }

void QtDialogPeer::Enter(QWidget* focus) {
  // The dialog manager's rule: a focused push button, else the default button, else IDOK.
  if (auto* button = qobject_cast<QPushButton*>(focus)) {
    QVariant id = button->property("ovra7_id");
    if (id.isValid()) {
      dialog_.DeliverCommand(id.toInt());
      return;
    }
  }
  for (const auto& entry : controls_) {
    const Control& c = entry.second;
    if (c.kind == ControlKind::kPushButton && (c.style & kStyleDefault)) {
      if (c.widget->isEnabled() && c.widget->isVisible()) dialog_.DeliverCommand(entry.first);
      return;
    }
  }
  dialog_.DeliverCommand(kIdOk);
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
