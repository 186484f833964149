// Hand-made EDID images for the host tests and kt270sim's built-in
// scenarios: a base block with the fixed header, a maker other than the
// board's, version 1.3 and nothing else set, which each caller fills in
// with what it is about. Build() fills in the checksum of every block.
//
// Host only, and free of the driver's headers: the adapter model's own
// tests use it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace simedid {

// One detailed timing descriptor as its fields: clock in 10 kHz units,
// active, blanking, sync offset and sync width; features is byte 17.
struct DetailedTiming {
  uint16_t clock_10khz;
  uint16_t h_active, h_blank, h_sync_offset, h_sync_width;
  uint16_t v_active, v_blank, v_sync_offset, v_sync_width;
  uint8_t features = 0x18;  // digital separate sync, both polarities negative
};

// 1920 x 1080 at 148.5 MHz (totals 2200 x 1125).
inline DetailedTiming Timing1080p(uint8_t features = 0x18) {
  return {14850, 1920, 280, 88, 44, 1080, 45, 4, 5, features};
}
inline DetailedTiming Timing1680x1050() { return {14625, 1680, 560, 104, 176, 1050, 39, 3, 6}; }
inline DetailedTiming Timing1024x768() { return {6500, 1024, 320, 24, 136, 768, 38, 3, 6}; }
inline DetailedTiming Timing800x600() { return {4000, 800, 256, 40, 128, 600, 28, 1, 4}; }

class EdidBuilder {
 public:
  EdidBuilder();

  // Byte 20, the video input definition.
  EdidBuilder& Input(uint8_t value) { return Byte(20, value); }
  EdidBuilder& Digital() { return Input(0x80); }
  EdidBuilder& Analogue() { return Input(0x0E); }  // 0.7 V, separate sync
  // Bytes 8..11: manufacturer and product code.
  EdidBuilder& Id(uint8_t m0, uint8_t m1, uint8_t p0, uint8_t p1);
  EdidBuilder& Product(uint8_t p0, uint8_t p1) { return Id(b_[8], b_[9], p0, p1); }
  // The board maker's own manufacturer bytes 06 10 with this product.
  EdidBuilder& Vendor(uint8_t p0, uint8_t p1) { return Id(0x06, 0x10, p0, p1); }
  // The board maker's own television (product 0x9D08), declaring the 60 Hz
  // and/or the 50 Hz standard in byte 37.
  EdidBuilder& Television(bool hz60, bool hz50);
  // Bytes 35..37, bit 0..7.
  EdidBuilder& Established(unsigned byte, unsigned bit);
  EdidBuilder& Byte(size_t offset, uint8_t value);

  // The first detailed timing descriptor (bytes 54..71).
  EdidBuilder& Detailed(const DetailedTiming& t);
  EdidBuilder& Detailed(uint16_t clock, uint16_t ha, uint16_t hb, uint16_t hso, uint16_t hsw, uint16_t va,
                        uint16_t vb, uint16_t vso, uint16_t vsw) {
    return Detailed(DetailedTiming{clock, ha, hb, hso, hsw, va, vb, vso, vsw});
  }

  // An empty extension block (tag 02, revision 03), counted in byte 126.
  EdidBuilder& Extension();
  // An extension block of these 128 bytes (the last is the checksum).
  EdidBuilder& Extension(const std::vector<uint8_t>& block);

  std::vector<uint8_t> Build() const;

 private:
  std::vector<uint8_t> b_;
};

}  // namespace simedid
