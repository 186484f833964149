// Display-node names, panel timing from the platform, television standards,
// and the refusal of a third display.
#include "tests/platform_if/platform_rig.h"

namespace platform_if {
namespace {

using kt270::Connector;

// The platform's panel record for 1280 x 1024 at 108 MHz.
struct PanelRecord {
  uint32_t m[13] = {108000000, 1687, 1280, 1688, 1328, 1440, 1065, 1024, 1066, 1025, 1028, 1, 0};
  PanelRecord& Links(uint32_t n) { m[11] = n; return *this; }
  PanelRecord& Flags(uint32_t f) { m[12] = f; return *this; }
};

EFI_STATUS SetPanel(Rig& rig, const PanelRecord& p) { return rig.Set(keys::kPanelTiming, p.m, sizeof p.m); }


TEST(DisplayNodes, BothNodesAreNamedAtStartNodeZeroFirst) {
  Rig rig;
  ASSERT_EQ(EFI_SUCCESS, rig.Connect());
  std::vector<std::string> seen;
  for (const auto& p : rig.platform().properties()) {
    if (!p.node) continue;
    seen.push_back(*p.node + " " + p.name + " " + std::string(p.value.begin(), p.value.end()));
  }
  const std::vector<std::string> expected = {
      "0 name ZEY,Mirelda", "0 device_type display", "0 compatible ZEY,Mirelda",
      "1 name ZEY,Mirelda", "1 device_type display", "1 compatible ZEY,Mirelda",
  };
  EXPECT_EQ(expected, seen);
}

TEST(PlatformInfo, IsPublishedAndRestartsTheEngineEachTime) {
  Rig rig;
  ASSERT_EQ(EFI_SUCCESS, rig.Connect());
  ASSERT_EQ(EFI_SUCCESS, rig.PlatformInfo());
  const simplatform::PropertyRecord* info = rig.Database("ZEY,PlatformInfo");
  ASSERT_NE(nullptr, info);
  ASSERT_EQ(128u, info->value.size());
  EXPECT_EQ(127, info->value[127]);
  EXPECT_TRUE(rig.context()->EngineStarted);
  ASSERT_NE(nullptr, rig.Database("ZEY,MRT"));

  rig.platform().ClearRecords();
  ASSERT_EQ(EFI_SUCCESS, rig.PlatformInfo());
  EXPECT_NE(nullptr, rig.Database("ZEY,MRT"));

  uint8_t info_bytes[128] = {};
  EXPECT_EQ(EFI_INVALID_PARAMETER, rig.Set(keys::kPlatformInfo, info_bytes, 127));
}

class PanelOnDigital : public ::testing::Test {
 protected:
  void SetUp() override {
    rig.Plug(Connector::kDigital, Sxga().Digital());
    ASSERT_EQ(EFI_SUCCESS, rig.Connect());
    ASSERT_EQ(EFI_SUCCESS, rig.PlatformInfo());
    ASSERT_EQ(EFI_SUCCESS, rig.Select(0));
    rig.platform().ClearRecords();
  }
  Rig rig;
};

TEST_F(PanelOnDigital, SingleLinkWithNoPlatformValuesLightsTheMonitor) {
  ASSERT_EQ(EFI_SUCCESS, SetPanel(rig, PanelRecord().Links(1).Flags(0x7)));
  ADAPTER_CONTEXT* c = rig.context();
  EXPECT_EQ(1u, c->DisplayCount);
  EXPECT_TRUE(c->PanelFromPlatform);
  EXPECT_FALSE(c->DualLinkTmds[0]);
  EXPECT_TRUE(c->PanelFlagB0 && c->PanelFlagB1 && c->PanelFlag3);
  EXPECT_EQ(1280u, c->NativeMode[0].HorizontalResolution);
  EXPECT_EQ(1024u, c->CurrentMode[0].VerticalResolution);
  EXPECT_EQ(0, c->ConnectFlagA);
  EXPECT_EQ(1, c->ConnectFlagB);

  const std::vector<std::string> names = {
      "display-link-component-bits", "display-pixel-component-bits", "display-connect-flags",
      "ZEY,EFIDisplay", "connector-type", "AAPL,boot-display",
  };
  EXPECT_EQ(names, rig.Node0Names());
  EXPECT_EQ(Bytes("TMDSB"), rig.Node0("ZEY,EFIDisplay")->value);
  EXPECT_EQ(6u, rig.Node0Value("display-link-component-bits"));
  EXPECT_EQ(6u, rig.Node0Value("display-pixel-component-bits"));
  EXPECT_EQ(0u, rig.Node0Value("display-connect-flags"));
  EXPECT_EQ(4u, rig.Node0Value("connector-type"));
  EXPECT_EQ(1u, rig.Node0Value("AAPL,boot-display"));
  const simplatform::PropertyRecord* node1 = rig.platform().Find("connector-type", "1");
  ASSERT_NE(nullptr, node1);
  EXPECT_EQ(0x10, node1->value[0]);
  const simplatform::PropertyRecord* orientation = rig.Database("ZEY,EFIOrientation");
  ASSERT_NE(nullptr, orientation);
  EXPECT_EQ(std::vector<uint8_t>{0xC0}, orientation->value);

  EXPECT_EQ(kt270::Sync::kInSync, rig.Watch(Connector::kDigital)) << rig.Verdict(Connector::kDigital);
}

TEST_F(PanelOnDigital, TwoLinksAreAnnouncedAndDriveTheTransmitterDualLink) {
  ASSERT_EQ(EFI_SUCCESS, SetPanel(rig, PanelRecord().Links(2)));
  EXPECT_EQ(2u, rig.Node0Value("display-dual-link"));
  EXPECT_EQ("display-dual-link", rig.Node0Names().front());
  EXPECT_TRUE(rig.context()->DualLinkTmds[0]);
  EXPECT_EQ(kt270::Sync::kInSync, rig.Watch(Connector::kDigital)) << rig.Verdict(Connector::kDigital);
}

TEST_F(PanelOnDigital, ComponentBitsAndConnectFlagsFollowThePlatformValues) {
  rig.platform().SetValue(Key("C7E0B954-FEB9-4052-86F3-3B5E981A0370"), 1);
  rig.platform().SetValue(Key("AEB9C015-C75E-4548-9561-41CF796E0889"), 1);
  rig.platform().SetValue(Key("15904399-F7E0-4122-AAAD-D41F619B535B"), 0x21);  // low nibble 1
  ASSERT_EQ(EFI_SUCCESS, SetPanel(rig, PanelRecord()));
  EXPECT_EQ(8u, rig.Node0Value("display-link-component-bits"));
  EXPECT_EQ(8u, rig.Node0Value("display-pixel-component-bits"));
  EXPECT_EQ(0x40000u, rig.Node0Value("display-connect-flags"));
  EXPECT_TRUE(rig.context()->LinkComponent8Bit && rig.context()->PixelComponent8Bit);
  EXPECT_EQ(0, rig.context()->ConnectFlagA);
  EXPECT_EQ(0, rig.context()->ConnectFlagB);
}

TEST_F(PanelOnDigital, AThirdDisplayIsRefusedAndChangesNothing) {
  ASSERT_EQ(EFI_SUCCESS, SetPanel(rig, PanelRecord()));
  ASSERT_EQ(EFI_SUCCESS, rig.SetValue(keys::kTvStandard, uint64_t{1}));
  ADAPTER_CONTEXT* c = rig.context();
  ASSERT_EQ(2u, c->DisplayCount);
  c->CurrentDisplay = 0;
  rig.platform().ClearRecords();
  const uint32_t panel_before = c->PanelTiming[2];

  EXPECT_EQ(EFI_OUT_OF_RESOURCES, SetPanel(rig, PanelRecord().Links(2)));
  EXPECT_EQ(EFI_OUT_OF_RESOURCES, rig.SetValue(keys::kTvStandard, uint64_t{2}));
  std::vector<uint8_t> saved(256, 0);
  EXPECT_EQ(EFI_OUT_OF_RESOURCES, rig.Set(keys::kSavedConfig, saved.data(), saved.size()));

  EXPECT_EQ(2u, c->DisplayCount);
  EXPECT_EQ(0u, c->CurrentDisplay);
  EXPECT_EQ(panel_before, c->PanelTiming[2]);
  EXPECT_TRUE(rig.platform().properties().empty());
}

TEST_F(PanelOnDigital, ARecordOfTheWrongSizeChangesNothing) {
  PanelRecord p;
  EXPECT_EQ(EFI_INVALID_PARAMETER, rig.Set(keys::kPanelTiming, p.m, 48));
  EXPECT_EQ(EFI_INVALID_PARAMETER, rig.Set(keys::kPanelTiming, nullptr, 52));
  EXPECT_EQ(0u, rig.context()->DisplayCount);
  EXPECT_EQ(0u, rig.context()->PanelTiming[0]);
  EXPECT_TRUE(rig.platform().properties().empty());
}

// The panel's size becomes the display's mode, which Blt's bounds and the
// engine's 16-bit coordinates trust: outside the link limits (1..8192) or
// the frame-buffer aperture (32 MiB here) it is refused whole.
TEST_F(PanelOnDigital, SizesBeyondTheLimitsOrTheApertureChangeNothing) {
  const uint32_t refused[][2] = {{0, 768}, {1024, 0}, {8193, 768}, {1024, 8193}, {70000, 16}, {8192, 8192}};
  for (const auto& size : refused) {
    PanelRecord p;
    p.m[2] = size[0];
    p.m[7] = size[1];
    EXPECT_EQ(EFI_INVALID_PARAMETER, SetPanel(rig, p)) << size[0] << " x " << size[1];
  }
  EXPECT_EQ(0u, rig.context()->DisplayCount);
  EXPECT_EQ(0u, rig.context()->PanelTiming[0]);
  EXPECT_TRUE(rig.platform().properties().empty());

  PanelRecord widest;
  widest.m[2] = 8192;
  widest.m[7] = 64;
  ASSERT_EQ(EFI_SUCCESS, SetPanel(rig, widest));
  EXPECT_EQ(8192u, rig.context()->CurrentMode[0].HorizontalResolution);
}

// The platform's value keys for a panel, in the order they are read.
struct PanelKey {
  const char* key;
  uint32_t value;
};
const PanelKey kAnswers[] = {
    {"62AEE891-B278-459F-B0AE-61F3AA307733", 1},           // link type
    {"C5C993AA-A17C-49E6-8FE0-218D10CDF0CE", 1},           // data justification
    {"A739EF5B-7899-4ADC-B893-3FDCBB2ED2F3", 1},           // dither
    {"77017B49-461E-452A-A45C-3E4BB4333620", 7},           // inverter current
    {"35A95C6A-586C-4EEB-B6E3-E08F5A9D39B1", 3},           // inverter polarity
    {"BAE81D3F-0289-4B70-8901-E52A3DFB1A3C", 16000},       // PWM frequency
    {"605A5ABA-2CD2-41A4-8B42-2991E17F978B", 11},          // power sequence 1..7
    {"443BC2BD-1864-43DE-BCC3-6EE84F8E0885", 12},
    {"9DE9E4D3-DE72-4D80-A5EE-8C43E39C4A8C", 13},
    {"234747EB-F62D-45ED-BB96-597523F51708", 14},
    {"022C6D84-CEC3-4BBD-BA01-66776B6A2A29", 15},
    {"9344ABF7-78E0-4224-BD93-4ED4ADAA2A8C", 16},
    {"8F8D4BA3-A614-4A6A-8E22-76F97C4D7256", 17},
    {"C7E0B954-FEB9-4052-86F3-3B5E981A0370", 1},           // link component bits
    {"AEB9C015-C75E-4548-9561-41CF796E0889", 0},           // pixel component bits
    {"15904399-F7E0-4122-AAAD-D41F619B535B", 2},           // connect flags
};

const std::vector<std::string> kPanelNames = {
    "display-link-type", "display-data-justification", "display-dither-support", "inverter-current",
    "display-inverter", "backlight-PWM-freq", "display-inverter-default-cycle", "display-power-sequence",
    "display-link-component-bits", "display-pixel-component-bits", "display-connect-flags",
    "connector-type", "AAPL,boot-display",
};

class PanelConnector : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(EFI_SUCCESS, rig.Connect());
    ASSERT_EQ(EFI_SUCCESS, rig.PlatformInfo());
    rig.context()->ConnectorTable = table_;
    ASSERT_EQ(EFI_SUCCESS, rig.Select(0));
    rig.platform().ClearRecords();
  }
  Rig rig;
  const UINT64 table_[4] = {CONNECTOR_PANEL, 0x104, 0, 0};
};

TEST_F(PanelConnector, EveryKeyAnsweredInTableOrder) {
  for (const PanelKey& k : kAnswers) rig.platform().SetValue(Key(k.key), k.value);
  ASSERT_EQ(EFI_SUCCESS, SetPanel(rig, PanelRecord().Links(2)));

  std::vector<std::string> names = rig.Node0Names();
  ASSERT_EQ("display-dual-link", names.front());
  names.erase(names.begin());
  EXPECT_EQ(kPanelNames, names);

  std::vector<std::string> asked;
  for (const auto& r : rig.platform().value_requests()) {
    asked.push_back(sim::GuidText(r.key));
    EXPECT_EQ(4u, r.size);
  }
  std::vector<std::string> expected;
  for (const PanelKey& k : kAnswers) expected.push_back(sim::GuidText(Key(k.key)));
  EXPECT_EQ(expected, asked);

  ADAPTER_CONTEXT* c = rig.context();
  EXPECT_EQ(1u, rig.Node0Value("display-link-type"));
  EXPECT_EQ(1u, c->DisplayLinkType);
  EXPECT_EQ(1u, rig.Node0Value("display-data-justification"));
  EXPECT_TRUE(c->PanelFlagB6);
  EXPECT_EQ(1u, rig.Node0Value("display-dither-support"));
  EXPECT_FALSE(c->DitherDisabled);
  EXPECT_EQ(7u, rig.Node0Value("inverter-current"));
  EXPECT_TRUE(c->InverterCurrent);
  EXPECT_EQ(3u, rig.Node0Value("display-inverter"));
  EXPECT_TRUE(c->InverterActiveHigh);
  EXPECT_EQ(16000u, rig.Node0Value("backlight-PWM-freq"));
  EXPECT_EQ(255u, rig.Node0Value("display-inverter-default-cycle"));
  const simplatform::PropertyRecord* seq = rig.Node0("display-power-sequence");
  ASSERT_NE(nullptr, seq);
  ASSERT_EQ(48u, seq->value.size());
  uint32_t members[12];
  std::memcpy(members, seq->value.data(), 48);
  const uint32_t expected_seq[12] = {0, 11, 12, 13, 14, 15, 16, 17, 0, 0, 0, 0};
  EXPECT_TRUE(std::equal(members, members + 12, expected_seq));
  EXPECT_EQ(8u, rig.Node0Value("display-link-component-bits"));
  EXPECT_EQ(6u, rig.Node0Value("display-pixel-component-bits"));
  EXPECT_EQ(0u, rig.Node0Value("display-connect-flags"));
  EXPECT_EQ(1, c->ConnectFlagA);
  EXPECT_EQ(1, c->ConnectFlagB);
  EXPECT_TRUE(c->DualLinkPanel[0]);
  EXPECT_FALSE(c->DualLinkTmds[0]);

  const simplatform::PropertyRecord* orientation = rig.Database("ZEY,EFIOrientation");
  ASSERT_NE(nullptr, orientation);
  EXPECT_EQ(std::vector<uint8_t>{0x40}, orientation->value);
}

TEST_F(PanelConnector, NoKeyAnsweredGivesTheDefaults) {
  rig.context()->DisplayLinkType = 5;  // kept: read straight into the field
  ASSERT_EQ(EFI_SUCCESS, SetPanel(rig, PanelRecord()));
  EXPECT_EQ(kPanelNames, rig.Node0Names());
  EXPECT_EQ(5u, rig.Node0Value("display-link-type"));
  EXPECT_EQ(0u, rig.Node0Value("display-data-justification"));
  EXPECT_EQ(0u, rig.Node0Value("display-dither-support"));
  EXPECT_TRUE(rig.context()->DitherDisabled);
  EXPECT_EQ(0u, rig.Node0Value("inverter-current"));
  EXPECT_EQ(2u, rig.Node0Value("display-inverter"));
  EXPECT_EQ(21000u, rig.Node0Value("backlight-PWM-freq"));
  EXPECT_EQ(255u, rig.Node0Value("display-inverter-default-cycle"));
  const simplatform::PropertyRecord* seq = rig.Node0("display-power-sequence");
  ASSERT_NE(nullptr, seq);
  uint32_t members[12];
  std::memcpy(members, seq->value.data(), 48);
  const uint32_t defaults[12] = {0, 0, 1, 200, 200, 1, 0, 400, 0, 0, 0, 0};
  EXPECT_TRUE(std::equal(members, members + 12, defaults));
  EXPECT_EQ(0u, rig.Node0Value("display-connect-flags"));
  EXPECT_FALSE(rig.context()->DualLinkPanel[0]);
}

TEST(PanelWithoutTable, ActsAsConnectorTypeZero) {
  Rig rig;
  ASSERT_EQ(EFI_SUCCESS, rig.Connect());
  rig.platform().ClearRecords();
  ASSERT_EQ(EFI_SUCCESS, SetPanel(rig, PanelRecord().Links(2).Flags(1)));
  // Only the dual-link note and the connector properties, orientation 0.
  const std::vector<std::string> names = {"display-dual-link", "connector-type", "AAPL,boot-display"};
  EXPECT_EQ(names, rig.Node0Names());
  EXPECT_TRUE(rig.platform().value_requests().empty());
  EXPECT_TRUE(rig.context()->PanelFlagB0);
  EXPECT_FALSE(rig.context()->DualLinkTmds[0]);
  const simplatform::PropertyRecord* orientation = rig.Database("ZEY,EFIOrientation");
  ASSERT_NE(nullptr, orientation);
  EXPECT_EQ(std::vector<uint8_t>{0}, orientation->value);
}

struct TvCase {
  uint64_t standard;
  uint8_t ntsc;
  uint64_t row;
  uint8_t declared;  // EDID byte 37
};

class Television : public ::testing::TestWithParam<TvCase> {};

TEST_P(Television, StandardSelectsItsRowAndLightsTheSet) {
  const TvCase& tv = GetParam();
  Rig rig;
  rig.Plug(Connector::kTv, Edid().Byte(37, tv.declared));
  ASSERT_EQ(EFI_SUCCESS, rig.Connect());
  ASSERT_EQ(EFI_SUCCESS, rig.PlatformInfo());
  rig.platform().ClearRecords();

  ASSERT_EQ(EFI_SUCCESS, rig.SetValue(keys::kTvStandard, tv.standard));
  ADAPTER_CONTEXT* c = rig.context();
  EXPECT_EQ(tv.ntsc, c->TvUseNtsc[0]);
  EXPECT_EQ(tv.row, c->ModeIndex[0]);
  EXPECT_EQ(0x20u, c->ConnectorType[0]);
  EXPECT_TRUE(c->ModeFromList[0]);
  EXPECT_FALSE(c->PanelFromPlatform);
  EXPECT_EQ(1u, c->DisplayCount);
  // One byte, and no connector properties for a television.
  const std::vector<std::string> names = {"display-tv-use-ntsc", "ZEY,EFIDisplay"};
  EXPECT_EQ(names, rig.Node0Names());
  EXPECT_EQ(Bytes("TV"), rig.Node0("ZEY,EFIDisplay")->value);
  EXPECT_EQ(std::vector<uint8_t>{tv.ntsc}, rig.Node0("display-tv-use-ntsc")->value);
  EXPECT_EQ(nullptr, rig.Database("ZEY,EFIOrientation"));
  EXPECT_EQ(kt270::Sync::kInSync, rig.Watch(Connector::kTv)) << rig.Verdict(Connector::kTv);
}

INSTANTIATE_TEST_SUITE_P(Standards, Television,
                         ::testing::Values(TvCase{1, 1, 17, 0x40}, TvCase{2, 0, 18, 0x20}));

TEST(TelevisionStandard, ThreeIsRefusedAfterNamingTheSlot) {
  Rig rig;
  ASSERT_EQ(EFI_SUCCESS, rig.Connect());
  rig.context()->CurrentDisplay = 1;
  rig.platform().ClearRecords();
  EXPECT_EQ(EFI_UNSUPPORTED, rig.SetValue(keys::kTvStandard, uint64_t{3}));
  EXPECT_EQ(0u, rig.context()->CurrentDisplay);
  EXPECT_EQ(0u, rig.context()->DisplayCount);
  EXPECT_EQ(0u, rig.context()->ConnectorType[0]);
  EXPECT_TRUE(rig.platform().properties().empty());
  EXPECT_EQ(EFI_INVALID_PARAMETER, rig.SetValue(keys::kTvStandard, uint32_t{1}));
}

}  // namespace
}  // namespace platform_if
