// Every real EDID of the corpus through ParseDetailedTiming, and descriptor
// 1 cross-checked against what edid-decode printed for the same file
// (stored under expected/ by regenerate_expected.py).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "driver/hw/edid.h"

namespace fs = std::filesystem;

namespace {

const fs::path kCorpus = QUOVAN_EDID_CORPUS;
const fs::path kExpected = QUOVAN_EDID_EXPECTED;

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  std::error_code error;
  if (!fs::is_directory(kCorpus, error)) return files;
  for (const auto& folder : fs::directory_iterator(kCorpus)) {
    if (!folder.is_directory()) continue;
    for (const auto& file : fs::directory_iterator(folder.path())) {
      if (file.path().extension() == ".bin") files.push_back(fs::relative(file.path(), kCorpus).string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> ReadLines(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  }
  return lines;
}

std::map<std::string, std::string> AcceptedDifferences() {
  std::map<std::string, std::string> accepted;
  for (const std::string& line : ReadLines(kExpected / "accepted_differences.txt")) {
    std::istringstream in(line);
    std::string file, reason;
    in >> file;
    std::getline(in, reason);
    accepted[file] = reason;
  }
  return accepted;
}

// What edid-decode printed for a detailed timing.
struct DecodedTiming {
  int width = 0, height = 0;
  bool interlaced = false;
  double mhz = 0;
  int h_front = 0, h_sync = 0, h_back = 0;
  int v_front = 0, v_sync = 0, v_back = 0;
  bool h_positive = false, v_positive = false;
};

// "DTD 1:  1920x1080i  60.000000 Hz  16:9  33.750 kHz  74.250000 MHz (...)"
// "Hfront 88 Hsync 44 Hback 148 Hpol P", "Vfront 2 Vsync 5 Vback 15 Vpol P ..."
bool ReadDecodedTiming(const std::vector<std::string>& lines, DecodedTiming* t) {
  if (lines.size() < 3 || lines[0].rfind("DTD 1:", 0) != 0) return false;
  std::istringstream head(lines[0].substr(6));
  std::string size, word;
  head >> size;
  size_t x = size.find('x');
  t->width = std::stoi(size.substr(0, x));
  t->height = std::stoi(size.substr(x + 1));
  t->interlaced = size.back() == 'i';
  std::string previous;
  while (head >> word) {
    if (word == "MHz") t->mhz = std::stod(previous);
    previous = word;
  }
  auto fields = [](const std::string& line, int* front, int* sync, int* back, bool* positive) {
    std::istringstream in(line);
    std::string name, pol;
    in >> name >> *front >> name >> *sync >> name >> *back >> name >> pol;
    *positive = pol == "P";
  };
  fields(lines[1], &t->h_front, &t->h_sync, &t->h_back, &t->h_positive);
  fields(lines[2], &t->v_front, &t->v_sync, &t->v_back, &t->v_positive);
  return t->mhz > 0;
}

class Corpus : public ::testing::TestWithParam<std::string> {};

TEST_P(Corpus, EveryDescriptorParsesAndTheFirstMatchesEdidDecode) {
  const std::string name = GetParam();
  const std::vector<uint8_t> edid = ReadBytes(kCorpus / name);
  ASSERT_GE(edid.size(), 128u);
  const BOOLEAN digital = (edid[EDID_VIDEO_INPUT] & EDID_VIDEO_INPUT_DIGITAL) ? EFI_TRUE : EFI_FALSE;
  ADAPTER_CONTEXT context{};

  // Each of the four descriptors of the base block, as if it came first:
  // the sanitizers watch for any fault.
  for (uint32_t offset = EDID_DESCRIPTOR_1; offset < 126; offset += EDID_DESCRIPTOR_SIZE) {
    DETAILED_TIMING scratch{};
    ParseDetailedTiming(&context, &scratch, &edid[offset], digital);
  }

  DETAILED_TIMING t;
  std::memset(&t, 0xA5, sizeof(t));
  const DETAILED_TIMING untouched = t;
  const BOOLEAN parsed = ParseDetailedTiming(&context, &t, &edid[EDID_DESCRIPTOR_1], digital);
  const uint8_t features = edid[EDID_DESCRIPTOR_1 + 17];
  const bool separate_sync = (features & 0x18) == 0x18;

  const std::vector<std::string> expected = ReadLines(kExpected / fs::path(name).replace_extension(".txt"));
  ASSERT_FALSE(expected.empty()) << "no stored edid-decode output; run tests/ddc_edid/regenerate_expected.py";
  if (AcceptedDifferences().count(name)) return;

  DecodedTiming d;
  if (!ReadDecodedTiming(expected, &d)) {
    // A display descriptor in the timing's place: clock bytes 0, 0.
    EXPECT_FALSE(parsed) << expected[0];
    return;
  }
  if (!digital && !separate_sync) {
    EXPECT_FALSE(parsed);
    EXPECT_EQ(0, std::memcmp(&t, &untouched, sizeof(t)));
    return;
  }
  const uint16_t clock = static_cast<uint16_t>(std::lround(d.mhz * 100));
  const bool doubled_tv = digital && d.interlaced && clock == 2700 && (d.width & ~7) == 1440 &&
                          (d.height == 480 || d.height == 576);
  ASSERT_EQ(!doubled_tv && clock != 0x0101, parsed != 0) << expected[0];

  EXPECT_EQ(clock, t.PixelClock);
  // The driver stores the width in whole characters of 8 pixels.
  EXPECT_EQ(d.width & ~7, t.HActive);
  EXPECT_EQ(d.width + d.h_front + d.h_sync + d.h_back, t.HTotal);
  EXPECT_EQ(d.h_front, t.HSyncOffset);
  EXPECT_EQ(d.h_sync, t.HSyncWidth);
  EXPECT_EQ(d.h_front + d.h_sync + d.h_back, t.HBlank);

  const int v_blank = d.v_front + d.v_sync + d.v_back;
  EXPECT_EQ(v_blank, t.VBlank);
  EXPECT_EQ(d.height, t.VActive);  // edid-decode shows an interlaced frame too
  if (d.interlaced) {
    // edid-decode gives the field's porches; the driver keeps the frame.
    EXPECT_EQ(2 * (d.height / 2 + v_blank) + 1, t.VTotal);
    EXPECT_EQ(2 * d.v_front + 1, t.VSyncOffset);
    EXPECT_EQ(2 * d.v_sync, t.VSyncWidth);
  } else {
    EXPECT_EQ(d.height + v_blank, t.VTotal);
    EXPECT_EQ(d.v_front, t.VSyncOffset);
    EXPECT_EQ(d.v_sync, t.VSyncWidth);
  }
  uint16_t flags = d.interlaced ? TIMING_FLAG_INTERLACED : 0;
  if (separate_sync && d.h_positive) flags |= TIMING_FLAG_HSYNC_POSITIVE;
  if (separate_sync && d.v_positive) flags |= TIMING_FLAG_VSYNC_POSITIVE;
  EXPECT_EQ(flags, t.Flags);
}

INSTANTIATE_TEST_SUITE_P(RealEdids, Corpus, ::testing::ValuesIn(CorpusFiles()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string n = info.param;
                           for (char& c : n) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return n;
                         });

TEST(CorpusExpectations, EveryEdidHasItsStoredOutputAndNoneIsStale) {
  const std::vector<std::string> files = CorpusFiles();
  ASSERT_FALSE(files.empty()) << "EDID corpus missing at " << kCorpus;
  size_t stored = 0;
  for (const auto& folder : fs::directory_iterator(kExpected)) {
    if (!folder.is_directory()) continue;
    for (const auto& file : fs::directory_iterator(folder.path())) {
      std::string bin = fs::relative(file.path(), kExpected).replace_extension(".bin").string();
      EXPECT_TRUE(std::binary_search(files.begin(), files.end(), bin)) << "stale expectation " << bin;
      ++stored;
    }
  }
  EXPECT_EQ(files.size(), stored);
  for (const auto& [file, reason] : AcceptedDifferences()) {
    EXPECT_TRUE(std::binary_search(files.begin(), files.end(), file)) << file;
    EXPECT_FALSE(reason.empty()) << file;
  }
}

}  // namespace
