// Blt over a PCI I/O that fails one transfer: the failure is reported, the
// task priority comes back, and nothing after it is drawn.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "efi/efi.h"
#include "sim/edid/edid_builder.h"
#include "tests/support/rig.h"

namespace ugatest {
namespace {

constexpr UINTN kWidth = 8;
constexpr UINTN kHeight = 4;
constexpr uint32_t kSurfaceBase = 0x10000;  // CRTC 1

struct BltFault {
  const char* name;
  EFI_UGA_BLT_OPERATION operation;
  const char* member;
  uint64_t nth;        // counted from the Blt call
  UINTN rows_written;  // rows of a BltBufferToVideo that reach the frame buffer
};

// Blt's own accesses, in order: the surface pitch and base (Mem.Read 1, 2),
// four engine set-up writes (Mem.Write 1-4), a flush read (Mem.Read 3);
// then one row per call, or the engine sequence.
const BltFault kFaults[] = {
    {"SurfaceUnreadable", EfiUgaBltBufferToVideo, "Mem.Read", 1, 0},
    {"SecondRowWrite", EfiUgaBltBufferToVideo, "Mem.Write", 6, 1},
    {"SecondRowRead", EfiUgaVideoToBltBuffer, "Mem.Read", 5, 0},
    {"FillColour", EfiUgaVideoFill, "Mem.Write", 5, 0},
    {"FillStart", EfiUgaVideoFill, "Mem.Write", 8, 0},
    {"CopyDirection", EfiUgaVideoToVideo, "Mem.Read", 4, 0},
};

class BltFaultTest : public ::testing::TestWithParam<BltFault> {};

TEST_P(BltFaultTest, IsReportedAndEndsTheOperation) {
  const BltFault& f = GetParam();
  testsupport::Rig rig;
  ASSERT_EQ(rig.LoadDriver(), EFI_SUCCESS);
  simedid::EdidBuilder edid;
  edid.Input(0x80).Detailed(simedid::Timing1080p());
  ASSERT_TRUE(rig.Plug(kt270::Connector::kDigital, edid.Build()));
  ASSERT_EQ(rig.Connect(), EFI_SUCCESS);
  EFI_UGA_DRAW_PROTOCOL* uga = rig.uga_draw();
  ASSERT_EQ(uga->SetMode(uga, 1024, 768, 32, 60), EFI_SUCCESS);

  std::vector<EFI_UGA_PIXEL> buffer(kWidth * kHeight, EFI_UGA_PIXEL{0xFF, 0xFF, 0xFF, 0});
  // The screen rectangle at (16, 16), the buffer's at (0, 0).
  const UINTN from = f.operation == EfiUgaVideoToBltBuffer ? 16 : 0;
  const UINTN to = f.operation == EfiUgaVideoToBltBuffer ? 0 : 16;
  sim::Firmware& fw = rig.fw();
  fw.ResetCallCounts();
  fw.FailCall(f.member, f.nth, EFI_DEVICE_ERROR);
  EXPECT_EQ(uga->Blt(uga, buffer.data(), f.operation, from, from, to, to, kWidth, kHeight, 0), EFI_DEVICE_ERROR);
  EXPECT_EQ(fw.injections_fired().size(), 1u);
  EXPECT_EQ(fw.CurrentTpl(), TPL_APPLICATION);

  if (f.operation == EfiUgaBltBufferToVideo) {
    const uint32_t pitch = rig.adapter().PeekReg(0x6120) * 4;
    const uint8_t* fb = rig.adapter().FrameBuffer();
    for (UINTN row = 0; row < kHeight; ++row) {
      uint32_t pixel = 0;
      std::memcpy(&pixel, fb + kSurfaceBase + (16 + row) * pitch + 16 * 4, 4);
      EXPECT_EQ(pixel != 0, row < f.rows_written) << "row " << row;
    }
  }

  // The next call draws again.
  fw.ClearFailures();
  EXPECT_EQ(uga->Blt(uga, buffer.data(), f.operation, from, from, to, to, kWidth, kHeight, 0), EFI_SUCCESS);
  ASSERT_EQ(rig.Disconnect(), EFI_SUCCESS);
  EXPECT_TRUE(rig.Leaks().clean()) << rig.Leaks().Describe();
}

INSTANTIATE_TEST_SUITE_P(EveryTransfer, BltFaultTest, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<BltFault>& info) { return info.param.name; });

}  // namespace
}  // namespace ugatest

namespace ugatest {
namespace {

// A 3840 x 2400 panel on a 32 MiB aperture: its native surface ends past
// the frame buffer. The mode set says so and leaves the CRTC off, and Blt
// draws only what lies inside the aperture.
TEST(ApertureBounds, ANativeModePastTheApertureIsNeitherShownNorDrawnPast) {
  testsupport::Rig rig;
  ASSERT_EQ(rig.LoadDriver(), EFI_SUCCESS);
  simedid::EdidBuilder edid;
  edid.Input(0x80).Detailed(57200, 3840, 160, 48, 32, 2400, 60, 3, 6);
  ASSERT_TRUE(rig.Plug(kt270::Connector::kDigital, edid.Build()));
  ASSERT_EQ(rig.Connect(), EFI_SUCCESS);
  EFI_UGA_DRAW_PROTOCOL* uga = rig.uga_draw();
  EXPECT_EQ(uga->SetMode(uga, 1024, 768, 32, 60), EFI_DEVICE_ERROR);
  EXPECT_FALSE(rig.adapter().DecodeCrtc(0).running);
  EXPECT_FALSE(rig.adapter().DecodeOutput(kt270::Output::kTmds).enabled);

  UINT32 w = 0, h = 0, d = 0, r = 0;
  ASSERT_EQ(uga->GetMode(uga, &w, &h, &d, &r), EFI_SUCCESS);
  ASSERT_EQ(w * 10000 + h, 38402400u);
  std::vector<EFI_UGA_PIXEL> pixels(16 * 16, EFI_UGA_PIXEL{1, 2, 3, 0});
  const std::vector<uint8_t> before(rig.adapter().FrameBuffer(),
                                    rig.adapter().FrameBuffer() + rig.adapter().FrameBufferSize());
  for (int op = 0; op < 4; ++op) {
    EXPECT_EQ(uga->Blt(uga, pixels.data(), static_cast<EFI_UGA_BLT_OPERATION>(op), 0, 2390, 0, 2390, 16, 8, 0),
              EFI_INVALID_PARAMETER)
        << op;
  }
  EXPECT_TRUE(std::equal(before.begin(), before.end(), rig.adapter().FrameBuffer()));
  EXPECT_EQ(uga->Blt(uga, pixels.data(), EfiUgaBltBufferToVideo, 0, 0, 0, 0, 16, 16, 0), EFI_SUCCESS);
  ASSERT_EQ(rig.Disconnect(), EFI_SUCCESS);
}

}  // namespace
}  // namespace ugatest
