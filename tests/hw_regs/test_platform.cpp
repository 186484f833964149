// The platform-call wrappers through the platform stand-ins, and the
// stand-ins' own contract (members the driver must not call, GetValue).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "driver/hw/properties.h"
#include "efi/efi_guids.h"
#include "sim/firmware/firmware.h"
#include "sim/platform/platform_stand_in.h"
#include "tests/support/rig.h"

namespace {

using simplatform::PlatformStandIn;

constexpr EFI_GUID kKeyA = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr EFI_GUID kKeyB = {0x9344ABF7, 0x78E0, 0x4224, {0xBD, 0x93, 0x4E, 0xD4, 0xAD, 0xAA, 0x2A, 0x8C}};

struct PlatformBench {
  explicit PlatformBench(bool database = true, bool services = true) {
    std::memset(&context, 0, sizeof(context));
    context.ParentDevicePath = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL*>(&path_storage);
    context.ControllerHandle = reinterpret_cast<EFI_HANDLE>(&handle_storage);
    context.DeviceId = 0x6B11;
    context.HasPropertyDatabase = database;
    context.PropertyDatabase = database ? platform.database() : nullptr;
    context.HasPlatformServices = services;
    context.PlatformServices = services ? platform.services() : nullptr;
  }
  ADAPTER_CONTEXT context;
  PlatformStandIn platform;
  uint64_t path_storage = 0;
  uint64_t handle_storage = 0;
};

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> b) { return b; }

TEST(AddDeviceProperty, StoresPlainAndReversedValuesUnderTheParentPath) {
  PlatformBench bench;
  const uint32_t plain = 0x11223344;
  const uint32_t reversed = 0x00000100;
  EXPECT_EQ(EFI_SUCCESS, AddDeviceProperty(&bench.context, u"ZEY,SCLK", 4, &plain, 0));
  EXPECT_EQ(EFI_SUCCESS, AddDeviceProperty(&bench.context, u"ZEY,FrameBufferOffset", 4, &reversed, 1));

  const auto& props = bench.platform.properties();
  ASSERT_EQ(2u, props.size());
  EXPECT_EQ("ZEY,SCLK", props[0].name);
  EXPECT_FALSE(props[0].node.has_value());
  EXPECT_EQ(bench.context.ParentDevicePath, props[0].device_path);
  EXPECT_EQ(Bytes({0x44, 0x33, 0x22, 0x11}), props[0].value);
  EXPECT_EQ(4u, props[0].size);
  EXPECT_EQ("ZEY,FrameBufferOffset", props[1].name);
  EXPECT_EQ(Bytes({0x00, 0x00, 0x01, 0x00}), props[1].value);
  // The caller's value is not reversed in place.
  EXPECT_EQ(0x00000100u, reversed);
  EXPECT_TRUE(bench.platform.unexpected_calls().empty());
}

TEST(AddDeviceProperty, ReversedValueFitsUpTo264BytesAndIsRefusedBeyond) {
  PlatformBench bench;
  std::vector<uint8_t> value(265);
  for (size_t i = 0; i < value.size(); i++) value[i] = static_cast<uint8_t>(i);

  EXPECT_EQ(EFI_SUCCESS, AddDeviceProperty(&bench.context, u"big", 264, value.data(), 1));
  ASSERT_EQ(1u, bench.platform.properties().size());
  const auto& stored = bench.platform.properties()[0].value;
  ASSERT_EQ(264u, stored.size());
  EXPECT_TRUE(std::equal(stored.begin(), stored.end(), std::make_reverse_iterator(value.begin() + 264)));

  EXPECT_EQ(EFI_INVALID_PARAMETER, AddDeviceProperty(&bench.context, u"bigger", 265, value.data(), 1));
  EXPECT_EQ(1u, bench.platform.properties().size());
  // Without reversal a long value goes through as it is.
  EXPECT_EQ(EFI_SUCCESS, AddDeviceProperty(&bench.context, u"bigger", 265, value.data(), 0));
  EXPECT_EQ(265u, bench.platform.properties().back().value.size());
}

TEST(PlatformWrappers, MissingProtocolsMakeEveryCallASuccessfulNoOp) {
  PlatformBench bench(false, false);
  uint32_t value = 7;
  uint32_t buffer = 0xA5A5A5A5;
  bench.platform.SetValue(kKeyA, 99);
  EXPECT_EQ(EFI_SUCCESS, AddDeviceProperty(&bench.context, u"ZEY,SCLK", 4, &value, 0));
  EXPECT_EQ(EFI_SUCCESS, AddDeviceProperty(&bench.context, u"ZEY,SCLK", 1000, &value, 1));
  EXPECT_EQ(EFI_SUCCESS, SetDisplayProperty(&bench.context, u"0", u"name", 4, &value));
  EXPECT_EQ(EFI_SUCCESS, GetPlatformValue(&bench.context, &kKeyA, &buffer, 4));
  EXPECT_EQ(EFI_SUCCESS, RegisterAdapter(&bench.context));
  EXPECT_EQ(0xA5A5A5A5u, buffer);
  EXPECT_TRUE(bench.platform.properties().empty());
  EXPECT_TRUE(bench.platform.registrations().empty());
  EXPECT_TRUE(bench.platform.value_requests().empty());
}

TEST(PlatformWrappers, EachProtocolIsJudgedOnItsOwn) {
  PlatformBench database_only(true, false);
  uint8_t one = 1;
  SetDisplayProperty(&database_only.context, u"0", u"AAPL,boot-display", 1, &one);
  AddDeviceProperty(&database_only.context, u"ZEY,EFIOrientation", 1, &one, 0);
  ASSERT_EQ(1u, database_only.platform.properties().size());
  EXPECT_FALSE(database_only.platform.properties()[0].node.has_value());

  PlatformBench services_only(false, true);
  SetDisplayProperty(&services_only.context, u"0", u"AAPL,boot-display", 1, &one);
  AddDeviceProperty(&services_only.context, u"ZEY,EFIOrientation", 1, &one, 0);
  ASSERT_EQ(1u, services_only.platform.properties().size());
  EXPECT_EQ("0", services_only.platform.properties()[0].node.value_or(""));
}

TEST(SetDisplayProperty, StoresUnderTheNodeInCallOrderWithTheDatabase) {
  PlatformBench bench;
  const char name[] = "ZEY,Mirelda";
  const uint32_t type = 0x10;
  SetDisplayProperty(&bench.context, u"0", u"name", 11, name);
  AddDeviceProperty(&bench.context, u"ZEY,SCLK", 4, &type, 0);
  SetDisplayProperty(&bench.context, u"1", u"connector-type", 4, &type);

  const auto& props = bench.platform.properties();
  ASSERT_EQ(3u, props.size());
  EXPECT_EQ("0", props[0].node.value_or(""));
  EXPECT_EQ("name", props[0].name);
  EXPECT_EQ(std::vector<uint8_t>(name, name + 11), props[0].value);
  EXPECT_EQ(bench.context.ParentDevicePath, props[0].device_path);
  EXPECT_FALSE(props[1].node.has_value());
  EXPECT_EQ("1", props[2].node.value_or(""));
  EXPECT_EQ(Bytes({0x10, 0, 0, 0}), props[2].value);

  ASSERT_NE(nullptr, bench.platform.Find("connector-type", std::string("1")));
  EXPECT_EQ(nullptr, bench.platform.Find("connector-type"));
}

TEST(GetPlatformValue, FillsKnownKeysAndLeavesTheBufferOtherwise) {
  PlatformBench bench;
  bench.platform.SetValue(kKeyB, 0x00000190);
  uint32_t known = 0;
  uint32_t unknown = 0xDEADBEEF;
  EXPECT_EQ(EFI_SUCCESS, GetPlatformValue(&bench.context, &kKeyB, &known, 4));
  EXPECT_EQ(EFI_NOT_FOUND, GetPlatformValue(&bench.context, &kKeyA, &unknown, 4));
  EXPECT_EQ(0x190u, known);
  EXPECT_EQ(0xDEADBEEFu, unknown);

  const auto& requests = bench.platform.value_requests();
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ(0, std::memcmp(&kKeyB, &requests[0].key, sizeof(EFI_GUID)));
  EXPECT_EQ(4u, requests[0].size);
  EXPECT_TRUE(requests[0].answered);
  EXPECT_FALSE(requests[1].answered);
}

TEST(RegisterAdapter, PassesVendorDeviceAndController) {
  PlatformBench bench;
  EXPECT_EQ(EFI_SUCCESS, RegisterAdapter(&bench.context));
  ASSERT_EQ(1u, bench.platform.registrations().size());
  const auto& r = bench.platform.registrations()[0];
  EXPECT_EQ(0x1F6B, r.vendor_id);
  EXPECT_EQ(0x6B11, r.device_id);
  EXPECT_EQ(bench.context.ControllerHandle, r.controller);
}

TEST(ReverseBytes, ReversesAnyCount) {
  const uint8_t source[5] = {1, 2, 3, 4, 5};
  uint8_t out[5] = {};
  ReverseBytes(source, out, 5);
  EXPECT_EQ(0, std::memcmp(out, "\x05\x04\x03\x02\x01", 5));
  uint8_t untouched = 0x5A;
  ReverseBytes(source, &untouched, 0);
  EXPECT_EQ(0x5A, untouched);
}

typedef EFI_STATUS(EFIAPI* ANY_MEMBER)(void* This);

TEST(PlatformStandIn, MembersOutsideTheDriversUseAreRecordedAsUnexpected) {
  PlatformStandIn platform;
  auto* db = platform.database();
  auto* ps = platform.services();
  EXPECT_EQ(EFI_UNSUPPORTED, reinterpret_cast<ANY_MEMBER>(db->Member1)(db));
  EXPECT_EQ(EFI_UNSUPPORTED, reinterpret_cast<ANY_MEMBER>(db->Member4)(db));
  EXPECT_EQ(EFI_UNSUPPORTED, reinterpret_cast<ANY_MEMBER>(ps->Member2)(ps));
  const auto& calls = platform.unexpected_calls();
  ASSERT_EQ(3u, calls.size());
  EXPECT_EQ("database", calls[0].protocol);
  EXPECT_EQ(1u, calls[0].member);
  EXPECT_EQ(4u, calls[1].member);
  EXPECT_EQ("services", calls[2].protocol);
  EXPECT_EQ(2u, calls[2].member);
}

TEST(PlatformStandIn, GetValueHonoursTheBufferSize) {
  PlatformStandIn platform;
  platform.SetValue(kKeyA, 0x01020304);
  platform.SetValue(kKeyA, 0x05060708);  // replaces
  auto* ps = platform.services();
  EFI_GUID key = kKeyA;
  uint8_t buffer[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  UINTN size = 2;
  EXPECT_EQ(EFI_BUFFER_TOO_SMALL, ps->GetValue(ps, &key, buffer, &size));
  EXPECT_EQ(4u, size);
  EXPECT_EQ(0xEE, buffer[0]);
  size = 8;
  EXPECT_EQ(EFI_SUCCESS, ps->GetValue(ps, &key, buffer, &size));
  EXPECT_EQ(4u, size);
  EXPECT_EQ(0, std::memcmp(buffer, "\x08\x07\x06\x05\xEE", 5));
  EXPECT_EQ(EFI_INVALID_PARAMETER, ps->GetValue(ps, &key, nullptr, &size));
  EXPECT_EQ(1u, platform.unexpected_calls().size());
}

TEST(PlatformStandIn, InstalledProtocolsAreFoundAndAbsentOnesAreNot) {
  sim::Firmware firmware;
  PlatformStandIn platform;
  ASSERT_EQ(EFI_SUCCESS, platform.Install(firmware, true, false));
  void* found = nullptr;
  EXPECT_EQ(EFI_SUCCESS, firmware.LocateProtocol(&kDevicePropertyDatabaseProtocolGuid, &found));
  EXPECT_EQ(platform.database(), found);
  EXPECT_EQ(EFI_NOT_FOUND, firmware.LocateProtocol(&kPlatformServicesProtocolGuid, &found));

  ASSERT_EQ(EFI_SUCCESS, platform.Install(firmware, true, true));
  EXPECT_EQ(EFI_SUCCESS, firmware.LocateProtocol(&kPlatformServicesProtocolGuid, &found));
  EXPECT_EQ(platform.services(), found);
  // Installed as the test's: nothing counts against the driver.
  EXPECT_TRUE(firmware.Leaks(nullptr, nullptr).clean());

  EXPECT_EQ(EFI_SUCCESS, platform.Uninstall(firmware));
  EXPECT_EQ(EFI_NOT_FOUND, firmware.LocateProtocol(&kDevicePropertyDatabaseProtocolGuid, &found));
}

TEST(PlatformStandIn, RigContextsReachOnlyTheInstalledProtocols) {
  testsupport::Rig rig;
  PlatformStandIn& platform = rig.InstallPlatform(false, true);
  ADAPTER_CONTEXT* context = rig.MakeContext();
  const uint32_t value = 4;
  EXPECT_EQ(EFI_SUCCESS, AddDeviceProperty(context, u"ZEY,SCLK", 4, &value, 0));
  EXPECT_EQ(EFI_SUCCESS, SetDisplayProperty(context, u"1", u"connector-type", 4, &value));
  EXPECT_EQ(EFI_SUCCESS, RegisterAdapter(context));
  ASSERT_EQ(1u, platform.properties().size());
  EXPECT_EQ("connector-type", platform.properties()[0].name);
  EXPECT_EQ(rig.device_path(), platform.properties()[0].device_path);
  ASSERT_EQ(1u, platform.registrations().size());
  EXPECT_EQ(rig.controller(), platform.registrations()[0].controller);
}

TEST(PlatformStandIn, ParsesGuidTextAsTheStandardLaysItOut) {
  EFI_GUID guid;
  ASSERT_TRUE(simplatform::ParseGuid("9344abf7-78E0-4224-BD93-4ED4ADAA2A8C", &guid));
  EXPECT_EQ(0, std::memcmp(&kKeyB, &guid, sizeof guid));
  EXPECT_FALSE(simplatform::ParseGuid("9344ABF7-78E0-4224-BD93-4ED4ADAA2A8", &guid));
  EXPECT_FALSE(simplatform::ParseGuid("9344ABF7-78E0-4224-BD93x4ED4ADAA2A8C", &guid));
  EXPECT_FALSE(simplatform::ParseGuid("9344ABF7-78E0-4224-BD93-4ED4ADAA2A8G", &guid));
}

}  // namespace
