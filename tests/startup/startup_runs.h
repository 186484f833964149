// The first SetMode of a started adapter under either start-up policy, for
// the policy test and the start-up benchmark: scenarios, one run with its
// register trace and virtual times, and the DDC GPIO range of the trace.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "efi/efi.h"
#include "sim/adapter/kt270_model.h"

namespace startup {

struct Plugged {
  kt270::Connector connector;
  std::vector<uint8_t> edid;
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

struct RunResult {
  std::vector<kt270::Access> trace;  // from Start on
  uint64_t first_set_mode_us = 0;
  uint64_t start_us = 0;             // Connect
  EFI_STATUS status = EFI_SUCCESS;
  std::vector<std::string> problems;  // leaks, firmware faults
};

// tick_us: the firmware's timer tick (OVMF's is 10 ms; 1 makes every
// timer delay as long as it asks).
RunResult Run(const Scenario& scenario, bool fast, uint32_t tick_us = 10000);
// The same with the start-up variable holding these bytes (none: absent).
RunResult Run(const Scenario& scenario, const std::vector<uint8_t>& variable, uint32_t tick_us = 10000);

// DDC GPIO registers of channel 1..3, 0 for any other access.
unsigned DdcChannelOf(const kt270::Access& access);

}  // namespace startup
