// romcheck: parses a PCI expansion-ROM image back, field by field, and
// checks it as a firmware's PCI bus driver would before loading an EFI
// driver from it, plus the values the card must carry.
//
//   romcheck --vendor ID --device ID --device-list ID,... --class 0xCCSSPP
//            [--compression 0|1] --image driver.efi rom.bin
//
// --compression is the type the header must carry (default 1): with 1 the
// image is decompressed and must be the driver byte for byte. Offsets are
// written from the PCI Firmware tables here, independently of the builder. Prints one "field: value" line per field, then "romcheck: ok"
// or one "romcheck: FAIL ..." line per violated rule.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/mkrom/compress.h"

namespace {

std::vector<uint8_t> ReadFile(const char* path, bool* ok) {
  std::ifstream f(path, std::ios::binary);
  *ok = static_cast<bool>(f);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

struct Checker {
  const std::vector<uint8_t>& b;
  int failures = 0;
  bool Has(size_t at, size_t n) const { return at <= b.size() && n <= b.size() - at; }
  uint32_t U8(size_t at) const { return Has(at, 1) ? b[at] : 0; }
  uint32_t U16(size_t at) const { return U8(at) | U8(at + 1) << 8; }
  uint32_t U32(size_t at) const { return U16(at) | U16(at + 2) << 16; }
  void Fail(const std::string& what) {
    std::printf("romcheck: FAIL %s\n", what.c_str());
    ++failures;
  }
  // Prints the field and checks it against the expected value.
  void Field(const char* name, uint32_t got, uint32_t want) {
    std::printf("%s: 0x%x\n", name, got);
    if (got != want) {
      char text[160];
      std::snprintf(text, sizeof text, "%s is 0x%x, expected 0x%x", name, got, want);
      Fail(text);
    }
  }
};

bool ParseNumber(const char* text, unsigned long* out) {
  char* end = nullptr;
  *out = std::strtoul(text, &end, 0);
  return *text && !*end;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long vendor = 0, device = 0, klass = 0, compression = 1;
  std::vector<unsigned long> list;
  const char* imagePath = nullptr;
  const char* romPath = nullptr;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool v = i + 1 < argc;
    if (a == "--vendor" && v && ParseNumber(argv[i + 1], &vendor)) {
      ++i;
    } else if (a == "--device" && v && ParseNumber(argv[i + 1], &device)) {
      ++i;
    } else if (a == "--class" && v && ParseNumber(argv[i + 1], &klass)) {
      ++i;
    } else if (a == "--compression" && v && ParseNumber(argv[i + 1], &compression)) {
      ++i;
    } else if (a == "--device-list" && v) {
      std::string s = argv[++i];
      for (size_t at = 0; at < s.size();) {
        size_t comma = s.find(',', at);
        if (comma == std::string::npos) comma = s.size();
        unsigned long id;
        if (!ParseNumber(s.substr(at, comma - at).c_str(), &id)) return 2;
        list.push_back(id);
        at = comma + 1;
      }
    } else if (a == "--image" && v) {
      imagePath = argv[++i];
    } else if (a[0] != '-' && !romPath) {
      romPath = argv[i];
    } else {
      std::fprintf(stderr, "usage: romcheck --vendor ID --device ID --device-list ID,... --class C [--compression 0|1]\n"
                           "                --image EFI ROM\n");
      return 2;
    }
  }
  if (!romPath || !imagePath) return 2;
  bool okRom, okImage;
  std::vector<uint8_t> r = ReadFile(romPath, &okRom);
  std::vector<uint8_t> pe = ReadFile(imagePath, &okImage);
  if (!okRom || !okImage) {
    std::printf("romcheck: FAIL cannot read %s or %s\n", romPath, imagePath);
    return 1;
  }
  Checker c{r};
  std::printf("size: %zu\n", r.size());
  if (r.size() < 0x200 || r.size() % 512 != 0) c.Fail("size is not a non-zero multiple of 512 bytes");

  // EFI PCI expansion ROM header.
  c.Field("rom.signature", c.U16(0x00), 0xAA55);
  c.Field("rom.initialization_size", c.U16(0x02), static_cast<uint32_t>(r.size() / 512));
  c.Field("rom.efi_signature", c.U32(0x04), 0x0EF1);
  c.Field("rom.efi_subsystem", c.U16(0x08), 11);
  c.Field("rom.efi_machine_type", c.U16(0x0A), 0x8664);
  uint32_t compressed = c.U16(0x0C);
  c.Field("rom.compression_type", compressed, static_cast<uint32_t>(compression));
  for (unsigned i = 0; i < 8; ++i)
    if (c.U8(0x0E + i)) c.Fail("reserved header bytes 0x0E-0x15 are not zero");
  uint32_t imageAt = c.U16(0x16);
  uint32_t pcir = c.U16(0x18);
  std::printf("rom.efi_image_offset: 0x%x\nrom.pcir_offset: 0x%x\n", imageAt, pcir);
  if (pcir < 0x1A || pcir % 4 != 0 || !c.Has(pcir, 0x1C)) c.Fail("PCIR offset out of the image or not dword aligned");

  // PCI Data Structure, revision 3.
  std::string sig(reinterpret_cast<const char*>(r.data()) + (c.Has(pcir, 4) ? pcir : 0), 4);
  std::printf("pcir.signature: %s\n", sig.c_str());
  if (sig != "PCIR") c.Fail("PCIR signature missing");
  c.Field("pcir.vendor", c.U16(pcir + 0x04), static_cast<uint32_t>(vendor));
  c.Field("pcir.device", c.U16(pcir + 0x06), static_cast<uint32_t>(device));
  uint32_t listAt = c.U16(pcir + 0x08);
  std::printf("pcir.device_list_offset: 0x%x\n", listAt);
  c.Field("pcir.length", c.U16(pcir + 0x0A), 0x1C);
  c.Field("pcir.revision", c.U8(pcir + 0x0C), 3);
  c.Field("pcir.class_code", c.U8(pcir + 0x0D) | c.U8(pcir + 0x0E) << 8 | c.U8(pcir + 0x0F) << 16,
          static_cast<uint32_t>(klass));
  c.Field("pcir.image_length", c.U16(pcir + 0x10), static_cast<uint32_t>(r.size() / 512));
  std::printf("pcir.code_revision: 0x%x\n", c.U16(pcir + 0x12));
  c.Field("pcir.code_type", c.U8(pcir + 0x14), 3);
  c.Field("pcir.indicator", c.U8(pcir + 0x15), 0x80);
  c.Field("pcir.max_runtime_image_length", c.U16(pcir + 0x16), 0);
  c.Field("pcir.config_utility_offset", c.U16(pcir + 0x18), 0);
  c.Field("pcir.dmtf_clp_offset", c.U16(pcir + 0x1A), 0);

  // Device list: 16-bit IDs from the PCIR start, ended by a zero.
  std::vector<unsigned long> got;
  if (listAt == 0) {
    c.Fail("no device list");
  } else {
    for (size_t at = pcir + listAt; ; at += 2) {
      if (!c.Has(at, 2) || (imageAt && at + 2 > imageAt)) {
        c.Fail("device list runs into the EFI image or off the end");
        break;
      }
      if (c.U16(at) == 0) break;
      got.push_back(c.U16(at));
    }
  }
  std::printf("pcir.device_list:");
  for (unsigned long id : got) std::printf(" 0x%04lx", id);
  std::printf("\n");
  if (got != list) c.Fail("device list differs from --device-list");

  // The EFI image: where the header says, byte for byte the driver once
  // unpacked. A firmware hands its decompressor everything from the image
  // offset to the end of the ROM.
  size_t stored = 0;
  if (imageAt < pcir + 0x1C || imageAt >= r.size()) {
    c.Fail("EFI image offset out of the ROM");
  } else if (compressed == 1) {
    std::vector<uint8_t> unpacked;
    std::string why;
    efic::StreamInfo info;
    if (!efic::Decompress(&r[imageAt], r.size() - imageAt, &unpacked, &why, &info)) {
      c.Fail("compressed image refused: " + why);
    } else if (unpacked != pe) {
      c.Fail("compressed image does not decompress to the driver image");
    } else {
      stored = efic::kHeaderSize + info.compressed_size;
      std::printf("efi_image: %zu bytes at 0x%x, compressed (%zu blocks, %zu literals, %zu matches), "
                  "decompressed %u bytes identical to %s\n",
                  stored, imageAt, info.blocks, info.literals, info.matches, info.original_size, imagePath);
    }
  } else if (!c.Has(imageAt, pe.size()) || std::memcmp(&r[imageAt], pe.data(), pe.size()) != 0) {
    c.Fail("bytes at the EFI image offset are not the driver image");
  } else {
    stored = pe.size();
    std::printf("efi_image: %zu bytes at 0x%x, identical to %s\n", pe.size(), imageAt, imagePath);
  }
  for (size_t i = imageAt + stored; stored && i + 1 < r.size(); ++i)
    if (r[i]) {
      c.Fail("padding after the image is not zero");
      break;
    }

  uint8_t sum = 0;
  for (uint8_t byte : r) sum = static_cast<uint8_t>(sum + byte);
  c.Field("checksum(sum of all bytes)", sum, 0);

  if (c.failures) return 1;
  std::printf("romcheck: ok\n");
  return 0;
}
