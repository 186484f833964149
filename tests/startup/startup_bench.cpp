// The first SetMode's virtual time under both start-up policies, beside
// the floor: the design's accesses with every delay as long as it asks
// (a 1 us timer tick) and the DDC bit time as it is. Figures, not a test.
#include <cstdio>

#include "tests/startup/startup_runs.h"

int main() {
  std::vector<startup::Scenario> scenarios = startup::Scenarios();
  scenarios.push_back(startup::EverythingAnswers());
  std::printf("%-20s %12s %12s %12s %10s %10s\n", "scenario", "design ms", "fast ms", "floor ms", "design/fl",
              "fast/fl");
  bool ok = true;
  for (const startup::Scenario& s : scenarios) {
    startup::RunResult design = startup::Run(s, false);
    startup::RunResult fast = startup::Run(s, true);
    startup::RunResult floor = startup::Run(s, false, 1);
    ok = ok && design.problems.empty() && fast.problems.empty() && floor.problems.empty();
    double f = floor.first_set_mode_us;
    std::printf("%-20s %12.1f %12.1f %12.1f %10.2f %10.2f\n", s.name.c_str(), design.first_set_mode_us / 1000.0,
                fast.first_set_mode_us / 1000.0, f / 1000.0, design.first_set_mode_us / f, fast.first_set_mode_us / f);
  }
  return ok ? 0 : 1;
}
