// DDC buses: an I2C master bit-banged through the GPIO registers in the
// test itself, against the EEPROM and auxiliary devices and their faults.
#include <gtest/gtest.h>

#include <vector>

#include "tests/adapter/model_fixture.h"

namespace kt270::test {
namespace {

// Open-drain master: output level 0, a set enable bit pulls its line low.
// Waits for a stretched clock at most `patience` polls of 10 us.
struct Master {
  Bench& b;
  unsigned channel;
  unsigned patience = 500;
  bool scl_low = false, sda_low = false;
  uint64_t longest_wait = 0;

  uint32_t Reg(uint32_t which) const { return 0x7E40 + (channel - 1) * 0x10 + which; }
  void Apply() {
    b.W32(Reg(0x0), 0x101);
    b.W32(Reg(0x4), 0);
    b.W32(Reg(0x8), (scl_low ? 0x001u : 0) | (sda_low ? 0x100u : 0));
    b.now += 5;
  }
  bool Scl() { return (b.R32(Reg(0xC)) & 0x001) != 0; }
  bool Sda() { return (b.R32(Reg(0xC)) & 0x100) != 0; }
  bool ReleaseClock() {
    scl_low = false;
    Apply();
    uint64_t from = b.now;
    for (unsigned i = 0; i < patience && !Scl(); ++i) b.now += 10;
    if (b.now - from > longest_wait) longest_wait = b.now - from;
    bool high = Scl();
    b.now += 5;  // a stretched clock's high counts from when it is seen high
    return high;
  }
  bool Start() {
    sda_low = false;
    Apply();
    if (!ReleaseClock() || !Sda()) return false;
    sda_low = true;
    Apply();
    scl_low = true;
    Apply();
    return true;
  }
  bool Stop() {
    scl_low = true;
    Apply();
    sda_low = true;
    Apply();
    if (!ReleaseClock()) return false;
    sda_low = false;
    Apply();
    return Sda();
  }
  bool WriteBit(bool bit) {
    scl_low = true;
    Apply();
    sda_low = !bit;
    Apply();
    if (!ReleaseClock()) return false;
    b.now += 5;
    scl_low = true;
    Apply();
    return true;
  }
  int ReadBit() {
    scl_low = true;
    Apply();
    sda_low = false;
    Apply();
    if (!ReleaseClock()) return -1;
    int bit = Sda() ? 1 : 0;
    scl_low = true;
    Apply();
    return bit;
  }
  // 0 acknowledged, 1 not acknowledged, -1 clock stuck.
  int WriteByte(uint8_t v) {
    for (int i = 7; i >= 0; --i) {
      if (!WriteBit((v >> i) & 1)) return -1;
    }
    return ReadBit();
  }
  int ReadByte(bool last) {
    int v = 0;
    for (int i = 0; i < 8; ++i) {
      int bit = ReadBit();
      if (bit < 0) return -1;
      v = v << 1 | bit;
    }
    return WriteBit(last) ? v : -1;
  }
  // Sets the word address, then reads n bytes sequentially; with a segment,
  // through the E-DDC segment pointer first.
  std::vector<int> Read(uint8_t address, uint8_t word, size_t n, int segment = -1) {
    std::vector<int> out;
    if (segment >= 0 && (!Start() || WriteByte(0x60) != 0 || WriteByte(static_cast<uint8_t>(segment)) != 0)) {
      Stop();
      return out;
    }
    if (!Start() || WriteByte(address) != 0 || WriteByte(word) != 0) {
      Stop();
      return out;
    }
    if (!Start() || WriteByte(address | 1) != 0) {
      Stop();
      return out;
    }
    for (size_t i = 0; i < n; ++i) out.push_back(ReadByte(i + 1 == n));
    Stop();
    return out;
  }
};

std::vector<int> AsInts(const std::vector<uint8_t>& bytes, size_t from, size_t n) {
  return std::vector<int>(bytes.begin() + from, bytes.begin() + from + n);
}

std::vector<int> Concat(std::vector<int> a, const std::vector<int>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// An E-DDC EEPROM: the word address wraps within its 256-byte segment, and
// only the segment pointer reaches blocks 2 and up.
TEST(Ddc, SequentialEdidReadStaysInItsSegment) {
  Bench b;
  std::vector<uint8_t> edid = MakeEdid(0x21, 0x08, 0, nullptr, 2);
  DdcDevice dev{edid.data(), static_cast<uint32_t>(edid.size()), NoFaults()};
  ASSERT_TRUE(b.a().Attach(2, &dev));
  Master m{b, 2};
  // 384 bytes from word address 0: segment 0, then its first block again.
  EXPECT_EQ(m.Read(0xA0, 0x00, 384), Concat(AsInts(edid, 0, 256), AsInts(edid, 0, 128)));
  // A word address selects within the segment.
  EXPECT_EQ(m.Read(0xA0, 0x80, 16), AsInts(edid, 128, 16));
  EXPECT_EQ(b.a().stats().ddc[1].starts, 4u);
  EXPECT_EQ(b.a().stats().ddc[1].stops, 2u);
  // Segment 1 holds block 2 and then nothing the image has; STOP resets it.
  EXPECT_EQ(m.Read(0xA0, 0x00, 256, 1), Concat(AsInts(edid, 256, 128), std::vector<int>(128, 0xFF)));
  EXPECT_EQ(m.Read(0xA0, 0x00, 4), AsInts(edid, 0, 4));

  // A part of one segment or less has no segment pointer.
  std::vector<uint8_t> small = MakeEdid(0x21, 0x08, 0, nullptr, 1);
  DdcDevice one{small.data(), static_cast<uint32_t>(small.size()), NoFaults()};
  ASSERT_TRUE(b.a().Attach(2, &one));
  EXPECT_TRUE(m.Read(0xA0, 0x00, 4, 1).empty());
  EXPECT_EQ(m.Read(0xA0, 0x00, 260), Concat(AsInts(small, 0, 256), AsInts(small, 0, 4)));
}

TEST(Ddc, SequentialReadsOnSeparateBuses) {
  Bench b;
  std::vector<uint8_t> edid = MakeEdid(0x21, 0x08, 0, nullptr, 0);
  DdcDevice dev{edid.data(), static_cast<uint32_t>(edid.size()), NoFaults()};
  ASSERT_TRUE(b.a().Attach(2, &dev));
  Master m{b, 2};
  // A 128-byte part wraps at its own end.
  EXPECT_EQ(m.Read(0xA0, 0x00, 130), Concat(AsInts(edid, 0, 128), AsInts(edid, 0, 2)));
  // Channel 1 is a separate bus with nobody on it.
  Master other{b, 1};
  ASSERT_TRUE(other.Start());
  EXPECT_EQ(other.WriteByte(0xA0), 1);
  EXPECT_EQ(other.ReadByte(true), 0xFF);  // floating lines read high
  EXPECT_TRUE(other.Stop());
  EXPECT_EQ(b.a().stats().ddc[0].naks, 2u);  // the address, then our own last-byte NAK
}

TEST(Ddc, WrongAddressAndWritesToTheEepromAreHandled) {
  Bench b;
  std::vector<uint8_t> edid = MakeEdid(0, 0, 0);
  DdcDevice dev{edid.data(), 128, NoFaults()};
  b.a().Attach(1, &dev);
  Master m{b, 1};
  ASSERT_TRUE(m.Start());
  EXPECT_EQ(m.WriteByte(0xA2), 1);
  ASSERT_TRUE(m.Stop());
  // Writes are acknowledged but the image is write-protected.
  ASSERT_TRUE(m.Start());
  EXPECT_EQ(m.WriteByte(0xA0), 0);
  EXPECT_EQ(m.WriteByte(0x08), 0);
  EXPECT_EQ(m.WriteByte(0x5A), 0);
  ASSERT_TRUE(m.Stop());
  EXPECT_EQ(b.a().stats().eeprom_writes_ignored, 1u);
  EXPECT_EQ(m.Read(0xA0, 0x08, 1), AsInts(edid, 8, 1));
}

TEST(Ddc, ClockStretchingIsMeasuredOnTheVirtualClock) {
  Bench b;
  std::vector<uint8_t> edid = MakeEdid(0x01, 0, 0);
  I2cFaults f = NoFaults();
  f.stretch_us = 300;
  DdcDevice dev{edid.data(), 128, f};
  b.a().Attach(1, &dev);
  Master m{b, 1};
  ASSERT_TRUE(m.Start());
  ASSERT_EQ(m.WriteByte(0xA0), 0);
  // The device holds SCL low after the acknowledge clock: released by the
  // master, it still reads low.
  m.scl_low = false;
  m.Apply();
  EXPECT_FALSE(m.Scl());
  b.now += 300;
  EXPECT_TRUE(m.Scl());
  m.scl_low = true;
  m.Apply();
  m.Stop();
  EXPECT_EQ(m.Read(0xA0, 0x23, 3), AsInts(edid, 0x23, 3));
  EXPECT_GE(m.longest_wait, 280u);
  EXPECT_LE(m.longest_wait, 300u);

  // 4.9 ms is waited for by a 500 x 10 us poll; 6 ms is not.
  f.stretch_us = 4900;
  dev.faults = f;
  b.a().Attach(1, &dev);
  EXPECT_EQ(m.Read(0xA0, 0, 2), AsInts(edid, 0, 2));
  f.stretch_us = 6000;
  dev.faults = f;
  b.a().Attach(1, &dev);
  ASSERT_TRUE(m.Start());
  ASSERT_EQ(m.WriteByte(0xA0), 0);
  EXPECT_EQ(m.WriteByte(0x00), -1);
}

TEST(Ddc, NakAfterNBytes) {
  Bench b;
  std::vector<uint8_t> edid = MakeEdid(0, 0, 0);
  I2cFaults f = NoFaults();
  f.nak_after = 2;  // answers a probe (address and word), then nothing
  DdcDevice dev{edid.data(), 128, f};
  b.a().Attach(3, &dev);
  b.a().SetAux(false, nullptr);
  Master m{b, 3};
  ASSERT_TRUE(m.Start());
  EXPECT_EQ(m.WriteByte(0xA0), 0);
  EXPECT_EQ(m.WriteByte(0x00), 0);
  ASSERT_TRUE(m.Stop());
  ASSERT_TRUE(m.Start());
  EXPECT_EQ(m.WriteByte(0xA1), 1);
  ASSERT_TRUE(m.Stop());
  // Re-attaching gives a fresh device.
  b.a().Attach(3, &dev);
  EXPECT_EQ(m.Read(0xA0, 0, 1).size(), 0u);  // word write is the third ack
}

TEST(Ddc, StuckLinesAndNothingAttached) {
  Bench b;
  I2cFaults f = NoFaults();
  f.stuck_clock = true;
  DdcDevice dev{nullptr, 0, f};
  b.a().Attach(1, &dev);
  Master m{b, 1};
  EXPECT_FALSE(m.Start());
  EXPECT_EQ(b.a().DdcLines(1) & 1, 0u);

  f = NoFaults();
  f.stuck_data = true;
  dev.faults = f;
  b.a().Attach(1, &dev);
  EXPECT_FALSE(m.Start());  // data cannot go high
  EXPECT_EQ(b.a().DdcLines(1), 0x001u);

  b.a().Attach(1, nullptr);
  EXPECT_EQ(b.a().DdcLines(1), 0x101u);
  ASSERT_TRUE(m.Start());
  EXPECT_EQ(m.WriteByte(0xA0), 1);
  EXPECT_TRUE(m.Stop());
}

TEST(Ddc, ChannelThreeCarriesTheAuxDeviceBesideAnEeprom) {
  Bench b;
  std::vector<uint8_t> edid = MakeEdid(0x55, 0, 0);
  DdcDevice dev{edid.data(), 128, NoFaults()};
  b.a().Attach(3, &dev);
  Master m{b, 3};
  ASSERT_TRUE(m.Start());
  ASSERT_EQ(m.WriteByte(0x98), 0);
  ASSERT_EQ(m.WriteByte(0x4A), 0);
  ASSERT_EQ(m.WriteByte(0x38), 0);
  ASSERT_EQ(m.WriteByte(0x1A), 0);  // auto-increment to 0x4B
  ASSERT_TRUE(m.Stop());
  EXPECT_EQ(b.a().AuxReg(0x4A), 0x38);
  EXPECT_EQ(b.a().AuxReg(0x4B), 0x1A);
  EXPECT_EQ(m.Read(0x98, 0x4A, 2), (std::vector<int>{0x38, 0x1A}));
  EXPECT_EQ(m.Read(0xA0, 35, 1), (std::vector<int>{0x55}));
  // Without the aux device its address goes unanswered.
  b.a().SetAux(false, nullptr);
  ASSERT_TRUE(m.Start());
  EXPECT_EQ(m.WriteByte(0x98), 1);
  m.Stop();
  // The aux device lives on channel 3 only.
  b.a().SetAux(true, nullptr);
  Master one{b, 1};
  ASSERT_TRUE(one.Start());
  EXPECT_EQ(one.WriteByte(0x98), 1);
  one.Stop();
}

TEST(Ddc, MonitorsPlugAndUnplugAtRunTime) {
  Bench b;
  std::vector<uint8_t> edid = MakeEdid(0x01, 0, 0);
  Monitor mon{edid.data(), 128, Connector::kAnalogB, NoFaults()};
  Master m{b, 2};
  ASSERT_TRUE(m.Start());
  EXPECT_EQ(m.WriteByte(0xA0), 1);
  m.Stop();
  ASSERT_TRUE(b.a().Plug(mon));
  EXPECT_TRUE(b.a().Plugged(Connector::kAnalogB));
  EXPECT_EQ(m.Read(0xA0, 0, 8), AsInts(edid, 0, 8));
  Monitor tv{edid.data(), 128, Connector::kTv, NoFaults()};
  EXPECT_FALSE(b.a().Plug(tv));  // same DDC channel is taken
  b.a().Unplug(Connector::kAnalogB);
  ASSERT_TRUE(m.Start());
  EXPECT_EQ(m.WriteByte(0xA0), 1);
  m.Stop();
  EXPECT_TRUE(b.a().Plug(tv));
}

// The bus sequence of the firmware's DDC layer as its description gives
// it (line-state byte, three register writes per line change, 5 us after
// each), so that the model is known to answer exactly that master.
struct DescribedMaster {
  Bench& b;
  unsigned channel;
  uint8_t state = 0;

  uint32_t Reg(uint32_t which) const { return 0x7E40 + (channel - 1) * 0x10 + which; }
  void Stall(uint64_t us) { b.now += us; }
  void Apply(uint8_t s) {
    b.W32(Reg(0x0), 0x101);
    b.W32(Reg(0x4), 0);
    uint32_t e = 0;
    if ((s & 0x20) && !(s & 0x04)) e |= 0x100;
    if ((s & 0x10) && !(s & 0x02)) e |= 0x1;
    b.W32(Reg(0x8), e);
  }
  void Line(uint8_t s) {
    Apply(s);
    Stall(5);
    state = s;
  }
  void Clock(bool high) { Line(high ? (state | 0x12) : ((state | 0x10) & ~0x02)); }
  void Data(bool high) { Line(high ? (state | 0x24) : ((state | 0x20) & ~0x04)); }
  uint8_t Sample() {
    uint32_t e = b.R32(Reg(0x8)), i = b.R32(Reg(0xC));
    return (e & 0x100 ? 0x20 : 0) | (i & 0x100 ? 0x04 : 0) | (e & 1 ? 0x10 : 0) | (i & 1 ? 0x02 : 0);
  }
  bool WaitClockHigh() {
    Clock(true);
    for (int i = 0; i < 500 && !(Sample() & 0x02); ++i) Stall(10);
    return (Sample() & 0x02) != 0;
  }
  bool Start() {
    Data(true);
    Stall(5);
    if (!WaitClockHigh()) return false;
    Stall(5);
    Data(false);
    Stall(15);
    Clock(false);
    Stall(5);
    return true;
  }
  bool Stop() {
    Clock(false);
    Stall(5);
    Data(false);
    Stall(5);
    if (!WaitClockHigh()) return false;
    Stall(5);
    Data(true);
    Stall(15);
    return true;
  }
  bool WriteBit(bool bit) {
    Clock(false);
    Stall(5);
    Data(bit);
    Stall(5);
    if (!WaitClockHigh()) return false;
    Stall(10);
    Clock(false);
    Stall(5);
    return true;
  }
  int ReadBit() {
    Clock(false);
    Stall(5);
    Data(true);
    Stall(5);
    WaitClockHigh();
    Stall(25);
    int bit = (Sample() & 0x04) ? 1 : 0;
    Clock(false);
    Stall(5);
    return bit;
  }
  bool WriteByte(uint8_t v) {
    for (int i = 7; i >= 0; --i) {
      if (!WriteBit(v & (1 << i))) return false;
    }
    return ReadBit() == 0;
  }
  uint8_t ReadByte(bool last) {
    int v = 0;
    for (int i = 0; i < 8; ++i) v = v << 1 | ReadBit();
    WriteBit(last);
    return static_cast<uint8_t>(v);
  }
  bool Probe() {
    for (int attempt = 0; attempt < 8; ++attempt) {
      if (Start() && WriteByte(0xA0)) {
        WriteByte(0x00);
        Stop();
        Stall(500);
        return true;
      }
      Stop();
    }
    Stop();
    return false;
  }
  bool ReadBlock(std::vector<uint8_t>* out) {
    if (!Start()) return false;
    if (!WriteByte(0xA1)) {
      Stop();
      return false;
    }
    out->clear();
    for (int i = 0; i < 128; ++i) out->push_back(ReadByte(i == 127));
    Stop();
    return true;
  }
};

// A master whose every wait comes from a table, in microseconds, to show
// what the model's timing judge lets through to a device and what it
// counts. It waits the START set-up only after raising the clock itself,
// so a START from an idle bus has the STOP's set-up and the bus free.
struct Waits {
  uint64_t low, high, start_setup, start_hold, stop_setup, bus_free, data_setup;
};
constexpr Waits kStandardWaits = {5, 4, 5, 4, 4, 5, 1};

struct TimedMaster {
  Bench& b;
  Waits w;
  bool scl = true, sda = true;

  void Lines() {
    b.W32(0x7E40, 0x101);
    b.W32(0x7E44, 0);
    b.W32(0x7E48, (scl ? 0 : 0x001u) | (sda ? 0 : 0x100u));
  }
  bool SetScl(bool high) {
    bool changed = scl != high;
    scl = high;
    Lines();
    return changed;
  }
  void SetSda(bool high) {
    sda = high;
    Lines();
  }
  void Start() {
    SetSda(true);
    b.now += w.data_setup;
    if (SetScl(true)) b.now += w.start_setup;
    SetSda(false);
    b.now += w.start_hold;
    SetScl(false);
    b.now += w.low - w.data_setup;
  }
  void Stop() {
    SetSda(false);
    b.now += w.data_setup;
    SetScl(true);
    b.now += w.stop_setup;
    SetSda(true);
    b.now += w.bus_free;
  }
  // Clock low on entry and exit; what SDA read while the clock was high.
  bool Bit(bool out) {
    SetSda(out);
    b.now += w.data_setup;
    SetScl(true);
    b.now += w.high;
    bool in = (b.R32(0x7E4C) & 0x100) != 0;
    SetScl(false);
    b.now += w.low - w.data_setup;
    return in;
  }
  bool Write(uint8_t v) {
    for (int i = 7; i >= 0; --i) Bit((v >> i) & 1);
    return !Bit(true);
  }
  uint8_t Read(bool last) {
    uint8_t v = 0;
    for (int i = 0; i < 8; ++i) v = static_cast<uint8_t>(v << 1 | Bit(true));
    Bit(last);
    return v;
  }
  // Two bytes from word address 8: the address write, a repeated START,
  // the read; -1 when any address or byte went unanswered.
  std::vector<int> ReadTwo() {
    Start();
    bool ok = Write(0xA0);
    ok = Write(0x08) && ok;
    Start();
    ok = Write(0xA1) && ok;
    std::vector<int> out = {Read(false), Read(true)};
    Stop();
    return ok ? out : std::vector<int>{-1};
  }
};

TEST(DdcTiming, WhatFallsShortOfTheStandardModeIsCountedAndNotSeen) {
  using Counter = uint32_t DdcBusStats::*;
  struct {
    const char* what;
    Waits w;
    uint32_t device_high_ns;  // the EEPROM's own minimum SCL high
    Counter counter;          // the only violation counted, or none
    bool first, second;       // each of two reads in a row answered
    bool missed;              // the device missed a clock or condition
  } const rows[] = {
      {"the minimums", kStandardWaits, 4000, nullptr, true, true, false},
      {"clock high 3", {5, 3, 5, 4, 4, 5, 1}, 4000, &DdcBusStats::short_high, false, false, true},
      {"clock low 4", {4, 4, 5, 4, 4, 5, 1}, 4000, &DdcBusStats::short_low, false, false, true},
      // The repeated START is not seen: the device stays in its write.
      {"START set-up 4", {5, 4, 4, 4, 4, 5, 1}, 4000, &DdcBusStats::start_setup, false, false, true},
      {"START hold 3", {5, 4, 5, 3, 4, 5, 1}, 4000, &DdcBusStats::start_hold, false, false, true},
      // A STOP missed is overtaken by the next START.
      {"STOP set-up 3", {5, 4, 5, 4, 3, 5, 1}, 4000, &DdcBusStats::stop_setup, true, true, true},
      {"bus free 0", {5, 4, 5, 4, 5, 0, 1}, 4000, &DdcBusStats::bus_free, true, false, true},
      // Counted, but the device still samples what it finds.
      {"data set-up 0", {5, 4, 5, 4, 4, 5, 0}, 4000, &DdcBusStats::data_setup, true, true, false},
      // A slower part: the bus is within the standard, the part misses it.
      {"a part needing 10 us high", kStandardWaits, 10000, nullptr, false, false, true},
      {"... given 10 us", {5, 10, 5, 4, 4, 5, 1}, 10000, nullptr, true, true, false},
  };
  std::vector<uint8_t> edid = MakeEdid(0, 0, 0);
  const std::vector<int> bytes = AsInts(edid, 8, 2);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Bench b;
    I2cFaults f = NoFaults();
    f.min_clock_high_ns = row.device_high_ns;
    DdcDevice dev{edid.data(), 128, f};
    b.a().Attach(1, &dev);
    b.now = 100;
    TimedMaster m{b, row.w};
    EXPECT_EQ(m.ReadTwo() == bytes, row.first);
    EXPECT_EQ(m.ReadTwo() == bytes, row.second);
    const DdcBusStats& bus = b.a().stats().ddc[0];
    uint32_t counted = row.counter ? bus.*row.counter : 0;
    EXPECT_EQ(TimingViolations(bus), counted);
    if (row.counter) EXPECT_GT(counted, 0u);
    EXPECT_EQ(bus.missed > 0, row.missed);
    EXPECT_EQ(bus.pulses, 2u * 5 * 9);  // every clock, seen or not
  }
}

TEST(Ddc, DescribedMasterSequenceReadsTheEdid) {
  Bench b;
  std::vector<uint8_t> edid = MakeEdid(0x21, 0x08, 0, nullptr, 1);
  I2cFaults f = NoFaults();
  f.stretch_us = 4000;
  DdcDevice dev{edid.data(), static_cast<uint32_t>(edid.size()), f};
  b.a().Attach(1, &dev);
  DescribedMaster m{b, 1};
  ASSERT_TRUE(m.Probe());
  std::vector<uint8_t> block;
  ASSERT_TRUE(m.ReadBlock(&block));
  EXPECT_EQ(block, std::vector<uint8_t>(edid.begin(), edid.begin() + 128));

  // Nobody on channel 2: eight attempts and nine stop conditions.
  DescribedMaster empty{b, 2};
  EXPECT_FALSE(empty.Probe());
  EXPECT_EQ(b.a().stats().ddc[1].starts, 8u);
  EXPECT_EQ(b.a().stats().ddc[1].stops, 9u);
}

}  // namespace
}  // namespace kt270::test
