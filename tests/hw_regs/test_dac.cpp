// The DAC set-up and switches: exact write sequences, and the bits that
// the read-modify-writes and byte writes must leave alone.
#include <gtest/gtest.h>

#include "driver/hw/dac.h"
#include "tests/hw_regs/regs_bench.h"

namespace {

using regs_test::R32;
using regs_test::RegsBench;
using regs_test::W32;
using regs_test::W8;
using Ops = std::vector<regs_test::Op>;

TEST(DacSwitches, InitWritesBothSetUpWords) {
  RegsBench bench;
  EXPECT_EQ(EFI_SUCCESS, InitDacOutputs(bench.context()));
  EXPECT_EQ((Ops{W32(0x7828, 0x00070200), W32(0x7A28, 0x00070200)}), bench.Bar2());
}

TEST(DacSwitches, EnableDacAModifiesOnlyItsBitsAndSelectsTheCrtc) {
  RegsBench bench;
  bench.adapter().PokeReg(0x019C, 0xFFFFFFFF);
  bench.adapter().PokeReg(0x01A0, 0x00000001);
  bench.adapter().PokeReg(0x0198, 0x80000000);
  bench.adapter().PokeReg(0x7854, 0x00010100);
  bench.context()->CurrentDisplay = 1;
  bench.context()->CrtcIndex[0] = 0;
  bench.context()->CrtcIndex[1] = 1;
  EXPECT_EQ(EFI_SUCCESS, EnableDacA(bench.context()));
  EXPECT_EQ((Ops{R32(0x019C, 0xFFFFFFFF), W32(0x019C, 0xFFFFFDFF), R32(0x01A0, 0x00000001),
                 W32(0x01A0, 0x00000201), R32(0x0198, 0x80000000), W32(0x0198, 0x80000200), W32(0x7850, 0),
                 W32(0x7804, 1), R32(0x7854, 0x00010100), W32(0x7854, 0x00010102), W32(0x7800, 1)}),
            bench.Bar2());
}

TEST(DacSwitches, EnableDacAWithoutACrtcSelects255) {
  RegsBench bench;
  bench.context()->CrtcIndex[0] = NO_CRTC;
  EnableDacA(bench.context());
  EXPECT_EQ(255u, bench.adapter().PeekReg(0x7804));
}

TEST(DacSwitches, DisableDacAWritesTheControlWordOutright) {
  RegsBench bench;
  bench.adapter().PokeReg(0x7854, 0x00010100);
  EXPECT_EQ(EFI_SUCCESS, DisableDacA(bench.context()));
  EXPECT_EQ((Ops{W32(0x7850, 0x01010101), W32(0x7804, 0), W32(0x7854, 2), W32(0x7800, 0)}), bench.Bar2());
  EXPECT_EQ(2u, bench.adapter().PeekReg(0x7854));
}

TEST(DacSwitches, DacBSwitchesEndByClearingOnlyTheSetUpLowByte) {
  RegsBench bench;
  InitDacOutputs(bench.context());
  bench.adapter().PokeReg(0x7A28, 0x000702FF);
  bench.context()->CrtcIndex[0] = 1;
  bench.Clear();
  EXPECT_EQ(EFI_SUCCESS, EnableDacB(bench.context()));
  EXPECT_EQ((Ops{W32(0x7A50, 0), W32(0x7A04, 1), W32(0x7A54, 0x00041202), W32(0x7A00, 1), W8(0x7A28, 0)}),
            bench.Bar2());
  EXPECT_EQ(0x00070200u, bench.adapter().PeekReg(0x7A28));

  bench.adapter().PokeReg(0x7A28, 0x12345678);
  bench.Clear();
  EXPECT_EQ(EFI_SUCCESS, DisableDacB(bench.context()));
  EXPECT_EQ((Ops{W32(0x7A50, 0x01010101), W32(0x7A04, 0), W32(0x7A54, 0x00041202), W32(0x7A58, 0),
                 W32(0x7A00, 0), W8(0x7A28, 0)}),
            bench.Bar2());
  EXPECT_EQ(0x12345600u, bench.adapter().PeekReg(0x7A28));
}

TEST(DacSwitches, ModelSeesTheDacsSwitchedOnAndOff) {
  RegsBench bench;
  bench.context()->CrtcIndex[0] = 0;
  InitDacOutputs(bench.context());
  EnableDacA(bench.context());
  EnableDacB(bench.context());
  kt270::OutputState a = bench.adapter().DecodeOutput(kt270::Output::kDacA);
  kt270::OutputState b = bench.adapter().DecodeOutput(kt270::Output::kDacB);
  EXPECT_TRUE(a.enabled);
  EXPECT_EQ(0, a.source);
  EXPECT_TRUE(b.enabled);
  DisableDacA(bench.context());
  DisableDacB(bench.context());
  EXPECT_FALSE(bench.adapter().DecodeOutput(kt270::Output::kDacA).enabled);
  EXPECT_FALSE(bench.adapter().DecodeOutput(kt270::Output::kDacB).enabled);
}

}  // namespace
