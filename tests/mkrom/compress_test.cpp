// The option ROM's compression: the compressor through the decompressor on
// inputs at every edge of the format, and the decompressor refusing broken
// streams without reading outside them (the host build runs under ASan).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/mkrom/compress.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Random(size_t n, uint32_t seed) {
  Bytes b(n);
  for (uint8_t& x : b) {
    seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
    x = static_cast<uint8_t>(seed >> 11);
  }
  return b;
}

// Random bytes, then `length` more repeating them from `distance` back:
// the one long match the data holds.
Bytes Echo(uint32_t length, uint32_t distance, uint32_t seed = 7) {
  Bytes b = Random(distance, seed);
  for (uint32_t i = 0; i < length; ++i) b.push_back(b[b.size() - distance]);
  return b;
}

Bytes Run(size_t n, uint8_t v = 0) { return Bytes(n, v); }

// Random bytes of a few values: between them, zero runs of every form the
// code lengths have (one, two, 3 to 18, 19 and 20 on).
Bytes Gaps() {
  const uint8_t kUsed[] = {0, 2, 5, 9, 28, 48, 69, 91};
  Bytes b = Random(3000, 5);
  for (uint8_t& x : b) x = kUsed[x % 8];
  return b;
}

Bytes EveryByteTwice() {
  Bytes b(512);
  for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(i);
  return b;
}

// Byte i + 1 occurs fib(i) times, shuffled: codes longer than the 12 bits
// a firmware decoder looks up at once.
Bytes Skewed() {
  Bytes b;
  for (uint32_t i = 0, f0 = 1, f1 = 1; i < 22; ++i, f1 += f0, f0 = f1 - f0) b.insert(b.end(), f0, uint8_t(i + 1));
  Bytes r = Random(b.size(), 99);
  for (size_t i = b.size() - 1; i > 0; --i) std::swap(b[i], b[(r[i] | r[i - 1] << 8 | size_t{r[i / 2]} << 16) % (i + 1)]);
  return b;
}

Bytes Text(size_t n) {
  static const char kWords[] = "the driver lights the display through the adapter, and the firmware loads it ";
  Bytes b;
  for (size_t i = 0; b.size() < n; i = (i * 7 + 3) % (sizeof kWords - 1)) b.push_back(uint8_t(kWords[i]));
  return b;
}

struct RoundTrip {
  const char* name;
  Bytes data;
  uint32_t block_symbols;
  uint32_t longest, farthest;  // the match the stream must use; 0: any
  size_t blocks;               // 0: any
};

class CompressRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(CompressRoundTrip, DecodesToTheInput) {
  const RoundTrip& c = GetParam();
  Bytes z = efic::Compress(c.data.data(), c.data.size(), {c.block_symbols});
  Bytes out;
  std::string why;
  efic::StreamInfo info;
  ASSERT_TRUE(efic::Decompress(z.data(), z.size(), &out, &why, &info)) << why;
  EXPECT_EQ(out, c.data);
  EXPECT_EQ(info.original_size, c.data.size());
  EXPECT_EQ(info.compressed_size + efic::kHeaderSize, z.size());
  EXPECT_LE(info.longest, efic::kMaxMatch);
  EXPECT_LE(info.farthest, efic::kMaxDistance);
  if (c.longest) EXPECT_EQ(info.longest, c.longest);
  if (c.farthest) EXPECT_EQ(info.farthest, c.farthest);
  if (c.blocks) EXPECT_EQ(info.blocks, c.blocks);
}

const uint32_t kBlock = efic::kMaxBlockSymbols;
INSTANTIATE_TEST_SUITE_P(
    Edges, CompressRoundTrip,
    testing::Values(
        RoundTrip{"empty", {}, kBlock, 0, 0, 0}, RoundTrip{"one_byte", {0xA5}, kBlock, 0, 0, 1},
        RoundTrip{"three_equal", Run(3, 9), kBlock, 0, 0, 1},
        RoundTrip{"shortest_match", Run(4, 9), kBlock, 3, 1, 1},
        RoundTrip{"every_byte_value_twice", EveryByteTwice(), kBlock, 256, 256, 1},
        RoundTrip{"incompressible", Random(5000, 1), kBlock, 0, 0, 1},
        RoundTrip{"two_blocks_of_literals", Random(kBlock + 1000, 2), kBlock, 0, 0, 2},
        RoundTrip{"long_run", Run(100000, 0xFF), kBlock, 256, 1, 1},
        RoundTrip{"run_one_symbol_per_block", Run(3000), 1, 256, 1, 13},
        RoundTrip{"text_in_small_blocks", Text(20000), 7, 0, 0, 0},
        RoundTrip{"skewed_frequencies", Skewed(), kBlock, 0, 0, 0},
        RoundTrip{"zero_runs_in_code_lengths", Gaps(), kBlock, 0, 0, 1},
        RoundTrip{"length_255", Echo(255, 300), kBlock, 255, 300, 0},
        RoundTrip{"length_256", Echo(256, 300), kBlock, 256, 300, 0},
        RoundTrip{"length_257", Echo(257, 300), kBlock, 256, 300, 0},
        RoundTrip{"length_259", Echo(259, 300), kBlock, 256, 300, 0},
        RoundTrip{"length_513", Echo(513, 600), kBlock, 256, 600, 0},
        RoundTrip{"distance_2", Echo(100, 2), kBlock, 0, 2, 0},
        RoundTrip{"distance_3", Echo(100, 3), kBlock, 0, 3, 0},
        RoundTrip{"distance_4", Echo(100, 4), kBlock, 0, 4, 0},
        RoundTrip{"distance_5", Echo(100, 5), kBlock, 0, 5, 0},
        RoundTrip{"distance_4096", Echo(100, 4096), kBlock, 100, 4096, 0},
        RoundTrip{"distance_4097", Echo(100, 4097), kBlock, 100, 4097, 0},
        RoundTrip{"distance_8191", Echo(100, 8191), kBlock, 100, 8191, 0},
        RoundTrip{"distance_8192", Echo(100, 8192), kBlock, 100, 8192, 0},
        RoundTrip{"distance_8193_out_of_reach", Echo(100, 8193), kBlock, 0, 0, 0}),
    [](const testing::TestParamInfo<RoundTrip>& p) { return std::string(p.param.name); });

TEST(CompressFormat, CodesStayCompleteWithinSixteenBits) {
  // Fibonacci frequencies: an unlimited Huffman code would be 39 bits deep.
  std::vector<uint32_t> freq(510, 0);
  for (uint32_t i = 0, f0 = 1, f1 = 1; i < 40; ++i, f1 += f0, f0 = f1 - f0) freq[i * 12] = f0;
  for (auto f : {freq, std::vector<uint32_t>{3, 0, 1}, std::vector<uint32_t>(510, 1)}) {
    std::vector<uint8_t> len = efic::CodeLengths(f);
    uint32_t kraft = 0;
    for (size_t s = 0; s < f.size(); ++s) {
      EXPECT_LE(len[s], 16);
      EXPECT_EQ(len[s] == 0, f[s] == 0) << s;
      if (len[s]) kraft += 0x10000u >> len[s];
    }
    EXPECT_EQ(kraft, 0x10000u);
  }
}

// Hand-made streams: header and bits (most significant first, blanks for
// reading), with what the decompressor must say about them.
Bytes Stream(uint32_t original, const std::string& bits) {
  Bytes b(8);
  int n = 0;
  for (char ch : bits) {
    if (ch == ' ') continue;
    if (n % 8 == 0) b.push_back(0);
    b.back() = uint8_t(b.back() | (ch == '1') << (7 - n % 8));
    ++n;
  }
  uint32_t size = uint32_t(b.size() - 8);
  for (int i = 0; i < 4; ++i) b[i] = uint8_t(size >> 8 * i), b[4 + i] = uint8_t(original >> 8 * i);
  return b;
}

// One symbol: T and P sets single, the C set the single symbol given.
std::string Block(const std::string& count, const std::string& c, const std::string& p = "0000 0000") {
  return count + " 00000 00000 000000000 " + c + " " + p;
}
const std::string kOne = "0000000000000001", kLiteralA = "001000001";

TEST(CompressFormat, OneByteIsTheHandMadeStream) {
  Bytes a = {'A'};
  EXPECT_EQ(efic::Compress(a.data(), 1), Stream(1, Block(kOne, kLiteralA)));
  Bytes out;
  std::string why;
  Bytes z = Stream(1, Block(kOne, kLiteralA));
  ASSERT_EQ(z.size(), 15u);
  ASSERT_TRUE(efic::Decompress(z.data(), z.size(), &out, &why)) << why;
  EXPECT_EQ(out, a);
  // Two blocks: 'A', then a match of 4 at distance 1.
  z = Stream(5, Block(kOne, kLiteralA) + Block(kOne, "100000001"));
  ASSERT_TRUE(efic::Decompress(z.data(), z.size(), &out, &why)) << why;
  EXPECT_EQ(out, Bytes(5, 'A'));
}

struct Broken {
  const char* name;
  Bytes stream;
  const char* reason;
};

class DecompressRefuses : public testing::TestWithParam<Broken> {};

TEST_P(DecompressRefuses, BrokenStream) {
  Bytes out;
  std::string why;
  EXPECT_FALSE(efic::Decompress(GetParam().stream.data(), GetParam().stream.size(), &out, &why, nullptr, 1000));
  EXPECT_NE(why.find(GetParam().reason), std::string::npos) << why;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, DecompressRefuses,
    testing::Values(
        Broken{"short_header", Bytes(7), "shorter than"},
        Broken{"size_past_data", Bytes{9, 0, 0, 0, 1, 0, 0, 0}, "runs past the data"},
        Broken{"original_over_limit", Stream(1001, ""), "over the limit"},
        Broken{"no_symbols", Stream(1, Block("0000000000000000", kLiteralA)), "no symbols"},
        Broken{"c_single_out_of_range", Stream(1, Block(kOne, "111111110")), "C set: single symbol out of range"},
        Broken{"p_single_out_of_range", Stream(3, Block(kOne, "100000000", "0000 1110")), "P set: single symbol"},
        Broken{"t_count_over_19", Stream(1, kOne + " 10100"), "T set: more code lengths"},
        Broken{"c_count_over_510", Stream(1, kOne + " 00000 00011 111111111"), "C set: more code lengths"},
        Broken{"t_zero_run_past_count", Stream(1, kOne + " 00011 001 001 000 01"), "T set: zero run past"},
        Broken{"c_zero_run_past_count", Stream(1, kOne + " 00000 00001 000000010 0001"), "C set: zero run past"},
        Broken{"incomplete_code", Stream(1, Block(kOne, kLiteralA, "0001 001")), "P set: not a complete"},
        Broken{"oversubscribed_code", Stream(1, Block(kOne, kLiteralA, "0011 001 001 001")), "P set: not a complete"},
        Broken{"length_over_16", Stream(1, Block(kOne, kLiteralA, "0001 111 1111111111")), "over 16"},
        Broken{"match_before_start", Stream(3, Block(kOne, "100000000")), "before the start"},
        Broken{"match_past_end", Stream(3, Block(kOne, kLiteralA) + Block(kOne, "100000001")), "past the original"},
        Broken{"ends_early", Stream(2, Block(kOne, kLiteralA)), "ends early"},
        Broken{"symbols_left", Stream(1, Block("0000000000000010", kLiteralA)), "more symbols"},
        Broken{"padding_not_zero", Stream(1, Block(kOne, kLiteralA) + " 1"), "padding"},
        Broken{"byte_after_last_symbol", Stream(1, Block(kOne, kLiteralA) + " 00000000"), "bytes left"}),
    [](const testing::TestParamInfo<Broken>& p) { return std::string(p.param.name); });

// Every truncation and every single-bit flip of a real stream: refused, or
// (a flip only) decoded to something else; never the input, never a crash.
TEST(DecompressRefuses, EveryTruncationAndBitFlip) {
  Bytes data = Text(1500);
  Bytes extra = Echo(300, 700, 3);
  data.insert(data.end(), extra.begin(), extra.end());
  const Bytes z = efic::Compress(data.data(), data.size());
  Bytes out;
  std::string why;
  for (size_t n = efic::kHeaderSize; n < z.size(); ++n) {
    Bytes cut(z.begin(), z.begin() + n);
    EXPECT_FALSE(efic::Decompress(cut.data(), cut.size(), &out, &why)) << "truncated to " << n;
    uint32_t size = uint32_t(n - efic::kHeaderSize);
    for (int i = 0; i < 4; ++i) cut[i] = uint8_t(size >> 8 * i);
    EXPECT_FALSE(efic::Decompress(cut.data(), cut.size(), &out, &why)) << "truncated to " << n << ", size mended";
  }
  // Prefix codes fall back into step, so many flips decode to the right
  // length: only the comparison with the image (romcheck's) catches those.
  for (size_t bit = 0; bit < z.size() * 8; ++bit) {
    Bytes bad = z;
    bad[bit / 8] ^= uint8_t(0x80 >> bit % 8);
    EXPECT_TRUE(!efic::Decompress(bad.data(), bad.size(), &out, &why) || out != data) << "bit " << bit;
  }
}

}  // namespace
