// The digital transmitter: link width, the clock option of the transmitter
// PLL and the output format word.
#include <gtest/gtest.h>

#include "driver/engine/tmds.h"
#include "engine_bench.h"

namespace engine_test {
namespace {

constexpr uint32_t kClockOption = 1u << 28;

class Tmds : public ::testing::Test {
 protected:
  // The last value written to the transmitter PLL control after EnableTmds.
  uint32_t PllControlAfter(uint16_t clock, const std::vector<uint8_t>& edid_bytes_8_to_11, bool dual) {
    ADAPTER_CONTEXT* c = bench_.context();
    bench_.UseDetailed(CONNECTOR_DIGITAL2, 0, 1, Timing1080p(), 1920, 1080);
    c->Timing1.PixelClock = clock;
    std::memcpy(c->Edid1 + 8, edid_bytes_8_to_11.data(), 4);
    c->DualLinkTmds[0] = dual;
    bench_.Clear();
    EXPECT_EQ(EFI_SUCCESS, EnableTmds(c));
    std::vector<uint64_t> writes = bench_.WritesTo(0x7B10);
    EXPECT_EQ(4u, writes.size());
    return writes.empty() ? 0 : static_cast<uint32_t>(writes.back());
  }
  EngineBench bench_;
};

TEST_F(Tmds, LinkWidthFollowsDualLinkTmds) {
  PllControlAfter(17000, {0, 0, 0, 0}, true);
  kt270::OutputState out = bench_.adapter().DecodeOutput(kt270::Output::kTmds);
  EXPECT_TRUE(out.enabled);
  EXPECT_TRUE(out.dual_link);
  EXPECT_EQ(0x3E3Eu, out.lanes);
  EXPECT_NE(0u, bench_.adapter().PeekReg(0x7A80) & 0x01000000);

  PllControlAfter(17000, {0, 0, 0, 0}, false);
  out = bench_.adapter().DecodeOutput(kt270::Output::kTmds);
  EXPECT_TRUE(out.enabled);
  EXPECT_FALSE(out.dual_link);
  EXPECT_EQ(0x3Eu, out.lanes);
  EXPECT_EQ(0u, bench_.adapter().PeekReg(0x7A80) & 0x01000000);
  EXPECT_EQ(0u, out.source);
}

TEST_F(Tmds, ClockOptionFromTheDetailedClockAndTheEdid) {
  EXPECT_NE(0u, PllControlAfter(12999, {0, 0, 0, 0}, false) & kClockOption);
  EXPECT_EQ(0u, PllControlAfter(13000, {0, 0, 0, 0}, false) & kClockOption);
  EXPECT_NE(0u, PllControlAfter(14000, {0x06, 0x10, 0x1D, 0x92}, false) & kClockOption);
  EXPECT_EQ(0u, PllControlAfter(14000, {0x06, 0x10, 0x1D, 0x93}, false) & kClockOption);
  EXPECT_NE(0u, PllControlAfter(17000, {0x06, 0x10, 0x00, 0x00}, true) & kClockOption);
  EXPECT_EQ(0u, PllControlAfter(17000, {0x06, 0x10, 0x00, 0x00}, false) & kClockOption);
}

TEST_F(Tmds, WithoutConnectFlagAThePlatformsFlagStands) {
  ADAPTER_CONTEXT* c = bench_.context();
  c->ConnectFlagA = 0;
  c->ConnectFlagB = 0;
  EXPECT_NE(0u, PllControlAfter(17000, {0, 0, 0, 0}, false) & kClockOption);
  c->ConnectFlagB = 1;
  EXPECT_EQ(0u, PllControlAfter(1000, {0, 0, 0, 0}, false) & kClockOption);
}

TEST_F(Tmds, PllResetReleaseAndPulse) {
  bench_.adapter().PokeReg(0x7B10, 0x00000002);
  PllControlAfter(14850, {0, 0, 0, 0}, false);
  std::vector<uint64_t> writes = bench_.WritesTo(0x7B10);
  ASSERT_EQ(4u, writes.size());
  EXPECT_EQ(0x20000003u, writes[0]);
  EXPECT_EQ(0x20000001u, writes[1]);
  EXPECT_EQ(0xA0000001u, writes[2]);
  EXPECT_EQ(0x20000001u, writes[3]);
  EXPECT_EQ((std::vector<uint64_t>{1, 0x101, 1}), bench_.WritesTo(0x7AD8));
  EXPECT_EQ(std::vector<uint64_t>{0x00F2061D}, bench_.WritesTo(0x7B0C));
}

TEST_F(Tmds, OutputFormatWord) {
  ADAPTER_CONTEXT* c = bench_.context();
  bench_.adapter().PokeReg(0x7A94, 0x00010001);
  PllControlAfter(14850, {0, 0, 0, 0}, false);
  EXPECT_EQ(0x04000000u, bench_.adapter().PeekReg(0x7A94));
  c->DitherDisabled = 1;
  PllControlAfter(14850, {0, 0, 0, 0}, false);
  EXPECT_EQ(0x05010001u, bench_.adapter().PeekReg(0x7A94));
  c->PixelComponent8Bit = 1;
  PllControlAfter(14850, {0, 0, 0, 0}, false);
  EXPECT_EQ(0x05111011u, bench_.adapter().PeekReg(0x7A94));
}

}  // namespace
}  // namespace engine_test
