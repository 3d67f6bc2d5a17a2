// The enter-DFU command over the reader's HID or vendor interface: the frame, the report
// layout, the poll loop, the choice of interface and the decision on the reply alone.
#include "dfu/reader_usb_port.h"

#include <gtest/gtest.h>

#include "support/sim_hid_reader.h"
#include "with_option.h"

using testsupport::SimHidReader;
using testsupport::SimReaderOptions;

TEST(ReaderUsbPort, HidReaderAnsweringOnTheThirdPollIsAcknowledged) {
  EXPECT_EQ(0xCA, ReaderFrameCheck(kEnterDfuFrame, 6));
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
  std::vector<uint8_t> expected = {0x00, 0x55, 0xAA, 0x04, 0x31, 0xFF, 0xFF, 0xCA};
  expected.resize(65, 0);
  EXPECT_EQ(expected, reader.lastOutput);
}

TEST(ReaderUsbPort, RefusalSilenceAndAbsenceFail) {
  const struct {
    const char* name;
    SimReaderOptions reader;
    int polls;
  } cases[] = {
      // The vendor route is not tried after a HID exchange without a positive reply.
      {"refusal",
       [] {
         SimReaderOptions o;
         o.reply = {0x55, 0xAA, 0x04, 0x31, 0x00, 0x00, 0xCA};
         o.vendorPresent = true;
         return o;
       }(),
       1},
      {"silence", dfutest::With(&SimReaderOptions::answerOnPoll, 0), 5},
      // Upper-case ids do not match: nothing is opened.
      {"absence",
       dfutest::With(&SimReaderOptions::hidPaths,
                     std::vector<std::string>{"\\\\?\\hid#VID_0425&PID_8159#1",
                                              "\\\\?\\hid#vid_1234&pid_5678#2"}),
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimHidReader reader(c.reader);
    ReaderUsbPort port;
    EXPECT_EQ(0, port.SendEnterDfu());
    EXPECT_EQ(c.polls, reader.polls);
    EXPECT_EQ(c.polls > 0 ? 1 : 0, reader.hidOpens);
    EXPECT_EQ(0, reader.vendorOpens);
    EXPECT_EQ(0, reader.openHandles);
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
    // Opened again once the reader has gone: nothing stays open (the HID open is exclusive).
    EXPECT_EQ(1, port.OpenHidInterface());
    reader.options.hidPaths.clear();
    EXPECT_EQ(0, port.OpenHidInterface());
    EXPECT_EQ(0, reader.openHandles);
  }
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
