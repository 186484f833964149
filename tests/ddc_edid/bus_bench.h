// DDC test helpers over the test rig: the firmware stand-in (Stall advances
// its virtual clock), the adapter model with its access trace, EDID images.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/adapter/kt270_pci_device.h"
#include "sim/edid/edid_builder.h"
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
  simedid::EdidBuilder e;
  e.Product(0x34, 0x12).Input(digital ? 0x80 : 0x0E).Detailed(simedid::Timing1080p(0x1E));
  for (unsigned i = 72; i < 126; ++i) e.Byte(i, static_cast<uint8_t>(i * 7));
  for (unsigned b = 1; b <= extensions; ++b) {
    std::vector<uint8_t> block(128);
    for (unsigned i = 0; i < 128; ++i) block[i] = static_cast<uint8_t>(b * 0x11 + i);
    e.Extension(block);
  }
  return e.Build();
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
