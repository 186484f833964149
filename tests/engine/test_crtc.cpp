// CRTC mode set, switch-off, surface depth and the lookup tables.
#include <gtest/gtest.h>

#include <algorithm>

#include "driver/engine/crtc.h"
#include "engine_bench.h"

namespace engine_test {
namespace {

class CrtcModeSet : public ::testing::Test {
 protected:
  EngineBench bench_;
  kt270::Adapter& model() { return bench_.adapter(); }
};

// The order of the prescribed steps, by the first write to each marker.
std::vector<uint32_t> FirstWriteOrder(const std::vector<Op>& writes, const std::vector<uint32_t>& markers) {
  std::vector<uint32_t> order;
  for (const Op& op : writes) {
    if (std::find(markers.begin(), markers.end(), op.offset) != markers.end() &&
        std::find(order.begin(), order.end(), op.offset) == order.end()) {
      order.push_back(op.offset);
    }
  }
  return order;
}

TEST_F(CrtcModeSet, Crtc1At1024x768) {
  bench_.UseModeRow(CONNECTOR_ANALOGUE_A, 0, 1, 11);
  bench_.Clear();
  EXPECT_EQ(EFI_SUCCESS, SetCrtcMode(bench_.context(), 0, 1));

  EXPECT_EQ(std::vector<uint64_t>{1024}, bench_.WritesTo(0x6120));
  EXPECT_EQ(std::vector<uint64_t>{4096}, bench_.WritesTo(0x1408));
  EXPECT_EQ(std::vector<uint64_t>{4096}, bench_.WritesTo(0x15B0));
  EXPECT_EQ(std::vector<uint64_t>{0x10200}, bench_.WritesTo(0x0B7C));
  EXPECT_EQ(std::vector<uint64_t>{0x00010000}, bench_.WritesTo(0x0B74));
  EXPECT_EQ(std::vector<uint64_t>{0x0033FFFF}, bench_.WritesTo(0x0B78));
  EXPECT_EQ(std::vector<uint64_t>{0x04000300}, bench_.WritesTo(0x6584));
  EXPECT_TRUE(bench_.WritesTo(0x6908).empty());
  EXPECT_TRUE(bench_.WritesTo(0x0B6C).empty());

  // Pixel clock first, the CRTC's run bit last.
  std::vector<uint32_t> markers = {0x0400, 0x6534, 0x6008, 0x6088, 0x6110, 0x6584, 0x6100,
                                   0x6104, 0x1408, 0x0B00, 0x0B7C, 0x0B74, 0x0B78, 0x6080};
  EXPECT_EQ(markers, FirstWriteOrder(bench_.Writes(), markers));
  EXPECT_EQ(0x6080u, bench_.Writes().back().offset);
  // The depth code goes in as a byte, then bit 21 replaces bit 20.
  std::vector<Op> format;
  for (const Op& op : bench_.Writes()) {
    if (op.offset == 0x6104) format.push_back(op);
  }
  ASSERT_EQ(2u, format.size());
  EXPECT_EQ(W8(0x6104, 2), format[0]);
  EXPECT_EQ(0x00200000u, format[1].value & 0x00300000);

  kt270::CrtcState s = model().DecodeCrtc(0);
  EXPECT_TRUE(s.running);
  EXPECT_EQ(1024u, s.h_active);
  EXPECT_EQ(768u, s.v_active);
  EXPECT_EQ(32u, s.bpp);
  EXPECT_EQ(4096u, s.pitch_bytes);
  EXPECT_EQ(0x00010000u, s.surface_base);
  EXPECT_EQ(1024u, s.fetch_width);
  EXPECT_EQ(768u, s.fetch_height);

  const UGA_MODE_RECORD& native = bench_.context()->NativeMode[0];
  EXPECT_EQ(1024u, native.HorizontalResolution);
  EXPECT_EQ(768u, native.VerticalResolution);
  EXPECT_EQ(32u, native.ColorDepth);
  EXPECT_EQ(60u, native.RefreshRate);
}

TEST_F(CrtcModeSet, Crtc2At1024x768) {
  bench_.UseModeRow(CONNECTOR_ANALOGUE_B, 1, 2, 11);
  bench_.Clear();
  EXPECT_EQ(EFI_SUCCESS, SetCrtcMode(bench_.context(), 1, 2));
  EXPECT_EQ(std::vector<uint64_t>{1024}, bench_.WritesTo(0x6920));
  EXPECT_EQ(std::vector<uint64_t>{0x10200}, bench_.WritesTo(0x0B6C));
  EXPECT_EQ(std::vector<uint64_t>{0x00810000}, bench_.WritesTo(0x0B64));
  EXPECT_EQ(std::vector<uint64_t>{0x0233FFFF}, bench_.WritesTo(0x0B68));
  EXPECT_EQ(std::vector<uint64_t>{0x00810000}, bench_.WritesTo(0x6910));
  EXPECT_EQ(std::vector<uint64_t>{1}, bench_.WritesTo(0x6908));
  EXPECT_TRUE(bench_.WritesTo(0x1408).empty());
  EXPECT_TRUE(bench_.WritesTo(0x15B0).empty());
  EXPECT_TRUE(bench_.WritesTo(0x6080).empty());
  EXPECT_TRUE(bench_.WritesTo(0x0400).empty());
  EXPECT_EQ(std::vector<uint64_t>{1}, bench_.WritesTo(0x0410));
  EXPECT_EQ(0x6880u, bench_.Writes().back().offset);
  kt270::CrtcState s = model().DecodeCrtc(1);
  EXPECT_TRUE(s.running);
  EXPECT_EQ(1024u, s.h_active);
  EXPECT_EQ(0x00810000u, s.surface_base);
}

TEST_F(CrtcModeSet, LinesRoundUpTo256Bytes) {
  bench_.UseModeRow(CONNECTOR_ANALOGUE_A, 0, 1, 0);  // 800 x 600
  SetCrtcMode(bench_.context(), 0, 1);
  EXPECT_EQ(832u, model().PeekReg(0x6120));
  EXPECT_EQ(3328u, model().PeekReg(0x1408));
  EXPECT_EQ(0x10000u | 416u, model().PeekReg(0x0B7C));
}

TEST_F(CrtcModeSet, RowWithoutClockKeepsThePllAndWritesThePlaceholders) {
  bench_.UseModeRow(CONNECTOR_ANALOGUE_A, 0, 1, 0);
  SetCrtcMode(bench_.context(), 0, 1);
  kt270::PllState before = model().DecodePll(0);
  bench_.UseModeRow(CONNECTOR_ANALOGUE_A, 0, 1, 7);
  bench_.Clear();
  EXPECT_EQ(EFI_SUCCESS, SetCrtcMode(bench_.context(), 0, 1));
  kt270::PllState after = model().DecodePll(0);
  EXPECT_EQ(before.out_hz, after.out_hz);
  for (uint32_t pll_reg : {0x0400u, 0x0404u, 0x0430u, 0x043Cu, 0x0438u, 0x0450u}) {
    EXPECT_TRUE(bench_.WritesTo(pll_reg).empty()) << std::hex << pll_reg;
  }
  EXPECT_EQ(0xFFFFu, model().PeekReg(0x6000));
  EXPECT_EQ(0x00080010u, model().PeekReg(0x6004));
  EXPECT_EQ(0u, model().PeekReg(0x6008));
  EXPECT_EQ(0xFFFFu, model().PeekReg(0x6020));
  EXPECT_EQ(1u, model().PeekReg(0x6024));
  EXPECT_EQ(0u, model().PeekReg(0x6028));
  EXPECT_EQ(1u, model().PeekReg(0x6080));
  EXPECT_EQ(0u, bench_.context()->NativeMode[0].RefreshRate);
}

TEST_F(CrtcModeSet, DisableLeavesBothCrtcsOff) {
  bench_.UseModeRow(CONNECTOR_ANALOGUE_A, 0, 1, 11);
  SetCrtcMode(bench_.context(), 0, 1);
  bench_.context()->CrtcIndex[0] = 1;
  SetCrtcMode(bench_.context(), 1, 1);
  ASSERT_TRUE(model().DecodeCrtc(0).running);
  ASSERT_TRUE(model().DecodeCrtc(1).running);
  bench_.Clear();
  DisableCrtc(bench_.context(), 0);
  DisableCrtc(bench_.context(), 1);
  for (unsigned crtc = 0; crtc < 2; crtc++) {
    kt270::CrtcState s = model().DecodeCrtc(crtc);
    EXPECT_EQ(0x01000000u, s.control);
    EXPECT_FALSE(s.running);
    EXPECT_TRUE(s.pll.held);
    EXPECT_EQ(0u, s.window_start);
    EXPECT_EQ(0u, s.window_end);
    EXPECT_EQ(0u, s.window_pitch);
  }
  // CRTC 1's PLL control is rewritten whole, CRTC 2's as a byte.
  unsigned w1 = 0, w2 = 0;
  for (const Op& op : bench_.Writes()) {
    if (op.offset == 0x0450) w1 = op.width;
    if (op.offset == 0x0454) w2 = op.width;
  }
  EXPECT_EQ(4u, w1);
  EXPECT_EQ(1u, w2);
}

TEST_F(CrtcModeSet, SurfaceDepthCodes) {
  ADAPTER_CONTEXT* c = bench_.context();
  model().PokeReg(0x6904, 0xABCD0002);
  c->CrtcIndex[0] = 1;
  c->CurrentMode[0].ColorDepth = 16;
  SetSurfaceDepth(c);
  EXPECT_EQ(0xABCD0001u, model().PeekReg(0x6904));
  c->CurrentMode[0].ColorDepth = 8;
  SetSurfaceDepth(c);
  EXPECT_EQ(0xABCD0000u, model().PeekReg(0x6904));

  bench_.Clear();
  c->CurrentMode[0].ColorDepth = 24;
  SetSurfaceDepth(c);
  c->CurrentMode[0].ColorDepth = 32;
  c->CrtcIndex[0] = NO_CRTC;
  SetSurfaceDepth(c);
  EXPECT_TRUE(bench_.Writes().empty());
}

TEST_F(CrtcModeSet, IdentityLutInBothTables) {
  bench_.Clear();
  LoadIdentityLut(bench_.context());
  std::vector<uint64_t> entries = bench_.WritesTo(0x6494);
  ASSERT_EQ(512u, entries.size());
  for (unsigned table = 0; table < 2; table++) {
    EXPECT_EQ(0u, entries[table * 256 + 0]);
    EXPECT_EQ(0x00401004u, entries[table * 256 + 1]);
    EXPECT_EQ(0x3FFFFFFFu, entries[table * 256 + 255]);
    EXPECT_EQ((0x202u << 20) | (0x202u << 10) | 0x202u, entries[table * 256 + 128]);
  }
  std::vector<Op> selects;
  for (const Op& op : bench_.Writes()) {
    if (op.offset == 0x6480 || op.offset == 0x6488) selects.push_back(op);
  }
  EXPECT_EQ((std::vector<Op>{W8(0x6480, 0), W8(0x6488, 0), W8(0x6480, 1), W8(0x6488, 0)}), selects);
}

}  // namespace
}  // namespace engine_test
