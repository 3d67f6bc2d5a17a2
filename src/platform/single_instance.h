// One instance per logon session and the channel other processes use to reach it.
// Windows: the named mutex "Ovra7Server_Mutex"; the running window is found by its title and
// sent window messages. Linux: flock on a file in $XDG_RUNTIME_DIR and a local control socket
// there (mode 0600, peer credentials checked) carrying the same commands.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {

class InstanceLock {
 public:
  virtual ~InstanceLock() = default;  // releases the session-wide mark
};

// Marks this process as the session's instance. *alreadyRunning tells whether another instance
// holds the mark; a mark that cannot be created for another reason counts as a first instance.
// The returned lock is kept for the life of the process.
std::unique_ptr<InstanceLock> AcquireInstanceLock(bool* alreadyRunning);

// Asks the running instance to show its window (Windows: FindWindowW(windowTitle) and
// ShowWindow SW_SHOW). false when no window or socket was found.
bool ShowRunningInstance(const std::string& windowTitle);

// Sends one service-control command (0 start, 1 stop, 2 mode, 3 status) with its argument to the
// running instance and waits for its result (up to 60 s). false when no instance was found or
// it did not answer.
bool SendControlCommand(const std::string& windowTitle, int command, int argument, long* result);

// Whether an instance runs in this session, for telling "nobody there" from "it did not
// answer" after a send failed. Windows: a window with that title exists. Linux: the control
// socket accepts a connection (which is closed at once, without a request).
bool InstanceRunning(const std::string& windowTitle);

class ControlListener {
 public:
  virtual ~ControlListener() = default;  // stops listening and waits for the listener thread
};

// Whether the control channel carries "upgrade" (Linux: yes; Windows: no, the person at the
// window answers the start-up question there).
bool ControlChannelCarriesUpgrade();

enum class UpgradeExchange {
  kAnswered,    // *result and *statusLine hold the instance's answer
  kNoInstance,  // nobody listens (or the channel does not carry the command)
  kNoAnswer,    // the instance took the request but ended (or closed it) before answering
};

// Asks the running instance to flash a reader waiting in DFU mode from the package cache and
// waits until its flashing dialog has ended, however long that takes (the flash itself is
// bounded: a device that stops answering, goes away or never shows up ends it). *result is one
// of the kUpgrade... codes of control_protocol.h, *statusLine the dialog's last status line (""
// when none ran).
UpgradeExchange SendUpgradeCommand(long* result, std::string* statusLine);

// Answers one "upgrade" request: any thread, at most once. Dropped unanswered (the last copy
// destroyed), it closes the request's connection, which the client sees as kNoAnswer.
using UpgradeReply = std::function<void(long result, const std::string& statusLine)>;

// Linux: listens on the control socket; onCommand(command, argument), onShow() and
// onUpgrade(reply) run on the listener thread and must hand the work to the window's thread
// themselves. onCommand blocks until it has the result; onUpgrade returns at once and the reply
// comes whenever the flash has ended, so the channel keeps answering other requests meanwhile.
// Windows: window messages are the channel, so nothing is started. nullptr when the socket could
// not be set up.
std::unique_ptr<ControlListener> StartControlListener(
    std::function<long(int, int)> onCommand, std::function<void()> onShow,
    std::function<void(UpgradeReply)> onUpgrade = nullptr);

// Linux: SIGTERM and SIGINT are taken from the process and reported by calling onSignal on a
// thread of their own (call before any other thread starts). Windows: nothing to do.
void WatchTerminationSignals(std::function<void()> onSignal);

}  // namespace platform
