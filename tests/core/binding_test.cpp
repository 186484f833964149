// Driver entry, Supported, Start and Stop on the host firmware, including
// every failure path of Start.
#include <string>

#include "core_fixture.h"
#include "driver/core/version.h"

namespace coretest {
namespace {

TEST_F(CoreTest, EntryInstallsBindingAndComponentNameOnTheImage) {
  auto* binding = static_cast<EFI_DRIVER_BINDING_PROTOCOL*>(fw.Interface(image, kEfiDriverBindingProtocolGuid));
  ASSERT_EQ(binding, &gQuovanDriverBinding);
  EXPECT_EQ(binding->Version, 0x0010007Au);
  EXPECT_EQ(binding->ImageHandle, image);
  EXPECT_EQ(binding->DriverBindingHandle, image);
  EXPECT_TRUE(fw.HasProtocol(image, kEfiComponentNameProtocolGuid));
  EXPECT_FALSE(fw.HasProtocol(image, kEfiDriverConfigurationProtocolGuid));
  EXPECT_FALSE(fw.HasProtocol(image, kEfiDriverDiagnosticsProtocolGuid));
}

TEST_F(CoreTest, SupportedMatchesOnlyTableDevicesAndLeavesPciIoClosed) {
  Kt270Device kt6b12(0x6B12), foreign_device(0x6B20), foreign_vendor(0x6B10, 0x8086);
  EFI_HANDLE ok = fw.CreatePciController(&kt6b12);
  EFI_HANDLE bad_device = fw.CreatePciController(&foreign_device);
  EFI_HANDLE bad_vendor = fw.CreatePciController(&foreign_vendor);
  EXPECT_EQ(gQuovanDriverBinding.Supported(&gQuovanDriverBinding, ok, nullptr), EFI_SUCCESS);
  EXPECT_EQ(gQuovanDriverBinding.Supported(&gQuovanDriverBinding, bad_device, nullptr), EFI_UNSUPPORTED);
  EXPECT_EQ(gQuovanDriverBinding.Supported(&gQuovanDriverBinding, bad_vendor, nullptr), EFI_UNSUPPORTED);
  for (EFI_HANDLE h : {ok, bad_device, bad_vendor}) EXPECT_EQ(DriverPciOpens(h), 0u);
  EXPECT_TRUE(kt6b12.CommandWrites().empty());

  fw.ResetCallCounts();
  fw.FailCall("Pci.Read", 1, EFI_DEVICE_ERROR);
  EXPECT_EQ(gQuovanDriverBinding.Supported(&gQuovanDriverBinding, ok, nullptr), EFI_DEVICE_ERROR);
  EXPECT_EQ(DriverPciOpens(ok), 0u);
}

TEST_F(CoreTest, StartWithoutPlatformInstallsUgaDrawOnlyAndStopUndoesAll) {
  ASSERT_EQ(fw.Connect(controller), EFI_SUCCESS);
  EXPECT_TRUE(fw.HasProtocol(controller, kEfiUgaDrawProtocolGuid));
  EXPECT_FALSE(fw.HasProtocol(controller, kConfigInterfaceGuid));
  EXPECT_FALSE(fw.HasProtocol(controller, kDisplayInterfaceGuid));
  EXPECT_EQ(DriverPciOpens(controller), 1u);
  EXPECT_EQ(gQuovanDriverBinding.Supported(&gQuovanDriverBinding, controller, nullptr), EFI_ALREADY_STARTED);
  EXPECT_EQ(device.command(), 0x0547);

  ASSERT_EQ(fw.Disconnect(controller), EFI_SUCCESS);
  EXPECT_FALSE(fw.HasProtocol(controller, kEfiUgaDrawProtocolGuid));
  // Stop clears only the three decode bits.
  ASSERT_FALSE(device.CommandWrites().empty());
  EXPECT_EQ(device.CommandWrites().back(), 0x0540);
  ExpectClean();
}

TEST_F(CoreTest, StartFillsTheStartingValues) {
  ASSERT_EQ(Start(controller), EFI_SUCCESS);
  ADAPTER_CONTEXT* c = Context();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->ControllerHandle, controller);
  EXPECT_EQ(c->DeviceId, 0x6B10);
  EXPECT_EQ(c->FrameBufferBase, 0xD0000000u);
  EXPECT_EQ(c->EngineClock, 45000u);
  EXPECT_EQ(c->MemoryClock, 40000u);
  // Graphics Output's Start has found no monitor and set up the default
  // display (800 x 600 on CRTC 1); slot 1 keeps its starting values.
  EXPECT_EQ(c->CrtcIndex[0], 0);
  EXPECT_EQ(c->CrtcIndex[1], 255);
  EXPECT_EQ(c->InverterDefaultCycle, 255);
  EXPECT_EQ(c->ModeCount, 19u);
  for (const UGA_MODE_RECORD& m : c->CurrentMode) {
    EXPECT_EQ(m.HorizontalResolution * 10000 + m.VerticalResolution, 8000600u);
    EXPECT_EQ(m.ColorDepth * 100 + m.RefreshRate, 3260u);
  }
  const UINT32 power[12] = {0, 0, 1, 200, 200, 1, 0, 400, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(c->PowerSequence, power, sizeof(power)), 0);
  EXPECT_EQ(c->DisplayCount, 1u);
  EXPECT_TRUE(fw.IsLiveEvent(c->TimerEvent));
  EXPECT_EQ(c->ControllerNameTable[1].Language, nullptr);
  EXPECT_EQ(c->HasPlatformServices, 0);
  ASSERT_EQ(Stop(controller), EFI_SUCCESS);
  ExpectClean();
}

TEST_F(CoreTest, StartWithPlatformInstallsAllThreeAndRegistersOnce) {
  WithPlatform(true, true);
  ASSERT_EQ(fw.Connect(controller), EFI_SUCCESS);
  EXPECT_TRUE(fw.HasProtocol(controller, kEfiUgaDrawProtocolGuid));
  EXPECT_TRUE(fw.HasProtocol(controller, kConfigInterfaceGuid));
  EXPECT_TRUE(fw.HasProtocol(controller, kDisplayInterfaceGuid));
  ASSERT_EQ(platform.registrations().size(), 1u);
  EXPECT_EQ(platform.registrations()[0].vendor_id, 0x1F6B);
  EXPECT_EQ(platform.registrations()[0].device_id, 0x6B10);
  EXPECT_EQ(platform.registrations()[0].controller, controller);
  ASSERT_EQ(fw.Disconnect(controller), EFI_SUCCESS);
  EXPECT_FALSE(fw.HasProtocol(controller, kConfigInterfaceGuid));
  ExpectClean();
}

// Registration follows the device lookup: a device missing from the table
// fails Start before the platform hears of it.
TEST_F(CoreTest, StartOnUnlistedDeviceFailsBeforeRegistering) {
  WithPlatform(true, true);
  Kt270Device unlisted(0x6B20);
  controller = fw.CreatePciController(&unlisted);
  EXPECT_EQ(Start(controller), EFI_NOT_FOUND);
  EXPECT_TRUE(platform.registrations().empty());
  ExpectClean();
}

TEST_F(CoreTest, SecondStartOnARunningControllerLeavesItRunning) {
  ASSERT_EQ(Start(controller), EFI_SUCCESS);
  EXPECT_EQ(Start(controller), EFI_ALREADY_STARTED);
  EXPECT_EQ(DriverPciOpens(controller), 1u);
  EXPECT_NE(Context(), nullptr);
  ASSERT_EQ(Stop(controller), EFI_SUCCESS);
  ExpectClean();
}

struct StartFailure {
  const char* member;
  uint64_t nth;
  EFI_STATUS injected;
  EFI_STATUS expected;
  bool platform;
};

class StartFailureTest : public CoreTest, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(StartFailureTest, IsUndoneWithNothingLeft) {
  const StartFailure& f = GetParam();
  if (f.platform) WithPlatform(true, true);
  fw.ResetCallCounts();
  fw.FailCall(f.member, f.nth, f.injected);
  EXPECT_EQ(Start(controller), f.expected);
  ASSERT_EQ(fw.injections_fired().size(), 1u) << "the injected call was not made";
  EXPECT_FALSE(fw.HasProtocol(controller, kEfiUgaDrawProtocolGuid));
  EXPECT_FALSE(fw.HasProtocol(controller, kConfigInterfaceGuid));
  EXPECT_EQ(fw.OpenInfo(controller, kEfiDevicePathProtocolGuid).size(), 0u);
  ExpectClean();
  // Given back as found: no decoding, no bus mastering.
  EXPECT_EQ(device.command(), 0x0540);
  EXPECT_EQ(fw.PciIoOf(controller)->attributes(), 0u);

  fw.ClearFailures();
  ASSERT_EQ(Start(controller), EFI_SUCCESS);
  ASSERT_EQ(Stop(controller), EFI_SUCCESS);
  ExpectClean();
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, StartFailureTest,
    ::testing::Values(StartFailure{"OpenProtocol", 1, EFI_ACCESS_DENIED, EFI_ACCESS_DENIED, false},
                      StartFailure{"OpenProtocol", 2, EFI_ACCESS_DENIED, EFI_ACCESS_DENIED, false},
                      StartFailure{"AllocatePool", 1, EFI_OUT_OF_RESOURCES, EFI_OUT_OF_RESOURCES, false},
                      StartFailure{"Pci.Read", 1, EFI_DEVICE_ERROR, EFI_DEVICE_ERROR, false},
                      StartFailure{"Pci.Write", 1, EFI_UNSUPPORTED, EFI_DEVICE_ERROR, false},
                      StartFailure{"Pci.Read", 2, EFI_UNSUPPORTED, EFI_DEVICE_ERROR, false},
                      StartFailure{"CreateEvent", 1, EFI_OUT_OF_RESOURCES, EFI_DEVICE_ERROR, false},
                      // The device path would stay open past Stop.
                      StartFailure{"CloseProtocol", 1, EFI_INVALID_PARAMETER, EFI_INVALID_PARAMETER, false},
                      StartFailure{"InstallMultipleProtocolInterfaces", 1, EFI_OUT_OF_RESOURCES,
                                   EFI_OUT_OF_RESOURCES, true},
                      StartFailure{"InstallMultipleProtocolInterfaces", 2, EFI_OUT_OF_RESOURCES,
                                   EFI_OUT_OF_RESOURCES, true}));

// A refused Stop leaves the adapter exactly as started: every interface on
// the controller, PCI I/O held, the timer alive, decoding on; the next Stop
// then succeeds and leaves nothing.
struct StopFailure {
  const char* member;
  uint64_t nth;
  EFI_STATUS injected;
  EFI_STATUS expected;
  bool platform;
};

class StopFailureTest : public CoreTest, public ::testing::WithParamInterface<StopFailure> {};

TEST_P(StopFailureTest, KeepsTheAdapterFullyStarted) {
  const StopFailure& f = GetParam();
  if (f.platform) WithPlatform(true, true);
  ASSERT_EQ(Start(controller), EFI_SUCCESS);
  ADAPTER_CONTEXT* context = Context();
  const std::vector<const EFI_GUID*> before = fw.Protocols(controller);
  fw.ResetCallCounts();
  fw.FailCall(f.member, f.nth, f.injected);
  EXPECT_EQ(Stop(controller), f.expected);
  ASSERT_EQ(fw.injections_fired().size(), 1u) << "the injected call was not made";

  EXPECT_EQ(fw.Protocols(controller).size(), before.size());
  EXPECT_EQ(Context(), context);
  EXPECT_EQ(fw.HasProtocol(controller, kConfigInterfaceGuid), f.platform);
  EXPECT_EQ(fw.HasProtocol(controller, kDisplayInterfaceGuid), f.platform);
  EXPECT_EQ(DriverPciOpens(controller), 1u);
  EXPECT_TRUE(fw.IsLiveEvent(context->TimerEvent));
  EXPECT_EQ(device.command() & 0x7, 0x7);

  fw.ClearFailures();
  ASSERT_EQ(Stop(controller), EFI_SUCCESS);
  ExpectClean();
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, StopFailureTest,
    ::testing::Values(
        // Every interface in one call, refused as a whole: EFI_NOT_STARTED.
        StopFailure{"UninstallMultipleProtocolInterfaces", 1, EFI_ACCESS_DENIED, EFI_NOT_STARTED, false},
        StopFailure{"UninstallMultipleProtocolInterfaces", 1, EFI_ACCESS_DENIED, EFI_NOT_STARTED, true},
        StopFailure{"Pci.Read", 1, EFI_DEVICE_ERROR, EFI_DEVICE_ERROR, true},
        StopFailure{"Pci.Write", 1, EFI_DEVICE_ERROR, EFI_DEVICE_ERROR, true},
        StopFailure{"CloseProtocol", 1, EFI_INVALID_PARAMETER, EFI_INVALID_PARAMETER, true}));

// Start's own rollback cannot take UGA Draw back off: the adapter stays as
// started, without platform interfaces, until the firmware stops it.
TEST_F(CoreTest, StartKeepsTheContextWhileUgaDrawCannotBeRemoved) {
  WithPlatform(true, true);
  fw.ResetCallCounts();
  fw.FailCall("InstallMultipleProtocolInterfaces", 2, EFI_OUT_OF_RESOURCES);
  fw.FailCall("UninstallMultipleProtocolInterfaces", 1, EFI_ACCESS_DENIED);
  EXPECT_EQ(Start(controller), EFI_OUT_OF_RESOURCES);
  ASSERT_NE(Context(), nullptr);
  EXPECT_FALSE(fw.HasProtocol(controller, kConfigInterfaceGuid));
  EXPECT_EQ(DriverPciOpens(controller), 1u);

  fw.ClearFailures();
  ASSERT_EQ(fw.Disconnect(controller), EFI_SUCCESS);
  ExpectClean();
}

// A record the firmware would not free must not pass for an adapter.
TEST_F(CoreTest, StoppedContextLosesItsSignature) {
  ASSERT_EQ(Start(controller), EFI_SUCCESS);
  EFI_UGA_DRAW_PROTOCOL* stale = UgaDraw(controller);
  fw.ResetCallCounts();
  fw.FailCall("FreePool", 1, EFI_INVALID_PARAMETER);
  fw.StdErr().Clear();
  ASSERT_EQ(Stop(controller), EFI_SUCCESS);
  EXPECT_EQ(fw.StdErr().Text(), "StopAdapter: FreePool refused\r\n");
  UINT32 w = 0, h = 0, d = 0, r = 0;
  fw.StdErr().Clear();
  EXPECT_EQ(stale->GetMode(stale, &w, &h, &d, &r), EFI_INVALID_PARAMETER);
  EXPECT_EQ(fw.StdErr().Text(), "EASSERT FAILED: quovanuga(441): \"CR has Bad Signature\"N\r\n");
  EXPECT_EQ(fw.FreePool(reinterpret_cast<UINT8*>(stale) - offsetof(ADAPTER_CONTEXT, UgaDraw)), EFI_SUCCESS);
}

// An image whose entry point fails is unloaded: nothing of it may stay.
TEST_F(CoreTest, FailedEntryLeavesNothingInstalled) {
  for (uint64_t nth : {1, 2}) {
    DriverLibResetForHost();
    EFI_HANDLE other = fw.CreateImageHandle();
    const size_t protocols = fw.Protocols(other).size();
    fw.ResetCallCounts();
    fw.FailCall("InstallProtocolInterface", nth, EFI_OUT_OF_RESOURCES);
    EXPECT_EQ(DriverEntry(other, fw.SystemTable()), EFI_OUT_OF_RESOURCES) << nth;
    EXPECT_EQ(fw.Protocols(other).size(), protocols) << nth;
    fw.ClearFailures();
  }
}

TEST_F(CoreTest, BadSignatureIsReportedAndTheRecordLeftAlone) {
  std::vector<uint8_t> record(sizeof(ADAPTER_CONTEXT), 0x5A);
  auto* fake = reinterpret_cast<ADAPTER_CONTEXT*>(record.data());
  EFI_HANDLE handle = nullptr;
  ASSERT_EQ(fw.InstallProtocol(&handle, kEfiUgaDrawProtocolGuid, &fake->UgaDraw), EFI_SUCCESS);
  const std::vector<uint8_t> before = record;
  fw.StdErr().Clear();

  EXPECT_EQ(Stop(handle), EFI_INVALID_PARAMETER);
  EXPECT_EQ(fw.StdErr().Text(), "EASSERT FAILED: quovan_1_1(546): \"CR has Bad Signature\"N\r\n");
  EXPECT_EQ(record, before);
  EXPECT_TRUE(fw.HasProtocol(handle, kEfiUgaDrawProtocolGuid));

  fw.StdErr().Clear();
  EXPECT_EQ(ContextFromDisplayInterface(&fake->DisplayInterface, "quovanapple", 1042), nullptr);
  EXPECT_EQ(ContextFromConfigInterface(nullptr, "quovanapple", 76), nullptr);
  EXPECT_EQ(fw.StdErr().Text(), "EASSERT FAILED: quovanapple(1042): \"CR has Bad Signature\"N\r\n");
  ASSERT_EQ(fw.UninstallProtocol(handle, kEfiUgaDrawProtocolGuid, &fake->UgaDraw), EFI_SUCCESS);
}

TEST(RomPartNumber, TakesTheBuildNumberAndIsIdempotent) {
  char part[] = "770-K10001-ZZZ";
  FixUpRomPartNumber(nullptr, part);
  EXPECT_STREQ(part, "770-K10001-121");
  FixUpRomPartNumber(nullptr, part);
  EXPECT_STREQ(part, "770-K10001-121");
  char short_part[] = "770-K10001-Z";
  FixUpRomPartNumber(nullptr, short_part);
  EXPECT_STREQ(short_part, "770-K10001-Z");
}

}  // namespace
}  // namespace coretest
