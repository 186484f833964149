#include "tools/kt270sim/scenario.h"

#include <cctype>
#include <cstdio>

#include "sim/adapter/kt270_pci_device.h"
#include "sim/firmware/firmware.h"
#include "sim/platform/platform_stand_in.h"
#include "tools/kt270sim/runner.h"

namespace kt270sim {
namespace {

using nlohmann::json;

[[noreturn]] void Bad(const std::string& field, const std::string& why) { throw ScenarioError(field + ": " + why); }

void Keys(const json& j, const std::string& field, std::initializer_list<const char*> allowed) {
  if (!j.is_object()) Bad(field, "expected an object");
  for (auto it = j.begin(); it != j.end(); ++it) {
    bool known = false;
    for (const char* k : allowed) known = known || it.key() == k;
    if (!known) Bad(field.empty() ? it.key() : field + "." + it.key(), "unknown key");
  }
}

std::string Sub(const std::string& field, const std::string& key) { return field.empty() ? key : field + "." + key; }

uint64_t HexNumber(const std::string& s, const std::string& field) {
  if (s.size() < 3 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X')) Bad(field, "expected a number or \"0x...\"");
  if (s.size() > 18) Bad(field, "out of range");
  uint64_t u = 0;
  for (size_t i = 2; i < s.size(); ++i) {
    char c = s[i];
    if (!std::isxdigit(static_cast<unsigned char>(c))) Bad(field, "bad hex number");
    u = u * 16 + static_cast<uint64_t>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c | 0x20) - 'a' + 10);
  }
  return u;
}

int64_t Integer(const json& j, const std::string& field, int64_t lo, int64_t hi) {
  int64_t v = 0;
  if (j.is_number_integer() && !j.is_number_unsigned()) {
    v = j.get<int64_t>();
  } else if (j.is_number_unsigned()) {
    uint64_t u = j.get<uint64_t>();
    if (u > static_cast<uint64_t>(INT64_MAX)) Bad(field, "out of range");
    v = static_cast<int64_t>(u);
  } else if (j.is_string()) {
    uint64_t u = HexNumber(j.get<std::string>(), field);
    if (u > static_cast<uint64_t>(INT64_MAX)) Bad(field, "out of range");
    v = static_cast<int64_t>(u);
  } else {
    Bad(field, "expected a number or \"0x...\"");
  }
  if (v < lo || v > hi) Bad(field, "out of range");
  return v;
}

// The whole 64-bit range (UINTN arguments, status codes).
uint64_t Word64(const json& j, const std::string& field) {
  if (j.is_number_unsigned()) return j.get<uint64_t>();
  if (j.is_string()) return HexNumber(j.get<std::string>(), field);
  return static_cast<uint64_t>(Integer(j, field, 0, INT64_MAX));
}

uint64_t Unsigned(const json& j, const std::string& field, uint64_t hi = UINT32_MAX) {
  return static_cast<uint64_t>(Integer(j, field, 0, static_cast<int64_t>(hi)));
}

bool Bool(const json& j, const std::string& field) {
  if (!j.is_boolean()) Bad(field, "expected true or false");
  return j.get<bool>();
}

std::string Text(const json& j, const std::string& field) {
  if (!j.is_string()) Bad(field, "expected a string");
  return j.get<std::string>();
}

std::vector<uint8_t> HexBytes(const json& j, const std::string& field) {
  std::string s = Text(j, field);
  std::string digits;
  for (char c : s) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) Bad(field, "not a hex byte string");
    digits += c;
  }
  if (digits.size() % 2 != 0) Bad(field, "odd number of hex digits");
  std::vector<uint8_t> out;
  for (size_t i = 0; i < digits.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return out;
}

EFI_GUID Guid(const json& j, const std::string& field) {
  EFI_GUID g{};
  if (!simplatform::ParseGuid(Text(j, field), &g)) Bad(field, "not a GUID");
  return g;
}

EFI_STATUS Status(const json& j, const std::string& field) {
  if (j.is_string()) {
    std::string s = j.get<std::string>();
    if (s.rfind("EFI_", 0) == 0) {
      if (s == "EFI_SUCCESS") return EFI_SUCCESS;
      for (uint64_t code = 1; code < 64; ++code) {
        if (StatusText(code | EFI_ERROR_BIT) == s) return code | EFI_ERROR_BIT;
        if (StatusText(code) == s) return code;
      }
      Bad(field, "unknown status name");
    }
  }
  return static_cast<EFI_STATUS>(Word64(j, field));
}

Wiring ParseWiring(const json& j, const std::string& field) {
  std::string s = Text(j, field);
  if (s == "TMDS") return Wiring::kTmds;
  if (s == "DAC A") return Wiring::kDacA;
  if (s == "DAC B") return Wiring::kDacB;
  if (s == "TV") return Wiring::kTv;
  Bad(field, "expected \"TMDS\", \"DAC A\", \"DAC B\" or \"TV\"");
}

// The board maker's television, as display discovery recognises one.
constexpr size_t kMaxEdidBytes = 32768;  // 128 segments of an E-DDC EEPROM

bool LooksLikeTelevision(const std::vector<uint8_t>& e) {
  return e.size() >= 128 && e[8] == 0x06 && e[9] == 0x10 && e[18] == 1 && e[19] == 3 &&
         (e[10] == 0x08 || e[10] == 0x0C) && e[11] == 0x9D;
}

// Which channel carries the DDC lines of each output's connector.
unsigned ChannelOf(Wiring w) {
  switch (w) {
    case Wiring::kTmds:
    case Wiring::kDacA: return 1;
    case Wiring::kDacB:
    case Wiring::kTv: return 2;
    default: return 0;
  }
}

DdcPlan ParseDevice(const json& j, const std::string& field, unsigned channel, const std::string& base_dir) {
  Keys(j, field, {"edid", "stretch_us", "nak_after", "aux", "output"});
  DdcPlan d;
  if (j.contains("edid")) {
    const json& e = j["edid"];
    if (e.is_object()) {
      Keys(e, Sub(field, "edid"), {"file"});
      if (!e.contains("file")) Bad(Sub(field, "edid"), "expected \"file\"");
      std::string path = Text(e["file"], Sub(field, "edid.file"));
      if (!path.empty() && path[0] != '/') path = base_dir + "/" + path;
      d.edid = kt270::LoadEdidFile(path);
      if (d.edid.empty()) Bad(Sub(field, "edid.file"), "missing or not an EDID: " + path);
    } else {
      d.edid = HexBytes(e, Sub(field, "edid"));
    }
    // The EEPROM holds what it is given, whatever byte 126 claims.
    if (d.edid.empty() || d.edid.size() > kMaxEdidBytes) Bad(Sub(field, "edid"), "expected 1 to 32768 bytes");
  }
  if (j.contains("stretch_us")) d.stretch_us = static_cast<uint32_t>(Unsigned(j["stretch_us"], Sub(field, "stretch_us")));
  if (j.contains("nak_after")) d.nak_after = static_cast<int32_t>(Integer(j["nak_after"], Sub(field, "nak_after"), -1, INT32_MAX));
  if (j.contains("aux")) d.aux = Bool(j["aux"], Sub(field, "aux"));
  if (j.contains("output")) {
    d.output = ParseWiring(j["output"], Sub(field, "output"));
    if (ChannelOf(d.output) != channel) {
      Bad(Sub(field, "output"), std::string("the board wires ") + WiringName(d.output) + "'s connector to DDC channel " +
                                    std::to_string(ChannelOf(d.output)));
    }
  } else if (channel == 1) {
    d.output = d.edid.size() > 20 && (d.edid[20] & 0x80) ? Wiring::kTmds : Wiring::kDacA;
  } else if (channel == 2) {
    d.output = LooksLikeTelevision(d.edid) ? Wiring::kTv : Wiring::kDacB;
  }
  if (d.output != Wiring::kNone && d.edid.empty()) Bad(Sub(field, "edid"), "a monitor needs an EDID");
  return d;
}

unsigned Channel(const json& j, const std::string& field) {
  uint64_t c = 0;
  if (j.is_string()) {
    std::string s = j.get<std::string>();
    if (s == "1" || s == "2" || s == "3") c = static_cast<unsigned>(s[0] - '0');
  } else if (j.is_number_unsigned()) {
    c = j.get<uint64_t>();
  }
  if (c < 1 || c > 3) Bad(field, "expected DDC channel \"1\", \"2\" or \"3\"");
  return static_cast<unsigned>(c);
}

std::optional<BufferPlan> ParseBuffer(const json& j, const std::string& field) {
  if (j.is_null() || (j.is_string() && j.get<std::string>() == "null")) return std::nullopt;
  Keys(j, field, {"width", "height", "pixel", "pattern"});
  BufferPlan b;
  if (!j.contains("width") || !j.contains("height")) Bad(field, "expected width and height");
  b.width = static_cast<uint32_t>(Unsigned(j["width"], Sub(field, "width"), 16384));
  b.height = static_cast<uint32_t>(Unsigned(j["height"], Sub(field, "height"), 16384));
  if (uint64_t{b.width} * b.height * 4 > kMaxBufferBytes) Bad(field, "larger than 256 MiB");
  if (j.contains("pixel")) b.pixel = static_cast<uint32_t>(Unsigned(j["pixel"], Sub(field, "pixel"), 0xFFFFFF));
  if (j.contains("pattern")) {
    b.pattern = Text(j["pattern"], Sub(field, "pattern"));
    if (b.pattern != "gradient" && b.pattern != "checker" && b.pattern != "solid") {
      Bad(Sub(field, "pattern"), "expected \"solid\", \"gradient\" or \"checker\"");
    }
  }
  return b;
}

uint64_t ParseOperation(const json& j, const std::string& field) {
  if (j.is_string()) {
    std::string s = j.get<std::string>();
    for (uint64_t op = 0; op < 4; ++op) {
      if (s == BltOperationName(op)) return op;
    }
    if (s.rfind("0x", 0) != 0) Bad(field, "unknown Blt operation");
  }
  return Word64(j, field);
}

StepPlan ParseStep(const json& j, const std::string& field, const std::string& base_dir) {
  if (!j.is_object() || !j.contains("op")) Bad(field, "expected an object with \"op\"");
  StepPlan s;
  s.op = Text(j["op"], Sub(field, "op"));
  auto u32 = [&](const char* key, uint32_t* out) {
    if (j.contains(key)) *out = static_cast<uint32_t>(Unsigned(j[key], Sub(field, key)));
  };
  // Blt coordinates and sizes are UINTN: the whole 64-bit range is allowed.
  auto un = [&](const char* key, uint64_t* out) {
    if (j.contains(key)) *out = Word64(j[key], Sub(field, key));
  };
  if (s.op == "SetMode") {
    Keys(j, field, {"op", "width", "height", "depth", "refresh"});
    if (!j.contains("width") || !j.contains("height")) Bad(field, "SetMode needs width and height");
    u32("width", &s.width);
    u32("height", &s.height);
    u32("depth", &s.depth);
    u32("refresh", &s.refresh);
  } else if (s.op == "GopQueryMode" || s.op == "GopSetMode") {
    Keys(j, field, {"op", "mode"});
    if (!j.contains("mode")) Bad(field, s.op + " needs a mode");
    s.mode = Unsigned(j["mode"], Sub(field, "mode"), 0xFFFFFFFFu);
  } else if (s.op == "Blt" || s.op == "GopBlt") {
    Keys(j, field, {"op", "operation", "sx", "sy", "dx", "dy", "width", "height", "delta", "buffer"});
    if (!j.contains("operation")) Bad(field, s.op + " needs an operation");
    s.operation = ParseOperation(j["operation"], Sub(field, "operation"));
    un("sx", &s.sx);
    un("sy", &s.sy);
    un("dx", &s.dx);
    un("dy", &s.dy);
    un("width", &s.blt_width);
    un("height", &s.blt_height);
    un("delta", &s.delta);
    if (j.contains("buffer")) s.buffer = ParseBuffer(j["buffer"], Sub(field, "buffer"));
    // A rectangle wider or taller than any mode is refused before the
    // buffer is touched; any other may really reach that far into it.
    constexpr uint64_t kNoMode = 65536;
    if (s.buffer && s.blt_width <= kNoMode && s.blt_height <= kNoMode && BufferExtent(s) > kMaxBufferBytes) {
      Bad(Sub(field, "buffer"), "the Blt can reach more than 256 MiB into its buffer");
    }
  } else if (s.op == "GetMode" || s.op == "Query" || s.op == "Supported" || s.op == "Start" || s.op == "Stop" ||
             s.op == "GopEdid") {
    Keys(j, field, {"op"});
  } else if (s.op == "SetInfo") {
    Keys(j, field, {"op", "key", "data", "size"});
    if (!j.contains("key")) Bad(field, "SetInfo needs a key");
    s.key = Guid(j["key"], Sub(field, "key"));
    if (j.contains("data")) s.data = HexBytes(j["data"], Sub(field, "data"));
    s.size = s.data.size();
    if (j.contains("size")) s.size = Unsigned(j["size"], Sub(field, "size"), 1u << 20);
  } else if (s.op == "GetInfo") {
    Keys(j, field, {"op", "key", "size"});
    if (!j.contains("key")) Bad(field, "GetInfo needs a key");
    s.key = Guid(j["key"], Sub(field, "key"));
    if (j.contains("size")) s.size = Unsigned(j["size"], Sub(field, "size"), 1u << 20);
  } else if (s.op == "GetDriverName" || s.op == "GetControllerName") {
    if (s.op == "GetDriverName") {
      Keys(j, field, {"op", "language", "protocol"});
    } else {
      Keys(j, field, {"op", "language", "child", "protocol"});
      if (j.contains("child")) s.child = Bool(j["child"], Sub(field, "child"));
    }
    if (j.contains("language")) s.language = Text(j["language"], Sub(field, "language"));
    if (j.contains("protocol")) {
      std::string protocol = Text(j["protocol"], Sub(field, "protocol"));
      if (protocol != "ComponentName" && protocol != "ComponentName2") {
        Bad(Sub(field, "protocol"), "expected \"ComponentName\" or \"ComponentName2\"");
      }
      s.component_name2 = protocol == "ComponentName2";
    }
  } else if (s.op == "Attach") {
    Keys(j, field, {"op", "channel", "device"});
    if (!j.contains("channel")) Bad(field, "Attach needs a channel");
    s.channel = Channel(j["channel"], Sub(field, "channel"));
    if (j.contains("device") && !j["device"].is_null()) {
      s.device = ParseDevice(j["device"], Sub(field, "device"), s.channel, base_dir);
    }
  } else {
    Bad(Sub(field, "op"), "unknown op \"" + s.op + "\"");
  }
  return s;
}

}  // namespace

uint64_t BufferExtent(const StepPlan& s) {
  uint64_t w = s.blt_width, h = s.blt_height;
  if (w == 0 || h == 0) return 0;
  uint64_t delta = 0, end = 0, rows = 0, last = 0;
  auto rect = [&](uint64_t x, uint64_t y) -> uint64_t {
    if (s.delta != 0) {
      delta = s.delta;
    } else if (__builtin_mul_overflow(w, 4, &delta)) {
      return UINT64_MAX;
    }
    if (__builtin_add_overflow(y, h - 1, &last) || __builtin_mul_overflow(last, delta, &rows) ||
        __builtin_add_overflow(x, w, &end) || __builtin_mul_overflow(end, 4, &end) ||
        __builtin_add_overflow(rows, end, &end)) {
      return UINT64_MAX;
    }
    return end;
  };
  switch (s.operation) {
    case 0:  // one pixel, rows counted in Width pixels
      if (__builtin_mul_overflow(s.sy, w, &end) || __builtin_add_overflow(end, s.sx + 1, &end) || s.sx == UINT64_MAX ||
          __builtin_mul_overflow(end, 4, &end)) {
        return UINT64_MAX;
      }
      return end;
    case 1: return rect(s.dx, s.dy);
    case 2: return rect(s.sx, s.sy);
    default: return 0;
  }
}

const char* BltOperationName(uint64_t operation) {
  static const char* const kNames[] = {"VideoFill", "VideoToBltBuffer", "BltBufferToVideo", "VideoToVideo"};
  return operation < 4 ? kNames[operation] : "";
}

const char* WiringName(Wiring wiring) {
  switch (wiring) {
    case Wiring::kTmds: return "TMDS";
    case Wiring::kDacA: return "DAC A";
    case Wiring::kDacB: return "DAC B";
    case Wiring::kTv: return "TV";
    default: return "none";
  }
}

std::string StatusText(EFI_STATUS status) {
  std::string name = sim::StatusName(status);
  if (name.rfind("EFI_", 0) == 0) return name;
  static const char* const kWarnings[] = {nullptr, "EFI_WARN_UNKNOWN_GLYPH", "EFI_WARN_DELETE_FAILURE",
                                          "EFI_WARN_WRITE_FAILURE", "EFI_WARN_BUFFER_TOO_SMALL"};
  if (status >= 1 && status <= 4) return kWarnings[status];
  switch (status) {
    case EFI_ERROR_BIT | 28: return "EFI_END_OF_MEDIA";
    case EFI_ERROR_BIT | 31: return "EFI_END_OF_FILE";
    case EFI_ERROR_BIT | 32: return "EFI_INVALID_LANGUAGE";
    case EFI_ERROR_BIT | 33: return "EFI_COMPROMISED_DATA";
    default: break;
  }
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%016llX", static_cast<unsigned long long>(status));
  return buf;
}

std::string Hex(const uint8_t* bytes, size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    s += kDigits[bytes[i] >> 4];
    s += kDigits[bytes[i] & 15];
  }
  return s;
}

Scenario ParseScenario(const json& j, const std::string& base_dir) {
  if (!j.is_object()) Bad("(scenario)", "expected a JSON object");
  Keys(j, "", {"adapter", "ddc", "platform", "variables", "faults", "start", "steps"});
  Scenario s;
  kt270::Config& c = s.config;
  c = kt270::DefaultConfig();
  c.bar[0] = 0xC0000008;
  c.bar[1] = 0x0000C001;
  c.bar[2] = 0xD0000000;
  c.strap = c.hwgpio = c.swgpio = 0;
  c.fb_size = 0x02000000;
  c.engine_busy_reads = 0;
  c.pll_locks = true;
  c.mc_idle = kt270::McIdle::kAlways;
  c.aux_present = false;

  if (j.contains("adapter")) {
    const json& a = j["adapter"];
    Keys(a, "adapter", {"vendor_id", "device_id", "bar0", "bar1", "bar2", "strap", "hwgpio", "swgpio", "fb_size",
                        "engine_busy_reads", "pll_locks", "mc_idle"});
    if (a.contains("vendor_id")) c.vendor_id = static_cast<uint16_t>(Unsigned(a["vendor_id"], "adapter.vendor_id", 0xFFFF));
    if (a.contains("device_id")) c.device_id = static_cast<uint16_t>(Unsigned(a["device_id"], "adapter.device_id", 0xFFFF));
    if (a.contains("bar0")) c.bar[0] = static_cast<uint32_t>(Unsigned(a["bar0"], "adapter.bar0"));
    if (a.contains("bar1")) c.bar[1] = static_cast<uint32_t>(Unsigned(a["bar1"], "adapter.bar1"));
    if (a.contains("bar2")) c.bar[2] = static_cast<uint32_t>(Unsigned(a["bar2"], "adapter.bar2"));
    if (a.contains("strap")) c.strap = static_cast<uint32_t>(Unsigned(a["strap"], "adapter.strap"));
    if (a.contains("hwgpio")) c.hwgpio = static_cast<uint32_t>(Unsigned(a["hwgpio"], "adapter.hwgpio"));
    if (a.contains("swgpio")) c.swgpio = static_cast<uint32_t>(Unsigned(a["swgpio"], "adapter.swgpio"));
    if (a.contains("fb_size")) {
      uint64_t size = Unsigned(a["fb_size"], "adapter.fb_size", 0x40000000);
      if (size < 0x10000 || (size & (size - 1)) != 0) Bad("adapter.fb_size", "must be a power of two, 64 KiB or more");
      c.fb_size = static_cast<uint32_t>(size);
    }
    if (a.contains("engine_busy_reads")) {
      c.engine_busy_reads = static_cast<int32_t>(Integer(a["engine_busy_reads"], "adapter.engine_busy_reads", -1, INT32_MAX));
    }
    if (a.contains("pll_locks")) c.pll_locks = Bool(a["pll_locks"], "adapter.pll_locks");
    if (a.contains("mc_idle")) c.mc_idle = Bool(a["mc_idle"], "adapter.mc_idle") ? kt270::McIdle::kAlways : kt270::McIdle::kNever;
  }

  if (j.contains("ddc")) {
    const json& d = j["ddc"];
    if (!d.is_object()) Bad("ddc", "expected an object keyed \"1\", \"2\", \"3\"");
    for (auto it = d.begin(); it != d.end(); ++it) {
      std::string field = "ddc." + it.key();
      if (it.key() != "1" && it.key() != "2" && it.key() != "3") Bad(field, "unknown key");
      unsigned channel = static_cast<unsigned>(it.key()[0] - '0');
      if (it.value().is_null()) {
        s.ddc[channel] = std::nullopt;
      } else {
        DdcPlan plan = ParseDevice(it.value(), field, channel, base_dir);
        // The auxiliary device exists on channel 3 only; elsewhere "aux" means nothing.
        if (channel != 3) plan.aux = false;
        if (plan.aux) c.aux_present = true;
        s.ddc[channel] = plan;
      }
    }
  }

  if (j.contains("platform")) {
    const json& p = j["platform"];
    Keys(p, "platform", {"property_database", "platform_services", "values"});
    if (p.contains("property_database")) s.property_database = Bool(p["property_database"], "platform.property_database");
    if (p.contains("platform_services")) s.platform_services = Bool(p["platform_services"], "platform.platform_services");
    if (p.contains("values")) {
      if (!p["values"].is_object()) Bad("platform.values", "expected an object of GUID -> value");
      for (auto it = p["values"].begin(); it != p["values"].end(); ++it) {
        std::string field = "platform.values." + it.key();
        s.values.emplace_back(Guid(json(it.key()), field), static_cast<uint32_t>(Unsigned(it.value(), field)));
      }
    }
  }

  if (j.contains("variables")) {
    if (!j["variables"].is_object()) Bad("variables", "expected an object of name -> hex bytes");
    for (auto it = j["variables"].begin(); it != j["variables"].end(); ++it) {
      std::u16string name(it.key().begin(), it.key().end());
      s.variables.emplace_back(name, HexBytes(it.value(), "variables." + it.key()));
    }
  }

  if (j.contains("faults")) {
    if (!j["faults"].is_array()) Bad("faults", "expected a list");
    for (size_t i = 0; i < j["faults"].size(); ++i) {
      const json& f = j["faults"][i];
      std::string field = "faults[" + std::to_string(i) + "]";
      Keys(f, field, {"call", "nth", "status"});
      if (!f.contains("call") || !f.contains("nth") || !f.contains("status")) Bad(field, "needs call, nth and status");
      FaultPlan plan{Text(f["call"], field + ".call"), Unsigned(f["nth"], field + ".nth", UINT64_MAX >> 1),
                     Status(f["status"], field + ".status")};
      if (plan.nth == 0) Bad(field + ".nth", "counts from 1");
      s.faults.push_back(plan);
    }
  }

  if (j.contains("start")) s.start = Bool(j["start"], "start");

  if (j.contains("steps")) {
    if (!j["steps"].is_array()) Bad("steps", "expected a list");
    for (size_t i = 0; i < j["steps"].size(); ++i) {
      s.steps.push_back(ParseStep(j["steps"][i], "steps[" + std::to_string(i) + "]", base_dir));
    }
  }
  return s;
}

}  // namespace kt270sim
