// What every fuzz target shares: reading fields from the input, failing an
// invariant loudly, watching each register and frame-buffer access the
// model sees, and the end-of-run leak check.
//
// A failed invariant prints "fuzz invariant <id> failed: ..." and aborts, so
// libFuzzer keeps the input. QUOVAN_FUZZ_TOLERATE (comma-separated ids)
// turns the named ones into a note on stderr, for fuzzing past a fault that
// is already reported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "efi/efi.h"
#include "sim/adapter/kt270_model.h"

namespace testsupport {
class Rig;
}

namespace fuzz {

#if defined(__GNUC__)
#define FUZZ_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define FUZZ_PRINTF(f, a)
#endif

// Reports a failed invariant: aborts unless the id is tolerated.
void Fail(const char* id, const char* format, ...) FUZZ_PRINTF(2, 3);
#define FUZZ_CHECK(cond, id, ...) \
  do {                            \
    if (!(cond)) ::fuzz::Fail(id, __VA_ARGS__); \
  } while (0)

// Fields taken from the front of the input; past its end every field is 0.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t U8() { return static_cast<uint8_t>(Take(1)); }
  uint16_t U16() { return static_cast<uint16_t>(Take(2)); }
  uint32_t U32() { return static_cast<uint32_t>(Take(4)); }
  uint64_t U64() { return Take(8); }
  bool Bool() { return (U8() & 1) != 0; }
  // The next n bytes, or fewer at the end.
  std::vector<uint8_t> Bytes(size_t n);
  // The next n bytes into out, zeros past the end of the input.
  void Read(void* out, size_t n);
  std::vector<uint8_t> Rest() { return Bytes(remaining()); }
  size_t remaining() const { return size_ - pos_; }

 private:
  uint64_t Take(unsigned n);  // little-endian
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Checks every access the model sees as it happens: one record per PCI I/O
// call, which must name a real width, stay inside its space (configuration
// 256 bytes, BAR 0 the frame buffer, BAR 2 64 KiB) and be accepted.
class AccessWatch {
 public:
  explicit AccessWatch(testsupport::Rig& rig);
  ~AccessWatch();
  AccessWatch(const AccessWatch&) = delete;
  AccessWatch& operator=(const AccessWatch&) = delete;
  uint64_t accesses() const { return accesses_; }
  // Fails on any bad record seen so far and on the model's own counters of
  // refused and master-aborted accesses.
  void Check(const char* when) const;

 private:
  static void Sink(void* self, const kt270::Access& access);
  kt270::Adapter& adapter_;
  uint64_t fb_size_;
  uint64_t accesses_ = 0;
  uint64_t bad_ = 0;
  kt270::Access first_bad_{};
};

// The running CRTC an enabled output shows (DAC B on the TV encoder: the
// encoder's source), or false.
bool ScanningCrtc(const kt270::Adapter& adapter, kt270::Output output, unsigned* crtc);

// Every output a running CRTC drives (the television included) scans a
// surface inside the frame buffer whose rows hold the CRTC's source width.
void CheckScanout(const kt270::Adapter& adapter, const char* when);

// Disconnects and checks that the driver took everything back: pool, events,
// interfaces and opens, no firmware fault, no forbidden platform call.
void DisconnectClean(testsupport::Rig& rig);

bool IsEfiStatus(EFI_STATUS status);  // one of the statuses UEFI defines
std::string StatusText(EFI_STATUS status);

// An exactly sized heap buffer (a zero size still gets a unique pointer that
// ASan treats as zero bytes long).
struct Buffer {
  explicit Buffer(size_t n) : size(n), data(static_cast<uint8_t*>(::operator new(n == 0 ? 0 : n))) {}
  ~Buffer() { ::operator delete(data); }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  size_t size;
  uint8_t* data;
};

}  // namespace fuzz
