// A cold adapter brought up by StartDisplayEngine, then lit by
// ProgramDisplayOutputs, judged by the model's monitors; the outputs'
// register sequences; switch-off.
#include <gtest/gtest.h>

#include "driver/engine/crtc.h"
#include "driver/engine/outputs.h"
#include "driver/engine/scaler.h"
#include "driver/engine/startup.h"
#include "driver/engine/tmds.h"
#include "driver/engine/tv.h"
#include "engine_bench.h"

namespace engine_test {
namespace {

using kt270::Connector;
using kt270::Sync;

// Register, 60 Hz value, 50 Hz value: the two standards' sets in order.
struct TvWrite {
  uint32_t reg, v60, v50;
};
const TvWrite kTvSets[64] = {
    {0x5F9C, 0x00000001, 0x00000002},
    {0x5F98, 0x02090000, 0x026B0000},
    {0x5E00, 0x00000001, 0x00000001},
    {0x5E04, 0x00000AA9, 0x00000D4C},
    {0x5E08, 0x0003020C, 0x00070270},
    {0x5E14, 0x00000000, 0x0000000A},
    {0x5E18, 0x0003020B, 0x0007026E},
    {0x5E1C, 0x00000683, 0x00000613},
    {0x5E20, 0x00CA0000, 0x00FA0000},
    {0x5E24, 0x00630000, 0x007D0000},
    {0x5E28, 0x05B80555, 0x072306A6},
    {0x5E2C, 0x048C0000, 0x05AC0000},
    {0x5E30, 0x09E10555, 0x0C5206A6},
    {0x5E34, 0x00088000, 0x000784DD},
    {0x5E38, 0x0009020D, 0x0007026C},
    {0x5E3C, 0x00028006, 0x00020000},
    {0x5E40, 0x00030213, 0x00028271},
    {0x5E44, 0x006C00E4, 0x0078012A},
    {0x5E48, 0x01060009, 0x31340006},
    {0x5E4C, 0x020C0110, 0x026C013E},
    {0x5E50, 0x0A700199, 0x0D090239},
    {0x5E54, 0x05030555, 0x065608D5},
    {0x5E58, 0x0104002A, 0x0135002D},
    {0x5E5C, 0x020B0238, 0x026E829E},
    {0x5E60, 0x0553019A, 0x06A4022D},
    {0x5E64, 0x0104002A, 0x0135002C},
    {0x5E68, 0x020B0238, 0x026E029E},
    {0x5E8C, 0x0A870199, 0x0D200239},
    {0x5E90, 0x051A0555, 0x066D08D5},
    {0x5E94, 0x03EF01AE, 0x03EE01AD},
    {0x5E98, 0x000002FF, 0x000002FF},
    {0x5E9C, 0x01D70150, 0x01D70150},
    {0x5EA0, 0x0115013E, 0x0100013C},
    {0x5EA4, 0x018E011B, 0x01890118},
    {0x5EA8, 0x00EC00ED, 0x00EC00EB},
    {0x5EAC, 0x000000ED, 0x00000000},
    {0x5EB0, 0x01110006, 0x01110006},
    {0x5EB4, 0x01000401, 0x01000401},
    {0x5EB8, 0x3A200103, 0x00000002},
    {0x5EBC, 0x031F00F6, 0x00000000},
    {0x5EC0, 0x01304E00, 0x00000000},
    {0x5EC4, 0x00000020, 0x00000000},
    {0x5EC8, 0x00002107, 0x00002107},
    {0x5ECC, 0x00000000, 0x00000000},
    {0x5EF0, 0x80000189, 0x805201AE},
    {0x5EF4, 0x00000002, 0x002078FC},
    {0x5EF8, 0x15555555, 0x15555D38},
    {0x5EFC, 0x15555556, 0x1545FCE0},
    {0x5F00, 0x01FFFFFF, 0x00000000},
    {0x5F04, 0x15555555, 0x1533A6AE},
    {0x5F08, 0x15555555, 0x1533A6AE},
    {0x5F0C, 0x002C0203, 0x802C0203},
    {0x5F10, 0x8C99A1E5, 0x8C99A1E5},
    {0x5F14, 0x09620639, 0x09620639},
    {0x5F18, 0x0B713CE4, 0x0B713CE4},
    {0x5F1C, 0x00000000, 0x00000000},
    {0x5F28, 0x0000FFFF, 0x0000FFFF},
    {0x5F90, 0x000001F4, 0x000001F4},
    {0x5F8C, 0x002001F6, 0x0020023E},
    {0x5F94, 0x00000000, 0x00000000},
    {0x5DFC, 0xF0700002, 0xF01000C2},
    {0x04F8, 0x250658DC, 0x2DDBCC48},
    {0x04FC, 0x250658E0, 0x2DDBCC70},
    {0x04F4, 0x80000078, 0x80000062},
};

// The EDID bit that declares each built-in row with a timing.
struct Declared {
  uint64_t row;
  unsigned byte, bit;
};
const Declared kDeclared[] = {
    {0, 35, 0},  {1, 35, 1},  {2, 35, 2},  {3, 35, 3},  {4, 35, 4},  {5, 35, 5},  {8, 36, 0},  {9, 36, 1},
    {10, 36, 2}, {11, 36, 3}, {12, 36, 4}, {13, 36, 5}, {14, 36, 6}, {15, 36, 7}, {16, 37, 7},
};

void BringUp(EngineBench& bench) {
  ASSERT_EQ(EFI_SUCCESS, StartDisplayEngine(bench.context()));
  ASSERT_EQ(1, bench.context()->EngineStarted);
}

kt270::MonitorView Light(EngineBench& bench, Connector connector, EFI_STATUS expected = EFI_SUCCESS) {
  BringUp(bench);
  bench.Clear();
  EXPECT_EQ(expected, ProgramDisplayOutputs(bench.context()));
  EXPECT_EQ(1, bench.context()->CurrentDisplay);
  return bench.adapter().Watch(connector);
}

TEST(DisplayOutputs, BuiltInModesOnAnAnalogueMonitorThatDeclaresThem) {
  for (const Declared& d : kDeclared) {
    for (Connector connector : {Connector::kAnalogA, Connector::kAnalogB}) {
      bool a = connector == Connector::kAnalogA;
      SCOPED_TRACE(testing::Message() << "row " << d.row << (a ? " DAC A" : " DAC B"));
      EngineBench bench;
      bench.Plug(connector, EdidBuilder().Established(d.byte, d.bit).Build());
      bench.UseModeRow(a ? CONNECTOR_ANALOGUE_A : CONNECTOR_ANALOGUE_B, 0, a ? 1 : 2, d.row);
      kt270::MonitorView view = Light(bench, connector);
      const UGA_MODE_RECORD& mode = BuiltInModeList()[d.row];
      // Row 3 carries 31.20 MHz where the established 640 x 480 at 72 Hz
      // timing has 31.50 MHz: outside the monitor's 0.5 % clock tolerance.
      EXPECT_EQ(d.row == 3 ? Sync::kOutOfRange : Sync::kInSync, view.sync) << view.reason;
      EXPECT_EQ(mode.HorizontalResolution, view.width);
      EXPECT_EQ(mode.VerticalResolution, view.height);
      EXPECT_FALSE(view.scaled);
      EXPECT_EQ(mode.HorizontalResolution, bench.context()->CurrentMode[0].HorizontalResolution);
      EXPECT_EQ(std::vector<std::string>{a ? "VGAA" : "VGAB"}, bench.NodeValues("ZEY,EFIDisplay"));
    }
  }
}

TEST(DisplayOutputs, UndeclaredModeIsOutOfRange) {
  EngineBench bench;
  bench.Plug(Connector::kAnalogA, EdidBuilder().Established(35, 5).Build());
  bench.UseModeRow(CONNECTOR_ANALOGUE_A, 0, 1, 9);
  EXPECT_EQ(Sync::kOutOfRange, Light(bench, Connector::kAnalogA).sync);
}

TEST(DisplayOutputs, DefaultDisplayLightsBothAnalogueOutputs) {
  EngineBench bench;
  bench.Plug(Connector::kAnalogA, EdidBuilder().Established(35, 0).Build());
  bench.UseModeRow(CONNECTOR_ANALOGUE_A | CONNECTOR_ANALOGUE_B, 0, 1, 0);
  EXPECT_EQ(Sync::kInSync, Light(bench, Connector::kAnalogA).sync);
  EXPECT_TRUE(bench.adapter().DecodeOutput(kt270::Output::kDacB).enabled);
  EXPECT_EQ((std::vector<std::string>{"VGAA", "VGAB"}), bench.NodeValues("ZEY,EFIDisplay"));
}

TEST(DisplayOutputs, DigitalMonitorAtItsNativeDetailedTiming) {
  EngineBench bench;
  bench.Plug(Connector::kDigital, EdidBuilder().Digital().Detailed(Descriptor(Timing1080p())).Build());
  bench.UseDetailed(CONNECTOR_DIGITAL2, 0, 1, Timing1080p(), 800, 600);
  bench.context()->UseNativeMode[0] = 1;
  kt270::MonitorView view = Light(bench, Connector::kDigital);
  EXPECT_EQ(Sync::kInSync, view.sync) << view.reason;
  EXPECT_STREQ("in sync: detailed timing", view.reason);
  EXPECT_EQ(1920u, view.width);
  EXPECT_EQ(1080u, view.height);
  EXPECT_FALSE(view.scaled);
  // Native mode shown: size and depth taken over, the refresh kept.
  const UGA_MODE_RECORD& current = bench.context()->CurrentMode[0];
  EXPECT_EQ(1920u, current.HorizontalResolution);
  EXPECT_EQ(1080u, current.VerticalResolution);
  EXPECT_EQ(32u, current.ColorDepth);
  EXPECT_EQ(60u, current.RefreshRate);
  EXPECT_EQ(60u, bench.context()->NativeMode[0].RefreshRate);
  EXPECT_TRUE(bench.WritesTo(0x6590).empty());  // scaler not touched
  EXPECT_EQ(std::vector<std::string>{"TMDSB"}, bench.NodeValues("ZEY,EFIDisplay"));
  kt270::OutputState tmds = bench.adapter().DecodeOutput(kt270::Output::kTmds);
  EXPECT_FALSE(tmds.dual_link);
  EXPECT_EQ(0x3Eu, tmds.lanes);
}

TEST(DisplayOutputs, RequestScaledOntoALargerNativeRaster) {
  EngineBench bench;
  bench.Plug(Connector::kDigital, EdidBuilder().Digital().Detailed(Descriptor(Timing1680x1050())).Build());
  bench.UseDetailed(CONNECTOR_DIGITAL2, 0, 1, Timing1680x1050(), 1280, 1024);
  kt270::MonitorView view = Light(bench, Connector::kDigital);
  EXPECT_EQ(Sync::kInSync, view.sync) << view.reason;
  EXPECT_EQ(1680u, view.width);
  EXPECT_EQ(1050u, view.height);
  EXPECT_TRUE(view.scaled);
  EXPECT_EQ(1280u, view.source_width);
  EXPECT_EQ(1024u, view.source_height);
  EXPECT_EQ(0x00B800B8u, bench.adapter().PeekReg(0x6588));
  EXPECT_EQ(0u, bench.adapter().PeekReg(0x658C));
  EXPECT_EQ(1280u, bench.context()->CurrentMode[0].HorizontalResolution);
  // The CRTC is held while the scaler is set up, and runs again after.
  EXPECT_EQ((std::vector<uint64_t>{1, 0, 1}), bench.WritesTo(0x6080));
  kt270::CrtcState s = bench.adapter().DecodeCrtc(0);
  EXPECT_EQ(1280u, s.fetch_width);
  EXPECT_EQ(1024u, s.fetch_height);
  EXPECT_EQ(0x101u, s.scaler_mode);
}

TEST(DisplayOutputs, ScalerRefusalFallsBackToTheNativeMode) {
  EngineBench bench;
  bench.Plug(Connector::kDigital, EdidBuilder().Digital().Detailed(Descriptor(Timing1680x1050())).Build());
  bench.UseDetailed(CONNECTOR_DIGITAL2, 0, 1, Timing1680x1050(), 1280, 1024);
  bench.context()->EngineClock = 14624;  // one below the pixel clock
  // The refusal stays the result although the TMDS enable after it succeeds.
  kt270::MonitorView view = Light(bench, Connector::kDigital, EFI_INVALID_PARAMETER);
  EXPECT_EQ(Sync::kInSync, view.sync) << view.reason;
  EXPECT_EQ(1680u, view.width);
  EXPECT_FALSE(view.scaled);
  EXPECT_EQ(1680u, view.source_width);
  EXPECT_EQ(1050u, view.source_height);
  const UGA_MODE_RECORD& current = bench.context()->CurrentMode[0];
  EXPECT_EQ(1680u, current.HorizontalResolution);
  EXPECT_EQ(1050u, current.VerticalResolution);
  // Bypass writes the requested size, the fallback then the native one.
  EXPECT_EQ((std::vector<uint64_t>{0x0690041A, 0x05000400, 0x0690041A}), bench.WritesTo(0x6584));
  EXPECT_EQ(1680u, bench.adapter().PeekReg(0x6134));
  EXPECT_EQ(1050u, bench.adapter().PeekReg(0x6138));
}

// A CRTC register write that PCI I/O refuses leaves the mode unset: that
// failure is the sequence's result, whatever succeeds after it (scaler,
// TMDS). Each register is found in a clean run and refused in a second.
TEST(DisplayOutputs, ARefusedCrtcWriteIsNotHiddenByLaterSteps) {
  struct Refused {
    uint32_t reg;
    const char* what;
  };
  auto Prepare = [](EngineBench& bench) {
    bench.Plug(Connector::kDigital, EdidBuilder().Digital().Detailed(Descriptor(Timing1680x1050())).Build());
    bench.UseDetailed(CONNECTOR_DIGITAL2, 0, 1, Timing1680x1050(), 1280, 1024);
    BringUp(bench);
    bench.Clear();
    bench.firmware().ResetCallCounts();
  };
  for (const Refused& r : {Refused{0x6008, "first timing word"}, Refused{0x6110, "surface base"},
                           Refused{0x6080, "CRTC run"}}) {
    SCOPED_TRACE(r.what);
    uint64_t nth = 0, writes = 0;
    {
      EngineBench clean;
      Prepare(clean);
      ASSERT_EQ(EFI_SUCCESS, ProgramDisplayOutputs(clean.context()));
      for (const kt270::Access& a : clean.trace()) {
        if (!a.write || a.space == kt270::Space::kConfig) continue;
        ++writes;
        if (a.space == kt270::Space::kBar2 && a.offset == r.reg && nth == 0) nth = writes;
      }
    }
    ASSERT_NE(nth, 0u);
    EngineBench bench;
    Prepare(bench);
    bench.firmware().FailCall("Mem.Write", nth, EFI_DEVICE_ERROR);
    EXPECT_EQ(EFI_DEVICE_ERROR, ProgramDisplayOutputs(bench.context()));
    EXPECT_EQ(1u, bench.firmware().injections_fired().size());
    EXPECT_TRUE(bench.adapter().DecodeOutput(kt270::Output::kTmds).enabled);
  }
}

// The clock check refuses even the native size; shown as asked, that mode
// set is no failure (a TMDS output follows: the sequence succeeds).
TEST(DisplayOutputs, RefusalAtTheNativeSizeIsNoFailure) {
  EngineBench bench;
  bench.Plug(Connector::kDigital, EdidBuilder().Digital().Detailed(Descriptor(Timing1680x1050())).Build());
  bench.UseDetailed(CONNECTOR_DIGITAL2, 0, 1, Timing1680x1050(), 1680, 1050);
  bench.context()->EngineClock = 14624;  // one below the pixel clock
  EXPECT_EQ(Sync::kInSync, Light(bench, Connector::kDigital).sync);
  EXPECT_EQ(1680u, bench.context()->CurrentMode[0].HorizontalResolution);
}

TEST(DisplayOutputs, RefusalWithoutAnOutputIsReturned) {
  EngineBench bench;
  bench.UseDetailed(CONNECTOR_PANEL, 0, 1, Timing1280x1024(), 1024, 768);
  bench.context()->EngineClock = 1000;
  Light(bench, Connector::kDigital, EFI_INVALID_PARAMETER);
  EXPECT_EQ(0x05000400u, bench.adapter().PeekReg(0x6584));
  EXPECT_EQ(1280u, bench.context()->CurrentMode[0].HorizontalResolution);
  EXPECT_TRUE(bench.NodeValues("ZEY,EFIDisplay").empty());
}

TEST(DisplayOutputs, ModeWithoutASizeIsRefusedNotDividedBy) {
  EngineBench bench;
  bench.UseDetailed(CONNECTOR_DIGITAL2, 0, 1, Timing1080p(), 0, 1080);
  BringUp(bench);
  ProgramDisplayOutputs(bench.context());
  // Refused, so the native mode is shown.
  EXPECT_EQ(1920u, bench.context()->CurrentMode[0].HorizontalResolution);
  EXPECT_EQ((1920u << 16) | 1080u, bench.adapter().PeekReg(0x6584));

  // Directly: each of the four sizes.
  for (int which = 0; which < 4; which++) {
    ADAPTER_CONTEXT* c = bench.context();
    c->CurrentDisplay = 0;
    c->NativeMode[0] = {1920, 1080, 32, 60, 0, {}};
    c->CurrentMode[0] = {1280, 1024, 32, 60, 0, {}};
    UINT64* field[4] = {&c->NativeMode[0].HorizontalResolution, &c->NativeMode[0].VerticalResolution,
                        &c->CurrentMode[0].HorizontalResolution, &c->CurrentMode[0].VerticalResolution};
    *field[which] = 0;
    bench.Clear();
    EXPECT_EQ(EFI_INVALID_PARAMETER, SetupScaler(c)) << which;
    EXPECT_EQ(std::vector<uint64_t>{0}, bench.WritesTo(0x6590));
    EXPECT_EQ(std::vector<uint64_t>{1}, bench.WritesTo(0x659C));
  }
}

TEST(DisplayOutputs, TelevisionOnEachStandard) {
  for (bool ntsc : {true, false}) {
    SCOPED_TRACE(ntsc ? "60 Hz" : "50 Hz");
    EngineBench bench;
    bench.Plug(Connector::kTv, EdidBuilder().Vendor(0x08, 0x9D).Established(37, ntsc ? 6 : 5).Build());
    bench.UseModeRow(CONNECTOR_TV2, 0, 2, ntsc ? 17 : 18);
    bench.context()->TvUseNtsc[0] = ntsc;
    kt270::MonitorView view = Light(bench, Connector::kTv);
    EXPECT_EQ(Sync::kInSync, view.sync) << view.reason;
    EXPECT_EQ(800u, view.width);
    EXPECT_EQ(600u, view.height);
    EXPECT_EQ(ntsc ? 60000u : 50000u, view.refresh_mhz);
    EXPECT_EQ(std::vector<std::string>{"TV"}, bench.NodeValues("ZEY,EFIDisplay"));

    // The standard's 64 writes, write by write, in one run.
    std::vector<Op> writes = bench.Writes();
    size_t first = 0;
    while (first < writes.size() && writes[first].offset != 0x5F9C) first++;
    ASSERT_LE(first + 64, writes.size());
    for (size_t i = 0; i < 64; i++) {
      EXPECT_EQ(W32(kTvSets[i].reg, ntsc ? kTvSets[i].v60 : kTvSets[i].v50), writes[first + i]) << "step " << i + 1;
    }
    EXPECT_EQ(std::vector<uint64_t>{ntsc ? 0x00041301u : 0x00041200u}, bench.WritesTo(0x7A54));
    // Bypassed by the mode set, then the scaler on and its filters loaded
    // in TV mode.
    EXPECT_EQ((std::vector<uint64_t>{0, 0x101, 0x103}), bench.WritesTo(0x6594));
    // Only CRTC 1's conversion block.
    EXPECT_EQ(std::vector<uint64_t>{0x00007020}, bench.WritesTo(0x6384));
    EXPECT_EQ(std::vector<uint64_t>{1}, bench.WritesTo(0x6380));
    EXPECT_EQ(std::vector<uint64_t>{0x35}, bench.WritesTo(0x6CBC));
    EXPECT_TRUE(bench.WritesTo(0x6898).empty());
    EXPECT_TRUE(bench.WritesTo(0x6D88).empty());
    EXPECT_TRUE(bench.WritesTo(0x693C).empty());
  }
}

TEST(DisplayOutputs, TelevisionOnCrtc2) {
  EngineBench bench;
  bench.Plug(Connector::kTv, EdidBuilder().Vendor(0x0C, 0x9D).Established(37, 6).Build());
  bench.UseModeRow(CONNECTOR_TV1 | CONNECTOR_TV2, 1, 2, 17);
  kt270::MonitorView view = Light(bench, Connector::kTv);
  EXPECT_EQ(Sync::kInSync, view.sync) << view.reason;
  EXPECT_EQ(1u, view.crtc);
  EXPECT_EQ(std::vector<std::string>{"TV"}, bench.NodeValues("ZEY,EFIDisplay"));
  EXPECT_EQ(std::vector<uint64_t>{0x02000000}, bench.WritesTo(0x6BB0));
  EXPECT_EQ(std::vector<uint64_t>{1}, bench.WritesTo(0x6B80));
  for (uint32_t reg : {0x6898u, 0x6890u, 0x6894u}) EXPECT_EQ(std::vector<uint64_t>{0x1F4101F4}, bench.WritesTo(reg));
  EXPECT_EQ(0x006C006Cu, bench.adapter().PeekReg(0x6D88));
  EXPECT_EQ(0x001F001Fu, bench.adapter().PeekReg(0x6D8C));
  EXPECT_EQ(1u, bench.adapter().PeekReg(0x693C));
  EXPECT_EQ(1u, bench.adapter().PeekReg(0x60FC));
  // Both TV bits: not exactly one kind, so the filters load in normal mode.
  EXPECT_EQ(0x101u, bench.adapter().PeekReg(0x6D94));
}

TEST(DisplayOutputs, ConnectorBitsEachHandledInOrder) {
  EngineBench bench;
  bench.Plug(Connector::kDigital, EdidBuilder().Digital().Established(35, 0).Build());
  bench.UseModeRow(CONNECTOR_DIGITAL2 | CONNECTOR_ANALOGUE_A, 0, 1, 0);
  Light(bench, Connector::kDigital);
  EXPECT_EQ((std::vector<std::string>{"TMDSB", "VGAA"}), bench.NodeValues("ZEY,EFIDisplay"));
  EXPECT_TRUE(bench.adapter().DecodeOutput(kt270::Output::kTmds).enabled);
  EXPECT_TRUE(bench.adapter().DecodeOutput(kt270::Output::kDacA).enabled);
}

TEST(DisplayOutputs, NoCrtcStillSwitchesTheOutputOn) {
  EngineBench bench;
  bench.UseModeRow(CONNECTOR_ANALOGUE_A, NO_CRTC, 1, 0);
  Light(bench, Connector::kAnalogA);
  EXPECT_TRUE(bench.WritesTo(0x6534).empty());
  EXPECT_TRUE(bench.WritesTo(0x6D34).empty());
  EXPECT_EQ(255u, bench.adapter().PeekReg(0x7804));
  EXPECT_EQ(std::vector<std::string>{"VGAA"}, bench.NodeValues("ZEY,EFIDisplay"));
}

TEST(DisplayOutputs, PanelAndFirstDigitalKindLightNoOutput) {
  for (uint32_t kind : {uint32_t{CONNECTOR_PANEL}, uint32_t{CONNECTOR_DIGITAL1}}) {
    EngineBench bench;
    bench.UseModeRow(kind, 0, 1, 0);
    Light(bench, Connector::kAnalogA);
    EXPECT_TRUE(bench.adapter().DecodeCrtc(0).running);
    EXPECT_TRUE(bench.NodeValues("ZEY,EFIDisplay").empty());
    EXPECT_FALSE(bench.adapter().DecodeOutput(kt270::Output::kDacA).enabled);
  }
}

TEST(DisplayOutputs, WithoutPlatformServicesNothingIsReported) {
  EngineBench bench;
  bench.Plug(Connector::kAnalogA, EdidBuilder().Established(35, 0).Build());
  bench.UseModeRow(CONNECTOR_ANALOGUE_A, 0, 1, 0);
  bench.context()->HasPlatformServices = 0;
  EXPECT_EQ(Sync::kInSync, Light(bench, Connector::kAnalogA).sync);
  EXPECT_TRUE(bench.NodeValues("ZEY,EFIDisplay").empty());
}

TEST(DisplayOutputs, SlotOneIsNeverProgrammed) {
  EngineBench bench;
  bench.UseModeRow(CONNECTOR_ANALOGUE_A, NO_CRTC, 1, 0);
  ADAPTER_CONTEXT* c = bench.context();
  c->DisplayCount = 2;
  c->CrtcIndex[1] = 1;
  c->ConnectorType[1] = CONNECTOR_ANALOGUE_B;
  Light(bench, Connector::kAnalogB);
  EXPECT_FALSE(bench.adapter().DecodeCrtc(1).running);
  EXPECT_FALSE(bench.adapter().DecodeOutput(kt270::Output::kDacB).enabled);
}

TEST(ClearDisplaySurface, FillsWholeLinesOfTheNativeWidth) {
  EngineBench bench;
  ADAPTER_CONTEXT* c = bench.context();
  for (uint64_t width : {1280u, 1366u}) {
    c->NativeMode[0] = {width, 768, 32, 60, 0, {}};
    bench.Clear();
    EXPECT_EQ(EFI_SUCCESS, ClearDisplaySurface(c));
    uint32_t pitch = width == 1280 ? 1280 : 1536;
    EXPECT_EQ(std::vector<uint64_t>{0}, bench.WritesTo(0x147C));
    EXPECT_EQ(std::vector<uint64_t>{0x00010000}, bench.WritesTo(0x1404));
    EXPECT_EQ(std::vector<uint64_t>{pitch * 4}, bench.WritesTo(0x1408));
    EXPECT_EQ(std::vector<uint64_t>{(uint64_t{pitch} << 16) | 768}, bench.WritesTo(0x1598));
  }
}

// A native raster whose 256-pixel lines outgrow the aperture (the surface
// itself fits, or never did): the clear stops at the aperture's end.
TEST(ClearDisplaySurface, StopsAtTheEndOfTheAperture) {
  EngineBench bench;
  ADAPTER_CONTEXT* c = bench.context();
  c->FrameBufferSize = bench.adapter().FrameBufferSize();
  const uint64_t lines = (c->FrameBufferSize - 0x10000) / (4096 * 4);
  struct {
    uint64_t width, height, filled;
  } cases[] = {{3944, 2064, lines}, {3944, lines, lines}, {1680, 1050, 1050}};
  for (const auto& k : cases) {
    c->NativeMode[0] = {k.width, k.height, 32, 60, 0, {}};
    bench.Clear();
    const uint64_t clipped = bench.adapter().stats().engine_clipped;
    EXPECT_EQ(EFI_SUCCESS, ClearDisplaySurface(c));
    const uint64_t pitch = (k.width + 255) & ~255ull;
    EXPECT_EQ(std::vector<uint64_t>{(pitch << 16) | k.filled}, bench.WritesTo(0x1598)) << k.width << "x" << k.height;
    EXPECT_EQ(bench.adapter().stats().engine_clipped, clipped);
  }
}

TEST(ShutDownOutputs, EveryOutputAndBothCrtcsOff) {
  EngineBench bench;
  bench.Plug(Connector::kAnalogA, EdidBuilder().Established(35, 0).Build());
  bench.Plug(Connector::kTv, EdidBuilder().Vendor(0x08, 0x9D).Established(37, 6).Build());
  bench.UseModeRow(CONNECTOR_ANALOGUE_A, 0, 1, 0);
  ASSERT_EQ(Sync::kInSync, Light(bench, Connector::kAnalogA).sync);
  // A television on CRTC 2 as well.
  ADAPTER_CONTEXT* c = bench.context();
  c->CurrentDisplay = 0;
  c->ModeIndex[0] = 17;
  c->CrtcIndex[0] = 1;
  c->ConnectorType[0] = CONNECTOR_TV2;
  SetCrtcMode(c, 1, 2);
  EnableTv(c);
  ASSERT_EQ(Sync::kInSync, bench.adapter().Watch(Connector::kTv).sync);

  EXPECT_EQ(EFI_SUCCESS, ShutDownOutputs(c));
  for (kt270::Output out : {kt270::Output::kDacA, kt270::Output::kDacB, kt270::Output::kTv}) {
    EXPECT_FALSE(bench.adapter().DecodeOutput(out).enabled) << int(out);
  }
  for (unsigned crtc = 0; crtc < 2; crtc++) {
    kt270::CrtcState s = bench.adapter().DecodeCrtc(crtc);
    EXPECT_EQ(0x01000000u, s.control);
    EXPECT_FALSE(s.running);
  }
  EXPECT_EQ(0x00041202u, bench.adapter().PeekReg(0x7A54));
  for (Connector m : {Connector::kAnalogA, Connector::kTv}) {
    EXPECT_EQ(Sync::kNoSignal, bench.adapter().Watch(m).sync);
  }
}

}  // namespace
}  // namespace engine_test
