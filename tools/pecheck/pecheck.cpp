// Checks the headers of a PE32+ EFI image the way the firmware's loader
// depends on them: x86-64 machine, the expected subsystem, nothing to import
// (the firmware resolves no imports), and base relocations it can apply
// (the image is loaded wherever the firmware has memory). Then the
// Authenticode signature as Secure Boot firmware reads it: the certificate
// table entry (within the file, outside the sections, aligned, ending the
// file), its certificates, and the image digest recomputed over the ranges
// Authenticode hashes (without the checksum field, the table entry and the
// table) against the digest the signature carries.
//
//   pecheck [--subsystem N] [--signed] [--verify CERT] image.efi
//
// --signed: a signature must be there. --verify CERT: and it must verify
// against CERT (PEM); sbverify does the cryptography.
//
// Prints one "field: value" line per header field it looked at, then
// "pecheck: ok" or one "pecheck: FAIL ..." line per violated rule.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

namespace {

constexpr uint16_t kMachineX64 = 0x8664;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint16_t kRelocsStripped = 0x0001;
constexpr unsigned kImportDirectory = 1;
constexpr unsigned kBaseRelocDirectory = 5;
constexpr unsigned kSecurityDirectory = 4;  // its "RVA" is a file offset
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
  const uint8_t* data() const { return b_.data(); }

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

// ---- the Authenticode signature ---------------------------------------------

// Optional-header offsets of the fields the digest leaves out.
constexpr size_t kChecksumField = 64;
constexpr size_t kSecurityEntry = 112 + kSecurityDirectory * 8;
constexpr uint16_t kCertRevision = 0x0200;
constexpr uint16_t kCertPkcsSignedData = 0x0002;
constexpr const char* kSpcIndirectData = "1.3.6.1.4.1.311.2.1.4";

// The image digest as Authenticode defines it: the headers without the
// checksum field and the certificate table entry, the sections' raw data in
// file order, then whatever lies between them and the certificate table.
bool imageDigest(const Image& img, size_t opt, uint32_t headersSize, uint32_t tableSize, const EVP_MD* md,
                 std::vector<uint8_t>* out) {
  std::vector<std::pair<size_t, size_t>> ranges = {{0, opt + kChecksumField},
                                                   {opt + kChecksumField + 4, opt + kSecurityEntry},
                                                   {opt + kSecurityEntry + 8, headersSize}};
  std::vector<Section> order = img.sections;
  std::sort(order.begin(), order.end(), [](const Section& a, const Section& b) { return a.rawPointer < b.rawPointer; });
  size_t hashed = headersSize;
  for (const Section& s : order) {
    if (s.rawSize == 0) continue;
    ranges.push_back({s.rawPointer, size_t{s.rawPointer} + s.rawSize});
    hashed += s.rawSize;
  }
  if (img.size() > hashed + tableSize) ranges.push_back({hashed, img.size() - tableSize});
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  bool ok = ctx && EVP_DigestInit_ex(ctx, md, nullptr);
  for (const auto& [from, to] : ranges) {
    ok = ok && from <= to && img.has(from, to - from) && EVP_DigestUpdate(ctx, img.data() + from, to - from);
  }
  unsigned length = 0;
  out->resize(EVP_MAX_MD_SIZE);
  ok = ok && EVP_DigestFinal_ex(ctx, out->data(), &length);
  out->resize(length);
  EVP_MD_CTX_free(ctx);
  return ok;
}

// One DER tag and length; false when they run past end.
bool derHeader(const uint8_t*& p, const uint8_t* end, size_t* length) {
  if (end - p < 2) return false;
  size_t n = p[1];
  p += 2;
  if (n & 0x80) {
    unsigned bytes = n & 0x7F;
    if (bytes == 0 || bytes > 4 || end - p < bytes) return false;
    n = 0;
    while (bytes--) n = n << 8 | *p++;
  }
  *length = n;
  return n <= static_cast<size_t>(end - p);
}

// The digest a PKCS#7 signed-data blob signs: the DigestInfo of its
// SpcIndirectDataContent.
bool signedDigest(const uint8_t* blob, size_t size, int* nid, std::vector<uint8_t>* digest, std::string* why) {
  const unsigned char* p = blob;
  PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(size));
  bool ok = false;
  char oid[64] = "";
  if (!p7 || !PKCS7_type_is_signed(p7) || !p7->d.sign->contents) {
    *why = "certificate is not PKCS#7 signed data";
  } else if (OBJ_obj2txt(oid, sizeof oid, p7->d.sign->contents->type, 1), std::strcmp(oid, kSpcIndirectData) != 0 ||
             !p7->d.sign->contents->d.other || p7->d.sign->contents->d.other->type != V_ASN1_SEQUENCE) {
    *why = std::string("signed content is ") + oid + ", not Authenticode's SpcIndirectDataContent";
  } else {
    const ASN1_STRING* content = p7->d.sign->contents->d.other->value.sequence;
    const uint8_t* q = ASN1_STRING_get0_data(content);
    const uint8_t* end = q + ASN1_STRING_length(content);
    size_t n = 0;
    // SEQUENCE { SpcAttributeTypeAndOptionalValue, DigestInfo }
    if (derHeader(q, end, &n) && derHeader(q, end, &n)) {
      q += n;
      const unsigned char* info = q;
      X509_SIG* sig = d2i_X509_SIG(nullptr, &info, end - q);
      if (sig) {
        const X509_ALGOR* alg = nullptr;
        const ASN1_OCTET_STRING* value = nullptr;
        const ASN1_OBJECT* algOid = nullptr;
        X509_SIG_get0(sig, &alg, &value);
        X509_ALGOR_get0(&algOid, nullptr, nullptr, alg);
        *nid = OBJ_obj2nid(algOid);
        digest->assign(ASN1_STRING_get0_data(value), ASN1_STRING_get0_data(value) + ASN1_STRING_length(value));
        ok = true;
        X509_SIG_free(sig);
      }
    }
    if (!ok) *why = "SpcIndirectDataContent holds no DigestInfo";
  }
  PKCS7_free(p7);
  return ok;
}

std::string hex(const std::vector<uint8_t>& bytes) {
  std::string s;
  char b[3];
  for (uint8_t v : bytes) s += (std::snprintf(b, sizeof b, "%02x", v), b);
  return s;
}

// The PE checksum over the file with its own field taken as zero. The
// firmware does not check it and the digest leaves it out, so a signer may
// set it or not; it is reported, not judged.
uint32_t peChecksum(const Image& img, size_t field) {
  uint64_t sum = 0;
  for (size_t at = 0; at < img.size(); at += 2) {
    if (at == field || at == field + 2) continue;
    sum += img.u8(at) | (at + 1 < img.size() ? img.u8(at + 1) << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return static_cast<uint32_t>(((sum & 0xFFFF) + (sum >> 16)) & 0xFFFF) + static_cast<uint32_t>(img.size());
}

// The certificate table as the firmware's image verification walks it,
// and the digest the signature carries against the image's.
void checkSignature(const Image& img, size_t opt, bool hasEntry, uint32_t headersSize, uint32_t offset,
                    uint32_t size, bool required, Report& r) {
  std::printf("checksum: field 0x%08x, computed 0x%08x (left out of the digest)\n", img.u32(opt + kChecksumField),
              peChecksum(img, opt + kChecksumField));
  if (!hasEntry || (offset == 0 && size == 0)) {
    std::printf("signature: none\n");
    if (required) r.fail("image is not signed (no certificate table)");
    return;
  }
  std::printf("certificate table: file offset 0x%x, %u bytes\n", offset, size);
  uint64_t end = uint64_t{offset} + size;
  if (end > img.size()) {
    r.fail("certificate table runs past the end of the file (" + std::to_string(img.size()) + " bytes)");
    return;
  }
  // Not loaded with the image: no header or section data may lie there.
  size_t dataEnd = headersSize;
  for (const Section& s : img.sections)
    if (s.rawSize) dataEnd = std::max(dataEnd, size_t{s.rawPointer} + s.rawSize);
  if (offset < dataEnd) r.fail("certificate table overlaps the headers or a section's data");
  if (offset % 8 != 0) r.fail("certificate table is not 8-byte aligned");
  // The firmware hashes what follows the sections up to the file size less
  // the table's size: bytes after the table would be hashed in its stead.
  if (end != img.size()) r.fail("certificate table does not end the file (" + std::to_string(img.size() - end) +
                                " bytes follow it)");
  const uint8_t* blob = nullptr;
  size_t blobSize = 0;
  for (uint64_t at = offset; at < end;) {
    if (end - at < 8) {
      r.fail("certificate table ends in a partial entry");
      break;
    }
    uint32_t length = img.u32(at);
    uint16_t revision = img.u16(at + 4), type = img.u16(at + 6);
    std::printf("certificate: at 0x%llx, %u bytes, revision 0x%04x, type 0x%04x\n",
                static_cast<unsigned long long>(at), length, revision, type);
    if (length < 8 || length > end - at) {
      r.fail("certificate length " + std::to_string(length) + " does not fit the table");
      break;
    }
    if (revision != kCertRevision) r.fail("certificate revision is not 0x0200");
    if (type == kCertPkcsSignedData && !blob) blob = img.data() + at + 8, blobSize = length - 8;
    at += (uint64_t{length} + 7) / 8 * 8;
  }
  if (!blob) {
    r.fail("no PKCS#7 signed-data certificate in the table");
    return;
  }
  int nid = NID_undef;
  std::vector<uint8_t> want, got;
  std::string why;
  if (!signedDigest(blob, blobSize, &nid, &want, &why)) {
    r.fail(why);
    return;
  }
  const EVP_MD* md = EVP_get_digestbynid(nid);
  std::printf("signed digest: %s %s\n", md ? OBJ_nid2sn(nid) : "unknown", hex(want).c_str());
  if (!md || !imageDigest(img, opt, headersSize, size, md, &got)) {
    r.fail("cannot compute the image digest");
    return;
  }
  std::printf("image digest: %s %s\n", OBJ_nid2sn(nid), hex(got).c_str());
  if (got != want) r.fail("the image digest is not the one the signature carries");
}

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// The cryptography (signature over the digest, certificate chain): sbverify.
void verify(const char* cert, const char* path, Report& r) {
  std::string command = "sbverify --cert " + quoted(cert) + " " + quoted(path) + " 2>&1";
  FILE* p = popen(command.c_str(), "r");
  if (!p) {
    r.fail("cannot run sbverify (package sbsigntool)");
    return;
  }
  char line[512];
  while (std::fgets(line, sizeof line, p)) std::printf("sbverify: %s", line);
  int status = pclose(p);
  if (status != 0) r.fail(std::string("signature does not verify against ") + cert);
  else std::printf("verified against: %s\n", cert);
}

int check(const Image& in, long wantSubsystem, bool wantSigned, const char* verifyCert, const char* path) {
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
  uint32_t importRva, importSize, relocRva, relocSize, delayRva, delaySize, securityOffset, securitySize;
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
  directory(kSecurityDirectory, securityOffset, securitySize);
  checkSignature(img, opt, dirCount > kSecurityDirectory, img.u32(opt + 60), securityOffset, securitySize,
                 wantSigned || verifyCert, r);
  if (verifyCert && r.failures == 0) verify(verifyCert, path, r);
  if (r.failures == 0) std::printf("pecheck: ok\n");
  return r.failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  long wantSubsystem = -1;
  bool wantSigned = false;
  const char* verifyCert = nullptr;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--subsystem") == 0 && i + 1 < argc) {
      wantSubsystem = std::strtol(argv[++i], nullptr, 0);
    } else if (std::strcmp(argv[i], "--signed") == 0) {
      wantSigned = true;
    } else if (std::strcmp(argv[i], "--verify") == 0 && i + 1 < argc) {
      verifyCert = argv[++i];
    } else if (!path) {
      path = argv[i];
    } else {
      path = nullptr;
      break;
    }
  }
  if (!path) {
    std::fprintf(stderr, "usage: pecheck [--subsystem N] [--signed] [--verify CERT] image.efi\n");
    return 2;
  }
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    std::printf("pecheck: FAIL cannot open %s\n", path);
    return 1;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::printf("image: %s (%zu bytes)\n", path, bytes.size());
  return check(Image(std::move(bytes)), wantSubsystem, wantSigned, verifyCert, path);
}
