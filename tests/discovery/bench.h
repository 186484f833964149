// A started adapter on the shared test rig: the driver loaded into the
// host firmware stand-in and started on the controller over the adapter
// model, with the platform stand-ins recording what the driver publishes.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/core/context.h"
#include "efi/efi.h"
#include "sim/adapter/kt270_pci_device.h"
#include "sim/edid/edid_builder.h"
#include "sim/firmware/firmware.h"
#include "sim/firmware/pci_io.h"
#include "sim/platform/platform_stand_in.h"
#include "tests/support/rig.h"

namespace discovery_test {

// A base block: header, a plain manufacturer, version 1.3, analogue or
// digital input, no established timings, and a 1920 x 1080 first descriptor
// at 148.5 MHz with separate sync (totals 2200 x 1125).
inline simedid::EdidBuilder EdidFor(bool digital) {
  simedid::EdidBuilder e;
  e.Product(0x34, 0x12).Input(digital ? 0x80 : 0x0E).Detailed(simedid::Timing1080p(0x1E));
  return e;
}
inline std::vector<uint8_t> MakeEdid(bool digital) { return EdidFor(digital).Build(); }

// The board maker's own block: manufacturer bytes 06 10, version 1.3.
inline std::vector<uint8_t> MakeVendorEdid(bool digital, uint8_t product_low = 0x21, uint8_t product_high = 0x92) {
  return EdidFor(digital).Vendor(product_low, product_high).Build();
}

inline std::vector<uint8_t> MakeTelevisionEdid(uint8_t established3) {
  return EdidFor(false).Vendor(0x08, 0x9D).Byte(37, established3).Build();
}

inline kt270::Config BenchConfig() {
  kt270::Config config = kt270::DefaultConfig();
  config.hwgpio = 0x12345678;
  config.fb_size = 1u << 20;  // discovery never draws; a small aperture keeps benches cheap
  return config;
}

inline testsupport::RigOptions BenchOptions(const kt270::Config& config) {
  testsupport::RigOptions options;
  options.adapter = config;
  return options;
}

class Bench {
 public:
  explicit Bench(bool database = true, bool services = true, kt270::Config config = BenchConfig())
      : rig_(BenchOptions(config)), fw(rig_.fw()), platform(rig_.InstallPlatform(database, services)) {
    EXPECT_EQ(rig_.LoadDriver(), EFI_SUCCESS);
    image = rig_.image();
    controller = rig_.controller();
  }

  EFI_STATUS Start() { return rig_.binding()->Start(rig_.binding(), controller, nullptr); }
  EFI_STATUS Stop() { return rig_.binding()->Stop(rig_.binding(), controller, 0, nullptr); }

  // The started adapter's context, as the UGA Draw interface leads to it.
  ADAPTER_CONTEXT* Context() {
    EFI_UGA_DRAW_PROTOCOL* uga = rig_.uga_draw();
    return uga == nullptr ? nullptr : ContextFromUgaDraw(uga, "test", 0);
  }

  testsupport::Rig& rig() { return rig_; }
  kt270::Adapter& adapter() { return rig_.adapter(); }
  sim::PciIoStandIn& pci_io() { return *fw.PciIoOf(controller); }

  void Plug(const std::vector<uint8_t>& edid, kt270::Connector connector, kt270::I2cFaults faults = kt270::NoFaults()) {
    ASSERT_TRUE(rig_.Plug(connector, edid, faults));
  }

  // Adapter-wide properties in the order they were added.
  std::vector<simplatform::PropertyRecord> AdapterProperties() const {
    std::vector<simplatform::PropertyRecord> out;
    for (const auto& p : platform.properties()) {
      if (!p.node) out.push_back(p);
    }
    return out;
  }
  std::vector<simplatform::PropertyRecord> Named(const std::string& name) const {
    std::vector<simplatform::PropertyRecord> out;
    for (const auto& p : AdapterProperties()) {
      if (p.name == name) out.push_back(p);
    }
    return out;
  }

 private:
  testsupport::Rig rig_;

 public:
  sim::Firmware& fw;
  simplatform::PlatformStandIn& platform;
  EFI_HANDLE image = nullptr;
  EFI_HANDLE controller = nullptr;
};

inline std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

}  // namespace discovery_test
