// The scenario runner behind kt270sim: the driver, unchanged, on the host
// firmware stand-in with the adapter model, its monitors and the platform
// stand-ins, driven through a scenario; the result is the JSON object the
// command prints, plus the pictures for screenshots and tests.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace sim {
class Firmware;
}

namespace kt270sim {

// A malformed scenario; what() names the offending field first.
class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// 0x00RRGGBB pixels, row by row.
struct Picture {
  std::string name;  // "tmds", "dac-a", "dac-b", "tv" (monitor views) or "crtc1", "crtc2" (sources)
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint32_t> pixels;
};

struct RunOptions {
  std::string base_dir = ".";  // EDID files are relative to it
  std::string trace_path;      // empty: no trace
  // For tests: called before step N with the driver's adapter context
  // (nullptr while the controller carries no UGA Draw).
  std::function<void(void* context, size_t step)> before_step;
  // For tests: the same moment, with the firmware stand-in (to fail a call
  // of the step that follows).
  std::function<void(sim::Firmware& firmware, size_t step)> before_step_firmware;
};

struct RunOutcome {
  nlohmann::json result;
  std::vector<Picture> screens;  // what each in-sync monitor shows
  std::vector<Picture> sources;  // each CRTC's source picture, when it has one
  // The buffer of each VideoToBltBuffer step after the call, in step order.
  std::vector<std::vector<uint8_t>> read_back;
};

// Throws ScenarioError before anything runs when the scenario is malformed;
// other exceptions are internal failures.
RunOutcome RunScenario(const nlohmann::json& scenario, const RunOptions& options);

// The BGRX bytes a Blt "buffer" holds before the call.
std::vector<uint8_t> PatternBytes(uint32_t width, uint32_t height, const std::string& pattern, uint32_t pixel);

// The built-in demonstration scenario.
nlohmann::json DemoScenario();

// Writes DIR/screen-<name>.png for every screen, DIR/source-<name>.png for
// every source and DIR/result.json; returns the files written.
std::vector<std::string> WriteArtifacts(const std::string& dir, const RunOutcome& outcome);
bool WritePng(const std::string& path, const Picture& picture);

// A few lines for people: monitor verdicts, mode, properties, time.
std::string Summary(const RunOutcome& outcome);

}  // namespace kt270sim
