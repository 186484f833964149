// The saved display configuration: matching against the attached displays
// connector by connector, and what a match configures and publishes.
#include "tests/platform_if/platform_rig.h"

namespace platform_if {
namespace {

using kt270::Connector;

// Words w0..w10 of a timing block.
struct SavedTiming {
  uint16_t w[11];
};
// 1024 x 768 at 65 MHz shown from an 800 x 600 surface; 1280 x 1024 at 108 MHz.
const SavedTiming kXgaFrom800 = {{6500, 800, 1344, 24, 136, 600, 806, 3, 6, 768, 1024}};
const SavedTiming kSxga = {{10800, 1280, 1688, 48, 112, 1024, 1066, 1, 3, 1024, 1280}};

class SavedRecord {
 public:
  SavedRecord() : b_(256, 0) {}
  // Entry 0 (A) or 1 (B).
  SavedRecord& Entry(int e, uint8_t checksum, const SavedTiming& t, uint16_t flags, uint8_t code,
                     uint32_t panel_flags) {
    b_[e == 0 ? 7 : 15] = checksum;
    uint8_t* timing = &b_[e == 0 ? 0x10 : 0x28];
    for (int i = 0; i < 11; ++i) {
      timing[i * 2] = t.w[i] & 0xFF;
      timing[i * 2 + 1] = t.w[i] >> 8;
    }
    timing[22] = flags >> 8;  // most significant byte first
    timing[23] = flags & 0xFF;
    uint8_t* panel = Panel(e);
    panel[0x21] = code;
    std::memcpy(panel + 0x24, &panel_flags, 4);
    return *this;
  }
  uint8_t* Panel(int e) { return &b_[e == 0 ? 0x40 : 0xA0]; }
  const std::vector<uint8_t>& bytes() const { return b_; }

 private:
  std::vector<uint8_t> b_;
};

// Orientation bits of panel block A that match built-in entries whose
// orientation code is 0xC (digital, analogue A) and 0x8 (television).
constexpr uint32_t kOrientationC = 0xC0000000;
constexpr uint32_t kOrientation8 = 0x80000000;

class SavedConfig : public ::testing::Test {
 protected:
  void Start(Connector connector, const Edid& edid, bool platform_info = true) {
    rig.Plug(connector, edid);
    ASSERT_EQ(EFI_SUCCESS, rig.Connect());
    if (platform_info) {
      ASSERT_EQ(EFI_SUCCESS, rig.PlatformInfo());
    }
    rig.platform().ClearRecords();
  }
  uint8_t Checksum() const { return rig.PluggedEdid(0)[127]; }
  EFI_STATUS Apply(const SavedRecord& r) { return rig.Set(keys::kSavedConfig, r.bytes().data(), 256); }
  void ExpectRecordPublished(const SavedRecord& r) {
    const simplatform::PropertyRecord* mvad = rig.Database("MVAD");
    const simplatform::PropertyRecord* saved = rig.Database("saved-config");
    ASSERT_NE(nullptr, mvad);
    ASSERT_NE(nullptr, saved);
    EXPECT_EQ(std::vector<uint8_t>(r.bytes().begin(), r.bytes().begin() + 64), mvad->value);
    EXPECT_EQ(r.bytes(), saved->value);
  }
  Rig rig;
};

// Either size of an entry that could match (surface, or the timing's active
// area) outside 1..8192 or the aperture refuses the record before anything
// is stored or published.
TEST_F(SavedConfig, SizesBeyondTheLimitsOrTheApertureChangeNothing) {
  Start(Connector::kAnalogA, Xga());
  for (int word : {1, 5, 9, 10}) {
    for (uint16_t value : {uint16_t{0}, uint16_t{8193}, uint16_t{65535}}) {
      SavedTiming t = kXgaFrom800;
      t.w[word] = value;
      SavedRecord r;
      r.Entry(1, Checksum(), t, 0, 0x10, kOrientationC);
      EXPECT_EQ(EFI_INVALID_PARAMETER, Apply(r)) << "w" << word << " = " << value;
    }
  }
  SavedTiming huge = kXgaFrom800;
  huge.w[1] = 8192;
  huge.w[5] = 8192;
  SavedRecord r;
  r.Entry(0, Checksum(), huge, 0, 0x10, kOrientationC);
  EXPECT_EQ(EFI_INVALID_PARAMETER, Apply(r));
  EXPECT_EQ(0u, rig.context()->DisplayCount);
  EXPECT_EQ(0, rig.context()->SavedConfig[0x10]);
  EXPECT_TRUE(rig.platform().properties().empty());
}

TEST_F(SavedConfig, AnalogueMatchConfiguresTimingAndModesOnly) {
  Start(Connector::kAnalogA, Xga());
  SavedRecord r;
  r.Entry(0, Checksum(), kXgaFrom800, 0x0003, 0x10, kOrientationC);
  ASSERT_EQ(EFI_SUCCESS, Apply(r));
  ExpectRecordPublished(r);

  ADAPTER_CONTEXT* c = rig.context();
  EXPECT_EQ(1u, c->ConnectorIndex);
  EXPECT_EQ(4u, c->ConnectorType[0]);
  EXPECT_EQ(1u, c->DisplayCount);
  const DETAILED_TIMING& t = c->Timing1;
  EXPECT_EQ(1, t.Probed);
  EXPECT_EQ(6500, t.PixelClock);
  EXPECT_EQ(1024, t.HActive);
  EXPECT_EQ(1344, t.HTotal);
  EXPECT_EQ(320, t.HBlank);
  EXPECT_EQ(24, t.HSyncOffset);
  EXPECT_EQ(136, t.HSyncWidth);
  EXPECT_EQ(768, t.VActive);
  EXPECT_EQ(806, t.VTotal);
  EXPECT_EQ(38, t.VBlank);
  EXPECT_EQ(3, t.VSyncOffset);
  EXPECT_EQ(6, t.VSyncWidth);
  EXPECT_EQ(800u, c->CurrentMode[0].HorizontalResolution);
  EXPECT_EQ(600u, c->CurrentMode[0].VerticalResolution);
  EXPECT_EQ(32u, c->CurrentMode[0].ColorDepth);
  EXPECT_EQ(1024u, c->NativeMode[0].HorizontalResolution);
  EXPECT_EQ(768u, c->NativeMode[0].VerticalResolution);
  EXPECT_FALSE(c->UseNativeMode[0]);
  EXPECT_TRUE(c->PanelFlagB0 && c->PanelFlagB1);

  const std::vector<std::string> names = {"ZEY,EFIDisplay", "connector-type", "AAPL,boot-display"};
  EXPECT_EQ(names, rig.Node0Names());
  EXPECT_EQ(Bytes("VGAA"), rig.Node0("ZEY,EFIDisplay")->value);
  EXPECT_EQ(std::vector<uint8_t>{0xC0}, rig.Database("ZEY,EFIOrientation")->value);
  EXPECT_EQ(kt270::Sync::kInSync, rig.Watch(Connector::kAnalogA)) << rig.Verdict(Connector::kAnalogA);
}

TEST_F(SavedConfig, DigitalMatchOnEntryBDrivesTheTransmitterDualLink) {
  Start(Connector::kDigital, Sxga().Digital());
  SavedRecord r;
  // Entry A is empty, but its panel block still carries the orientation.
  r.Entry(0, Checksum(), SavedTiming{}, 0, 0x08, kOrientationC);
  r.Entry(1, Checksum(), kSxga, 0x1000, 0x08, 0x00000010);
  r.Panel(1)[0x22] = 8;
  r.Panel(1)[0x23] = 7;
  ASSERT_EQ(EFI_SUCCESS, Apply(r));

  ADAPTER_CONTEXT* c = rig.context();
  EXPECT_EQ(0u, c->ConnectorIndex);
  EXPECT_EQ(2u, c->ConnectorType[0]);
  EXPECT_TRUE(c->DualLinkTmds[0]);
  EXPECT_EQ(nullptr, rig.Node0("display-dual-link"));
  const std::vector<std::string> names = {"display-link-component-bits", "display-pixel-component-bits",
                                          "display-connect-flags", "ZEY,EFIDisplay", "connector-type",
                                          "AAPL,boot-display"};
  EXPECT_EQ(names, rig.Node0Names());
  EXPECT_EQ(8u, rig.Node0Value("display-link-component-bits"));
  EXPECT_EQ(6u, rig.Node0Value("display-pixel-component-bits"));
  EXPECT_EQ(0u, rig.Node0Value("display-connect-flags"));
  EXPECT_EQ(0, c->ConnectFlagA);
  EXPECT_EQ(1, c->ConnectFlagB);
  EXPECT_EQ(kt270::Sync::kInSync, rig.Watch(Connector::kDigital)) << rig.Verdict(Connector::kDigital);
}

TEST_F(SavedConfig, AnAnalogueDisplayIsNotTakenForTheDigitalConnector) {
  // Digital and analogue A share DDC channel 1; an analogue EDID there must
  // not match the digital entry, even with the digital code saved.
  Start(Connector::kAnalogA, Xga());
  SavedRecord r;
  r.Entry(0, Checksum(), kXgaFrom800, 0, 0x08, kOrientationC);
  EXPECT_EQ(EFI_NOT_FOUND, Apply(r));
  EXPECT_EQ(4u, rig.context()->ConnectorIndex);
  EXPECT_EQ(0u, rig.context()->ConnectorType[0]);
}

TEST_F(SavedConfig, PanelMatchWritesEveryPanelProperty) {
  ASSERT_EQ(EFI_SUCCESS, rig.Connect());
  ASSERT_EQ(EFI_SUCCESS, rig.PlatformInfo());
  ADAPTER_CONTEXT* c = rig.context();
  const UINT64 table[4] = {CONNECTOR_PANEL, 0x100, 0, 0};
  c->ConnectorTable = table;
  // The panel has no DDC channel of its own: its EDID is the third cache.
  std::vector<uint8_t> panel_edid = Sxga().Digital().Build();
  std::memcpy(c->Edid3, panel_edid.data(), 128);
  c->EdidValid3 = 1;
  rig.platform().ClearRecords();

  SavedRecord r;
  r.Entry(0, panel_edid[127], kSxga, 0x0040, 0x40, 0x0000002D);
  for (uint32_t i = 0; i < 7; ++i) {
    uint32_t v = 21 + i;
    std::memcpy(r.Panel(0) + i * 4, &v, 4);
  }
  r.Panel(0)[0x22] = 8;
  ASSERT_EQ(EFI_SUCCESS, Apply(r));

  const std::vector<std::string> names = {
      "display-dual-link", "display-link-type", "display-data-justification", "display-dither-support",
      "inverter-current", "display-inverter", "backlight-PWM-freq", "display-inverter-default-cycle",
      "display-power-sequence", "display-link-component-bits", "display-pixel-component-bits",
      "display-connect-flags", "connector-type", "AAPL,boot-display",
  };
  EXPECT_EQ(names, rig.Node0Names());
  EXPECT_EQ(2u, rig.Node0Value("display-dual-link"));
  EXPECT_EQ(0u, rig.Node0Value("display-link-type"));
  EXPECT_EQ(0u, rig.Node0Value("display-data-justification"));
  EXPECT_EQ(1u, rig.Node0Value("display-dither-support"));
  EXPECT_EQ(3u, rig.Node0Value("inverter-current"));
  EXPECT_EQ(3u, rig.Node0Value("display-inverter"));
  EXPECT_EQ(21000u, rig.Node0Value("backlight-PWM-freq"));
  EXPECT_EQ(std::vector<uint8_t>{255}, rig.Node0("display-inverter-default-cycle")->value);
  uint32_t seq[12];
  ASSERT_EQ(48u, rig.Node0("display-power-sequence")->value.size());
  std::memcpy(seq, rig.Node0("display-power-sequence")->value.data(), 48);
  const uint32_t expected_seq[12] = {0, 21, 22, 23, 24, 25, 26, 27, 0, 0, 0, 0};
  EXPECT_TRUE(std::equal(seq, seq + 12, expected_seq));
  EXPECT_EQ(8u, rig.Node0Value("display-link-component-bits"));
  EXPECT_EQ(6u, rig.Node0Value("display-pixel-component-bits"));
  EXPECT_EQ(0x40000u, rig.Node0Value("display-connect-flags"));

  EXPECT_TRUE(c->DualLinkPanel[0]);
  EXPECT_FALSE(c->DitherDisabled);
  EXPECT_TRUE(c->InverterCurrent);
  EXPECT_TRUE(c->InverterActiveHigh);
  EXPECT_TRUE(c->PanelFlag6);
  EXPECT_EQ(0, c->ConnectFlagB);
  EXPECT_EQ(1u, c->DisplayCount);
  EXPECT_EQ(1280, c->Timing3.HActive);
}

TEST_F(SavedConfig, TheVendorsTelevisionGoesToTheTelevisionSetUp) {
  Start(Connector::kTv, Edid().Id(0x06, 0x10, 0x08, 0x9D).Byte(37, 0x40));
  SavedRecord r;
  r.Entry(0, Checksum(), kXgaFrom800, 0x0000, 0x02, kOrientation8);
  ASSERT_EQ(EFI_SUCCESS, Apply(r));
  ExpectRecordPublished(r);

  ADAPTER_CONTEXT* c = rig.context();
  EXPECT_EQ(3u, c->ConnectorIndex);
  EXPECT_EQ(0x20u, c->ConnectorType[0]);
  EXPECT_EQ(1, c->TvUseNtsc[0]);
  EXPECT_EQ(17u, c->ModeIndex[0]);
  EXPECT_EQ(1u, c->DisplayCount);
  EXPECT_NE(6500, c->Timing2.PixelClock);  // no saved timing taken
  const std::vector<std::string> names = {"display-tv-use-ntsc", "ZEY,EFIDisplay"};
  EXPECT_EQ(names, rig.Node0Names());
  EXPECT_EQ(nullptr, rig.Database("ZEY,EFIOrientation"));
  EXPECT_EQ(kt270::Sync::kInSync, rig.Watch(Connector::kTv)) << rig.Verdict(Connector::kTv);
}

TEST_F(SavedConfig, NothingMatches) {
  Start(Connector::kAnalogA, Xga());
  SavedRecord r;
  r.Entry(0, Checksum(), SavedTiming{}, 0, 0x10, kOrientationC);
  r.Entry(1, Checksum(), SavedTiming{}, 0, 0x10, 0);
  EXPECT_EQ(EFI_NOT_FOUND, Apply(r));
  ExpectRecordPublished(r);
  ADAPTER_CONTEXT* c = rig.context();
  EXPECT_EQ(4u, c->ConnectorIndex);
  EXPECT_EQ(0u, c->ConnectorType[0]);
  EXPECT_EQ(0u, c->DisplayCount);
  EXPECT_TRUE(rig.Node0Names().empty());
  EXPECT_EQ(kt270::Sync::kNoSignal, rig.Watch(Connector::kAnalogA));

  // A wrong checksum byte or orientation is no match either.
  SavedRecord wrong;
  wrong.Entry(0, static_cast<uint8_t>(Checksum() + 1), kXgaFrom800, 0, 0x10, kOrientationC);
  EXPECT_EQ(EFI_NOT_FOUND, Apply(wrong));
  SavedRecord turned;
  turned.Entry(0, Checksum(), kXgaFrom800, 0, 0x10, 0x40000000);
  EXPECT_EQ(EFI_NOT_FOUND, Apply(turned));
}

TEST_F(SavedConfig, TheTerminatingPairNeverMatches) {
  // Code 0x01 stands for no connector; the scan ends on analogue B's
  // channel, where this display answers.
  Start(Connector::kAnalogB, Xga());
  SavedRecord r;
  r.Entry(0, Checksum(), kXgaFrom800, 0, 0x01, 0);
  EXPECT_EQ(EFI_NOT_FOUND, Apply(r));
  EXPECT_EQ(0u, rig.context()->DisplayCount);
}

TEST_F(SavedConfig, BeforeThePlatformInformationNoTableIsRead) {
  Start(Connector::kAnalogA, Xga(), /*platform_info=*/false);
  SavedRecord r;
  r.Entry(0, Checksum(), kXgaFrom800, 0, 0x10, 0);
  EXPECT_EQ(EFI_NOT_FOUND, Apply(r));
  ExpectRecordPublished(r);
  EXPECT_EQ(0u, rig.context()->ConnectorIndex);
  EXPECT_EQ(0u, rig.context()->ConnectorType[0]);
  EXPECT_EQ(0u, rig.context()->DisplayCount);
}

TEST_F(SavedConfig, SizeAndSlotsAreChecked) {
  Start(Connector::kAnalogA, Xga());
  SavedRecord r;
  r.Entry(0, Checksum(), kXgaFrom800, 0, 0x10, kOrientationC);
  EXPECT_EQ(EFI_INVALID_PARAMETER, rig.Set(keys::kSavedConfig, r.bytes().data(), 255));
  EXPECT_EQ(EFI_INVALID_PARAMETER, rig.Set(keys::kSavedConfig, nullptr, 256));
  EXPECT_TRUE(rig.platform().properties().empty());

  ASSERT_EQ(EFI_SUCCESS, Apply(r));
  ASSERT_EQ(EFI_SUCCESS, Apply(r));  // the second slot
  EXPECT_EQ(2u, rig.context()->DisplayCount);
  rig.platform().ClearRecords();
  EXPECT_EQ(EFI_OUT_OF_RESOURCES, Apply(r));
  EXPECT_TRUE(rig.platform().properties().empty());
  EXPECT_EQ(kt270::Sync::kInSync, rig.Watch(Connector::kAnalogA)) << rig.Verdict(Connector::kAnalogA);
}

}  // namespace
}  // namespace platform_if
