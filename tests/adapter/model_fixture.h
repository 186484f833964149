// Shared helpers for the adapter model's own tests: an adapter on a
// virtual clock, register access through the entry points, EDID blocks.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/adapter/kt270_pci_device.h"
#include "sim/adapter/kt270_regs.h"

namespace kt270::test {

struct Bench {
  explicit Bench(Config config = DefaultConfig()) {
    config.enforce_decode = false;
    device = std::make_unique<Kt270PciDevice>(config, [this] { return now; });
  }
  Adapter& a() { return device->adapter(); }

  void W32(uint32_t offset, uint32_t v) { a().MemWrite(2, offset, 4, 1, Stride::kNormal, &v); }
  void W8(uint32_t offset, uint8_t v) { a().MemWrite(2, offset, 1, 1, Stride::kNormal, &v); }
  uint32_t R32(uint32_t offset) {
    uint32_t v = 0;
    a().MemRead(2, offset, 4, 1, Stride::kNormal, &v);
    return v;
  }
  uint8_t R8(uint32_t offset) {
    uint8_t v = 0;
    a().MemRead(2, offset, 1, 1, Stride::kNormal, &v);
    return v;
  }
  uint32_t Fb32(uint64_t offset) {
    uint32_t v = 0;
    a().MemRead(0, offset, 4, 1, Stride::kNormal, &v);
    return v;
  }

  uint64_t now = 0;
  std::unique_ptr<Kt270PciDevice> device;
};

struct Dtd {
  uint32_t clock_10khz, h_active, h_blank, h_sync_offset, h_sync_width;
  uint32_t v_active, v_blank, v_sync_offset, v_sync_width;
  uint8_t flags;  // byte 17
};

// A base block (plus `extensions` blocks filled with their index) with the
// header, the given established-timing bytes and first detailed timing.
inline std::vector<uint8_t> MakeEdid(uint8_t est35, uint8_t est36, uint8_t est37,
                                     const Dtd* dtd = nullptr, unsigned extensions = 0,
                                     bool digital = false) {
  std::vector<uint8_t> e(128 * (1 + extensions), 0);
  const uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  for (int i = 0; i < 8; ++i) e[i] = header[i];
  e[8] = 0x11;
  e[9] = 0x22;
  e[18] = 1;
  e[19] = 3;
  e[20] = digital ? 0x80 : 0x0E;
  e[35] = est35;
  e[36] = est36;
  e[37] = est37;
  if (dtd) {
    uint8_t* d = &e[54];
    d[0] = dtd->clock_10khz & 0xFF;
    d[1] = dtd->clock_10khz >> 8;
    d[2] = dtd->h_active & 0xFF;
    d[3] = dtd->h_blank & 0xFF;
    d[4] = static_cast<uint8_t>((dtd->h_active >> 8) << 4 | (dtd->h_blank >> 8));
    d[5] = dtd->v_active & 0xFF;
    d[6] = dtd->v_blank & 0xFF;
    d[7] = static_cast<uint8_t>((dtd->v_active >> 8) << 4 | (dtd->v_blank >> 8));
    d[8] = dtd->h_sync_offset & 0xFF;
    d[9] = dtd->h_sync_width & 0xFF;
    d[10] = static_cast<uint8_t>((dtd->v_sync_offset & 0xF) << 4 | (dtd->v_sync_width & 0xF));
    d[11] = static_cast<uint8_t>(((dtd->h_sync_offset >> 8) & 3) << 6 |
                                 ((dtd->h_sync_width >> 8) & 3) << 4 |
                                 ((dtd->v_sync_offset >> 4) & 3) << 2 |
                                 ((dtd->v_sync_width >> 4) & 3));
    d[17] = dtd->flags;
  }
  e[126] = static_cast<uint8_t>(extensions);
  uint8_t sum = 0;
  for (int i = 0; i < 127; ++i) sum = static_cast<uint8_t>(sum + e[i]);
  e[127] = static_cast<uint8_t>(0x100 - sum);
  for (unsigned b = 1; b <= extensions; ++b) {
    for (unsigned i = 0; i < 128; ++i) e[128 * b + i] = static_cast<uint8_t>(b << 4 | (i & 0xF));
  }
  return e;
}

}  // namespace kt270::test
