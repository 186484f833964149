// What sits behind the host PCI I/O stand-in: a device that answers
// configuration-space and BAR accesses. The stand-in decodes the PCI I/O
// width/count rules and hands each call over whole, so that a device which
// records accesses sees one call per PCI I/O member call.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

enum class PciStride {
  Normal,  // address and buffer both advance (EfiPciIoWidthUintN)
  Fifo,    // address stays, buffer advances (EfiPciIoWidthFifoUintN)
  Fill,    // address advances, buffer stays (EfiPciIoWidthFillUintN)
};

enum class BarKind : uint8_t { kNone, kMemory, kIo };

struct BarDescription {
  BarKind kind;
  uint64_t size;         // bytes
  uint64_t address = 0;  // where the BAR decodes
};

class PciDevice {
 public:
  virtual ~PciDevice() = default;

  // width is the element size in bytes (1, 2, 4 or 8); count >= 1.
  // A false return makes the PCI I/O member fail with EFI_UNSUPPORTED.
  virtual bool ConfigRead(uint32_t offset, unsigned width, size_t count, void* buffer) = 0;
  virtual bool ConfigWrite(uint32_t offset, unsigned width, size_t count, const void* buffer) = 0;

  virtual bool MemRead(uint8_t bar, uint64_t offset, unsigned width, size_t count,
                       PciStride stride, void* buffer) = 0;
  virtual bool MemWrite(uint8_t bar, uint64_t offset, unsigned width, size_t count,
                        PciStride stride, const void* buffer) = 0;

  // Optional: a device that describes its BARs lets the stand-in refuse
  // accesses outside them (or to I/O BARs) as the PCI bus driver does,
  // with EFI_INVALID_PARAMETER, before the device sees them.
  virtual bool DescribeBar(uint8_t bar, BarDescription* out) const {
    (void)bar;
    (void)out;
    return false;
  }
  // What GetBarAttributes reports (address included); by default the
  // description above, so a device may report its BARs without having the
  // stand-in refuse accesses for it.
  virtual bool DescribeBarResource(uint8_t bar, BarDescription* out) const { return DescribeBar(bar, out); }
};

}  // namespace sim
