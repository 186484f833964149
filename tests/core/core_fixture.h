// Fixture for the driver core: a host firmware with the driver loaded and
// one PCI controller over a configuration-space-only device.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "driver/binding/binding.h"
#include "driver/lib/driverlib.h"
#include "efi/efi.h"
#include "sim/firmware/firmware.h"
#include "sim/firmware/config_space_device.h"
#include "sim/platform/platform_stand_in.h"

namespace coretest {

// Configuration space that answers like a KT270, plain memory behind BAR 0
// and BAR 2, and a command register with bits outside 0-2 set, which must
// survive Start and Stop.
class Kt270Device : public sim::ConfigSpaceDevice {
 public:
  explicit Kt270Device(uint16_t device_id, uint16_t vendor_id = 0x1F6B)
      : sim::ConfigSpaceDevice(vendor_id, device_id) {
    SetMemoryBar(0, 0xD0000000, 1u << 20);
    config()[0x10] |= 0x08;  // prefetchable: the low bits must not reach FrameBufferBase
    SetIoBar(1, 0xC000, 0x100);
    SetMemoryBar(2, 0xFE800000, 0x10000);
    config()[4] = 0x40;
    config()[5] = 0x05;
  }
  // Values written to the command register, oldest first.
  std::vector<uint16_t> CommandWrites() const {
    std::vector<uint16_t> writes;
    for (const Call& c : calls()) {
      if (c.config && c.write && c.offset == 0x04) writes.push_back(static_cast<uint16_t>(c.value));
    }
    return writes;
  }
};

class CoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DriverLibResetForHost();
    image = fw.CreateImageHandle();
    ASSERT_EQ(DriverEntry(image, fw.SystemTable()), EFI_SUCCESS);
    controller = fw.CreatePciController(&device);
  }

  void WithPlatform(bool database, bool services) {
    ASSERT_EQ(platform.Install(fw, database, services), EFI_SUCCESS);
  }

  EFI_STATUS Start(EFI_HANDLE handle) {
    return gQuovanDriverBinding.Start(&gQuovanDriverBinding, handle, nullptr);
  }
  EFI_STATUS Stop(EFI_HANDLE handle) { return gQuovanDriverBinding.Stop(&gQuovanDriverBinding, handle, 0, nullptr); }

  EFI_UGA_DRAW_PROTOCOL* UgaDraw(EFI_HANDLE handle) {
    return static_cast<EFI_UGA_DRAW_PROTOCOL*>(fw.Interface(handle, kEfiUgaDrawProtocolGuid));
  }
  ADAPTER_CONTEXT* Context() {
    EFI_UGA_DRAW_PROTOCOL* uga = UgaDraw(controller);
    return uga == nullptr ? nullptr : ContextFromUgaDraw(uga, "test", 0);
  }
  // Opens of PCI I/O that this driver holds on the controller.
  size_t DriverPciOpens(EFI_HANDLE handle) {
    size_t n = 0;
    for (const auto& e : fw.OpenInfo(handle, kEfiPciIoProtocolGuid)) n += e.AgentHandle == image;
    return n;
  }
  void ExpectClean() {
    sim::LeakReport leaks = fw.Leaks(controller, image);
    EXPECT_TRUE(leaks.clean()) << leaks.Describe();
    EXPECT_TRUE(fw.faults().empty()) << fw.DescribeFaults();
  }

  sim::Firmware fw;
  Kt270Device device{0x6B10};
  simplatform::PlatformStandIn platform;
  EFI_HANDLE image = nullptr;
  EFI_HANDLE controller = nullptr;
};

}  // namespace coretest
