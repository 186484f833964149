// Scanout decode: what the CRTCs, PLLs and outputs produce, read from the
// registers when asked, and the picture a CRTC fetches.
#include "sim/adapter/kt270_model.h"
#include "sim/adapter/kt270_regs.h"

namespace kt270 {
namespace {

// Surface window registers of the two CRTCs: start, end, pitch word.
constexpr uint32_t kWindow[2][3] = {
    {0x0B74, 0x0B78, 0x0B7C},
    {0x0B64, 0x0B68, 0x0B6C},
};

// TV encoder register sets that the model recognises.
//   standard     set id (0x5F9C)  H total (0x5E04)  V total (0x5E08 low)
//   525 / 60 Hz  1                0x0AA9 (2729)     0x020C (524)
//   625 / 50 Hz  2                0x0D4C (3404)     0x0270 (624)
struct TvSet {
  TvStandard standard;
  uint32_t set_id, h_total_reg, v_total_reg;
};
constexpr TvSet kTvSets[2] = {
    {TvStandard::k525Line60Hz, 1, 0x0AA9, 0x020C},
    {TvStandard::k625Line50Hz, 2, 0x0D4C, 0x0270},
};

uint32_t Load(const uint8_t* p, unsigned n) {
  uint32_t v = 0;
  for (unsigned i = 0; i < n; ++i) v |= uint32_t{p[i]} << (8 * i);
  return v;
}

}  // namespace

CrtcState Adapter::DecodeCrtc(unsigned crtc) const {
  CrtcState s;
  unsigned c = crtc & 1;
  uint32_t d = c ? reg::kCrtc2Delta : 0;
  s.control = Stored(reg::kCrtcControl + d);
  s.pll = DecodePll(c);
  s.h_total_reg = Stored(reg::kHTotal + d) & 0xFFFF;
  s.v_total_reg = Stored(reg::kVTotal + d) & 0xFFFF;
  s.h_total = s.h_total_reg + 1;
  s.v_total = s.v_total_reg + 1;
  uint32_t hb = Stored(reg::kHBlank + d), vb = Stored(reg::kVBlank + d);
  s.h_blank_end = (hb >> 16) & 0x7FFF;
  s.h_blank_start = hb & 0xFFFF;
  s.h_blank_flag = (hb >> 31) != 0;
  s.v_blank_end = (vb >> 16) & 0x7FFF;
  s.v_blank_start = vb & 0xFFFF;
  s.v_blank_flag = (vb >> 31) != 0;
  s.h_sync_width = (Stored(reg::kHSync + d) >> 16) & 0x7FFF;
  s.v_sync_width = (Stored(reg::kVSync + d) >> 16) & 0x7FFF;
  s.hsync_positive = (Stored(reg::kHSyncCtl + d) & 1) != 0;
  s.vsync_positive = (Stored(reg::kVSyncCtl + d) & 1) != 0;
  s.h_active = s.h_blank_start > s.h_blank_end ? s.h_blank_start - s.h_blank_end : 0;
  s.v_active = s.v_blank_start > s.v_blank_end ? s.v_blank_start - s.v_blank_end : 0;
  s.pixel_clock_hz = s.pll.out_hz;
  uint64_t frame = uint64_t{s.h_total} * s.v_total;
  uint64_t refresh = s.pixel_clock_hz * 1000 / frame;
  s.refresh_mhz = refresh > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(refresh);
  s.running = s.control == 1 && !s.pll.held && s.pll.locked && s.pixel_clock_hz != 0;
  s.surface_base = Stored(reg::kSurfaceBase + d);
  s.pitch_bytes = Stored(reg::kSurfacePitch + d) * 4;
  s.bpp = reg::kDepthBits[Stored(reg::kSurfaceControl + d) & 3];
  uint32_t src = Stored(reg::kScalerSource + d);
  s.source_width = src >> 16;
  s.source_height = src & 0xFFFF;
  s.fetch_width = Stored(reg::kFetchWidth + d);
  s.fetch_height = Stored(reg::kFetchHeight + d);
  s.scaler_mode = Stored(reg::kScalerMode + d);
  s.scaler_enabled = (Stored(reg::kScalerEnable + d) & 1) != 0 &&
                     (Stored(reg::kScalerBypass + d) & 1) == 0 && s.scaler_mode != 0;
  s.border_h = Stored(reg::kScalerHBorder + d) & 0xFFFF;
  s.border_v = Stored(reg::kScalerVBorder + d) & 0xFFFF;
  s.window_start = Stored(kWindow[c][0]);
  s.window_end = Stored(kWindow[c][1]);
  s.window_pitch = Stored(kWindow[c][2]);
  s.tv_conversion = (Stored(reg::kTvConvertEnable + d) & 1) != 0;
  return s;
}

OutputState Adapter::DecodeOutput(Output output) const {
  OutputState s;
  s.enabled = false;
  s.source = 0xFF;
  s.mode_word = 0;
  s.dual_link = false;
  s.lanes = 0;
  s.tv_standard = TvStandard::kNone;
  switch (output) {
    case Output::kDacA:
    case Output::kDacB: {
      uint32_t d = output == Output::kDacB ? reg::kDacBDelta : 0;
      s.enabled = (Stored(reg::kDacEnable + d) & 1) != 0 && Stored(reg::kDacPower + d) == 0;
      s.source = static_cast<uint8_t>(Stored(reg::kDacSource + d));
      s.mode_word = Stored(reg::kDacMode + d);
      break;
    }
    case Output::kTmds: {
      uint32_t control = Stored(reg::kTmdsControl);
      uint32_t pll = Stored(reg::kTmdsPll);
      s.lanes = Stored(reg::kTmdsLanes);
      s.source = static_cast<uint8_t>(Stored(reg::kTmdsSource));
      s.mode_word = Stored(reg::kTmdsFormat);
      bool pll_on = (pll & 0x20000001) == 0x20000001 && (pll & 0x80000002) == 0;
      s.enabled = (control & 1) != 0 && (Stored(reg::kTmdsPower) & 1) != 0 && pll_on &&
                  s.lanes != 0;
      s.dual_link = (control & reg::kTmdsDualLink) != 0 && s.lanes == reg::kTmdsLanesDual;
      break;
    }
    case Output::kTv: {
      s.enabled = (Stored(reg::kTvRun) & 1) != 0 && (Stored(reg::kTvControl) & 1) == 0;
      s.source = static_cast<uint8_t>(Stored(reg::kTvSourceCrtc));
      for (const TvSet& set : kTvSets) {
        if (Stored(reg::kTvStandardSet) == set.set_id &&
            Stored(reg::kTvHTotal) == set.h_total_reg &&
            (Stored(reg::kTvVTotal) & 0xFFFF) == set.v_total_reg) {
          s.tv_standard = set.standard;
        }
      }
      s.mode_word = Stored(reg::kDacMode + reg::kDacBDelta);
      break;
    }
  }
  return s;
}

// Depth conversion goes through the CRTC's lookup table (table 0 for
// CRTC 1, table 1 for CRTC 2): at 8 bits as a palette, at 16 and 32 bits
// per component, as a gamma ramp.
bool Adapter::RenderSource(unsigned crtc, uint32_t* pixels, size_t capacity, uint32_t* width,
                           uint32_t* height) const {
  CrtcState s = DecodeCrtc(crtc);
  *width = s.source_width;
  *height = s.source_height;
  if (s.bpp == 0 || s.source_width == 0 || s.source_height == 0) return false;
  if (pixels == nullptr || capacity / s.source_width < s.source_height) return false;
  unsigned table = crtc & 1;
  unsigned bytes = s.bpp / 8;
  for (uint32_t y = 0; y < s.source_height; ++y) {
    for (uint32_t x = 0; x < s.source_width; ++x) {
      uint64_t at = uint64_t{s.surface_base} + uint64_t{y} * s.pitch_bytes + uint64_t{x} * bytes;
      uint32_t out = 0;
      if (at + bytes <= config_.fb_size) {
        uint32_t v = Load(fb_ + at, bytes);
        if (bytes == 1) {
          out = LutRgb(table, static_cast<uint8_t>(v));
        } else {
          uint32_t r, g, b;
          if (bytes == 2) {
            r = (v >> 11) & 0x1F;
            g = (v >> 5) & 0x3F;
            b = v & 0x1F;
            r = (r << 3) | (r >> 2);
            g = (g << 2) | (g >> 4);
            b = (b << 3) | (b >> 2);
          } else {
            r = (v >> 16) & 0xFF;
            g = (v >> 8) & 0xFF;
            b = v & 0xFF;
          }
          out = (LutRgb(table, static_cast<uint8_t>(r)) & 0xFF0000) |
                (LutRgb(table, static_cast<uint8_t>(g)) & 0x00FF00) |
                (LutRgb(table, static_cast<uint8_t>(b)) & 0x0000FF);
        }
      }
      pixels[size_t{y} * s.source_width + x] = out;
    }
  }
  return true;
}

}  // namespace kt270
