// The Qt backend: the application object, the loop and quitting, the queue that carries other
// threads' calls to the loop thread, message boxes and icons. Only Qt (Linux desktop) code.
#include "ui/qt/qt_backend.h"

#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTranslator>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "ui/qt/qt_internal.h"
#include "ui/qt/qt_platform_probe.h"

namespace ui::qt {

namespace {

constexpr QEvent::Type kDeliverMailEvent = static_cast<QEvent::Type>(QEvent::User + 0x701);
constexpr QEvent::Type kQuitEvent = static_cast<QEvent::Type>(QEvent::User + 0x702);

class QuitEvent : public QEvent {
 public:
  explicit QuitEvent(int code) : QEvent(kQuitEvent), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

// QApplication keeps references to these for its whole life.
int g_argc = 1;
char g_arg0[] = "ovra7server";
char* g_argv[] = {g_arg0, nullptr};


}  // namespace

bool MailBox::event(QEvent* event) {
  if (event->type() == kDeliverMailEvent) {
    backend_.DeliverOneMail();
    return true;
  }
  if (event->type() == kQuitEvent) {
    backend_.QuitNow(static_cast<QuitEvent*>(event)->code());
    return true;
  }
  return QObject::event(event);
}

QtBackend::QtBackend() : loop_thread_(std::this_thread::get_id()) {
  if (!QApplication::instance()) {
    owned_app_ = new QApplication(g_argc, g_argv);
    // Button texts of message boxes in the user's language, as the system's own boxes have.
    auto* translator = new QTranslator(owned_app_);
    if (translator->load(QLocale::system(), "qtbase", "_",
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
      QCoreApplication::installTranslator(translator);
    }
  }
  // A tray program lives on with no window shown.
  QApplication::setQuitOnLastWindowClosed(false);
  mailbox_ = new MailBox(*this);
}

QtBackend::~QtBackend() {
  std::deque<Mailed> dropped;  // destroyed outside the lock: breaks waiting senders' promises
  {
    std::lock_guard<std::mutex> lock(mail_mutex_);
    closed_ = true;
    live_peers_.clear();
    dropped.swap(mail_);
  }
  dropped.clear();
  delete mailbox_;
  // Windows and icons released with deleteLater go now, before the application they need.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  delete owned_app_;
}

std::unique_ptr<DialogPeer> QtBackend::CreateDialogPeer(Dialog& dialog) {
  return std::make_unique<QtDialogPeer>(*this, dialog);
}

std::unique_ptr<TrayIconPeer> QtBackend::CreateTrayIconPeer() {
  return std::make_unique<QtTrayPeer>(*this);
}

MessageBoxResult QtBackend::ShowMessageBox(Dialog* owner, const std::string& text,
                                           const std::string& caption,
                                           MessageBoxButtons buttons) {
  QWidget* parent = nullptr;
  if (owner && owner->IsCreated()) parent = static_cast<QtDialogPeer*>(owner->peer())->widget();
  bool question = buttons == MessageBoxButtons::kYesNo;
  // On the heap, watched: the owner may be destroyed while the box runs (the program ending on a
  // signal); QtDialogPeer::Destroy closes and releases its boxes first, and should one still go
  // with its parent, the pointer says so instead of a second delete.
  QPointer<QMessageBox> box =
      new QMessageBox(question ? QMessageBox::Question : QMessageBox::Information,
                      QString::fromStdString(caption), QString::fromStdString(text),
                      question ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, parent);
  box->setTextFormat(Qt::PlainText);  // the text may carry what a reader or a server sent
  // Like the system's boxes of a tray program: in front even when the owner is hidden.
  box->setWindowModality(Qt::ApplicationModal);
  int r = box->exec();
  delete box.data();
  // Anything but a Yes (a box ended by the program quitting, for one) counts as No.
  if (question) return r == QMessageBox::Yes ? MessageBoxResult::kYes : MessageBoxResult::kNo;
  return MessageBoxResult::kOk;
}

void QtBackend::QuitNow(int code) {
  // Ends every loop of the thread: a message box's, a menu's and a modal run's too. Qt forgets
  // the request when the main loop starts, so one made before it (a signal during a box at
  // start-up) is kept for RunMessageLoop, as a pending WM_QUIT is on Windows.
  if (!in_main_loop_) pending_quit_ = code;
  QCoreApplication::exit(code);
}

int QtBackend::RunMessageLoop() {
  {
    std::lock_guard<std::mutex> lock(mail_mutex_);
    closed_ = false;
  }
  int code = 0;
  if (pending_quit_) {
    code = *pending_quit_;
    pending_quit_.reset();
  } else {
    in_main_loop_ = true;
    code = QApplication::exec();
    in_main_loop_ = false;
  }
  std::deque<Mailed> dropped;  // destroyed outside the lock: breaks waiting senders' promises
  {
    std::lock_guard<std::mutex> lock(mail_mutex_);
    closed_ = true;
    dropped.swap(mail_);
    delivery_posted_ = false;
    // Quits asked for while this loop was ending have nothing left to end.
    QCoreApplication::removePostedEvents(mailbox_, kQuitEvent);
  }
  return code;
}

void QtBackend::Quit(int code) {
  // As for a call in the mail: none once the loop has ended (nothing is left to end, and a quit
  // kept in the queue would end the next loop at once) or the backend is going (its mailbox with
  // it). Before the first loop a quit is taken, for that loop (see QuitNow).
  std::lock_guard<std::mutex> lock(mail_mutex_);
  if (closed_) return;
  QCoreApplication::postEvent(mailbox_, new QuitEvent(code));
}

void QtBackend::AsBeforeTheFirstLoopForTesting() {
  std::lock_guard<std::mutex> lock(mail_mutex_);
  closed_ = false;
}

bool QtBackend::Mail(QtDialogPeer* peer, std::function<void()> fn) {
  std::unique_lock<std::mutex> lock(mail_mutex_);
  if (closed_ || (peer && live_peers_.count(peer) == 0)) {
    lock.unlock();
    fn = nullptr;  // dropped here, outside the lock
    return false;
  }
  mail_.push_back(Mailed{peer, std::move(fn)});
  if (!delivery_posted_) {
    delivery_posted_ = true;
    QCoreApplication::postEvent(mailbox_, new QEvent(kDeliverMailEvent));
  }
  return true;
}

void QtBackend::DeliverOneMail() {
  Mailed item;
  {
    std::lock_guard<std::mutex> lock(mail_mutex_);
    if (mail_.empty()) {
      delivery_posted_ = false;
      return;
    }
    item = std::move(mail_.front());
    mail_.pop_front();
    // One per event, and the next one announced before this one runs: a handler that opens a
    // message box or a modal run (a nested loop) still gets the calls behind it served.
    if (mail_.empty()) {
      delivery_posted_ = false;
    } else {
      QCoreApplication::postEvent(mailbox_, new QEvent(kDeliverMailEvent));
    }
  }
  item.fn();
}

void QtBackend::AttachPeer(QtDialogPeer* peer) {
  std::lock_guard<std::mutex> lock(mail_mutex_);
  live_peers_.insert(peer);
}

void QtBackend::DetachPeer(QtDialogPeer* peer) {
  std::deque<Mailed> dropped;
  {
    std::lock_guard<std::mutex> lock(mail_mutex_);
    live_peers_.erase(peer);
    for (auto it = mail_.begin(); it != mail_.end();) {
      if (it->peer == peer) {
        dropped.push_back(std::move(*it));
        it = mail_.erase(it);
      } else {
        ++it;
      }
    }
  }
}

QIcon QtBackend::Icon(int icon_id) const {
  // The program ships its icons as Qt resources named by resource id and size.
  QIcon icon;
  for (int size : {16, 32, 48}) {
    QString path = QString(":/ovra7/icons/%1-%2.png").arg(icon_id).arg(size);
    if (QFile::exists(path)) icon.addFile(path, QSize(size, size));
  }
  return icon;
}

bool QtBackend::TrayHostAvailable() const {
  if (tray_host_override_) return *tray_host_override_;
  return QSystemTrayIcon::isSystemTrayAvailable();
}

void QtBackend::RemoveTray(QtTrayPeer* tray) {
  trays_.erase(std::remove(trays_.begin(), trays_.end(), tray), trays_.end());
}

std::unique_ptr<Backend> CreateQtBackend() {
  if (QApplication::instance()) return std::make_unique<QtBackend>();
  // Qt ends the process when its platform cannot start; a program with a headless mode falls
  // back to it instead.
  PlatformChoice choice = ChooseQtPlatform();
  if (choice.platform.empty()) {
    std::fprintf(stderr, "ovra7server: no window (%s); running headless\n", choice.why_not.c_str());
    return nullptr;
  }
  return CreateQtBackendOn(choice.platform);
}

std::unique_ptr<Backend> CreateQtBackendOn(const std::string& platform) {
  if (!QApplication::instance()) qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString(platform));
  return std::make_unique<QtBackend>();
}

}  // namespace ui::qt
