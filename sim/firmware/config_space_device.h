// A PCI function with a configuration space and plain memory behind its
// BARs, for tests that need a controller but no adapter model. It records
// every call it receives.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/firmware/pci_device.h"

namespace sim {

class ConfigSpaceDevice : public PciDevice {
 public:
  struct Call {
    bool config;  // configuration space, else a BAR
    bool write;
    uint8_t bar;
    uint64_t offset;
    unsigned width;
    size_t count;
    PciStride stride;
    uint64_t value;  // first element
  };

  ConfigSpaceDevice(uint16_t vendor_id, uint16_t device_id);

  // A memory BAR of size bytes (a power of two, at least 16) at base; it
  // reads back its size mask when sized and keeps size bytes of memory.
  void SetMemoryBar(unsigned index, uint32_t base, uint32_t size);
  void SetIoBar(unsigned index, uint32_t base, uint32_t size);

  uint8_t* config() { return config_; }
  uint16_t command() const { return static_cast<uint16_t>(config_[4] | (config_[5] << 8)); }
  std::vector<uint8_t>& bar_memory(unsigned index) { return bars_[index].memory; }
  const std::vector<Call>& calls() const { return calls_; }
  void ClearCalls() { calls_.clear(); }

  bool ConfigRead(uint32_t offset, unsigned width, size_t count, void* buffer) override;
  bool ConfigWrite(uint32_t offset, unsigned width, size_t count, const void* buffer) override;
  bool MemRead(uint8_t bar, uint64_t offset, unsigned width, size_t count, PciStride stride,
               void* buffer) override;
  bool MemWrite(uint8_t bar, uint64_t offset, unsigned width, size_t count, PciStride stride,
                const void* buffer) override;
  bool DescribeBar(uint8_t bar, BarDescription* out) const override;

 private:
  struct Bar {
    BarKind kind = BarKind::kNone;
    uint32_t size = 0;
    std::vector<uint8_t> memory;
  };
  void WriteByte(uint32_t offset, uint8_t value);
  uint8_t config_[256];
  Bar bars_[6];
  std::vector<Call> calls_;
};

}  // namespace sim
