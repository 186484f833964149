// The shared rig's cold adapter with the platform stand-ins installed, and
// its adapter context set up by hand the way display discovery would leave
// it. Tests judge by the model's trace, decode and monitor verdicts.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "driver/core/context.h"
#include "driver/engine/timing.h"
#include "driver/hw/modelist.h"
#include "sim/adapter/kt270_pci_device.h"
#include "sim/edid/edid_builder.h"
#include "sim/firmware/firmware.h"
#include "sim/platform/platform_stand_in.h"
#include "tests/support/rig.h"
#include "tests/support/trace_ops.h"

namespace engine_test {

using simedid::EdidBuilder;
using testsupport::Op;
using testsupport::W32;
using testsupport::W8;

// A detailed timing as the EDID parser records it (totals = active + blank).
inline DETAILED_TIMING MakeDetailed(uint16_t clock, uint16_t ha, uint16_t hblank, uint16_t hso, uint16_t hsw,
                                    uint16_t va, uint16_t vblank, uint16_t vso, uint16_t vsw) {
  DETAILED_TIMING t{};
  t.Probed = 1;
  t.PixelClock = clock;
  t.HActive = ha;
  t.HBlank = hblank;
  t.HTotal = static_cast<uint16_t>(ha + hblank);
  t.HSyncOffset = hso;
  t.HSyncWidth = hsw;
  t.VActive = va;
  t.VBlank = vblank;
  t.VTotal = static_cast<uint16_t>(va + vblank);
  t.VSyncOffset = vso;
  t.VSyncWidth = vsw;
  return t;
}
inline DETAILED_TIMING Timing1080p() { return MakeDetailed(14850, 1920, 280, 88, 44, 1080, 45, 4, 5); }
inline DETAILED_TIMING Timing1680x1050() { return MakeDetailed(14625, 1680, 560, 104, 176, 1050, 39, 3, 6); }
inline DETAILED_TIMING Timing1280x1024() { return MakeDetailed(10800, 1280, 408, 48, 112, 1024, 42, 1, 3); }
// The same timing as the descriptor of a monitor's EDID.
inline simedid::DetailedTiming Descriptor(const DETAILED_TIMING& t) {
  return {t.PixelClock, t.HActive, t.HBlank, t.HSyncOffset, t.HSyncWidth, t.VActive, t.VBlank, t.VSyncOffset,
          t.VSyncWidth};
}

class EngineBench {
 public:
  explicit EngineBench(kt270::Config config = kt270::DefaultConfig())
      : rig_(Options(config)), platform_(rig_.InstallPlatform()), context_(*rig_.MakeContext()) {
    context_.ModeList = BuiltInModeList();
    context_.ModeCount = ModeCount;
    context_.ModeTimingTable = BuiltInTimingTable;
    rig_.ClearTrace();
  }

  sim::Firmware& firmware() { return rig_.fw(); }
  kt270::Adapter& adapter() { return rig_.adapter(); }
  simplatform::PlatformStandIn& platform() { return platform_; }
  const simplatform::PlatformStandIn& platform() const { return platform_; }
  ADAPTER_CONTEXT* context() { return &context_; }

  // Display 0 as discovery leaves it for a built-in row.
  void UseModeRow(uint32_t connector, uint8_t crtc, uint8_t channel, uint64_t row) {
    UseDisplay0(connector, crtc, channel, 1, row);
    const UGA_MODE_RECORD& m = BuiltInModeList()[row];
    context_.CurrentMode[0] = {m.HorizontalResolution, m.VerticalResolution, m.ColorDepth, m.RefreshRate, 0, {}};
  }
  // Display 0 on its own detailed timing, with a requested surface size.
  void UseDetailed(uint32_t connector, uint8_t crtc, uint8_t channel, const DETAILED_TIMING& t, uint64_t width,
                   uint64_t height) {
    UseDisplay0(connector, crtc, channel, 0, 0);
    ADAPTER_CONTEXT& c = context_;
    (channel == 1 ? c.Timing1 : channel == 2 ? c.Timing2 : c.Timing3) = t;
    c.CurrentMode[0] = {width, height, 32, 60, 0, {}};
  }

  void Plug(kt270::Connector connector, const std::vector<uint8_t>& edid) {
    rig_.Plug(connector, edid);
    // What the EDID reader would have cached for the channel.
    uint8_t* cache = kt270::kConnectorChannel[static_cast<unsigned>(connector)] == 1 ? context_.Edid1
                                                                                     : context_.Edid2;
    std::memcpy(cache, edid.data(), 128);
  }

  const std::vector<kt270::Access>& trace() const { return rig_.trace(); }
  std::vector<Op> Bar2() const { return testsupport::Bar2Ops(rig_.trace()); }
  std::vector<Op> Writes() const { return testsupport::WritesOf(Bar2()); }
  // Values written to one register, in order.
  std::vector<uint64_t> WritesTo(uint32_t offset) const {
    std::vector<uint64_t> values;
    for (const Op& op : Writes()) {
      if (op.offset == offset) values.push_back(op.value);
    }
    return values;
  }
  // Direct-register writes only: the indirect spaces' index and data ports
  // (0x08/0x0C, 0x30/0x34, 0x70/0x74) left out.
  std::vector<Op> DirectWrites() const {
    std::vector<Op> ops;
    for (const Op& op : Writes()) {
      if (op.offset != 0x08 && op.offset != 0x0C && op.offset != 0x30 && op.offset != 0x34 &&
          op.offset != 0x70 && op.offset != 0x74) {
        ops.push_back(op);
      }
    }
    return ops;
  }
  void Clear() {
    rig_.ClearTrace();
    platform_.ClearRecords();
  }

  // Display-node "0" values of a property, in write order.
  std::vector<std::string> NodeValues(const std::string& name) const {
    std::vector<std::string> values;
    for (const auto& p : platform_.properties()) {
      if (p.node && *p.node == "0" && p.name == name) values.emplace_back(p.value.begin(), p.value.end());
    }
    return values;
  }

 private:
  void UseDisplay0(uint32_t connector, uint8_t crtc, uint8_t channel, uint8_t from_list, uint64_t index) {
    ADAPTER_CONTEXT& c = context_;
    c.DisplayCount = 1;
    c.ConnectorType[0] = connector;
    c.CrtcIndex[0] = crtc;
    c.OutputChannel[0] = channel;
    c.ModeFromList[0] = from_list;
    c.ModeIndex[0] = index;
    c.UseNativeMode[0] = 0;
  }
  static testsupport::RigOptions Options(kt270::Config config) {
    config.enforce_decode = false;
    testsupport::RigOptions options;
    options.adapter = config;
    return options;
  }

  testsupport::Rig rig_;
  simplatform::PlatformStandIn& platform_;
  ADAPTER_CONTEXT& context_;
};

}  // namespace engine_test
