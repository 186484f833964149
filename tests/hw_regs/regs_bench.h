// Register-level expectations and a bench over the test rig for driving the
// register primitives directly. Tests judge by the model's access trace
// and state.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <vector>

#include "driver/core/context.h"
#include "tests/support/rig.h"

namespace regs_test {

struct Op {
  bool write;
  unsigned width;
  uint32_t offset;
  uint64_t value;
  bool operator==(const Op& o) const {
    return write == o.write && width == o.width && offset == o.offset && value == o.value;
  }
};
inline Op R32(uint32_t offset, uint64_t value) { return {false, 4, offset, value}; }
inline Op W32(uint32_t offset, uint64_t value) { return {true, 4, offset, value}; }
inline Op R8(uint32_t offset, uint64_t value) { return {false, 1, offset, value}; }
inline Op W8(uint32_t offset, uint64_t value) { return {true, 1, offset, value}; }

inline std::ostream& operator<<(std::ostream& os, const Op& op) {
  char text[64];
  std::snprintf(text, sizeof text, "%c%u 0x%04X 0x%08llX", op.write ? 'W' : 'R', op.width * 8, op.offset,
                static_cast<unsigned long long>(op.value));
  return os << text;
}

// The rig's adapter (decode on, a small frame buffer) and a context made
// by the rig, with the trace narrowed to the register aperture.
class RegsBench {
 public:
  explicit RegsBench(kt270::Config config = kt270::DefaultConfig()) : rig_(Options(config)) {
    context_ = rig_.MakeContext();
    rig_.ClearTrace();
  }

  testsupport::Rig& rig() { return rig_; }
  sim::Firmware& firmware() { return rig_.fw(); }
  kt270::Adapter& adapter() { return rig_.adapter(); }
  ADAPTER_CONTEXT* context() { return context_; }
  EFI_PCI_IO_PROTOCOL* pci_io() { return context_->PciIo; }

  // Register-aperture accesses since the last Clear, in order.
  std::vector<Op> Bar2() const {
    std::vector<Op> ops;
    for (const kt270::Access& a : rig_.trace()) {
      if (a.space == kt270::Space::kBar2) {
        ops.push_back({a.write, a.width, static_cast<uint32_t>(a.offset), a.value});
      }
    }
    return ops;
  }
  const std::vector<kt270::Access>& accesses() const { return rig_.trace(); }
  void Clear() {
    rig_.ClearTrace();
    firmware().ResetCallCounts();
    firmware().StdErr().Clear();
  }

 private:
  static testsupport::RigOptions Options(kt270::Config config) {
    config.enforce_decode = false;
    config.fb_size = 1u << 20;  // room for the tests' surfaces, cheap to allocate
    testsupport::RigOptions options;
    options.adapter = config;
    return options;
  }
  testsupport::Rig rig_;
  ADAPTER_CONTEXT* context_;
};

}  // namespace regs_test
