// Hand-made EDID images for tests: a base block with the fixed header, a
// maker other than the board's, version 1.3 and nothing else set, which
// each test fills in with what it is about. Build() fills in the checksum
// of every block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "driver/core/context.h"

namespace testsupport {

// One detailed timing descriptor as its fields: clock in 10 kHz units,
// active, blanking, sync offset and sync width; features is byte 17.
struct DetailedFields {
  uint16_t clock_10khz;
  uint16_t h_active, h_blank, h_sync_offset, h_sync_width;
  uint16_t v_active, v_blank, v_sync_offset, v_sync_width;
  uint8_t features = 0x18;  // digital separate sync, both polarities negative
};

// 1920 x 1080 at 148.5 MHz (totals 2200 x 1125).
inline DetailedFields Fields1080p(uint8_t features = 0x18) {
  return {14850, 1920, 280, 88, 44, 1080, 45, 4, 5, features};
}

class EdidBuilder {
 public:
  EdidBuilder() : b_(128, 0) {
    static const uint8_t kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    for (int i = 0; i < 8; ++i) b_[i] = kHeader[i];
    b_[8] = 0x4C;  // a maker other than the board's
    b_[9] = 0x2D;
    b_[18] = 1;
    b_[19] = 3;
  }

  // Byte 20, the video input definition.
  EdidBuilder& Input(uint8_t value) { return Byte(20, value); }
  EdidBuilder& Digital() { return Input(0x80); }
  EdidBuilder& Analogue() { return Input(0x0E); }  // 0.7 V, separate sync
  // Bytes 8..11: manufacturer and product code.
  EdidBuilder& Id(uint8_t m0, uint8_t m1, uint8_t p0, uint8_t p1) {
    b_[8] = m0; b_[9] = m1; b_[10] = p0; b_[11] = p1;
    return *this;
  }
  EdidBuilder& Product(uint8_t p0, uint8_t p1) { return Id(b_[8], b_[9], p0, p1); }
  // The board maker's own manufacturer bytes 06 10 with this product.
  EdidBuilder& Vendor(uint8_t p0, uint8_t p1) { return Id(0x06, 0x10, p0, p1); }
  EdidBuilder& Serial(uint8_t s) { return Byte(12, s); }
  // Bytes 35..37, bit 0..7.
  EdidBuilder& Established(unsigned byte, unsigned bit) {
    b_[byte] = static_cast<uint8_t>(b_[byte] | (1u << bit));
    return *this;
  }
  EdidBuilder& Byte(size_t offset, uint8_t value) {
    b_[offset] = value;
    return *this;
  }

  // The first detailed timing descriptor (bytes 54..71).
  EdidBuilder& Detailed(const DetailedFields& t) {
    uint8_t* d = b_.data() + 54;
    d[0] = t.clock_10khz & 0xFF;
    d[1] = t.clock_10khz >> 8;
    d[2] = t.h_active & 0xFF;
    d[3] = t.h_blank & 0xFF;
    d[4] = static_cast<uint8_t>(((t.h_active >> 8) << 4) | (t.h_blank >> 8));
    d[5] = t.v_active & 0xFF;
    d[6] = t.v_blank & 0xFF;
    d[7] = static_cast<uint8_t>(((t.v_active >> 8) << 4) | (t.v_blank >> 8));
    d[8] = t.h_sync_offset & 0xFF;
    d[9] = t.h_sync_width & 0xFF;
    d[10] = static_cast<uint8_t>(((t.v_sync_offset & 0xF) << 4) | (t.v_sync_width & 0xF));
    d[11] = static_cast<uint8_t>(((t.h_sync_offset >> 8) << 6) | ((t.h_sync_width >> 8) << 4) |
                                 ((t.v_sync_offset >> 4) << 2) | (t.v_sync_width >> 4));
    d[17] = t.features;
    return *this;
  }
  EdidBuilder& Detailed(uint16_t clock, uint16_t ha, uint16_t hb, uint16_t hso, uint16_t hsw, uint16_t va,
                        uint16_t vb, uint16_t vso, uint16_t vsw) {
    return Detailed(DetailedFields{clock, ha, hb, hso, hsw, va, vb, vso, vsw});
  }
  // A timing as the driver's EDID parser records it.
  EdidBuilder& Detailed(const DETAILED_TIMING& t) {
    return Detailed(t.PixelClock, t.HActive, t.HBlank, t.HSyncOffset, t.HSyncWidth, t.VActive, t.VBlank,
                    t.VSyncOffset, t.VSyncWidth);
  }

  // An empty extension block (tag 02, revision 03), counted in byte 126.
  EdidBuilder& Extension() {
    std::vector<uint8_t> block(128, 0);
    block[0] = 0x02;
    block[1] = 0x03;
    return Extension(block);
  }
  // An extension block of these 128 bytes (the last is the checksum).
  EdidBuilder& Extension(const std::vector<uint8_t>& block) {
    b_[126] = static_cast<uint8_t>(b_[126] + 1);
    b_.insert(b_.end(), block.begin(), block.begin() + 128);
    return *this;
  }

  std::vector<uint8_t> Build() const {
    std::vector<uint8_t> v = b_;
    for (size_t block = 0; block < v.size() / 128; ++block) {
      uint8_t sum = 0;
      for (size_t i = 0; i < 127; ++i) sum = static_cast<uint8_t>(sum + v[block * 128 + i]);
      v[block * 128 + 127] = static_cast<uint8_t>(0x100 - sum);
    }
    return v;
  }

 private:
  std::vector<uint8_t> b_;
};

}  // namespace testsupport
