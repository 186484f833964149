// DDC buses: open-drain SCL/SDA per channel, the wired AND of the GPIO
// block (a line is pulled low when selected, output-enabled and its level
// bit is 0) and of every attached device. Devices follow the bus by its
// edges alone, on the injected clock; a device that stretches the clock
// holds SCL low for stretch_us after the falling edge of each byte's
// ninth (acknowledge) clock, so the master sees SCL stay low until then.
//
// Timing is judged on the same clock, as the lines are seen at the
// master's register accesses. A device takes a clock only once its SCL
// low and high were both long enough for it, a START only with its set-up,
// bus free and hold met, a STOP only with its set-up met; so a clock or a
// START reaches it at SCL's fall. Whatever it does not take it never sees,
// and it falls out of step as a real part may. A bus observer judges every
// channel by the I2C standard mode and counts what falls short.
#include "sim/adapter/kt270_model.h"
#include "sim/adapter/kt270_regs.h"

namespace kt270 {
namespace {

using detail::DdcChannel;
using detail::I2cTarget;

enum Phase : uint8_t { kIdle, kAddress, kWrite, kRead, kIgnore };

constexpr uint8_t kEepromAddress = 0xA0;
constexpr uint8_t kSegmentPointerAddress = 0x60;
constexpr uint32_t kSegmentBytes = 256;
constexpr uint8_t kAuxAddress = 0x98;
constexpr unsigned kAuxChannel = 3;
constexpr unsigned kSettleRounds = 16;

using detail::BusTiming;

// ---------------------------------------------------------------- timing

constexpr int64_t kLongAgo = -(int64_t{1} << 40);  // idle since power-on

enum Held : uint8_t { kHeldNothing, kHeldStart, kHeldStop };

void Forget(BusTiming& j) {
  j.scl_at = j.sda_at = j.stop_at = j.start_at = kLongAgo;
  j.low_ok = true;
  j.start_ok = true;
  j.held = kHeldStop;  // a high since power-on is no clock
}

enum Violation : uint8_t {
  kShortLow = 1 << 0,
  kShortHigh = 1 << 1,
  kStartSetup = 1 << 2,
  kStartHold = 1 << 3,
  kStopSetup = 1 << 4,
  kBusFree = 1 << 5,
  kDataSetup = 1 << 6,
};

enum Seen : uint8_t { kClock, kStart, kStop };

// What one edge of the bus means to one observer.
struct Verdict {
  Seen seen[2];        // what the observer takes from it, in order
  unsigned count;
  bool clock;          // the edge ended a clock, seen or not
  bool missed;         // it ended a clock or a condition not taken
  uint8_t violations;  // Violation bits
};

bool Lasted(int64_t since, uint64_t now, uint32_t ns) {
  return (static_cast<int64_t>(now) - since) * 1000 >= static_cast<int64_t>(ns);
}

void Take(Verdict& v, bool ok, Seen what) {
  if (ok) {
    v.seen[v.count++] = what;
  } else {
    v.missed = true;
  }
}

// A START waits for its hold: it is taken when SCL falls or a STOP
// follows it, whichever comes first.
void EndStart(BusTiming& j, const I2cMinimums& m, uint64_t now, Verdict& v) {
  bool hold = Lasted(j.start_at, now, m.start_hold);
  if (!hold) v.violations |= kStartHold;
  Take(v, j.start_ok && hold, kStart);
}

// One line change (scl0, sda0 -> scl, sda) at now.
Verdict Judge(BusTiming& j, const I2cMinimums& m, bool scl0, bool sda0, bool scl, bool sda, uint64_t now) {
  Verdict v{};
  if (scl != scl0) {
    if (scl) {
      j.low_ok = Lasted(j.scl_at, now, m.clock_low);
      if (!j.low_ok) v.violations |= kShortLow;
      if (!Lasted(j.sda_at, now, m.data_setup)) v.violations |= kDataSetup;
      j.held = kHeldNothing;
    } else if (j.held == kHeldNothing) {
      v.clock = true;
      bool high = Lasted(j.scl_at, now, m.clock_high);
      if (!high) v.violations |= kShortHigh;
      Take(v, j.low_ok && high, kClock);
    } else if (j.held == kHeldStart) {
      EndStart(j, m, now, v);
    }
    j.scl_at = static_cast<int64_t>(now);
    return v;
  }
  if (scl && sda != sda0) {
    if (j.held == kHeldStart) EndStart(j, m, now, v);
    if (!sda) {
      bool setup = Lasted(j.scl_at, now, m.start_setup);
      bool free = Lasted(j.stop_at, now, m.bus_free);
      if (!setup) v.violations |= kStartSetup;
      if (!free) v.violations |= kBusFree;
      j.start_ok = setup && free;
      j.start_at = static_cast<int64_t>(now);
      j.held = kHeldStart;
    } else {
      bool setup = Lasted(j.scl_at, now, m.stop_setup);
      if (!setup) v.violations |= kStopSetup;
      Take(v, setup, kStop);
      j.stop_at = static_cast<int64_t>(now);
      j.held = kHeldStop;
    }
  }
  j.sda_at = static_cast<int64_t>(now);
  return v;
}

I2cMinimums MinimumsOf(const I2cTarget& t) {
  I2cMinimums m = kI2cStandardMode;
  m.clock_low = t.faults.min_clock_low_ns;
  m.clock_high = t.faults.min_clock_high_ns;
  return m;
}

void Count(DdcBusStats& bus, const Verdict& v) {
  if (v.clock) ++bus.pulses;
  uint32_t* const counters[] = {&bus.short_low,  &bus.short_high, &bus.start_setup, &bus.start_hold,
                                &bus.stop_setup, &bus.bus_free,   &bus.data_setup};
  for (unsigned i = 0; i < sizeof counters / sizeof counters[0]; ++i) {
    if (v.violations & (1u << i)) ++*counters[i];
  }
}

// ---------------------------------------------------------------- targets

void Restart(I2cTarget& t) {
  t.phase = kIdle;
  t.bits = 0;
  t.in_ack = false;
  t.shift = 0;
  t.out = 0;
  t.reading = false;
  t.word_next = false;
  t.acked = false;
  t.master_ack = false;
  t.pull_sda = false;
  t.stretching = false;
  t.stretch_end = 0;
}

bool PullsScl(const I2cTarget& t, uint64_t now) {
  return t.present && (t.faults.stuck_clock || (t.stretching && now < t.stretch_end));
}

bool PullsSda(const I2cTarget& t) { return t.present && (t.faults.stuck_data || t.pull_sda); }

bool MayAck(I2cTarget& t) {
  if (t.faults.nak_after >= 0 && t.acks_given >= static_cast<uint32_t>(t.faults.nak_after)) {
    return false;
  }
  ++t.acks_given;
  return true;
}

void Stretch(I2cTarget& t, uint64_t now) {
  if (t.faults.stretch_us == 0) return;
  t.stretching = true;
  t.stretch_end = now + t.faults.stretch_us;
}

// The bytes one word address reaches: a segment, or a smaller part whole.
uint32_t Span(const I2cTarget& t) { return t.size < kSegmentBytes ? t.size : kSegmentBytes; }

uint8_t Fetch(I2cTarget& t) {
  uint32_t segment = t.segment != nullptr ? *t.segment : 0;
  uint32_t offset = segment * kSegmentBytes + t.pointer;
  uint8_t v = offset < t.size ? t.mem[offset] : 0xFF;
  t.pointer = (t.pointer + 1) % Span(t);
  return v;
}

// A whole byte from the master has been clocked in (eighth falling edge).
// Returns whether the target acknowledges it.
bool TakeByte(I2cTarget& t, Stats& stats) {
  uint8_t b = t.shift;
  if (t.phase == kAddress) {
    // The segment pointer is write-only.
    if ((b & 0xFE) != t.address || (t.segment_pointer && (b & 1) != 0) || !MayAck(t)) return false;
    t.reading = (b & 1) != 0;
    t.word_next = !t.reading;
    return true;
  }
  if (!MayAck(t)) return false;
  if (t.segment_pointer) {
    *t.segment = b;
  } else if (t.word_next) {
    t.pointer = b % Span(t);
    t.word_next = false;
  } else if (t.writable) {
    t.mem[t.pointer] = b;
    t.pointer = (t.pointer + 1) % t.size;
    ++stats.aux_writes;
  } else {
    ++stats.eeprom_writes_ignored;
  }
  return true;
}

void TargetEdge(I2cTarget& t, bool scl0, bool sda0, bool scl, bool sda, uint64_t now,
                Stats& stats) {
  if (scl0 && scl && sda0 != sda) {
    // START (or repeated START) on a falling SDA, STOP on a rising one.
    bool start = !sda;
    Restart(t);
    if (start) t.phase = kAddress;
    return;
  }
  if (t.phase == kIdle || t.phase == kIgnore || scl0 == scl) return;
  bool receiving = t.phase == kAddress || t.phase == kWrite;
  if (scl) {
    // Rising edge: the receiver samples; the ninth clock is the acknowledge.
    if (t.bits < 8) {
      if (receiving) t.shift = static_cast<uint8_t>((t.shift << 1) | (sda ? 1 : 0));
      ++t.bits;
    } else {
      t.in_ack = true;
      if (!receiving) t.master_ack = !sda;
    }
    return;
  }
  // Falling edge: the transmitter changes SDA while the clock is low.
  if (t.in_ack) {
    // End of the acknowledge clock: the next byte begins.
    t.in_ack = false;
    t.bits = 0;
    t.shift = 0;
    t.pull_sda = false;
    if (receiving) {
      bool acked = t.acked;
      t.acked = false;
      if (!acked) return;
      Stretch(t, now);
      if (t.phase == kAddress) t.phase = t.reading ? kRead : kWrite;
      if (t.phase != kRead) return;
    } else if (!t.master_ack) {
      t.phase = kIgnore;  // the master took its last byte: wait for STOP
      return;
    } else {
      Stretch(t, now);
    }
    t.out = Fetch(t);
    t.pull_sda = (t.out & 0x80) == 0;
    return;
  }
  if (t.bits == 0) return;  // the falling edge that completes a START
  if (receiving) {
    if (t.bits == 8) {
      t.acked = TakeByte(t, stats);
      t.pull_sda = t.acked;
      if (!t.acked) t.phase = kIgnore;
    }
    return;
  }
  // Sending: present the next bit, or let go for the master's acknowledge.
  t.pull_sda = t.bits < 8 && (t.out & (0x80 >> t.bits)) == 0;
}

uint32_t GpioReg(unsigned channel, uint32_t which) {
  return reg::kDdcFirst + (channel - 1) * reg::kDdcStride + which;
}

}  // namespace

uint32_t TimingViolations(const DdcBusStats& bus) {
  return bus.short_low + bus.short_high + bus.start_setup + bus.start_hold + bus.stop_setup + bus.bus_free +
         bus.data_setup;
}

void Adapter::DdcInit() {
  for (unsigned i = 0; i < 3; ++i) {
    DdcChannel& c = ddc_[i];
    c.eeprom = I2cTarget{};
    c.aux = I2cTarget{};
    c.segment_pointer = I2cTarget{};
    c.segment = 0;
    c.eeprom.address = kEepromAddress;
    c.eeprom.faults = NoFaults();
    c.eeprom.segment = &c.segment;
    c.segment_pointer.address = kSegmentPointerAddress;
    c.segment_pointer.faults = NoFaults();
    c.segment_pointer.segment_pointer = true;
    c.segment_pointer.segment = &c.segment;
    c.segment_pointer.mem = &c.segment;
    c.segment_pointer.size = 1;
    Restart(c.segment_pointer);
    c.aux.address = kAuxAddress;
    c.aux.faults = NoFaults();
    Restart(c.eeprom);
    Restart(c.aux);
    c.scl = true;
    c.sda = true;
    c.clocks = 0;
    Forget(c.observer);
    Forget(c.eeprom.timing);
    Forget(c.aux.timing);
    Forget(c.segment_pointer.timing);
  }
  for (unsigned r = 0; r < kAuxRegs; ++r) aux_regs_[r] = 0;
  I2cTarget& aux = ddc_[kAuxChannel - 1].aux;
  aux.present = config_.aux_present;
  aux.writable = true;
  aux.mem = aux_regs_;
  aux.size = kAuxRegs;
}

void Adapter::DdcRelease() {
  for (unsigned ch = 1; ch <= 3; ++ch) FreeEeprom(ch);
}

void Adapter::FreeEeprom(unsigned channel) {
  I2cTarget& t = ddc_[channel - 1].eeprom;
  if (t.owned && t.mem != nullptr && env_.free) env_.free(env_.ctx, t.mem);
  t.mem = nullptr;
  t.size = 0;
  t.owned = false;
  t.present = false;
}

bool Adapter::SetEeprom(unsigned channel, const uint8_t* image, uint32_t size,
                        const I2cFaults& faults, bool present) {
  FreeEeprom(channel);
  I2cTarget& t = ddc_[channel - 1].eeprom;
  Restart(t);
  Forget(t.timing);
  t.faults = faults;
  t.acks_given = 0;
  t.pointer = 0;
  if (present && image != nullptr && size != 0) {
    t.mem = static_cast<uint8_t*>(env_.alloc(env_.ctx, size));
    if (t.mem == nullptr) return false;
    for (uint32_t i = 0; i < size; ++i) t.mem[i] = image[i];
    t.size = size;
    t.owned = true;
  }
  t.present = present;
  // Only a part with more than one segment answers at the segment pointer.
  I2cTarget& pointer = ddc_[channel - 1].segment_pointer;
  Restart(pointer);
  Forget(pointer.timing);
  pointer.faults.min_clock_low_ns = faults.min_clock_low_ns;  // one part: one clock
  pointer.faults.min_clock_high_ns = faults.min_clock_high_ns;
  pointer.present = present && t.size > kSegmentBytes;
  ddc_[channel - 1].segment = 0;
  DdcAccess(channel);
  return true;
}

bool Adapter::Attach(unsigned channel, const DdcDevice* device) {
  if (channel < 1 || channel > 3) return false;
  if (device == nullptr) return SetEeprom(channel, nullptr, 0, NoFaults(), false);
  return SetEeprom(channel, device->edid, device->edid_size, device->faults, true);
}

void Adapter::SetAux(bool present, const I2cFaults* faults) {
  I2cTarget& t = ddc_[kAuxChannel - 1].aux;
  Restart(t);
  Forget(t.timing);
  t.present = present;
  t.faults = faults ? *faults : NoFaults();
  t.acks_given = 0;
  DdcAccess(kAuxChannel);
}

uint32_t Adapter::DdcLines(unsigned channel) {
  if (channel < 1 || channel > 3) return reg::kDdcScl | reg::kDdcSda;
  DdcAccess(channel);
  const DdcChannel& c = ddc_[channel - 1];
  return (c.scl ? reg::kDdcScl : 0) | (c.sda ? reg::kDdcSda : 0);
}

void Adapter::DdcAccess(unsigned channel) { DdcSettle(channel, Now()); }

void Adapter::DdcSettle(unsigned channel, uint64_t now) {
  DdcChannel& c = ddc_[channel - 1];
  I2cTarget* targets[3] = {&c.eeprom, &c.aux, &c.segment_pointer};
  for (I2cTarget* t : targets) {
    if (t->stretching && now >= t->stretch_end) t->stretching = false;
  }
  uint32_t select = Stored(GpioReg(channel, reg::kDdcSelect));
  uint32_t level = Stored(GpioReg(channel, reg::kDdcLevel));
  uint32_t enable = Stored(GpioReg(channel, reg::kDdcEnable));
  uint32_t driven_low = select & enable & ~level;
  for (unsigned round = 0; round < kSettleRounds; ++round) {
    bool scl = (driven_low & reg::kDdcScl) == 0;
    bool sda = (driven_low & reg::kDdcSda) == 0;
    for (I2cTarget* t : targets) {
      if (PullsScl(*t, now)) scl = false;
      if (PullsSda(*t)) sda = false;
    }
    if (scl == c.scl && sda == c.sda) return;
    if (scl != c.scl && sda != c.sda) {
      // Both at once: take the clock first when it falls and the data
      // first when it rises, so that no START or STOP is invented.
      if (scl) {
        scl = c.scl;
      } else {
        sda = c.sda;
      }
    }
    DdcEdge(channel, scl, sda, now);
  }
}

void Adapter::DdcEdge(unsigned channel, bool scl, bool sda, uint64_t now) {
  DdcChannel& c = ddc_[channel - 1];
  bool scl0 = c.scl, sda0 = c.sda;
  c.scl = scl;
  c.sda = sda;
  DdcBusStats& bus = stats_.ddc[channel - 1];
  if (scl0 && scl && sda0 != sda) {
    if (sda) {
      ++bus.stops;
    } else {
      ++bus.starts;
    }
    c.clocks = 0;
  } else if (!scl0 && scl) {
    if (c.clocks < 8) {
      ++c.clocks;
    } else {
      c.clocks = 0;
      if (sda) {
        ++bus.naks;
      } else {
        ++bus.acks;
      }
    }
  }
  Count(bus, Judge(c.observer, kI2cStandardMode, scl0, sda0, scl, sda, now));
  bool missed = false;
  I2cTarget* targets[3] = {&c.eeprom, &c.aux, &c.segment_pointer};
  for (I2cTarget* t : targets) {
    if (!t->present || t->mem == nullptr) continue;
    Verdict v = Judge(t->timing, MinimumsOf(*t), scl0, sda0, scl, sda, now);
    missed = missed || v.missed;
    for (unsigned i = 0; i < v.count; ++i) {
      switch (v.seen[i]) {
        case kClock:  // SDA held still through the high
          TargetEdge(*t, false, sda, true, sda, now, stats_);
          TargetEdge(*t, true, sda, false, sda, now, stats_);
          break;
        case kStart:
          TargetEdge(*t, true, true, true, false, now, stats_);
          break;
        case kStop:
          TargetEdge(*t, true, false, true, true, now, stats_);
          if (t->segment != nullptr) *t->segment = 0;  // the segment pointer lasts to the STOP
          break;
      }
    }
  }
  if (missed) ++bus.missed;
}

bool Adapter::Plug(const Monitor& monitor) {
  unsigned index = static_cast<unsigned>(monitor.connector);
  if (index >= kConnectorCount) return false;
  unsigned channel = kConnectorChannel[index];
  for (unsigned i = 0; i < kConnectorCount; ++i) {
    if (i != index && plugged_[i] && kConnectorChannel[i] == channel) return false;
  }
  if (!SetEeprom(channel, monitor.edid, monitor.edid_size, monitor.ddc, true)) return false;
  plugged_[index] = true;
  return true;
}

void Adapter::Unplug(Connector connector) {
  unsigned index = static_cast<unsigned>(connector);
  if (index >= kConnectorCount || !plugged_[index]) return;
  plugged_[index] = false;
  SetEeprom(kConnectorChannel[index], nullptr, 0, NoFaults(), false);
}

}  // namespace kt270
