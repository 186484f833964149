// The register primitives, indirect spaces, timed waits, start-up trace and
// 2D engine operations, judged by the model's access trace and state.
#include <gtest/gtest.h>

#include "driver/hw/regs.h"
#include "tests/hw_regs/regs_bench.h"

namespace {

using regs_test::R32;
using regs_test::R8;
using regs_test::RegsBench;
using regs_test::W32;
using regs_test::W8;
using Ops = std::vector<regs_test::Op>;

constexpr uint64_t kTickUs = 10000;

TEST(DirectAccess, EachPrimitiveIsOneBar2CallOfCountOne) {
  RegsBench bench;
  bench.adapter().PokeReg(0x6120, 0x12345678);
  EXPECT_EQ(0x12345678u, RegRead32(bench.pci_io(), 0x6120));
  EXPECT_EQ(0x56, RegRead8(bench.pci_io(), 0x6121));
  RegWrite32(bench.pci_io(), 0x6110, 0xA1B2C3D4);
  RegWrite8(bench.pci_io(), 0x6112, 0x5A);

  EXPECT_EQ((Ops{R32(0x6120, 0x12345678), R8(0x6121, 0x56), W32(0x6110, 0xA1B2C3D4), W8(0x6112, 0x5A)}),
            bench.Bar2());
  for (const kt270::Access& a : bench.accesses()) {
    EXPECT_EQ(1u, a.count);
    EXPECT_EQ(kt270::Stride::kNormal, a.stride);
  }
  EXPECT_EQ(0xA15AC3D4u, bench.adapter().PeekReg(0x6110));
  EXPECT_EQ(2u, bench.firmware().CallCount("Mem.Read"));
  EXPECT_EQ(2u, bench.firmware().CallCount("Mem.Write"));
}

TEST(DirectAccess, FailedReadsYieldZero) {
  RegsBench bench;
  bench.adapter().PokeReg(0x6120, 0xFFFFFFFF);
  bench.firmware().FailCallsFrom("Mem.Read", 1, EFI_DEVICE_ERROR);
  EXPECT_EQ(0u, RegRead32(bench.pci_io(), 0x6120));
  EXPECT_EQ(0, RegRead8(bench.pci_io(), 0x6120));
  EXPECT_EQ(0u, McRead(bench.pci_io(), 0x08));
}

TEST(IndirectSpaces, McWriteKeepsBits16To22SetsTheEnableAndClearsTheTop) {
  RegsBench bench;
  bench.adapter().PokeReg(0x70, 0xFF7FABCD);
  McWrite(bench.pci_io(), 0x12345, 0xCAFEF00D);
  EXPECT_EQ((Ops{R32(0x70, 0xFF7FABCD), W32(0x70, 0x00FF2345), W32(0x74, 0xCAFEF00D)}), bench.Bar2());
  EXPECT_EQ(0xCAFEF00Du, bench.adapter().Mc(0x2345));
  EXPECT_EQ(0u, bench.adapter().stats().mc_writes_dropped);
}

TEST(IndirectSpaces, McReadClearsTheEnableAndKeepsTheTop) {
  RegsBench bench;
  McWrite(bench.pci_io(), 0x0123, 0x600DF00D);
  bench.adapter().PokeReg(0x70, 0xABFF0123);
  bench.Clear();
  EXPECT_EQ(0x600DF00Du, McRead(bench.pci_io(), 0x10123));
  EXPECT_EQ((Ops{R32(0x70, 0xABFF0123), W32(0x70, 0xAB7F0123), R32(0x74, 0x600DF00D)}), bench.Bar2());
}

TEST(IndirectSpaces, PllIndexSelectsWithBit7AsTheWriteEnable) {
  RegsBench bench;
  PllWrite(bench.pci_io(), 0x05, 0x00123456);
  EXPECT_EQ(0x00123456u, PllRead(bench.pci_io(), 0x85));
  EXPECT_EQ((Ops{W32(0x08, 0x85), W32(0x0C, 0x00123456), W32(0x08, 0x05), R32(0x0C, 0x00123456)}), bench.Bar2());
  EXPECT_EQ(0x00123456u, bench.adapter().Clk(0x05));
  EXPECT_EQ(0u, bench.adapter().stats().clk_writes_dropped);
}

TEST(IndirectSpaces, IndexedWriteIsIndexThenValue) {
  RegsBench bench;
  IndexedWrite(bench.pci_io(), 0x42, 0x0BADCAFE);
  EXPECT_EQ((Ops{W32(0x30, 0x42), W32(0x34, 0x0BADCAFE)}), bench.Bar2());
  EXPECT_EQ(0x0BADCAFEu, bench.adapter().Idx(0x42));
}

TEST(Delay, WaitsAtLeastTheRequestedTimeOnTheTimerEvent) {
  RegsBench bench;
  sim::Firmware& fw = bench.firmware();
  uint64_t start = fw.NowUs();
  DelayMicroseconds(bench.context(), 25000);
  EXPECT_GE(fw.NowUs() - start, 25000u);
  EXPECT_LT(fw.NowUs() - start, 25000u + kTickUs);
  EXPECT_EQ(1u, fw.CallCount("SetTimer"));
}

TEST(Delay, ZeroReturnsOnTheFirstCheck) {
  RegsBench bench;
  sim::Firmware& fw = bench.firmware();
  uint64_t start = fw.NowUs();
  DelayMicroseconds(bench.context(), 0);
  EXPECT_EQ(start, fw.NowUs());
  EXPECT_EQ(1u, fw.CallCount("SetTimer"));
  EXPECT_EQ(1u, fw.CallCount("CheckEvent"));
}

TEST(Delay, FailedSetTimerReturnsAtOnce) {
  RegsBench bench;
  sim::Firmware& fw = bench.firmware();
  fw.FailCall("SetTimer", 1, EFI_DEVICE_ERROR);
  uint64_t start = fw.NowUs();
  DelayMicroseconds(bench.context(), 5000);
  EXPECT_EQ(start, fw.NowUs());
  EXPECT_EQ(0u, fw.CallCount("CheckEvent"));
}

TEST(Delay, TriggerTimeIsComputedIn32Bits) {
  RegsBench bench;
  sim::Firmware& fw = bench.firmware();
  uint64_t start = fw.NowUs();
  // 429496730 x 10 wraps to 4 (100 ns units): over by the next tick.
  DelayMicroseconds(bench.context(), 429496730u);
  EXPECT_LE(fw.NowUs() - start, kTickUs);
}

int McStatusReads(const RegsBench& bench) {
  int reads = 0;
  for (const auto& op : bench.Bar2()) reads += (!op.write && op.offset == 0x74);
  return reads;
}

TEST(WaitMcIdle, StopsAtTheFirstIdlePoll) {
  RegsBench bench;
  WaitMcIdle(bench.context());
  EXPECT_EQ(1, McStatusReads(bench));
  EXPECT_EQ(1u, bench.firmware().CallCount("SetTimer"));
}

TEST(WaitMcIdle, GivesUpSilentlyAfterTwentyPolls) {
  kt270::Config config = kt270::DefaultConfig();
  config.mc_idle = kt270::McIdle::kNever;
  RegsBench bench(config);
  uint64_t start = bench.firmware().NowUs();
  WaitMcIdle(bench.context());
  EXPECT_EQ(20, McStatusReads(bench));
  EXPECT_EQ(20u, bench.adapter().stats().mc_idle_polls);
  EXPECT_EQ(20u, bench.firmware().CallCount("SetTimer"));
  // Each 2 us poll lasts until the next tick.
  EXPECT_GE(bench.firmware().NowUs() - start, 40u);
  EXPECT_LE(bench.firmware().NowUs() - start, 20 * kTickUs);
  EXPECT_TRUE(bench.firmware().StdErr().Text().empty());
  // Every poll selects index 0x08 for reading.
  for (const auto& op : bench.Bar2()) {
    if (op.write) EXPECT_EQ(W32(0x70, 0x08), op);
  }
}

uint32_t TraceWord(const ADAPTER_CONTEXT* context, unsigned word) {
  const uint8_t* p = context->MrtBuffer + 4 * word;
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

TEST(StartUpTrace, RecordsWritesAndDelaysAsKeyValuePairs) {
  RegsBench bench;
  ADAPTER_CONTEXT* context = bench.context();
  McWriteAndTrace(context, 0x0010, 0x12345678);
  DelayAndTrace(context, 150);
  EXPECT_EQ(16u, context->MrtLength);
  EXPECT_EQ(0x80000010u, TraceWord(context, 0));
  EXPECT_EQ(0x12345678u, TraceWord(context, 1));
  EXPECT_EQ(0xFFFFFFFFu, TraceWord(context, 2));
  EXPECT_EQ(150u, TraceWord(context, 3));
  EXPECT_EQ(0x12345678u, bench.adapter().Mc(0x0010));
  EXPECT_GE(bench.firmware().NowUs(), 150u);
}

TEST(StartUpTrace, AFullTraceDropsFurtherRecordsButStillWrites) {
  RegsBench bench;
  ADAPTER_CONTEXT* context = bench.context();
  context->MemoryTypeCode = 0x5A5A5A5A;
  for (uint32_t i = 0; i < 64; i++) {
    McWriteAndTrace(context, i, i + 1);
  }
  EXPECT_EQ(512u, context->MrtLength);
  McWriteAndTrace(context, 0x100, 0xFEEDFACE);
  DelayAndTrace(context, 1);
  EXPECT_EQ(512u, context->MrtLength);
  EXPECT_EQ(0x8000003Fu, TraceWord(context, 126));
  EXPECT_EQ(64u, TraceWord(context, 127));
  EXPECT_EQ(0x5A5A5A5Au, context->MemoryTypeCode);
  EXPECT_EQ(0xFEEDFACEu, bench.adapter().Mc(0x100));
}

kt270::Config NeverIdle() {
  kt270::Config config = kt270::DefaultConfig();
  config.engine_busy_reads = -1;
  return config;
}

int StatusReads(const RegsBench& bench) {
  int reads = 0;
  for (const auto& op : bench.Bar2()) reads += (!op.write && op.offset == 0x0E40);
  return reads;
}

// Starts a one-pixel fill behind the driver's back, leaving the engine
// busy for as many status reads as the model is configured to.
void StartFill(RegsBench& bench) {
  bench.adapter().PokeReg(0x146C, 0x50F036F3);
  RegWrite32(bench.pci_io(), 0x1598, (1 << 16) | 1);
  bench.Clear();
}

TEST(EngineIdle, ReturnsAtOnceWhenIdleAndPollsUntilIdle) {
  RegsBench idle;
  WaitEngineIdle(idle.context());
  EXPECT_EQ(1, StatusReads(idle));
  EXPECT_EQ(0u, idle.firmware().CallCount("SetTimer"));

  kt270::Config config = kt270::DefaultConfig();
  config.engine_busy_reads = 3;
  RegsBench busy(config);
  StartFill(busy);
  WaitEngineIdle(busy.context());
  EXPECT_EQ(4, StatusReads(busy));
  EXPECT_EQ(3u, busy.firmware().CallCount("SetTimer"));
  EXPECT_TRUE(busy.firmware().StdErr().Text().empty());
}

TEST(EngineIdle, AHungEngineIsReportedOnceAndLeftAfterTheBound) {
  RegsBench bench(NeverIdle());
  StartFill(bench);
  uint64_t start = bench.firmware().NowUs();
  WaitEngineIdle(bench.context());
  EXPECT_EQ(101, StatusReads(bench));
  EXPECT_EQ(100u, bench.firmware().CallCount("SetTimer"));
  uint64_t elapsed = bench.firmware().NowUs() - start;
  EXPECT_GE(elapsed, 100 * kTickUs - kTickUs);
  EXPECT_LE(elapsed, 100 * kTickUs);
  std::string text = bench.firmware().StdErr().Text();
  EXPECT_NE(std::string::npos, text.find("2D engine still busy")) << text;
  EXPECT_EQ(text.find("2D engine"), text.rfind("2D engine")) << text;
}

TEST(EngineIdle, EngineOperationsReturnWhenTheEngineHangs) {
  RegsBench bench(NeverIdle());
  EXPECT_EQ(EFI_SUCCESS, EngineInit(bench.context()));
  EXPECT_EQ(EFI_SUCCESS, EngineFillRect(bench.context(), 0, 0, 4, 4));
  EXPECT_EQ(EFI_SUCCESS, EngineCopyRect(bench.context(), 8, 8, 4, 4));
  EXPECT_EQ(1u, bench.adapter().stats().engine_fills);
}

TEST(Engine, InitWritesItsRegistersInOrder) {
  RegsBench bench;
  bench.adapter().PokeReg(0x402C, 0x00000001);
  bench.adapter().PokeReg(0x170C, 0x00000002);
  bench.adapter().PokeReg(0x6120, 1024);
  EXPECT_EQ(EFI_SUCCESS, EngineInit(bench.context()));
  const uint32_t pitch_word = (64u << 22) | 0x40000000 | 0x40;
  EXPECT_EQ((Ops{R32(0x402C, 0x00000001), W32(0x402C, 0x00040001), R32(0x170C, 0x00000002),
                 W32(0x170C, 0x80000002), R32(0x0E40, 0), W32(0x147C, 0xFFFFFFFF), W32(0x1478, 0),
                 W32(0x15D8, 0xFFFFFFFF), W32(0x15DC, 0), R32(0x6120, 1024), W32(0x142C, pitch_word),
                 R32(0x6120, 1024), W32(0x1428, pitch_word), W32(0x16E8, 0x1FFF1FFF),
                 W32(0x146C, 0x50C036F3)}),
            bench.Bar2());
}

// A 32-bit surface of 256 pixels a row at frame-buffer offset 0, drawn
// top-left to bottom-right.
constexpr uint32_t kPitchBytes = 1024;
void SetUpSurface(RegsBench& bench) {
  bench.adapter().PokeReg(0x1404, 0);
  bench.adapter().PokeReg(0x1408, kPitchBytes);
  bench.adapter().PokeReg(0x15AC, 0);
  bench.adapter().PokeReg(0x15B0, kPitchBytes);
  bench.adapter().PokeReg(0x16C0, 3);
}

uint32_t Pixel(RegsBench& bench, uint32_t x, uint32_t y) {
  const uint8_t* p = bench.adapter().FrameBuffer() + y * kPitchBytes + x * 4;
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

TEST(Engine, FillUsesTheColourLeftInPlaceAndDrawsTheRectangle) {
  RegsBench bench;
  SetUpSurface(bench);
  RegWrite32(bench.pci_io(), 0x147C, 0x00336699);
  bench.Clear();
  EXPECT_EQ(EFI_SUCCESS, EngineFillRect(bench.context(), 10, 20, 5, 3));
  EXPECT_EQ((Ops{R32(0x0E40, 0), W32(0x146C, 0x50F036F3), W32(0x1438, (20 << 16) | 10),
                 W32(0x1598, (5 << 16) | 3), R32(0x0E40, 0)}),
            bench.Bar2());
  for (uint32_t y = 19; y <= 23; y++) {
    for (uint32_t x = 9; x <= 15; x++) {
      bool inside = x >= 10 && x < 15 && y >= 20 && y < 23;
      EXPECT_EQ(inside ? 0x00336699u : 0u, Pixel(bench, x, y)) << x << "," << y;
    }
  }
}

TEST(Engine, CopyResetsTheColourAndMovesThePixels) {
  RegsBench bench;
  SetUpSurface(bench);
  RegWrite32(bench.pci_io(), 0x147C, 0x00ABCDEF);
  EngineFillRect(bench.context(), 0, 0, 2, 2);
  bench.adapter().PokeReg(0x1434, 0);  // source position 0,0, set by the caller
  bench.Clear();
  EXPECT_EQ(EFI_SUCCESS, EngineCopyRect(bench.context(), 100, 50, 2, 2));
  EXPECT_EQ((Ops{R32(0x0E40, 0), W32(0x146C, 0x50C036F3), W32(0x147C, 0xFFFFFFFF),
                 W32(0x1438, (50 << 16) | 100), W32(0x1598, (2 << 16) | 2), R32(0x0E40, 0)}),
            bench.Bar2());
  EXPECT_EQ(0x00ABCDEFu, Pixel(bench, 100, 50));
  EXPECT_EQ(0x00ABCDEFu, Pixel(bench, 101, 51));
  EXPECT_EQ(0u, Pixel(bench, 102, 50));
  EXPECT_EQ(1u, bench.adapter().stats().engine_copies);
}

}  // namespace
