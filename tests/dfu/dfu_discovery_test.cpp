// Finding and selecting the DFU device: class order, descriptions, descriptor checks, the
// option-bytes probe and the target texts.
#include <gtest/gtest.h>

#include "dfu/dfu_upgrade_dialog.h"
#include "log_capture.h"
#include "support/sim_dfu_device.h"
#include "with_option.h"

using testsupport::SimDfuOptions;
using testsupport::SimUsbBus;

TEST(DfuDiscovery, FormatsGuidsAndSizeTexts) {
  EXPECT_EQ("{3FE809AB-FB91-4CB5-A643-69670D52366E}",
            DFUpgradeDialog::FormatGuid(kDfuInterfaceClassA));
  EXPECT_EQ("{CB979912-5029-420A-AEB1-34FC0A7D5726}",
            DFUpgradeDialog::FormatGuid(kDfuInterfaceClassB));
  EXPECT_EQ("1023 b", SectorSizeText(1023));
  EXPECT_EQ("1 Kb", SectorSizeText(1024));
  EXPECT_EQ("1023 Kb", SectorSizeText(1048575));
  EXPECT_EQ("1 Mb", SectorSizeText(1048576));
  EXPECT_EQ("Sector 007\t0x08001000\t0x080013FF\t1 Kb\tRWE",
            SectorLine(7, DfuSector{0x08001000, 1024, 7}));
  EXPECT_EQ("Sector 000\t0x1FFFF800\t0x1FFFF80F\t16 b\tRW",
            SectorLine(0, DfuSector{0x1FFFF800, 16, 5}));
  EXPECT_EQ("Sector 000\t0x00000000\t0x000003FF\t1 Kb\tE", SectorLine(0, DfuSector{0, 1024, 2}));
  EXPECT_EQ("Sector 000\t0x00000000\t0x000003FF\t1 Kb\tR", SectorLine(0, DfuSector{0, 1024, 1}));
  EXPECT_EQ("Sector 000\t0x00000000\t0x000003FF\t1 Kb\t", SectorLine(0, DfuSector{0, 1024, 0}));
}

// DFU-mode devices (class A) before run-time ones, paths in upper case, descriptions cut to 253
// bytes on a character boundary; the first is selected, opened once (the bus refuses a second
// open as WinUSB does) and closed again.
TEST(DfuDiscovery, ListsClassAFirstWithCutDescriptionsAndSelectsTheFirst) {
  SimUsbBus bus;
  SimDfuOptions runtime, ascii, chinese, exact;
  runtime.interfaceProtocol = 1;
  runtime.product = "";
  ascii.product = std::string(300, 'A');
  chinese.product.clear();
  for (int i = 0; i < 100; ++i) chinese.product += "\xE8\xAF\xBB";  // 读, 3 bytes each
  exact.product = std::string(253, 'B');
  for (const SimDfuOptions& o : {runtime, ascii, chinese, exact}) bus.Add(o);
  dfutest::LogCapture log;
  DFUpgradeDialog dialog;
  ASSERT_TRUE(dialog.FindDfuDevices());
  ASSERT_EQ(4u, dialog.m_DevicePaths.size());
  EXPECT_EQ("SIM#DEV1#IF00#{3FE809AB-FB91-4CB5-A643-69670D52366E}", dialog.m_DevicePaths[0]);
  EXPECT_EQ("SIM#DEV0#IF00#{CB979912-5029-420A-AEB1-34FC0A7D5726}", dialog.m_DevicePaths[3]);
  EXPECT_EQ(std::string(253, 'A'), dialog.m_DeviceNames[0]);
  EXPECT_EQ(chinese.product.substr(0, 252), dialog.m_DeviceNames[1]);  // 84 whole characters
  EXPECT_EQ(exact.product, dialog.m_DeviceNames[2]);
  EXPECT_EQ("(Unnamed DFU device)", dialog.m_DeviceNames[3]);
  ASSERT_TRUE(dialog.SelectDevice());
  EXPECT_EQ(dialog.m_DevicePaths[0], dialog.m_DeviceLink);
  EXPECT_EQ(0, bus.refusedOpens());
  EXPECT_EQ(2u, dialog.m_TargetCount);
  EXPECT_FALSE(log.Has("Bad Firmware"));
  EXPECT_EQ(0, bus.openDevices());
}

// Devices the selection refuses, each with its log line (a run-time device silently), and the
// protocol versions it takes (1.1A and later 1.1 revisions only). No device is not found.
TEST(DfuDiscovery, SelectionRefusesBadFirmwareWithItsLogLine) {
  SimUsbBus none;
  DFUpgradeDialog nothing;
  EXPECT_FALSE(nothing.FindDfuDevices());
  EXPECT_FALSE(nothing.SelectDevice());
  const struct {
    const char* name;
    SimDfuOptions device;
    const char* line;  // nullptr: accepted; "": refused without a log line
  } cases[] = {
      {"run-time only", dfutest::With(&SimDfuOptions::interfaceProtocol, 1), ""},
      {"DFU 1.1", dfutest::With(&SimDfuOptions::dfuVersion, 0x0110),
       "Bad DFU protocol version. Should be 1.1A"},
      {"DFU 1.2", dfutest::With(&SimDfuOptions::dfuVersion, 0x0120),
       "Bad DFU protocol version. Should be 1.1A"},
      {"DFU 1.1F", dfutest::With(&SimDfuOptions::dfuVersion, 0x011F), nullptr},
      {"broken layout",
       dfutest::With(&SimDfuOptions::layouts,
                     std::vector<std::string>{"@Internal Flash  /0x08000000/64Kg"}),
       "Unable to find or decode device mapping... Bad Firmware"},
      {"device descriptor", dfutest::With(&SimDfuOptions::deviceDescriptorFails, true),
       "Unable to get descriptors... Bad Firmware"},
      {"no functional descriptor", dfutest::With(&SimDfuOptions::noFunctionalDescriptor, true),
       "Unable to get DFU descriptor... Bad Firmware"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimUsbBus bus;
    bus.Add(c.device);
    dfutest::LogCapture log;
    DFUpgradeDialog dialog;
    ASSERT_TRUE(dialog.FindDfuDevices());
    EXPECT_EQ(c.line == nullptr, dialog.SelectDevice());
    if (c.line) {
      EXPECT_TRUE(*c.line ? log.Has(c.line) : log.Text().empty()) << log.Text();
      EXPECT_EQ(nullptr, dialog.m_Mapping);
    }
    EXPECT_EQ(0, bus.openDevices());
  }
}

TEST(DfuDiscovery, SelectedDeviceGivesIdsTargetsAndTexts) {
  SimUsbBus bus;
  SimDfuOptions o;
  o.productId = 0xA19B;
  auto device = bus.Add(o);
  DFUpgradeDialog dialog;
  ASSERT_TRUE(dialog.FindDfuDevices());
  ASSERT_TRUE(dialog.SelectDevice());
  EXPECT_EQ("0483", dialog.m_DeviceVid);
  EXPECT_EQ("A19B", dialog.m_DevicePid);
  EXPECT_EQ(0x1A, dialog.m_DfuDescriptor[7]);
  EXPECT_EQ(0x01, dialog.m_DfuDescriptor[8]);
  ASSERT_EQ(2u, dialog.m_TargetCount);
  ASSERT_EQ(2u, dialog.m_DevTargets.size());
  const DevTarget& flash = dialog.m_DevTargets[0];
  EXPECT_EQ("00", flash.alternate);
  EXPECT_EQ("Internal Flash  ", flash.name);
  EXPECT_EQ("12 sectors...", flash.sectorCount);
  EXPECT_EQ(0u, flash.sectors.find("Sector 000\t0x08000000\t0x08003FFF\t16 Kb\tRWE\n"
                                   "Sector 001\t0x08004000\t0x08007FFF\t16 Kb\tRWE\n"));
  EXPECT_NE(std::string::npos,
            flash.sectors.find("\nSector 011\t0x080E0000\t0x080FFFFF\t128 Kb\tRWE"));
  EXPECT_NE('\n', flash.sectors.back());
  EXPECT_EQ("01", dialog.m_DevTargets[1].alternate);
  EXPECT_EQ("Option Bytes  ", dialog.m_DevTargets[1].name);
  EXPECT_NE(10, device->state());  // the probe left the device out of dfuERROR
  EXPECT_EQ(0, bus.openDevices());
}

// The option bytes decide what may be erased and written: each write-protection bit covers
// four sectors; read protection takes every attribute; an "Option Bytes" target without its
// trailing spaces is not probed.
TEST(DfuDiscovery, OptionBytesDecideEachSectorsAttributes) {
  const struct {
    const char* name;
    SimDfuOptions device;
    size_t writable;      // sectors of target 0 that keep their attributes
    uint8_t rest;         // the attributes of the others
    uint8_t optionBytes;  // the attributes of the option-bytes sector
    bool probed, protectedChip;
  } cases[] = {
      {"write protection bit 1",
       [] {
         SimDfuOptions o;
         o.layouts = {"@Internal Flash  /0x08000000/130*001Kg",
                      "@Option Bytes  /0x1FFFF800/01*016 e"};
         o.writeProtection = 0x00000001;
         return o;
       }(),
       4, 0x01, 0x07, true, false},
      {"read protected", dfutest::With(&SimDfuOptions::readProtected, true), 0, 0, 0, true, true},
      {"option bytes unnamed",
       [] {
         SimDfuOptions o;
         o.layouts = {"@Internal Flash  /0x08000000/04*016Kg", "@Option Bytes/0x1FFFF800/01*016 e"};
         o.readProtected = true;  // a probe would strip every attribute
         return o;
       }(),
       4, 0, 0x05, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimUsbBus bus;
    auto device = bus.Add(c.device);
    DFUpgradeDialog dialog;
    ASSERT_TRUE(dialog.FindDfuDevices());
    ASSERT_TRUE(dialog.SelectDevice());  // a protected chip is still selected
    EXPECT_EQ(c.probed, dialog.optionBytesPresent);
    EXPECT_EQ(c.protectedChip, dialog.readProtected);
    const std::vector<DfuSector>& s = dialog.m_Mapping[0].sectors;
    for (size_t j = 0; j < s.size(); ++j) {
      EXPECT_EQ(j < c.writable ? 0x07 : c.rest, s[j].attributes) << j;
    }
    EXPECT_EQ(c.optionBytes, dialog.m_Mapping[1].sectors[0].attributes);
    const std::string last = SectorLine(static_cast<uint32_t>(s.size() - 1), s.back());
    EXPECT_NE(std::string::npos, dialog.m_DevTargets[0].sectors.find(last));
    EXPECT_NE(10, device->state());
  }
}
