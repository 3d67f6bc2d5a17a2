// The port name rules of both systems, checked on every host as pure functions.
#include "platform/port_names.h"

#include <gtest/gtest.h>

#include "platform/serial.h"

namespace {

using platform::PortNameFromNumber;
using platform::PortNameStyle;
using platform::PortNumberFromName;

TEST(PortNames, WindowsNamesAreComAndTheirNumber) {
  EXPECT_EQ(PortNameFromNumber(3, PortNameStyle::kWindows), "COM3");
  EXPECT_EQ(PortNameFromNumber(12, PortNameStyle::kWindows), "COM12");
  EXPECT_EQ(PortNumberFromName("COM3", PortNameStyle::kWindows), 3);
  EXPECT_EQ(PortNumberFromName("COM12", PortNameStyle::kWindows), 12);
  EXPECT_EQ(PortNumberFromName("CO", PortNameStyle::kWindows), -1);
}

TEST(PortNames, LinuxAcmStartsAtOneAndUsbAtOneThousandAndOne) {
  EXPECT_EQ(PortNameFromNumber(1, PortNameStyle::kLinux), "ttyACM0");
  EXPECT_EQ(PortNameFromNumber(7, PortNameStyle::kLinux), "ttyACM6");
  EXPECT_EQ(PortNameFromNumber(1000, PortNameStyle::kLinux), "ttyACM999");
  EXPECT_EQ(PortNameFromNumber(1001, PortNameStyle::kLinux), "ttyUSB0");
  EXPECT_EQ(PortNameFromNumber(1003, PortNameStyle::kLinux), "ttyUSB2");
  EXPECT_EQ(PortNameFromNumber(0, PortNameStyle::kLinux), "");
  EXPECT_EQ(PortNumberFromName("ttyACM0", PortNameStyle::kLinux), 1);
  EXPECT_EQ(PortNumberFromName("ttyACM11", PortNameStyle::kLinux), 12);
  EXPECT_EQ(PortNumberFromName("ttyUSB0", PortNameStyle::kLinux), 1001);
  EXPECT_EQ(PortNumberFromName("ttyUSB5", PortNameStyle::kLinux), 1006);
  // Names that are not reader ports map to nothing rather than to a wrong number.
  EXPECT_EQ(PortNumberFromName("ttyS0", PortNameStyle::kLinux), -1);
  EXPECT_EQ(PortNumberFromName("ttyACM", PortNameStyle::kLinux), -1);
  EXPECT_EQ(PortNumberFromName("ttyACM1x", PortNameStyle::kLinux), -1);
  EXPECT_EQ(PortNumberFromName("COM3", PortNameStyle::kLinux), -1);
  for (int n : {1, 2, 10, 1001, 1042}) {
    EXPECT_EQ(
        PortNumberFromName(PortNameFromNumber(n, PortNameStyle::kLinux), PortNameStyle::kLinux), n);
  }
}

TEST(PortNames, DevicePathFollowsThisSystemsRule) {
  if (platform::NativePortNameStyle() == PortNameStyle::kWindows) {
    EXPECT_EQ(platform::SerialDevicePath(1), "COM1");
    EXPECT_EQ(platform::SerialDevicePath(9), "COM9");
    EXPECT_EQ(platform::SerialDevicePath(10), "\\\\.\\COM10");
    EXPECT_EQ(platform::SerialDevicePath(255), "\\\\.\\COM255");
    EXPECT_EQ(platform::PortNameFromNumber(10), "COM10");
  } else {
    auto endsWith = [](const std::string& s, const std::string& tail) {
      return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
    };
    EXPECT_TRUE(endsWith(platform::SerialDevicePath(9), "/ttyACM8"))
        << platform::SerialDevicePath(9);
    EXPECT_TRUE(endsWith(platform::SerialDevicePath(1001), "/ttyUSB0"))
        << platform::SerialDevicePath(1001);
    EXPECT_EQ(platform::PortNameFromNumber(10), "ttyACM9");
    EXPECT_EQ(platform::PortNumberFromName("ttyUSB1"), 1002);
  }
}

}  // namespace
