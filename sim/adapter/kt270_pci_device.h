// Host glue: the adapter model behind the host PCI I/O stand-in, with the
// host's allocator and the firmware's virtual clock, and EDID files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/adapter/kt270_model.h"
#include "sim/firmware/pci_device.h"

namespace kt270 {

class Kt270PciDevice : public sim::PciDevice {
 public:
  // now_us is the firmware's virtual clock; empty means time stands at 0.
  explicit Kt270PciDevice(const Config& config = DefaultConfig(),
                          std::function<uint64_t()> now_us = {});
  ~Kt270PciDevice() override;
  Kt270PciDevice(const Kt270PciDevice&) = delete;
  Kt270PciDevice& operator=(const Kt270PciDevice&) = delete;

  Adapter& adapter() { return *adapter_; }
  const Adapter& adapter() const { return *adapter_; }

  bool ConfigRead(uint32_t offset, unsigned width, size_t count, void* buffer) override;
  bool ConfigWrite(uint32_t offset, unsigned width, size_t count, const void* buffer) override;
  bool MemRead(uint8_t bar, uint64_t offset, unsigned width, size_t count,
               sim::PciStride stride, void* buffer) override;
  bool MemWrite(uint8_t bar, uint64_t offset, unsigned width, size_t count,
                sim::PciStride stride, const void* buffer) override;
  // Reported, not enforced: the model itself refuses and counts accesses
  // outside its BARs.
  bool DescribeBarResource(uint8_t bar, sim::BarDescription* out) const override;

 private:
  static uint64_t Now(void* self);
  std::function<uint64_t()> now_us_;
  Adapter* adapter_;
};

// Collects trace records: adapter.SetTrace(&TraceLog::Sink, &log).
struct TraceLog {
  std::vector<Access> records;
  static void Sink(void* self, const Access& access) {
    static_cast<TraceLog*>(self)->records.push_back(access);
  }
};

// An EDID file: raw binary (starting with the EDID header, any length) or
// text with hex byte pairs (whitespace, commas and "0x" ignored). Returns an empty vector when the file is missing or malformed.
std::vector<uint8_t> LoadEdidFile(const std::string& path);

// A monitor that owns its EDID bytes; view() is valid while it lives.
struct HostMonitor {
  std::vector<uint8_t> edid;
  Connector connector = Connector::kAnalogA;
  I2cFaults ddc = NoFaults();
  Monitor view() const {
    return Monitor{edid.data(), static_cast<uint32_t>(edid.size()), connector, ddc};
  }
};
bool LoadMonitor(const std::string& path, Connector connector, HostMonitor* out);

}  // namespace kt270
