// The PCI I/O protocol of one controller over a pluggable sim::PciDevice.
// Width and count rules, alignment and range checks are the stand-in's;
// each accepted member call reaches the device as one call.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "efi/efi.h"
#include "sim/firmware/pci_device.h"

namespace sim {

class Firmware;

struct PciControllerOptions {
  uint8_t segment = 0;
  uint8_t bus = 0;
  uint8_t device = 2;
  uint8_t function = 0;
  uint32_t config_size = 256;
  uint64_t supported_attributes = EFI_PCI_IO_ATTRIBUTE_IO | EFI_PCI_IO_ATTRIBUTE_MEMORY |
                                  EFI_PCI_IO_ATTRIBUTE_BUS_MASTER | EFI_PCI_IO_ATTRIBUTE_VGA_MEMORY |
                                  EFI_PCI_IO_ATTRIBUTE_VGA_IO | EFI_PCI_IO_ATTRIBUTE_VGA_PALETTE_IO |
                                  EFI_PCI_IO_ATTRIBUTE_MEMORY_WRITE_COMBINE |
                                  EFI_PCI_IO_ATTRIBUTE_DUAL_ADDRESS_CYCLE;
  uint64_t attributes = 0;
};

struct AttributeCall {
  EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION operation;
  uint64_t attributes;
  EFI_STATUS status;
};

class PciIoStandIn {
 public:
  PciIoStandIn(Firmware* firmware, PciDevice* device, const PciControllerOptions& options);
  PciIoStandIn(const PciIoStandIn&) = delete;
  PciIoStandIn& operator=(const PciIoStandIn&) = delete;

  EFI_PCI_IO_PROTOCOL* protocol() { return &proto_; }
  PciDevice* device() const { return device_; }
  EFI_HANDLE handle() const { return handle_; }
  void set_handle(EFI_HANDLE handle) { handle_ = handle; }
  EFI_DEVICE_PATH_PROTOCOL* device_path() { return reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL*>(path_); }
  static constexpr size_t kDevicePathSize = 22;

  uint64_t attributes() const { return attributes_; }
  uint64_t supported_attributes() const { return options_.supported_attributes; }
  const std::vector<AttributeCall>& attribute_calls() const { return attribute_calls_; }

  // Member calls through this protocol, all and by member name.
  uint64_t calls() const { return total_calls_; }
  uint64_t calls(const std::string& member) const;
  void ResetCounts();

  // The stand-in behind a protocol pointer; nullptr for any other pointer.
  static PciIoStandIn* From(EFI_PCI_IO_PROTOCOL* This);

 private:
  friend struct PciIoAccess;
  bool Enter(const char* member, EFI_STATUS* status);

  EFI_PCI_IO_PROTOCOL proto_;
  uint64_t magic_;
  Firmware* firmware_;
  PciDevice* device_;
  PciControllerOptions options_;
  EFI_HANDLE handle_ = nullptr;
  uint64_t attributes_;
  uint8_t path_[kDevicePathSize];
  std::vector<AttributeCall> attribute_calls_;
  std::map<std::string, uint64_t> counts_;
  // The member names are literals: the last ones are found by address.
  std::pair<const char*, uint64_t*> last_[4] = {};
  uint64_t total_calls_ = 0;
};

}  // namespace sim
