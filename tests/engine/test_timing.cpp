// CRTC timing words from the three sources, as the model's CRTC decodes them
// after WriteCrtcTiming, and the refresh recorded for them.
#include <gtest/gtest.h>

#include "engine_bench.h"

namespace engine_test {
namespace {

// The built-in rows decoded: register values, blank end / start, sync
// widths, clock, and whether the blank / V-sync words carry bit 31.
struct DecodedRow {
  uint32_t row, h_total_reg, h_blank_end, h_blank_start, h_sync_width;
  uint32_t v_total_reg, v_blank_end, v_blank_start, v_sync_width, clock;
  bool h_blank_flag, v_sync_flag;
};
const DecodedRow kRows[] = {
    { 0,  1055,  216, 1016, 128,   627,  27,  627,  4,  4000, false, false},
    { 1,  1023,  200, 1000,  72,   623,  24,  624,  2,  3600, false, false},
    { 2,   839,  184,  824,  64,   498,  19,  499,  3,  3150, true, true},
    { 3,   831,  168,  808,  40,   518,  31,  511,  3,  3120, true, true},
    { 4,   863,  160,  800,  64,   523,  42,  522,  3,  3024, true, true},
    { 5,   799,  144,  784,  96,   523,  35,  515,  2,  2518, true, true},
    { 6, 65535,    8,   16,   0, 65535,   0,    1,  0,     0, false, false},
    { 7, 65535,    8,   16,   0, 65535,   0,    1,  0,     0, false, false},
    { 8,  1687,  392, 1672, 144,  1064,  41, 1065,  3, 13500, false, false},
    { 9,  1311,  272, 1296,  96,   798,  31,  799,  3,  7875, false, false},
    {10,  1327,  280, 1304, 136,   804,  35,  803,  6,  7500, true, true},
    {11,  1343,  296, 1320, 136,   804,  35,  803,  6,  6500, true, true},
    {12,  1263,  224, 1248, 176,   815,  48,  816,  8,  4490, false, false},
    {13,  1151,  288, 1120,  64,   665,  42,  666,  3,  5728, true, true},
    {14,  1055,  240, 1040,  80,   623,  24,  624,  3,  4950, false, false},
    {15,  1039,  184,  984, 120,   664,  29,  629,  6,  5000, false, false},
    {16,  1455,  272, 1424, 128,   913,  42,  912,  3, 10000, true, true},
    {17,  2729,  413, 2675, 180,   524,  41,  523,  3, 14850, true, false},
    {18,  3404,  569, 3337, 250,   624,  43,  619,  3, 14850, true, false},
};

class CrtcTiming : public ::testing::Test {
 protected:
  // Builds and writes the timing of display 0; the sync controls as read.
  CRTC_TIMING Write(uint8_t crtc, uint32_t h_control = 0x00000100, uint32_t v_control = 0x00000201) {
    CRTC_TIMING t;
    BuildCrtcTiming(bench_.context(), bench_.context()->OutputChannel[0], &t);
    WriteCrtcTiming(bench_.context(), crtc, &t, h_control, v_control);
    return t;
  }
  EngineBench bench_;
};

TEST_F(CrtcTiming, EveryBuiltInRowOnBothCrtcs) {
  for (const DecodedRow& row : kRows) {
    for (uint8_t crtc = 0; crtc < 2; crtc++) {
      SCOPED_TRACE(testing::Message() << "row " << row.row << " CRTC " << int(crtc + 1));
      bench_.UseModeRow(CONNECTOR_ANALOGUE_A, crtc, 1, row.row);
      CRTC_TIMING t = Write(crtc);
      EXPECT_EQ(row.clock, t.PixelClock);
      const UGA_MODE_RECORD& mode = BuiltInModeList()[row.row];
      EXPECT_EQ(mode.HorizontalResolution, t.ActiveWidth);
      EXPECT_EQ(mode.VerticalResolution, t.ActiveHeight);
      EXPECT_EQ(4u, t.BytesPerPixel);

      kt270::CrtcState s = bench_.adapter().DecodeCrtc(crtc);
      EXPECT_EQ(row.h_total_reg, s.h_total_reg);
      EXPECT_EQ(row.h_blank_end, s.h_blank_end);
      EXPECT_EQ(row.h_blank_start, s.h_blank_start);
      EXPECT_EQ(row.h_blank_flag, s.h_blank_flag);
      EXPECT_EQ(row.h_sync_width, s.h_sync_width);
      EXPECT_EQ(row.v_total_reg, s.v_total_reg);
      EXPECT_EQ(row.v_blank_end, s.v_blank_end);
      EXPECT_EQ(row.v_blank_start, s.v_blank_start);
      EXPECT_EQ(row.v_sync_width, s.v_sync_width);
      // Bit 31 of a sync word clears bit 0 of its sync control. No row sets
      // it in the H sync word.
      EXPECT_TRUE(s.hsync_positive);
      EXPECT_EQ(!row.v_sync_flag, s.vsync_positive);
      EXPECT_EQ(0u, bench_.adapter().PeekReg(0x6008 + crtc * 0x800) >> 31);
      EXPECT_EQ(0u, bench_.adapter().PeekReg(0x6028 + crtc * 0x800) >> 31);
      // Where the row has a timing of its own size (not the placeholders,
      // not the television encoder's rasters), the raster yields it.
      if (row.clock != 0 && row.row < 17) {
        EXPECT_EQ(mode.HorizontalResolution, s.h_active);
        EXPECT_EQ(mode.VerticalResolution, s.v_active);
      }
    }
  }
}

TEST_F(CrtcTiming, ElevenStepsOnCrtc2) {
  bench_.UseModeRow(CONNECTOR_ANALOGUE_A, 1, 1, 5);
  bench_.adapter().PokeReg(0x6888, 0xFFFFFFFE);
  bench_.context()->PanelFlag3 = 1;
  bench_.Clear();
  Write(1, 0x00000100, 0x00000201);
  std::vector<Op> expected = {
      W32(0x6808, 0x00600000), W32(0x6804, 0x80900310), W32(0x6800, 799),
      W32(0x6828, 0x00020000), W32(0x6824, 0x00230203), W32(0x6820, 523),
      W32(0x6D88, 0),          W32(0x6D8C, 0),          W32(0x0484, 0x10000),
      W32(0x680C, 0x00000101), W32(0x682C, 0x00000200), W32(0x6888, 0xFFFFFFFF),
  };
  EXPECT_EQ(expected, bench_.Writes());

  bench_.context()->PanelFlag3 = 0;
  bench_.Clear();
  Write(0);
  EXPECT_EQ(std::vector<uint64_t>{0}, bench_.WritesTo(0x0480));
  EXPECT_TRUE(bench_.WritesTo(0x0484).empty());
  EXPECT_EQ(0u, bench_.adapter().PeekReg(0x6088) & 1);
}

TEST_F(CrtcTiming, PanelTimingWrapsTheBlankEndAndTruncatesTheClock) {
  ADAPTER_CONTEXT* c = bench_.context();
  bench_.UseDetailed(CONNECTOR_PANEL, 0, 1, Timing1080p(), 640, 480);
  c->PanelFromPlatform = 1;
  c->PanelFlagB0 = 1;
  c->PanelFlagB1 = 0;
  //                 clock      Hreg  Hact Htot  Hss   Hse   Vreg Vact Vtot Vss Vse
  const uint32_t panel[11] = {25175000, 799, 640, 800, 0x10010, 0x10070, 524, 480, 525, 490, 492};
  std::memcpy(c->PanelTiming, panel, sizeof panel);
  CRTC_TIMING t = Write(0);
  EXPECT_EQ(2517u, t.PixelClock);
  EXPECT_EQ(799u, t.HTotalReg);
  // 800 - 0x10010 = 0xFFFF0310: only the low 16 bits count.
  EXPECT_EQ((0x0310u << 16) | (0x0310u + 640), t.HBlankWord);
  EXPECT_EQ(0x60u << 16, t.HSyncWord);
  EXPECT_EQ((35u << 16) | 515u, t.VBlankWord);
  EXPECT_EQ(2u << 16, t.VSyncWord);
  EXPECT_EQ(640u, t.ActiveWidth);
  EXPECT_EQ(480u, t.ActiveHeight);
  EXPECT_EQ(4u, t.BytesPerPixel);
  kt270::CrtcState s = bench_.adapter().DecodeCrtc(0);
  EXPECT_FALSE(s.hsync_positive);
  EXPECT_TRUE(s.vsync_positive);
  EXPECT_EQ(524u, s.v_total_reg);
}

TEST_F(CrtcTiming, DetailedTimingOfTheOutputChannel) {
  ADAPTER_CONTEXT* c = bench_.context();
  // Channel 3 (any value but 1 and 2) takes Timing3.
  bench_.UseDetailed(CONNECTOR_DIGITAL2, 0, 7, Timing1080p(), 1920, 1080);
  c->Timing3 = Timing1080p();
  c->Timing1 = Timing1680x1050();
  c->PanelFlagB1 = 1;
  CRTC_TIMING t = Write(0);
  EXPECT_EQ(14850u, t.PixelClock);
  EXPECT_EQ(2200u, t.HTotalReg);  // the full total, not reduced by one
  EXPECT_EQ(1125u, t.VTotalReg);
  EXPECT_EQ((192u << 16) | 2112u, t.HBlankWord);
  EXPECT_EQ(44u << 16, t.HSyncWord);
  EXPECT_EQ((41u << 16) | 1121u, t.VBlankWord);
  EXPECT_EQ(5u << 16, t.VSyncWord);
  EXPECT_EQ(4u, t.BytesPerPixel);
  kt270::CrtcState s = bench_.adapter().DecodeCrtc(0);
  EXPECT_EQ(1920u, s.h_active);
  EXPECT_EQ(1080u, s.v_active);
  EXPECT_TRUE(s.hsync_positive);
  EXPECT_FALSE(s.vsync_positive);
  EXPECT_EQ(60u, ComputeRefresh(t.PixelClock, t.HTotalReg, t.VTotalReg));

  c->OutputChannel[0] = 1;
  EXPECT_EQ(14625u, Write(0).PixelClock);
}

TEST(ComputeRefresh, RowsAndDetailedTiming) {
  EXPECT_EQ(60u, ComputeRefresh(4000, 1055, 627));
  EXPECT_EQ(75u, ComputeRefresh(7875, 1311, 798));
  EXPECT_EQ(60u, ComputeRefresh(14850, 2200, 1125));
  // No total, no refresh (and no division by zero).
  EXPECT_EQ(0u, ComputeRefresh(4000, 0, 627));
  EXPECT_EQ(0u, ComputeRefresh(4000, 1055, 0));
}

}  // namespace
}  // namespace engine_test
