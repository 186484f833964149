// Graphics Output: the mode list display 0 gets, QueryMode/SetMode and
// their refusals, Blt against UGA Blt, and a loader writing straight into
// the frame buffer the mode record names; judged by the model's monitors.
#include "driver/core/context.h"
#include "uga_scenarios.h"

namespace ugatest {
namespace {

constexpr uint64_t kBar0 = 0xC0000000;  // the runner's default BAR 0

json GopQuery(uint32_t mode) { return {{"op", "GopQueryMode"}, {"mode", mode}}; }
json GopSet(uint32_t mode) { return {{"op", "GopSetMode"}, {"mode", mode}}; }
json AsGop(json step) {
  step["op"] = "GopBlt";
  return step;
}

std::vector<uint8_t> Panel1680WithRows() {
  // Established 640x480@60, 800x600@60 and 1024x768@60 besides its own
  // timing; the list keeps the built-in rows' order (800x600 first).
  return EdidBuilder()
      .Digital()
      .Detailed(simedid::Timing1680x1050())
      .Established(35, 5)
      .Established(35, 0)
      .Established(36, 3)
      .Build();
}

struct Size {
  uint32_t w, h;
  bool operator==(const Size& o) const { return w == o.w && h == o.h; }
};
std::ostream& operator<<(std::ostream& os, const Size& s) { return os << s.w << "x" << s.h; }

// The list after the first mode set (discovery runs there), read through
// QueryMode up to MaxMode and one past it.
struct ListCase {
  const char* name;
  json ddc;
  std::vector<Size> want;
};

TEST(GraphicsOutput, TheListIsTheOwnTimingThenTheDeclaredRowsAndEachModeLightsWhatItReports) {
  const ListCase cases[] = {
      {"digital panel", {{"1", Monitor(Panel1680WithRows(), "TMDS")}}, {{1680, 1050}, {800, 600}, {640, 480}, {1024, 768}}},
      {"analogue monitor", {{"1", Monitor(Analogue800(), "DAC A")}}, {{800, 600}}},
      {"no monitor", json::object(), {{800, 600}}},
      // A composite-sync detailed timing is not its own: the rows it
      // declares, in row order, whichever of them is in force.
      {"analogue, composite-sync timing",
       {{"1", Monitor(EdidBuilder().Analogue().Detailed(simedid::Timing1024x768()).Byte(71, 0x00)
                          .Established(35, 5).Established(35, 0).Established(36, 3).Build(), "DAC A")}},
       {{800, 600}, {640, 480}, {1024, 768}}},
      {"PAL television", {{"2", Monitor(EdidBuilder().Analogue().Television(false, true).Build(), "TV")}},
       {{800, 600}}},
  };
  for (const ListCase& c : cases) {
    SCOPED_TRACE(c.name);
    json steps = json::array({GopSet(0)});
    for (uint32_t i = 0; i <= c.want.size(); ++i) steps.push_back(GopQuery(i));
    json r = Simulate({{"ddc", c.ddc}, {"steps", steps}}).result;
    ASSERT_EQ(r["steps"][0]["status"], "EFI_SUCCESS");
    EXPECT_EQ(r["steps"][0]["record"]["max_mode"], c.want.size());
    std::vector<Size> got;
    for (size_t i = 1; i <= c.want.size(); ++i) {
      const json& q = r["steps"][i];
      ASSERT_EQ(q["status"], "EFI_SUCCESS");
      EXPECT_EQ(q["version"], 0);
      EXPECT_EQ(q["pixel_format"], "PixelBlueGreenRedReserved8BitPerColor");
      EXPECT_EQ(q["size_of_info"], 36);
      EXPECT_GE(q["pixels_per_scan_line"], q["width"]);
      got.push_back({q["width"], q["height"]});
    }
    EXPECT_EQ(got, c.want);
    EXPECT_EQ(r["steps"].back()["status"], "EFI_INVALID_PARAMETER");

    // Every listed mode, set in turn: the list unchanged, the monitor (if
    // any) in sync at that size, the screen black, UGA agreeing, and the
    // record naming it.
    for (uint32_t i = 0; i < c.want.size(); ++i) {
      SCOPED_TRACE(i);
      kt270sim::RunOutcome o = Simulate(
          {{"ddc", c.ddc}, {"steps", {GopSet(0), Fill({0, 0, 64, 64}, 0xFFFFFF), GopSet(i), GetMode()}}});
      const json& set = o.result["steps"][2];
      ASSERT_EQ(set["status"], "EFI_SUCCESS");
      const json& record = set["record"];
      EXPECT_EQ(record["max_mode"], c.want.size());
      EXPECT_EQ(record["mode"], i);
      EXPECT_EQ(Size({record["info"]["width"], record["info"]["height"]}), c.want[i]);
      EXPECT_EQ(Size({o.result["steps"][3]["width"], o.result["steps"][3]["height"]}), c.want[i]);
      EXPECT_EQ(o.result["steps"][3]["depth"], 32);
      uint64_t pitch_bytes = uint64_t{record["info"]["pixels_per_scan_line"]} * 4;
      EXPECT_GE(uint64_t{record["frame_buffer_size"]}, pitch_bytes * c.want[i].h);
      EXPECT_EQ(std::stoull(record["frame_buffer_base"].get<std::string>(), nullptr, 16) & ~0xFFFFFFull, kBar0);
      EXPECT_TRUE(SamePicture(Find(o.sources, "crtc1"), Reference(c.want[i].w, c.want[i].h)));
      if (!c.ddc.empty()) {
        const kt270sim::Picture* screen = o.screens.empty() ? nullptr : &o.screens[0];
        ASSERT_NE(screen, nullptr);
        EXPECT_EQ(std::count(screen->pixels.begin(), screen->pixels.end(), 0u), long(screen->pixels.size()));
      }
    }
  }
}

TEST(GraphicsOutput, BeforeAnyModeSetTheRecordIsWhatGetModeReportsAndTheFirstBltLightsIt) {
  json fill = AsGop(Fill({10, 10, 20, 20}, 0x3366CC));
  kt270sim::RunOutcome o =
      Simulate({{"ddc", {{"1", Monitor(Panel1680WithRows(), "TMDS")}}}, {"steps", {GopQuery(0), GetMode(), fill}}});
  const json& s = o.result["steps"];
  EXPECT_EQ(s[0]["record"]["max_mode"], 1);
  EXPECT_EQ(s[0]["record"]["info"]["width"], s[1]["width"]);
  EXPECT_EQ(s[0]["record"]["info"]["height"], s[1]["height"]);
  EXPECT_EQ(s[2]["status"], "EFI_SUCCESS");
  EXPECT_EQ(o.result["outputs"]["TMDS"]["monitor"], "in sync");
  Reference want(800, 600);
  want.Apply(Fill({10, 10, 20, 20}, 0x3366CC));
  EXPECT_TRUE(SamePicture(Find(o.sources, "crtc1"), want));
}

TEST(GraphicsOutput, RefusalsChangeNothing) {
  json ddc = {{"1", Monitor(Panel1024(), "TMDS")}};
  // After the first mode set: 1024x768 (own timing) and 800x600 (in force).
  kt270sim::RunOutcome o = Simulate({{"ddc", ddc}, {"steps", {GopSet(0), GopSet(2), GopSet(0xFFFFFFFF), GopQuery(2)}}});
  const json& s = o.result["steps"];
  EXPECT_EQ(s[1]["status"], "EFI_UNSUPPORTED");
  EXPECT_EQ(s[2]["status"], "EFI_UNSUPPORTED");
  EXPECT_EQ(s[3]["status"], "EFI_INVALID_PARAMETER");
  EXPECT_EQ(s[0]["record"]["max_mode"], 2);
  EXPECT_EQ(s[1]["record"], s[0]["record"]);

  // Null out-pointers, called as a consumer would call them.
  std::vector<EFI_STATUS> got;
  kt270sim::RunOptions options;
  options.before_step = [&](void* context, size_t) {
    EFI_GRAPHICS_OUTPUT_PROTOCOL* gop = &static_cast<ADAPTER_CONTEXT*>(context)->Gop;
    UINTN size = 0;
    EFI_GRAPHICS_OUTPUT_MODE_INFORMATION* info = nullptr;
    got = {gop->QueryMode(gop, 0, nullptr, &info), gop->QueryMode(gop, 0, &size, nullptr),
           gop->QueryMode(nullptr, 0, &size, &info), gop->SetMode(nullptr, 0),
           gop->Blt(gop, nullptr, EfiBltVideoFill, 0, 0, 0, 0, 1, 1, 0),
           gop->Blt(gop, nullptr, EfiGraphicsOutputBltOperationMax, 0, 0, 0, 0, 1, 1, 0)};
  };
  Simulate({{"ddc", ddc}, {"steps", {GopSet(0), GetMode()}}}, options);
  EXPECT_EQ(got, std::vector<EFI_STATUS>(6, EFI_INVALID_PARAMETER));
}

// Each Blt through Graphics Output must do what the same call through UGA
// Draw does: same status, same picture, same read-back.
TEST(GraphicsOutput, BltBehavesAsUgaBlt) {
  constexpr uint64_t kHuge = ~0ull - 5;
  json buffer = Buffer(16, 16, "checker", 0xC0FFEE);
  const json cases[] = {
      Fill({0, 0, 1024, 768}, 0x102030),
      Fill({1020, 764, 4, 4}, 0x00FF00),
      Draw({100, 50, 200, 120}),
      {{"op", "Blt"}, {"operation", "BltBufferToVideo"}, {"sx", 3}, {"sy", 2}, {"dx", 7}, {"dy", 9}, {"width", 10},
       {"height", 10}, {"delta", 64}, {"buffer", buffer}},
      Copy(0, 0, {8, 8, 300, 200}),
      Read({0, 0, 64, 48}),
      Fill({1021, 0, 4, 4}, 0xFFFFFF),
      Fill({kHuge, 0, 10, 4}, 0xFFFFFF),
      Fill({0, 0, 0, 4}, 0xFFFFFF),
      {{"op", "Blt"}, {"operation", "0x4"}, {"width", 4}, {"height", 4}, {"buffer", buffer}},
      {{"op", "Blt"}, {"operation", "BltBufferToVideo"}, {"width", 4}, {"height", 4}, {"buffer", "null"}},
      Copy(1000, 0, {0, 0, 100, 4}),
  };
  json ddc = {{"1", Monitor(Panel1024(), "TMDS")}};
  for (const json& c : cases) {
    SCOPED_TRACE(c.dump());
    auto run = [&](const json& step) {
      // A picture underneath, so copies and reads have something to move.
      return Simulate({{"ddc", ddc}, {"steps", {SetMode(1024, 768), Draw({0, 0, 512, 384}, "gradient"), step}}});
    };
    kt270sim::RunOutcome uga = run(c), gop = run(AsGop(c));
    const json &u = uga.result["steps"][2], &g = gop.result["steps"][2];
    EXPECT_EQ(g["status"], u["status"]);
    EXPECT_EQ(g.value("sha256", ""), u.value("sha256", ""));
    const kt270sim::Picture *pu = Find(uga.sources, "crtc1"), *pg = Find(gop.sources, "crtc1");
    ASSERT_TRUE(pu != nullptr && pg != nullptr);
    EXPECT_TRUE(pu->pixels == pg->pixels);
  }
}

// An OS loader takes FrameBufferBase and PixelsPerScanLine and writes the
// pixels itself; the monitor must show them where it put them.
TEST(GraphicsOutput, ALoaderWritingTheFrameBufferDirectlyIsShownPixelExact) {
  auto pixel = [](uint32_t x, uint32_t y) { return (x * 7 + y * 13) & 0xFFFFFF; };
  json ddc = {{"1", Monitor(Panel1680WithRows(), "TMDS")}};
  for (uint32_t mode : {0u, 2u}) {
    SCOPED_TRACE(mode);
    uint32_t width = 0, height = 0;
    kt270sim::RunOptions options;
    options.before_step = [&](void* context, size_t step) {
      if (step != 2) return;
      auto* c = static_cast<ADAPTER_CONTEXT*>(context);
      const EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE* m = c->Gop.Mode;
      width = m->Info->HorizontalResolution;
      height = m->Info->VerticalResolution;
      std::vector<uint32_t> row(width);
      for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) row[x] = pixel(x, y);
        UINT64 at = m->FrameBufferBase - kBar0 + UINT64{y} * m->Info->PixelsPerScanLine * 4;
        ASSERT_EQ(c->PciIo->Mem.Write(c->PciIo, EfiPciIoWidthUint32, 0, at, width, row.data()), EFI_SUCCESS);
      }
    };
    kt270sim::RunOutcome o = Simulate({{"ddc", ddc}, {"steps", {GopSet(0), GopSet(mode), GetMode()}}}, options);
    ASSERT_EQ(o.result["steps"][1]["status"], "EFI_SUCCESS");
    ASSERT_EQ(o.result["outputs"]["TMDS"]["monitor"], "in sync");
    Reference want(width, height);
    for (uint32_t y = 0; y < height; ++y)
      for (uint32_t x = 0; x < width; ++x) want.At(x, y) = pixel(x, y);
    EXPECT_TRUE(SamePicture(Find(o.sources, "crtc1"), want));
    if (mode == 0) {
      EXPECT_TRUE(SamePicture(Find(o.screens, "tmds"), want));
    }
  }
}

TEST(GraphicsOutput, StopTakesItAwayWithUgaDrawAndStartBringsItBack) {
  json r = Simulate({{"ddc", {{"1", Monitor(Panel1024(), "TMDS")}}},
                     {"steps", {GopSet(0), {{"op", "Stop"}}, GopQuery(0), {{"op", "Start"}}, GopQuery(0), {{"op", "Stop"}}}}})
               .result;
  const json& s = r["steps"];
  EXPECT_EQ(s[1]["status"], "EFI_SUCCESS");
  EXPECT_EQ(s[2]["status"], "EFI_NOT_STARTED");
  EXPECT_EQ(s[4]["status"], "EFI_SUCCESS");
  EXPECT_EQ(r["leaks"], json({{"pool", 0}, {"events", 0}, {"protocols", 0}}));
}

}  // namespace
}  // namespace ugatest
