// DDC test helpers over the test rig: the firmware stand-in (Stall advances
// its virtual clock), the adapter model with its access trace, EDID images.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "sim/adapter/kt270_pci_device.h"
#include "sim/platform/platform_stand_in.h"
#include "tests/support/rig.h"

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

// The rig's context for operations that run without Start, with the
// platform stand-ins installed to take the published properties.
struct Bench {
  explicit Bench(kt270::Config config = kt270::DefaultConfig())
      : rig(Options(config)), platform(rig.InstallPlatform()), context(*rig.MakeContext()) {}

  kt270::Adapter& adapter() { return rig.adapter(); }
  const std::vector<kt270::Access>& records() const { return rig.trace(); }

  // An EEPROM with this image on the channel; an empty image removes it.
  void Attach(unsigned channel, const std::vector<uint8_t>& edid, kt270::I2cFaults faults = kt270::NoFaults()) {
    if (edid.empty() && !faults.stuck_clock && !faults.stuck_data) {
      adapter().Attach(channel, nullptr);
      return;
    }
    kt270::DdcDevice d{edid.empty() ? nullptr : edid.data(), static_cast<uint32_t>(edid.size()), faults};
    adapter().Attach(channel, &d);
  }

  const kt270::DdcBusStats& Bus(unsigned channel) { return adapter().stats().ddc[channel - 1]; }
  uint64_t NowUs() { return rig.fw().NowUs(); }

  std::vector<kt270::Access> Writes() const {
    return rig.Select([](const kt270::Access& a) { return a.write && a.space == kt270::Space::kBar2; });
  }
  std::vector<kt270::Access> DdcAccesses() const {
    return rig.Select([](const kt270::Access& a) { return a.space == kt270::Space::kBar2 && IsDdcRegister(a); });
  }

  static testsupport::RigOptions Options(kt270::Config config) {
    testsupport::RigOptions options;
    options.adapter = config;
    options.adapter.enforce_decode = false;
    options.adapter.fb_size = 1u << 20;  // the frame buffer plays no part here
    return options;
  }

  testsupport::Rig rig;
  simplatform::PlatformStandIn& platform;
  ADAPTER_CONTEXT& context;
};

}  // namespace ddc_test
