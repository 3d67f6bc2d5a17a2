// Relay latency, throughput and idle CPU: ours against socat, between the same pty (the reader)
// and the same loopback server, in one run. Measures only; prints a table.
// Usage: relay_latency [rounds] [payload bytes]
#include <cstdio>
#include <cstdlib>

#include "relays.h"

namespace relaybench {

void MeasureAll(const Setup& setup, platform::SocketHandle server, Framing framing,
                Figures* figures) {
  Ends ends(setup.reader, server, framing);
  ends.Drain(200);
  if (!ends.MeasureRoundTrips(setup.rounds, setup.payloadBytes, figures)) return;
  ends.Drain(200);
  if (!ends.MeasureUpstream(setup.streamSeconds, 1024, figures)) return;
  ends.Drain(500);
  if (!ends.MeasureDownstream(setup.streamSeconds, 2048, figures)) return;
  ends.Drain(500);
}

}  // namespace relaybench

int main(int argc, char** argv) {
  using namespace relaybench;
  platform::NetStartup();
  std::string peerPath;
  auto reader = platform::OpenPseudoTerminal(&peerPath);
  uint16_t port = 0;
  platform::SocketHandle listener = platform::ListenLoopback(0, &port);
  if (!reader || listener == platform::kInvalidSocket) {
    std::fprintf(stderr, "no pty or no loopback listener\n");
    return 1;
  }
  Setup setup{reader.get(),
              peerPath,
              listener,
              port,
              argc > 1 ? std::atoi(argv[1]) : 2000,
              argc > 2 ? std::atoi(argv[2]) : 16,
              2.0,
              3.0};
  std::printf("pty %s, server 127.0.0.1:%u, %d round trips of %d bytes\n", peerPath.c_str(), port,
              setup.rounds, setup.payloadBytes);
  std::vector<Figures> all;
  all.push_back(RunOurs(setup));
  all.push_back(RunSocat(setup));
  PrintFigures(all);
  platform::CloseSocket(listener);
  platform::NetCleanup();
  return 0;
}
