// What was drawn is what the monitor gets: the model's source picture of
// the CRTC (read with the CRTC's own base, pitch and source size) equals,
// pixel for pixel, the picture the Blt calls drew, whether the request is
// smaller than, equal to or larger than the native raster, on either CRTC.
#include "driver/core/context.h"
#include "uga_scenarios.h"

namespace ugatest {
namespace {

struct Case {
  const char* name;
  std::vector<uint8_t> (*edid)();
  uint32_t width, height;
  unsigned crtc;  // 1 or 2
};

class DrawnIsShown : public ::testing::TestWithParam<Case> {};

TEST_P(DrawnIsShown, SourcePictureEqualsTheBltCalls) {
  const Case& c = GetParam();
  uint32_t w = c.width, h = c.height;
  json steps = {SetMode(w, h), SetMode(w, h),
                Fill({0, 0, w, h}, 0x0A1420),
                Draw({w / 8, h / 8, w / 2, h / 2}),
                Draw({w - 64, h - 48, 64, 48}, "checker"),
                Copy(w / 8, h / 8, {w / 8 + 31, h / 8 + 17, w / 2, h / 2}),
                Copy(w - 64, h - 48, {0, 0, 64, 48}),
                Fill({w / 2, 0, 3, h}, 0xF0E0D0)};
  Reference want(w, h);
  for (const json& s : steps) want.Apply(s);

  kt270sim::RunOptions options;
  // The board wires every connector to CRTC 1; CRTC 2 is reached by
  // moving display 0 there before the second mode set.
  options.before_step = [&](void* context, size_t step) {
    if (step == 1 && c.crtc == 2) static_cast<ADAPTER_CONTEXT*>(context)->CrtcIndex[0] = 1;
  };
  kt270sim::RunOutcome o = Simulate({{"ddc", {{"1", Monitor(c.edid(), "TMDS")}}}, {"steps", steps}}, options);
  for (const json& s : o.result["steps"]) ASSERT_EQ(s["status"], "EFI_SUCCESS") << s.dump();
  EXPECT_TRUE(SamePicture(Find(o.sources, c.crtc == 1 ? "crtc1" : "crtc2"), want));

  if (c.crtc == 1) {
    const json& tmds = o.result["outputs"]["TMDS"];
    EXPECT_EQ(tmds["monitor"], "in sync");
    EXPECT_EQ(tmds["source_width"], w);
    EXPECT_EQ(tmds["source_height"], h);
    ASSERT_FALSE(o.screens.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, DrawnIsShown,
    ::testing::Values(Case{"Smaller_Crtc1", Panel1024, 800, 600, 1}, Case{"Equal_Crtc1", Panel1024, 1024, 768, 1},
                      Case{"Larger_Crtc1", Panel1024, 1280, 1024, 1}, Case{"Wider_Crtc1", Panel1024, 1280, 800, 1},
                      Case{"Larger1680_Crtc1", Panel1680, 1920, 1200, 1},
                      Case{"Smaller_Crtc2", Panel1024, 800, 600, 2}, Case{"Equal_Crtc2", Panel1024, 1024, 768, 2},
                      Case{"Larger_Crtc2", Panel1024, 1280, 1024, 2}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// The monitor's own view of a scaled picture: a uniform fill shows as one
// centred block of the fill colour between black borders.
TEST(DrawnIsShown, AScaledFillShowsAsOneCentredBlock) {
  kt270sim::RunOutcome o = Simulate({{"ddc", {{"1", Monitor(Panel1024(), "TMDS")}}},
                                     {"steps", {SetMode(1280, 1024), Fill({0, 0, 1280, 1024}, 0x336699)}}});
  const kt270sim::Picture* view = Find(o.screens, "tmds");
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(view->width, 1024u);
  ASSERT_EQ(view->height, 768u);
  uint32_t left = view->width, right = 0;
  for (uint32_t y = 0; y < view->height; ++y) {
    for (uint32_t x = 0; x < view->width; ++x) {
      uint32_t p = view->pixels[size_t{y} * view->width + x];
      ASSERT_TRUE(p == 0x336699u || p == 0) << x << "," << y;
      if (p != 0) {
        left = std::min(left, x);
        right = std::max(right, x);
      }
    }
  }
  EXPECT_EQ(left, view->width - 1 - right);
  EXPECT_GT(right - left, view->width / 2);
}

}  // namespace
}  // namespace ugatest
