// The enter-DFU command over the reader's HID or vendor interface: the frame, the report
// layout, the poll loop and the decision on the reply alone.
#include "dfu/reader_usb_port.h"

#include <gtest/gtest.h>

#include "support/sim_hid_reader.h"

using testsupport::SimHidReader;
using testsupport::SimReaderOptions;

TEST(ReaderUsbPort, FrameCarriesItsXorCheck) {
  EXPECT_EQ(0xCA, ReaderFrameCheck(kEnterDfuFrame, 6));
}

TEST(ReaderUsbPort, HidReaderAnsweringOnTheThirdPollIsAcknowledged) {
  SimReaderOptions o;
  o.answerOnPoll = 3;
  o.vendorPresent = true;  // HID wins when both are there
  SimHidReader reader(o);
  ReaderUsbPort port;
  EXPECT_EQ(1, port.SendEnterDfu());
  EXPECT_EQ(3, reader.polls);
  EXPECT_EQ(1, reader.hidOpens);
  EXPECT_EQ(0, reader.vendorOpens);
  EXPECT_EQ(0, reader.openHandles);
  const std::vector<uint8_t> report(reader.lastOutput);
  ASSERT_EQ(65u, report.size());
  const std::vector<uint8_t> head(report.begin(), report.begin() + 8);
  EXPECT_EQ((std::vector<uint8_t>{0x00, 0x55, 0xAA, 0x04, 0x31, 0xFF, 0xFF, 0xCA}), head);
  for (size_t i = 8; i < 65; ++i) EXPECT_EQ(0, report[i]) << i;
}

TEST(ReaderUsbPort, RefusalSilenceAndAbsenceFail) {
  {
    SimReaderOptions o;
    o.reply = {0x55, 0xAA, 0x04, 0x31, 0x00, 0x00, 0xCA};
    o.vendorPresent = true;  // not tried after a HID exchange without a positive reply
    SimHidReader reader(o);
    ReaderUsbPort port;
    EXPECT_EQ(0, port.SendEnterDfu());
    EXPECT_EQ(0, reader.vendorOpens);
    EXPECT_EQ(0, reader.openHandles);
  }
  {
    SimReaderOptions o;
    o.answerOnPoll = 0;
    SimHidReader reader(o);
    ReaderUsbPort port;
    EXPECT_EQ(0, port.SendEnterDfu());
    EXPECT_EQ(5, reader.polls);  // five tries, then given up
    EXPECT_EQ(0, reader.openHandles);
  }
  {
    SimReaderOptions o;
    o.hidPaths = {"\\\\?\\hid#VID_0425&PID_8159#1", "\\\\?\\hid#vid_1234&pid_5678#2"};
    SimHidReader reader(o);
    ReaderUsbPort port;
    EXPECT_EQ(0, port.SendEnterDfu());  // upper-case ids do not match; nothing opened
    EXPECT_EQ(0, reader.hidOpens);
    EXPECT_EQ(0, reader.vendorOpens);
  }
}

TEST(ReaderUsbPort, PicksTheFirstMatchingPathAndFallsBackToTheVendorRoute) {
  {
    SimReaderOptions o;
    o.hidPaths = {"\\\\?\\hid#vid_1111&pid_2222#0", "\\\\?\\hid#vid_0483&pid_a19b#1",
                  "\\\\?\\hid#vid_0425&pid_8159#2"};
    SimHidReader reader(o);
    ReaderUsbPort port;
    EXPECT_EQ(1, port.SendEnterDfu());
    EXPECT_EQ("\\\\?\\hid#vid_0483&pid_a19b#1", reader.openedPath);
  }
  {
    SimReaderOptions o;
    o.hidOpenFails = true;  // held by another program
    o.vendorPresent = true;
    o.answerOnPoll = 2;
    SimHidReader reader(o);
    ReaderUsbPort port;
    EXPECT_EQ(1, port.SendEnterDfu());
    EXPECT_EQ(1, reader.vendorOpens);
    EXPECT_EQ(2, reader.polls);
    EXPECT_EQ((std::vector<uint8_t>{0x55, 0xAA, 0x04, 0x31, 0xFF, 0xFF, 0xCA}),
              reader.lastOutput);  // head of 7, empty body
    EXPECT_EQ(0, reader.openHandles);
  }
}
