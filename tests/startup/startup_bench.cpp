// The first SetMode's virtual time under both start-up policies, beside
// the floor (the board's timing with every delay as long as it asks) and
// the bus-limited floor (the engine's delays as asked, the fast run's bus
// traffic at 100 kHz). Figures, not a test.
#include <cstdio>

#include "tests/startup/startup_runs.h"

int main() {
  std::printf("%-20s %10s %8s %9s %10s %10s %8s %10s\n", "scenario", "design ms", "fast ms", "floor ms", "design/fl",
              "fast/fl", "bus ms", "fast/bus");
  bool ok = true;
  for (const startup::Scenario& s : startup::BenchScenarios()) {
    startup::Figures m = startup::Measure(s);
    ok = ok && m.design.problems.empty() && m.fast.problems.empty() && m.floor.problems.empty();
    double design = m.design.first_set_mode_us, fast = m.fast.first_set_mode_us, floor = m.floor.first_set_mode_us;
    std::printf("%-20s %10.1f %8.1f %9.1f %10.2f %10.2f %8.1f %10.2f\n", s.name.c_str(), design / 1000, fast / 1000,
                floor / 1000, design / floor, fast / floor, m.bus_floor_us / 1000, fast / m.bus_floor_us);
  }
  return ok ? 0 : 1;
}
