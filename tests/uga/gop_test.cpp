// Graphics Output as loaders take it: the mode list fixed at Start with mode
// 0 lit, QueryMode/SetMode and their refusals, a failed SetMode, Blt against
// UGA Blt, a loader writing straight into the frame buffer, the EDID
// protocols and Component Name 2; judged by the model's monitors.
#include "driver/core/context.h"
#include "sim/firmware/firmware.h"
#include "uga_scenarios.h"

namespace ugatest {
namespace {

constexpr uint64_t kBar0 = 0xC0000000;  // the runner's default BAR 0

json GopQuery(uint32_t mode) { return {{"op", "GopQueryMode"}, {"mode", mode}}; }
json GopSet(uint32_t mode) { return {{"op", "GopSetMode"}, {"mode", mode}}; }
json GopEdid() { return {{"op", "GopEdid"}}; }
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

// The panel's own raster first, its declared rows in row order, then every
// other built-in size the scaler shows on 1680x1050, each once.
const std::vector<Size> kPanelList = {{1680, 1050}, {800, 600},   {640, 480}, {1024, 768},
                                      {720, 400},   {1280, 1024}, {832, 624}, {1152, 870}};

struct ListCase {
  const char* name;
  json scenario;  // without steps
  std::vector<Size> want;
  const char* output;  // where the monitor is, or nullptr
  size_t scaled_from;  // modes from this index on are shown through the scaler
};

std::vector<ListCase> ListCases() {
  json panel = {{"1", Monitor(Panel1680WithRows(), "TMDS")}};
  return {
      {"digital panel", {{"ddc", panel}}, kPanelList, "TMDS", 4},
      // 1680x1050 needs 7 MiB: on a 4 MiB aperture neither it nor anything
      // scaled onto it is offered, only the declared rows with their own
      // timings.
      {"digital panel, 4 MiB aperture",
       {{"adapter", {{"fb_size", "0x400000"}}}, {"ddc", panel}},
       {{800, 600}, {640, 480}, {1024, 768}},
       "TMDS",
       3},
      {"analogue monitor", {{"ddc", {{"1", Monitor(Analogue800(), "DAC A")}}}}, {{800, 600}}, "DAC A", 1},
      {"no monitor", json::object(), {{800, 600}}, nullptr, 1},
      // A composite-sync detailed timing is not its own: the rows it
      // declares, in row order; an analogue monitor is never scaled onto.
      {"analogue, composite-sync timing",
       {{"ddc", {{"1", Monitor(EdidBuilder().Analogue().Detailed(simedid::Timing1024x768()).Byte(71, 0x00)
                                   .Established(35, 5).Established(35, 0).Established(36, 3).Build(),
                               "DAC A")}}}},
       {{800, 600}, {640, 480}, {1024, 768}},
       "DAC A",
       3},
      {"PAL television",
       {{"ddc", {{"2", Monitor(EdidBuilder().Analogue().Television(false, true).Build(), "TV")}}}},
       {{800, 600}},
       "TV",
       0},  // the encoder always takes its picture through the scaler
  };
}

json WithSteps(json scenario, json steps) {
  scenario["steps"] = std::move(steps);
  return scenario;
}

// What QueryMode says of every mode, and one past the last.
json QueryAll(size_t count) {
  json steps = json::array();
  for (uint32_t i = 0; i <= count; ++i) steps.push_back(GopQuery(i));
  return steps;
}

TEST(GraphicsOutput, TheListIsBuiltAtStartAndEachModeLightsWhatQueryModeSays) {
  for (const ListCase& c : ListCases()) {
    SCOPED_TRACE(c.name);
    json r = Simulate(WithSteps(c.scenario, QueryAll(c.want.size()))).result;
    // Complete from the start: the record before any call is mode 0, lit.
    const json& record = r["steps"][0]["record"];
    EXPECT_EQ(record["max_mode"], c.want.size());
    EXPECT_EQ(record["mode"], 0);
    std::vector<Size> got;
    for (size_t i = 0; i < c.want.size(); ++i) {
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
    const json& zero = r["steps"][0];
    EXPECT_EQ(record["info"], json({{"width", zero["width"]}, {"height", zero["height"]},
                                    {"pixels_per_scan_line", zero["pixels_per_scan_line"]}, {"version", 0},
                                    {"pixel_format", zero["pixel_format"]}}));
    if (c.output != nullptr) {
      EXPECT_EQ(r["outputs"][c.output]["monitor"], "in sync");
    }

    // Every mode set in turn: the record names it and says what QueryMode
    // says, before and after; the list stays; the monitor shows it (scaled
    // onto the native raster where the list says so), black.
    for (uint32_t i = 0; i < c.want.size(); ++i) {
      SCOPED_TRACE(i);
      json steps = {Fill({0, 0, 64, 64}, 0xFFFFFF), GopSet(i), GetMode()};
      for (const json& q : QueryAll(c.want.size())) steps.push_back(q);
      kt270sim::RunOutcome o = Simulate(WithSteps(c.scenario, steps));
      const json& s = o.result["steps"];
      ASSERT_EQ(s[1]["status"], "EFI_SUCCESS");
      const json& set = s[1]["record"];
      EXPECT_EQ(set["max_mode"], c.want.size());
      EXPECT_EQ(set["mode"], i);
      const json& query = s[3 + i];
      EXPECT_EQ(set["info"]["width"], query["width"]);
      EXPECT_EQ(set["info"]["height"], query["height"]);
      EXPECT_EQ(set["info"]["pixels_per_scan_line"], query["pixels_per_scan_line"]);
      for (size_t j = 0; j < c.want.size(); ++j) {
        EXPECT_EQ(s[3 + j].value("width", 0u), r["steps"][j].value("width", 0u));
        EXPECT_EQ(s[3 + j].value("pixels_per_scan_line", 0u), r["steps"][j].value("pixels_per_scan_line", 0u));
      }
      EXPECT_EQ(Size({s[2]["width"], s[2]["height"]}), c.want[i]);
      EXPECT_EQ(s[2]["depth"], 32);
      const uint64_t pitch_bytes = uint64_t{set["info"]["pixels_per_scan_line"]} * 4;
      EXPECT_EQ(uint64_t{set["frame_buffer_size"]}, pitch_bytes * c.want[i].h);
      const uint64_t fb_size = c.scenario.contains("adapter") ? 0x400000 : 0x2000000;
      const uint64_t base = std::stoull(set["frame_buffer_base"].get<std::string>(), nullptr, 16);
      EXPECT_EQ(base & ~0xFFFFFFull, kBar0);
      EXPECT_LE(base - kBar0 + uint64_t{set["frame_buffer_size"]}, fb_size);
      EXPECT_TRUE(SamePicture(Find(o.sources, "crtc1"), Reference(c.want[i].w, c.want[i].h)));
      if (c.output != nullptr) {
        const json& out = o.result["outputs"][c.output];
        EXPECT_EQ(out["monitor"], "in sync");
        EXPECT_EQ(out["scaled"], i >= c.scaled_from);
        EXPECT_EQ(Size({out["source_width"], out["source_height"]}), c.want[i]);
        const kt270sim::Picture* screen = o.screens.empty() ? nullptr : &o.screens[0];
        ASSERT_NE(screen, nullptr);
        EXPECT_EQ(std::count(screen->pixels.begin(), screen->pixels.end(), 0u), long(screen->pixels.size()));
      }
    }
  }
}

TEST(GraphicsOutput, StartLightsTheNativeMode) {
  json scenario = {{"ddc", {{"1", Monitor(Panel1680WithRows(), "TMDS")}}}, {"steps", {GetMode()}}};
  json r = Simulate(scenario).result;
  EXPECT_EQ(r["start"]["start"], "EFI_SUCCESS");
  const json& tmds = r["outputs"]["TMDS"];
  EXPECT_EQ(tmds["monitor"], "in sync");
  EXPECT_EQ(Size({tmds["width"], tmds["height"]}), Size({1680, 1050}));
  EXPECT_EQ(tmds["scaled"], false);
  EXPECT_EQ(Size({r["steps"][0]["width"], r["steps"][0]["height"]}), Size({1680, 1050}));
  // What the OS is told of the boot display is already there.
  bool efi_display = false;
  for (const json& p : r["properties"]) efi_display |= p["name"] == "ZEY,EFIDisplay";
  EXPECT_TRUE(efi_display);
}

// A mode set that fails half-way is no mode set: the mode in force is lit
// again and the record is as it was, so a consumer's copy stays true.
TEST(GraphicsOutput, AFailedSetModeLeavesTheModeInForceLitAndTheRecordAsItWas) {
  json scenario = {{"ddc", {{"1", Monitor(Panel1680WithRows(), "TMDS")}}}};
  // The writes one SetMode of mode 3 makes, counted once.
  uint64_t writes = 0;
  {
    uint64_t before = 0;
    kt270sim::RunOptions options;
    options.before_step_firmware = [&](sim::Firmware& fw, size_t step) {
      (step == 0 ? before : writes) = fw.CallCount("Mem.Write");
    };
    Simulate(WithSteps(scenario, {GopSet(3), GetMode()}), options);
    writes -= before;
    ASSERT_GT(writes, 0u);
  }
  // Its last write (the black fill's) refused.
  kt270sim::RunOptions options;
  options.before_step_firmware = [&](sim::Firmware& fw, size_t step) {
    if (step == 1) fw.FailCall("Mem.Write", fw.CallCount("Mem.Write") + writes, EFI_DEVICE_ERROR);
  };
  kt270sim::RunOutcome o =
      Simulate(WithSteps(scenario, {GopQuery(0), GopSet(3), GetMode(), Fill({0, 0, 16, 16}, 0x00FF00)}), options);
  const json& s = o.result["steps"];
  EXPECT_EQ(s[1]["status"], "EFI_DEVICE_ERROR");
  EXPECT_EQ(s[1]["record"], s[0]["record"]);
  EXPECT_EQ(Size({s[2]["width"], s[2]["height"]}), Size({1680, 1050}));
  EXPECT_EQ(s[3]["status"], "EFI_SUCCESS");
  const json& tmds = o.result["outputs"]["TMDS"];
  EXPECT_EQ(tmds["monitor"], "in sync");
  EXPECT_EQ(Size({tmds["source_width"], tmds["source_height"]}), Size({1680, 1050}));
  Reference want(1680, 1050);
  want.Apply(Fill({0, 0, 16, 16}, 0x00FF00));
  EXPECT_TRUE(SamePicture(Find(o.sources, "crtc1"), want));
}

// A panel whose native surface fits nowhere, with no declared row: no mode
// is offered, nothing is lit, and every call says so.
TEST(GraphicsOutput, ADisplayThatFitsNowhereOffersNoMode) {
  json ddc = {{"1", Monitor(Panel1680(), "TMDS")}};
  json r = Simulate({{"adapter", {{"fb_size", "0x400000"}}},
                     {"ddc", ddc},
                     {"steps", {GopQuery(0), GopSet(0), AsGop(Fill({0, 0, 8, 8}, 1))}}})
               .result;
  const json& s = r["steps"];
  EXPECT_EQ(s[0]["status"], "EFI_INVALID_PARAMETER");
  EXPECT_EQ(s[0]["record"]["max_mode"], 0);
  EXPECT_EQ(s[0]["record"]["frame_buffer_size"], 0);
  EXPECT_EQ(s[1]["status"], "EFI_UNSUPPORTED");
  EXPECT_EQ(s[2]["status"], "EFI_INVALID_PARAMETER");
  EXPECT_EQ(r["outputs"]["TMDS"]["enabled"], false);
}

// Refusals change nothing, and a Blt refused for its arguments does not
// touch the adapter at all.
TEST(GraphicsOutput, RefusalsChangeNothingAndTouchNothing) {
  json ddc = {{"1", Monitor(Panel1024(), "TMDS")}};
  kt270sim::RunOutcome o = Simulate({{"ddc", ddc}, {"steps", {GopQuery(0), GopSet(99), GopSet(0xFFFFFFFF), GopQuery(99)}}});
  const json& s = o.result["steps"];
  EXPECT_EQ(s[1]["status"], "EFI_UNSUPPORTED");
  EXPECT_EQ(s[2]["status"], "EFI_UNSUPPORTED");
  EXPECT_EQ(s[3]["status"], "EFI_INVALID_PARAMETER");
  EXPECT_EQ(s[1]["record"], s[0]["record"]);
  EXPECT_EQ(s[3]["record"], s[0]["record"]);

  // Null out-pointers and bad arguments, called as a consumer would call
  // them; the Blts are judged before a single register access.
  std::vector<EFI_STATUS> got;
  uint64_t accesses[2] = {};
  kt270sim::RunOptions options;
  // Step 0 (GetMode) makes no PCI I/O call; the calls run before step 1.
  options.before_step_firmware = [&](sim::Firmware& fw, size_t step) {
    accesses[step] = fw.CallCount("Mem.Read") + fw.CallCount("Mem.Write") + fw.CallCount("Pci.Read") +
                     fw.CallCount("Pci.Write");
  };
  options.before_step = [&](void* context, size_t step) {
    if (step != 1) return;
    EFI_GRAPHICS_OUTPUT_PROTOCOL* gop = &static_cast<ADAPTER_CONTEXT*>(context)->Gop;
    UINTN size = 0;
    EFI_GRAPHICS_OUTPUT_MODE_INFORMATION* info = nullptr;
    EFI_GRAPHICS_OUTPUT_BLT_PIXEL pixel = {};
    got = {gop->QueryMode(gop, 0, nullptr, &info),
           gop->QueryMode(gop, 0, &size, nullptr),
           gop->QueryMode(nullptr, 0, &size, &info),
           gop->SetMode(nullptr, 0),
           gop->Blt(gop, nullptr, EfiBltVideoFill, 0, 0, 0, 0, 1, 1, 0),
           gop->Blt(gop, &pixel, EfiGraphicsOutputBltOperationMax, 0, 0, 0, 0, 1, 1, 0),
           gop->Blt(gop, &pixel, EfiBltVideoFill, 0, 0, 0, 0, 0, 1, 0),
           gop->Blt(gop, &pixel, EfiBltBufferToVideo, 0, 0, 1020, 0, 5, 1, 0),
           gop->Blt(gop, &pixel, EfiBltVideoToBltBuffer, 0, 768, 0, 0, 1, 1, 0)};
  };
  Simulate({{"ddc", ddc}, {"steps", {GetMode(), GetMode()}}}, options);
  EXPECT_EQ(got, std::vector<EFI_STATUS>(9, EFI_INVALID_PARAMETER));
  EXPECT_EQ(accesses[1], accesses[0]);
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
// pixels itself, often without setting a mode; the monitor must show them
// where it put them, also through the scaler.
TEST(GraphicsOutput, ALoaderWritingTheFrameBufferDirectlyIsShownPixelExact) {
  auto pixel = [](uint32_t x, uint32_t y) { return (x * 7 + y * 13) & 0xFFFFFF; };
  json ddc = {{"1", Monitor(Panel1680WithRows(), "TMDS")}};
  // Mode 0 as Start left it, a declared row, a scaled one.
  for (int mode : {-1, 2, 5}) {
    SCOPED_TRACE(mode);
    uint32_t width = 0, height = 0;
    kt270sim::RunOptions options;
    options.before_step = [&](void* context, size_t step) {
      if (step != 1) return;
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
    json first = mode < 0 ? GetMode() : GopSet(static_cast<uint32_t>(mode));
    kt270sim::RunOutcome o = Simulate({{"ddc", ddc}, {"steps", {first, GetMode()}}}, options);
    ASSERT_EQ(o.result["steps"][0]["status"], "EFI_SUCCESS");
    ASSERT_EQ(o.result["outputs"]["TMDS"]["monitor"], "in sync");
    Reference want(width, height);
    for (uint32_t y = 0; y < height; ++y)
      for (uint32_t x = 0; x < width; ++x) want.At(x, y) = pixel(x, y);
    EXPECT_TRUE(SamePicture(Find(o.sources, "crtc1"), want));
    if (mode < 0) {
      EXPECT_TRUE(SamePicture(Find(o.screens, "tmds"), want));
    }
  }
}

// EDID Discovered and EDID Active beside Graphics Output: display 0's bytes
// (segment 0 when it has extensions), none for no monitor; gone with Stop.
TEST(GraphicsOutput, TheEdidProtocolsCarryDisplayZerosEdid) {
  std::vector<uint8_t> base = Panel1680WithRows();
  std::vector<uint8_t> extended = base;
  extended[126] = 1;
  extended[127] = static_cast<uint8_t>(extended[127] - 1);
  for (int i = 0; i < 128; ++i) extended.push_back(static_cast<uint8_t>(i == 0 ? 0x02 : i));
  // Three blocks: only segment 0 can be read without the segment pointer.
  std::vector<uint8_t> three = extended;
  three[126] = 2;
  three[127] = static_cast<uint8_t>(three[127] - 1);
  for (int i = 0; i < 128; ++i) three.push_back(0x5A);
  struct Case {
    const char* name;
    json ddc;
    std::vector<uint8_t> want;
  } cases[] = {
      {"one block", {{"1", Monitor(base, "TMDS")}}, base},
      {"an extension", {{"1", Monitor(extended, "TMDS")}}, extended},
      {"two extensions", {{"1", Monitor(three, "TMDS")}}, std::vector<uint8_t>(three.begin(), three.begin() + 256)},
      {"no monitor", json::object(), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    json r = Simulate({{"ddc", c.ddc}, {"steps", {GopEdid(), {{"op", "Stop"}}, GopEdid()}}}).result;
    const json& s = r["steps"];
    for (const char* kind : {"discovered", "active"}) {
      SCOPED_TRACE(kind);
      ASSERT_TRUE(s[0][kind].is_object());
      EXPECT_EQ(s[0][kind]["size"], c.want.size());
      EXPECT_EQ(s[0][kind]["hex"], Hex(c.want));
      EXPECT_EQ(s[0][kind]["null"], c.want.empty());
      EXPECT_TRUE(s[2][kind].is_null());
    }
    EXPECT_EQ(r["leaks"], json({{"pool", 0}, {"events", 0}, {"protocols", 0}}));
  }
}

TEST(GraphicsOutput, ComponentName2AnswersInEnglishWithTheSameNames) {
  auto name = [](const char* op, const char* protocol, const char* language) {
    return json{{"op", op}, {"protocol", protocol}, {"language", language}};
  };
  json r = Simulate({{"steps",
                      {name("GetDriverName", "ComponentName2", "en"), name("GetDriverName", "ComponentName", "eng"),
                       name("GetControllerName", "ComponentName2", "en"),
                       name("GetControllerName", "ComponentName", "eng"), name("GetDriverName", "ComponentName2", "eng"),
                       name("GetDriverName", "ComponentName2", "en-US"), name("GetDriverName", "ComponentName", "en"),
                       name("GetControllerName", "ComponentName2", "fr")}}})
               .result;
  const json& s = r["steps"];
  EXPECT_EQ(s[0]["name"], "ZEL Quovan UGA Driver 01.00.121");
  EXPECT_EQ(s[0]["name"], s[1]["name"]);
  EXPECT_EQ(s[2]["name"], "ZEL Quovan KT270 Video Adapter");
  EXPECT_EQ(s[2]["name"], s[3]["name"]);
  for (size_t i = 4; i < 8; ++i) EXPECT_EQ(s[i]["status"], "EFI_UNSUPPORTED") << i;
}

// The fast start-up policy lights the same screen at Start, sooner; what
// each costs is the README's figure.
TEST(GraphicsOutput, StartLightsTheSameModeUnderEitherPolicy) {
  const json monitors[] = {{{"1", Monitor(Panel1680WithRows(), "TMDS")}},
                           {{"1", Monitor(Analogue800(), "DAC A")}}, json::object()};
  for (const json& ddc : monitors) {
    SCOPED_TRACE(ddc.dump().substr(0, 40));
    json outcome[2];
    for (int fast = 0; fast < 2; ++fast) {
      kt270sim::RunOptions options;
      options.before_step_firmware = [&](sim::Firmware& fw, size_t step) {
        const uint8_t on = 1;
        if (step == 0 && fast) {
          fw.SetVariable(u"QuovanFastStart", kQuovanVariableGuid,
                         EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS, &on, 1);
        }
      };
      outcome[fast] =
          Simulate({{"start", false}, {"ddc", ddc}, {"steps", {{{"op", "Supported"}}, {{"op", "Start"}}, GopQuery(0)}}},
                   options)
              .result;
      ASSERT_EQ(outcome[fast]["steps"][1]["status"], "EFI_SUCCESS");
      std::printf("Start, %s policy, %s: %llu us\n", fast ? "fast" : "default", ddc.empty() ? "no monitor" : "monitor",
                  static_cast<unsigned long long>(outcome[fast]["time_us"].get<uint64_t>()));
    }
    EXPECT_EQ(outcome[1]["steps"][2], outcome[0]["steps"][2]);
    EXPECT_EQ(outcome[1]["outputs"], outcome[0]["outputs"]);
    EXPECT_LT(outcome[1]["time_us"], outcome[0]["time_us"]);
  }
}

TEST(GraphicsOutput, StopTakesItAwayWithUgaDrawAndStartBringsItBackTheSame) {
  json r = Simulate({{"ddc", {{"1", Monitor(Panel1024(), "TMDS")}}},
                     {"steps", {GopQuery(0), {{"op", "Stop"}}, GopQuery(0), {{"op", "Start"}}, GopQuery(0), {{"op", "Stop"}}}}})
               .result;
  const json& s = r["steps"];
  EXPECT_EQ(s[1]["status"], "EFI_SUCCESS");
  EXPECT_EQ(s[2]["status"], "EFI_NOT_STARTED");
  EXPECT_EQ(s[3]["status"], "EFI_SUCCESS");
  EXPECT_EQ(s[4], s[0]);
  EXPECT_EQ(r["outputs"]["TMDS"]["monitor"], "no signal");
  EXPECT_EQ(r["leaks"], json({{"pool", 0}, {"events", 0}, {"protocols", 0}}));
}

}  // namespace
}  // namespace ugatest
