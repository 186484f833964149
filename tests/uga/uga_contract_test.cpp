// UGA Draw through a started driver: Blt on both displays with their own
// surfaces, the direction register of a screen copy, GetMode's pointer
// checks, the signature reports and the GPIO property's byte order.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver/core/context.h"
#include "efi/efi.h"
#include "sim/platform/platform_stand_in.h"
#include "tests/support/rig.h"
#include "tests/support/trace_ops.h"

namespace {

using testsupport::Op;
using testsupport::R32;
using testsupport::W32;

class UgaContract : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::RigOptions options;
    options.adapter.swgpio = 0x12345678;
    rig_.reset(new testsupport::Rig(options));
    platform_ = &rig_->InstallPlatform();
    ASSERT_EQ(EFI_SUCCESS, rig_->LoadDriver());
    ASSERT_EQ(EFI_SUCCESS, rig_->Connect());
    uga_ = rig_->uga_draw();
    ASSERT_NE(nullptr, uga_);
    // No monitor: the default display, 800 x 600 on CRTC 1.
    ASSERT_EQ(EFI_SUCCESS, uga_->SetMode(uga_, 800, 600, 32, 60));
    ctx_ = reinterpret_cast<ADAPTER_CONTEXT*>(reinterpret_cast<uint8_t*>(uga_) - offsetof(ADAPTER_CONTEXT, UgaDraw));
  }
  // Display 1 on CRTC 2 with a surface of its own.
  void SecondDisplay(uint32_t base, uint32_t pitch) {
    ctx_->DisplayCount = 2;
    ctx_->CrtcIndex[1] = 1;
    rig_->adapter().PokeReg(0x6910, base);
    rig_->adapter().PokeReg(0x6920, pitch);
  }
  uint32_t Pixel(uint32_t base, uint32_t pitch, uint32_t x, uint32_t y) {
    uint32_t v;
    std::memcpy(&v, rig_->adapter().FrameBuffer() + base + (y * pitch + x) * 4, 4);
    return v;
  }
  void SetPixel(uint32_t base, uint32_t pitch, uint32_t x, uint32_t y, uint32_t v) {
    std::memcpy(rig_->adapter().FrameBuffer() + base + (y * pitch + x) * 4, &v, 4);
  }
  // The surface set-up of each display's turn: pitch in bytes to both
  // pitch registers, base to both offset registers, the flushing read.
  std::vector<Op> SurfaceSetUps() const {
    std::vector<Op> ops;
    for (const Op& op : testsupport::Bar2Ops(rig_->trace())) {
      bool setup = op.write ? (op.offset == 0x1408 || op.offset == 0x15B0 || op.offset == 0x15AC || op.offset == 0x1404)
                            : op.offset == 0x00F8;
      if (setup) ops.push_back(op.write ? op : R32(op.offset, 0));
    }
    return ops;
  }
  std::vector<kt270::Access> FrameBufferAccesses() const {
    return rig_->Select([](const kt270::Access& a) { return a.space == kt270::Space::kBar0; });
  }

  std::unique_ptr<testsupport::Rig> rig_;
  simplatform::PlatformStandIn* platform_ = nullptr;
  EFI_UGA_DRAW_PROTOCOL* uga_ = nullptr;
  ADAPTER_CONTEXT* ctx_ = nullptr;
};

TEST_F(UgaContract, SwGpioInfoIsPublishedMostSignificantByteFirst) {
  const simplatform::PropertyRecord* p = platform_->Find("ZEY,SWGPIO Info");
  ASSERT_NE(nullptr, p);
  EXPECT_EQ((std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78}), p->value);
}

TEST_F(UgaContract, BufferToVideoWritesBothSurfacesEachWithItsBaseAndPitch) {
  const uint32_t b0 = rig_->adapter().PeekReg(0x6110), p0 = rig_->adapter().PeekReg(0x6120);
  const uint32_t b1 = 0x00800000, p1 = 1024;
  ASSERT_NE(b0, b1);
  ASSERT_NE(p0, p1);
  SecondDisplay(b1, p1);
  EFI_UGA_PIXEL buffer[2][3];
  for (int y = 0; y < 2; y++) {
    for (int x = 0; x < 3; x++) buffer[y][x] = {uint8_t(x), uint8_t(y), 0x80, 0};
  }
  rig_->ClearTrace();
  ASSERT_EQ(EFI_SUCCESS, uga_->Blt(uga_, &buffer[0][0], EfiUgaBltBufferToVideo, 0, 0, 5, 7, 3, 2, 0));
  EXPECT_EQ((std::vector<Op>{W32(0x1408, p0 * 4), W32(0x15B0, p0 * 4), W32(0x15AC, b0), W32(0x1404, b0),
                             R32(0x00F8, 0), W32(0x1408, p1 * 4), W32(0x15B0, p1 * 4), W32(0x15AC, b1),
                             W32(0x1404, b1), R32(0x00F8, 0)}),
            SurfaceSetUps());
  // One row per frame-buffer write, display 0's rows first.
  std::vector<kt270::Access> rows = FrameBufferAccesses();
  ASSERT_EQ(4u, rows.size());
  const uint64_t offsets[4] = {b0 + (7 * p0 + 5) * 4, b0 + (8 * p0 + 5) * 4, b1 + (7 * p1 + 5) * 4,
                               b1 + (8 * p1 + 5) * 4};
  for (int i = 0; i < 4; i++) {
    EXPECT_TRUE(rows[i].write);
    EXPECT_EQ(3u, rows[i].count);
    EXPECT_EQ(offsets[i], rows[i].offset) << i;
  }
  for (uint32_t y = 0; y < 2; y++) {
    for (uint32_t x = 0; x < 3; x++) {
      uint32_t expected = 0x00800000u | y << 8 | x;
      EXPECT_EQ(expected, Pixel(b0, p0, 5 + x, 7 + y));
      EXPECT_EQ(expected, Pixel(b1, p1, 5 + x, 7 + y));
    }
  }
}

// Each display's rows are read through its own base and pitch, display 0's
// first; with two displays the second one's pixels are what remain.
TEST_F(UgaContract, VideoToBufferReadsEachSurfaceTheLastOneRemains) {
  const uint32_t b0 = rig_->adapter().PeekReg(0x6110), p0 = rig_->adapter().PeekReg(0x6120);
  const uint32_t b1 = 0x00800000, p1 = 1024;
  for (uint32_t y = 0; y < 2; y++) {
    for (uint32_t x = 0; x < 4; x++) {
      SetPixel(b0, p0, 10 + x, 20 + y, 0x00100000 | y << 8 | x);
      SetPixel(b1, p1, 10 + x, 20 + y, 0x00200000 | (y + 4) << 8 | (x + 4));
    }
  }
  struct Case {
    uint32_t displays, red, plus;
  } cases[] = {{1, 0x10, 0}, {2, 0x20, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.displays);
    if (c.displays == 2) SecondDisplay(b1, p1);
    std::vector<EFI_UGA_PIXEL> buffer(2 * 6);
    rig_->ClearTrace();
    ASSERT_EQ(EFI_SUCCESS, uga_->Blt(uga_, buffer.data(), EfiUgaVideoToBltBuffer, 10, 20, 1, 0, 4, 2, 6 * 4));
    std::vector<kt270::Access> rows = FrameBufferAccesses();
    ASSERT_EQ(2u * c.displays, rows.size());
    EXPECT_EQ(b0 + (20 * p0 + 10) * 4, rows[0].offset);
    EXPECT_EQ(b0 + (21 * p0 + 10) * 4, rows[1].offset);
    if (c.displays == 2) {
      EXPECT_EQ(b1 + (20 * p1 + 10) * 4, rows[2].offset);
      EXPECT_EQ(b1 + (21 * p1 + 10) * 4, rows[3].offset);
    }
    for (uint32_t y = 0; y < 2; y++) {
      for (uint32_t x = 0; x < 4; x++) {
        const EFI_UGA_PIXEL& p = buffer[y * 6 + 1 + x];
        EXPECT_EQ(x + c.plus, p.Blue);
        EXPECT_EQ(y + c.plus, p.Green);
        EXPECT_EQ(c.red, p.Red);
      }
    }
  }
}

// Only the two direction bits of 0x16C0 are the copy's; the rest is kept.
TEST_F(UgaContract, VideoToVideoKeepsTheOtherBitsOfTheDirectionRegister) {
  const struct {
    uint32_t sx, sy, dx, dy;
    uint32_t bits;        // bit 0 left to right, bit 1 top to bottom
    uint32_t from, to;    // (Y << 16) | X written to 0x1434 and 0x1438
  } copies[] = {
      {10, 10, 20, 30, 0, (10 + 6) << 16 | (10 + 4), (30 + 6) << 16 | (20 + 4)},  // right and down
      {20, 30, 10, 10, 3, 30 << 16 | 20, 10 << 16 | 10},                          // left and up
      {10, 30, 20, 10, 2, 30 << 16 | (10 + 4), 10 << 16 | (20 + 4)},              // right and up
      {20, 10, 10, 30, 1, (10 + 6) << 16 | 20, (30 + 6) << 16 | 10},              // left and down
  };
  for (uint32_t keep : {0x5A5A5A58u, 0xA5A5A5A4u}) {
    for (const auto& c : copies) {
      SCOPED_TRACE(testing::Message() << std::hex << keep << " " << c.sx << "," << c.sy << " to " << c.dx << ","
                                      << c.dy);
      rig_->adapter().PokeReg(0x16C0, keep | (~c.bits & 3));
      rig_->ClearTrace();
      ASSERT_EQ(EFI_SUCCESS, uga_->Blt(uga_, nullptr, EfiUgaVideoToVideo, c.sx, c.sy, c.dx, c.dy, 4, 6, 0));
      std::vector<uint64_t> writes = rig_->Bar2Writes(0x16C0);
      ASSERT_FALSE(writes.empty());
      for (uint64_t w : writes) EXPECT_EQ(keep, w & ~3ull);
      EXPECT_EQ(keep | c.bits, writes.back());
      EXPECT_EQ(std::vector<uint64_t>{c.from}, rig_->Bar2Writes(0x1434));
      EXPECT_EQ(std::vector<uint64_t>{c.to}, rig_->Bar2Writes(0x1438));
    }
  }
}

TEST_F(UgaContract, GetModeRefusesEachNullPointerAndWritesNothing) {
  for (int missing = 0; missing < 4; missing++) {
    UINT32 values[4] = {0xDEAD, 0xDEAD, 0xDEAD, 0xDEAD};
    UINT32* p[4] = {&values[0], &values[1], &values[2], &values[3]};
    p[missing] = nullptr;
    EXPECT_EQ(EFI_INVALID_PARAMETER, uga_->GetMode(uga_, p[0], p[1], p[2], p[3])) << missing;
    for (UINT32 v : values) EXPECT_EQ(0xDEADu, v) << missing;
  }
  UINT32 w = 0, h = 0, d = 0, r = 0;
  EXPECT_EQ(EFI_SUCCESS, uga_->GetMode(uga_, &w, &h, &d, &r));
  EXPECT_EQ((std::vector<UINT32>{800, 600, 32, 60}), (std::vector<UINT32>{w, h, d, r}));
}

// A record without the signature: each entry reports its own line and
// leaves the record alone.
TEST_F(UgaContract, BadSignatureReportsModuleAndLine) {
  std::vector<uint8_t> record(sizeof(ADAPTER_CONTEXT), 0x5A);
  auto* fake = &reinterpret_cast<ADAPTER_CONTEXT*>(record.data())->UgaDraw;
  const std::vector<uint8_t> before = record;
  UINT32 w, h, d, r;
  EFI_UGA_PIXEL pixel{};
  const struct {
    const char* entry;
    std::function<EFI_STATUS()> call;
    const char* report;
  } cases[] = {
      {"SetMode", [&] { return uga_->SetMode(fake, 800, 600, 32, 60); },
       "EASSERT FAILED: quovanuga(325): \"CR has Bad Signature\"N\r\n"},
      {"GetMode", [&] { return uga_->GetMode(fake, &w, &h, &d, &r); },
       "EASSERT FAILED: quovanuga(441): \"CR has Bad Signature\"N\r\n"},
      {"Blt", [&] { return uga_->Blt(fake, &pixel, EfiUgaVideoFill, 0, 0, 0, 0, 1, 1, 0); },
       "EASSERT FAILED: quovanuga(78): \"CR has Bad Signature\"N\r\n"},
  };
  for (const auto& c : cases) {
    rig_->fw().StdErr().Clear();
    rig_->ClearTrace();
    EXPECT_EQ(EFI_INVALID_PARAMETER, c.call()) << c.entry;
    EXPECT_EQ(c.report, rig_->fw().StdErr().Text()) << c.entry;
    EXPECT_TRUE(rig_->trace().empty()) << c.entry;
    EXPECT_EQ(before, record) << c.entry;
  }
}

}  // namespace
