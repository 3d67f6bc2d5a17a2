// POSIX session-end block: a logind inhibitor of mode "block" for shutdown and sleep, held by
// the file descriptor logind hands out (closing it releases the block). Only generic Linux code
// belongs here. The system bus is the one sd-bus finds ($DBUS_SYSTEM_BUS_ADDRESS, else the
// machine's).
#include "platform/session_end.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr uint64_t kCallTimeoutUs = 2 * 1000 * 1000;

class LogindBlock : public SessionEndBlock {
 public:
  explicit LogindBlock(int fd) : fd_(fd) {}
  ~LogindBlock() override { close(fd_); }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<SessionEndBlock> BlockSessionEnd(const std::string& reason) {
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return nullptr;
  sd_bus_message* call = nullptr;
  sd_bus_message* reply = nullptr;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  int fd = -1;
  if (sd_bus_message_new_method_call(bus, &call, "org.freedesktop.login1",
                                     "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                     "Inhibit") >= 0 &&
      // What is held off, who holds it and why, and "block": logind refuses the shut-down and
      // the sleep meanwhile (a "delay" would only postpone them by a few seconds).
      sd_bus_message_append(call, "ssss", "shutdown:sleep", "Ovra7Server", reason.c_str(),
                            "block") >= 0 &&
      sd_bus_call(bus, call, kCallTimeoutUs, &error, &reply) >= 0) {
    int held = -1;
    // The message owns its descriptor: the block keeps a copy of its own.
    if (sd_bus_message_read(reply, "h", &held) >= 0 && held >= 0)
      fd = fcntl(held, F_DUPFD_CLOEXEC, 3);
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(call);
  sd_bus_flush_close_unref(bus);
  if (fd < 0) return nullptr;
  return std::make_unique<LogindBlock>(fd);
}

}  // namespace platform
