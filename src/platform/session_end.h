// Holding off the end of the session (log-out, shut-down) and the machine's sleep while the
// program does something that must not be cut short: flashing the reader's firmware.
// Windows: ShutdownBlockReasonCreate with the reason on the calling thread's top-level windows
// (Windows shows it to a user who logs out or shuts down; the window itself answers
// WM_QUERYENDSESSION with FALSE meanwhile, see ui::Dialog::OnQueryEndSession) and the system kept
// awake (SetThreadExecutionState). Linux: a logind inhibitor of mode "block" for shutdown and
// sleep, taken over the system bus and held for the object's life.
#pragma once

#include <memory>
#include <string>

namespace platform {

class SessionEndBlock {
 public:
  virtual ~SessionEndBlock() = default;  // lets the session end and the machine sleep again
};

// Loop thread (Windows: the thread that owns the program's windows). Blocks for at most about
// 2 s (Linux: the call to logind). nullptr when the system would not take the block (no system
// bus, no logind, refused): the caller goes on without it.
std::unique_ptr<SessionEndBlock> BlockSessionEnd(const std::string& reason);

}  // namespace platform
