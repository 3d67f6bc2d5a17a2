// The libusb backend end to end under umockdev: the device description and the scripted
// exchanges come from tests/support/make_dfu_umockdev.py; ctest runs this under umockdev-run,
// once per scripted exchange.
#include <gtest/gtest.h>

#include <cstdlib>

#include "dfu/dfuse/dfu_session.h"
#include "dfu/dfuse/stdfu.h"
#include "dfu/dfuse/stdfuprt.h"
#include "support/umockdev_flash_package.h"

TEST(LibusbUnderUmockdev, EnumeratesMapsAndRunsADownloadExchange) {
  if (!std::getenv("UMOCKDEV_DIR")) GTEST_SKIP() << "needs umockdev-run";
  std::vector<DfuInterfaceEntry> list;
  ASSERT_TRUE(DfuListInterfaces(kDfuInterfaceClassA, &list));
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ("usb#vid_0483&pid_df11#b001d004#if01#{3fe809ab-fb91-4cb5-a643-69670d52366e}",
            list[0].path);
  EXPECT_EQ("STM32  BOOTLOADER", list[0].description);  // the product text the kernel read
  std::vector<DfuInterfaceEntry> runtime;
  ASSERT_TRUE(DfuListInterfaces(kDfuInterfaceClassB, &runtime));
  EXPECT_TRUE(runtime.empty());

  // The path as discovery upper-cases it still opens.
  std::string upper = list[0].path;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  DfuMappingEntry* mapping = nullptr;
  uint32_t targets = 0;
  ASSERT_EQ(STDFU_NOERROR, STDFUPRT_CreateMappingFromDevice(upper.c_str(), &mapping, &targets));
  ASSERT_EQ(2u, targets);
  EXPECT_EQ("Internal Flash  ", mapping[0].name);
  EXPECT_EQ(12u, mapping[0].sectorCount);
  EXPECT_EQ("Option Bytes  ", mapping[1].name);
  EXPECT_EQ(1, mapping[1].alternate);
  STDFUPRT_DestroyMapping(&mapping);

  DfuDeviceHandle device = nullptr;
  ASSERT_EQ(STDFU_NOERROR, STDFU_Open(upper.c_str(), &device));
  uint8_t descriptor[18];
  ASSERT_EQ(STDFU_NOERROR, STDFU_GetDeviceDescriptor(device, descriptor));
  EXPECT_EQ(0x0483, descriptor[8] | (descriptor[9] << 8));
  EXPECT_EQ(0xDF11, descriptor[10] | (descriptor[11] << 8));
  uint8_t functional[9];
  uint32_t number = 9, alternates = 0;
  ASSERT_EQ(STDFU_NOERROR, STDFU_GetDFUDescriptor(device, &number, &alternates, functional));
  // The DFU interface comes after one whose endpoint descriptor is 9 bytes long.
  EXPECT_EQ(1u, number);
  EXPECT_EQ(2u, alternates);
  EXPECT_EQ(2048, functional[5] | (functional[6] << 8));
  EXPECT_EQ(0x011A, functional[7] | (functional[8] << 8));

  DfuStatus status;
  ASSERT_EQ(STDFU_NOERROR, STDFU_Getstatus(device, &status));
  EXPECT_EQ(kDfuIdle, status.bState);
  DfuSession session(device, nullptr);
  EXPECT_EQ(STDFU_NOERROR, session.SetAddress(0x08000000));
  const uint8_t block[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  EXPECT_EQ(STDFU_NOERROR, session.DownloadBlock(block, sizeof block, 2));
  EXPECT_EQ(kDfuDnloadIdle, session.lastStatus().bState);
  // The script's last answer is a stall, which the library reports as such.
  EXPECT_EQ(STDFU_REQUESTSTALLED, STDFU_Getstatus(device, &status));
  STDFU_Close(&device);
}

// The scripted exchange here is the simulated device's side of the same flash, recorded at
// build time (tests/support/dfu_flash_trace.cpp): the libusb backend must carry it unchanged.
TEST(LibusbUnderUmockdev, CarriesAWholeFlashOfASmallPackage) {
  if (!std::getenv("UMOCKDEV_DIR")) GTEST_SKIP() << "needs umockdev-run";
  std::vector<std::string> failures;
  EXPECT_TRUE(dfutest::RunUmockdevFlash(&failures));
  for (const std::string& f : failures) ADD_FAILURE() << f;
}
