// Engine start-up on a cold adapter: the strap-selected parameter set, the
// memory-device trace published as "ZEY,MRT", and the state it leaves.
#include <gtest/gtest.h>

#include "driver/engine/startup.h"
#include "engine_bench.h"

namespace engine_test {
namespace {

kt270::Config StrapConfig(uint32_t strap_field) {
  kt270::Config config = kt270::DefaultConfig();
  config.strap = (config.strap & ~(3u << 17)) | (strap_field << 17);
  return config;
}

// Memory-controller writes as (index, value), from the index/data ports.
std::vector<std::pair<uint32_t, uint32_t>> McWrites(const EngineBench& bench) {
  std::vector<std::pair<uint32_t, uint32_t>> writes;
  uint32_t index = 0;
  for (const Op& op : bench.Writes()) {
    if (op.offset == 0x70) index = op.value & 0xFFFF;
    if (op.offset == 0x74) writes.emplace_back(index, static_cast<uint32_t>(op.value));
  }
  return writes;
}

std::vector<uint32_t> Words(const std::vector<uint8_t>& bytes) {
  std::vector<uint32_t> words;
  for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
    words.push_back(bytes[i] | bytes[i + 1] << 8 | bytes[i + 2] << 16 | uint32_t{bytes[i + 3]} << 24);
  }
  return words;
}

// The memory-device commands as traced, for timing word P8 of the set.
std::vector<uint32_t> ExpectedTrace(uint32_t p8) {
  return {
      0x8000002F, 0x00020000, 0x8000002F, 0x00322000, 0x8000002F, 0x00323000, 0x8000002F, 0x00321404,
      0x8000002F, 0x00360B62, 0xFFFFFFFF, 2,          0x8000002F, 0x00020A62, 0x8000002F, 0x00620A62,
      0x8000002F, 0x00620A62, 0x8000002F, 0x00320A62, 0x8000002F, 0x00321784, 0x8000002F, 0x00321404,
      0x8000002F, 0x00660000, 0x80000031, 0x103B0000, 0x8000002E, p8 | 0x17 | 0x200, 0x8000002F, 0x00000A62,
  };
}

const std::vector<uint8_t>* Published(const EngineBench& bench, const char* name) {
  const simplatform::PropertyRecord* p = bench.platform().Find(name);
  return p ? &p->value : nullptr;
}

TEST(StartDisplayEngine, StrapSelectsParameterSetB) {
  EngineBench bench(StrapConfig(3));
  ASSERT_EQ(EFI_SUCCESS, StartDisplayEngine(bench.context()));
  EXPECT_EQ(std::vector<uint64_t>{0x08000000}, bench.WritesTo(0x00F8));
  kt270::Adapter& m = bench.adapter();
  EXPECT_EQ(0x1A1A1A1Au, m.Mc(0x3D));
  EXPECT_EQ(0x1A1A1A1Au, m.Mc(0x44));
  EXPECT_EQ(0x0634332Cu, m.Mc(0x6C));
  EXPECT_EQ(0x06343324u, m.Mc(0x71));
  EXPECT_EQ(0x0A66FF00u, m.Mc(0x86));
  EXPECT_EQ(0u, m.Mc(0x65));
  EXPECT_EQ(0x0006318Cu, m.Mc(0x58));
  // The interval k = 23 from MC 0x05 bits 7..5 = 3.
  auto writes = McWrites(bench);
  auto first = std::find_if(writes.begin(), writes.end(), [](auto& w) { return w.first == 0x2E; });
  ASSERT_NE(writes.end(), first);
  EXPECT_EQ(0x0000A817u, first->second);

  const std::vector<uint8_t>* mrt = Published(bench, "ZEY,MRT");
  ASSERT_NE(nullptr, mrt);
  EXPECT_EQ(ExpectedTrace(0xA800), Words(*mrt));
}

TEST(StartDisplayEngine, OtherStrapsSelectParameterSetA) {
  for (uint32_t field : {0u, 1u, 2u}) {
    SCOPED_TRACE(field);
    EngineBench bench(StrapConfig(field));
    ASSERT_EQ(EFI_SUCCESS, StartDisplayEngine(bench.context()));
    EXPECT_EQ(std::vector<uint64_t>{0x10000000}, bench.WritesTo(0x00F8));
    EXPECT_EQ(0x13131313u, bench.adapter().Mc(0x3E));
    EXPECT_EQ(0x0001C000u, bench.adapter().Mc(0x68));
    const std::vector<uint8_t>* mrt = Published(bench, "ZEY,MRT");
    ASSERT_NE(nullptr, mrt);
    ASSERT_EQ(128u, mrt->size());
    EXPECT_EQ(ExpectedTrace(0x8800), Words(*mrt));
  }
}

TEST(StartDisplayEngine, SecondRunPublishesTheTraceTwice) {
  EngineBench bench;
  ASSERT_EQ(EFI_SUCCESS, StartDisplayEngine(bench.context()));
  std::vector<uint8_t> once = *Published(bench, "ZEY,MRT");
  ASSERT_EQ(EFI_SUCCESS, StartDisplayEngine(bench.context()));
  std::vector<uint8_t> twice = *Published(bench, "ZEY,MRT");
  ASSERT_EQ(256u, twice.size());
  EXPECT_EQ(once, std::vector<uint8_t>(twice.begin(), twice.begin() + 128));
  EXPECT_EQ(once, std::vector<uint8_t>(twice.begin() + 128, twice.end()));
  EXPECT_EQ((std::vector<uint8_t>{0, 0}), *Published(bench, "ZEY,MemVendorID"));
}

TEST(StartDisplayEngine, PublishedTraceNeverExceedsItsBuffer) {
  EngineBench bench;
  for (int run = 0; run < 6; run++) ASSERT_EQ(EFI_SUCCESS, StartDisplayEngine(bench.context()));
  const std::vector<uint8_t>* mrt = Published(bench, "ZEY,MRT");
  ASSERT_NE(nullptr, mrt);
  EXPECT_LE(mrt->size(), 512u);
  EXPECT_LE(bench.context()->MrtLength, 512u);
}

TEST(StartDisplayEngine, LeavesTheEngineUpAndEveryOutputOff) {
  EngineBench bench;
  ADAPTER_CONTEXT* c = bench.context();
  c->CurrentDisplay = 1;
  ASSERT_EQ(EFI_SUCCESS, StartDisplayEngine(c));
  EXPECT_EQ(1, c->EngineStarted);
  EXPECT_EQ(0, c->CurrentDisplay);
  kt270::Adapter& m = bench.adapter();
  std::vector<Op> direct = bench.DirectWrites();
  ASSERT_GE(direct.size(), 3u);
  EXPECT_EQ(W32(0x004C, 1), direct[0]);
  EXPECT_EQ(W32(0x00EC, 0x444F), direct[1]);
  EXPECT_EQ(W32(0x0130, 0x40800000), direct[2]);
  for (unsigned crtc = 0; crtc < 2; crtc++) {
    EXPECT_EQ(0x01000000u, m.DecodeCrtc(crtc).control);
  }
  EXPECT_FALSE(m.DecodeOutput(kt270::Output::kDacA).enabled);
  EXPECT_FALSE(m.DecodeOutput(kt270::Output::kDacB).enabled);
  EXPECT_FALSE(m.DecodeOutput(kt270::Output::kTv).enabled);
  // The lookup tables hold the identity ramp.
  EXPECT_EQ(512u, bench.WritesTo(0x6494).size());
}

}  // namespace
}  // namespace engine_test
