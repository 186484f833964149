// Scanout decode of hand-written register values, monitor verdicts and
// the rendered picture.
#include <gtest/gtest.h>

#include <vector>

#include "tests/adapter/model_fixture.h"

namespace kt270::test {
namespace {

struct Timing {
  uint32_t w0, w1, w2, w3, w4;  // total, H blank, H sync, V blank, V sync words
};
constexpr Timing k800x600at60 = {0x041F0273, 0x00D803F8, 0x00800000, 0x001B0273, 0x00040000};
constexpr Timing kTv60 = {0x0AA9020C, 0x819D0A73, 0x00B40000, 0x0029020B, 0x00030000};
// 1280x1024: H blank 408 with sync offset 48, V blank 42 with offset 1.
constexpr Timing k1280x1024 = {0x06970429, 0x01680668, 0x00700000,
                               0x00290429, 0x00030000};

struct Screen : Bench {
  using Bench::Bench;
  void Crtc(unsigned c, const Timing& t, uint32_t r, uint32_t p, uint32_t f, uint32_t tenths = 0,
            bool hpos = true, bool vpos = true) {
    uint32_t d = c ? 0x800 : 0;
    W32(0x6008 + d, t.w2);
    W32(0x6004 + d, t.w1);
    W32(0x6000 + d, t.w0 >> 16);
    W32(0x6028 + d, t.w4);
    W32(0x6024 + d, t.w3);
    W32(0x6020 + d, t.w0 & 0xFFFF);
    W32(0x600C + d, hpos ? 1 : 0);
    W32(0x602C + d, vpos ? 1 : 0);
    const reg::PllRegs& x = reg::kPll[c];
    W32(x.ref_div, r);
    W32(x.post_div, p);
    W32(x.fb_div, f << 16 | tenths);
    W8(x.control, 0);
    W32(0x6080 + d, 1);
  }
  void DacA(uint32_t source) {
    W32(0x7850, 0);
    W32(0x7804, source);
    W32(0x7800, 1);
  }
  void Tmds(bool dual) {
    W32(0x7B00, 1);
    W8(0x7A84, 0);
    W32(0x7A80, dual ? 0x01000001 : 1);
    W32(0x7B10, 0x20000001);
    W32(0x7B04, dual ? 0x3E3E : 0x3E);
  }
  void IdentityLut() {
    for (uint8_t table = 0; table < 2; ++table) {
      W8(0x6480, table);
      W8(0x6488, 0);
      for (uint32_t i = 0; i < 256; ++i) {
        uint32_t e = i << 2 | i >> 6;
        W32(0x6494, e << 20 | e << 10 | e);
      }
    }
  }
};

TEST(Scanout, DecodesHandWrittenCrtcRegisters) {
  Screen s;
  s.Crtc(0, k800x600at60, 1, 29, 43, 0, true, false);
  s.W32(0x6110, 0x10000);
  s.W32(0x6120, 832);
  s.W32(0x6584, 800 << 16 | 600);
  s.W32(0x6104, 0x00200002);
  s.W32(0x6588, 0x00100010);
  s.W32(0x0B7C, 0x101A0);
  CrtcState c = s.a().DecodeCrtc(0);
  EXPECT_TRUE(c.running);
  EXPECT_EQ(c.h_total, 1056u);
  EXPECT_EQ(c.v_total, 628u);
  EXPECT_EQ(c.h_blank_end, 216u);
  EXPECT_EQ(c.h_blank_start, 1016u);
  EXPECT_EQ(c.h_active, 800u);
  EXPECT_EQ(c.v_active, 600u);
  EXPECT_EQ(c.h_sync_width, 128u);
  EXPECT_EQ(c.v_sync_width, 4u);
  EXPECT_TRUE(c.hsync_positive);
  EXPECT_FALSE(c.vsync_positive);
  EXPECT_EQ(c.pixel_clock_hz / 10000, 4003u);
  EXPECT_EQ(c.refresh_mhz, 60368u);
  EXPECT_EQ(c.surface_base, 0x10000u);
  EXPECT_EQ(c.pitch_bytes, 3328u);
  EXPECT_EQ(c.bpp, 32u);
  EXPECT_EQ(c.source_width, 800u);
  EXPECT_EQ(c.source_height, 600u);
  EXPECT_EQ(c.border_h, 0x10u);
  EXPECT_FALSE(c.scaler_enabled);
  EXPECT_EQ(c.window_pitch, 0x101A0u);

  // The flag bit of the blank word is not part of the position.
  s.W32(0x6004, 0x80900310);
  c = s.a().DecodeCrtc(0);
  EXPECT_TRUE(c.h_blank_flag);
  EXPECT_EQ(c.h_blank_end, 0x90u);
  // Off: control word, or the PLL held again.
  s.W32(0x6080, 0x01000000);
  EXPECT_FALSE(s.a().DecodeCrtc(0).running);
  s.W32(0x6080, 1);
  s.W32(0x0450, s.R32(0x0450) | 3);
  EXPECT_FALSE(s.a().DecodeCrtc(0).running);
  // CRTC 2 is a separate unit 0x800 above.
  EXPECT_FALSE(s.a().DecodeCrtc(1).running);
}

TEST(Monitor, AnalogueMonitorJudgesFromItsEdid) {
  Screen s;
  std::vector<uint8_t> edid = MakeEdid(0x01, 0, 0);  // 800x600 at 60 Hz only
  ASSERT_TRUE(s.a().Plug(Monitor{edid.data(), 128, Connector::kAnalogA, NoFaults()}));
  EXPECT_EQ(s.a().Watch(Connector::kAnalogA).sync, Sync::kNoSignal);
  s.Crtc(0, k800x600at60, 1, 29, 43);
  EXPECT_EQ(s.a().Watch(Connector::kAnalogA).sync, Sync::kNoSignal);  // DAC off
  s.DacA(0);
  MonitorView v = s.a().Watch(Connector::kAnalogA);
  EXPECT_EQ(v.sync, Sync::kInSync) << v.reason;
  EXPECT_EQ(v.width, 800u);
  EXPECT_EQ(v.height, 600u);
  EXPECT_EQ(v.crtc, 0);
  // 36 MHz on the same raster is not a timing this monitor knows.
  s.Crtc(0, k800x600at60, 1, 33, 44);
  EXPECT_EQ(s.a().Watch(Connector::kAnalogA).sync, Sync::kOutOfRange);
  // Fed from the idle CRTC 2, or blanked: nothing to see.
  s.Crtc(0, k800x600at60, 1, 29, 43);
  s.DacA(1);
  EXPECT_EQ(s.a().Watch(Connector::kAnalogA).sync, Sync::kNoSignal);
  s.DacA(255);
  EXPECT_EQ(s.a().Watch(Connector::kAnalogA).sync, Sync::kNoSignal);
  s.DacA(0);
  s.W32(0x7850, 0x01010101);
  EXPECT_EQ(s.a().Watch(Connector::kAnalogA).sync, Sync::kNoSignal);
  // A monitor on the other DAC sees nothing.
  s.a().Unplug(Connector::kAnalogA);
  ASSERT_TRUE(s.a().Plug(Monitor{edid.data(), 128, Connector::kAnalogB, NoFaults()}));
  EXPECT_EQ(s.a().Watch(Connector::kAnalogB).sync, Sync::kNoSignal);
  EXPECT_EQ(s.a().Watch(Connector::kAnalogA).sync, Sync::kNoSignal);
}

TEST(Monitor, DigitalMonitorUsesTheDetailedTimingAndLinkLimit) {
  Screen s;
  Dtd dtd{10800, 1280, 408, 48, 112, 1024, 42, 1, 3, 0x1E};
  std::vector<uint8_t> edid = MakeEdid(0, 0, 0, &dtd, 0, true);
  ASSERT_TRUE(s.a().Plug(Monitor{edid.data(), 128, Connector::kDigital, NoFaults()}));
  s.Crtc(0, k1280x1024, 1, 10, 40);  // 108 MHz
  s.Tmds(false);
  MonitorView v = s.a().Watch(Connector::kDigital);
  EXPECT_EQ(v.sync, Sync::kInSync) << v.reason;
  EXPECT_EQ(v.width, 1280u);
  EXPECT_EQ(v.height, 1024u);
  // One line short of the active size is out of range.
  s.W32(0x6024, 0x00290428);
  EXPECT_EQ(s.a().Watch(Connector::kDigital).sync, Sync::kOutOfRange);

  // 2560x1600 at 268.5 MHz needs both links.
  Dtd big{26850, 2560, 160, 48, 32, 1600, 46, 3, 6, 0x1E};
  std::vector<uint8_t> edid2 = MakeEdid(0, 0, 0, &big, 0, true);
  s.a().Unplug(Connector::kDigital);
  ASSERT_TRUE(s.a().Plug(Monitor{edid2.data(), 128, Connector::kDigital, NoFaults()}));
  Timing t{(2719u << 16) | 1645u, (112u << 16) | 2672u, 32u << 16, (43u << 16) | 1643u, 6u << 16};
  s.Crtc(0, t, 1, 4, 39, 8);  // 27 x 39.8 / 4 = 268.65 MHz
  v = s.a().Watch(Connector::kDigital);
  EXPECT_EQ(v.sync, Sync::kOutOfRange);
  s.Tmds(true);
  v = s.a().Watch(Connector::kDigital);
  EXPECT_EQ(v.sync, Sync::kInSync) << v.reason;
  // Lanes and the dual-link bit must agree.
  s.W32(0x7B04, 0x3E);
  EXPECT_EQ(s.a().Watch(Connector::kDigital).sync, Sync::kOutOfRange);
}

void TvEncoder(Screen& s, bool ntsc, uint32_t dac_mode) {
  s.W32(0x5F9C, ntsc ? 1 : 2);
  s.W32(0x5E00, 1);
  s.W32(0x5E04, ntsc ? 0x0AA9 : 0x0D4C);
  s.W32(0x5E08, ntsc ? 0x0003020C : 0x00070270);
  s.W32(0x5DFC, ntsc ? 0xF0700002 : 0xF01000C2);
  s.W32(0x60FC, 0);
  s.W32(0x7A50, 0);
  s.W32(0x7A04, 2);
  s.W32(0x7A54, dac_mode);
  s.W32(0x7A00, 1);
}

TEST(Monitor, TelevisionJudgesTheEncoderStandard) {
  Screen s;
  std::vector<uint8_t> edid = MakeEdid(0, 0, 0x40);  // declares the 60 Hz set
  ASSERT_TRUE(s.a().Plug(Monitor{edid.data(), 128, Connector::kTv, NoFaults()}));
  s.Crtc(0, kTv60, 1, 8, 44);  // 148.50 MHz
  s.W32(0x6584, 800 << 16 | 600);
  s.W32(0x6590, 1);
  s.W32(0x6594, 0x101);
  EXPECT_EQ(s.a().Watch(Connector::kTv).sync, Sync::kNoSignal);
  TvEncoder(s, true, 0x00041301);
  OutputState tv = s.a().DecodeOutput(Output::kTv);
  EXPECT_TRUE(tv.enabled);
  EXPECT_EQ(tv.tv_standard, TvStandard::k525Line60Hz);
  MonitorView v = s.a().Watch(Connector::kTv);
  EXPECT_EQ(v.sync, Sync::kInSync) << v.reason;
  EXPECT_EQ(v.width, 800u);
  EXPECT_EQ(v.height, 600u);
  EXPECT_TRUE(v.scaled);
  EXPECT_EQ(v.refresh_mhz, 60000u);
  s.W32(0x7A54, 0x00041200);
  EXPECT_EQ(s.a().Watch(Connector::kTv).sync, Sync::kOutOfRange);
  // The 50 Hz set on a 60 Hz-only set, and the raster no longer matching.
  TvEncoder(s, false, 0x00041200);
  EXPECT_EQ(s.a().Watch(Connector::kTv).sync, Sync::kOutOfRange);
  // Switched off the way the encoder is stopped.
  TvEncoder(s, true, 0x00041301);
  s.W32(0x5DFC, s.R32(0x5DFC) | 1);
  s.W32(0x5E00, 0xFFFFFFFE);
  EXPECT_EQ(s.a().Watch(Connector::kTv).sync, Sync::kNoSignal);
}

TEST(Render, SourcePictureGoesThroughTheLookupTable) {
  Screen s;
  s.W32(0x6110, 0x10000);
  s.W32(0x6120, 8);  // 32 bytes per line
  s.W32(0x6584, 4 << 16 | 2);
  s.W32(0x6104, 2);
  uint32_t* fb = reinterpret_cast<uint32_t*>(s.a().FrameBuffer() + 0x10000);
  for (uint32_t i = 0; i < 16; ++i) fb[i] = 0x00102030 + i;
  std::vector<uint32_t> px(8);
  uint32_t w = 0, h = 0;
  ASSERT_TRUE(s.a().RenderSource(0, px.data(), px.size(), &w, &h));
  EXPECT_EQ(px[0], 0u);  // the table was never loaded: black
  s.IdentityLut();
  ASSERT_TRUE(s.a().RenderSource(0, px.data(), px.size(), &w, &h));
  EXPECT_EQ(w, 4u);
  EXPECT_EQ(h, 2u);
  EXPECT_EQ(px[3], 0x00102033u);
  EXPECT_EQ(px[4], 0x00102038u);  // second line starts 8 pixels on
  EXPECT_FALSE(s.a().RenderSource(0, px.data(), 7, &w, &h));

  s.W32(0x6104, 1);  // 16 bits, 5-6-5
  reinterpret_cast<uint16_t*>(fb)[0] = 0xF800;
  ASSERT_TRUE(s.a().RenderSource(0, px.data(), px.size(), &w, &h));
  EXPECT_EQ(px[0], 0x00FF0000u);
  s.W32(0x6104, 0);  // 8 bits through the palette
  ASSERT_TRUE(s.a().RenderSource(0, px.data(), px.size(), &w, &h));
  EXPECT_EQ(px[0], 0x00000000u);  // index 0x00 of the identity ramp
}

TEST(Render, ScaledViewFillsTheRaster) {
  Screen s;
  std::vector<uint8_t> edid = MakeEdid(0x01, 0, 0);
  s.a().Plug(Monitor{edid.data(), 128, Connector::kAnalogA, NoFaults()});
  s.Crtc(0, k800x600at60, 1, 29, 43);
  s.DacA(0);
  s.IdentityLut();
  s.W32(0x6110, 0x10000);
  s.W32(0x6120, 512);  // 2048-byte lines
  s.W32(0x6584, 400 << 16 | 300);
  s.W32(0x6104, 2);
  s.W32(0x6590, 1);
  s.W32(0x6594, 0x101);
  uint8_t* fb = s.a().FrameBuffer() + 0x10000;
  for (uint32_t y = 0; y < 300; ++y) {
    for (uint32_t x = 0; x < 400; ++x) {
      *reinterpret_cast<uint32_t*>(fb + y * 2048 + x * 4) = (y << 12 | x) & 0xFFFFFF;
    }
  }
  std::vector<uint32_t> view(800 * 600);
  uint32_t w = 0, h = 0;
  ASSERT_TRUE(s.a().RenderView(Connector::kAnalogA, view.data(), view.size(), &w, &h));
  EXPECT_EQ(w, 800u);
  EXPECT_EQ(h, 600u);
  EXPECT_EQ(view[0], 0u);
  EXPECT_EQ(view[(2 * 100 + 1) * 800 + 2 * 57 + 1], (100u << 12 | 57) & 0xFFFFFF);
  EXPECT_EQ(view[599 * 800 + 799], (299u << 12 | 399) & 0xFFFFFF);
}

}  // namespace
}  // namespace kt270::test
