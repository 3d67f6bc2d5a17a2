// Finding and selecting the DFU device: class order, descriptor checks, the option-bytes probe
// and the target texts.
#include <gtest/gtest.h>

#include "dfu/dfu_upgrade_dialog.h"
#include "log_capture.h"
#include "support/sim_dfu_device.h"

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
}

TEST(DfuDiscovery, ClassAComesFirstAndPathsAreUpperCased) {
  SimUsbBus bus;
  SimDfuOptions runtime;
  runtime.interfaceProtocol = 1;
  runtime.product = "";
  bus.Add(runtime);
  bus.Add();
  DFUpgradeDialog dialog;
  ASSERT_TRUE(dialog.FindDfuDevices());
  ASSERT_EQ(2u, dialog.m_DevicePaths.size());
  EXPECT_EQ("SIM#DEV1#IF00#{3FE809AB-FB91-4CB5-A643-69670D52366E}", dialog.m_DevicePaths[0]);
  EXPECT_EQ("SIM#DEV0#IF00#{CB979912-5029-420A-AEB1-34FC0A7D5726}", dialog.m_DevicePaths[1]);
  EXPECT_EQ("STM32  BOOTLOADER", dialog.m_DeviceNames[0]);
  EXPECT_EQ("(Unnamed DFU device)", dialog.m_DeviceNames[1]);
  EXPECT_TRUE(dialog.SelectDevice());
  EXPECT_EQ(dialog.m_DevicePaths[0], dialog.m_DeviceLink);
}

TEST(DfuDiscovery, RunTimeOnlyDeviceIsFoundButNotSelectable) {
  SimUsbBus bus;
  SimDfuOptions runtime;
  runtime.interfaceProtocol = 1;
  bus.Add(runtime);
  dfutest::LogCapture log;
  DFUpgradeDialog dialog;
  EXPECT_TRUE(dialog.FindDfuDevices());
  EXPECT_FALSE(dialog.SelectDevice());
  EXPECT_EQ("", log.Text());  // refused without a log line
  EXPECT_EQ(nullptr, dialog.m_Mapping);
  EXPECT_EQ(0, bus.openDevices());

  SimUsbBus empty;
  DFUpgradeDialog none;
  EXPECT_FALSE(none.FindDfuDevices());
  EXPECT_FALSE(none.SelectDevice());
}

TEST(DfuDiscovery, VersionRuleAcceptsOnly11A) {
  const struct {
    uint16_t version;
    bool accepted;
  } cases[] = {{0x0110, false}, {0x0120, false}, {0x011A, true}, {0x011F, true}};
  for (const auto& c : cases) {
    SimUsbBus bus;
    SimDfuOptions o;
    o.dfuVersion = c.version;
    bus.Add(o);
    dfutest::LogCapture log;
    DFUpgradeDialog dialog;
    ASSERT_TRUE(dialog.FindDfuDevices());
    EXPECT_EQ(c.accepted, dialog.SelectDevice()) << std::hex << c.version;
    EXPECT_EQ(!c.accepted, log.Has("Bad DFU protocol version. Should be 1.1A")) << c.version;
    EXPECT_EQ(0, bus.openDevices());
  }
}

TEST(DfuDiscovery, SelectedDeviceGivesIdsTargetsAndTexts) {
  SimUsbBus bus;
  SimDfuOptions o;
  o.vendorId = 0x0483;
  o.productId = 0xA19B;
  auto device = bus.Add(o);
  DFUpgradeDialog dialog;
  ASSERT_TRUE(dialog.FindDfuDevices());
  ASSERT_TRUE(dialog.SelectDevice());
  EXPECT_EQ("0483", dialog.m_DeviceVid);
  EXPECT_EQ("A19B", dialog.m_DevicePid);
  EXPECT_EQ(0x1A, dialog.m_DfuDescriptor[7]);
  EXPECT_EQ(0x01, dialog.m_DfuDescriptor[8]);
  EXPECT_TRUE(dialog.optionBytesPresent);
  EXPECT_FALSE(dialog.readProtected);
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
  // The probe left the device out of dfuERROR and closed.
  EXPECT_NE(10, device->state());
  EXPECT_EQ(0, bus.openDevices());
}

TEST(DfuDiscovery, WriteProtectionWordDecidesEraseAndWritePerSector) {
  SimUsbBus bus;
  SimDfuOptions o;
  o.layouts = {"@Internal Flash  /0x08000000/130*001Kg", "@Option Bytes  /0x1FFFF800/01*016 e"};
  o.writeProtection = 0x00000001;
  bus.Add(o);
  DFUpgradeDialog dialog;
  ASSERT_TRUE(dialog.FindDfuDevices());
  ASSERT_TRUE(dialog.SelectDevice());
  const std::vector<DfuSector>& s = dialog.m_Mapping[0].sectors;
  ASSERT_EQ(130u, s.size());
  for (int j = 0; j < 4; ++j) EXPECT_EQ(0x07, s[j].attributes) << j;
  for (int j = 4; j < 130; ++j) EXPECT_EQ(0x01, s[j].attributes) << j;
  EXPECT_EQ(0x07, dialog.m_Mapping[1].sectors[0].attributes);  // sector 0 of the option bytes
  EXPECT_NE(std::string::npos, dialog.m_DevTargets[0].sectors.find("Sector 129\t0x08020400"
                                                                   "\t0x080207FF\t1 Kb\tR"));
}

TEST(DfuDiscovery, ReadProtectedDeviceLosesEveryAttribute) {
  SimUsbBus bus;
  SimDfuOptions o;
  o.readProtected = true;
  auto device = bus.Add(o);
  DFUpgradeDialog dialog;
  ASSERT_TRUE(dialog.FindDfuDevices());
  ASSERT_TRUE(dialog.SelectDevice());  // a protected chip is still selected
  EXPECT_TRUE(dialog.readProtected);
  for (uint32_t t = 0; t < dialog.m_TargetCount; ++t)
    for (const DfuSector& s : dialog.m_Mapping[t].sectors) EXPECT_EQ(0, s.attributes);
  EXPECT_EQ(0u,
            dialog.m_DevTargets[0].sectors.find("Sector 000\t0x08000000\t0x08003FFF\t16 Kb\t\n"));
  EXPECT_NE(10, device->state());
}

TEST(DfuDiscovery, OptionBytesNameWithoutItsSpacesSkipsTheProbe) {
  SimUsbBus bus;
  SimDfuOptions o;
  o.layouts = {"@Internal Flash  /0x08000000/04*016Kg", "@Option Bytes/0x1FFFF800/01*016 e"};
  o.readProtected = true;  // a probe would strip every attribute
  auto device = bus.Add(o);
  DFUpgradeDialog dialog;
  ASSERT_TRUE(dialog.FindDfuDevices());
  ASSERT_TRUE(dialog.SelectDevice());
  EXPECT_FALSE(dialog.optionBytesPresent);
  EXPECT_FALSE(dialog.readProtected);
  EXPECT_EQ(0x07, dialog.m_Mapping[0].sectors[0].attributes);
  EXPECT_EQ(0x05, dialog.m_Mapping[1].sectors[0].attributes);
}

TEST(DfuDiscovery, DeviceThatNeverSettlesFailsTheProbeNotTheSelection) {
  SimUsbBus bus;
  SimDfuOptions o;
  o.stallsEverything = true;  // no status request ever answers
  bus.Add(o);
  DFUpgradeDialog dialog;
  ASSERT_TRUE(dialog.FindDfuDevices());
  ASSERT_TRUE(dialog.SelectDevice());
  EXPECT_EQ(0, dialog.m_Mapping[0].sectors[0].attributes);
  EXPECT_EQ(0, bus.openDevices());
}

TEST(DfuDiscovery, BrokenLayoutLogsTheMappingFailure) {
  SimUsbBus bus;
  SimDfuOptions o;
  o.layouts = {"@Internal Flash  /0x08000000/64Kg"};
  bus.Add(o);
  dfutest::LogCapture log;
  DFUpgradeDialog dialog;
  ASSERT_TRUE(dialog.FindDfuDevices());
  EXPECT_FALSE(dialog.SelectDevice());
  EXPECT_TRUE(log.Has("Unable to find or decode device mapping... Bad Firmware"));
  EXPECT_EQ(0, bus.openDevices());
}

TEST(DfuDiscovery, UnreadableDescriptorsAreLoggedAsBadFirmwareAndCloseTheDevice) {
  const struct {
    bool deviceDescriptorFails;
    bool noFunctionalDescriptor;
    const char* line;
  } cases[] = {{true, false, "Unable to get descriptors... Bad Firmware"},
               {false, true, "Unable to get DFU descriptor... Bad Firmware"}};
  for (const auto& c : cases) {
    SimUsbBus bus;
    SimDfuOptions o;
    o.deviceDescriptorFails = c.deviceDescriptorFails;
    o.noFunctionalDescriptor = c.noFunctionalDescriptor;
    bus.Add(o);
    dfutest::LogCapture log;
    DFUpgradeDialog dialog;
    ASSERT_TRUE(dialog.FindDfuDevices());
    EXPECT_FALSE(dialog.SelectDevice()) << c.line;
    EXPECT_TRUE(log.Has(c.line)) << log.Text();
    EXPECT_EQ(nullptr, dialog.m_Mapping);
    EXPECT_EQ("", dialog.m_DeviceVid);
    EXPECT_EQ(0, bus.openDevices());
  }
}

// The bus refuses a second open of a device as WinUSB does: the selection must map the device
// through the handle it already holds.
TEST(DfuDiscovery, SelectionOpensTheDeviceOnlyOnce) {
  SimUsbBus bus;
  bus.Add();
  dfutest::LogCapture log;
  DFUpgradeDialog dialog;
  ASSERT_TRUE(dialog.FindDfuDevices());
  EXPECT_TRUE(dialog.SelectDevice());
  EXPECT_EQ(0, bus.refusedOpens());
  EXPECT_FALSE(log.Has("Unable to find or decode device mapping... Bad Firmware"));
  EXPECT_EQ(2u, dialog.m_TargetCount);
  EXPECT_EQ(0, bus.openDevices());
}

TEST(DfuDiscovery, DescriptionsAreCutTo253BytesOnACharacterBoundary) {
  SimUsbBus bus;
  SimDfuOptions ascii, chinese, exact;
  ascii.product = std::string(300, 'A');
  chinese.product.clear();
  for (int i = 0; i < 100; ++i) chinese.product += "\xE8\xAF\xBB";  // 读, 3 bytes each
  exact.product = std::string(253, 'B');
  bus.Add(ascii);
  bus.Add(chinese);
  bus.Add(exact);
  DFUpgradeDialog dialog;
  ASSERT_TRUE(dialog.FindDfuDevices());
  ASSERT_EQ(3u, dialog.m_DeviceNames.size());
  EXPECT_EQ(std::string(253, 'A'), dialog.m_DeviceNames[0]);
  // 84 whole characters (252 bytes); a 253rd byte would split the 85th.
  EXPECT_EQ(chinese.product.substr(0, 252), dialog.m_DeviceNames[1]);
  EXPECT_EQ(exact.product, dialog.m_DeviceNames[2]);
}
