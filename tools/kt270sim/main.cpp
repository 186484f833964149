// kt270sim: runs the driver against the adapter model through a scenario
// and reports what happened.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "tools/kt270sim/runner.h"

namespace {

const char kHelp[] = R"(usage:
  kt270sim run SCENARIO.json [--out DIR] [--trace FILE] [--image IMAGE]
  kt270sim demo [--out DIR] [--image IMAGE]
  kt270sim --help

run    runs the scenario and prints the result JSON on stdout (also to
       DIR/result.json with --out, beside DIR/screen-<output>.png for every
       monitor in sync and DIR/source-crtc<N>.png for every CRTC source).
demo   a digital 1680x1050 monitor on DDC channel 1, both platform protocols,
       SetMode 1024x768x32@60 and a test picture drawn with every Blt
       operation; writes DIR/screen-*.png, DIR/scenario.json and
       DIR/result.json (DIR defaults to ./kt270sim-out) and prints a summary.

--image  which driver image runs: "gop" (default; QuovanUga.efi, UGA Draw
       and Graphics Output) or "uga-only" (QuovanUgaDrawOnly.efi, UGA Draw
       alone, run by the sibling program kt270sim-uga-only).

Exit status: 0 when the scenario ran to its end, whatever the driver
returned; 2 for a malformed scenario (one line on stderr naming the field);
1 for an internal failure.

Choices of this runner beyond the interface page:
  - Blt "buffer" may also carry "pattern": "solid" (default, "pixel"),
    "gradient" (red across, green down) or "checker" (8x8, "pixel" and its
    complement). The runner extends its allocation to whatever the Blt can
    reach, so a small buffer is never overrun; the SHA-256 covers
    width x height pixels.
  - A Blt "buffer" is at most 256 MiB, and a Blt whose rectangle could
    reach more than 256 MiB into its buffer is a malformed scenario (a
    rectangle over 65536 pixels wide or high is allowed: no mode holds it,
    so the driver refuses it without touching the buffer).
  - Graphics Output steps, on the GOP the controller carries beside UGA
    Draw (none in the UGA-Draw-only build: EFI_NOT_STARTED):
      {"op": "GopQueryMode", "mode": N}  reports "status", "code", and on
        success "version", "width", "height", "pixel_format",
        "pixels_per_scan_line" and "size_of_info".
      {"op": "GopSetMode", "mode": N}  reports "status" and "code".
      Both add "record", the protocol's mode record after the call:
        "mode", "max_mode", "frame_buffer_base" ("0x" + 16 hex digits),
        "frame_buffer_size" and "info" (the fields of the current mode).
      {"op": "GopBlt", ...}  takes the fields of "Blt" (operations
        "VideoFill", "VideoToBltBuffer", "BltBufferToVideo",
        "VideoToVideo" or an integer) and reports as "Blt" does.
      {"op": "GopEdid"}  reports "discovered" and "active", the EDID
        Discovered and EDID Active protocols on the controller: "size",
        "hex" and "null" (whether Edid is a null pointer), or null for a
        protocol the controller does not carry.
  - GetDriverName and GetControllerName take "protocol": "ComponentName"
    (default, language "eng") or "ComponentName2" (language "en"), the
    protocol as the driver's image handle carries it (EFI_NOT_STARTED
    with a "note" when it does not).
  - SetMode needs "width" and "height"; "depth" defaults to 32 and
    "refresh" to 60. GetInfo "size" defaults to 0; SetInfo "data" to none.
  - When Supported fails at the start, Start is not called and "start"
    reports EFI_NOT_STARTED.
  - A step on an interface the controller does not carry (before Start,
    after Stop) reports EFI_NOT_STARTED with a "note".
  - Fault "call" names are the firmware's member names; a name nothing
    calls simply never fires. Integers in "0x..." strings have at most 16
    hex digits.
  - The trace holds the accesses made inside the driver's Pci.Read,
    Pci.Write, Mem.Read and Mem.Write calls (refused ones included), not
    those the firmware makes for Attributes.
  - GetControllerName with "child": true names the firmware's own image
    handle, which is no child of the controller.
  - The result adds "entry" (the entry point's status); each output adds
    "source_width"/"source_height" (the CRTC's source picture) and, when
    a monitor is plugged, "monitor_reason". For the TV output "width" and
    "height" are the encoder's picture (the CRTC source), for the others
    the active raster.
  - A "ddc" "edid" holds 1 to 32768 bytes, whatever its byte 126 claims,
    and the model serves them as an E-DDC EEPROM does: the word address
    wraps within each 256-byte segment (within the image when it is
    shorter), an image over 256 bytes answers the segment pointer at 0x60
    (reset by every STOP), and bytes past the image read 0xFF. An "edid"
    "file" is raw binary starting with the EDID header, or hex text.
  - "ddc" "output" must name an output whose connector uses that channel
    (TMDS and DAC A on 1, DAC B and TV on 2); channel 3 carries no monitor.
    The auxiliary device is absent unless "ddc": {"3": {"aux": true}};
    "aux" elsewhere is ignored, and Attach on "3" with null removes it.
)";

#if !KT270SIM_UGA_ONLY
// The sibling program beside this one, with the same arguments.
int RunUgaOnly(char** argv) {
  std::string self(4096, '\0');
  ssize_t length = readlink("/proc/self/exe", self.data(), self.size() - 1);
  if (length <= 0) {
    std::perror("kt270sim: /proc/self/exe");
    return 1;
  }
  self.resize(static_cast<size_t>(length));
  std::string sibling = self.substr(0, self.find_last_of('/') + 1) + "kt270sim-uga-only";
  execv(sibling.c_str(), argv);
  std::perror(("kt270sim: " + sibling).c_str());
  return 1;
}
#endif

int Usage() {
  std::fputs(kHelp, stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kHelp, stdout);
    return 0;
  }
  std::string scenario_path, out_dir, trace_path;
  int i = 2;
  if (command == "run") {
    if (argc < 3) return Usage();
    scenario_path = argv[2];
    i = 3;
  } else if (command != "demo") {
    return Usage();
  }
  std::string image = "gop";
  for (; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--out" && i + 1 < argc) {
      out_dir = argv[++i];
    } else if (arg == "--trace" && i + 1 < argc && command == "run") {
      trace_path = argv[++i];
    } else if (arg == "--image" && i + 1 < argc && (std::strcmp(argv[i + 1], "gop") == 0 ||
                                                    std::strcmp(argv[i + 1], "uga-only") == 0)) {
      image = argv[++i];
    } else {
      return Usage();
    }
  }
#if KT270SIM_UGA_ONLY
  if (image != "uga-only") {
    std::fprintf(stderr, "kt270sim-uga-only: runs the uga-only image alone\n");
    return 2;
  }
#else
  if (image == "uga-only") return RunUgaOnly(argv);
#endif

  try {
    nlohmann::json scenario;
    kt270sim::RunOptions options;
    if (command == "demo") {
      scenario = kt270sim::DemoScenario();
      if (out_dir.empty()) out_dir = "kt270sim-out";
    } else {
      std::ifstream in(scenario_path);
      if (!in) {
        std::fprintf(stderr, "kt270sim: cannot read %s\n", scenario_path.c_str());
        return 1;
      }
      try {
        scenario = nlohmann::json::parse(in);
      } catch (const nlohmann::json::parse_error& e) {
        std::fprintf(stderr, "kt270sim: malformed scenario: (JSON) %s\n", e.what());
        return 2;
      }
      std::string::size_type slash = scenario_path.find_last_of('/');
      options.base_dir = slash == std::string::npos ? "." : scenario_path.substr(0, slash);
    }
    options.trace_path = trace_path;

    kt270sim::RunOutcome outcome;
    try {
      outcome = kt270sim::RunScenario(scenario, options);
    } catch (const kt270sim::ScenarioError& e) {
      std::fprintf(stderr, "kt270sim: malformed scenario: %s\n", e.what());
      return 2;
    }

    if (command == "demo") {
      std::vector<std::string> files = kt270sim::WriteArtifacts(out_dir, outcome);
      std::ofstream(out_dir + "/scenario.json") << scenario.dump(2) << '\n';
      std::printf("kt270sim demo: digital 1680x1050 monitor on DDC 1, SetMode 1024x768x32@60, every Blt operation\n");
      std::fputs(kt270sim::Summary(outcome).c_str(), stdout);
      std::printf("  wrote:");
      for (const std::string& f : files) std::printf(" %s", f.c_str());
      std::printf(" %s/scenario.json\n", out_dir.c_str());
    } else {
      if (!out_dir.empty()) kt270sim::WriteArtifacts(out_dir, outcome);
      std::cout << outcome.result.dump(2) << '\n';
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kt270sim: internal failure: %s\n", e.what());
    return 1;
  }
}
