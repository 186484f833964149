// The first SetMode of a started adapter under either start-up policy, for
// the policy test and the start-up benchmark: scenarios, one run with its
// register trace and virtual times, and the DDC GPIO range of the trace.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "efi/efi.h"
#include "sim/adapter/kt270_model.h"

namespace startup {

struct Plugged {
  kt270::Connector connector;
  std::vector<uint8_t> edid;
  kt270::I2cFaults ddc = kt270::NoFaults();
};

struct Scenario {
  std::string name;
  std::vector<Plugged> monitors;
  bool aux = false;
  uint32_t width = 1024, height = 768, refresh = 60;
};

// Digital 1680x1050, analogue 1280x1024, a PAL television, no monitor;
// each without and with the auxiliary device.
std::vector<Scenario> Scenarios();
// A digital monitor on channel 1, an analogue one on channel 2 and the
// auxiliary device: every bus transaction of the start-up is answered.
Scenario EverythingAnswers();
// What `make bench` measures: Scenarios() and EverythingAnswers().
std::vector<Scenario> BenchScenarios();

struct RunResult {
  std::vector<kt270::Access> trace;  // from Start on
  uint64_t first_set_mode_us = 0;
  uint64_t stall_us = 0;             // of it in Boot Services Stall
  uint64_t start_us = 0;             // Connect
  EFI_STATUS status = EFI_SUCCESS;
  kt270::Sync first_monitor = kt270::Sync::kNoSignal;  // what the first plugged monitor shows
  std::array<kt270::DdcBusStats, 3> ddc{};  // the model's buses after the first SetMode
  std::vector<std::string> problems;  // leaks, firmware faults
};

// tick_us: the firmware's timer tick (OVMF's is 10 ms; 1 makes every
// timer delay as long as it asks).
RunResult Run(const Scenario& scenario, bool fast, uint32_t tick_us = 10000);
// The same with the start-up variable holding these bytes (none: absent).
RunResult Run(const Scenario& scenario, const std::vector<uint8_t>& variable, uint32_t tick_us = 10000);

// Timing violations and missed clocks or conditions on all three buses.
uint32_t Violations(const RunResult& run);
uint32_t Missed(const RunResult& run);

// The first SetMode under both policies beside two floors: `floor`, the
// board's timing with every delay as long as it asks (a 1 us tick) and the
// DDC bit time as it is; and the bus-limited floor, the engine's delays as
// asked (that run's time outside Stall, where only the DDC bus waits) plus
// every clock, START and STOP the fast run put on the buses at 100 kHz.
struct Figures {
  RunResult design, fast, floor;
  double bus_floor_us = 0;
};
Figures Measure(const Scenario& scenario);

// DDC GPIO registers of channel 1..3, 0 for any other access.
unsigned DdcChannelOf(const kt270::Access& access);

}  // namespace startup
