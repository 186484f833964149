// A started adapter on the shared test rig: the driver loaded into the
// host firmware stand-in and started on the controller over the adapter
// model, with the platform stand-ins recording what the driver publishes.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver/core/context.h"
#include "efi/efi.h"
#include "sim/adapter/kt270_pci_device.h"
#include "sim/firmware/firmware.h"
#include "sim/firmware/pci_io.h"
#include "sim/platform/platform_stand_in.h"
#include "tests/support/rig.h"

namespace discovery_test {

// A base block: header, a plain manufacturer, version 1.3, analogue or
// digital input, no established timings, and a 1920 x 1080 first descriptor
// at 148.5 MHz with separate sync (totals 2200 x 1125).
inline std::vector<uint8_t> MakeEdid(bool digital) {
  std::vector<uint8_t> e(128, 0);
  const uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  std::memcpy(e.data(), header, 8);
  e[8] = 0x4C;
  e[9] = 0x2D;
  e[10] = 0x34;
  e[11] = 0x12;
  e[18] = 1;
  e[19] = 3;
  e[20] = digital ? 0x80 : 0x0E;
  const uint8_t dtd[18] = {0x02, 0x3A, 0x80, 0x18, 0x71, 0x38, 0x2D, 0x40, 0x58,
                           0x2C, 0x45, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1E};
  std::memcpy(&e[54], dtd, 18);
  return e;
}

// The board maker's own block: manufacturer bytes 06 10, version 1.3.
inline std::vector<uint8_t> MakeVendorEdid(bool digital, uint8_t product_low = 0x21, uint8_t product_high = 0x92) {
  std::vector<uint8_t> e = MakeEdid(digital);
  e[8] = 0x06;
  e[9] = 0x10;
  e[10] = product_low;
  e[11] = product_high;
  return e;
}

inline std::vector<uint8_t> MakeTelevisionEdid(uint8_t established3) {
  std::vector<uint8_t> e = MakeVendorEdid(false, 0x08, 0x9D);
  e[37] = established3;
  return e;
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
    kt270::HostMonitor monitor;
    monitor.edid = edid;
    monitor.connector = connector;
    monitor.ddc = faults;
    ASSERT_TRUE(rig_.Plug(monitor));
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
