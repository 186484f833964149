// Register sequences the model only stores and never judges: the start-up
// blocks, the pixel PLLs' programming order, the scaler's filters, fixed
// words and borders, the TV encoder's switch-off and the TMDS source byte.
// Each is compared write by write with the waits between, on a 1 us tick so
// every DelayMicroseconds shows as exactly its length.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "driver/engine/outputs.h"
#include "driver/engine/pll.h"
#include "driver/engine/scaler.h"
#include "driver/engine/startup.h"
#include "driver/engine/tmds.h"
#include "driver/engine/tv.h"
#include "engine_bench.h"

namespace engine_test {
namespace {

using Seq = std::vector<std::string>;

std::string Fmt(const char* format, uint32_t a, uint64_t b = 0) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, static_cast<unsigned long long>(b));
  return text;
}
std::string Reg(uint32_t offset, uint64_t value) { return Fmt("W32 0x%04X 0x%08llX", offset, value); }
std::string Reg8(uint32_t offset, uint64_t value) { return Fmt("W8 0x%04X 0x%02llX", offset, value); }
std::string Rd(uint32_t offset, uint64_t value) { return Fmt("R32 0x%04X 0x%08llX", offset, value); }
std::string Rd8(uint32_t offset, uint64_t value) { return Fmt("R8 0x%04X 0x%02llX", offset, value); }
std::string Mc(uint32_t index, uint64_t value) { return Fmt("MC 0x%02X <- 0x%08llX", index, value); }
std::string Clk(uint32_t index, uint64_t value) { return Fmt("CLK 0x%02X <- 0x%08llX", index, value); }
std::string Idx(uint32_t index, uint64_t value) { return Fmt("IDX 0x%02X <- 0x%08llX", index, value); }
std::string Wait(uint32_t us) { return Fmt("wait %u us", us); }

// The register-aperture trace as the operations it carries: writes through
// the three index/data pairs become one step each, time that passed between
// two accesses becomes a wait. Direct reads are kept only when asked for.
Seq Steps(const std::vector<kt270::Access>& trace, bool reads = false) {
  Seq steps;
  uint64_t last = trace.empty() ? 0 : trace.front().time_us;
  uint32_t mc_index = 0, clk_index = 0, idx_index = 0;
  for (const kt270::Access& a : trace) {
    if (a.space != kt270::Space::kBar2) continue;
    if (a.time_us != last) steps.push_back(Wait(static_cast<uint32_t>(a.time_us - last)));
    last = a.time_us;
    uint32_t off = static_cast<uint32_t>(a.offset);
    if (!a.write) {
      bool port = off == 0x08 || off == 0x0C || off == 0x30 || off == 0x34 || off == 0x70 || off == 0x74;
      if (reads && !port) steps.push_back(a.width == 1 ? Rd8(off, a.value) : Rd(off, a.value));
      continue;
    }
    switch (off) {
      case 0x70: mc_index = static_cast<uint32_t>(a.value); break;
      case 0x74: steps.push_back((mc_index & 0x00800000) ? Mc(mc_index & 0xFFFF, a.value) : "MC data, no enable"); break;
      case 0x08: clk_index = static_cast<uint32_t>(a.value); break;
      case 0x0C: steps.push_back((clk_index & 0x80) ? Clk(clk_index & 0x7F, a.value) : "CLK data, no enable"); break;
      case 0x30: idx_index = static_cast<uint32_t>(a.value); break;
      case 0x34: steps.push_back(Idx(idx_index, a.value)); break;
      default: steps.push_back(a.width == 1 ? Reg8(off, a.value) : Reg(off, a.value));
    }
  }
  return steps;
}

void Append(Seq& to, const Seq& more) { to.insert(to.end(), more.begin(), more.end()); }

// Equal sequences, or the first step where they part and a few around it.
testing::AssertionResult SameSteps(const Seq& expected, const Seq& got) {
  size_t i = 0;
  while (i < expected.size() && i < got.size() && expected[i] == got[i]) i++;
  if (i == expected.size() && i == got.size()) return testing::AssertionSuccess();
  testing::AssertionResult failure = testing::AssertionFailure();
  failure << "step " << i << " of " << expected.size() << " expected (" << got.size() << " traced)\n";
  for (size_t k = i >= 3 ? i - 3 : 0; k < i + 4; k++) {
    failure << "  " << k << ": " << (k < expected.size() ? expected[k] : "-") << "   |   "
            << (k < got.size() ? got[k] : "-") << "\n";
  }
  return failure;
}

// ---------------------------------------------------------------- start-up

// Memory-controller parameter sets A and B, P0 to P12.
const uint32_t kSetA[13] = {0x13131313, 0x13131313, 0x0648332C, 0x06483324, 0x0A44FF00, 0x0001C000, 0x00000000,
                            0x6852C353, 0x00008800, 0x103B0000, 0x00001404, 0x00000A62, 0x7F000000};
const uint32_t kSetB[13] = {0x1A1A1A1A, 0x1A1A1A1A, 0x0634332C, 0x06343324, 0x0A66FF00, 0x00000000, 0x0006318C,
                            0x6852C353, 0x0000A800, 0x103B0000, 0x00001404, 0x00000A62, 0x7F000000};

Seq IndexedInit() {
  return {Reg(0x004C, 1),          Idx(0x01, 0x1E0C0000), Idx(0x03, 0x00900003), Idx(0x70, 0x400A1807),
          Idx(0x85, 0),            Idx(0x91, 0),          Idx(0x92, 0),          Idx(0x93, 0),
          Idx(0xA0, 0x40001300),   Idx(0xB0, 0x81),       Idx(0xE0, 1),          Idx(0xA0, 0x40001300)};
}

Seq McInit(const uint32_t* p, bool set_b) {
  Seq s = {Reg(0x00F8, set_b ? 0x08000000 : 0x10000000), Mc(0x05, 0x161), Mc(0x8D, 0x78F), Mc(0x05, 0x161),
           Mc(0x30, 0x5000), Mc(0x35, 0x07420742), Mc(0x3B, 0x0015FF40), Mc(0x3C, 0x0015FF40), Mc(0x89, 0x600),
           Mc(0x8A, 0x600), Mc(0x91, 0x20021404), Mc(0x06, 0x00097635), Mc(0x0F, 0x0C004208), Mc(0x37, 0),
           Mc(0x38, 0), Mc(0x8F, 0)};
  for (uint32_t i : {0x4D, 0x4E, 0x4F, 0x50}) s.push_back(Mc(i, 0xBCBCBCBC));
  for (uint32_t i = 0x65; i <= 0x68; i++) s.push_back(Mc(i, p[5]));
  for (uint32_t i = 0x55; i <= 0x58; i++) s.push_back(Mc(i, p[6]));
  Append(s, {Mc(0x2D, p[7]), Mc(0x2E, p[8] | 23), Mc(0x31, p[9]), Mc(0x91, p[10] | 0x20021404), Mc(0x2F, p[11] | 2),
             Mc(0x8E, p[12] | 0x100460D6)});
  for (uint32_t i : {0x3D, 0x3F, 0x41, 0x43}) s.push_back(Mc(i, p[0]));
  for (uint32_t i : {0x3E, 0x40, 0x42, 0x44}) s.push_back(Mc(i, p[1]));
  for (uint32_t i = 0x69; i <= 0x6C; i++) s.push_back(Mc(i, p[2]));
  for (uint32_t i = 0x71; i <= 0x74; i++) s.push_back(Mc(i, p[3]));
  for (uint32_t i : {0x79, 0x7A, 0x7B, 0x7C, 0x81, 0x82, 0x85, 0x86}) s.push_back(Mc(i, p[4]));
  return s;
}

// On clock indices still at zero; MC 0x2E and 0x31 as the controller set left them.
Seq EngineClocks(uint32_t mc2e, uint32_t mc31) {
  return {Clk(3, 1), Clk(7, 1), Clk(0, 1), Clk(4, 1), Clk(3, 1), Clk(7, 1),
          Clk(1, 1), Clk(0, 0x030010AC), Clk(2, 1), Wait(2),
          Clk(0, 0x030010AC), Clk(0, 0x030010AD), Wait(200), Clk(0, 0x030010AC), Wait(200), Clk(2, 0),
          Clk(0, 0x010010AC),
          Mc(0x2E, (mc2e & ~0x200u) | 0x100), Wait(2), Mc(0x31, mc31 & 0xEFFFFFFF), Wait(1),
          Clk(4, 0x02000B08), Clk(6, 1), Clk(5, 1), Clk(4, 0x02000B09), Wait(2), Clk(4, 0x02000B0B), Wait(2),
          Clk(4, 0x02000B09), Wait(5),
          Clk(4, 0x02000B08), Wait(200), Clk(6, 0), Clk(4, 0x00000B08), Wait(2), Clk(4, 0x04000B08),
          Clk(7, 1), Clk(3, 1)};
}

// What the memory devices' start-up writes, from the values it reads; the
// start-up trace records it appends go to *mrt.
struct MemState {
  uint32_t mc37, mc38, clk0a, clk08, mc2f, mc91, mc31, mc2e, clk0b, r7ee0;
};
Seq MemDevices(const MemState& m, std::vector<uint32_t>* mrt) {
  Seq s = {Mc(0x37, (m.mc37 & 0xFCFFFFFF) | 0x01000000), Mc(0x37, m.mc37),
           Mc(0x38, (m.mc38 & 0xFCFFFFFF) | 0x01000000), Mc(0x38, m.mc38)};
  uint32_t v = m.clk0a | 0xF000;
  Append(s, {Clk(0x0A, v), Wait(2)});
  v |= 0x0F00;
  Append(s, {Clk(0x0A, v), Wait(5)});
  v &= ~0x0300u;
  Append(s, {Clk(0x0A, v), Wait(2)});
  v &= ~0x3000u;
  Append(s, {Clk(0x0A, v), Wait(200)});
  v |= 0x10;
  s.push_back(Clk(0x0A, v));

  uint32_t a = m.mc2f, b = m.mc91, c = a & 0xFFFF;
  bool extended = (b >> 28) == 2;
  auto traced = [&](uint32_t index, uint32_t value) {
    s.push_back(Mc(index, value));
    mrt->insert(mrt->end(), {0x80000000 | index, value});
  };
  traced(0x2F, 0x00020000);
  if (extended) traced(0x2F, 0x00322000), traced(0x2F, 0x00323000);
  traced(0x2F, (b & 0xFFFF) | 0x00320000);
  traced(0x2F, c | 0x00360100);
  s.push_back(Wait(2));
  mrt->insert(mrt->end(), {0xFFFFFFFF, 2});
  traced(0x2F, c | 0x00020000);
  traced(0x2F, c | 0x00620000);
  traced(0x2F, c | 0x00620000);
  traced(0x2F, c | 0x00320000);
  if (extended) traced(0x2F, (b & 0xFFFF) | 0x00320380), traced(0x2F, (b & 0xFC7F) | 0x00320000);
  traced(0x2F, 0x00660000);
  traced(0x31, m.mc31 | 0x10000000);
  traced(0x2E, (m.mc2e & ~0x100u) | 0x200);
  traced(0x2F, a);

  Append(s, {Clk(0x08, m.clk08 | 1), Clk(0x10, 0x0F3FF01A), Clk(0x14, 0x0F3FF01A), Clk(0x1A, 0x60A),
             Clk(0x12, 0x0F3FF50A), Clk(0x1B, 0x40A), Clk(0x15, 0xCA), Clk(0x18, 0x10A), Clk(0x19, 0x14A),
             Clk(0x17, 0x18A), Clk(0x16, 0x1CA), Clk(0x1C, 0x1A), Clk(0x27, 0x24A), Clk(0x28, 0x28A),
             Clk(0x28, 0x28A), Clk(0x0B, 0x100FAC1E), Clk(0x26, 0x13), Clk(0x1E, 0x13), Clk(0x1D, 0x13),
             Reg(0x0574, 1), Reg(0x0570, 0), Reg(0x0580, 0x0C000000), Reg(0x04CC, 0x0C000000)});
  uint32_t k = 0x100FAC1E | 1;
  s.push_back(Clk(0x0B, k));
  k = (k & 0xFFFFFC03) | 0x10;
  s.push_back(Clk(0x0B, k));
  k = (k & 0xFFFFFC03) | 0x000F008E;
  s.push_back(Clk(0x0B, k));
  s.push_back(Clk(0x0B, k | 0x400));
  Append(s, {Clk(0x08, m.clk08 | 1), Clk(0x08, m.clk08 | 5), Clk(0x0A, v | 0x80), Reg(0x7EE0, m.r7ee0 | 0x01111111)});
  return s;
}

std::vector<uint32_t> Words(const uint8_t* bytes, size_t size) {
  std::vector<uint32_t> words;
  for (size_t i = 0; i + 4 <= size; i += 4) {
    words.push_back(bytes[i] | bytes[i + 1] << 8 | bytes[i + 2] << 16 | uint32_t{bytes[i + 3]} << 24);
  }
  return words;
}

class Sequences : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(kt270::DefaultConfig()); }
  void Fresh(kt270::Config config) {
    bench_.reset(new EngineBench(config));
    bench_->firmware().SetTickUs(1);
  }
  EngineBench& bench() { return *bench_; }
  ADAPTER_CONTEXT* ctx() { return bench_->context(); }
  Seq Trace(bool reads = false) const { return Steps(bench_->trace(), reads); }
  std::unique_ptr<EngineBench> bench_;
};

TEST_F(Sequences, StartUpBlocksWriteByWriteForBothParameterSets) {
  for (bool set_b : {false, true}) {
    SCOPED_TRACE(set_b ? "set B" : "set A");
    kt270::Config config = kt270::DefaultConfig();
    config.strap = (config.strap & ~(3u << 17)) | ((set_b ? 3u : 1u) << 17);
    Fresh(config);
    const uint32_t* p = set_b ? kSetB : kSetA;
    ASSERT_EQ(EFI_SUCCESS, StartDisplayEngine(ctx()));

    std::vector<uint32_t> mrt;
    Seq expected = IndexedInit();
    Append(expected, {Reg(0x00EC, 0x444F), Reg(0x0130, 0x40800000)});
    Append(expected, McInit(p, set_b));
    Append(expected, EngineClocks(p[8] | 23, p[9]));
    MemState m{0, 0, 0, 0, p[11] | 2, p[10] | 0x20021404, p[9] & 0xEFFFFFFF, ((p[8] | 23) & ~0x200u) | 0x100, 0, 0};
    Append(expected, MemDevices(m, &mrt));
    Seq got = Trace();
    ASSERT_GE(got.size(), expected.size());
    got.resize(expected.size());
    EXPECT_TRUE(SameSteps(expected, got));
    EXPECT_EQ(32u, mrt.size());  // 15 writes and one wait
    const simplatform::PropertyRecord* published = bench().platform().Find("ZEY,MRT");
    ASSERT_NE(nullptr, published);
    EXPECT_EQ(mrt, Words(published->value.data(), published->value.size()));
  }
}

// With MC 0x91's top nibble anything but 2 the device commands shrink to
// eleven writes and a wait: 96 bytes more in the start-up trace.
TEST_F(Sequences, MemoryDevicesWithoutTheExtendedCommands) {
  ASSERT_EQ(EFI_SUCCESS, StartDisplayEngine(ctx()));
  ASSERT_EQ(128u, ctx()->MrtLength);
  uint32_t index = 0x91 | 0x00800000, value = 0x10021404;
  bench().adapter().MemWrite(2, 0x70, 4, 1, kt270::Stride::kNormal, &index);
  bench().adapter().MemWrite(2, 0x74, 4, 1, kt270::Stride::kNormal, &value);
  bench().Clear();
  ASSERT_EQ(EFI_SUCCESS, InitMemoryDevices(ctx()));

  std::vector<uint32_t> mrt;
  // What the first run left: ramp 0xCC10 | 0x80, CLK 0x08 = 5, MC 0x2E with 0x200.
  MemState m{0, 0, 0xCC90, 5, 0x0A62, 0x10021404, 0x103B0000, 0x8A17, 0, 0x01111111};
  EXPECT_TRUE(SameSteps(MemDevices(m, &mrt), Trace()));
  EXPECT_EQ(24u, mrt.size());
  ASSERT_EQ(128u + 96u, ctx()->MrtLength);
  EXPECT_EQ(mrt, Words(ctx()->MrtBuffer + 128, 96));
}

// ---------------------------------------------------------------- pixel PLLs

struct PllRegs {
  uint32_t before, ref, fb, after, post, control;
};
const PllRegs kPll[2] = {{0x0400, 0x0404, 0x0430, 0x0438, 0x043C, 0x0450},
                         {0x0410, 0x0414, 0x0434, 0x0440, 0x0444, 0x0454}};

TEST_F(Sequences, PixelPllProgrammingOrderForBothPlls) {
  for (uint8_t crtc : {0, 1}) {
    for (bool locks : {true, false}) {
      SCOPED_TRACE(testing::Message() << "PLL " << crtc + 1 << (locks ? " locking" : " never locking"));
      kt270::Config config = kt270::DefaultConfig();
      config.pll_locks = locks;
      Fresh(config);
      const PllRegs& r = kPll[crtc];
      kt270::Adapter& m = bench().adapter();
      m.PokeReg(r.ref, 0xABCDEFFF);
      m.PokeReg(r.post, 0x12345678);
      m.PokeReg(r.fb, 0x5A5A5A5A);
      m.PokeReg(r.control, 0xF3);
      bench().UseDetailed(CONNECTOR_DIGITAL2, crtc, 1, Timing1080p(), 1920, 1080);  // 148.50 MHz: R 1, P 8, F 44
      bench().Clear();
      ASSERT_EQ(EFI_SUCCESS, ProgramPixelPll(ctx(), 1, crtc));
      Seq expected = {Reg(r.before, 1),        Rd(r.ref, 0xABCDEFFF),  Reg(r.ref, 0xABCDEC01),
                      Rd(r.post, 0x12345678),  Reg(r.post, 0x12345608), Rd(r.fb, 0x5A5A5A5A),
                      Reg(r.fb, 0x582C5A5A),   Rd(r.fb, 0x582C5A5A),    Reg(r.fb, 0x582C5A50),
                      Rd8(r.control, 0xF3),    Reg8(r.control, 0xF1),   Wait(10),
                      Reg8(r.control, 0xF0),   Wait(10)};
      if (locks) {
        expected.push_back(Rd(r.control, 0x002000F0));
      } else {
        for (int poll = 0; poll < 100; poll++) Append(expected, {Rd(r.control, 0xF0), Wait(1)});
      }
      expected.push_back(Reg(r.after, 1));
      EXPECT_TRUE(SameSteps(expected, Trace(true)));
    }
  }
}

// ---------------------------------------------------------------- scaler

const uint32_t kFilter01[18] = {0x87C383FF, 0x803C83FF, 0x878783C3, 0x8078843C, 0x874B8387, 0x80B48478,
                                0x870F834B, 0x80F084B4, 0x86D2830F, 0x812D84F0, 0x869682D2, 0x8169852D,
                                0x865A8296, 0x81A58569, 0x861E825A, 0x81E185A5, 0x85E1821E, 0x821E85E1};
const uint32_t kFilter23[9] = {0x80E38F1C, 0x81C78E38, 0x82AA8D55, 0x838E8C71, 0x84718B8E,
                               0x85558AAA, 0x863889C7, 0x871C88E3, 0x88008800};

Seq ScalerOn(uint32_t base, bool tv) {
  Seq s = {Reg(base + 0x659C, 0),          Reg(base + 0x6594, 0x101),      Reg(base + 0x65A4, 0x00010001),
           Reg(base + 0x65B0, 0x00030100), Reg(base + 0x65C0, 0x00030100), Reg(base + 0x6590, 1),
           Reg(base + 0x65D4, 0x1010),     Reg(base + 0x6594, tv ? 0x103 : 0x101)};
  for (uint32_t n = 0; n < 4; n++) {
    s.push_back(Reg(base + 0x6578, n << 16));
    if (n < 2) {
      for (uint32_t w : kFilter01) s.push_back(Reg(base + 0x657C, w));
    } else {
      for (uint32_t w : kFilter23) s.push_back(Reg(base + 0x657C, w));
    }
  }
  return s;
}

Seq Bypass(uint32_t base, uint32_t w, uint32_t h) {
  return {Reg(base + 0x6584, w << 16 | h), Reg(base + 0x6134, w), Reg(base + 0x6138, h),
          Reg(base + 0x659C, 1),           Reg(base + 0x6594, 0), Reg(base + 0x6590, 0)};
}

TEST_F(Sequences, ScalerFixedWordsAndFiltersOnBothCrtcs) {
  struct Case {
    uint8_t crtc;
    uint32_t connector;
    bool tv_mode;
  } cases[] = {{0, CONNECTOR_DIGITAL2, false}, {1, CONNECTOR_TV1, true}, {0, CONNECTOR_TV2, true},
               {1, CONNECTOR_TV1 | CONNECTOR_TV2, false}};  // a television only when exactly one bit
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "CRTC " << c.crtc + 1 << " connector " << c.connector);
    Fresh(kt270::DefaultConfig());
    ctx()->CurrentDisplay = 0;
    ctx()->ConnectorType[0] = c.connector;
    bench().Clear();
    EnableScaler(ctx(), c.crtc);
    EXPECT_TRUE(SameSteps(ScalerOn(c.crtc * 0x800, c.tv_mode), Trace()));
  }
}

class ScalerFit : public Sequences {
 protected:
  EFI_STATUS Fit(uint8_t crtc, uint32_t wt, uint32_t ht, uint32_t wr, uint32_t hr, uint16_t clock,
                 uint32_t engine_clock, bool flag6 = false) {
    Fresh(kt270::DefaultConfig());
    bench().UseDetailed(CONNECTOR_DIGITAL2, crtc, 1, Timing1080p(), wr, hr);
    ctx()->Timing1.PixelClock = clock;
    ctx()->NativeMode[0] = {wt, ht, 32, 60, 0, {}};
    ctx()->CurrentDisplay = 0;
    ctx()->EngineClock = engine_clock;
    ctx()->PanelFlag6 = flag6;
    bench().Clear();
    return SetupScaler(ctx());
  }
  static Seq Scaled(uint8_t crtc, uint32_t wr, uint32_t hr, uint32_t h_border, uint32_t v_border, bool flag6) {
    uint32_t base = crtc * 0x800;
    Seq s = {Reg(base + 0x6080, 0), Wait(1)};
    if (!flag6) Append(s, {Reg(base + 0x658C, v_border << 16 | v_border), Reg(base + 0x6588, h_border << 16 | h_border)});
    Append(s, {Reg(base + 0x6584, wr << 16 | hr), Reg(base + 0x6134, wr), Reg(base + 0x6138, hr)});
    Append(s, ScalerOn(base, false));
    s.push_back(Reg(base + 0x6080, 1));
    return s;
  }
};

TEST_F(ScalerFit, BordersInEveryBranch) {
  struct Case {
    const char* what;
    uint8_t crtc;
    uint32_t wt, ht, wr, hr;
    uint16_t clock;
    bool flag6;
    uint32_t h, v;
  } cases[] = {
      {"narrower surface: vertical border", 0, 1280, 1024, 800, 480, 10800, false, 0, 170},
      {"the same on CRTC 2", 1, 1280, 1024, 800, 480, 10800, false, 0, 170},
      {"wider surface: horizontal border", 0, 1680, 1050, 1280, 1024, 14625, false, 184, 0},
      {"larger surface, wider: horizontal", 0, 800, 600, 1280, 1024, 4000, false, 240, 0},
      {"larger surface, narrower: vertical", 1, 1280, 1024, 1920, 1080, 10800, false, 0, 28},
      {"aspect within 95-105 %: none", 0, 1280, 1024, 1024, 800, 10800, false, 0, 0},
      {"PanelFlag6 leaves the borders", 0, 1280, 1024, 800, 480, 10800, true, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(EFI_SUCCESS, Fit(c.crtc, c.wt, c.ht, c.wr, c.hr, c.clock, 60000, c.flag6));
    Seq expected = Scaled(c.crtc, c.wr, c.hr, c.h, c.v, c.flag6), got = Trace();
    if (c.wr > c.wt || c.hr > c.ht) {
      // A source larger than the raster is given its own pitch and surface
      // end before the CRTC runs again; the rows would overlap otherwise.
      ASSERT_GT(got.size(), expected.size());
      EXPECT_EQ(expected.back(), got.back());
      EXPECT_EQ(Reg(c.crtc * 0x800 + 0x6120, (c.wr * 4 + 255) / 256 * 256 / 4), got[expected.size() - 1]);
      got.resize(expected.size() - 1);
      expected.pop_back();
    }
    EXPECT_TRUE(SameSteps(expected, got));
  }
}

// Each pair sits on the edge of one clock check: the clock one below is
// refused (scaler bypassed at the requested size), the edge itself fits.
TEST_F(ScalerFit, SecondAndFourthClockChecksDecide) {
  struct Case {
    const char* what;
    uint32_t wt, ht, wr, hr;
    uint16_t clock;
    uint32_t edge;
  } cases[] = {
      // 2518 x 1600 x 1200 / 640 / 480, past 32 bits before the divisions
      {"second: scaled pixel rate", 640, 480, 1600, 1200, 2518, 15737},
      // 14625 x 1280 x 2 / (1050 x 125 / 100)
      {"fourth: wider native aspect", 1680, 1050, 1280, 1024, 14625, 28536},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(EFI_INVALID_PARAMETER, Fit(0, c.wt, c.ht, c.wr, c.hr, c.clock, c.edge - 1));
    EXPECT_TRUE(SameSteps(Bypass(0, c.wr, c.hr), Trace()));
    EXPECT_EQ(EFI_SUCCESS, Fit(0, c.wt, c.ht, c.wr, c.hr, c.clock, c.edge));
    EXPECT_EQ(1u, bench().adapter().PeekReg(0x6590));
  }
}

TEST_F(Sequences, ScalerRefusalOnCrtc2FallsBackToTheNativeSize) {
  bench().Plug(kt270::Connector::kDigital, EdidBuilder().Digital().Detailed(Descriptor(Timing1680x1050())).Build());
  bench().UseDetailed(CONNECTOR_DIGITAL2, 1, 1, Timing1680x1050(), 1280, 1024);
  ctx()->EngineClock = 14624;  // one below the pixel clock
  ASSERT_EQ(EFI_SUCCESS, StartDisplayEngine(ctx()));
  bench().Clear();
  ProgramDisplayOutputs(ctx());
  // The mode set's native size, the bypass's requested one, the fallback's native one.
  EXPECT_EQ((std::vector<uint64_t>{0x0690041A, 0x05000400, 0x0690041A}), bench().WritesTo(0x6D84));
  EXPECT_EQ((std::vector<uint64_t>{1680, 1280, 1680}), bench().WritesTo(0x6934));
  EXPECT_EQ((std::vector<uint64_t>{1050, 1024, 1050}), bench().WritesTo(0x6938));
  EXPECT_TRUE(bench().WritesTo(0x6584).empty());
  EXPECT_EQ(1680u, ctx()->CurrentMode[0].HorizontalResolution);
  EXPECT_EQ(1050u, ctx()->CurrentMode[0].VerticalResolution);
  kt270::MonitorView view = bench().adapter().Watch(kt270::Connector::kDigital);
  EXPECT_EQ(kt270::Sync::kInSync, view.sync) << view.reason;
  EXPECT_EQ(1u, view.crtc);
  EXPECT_FALSE(view.scaled);
}

// ---------------------------------------------------------------- TV and TMDS

TEST_F(Sequences, DisableTvWholeSequence) {
  bench().adapter().PokeReg(0x5DFC, 0x12345678);
  bench().Clear();
  EXPECT_EQ(EFI_SUCCESS, DisableTv(ctx()));
  EXPECT_EQ((Seq{Rd(0x5DFC, 0x12345678), Reg(0x5DFC, 0x12345679), Reg(0x5E00, 0xFFFFFFFE), Reg(0x7A50, 0x01010101),
                 Wait(5), Reg(0x7A04, 0), Reg(0x7A54, 0x00041202), Reg(0x7A00, 0)}),
            Trace(true));
}

TEST_F(Sequences, TmdsSourceByteIsTheCrtc) {
  for (uint8_t crtc : {0, 1}) {
    SCOPED_TRACE(crtc);
    Fresh(kt270::DefaultConfig());
    bench().UseDetailed(CONNECTOR_DIGITAL2, crtc, 1, Timing1080p(), 1920, 1080);
    bench().adapter().PokeReg(0x7A80, 0x00000100);
    bench().adapter().PokeReg(0x7B04, 0x00000004);
    bench().adapter().PokeReg(0x7B10, 0x00000200);
    bench().Clear();
    EXPECT_EQ(EFI_SUCCESS, EnableTmds(ctx()));
    Seq got = Trace(true);
    ASSERT_GE(got.size(), 6u);
    got.resize(6);
    EXPECT_EQ((Seq{Rd(0x7A80, 0x100), Rd(0x7B04, 4), Rd(0x7B10, 0x200), Reg(0x7B00, 1), Reg8(0x7A84, crtc),
                   Reg(0x7AD8, 1)}),
              got);
    EXPECT_EQ(crtc, bench().adapter().DecodeOutput(kt270::Output::kTmds).source);
  }
}

}  // namespace
}  // namespace engine_test
