// Register-level expectations and a bench over the test rig for driving the
// register primitives directly. Tests judge by the model's access trace
// and state.
#pragma once

#include <cstdint>
#include <vector>

#include "driver/core/context.h"
#include "tests/support/rig.h"
#include "tests/support/trace_ops.h"

namespace regs_test {

using testsupport::Op;
using testsupport::R32;
using testsupport::R8;
using testsupport::W32;
using testsupport::W8;

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
  std::vector<Op> Bar2() const { return testsupport::Bar2Ops(rig_.trace()); }
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
