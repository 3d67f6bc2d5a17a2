// The Qt dialog peer's item operations by control id: texts, states, radio groups, the combo box,
// the up-down control and the progress bar, and the controls' signals. Only Qt code.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include "ui/qt/qt_internal.h"

namespace ui::qt {

namespace {

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }
std::string Utf8(const QString& text) { return text.toStdString(); }

}  // namespace

// --- controls -------------------------------------------------------------------------------

void QtDialogPeer::Connect(int id, Control& control) {
  QWidget* w = control.widget;
  switch (control.kind) {
    case ControlKind::kPushButton:
    case ControlKind::kCheckBox:
      // A check box has toggled itself by the time clicked() arrives, as BS_AUTOCHECKBOX has.
      control.connections.push_back(QObject::connect(static_cast<QAbstractButton*>(w),
                                                     &QAbstractButton::clicked, w,
                                                     [this, id] { dialog_.DeliverCommand(id); }));
      break;
    case ControlKind::kRadioButton:
      control.connections.push_back(QObject::connect(static_cast<QAbstractButton*>(w),
                                                     &QAbstractButton::clicked, w,
                                                     [this, id] { ClickRadio(id); }));
      break;
    case ControlKind::kComboBox: {
      auto* box = static_cast<QComboBox*>(w);
      // Typing into the edit field leaves no list entry selected, as on Windows.
      control.connections.push_back(QObject::connect(
          box->lineEdit(), &QLineEdit::textEdited, box, [box](const QString& text) {
            if (box->currentIndex() < 0 || box->itemText(box->currentIndex()) == text) return;
            int cursor = box->lineEdit()->cursorPosition();
            QSignalBlocker block(box);
            box->setCurrentIndex(-1);
            box->lineEdit()->setText(text);
            box->lineEdit()->setCursorPosition(cursor);
          }));
      break;
    }
    case ControlKind::kUpDown:
      static_cast<UpDownWidget*>(w)->on_step = [this, id](int delta) { Step(id, delta); };
      break;
    default:
      break;
  }
}

void QtDialogPeer::Disconnect(Control& control) {
  for (const QMetaObject::Connection& connection : control.connections)
    QObject::disconnect(connection);
  control.connections.clear();
  if (control.kind == ControlKind::kUpDown)
    static_cast<UpDownWidget*>(control.widget)->on_step = nullptr;
}

void QtDialogPeer::ClickRadio(int id) {
  Control* c = Find(id);
  if (!c) return;
  // An automatic radio button: the clicked one is checked, the rest of its group cleared.
  for (int other : dialog_.dialog_template().RadioGroup(id)) {
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

}  // namespace ui::qt
