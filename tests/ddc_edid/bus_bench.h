// A driver context on the host firmware stand-in (Stall advances its
// virtual clock) over the adapter model, with the platform stand-in taking
// the published properties and the model's register trace.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "driver/core/context.h"
#include "driver/lib/driverlib.h"
#include "sim/adapter/kt270_pci_device.h"
#include "sim/firmware/firmware.h"
#include "sim/platform/platform_stand_in.h"

namespace ddc_test {

inline kt270::I2cFaults Faults(uint32_t stretch_us, int32_t nak_after, bool stuck_clock, bool stuck_data) {
  kt270::I2cFaults f = kt270::NoFaults();
  f.stretch_us = stretch_us;
  f.nak_after = nak_after;
  f.stuck_clock = stuck_clock;
  f.stuck_data = stuck_data;
  return f;
}

// A base block with a 1920x1080 first descriptor (148.5 MHz, separate
// sync), byte 126 = extensions, and extension blocks full of their index.
inline std::vector<uint8_t> MakeEdid(unsigned extensions, bool digital = true) {
  std::vector<uint8_t> e(128 * (1 + extensions), 0);
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
  for (unsigned i = 72; i < 126; ++i) e[i] = static_cast<uint8_t>(i * 7);
  e[126] = static_cast<uint8_t>(extensions);
  uint8_t sum = 0;
  for (unsigned i = 0; i < 127; ++i) sum = static_cast<uint8_t>(sum + e[i]);
  e[127] = static_cast<uint8_t>(0x100 - sum);
  for (unsigned b = 1; b <= extensions; ++b) {
    for (unsigned i = 0; i < 128; ++i) e[128 * b + i] = static_cast<uint8_t>(b * 0x11 + i);
  }
  return e;
}

inline bool IsDdcRegister(const kt270::Access& a) { return a.offset >= 0x7E40 && a.offset < 0x7E70; }

struct Bench {
  explicit Bench(kt270::Config config = kt270::DefaultConfig())
      : device(WithDecode(config), [this] { return firmware.NowUs(); }) {
    gBS = firmware.BootServices();
    gST = firmware.SystemTable();
    controller = firmware.CreatePciController(&device);
    device.adapter().SetTrace(&kt270::TraceLog::Sink, &trace);
    std::memset(&context, 0, sizeof(context));
    context.Signature = ADAPTER_CONTEXT_SIGNATURE;
    context.ControllerHandle = controller;
    context.PciIo = firmware.PciIoProtocolOf(controller);
    context.ParentDevicePath = firmware.DevicePathOf(controller);
    context.HasPropertyDatabase = EFI_TRUE;
    context.PropertyDatabase = platform.database();
    context.HasPlatformServices = EFI_TRUE;
    context.PlatformServices = platform.services();
    context.CrtcIndex[0] = 0;
    context.CrtcIndex[1] = NO_CRTC;
  }
  ~Bench() {
    gBS = nullptr;
    gST = nullptr;
  }

  // An EEPROM with this image on the channel; an empty image removes it.
  void Attach(unsigned channel, const std::vector<uint8_t>& edid, kt270::I2cFaults faults = kt270::NoFaults()) {
    if (edid.empty() && !faults.stuck_clock && !faults.stuck_data) {
      device.adapter().Attach(channel, nullptr);
      return;
    }
    kt270::DdcDevice d{edid.empty() ? nullptr : edid.data(), static_cast<uint32_t>(edid.size()), faults};
    device.adapter().Attach(channel, &d);
  }

  const kt270::DdcBusStats& Bus(unsigned channel) const { return device.adapter().stats().ddc[channel - 1]; }
  uint64_t NowUs() const { return firmware.NowUs(); }

  std::vector<kt270::Access> Writes() const {
    std::vector<kt270::Access> out;
    for (const kt270::Access& a : trace.records) {
      if (a.write && a.space == kt270::Space::kBar2) out.push_back(a);
    }
    return out;
  }
  std::vector<kt270::Access> DdcAccesses() const {
    std::vector<kt270::Access> out;
    for (const kt270::Access& a : trace.records) {
      if (a.space == kt270::Space::kBar2 && IsDdcRegister(a)) out.push_back(a);
    }
    return out;
  }

  static kt270::Config WithDecode(kt270::Config config) {
    config.enforce_decode = false;
    config.fb_size = 1u << 20;  // the frame buffer plays no part here
    return config;
  }

  sim::Firmware firmware;
  kt270::Kt270PciDevice device;
  simplatform::PlatformStandIn platform;
  kt270::TraceLog trace;
  EFI_HANDLE controller = nullptr;
  ADAPTER_CONTEXT context;
};

}  // namespace ddc_test
