// The fast start-up policy against the board's timing: the same register
// accesses in the same order, except for DDC transactions the fast policy
// does not make; the DDC traffic it does make identical where every
// transaction is answered; a shorter first SetMode, near the bus-limited
// floor; and both within the I2C standard mode's timing on every bus.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <tuple>

#include "tests/startup/startup_runs.h"

namespace startup {

// Scenarios by name in test failures.
void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

namespace {

auto Key(const kt270::Access& a) {
  return std::make_tuple(a.space, a.write, a.width, a.offset, a.value, a.count, a.stride, a.ok);
}

// Greedy: an access of the design's trace that the fast trace does not
// have next may be passed over only if it is a DDC line access.
bool IsDefaultLessDdc(const std::vector<kt270::Access>& design, const std::vector<kt270::Access>& fast,
                      std::string* why) {
  size_t j = 0;
  for (size_t i = 0; i < design.size(); ++i) {
    if (j < fast.size() && Key(design[i]) == Key(fast[j])) {
      ++j;
    } else if (DdcChannelOf(design[i]) == 0) {
      *why = "design access " + std::to_string(i) + " (offset 0x" + std::to_string(design[i].offset) +
             ") missing from the fast trace at " + std::to_string(j);
      return false;
    }
  }
  if (j != fast.size()) *why = "fast trace has " + std::to_string(fast.size() - j) + " accesses more";
  return j == fast.size();
}

std::vector<kt270::Access> OnChannel(const std::vector<kt270::Access>& trace, unsigned channel) {
  std::vector<kt270::Access> out;
  for (const kt270::Access& a : trace) {
    if (DdcChannelOf(a) == channel) out.push_back(a);
  }
  return out;
}

bool SameAccesses(const std::vector<kt270::Access>& a, const std::vector<kt270::Access>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Key(a[i]) != Key(b[i])) return false;
  }
  return true;
}

std::string NameOf(const ::testing::TestParamInfo<Scenario>& info) {
  std::string n = info.param.name;
  for (char& c : n) c = (c == '-' || c == '+') ? '_' : c;
  return n;
}

class PolicyTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(PolicyTest, FastMakesTheSameAccessesButSkippedTransactions) {
  const Scenario& s = GetParam();
  RunResult design = startup::Run(s, false);
  RunResult fast = startup::Run(s, true);
  EXPECT_TRUE(design.problems.empty()) << design.problems[0];
  EXPECT_TRUE(fast.problems.empty()) << fast.problems[0];
  EXPECT_EQ(design.status, fast.status);
  std::string why;
  EXPECT_TRUE(IsDefaultLessDdc(design.trace, fast.trace, &why)) << why;
  // A bus where every transaction is answered sees exactly the same traffic.
  if (s.aux) {
    EXPECT_TRUE(SameAccesses(OnChannel(design.trace, 3), OnChannel(fast.trace, 3)));
  }
  for (const Plugged& m : s.monitors) {
    unsigned channel = kt270::kConnectorChannel[static_cast<unsigned>(m.connector)];
    EXPECT_TRUE(SameAccesses(OnChannel(design.trace, channel), OnChannel(fast.trace, channel))) << channel;
  }
  EXPECT_LT(fast.first_set_mode_us, design.first_set_mode_us);
  std::printf("%-20s first SetMode: design %7.1f ms, fast %6.1f ms\n", s.name.c_str(),
              design.first_set_mode_us / 1000.0, fast.first_set_mode_us / 1000.0);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, PolicyTest, ::testing::ValuesIn(Scenarios()), NameOf);

class BusTiming : public ::testing::TestWithParam<Scenario> {};

TEST_P(BusTiming, NoViolationAndTheFastPolicyNearTheBusFloor) {
  Figures f = Measure(GetParam());
  for (const RunResult* r : {&f.design, &f.fast, &f.floor}) {
    EXPECT_EQ(Violations(*r), 0u);
    EXPECT_EQ(Missed(*r), 0u);
  }
  EXPECT_LE(f.fast.first_set_mode_us, 1.3 * f.bus_floor_us);
  if (GetParam().name == "digital") {
    EXPECT_LE(f.fast.first_set_mode_us, 20000u);
  }
}

INSTANTIATE_TEST_SUITE_P(Bench, BusTiming, ::testing::ValuesIn(BenchScenarios()), NameOf);

// A monitor whose DDC part needs a slower clock than a policy gives is not
// followed but cleanly not found: the bus keeps the standard mode, the part
// misses the clocks too short for it, SetMode goes on without it, and Stop
// leaves nothing (Run reports leaks as problems).
TEST(SlowDevice, IsNotFoundAndNothingIsLeft) {
  struct {
    bool fast;
    uint32_t low_us, high_us;
    bool found;
  } const rows[] = {
      {true, 5, 5, true},     // the fast policy's own clock
      {true, 6, 4, false},
      {true, 5, 6, false},
      {false, 30, 15, true},  // the board's: low 30, a written bit high 15
      {false, 31, 4, false},
      {false, 5, 16, false},
  };
  for (const auto& row : rows) {
    Scenario s = Scenarios()[0];
    s.monitors[0].ddc.min_clock_low_ns = row.low_us * 1000;
    s.monitors[0].ddc.min_clock_high_ns = row.high_us * 1000;
    RunResult r = startup::Run(s, row.fast);
    SCOPED_TRACE(testing::Message() << (row.fast ? "fast" : "board") << " low " << row.low_us << " high "
                                    << row.high_us);
    EXPECT_TRUE(r.problems.empty()) << r.problems[0];
    EXPECT_EQ(r.status, EFI_SUCCESS);
    EXPECT_EQ(r.first_monitor == kt270::Sync::kInSync, row.found);
    EXPECT_EQ(Violations(r), 0u);
    EXPECT_EQ(Missed(r) == 0, row.found);
  }
}

TEST(Policy, WhereEverythingAnswersTheTracesAreIdentical) {
  RunResult design = startup::Run(EverythingAnswers(), false);
  RunResult fast = startup::Run(EverythingAnswers(), true);
  EXPECT_TRUE(SameAccesses(design.trace, fast.trace));
  EXPECT_LT(fast.first_set_mode_us, design.first_set_mode_us);
}

// The variable's first byte decides, whatever its size: a value longer
// than the driver's first buffer is read again into one that holds it.
TEST(Policy, TheVariableIsReadWhateverItsSize) {
  const Scenario s = Scenarios()[0];
  const RunResult design = startup::Run(s, false), fast = startup::Run(s, true);
  ASSERT_NE(design.first_set_mode_us, fast.first_set_mode_us);
  std::vector<uint8_t> long_on(4096, 0), long_off(9, 1);
  long_on[0] = 2;
  long_off[0] = 0;
  struct Case {
    const char* what;
    std::vector<uint8_t> value;
    bool fast;
  };
  const Case cases[] = {
      {"absent", {}, false},           {"one byte 1", {1}, true},        {"one byte 0", {0}, false},
      {"nine bytes, first 1", {1, 0, 0, 0, 0, 0, 0, 0, 0}, true},     {"nine bytes, first 0", long_off, false},
      {"4096 bytes, first 2", long_on, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunResult r = startup::Run(s, c.value);
    EXPECT_TRUE(r.problems.empty()) << r.problems[0];
    EXPECT_EQ(c.fast ? fast.first_set_mode_us : design.first_set_mode_us, r.first_set_mode_us);
  }
}

}  // namespace
}  // namespace startup
