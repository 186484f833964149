// A cold adapter of the model under the host firmware stand-in with the
// platform stand-ins, and an adapter context set up by hand the way display
// discovery would leave it. Tests judge by the model's trace, decode and
// monitor verdicts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "driver/core/context.h"
#include "driver/engine/timing.h"
#include "driver/hw/modelist.h"
#include "driver/lib/driverlib.h"
#include "sim/adapter/kt270_pci_device.h"
#include "sim/firmware/firmware.h"
#include "sim/platform/platform_stand_in.h"

namespace engine_test {

struct Op {
  bool write;
  unsigned width;
  uint32_t offset;
  uint64_t value;
  bool operator==(const Op& o) const {
    return write == o.write && width == o.width && offset == o.offset && value == o.value;
  }
};
inline Op W32(uint32_t offset, uint64_t value) { return {true, 4, offset, value}; }
inline Op W8(uint32_t offset, uint64_t value) { return {true, 1, offset, value}; }

inline std::ostream& operator<<(std::ostream& os, const Op& op) {
  char text[64];
  std::snprintf(text, sizeof text, "%c%u 0x%04X 0x%08llX", op.write ? 'W' : 'R', op.width * 8, op.offset,
                static_cast<unsigned long long>(op.value));
  return os << text;
}

// A 128-byte EDID base block with a valid header and checksum.
struct EdidBuilder {
  uint8_t b[128] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  EdidBuilder() {
    b[8] = 0x4C;  // some manufacturer other than the vendor's
    b[9] = 0x2D;
    b[18] = 1;
    b[19] = 3;
  }
  EdidBuilder& Digital() { b[20] = 0x80; return *this; }
  EdidBuilder& Established(unsigned byte, unsigned bit) { b[byte] |= 1u << bit; return *this; }
  EdidBuilder& Vendor(uint8_t p0, uint8_t p1) {
    b[8] = 0x06; b[9] = 0x10; b[10] = p0; b[11] = p1;
    return *this;
  }
  // First detailed timing descriptor.
  EdidBuilder& Detailed(const DETAILED_TIMING& t) {
    uint8_t* d = b + 54;
    d[0] = t.PixelClock & 0xFF;
    d[1] = t.PixelClock >> 8;
    d[2] = t.HActive & 0xFF;
    d[3] = t.HBlank & 0xFF;
    d[4] = static_cast<uint8_t>(((t.HActive >> 8) << 4) | (t.HBlank >> 8));
    d[5] = t.VActive & 0xFF;
    d[6] = t.VBlank & 0xFF;
    d[7] = static_cast<uint8_t>(((t.VActive >> 8) << 4) | (t.VBlank >> 8));
    d[8] = t.HSyncOffset & 0xFF;
    d[9] = t.HSyncWidth & 0xFF;
    d[10] = static_cast<uint8_t>(((t.VSyncOffset & 0xF) << 4) | (t.VSyncWidth & 0xF));
    d[17] = 0x18;
    return *this;
  }
  std::vector<uint8_t> Build() const {
    std::vector<uint8_t> v(b, b + 128);
    uint8_t sum = 0;
    for (int i = 0; i < 127; i++) sum += v[i];
    v[127] = static_cast<uint8_t>(-sum);
    return v;
  }
};

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

class EngineBench {
 public:
  explicit EngineBench(kt270::Config config = kt270::DefaultConfig()) {
    config.enforce_decode = false;
    device_ = std::make_unique<kt270::Kt270PciDevice>(config, [this] { return firmware_.NowUs(); });
    controller_ = firmware_.CreatePciController(device_.get());
    DriverLibResetForHost();
    EfiInitializeDriverLib(firmware_.CreateImageHandle(), firmware_.SystemTable());
    std::memset(&context_, 0, sizeof context_);
    ADAPTER_CONTEXT& c = context_;
    c.Signature = ADAPTER_CONTEXT_SIGNATURE;
    c.PciIo = firmware_.PciIoProtocolOf(controller_);
    c.ParentDevicePath = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL*>(&path_storage_);
    c.HasPropertyDatabase = 1;
    c.PropertyDatabase = platform_.database();
    c.HasPlatformServices = 1;
    c.PlatformServices = platform_.services();
    firmware_.CreateEvent(EVT_TIMER, 0, nullptr, nullptr, &c.TimerEvent);
    // The starting values of context initialisation.
    c.EngineClock = 45000;
    c.MemoryClock = 40000;
    c.DdcChannel = 1;
    for (int d = 0; d < DISPLAY_SLOTS; d++) {
      c.OutputChannel[d] = 1;
      c.CrtcIndex[d] = NO_CRTC;
      c.TvUseNtsc[d] = 1;
      c.UseNativeMode[d] = 1;
      c.CurrentMode[d] = {800, 600, 32, 60, 0, {}};
    }
    c.ConnectFlagA = 1;
    c.ConnectFlagB = 1;
    c.ModeList = BuiltInModeList();
    c.ModeCount = ModeCount;
    c.ModeTimingTable = BuiltInTimingTable;
    adapter().SetTrace(&kt270::TraceLog::Sink, &log_);
  }

  sim::Firmware& firmware() { return firmware_; }
  kt270::Adapter& adapter() { return device_->adapter(); }
  simplatform::PlatformStandIn& platform() { return platform_; }
  const simplatform::PlatformStandIn& platform() const { return platform_; }
  ADAPTER_CONTEXT* context() { return &context_; }

  // Display 0 as discovery leaves it for a built-in row.
  void UseModeRow(uint32_t connector, uint8_t crtc, uint8_t channel, uint64_t row) {
    ADAPTER_CONTEXT& c = context_;
    c.DisplayCount = 1;
    c.ConnectorType[0] = connector;
    c.CrtcIndex[0] = crtc;
    c.OutputChannel[0] = channel;
    c.ModeFromList[0] = 1;
    c.ModeIndex[0] = row;
    c.UseNativeMode[0] = 0;
    const UGA_MODE_RECORD& m = BuiltInModeList()[row];
    c.CurrentMode[0] = {m.HorizontalResolution, m.VerticalResolution, m.ColorDepth, m.RefreshRate, 0, {}};
  }
  // Display 0 on its own detailed timing, with a requested surface size.
  void UseDetailed(uint32_t connector, uint8_t crtc, uint8_t channel, const DETAILED_TIMING& t, uint64_t width,
                   uint64_t height) {
    ADAPTER_CONTEXT& c = context_;
    c.DisplayCount = 1;
    c.ConnectorType[0] = connector;
    c.CrtcIndex[0] = crtc;
    c.OutputChannel[0] = channel;
    c.ModeFromList[0] = 0;
    c.ModeIndex[0] = 0;
    c.UseNativeMode[0] = 0;
    (channel == 1 ? c.Timing1 : channel == 2 ? c.Timing2 : c.Timing3) = t;
    c.CurrentMode[0] = {width, height, 32, 60, 0, {}};
  }

  void Plug(kt270::Connector connector, const std::vector<uint8_t>& edid) {
    edids_.push_back(std::make_unique<std::vector<uint8_t>>(edid));
    const std::vector<uint8_t>& kept = *edids_.back();
    kt270::Monitor m{kept.data(), static_cast<uint32_t>(kept.size()), connector, kt270::NoFaults()};
    adapter().Plug(m);
    // What the EDID reader would have cached for the channel.
    uint8_t* cache = kt270::kConnectorChannel[static_cast<unsigned>(connector)] == 1 ? context_.Edid1
                                                                                     : context_.Edid2;
    std::memcpy(cache, kept.data(), 128);
  }

  std::vector<Op> Bar2() const {
    std::vector<Op> ops;
    for (const kt270::Access& a : log_.records) {
      if (a.space == kt270::Space::kBar2) ops.push_back({a.write, a.width, static_cast<uint32_t>(a.offset), a.value});
    }
    return ops;
  }
  std::vector<Op> Writes() const {
    std::vector<Op> ops;
    for (const Op& op : Bar2()) {
      if (op.write) ops.push_back(op);
    }
    return ops;
  }
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
    log_.records.clear();
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
  sim::Firmware firmware_;
  simplatform::PlatformStandIn platform_;
  std::unique_ptr<kt270::Kt270PciDevice> device_;
  EFI_HANDLE controller_ = nullptr;
  ADAPTER_CONTEXT context_;
  kt270::TraceLog log_;
  uint64_t path_storage_ = 0;
  std::vector<std::unique_ptr<std::vector<uint8_t>>> edids_;
};

}  // namespace engine_test
