// The test rig: the host firmware stand-in, the adapter model behind a PCI
// controller handle, a record of every access the model saw, the driver's
// entry point and binding, and an adapter context for unit tests of driver
// operations that do not go through Start.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver/core/context.h"
#include "efi/efi.h"
#include "sim/adapter/kt270_pci_device.h"
#include "sim/firmware/firmware.h"

namespace simplatform {
class PlatformStandIn;
}

namespace testsupport {

struct RigOptions {
  kt270::Config adapter = kt270::DefaultConfig();
  sim::FirmwareOptions firmware;
  sim::PciControllerOptions pci;
};

class Rig {
 public:
  explicit Rig(const RigOptions& options = RigOptions());
  ~Rig();
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  sim::Firmware& fw() { return fw_; }
  kt270::Kt270PciDevice& device() { return *device_; }
  kt270::Adapter& adapter() { return device_->adapter(); }
  EFI_HANDLE controller() const { return controller_; }
  EFI_PCI_IO_PROTOCOL* pci_io() const { return fw_.PciIoProtocolOf(controller_); }
  EFI_DEVICE_PATH_PROTOCOL* device_path() const { return fw_.DevicePathOf(controller_); }
  // Plugs a monitor (the EDID is copied by the model).
  bool Plug(const kt270::HostMonitor& monitor) { return adapter().Plug(monitor.view()); }
  bool Plug(kt270::Connector connector, const std::vector<uint8_t>& edid, kt270::I2cFaults ddc = kt270::NoFaults()) {
    return adapter().Plug(kt270::Monitor{edid.data(), static_cast<uint32_t>(edid.size()), connector, ddc});
  }

  // ---- The driver ---------------------------------------------------------
  // Puts the driver library's globals back, resets the call counters and
  // runs the entry point with a fresh image handle.
  EFI_STATUS LoadDriver();
  EFI_HANDLE image() const { return image_; }
  EFI_DRIVER_BINDING_PROTOCOL* binding() const;  // on the image; null before LoadDriver
  EFI_STATUS Connect() { return fw_.Connect(controller_); }
  EFI_STATUS Disconnect() { return fw_.Disconnect(controller_); }
  EFI_UGA_DRAW_PROTOCOL* uga_draw() const {
    return static_cast<EFI_UGA_DRAW_PROTOCOL*>(fw_.Interface(controller_, kEfiUgaDrawProtocolGuid));
  }
  // What the driver holds on the controller (pool, events, interfaces, opens).
  sim::LeakReport Leaks() const { return fw_.Leaks(controller_, image_); }

  // ---- A context without Start ----------------------------------------------
  // Initialises the driver library on the stand-in's tables, then a zeroed
  // ADAPTER_CONTEXT from pool with the identity fields, a TimerEvent and the
  // documented starting values. ModeList and ModeTimingTable stay null for
  // their owners to set. The platform fields follow the installed platform
  // stand-in, if any. The rig frees the record (and closes the event)
  // unless the driver already did.
  ADAPTER_CONTEXT* MakeContext();
  ADAPTER_CONTEXT* context() const { return context_; }

  // ---- Platform stand-ins ---------------------------------------------------
  // The device-property database and platform services, located by Start.
  simplatform::PlatformStandIn& InstallPlatform(bool database = true, bool services = true);
  simplatform::PlatformStandIn* platform() const { return platform_.get(); }

  // ---- The model's access record ---------------------------------------------
  const std::vector<kt270::Access>& trace() const { return trace_.records; }
  void ClearTrace() { trace_.records.clear(); }
  size_t Mark() const { return trace_.records.size(); }  // for Since()
  std::vector<kt270::Access> Since(size_t mark) const;
  std::vector<kt270::Access> Select(const std::function<bool(const kt270::Access&)>& keep) const;
  // Accesses of one kind to one offset of a space, in order.
  std::vector<kt270::Access> Accesses(kt270::Space space, bool write, uint64_t offset) const;
  // The values written to one offset, in order.
  std::vector<uint64_t> Writes(kt270::Space space, uint64_t offset) const;
  std::vector<uint64_t> Bar2Writes(uint64_t offset) const { return Writes(kt270::Space::kBar2, offset); }
  std::vector<uint64_t> ConfigWrites(uint64_t offset) const { return Writes(kt270::Space::kConfig, offset); }
  size_t Count(kt270::Space space, bool write) const;

 private:
  sim::Firmware fw_;
  std::unique_ptr<kt270::Kt270PciDevice> device_;
  kt270::TraceLog trace_;
  EFI_HANDLE controller_ = nullptr;
  EFI_HANDLE image_ = nullptr;
  ADAPTER_CONTEXT* context_ = nullptr;
  std::unique_ptr<simplatform::PlatformStandIn> platform_;
};

// One access as text ("W32 bar2 0x0070 = 0x00000008"), for failure messages.
std::string Describe(const kt270::Access& access);

}  // namespace testsupport
