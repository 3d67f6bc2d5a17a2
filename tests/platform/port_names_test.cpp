// The port name rules of both systems, checked on every host as pure functions.
#include "platform/port_names.h"

#include <gtest/gtest.h>

#include "platform/serial.h"

namespace {

using platform::PortNameFromNumber;
using platform::PortNameStyle;
using platform::PortNumberFromName;

// Windows: COM and the number. Linux: ttyACM from 1, ttyUSB from 1001; names that are not reader
// ports map to nothing rather than to a wrong number.
TEST(PortNames, BothSystemsNamesMapToNumbersAndBack) {
  const struct {
    PortNameStyle style;
    int number;
    const char* name;
  } cases[] = {
      {PortNameStyle::kWindows, 3, "COM3"},       {PortNameStyle::kWindows, 12, "COM12"},
      {PortNameStyle::kWindows, -1, "CO"},        {PortNameStyle::kLinux, 1, "ttyACM0"},
      {PortNameStyle::kLinux, 7, "ttyACM6"},      {PortNameStyle::kLinux, 12, "ttyACM11"},
      {PortNameStyle::kLinux, 1000, "ttyACM999"}, {PortNameStyle::kLinux, 1001, "ttyUSB0"},
      {PortNameStyle::kLinux, 1006, "ttyUSB5"},   {PortNameStyle::kLinux, -1, "ttyS0"},
      {PortNameStyle::kLinux, -1, "ttyACM"},      {PortNameStyle::kLinux, -1, "ttyACM1x"},
      {PortNameStyle::kLinux, -1, "COM3"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PortNumberFromName(c.name, c.style), c.number) << c.name;
    if (c.number > 0) {
      EXPECT_EQ(PortNameFromNumber(c.number, c.style), c.name) << c.number;
    }
  }
  EXPECT_EQ(PortNameFromNumber(0, PortNameStyle::kLinux), "");
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
