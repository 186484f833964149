// Every real EDID of the corpus on a monitor of the model, alone on DDC
// channel 1 (the analogue ones also alone on channel 2): discovery runs
// without a fault and within the I2C standard mode's bus timing,
// publishes the block once, and finds what expected/corpus.txt (written by
// regenerate_expected.py from the bytes alone) says.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "driver/hw/discovery.h"
#include "tests/discovery/bench.h"

namespace fs = std::filesystem;

namespace discovery_test {
namespace {

const fs::path kCorpus = QUOVAN_EDID_CORPUS;
const fs::path kExpected = fs::path(QUOVAN_DISCOVERY_EXPECTED) / "corpus.txt";

std::vector<std::string> CorpusFiles(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code error;
  if (!fs::is_directory(kCorpus / folder, error)) return files;
  for (const auto& file : fs::directory_iterator(kCorpus / folder)) {
    if (file.path().extension() == ".bin") files.push_back(fs::relative(file.path(), kCorpus).generic_string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::map<std::string, std::string> ExpectedLines() {
  std::map<std::string, std::string> expected;
  std::ifstream in(kExpected);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    size_t colon = line.find(": ");
    if (colon != std::string::npos) expected[line.substr(0, colon)] = line.substr(colon + 2);
  }
  return expected;
}

std::string Describe(const ADAPTER_CONTEXT& c) {
  const UGA_MODE_RECORD& m = c.CurrentMode[0];
  char text[200];
  std::snprintf(text, sizeof(text),
                "kind=0x%02x out=%u crtc=%u mask=0x%08x list=%u row=%u vendor=%u ntsc=%u mode=%llux%llux%llu@%llu",
                c.ConnectorType[0], c.OutputChannel[0], c.CrtcIndex[0], c.ModeSupportMask[0], c.ModeFromList[0],
                static_cast<unsigned>(c.ModeIndex[0]), c.EdidVendorMatch[0], c.TvUseNtsc[0],
                static_cast<unsigned long long>(m.HorizontalResolution),
                static_cast<unsigned long long>(m.VerticalResolution), static_cast<unsigned long long>(m.ColorDepth),
                static_cast<unsigned long long>(m.RefreshRate));
  return text;
}

kt270::Connector ConnectorFor(const std::string& file, unsigned channel) {
  bool analogue = file.rfind("analog/", 0) == 0;
  if (channel == 1) return analogue ? kt270::Connector::kAnalogA : kt270::Connector::kDigital;
  return analogue ? kt270::Connector::kAnalogB : kt270::Connector::kTv;
}

class Corpus : public ::testing::TestWithParam<const char*> {};

TEST_P(Corpus, EveryEdidMatchesTheStoredExpectation) {
  const std::string folder = GetParam();
  std::vector<std::string> files = CorpusFiles(folder);
  if (files.empty()) GTEST_SKIP() << "no corpus at " << kCorpus / folder;
  std::map<std::string, std::string> expected = ExpectedLines();
  const std::vector<unsigned> channels = folder == "analog" ? std::vector<unsigned>{1, 2} : std::vector<unsigned>{1};

  for (const std::string& file : files) {
    std::ifstream in(kCorpus / file, std::ios::binary);
    std::vector<uint8_t> edid((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GE(edid.size(), 128u) << file;
    std::vector<uint8_t> base(edid.begin(), edid.begin() + 128);
    for (unsigned channel : channels) {
      std::string key = file + " ch" + std::to_string(channel);
      SCOPED_TRACE(key);
      ASSERT_EQ(expected.count(key), 1u) << "regenerate " << kExpected;
      Bench bench;
      ASSERT_EQ(bench.Start(), EFI_SUCCESS);
      bench.Plug(edid, ConnectorFor(file, channel));
      DiscoverDisplays(bench.Context());

      EXPECT_EQ(Describe(*bench.Context()), expected[key]);
      EXPECT_EQ(bench.Context()->DisplayCount, 1u);
      std::vector<simplatform::PropertyRecord> mine = bench.Named(channel == 1 ? "ZEY,EDIDA" : "ZEY,EDIDB");
      ASSERT_EQ(mine.size(), 1u);
      EXPECT_EQ(mine[0].value, base);
      EXPECT_TRUE(bench.Named(channel == 1 ? "ZEY,EDIDB" : "ZEY,EDIDA").empty());
      EXPECT_TRUE(bench.fw.faults().empty()) << bench.fw.DescribeFaults();
      EXPECT_EQ(bench.adapter().stats().bad_accesses, 0u);
      for (const kt270::DdcBusStats& bus : bench.adapter().stats().ddc) {
        EXPECT_EQ(kt270::TimingViolations(bus), 0u);  // the board's bit timing is within the standard mode
        EXPECT_EQ(bus.missed, 0u);
      }
    }
  }
}

// One case per folder, so that a parallel test run spreads them.
INSTANTIATE_TEST_SUITE_P(Folders, Corpus, ::testing::Values("analog", "broken", "digital", "tv"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
}  // namespace discovery_test
