// Linux-only behaviour of the serial backend: what a terminal device and a pty add.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "platform/serial.h"
#include "platform/serial_peer.h"
#include "support/temp_folder.h"

namespace {

TEST(PosixSerialPort, RefusesWhatIsNotATerminalOrAnUnsupportedRate) {
  testsupport::TempFolder folder;
  std::string file = folder.file("plain");
  close(open(file.c_str(), O_CREAT | O_WRONLY, 0600));
  EXPECT_FALSE(platform::OpenSerialDevice(file, 115200));
  EXPECT_FALSE(platform::OpenSerialDevice(folder.file("missing"), 115200));
  EXPECT_FALSE(platform::OpenSerialDevice("", 115200));

  std::string why;
  auto peer = testsupport::SerialPeer::Create(7, &why);
  ASSERT_TRUE(peer) << why;
  EXPECT_FALSE(platform::OpenSerialPort(7, 12345));
  // The refused open let go of the port again.
  auto port = platform::OpenSerialPort(7, 115200);
  ASSERT_TRUE(port);
  EXPECT_GE(port->WaitHandle(), 0);
  EXPECT_EQ(platform::OpenSerialPort(0, 115200), nullptr);
}

TEST(PosixSerialPort, AnotherProcessCannotOpenAHeldPort) {
  std::string why;
  auto peer = testsupport::SerialPeer::Create(7, &why);
  ASSERT_TRUE(peer) << why;
  auto port = platform::OpenSerialPort(7, 115200);
  ASSERT_TRUE(port);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(platform::OpenSerialPort(7, 115200) ? 1 : 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child opened a held port";
}

TEST(PosixSerialPort, PseudoTerminalIsACableToAPortOpenedByPath) {
  std::string peerPath;
  auto cable = platform::OpenPseudoTerminal(&peerPath);
  ASSERT_TRUE(cable);
  ASSERT_FALSE(peerPath.empty());
  // Bytes written before the other side is open wait for it, without echo (an echo would come
  // back ahead of the reply below).
  const uint8_t early[] = {0x55, 0xAA, 0x04, 0x00, 0x0A, 0x00, 0x00, 0xF1};
  ASSERT_EQ(cable->Write(early, sizeof early), 8);
  uint8_t got[16] = {};

  auto port = platform::OpenSerialDevice(peerPath, 115200);
  ASSERT_TRUE(port);
  EXPECT_EQ(port->Read(got, 8), 8);
  EXPECT_EQ(0, std::memcmp(got, early, sizeof early));
  const uint8_t reply[] = {0x11, 0x13, 0x0D, 0x0A, 0x03};  // XON, XOFF, CR, LF, ^C
  ASSERT_EQ(port->Write(reply, sizeof reply), 5);
  EXPECT_EQ(cable->Read(got, 5), 5);
  EXPECT_EQ(0, std::memcmp(got, reply, sizeof reply));

  // The other side closing and coming back is not a failure of the cable.
  port.reset();
  EXPECT_EQ(cable->Read(got, 1), 0);
  port = platform::OpenSerialDevice(peerPath, 115200);
  ASSERT_TRUE(port);
  ASSERT_EQ(cable->Write(reply, 2), 2);
  EXPECT_EQ(port->Read(got, 2), 2);
}

}  // namespace
