// The first detailed timing over hand-made descriptors, written out byte by
// byte (VESA E-EDID detailed timing layout) so that no encoder of ours
// stands between the table and the parser.
#include <gtest/gtest.h>

#include <cstring>

#include "driver/hw/edid.h"

namespace {

struct Expect {
  uint16_t flags, clock;
  uint16_t h_active, h_total, h_sync_offset, h_sync_width, h_blank;
  uint16_t v_active, v_total, v_sync_offset, v_sync_width, v_blank;
};

struct Case {
  const char* name;
  uint8_t d[18];
  bool digital;
  bool result;
  Expect e;  // checked when result is true
};

// clang-format off
const Case kCases[] = {
    // 1920x1080i at 74.25 MHz: fields of 540 lines, blanking 22, sync +/+.
    {"interlaced1080",
     {0x01, 0x1D, 0x80, 0x18, 0x71, 0x1C, 0x16, 0x20, 0x58, 0x2C, 0x25, 0x00, 0xC4, 0x8E, 0x21, 0x00, 0x00, 0x9E},
     true, true, {0x0B, 7425, 1920, 2200, 88, 44, 280, 1080, 1125, 5, 10, 22}},
    // 1366x768 at 85.5 MHz: stored 1360 wide, total from 1366.
    {"width1366",
     {0x66, 0x21, 0x56, 0xAA, 0x51, 0x00, 0x1E, 0x30, 0x46, 0x8F, 0x33, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x18},
     true, true, {0x00, 8550, 1360, 1792, 70, 143, 426, 768, 798, 3, 3, 30}},
    // 1920x1080 at 148.5 MHz, +h -v; the same on an analogue display with
    // separate sync.
    {"progressive1080",
     {0x02, 0x3A, 0x80, 0x18, 0x71, 0x38, 0x2D, 0x40, 0x58, 0x2C, 0x45, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1A},
     false, true, {0x01, 14850, 1920, 2200, 88, 44, 280, 1080, 1125, 4, 5, 45}},
    // Every high-bit nibble and pair in use: byte 11 = 11 10 01 00.
    {"highBits",
     {0x34, 0x12, 0x0F, 0x21, 0xA3, 0x07, 0x05, 0xB6, 0x11, 0x22, 0x9A, 0xE4, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1C},
     true, true, {0x02, 0x1234, 0xA08, 0xA0F + 0x321, 0x311, 0x222, 0x321, 0xB07, 0xB07 + 0x605, 0x19, 0x0A, 0x605}},
    // Digital composite sync (bits 4..3 = 10) on a digital display: parsed,
    // and the polarity bits of byte 17 mean nothing then.
    {"digitalCompositeOnDigital",
     {0x02, 0x3A, 0x80, 0x18, 0x71, 0x38, 0x2D, 0x40, 0x58, 0x2C, 0x45, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x16},
     true, true, {0x00, 14850, 1920, 2200, 88, 44, 280, 1080, 1125, 4, 5, 45}},
    // 1440x240 fields at 27 MHz: 1440x480i, a pixel-doubled TV format.
    {"tv480iDigital",
     {0x8C, 0x0A, 0xA0, 0x14, 0x51, 0xF0, 0x16, 0x00, 0x26, 0x7C, 0x43, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x98},
     true, false, {}},
    {"tv576iDigital",
     {0x8C, 0x0A, 0xA0, 0x20, 0x51, 0x20, 0x18, 0x10, 0x18, 0x7E, 0x24, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x98},
     true, false, {}},
    // The same 480i on an analogue display is a timing like any other.
    {"tv480iAnalogue",
     {0x8C, 0x0A, 0xA0, 0x14, 0x51, 0xF0, 0x16, 0x00, 0x26, 0x7C, 0x43, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x98},
     false, true, {0x08, 2700, 1440, 1716, 38, 124, 276, 480, 525, 9, 6, 22}},
    // 1440x480 progressive at 27 MHz is not refused.
    {"tv480pDigital",
     {0x8C, 0x0A, 0xA0, 0x8A, 0x50, 0xE0, 0x2D, 0x10, 0x10, 0x3E, 0x96, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x18},
     true, true, {0x00, 2700, 1440, 1578, 16, 62, 138, 480, 525, 9, 6, 45}},
    // A display descriptor (product name) where a timing would be.
    {"clockZero",
     {0x00, 0x00, 0x00, 0xFC, 0x00, 'Q', 'u', 'o', 'v', 'a', 'n', '\n', ' ', ' ', ' ', ' ', ' ', ' '},
     true, false, {}},
    {"clock0101",
     {0x01, 0x01, 0x80, 0x18, 0x71, 0x38, 0x2D, 0x40, 0x58, 0x2C, 0x45, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x18},
     true, false, {}},
    {"clock0102",
     {0x02, 0x01, 0x80, 0x18, 0x71, 0x38, 0x2D, 0x40, 0x58, 0x2C, 0x45, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x18},
     true, true, {0x00, 0x0102, 1920, 2200, 88, 44, 280, 1080, 1125, 4, 5, 45}},
};
// clang-format on

DETAILED_TIMING Sentinel() {
  DETAILED_TIMING t;
  std::memset(&t, 0xA5, sizeof(t));
  return t;
}

class DescriptorTable : public ::testing::TestWithParam<Case> {};

TEST_P(DescriptorTable, ParsesAsTheEdidStandardLaysOutTheFields) {
  const Case& c = GetParam();
  ADAPTER_CONTEXT context{};
  DETAILED_TIMING t = Sentinel();
  ASSERT_EQ(c.result ? 1 : 0, ParseDetailedTiming(&context, &t, c.d, c.digital));
  if (!c.result) return;
  EXPECT_EQ(0xA5, t.Probed) << "Probed belongs to discovery";
  EXPECT_EQ(c.e.flags, t.Flags);
  EXPECT_EQ(c.e.clock, t.PixelClock);
  EXPECT_EQ(c.e.h_active, t.HActive);
  EXPECT_EQ(c.e.h_total, t.HTotal);
  EXPECT_EQ(c.e.h_sync_offset, t.HSyncOffset);
  EXPECT_EQ(c.e.h_sync_width, t.HSyncWidth);
  EXPECT_EQ(c.e.h_blank, t.HBlank);
  EXPECT_EQ(c.e.v_active, t.VActive);
  EXPECT_EQ(c.e.v_total, t.VTotal);
  EXPECT_EQ(c.e.v_sync_offset, t.VSyncOffset);
  EXPECT_EQ(c.e.v_sync_width, t.VSyncWidth);
  EXPECT_EQ(c.e.v_blank, t.VBlank);
}

INSTANTIATE_TEST_SUITE_P(HandMade, DescriptorTable, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(ParseDetailedTiming, AnalogueDisplayWithoutSeparateSyncLeavesTheRecordUntouched) {
  // Analogue composite (00), bipolar composite (01), digital composite (10).
  for (uint8_t sync : {0x00, 0x08, 0x10, 0x16}) {
    uint8_t d[18] = {0x02, 0x3A, 0x80, 0x18, 0x71, 0x38, 0x2D, 0x40, 0x58, 0x2C, 0x45, 0, 0, 0, 0, 0, 0, sync};
    ADAPTER_CONTEXT context{};
    DETAILED_TIMING t = Sentinel();
    const DETAILED_TIMING before = t;
    EXPECT_FALSE(ParseDetailedTiming(&context, &t, d, EFI_FALSE)) << int(sync);
    EXPECT_EQ(0, std::memcmp(&before, &t, sizeof(t))) << int(sync);
  }
}

TEST(ParseDetailedTiming, MissingRecordOrDescriptorIsRefused) {
  const uint8_t d[18] = {0x02, 0x3A, 0x80, 0x18, 0x71, 0x38, 0x2D, 0x40, 0x58, 0x2C, 0x45, 0, 0, 0, 0, 0, 0, 0x18};
  ADAPTER_CONTEXT context{};
  DETAILED_TIMING t{};
  EXPECT_FALSE(ParseDetailedTiming(&context, nullptr, d, EFI_TRUE));
  EXPECT_FALSE(ParseDetailedTiming(&context, &t, nullptr, EFI_TRUE));
}

TEST(SelectByChannel, PicksOneOfThreeAndNothingOutsideOneToThree) {
  int a = 1, b = 2, c = 3;
  EXPECT_EQ(&a, SelectByChannel(1, &a, &b, &c));
  EXPECT_EQ(&b, SelectByChannel(2, &a, &b, &c));
  EXPECT_EQ(&c, SelectByChannel(3, &a, &b, &c));
  for (UINT32 channel : {0u, 4u, 7u, 0xFFFFFFFFu}) EXPECT_EQ(nullptr, SelectByChannel(channel, &a, &b, &c));
}

}  // namespace
