#include "tests/fuzz/harness.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "sim/platform/platform_stand_in.h"
#include "tests/support/rig.h"

namespace fuzz {
namespace {

bool Tolerated(const char* id) {
  static const std::set<std::string> tolerated = [] {
    std::set<std::string> ids;
    const char* env = std::getenv("QUOVAN_FUZZ_TOLERATE");
    std::string list = env == nullptr ? "" : env;
    size_t start = 0;
    while (start <= list.size()) {
      size_t end = list.find(',', start);
      if (end == std::string::npos) end = list.size();
      if (end > start) ids.insert(list.substr(start, end - start));
      start = end + 1;
    }
    return ids;
  }();
  return tolerated.count(id) != 0;
}

}  // namespace

void Fail(const char* id, const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (Tolerated(id)) {
    static std::set<std::string> noted;
    if (noted.insert(id).second) std::fprintf(stderr, "fuzz invariant %s tolerated: %s\n", id, text);
    return;
  }
  std::fprintf(stderr, "fuzz invariant %s failed: %s\n", id, text);
  std::abort();
}

uint64_t Input::Take(unsigned n) {
  uint64_t v = 0;
  for (unsigned i = 0; i < n && pos_ < size_; ++i) v |= static_cast<uint64_t>(data_[pos_++]) << (8 * i);
  return v;
}

std::vector<uint8_t> Input::Bytes(size_t n) {
  if (n > remaining()) n = remaining();
  std::vector<uint8_t> out(data_ + pos_, data_ + pos_ + n);
  pos_ += n;
  return out;
}

void Input::Read(void* out, size_t n) {
  const size_t have = n < remaining() ? n : remaining();
  std::memset(out, 0, n);
  if (have != 0) std::memcpy(out, data_ + pos_, have);
  pos_ += have;
}

AccessWatch::AccessWatch(testsupport::Rig& rig) : adapter_(rig.adapter()), fb_size_(rig.adapter().FrameBufferSize()) {
  adapter_.SetTrace(&AccessWatch::Sink, this);
}

AccessWatch::~AccessWatch() { adapter_.SetTrace(nullptr, nullptr); }

void AccessWatch::Sink(void* self, const kt270::Access& a) {
  auto* w = static_cast<AccessWatch*>(self);
  ++w->accesses_;
  const uint64_t limit = a.space == kt270::Space::kConfig ? 256 : a.space == kt270::Space::kBar0 ? w->fb_size_ : 0x10000;
  const bool width_ok = a.width == 1 || a.width == 2 || a.width == 4 || a.width == 8;
  // FIFO accesses stay on one element; the others cover count elements.
  const uint64_t span = a.stride == kt270::Stride::kFifo ? a.width : a.width * a.count;
  const bool inside = a.count >= 1 && a.count <= limit && a.offset < limit && span <= limit - a.offset;
  if (!width_ok || !inside || !a.ok) {
    if (w->bad_ == 0) w->first_bad_ = a;
    ++w->bad_;
  }
}

void AccessWatch::Check(const char* when) const {
  const kt270::Access& a = first_bad_;
  FUZZ_CHECK(bad_ == 0, "access", "%s: %llu bad accesses, first %s", when, static_cast<unsigned long long>(bad_),
             testsupport::Describe(a).c_str());
  const kt270::Stats& s = adapter_.stats();
  FUZZ_CHECK(s.bad_accesses == 0 && s.decode_off_accesses == 0, "access",
             "%s: model counted %u refused and %u master-aborted accesses", when, s.bad_accesses,
             s.decode_off_accesses);
  // Indirect writes without their write enable, engine commands the
  // engine does not know, and pixels it was sent outside the aperture.
  FUZZ_CHECK(s.mc_writes_dropped == 0 && s.clk_writes_dropped == 0, "indirect",
             "%s: %u memory-controller and %u clock writes dropped", when, s.mc_writes_dropped, s.clk_writes_dropped);
  FUZZ_CHECK(s.engine_unknown == 0, "engine", "%s: %u unknown engine commands, the last 0x%08X", when,
             s.engine_unknown, s.engine_last_unknown);
  FUZZ_CHECK(s.engine_clipped == 0, "engine-clipped", "%s: the engine was sent %llu pixels outside the aperture", when,
             static_cast<unsigned long long>(s.engine_clipped));
}

bool ScanningCrtc(const kt270::Adapter& a, kt270::Output o, unsigned* crtc) {
  const kt270::OutputState out = a.DecodeOutput(o);
  if (!out.enabled) return false;
  unsigned source = out.source;
  if (o == kt270::Output::kDacB && source == 2) source = a.DecodeOutput(kt270::Output::kTv).source;
  if (source > 1) return false;
  *crtc = source;
  return a.DecodeCrtc(source).running;
}

void CheckScanout(const kt270::Adapter& a, const char* when) {
  const kt270::Output outputs[] = {kt270::Output::kDacA, kt270::Output::kDacB, kt270::Output::kTmds};
  for (kt270::Output o : outputs) {
    unsigned crtc = 0;
    if (!ScanningCrtc(a, o, &crtc)) continue;
    const kt270::CrtcState c = a.DecodeCrtc(crtc);
    const uint64_t end = c.surface_base + static_cast<uint64_t>(c.pitch_bytes) * c.source_height;
    FUZZ_CHECK(end <= a.FrameBufferSize() && c.pitch_bytes >= static_cast<uint64_t>(c.source_width) * c.bpp / 8,
               "scanout",
               "%s: output %u scans %ux%u at %u bpp from 0x%X with pitch %u bytes (frame buffer %u bytes)", when,
               static_cast<unsigned>(o), c.source_width, c.source_height, c.bpp, c.surface_base, c.pitch_bytes,
               a.FrameBufferSize());
  }
}

void DisconnectClean(testsupport::Rig& rig) {
  EFI_STATUS status = rig.Disconnect();
  FUZZ_CHECK(status == EFI_SUCCESS, "disconnect", "Disconnect returned %s", StatusText(status).c_str());
  sim::LeakReport leaks = rig.Leaks();
  FUZZ_CHECK(leaks.clean(), "leak", "after Disconnect: %s", leaks.Describe().c_str());
  FUZZ_CHECK(rig.fw().faults().empty(), "firmware-fault", "%s", rig.fw().DescribeFaults().c_str());
  if (rig.platform() != nullptr) {
    const auto& unexpected = rig.platform()->unexpected_calls();
    FUZZ_CHECK(unexpected.empty(), "platform-call", "the driver called %s member %u",
               unexpected.empty() ? "" : unexpected[0].protocol.c_str(), unexpected.empty() ? 0 : unexpected[0].member);
  }
}

bool IsEfiStatus(EFI_STATUS status) {
  constexpr EFI_STATUS kError = 0x8000000000000000ULL;
  if (status <= 4) return true;  // success and the warnings
  return status >= (kError | 1) && status <= (kError | 0x21);
}

std::string StatusText(EFI_STATUS status) { return sim::StatusName(status); }

}  // namespace fuzz
