// Component Name on started, foreign and unmanaged controllers, and the
// supported-device table it shares with Supported and Start.
#include <string>

#include "core_fixture.h"
#include "driver/binding/component_name.h"
#include "driver/core/devices.h"

namespace coretest {
namespace {

const std::u16string kAdapterName = u"ZEL Quovan KT270 Video Adapter";

class ComponentNameTest : public CoreTest {
 protected:
  EFI_STATUS ControllerName(EFI_HANDLE handle, EFI_HANDLE child, const char* language, CHAR16** name) {
    return gQuovanComponentName.GetControllerName(&gQuovanComponentName, handle, child, language, name);
  }
};

TEST_F(ComponentNameTest, DriverNameIsEnglishOnly) {
  CHAR16* name = nullptr;
  ASSERT_EQ(gQuovanComponentName.GetDriverName(&gQuovanComponentName, "eng", &name), EFI_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"ZEL Quovan UGA Driver 01.00.121");
  EXPECT_EQ(gQuovanComponentName.GetDriverName(&gQuovanComponentName, "enx", &name), EFI_UNSUPPORTED);
  EXPECT_EQ(gQuovanComponentName.GetDriverName(&gQuovanComponentName, "en", &name), EFI_UNSUPPORTED);
  EXPECT_EQ(gQuovanComponentName.GetDriverName(&gQuovanComponentName, nullptr, &name), EFI_INVALID_PARAMETER);
  EXPECT_STREQ(gQuovanComponentName.SupportedLanguages, "eng");
}

TEST_F(ComponentNameTest, StartedControllerIsNamedWithAndWithoutChild) {
  ASSERT_EQ(fw.Connect(controller), EFI_SUCCESS);
  CHAR16* name = nullptr;
  ASSERT_EQ(ControllerName(controller, nullptr, "eng", &name), EFI_SUCCESS);
  EXPECT_EQ(std::u16string(name), kAdapterName);

  // A child without UGA Draw: the PCI I/O path finds the same name.
  static EFI_GUID dummy = {0x12345678, 0x1, 0x2, {0, 1, 2, 3, 4, 5, 6, 7}};
  static int marker;
  EFI_HANDLE child = nullptr;
  ASSERT_EQ(fw.InstallProtocol(&child, dummy, &marker), EFI_SUCCESS);
  name = nullptr;
  ASSERT_EQ(ControllerName(controller, child, "eng", &name), EFI_SUCCESS);
  EXPECT_EQ(std::u16string(name), kAdapterName);
  EXPECT_EQ(DriverPciOpens(controller), 1u);

  EXPECT_EQ(ControllerName(controller, nullptr, "enx", &name), EFI_UNSUPPORTED);
  EXPECT_EQ(ControllerName(controller, child, "enx", &name), EFI_UNSUPPORTED);
  EXPECT_EQ(ControllerName(controller, nullptr, "eng", nullptr), EFI_INVALID_PARAMETER);
  ASSERT_EQ(fw.UninstallProtocol(child, dummy, &marker), EFI_SUCCESS);
  ASSERT_EQ(fw.Disconnect(controller), EFI_SUCCESS);
  ExpectClean();
}

TEST_F(ComponentNameTest, ForeignAndUnmanagedControllersAreRefused) {
  EFI_HANDLE other_agent = fw.CreateImageHandle();
  void* pci = nullptr;
  ASSERT_EQ(fw.OpenProtocol(controller, &kEfiPciIoProtocolGuid, &pci, other_agent, controller,
                            EFI_OPEN_PROTOCOL_BY_DRIVER),
            EFI_SUCCESS);
  CHAR16* name = nullptr;
  EXPECT_EQ(ControllerName(controller, nullptr, "eng", &name), EFI_UNSUPPORTED);
  auto opens = fw.OpenInfo(controller, kEfiPciIoProtocolGuid);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].AgentHandle, other_agent);
  ASSERT_EQ(fw.CloseProtocol(controller, &kEfiPciIoProtocolGuid, other_agent, controller), EFI_SUCCESS);

  EXPECT_EQ(ControllerName(controller, nullptr, "eng", &name), EFI_UNSUPPORTED);
  EXPECT_EQ(DriverPciOpens(controller), 0u);
  ExpectClean();
}

TEST_F(ComponentNameTest, BadSignatureBehindUgaDrawIsReported) {
  std::vector<uint8_t> record(sizeof(ADAPTER_CONTEXT), 0);
  auto* fake = reinterpret_cast<ADAPTER_CONTEXT*>(record.data());
  EFI_HANDLE handle = nullptr;
  ASSERT_EQ(fw.InstallProtocol(&handle, kEfiUgaDrawProtocolGuid, &fake->UgaDraw), EFI_SUCCESS);
  fw.StdErr().Clear();
  CHAR16* name = nullptr;
  EXPECT_EQ(ControllerName(handle, nullptr, "eng", &name), EFI_INVALID_PARAMETER);
  EXPECT_EQ(name, nullptr);
  EXPECT_EQ(fw.StdErr().Text(), "EASSERT FAILED: quovancomponentname(185): \"CR has Bad Signature\"N\r\n");
  ASSERT_EQ(fw.UninstallProtocol(handle, kEfiUgaDrawProtocolGuid, &fake->UgaDraw), EFI_SUCCESS);
}

TEST(DeviceTable, MatchesDeviceAndVendorTogether) {
  EXPECT_TRUE(DeviceIsSupported(0x6B111F6B));
  EXPECT_TRUE(DeviceIsSupported(0x6B101F6B));
  EXPECT_TRUE(DeviceIsSupported(0x6B121F6B));
  EXPECT_FALSE(DeviceIsSupported(0x6B111F6C));
  EXPECT_FALSE(DeviceIsSupported(0x1F6B6B11));
  EXPECT_FALSE(DeviceIsSupported(0x6B131F6B));
  EXPECT_FALSE(DeviceIsSupported(0x00001F6B));  // the empty slots never match

  const SUPPORTED_DEVICE_ROW* row = nullptr;
  EXPECT_EQ(FindDeviceRow(0, &row), EFI_NOT_FOUND);
  ASSERT_EQ(FindDeviceRow(0x6B12, &row), EFI_SUCCESS);
  EXPECT_STREQ(row->Names[0].Language, "eng");
  EXPECT_EQ(std::u16string(row->Names[0].UnicodeString), kAdapterName);
  EXPECT_EQ(row->Names[1].Language, nullptr);
}

}  // namespace
}  // namespace coretest
