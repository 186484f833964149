// Register aperture, indirect spaces, status bits and configuration space,
// checked against the register descriptions.
#include <gtest/gtest.h>

#include "tests/adapter/model_fixture.h"

namespace kt270::test {
namespace {

TEST(Aperture, WidthsComposeLittleEndianAndEveryCallIsOneTraceRecord) {
  Bench b;
  TraceLog log;
  b.a().SetTrace(&TraceLog::Sink, &log);
  b.W32(0x2000, 0x11223344);
  b.W8(0x2001, 0xAB);
  uint16_t half = 0xBEEF;
  b.a().MemWrite(2, 0x2002, 2, 1, Stride::kNormal, &half);
  EXPECT_EQ(b.R32(0x2000), 0xBEEFAB44u);
  EXPECT_EQ(b.R8(0x2003), 0xBE);
  uint64_t wide = 0;
  b.a().MemRead(2, 0x2000, 8, 1, Stride::kNormal, &wide);
  EXPECT_EQ(wide, 0x00000000BEEFAB44ull);

  uint32_t four[4] = {1, 2, 3, 4};
  log.records.clear();
  b.now = 77;
  ASSERT_TRUE(b.a().MemWrite(2, 0x3000, 4, 4, Stride::kNormal, four));
  ASSERT_EQ(log.records.size(), 1u);
  const Access& r = log.records[0];
  EXPECT_EQ(r.time_us, 77u);
  EXPECT_TRUE(r.write);
  EXPECT_EQ(r.space, Space::kBar2);
  EXPECT_EQ(r.offset, 0x3000u);
  EXPECT_EQ(r.width, 4);
  EXPECT_EQ(r.count, 4u);
  EXPECT_EQ(r.value, 1u);
  EXPECT_EQ(b.R32(0x300C), 4u);

  // Fifo keeps the address, fill keeps the buffer element.
  b.a().MemWrite(2, 0x3100, 4, 4, Stride::kFifo, four);
  EXPECT_EQ(b.R32(0x3100), 4u);
  EXPECT_EQ(b.R32(0x3104), 0u);
  b.a().MemWrite(2, 0x3200, 4, 3, Stride::kFill, four);
  EXPECT_EQ(b.R32(0x3208), 1u);
}

TEST(Aperture, AccessesOutsideTheBarsAreRefusedAndTraced) {
  Bench b;
  TraceLog log;
  b.a().SetTrace(&TraceLog::Sink, &log);
  uint32_t v[2] = {0, 0};
  EXPECT_FALSE(b.a().MemRead(2, 0xFFFC, 4, 2, Stride::kNormal, v));
  EXPECT_TRUE(b.a().MemRead(2, 0xFFFC, 4, 2, Stride::kFifo, v));
  EXPECT_FALSE(b.a().MemWrite(2, 0x10000, 1, 1, Stride::kNormal, v));
  EXPECT_FALSE(b.a().MemWrite(0, b.a().FrameBufferSize() - 2, 4, 1, Stride::kNormal, v));
  EXPECT_FALSE(b.a().MemWrite(1, 0, 4, 1, Stride::kNormal, v));
  EXPECT_FALSE(b.a().MemWrite(2, 0, 3, 1, Stride::kNormal, v));
  EXPECT_FALSE(b.a().MemWrite(2, ~0ull - 2, 4, 1, Stride::kNormal, v));
  ASSERT_EQ(log.records.size(), 7u);
  EXPECT_FALSE(log.records[0].ok);
  EXPECT_TRUE(log.records[1].ok);
  EXPECT_EQ(b.a().stats().bad_accesses, 6u);
}

// The index-register sequences a driver uses, written out by hand.
void McWrite(Bench& b, uint32_t index, uint32_t value) {
  uint32_t old = b.R32(reg::kMcIndex);
  b.W32(reg::kMcIndex, (old & 0x007F0000) | (index & 0xFFFF) | 0x00800000);
  b.W32(reg::kMcData, value);
}
uint32_t McRead(Bench& b, uint32_t index) {
  uint32_t old = b.R32(reg::kMcIndex);
  b.W32(reg::kMcIndex, (old & 0xFF7F0000) | (index & 0xFFFF));
  return b.R32(reg::kMcData);
}

TEST(IndirectSpaces, MemoryControllerUsesSixteenBitIndexAndWriteEnableBit23) {
  Bench b;
  McWrite(b, 0x1234F, 0xCAFE0001);  // only the low 16 bits index
  EXPECT_EQ(b.a().Mc(0x234F), 0xCAFE0001u);
  EXPECT_EQ(McRead(b, 0x234F), 0xCAFE0001u);
  // Bits 16..22 and 24..31 of the index register do not select anything.
  b.W32(reg::kMcIndex, 0xFF7F234F);
  EXPECT_EQ(b.R32(reg::kMcData), 0xCAFE0001u);
  // Data written without the write enable is lost.
  b.W32(reg::kMcIndex, 0x00000010);
  b.W32(reg::kMcData, 0x55);
  EXPECT_EQ(b.a().Mc(0x10), 0u);
  EXPECT_EQ(b.a().stats().mc_writes_dropped, 1u);
  // With the write enable set a read returns the latch, not the entry.
  b.W32(reg::kMcIndex, 0x00800011);
  b.W32(reg::kMcData, 0x99);
  b.W32(reg::kMcIndex, 0x0080234F);
  EXPECT_EQ(b.R32(reg::kMcData), 0x99u);
  EXPECT_EQ(McRead(b, 0x11), 0x99u);
}

TEST(IndirectSpaces, ClockSpaceUsesSevenBitIndexAndWriteEnableBit7) {
  Bench b;
  b.W32(reg::kClkIndex, 0x05 | 0x80);
  b.W32(reg::kClkData, 0x030010AC);
  EXPECT_EQ(b.a().Clk(5), 0x030010ACu);
  b.W32(reg::kClkIndex, 0x85 & 0x7F);
  EXPECT_EQ(b.R32(reg::kClkData), 0x030010ACu);
  b.W32(reg::kClkIndex, 0x05);  // no write enable: dropped
  b.W32(reg::kClkData, 1);
  EXPECT_EQ(b.a().Clk(5), 0x030010ACu);
  EXPECT_EQ(b.a().stats().clk_writes_dropped, 1u);
  b.W32(reg::kClkIndex, 0x100 | 0x80 | 0x06);  // bits above 7 do not index
  b.W32(reg::kClkData, 7);
  EXPECT_EQ(b.a().Clk(6), 7u);
}

TEST(IndirectSpaces, IndexedSpaceNeedsNoWriteEnable) {
  Bench b;
  b.W32(reg::kIdxIndex, 0xA0);
  b.W32(reg::kIdxData, 0x40001300);
  EXPECT_EQ(b.a().Idx(0xA0), 0x40001300u);
  EXPECT_EQ(b.R32(reg::kIdxData), 0x40001300u);
  b.W32(reg::kIdxIndex, 0x1A0);
  b.W32(reg::kIdxData, 1);
  EXPECT_EQ(b.a().Idx(0xA0), 0x40001300u);
  EXPECT_EQ(b.a().stats().idx_unmapped, 1u);
}

TEST(Status, StrapsAndMemoryControllerIdleModes) {
  Config c = DefaultConfig();
  c.strap = 0x00060000;
  c.hwgpio = 0x12345678;
  c.swgpio = 0x0000BEEF;
  c.mc_idle = McIdle::kAfterPolls;
  c.mc_idle_polls = 3;
  Bench b(c);
  EXPECT_EQ(b.R32(reg::kStrap), 0x00060000u);
  EXPECT_EQ(b.R32(reg::kHwGpio), 0x12345678u);
  EXPECT_EQ(b.R32(reg::kSwGpio), 0x0000BEEFu);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(McRead(b, 8) & 0x10, 0u) << i;
  EXPECT_EQ(McRead(b, 8) & 0x10, 0x10u);
  McWrite(b, 0x2E, 0x100);  // reprogramming makes it busy again
  EXPECT_EQ(McRead(b, 8) & 0x10, 0u);

  c.mc_idle = McIdle::kNever;
  Bench never(c);
  for (int i = 0; i < 50; ++i) ASSERT_EQ(McRead(never, 8) & 0x10, 0u);
  c.mc_idle = McIdle::kAlways;
  Bench always(c);
  EXPECT_EQ(McRead(always, 8) & 0x10, 0x10u);
}

TEST(Status, EngineBusyForNStatusReadsAfterEachOperation) {
  Config c = DefaultConfig();
  c.engine_busy_reads = 2;
  Bench b(c);
  EXPECT_EQ(b.R32(reg::kEngineStatus) >> 31, 0u);  // idle before any work
  b.W32(reg::kEngCommand, reg::kEngCmdFill);
  b.W32(reg::kEngSize, 0);
  EXPECT_EQ(b.R32(reg::kEngineStatus) >> 31, 1u);
  EXPECT_EQ(b.R32(reg::kEngineStatus) >> 31, 1u);
  EXPECT_EQ(b.R32(reg::kEngineStatus) >> 31, 0u);
  c.engine_busy_reads = -1;
  Bench stuck(c);
  stuck.W32(reg::kEngCommand, reg::kEngCmdCopy);
  stuck.W32(reg::kEngSize, 0);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(stuck.R32(reg::kEngineStatus) >> 31, 1u);
  stuck.W32(reg::kEngColour, 0);
  EXPECT_EQ(stuck.a().stats().engine_writes_busy, 1u);
}

void ProgramPll(Bench& b, unsigned pll, uint32_t r, uint32_t p, uint32_t f, uint32_t tenths) {
  const reg::PllRegs& x = reg::kPll[pll];
  b.W32(x.ref_div, (b.R32(x.ref_div) & 0xFFFFFC00) | r);
  b.W32(x.post_div, (b.R32(x.post_div) & 0xFFFFFF80) | p);
  b.W32(x.fb_div, (b.R32(x.fb_div) & 0xF800FFF0) | f << 16 | tenths);
}

TEST(Pll, FrequencyDecodeWithTenthsDigit) {
  Bench b;
  ProgramPll(b, 0, 1, 29, 43, 0);
  PllState s = b.a().DecodePll(0);
  EXPECT_EQ(s.out_hz / 10000, 4003u);  // 40.03 MHz
  EXPECT_EQ(s.vco_hz, 1161000000u);
  ProgramPll(b, 1, 3, 6, 110, 0);
  EXPECT_EQ(b.a().DecodePll(1).out_hz, 165000000u);
  ProgramPll(b, 1, 2, 10, 80, 5);  // F = 80.5
  EXPECT_EQ(b.a().DecodePll(1).out_hz, 108675000u);
}

TEST(Pll, LockOnlyWithHoldBitsClearAndVcoInRange) {
  Bench b;
  const uint32_t ctl = reg::kPll[0].control;
  ProgramPll(b, 0, 1, 29, 43, 0);  // VCO 1161 MHz
  EXPECT_EQ(b.R32(ctl) & reg::kPllLockBit, 0u);  // held since power-on
  b.W8(ctl, b.R8(ctl) & 0xFD);
  EXPECT_EQ(b.R32(ctl) & reg::kPllLockBit, 0u);  // bit 0 still set
  b.W8(ctl, b.R8(ctl) & 0xFC);
  EXPECT_EQ(b.R32(ctl) & reg::kPllLockBit, reg::kPllLockBit);
  ProgramPll(b, 0, 1, 29, 45, 0);  // 1215 MHz: above range
  EXPECT_EQ(b.R32(ctl) & reg::kPllLockBit, 0u);
  ProgramPll(b, 0, 3, 6, 100, 0);  // exactly 900 MHz
  EXPECT_EQ(b.R32(ctl) & reg::kPllLockBit, reg::kPllLockBit);
  ProgramPll(b, 0, 0, 6, 100, 0);  // no reference divider
  EXPECT_EQ(b.R32(ctl) & reg::kPllLockBit, 0u);
  b.W32(ctl, b.R32(ctl) | 3);  // switching off holds it again
  ProgramPll(b, 0, 1, 29, 43, 0);
  EXPECT_EQ(b.R32(ctl) & reg::kPllLockBit, 0u);

  Config c = DefaultConfig();
  c.pll_locks = false;
  Bench never(c);
  ProgramPll(never, 1, 1, 29, 43, 0);
  never.W8(reg::kPll[1].control, 0);
  EXPECT_EQ(never.R32(reg::kPll[1].control) & reg::kPllLockBit, 0u);
}

TEST(ConfigSpace, IdentityCommandAndBarSizing) {
  Config c = DefaultConfig();
  c.device_id = 0x6B12;
  c.fb_size = 1u << 20;
  Kt270PciDevice dev(c);
  uint16_t id[2] = {0, 0};
  ASSERT_TRUE(dev.ConfigRead(0, 2, 2, id));
  EXPECT_EQ(id[0], 0x1F6B);
  EXPECT_EQ(id[1], 0x6B12);
  uint32_t bar = 0;
  dev.ConfigRead(0x10, 4, 1, &bar);
  EXPECT_EQ(bar, 0xD0000008u);

  // Memory decode is off until the command register enables it.
  uint32_t v = 0;
  EXPECT_TRUE(dev.MemRead(2, reg::kStrap, 4, 1, sim::PciStride::Normal, &v));
  EXPECT_EQ(v, 0xFFFFFFFFu);
  uint16_t cmd = 0;
  dev.ConfigRead(4, 2, 1, &cmd);
  cmd |= 7;
  dev.ConfigWrite(4, 2, 1, &cmd);
  EXPECT_EQ(dev.adapter().Command(), 7);
  EXPECT_TRUE(dev.MemRead(2, reg::kStrap, 4, 1, sim::PciStride::Normal, &v));
  EXPECT_EQ(v, 0u);

  const uint32_t ones = 0xFFFFFFFF;
  dev.ConfigWrite(0x10, 4, 1, &ones);
  dev.ConfigRead(0x10, 4, 1, &bar);
  EXPECT_EQ(bar, 0xFFF00008u);  // 1 MiB, prefetchable memory
  dev.ConfigWrite(0x18, 4, 1, &ones);
  dev.ConfigRead(0x18, 4, 1, &bar);
  EXPECT_EQ(bar, 0xFFFF0000u);  // 64 KiB registers
  dev.ConfigWrite(0x14, 4, 1, &ones);
  dev.ConfigRead(0x14, 4, 1, &bar);
  EXPECT_EQ(bar, 0xFFFFFF01u);  // 256 bytes of I/O
  dev.ConfigWrite(0, 4, 1, &ones);  // identity is read-only
  dev.ConfigRead(0, 2, 1, id);
  EXPECT_EQ(id[0], 0x1F6B);
  uint8_t all[256];
  EXPECT_TRUE(dev.ConfigRead(0, 1, 256, all));
  EXPECT_FALSE(dev.ConfigRead(0xFE, 4, 1, &v));
}

// What a PCI bus driver reports for each BAR (GetBarAttributes, and where
// the firmware runs put the frame buffer): the sizes that sizing reads back.
TEST(ConfigSpace, BarRangeIsWhereAndHowLargeTheBarDecodes) {
  Config c = DefaultConfig();
  c.fb_size = 1u << 20;
  Kt270PciDevice dev(c);
  const struct {
    unsigned bar;
    uint64_t base, size;
    bool io;
  } kBars[] = {{0, 0xD0000000u, 1u << 20, false}, {1, c.bar[1] & ~0x3u, 256, true}, {2, c.bar[2] & ~0xFu, 64u << 10, false}};
  for (const auto& want : kBars) {
    uint64_t base = 0, size = 0;
    bool io = !want.io;
    ASSERT_TRUE(dev.adapter().BarRange(want.bar, &base, &size, &io)) << want.bar;
    EXPECT_EQ(base, want.base) << want.bar;
    EXPECT_EQ(size, want.size) << want.bar;
    EXPECT_EQ(io, want.io) << want.bar;
  }
  uint64_t base, size;
  bool io;
  EXPECT_FALSE(dev.adapter().BarRange(3, &base, &size, &io));
}

}  // namespace
}  // namespace kt270::test
