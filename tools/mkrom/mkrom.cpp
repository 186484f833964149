// mkrom: wraps a PE32+ EFI driver into a PCI expansion-ROM image, as an
// option ROM on the card would carry it.
//
//   mkrom --vendor 0x1F6B --device 0x6B10 [--device-list 0x6B10,0x6B11,...]
//         [--class 0x030000] [--code-revision N] [--uncompressed] -o rom.bin driver.efi
//
// The image is compressed as EFI_DECOMPRESS_PROTOCOL undoes it (the ROM's
// compression type 1) unless --uncompressed, the ROM padded to whole
// 512-byte units, and its last byte makes the byte sum zero.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/mkrom/compress.h"
#include "tools/mkrom/rom_layout.h"

namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}
uint16_t Get16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) { return Get16(b, at) | uint32_t{Get16(b, at + 2)} << 16; }

bool ParseNumber(const char* text, uint32_t max, uint32_t* out) {
  char* end = nullptr;
  unsigned long v = std::strtoul(text, &end, 0);
  if (!*text || *end || v > max) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

bool ParseList(const char* text, std::vector<uint16_t>* out) {
  std::string s(text);
  size_t at = 0;
  while (at <= s.size()) {
    size_t comma = s.find(',', at);
    std::string item = s.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    uint32_t v;
    if (!ParseNumber(item.c_str(), 0xFFFF, &v) || v == 0) return false;  // 0 ends the list
    out->push_back(static_cast<uint16_t>(v));
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return !out->empty();
}

int Usage() {
  std::fprintf(stderr,
               "usage: mkrom --vendor ID --device ID [--device-list ID,...] [--class 0xCCSSPP]\n"
               "             [--code-revision N] [--uncompressed] -o ROM driver.efi\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t vendor = 0, device = 0, klass = 0x030000, codeRevision = 0;
  bool haveVendor = false, haveDevice = false, compress = true;
  std::vector<uint16_t> list;
  const char* out = nullptr;
  const char* in = nullptr;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool hasValue = i + 1 < argc;
    if (a == "--vendor" && hasValue) {
      haveVendor = ParseNumber(argv[++i], 0xFFFF, &vendor);
      if (!haveVendor) return Usage();
    } else if (a == "--device" && hasValue) {
      haveDevice = ParseNumber(argv[++i], 0xFFFF, &device);
      if (!haveDevice) return Usage();
    } else if (a == "--device-list" && hasValue) {
      if (!ParseList(argv[++i], &list)) return Usage();
    } else if (a == "--class" && hasValue) {
      if (!ParseNumber(argv[++i], 0xFFFFFF, &klass)) return Usage();
    } else if (a == "--code-revision" && hasValue) {
      if (!ParseNumber(argv[++i], 0xFFFF, &codeRevision)) return Usage();
    } else if (a == "--uncompressed") {
      compress = false;
    } else if (a == "-o" && hasValue) {
      out = argv[++i];
    } else if (!a.empty() && a[0] != '-' && !in) {
      in = argv[i];
    } else {
      return Usage();
    }
  }
  if (!haveVendor || !haveDevice || !out || !in) return Usage();

  std::ifstream f(in, std::ios::binary);
  std::vector<uint8_t> pe((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (!f.good() && !f.eof()) {
    std::fprintf(stderr, "mkrom: cannot read %s\n", in);
    return 1;
  }
  // The ROM header copies subsystem and machine from the image, so they
  // must be those of a PE32+ boot-service driver for x86-64.
  if (pe.size() < 0x40 || Get16(pe, 0) != 0x5A4D) {
    std::fprintf(stderr, "mkrom: %s is not a PE image\n", in);
    return 1;
  }
  uint32_t peOff = Get32(pe, 0x3C);
  if (peOff > pe.size() - 0x5E || Get32(pe, peOff) != 0x00004550) {
    std::fprintf(stderr, "mkrom: %s has no PE header\n", in);
    return 1;
  }
  uint16_t machine = Get16(pe, peOff + 4);
  uint16_t subsystem = Get16(pe, peOff + 24 + 68);
  if (machine != 0x8664 || subsystem != 11) {
    std::fprintf(stderr, "mkrom: %s is machine 0x%04x subsystem %u, not an x86-64 boot-service driver\n", in,
                 machine, subsystem);
    return 1;
  }

  // A firmware hands LoadImage an uncompressed image with the ROM's padding
  // and checksum byte after it, up to the end of the ROM; the firmware's
  // Authenticode digest counts what follows the certificate table as image
  // data, so a signed image there could never verify.
  const size_t opt = peOff + 24;
  const bool signedImage = pe.size() >= opt + 152 && Get32(pe, opt + 108) > 4 && Get32(pe, opt + 148) != 0;
  if (signedImage && !compress) {
    std::fprintf(stderr,
                 "mkrom: %s carries a signature, which Secure Boot firmware cannot verify in an uncompressed ROM "
                 "(the ROM's padding would follow the certificate table); build the compressed ROM\n",
                 in);
    return 1;
  }

  std::vector<uint8_t> payload = pe;
  if (compress) {
    payload = efic::Compress(pe.data(), pe.size());
    // A ROM the firmware could not unpack is worse than a large one.
    std::vector<uint8_t> back;
    std::string why;
    if (!efic::Decompress(payload.data(), payload.size(), &back, &why) || back != pe) {
      std::fprintf(stderr, "mkrom: the compressed image does not decode to %s (%s)\n", in, why.c_str());
      return 1;
    }
  }

  // Header, PCIR right after it (dword aligned), the device list, then the
  // EFI image on a 512-byte boundary.
  const uint32_t pcir = 0x1C;
  const uint32_t deviceList = pcir + rom::kPcirSize;
  const uint32_t listBytes = static_cast<uint32_t>(list.size() + 1) * 2;
  const uint32_t imageAt = (deviceList + listBytes + rom::kUnit - 1) / rom::kUnit * rom::kUnit;
  // One spare byte at the end for the checksum.
  const size_t total = (imageAt + payload.size() + 1 + rom::kUnit - 1) / rom::kUnit * rom::kUnit;
  const size_t units = total / rom::kUnit;
  if (units > 0xFFFF || imageAt > 0xFFFF) {
    std::fprintf(stderr, "mkrom: image too large for a ROM (%zu units)\n", units);
    return 1;
  }

  std::vector<uint8_t> r(total, 0);
  Put16(r, rom::kSignature, rom::kRomSignature);
  Put16(r, rom::kInitSize, static_cast<uint32_t>(units));
  Put32(r, rom::kEfiSignature, rom::kEfiRomSignature);
  Put16(r, rom::kEfiSubsystem, subsystem);
  Put16(r, rom::kEfiMachine, machine);
  Put16(r, rom::kCompression, compress ? rom::kCompressed : 0);
  Put16(r, rom::kEfiImageOffset, imageAt);
  Put16(r, rom::kPcirOffset, pcir);

  std::memcpy(&r[pcir + rom::kPcirSignature], "PCIR", 4);
  Put16(r, pcir + rom::kPcirVendor, vendor);
  Put16(r, pcir + rom::kPcirDevice, device);
  Put16(r, pcir + rom::kPcirDeviceList, list.empty() ? 0 : deviceList - pcir);
  Put16(r, pcir + rom::kPcirLength, rom::kPcirSize);
  r[pcir + rom::kPcirRevision] = 3;
  r[pcir + rom::kPcirClass + 0] = static_cast<uint8_t>(klass);
  r[pcir + rom::kPcirClass + 1] = static_cast<uint8_t>(klass >> 8);
  r[pcir + rom::kPcirClass + 2] = static_cast<uint8_t>(klass >> 16);
  Put16(r, pcir + rom::kPcirImageLength, static_cast<uint32_t>(units));
  Put16(r, pcir + rom::kPcirCodeRevision, codeRevision);
  r[pcir + rom::kPcirCodeType] = rom::kCodeTypeEfi;
  r[pcir + rom::kPcirIndicator] = rom::kLastImage;
  for (size_t i = 0; i < list.size(); ++i) Put16(r, deviceList + 2 * i, list[i]);

  std::memcpy(&r[imageAt], payload.data(), payload.size());
  uint8_t sum = 0;
  for (size_t i = 0; i + 1 < total; ++i) sum = static_cast<uint8_t>(sum + r[i]);
  r[total - 1] = static_cast<uint8_t>(-sum);

  std::ofstream o(out, std::ios::binary);
  o.write(reinterpret_cast<const char*>(r.data()), static_cast<std::streamsize>(r.size()));
  if (!o) {
    std::fprintf(stderr, "mkrom: cannot write %s\n", out);
    return 1;
  }
  std::printf("mkrom: %s: %zu bytes (%zu units), EFI image at 0x%x, %zu bytes", out, total, units, imageAt,
              pe.size());
  if (compress) std::printf(", compressed to %zu", payload.size());
  std::printf("\n");
  return 0;
}
