// The 2D engine: fills and copies as the register descriptions define them,
// overlap in every direction, and the aperture bound.
#include <gtest/gtest.h>

#include <vector>

#include "tests/adapter/model_fixture.h"

namespace kt270::test {
namespace {

constexpr uint32_t kBase = 0x10000;
constexpr uint32_t kSide = 64;           // pixels per row and rows
constexpr uint32_t kPitch = kSide * 4;   // bytes

Config FillsObeyDirection() {
  Config c = DefaultConfig();
  c.fill_ignores_direction = false;
  return c;
}

struct Surface : Bench {
  explicit Surface(Config config = FillsObeyDirection()) : Bench(config) {
    W32(reg::kEngDstOffset, kBase);
    W32(reg::kEngSrcOffset, kBase);
    W32(reg::kEngDstPitch, kPitch);
    W32(reg::kEngSrcPitch, kPitch);
    for (uint32_t i = 0; i < kSide * kSide; ++i) Set(i % kSide, i / kSide, 0x01000000 | i);
  }
  uint32_t* Px(uint32_t x, uint32_t y) {
    return reinterpret_cast<uint32_t*>(a().FrameBuffer() + kBase + y * kPitch + x * 4);
  }
  void Set(uint32_t x, uint32_t y, uint32_t v) { *Px(x, y) = v; }
  std::vector<uint32_t> Snapshot() {
    std::vector<uint32_t> s(kSide * kSide);
    for (uint32_t i = 0; i < s.size(); ++i) s[i] = *Px(i % kSide, i / kSide);
    return s;
  }
  void Run(uint32_t command, uint32_t dir, uint32_t src_xy, uint32_t dst_xy, uint32_t w,
           uint32_t h) {
    W32(reg::kEngDirection, dir);
    W32(reg::kEngSrcPos, src_xy);
    W32(reg::kEngCommand, command);
    W32(reg::kEngDstPos, dst_xy);
    W32(reg::kEngSize, w << 16 | h);
  }
  // A screen-to-screen copy with the directions and edges chosen so that
  // overlapping rectangles come out right.
  void Copy(uint32_t sx, uint32_t sy, uint32_t dx, uint32_t dy, uint32_t w, uint32_t h) {
    uint32_t dir = 0;
    if (sx < dx) {
      sx += w;
      dx += w;
    } else {
      dir |= 1;
    }
    if (sy < dy) {
      sy += h;
      dy += h;
    } else {
      dir |= 2;
    }
    Run(reg::kEngCmdCopy, dir, sy << 16 | sx, dy << 16 | dx, w, h);
  }
};

std::vector<uint32_t> Expected(std::vector<uint32_t> s, uint32_t sx, uint32_t sy, uint32_t dx,
                               uint32_t dy, uint32_t w, uint32_t h) {
  std::vector<uint32_t> from = s;
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) s[(dy + y) * kSide + dx + x] = from[(sy + y) * kSide + sx + x];
  }
  return s;
}

TEST(Engine, FillUsesColourAndTheDirectionBitsEdges) {
  Surface s;
  s.W32(reg::kEngColour, 0x00123456);
  s.Run(reg::kEngCmdFill, 3, 0, 3 << 16 | 2, 5, 4);  // top-left given
  EXPECT_EQ(*s.Px(2, 3), 0x00123456u);
  EXPECT_EQ(*s.Px(6, 6), 0x00123456u);
  EXPECT_NE(*s.Px(7, 6), 0x00123456u);
  EXPECT_NE(*s.Px(6, 7), 0x00123456u);
  EXPECT_NE(*s.Px(1, 3), 0x00123456u);
  EXPECT_EQ(s.a().stats().engine_fills, 1u);

  // Direction bits clear: the coordinates are the exclusive right/bottom.
  s.W32(reg::kEngColour, 0x00ABCDEF);
  s.Run(reg::kEngCmdFill, 0, 0, 20 << 16 | 30, 5, 4);
  EXPECT_EQ(*s.Px(25, 16), 0x00ABCDEFu);
  EXPECT_EQ(*s.Px(29, 19), 0x00ABCDEFu);
  EXPECT_NE(*s.Px(30, 19), 0x00ABCDEFu);
  EXPECT_NE(*s.Px(29, 20), 0x00ABCDEFu);
  EXPECT_NE(*s.Px(24, 16), 0x00ABCDEFu);
}

TEST(Engine, FillIgnoresTheDirectionBitsByDefault) {
  Config c = DefaultConfig();
  Bench b(c);
  b.W32(reg::kEngDstOffset, kBase);
  b.W32(reg::kEngDstPitch, kPitch);
  b.W32(reg::kEngDirection, 0);
  b.W32(reg::kEngColour, 7);
  b.W32(reg::kEngCommand, reg::kEngCmdFill);
  b.W32(reg::kEngDstPos, 0);
  b.W32(reg::kEngSize, 1 << 16 | 1);
  EXPECT_EQ(b.Fb32(kBase), 7u);
}

struct Move {
  int dx, dy;
};
class EngineOverlap : public ::testing::TestWithParam<Move> {};

TEST_P(EngineOverlap, CopyComesOutRight) {
  Surface s;
  const uint32_t sx = 20, sy = 20, w = 17, h = 11;
  uint32_t dx = sx + GetParam().dx, dy = sy + GetParam().dy;
  std::vector<uint32_t> want = Expected(s.Snapshot(), sx, sy, dx, dy, w, h);
  s.Copy(sx, sy, dx, dy, w, h);
  EXPECT_EQ(s.Snapshot(), want);
  EXPECT_EQ(s.a().stats().engine_copies, 1u);
  EXPECT_EQ(s.a().stats().engine_clipped, 0u);
}

INSTANTIATE_TEST_SUITE_P(AllDirections, EngineOverlap,
                         ::testing::Values(Move{3, 2}, Move{-3, 2}, Move{3, -2}, Move{-3, -2},
                                           Move{1, 0}, Move{-1, 0}, Move{0, 1}, Move{0, -1},
                                           Move{0, 0}, Move{25, 14}));

TEST(Engine, WrongDirectionSmearsAnOverlappingCopy) {
  Surface s;
  std::vector<uint32_t> want = Expected(s.Snapshot(), 10, 10, 11, 10, 8, 1);
  // Left to right although the destination lies to the right: every pixel
  // copies the one just written.
  s.Run(reg::kEngCmdCopy, 3, 10 << 16 | 10, 10 << 16 | 11, 8, 1);
  EXPECT_NE(s.Snapshot(), want);
  EXPECT_EQ(*s.Px(18, 10), *s.Px(11, 10));
}

TEST(Engine, UnknownCommandIsRecordedAndIgnored) {
  Surface s;
  std::vector<uint32_t> before = s.Snapshot();
  s.Run(0x12345678, 3, 0, 0, 10, 10);
  EXPECT_EQ(s.Snapshot(), before);
  EXPECT_EQ(s.a().stats().engine_unknown, 1u);
  EXPECT_EQ(s.a().stats().engine_last_unknown, 0x12345678u);
  EXPECT_EQ(s.R32(reg::kEngineStatus) >> 31, 0u);
}

TEST(Engine, NothingIsWrittenOutsideTheAperture) {
  Config c = FillsObeyDirection();
  c.fb_size = 1u << 20;
  Bench b(c);
  const uint32_t size = c.fb_size;
  // A maximal fill that starts 8 pixels before the end of the aperture.
  b.W32(reg::kEngDstOffset, size - 32);
  b.W32(reg::kEngDstPitch, 0x4000);
  b.W32(reg::kEngDirection, 3);
  b.W32(reg::kEngColour, 0xFFFFFFFF);
  b.W32(reg::kEngCommand, reg::kEngCmdFill);
  b.W32(reg::kEngDstPos, 0);
  b.W32(reg::kEngSize, 0xFFFFFFFF);
  EXPECT_EQ(b.Fb32(size - 4), 0xFFFFFFFFu);
  EXPECT_EQ(b.Fb32(size - 36), 0u);
  EXPECT_EQ(b.a().stats().engine_clipped, 0xFFFFull * 0xFFFF - 8);

  // Right-to-left from x = 3 with width 10: pixels left of x = 0 are dropped.
  b.W32(reg::kEngDstOffset, 0x1000);
  b.W32(reg::kEngDirection, 2);
  b.W32(reg::kEngColour, 5);
  b.W32(reg::kEngDstPos, 3);
  b.W32(reg::kEngSize, 10 << 16 | 1);
  EXPECT_EQ(b.Fb32(0x1000), 5u);
  EXPECT_EQ(b.Fb32(0x1008), 5u);
  EXPECT_EQ(b.Fb32(0x100C), 0u);
  EXPECT_EQ(b.Fb32(0x0FFC), 0u);

  // A copy whose source runs past the end leaves those pixels alone.
  b.W32(reg::kEngSrcOffset, size - 8);
  b.W32(reg::kEngSrcPitch, 0);
  b.W32(reg::kEngDstOffset, 0x2000);
  b.W32(reg::kEngDirection, 3);
  b.W32(reg::kEngCommand, reg::kEngCmdCopy);
  b.W32(reg::kEngSrcPos, 0);
  b.W32(reg::kEngDstPos, 0);
  b.W32(reg::kEngSize, 4 << 16 | 1);
  EXPECT_EQ(b.Fb32(0x2004), 0xFFFFFFFFu);
  EXPECT_EQ(b.Fb32(0x2008), 0u);
}

}  // namespace
}  // namespace kt270::test
