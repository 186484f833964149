// The adapter description that Start publishes, byte for byte as the OS
// reads it from the property database, and Start's refusal when
// configuration space cannot be read or written.
#include <gtest/gtest.h>

#include <cstring>

#include "driver/platform/adapter.h"
#include "tests/discovery/bench.h"

namespace discovery_test {
namespace {

struct Expected {
  std::string name;
  std::vector<uint8_t> value;
};

std::vector<uint8_t> ConfigSpaceOf(kt270::Adapter& adapter) {
  std::vector<uint8_t> config(256);
  EXPECT_TRUE(adapter.ConfigRead(0, 1, 256, config.data()));
  return config;
}

// The model's defaults: BAR 0 0xD0000008, BAR 1 0x0000C001, BAR 2
// 0xD1000000, device 0x6B10; the bench sets HWGPIO to 0x12345678.
std::vector<Expected> ExpectedProperties(const std::vector<uint8_t>& config) {
  return {
      {"ZEY,PCIConfigSpace", config},
      {"ZEY,FrameBufferOffset", {0xD0, 0x00, 0x00, 0x00}},
      {"ZEY,IOSpaceOffset", {0x00, 0x00, 0xC0, 0x00}},
      {"ZEY,RegisterSpaceOffset", {0xD1, 0x00, 0x00, 0x00}},
      {"ZEY,RefCLK", {0x8C, 0x0A, 0x00, 0x00}},
      {"ZEY,SCLK", {0xD0, 0xDD, 0x06, 0x00}},
      {"ZEY,MCLK", {0x80, 0x1A, 0x06, 0x00}},
      {"ZEY,EFIVersion", {'0', '1', '.', '0', '0', '.', '1', '2', '1', 0}},
      {"ZEY,EFICompileDate", Bytes("Jun 12 2006")},
      {"ZEY,Rom#", Bytes("770-K10001-121")},
      {"ZEY,Card#", Bytes("771-K10002-01")},
      {"ZEY,Copyright", Bytes("(C) Copyright 2006 ZEL Quovan Corporation")},
      {"ZEY,VendorID", {0x6B, 0x1F}},
      {"ZEY,DeviceID", {0x10, 0x6B}},
      {"ZEY,HWGPIO", {0x78, 0x56, 0x34, 0x12}},
      {"name", Bytes("ZEY,MireldaParent")},
      {"device_type", Bytes("ZEY,MireldaParent")},
      {"model", Bytes("ZEY,QuovanM4410")},
  };
}

void ExpectPublished(const std::vector<simplatform::PropertyRecord>& got, const std::vector<Expected>& want,
                     EFI_DEVICE_PATH_PROTOCOL* path) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE("property " + std::to_string(i + 1) + " " + want[i].name);
    EXPECT_EQ(got[i].name, want[i].name);
    EXPECT_EQ(got[i].size, want[i].value.size());
    EXPECT_EQ(got[i].value, want[i].value);
    EXPECT_EQ(got[i].device_path, path);
  }
}

TEST(AdapterProperties, StartPublishesTheEighteenInOrderByteExact) {
  Bench bench;
  ASSERT_EQ(bench.Start(), EFI_SUCCESS);
  std::vector<uint8_t> config = ConfigSpaceOf(bench.adapter());
  // Published after the command register was updated.
  EXPECT_EQ(config[4] & 0x07, 0x07);
  ExpectPublished(bench.AdapterProperties(), ExpectedProperties(config), bench.fw.DevicePathOf(bench.controller));
}

TEST(AdapterProperties, ASecondStartPublishesTheSameRomNumber) {
  Bench bench;
  ASSERT_EQ(bench.Start(), EFI_SUCCESS);
  ASSERT_EQ(bench.Stop(), EFI_SUCCESS);
  bench.platform.ClearRecords();
  ASSERT_EQ(bench.Start(), EFI_SUCCESS);
  std::vector<uint8_t> config = ConfigSpaceOf(bench.adapter());
  ExpectPublished(bench.AdapterProperties(), ExpectedProperties(config), bench.fw.DevicePathOf(bench.controller));
  std::vector<simplatform::PropertyRecord> rom = bench.Named("ZEY,Rom#");
  ASSERT_EQ(rom.size(), 1u);
  EXPECT_EQ(rom[0].value, Bytes("770-K10001-121"));
}

TEST(AdapterProperties, OtherBarsAndDeviceComeFromConfigurationSpace) {
  kt270::Config config = BenchConfig();
  config.device_id = 0x6B12;
  config.bar[0] = 0xC8000000 | 0x0C;  // prefetchable 64-bit flags in the low bits
  config.bar[2] = 0xFEBF0000;
  Bench bench(true, false, config);
  ASSERT_EQ(bench.Start(), EFI_SUCCESS);
  EXPECT_EQ(bench.Named("ZEY,FrameBufferOffset").at(0).value, (std::vector<uint8_t>{0xC8, 0x00, 0x00, 0x00}));
  EXPECT_EQ(bench.Named("ZEY,RegisterSpaceOffset").at(0).value, (std::vector<uint8_t>{0xFE, 0xBF, 0x00, 0x00}));
  EXPECT_EQ(bench.Named("ZEY,DeviceID").at(0).value, (std::vector<uint8_t>{0x12, 0x6B}));
  EXPECT_EQ(bench.Context()->FrameBufferBase, 0x00000000C8000000ULL);
}

TEST(AdapterProperties, WithoutTheDatabaseNothingIsAddedAndTheAdapterStillStarts) {
  Bench bench(false, true);
  ASSERT_EQ(bench.Start(), EFI_SUCCESS);
  EXPECT_TRUE(bench.AdapterProperties().empty());
  EXPECT_TRUE(bench.platform.unexpected_calls().empty());
  EXPECT_EQ(bench.adapter().Command() & 0x07, 0x07);
  ADAPTER_CONTEXT* context = bench.Context();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->DeviceId, 0x6B10);
  EXPECT_EQ(context->EngineClock, 45000u);
  EXPECT_EQ(context->MemoryClock, 40000u);
  EXPECT_NE(context->TimerEvent, nullptr);
}

TEST(AdapterProperties, NoPlatformAtAllStillStarts) {
  Bench bench(false, false);
  ASSERT_EQ(bench.Start(), EFI_SUCCESS);
  EXPECT_TRUE(bench.platform.properties().empty());
  EXPECT_EQ(bench.Stop(), EFI_SUCCESS);
}

// The starting values that later Parts rely on, after a real Start.
TEST(AdapterProperties, StartingValuesAndAttributes) {
  Bench bench;
  ASSERT_EQ(bench.Start(), EFI_SUCCESS);
  const ADAPTER_CONTEXT& c = *bench.Context();
  EXPECT_EQ(c.HwGpio, 0x12345678u);
  EXPECT_EQ(c.FrameBufferBase, 0xD0000000ULL);
  EXPECT_EQ(c.MemoryTypeCode, (bench.adapter().Clk(0x2E) >> 24) & 0x0F);
  EXPECT_EQ(c.DdcChannel, 1);
  for (int d = 0; d < DISPLAY_SLOTS; ++d) {
    EXPECT_EQ(c.OutputChannel[d], 1);
    EXPECT_EQ(c.CrtcIndex[d], NO_CRTC);
    EXPECT_EQ(c.TvUseNtsc[d], 1);
    EXPECT_EQ(c.UseNativeMode[d], 1);
    EXPECT_EQ(c.CurrentMode[d].HorizontalResolution, 800u);
    EXPECT_EQ(c.CurrentMode[d].VerticalResolution, 600u);
    EXPECT_EQ(c.CurrentMode[d].ColorDepth, 32u);
    EXPECT_EQ(c.CurrentMode[d].RefreshRate, 60u);
  }
  EXPECT_EQ(c.ConnectFlagA, 1);
  EXPECT_EQ(c.ConnectFlagB, 1);
  EXPECT_EQ(c.InverterDefaultCycle, 255);
  const UINT32 power[12] = {0, 0, 1, 200, 200, 1, 0, 400, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(c.PowerSequence, power, sizeof(power)), 0);
  ASSERT_NE(c.ModeList, nullptr);
  EXPECT_EQ(c.ModeCount, 19u);
  ASSERT_NE(c.ModeTimingTable, nullptr);
  EXPECT_EQ(c.DisplayCount, 0u);
  EXPECT_EQ(c.EngineStarted, 0);

  const auto& calls = bench.pci_io().attribute_calls();
  // Read first, for a failed Start to put back.
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].operation, EfiPciIoAttributeOperationGet);
  EXPECT_EQ(calls[1].operation, EfiPciIoAttributeOperationSet);
  EXPECT_EQ(calls[1].attributes, 0x700u);
}

// Each configuration-space access of the initialisation, refused in turn.
struct ConfigFailure {
  const char* member;
  uint64_t nth;
};

class ConfigSpaceFailure : public ::testing::TestWithParam<ConfigFailure> {};

TEST_P(ConfigSpaceFailure, StartFailsWithDeviceErrorAndPublishesNothing) {
  Bench bench;
  bench.fw.ResetCallCounts();
  bench.fw.FailCall(GetParam().member, GetParam().nth, EFI_UNSUPPORTED);
  EXPECT_EQ(bench.Start(), EFI_DEVICE_ERROR);
  // The display nodes are named before the initialisation; nothing after.
  EXPECT_TRUE(bench.AdapterProperties().empty());
  EXPECT_EQ(bench.fw.injections_fired().size(), 1u);
  EXPECT_FALSE(bench.fw.HasProtocol(bench.controller, kEfiUgaDrawProtocolGuid));
  sim::LeakReport leaks = bench.fw.Leaks(bench.controller, bench.image);
  EXPECT_TRUE(leaks.clean()) << leaks.Describe();
}

INSTANTIATE_TEST_SUITE_P(EachAccess, ConfigSpaceFailure,
                         ::testing::Values(ConfigFailure{"Pci.Read", 1},   // command register
                                           ConfigFailure{"Pci.Write", 1},  // command register
                                           ConfigFailure{"Pci.Read", 2}),  // the 256 bytes
                         [](const ::testing::TestParamInfo<ConfigFailure>& info) {
                           return std::string(info.param.member == std::string("Pci.Read") ? "Read" : "Write") +
                                  std::to_string(info.param.nth);
                         });

TEST(AdapterProperties, TimerEventFailureKeepsOnlyTheConfigurationProperties) {
  Bench bench;
  bench.fw.ResetCallCounts();
  bench.fw.FailCall("CreateEvent", 1, EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(bench.Start(), EFI_DEVICE_ERROR);
  std::vector<simplatform::PropertyRecord> got = bench.AdapterProperties();
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].name, "ZEY,PCIConfigSpace");
  EXPECT_EQ(got[3].name, "ZEY,RegisterSpaceOffset");
}

// Tools read the block from the image; it must hold what they look for.
TEST(IdentificationBlock, TagsAndTheNineAddresses) {
  const IDENTIFICATION_BLOCK& b = QuovanIdentificationBlock;
  EXPECT_EQ(std::memcmp(b.Tag1, "llez\0\0\0\0", 8), 0);
  EXPECT_EQ(std::memcmp(b.Tag2, "laco\0\0\0\0", 8), 0);
  EXPECT_EQ(*b.DefaultEngineClock, 45000u);
  EXPECT_EQ(*b.DefaultMemoryClock, 40000u);
  EXPECT_STREQ(b.BoardName, "ZEY,Mirelda");
  EXPECT_STREQ(b.Model, "ZEY,QuovanM4410");
  EXPECT_STREQ(b.RomPartNumber, "770-K10001-ZZZ");
  EXPECT_STREQ(b.CardPartNumber, "771-K10002-01");
  EXPECT_STREQ(b.Version, "01.00.121");
  EXPECT_EQ(simplatform::Utf8FromChar16(b.DriverName), "ZEL Quovan UGA Driver 01.00.121");
  EXPECT_EQ(*b.DriverVersion, 0x010114610010007AULL);
}

TEST(IdentificationBlock, StartLeavesItsPartNumberCopyAlone) {
  Bench bench;
  ASSERT_EQ(bench.Start(), EFI_SUCCESS);
  EXPECT_STREQ(QuovanIdentificationBlock.RomPartNumber, "770-K10001-ZZZ");
}

}  // namespace
}  // namespace discovery_test
