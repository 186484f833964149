#include "sim/edid/edid_builder.h"

namespace simedid {

EdidBuilder::EdidBuilder() : b_(128, 0) {
  static const uint8_t kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  for (int i = 0; i < 8; ++i) b_[i] = kHeader[i];
  b_[8] = 0x4C;  // a maker other than the board's
  b_[9] = 0x2D;
  b_[18] = 1;
  b_[19] = 3;
}

EdidBuilder& EdidBuilder::Id(uint8_t m0, uint8_t m1, uint8_t p0, uint8_t p1) {
  b_[8] = m0;
  b_[9] = m1;
  b_[10] = p0;
  b_[11] = p1;
  return *this;
}

EdidBuilder& EdidBuilder::Television(bool hz60, bool hz50) {
  Vendor(0x08, 0x9D);
  if (hz60) Established(37, 6);
  if (hz50) Established(37, 5);
  return *this;
}

EdidBuilder& EdidBuilder::Established(unsigned byte, unsigned bit) {
  b_[byte] = static_cast<uint8_t>(b_[byte] | (1u << bit));
  return *this;
}

EdidBuilder& EdidBuilder::Byte(size_t offset, uint8_t value) {
  b_[offset] = value;
  return *this;
}

EdidBuilder& EdidBuilder::Detailed(const DetailedTiming& t) {
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

EdidBuilder& EdidBuilder::Extension() {
  std::vector<uint8_t> block(128, 0);
  block[0] = 0x02;
  block[1] = 0x03;
  return Extension(block);
}

EdidBuilder& EdidBuilder::Extension(const std::vector<uint8_t>& block) {
  b_[126] = static_cast<uint8_t>(b_[126] + 1);
  b_.insert(b_.end(), block.begin(), block.begin() + 128);
  return *this;
}

std::vector<uint8_t> EdidBuilder::Build() const {
  std::vector<uint8_t> v = b_;
  for (size_t block = 0; block < v.size() / 128; ++block) {
    uint8_t sum = 0;
    for (size_t i = 0; i < 127; ++i) sum = static_cast<uint8_t>(sum + v[block * 128 + i]);
    v[block * 128 + 127] = static_cast<uint8_t>(0x100 - sum);
  }
  return v;
}

}  // namespace simedid
