// Register-aperture accesses as short comparable values, for tests that
// state the exact sequence the driver must produce:
//   EXPECT_EQ((Ops{W32(0x7828, 0x00070200), R32(0x0E40, 0)}), Bar2Ops(rig.trace()));
#pragma once

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <vector>

#include "sim/adapter/kt270_pci_device.h"

namespace testsupport {

struct Op {
  bool write;
  unsigned width;
  uint32_t offset;
  uint64_t value;
  bool operator==(const Op& o) const {
    return write == o.write && width == o.width && offset == o.offset && value == o.value;
  }
};
using Ops = std::vector<Op>;

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

// The register-aperture accesses of a trace, in order.
inline Ops Bar2Ops(const std::vector<kt270::Access>& trace) {
  Ops ops;
  for (const kt270::Access& a : trace) {
    if (a.space == kt270::Space::kBar2) ops.push_back({a.write, a.width, static_cast<uint32_t>(a.offset), a.value});
  }
  return ops;
}

inline Ops WritesOf(const Ops& ops) {
  Ops writes;
  for (const Op& op : ops) {
    if (op.write) writes.push_back(op);
  }
  return writes;
}

}  // namespace testsupport
