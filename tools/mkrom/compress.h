// The compression of UEFI (the format EFI_DECOMPRESS_PROTOCOL undoes), as
// an option ROM carries a compressed driver image: an 8-byte header (u32
// compressed size, u32 original size, little-endian) and then a bit stream,
// most significant bit first, of Huffman-coded blocks of LZ77 literals and
// matches (lengths 3..256, distances 1..8192).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace efic {

constexpr uint32_t kHeaderSize = 8;
constexpr uint32_t kMinMatch = 3;
constexpr uint32_t kMaxMatch = 256;
constexpr uint32_t kMaxDistance = 8192;
constexpr uint32_t kMaxBlockSymbols = 0xFFFF;  // the block's 16-bit symbol count

struct CompressOptions {
  uint32_t block_symbols = kMaxBlockSymbols;  // literals and matches per block, 1..0xFFFF
};

// Huffman code lengths for symbols of these frequencies (at least two of
// them used), as the compressor gives them: a complete code, no length over
// 16 bits.
std::vector<uint8_t> CodeLengths(std::vector<uint32_t> freq);

std::vector<uint8_t> Compress(const uint8_t* data, size_t size, const CompressOptions& options = {});

// What a stream held, for tests and reports.
struct StreamInfo {
  uint32_t compressed_size = 0;  // from the header
  uint32_t original_size = 0;
  size_t blocks = 0, literals = 0, matches = 0;
  uint32_t longest = 0, farthest = 0;  // match length and distance
};

// Decodes a whole stream of `size` bytes (the stream may be followed by
// padding up to `size`). Stricter than firmware: besides anything that
// would make a firmware decoder fail or read outside its buffers, it refuses
// whatever this compressor never writes (an incomplete or empty code, a
// match past the original size, symbols left in the last block, stray bits
// after the last symbol), so a fault of the compressor cannot pass.
// On refusal returns false with the reason in *why.
bool Decompress(const uint8_t* src, size_t size, std::vector<uint8_t>* out, std::string* why,
                StreamInfo* info = nullptr, uint32_t max_original = 1u << 24);

}  // namespace efic
