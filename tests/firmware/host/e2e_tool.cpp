// Host side of the end-to-end firmware runs.
//
//   e2e_tool scenario OUT.scn NAME=SCENARIO.json...
//       reads scenarios in the kt270sim vocabulary (with kt270sim's own
//       parser, so a scenario means the same in both) and writes the compact
//       file that KtE2e.efi reads from the ESP, one configuration per NAME
//   e2e_tool png IN.ppm OUT.png
//       converts QEMU's screendump to PNG and prints its size and the FNV-1a
//       hash of its pixels (the one KtE2e.efi reports for the picture it
//       copied onto the display)
//   e2e_tool report WORKDIR CONFIG OUT.json
//       the short report of an ovmf_e2e.sh run for one configuration: the
//       monitor's verdict, the mode, the properties the OS would receive,
//       the measured times (firmware and host stand-in), the screenshot;
//       prints a human summary
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <png.h>

#include "tools/kt270sim/scenario.h"

namespace {

using kt270sim::Hex;

int Scenario(int argc, char** argv) {
  if (argc < 4) return 2;
  std::ostringstream out;
  out << "# written by e2e_tool from the kt270sim scenarios\n";
  for (int i = 3; i < argc; ++i) {
    std::string arg = argv[i];
    size_t eq = arg.find('=');
    if (eq == std::string::npos) {
      std::fprintf(stderr, "e2e_tool: %s: expected NAME=FILE\n", argv[i]);
      return 2;
    }
    std::string name = arg.substr(0, eq), path = arg.substr(eq + 1);
    std::ifstream f(path);
    std::string dir = path.find('/') == std::string::npos ? "." : path.substr(0, path.rfind('/'));
    kt270sim::Scenario s;
    try {
      s = kt270sim::ParseScenario(nlohmann::json::parse(f), dir);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "e2e_tool: %s: %s\n", path.c_str(), e.what());
      return 2;
    }
    out << "config " << name << "\n";
    char line[64];
    std::snprintf(line, sizeof line, "adapter %x %x %x\n", s.config.strap, s.config.hwgpio, s.config.swgpio);
    out << line;
    for (const auto& [channel, device] : s.ddc) {
      if (!device || device->edid.empty()) continue;
      const kt270sim::DdcPlan& d = *device;
      if (d.stretch_us || d.nak_after >= 0) {
        std::fprintf(stderr, "e2e_tool: %s: DDC faults are not carried into firmware runs\n", path.c_str());
        return 2;
      }
      int connector = -1;
      switch (d.output) {
        case kt270sim::Wiring::kTmds: connector = 0; break;
        case kt270sim::Wiring::kDacA: connector = 1; break;
        case kt270sim::Wiring::kDacB: connector = 2; break;
        case kt270sim::Wiring::kTv: connector = 3; break;
        case kt270sim::Wiring::kNone: break;
      }
      if (connector < 0)
        out << "raw " << channel << " " << Hex(d.edid) << "\n";
      else
        out << "monitor " << connector << " " << Hex(d.edid) << "\n";
    }
    out << "platform " << (s.property_database ? 1 : 0) << " " << (s.platform_services ? 1 : 0) << "\n";
    for (const auto& [key, value] : s.values) {
      std::snprintf(line, sizeof line, " %x\n", value);
      out << "value " << Hex(reinterpret_cast<const uint8_t*>(&key), sizeof key) << line;
    }
    out << "end\n";
  }
  std::ofstream o(argv[2]);
  o << out.str();
  if (!o) {
    std::fprintf(stderr, "e2e_tool: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}

// Binary PPM (P6, maxval 255) as QEMU's screendump writes it.
bool ReadPpm(const char* path, unsigned* w, unsigned* h, std::vector<uint8_t>* rgb) {
  std::ifstream f(path, std::ios::binary);
  std::string magic;
  unsigned maxval = 0;
  f >> magic >> *w >> *h >> maxval;
  f.get();
  if (!f || magic != "P6" || maxval != 255 || *w == 0 || *h == 0) return false;
  rgb->resize(static_cast<size_t>(*w) * *h * 3);
  f.read(reinterpret_cast<char*>(rgb->data()), static_cast<std::streamsize>(rgb->size()));
  return static_cast<bool>(f);
}

int Png(int argc, char** argv) {
  if (argc != 4) return 2;
  unsigned w, h;
  std::vector<uint8_t> rgb;
  if (!ReadPpm(argv[2], &w, &h, &rgb)) {
    std::fprintf(stderr, "e2e_tool: %s is not a binary PPM\n", argv[2]);
    return 1;
  }
  FILE* out = std::fopen(argv[3], "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!out || !info || setjmp(png_jmpbuf(png))) {
    std::fprintf(stderr, "e2e_tool: cannot write %s\n", argv[3]);
    return 1;
  }
  png_init_io(png, out);
  png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (unsigned y = 0; y < h; ++y) png_write_row(png, &rgb[static_cast<size_t>(y) * w * 3]);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(out);

  uint64_t hash = 0xCBF29CE484222325ULL;
  size_t lit = 0;
  for (size_t i = 0; i < rgb.size(); ++i) {
    hash = (hash ^ rgb[i]) * 0x100000001B3ULL;
    if (i % 3 == 0 && (rgb[i] | rgb[i + 1] | rgb[i + 2])) ++lit;
  }
  std::printf("size %ux%u\nhash 0x%llx\nlit_pixels %zu\n", w, h, static_cast<unsigned long long>(hash), lit);
  return 0;
}

std::vector<nlohmann::json> ReadLines(const std::string& path) {
  std::vector<nlohmann::json> lines;
  std::ifstream f(path);
  for (std::string l; std::getline(f, l);) {
    auto j = nlohmann::json::parse(l, nullptr, false);
    if (!j.is_discarded() && j.is_object()) lines.push_back(j);
  }
  return lines;
}

nlohmann::json Last(const std::vector<nlohmann::json>& lines, const std::string& event, const std::string& config) {
  nlohmann::json found = nlohmann::json::object();
  for (const auto& j : lines)
    if (j.value("event", "") == event && (config.empty() || j.value("config", "") == config)) found = j;
  return found;
}

nlohmann::json ReadJson(const std::string& path) {
  std::ifstream f(path);
  auto j = nlohmann::json::parse(f, nullptr, false);
  return j.is_discarded() ? nlohmann::json() : j;
}

int Report(int argc, char** argv) {
  if (argc != 5) return 2;
  std::string work = argv[2], config = argv[3];
  auto lines = ReadLines(work + "/debugcon.log");
  nlohmann::json r;
  r["configuration"] = config;
  nlohmann::json connect = Last(lines, "connect", config);
  if (connect.empty()) {
    std::fprintf(stderr, "e2e_tool: %s/debugcon.log: no configuration %s\n", work.c_str(), config.c_str());
    return 1;
  }
  nlohmann::json console = Last(lines, "console", config);
  nlohmann::json monitor = Last(lines, "monitor", config);
  nlohmann::json screen = Last(lines, "screen_ready", "");
  r["monitor"] = {{"connector", monitor.value("connector", "")}, {"verdict", monitor.value("verdict", "")},
                  {"reason", monitor.value("reason", "")}, {"shows", monitor.value("mode", "")},
                  {"refresh_mhz", monitor.value("refresh_mhz", 0)}, {"scaled", monitor.value("scaled", false)},
                  {"source", monitor.value("source", "")}};
  r["mode"] = connect.value("mode", "");
  r["console_protocol"] = connect.value("console_protocol", "");
  r["console_setmode_calls"] = connect.value("setmode_calls", 0);
  r["console_setmode"] = connect.value("setmode", "");
  r["shell_console_protocol"] = console.value("console_protocol", "");
  nlohmann::json props = nlohmann::json::array();
  for (const auto& j : lines)
    if (j.value("event", "") == "property" && j.value("config", "") == config)
      props.push_back({{"node", j["node"]}, {"name", j.value("name", "")}, {"size", j.value("size", 0)},
                       {"hex_start", j.value("hex", "")}});
  r["properties"] = props;
  nlohmann::json begin = Last(lines, "begin", "");
  r["times_us"]["firmware"] = {{"connect", connect.value("us", 0)},
                               {"first_setmode", connect.value("first_setmode_us", 0)},
                               {"connect_to_lit_screen", connect["lit_us"]},
                               {"console_connect", console.value("us", 0)},
                               {"tsc_mhz", begin.value("tsc_mhz", 0)},
                               {"clock", "TSC calibrated against Stall"}};
  // The UGA-Draw-only run: there the console sets its mode while connecting,
  // so connect to lit screen is a firmware figure of the whole start-up.
  // (uga-fast: the same with the fast start-up policy.)
  for (const char* run : {"uga-only", "uga-fast"}) {
    nlohmann::json c = Last(ReadLines(work + "/" + run + "/debugcon.log"), "connect", config);
    if (c.empty()) continue;
    r["times_us"][std::string(run) == "uga-only" ? "firmware_uga_draw_only" : "firmware_uga_draw_only_fast_startup"] =
        {{"connect", c.value("us", 0)},
         {"first_setmode", c.value("first_setmode_us", 0)},
         {"connect_to_lit_screen", c["lit_us"]},
         {"console_setmode", c.value("setmode", "")}};
  }
  nlohmann::json hostStart = ReadJson(work + "/host-start.result.json");
  nlohmann::json hostMode = ReadJson(work + "/host-setmode.result.json");
  if (hostStart.is_object() && hostMode.is_object()) {
    uint64_t a = hostStart.value("time_us", 0), b = hostMode.value("time_us", 0);
    r["times_us"]["host_stand_in"] = {{"start", a}, {"start_and_setmode", b}, {"setmode", b > a ? b - a : 0},
                                      {"clock", "virtual (the firmware stand-in's clock advances by Stall)"}};
  }
  std::ifstream info(work + "/screen.info");
  std::string key, value, hash;
  while (info >> key >> value)
    if (key == "hash") hash = value;
  r["screenshot"] = {{"picture", screen.value("picture", "")},
                     {"matches_model_picture", !hash.empty() && hash == screen.value("hash", "")}};
  std::ofstream o(argv[4]);
  o << r.dump(2) << "\n";

  std::printf("configuration     %s\n", config.c_str());
  const nlohmann::json& m = r["monitor"];
  if (monitor.empty())
    std::printf("monitor           none\n");
  else
    std::printf("monitor           %s on %s: %s (%s, %s, %.3f Hz%s)\n", m["verdict"].get<std::string>().c_str(),
                m["connector"].get<std::string>().c_str(), m["reason"].get<std::string>().c_str(),
                m["shows"].get<std::string>().c_str(), m["source"].get<std::string>().c_str(),
                m["refresh_mhz"].get<int>() / 1000.0, m["scaled"].get<bool>() ? ", scaled" : "");
  const std::string protocol = r["console_protocol"];
  const char* name = protocol == "gop" ? "Graphics Output" : protocol == "uga" ? "UGA Draw" : "nothing";
  if (r["console_setmode_calls"] == 0)
    std::printf("mode              %s (the Graphics Console on %s kept the mode in force)\n",
                r["mode"].get<std::string>().c_str(), name);
  else
    std::printf("mode              %s (the Graphics Console on %s asked for %s)\n", r["mode"].get<std::string>().c_str(),
                name, r["console_setmode"].get<std::string>().c_str());
  const std::string shell = r["shell_console_protocol"];
  std::printf("Shell console     drawn through %s\n",
              shell == "gop" ? "Graphics Output (GOP)" : shell == "uga" ? "UGA Draw" : "neither protocol");
  std::printf("properties        %zu for the OS\n", props.size());
  auto times = [](const char* label, const nlohmann::json& t) {
    const nlohmann::json& lit = t["connect_to_lit_screen"];
    std::string litText = lit.is_number() ? "connect to lit screen " + lit.dump() + " us" : "not lit while connecting";
    std::printf("%-18sconnect %s us, first SetMode %s us, %s\n", label, t["connect"].dump().c_str(),
                t["first_setmode"].dump().c_str(), litText.c_str());
  };
  times("firmware time", r["times_us"]["firmware"]);
  if (r["times_us"].contains("firmware_uga_draw_only"))
    times("  UGA-only image", r["times_us"]["firmware_uga_draw_only"]);
  if (r["times_us"].contains("firmware_uga_draw_only_fast_startup"))
    times("  fast start-up", r["times_us"]["firmware_uga_draw_only_fast_startup"]);
  if (r["times_us"].contains("host_stand_in"))
    std::printf("host stand-in     Start %s us, SetMode %s us (virtual clock)\n",
                r["times_us"]["host_stand_in"]["start"].dump().c_str(),
                r["times_us"]["host_stand_in"]["setmode"].dump().c_str());
  std::printf("screenshot        %s, %s\n", r["screenshot"]["picture"].get<std::string>().c_str(),
              r["screenshot"]["matches_model_picture"].get<bool>() ? "the model's picture exactly" : "NOT the model's picture");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string cmd = argc > 1 ? argv[1] : "";
  int rc = cmd == "scenario" ? Scenario(argc, argv) : cmd == "png" ? Png(argc, argv)
           : cmd == "report"  ? Report(argc, argv) : 2;
  if (rc == 2) std::fprintf(stderr, "usage: e2e_tool scenario OUT.scn NAME=FILE... | png IN.ppm OUT.png | report WORKDIR CONFIG OUT.json\n");
  return rc;
}
