// Register side effects: indirect spaces, status bits, lookup-table port,
// engine start and the DDC GPIO blocks. Everything else just stores.
#include "sim/adapter/kt270_model.h"
#include "sim/adapter/kt270_regs.h"

namespace kt270 {
namespace {

// DDC channel (1..3) whose GPIO block holds the offset, or 0.
unsigned DdcChannelOf(uint32_t offset) {
  if (offset < reg::kDdcFirst || offset >= reg::kDdcFirst + 3 * reg::kDdcStride) return 0;
  return 1 + (offset - reg::kDdcFirst) / reg::kDdcStride;
}

}  // namespace

bool Adapter::PllLocked(unsigned pll) const { return pll <= 1 && DecodePll(pll).locked; }

PllState Adapter::DecodePll(unsigned pll) const {
  PllState s;
  const reg::PllRegs& r = reg::kPll[pll & 1];
  s.r = Stored(r.ref_div) & 0x3FF;
  s.f = (Stored(r.fb_div) >> 16) & 0x7FF;
  s.tenths = Stored(r.fb_div) & 0xF;
  s.p = Stored(r.post_div) & 0x7F;
  s.held = (Stored(r.control) & reg::kPllHoldBits) != 0;
  s.vco_hz = 0;
  s.out_hz = 0;
  if (s.r != 0) {
    // 27 MHz x (10 F + tenths) / (10 R), kept exact as far as 64 bits go.
    uint64_t f10 = uint64_t{s.f} * 10 + s.tenths;
    s.vco_hz = uint64_t{reg::kPllRefKhz10} * 10000 * f10 / (10 * uint64_t{s.r});
    if (s.p != 0) s.out_hz = uint64_t{reg::kPllRefKhz10} * 10000 * f10 / (10 * uint64_t{s.r} * s.p);
  }
  s.locked = false;
  if (config_.pll_locks && !s.held && s.r != 0) {
    s.locked = s.vco_hz >= uint64_t{reg::kVcoMinKhz10} * 10000 &&
               s.vco_hz <= uint64_t{reg::kVcoMaxKhz10} * 10000;
  }
  return s;
}

// The MC data port. A read with the write enable set returns the data
// latch (what was last written to the port), not the indexed entry.
uint32_t Adapter::McData(bool write, uint32_t value) {
  uint32_t index_reg = Stored(reg::kMcIndex);
  uint32_t index = index_reg & reg::kMcIndexMask;
  bool enabled = (index_reg & reg::kMcWriteEnable) != 0;
  if (write) {
    mc_latch_ = value;
    if (!enabled) {
      ++stats_.mc_writes_dropped;
      return 0;
    }
    mc_[index] = value;
    mc_busy_polls_ = config_.mc_idle_polls;  // reprogramming makes it busy again
    return 0;
  }
  if (enabled) return mc_latch_;
  uint32_t v = mc_[index];
  if (index == reg::kMcStatusIndex) {
    ++stats_.mc_idle_polls;
    bool idle = false;
    switch (config_.mc_idle) {
      case McIdle::kAlways: idle = true; break;
      case McIdle::kNever: idle = false; break;
      case McIdle::kAfterPolls:
        if (mc_busy_polls_ > 0) {
          --mc_busy_polls_;
        } else {
          idle = true;
        }
        break;
    }
    v = idle ? (v | reg::kMcIdleBit) : (v & ~reg::kMcIdleBit);
  }
  return v;
}

uint32_t Adapter::ReadDword(uint32_t offset) {
  switch (offset) {
    case reg::kMcData:
      return McData(false, 0);
    case reg::kClkData: {
      uint32_t index_reg = Stored(reg::kClkIndex);
      if (index_reg & reg::kClkWriteEnable) return clk_latch_;
      return clk_[index_reg & reg::kClkIndexMask];
    }
    case reg::kIdxData: {
      uint32_t index = Stored(reg::kIdxIndex);
      if (index >= kIdxEntries) {
        ++stats_.idx_unmapped;
        return 0;
      }
      return idx_[index];
    }
    case reg::kEngineStatus: {
      uint32_t v = Stored(offset) & ~reg::kEngineBusyBit;
      if (engine_busy_ != 0) {
        v |= reg::kEngineBusyBit;
        if (engine_busy_ > 0) --engine_busy_;
      }
      return v;
    }
    default:
      break;
  }
  for (unsigned i = 0; i < 2; ++i) {
    if (offset == reg::kPll[i].control) {
      return (Stored(offset) & ~reg::kPllLockBit) | (PllLocked(i) ? reg::kPllLockBit : 0);
    }
  }
  if (unsigned ch = DdcChannelOf(offset)) {
    if ((offset & 0xF) == reg::kDdcInput) return DdcLines(ch);
    DdcAccess(ch);
  }
  return Stored(offset);
}

void Adapter::WriteDword(uint32_t offset, uint32_t value, uint32_t byte_mask) {
  switch (offset) {
    case reg::kMcData:
      McData(true, value);
      Store(offset, value);
      return;
    case reg::kClkData: {
      uint32_t index_reg = Stored(reg::kClkIndex);
      clk_latch_ = value;
      if (index_reg & reg::kClkWriteEnable) {
        clk_[index_reg & reg::kClkIndexMask] = value;
      } else {
        ++stats_.clk_writes_dropped;
      }
      Store(offset, value);
      return;
    }
    case reg::kIdxData: {
      uint32_t index = Stored(reg::kIdxIndex);
      if (index < kIdxEntries) {
        idx_[index] = value;
      } else {
        ++stats_.idx_unmapped;
      }
      Store(offset, value);
      return;
    }
    case reg::kLutSelect:
      if (byte_mask & 0xFF) lut_table_ = value & 1;
      Store(offset, value);
      return;
    case reg::kLutIndex:
      if (byte_mask & 0xFF) lut_pos_ = static_cast<uint8_t>(value);
      Store(offset, value);
      return;
    case reg::kLutData:
      lut_[lut_table_][lut_pos_] = value & 0x3FFFFFFF;
      lut_pos_ = static_cast<uint8_t>(lut_pos_ + 1);
      Store(offset, value);
      return;
    default:
      break;
  }
  for (unsigned i = 0; i < 2; ++i) {
    if (offset == reg::kPll[i].control) {
      Store(offset, value & ~reg::kPllLockBit);  // lock is status only
      return;
    }
  }
  if (unsigned ch = DdcChannelOf(offset)) {
    if ((offset & 0xF) == reg::kDdcInput) return;  // read-only
    Store(offset, value);
    DdcAccess(ch);
    return;
  }
  if (offset >= reg::kEngineFirst && offset <= reg::kEngineLast) {
    if (engine_busy_ != 0) ++stats_.engine_writes_busy;
    Store(offset, value);
    if (offset == reg::kEngSize) EngineStart(value);
    return;
  }
  Store(offset, value);
}

// A lookup-table entry as 8-bit components, 0x00RRGGBB.
uint32_t Adapter::LutRgb(unsigned table, uint8_t index) const {
  uint32_t e = lut_[table & 1][index];
  uint32_t r = (e >> 20) & 0x3FF, g = (e >> 10) & 0x3FF, b = e & 0x3FF;
  return ((r >> 2) << 16) | ((g >> 2) << 8) | (b >> 2);
}

}  // namespace kt270
