// Checks the headers of a PE32+ EFI image the way the firmware's loader
// depends on them: x86-64 machine, the expected subsystem, nothing to import
// (the firmware resolves no imports), and base relocations it can apply
// (the image is loaded wherever the firmware has memory).
//
//   pecheck [--subsystem N] image.efi
//
// Prints one "field: value" line per header field it looked at, then
// "pecheck: ok" or one "pecheck: FAIL ..." line per violated rule.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr uint16_t kMachineX64 = 0x8664;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint16_t kRelocsStripped = 0x0001;
constexpr unsigned kImportDirectory = 1;
constexpr unsigned kBaseRelocDirectory = 5;
constexpr unsigned kDelayImportDirectory = 13;
constexpr unsigned kRelBasedAbsolute = 0;  // padding entry
constexpr unsigned kRelBasedDir64 = 10;

struct Section {
  std::string name;
  uint32_t virtualAddress, virtualSize, rawPointer, rawSize;
};

class Image {
 public:
  explicit Image(std::vector<uint8_t> bytes) : b_(std::move(bytes)) {}
  bool has(size_t off, size_t n) const { return off <= b_.size() && n <= b_.size() - off; }
  uint8_t u8(size_t off) const { return b_[off]; }
  uint16_t u16(size_t off) const { return static_cast<uint16_t>(b_[off] | b_[off + 1] << 8); }
  uint32_t u32(size_t off) const { return u16(off) | static_cast<uint32_t>(u16(off + 2)) << 16; }
  size_t size() const { return b_.size(); }

  // File offset of an RVA, or SIZE_MAX when no section's raw data holds it.
  size_t fileOffset(uint32_t rva, uint32_t length) const {
    for (const Section& s : sections) {
      uint32_t span = s.rawSize < s.virtualSize ? s.rawSize : s.virtualSize;
      if (rva >= s.virtualAddress && rva - s.virtualAddress <= span && length <= span - (rva - s.virtualAddress)) {
        size_t off = s.rawPointer + (rva - s.virtualAddress);
        return has(off, length) ? off : SIZE_MAX;
      }
    }
    return SIZE_MAX;
  }

  std::vector<Section> sections;

 private:
  std::vector<uint8_t> b_;
};

struct Report {
  int failures = 0;
  void fail(const std::string& why) {
    std::printf("pecheck: FAIL %s\n", why.c_str());
    ++failures;
  }
};

// Walks the relocation blocks; returns the number of DIR64 fix-ups, or -1
// after reporting a malformed block or an entry type the firmware rejects.
long countRelocations(const Image& img, uint32_t rva, uint32_t size, Report& r) {
  size_t base = img.fileOffset(rva, size);
  if (base == SIZE_MAX) {
    r.fail("base relocation directory lies outside the sections' data");
    return -1;
  }
  long dir64 = 0;
  for (uint32_t pos = 0; pos < size;) {
    if (size - pos < 8) {
      r.fail("truncated base relocation block header");
      return -1;
    }
    uint32_t page = img.u32(base + pos);
    uint32_t blockSize = img.u32(base + pos + 4);
    if (blockSize < 8 || blockSize % 2 != 0 || blockSize > size - pos) {
      r.fail("base relocation block at +" + std::to_string(pos) + " has bad size " + std::to_string(blockSize));
      return -1;
    }
    for (uint32_t e = 8; e < blockSize; e += 2) {
      uint16_t entry = img.u16(base + pos + e);
      unsigned type = entry >> 12;
      if (type == kRelBasedDir64) {
        ++dir64;
      } else if (type != kRelBasedAbsolute) {
        char msg[96];
        std::snprintf(msg, sizeof msg, "relocation type %u at RVA 0x%x (only DIR64 expected on x86-64)", type,
                      page + (entry & 0xFFFu));
        r.fail(msg);
        return -1;
      }
    }
    pos += blockSize;
  }
  return dir64;
}

int check(const Image& in, long wantSubsystem) {
  Image img = in;
  Report r;
  if (!img.has(0, 0x40) || img.u16(0) != 0x5A4D) {
    r.fail("no MZ header");
    return 1;
  }
  uint32_t pe = img.u32(0x3C);
  if (!img.has(pe, 24) || img.u32(pe) != 0x00004550) {
    r.fail("no PE signature");
    return 1;
  }
  size_t coff = pe + 4;
  uint16_t machine = img.u16(coff);
  uint16_t sectionCount = img.u16(coff + 2);
  uint16_t optSize = img.u16(coff + 16);
  uint16_t characteristics = img.u16(coff + 18);
  size_t opt = coff + 20;
  if (!img.has(opt, optSize) || optSize < 112) {
    r.fail("optional header truncated");
    return 1;
  }
  uint16_t magic = img.u16(opt);
  uint32_t entry = img.u32(opt + 16);
  uint16_t subsystem = img.u16(opt + 68);
  uint32_t dirCount = img.u32(opt + 108);
  size_t sectionTable = opt + optSize;
  if (!img.has(sectionTable, size_t{sectionCount} * 40)) {
    r.fail("section table truncated");
    return 1;
  }
  for (unsigned i = 0; i < sectionCount; ++i) {
    size_t s = sectionTable + i * 40;
    char name[9] = {};
    for (int k = 0; k < 8; ++k) name[k] = static_cast<char>(img.u8(s + k));
    img.sections.push_back({name, img.u32(s + 12), img.u32(s + 8), img.u32(s + 20), img.u32(s + 16)});
  }
  auto directory = [&](unsigned index, uint32_t& rva, uint32_t& size) {
    rva = size = 0;
    if (index < dirCount && 112 + (index + 1) * 8 <= optSize) {
      rva = img.u32(opt + 112 + index * 8);
      size = img.u32(opt + 116 + index * 8);
    }
  };
  uint32_t importRva, importSize, relocRva, relocSize, delayRva, delaySize;
  directory(kImportDirectory, importRva, importSize);
  directory(kBaseRelocDirectory, relocRva, relocSize);
  directory(kDelayImportDirectory, delayRva, delaySize);

  std::printf("machine: 0x%04x\n", machine);
  std::printf("magic: 0x%03x\n", magic);
  std::printf("subsystem: %u\n", subsystem);
  std::printf("entry: 0x%x\n", entry);
  std::printf("sections: %u\n", sectionCount);
  std::printf("imports: rva 0x%x size %u\n", importRva, importSize);
  std::printf("relocations: rva 0x%x size %u\n", relocRva, relocSize);

  if (machine != kMachineX64) r.fail("machine is not x86-64 (0x8664)");
  if (magic != kMagicPe32Plus) r.fail("not a PE32+ optional header");
  if (wantSubsystem >= 0 && subsystem != wantSubsystem)
    r.fail("subsystem " + std::to_string(subsystem) + ", expected " + std::to_string(wantSubsystem));
  if (entry == 0 || img.fileOffset(entry, 1) == SIZE_MAX) r.fail("entry point is not inside a section");
  if (importRva != 0 || importSize != 0) r.fail("image has an import table");
  if (delayRva != 0 || delaySize != 0) r.fail("image has a delay-load import table");
  if (characteristics & kRelocsStripped) r.fail("relocations stripped");
  if (relocRva == 0 || relocSize == 0) {
    r.fail("no base relocation directory");
  } else {
    long fixups = countRelocations(img, relocRva, relocSize, r);
    if (fixups >= 0) std::printf("dir64 fixups: %ld\n", fixups);
    if (fixups == 0) r.fail("base relocation directory holds no fix-ups");
  }
  if (r.failures == 0) std::printf("pecheck: ok\n");
  return r.failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  long wantSubsystem = -1;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--subsystem") == 0 && i + 1 < argc) {
      wantSubsystem = std::strtol(argv[++i], nullptr, 0);
    } else if (!path) {
      path = argv[i];
    } else {
      path = nullptr;
      break;
    }
  }
  if (!path) {
    std::fprintf(stderr, "usage: pecheck [--subsystem N] image.efi\n");
    return 2;
  }
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    std::printf("pecheck: FAIL cannot open %s\n", path);
    return 1;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::printf("image: %s (%zu bytes)\n", path, bytes.size());
  return check(Image(std::move(bytes)), wantSubsystem);
}
