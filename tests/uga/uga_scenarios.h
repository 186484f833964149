// Scenarios for the UGA Draw tests, run through the runner core that
// kt270sim uses, and a reference frame buffer that replays the Blt calls.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/edid/edid_builder.h"
#include "tools/kt270sim/runner.h"
#include "tools/kt270sim/scenario.h"

namespace ugatest {

using nlohmann::json;
using kt270sim::Hex;
using simedid::EdidBuilder;

// Digital 1680x1050 declaring no built-in mode.
inline std::vector<uint8_t> Panel1680() { return EdidBuilder().Digital().Detailed(simedid::Timing1680x1050()).Build(); }
inline std::vector<uint8_t> Panel1024() { return EdidBuilder().Digital().Detailed(simedid::Timing1024x768()).Build(); }
inline std::vector<uint8_t> Analogue800() {
  return EdidBuilder().Analogue().Detailed(simedid::Timing800x600()).Established(35, 0).Build();
}

inline json Monitor(const std::vector<uint8_t>& edid, const char* output) {
  return {{"edid", Hex(edid)}, {"output", output}};
}

inline json SetMode(uint32_t w, uint32_t h, uint32_t depth = 32, uint32_t refresh = 60) {
  return {{"op", "SetMode"}, {"width", w}, {"height", h}, {"depth", depth}, {"refresh", refresh}};
}
inline json GetMode() { return {{"op", "GetMode"}}; }

inline json Buffer(uint32_t w, uint32_t h, const char* pattern = "solid", uint32_t pixel = 0) {
  return {{"width", w}, {"height", h}, {"pattern", pattern}, {"pixel", pixel}};
}

struct Rect {
  uint64_t x, y, w, h;
};

inline json Fill(Rect r, uint32_t rgb) {
  return {{"op", "Blt"}, {"operation", "VideoFill"}, {"dx", r.x}, {"dy", r.y}, {"width", r.w}, {"height", r.h},
          {"buffer", Buffer(1, 1, "solid", rgb)}};
}
inline json Draw(Rect r, const char* pattern = "gradient") {
  return {{"op", "Blt"}, {"operation", "BltBufferToVideo"}, {"dx", r.x}, {"dy", r.y}, {"width", r.w},
          {"height", r.h}, {"buffer", Buffer(static_cast<uint32_t>(r.w), static_cast<uint32_t>(r.h), pattern, 0x3366CC)}};
}
inline json Copy(uint64_t sx, uint64_t sy, Rect d) {
  return {{"op", "Blt"}, {"operation", "VideoToVideo"}, {"sx", sx}, {"sy", sy}, {"dx", d.x}, {"dy", d.y},
          {"width", d.w}, {"height", d.h}};
}
inline json Read(Rect s) {
  return {{"op", "Blt"}, {"operation", "VideoToBltBuffer"}, {"sx", s.x}, {"sy", s.y}, {"width", s.w},
          {"height", s.h}, {"buffer", Buffer(static_cast<uint32_t>(s.w), static_cast<uint32_t>(s.h))}};
}

// What the Blt calls should leave on a width x height surface that started
// black: fills, buffer pictures and copies (through a temporary, so overlap
// cannot matter).
class Reference {
 public:
  Reference(uint32_t width, uint32_t height) : w_(width), h_(height), px_(size_t{width} * height, 0) {}
  void Apply(const json& step) {
    if (step["op"] != "Blt") return;
    std::string op = step["operation"];
    uint64_t dx = step.value("dx", 0), dy = step.value("dy", 0), w = step["width"], h = step["height"];
    if (op == "VideoFill") {
      uint32_t rgb = step["buffer"]["pixel"];
      for (uint64_t y = 0; y < h; ++y)
        for (uint64_t x = 0; x < w; ++x) At(dx + x, dy + y) = rgb;
    } else if (op == "BltBufferToVideo") {
      const json& b = step["buffer"];
      std::vector<uint8_t> bytes = kt270sim::PatternBytes(b["width"], b["height"], b["pattern"], b["pixel"]);
      for (uint64_t y = 0; y < h; ++y)
        for (uint64_t x = 0; x < w; ++x) {
          const uint8_t* p = bytes.data() + (y * w + x) * 4;
          At(dx + x, dy + y) = uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
        }
    } else if (op == "VideoToVideo") {
      uint64_t sx = step["sx"], sy = step["sy"];
      std::vector<uint32_t> tmp;
      for (uint64_t y = 0; y < h; ++y)
        for (uint64_t x = 0; x < w; ++x) tmp.push_back(At(sx + x, sy + y));
      for (uint64_t y = 0; y < h; ++y)
        for (uint64_t x = 0; x < w; ++x) At(dx + x, dy + y) = tmp[y * w + x];
    }
  }
  uint32_t& At(uint64_t x, uint64_t y) { return px_[y * w_ + x]; }
  const std::vector<uint32_t>& pixels() const { return px_; }
  uint32_t width() const { return w_; }
  uint32_t height() const { return h_; }

 private:
  uint32_t w_, h_;
  std::vector<uint32_t> px_;
};

inline kt270sim::RunOutcome Simulate(const json& scenario, const kt270sim::RunOptions& options = {}) {
  return kt270sim::RunScenario(scenario, options);
}

inline const kt270sim::Picture* Find(const std::vector<kt270sim::Picture>& pictures, const std::string& name) {
  for (const auto& p : pictures)
    if (p.name == name) return &p;
  return nullptr;
}

// The first differing pixel, for a readable failure.
inline ::testing::AssertionResult SamePicture(const kt270sim::Picture* got, const Reference& want) {
  if (got == nullptr) return ::testing::AssertionFailure() << "no picture";
  if (got->width != want.width() || got->height != want.height()) {
    return ::testing::AssertionFailure() << "picture is " << got->width << "x" << got->height << ", drawn "
                                         << want.width() << "x" << want.height();
  }
  for (size_t i = 0; i < got->pixels.size(); ++i) {
    if (got->pixels[i] != want.pixels()[i]) {
      return ::testing::AssertionFailure() << "pixel (" << i % got->width << "," << i / got->width << ") is 0x"
                                           << std::hex << got->pixels[i] << ", drawn 0x" << want.pixels()[i];
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace ugatest
