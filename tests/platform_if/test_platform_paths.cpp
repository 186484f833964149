// Platform paths no other test takes: a saved television set-up on the
// 50 Hz standard and the television check's two other conditions, the
// connector codes that stand for types the built-in table lacks, the panel
// flag bits one at a time, the link limits of types 0x01 and 0x40, and a
// panel handed over on an analogue connector.
#include "tests/platform_if/platform_rig.h"

namespace platform_if {
namespace {

using kt270::Connector;

// A saved configuration whose entry A holds 1024 x 768 at 65 MHz shown from
// an 800 x 600 surface.
std::vector<uint8_t> SavedEntryA(uint8_t checksum, uint16_t timing_flags, uint8_t code, uint32_t panel_flags) {
  const uint16_t w[11] = {6500, 800, 1344, 24, 136, 600, 806, 3, 6, 768, 1024};
  std::vector<uint8_t> b(256, 0);
  b[7] = checksum;
  for (int i = 0; i < 11; ++i) {
    b[0x10 + i * 2] = w[i] & 0xFF;
    b[0x10 + i * 2 + 1] = w[i] >> 8;
  }
  b[0x10 + 22] = timing_flags >> 8;  // most significant byte first
  b[0x10 + 23] = timing_flags & 0xFF;
  b[0x40 + 0x21] = code;
  std::memcpy(&b[0x40 + 0x24], &panel_flags, 4);
  return b;
}

struct Bench {
  void Start(Connector connector, const Edid& edid) {
    rig.Plug(connector, edid);
    ASSERT_EQ(EFI_SUCCESS, rig.Connect());
    ASSERT_EQ(EFI_SUCCESS, rig.PlatformInfo());
    rig.platform().ClearRecords();
  }
  EFI_STATUS Apply(const std::vector<uint8_t>& record) { return rig.Set(keys::kSavedConfig, record.data(), 256); }
  uint8_t Checksum() const { return rig.PluggedEdid(0)[127]; }
  Rig rig;
};

// Orientation bits of panel block A for the built-in entries' flags words.
constexpr uint32_t kOrientDigitalAnalogueA = 0xC0000000;
constexpr uint32_t kOrientAnalogueB = 0x40000000;
constexpr uint32_t kOrientTelevision = 0x80000000;

TEST(PlatformPaths, SavedTelevisionOnStandardTwo) {
  Bench b;
  // The vendor's other television product, declaring the 50 Hz standard.
  b.Start(Connector::kTv, Edid().Id(0x06, 0x10, 0x0C, 0x9D).Byte(37, 0x20));
  ASSERT_EQ(EFI_SUCCESS, b.Apply(SavedEntryA(b.Checksum(), 0x0020, 0x02, kOrientTelevision)));
  ADAPTER_CONTEXT* c = b.rig.context();
  EXPECT_EQ(0, c->TvUseNtsc[0]);
  EXPECT_EQ(18u, c->ModeIndex[0]);
  EXPECT_EQ(0x20u, c->ConnectorType[0]);
  const simplatform::PropertyRecord* ntsc = b.rig.Node0("display-tv-use-ntsc");
  ASSERT_NE(nullptr, ntsc);
  EXPECT_EQ(std::vector<uint8_t>{0}, ntsc->value);
  EXPECT_EQ(kt270::TvStandard::k625Line50Hz, b.rig.adapter().DecodeOutput(kt270::Output::kTv).tv_standard);
  EXPECT_EQ(kt270::Sync::kInSync, b.rig.Watch(Connector::kTv)) << b.rig.Verdict(Connector::kTv);
}

// The vendor's television product with an EDID of version 1.4 is no
// television to the saved configuration: its timing is taken as saved.
TEST(PlatformPaths, SavedTelevisionCheckNeedsVersionOneThree) {
  Bench b;
  b.Start(Connector::kTv, Edid().Id(0x06, 0x10, 0x08, 0x9D).Byte(19, 4).Byte(37, 0x40));
  ASSERT_EQ(EFI_SUCCESS, b.Apply(SavedEntryA(b.Checksum(), 0x0020, 0x02, kOrientTelevision)));
  ADAPTER_CONTEXT* c = b.rig.context();
  EXPECT_EQ(6500, c->Timing2.PixelClock);
  EXPECT_EQ(800u, c->CurrentMode[0].HorizontalResolution);
  EXPECT_EQ(1024u, c->NativeMode[0].HorizontalResolution);
  EXPECT_EQ(nullptr, b.rig.Node0("display-tv-use-ntsc"));
  EXPECT_NE(nullptr, b.rig.Database("ZEY,EFIOrientation"));
}

// Codes map onto connector types; 0x04 (type 0x01) and 0x80 (type 0x40)
// name types the built-in table does not list, so they never match.
TEST(PlatformPaths, SavedConnectorCodes) {
  struct Case {
    Connector connector;
    bool analogue;
    uint8_t code;
    uint32_t orientation;
    EFI_STATUS status;
    uint32_t type;
  } cases[] = {
      {Connector::kAnalogB, true, 0x20, kOrientAnalogueB, EFI_SUCCESS, 0x08},
      {Connector::kAnalogA, true, 0x04, kOrientDigitalAnalogueA, EFI_NOT_FOUND, 0},
      {Connector::kAnalogA, true, 0x10, kOrientDigitalAnalogueA, EFI_SUCCESS, 0x04},
      {Connector::kTv, false, 0x80, kOrientTelevision, EFI_NOT_FOUND, 0},
      {Connector::kTv, false, 0x02, kOrientTelevision, EFI_SUCCESS, 0x20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << std::hex << int(c.code));
    Bench fresh;
    fresh.Start(c.connector, c.analogue ? Xga() : Edid().Vendor(0x08, 0x9D).Byte(37, 0x40));
    EXPECT_EQ(c.status, fresh.Apply(SavedEntryA(fresh.Checksum(), 0, c.code, c.orientation)));
    EXPECT_EQ(c.type, fresh.rig.context()->ConnectorType[0]);
    EXPECT_EQ(c.status == EFI_SUCCESS ? 1u : 0u, fresh.rig.context()->DisplayCount);
  }
}

// The platform's panel record for 1280 x 1024 at 108 MHz.
struct PanelRecord {
  uint32_t m[13] = {108000000, 1687, 1280, 1688, 1328, 1440, 1065, 1024, 1066, 1025, 1028, 1, 0};
};

// Bit 1 is the vertical sync polarity flag, bit 2 the CRTC's panel bit
// (bit 0 of 0x6088 / 0x6888); each alone changes only its own.
TEST(PlatformPaths, PanelFlagBitsOneAtATime) {
  for (uint32_t flags : {2u, 4u}) {
    SCOPED_TRACE(flags);
    Bench fresh;
    fresh.Start(Connector::kDigital, Sxga().Digital());
    ASSERT_EQ(EFI_SUCCESS, fresh.rig.Select(0));
    PanelRecord p;
    p.m[12] = flags;
    ASSERT_EQ(EFI_SUCCESS, fresh.rig.Set(keys::kPanelTiming, p.m, sizeof p.m));
    ADAPTER_CONTEXT* c = fresh.rig.context();
    EXPECT_EQ(0, c->PanelFlagB0);
    EXPECT_EQ(flags == 2, c->PanelFlagB1 != 0);
    EXPECT_EQ(flags == 4, c->PanelFlag3 != 0);
    uint8_t crtc = c->CrtcIndex[0];
    ASSERT_LT(crtc, 2);
    // A polarity flag clears bit 0 of its sync control.
    const uint32_t base = crtc * 0x800;
    kt270::Adapter& m = fresh.rig.adapter();
    EXPECT_EQ(1u, m.PeekReg(base + 0x600C) & 1);
    EXPECT_EQ(flags == 2 ? 0u : 1u, m.PeekReg(base + 0x602C) & 1);
    EXPECT_EQ(flags == 4 ? 1u : 0u, m.PeekReg(base + 0x6088) & 1);
  }
}

TEST(PlatformPaths, LinkLimitsOfTypesOneAndSixtyFour) {
  Bench b;
  b.Start(Connector::kAnalogA, Xga());
  const UINT64 table[6] = {CONNECTOR_DIGITAL1, 0, CONNECTOR_TV2, 0, 0, 0};
  b.rig.context()->ConnectorTable = table;
  struct Case {
    uint32_t index, engine_clock, links;
    uint64_t low1, high1, low2, high2;
  } cases[] = {
      {0, 45000, 2, 7000000, 165000000, 165000000, 330000000},
      {0, 15000, 2, 7000000, 135000000, 165000000, 270000000},
      {1, 45000, 1, 7000000, 400000000, 0, 0},
      {1, 30000, 1, 7000000, 270000000, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "entry " << c.index << " at " << c.engine_clock);
    b.rig.context()->EngineClock = c.engine_clock;
    ASSERT_EQ(EFI_SUCCESS, b.rig.Select(c.index));
    struct {
      uint32_t w, h, links, reserved;
      uint64_t low1, high1, low2, high2;
    } l;
    std::memset(&l, 0xEE, sizeof l);
    UINTN size = sizeof l;
    ASSERT_EQ(EFI_SUCCESS, b.rig.Get(keys::kLinkLimits, &l, &size));
    EXPECT_EQ(8192u, l.w);
    EXPECT_EQ(8192u, l.h);
    EXPECT_EQ(c.links, l.links);
    EXPECT_EQ(c.low1, l.low1);
    EXPECT_EQ(c.high1, l.high1);
    EXPECT_EQ(c.low2, l.low2);
    EXPECT_EQ(c.high2, l.high2);
  }
}

// On an analogue connector the panel description changes the three flags
// and asks the platform for nothing and publishes no panel property.
TEST(PlatformPaths, PanelOnAnAnalogueConnectorPublishesNothing) {
  Bench b;
  b.Start(Connector::kAnalogA, Sxga());
  ASSERT_EQ(EFI_SUCCESS, b.rig.Select(1));
  b.rig.platform().ClearRecords();
  PanelRecord p;
  p.m[12] = 7;
  ASSERT_EQ(EFI_SUCCESS, b.rig.Set(keys::kPanelTiming, p.m, sizeof p.m));
  ADAPTER_CONTEXT* c = b.rig.context();
  EXPECT_EQ(1, c->PanelFlagB0);
  EXPECT_EQ(1, c->PanelFlagB1);
  EXPECT_EQ(1, c->PanelFlag3);
  EXPECT_TRUE(b.rig.platform().value_requests().empty());
  for (const std::string& name : b.rig.Node0Names()) {
    EXPECT_TRUE(name == "ZEY,EFIDisplay" || name == "connector-type" || name == "AAPL,boot-display") << name;
  }
}

}  // namespace
}  // namespace platform_if
