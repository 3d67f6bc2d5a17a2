// Our relay: Ovra7Service on the pty, linked to the server by the reader's connect request.
#include <unistd.h>

#include "relay/ovra7_service.h"
#include "relays.h"

namespace relaybench {

Figures RunOurs(const Setup& setup) {
  Figures figures;
  figures.name = "Ovra7Service";
  std::string path = setup.readerPeerPath;
  Ovra7Service service(nullptr, nullptr,
                       [path](int, int baud) { return platform::OpenSerialDevice(path, baud); });
  service.SetServerAddress("127.0.0.1", setup.serverPort);
  if (!service.Start(7, {})) {
    figures.error = "the service did not open the pty";
    return figures;
  }
  // Idle before any server link: the relay waits on the port alone.
  Figures unlinked;
  MeasureIdle(getpid(), setup.idleSeconds, &unlinked);

  const uint8_t connect[] = {0x55, 0xAA, 0x04, 0x00, 0x0A, 0x00, 0x00, 0xF1};
  setup.reader->Write(connect, sizeof connect);
  platform::SocketHandle connection = platform::Accept(setup.listener, 5000);
  uint8_t answer[8] = {};
  int got = connection == platform::kInvalidSocket ? 0 : setup.reader->Read(answer, 8);
  if (got != 8 || answer[4] != 0x0A || answer[5] != 0 || answer[6] != 0) {
    figures.error = "no connect result 0, 0 from the service";
  } else {
    MeasureAll(setup, connection, Framing{true, true}, &figures);
    // Idle while linked: this process does nothing else, so its CPU time is the relay's.
    MeasureIdle(getpid(), setup.idleSeconds, &figures);
  }
  std::printf("Ovra7Service idle before the server link: %.2f ms/s CPU, %.1f wake-ups/s\n",
              unlinked.idleCpuMsPerSecond, unlinked.idleWakeupsPerSecond);
  service.Stop(false);
  if (connection != platform::kInvalidSocket) platform::CloseSocket(connection);
  return figures;
}

}  // namespace relaybench
