// The dialog's window (close box, Escape, Enter, double clicks, timers) and the up-down control's
// arrows. Only Qt code.
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimerEvent>
#include <QToolButton>

#include "ui/qt/qt_internal.h"

namespace ui::qt {

UpDownWidget::UpDownWidget(QWidget* parent) : QWidget(parent) {
  up_ = new QToolButton(this);
  down_ = new QToolButton(this);
  up_->setArrowType(Qt::UpArrow);
  down_->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {up_, down_}) {
    b->setAutoRepeat(true);  // held down, the arrow keeps stepping as on Windows
    b->setFocusPolicy(Qt::NoFocus);
  }
  QObject::connect(up_, &QToolButton::clicked, this, [this] {
    if (on_step) on_step(-1);
  });
  QObject::connect(down_, &QToolButton::clicked, this, [this] {
    if (on_step) on_step(1);
  });
}

bool UpDownWidget::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && isEnabled()) {
    int key = static_cast<QKeyEvent*>(event)->key();
    if ((key == Qt::Key_Up || key == Qt::Key_Down) && on_step) {
      on_step(key == Qt::Key_Up ? -1 : 1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void UpDownWidget::resizeEvent(QResizeEvent*) {
  int half = height() / 2;
  up_->setGeometry(0, 0, width(), half);
  down_->setGeometry(0, half, width(), height() - half);
}

void ProgressBarWidget::SetPhase(const QString& phase) {
  phase_ = phase;
  setTextVisible(!phase.isEmpty());
  update();
}

DialogWidget::DialogWidget(QtDialogPeer* peer) : QDialog(nullptr), peer_(peer) {}

void DialogWidget::closeEvent(QCloseEvent* event) {
  // The window decides itself whether the close box hides or ends it (OnCancel).
  event->ignore();
  if (peer_) peer_->Cancel();
}

void DialogWidget::keyPressEvent(QKeyEvent* event) {
  if (!peer_ || event->modifiers() & ~Qt::KeypadModifier) {
    QDialog::keyPressEvent(event);
    return;
  }
  switch (event->key()) {
    case Qt::Key_Escape:
      peer_->Cancel();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      peer_->Enter(focusWidget());
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void DialogWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  if (peer_ && event->button() == Qt::LeftButton) peer_->DoubleClick(event->position().toPoint());
  QDialog::mouseDoubleClickEvent(event);
}

void DialogWidget::timerEvent(QTimerEvent* event) {
  if (peer_) peer_->QtTimer(event->timerId());
}

// QDialog's own ways of ending (shortcuts of its buttons) take the framework's route.
void DialogWidget::reject() {
  if (peer_) peer_->Cancel();
}

void DialogWidget::accept() {
  if (peer_) peer_->Enter(nullptr);
}

}  // namespace ui::qt
