// A controller of the adapter model under the host firmware stand-in, and
// an adapter context with its timer event, for driving the register
// primitives directly. Tests judge by the model's access trace and state.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "driver/core/context.h"
#include "driver/lib/driverlib.h"
#include "sim/adapter/kt270_pci_device.h"
#include "sim/firmware/firmware.h"

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

class RegsBench {
 public:
  explicit RegsBench(kt270::Config config = kt270::DefaultConfig()) {
    config.enforce_decode = false;
    config.fb_size = 1u << 20;  // room for the tests' surfaces, cheap to allocate
    device_ = std::make_unique<kt270::Kt270PciDevice>(config, [this] { return firmware_.NowUs(); });
    controller_ = firmware_.CreatePciController(device_.get());
    DriverLibResetForHost();
    EfiInitializeDriverLib(firmware_.CreateImageHandle(), firmware_.SystemTable());
    std::memset(&context_, 0, sizeof context_);
    context_.Signature = ADAPTER_CONTEXT_SIGNATURE;
    context_.PciIo = firmware_.PciIoProtocolOf(controller_);
    firmware_.CreateEvent(EVT_TIMER, 0, nullptr, nullptr, &context_.TimerEvent);
    adapter().SetTrace(&kt270::TraceLog::Sink, &log_);
    firmware_.ResetCallCounts();
  }

  sim::Firmware& firmware() { return firmware_; }
  kt270::Adapter& adapter() { return device_->adapter(); }
  ADAPTER_CONTEXT* context() { return &context_; }
  EFI_PCI_IO_PROTOCOL* pci_io() { return context_.PciIo; }

  // Register-aperture accesses since the last Clear, in order.
  std::vector<Op> Bar2() const {
    std::vector<Op> ops;
    for (const kt270::Access& a : log_.records) {
      if (a.space == kt270::Space::kBar2) {
        ops.push_back({a.write, a.width, static_cast<uint32_t>(a.offset), a.value});
      }
    }
    return ops;
  }
  const std::vector<kt270::Access>& accesses() const { return log_.records; }
  std::vector<Op> Writes() const {
    std::vector<Op> ops;
    for (const Op& op : Bar2()) {
      if (op.write) ops.push_back(op);
    }
    return ops;
  }
  void Clear() {
    log_.records.clear();
    firmware_.ResetCallCounts();
    firmware_.StdErr().Clear();
  }

 private:
  sim::Firmware firmware_;
  std::unique_ptr<kt270::Kt270PciDevice> device_;
  EFI_HANDLE controller_ = nullptr;
  ADAPTER_CONTEXT context_;
  kt270::TraceLog log_;
};

}  // namespace regs_test
