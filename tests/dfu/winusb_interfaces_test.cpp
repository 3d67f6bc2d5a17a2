// The rule that decides through which interface classes the Windows backend reaches a
// WinUSB-bound device: pure, so it runs on both targets.
#include "platform/winusb_interfaces.h"

#include <gtest/gtest.h>

using platform::kOvra7WinUsbInterfaceGuid;
using platform::kUsbDeviceInterfaceGuid;
using platform::WinUsbInterfaceClassesToTry;

TEST(WinUsbInterfaces, EveryWayOfBindingWinUsbGivesAClassToOpenTheDeviceBy) {
  using List = std::vector<std::string>;
  // Our INF: our class first, and not twice.
  EXPECT_EQ((List{kOvra7WinUsbInterfaceGuid, kUsbDeviceInterfaceGuid}),
            WinUsbInterfaceClassesToTry("WinUSB", {"{a2dce62e-b1de-4d53-9610-449e52dc40bc}"}));
  // A generic installer's or the OS descriptors' own GUIDs, in their order, in upper case;
  // a malformed text is skipped.
  EXPECT_EQ(
      (List{kOvra7WinUsbInterfaceGuid, "{DEE824EF-729B-4A0E-9C14-B7117D33A817}",
            "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}", kUsbDeviceInterfaceGuid}),
      WinUsbInterfaceClassesToTry("winusb", {"{dee824ef-729b-4a0e-9c14-b7117d33a817}", "not a guid",
                                             "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F}",
                                             "0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9"}));
  // WinUSB without any GUID (a hand-picked driver, OS descriptors without the property): the
  // whole-device interface still opens it.
  EXPECT_EQ((List{kOvra7WinUsbInterfaceGuid, kUsbDeviceInterfaceGuid}),
            WinUsbInterfaceClassesToTry("WINUSB", {}));
  // Other drivers cannot be driven through winusb.dll, whatever GUIDs they list.
  EXPECT_TRUE(WinUsbInterfaceClassesToTry("libusbK", {kOvra7WinUsbInterfaceGuid}).empty());
  EXPECT_TRUE(WinUsbInterfaceClassesToTry("usbccgp", {}).empty());
  EXPECT_TRUE(WinUsbInterfaceClassesToTry("", {}).empty());
}

TEST(WinUsbInterfaces, GuidTextsAreNormalisedOrRefused) {
  EXPECT_EQ("{A2DCE62E-B1DE-4D53-9610-449E52DC40BC}",
            platform::NormalizeGuidText("a2dce62e-b1de-4d53-9610-449e52dc40bc"));
  EXPECT_EQ("", platform::NormalizeGuidText("{A2DCE62E-B1DE-4D53-9610-449E52DC40B}"));
  EXPECT_EQ("", platform::NormalizeGuidText("{A2DCE62E+B1DE-4D53-9610-449E52DC40BC}"));
  EXPECT_EQ("", platform::NormalizeGuidText("{G2DCE62E-B1DE-4D53-9610-449E52DC40BC}"));
  EXPECT_EQ("", platform::NormalizeGuidText(""));
}
