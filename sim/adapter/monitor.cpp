// Monitors: a monitor judges the signal on its connector's output against
// its own EDID, as a real one would: the first detailed timing or an
// established timing, pixel clock within 0.5 % and the exact active size.
// A television judges against the encoder's 525- and 625-line standards.
#include "sim/adapter/kt270_model.h"
#include "sim/adapter/kt270_regs.h"

namespace kt270 {
namespace {

// VESA E-EDID established timings: byte, bit, size, refresh, pixel clock.
struct Established {
  uint8_t byte, bit;
  uint16_t width, height, hz;
  uint32_t clock_khz;
};
constexpr Established kEstablished[] = {
    {35, 7, 720, 400, 70, 28322},   {35, 6, 720, 400, 88, 35500},
    {35, 5, 640, 480, 60, 25175},   {35, 4, 640, 480, 67, 30240},
    {35, 3, 640, 480, 72, 31500},   {35, 2, 640, 480, 75, 31500},
    {35, 1, 800, 600, 56, 36000},   {35, 0, 800, 600, 60, 40000},
    {36, 7, 800, 600, 72, 50000},   {36, 6, 800, 600, 75, 49500},
    {36, 5, 832, 624, 75, 57284},   {36, 4, 1024, 768, 87, 44900},
    {36, 3, 1024, 768, 60, 65000},  {36, 2, 1024, 768, 70, 75000},
    {36, 1, 1024, 768, 75, 78750},  {36, 0, 1280, 1024, 75, 135000},
    {37, 7, 1152, 870, 75, 100000},
};

// EDID base-block fields used here.
constexpr unsigned kEdidFirstDetailed = 54;
constexpr unsigned kEdidManufacturerTimings = 37;
constexpr uint8_t kTv60HzBit = 0x40;  // manufacturer timing bits a TV declares
constexpr uint8_t kTv50HzBit = 0x20;

// Link and encoder limits.
constexpr uint64_t kSingleLinkMaxHz = 165000000;
constexpr uint64_t kTvClockHz = 148500000;
constexpr uint32_t kTvModeWord60 = 0x00041301;
constexpr uint32_t kTvModeWord50 = 0x00041200;
constexpr uint8_t kDacSourceTv = 2;

bool ClockMatches(uint64_t actual_hz, uint64_t wanted_hz) {
  uint64_t diff = actual_hz > wanted_hz ? actual_hz - wanted_hz : wanted_hz - actual_hz;
  return wanted_hz != 0 && diff * 1000 <= wanted_hz * 5;
}

MonitorView Verdict(MonitorView v, Sync sync, const char* reason) {
  v.sync = sync;
  v.reason = reason;
  return v;
}

void FillFromCrtc(MonitorView* v, const CrtcState& c, uint8_t crtc) {
  v->crtc = crtc;
  v->width = c.h_active;
  v->height = c.v_active;
  v->refresh_mhz = c.refresh_mhz;
  v->pixel_clock_hz = c.pixel_clock_hz;
  v->scaled = c.scaler_enabled;
  v->source_width = c.source_width;
  v->source_height = c.source_height;
}

// Does the EDID declare this raster? Returns the kind of match or nullptr.
const char* EdidAccepts(const uint8_t* edid, uint32_t size, const CrtcState& c) {
  if (edid == nullptr || size < 128) return nullptr;
  const uint8_t* d = edid + kEdidFirstDetailed;
  uint32_t clock_10khz = d[0] | uint32_t{d[1]} << 8;
  if (clock_10khz != 0 && (d[17] & 0x80) == 0) {
    uint32_t h = d[2] | uint32_t(d[4] & 0xF0) << 4;
    uint32_t v = d[5] | uint32_t(d[7] & 0xF0) << 4;
    if (h == c.h_active && v == c.v_active &&
        ClockMatches(c.pixel_clock_hz, uint64_t{clock_10khz} * 10000)) {
      return "in sync: detailed timing";
    }
  }
  for (const Established& e : kEstablished) {
    if ((edid[e.byte] >> e.bit & 1) && e.width == c.h_active && e.height == c.v_active &&
        ClockMatches(c.pixel_clock_hz, uint64_t{e.clock_khz} * 1000)) {
      return "in sync: established timing";
    }
  }
  return nullptr;
}

}  // namespace

MonitorView Adapter::Watch(Connector connector) const {
  MonitorView v;
  v.sync = Sync::kNoSignal;
  v.reason = "";
  v.width = v.height = 0;
  v.refresh_mhz = 0;
  v.pixel_clock_hz = 0;
  v.crtc = 0xFF;
  v.scaled = false;
  v.source_width = v.source_height = 0;
  unsigned index = static_cast<unsigned>(connector);
  if (index >= kConnectorCount || !plugged_[index]) return Verdict(v, Sync::kNoSignal, "not plugged");
  const detail::I2cTarget& eeprom = ddc_[kConnectorChannel[index] - 1].eeprom;
  const uint8_t* edid = eeprom.mem;
  uint32_t edid_size = eeprom.size;

  if (connector == Connector::kTv) {
    OutputState tv = DecodeOutput(Output::kTv);
    OutputState dac = DecodeOutput(Output::kDacB);
    if (!tv.enabled) return Verdict(v, Sync::kNoSignal, "TV encoder off");
    if (!dac.enabled || dac.source != kDacSourceTv) {
      return Verdict(v, Sync::kNoSignal, "DAC B not carrying the encoder");
    }
    if (tv.source > 1) return Verdict(v, Sync::kNoSignal, "encoder has no source CRTC");
    CrtcState c = DecodeCrtc(tv.source);
    FillFromCrtc(&v, c, tv.source);
    v.width = c.source_width;
    v.height = c.source_height;
    if (c.control != 1) return Verdict(v, Sync::kNoSignal, "CRTC stopped");
    if (!c.running) return Verdict(v, Sync::kNoSignal, "pixel clock not running");
    if (tv.tv_standard == TvStandard::kNone) {
      return Verdict(v, Sync::kOutOfRange, "no TV standard loaded");
    }
    bool is60 = tv.tv_standard == TvStandard::k525Line60Hz;
    uint8_t declared = edid && edid_size >= 128 ? edid[kEdidManufacturerTimings] : 0;
    bool any = (declared & (kTv60HzBit | kTv50HzBit)) != 0;
    if (any && !(declared & (is60 ? kTv60HzBit : kTv50HzBit))) {
      return Verdict(v, Sync::kOutOfRange, "TV standard not supported");
    }
    if (dac.mode_word != (is60 ? kTvModeWord60 : kTvModeWord50)) {
      return Verdict(v, Sync::kOutOfRange, "DAC B mode does not match the standard");
    }
    const uint32_t want_h = is60 ? 0x0AA9 : 0x0D4C, want_v = is60 ? 0x020C : 0x0270;
    if (c.h_total_reg != want_h || c.v_total_reg != want_v ||
        !ClockMatches(c.pixel_clock_hz, kTvClockHz)) {
      return Verdict(v, Sync::kOutOfRange, "CRTC raster does not match the encoder");
    }
    v.refresh_mhz = is60 ? 60000 : 50000;
    return Verdict(v, Sync::kInSync, is60 ? "in sync: 525 lines 60 Hz" : "in sync: 625 lines 50 Hz");
  }

  Output which = connector == Connector::kDigital   ? Output::kTmds
                 : connector == Connector::kAnalogA ? Output::kDacA
                                                    : Output::kDacB;
  OutputState out = DecodeOutput(which);
  if (!out.enabled) return Verdict(v, Sync::kNoSignal, "output off");
  if (which == Output::kDacB && out.source == kDacSourceTv) {
    return Verdict(v, Sync::kOutOfRange, "TV-encoded signal");
  }
  if (out.source > 1) return Verdict(v, Sync::kNoSignal, "output has no source CRTC");
  CrtcState c = DecodeCrtc(out.source);
  FillFromCrtc(&v, c, out.source);
  if (c.control != 1) return Verdict(v, Sync::kNoSignal, "CRTC stopped");
  if (!c.running) return Verdict(v, Sync::kNoSignal, "pixel clock not running");
  if (c.h_active == 0 || c.v_active == 0 || c.h_blank_start > c.h_total ||
      c.v_blank_start > c.v_total) {
    return Verdict(v, Sync::kOutOfRange, "malformed raster");
  }
  if (which == Output::kTmds && c.pixel_clock_hz > kSingleLinkMaxHz && !out.dual_link) {
    return Verdict(v, Sync::kOutOfRange, "single link above 165 MHz");
  }
  const char* match = EdidAccepts(edid, edid_size, c);
  if (match == nullptr) return Verdict(v, Sync::kOutOfRange, "timing not declared by the EDID");
  return Verdict(v, Sync::kInSync, match);
}

// The active raster as the monitor shows it: the source picture scaled
// (nearest pixel) into the area inside the borders when the scaler is on,
// else placed 1:1 at the top left; the rest is black. A television shows
// the source picture as it is.
bool Adapter::RenderView(Connector connector, uint32_t* pixels, size_t capacity,
                         uint32_t* width, uint32_t* height) const {
  MonitorView view = Watch(connector);
  *width = view.width;
  *height = view.height;
  if (view.sync != Sync::kInSync) return false;
  if (connector == Connector::kTv) return RenderSource(view.crtc, pixels, capacity, width, height);
  CrtcState c = DecodeCrtc(view.crtc);
  uint32_t sw = c.source_width, sh = c.source_height;
  if (pixels == nullptr || sw == 0 || sh == 0) return false;
  if (capacity / view.width < view.height) return false;
  size_t source_pixels = size_t{sw} * sh;
  if (env_.alloc == nullptr) return false;
  uint32_t* src = static_cast<uint32_t*>(env_.alloc(env_.ctx, source_pixels * 4));
  if (src == nullptr) return false;
  uint32_t w, h;
  bool ok = RenderSource(view.crtc, src, source_pixels, &w, &h);
  if (ok) {
    uint32_t bh = c.scaler_enabled ? c.border_h : 0, bv = c.scaler_enabled ? c.border_v : 0;
    uint32_t inner_w = view.width > 2 * bh ? view.width - 2 * bh : 0;
    uint32_t inner_h = view.height > 2 * bv ? view.height - 2 * bv : 0;
    for (uint32_t y = 0; y < view.height; ++y) {
      for (uint32_t x = 0; x < view.width; ++x) {
        uint32_t colour = 0;
        if (c.scaler_enabled) {
          if (x >= bh && x < bh + inner_w && y >= bv && y < bv + inner_h) {
            uint32_t sx = static_cast<uint32_t>(uint64_t{x - bh} * sw / inner_w);
            uint32_t sy = static_cast<uint32_t>(uint64_t{y - bv} * sh / inner_h);
            colour = src[size_t{sy} * sw + sx];
          }
        } else if (x < sw && y < sh) {
          colour = src[size_t{y} * sw + x];
        }
        pixels[size_t{y} * view.width + x] = colour;
      }
    }
  }
  if (env_.free) env_.free(env_.ctx, src);
  return ok;
}

}  // namespace kt270
