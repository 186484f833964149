// The pixel-clock search and PLL programming, judged by what the model's
// PLL decodes from the registers.
#include <gtest/gtest.h>

#include "driver/engine/pll.h"
#include "engine_bench.h"

namespace engine_test {
namespace {

struct Setting {
  uint32_t achieved, r, p, f10;
};
Setting Search(uint32_t target) {
  Setting s{};
  s.achieved = FindPllDividers(target, &s.r, &s.p, &s.f10);
  return s;
}

TEST(FindPllDividers, DocumentedTargets) {
  struct Case {
    uint32_t target, r, p, f, achieved;
  } cases[] = {
      {4000, 1, 29, 43, 4003},    // stopped by the 0.2 % rule
      {3600, 1, 33, 44, 3600},
      {2518, 1, 45, 42, 2520},
      {14850, 1, 8, 44, 14850},
      {16500, 3, 6, 110, 16500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    Setting s = Search(c.target);
    EXPECT_EQ(c.achieved, s.achieved);
    EXPECT_EQ(c.r, s.r);
    EXPECT_EQ(c.p, s.p);
    EXPECT_EQ(c.f * 10, s.f10);
  }
}

TEST(FindPllDividers, NoSettingLeavesTheOutputsAlone) {
  uint32_t r = 7, p = 8, f10 = 9;
  EXPECT_EQ(0u, FindPllDividers(0, &r, &p, &f10));
  EXPECT_EQ(7u, r);
  EXPECT_EQ(8u, p);
  EXPECT_EQ(9u, f10);
}

class PllProgramming : public ::testing::Test {
 protected:
  // Programs PLL (0 or 1) for a detailed clock on display 0.
  EFI_STATUS Program(uint32_t clock, uint8_t crtc) {
    bench_.UseDetailed(CONNECTOR_DIGITAL2, crtc, 1, Timing1080p(), 1920, 1080);
    bench_.context()->Timing1.PixelClock = static_cast<uint16_t>(clock);
    return ProgramPixelPll(bench_.context(), 1, crtc);
  }
  EngineBench bench_;
};

// Every built-in row clock and 1000 clocks from 25 to 400 MHz: the model's
// PLL runs, locked, at exactly the clock the driver reports, within 0.2 % of
// the target, with its VCO inside 900-1200 MHz.
TEST_F(PllProgramming, SweepDecodesToTheReportedClock) {
  std::vector<uint32_t> targets;
  for (uint32_t row = 0; row < ModeCount; row++) {
    if (BuiltInTimingTable[row][5] != 0) targets.push_back(BuiltInTimingTable[row][5]);
  }
  for (uint32_t i = 0; i < 1000; i++) targets.push_back(2500 + i * (40000 - 2500) / 999);

  for (uint8_t pll = 0; pll < 2; pll++) {
    for (uint32_t target : targets) {
      SCOPED_TRACE(testing::Message() << "PLL " << int(pll + 1) << " target " << target);
      Setting s = Search(target);
      ASSERT_NE(0u, s.achieved);
      ASSERT_EQ(EFI_SUCCESS, Program(target, pll));
      kt270::PllState state = bench_.adapter().DecodePll(pll);
      EXPECT_EQ(s.r, state.r);
      EXPECT_EQ(s.p, state.p);
      EXPECT_EQ(s.f10 / 10, state.f);
      EXPECT_EQ(0u, state.tenths);
      EXPECT_FALSE(state.held);
      EXPECT_TRUE(state.locked);
      EXPECT_EQ(uint64_t{s.achieved}, state.out_hz / 10000);
      uint64_t diff = state.out_hz > target * 10000ull ? state.out_hz - target * 10000ull
                                                       : target * 10000ull - state.out_hz;
      EXPECT_LT(diff * 1000, target * 10000ull * 2);
      EXPECT_GE(state.vco_hz, 900000000u);
      EXPECT_LE(state.vco_hz, 1200000000u);
    }
  }
}

TEST_F(PllProgramming, WritesTheDividerFieldsAndKeepsTheOtherBits) {
  bench_.adapter().PokeReg(0x0414, 0xABCDE3FF);
  bench_.adapter().PokeReg(0x0444, 0x12345678);
  bench_.adapter().PokeReg(0x0434, 0x5A5A5A5A);
  bench_.Clear();
  ASSERT_EQ(EFI_SUCCESS, Program(16500, 1));  // R 3, P 6, F 110
  EXPECT_EQ(std::vector<uint64_t>{1}, bench_.WritesTo(0x0410));
  EXPECT_EQ(std::vector<uint64_t>{0xABCDE003}, bench_.WritesTo(0x0414));
  EXPECT_EQ(std::vector<uint64_t>{0x12345606}, bench_.WritesTo(0x0444));
  EXPECT_EQ((std::vector<uint64_t>{0x586E5A5A, 0x586E5A50}), bench_.WritesTo(0x0434));
  EXPECT_EQ(std::vector<uint64_t>{1}, bench_.WritesTo(0x0440));
  // The run bits are released as bytes: bit 1 first, then bit 0.
  std::vector<Op> control;
  for (const Op& op : bench_.Writes()) {
    if (op.offset == 0x0454) control.push_back(op);
  }
  ASSERT_EQ(2u, control.size());
  EXPECT_EQ(1u, control[0].width);
  EXPECT_EQ(0u, control[0].value & 2);
  EXPECT_EQ(0u, control[1].value & 3);
  EXPECT_TRUE(bench_.WritesTo(0x0400).empty());
}

TEST_F(PllProgramming, DualLinkAboveTheSingleLinkLimitOnly) {
  Program(16500, 0);
  EXPECT_EQ(0, bench_.context()->DualLinkTmds[0]);
  Program(16501, 0);
  EXPECT_EQ(1, bench_.context()->DualLinkTmds[0]);
  // Never cleared here.
  Program(4000, 0);
  EXPECT_EQ(1, bench_.context()->DualLinkTmds[0]);
}

TEST_F(PllProgramming, PanelFromPlatformLeavesDualLinkAlone) {
  ADAPTER_CONTEXT* c = bench_.context();
  bench_.UseDetailed(CONNECTOR_DIGITAL2, 0, 1, Timing1080p(), 1920, 1080);
  c->PanelFromPlatform = 1;
  c->PanelTiming[0] = 170000000;
  EXPECT_EQ(EFI_SUCCESS, ProgramPixelPll(c, 1, 0));
  EXPECT_EQ(0, c->DualLinkTmds[0]);
  EXPECT_NE(0u, bench_.adapter().DecodePll(0).out_hz);
}

TEST_F(PllProgramming, ClockZeroWritesNothing) {
  bench_.UseModeRow(CONNECTOR_ANALOGUE_A, 0, 1, 6);
  bench_.Clear();
  EXPECT_EQ(EFI_INVALID_PARAMETER, ProgramPixelPll(bench_.context(), 1, 0));
  EXPECT_TRUE(bench_.Writes().empty());
  EXPECT_TRUE(bench_.adapter().DecodePll(0).held);
}

TEST(PllLockWait, GivesUpAfterAHundredPolls) {
  kt270::Config config = kt270::DefaultConfig();
  config.pll_locks = false;
  EngineBench bench(config);
  bench.UseModeRow(CONNECTOR_ANALOGUE_A, 0, 1, 0);
  bench.Clear();
  EXPECT_EQ(EFI_SUCCESS, ProgramPixelPll(bench.context(), 1, 0));
  size_t polls = 0;
  for (const Op& op : bench.Bar2()) {
    if (!op.write && op.width == 4 && op.offset == 0x0450) polls++;
  }
  EXPECT_EQ(100u, polls);
  EXPECT_EQ(std::vector<uint64_t>{1}, bench.WritesTo(0x0438));
}

}  // namespace
}  // namespace engine_test
