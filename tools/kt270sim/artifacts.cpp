// Screenshots, the result file, the human summary and the built-in demo.
#include <png.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/edid/edid_builder.h"
#include "tools/kt270sim/runner.h"
#include "tools/kt270sim/scenario.h"

namespace kt270sim {

using nlohmann::json;

bool WritePng(const std::string& path, const Picture& picture) {
  if (picture.width == 0 || picture.height == 0) return false;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png == nullptr ? nullptr : png_create_info_struct(png);
  bool ok = false;
  std::vector<png_byte> row(size_t{picture.width} * 3);
  if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_set_IHDR(png, info, picture.width, picture.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < picture.height; ++y) {
      for (uint32_t x = 0; x < picture.width; ++x) {
        uint32_t p = picture.pixels[size_t{y} * picture.width + x];
        row[x * 3] = static_cast<png_byte>(p >> 16);
        row[x * 3 + 1] = static_cast<png_byte>(p >> 8);
        row[x * 3 + 2] = static_cast<png_byte>(p);
      }
      png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    ok = true;
  }
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0 && ok;
}

std::vector<std::string> WriteArtifacts(const std::string& dir, const RunOutcome& outcome) {
  std::filesystem::create_directories(dir);
  std::vector<std::string> written;
  auto write = [&](const std::string& path, const Picture& p) {
    if (!WritePng(path, p)) throw std::runtime_error("cannot write " + path);
    written.push_back(path);
  };
  for (const Picture& p : outcome.screens) write(dir + "/screen-" + p.name + ".png", p);
  for (const Picture& p : outcome.sources) write(dir + "/source-" + p.name + ".png", p);
  std::string path = dir + "/result.json";
  std::ofstream out(path);
  out << outcome.result.dump(2) << '\n';
  if (!out) throw std::runtime_error("cannot write " + path);
  written.push_back(path);
  return written;
}

std::string Summary(const RunOutcome& outcome) {
  const json& r = outcome.result;
  std::ostringstream s;
  for (auto it = r["outputs"].begin(); it != r["outputs"].end(); ++it) {
    const json& o = it.value();
    if (!o["enabled"].get<bool>() && o["monitor"] == "no monitor") continue;
    s << "  " << it.key() << ": ";
    if (o.contains("width")) {
      char line[160];
      std::snprintf(line, sizeof line, "CRTC %d, %dx%d at %.1f Hz (%.2f MHz)", o["crtc"].get<int>(),
                    o["width"].get<int>(), o["height"].get<int>(), o["refresh_hz"].get<double>(),
                    o["pixel_clock_khz"].get<double>() / 1000.0);
      s << line;
      if (o["scaled"].get<bool>()) s << ", showing " << o["source_width"] << "x" << o["source_height"] << " scaled";
    } else {
      s << (o["enabled"].get<bool>() ? "on, no running CRTC" : "off");
    }
    s << "; monitor " << o["monitor"].get<std::string>();
    if (o.contains("monitor_reason")) s << " (" << o["monitor_reason"].get<std::string>() << ")";
    s << '\n';
  }
  // The mode the last GetMode reported.
  const json* mode = nullptr;
  for (const json& step : r["steps"]) {
    if (step["op"] == "GetMode" && step.contains("width")) mode = &step;
  }
  if (mode != nullptr) {
    s << "  mode: " << (*mode)["width"] << "x" << (*mode)["height"] << "x" << (*mode)["depth"] << " @ "
      << (*mode)["refresh"] << " Hz (GetMode)\n";
  }
  size_t failed = 0;
  for (const json& step : r["steps"]) failed += step["status"] != "EFI_SUCCESS";
  s << "  steps: " << r["steps"].size() << " (" << failed << " not EFI_SUCCESS)\n";
  s << "  properties: " << r["properties"].size() << " published\n";
  const json& leaks = r["leaks"];
  s << "  time: " << r["time_us"] << " us virtual, " << r["pci_io_calls"] << " PCI I/O calls; held by the driver at the end: pool "
    << leaks["pool"] << ", events " << leaks["events"] << ", protocols " << leaks["protocols"] << '\n';
  return s.str();
}

json DemoScenario() {
  std::vector<uint8_t> edid = simedid::EdidBuilder()
                                  .Product(0x01, 0x00)  // product 0001
                                  .Digital()
                                  .Established(35, 0)  // 800x600 at 60 Hz
                                  .Established(35, 5)  // 640x480 at 60 Hz
                                  .Established(36, 3)  // 1024x768 at 60 Hz
                                  .Detailed(simedid::Timing1680x1050())
                                  .Build();
  auto blt = [](const char* op, json fields) {
    fields["op"] = "Blt";
    fields["operation"] = op;
    return fields;
  };
  json steps = json::array({
      {{"op", "GetMode"}},
      {{"op", "SetMode"}, {"width", 1024}, {"height", 768}, {"depth", 32}, {"refresh", 60}},
      {{"op", "GetMode"}},
      // Background, a picture from a buffer, copies of it (one overlapping
      // its own source), a bar, and the picture read back.
      blt("VideoFill", {{"dx", 0}, {"dy", 0}, {"width", 1024}, {"height", 768},
                        {"buffer", {{"width", 1}, {"height", 1}, {"pixel", "0x203050"}}}}),
      blt("BltBufferToVideo", {{"dx", 64}, {"dy", 64}, {"width", 256}, {"height", 256},
                               {"buffer", {{"width", 256}, {"height", 256}, {"pattern", "gradient"}}}}),
      blt("VideoToVideo", {{"sx", 64}, {"sy", 64}, {"dx", 384}, {"dy", 64}, {"width", 256}, {"height", 256}}),
      blt("VideoToVideo", {{"sx", 384}, {"sy", 64}, {"dx", 448}, {"dy", 128}, {"width", 256}, {"height", 256}}),
      blt("BltBufferToVideo", {{"dx", 64}, {"dy", 448}, {"width", 640}, {"height", 128},
                               {"buffer", {{"width", 640}, {"height", 128}, {"pattern", "checker"},
                                           {"pixel", "0xFFC000"}}}}),
      blt("VideoFill", {{"dx", 0}, {"dy", 700}, {"width", 1024}, {"height", 40},
                        {"buffer", {{"width", 1}, {"height", 1}, {"pixel", "0xE04020"}}}}),
      blt("VideoToBltBuffer", {{"sx", 64}, {"sy", 64}, {"width", 256}, {"height", 256},
                               {"buffer", {{"width", 256}, {"height", 256}}}}),
      {{"op", "Query"}},
      {{"op", "GetControllerName"}, {"language", "eng"}},
  });
  return {
      {"ddc", {{"1", {{"edid", Hex(edid)}, {"output", "TMDS"}}}}},
      {"platform", {{"property_database", true}, {"platform_services", true}}},
      {"steps", steps},
  };
}

}  // namespace kt270sim
