// Hand-made EDID base blocks for the built-in demo and the tests: header,
// version 1.3, input type, established timings and the first detailed
// timing, with the checksum filled in.
#pragma once

#include <cstdint>
#include <vector>

namespace kt270sim {

struct DetailedTimingValues {
  uint16_t clock_10khz;
  uint16_t h_active, h_blank, h_sync_offset, h_sync_width;
  uint16_t v_active, v_blank, v_sync_offset, v_sync_width;
  uint8_t features = 0x18;  // digital separate sync, both polarities negative
};

class EdidBuilder {
 public:
  EdidBuilder() {
    static const uint8_t kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    for (int i = 0; i < 8; ++i) b_[i] = kHeader[i];
    b_[8] = 0x4C;  // a maker other than the board's
    b_[9] = 0x2D;
    b_[10] = 0x01;
    b_[18] = 1;
    b_[19] = 3;
    b_[20] = 0x0E;  // analogue, separate sync
  }
  EdidBuilder& Digital() { b_[20] = 0x80; return *this; }
  // Byte 35..37 of the block, bit 0..7.
  EdidBuilder& Established(unsigned byte, unsigned bit) { b_[byte] |= static_cast<uint8_t>(1u << bit); return *this; }
  // The board maker's own television: product 0x9D08, 60 Hz and/or 50 Hz.
  EdidBuilder& Television(bool hz60, bool hz50) {
    b_[8] = 0x06;
    b_[9] = 0x10;
    b_[10] = 0x08;
    b_[11] = 0x9D;
    if (hz60) b_[37] |= 0x40;
    if (hz50) b_[37] |= 0x20;
    return *this;
  }
  EdidBuilder& Detailed(const DetailedTimingValues& t) {
    uint8_t* d = b_ + 54;
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
  std::vector<uint8_t> Build() const {
    std::vector<uint8_t> v(b_, b_ + 128);
    uint8_t sum = 0;
    for (int i = 0; i < 127; ++i) sum = static_cast<uint8_t>(sum + v[i]);
    v[127] = static_cast<uint8_t>(0x100 - sum);
    return v;
  }

 private:
  uint8_t b_[128] = {};
};

inline DetailedTimingValues Timing1680x1050() { return {14625, 1680, 560, 104, 176, 1050, 39, 3, 6}; }
inline DetailedTimingValues Timing1024x768() { return {6500, 1024, 320, 24, 136, 768, 38, 3, 6}; }
inline DetailedTimingValues Timing800x600() { return {4000, 800, 256, 40, 128, 600, 28, 1, 4}; }

}  // namespace kt270sim
