// Blt: refusals before anything is drawn, and each operation judged by the
// pixels the model's CRTC shows.
#include <fstream>

#include "uga_scenarios.h"

namespace ugatest {
namespace {

constexpr uint64_t kHuge = ~0ull - 5;  // X + Width wraps

json Blt(const char* op, json fields) {
  fields["op"] = "Blt";
  fields["operation"] = op;
  return fields;
}

std::vector<std::string> Statuses(const json& result) {
  std::vector<std::string> s;
  for (const json& step : result["steps"]) s.push_back(step["status"]);
  return s;
}

json OnPanel1024(json steps) {
  json all = json::array({SetMode(1024, 768)});
  for (const json& s : steps) all.push_back(s);
  return {{"ddc", {{"1", Monitor(Panel1024(), "TMDS")}}}, {"steps", all}};
}

TEST(Blt, EveryOperationIsRefusedBeforeTheFirstSetMode) {
  json buffer = Buffer(4, 4);
  json r = Simulate({{"steps",
                 {Blt("VideoFill", {{"width", 4}, {"height", 4}, {"buffer", buffer}}),
                  Blt("VideoToBltBuffer", {{"width", 4}, {"height", 4}, {"buffer", buffer}}),
                  Blt("BltBufferToVideo", {{"width", 4}, {"height", 4}, {"buffer", buffer}}),
                  Blt("VideoToVideo", {{"width", 4}, {"height", 4}})}}})
               .result;
  EXPECT_EQ(Statuses(r), std::vector<std::string>(4, "EFI_DEVICE_ERROR"));
  EXPECT_EQ(r["outputs"]["DAC A"]["enabled"], false);
}

// Refused calls must not touch the surface: the picture stays black.
TEST(Blt, BadArgumentsAreRefusedAndDrawNothing) {
  json buffer = Buffer(16, 16, "solid", 0xFFFFFF);
  json steps = {
      Blt("VideoFill", {{"width", 4}, {"height", 0}, {"buffer", buffer}}),
      Blt("VideoFill", {{"width", 0}, {"height", 4}, {"buffer", buffer}}),
      Blt("0x4", {{"width", 4}, {"height", 4}, {"buffer", buffer}}),
      Blt("VideoFill", {{"width", 4}, {"height", 4}, {"buffer", "null"}}),
      Blt("BltBufferToVideo", {{"width", 4}, {"height", 4}, {"buffer", "null"}}),
      Blt("VideoToBltBuffer", {{"width", 4}, {"height", 4}, {"buffer", "null"}}),
      // One pixel past the right or the bottom edge, and sums that wrap.
      Blt("VideoFill", {{"dx", 1021}, {"width", 4}, {"height", 4}, {"buffer", buffer}}),
      Blt("VideoFill", {{"dy", 765}, {"width", 4}, {"height", 4}, {"buffer", buffer}}),
      Blt("VideoFill", {{"width", 1025}, {"height", 1}, {"buffer", buffer}}),
      Blt("VideoFill", {{"dx", kHuge}, {"width", 10}, {"height", 4}, {"buffer", buffer}}),
      Blt("VideoFill", {{"dy", kHuge}, {"width", 4}, {"height", 10}, {"buffer", buffer}}),
      Blt("BltBufferToVideo", {{"dx", kHuge}, {"width", 10}, {"height", 1}, {"buffer", buffer}}),
      Blt("VideoToBltBuffer", {{"sx", kHuge}, {"width", 10}, {"height", 1}, {"buffer", buffer}}),
      // A copy whose source leaves the screen, plainly or by wrapping.
      Blt("VideoToVideo", {{"sx", 1000}, {"width", 100}, {"height", 4}}),
      Blt("VideoToVideo", {{"sy", kHuge}, {"width", 4}, {"height", 10}}),
  };
  kt270sim::RunOutcome o = Simulate(OnPanel1024(steps));
  std::vector<std::string> want(1, "EFI_SUCCESS");
  want.resize(steps.size() + 1, "EFI_INVALID_PARAMETER");
  EXPECT_EQ(Statuses(o.result), want);
  EXPECT_TRUE(SamePicture(Find(o.sources, "crtc1"), Reference(1024, 768)));
}

TEST(Blt, RectanglesEndingExactlyAtTheEdgesAreDrawn) {
  json steps = {Fill({1020, 0, 4, 4}, 0x00FF00), Fill({0, 764, 4, 4}, 0x0000FF), Fill({0, 0, 1024, 768 - 8}, 0x111111),
                Copy(1020, 0, {0, 764, 4, 4})};
  Reference want(1024, 768);
  for (const json& s : steps) want.Apply(s);
  kt270sim::RunOutcome o = Simulate(OnPanel1024(steps));
  EXPECT_EQ(Statuses(o.result), std::vector<std::string>(steps.size() + 1, "EFI_SUCCESS"));
  EXPECT_TRUE(SamePicture(Find(o.sources, "crtc1"), want));
}

// The fill colour is element SourceY x Width + SourceX of the buffer:
// rows of Width pixels, not of Delta bytes.
TEST(Blt, AFillTakesItsColourFromTheBufferByWidthNotDelta) {
  const uint32_t bw = 32, bh = 8;
  std::vector<uint8_t> bytes = kt270sim::PatternBytes(bw, bh, "gradient", 0);
  auto colour = [&](size_t element) {
    const uint8_t* p = bytes.data() + element * 4;
    return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
  };
  json steps = {
      Blt("VideoFill", {{"sx", 0}, {"sy", 0}, {"dx", 10}, {"dy", 10}, {"width", 20}, {"height", 5},
                        {"delta", 4096}, {"buffer", Buffer(bw, bh, "gradient")}}),
      Blt("VideoFill", {{"sx", 3}, {"sy", 1}, {"dx", 40}, {"dy", 10}, {"width", 20}, {"height", 5},
                        {"delta", 4096}, {"buffer", Buffer(bw, bh, "gradient")}}),
  };
  Reference want(1024, 768);
  for (uint64_t y = 10; y < 15; ++y)
    for (uint64_t x = 0; x < 20; ++x) {
      want.At(10 + x, y) = colour(0);
      want.At(40 + x, y) = colour(1 * 20 + 3);
    }
  kt270sim::RunOutcome o = Simulate(OnPanel1024(steps));
  EXPECT_TRUE(SamePicture(Find(o.sources, "crtc1"), want));
}

// A picture written from a buffer reads back byte for byte, also through a
// Delta wider than the rectangle and at a buffer offset.
TEST(Blt, ABufferPictureReadsBackByteExact) {
  json steps = {
      Draw({37, 21, 300, 200}),
      Read({37, 21, 300, 200}),
      Blt("BltBufferToVideo", {{"sx", 5}, {"sy", 3}, {"dx", 500}, {"dy", 400}, {"width", 50}, {"height", 20},
                               {"delta", 64 * 4}, {"buffer", Buffer(64, 32, "checker", 0x12AB34)}}),
      Blt("VideoToBltBuffer", {{"sx", 500}, {"sy", 400}, {"dx", 5}, {"dy", 3}, {"width", 50}, {"height", 20},
                               {"delta", 64 * 4}, {"buffer", Buffer(64, 32)}}),
  };
  kt270sim::RunOutcome o = Simulate(OnPanel1024(steps));
  ASSERT_EQ(o.read_back.size(), 2u);
  EXPECT_EQ(o.read_back[0], kt270sim::PatternBytes(300, 200, "gradient", 0x3366CC));

  std::vector<uint8_t> checker = kt270sim::PatternBytes(64, 32, "checker", 0x12AB34);
  std::vector<uint8_t> want(64 * 32 * 4, 0);
  for (size_t y = 3; y < 23; ++y)
    for (size_t x = 5; x < 55; ++x)
      for (size_t b = 0; b < 3; ++b) want[(y * 64 + x) * 4 + b] = checker[(y * 64 + x) * 4 + b];
  EXPECT_EQ(o.read_back[1], want);
}

// Overlapping copies in all four directions, each shifted by a few pixels
// so every source pixel is also a destination pixel of the same copy.
TEST(Blt, OverlappingCopiesComeOutRightInAllFourDirections) {
  for (auto [ddx, ddy] : {std::pair<int, int>{7, 5}, {-7, 5}, {7, -5}, {-7, -5}, {9, 0}, {0, -9}}) {
    SCOPED_TRACE(std::to_string(ddx) + "," + std::to_string(ddy));
    Rect src{200, 150, 300, 200};
    json steps = {Fill({0, 0, 1024, 768}, 0x203040), Draw(src),
                  Copy(src.x, src.y, {src.x + ddx, src.y + ddy, src.w, src.h})};
    Reference want(1024, 768);
    for (const json& s : steps) want.Apply(s);
    kt270sim::RunOutcome o = Simulate(OnPanel1024(steps));
    EXPECT_EQ(Statuses(o.result), std::vector<std::string>(4, "EFI_SUCCESS"));
    EXPECT_TRUE(SamePicture(Find(o.sources, "crtc1"), want));
  }
}

// Buffer transfers move one whole row per PCI I/O call.
TEST(Blt, OneRowPerPciIoCallForBufferTransfers) {
  std::string trace = ::testing::TempDir() + "uga_rows.trace";
  kt270sim::RunOptions options;
  options.trace_path = trace;
  json steps = {Draw({0, 0, 123, 45}), Read({0, 0, 123, 45})};
  Simulate(OnPanel1024(steps), options);
  std::ifstream in(trace);
  size_t writes = 0, reads = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.find(" W32 bar0 ") != std::string::npos && line.find(" x123") != std::string::npos) ++writes;
    if (line.find(" R32 bar0 ") != std::string::npos && line.find(" x123") != std::string::npos) ++reads;
  }
  EXPECT_EQ(writes, 45u);
  EXPECT_EQ(reads, 45u);
}

}  // namespace
}  // namespace ugatest
