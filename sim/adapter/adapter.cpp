// Adapter life cycle, configuration space and the two apertures' entry
// points. Every entry-point call yields exactly one trace record.
#include "sim/adapter/kt270_model.h"
#include "sim/adapter/kt270_regs.h"

namespace kt270 {
namespace {

// Configuration-space layout (type 0 header).
constexpr uint32_t kCfgVendor = 0x00;
constexpr uint32_t kCfgDevice = 0x02;
constexpr uint32_t kCfgCommand = 0x04;
constexpr uint32_t kCfgRevision = 0x08;
constexpr uint32_t kCfgClass = 0x09;       // prog-if, subclass, base class
constexpr uint32_t kCfgCacheLine = 0x0C;
constexpr uint32_t kCfgLatency = 0x0D;
constexpr uint32_t kCfgBar0 = 0x10;
constexpr uint32_t kCfgSubVendor = 0x2C;
constexpr uint32_t kCfgSubsystem = 0x2E;
constexpr uint32_t kCfgIntLine = 0x3C;
constexpr uint32_t kCfgIntPin = 0x3D;
constexpr uint32_t kCfgSize = 256;

// I/O, memory, bus master, parity, SERR, fast back-to-back, INTx disable.
constexpr uint16_t kCommandWritable = 0x07FF;
constexpr uint16_t kCommandMemory = 0x0002;

constexpr uint32_t kIoBarSize = 0x100;

// Word stores where alignment allows: the frame buffer is tens of MiB.
void Zero(void* p, size_t n) {
  uint8_t* b = static_cast<uint8_t*>(p);
  size_t i = 0;
  for (; i < n && (reinterpret_cast<uintptr_t>(b + i) & 7) != 0; ++i) b[i] = 0;
  for (; i + 8 <= n; i += 8) *reinterpret_cast<uint64_t*>(b + i) = 0;
  for (; i < n; ++i) b[i] = 0;
}

uint64_t LoadLe(const uint8_t* p, unsigned width) {
  uint64_t v = 0;
  for (unsigned i = 0; i < width; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  return v;
}

void StoreLe(uint8_t* p, unsigned width, uint64_t v) {
  for (unsigned i = 0; i < width; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool ValidWidth(unsigned width) {
  return width == 1 || width == 2 || width == 4 || width == 8;
}

// Span in bytes that a call touches, or false on overflow.
bool Span(uint64_t offset, unsigned width, size_t count, Stride stride, uint64_t limit) {
  if (count == 0 || !ValidWidth(width)) return false;
  uint64_t elements = stride == Stride::kFifo ? 1 : count;
  if (elements > limit / width) return false;
  uint64_t bytes = elements * width;
  return offset <= limit && bytes <= limit - offset;
}

uint32_t RoundUpPow2(uint32_t v) {
  uint32_t p = 1;
  while (p < v && p != 0x80000000u) p <<= 1;
  return p < v ? 0x80000000u : p;
}

}  // namespace

Config DefaultConfig() {
  Config c;
  Zero(&c, sizeof c);
  c.vendor_id = 0x1F6B;
  c.device_id = 0x6B10;
  c.revision = 0x00;
  c.subsystem_vendor = 0x1F6B;
  c.subsystem_id = 0x4410;
  c.bar[0] = 0xD0000008;  // prefetchable 32-bit memory
  c.bar[1] = 0x0000C001;  // I/O
  c.bar[2] = 0xD1000000;  // 32-bit memory
  c.command = 0;
  c.enforce_decode = true;
  c.fb_size = 32u << 20;
  c.engine_busy_reads = 0;
  c.pll_locks = true;
  c.mc_idle = McIdle::kAlways;
  c.mc_idle_polls = 0;
  c.aux_present = true;
  c.fill_ignores_direction = true;
  return c;
}

I2cFaults NoFaults() {
  I2cFaults f;
  f.stretch_us = 0;
  f.nak_after = -1;
  f.stuck_clock = false;
  f.stuck_data = false;
  return f;
}

Adapter* Adapter::Create(const Env& env, const Config& config, uint8_t* frame_buffer) {
  if (env.alloc == nullptr) return nullptr;
  void* block = env.alloc(env.ctx, sizeof(Adapter));
  if (block == nullptr) return nullptr;
  Zero(block, sizeof(Adapter));
  Adapter* adapter = static_cast<Adapter*>(block);
  if (!adapter->Init(env, config, frame_buffer)) {
    if (env.free) env.free(env.ctx, block);
    return nullptr;
  }
  return adapter;
}

void Adapter::Destroy(Adapter* adapter) {
  if (adapter == nullptr) return;
  Env env = adapter->env_;
  adapter->Release();
  if (env.free) env.free(env.ctx, adapter);
}

bool Adapter::Init(const Env& env, const Config& config, uint8_t* frame_buffer) {
  env_ = env;
  config_ = config;
  trace_ = nullptr;
  trace_ctx_ = nullptr;
  fb_ = nullptr;
  for (unsigned i = 0; i < kConnectorCount; ++i) plugged_[i] = false;
  if (env_.alloc == nullptr || config_.fb_size == 0) return false;
  fb_owned_ = frame_buffer == nullptr;
  fb_ = fb_owned_ ? static_cast<uint8_t*>(env_.alloc(env_.ctx, config_.fb_size)) : frame_buffer;
  if (fb_ == nullptr) return false;
  Zero(fb_, config_.fb_size);
  DdcInit();
  Reset();
  return true;
}

void Adapter::Release() {
  DdcRelease();
  if (fb_ != nullptr && fb_owned_ && env_.free) env_.free(env_.ctx, fb_);
  fb_ = nullptr;
}

void Adapter::Reset() {
  Zero(regs_, sizeof regs_);
  Zero(mc_, sizeof mc_);
  Zero(clk_, sizeof clk_);
  Zero(idx_, sizeof idx_);
  Zero(lut_, sizeof lut_);
  Zero(&stats_, sizeof stats_);
  lut_table_ = 0;
  lut_pos_ = 0;
  mc_latch_ = 0;
  clk_latch_ = 0;
  mc_busy_polls_ = config_.mc_idle_polls;
  engine_busy_ = 0;

  Store(reg::kStrap, config_.strap);
  Store(reg::kHwGpio, config_.hwgpio);
  Store(reg::kSwGpio, config_.swgpio);
  // PLLs come up held in reset; CRTCs, outputs and the encoder come up off.
  for (const reg::PllRegs& pll : reg::kPll) Store(pll.control, reg::kPllHoldBits);
  Store(reg::kTvControl, 1);

  Zero(config_space_, sizeof config_space_);
  StoreLe(config_space_ + kCfgVendor, 2, config_.vendor_id);
  StoreLe(config_space_ + kCfgDevice, 2, config_.device_id);
  StoreLe(config_space_ + kCfgCommand, 2, config_.command & kCommandWritable);
  config_space_[kCfgRevision] = config_.revision;
  StoreLe(config_space_ + kCfgClass, 3, 0x030000);  // VGA-compatible display
  StoreLe(config_space_ + kCfgSubVendor, 2, config_.subsystem_vendor);
  StoreLe(config_space_ + kCfgSubsystem, 2, config_.subsystem_id);
  config_space_[kCfgIntPin] = 1;
  for (unsigned i = 0; i < 6; ++i) {
    StoreLe(config_space_ + kCfgBar0 + 4 * i, 4, config_.bar[i]);
    bar_mask_[i] = 0;
  }
  if (config_.bar[0] != 0) bar_mask_[0] = ~(RoundUpPow2(config_.fb_size) - 1) & ~0xFu;
  if (config_.bar[1] != 0) bar_mask_[1] = ~(kIoBarSize - 1) & ~0x3u;
  if (config_.bar[2] != 0) bar_mask_[2] = ~(reg::kApertureSize - 1) & ~0xFu;

  for (unsigned ch = 1; ch <= 3; ++ch) DdcAccess(ch);
}

void Adapter::SetTrace(TraceFn fn, void* ctx) {
  trace_ = fn;
  trace_ctx_ = ctx;
}

void Adapter::Trace(Space space, bool write, uint64_t offset, unsigned width, size_t count,
                    Stride stride, uint64_t value, bool ok) {
  if (trace_ == nullptr) return;
  Access a;
  a.time_us = Now();
  a.width = static_cast<uint8_t>(width);
  a.write = write;
  a.space = space;
  a.stride = stride;
  a.ok = ok;
  a.offset = offset;
  a.value = value;
  a.count = count;
  trace_(trace_ctx_, a);
}

uint16_t Adapter::Command() const {
  return static_cast<uint16_t>(LoadLe(config_space_ + kCfgCommand, 2));
}

bool Adapter::DecodeOn() const {
  return !config_.enforce_decode || (Command() & kCommandMemory) != 0;
}

// ---------------------------------------------------------------- config space

bool Adapter::ConfigRead(uint32_t offset, unsigned width, size_t count, void* buffer) {
  bool ok = buffer != nullptr && Span(offset, width, count, Stride::kNormal, kCfgSize);
  if (!ok) {
    ++stats_.bad_accesses;
    Trace(Space::kConfig, false, offset, width, count, Stride::kNormal, 0, false);
    return false;
  }
  uint8_t* out = static_cast<uint8_t*>(buffer);
  for (size_t i = 0; i < width * count; ++i) out[i] = config_space_[offset + i];
  Trace(Space::kConfig, false, offset, width, count, Stride::kNormal, LoadLe(out, width), true);
  return true;
}

bool Adapter::ConfigWrite(uint32_t offset, unsigned width, size_t count, const void* buffer) {
  bool ok = buffer != nullptr && Span(offset, width, count, Stride::kNormal, kCfgSize);
  const uint8_t* in = static_cast<const uint8_t*>(buffer);
  if (!ok) {
    ++stats_.bad_accesses;
    Trace(Space::kConfig, true, offset, width, count, Stride::kNormal, 0, false);
    return false;
  }
  Trace(Space::kConfig, true, offset, width, count, Stride::kNormal, LoadLe(in, width), true);
  // Apply dword by dword so that BAR sizing sees whole values.
  uint32_t first = offset & ~3u;
  uint32_t end = offset + static_cast<uint32_t>(width * count);
  for (uint32_t d = first; d < end; d += 4) {
    uint8_t merged[4];
    uint8_t written = 0;
    for (unsigned b = 0; b < 4; ++b) {
      uint32_t at = d + b;
      merged[b] = config_space_[at];
      if (at >= offset && at < end) {
        merged[b] = in[at - offset];
        written |= static_cast<uint8_t>(1u << b);
      }
    }
    uint32_t v = static_cast<uint32_t>(LoadLe(merged, 4));
    if (d == kCfgCommand) {
      // Status (upper half) is read-only here.
      uint32_t cmd = v & kCommandWritable;
      StoreLe(config_space_ + kCfgCommand, 2, cmd);
    } else if (d >= kCfgBar0 && d < kCfgBar0 + 24) {
      unsigned i = (d - kCfgBar0) / 4;
      uint32_t type = config_.bar[i] & (i == 1 ? 0x3u : 0xFu);
      StoreLe(config_space_ + d, 4, (v & bar_mask_[i]) | (bar_mask_[i] ? type : config_.bar[i]));
    } else if (d == kCfgCacheLine) {
      if (written & 1) config_space_[kCfgCacheLine] = merged[0];
      if (written & 2) config_space_[kCfgLatency] = merged[1];
    } else if (d == kCfgIntLine) {
      if (written & 1) config_space_[kCfgIntLine] = merged[0];
    }
    // Everything else is read-only.
  }
  return true;
}

// ---------------------------------------------------------------- apertures

bool Adapter::MemRead(uint8_t bar, uint64_t offset, unsigned width, size_t count,
                      Stride stride, void* buffer) {
  Space space = bar == 0 ? Space::kBar0 : Space::kBar2;
  uint64_t limit = bar == 0 ? config_.fb_size : reg::kApertureSize;
  if ((bar != 0 && bar != 2) || buffer == nullptr || !Span(offset, width, count, stride, limit)) {
    ++stats_.bad_accesses;
    Trace(space, false, offset, width, count, stride, 0, false);
    return false;
  }
  uint8_t* out = static_cast<uint8_t*>(buffer);
  if (!DecodeOn()) {
    // Master abort: the read completes with all ones.
    ++stats_.decode_off_accesses;
    size_t n = stride == Stride::kFill ? width : width * count;
    for (size_t i = 0; i < n; ++i) out[i] = 0xFF;
    Trace(space, false, offset, width, count, stride, LoadLe(out, width), false);
    return true;
  }
  for (size_t i = 0; i < count; ++i) {
    uint64_t at = stride == Stride::kFifo ? offset : offset + i * width;
    uint8_t* dst = stride == Stride::kFill ? out : out + i * width;
    uint64_t v = bar == 0 ? LoadLe(fb_ + at, width)
                          : ReadElement(static_cast<uint32_t>(at), width);
    StoreLe(dst, width, v);
  }
  Trace(space, false, offset, width, count, stride, LoadLe(out, width), true);
  return true;
}

bool Adapter::MemWrite(uint8_t bar, uint64_t offset, unsigned width, size_t count,
                       Stride stride, const void* buffer) {
  Space space = bar == 0 ? Space::kBar0 : Space::kBar2;
  uint64_t limit = bar == 0 ? config_.fb_size : reg::kApertureSize;
  const uint8_t* in = static_cast<const uint8_t*>(buffer);
  if ((bar != 0 && bar != 2) || buffer == nullptr || !Span(offset, width, count, stride, limit)) {
    ++stats_.bad_accesses;
    Trace(space, true, offset, width, count, stride, 0, false);
    return false;
  }
  if (!DecodeOn()) {
    ++stats_.decode_off_accesses;
    Trace(space, true, offset, width, count, stride, LoadLe(in, width), false);
    return true;  // master abort: the write is lost
  }
  Trace(space, true, offset, width, count, stride, LoadLe(in, width), true);
  for (size_t i = 0; i < count; ++i) {
    uint64_t at = stride == Stride::kFifo ? offset : offset + i * width;
    const uint8_t* src = stride == Stride::kFill ? in : in + i * width;
    uint64_t v = LoadLe(src, width);
    if (bar == 0) {
      StoreLe(fb_ + at, width, v);
    } else {
      WriteElement(static_cast<uint32_t>(at), width, v);
    }
  }
  return true;
}

// Elements are split into the dwords they touch; each dword sees one
// register access, so a byte write to a data port still moves data.
uint64_t Adapter::ReadElement(uint32_t offset, unsigned width) {
  uint64_t v = 0;
  uint32_t end = offset + width;
  for (uint32_t d = offset & ~3u; d < end; d += 4) {
    uint32_t dword = ReadDword(d);
    for (unsigned b = 0; b < 4; ++b) {
      uint32_t at = d + b;
      if (at >= offset && at < end) {
        v |= static_cast<uint64_t>((dword >> (8 * b)) & 0xFF) << (8 * (at - offset));
      }
    }
  }
  return v;
}

void Adapter::WriteElement(uint32_t offset, unsigned width, uint64_t value) {
  uint32_t end = offset + width;
  for (uint32_t d = offset & ~3u; d < end; d += 4) {
    uint32_t mask = 0, bits = 0;
    for (unsigned b = 0; b < 4; ++b) {
      uint32_t at = d + b;
      if (at >= offset && at < end) {
        mask |= 0xFFu << (8 * b);
        bits |= static_cast<uint32_t>((value >> (8 * (at - offset))) & 0xFF) << (8 * b);
      }
    }
    WriteDword(d, (Stored(d) & ~mask) | bits, mask);
  }
}

uint32_t Adapter::Stored(uint32_t offset) const {
  return static_cast<uint32_t>(LoadLe(regs_ + (offset & 0xFFFC), 4));
}

void Adapter::Store(uint32_t offset, uint32_t value) {
  StoreLe(regs_ + (offset & 0xFFFC), 4, value);
}

uint32_t Adapter::PeekReg(uint32_t offset) const {
  uint32_t d = offset & 0xFFFC;
  for (unsigned i = 0; i < 2; ++i) {
    if (d == reg::kPll[i].control) {
      return (Stored(d) & ~reg::kPllLockBit) | (PllLocked(i) ? reg::kPllLockBit : 0);
    }
  }
  return Stored(d);
}

void Adapter::PokeReg(uint32_t offset, uint32_t value) { Store(offset, value); }

bool Adapter::BarRange(unsigned bar, uint64_t* base, uint64_t* size, bool* io) const {
  if (bar >= 6 || bar_mask_[bar] == 0) return false;
  uint32_t raw = static_cast<uint32_t>(LoadLe(config_space_ + kCfgBar0 + 4 * bar, 4));
  *io = (raw & 1) != 0;
  *base = raw & bar_mask_[bar];
  // The mask leaves the type bits out: its complement is the size less one.
  *size = static_cast<uint64_t>(~bar_mask_[bar]) + 1;
  return true;
}

}  // namespace kt270
