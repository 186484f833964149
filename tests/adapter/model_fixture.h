// Shared helpers for the adapter model's own tests: an adapter on a
// virtual clock, register access through the entry points, EDID blocks.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/adapter/kt270_pci_device.h"
#include "sim/adapter/kt270_regs.h"
#include "sim/edid/edid_builder.h"

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

using Dtd = simedid::DetailedTiming;

// A base block (plus `extensions` blocks filled with their index) with the
// header, the given established-timing bytes and first detailed timing.
inline std::vector<uint8_t> MakeEdid(uint8_t est35, uint8_t est36, uint8_t est37,
                                     const Dtd* dtd = nullptr, unsigned extensions = 0,
                                     bool digital = false) {
  simedid::EdidBuilder e;
  e.Id(0x11, 0x22, 0, 0).Input(digital ? 0x80 : 0x0E).Byte(35, est35).Byte(36, est36).Byte(37, est37);
  if (dtd) e.Detailed(*dtd);
  for (unsigned b = 1; b <= extensions; ++b) {
    std::vector<uint8_t> block(128);
    for (unsigned i = 0; i < 128; ++i) block[i] = static_cast<uint8_t>(b << 4 | (i & 0xF));
    e.Extension(block);
  }
  return e.Build();
}

}  // namespace kt270::test
