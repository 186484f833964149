// SetMode and GetMode: the list match per display, the timing each display
// gets, scaling and its refusal, and what a second SetMode does again.
#include <fstream>
#include <iterator>

#include "driver/core/context.h"
#include "uga_scenarios.h"

namespace ugatest {
namespace {

size_t Count(const json& properties, const std::string& name) {
  size_t n = 0;
  for (const json& p : properties) n += p["name"] == name;
  return n;
}

TEST(SetMode, GetModeReportsTheIdleModeUntilTheFirstSetMode) {
  json r = Simulate({{"ddc", {{"1", Monitor(Panel1680(), "TMDS")}}}, {"steps", {GetMode(), SetMode(1024, 768), GetMode()}}})
               .result;
  const json& before = r["steps"][0];
  EXPECT_EQ(before["status"], "EFI_SUCCESS");
  EXPECT_EQ(std::vector<int>({before["width"], before["height"], before["depth"], before["refresh"]}),
            std::vector<int>({800, 600, 32, 60}));
  EXPECT_EQ(r["steps"][2]["width"], 1024);
  EXPECT_EQ(r["steps"][2]["height"], 768);
}

// Row 0 and row 17 are both 800x600x32 at 60 Hz; the display's own mask
// picks which one, and with it the raster the CRTC gets.
TEST(SetMode, TheDisplaysMaskChoosesBetweenTheTwo800x600Rows) {
  auto h_total_for = [](const std::vector<uint8_t>& edid) {
    json r = Simulate({{"ddc", {{"1", Monitor(edid, "DAC A")}}}, {"steps", {SetMode(800, 600)}}}).result;
    EXPECT_EQ(r["steps"][0]["status"], "EFI_SUCCESS");
    return r["outputs"]["DAC A"].value("h_total", 0);
  };
  EdidBuilder xga = EdidBuilder().Analogue().Detailed(simedid::Timing1024x768());
  EXPECT_EQ(h_total_for(EdidBuilder(xga).Established(35, 0).Build()), 0x41F + 1);
  EXPECT_EQ(h_total_for(EdidBuilder(xga).Established(37, 6).Build()), 0xAA9 + 1);
}

// A request that matches only a row the display does not declare is shown
// on the display's own timing, scaled.
TEST(SetMode, AnUndeclaredListModeIsScaledOntoTheNativeTiming) {
  json r = Simulate({{"ddc", {{"1", Monitor(Panel1680(), "TMDS")}}}, {"steps", {SetMode(1024, 768), GetMode()}}}).result;
  EXPECT_EQ(r["steps"][0]["status"], "EFI_SUCCESS");
  const json& tmds = r["outputs"]["TMDS"];
  EXPECT_EQ(tmds["width"], 1680);
  EXPECT_EQ(tmds["height"], 1050);
  EXPECT_EQ(tmds["scaled"], true);
  EXPECT_EQ(tmds["source_width"], 1024);
  EXPECT_EQ(tmds["source_height"], 768);
  EXPECT_EQ(tmds["monitor"], "in sync");
  EXPECT_EQ(r["steps"][1]["width"], 1024);
}

TEST(SetMode, AScalerRefusalShowsTheNativeModeInGetMode) {
  json r = Simulate({{"ddc", {{"1", Monitor(Panel1680(), "TMDS")}}}, {"steps", {SetMode(8000, 4, 32, 75), GetMode()}}})
               .result;
  const json& mode = r["steps"][1];
  EXPECT_EQ(std::vector<int>({mode["width"], mode["height"], mode["depth"], mode["refresh"]}),
            std::vector<int>({1680, 1050, 32, 75}));
  EXPECT_EQ(r["outputs"]["TMDS"]["scaled"], false);
  EXPECT_EQ(r["outputs"]["TMDS"]["monitor"], "in sync");
}

// The second SetMode switches the outputs off first and neither reads an
// EDID again nor restarts the engine.
TEST(SetMode, ASecondSetModeReprogramsWithoutDiscoveryOrStartUp) {
  std::string trace_path = ::testing::TempDir() + "uga_second_setmode.trace";
  kt270sim::RunOptions options;
  options.trace_path = trace_path;
  std::vector<uint32_t> display_counts;
  options.before_step = [&](void* context, size_t) {
    if (context != nullptr) display_counts.push_back(static_cast<ADAPTER_CONTEXT*>(context)->DisplayCount);
  };
  json r = Simulate({{"ddc", {{"1", Monitor(Panel1680(), "TMDS")}}},
                {"steps", {SetMode(1024, 768), SetMode(800, 600), GetMode()}}},
               options)
               .result;
  EXPECT_EQ(display_counts, std::vector<uint32_t>({0, 1, 1}));
  EXPECT_EQ(Count(r["properties"], "ZEY,EDIDA"), 1u);
  EXPECT_EQ(Count(r["properties"], "ZEY,MRT"), 1u);
  EXPECT_EQ(Count(r["properties"], "ZEY,SWGPIO Info"), 2u);
  EXPECT_EQ(r["steps"][2]["width"], 800);
  EXPECT_EQ(r["outputs"]["TMDS"]["source_width"], 800);

  // Between the last write of the first mode set (the CRTC run) and the
  // second mode set's CRTC run, CRTC 1 is switched off.
  std::ifstream in(trace_path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::vector<size_t> runs, offs;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find(" W32 bar2 0x06080 0x00000001") != std::string::npos) runs.push_back(i);
    if (lines[i].find(" W32 bar2 0x06080 0x01000000") != std::string::npos) offs.push_back(i);
  }
  ASSERT_GE(runs.size(), 2u);
  EXPECT_TRUE(std::any_of(offs.begin(), offs.end(), [&](size_t i) { return i > runs.front() && i < runs.back(); }));
}

// A second display (as the platform's display configuration can add one)
// is matched with its own mask and records the request, though only
// display 0 is lit.
TEST(SetMode, EachDisplayIsMatchedWithItsOwnMask) {
  kt270sim::RunOptions options;
  ADAPTER_CONTEXT after{};
  options.before_step = [&](void* context, size_t step) {
    auto* c = static_cast<ADAPTER_CONTEXT*>(context);
    if (step == 1) {
      c->DisplayCount = 2;
      c->CrtcIndex[1] = 1;
      c->OutputChannel[1] = 2;
      c->ConnectorType[1] = 0x08;
      c->Timing2 = c->Timing1;
      c->ModeSupportMask[1] = 0x80000000u >> 11;  // 1024x768 at 60 Hz
      c->ModeSupportMask[0] = 0;
    }
    if (step == 2) after = *c;
  };
  json r = Simulate({{"ddc", {{"1", Monitor(Panel1680(), "TMDS")}}},
                {"steps", {SetMode(800, 600), SetMode(1024, 768), GetMode()}}},
               options)
               .result;
  EXPECT_EQ(after.ModeFromList[0], 0);
  EXPECT_EQ(after.ModeFromList[1], 1);
  EXPECT_EQ(after.ModeIndex[1], 11u);
  EXPECT_EQ(after.UseNativeMode[1], 0);
  for (int d = 0; d < 2; ++d) {
    EXPECT_EQ(after.CurrentMode[d].HorizontalResolution, 1024u);
    EXPECT_EQ(after.CurrentMode[d].VerticalResolution, 768u);
    EXPECT_EQ(after.CurrentMode[d].RefreshRate, 60u);
  }
  EXPECT_EQ(r["outputs"]["TMDS"]["width"], 1680);
}

// Displays without a timing of their own stay on a list row: the default
// display (nothing answers), an analogue monitor with composite sync (its
// first detailed timing is refused) and a television.
struct NoOwnTiming {
  const char* name;
  json ddc;
  const char* output;
  uint32_t raster_width, raster_height;
  bool refuses_1280;  // the scaler cannot reach 1280 pixels from this row's clock
};

class NoOwnTimingTest : public ::testing::TestWithParam<NoOwnTiming> {};

TEST_P(NoOwnTimingTest, StaysOnAListRowAt1280x800And800x600) {
  const NoOwnTiming& p = GetParam();
  for (auto [w, h] : {std::pair<uint32_t, uint32_t>{1280, 800}, {800, 600}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    // A refusal leaves the row's own size in force.
    bool refused = w == 1280 && p.refuses_1280;
    uint32_t shown_w = refused ? p.raster_width : w, shown_h = refused ? p.raster_height : h;
    Reference want(shown_w, shown_h);
    json steps = {SetMode(w, h), GetMode(), Fill({0, 0, shown_w, shown_h}, 0x102030),
                  Draw({shown_w / 4, shown_h / 4, shown_w / 2, shown_h / 2})};
    for (const json& s : steps) want.Apply(s);
    kt270sim::RunOutcome o = Simulate({{"ddc", p.ddc}, {"steps", steps}});
    const json& r = o.result;
    EXPECT_EQ(r["steps"][1]["width"], shown_w);
    EXPECT_EQ(r["steps"][1]["height"], shown_h);
    for (size_t i = 2; i < 4; ++i) EXPECT_EQ(r["steps"][i]["status"], "EFI_SUCCESS");
    const json& out = r["outputs"][p.output];
    EXPECT_EQ(out["enabled"], true);
    EXPECT_EQ(out["source_width"], shown_w);
    EXPECT_EQ(out["source_height"], shown_h);
    if (std::string(p.output) != "TV") {
      EXPECT_EQ(out["width"], p.raster_width);
      EXPECT_EQ(out["height"], p.raster_height);
      EXPECT_EQ(out["scaled"], shown_w != p.raster_width);
    }
    if (p.ddc.size() > 0) {
      EXPECT_EQ(out["monitor"], "in sync") << out.dump();
    }
    EXPECT_TRUE(SamePicture(Find(o.sources, "crtc1"), want));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Displays, NoOwnTimingTest,
    ::testing::Values(
        NoOwnTiming{"NoMonitor", json::object(), "DAC A", 800, 600, false},
        NoOwnTiming{"CompositeSyncAnalogue",
                    {{"1", Monitor(EdidBuilder()
                                       .Analogue()
                                       .Detailed({4000, 800, 256, 40, 128, 600, 28, 1, 4, 0x00})
                                       .Established(35, 0)
                                       .Build(),
                                   "DAC A")}},
                    "DAC A", 800, 600, false},
        NoOwnTiming{"Television",
                    {{"2", Monitor(EdidBuilder().Analogue().Television(true, false).Build(), "TV")}}, "TV", 800,
                    600, true}),
    [](const ::testing::TestParamInfo<NoOwnTiming>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ugatest
