// The kt270sim binary against its interface page: scenario files in, result
// JSON, trace and exit status out.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <cmath>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include "sim/edid/edid_builder.h"
#include "tools/kt270sim/scenario.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

const char kFlags[] = "3064B9C1-F0FF-4FA9-8422-6B64CA9F1DE1";
const char kEdid[] = "D704179F-F181-4ED9-87F7-770188EAE6B2";
const char kLinkLimits[] = "75B69F99-6A24-41E4-A8BE-D5E858C08D76";
const char kSelect[] = "D2C9944A-0F9D-4649-954F-862C1406F320";
const char kPlatformInfo[] = "2AA9D6C6-E6A9-4D10-AFC7-8FA769EA0E74";
const char kRelease[] = "6CCB6605-3070-47F7-9EA6-EA831F3D5B89";
const char kPanelTiming[] = "A9A835A6-4630-46D7-9384-FD071E476682";
const char kConnectFlags[] = "15904399-F7E0-4122-AAAD-D41F619B535B";

using kt270sim::Hex;

std::string Panel() {
  return Hex(simedid::EdidBuilder().Digital().Established(35, 0).Established(36, 3)
                 .Detailed(simedid::Timing1680x1050()).Build());
}

json Digital() { return {{"1", {{"edid", Panel()}}}}; }

std::string Sha256Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
  std::string hex;
  char byte[3];
  for (unsigned i = 0; i < length; ++i) {
    std::snprintf(byte, sizeof byte, "%02x", digest[i]);
    hex += byte;
  }
  return hex;
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Outcome {
  int rc = -1;
  std::string out, err;
  json result;  // parsed stdout when rc is 0
  std::vector<std::string> ErrLines() const {
    std::vector<std::string> lines;
    std::istringstream in(err);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
};

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // Per process: several build trees may run the same test at once.
    dir_ = fs::path(::testing::TempDir()) /
           (std::string("kt270sim_cli_") + std::to_string(getpid()) + "_" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  // What a failure leaves stays for a look.
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir_);
  }

  // Writes the scenario text to DIR/name and runs `kt270sim run` on it.
  Outcome RunText(const std::string& text, const std::string& args = "", const std::string& name = "scenario.json") {
    fs::path file = dir_ / name;
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
    std::string cmd = std::string("cd / && ") + KT270SIM_BINARY + " run '" + file.string() + "' " + args + " >'" +
                      (dir_ / "stdout").string() + "' 2>'" + (dir_ / "stderr").string() + "'";
    int status = std::system(cmd.c_str());
    Outcome r;
    r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Slurp(dir_ / "stdout");
    r.err = Slurp(dir_ / "stderr");
    if (r.rc == 0) r.result = json::parse(r.out);
    return r;
  }
  Outcome RunJson(const json& scenario, const std::string& args = "") { return RunText(scenario.dump(), args); }
  json Result(const json& scenario, const std::string& args = "") {
    Outcome r = RunJson(scenario, args);
    EXPECT_EQ(r.rc, 0) << r.err;
    return r.result;
  }

  fs::path dir_;
};

const json kNoLeaks = {{"pool", 0}, {"events", 0}, {"protocols", 0}};

// ---- the platform interfaces ---------------------------------------------

TEST_F(Cli, DisplayInterfaceKeysAnswerAfterThePlatformInformation) {
  std::string edid = Panel();
  json r = Result({{"ddc", Digital()},
                   {"steps",
                    {{{"op", "GetInfo"}, {"key", kFlags}, {"size", 8}},  // no connector table yet
                     {{"op", "SetInfo"}, {"key", kPlatformInfo}, {"data", std::string(256, '0')}},
                     {{"op", "SetInfo"}, {"key", kSelect}, {"data", "03 00 00 00"}},
                     {{"op", "GetInfo"}, {"key", kFlags}, {"size", 4}},
                     {{"op", "GetInfo"}, {"key", kFlags}, {"size", 8}},
                     {{"op", "GetInfo"}, {"key", kEdid}, {"size", 128}},  // the television: none
                     {{"op", "SetInfo"}, {"key", kSelect}, {"data", "00 00 00 00"}},
                     {{"op", "GetInfo"}, {"key", kEdid}, {"size", 128}},
                     {{"op", "GetInfo"}, {"key", kEdid}, {"size", 256}},
                     {{"op", "GetInfo"}, {"key", kLinkLimits}, {"size", 48}},
                     {{"op", "GetInfo"}, {"key", kLinkLimits}, {"size", 40}},
                     {{"op", "SetInfo"}, {"key", kSelect}, {"data", "63000000"}},
                     {{"op", "SetInfo"}, {"key", kSelect}, {"data", "00 00 00 00"}, {"size", 3}}}}});
  const json& s = r["steps"];
  EXPECT_EQ(s[0]["status"], "EFI_NOT_READY");
  EXPECT_EQ(s[1]["status"], "EFI_SUCCESS");
  EXPECT_EQ(s[2]["status"], "EFI_SUCCESS");
  EXPECT_EQ(s[3]["status"], "EFI_BUFFER_TOO_SMALL");
  EXPECT_EQ(s[3]["code"], "0x8000000000000005");
  EXPECT_EQ(s[3]["size"], 8);
  EXPECT_EQ(s[3]["data"], "00000000");  // min(4, 8) bytes, untouched
  EXPECT_EQ(s[4]["status"], "EFI_SUCCESS");
  EXPECT_EQ(s[4]["data"], "8900000000000000");  // the built-in television entry's flags
  EXPECT_EQ(s[5]["size"], 0);
  EXPECT_EQ(s[5]["data"], "");
  EXPECT_EQ(s[7]["status"], "EFI_SUCCESS");
  EXPECT_EQ(s[7]["size"], 128);
  EXPECT_EQ(s[7]["data"], edid);
  EXPECT_EQ(s[8]["size"], 128);  // no extension: the base block, and its size
  EXPECT_EQ(s[8]["data"], edid);
  EXPECT_EQ(s[9]["status"], "EFI_SUCCESS");
  EXPECT_EQ(s[9]["size"], 48);
  EXPECT_EQ(s[9]["data"].get<std::string>().substr(0, 24), "002000000020000002000000");  // 8192, 8192, two links
  EXPECT_EQ(s[10]["status"], "EFI_INVALID_PARAMETER");
  EXPECT_EQ(s[11]["status"], "EFI_INVALID_PARAMETER");
  EXPECT_EQ(s[12]["status"], "EFI_INVALID_PARAMETER");
}

TEST_F(Cli, TheReleaseKeyLetsGoOfEverythingAndLaterStepsSaySo) {
  json r = Result({{"ddc", Digital()},
                   {"steps",
                    {{{"op", "SetMode"}, {"width", 1024}, {"height", 768}},
                     {{"op", "SetInfo"}, {"key", kRelease}},
                     {{"op", "GetMode"}},
                     {{"op", "Query"}},
                     {{"op", "GetInfo"}, {"key", kFlags}, {"size", 8}},
                     {{"op", "GetControllerName"}},
                     {{"op", "Stop"}}}}});
  const json& s = r["steps"];
  EXPECT_EQ(s[1]["status"], "EFI_SUCCESS");
  for (int i = 2; i <= 4; ++i) {
    EXPECT_EQ(s[i]["status"], "EFI_NOT_STARTED") << s[i];
    EXPECT_TRUE(s[i].contains("note")) << s[i];
  }
  EXPECT_EQ(s[5]["status"], "EFI_UNSUPPORTED");
  EXPECT_EQ(s[6]["status"], "EFI_UNSUPPORTED");
  EXPECT_EQ(r["leaks"], kNoLeaks);
}

TEST_F(Cli, QueryReportsTheShownSurfaceAsNumbers) {
  const json scenario = {
      {"ddc", Digital()},
      {"steps", {{{"op", "Query"}}, {{"op", "SetMode"}, {"width", 1024}, {"height", 768}}, {{"op", "Query"}}}}};
  // The UGA-Draw-only image has no engine before a mode; the image with
  // Graphics Output lit the native mode at Start.
  json uga = Result(scenario, "--image uga-only");
  EXPECT_EQ(uga["steps"][0]["status"], "EFI_NOT_STARTED");  // the driver's
  EXPECT_FALSE(uga["steps"][0].contains("note"));
  json r = Result(scenario);
  EXPECT_EQ(r["steps"][0]["status"], "EFI_SUCCESS");
  EXPECT_EQ(r["steps"][0]["width"], 1680);
  EXPECT_EQ(r["steps"][0]["height"], 1050);
  EXPECT_EQ(r["steps"][2], uga["steps"][2]);
  const json& q = r["steps"][2];
  EXPECT_EQ(q["status"], "EFI_SUCCESS");
  ASSERT_TRUE(q["frame_buffer"].is_number_unsigned());
  EXPECT_EQ(q["frame_buffer"].get<uint64_t>() & 0xFFF00000u, 0xC0000000u);  // BAR 0
  EXPECT_EQ(q["width"], 1024);
  EXPECT_EQ(q["height"], 768);
  EXPECT_EQ(q["bytes_per_row"], 4096);
  EXPECT_EQ(q["bits_per_pixel"], 32);
  EXPECT_TRUE(q["memory_size"].is_number_unsigned());
  EXPECT_GT(q["memory_size"].get<uint64_t>(), 0u);
}

TEST_F(Cli, PlatformProtocolsAndValuesShapeTheProperties) {
  json steps = {{{"op", "SetInfo"}, {"key", kPlatformInfo}, {"data", std::string(256, '0')}},
                {{"op", "SetInfo"}, {"key", kSelect}, {"data", "00 00 00 00"}},
                // A 1024 x 768 panel, everything else zero.
                {{"op", "SetInfo"}, {"key", kPanelTiming},
                 {"data", std::string(16, '0') + "00040000" + std::string(32, '0') + "00030000" + std::string(40, '0')}}};
  auto connect_flags = [](const json& r) {
    for (const json& p : r["properties"])
      if (p["name"] == "display-connect-flags") return p["hex"].get<std::string>();
    return std::string("(none)");
  };
  json plain = Result({{"steps", steps}});
  EXPECT_EQ(connect_flags(plain), "00000000");
  json valued = Result({{"platform", {{"values", {{kConnectFlags, "0x1"}}}}}, {"steps", steps}});
  EXPECT_EQ(connect_flags(valued), "00000400");

  auto nodes = [](const json& r) {
    std::set<std::string> n;
    for (const json& p : r["properties"]) n.insert(p["node"].is_null() ? "null" : p["node"].get<std::string>());
    return n;
  };
  EXPECT_EQ(nodes(plain), (std::set<std::string>{"null", "0", "1"}));
  json no_database = Result({{"platform", {{"property_database", false}}}});
  EXPECT_EQ(nodes(no_database), (std::set<std::string>{"0", "1"}));
  // Without the services the platform interfaces are not installed.
  json no_services = Result({{"platform", {{"platform_services", false}}}, {"steps", {{{"op", "Query"}}}}});
  EXPECT_EQ(nodes(no_services), std::set<std::string>{"null"});
  EXPECT_TRUE(no_services["steps"][0].contains("note"));
  json neither = Result({{"platform", {{"property_database", false}, {"platform_services", false}}}});
  EXPECT_TRUE(neither["properties"].empty());
  EXPECT_EQ(neither["start"]["start"], "EFI_SUCCESS");
}

// ---- firmware set-up ------------------------------------------------------

TEST_F(Cli, TheDebugVariableTurnsOnTheStartUpMessage) {
  json quiet = Result(json::object());
  EXPECT_EQ(quiet["stderr"], "");
  json loud = Result({{"variables", {{"EFIDebug", "40 00 00 00 00 00 00 00"}}}});
  EXPECT_NE(loud["stderr"].get<std::string>().find("EfiInitializeDriverLib: Started\r\n"), std::string::npos)
      << loud["stderr"];
}

TEST_F(Cli, FaultsFailTheNthCallAndAFailedStartHoldsNothing) {
  json pool = Result({{"faults", {{{"call", "AllocatePool"}, {"nth", 1}, {"status", "EFI_OUT_OF_RESOURCES"}}}},
                      {"steps", {{{"op", "SetMode"}, {"width", 800}, {"height", 600}}}}});
  EXPECT_EQ(pool["start"], json({{"supported", "EFI_SUCCESS"}, {"start", "EFI_OUT_OF_RESOURCES"}}));
  EXPECT_EQ(pool["steps"][0]["status"], "EFI_NOT_STARTED");
  EXPECT_EQ(pool["leaks"], kNoLeaks);

  json config = Result({{"faults", {{{"call", "Pci.Read"}, {"nth", "0x1"}, {"status", "0x8000000000000007"}}}}});
  EXPECT_EQ(config["start"]["supported"], "EFI_DEVICE_ERROR");
  EXPECT_EQ(config["leaks"], kNoLeaks);

  // A failing register read still lets the scenario run to its end.
  for (int nth : {1, 3, 50}) {
    json mem = Result({{"ddc", Digital()},
                       {"faults", {{{"call", "Mem.Read"}, {"nth", nth}, {"status", "EFI_DEVICE_ERROR"}}}},
                       {"steps", {{{"op", "SetMode"}, {"width", 1024}, {"height", 768}}, {{"op", "Stop"}}}}});
    EXPECT_EQ(mem["steps"].size(), 2u);
    EXPECT_EQ(mem["steps"][1]["status"], "EFI_SUCCESS") << nth;
    EXPECT_EQ(mem["leaks"], kNoLeaks) << nth;
  }
}

TEST_F(Cli, WithoutStartTheStepsDriveTheBindingThemselves) {
  json r = Result({{"start", false},
                   {"steps",
                    {{{"op", "GetMode"}},
                     {{"op", "GetControllerName"}},
                     {{"op", "Supported"}},
                     {{"op", "Start"}},
                     {{"op", "Start"}},
                     {{"op", "GetMode"}},
                     {{"op", "GetControllerName"}, {"language", "eng"}},
                     {{"op", "GetControllerName"}, {"language", "fra"}},
                     {{"op", "GetControllerName"}, {"child", true}},
                     {{"op", "GetDriverName"}},
                     {{"op", "GetDriverName"}, {"language", "en"}},
                     {{"op", "Stop"}},
                     {{"op", "Stop"}}}}});
  EXPECT_FALSE(r.contains("start"));
  std::vector<std::string> statuses;
  for (const json& s : r["steps"]) statuses.push_back(s["status"]);
  EXPECT_EQ(statuses, (std::vector<std::string>{"EFI_NOT_STARTED", "EFI_UNSUPPORTED", "EFI_SUCCESS", "EFI_SUCCESS",
                                                "EFI_ALREADY_STARTED", "EFI_SUCCESS", "EFI_SUCCESS", "EFI_UNSUPPORTED",
                                                "EFI_SUCCESS", "EFI_SUCCESS", "EFI_UNSUPPORTED", "EFI_SUCCESS",
                                                "EFI_UNSUPPORTED"}));
  EXPECT_EQ(r["steps"][6]["name"], "ZEL Quovan KT270 Video Adapter");
  EXPECT_EQ(r["steps"][8]["name"], "ZEL Quovan KT270 Video Adapter");
  EXPECT_EQ(r["steps"][9]["name"], "ZEL Quovan UGA Driver 01.00.121");
  EXPECT_FALSE(r["steps"][7].contains("name"));
  EXPECT_FALSE(r["steps"][10].contains("name"));
  EXPECT_EQ(r["leaks"], kNoLeaks);
}

TEST_F(Cli, UnpluggingBetweenModeSetsKeepsTheDisplay) {
  json r = Result({{"ddc", Digital()},
                   {"steps",
                    {{{"op", "SetMode"}, {"width", 1024}, {"height", 768}},
                     {{"op", "Attach"}, {"channel", "1"}, {"device", nullptr}},
                     {{"op", "SetMode"}, {"width", 800}, {"height", 600}},
                     {{"op", "GetMode"}}}}});
  for (const json& s : r["steps"]) EXPECT_EQ(s["status"], "EFI_SUCCESS") << s;
  const json& tmds = r["outputs"]["TMDS"];
  EXPECT_EQ(tmds["enabled"], true);
  EXPECT_EQ(tmds["crtc"], 1);
  EXPECT_EQ(tmds["width"], 800);
  EXPECT_EQ(tmds["monitor"], "no monitor");
  EXPECT_EQ(r["steps"][3]["width"], 800);
}

// ---- the result's form ----------------------------------------------------

TEST_F(Cli, ResultValuesHaveTheirTypes) {
  json r = Result({{"ddc", Digital()}, {"steps", {{{"op", "SetMode"}, {"width", 1024}, {"height", 768}}}}});
  std::regex code("0x[0-9A-F]{16}"), reg("0x[0-9A-F]{4,}"), word("0x[0-9A-F]{8}"), index("0x[0-9A-F]{2,}");
  EXPECT_TRUE(std::regex_match(r["steps"][0]["code"].get<std::string>(), code));
  for (const char* space : {"registers", "mc", "clock"}) {
    ASSERT_FALSE(r[space].empty()) << space;
    for (auto it = r[space].begin(); it != r[space].end(); ++it) {
      EXPECT_TRUE(std::regex_match(it.key(), std::string(space) == "registers" ? reg : index)) << space << it.key();
      EXPECT_TRUE(std::regex_match(it.value().get<std::string>(), word)) << space << it.value();
    }
  }
  for (const char* key : {"time_us", "pci_io_calls"}) EXPECT_TRUE(r[key].is_number_unsigned()) << key;
  for (const char* output : {"DAC A", "DAC B", "TMDS", "TV"}) EXPECT_TRUE(r["outputs"].contains(output)) << output;
  const json& tmds = r["outputs"]["TMDS"];
  for (const char* key : {"width", "height", "h_total", "v_total", "pixel_clock_khz", "refresh_hz"})
    EXPECT_TRUE(tmds[key].is_number()) << key;
  EXPECT_TRUE(tmds["scaled"].is_boolean());
  double refresh = tmds["refresh_hz"];
  EXPECT_NEAR(refresh * 10, std::round(refresh * 10), 1e-6);
  EXPECT_TRUE(r["outputs"]["TV"]["crtc"].is_null());
  bool adapter_wide = false, per_node = false;
  for (const json& p : r["properties"]) {
    adapter_wide = adapter_wide || p["node"].is_null();
    per_node = per_node || p["node"] == "0";
    EXPECT_TRUE(std::regex_match(p["hex"].get<std::string>(), std::regex("([0-9A-F]{2})*")));
  }
  EXPECT_TRUE(adapter_wide);
  EXPECT_TRUE(per_node);
}

TEST_F(Cli, OutDirGetsTheResultAndTheTraceHasOneLinePerAccess) {
  fs::path trace = dir_ / "trace.txt", out = dir_ / "out";
  json r = Result({{"start", false},
                   {"ddc", Digital()},
                   {"steps",
                    {{{"op", "Supported"}},
                     {{"op", "Start"}},
                     {{"op", "SetMode"}, {"width", 800}, {"height", 600}},
                     {{"op", "Blt"}, {"operation", "VideoToBltBuffer"}, {"width", 8}, {"height", 2},
                      {"buffer", {{"width", 8}, {"height", 2}}}}}}},
                  "--trace '" + trace.string() + "' --out '" + out.string() + "'");
  EXPECT_EQ(json::parse(Slurp(out / "result.json")), r);
  EXPECT_TRUE(fs::exists(out / "screen-tmds.png"));

  std::ifstream in(trace);
  std::regex line(R"((\d+) ([RW])(8|16|32) (cfg|bar0|bar2) 0x([0-9A-F]{5,}) 0x([0-9A-F]+)( x(\d+))?)");
  std::vector<std::string> config;
  size_t lines = 0, frame_reads = 0;
  uint64_t last_time = 0;
  for (std::string l; std::getline(in, l); ++lines) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(l, m, line)) << l;
    EXPECT_EQ(m[6].length(), std::stoi(m[3]) / 4) << l;  // the value in the access's width
    if (m[7].matched) {
      EXPECT_GT(std::stoull(m[8]), 1u) << l;
    }
    uint64_t t = std::stoull(m[1]);
    EXPECT_GE(t, last_time) << l;
    last_time = t;
    if (m[4] == "cfg") config.push_back(m[2].str() + m[3].str() + " " + m[5].str() + (m[7].matched ? m[7].str() : ""));
    if (m[4] == "bar0" && m[2] == "R" && m[7] == " x8") ++frame_reads;
  }
  // Exactly the driver's own configuration accesses: Supported's identifier
  // read, then Start's command update and copy of the space (Attributes'
  // own command-register access in the firmware is not the driver's).
  EXPECT_EQ(config, (std::vector<std::string>{"R32 00000", "R16 00004", "W16 00004", "R8 00000 x256"}));
  EXPECT_EQ(frame_reads, 2u);  // one Mem.Read per row of the read-back
  EXPECT_LE(lines, r["pci_io_calls"].get<uint64_t>());
  EXPECT_LE(last_time, r["time_us"].get<uint64_t>());
}

// ---- the scenario's form --------------------------------------------------

TEST_F(Cli, InputsTakeHexNumbersFilesAndNames) {
  fs::create_directories(dir_ / "sub" / "monitors");
  std::vector<uint8_t> edid =
      simedid::EdidBuilder().Digital().Established(35, 0).Detailed(simedid::Timing1680x1050()).Build();
  std::ofstream(dir_ / "sub" / "monitors" / "panel.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(edid.data()), static_cast<std::streamsize>(edid.size()));
  // The EDID file is found beside the scenario although the runner runs elsewhere.
  json scenario = {
      {"adapter", {{"device_id", "0x6B11"}, {"fb_size", "0x01000000"}}},
      {"ddc", {{"1", {{"edid", {{"file", "monitors/panel.bin"}}}, {"stretch_us", "0x0"}, {"aux", true}}},
               {"2", nullptr},
               {"3", {{"aux", true}}}}},
      {"steps",
       {{{"op", "SetMode"}, {"width", "0x320"}, {"height", 600}, {"depth", "0x20"}, {"refresh", 60}},
        {{"op", "Blt"}, {"operation", 0}, {"width", 4}, {"height", 4},
         {"buffer", {{"width", 1}, {"height", 1}, {"pixel", "0xFF0000"}}}},
        {{"op", "Blt"}, {"operation", "VideoFill"}, {"width", 4}, {"height", 4}, {"buffer", "null"}},
        {{"op", "Blt"}, {"operation", "0x3"}, {"sx", "0xFFFFFFFFFFFFFFFF"}, {"width", 1}, {"height", 1}},
        {{"op", "Blt"}, {"operation", 7}, {"width", 1}, {"height", 1}},
        {{"op", "Blt"}, {"operation", "VideoToBltBuffer"}, {"width", 2}, {"height", 1}, {"delta", "0x0"},
         {"buffer", {{"width", 2}, {"height", 1}}}},
        {{"op", "Attach"}, {"channel", "2"}, {"device", {{"edid", Hex(edid)}, {"aux", true}}}}}}};
  Outcome run = RunText(scenario.dump(), "", "sub/scenario.json");
  ASSERT_EQ(run.rc, 0) << run.err;
  const json& s = run.result["steps"];
  EXPECT_EQ(s[0]["status"], "EFI_SUCCESS");
  EXPECT_EQ(s[1]["status"], "EFI_SUCCESS");
  EXPECT_EQ(s[2]["status"], "EFI_INVALID_PARAMETER");  // no buffer
  EXPECT_EQ(s[3]["status"], "EFI_INVALID_PARAMETER");  // source far outside
  EXPECT_EQ(s[4]["status"], "EFI_INVALID_PARAMETER");  // no such operation
  EXPECT_EQ(s[5]["status"], "EFI_SUCCESS");
  // Two red pixels, BGRX.
  EXPECT_EQ(s[5]["sha256"], "a4c5a20bc229aa3dd6208b0522847eb896d8e5a8d57a962444be46228ad43f11");
  EXPECT_EQ(s[6]["status"], "EFI_SUCCESS");  // "aux" off channel 3 means nothing
}

TEST_F(Cli, DriverErrorsStillExitZero) {
  Outcome r = RunJson({{"ddc", Digital()},
                   {"steps",
                    {{{"op", "SetMode"}, {"width", 1024}, {"height", 768}},
                     {{"op", "Blt"}, {"operation", "VideoFill"}, {"dx", 1020}, {"width", 8}, {"height", 1},
                      {"buffer", {{"width", 1}, {"height", 1}}}},
                     {{"op", "Blt"}, {"operation", "VideoToVideo"}, {"width", "0xFFFFFFFFFFFFFFFF"}, {"height", 1}},
                     {{"op", "SetInfo"}, {"key", "00000000-0000-0000-0000-000000000000"}, {"data", "00"}}}}});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.result["steps"][1]["status"], "EFI_INVALID_PARAMETER");
  EXPECT_EQ(r.result["steps"][1]["code"], "0x8000000000000002");
  EXPECT_EQ(r.result["steps"][2]["status"], "EFI_INVALID_PARAMETER");
  EXPECT_EQ(r.result["steps"][3]["status"], "EFI_UNSUPPORTED");
}

// Exit 2, nothing on stdout, one stderr line that names the field.
// The EEPROM holds any image from 1 to 32768 bytes, whatever byte 126
// claims, and a part smaller than a block repeats itself as a real one does.
TEST_F(Cli, EdidsOfAnyLengthAreServedAsTheEepromHoldsThem) {
  const std::string base = Panel();
  const std::string kCases[] = {"5A", base.substr(0, 200), base + std::string(2 * 72, 'A'),
                                base + std::string(2 * (32768 - 128), '5')};
  for (const std::string& hex : kCases) {
    std::string served;
    while (served.size() < 256) served += hex.substr(0, std::min(hex.size(), 256 - served.size()));
    json steps = {{{"op", "SetInfo"}, {"key", kPlatformInfo}, {"data", std::string(256, '0')}},
                  {{"op", "SetInfo"}, {"key", kSelect}, {"data", "00 00 00 00"}},
                  {{"op", "GetInfo"}, {"key", kEdid}, {"size", 128}}};
    json r = Result({{"ddc", {{"1", {{"edid", hex}, {"output", "TMDS"}}}}}, {"steps", steps}});
    EXPECT_EQ(r["steps"][2]["status"], "EFI_SUCCESS") << hex.size() / 2;
    EXPECT_EQ(r["steps"][2]["data"], served) << hex.size() / 2;
  }
}

TEST_F(Cli, MalformedScenariosExitTwoNamingTheField) {
  struct Case {
    std::string text, field;
  };
  std::string blt = R"({"op": "Blt", "operation": "VideoFill", "width": 1, "height": 1, )";
  const Case kCases[] = {
      {R"({"colour": 1})", "colour"},
      {R"({"adapter": {"vendor": 1}})", "adapter.vendor"},
      {R"({"steps": [{"op": "GetMode"}, {"op": "Dance"}]})", "steps[1].op"},
      {R"({"steps": [{"op": "GetMode", "width": 1}]})", "steps[0].width"},
      {R"({"steps": [{"width": 1}]})", "steps[0]"},
      {R"({"ddc": {"1": {"edid": "00 FF 0G"}}})", "ddc.1.edid"},
      {R"({"ddc": {"4": null}})", "ddc.4"},
      {R"({"ddc": {"1": {"edid": ""}}})", "ddc.1.edid"},
      {R"({"ddc": {"1": {"edid": ")" + std::string(2 * 32769, 'A') + R"("}}})", "ddc.1.edid"},
      {R"({"ddc": {"1": {"edid": {"file": "missing.bin"}}}})", "ddc.1.edid.file"},
      {R"({"variables": {"EFIDebug": "4"}})", "variables.EFIDebug"},
      {R"({"start": "yes"})", "start"},
      {R"({"adapter": {"bar0": 1.5}})", "adapter.bar0"},
      {R"({"adapter": {"device_id": "0x1FFFF"}})", "adapter.device_id"},
      {R"({"adapter": {"strap": "12"}})", "adapter.strap"},
      {R"({"platform": {"values": {"not-a-guid": 1}}})", "platform.values.not-a-guid"},
      {R"({"faults": [{"call": "AllocatePool", "nth": 0, "status": "EFI_ABORTED"}]})", "faults[0].nth"},
      {R"({"faults": [{"call": "AllocatePool", "nth": 1, "status": "EFI_NOPE"}]})", "faults[0].status"},
      {R"({"steps": [{"op": "SetInfo", "key": "D2C9944A-0F9D-4649-954F-862C1406F32", "data": "00"}]})", "steps[0].key"},
      {R"({"steps": [{"op": "GetInfo", "key": "D2C9944A-0F9D-4649-954F-862C1406F320", "size": -1}]})", "steps[0].size"},
      {R"({"steps": [{"op": "Attach", "channel": "7"}]})", "steps[0].channel"},
      {R"({"steps": [{"op": "GetControllerName", "child": 1}]})", "steps[0].child"},
      {R"({"steps": [)" + blt + R"("sx": "0xFFFFFFFFFFFFFFFG"}]})", "steps[0].sx"},
      {R"({"steps": [)" + blt + R"("sx": "0x10000000000000000"}]})", "steps[0].sx"},
      {R"({"steps": [)" + blt + R"("operation": "Sideways"}]})", "steps[0].operation"},
      {R"({"steps": [)" + blt + R"("buffer": {"width": 1, "height": 1, "pixel": "red"}}]})", "steps[0].buffer.pixel"},
      {R"({"steps": [)" + blt + R"("sy": "0x10000000", "buffer": {"width": 1, "height": 1}}]})", "steps[0].buffer"},
      {R"({"steps": [{"op": "GopSetMode"}]})", "steps[0]"},
      {R"({"steps": [{"op": "GopQueryMode", "mode": "0x100000000"}]})", "steps[0].mode"},
      {R"({"steps": [{"op": "GopBlt", "width": 1, "height": 1}]})", "steps[0]"},
      {R"([1, 2])", "(scenario)"},
      {R"({"steps": [}})", "(JSON)"},
  };
  for (const Case& c : kCases) {
    Outcome r = RunText(c.text);
    EXPECT_EQ(r.rc, 2) << c.text << "\n" << r.err;
    EXPECT_EQ(r.out, "") << c.text;
    std::vector<std::string> lines = r.ErrLines();
    ASSERT_EQ(lines.size(), 1u) << c.text << "\n" << r.err;
    EXPECT_EQ(lines[0].rfind("kt270sim: malformed scenario: " + c.field + (c.field == "(JSON)" ? " " : ": "), 0), 0u)
        << c.text << "\n" << lines[0];
  }
}

}  // namespace

// The two images differ in what Start puts on the handles and lights.
TEST_F(Cli, TheImageOptionSelectsTheDriver) {
  const json scenario = {{"ddc", Digital()},
                         {"steps",
                          {{{"op", "GopQueryMode"}, {"mode", 0}},
                           {{"op", "GopEdid"}},
                           {{"op", "GetDriverName"}, {"protocol", "ComponentName2"}, {"language", "en"}}}}};
  json uga = Result(scenario, "--image uga-only");
  EXPECT_EQ(uga["steps"][0]["status"], "EFI_NOT_STARTED");
  EXPECT_TRUE(uga["steps"][1]["discovered"].is_null());
  EXPECT_TRUE(uga["steps"][1]["active"].is_null());
  EXPECT_EQ(uga["steps"][2]["status"], "EFI_NOT_STARTED");
  EXPECT_EQ(uga["outputs"]["TMDS"]["enabled"], false);
  json gop = Result(scenario, "--image gop");
  for (const json& step : gop["steps"]) EXPECT_EQ(step["status"], "EFI_SUCCESS") << step;
  EXPECT_EQ(gop["steps"][1]["discovered"]["size"], 128);
  EXPECT_EQ(gop["outputs"]["TMDS"]["monitor"], "in sync");
  EXPECT_EQ(RunJson(scenario, "--image vga").rc, 2);
}

// The UGA-Draw-only image does to the adapter exactly what it did before
// Graphics Output came to Start: every access of every scenario, value and
// virtual time, hashed as recorded (tests/kt270sim/uga_only/traces.txt).
TEST_F(Cli, TheUgaDrawOnlyImageKeepsItsRegisterTraces) {
  const fs::path source = fs::path(KT270SIM_SOURCE_DIR);
  std::ifstream list(source / "tests/kt270sim/uga_only/traces.txt");
  ASSERT_TRUE(list);
  int checked = 0;
  for (std::string line; std::getline(list, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string digest, path;
    size_t lines = 0;
    fields >> digest >> lines >> path;
    SCOPED_TRACE(path);
    fs::path trace = dir_ / "trace.txt";
    std::string cmd = std::string(KT270SIM_BINARY) + " run '" + (source / path).string() + "' --image uga-only --trace '" +
                      trace.string() + "' > /dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string text = Slurp(trace);
    EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')), lines);
    EXPECT_EQ(Sha256Hex(text), digest);
    ++checked;
  }
  EXPECT_GE(checked, 11);
}
