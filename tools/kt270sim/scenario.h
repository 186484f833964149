// A scenario read and checked whole before anything runs: every field is
// validated here, so a malformed scenario never half-runs.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "efi/efi.h"
#include "sim/adapter/kt270_model.h"

namespace kt270sim {

enum class Wiring : uint8_t { kNone, kTmds, kDacA, kDacB, kTv };

struct DdcPlan {
  std::vector<uint8_t> edid;
  uint32_t stretch_us = 0;
  int32_t nak_after = -1;
  bool aux = false;
  Wiring output = Wiring::kNone;
};

struct FaultPlan {
  std::string call;
  uint64_t nth;
  EFI_STATUS status;
};

struct BufferPlan {
  uint32_t width = 0, height = 0;
  uint32_t pixel = 0;       // 0xRRGGBB
  std::string pattern;      // "", "gradient", "checker"
};

struct StepPlan {
  std::string op;
  // SetMode
  uint32_t width = 0, height = 0, depth = 32, refresh = 60;
  // Blt
  uint64_t operation = 0;
  uint64_t sx = 0, sy = 0, dx = 0, dy = 0, delta = 0;
  uint64_t blt_width = 0, blt_height = 0;
  std::optional<BufferPlan> buffer;
  // SetInfo / GetInfo
  EFI_GUID key{};
  std::vector<uint8_t> data;
  uint64_t size = 0;
  // name look-ups
  std::string language = "eng";
  bool child = false;
  bool component_name2 = false;  // "protocol": "ComponentName2"
  // GopQueryMode / GopSetMode
  uint64_t mode = 0;
  // Attach
  unsigned channel = 0;
  std::optional<DdcPlan> device;
};

struct Scenario {
  kt270::Config config;
  std::map<unsigned, std::optional<DdcPlan>> ddc;  // channel -> device (nullopt: nothing attached)
  bool property_database = true;
  bool platform_services = true;
  std::vector<std::pair<EFI_GUID, uint32_t>> values;
  std::vector<std::pair<std::u16string, std::vector<uint8_t>>> variables;
  std::vector<FaultPlan> faults;
  bool start = true;
  std::vector<StepPlan> steps;
};

// The most a Blt step may reach into the buffer the runner allocates.
constexpr uint64_t kMaxBufferBytes = 256ull << 20;
// The bytes of BltBuffer a Blt can touch (UINT64_MAX when that overflows),
// so the runner's buffer is never overrun whatever the scenario asks.
uint64_t BufferExtent(const StepPlan& step);

Scenario ParseScenario(const nlohmann::json& j, const std::string& base_dir);

// Blt operation names, EFI status names, hex text.
const char* BltOperationName(uint64_t operation);
std::string StatusText(EFI_STATUS status);
std::string Hex(const uint8_t* bytes, size_t size);
inline std::string Hex(const std::vector<uint8_t>& bytes) { return Hex(bytes.data(), bytes.size()); }
const char* WiringName(Wiring wiring);

}  // namespace kt270sim
