#include "tests/startup/startup_runs.h"

#include "efi/efi.h"
#include "sim/platform/platform_stand_in.h"
#include "sim/edid/edid_builder.h"
#include "tests/support/rig.h"

namespace startup {
namespace {

using simedid::EdidBuilder;

std::vector<uint8_t> Digital1680() {
  return EdidBuilder().Digital().Detailed(14625, 1680, 560, 104, 176, 1050, 39, 3, 6).Build();
}
std::vector<uint8_t> Analogue1280() {
  return EdidBuilder().Analogue().Established(36, 0).Detailed(13500, 1280, 408, 16, 144, 1024, 42, 1, 3).Build();
}
// The board maker's television at 50 Hz: 06 10, product 08 9D, version 1.3.
std::vector<uint8_t> PalTelevision() {
  return EdidBuilder().Analogue().Vendor(0x08, 0x9D).Byte(37, 0x20).Build();
}

constexpr uint32_t kGpioFirst = 0x7E40;
constexpr uint32_t kGpioStride = 0x10;
constexpr double kBitTimeUs = 10;  // 100 kHz

}  // namespace

std::vector<Scenario> Scenarios() {
  const Scenario bases[] = {
      {"digital", {{kt270::Connector::kDigital, Digital1680()}}},
      {"analogue", {{kt270::Connector::kAnalogA, Analogue1280()}}},
      {"pal-television", {{kt270::Connector::kTv, PalTelevision()}}, false, 800, 600, 50},
      {"no-monitor", {}},
  };
  std::vector<Scenario> out;
  for (bool aux : {false, true}) {
    for (Scenario s : bases) {
      s.aux = aux;
      s.name += aux ? "+aux" : "";
      out.push_back(s);
    }
  }
  return out;
}

Scenario EverythingAnswers() {
  return {"all-answer",
          {{kt270::Connector::kDigital, Digital1680()}, {kt270::Connector::kAnalogB, Analogue1280()}},
          true};
}

std::vector<Scenario> BenchScenarios() {
  std::vector<Scenario> out = Scenarios();
  out.push_back(EverythingAnswers());
  return out;
}

RunResult Run(const Scenario& scenario, bool fast, uint32_t tick_us) {
  return Run(scenario, fast ? std::vector<uint8_t>{1} : std::vector<uint8_t>{}, tick_us);
}

RunResult Run(const Scenario& scenario, const std::vector<uint8_t>& variable, uint32_t tick_us) {
  testsupport::RigOptions options;
  options.adapter.aux_present = scenario.aux;
  options.firmware.tick_us = tick_us;
  testsupport::Rig rig(options);
  rig.InstallPlatform(true, true);
  for (const Plugged& m : scenario.monitors) rig.Plug(m.connector, m.edid, m.ddc);
  if (!variable.empty()) {
    rig.fw().SetVariable(u"QuovanFastStart", kQuovanVariableGuid,
                         EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS, variable.data(),
                         variable.size());
  }
  RunResult r;
  rig.LoadDriver();
  rig.ClearTrace();
  uint64_t t0 = rig.fw().NowUs();
  rig.Connect();
  r.start_us = rig.fw().NowUs() - t0;
  EFI_UGA_DRAW_PROTOCOL* uga = rig.uga_draw();
  if (uga == nullptr) {
    r.problems.push_back("not started");
    return r;
  }
  t0 = rig.fw().NowUs();
  const uint64_t stalled = rig.fw().stalled_us();
  r.status = uga->SetMode(uga, scenario.width, scenario.height, 32, scenario.refresh);
  r.first_set_mode_us = rig.fw().NowUs() - t0;
  r.stall_us = rig.fw().stalled_us() - stalled;
  for (unsigned c = 0; c < 3; ++c) r.ddc[c] = rig.adapter().stats().ddc[c];
  if (!scenario.monitors.empty()) r.first_monitor = rig.adapter().Watch(scenario.monitors[0].connector).sync;
  r.trace = rig.trace();
  if (rig.Disconnect() != EFI_SUCCESS) r.problems.push_back("Stop failed");
  if (!rig.Leaks().clean()) r.problems.push_back("left " + rig.Leaks().Describe());
  if (!rig.fw().faults().empty()) r.problems.push_back(rig.fw().DescribeFaults());
  return r;
}

uint32_t Violations(const RunResult& run) {
  uint32_t n = 0;
  for (const kt270::DdcBusStats& bus : run.ddc) n += kt270::TimingViolations(bus);
  return n;
}

uint32_t Missed(const RunResult& run) {
  uint32_t n = 0;
  for (const kt270::DdcBusStats& bus : run.ddc) n += bus.missed;
  return n;
}

Figures Measure(const Scenario& scenario) {
  Figures f;
  f.design = Run(scenario, false);
  f.fast = Run(scenario, true);
  f.floor = Run(scenario, false, 1);
  double bits = 0;
  for (const kt270::DdcBusStats& bus : f.fast.ddc) bits += bus.pulses + bus.starts + bus.stops;
  f.bus_floor_us = static_cast<double>(f.floor.first_set_mode_us - f.floor.stall_us) + kBitTimeUs * bits;
  return f;
}

unsigned DdcChannelOf(const kt270::Access& access) {
  if (access.space != kt270::Space::kBar2 || access.offset < kGpioFirst ||
      access.offset >= kGpioFirst + 3 * kGpioStride) {
    return 0;
  }
  return static_cast<unsigned>((access.offset - kGpioFirst) / kGpioStride) + 1;
}

}  // namespace startup
