// The relays the benchmark compares, each run between the same pty and the same server.
#pragma once

#include "harness.h"

namespace relaybench {

struct Setup {
  platform::SerialPort* reader;     // the pty side that plays the reader
  std::string readerPeerPath;       // the pty side a relay opens as the reader's port
  platform::SocketHandle listener;  // the loopback server's listening socket
  uint16_t serverPort;
  int rounds;
  int payloadBytes;
  double streamSeconds;
  double idleSeconds;
};

// Ovra7Service on the pty, connected to the server by the reader's connect request.
Figures RunOurs(const Setup& setup);
// socat carrying the pty's bytes to the server unchanged: the floor a relay can reach.
Figures RunSocat(const Setup& setup);

// The common measurement once a relay is in place and the server connection accepted.
void MeasureAll(const Setup& setup, platform::SocketHandle server, Framing framing,
                Figures* figures);

}  // namespace relaybench
