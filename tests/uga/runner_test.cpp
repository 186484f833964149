// The runner's own contract: malformed scenarios are refused before
// anything runs, naming the field; faults, leaks and the trace format.
#include <fstream>
#include <regex>

#include "uga_scenarios.h"

namespace ugatest {
namespace {

std::string Refusal(const json& scenario) {
  try {
    Simulate(scenario);
  } catch (const kt270sim::ScenarioError& e) {
    return e.what();
  }
  return "(accepted)";
}

TEST(Runner, MalformedScenariosNameTheField) {
  EXPECT_EQ(Refusal({{"colour", 1}}), "colour: unknown key");
  EXPECT_EQ(Refusal({{"adapter", {{"fb_size", "0x3000"}}}}), "adapter.fb_size: must be a power of two, 64 KiB or more");
  EXPECT_EQ(Refusal({{"ddc", {{"1", {{"edid", "00 FF 1"}}}}}}), "ddc.1.edid: odd number of hex digits");
  EXPECT_EQ(Refusal({{"ddc", {{"1", {{"edid", Hex(Panel1024())}, {"output", "TV"}}}}}}),
            "ddc.1.output: the board wires TV's connector to DDC channel 2");
  EXPECT_EQ(Refusal({{"faults", {{{"call", "AllocatePool"}, {"nth", 1}, {"status", "EFI_NOPE"}}}}}),
            "faults[0].status: unknown status name");
  EXPECT_EQ(Refusal({{"steps", {{{"op", "Dance"}}}}}), "steps[0].op: unknown op \"Dance\"");
  EXPECT_EQ(Refusal({{"steps", {SetMode(1, 1), {{"op", "Blt"}, {"operation", "Sideways"}}}}}),
            "steps[1].operation: unknown Blt operation");
  EXPECT_EQ(Refusal({{"platform", {{"values", {{"not-a-guid", 1}}}}}}), "platform.values.not-a-guid: not a GUID");
}

TEST(Runner, AFailedStartLeavesNothingAndLaterStepsSayNotStarted) {
  json r = Simulate({{"faults", {{{"call", "AllocatePool"}, {"nth", 1}, {"status", "EFI_OUT_OF_RESOURCES"}}}},
                {"steps", {SetMode(800, 600)}}})
               .result;
  EXPECT_EQ(r["start"]["supported"], "EFI_SUCCESS");
  EXPECT_EQ(r["start"]["start"], "EFI_OUT_OF_RESOURCES");
  EXPECT_EQ(r["steps"][0]["status"], "EFI_NOT_STARTED");
  EXPECT_EQ(r["leaks"], json({{"pool", 0}, {"events", 0}, {"protocols", 0}}));
}

TEST(Runner, StopReleasesEverythingAfterAModeSetAndDrawing) {
  json r = Simulate({{"ddc", {{"1", Monitor(Panel1680(), "TMDS")}}},
                {"steps", {SetMode(1024, 768), Fill({0, 0, 100, 100}, 0xFF0000), {{"op", "Stop"}}, GetMode()}}})
               .result;
  EXPECT_EQ(r["steps"][2]["status"], "EFI_SUCCESS");
  EXPECT_EQ(r["steps"][3]["status"], "EFI_NOT_STARTED");
  EXPECT_EQ(r["leaks"], json({{"pool", 0}, {"events", 0}, {"protocols", 0}}));
  EXPECT_EQ(r["outputs"]["TMDS"]["monitor"], "no signal");
  EXPECT_GT(r["pci_io_calls"].get<uint64_t>(), 0u);
  EXPECT_GT(r["time_us"].get<uint64_t>(), 0u);
  EXPECT_EQ(r["registers"]["0x6080"], "0x01000000");
}

TEST(Runner, TraceLinesFollowTheInterface) {
  std::string path = ::testing::TempDir() + "uga_runner.trace";
  kt270sim::RunOptions options;
  options.trace_path = path;
  Simulate({{"steps", {SetMode(800, 600), Fill({0, 0, 8, 8}, 1), Read({0, 0, 8, 2})}}}, options);
  std::ifstream in(path);
  std::regex line(R"(\d+ [RW](8|16|32|64) (cfg|bar0|bar2) 0x[0-9A-F]{5,} 0x[0-9A-F]+( x\d+)?)");
  size_t n = 0, counted = 0;
  bool config_first = false;
  for (std::string l; std::getline(in, l); ++n) {
    ASSERT_TRUE(std::regex_match(l, line)) << l;
    if (n == 0) config_first = l.find(" cfg ") != std::string::npos;
    if (l.find(" R32 bar0 ") != std::string::npos && l.find(" x8") != std::string::npos) ++counted;
  }
  EXPECT_TRUE(config_first);
  EXPECT_EQ(counted, 2u);
}

TEST(Runner, DemoRunsCleanAndShowsItsPicture) {
  kt270sim::RunOutcome o = Simulate(kt270sim::DemoScenario());
  for (const json& s : o.result["steps"]) EXPECT_EQ(s["status"], "EFI_SUCCESS") << s.dump();
  EXPECT_EQ(o.result["outputs"]["TMDS"]["monitor"], "in sync");
  ASSERT_NE(Find(o.screens, "tmds"), nullptr);
  EXPECT_NE(kt270sim::Summary(o).find("monitor in sync"), std::string::npos);
}

}  // namespace
}  // namespace ugatest
