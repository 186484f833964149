// Display discovery on a started adapter, with monitors plugged into the
// adapter model's connectors: which display is taken, with which modes,
// and which EDIDs reach the property database.
#include <gtest/gtest.h>

#include "driver/hw/discovery.h"
#include "tests/discovery/bench.h"

namespace discovery_test {
namespace {

using kt270::Connector;

class Discovery : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(bench.Start(), EFI_SUCCESS); }
  ADAPTER_CONTEXT& C() { return *bench.Context(); }
  void Discover() { DiscoverDisplays(bench.Context()); }

  void ExpectMode(int display, uint64_t width, uint64_t height, uint64_t refresh) {
    const UGA_MODE_RECORD& m = C().CurrentMode[display];
    EXPECT_EQ(m.HorizontalResolution, width);
    EXPECT_EQ(m.VerticalResolution, height);
    EXPECT_EQ(m.ColorDepth, 32u);
    EXPECT_EQ(m.RefreshRate, refresh);
  }
  void ExpectDefaultDisplay() {
    EXPECT_EQ(C().DisplayCount, 1u);
    EXPECT_EQ(C().ConnectorType[0], 0x0Cu);
    EXPECT_EQ(C().ConnectedKinds, 0x0C);
    EXPECT_EQ(C().OutputChannel[0], 1);
    EXPECT_EQ(C().CrtcIndex[0], 0);
    EXPECT_EQ(C().ModeSupportMask[0], 0x80000000u);
    EXPECT_EQ(C().ModeFromList[0], 1);
    EXPECT_EQ(C().ModeIndex[0], 0u);
    EXPECT_EQ(C().UseNativeMode[0], 0);
    ExpectMode(0, 800, 600, 60);
  }
  std::vector<int> SupportedRows() {
    std::vector<int> rows;
    for (int i = 0; i < 19; ++i) {
      if (C().ModeList[i].Supported) rows.push_back(i);
    }
    return rows;
  }
  uint32_t Starts(unsigned channel) { return bench.adapter().stats().ddc[channel - 1].starts; }

  Bench bench;
};

TEST_F(Discovery, NoDisplayGivesTheDefaultDisplay) {
  Discover();
  ExpectDefaultDisplay();
  EXPECT_GT(Starts(1), 0u);
  EXPECT_GT(Starts(2), 0u);
  EXPECT_TRUE(bench.Named("ZEY,EDIDA").empty());
  EXPECT_TRUE(bench.Named("ZEY,EDIDB").empty());
  MarkSupportedModes(&C(), 0);
  EXPECT_EQ(SupportedRows(), (std::vector<int>{0}));
}

TEST_F(Discovery, AnalogueMonitorGetsTheRowsItsEdidDeclares) {
  std::vector<uint8_t> edid = MakeEdid(false);
  edid[35] = 0x21;
  edid[36] = 0x08;
  bench.Plug(edid, Connector::kAnalogA);
  Discover();
  EXPECT_EQ(C().DisplayCount, 1u);
  EXPECT_EQ(C().ConnectorType[0], 0x04u);
  EXPECT_EQ(C().ConnectedKinds, 0x04);
  EXPECT_EQ(C().OutputChannel[0], 1);
  EXPECT_EQ(C().CrtcIndex[0], 0);
  EXPECT_EQ(C().ModeSupportMask[0], 0x84100000u);
  EXPECT_EQ(C().ModeFromList[0], 0);
  EXPECT_EQ(C().EdidVendorMatch[0], 0);
  // Its own timing: 14850 x 10 kHz over 2200 x 1125 is 60 Hz.
  ExpectMode(0, 1920, 1080, 60);
  MarkSupportedModes(&C(), 0);
  EXPECT_EQ(SupportedRows(), (std::vector<int>{0, 5, 11}));
  ASSERT_EQ(bench.Named("ZEY,EDIDA").size(), 1u);
  EXPECT_EQ(bench.Named("ZEY,EDIDA")[0].value, edid);
}

TEST_F(Discovery, EveryDeclaredRowMapsToItsBit) {
  std::vector<uint8_t> edid = MakeEdid(true);
  edid[35] = 0xFF;
  edid[36] = 0xFF;
  edid[37] = 0xFF;
  bench.Plug(edid, Connector::kDigital);
  Discover();
  EXPECT_EQ(C().ConnectorType[0], 0x02u);
  EXPECT_EQ(C().ModeSupportMask[0], 0xFFFFE000u);
}

TEST_F(Discovery, LowBitsOfTheManufacturerTimingsDeclareNothing) {
  std::vector<uint8_t> edid = MakeEdid(true);
  edid[37] = 0x1F;
  bench.Plug(edid, Connector::kDigital);
  Discover();
  EXPECT_EQ(C().ModeSupportMask[0], 0u);
}

TEST_F(Discovery, DigitalOnChannelOneIsPreferredToAnalogueOnChannelTwo) {
  std::vector<uint8_t> digital = MakeEdid(true);
  std::vector<uint8_t> analogue = MakeEdid(false);
  analogue[35] = 0x01;
  bench.Plug(digital, Connector::kDigital);
  bench.Plug(analogue, Connector::kAnalogB);
  Discover();
  EXPECT_EQ(C().DisplayCount, 1u);
  EXPECT_EQ(C().ConnectorType[0], 0x02u);
  EXPECT_EQ(C().ConnectedKinds, 0x02);
  EXPECT_EQ(C().OutputChannel[0], 1);
  EXPECT_EQ(C().ConnectorType[1], 0u);
  EXPECT_EQ(C().ModeSupportMask[0], 0u);
  // Both channels were read and published all the same.
  EXPECT_EQ(bench.Named("ZEY,EDIDA").size(), 1u);
  EXPECT_EQ(bench.Named("ZEY,EDIDB").size(), 1u);
}

TEST_F(Discovery, AnalogueOnChannelTwoWhenChannelOneIsEmpty) {
  bench.Plug(MakeEdid(false), Connector::kAnalogB);
  Discover();
  EXPECT_EQ(C().ConnectorType[0], 0x08u);
  EXPECT_EQ(C().OutputChannel[0], 2);
  EXPECT_EQ(C().CrtcIndex[0], 0);
  ExpectMode(0, 1920, 1080, 60);
}

// The maker's own blocks on channel 1: the digital rule passes over a 1.3
// block whose E[79] low nibble is 0.
struct VendorCase {
  const char* name;
  uint8_t revision;
  uint8_t byte79;
  bool digital;
  uint32_t taken_kind;  // 0: nothing on channel 1, the analogue B monitor is taken
};

class VendorBlock : public Discovery, public ::testing::WithParamInterface<VendorCase> {};

TEST_P(VendorBlock, OnChannelOne) {
  const VendorCase& v = GetParam();
  std::vector<uint8_t> vendor = MakeVendorEdid(v.digital);
  vendor[19] = v.revision;
  vendor[79] = v.byte79;
  bench.Plug(vendor, Connector::kDigital);
  bench.Plug(MakeEdid(false), Connector::kAnalogB);
  Discover();
  EXPECT_EQ(C().DisplayCount, 1u);
  EXPECT_EQ(C().EdidVendorMatch[0], 1);
  if (v.taken_kind == 0) {
    EXPECT_EQ(C().ConnectorType[0], 0x08u);
    EXPECT_EQ(C().OutputChannel[0], 2);
  } else {
    EXPECT_EQ(C().ConnectorType[0], v.taken_kind);
    EXPECT_EQ(C().OutputChannel[0], 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    PassOvers, VendorBlock,
    ::testing::Values(VendorCase{"V13DigitalLinkNibble0PassedOver", 3, 0x00, true, 0},
                      VendorCase{"V13DigitalLinkNibble0HighBitsIgnored", 3, 0xF0, true, 0},
                      VendorCase{"V13DigitalLinkNibble1Taken", 3, 0x01, true, 0x02},
                      VendorCase{"V14DigitalLinkNibble0Taken", 4, 0x00, true, 0x02},
                      VendorCase{"V13AnalogueTakenAsAnalogue", 3, 0x00, false, 0x04}),
    [](const ::testing::TestParamInfo<VendorCase>& info) { return std::string(info.param.name); });

TEST_F(Discovery, VendorPassOverWithNothingElseGivesTheDefault) {
  std::vector<uint8_t> vendor = MakeVendorEdid(true);
  vendor[79] = 0x00;
  bench.Plug(vendor, Connector::kDigital);
  Discover();
  ExpectDefaultDisplay();
  EXPECT_EQ(C().EdidVendorMatch[0], 1);
}

TEST_F(Discovery, TelevisionProductBytesAreNoAnalogueMonitor) {
  std::vector<uint8_t> edid = MakeEdid(false);
  edid[10] = 0x0C;
  edid[11] = 0x9D;
  bench.Plug(edid, Connector::kAnalogA);
  Discover();
  ExpectDefaultDisplay();
}

struct TvCase {
  const char* name;
  uint8_t established3;
  uint8_t product_low;
  bool ntsc;
};

class Television : public Discovery, public ::testing::WithParamInterface<TvCase> {};

TEST_P(Television, OnChannelTwo) {
  const TvCase& t = GetParam();
  std::vector<uint8_t> edid = MakeTelevisionEdid(t.established3);
  edid[10] = t.product_low;
  bench.Plug(edid, Connector::kTv);
  Discover();
  EXPECT_EQ(C().DisplayCount, 1u);
  EXPECT_EQ(C().ConnectorType[0], 0x20u);
  EXPECT_EQ(C().ConnectedKinds, 0x60);
  EXPECT_EQ(C().OutputChannel[0], 2);
  EXPECT_EQ(C().CrtcIndex[0], 0);
  EXPECT_EQ(C().EdidVendorMatch[0], 1);
  EXPECT_EQ(C().TvUseNtsc[0], t.ntsc ? 1 : 0);
  EXPECT_EQ(C().ModeFromList[0], 1);
  EXPECT_EQ(C().ModeIndex[0], t.ntsc ? 17u : 18u);
  EXPECT_EQ(C().ModeSupportMask[0], 0u);
  ExpectMode(0, 800, 600, t.ntsc ? 60 : 50);
}

INSTANTIATE_TEST_SUITE_P(Standards, Television,
                         ::testing::Values(TvCase{"Only50Hz", 0x20, 0x08, false},
                                           TvCase{"Both", 0x60, 0x08, true},
                                           TvCase{"Only60Hz", 0x40, 0x08, true},
                                           TvCase{"Neither", 0x00, 0x08, true},
                                           TvCase{"OtherProduct50Hz", 0x20, 0x0C, false}),
                         [](const ::testing::TestParamInfo<TvCase>& info) { return std::string(info.param.name); });

TEST_F(Discovery, TelevisionProductWithoutTheVendorBytesIsNoTelevision) {
  std::vector<uint8_t> edid = MakeTelevisionEdid(0x20);
  edid[8] = 0x4C;
  bench.Plug(edid, Connector::kTv);
  Discover();
  ExpectDefaultDisplay();
  EXPECT_EQ(C().TvUseNtsc[0], 1);
}

// A display that acknowledges the probes but not the block read: the
// judgement sees the 0xFF bytes the reader left.
kt270::I2cFaults AnswersOnlyTheProbes() {
  kt270::I2cFaults f = kt270::NoFaults();
  f.nak_after = 4;  // discovery's probe and the reader's probe, two bytes each
  return f;
}

TEST_F(Discovery, UnreadableBlockOnChannelOneIsADigitalDisplayWithAllRows) {
  bench.Plug(MakeEdid(true), Connector::kDigital, AnswersOnlyTheProbes());
  Discover();
  EXPECT_TRUE(bench.Named("ZEY,EDIDA").empty());
  EXPECT_EQ(C().Timing1.Probed, 1);
  EXPECT_EQ(C().DisplayCount, 1u);
  EXPECT_EQ(C().ConnectorType[0], 0x02u);
  EXPECT_EQ(C().OutputChannel[0], 1);
  EXPECT_EQ(C().ModeSupportMask[0], 0xFFFFE000u);
  EXPECT_EQ(C().ModeFromList[0], 0);
  // Empty timing record: zero size and, by choice, refresh 0.
  ExpectMode(0, 0, 0, 0);
}

TEST_F(Discovery, UnreadableBlockOnChannelTwoIsNotTaken) {
  bench.Plug(MakeEdid(false), Connector::kAnalogB, AnswersOnlyTheProbes());
  Discover();
  EXPECT_TRUE(bench.Named("ZEY,EDIDB").empty());
  EXPECT_EQ(C().Timing2.Probed, 1);
  ExpectDefaultDisplay();
}

TEST_F(Discovery, CompositeSyncAnalogueHasNoTimingAndReportsRefreshZero) {
  std::vector<uint8_t> edid = MakeEdid(false);
  edid[71] = 0x00;  // not digital separate sync
  bench.Plug(edid, Connector::kAnalogA);
  Discover();
  EXPECT_EQ(C().ConnectorType[0], 0x04u);
  EXPECT_EQ(C().Timing1.HTotal, 0);
  ExpectMode(0, 0, 0, 0);
}

TEST_F(Discovery, MonitorUnpluggedBeforeTheSecondDiscoveryIsKept) {
  std::vector<uint8_t> edid = MakeEdid(false);
  edid[35] = 0x21;
  bench.Plug(edid, Connector::kAnalogA);
  Discover();
  bench.adapter().Unplug(Connector::kAnalogA);
  uint32_t starts = Starts(1);
  Discover();
  EXPECT_GT(Starts(1), starts);  // probed again
  EXPECT_EQ(C().DisplayCount, 1u);
  EXPECT_EQ(C().ConnectorType[0], 0x04u);
  EXPECT_EQ(C().ModeSupportMask[0], 0x84000000u);
  ExpectMode(0, 1920, 1080, 60);
  EXPECT_EQ(bench.Named("ZEY,EDIDA").size(), 1u);
}

TEST_F(Discovery, EachChannelIsPublishedOnceOverManyCalls) {
  std::vector<uint8_t> a = MakeEdid(true);
  std::vector<uint8_t> b = MakeEdid(false);
  b[12] = 0x77;
  bench.Plug(a, Connector::kDigital);
  bench.Plug(b, Connector::kAnalogB);
  for (int i = 0; i < 3; ++i) Discover();
  ASSERT_EQ(bench.Named("ZEY,EDIDA").size(), 1u);
  ASSERT_EQ(bench.Named("ZEY,EDIDB").size(), 1u);
  EXPECT_EQ(bench.Named("ZEY,EDIDA")[0].value, a);
  EXPECT_EQ(bench.Named("ZEY,EDIDB")[0].value, b);
  EXPECT_TRUE(bench.Named("ZEY,LVDS,EDIDC").empty());
}

TEST_F(Discovery, MonitorPluggedLaterIsPublishedButNotAdopted) {
  Discover();
  ExpectDefaultDisplay();
  std::vector<uint8_t> edid = MakeEdid(true);
  bench.Plug(edid, Connector::kDigital);
  Discover();
  ASSERT_EQ(bench.Named("ZEY,EDIDA").size(), 1u);
  EXPECT_EQ(bench.Named("ZEY,EDIDA")[0].value, edid);
  ExpectDefaultDisplay();
}

TEST_F(Discovery, MarkingFollowsTheMaskAndAZeroMaskClearsEveryRow) {
  C().ModeSupportMask[1] = 0x00002000;  // row 18
  MarkSupportedModes(&C(), 1);
  EXPECT_EQ(SupportedRows(), (std::vector<int>{18}));
  C().ModeSupportMask[1] = 0;
  MarkSupportedModes(&C(), 1);
  EXPECT_TRUE(SupportedRows().empty());
}

TEST_F(Discovery, RefreshCoversEveryDisplayAndLeavesCurrentDisplayAtTheCount) {
  C().DisplayCount = 2;
  C().ModeFromList[0] = 1;
  C().ModeIndex[0] = 9;  // 1024 x 768 at 75
  C().OutputChannel[1] = 2;
  C().Timing2.HActive = 1280;
  C().Timing2.VActive = 1024;
  C().Timing2.PixelClock = 10800;
  C().Timing2.HTotal = 1688;
  C().Timing2.VTotal = 1066;
  RefreshCurrentModes(&C());
  EXPECT_EQ(C().CurrentDisplay, 2);
  ExpectMode(0, 1024, 768, 75);
  ExpectMode(1, 1280, 1024, 60);
}

TEST_F(Discovery, EitherZeroTotalReportsRefreshZero) {
  C().DisplayCount = 1;
  C().OutputChannel[0] = 3;  // channel 3's record, which nothing fills
  C().Timing3.HActive = 1920;
  C().Timing3.VActive = 1080;
  C().Timing3.PixelClock = 14850;
  C().Timing3.HTotal = 2200;
  RefreshCurrentModes(&C());
  ExpectMode(0, 1920, 1080, 0);
  C().Timing3.HTotal = 0;
  C().Timing3.VTotal = 1125;
  RefreshCurrentModes(&C());
  ExpectMode(0, 1920, 1080, 0);
  C().Timing3.HTotal = 2200;
  RefreshCurrentModes(&C());
  ExpectMode(0, 1920, 1080, 60);
}

TEST_F(Discovery, AssignConnectorFromTheWiring) {
  C().CurrentDisplay = 1;
  EXPECT_EQ(AssignConnector(&C(), 8), EFI_SUCCESS);
  EXPECT_EQ(C().OutputChannel[1], 2);
  EXPECT_EQ(C().CrtcIndex[1], 0);
  EXPECT_EQ(AssignConnector(&C(), 16), EFI_SUCCESS);  // present or not
  EXPECT_EQ(C().OutputChannel[1], 0);
  EXPECT_EQ(AssignConnector(&C(), 3), EFI_NOT_FOUND);
  EXPECT_EQ(C().OutputChannel[1], 0);
  C().CurrentDisplay = 0;
  EXPECT_EQ(AssignTvConnector(&C()), EFI_SUCCESS);
  EXPECT_EQ(C().OutputChannel[0], 2);
  EXPECT_EQ(C().CrtcIndex[0], 0);
  C().CurrentDisplay = 2;  // past the last slot, as discovery can leave it
  EXPECT_EQ(AssignConnector(&C(), 2), EFI_INVALID_PARAMETER);
}

}  // namespace
}  // namespace discovery_test
