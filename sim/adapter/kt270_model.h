// Register-level model of the KT270 display adapter: configuration space,
// the register aperture with its indirect spaces and status bits, the frame
// buffer and 2D engine, the three DDC buses with their I2C devices, and the
// scanout decode that tells what a monitor on each output sees.
//
// Freestanding: no heap of its own (frame buffer and EDID copies come from
// the injected allocator), no clock of its own (time is the injected
// now_us), no static constructors. Writes store; the meaning of the
// registers is derived when asked (Decode*, Watch, Render*).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace kt270 {

// ---------------------------------------------------------------- set-up

struct Env {
  void* ctx;
  void* (*alloc)(void* ctx, size_t size);
  void (*free)(void* ctx, void* block);
  uint64_t (*now_us)(void* ctx);
};

enum class Space : uint8_t { kConfig, kBar0, kBar2 };
enum class Stride : uint8_t { kNormal, kFifo, kFill };

// One record per entry-point call; count > 1 carries the first element.
struct Access {
  uint64_t time_us;
  uint8_t width;  // bytes: 1, 2, 4 or 8
  bool write;
  Space space;
  Stride stride;
  bool ok;        // false: refused (range, width, decode off); nothing done
  uint64_t offset;
  uint64_t value;
  uint64_t count;
};

typedef void (*TraceFn)(void* ctx, const Access& access);

enum class McIdle : uint8_t {
  kAlways,      // MC index 0x08 bit 0x10 always set
  kAfterPolls,  // clear for mc_idle_polls reads after every MC write
  kNever,
};

struct Config {
  uint16_t vendor_id;      // 0x1F6B
  uint16_t device_id;      // 0x6B10
  uint8_t revision;
  uint16_t subsystem_vendor;
  uint16_t subsystem_id;
  uint32_t bar[6];         // reset dwords; BAR 0 frame buffer, 1 I/O, 2 registers
  uint16_t command;        // reset value of the PCI command register
  bool enforce_decode;     // BAR access needs command bit 1 (else master abort)
  uint32_t strap;          // register 0x0C60 reset value
  uint32_t hwgpio;         // register 0x00E8
  uint32_t swgpio;         // register 0x01A4
  uint32_t fb_size;        // BAR 0 size in bytes, power of two
  int32_t engine_busy_reads;  // busy bit 31 of 0x0E40 after each op: 0, N, -1 forever
  bool pll_locks;          // false: bit 21 never sets
  McIdle mc_idle;
  uint32_t mc_idle_polls;  // for kAfterPolls
  bool aux_present;        // the auxiliary device at 0x98 on DDC channel 3
  bool fill_ignores_direction;  // default: fills read 0x1438 as top-left whatever 0x16C0 says
};

// 0x1F6B/0x6B10, BAR0 0xD0000008, BAR1 0x0000C001, BAR2 0xD1000000,
// 32 MiB, engine idle at once, PLLs lock, MC idle always, aux present.
Config DefaultConfig();

// ---------------------------------------------------------------- DDC

// The I2C standard mode's minimum times, in nanoseconds.
struct I2cMinimums {
  uint32_t clock_low, clock_high;
  uint32_t start_setup, start_hold, stop_setup, bus_free;
  uint32_t data_setup;
};
constexpr I2cMinimums kI2cStandardMode = {4700, 4000, 4700, 4000, 4000, 4700, 250};

struct I2cFaults {
  uint32_t stretch_us;   // SCL held low this long after each byte's 9th clock
  int32_t nak_after;     // acknowledge this many bytes, then none; -1 = always
  bool stuck_clock;      // device holds SCL low for good
  bool stuck_data;       // device holds SDA low for good
  // The shortest SCL low and high the device takes for a clock; a pulse
  // below either goes unseen. NoFaults: the I2C standard mode's 4.7 and
  // 4.0 us; a slower part needs more.
  uint32_t min_clock_low_ns;
  uint32_t min_clock_high_ns;
};
I2cFaults NoFaults();

// An E-DDC EDID EEPROM at 0xA0/0xA1. The image (1 to 32768 bytes, whatever
// its byte 126 claims) is copied and served as such a part serves it: the
// word address covers one 256-byte segment and wraps within it (within the
// image when it is smaller), and an image longer than 256 bytes brings the
// segment pointer at 0x60, which selects the segment for the reads up to
// the next STOP; bytes past the image read 0xFF. edid == nullptr with
// faults set models a broken bus without EEPROM.
struct DdcDevice {
  const uint8_t* edid;
  uint32_t edid_size;
  I2cFaults faults;
};

struct DdcBusStats {
  uint32_t starts;   // START or repeated START seen on the bus
  uint32_t stops;
  uint32_t acks;     // ninth clocks that sampled SDA low (by device or master)
  uint32_t naks;     // ninth clocks that sampled SDA high
  uint32_t pulses;   // clocks: SCL high periods without START or STOP
  // Timing below the I2C standard mode's minimums, whoever caused it (a
  // device sees no such pulse or condition, as far as its own minimums go).
  uint32_t short_low;    // SCL low < 4.7 us
  uint32_t short_high;   // a clock's SCL high < 4.0 us
  uint32_t start_setup;  // SCL high < 4.7 us before a START
  uint32_t start_hold;   // SDA low < 4.0 us after a START before SCL falls
  uint32_t stop_setup;   // SCL high < 4.0 us before a STOP
  uint32_t bus_free;     // < 4.7 us from a STOP to the next START
  uint32_t data_setup;   // SDA changed < 250 ns before SCL rose
  // Bus edges that completed a clock, START or STOP that an attached
  // device did not see, judged by that device's own minimums.
  uint32_t missed;
};
uint32_t TimingViolations(const DdcBusStats& bus);  // the sum of the seven

// ---------------------------------------------------------------- scanout

struct PllState {
  uint32_t r, f, tenths, p;
  bool held;         // control bits 0 or 1 set
  bool locked;       // what bit 21 reads now
  uint64_t vco_hz;
  uint64_t out_hz;   // 27 MHz x (F + tenths/10) / (R x P), 0 when R or P is 0
};

struct CrtcState {
  uint32_t control;
  bool running;       // control == 1 and the PLL runs locked
  uint32_t h_total_reg, v_total_reg;   // raster totals are reg + 1
  uint32_t h_total, v_total;
  uint32_t h_blank_start, h_blank_end, v_blank_start, v_blank_end;
  bool h_blank_flag, v_blank_flag;     // bit 31 of the blank words
  uint32_t h_sync_width, v_sync_width;
  bool hsync_positive, vsync_positive; // bit 0 of the sync controls
  uint32_t h_active, v_active;         // blank start - blank end
  PllState pll;
  uint64_t pixel_clock_hz;
  uint32_t refresh_mhz;                // milli-hertz
  uint32_t surface_base, pitch_bytes, bpp;
  uint32_t source_width, source_height;  // 0x6584
  uint32_t fetch_width, fetch_height;    // 0x6134 / 0x6138
  bool scaler_enabled;
  uint32_t scaler_mode;
  uint32_t border_h, border_v;           // low halves of 0x6588 / 0x658C
  uint32_t window_start, window_end, window_pitch;
  bool tv_conversion;                    // 0x6380 / 0x6B80
};

enum class Output : uint8_t { kDacA, kDacB, kTmds, kTv };
enum class TvStandard : uint8_t { kNone, k525Line60Hz, k625Line50Hz };

struct OutputState {
  bool enabled;         // the output drives a signal
  uint8_t source;       // 0 CRTC 1, 1 CRTC 2, 2 TV encoder (DAC B), else none
  uint32_t mode_word;   // DAC control word (0x7854 / 0x7A54)
  bool dual_link;       // TMDS: bit 24 and both lane groups
  uint32_t lanes;       // TMDS lane enables
  TvStandard tv_standard;  // TV encoder: the register set loaded
};

// Board connectors and what they carry.
//   connector  DDC channel  output
//   digital    1            TMDS
//   analogue A 1            DAC A
//   analogue B 2            DAC B
//   television 2            TV encoder through DAC B
enum class Connector : uint8_t { kDigital, kAnalogA, kAnalogB, kTv };
constexpr unsigned kConnectorCount = 4;
constexpr unsigned kConnectorChannel[kConnectorCount] = {1, 1, 2, 2};

struct Monitor {
  const uint8_t* edid;  // copied into the EEPROM on the connector's channel
  uint32_t edid_size;
  Connector connector;
  I2cFaults ddc;
};

enum class Sync : uint8_t { kNoSignal, kOutOfRange, kInSync };

struct MonitorView {
  Sync sync;
  const char* reason;   // why, in a few words (static text)
  uint32_t width, height;          // active raster (TV: the picture size)
  uint32_t refresh_mhz;
  uint64_t pixel_clock_hz;
  uint8_t crtc;                    // 0, 1, or 255
  bool scaled;
  uint32_t source_width, source_height;
};

// ---------------------------------------------------------------- model

namespace detail {

// One observer's memory of the bus timing (ddc.cpp): when each line last
// changed, the last STOP, and what the current SCL high period holds.
struct BusTiming {
  int64_t scl_at, sda_at, stop_at, start_at;  // virtual us
  bool low_ok;    // the SCL low before this high was long enough
  bool start_ok;  // the START of this high had its set-up and bus free
  uint8_t held;   // what this high period holds: nothing yet, START, STOP
};

// An I2C target that follows the bus by its line edges only (ddc.cpp).
struct I2cTarget {
  bool present;
  bool writable;       // register file (aux) rather than write-protected EEPROM
  bool segment_pointer;  // the E-DDC segment pointer: a written byte selects the segment
  bool owned;          // mem came from the environment's allocator
  uint8_t address;     // 8-bit write address
  uint8_t phase;
  uint8_t bits;        // data clocks (rising SCL edges) of the current byte, 0..8
  bool in_ack;         // inside the ninth, acknowledge clock
  uint8_t shift;
  uint8_t out;         // byte being sent
  bool reading;
  bool word_next;      // the next written byte sets the pointer
  bool acked;          // the current byte is being acknowledged
  bool master_ack;
  bool pull_sda;
  bool stretching;
  uint64_t stretch_end;
  uint8_t* mem;
  uint32_t size;
  uint32_t pointer;    // word address within the segment
  uint8_t* segment;    // the channel's segment pointer (EEPROM and pointer only)
  uint32_t acks_given;
  I2cFaults faults;
  BusTiming timing;    // judged by faults' clock minimums
};

struct DdcChannel {
  I2cTarget eeprom;
  I2cTarget aux;
  I2cTarget segment_pointer;
  uint8_t segment;     // reset by every STOP
  bool scl, sda;       // bus levels the devices last saw
  uint8_t clocks;      // bus observer: rising SCL edges since the last byte
  BusTiming observer;  // judged by the I2C standard mode
};

}  // namespace detail

struct Stats {
  uint32_t bad_accesses;        // refused: range, width
  uint32_t decode_off_accesses; // BAR access with memory decode off
  uint32_t mc_writes_dropped;   // data written without the write enable
  uint32_t clk_writes_dropped;
  uint32_t idx_unmapped;        // indexed-space index above 0xFF
  uint32_t mc_idle_polls;       // reads of MC 0x08
  uint32_t engine_fills, engine_copies;
  uint32_t engine_unknown;      // commands ignored
  uint32_t engine_last_unknown;
  uint32_t engine_writes_busy;  // engine register writes while busy
  uint64_t engine_clipped;      // pixels outside the surface or the aperture
  uint32_t eeprom_writes_ignored;
  uint32_t aux_writes;
  DdcBusStats ddc[3];
};

class Adapter {
 public:
  static constexpr uint32_t kMcEntries = 0x10000;
  static constexpr uint32_t kClkEntries = 0x80;
  static constexpr uint32_t kIdxEntries = 0x100;
  static constexpr uint32_t kAuxRegs = 0x100;

  // Allocates the adapter and its frame buffer from env; nullptr on failure.
  // A caller-owned frame_buffer of config.fb_size bytes is used instead
  // (firmware places it where BAR 0 says it is) and never freed here.
  static Adapter* Create(const Env& env, const Config& config, uint8_t* frame_buffer = nullptr);
  static void Destroy(Adapter* adapter);

  // For an Adapter placed by the caller (static or allocated storage):
  // Init allocates the frame buffer (unless given one) and resets; Release
  // frees what Init took.
  bool Init(const Env& env, const Config& config, uint8_t* frame_buffer = nullptr);
  void Release();
  void Reset();  // power-on state; attached devices stay attached

  void SetTrace(TraceFn fn, void* ctx);

  // Entry points. Width 1, 2, 4 or 8; count >= 1; false = refused.
  bool ConfigRead(uint32_t offset, unsigned width, size_t count, void* buffer);
  bool ConfigWrite(uint32_t offset, unsigned width, size_t count, const void* buffer);
  bool MemRead(uint8_t bar, uint64_t offset, unsigned width, size_t count,
               Stride stride, void* buffer);
  bool MemWrite(uint8_t bar, uint64_t offset, unsigned width, size_t count,
                Stride stride, const void* buffer);

  // Untraced views for tests and decoders (no side effects).
  uint32_t PeekReg(uint32_t offset) const;
  void PokeReg(uint32_t offset, uint32_t value);  // plain store, no side effect
  uint32_t Mc(uint32_t index) const { return mc_[index & (kMcEntries - 1)]; }
  uint32_t Clk(uint32_t index) const { return clk_[index & (kClkEntries - 1)]; }
  uint32_t Idx(uint32_t index) const { return idx_[index & (kIdxEntries - 1)]; }
  uint8_t* FrameBuffer() { return fb_; }
  const uint8_t* FrameBuffer() const { return fb_; }
  uint32_t FrameBufferSize() const { return config_.fb_size; }
  // Where BAR n decodes now and how much: what the firmware's PCI bus
  // driver reports for it. false for an unimplemented BAR.
  bool BarRange(unsigned bar, uint64_t* base, uint64_t* size, bool* io) const;
  uint16_t Command() const;
  const Stats& stats() const { return stats_; }
  const Config& config() const { return config_; }
  uint8_t AuxReg(uint8_t r) const { return aux_regs_[r]; }
  void SetAuxReg(uint8_t r, uint8_t v) { aux_regs_[r] = v; }

  // DDC: channel 1..3. Attach replaces the EEPROM of the channel (nullptr:
  // nothing attached); the aux device sits on channel 3 beside it.
  bool Attach(unsigned channel, const DdcDevice* device);
  void SetAux(bool present, const I2cFaults* faults);
  // Line levels now (bit 0 SCL, bit 8 SDA), as the input register reads.
  uint32_t DdcLines(unsigned channel);

  // Monitors: plugging attaches the EDID on the connector's channel.
  bool Plug(const Monitor& monitor);
  void Unplug(Connector connector);
  bool Plugged(Connector connector) const { return plugged_[static_cast<unsigned>(connector)]; }

  // Decoders: from the registers alone.
  PllState DecodePll(unsigned pll) const;
  CrtcState DecodeCrtc(unsigned crtc) const;
  OutputState DecodeOutput(Output output) const;
  MonitorView Watch(Connector connector) const;

  // The source picture of a CRTC (width x height at its base and pitch,
  // depth converted through the lookup table to 0x00RRGGBB); capacity in
  // pixels. Returns false when the CRTC has no picture or it does not fit.
  bool RenderSource(unsigned crtc, uint32_t* pixels, size_t capacity,
                    uint32_t* width, uint32_t* height) const;
  // What a monitor on the connector shows: the active raster, the source
  // scaled to it (nearest pixel, inside the scaler borders) when scaling.
  bool RenderView(Connector connector, uint32_t* pixels, size_t capacity,
                  uint32_t* width, uint32_t* height) const;


 private:

  void Trace(Space space, bool write, uint64_t offset, unsigned width, size_t count,
             Stride stride, uint64_t value, bool ok);
  uint64_t Now() const { return env_.now_us ? env_.now_us(env_.ctx) : 0; }
  bool DecodeOn() const;

  // Register aperture (regs.cpp).
  uint32_t ReadDword(uint32_t offset);
  void WriteDword(uint32_t offset, uint32_t value, uint32_t byte_mask);
  uint64_t ReadElement(uint32_t offset, unsigned width);
  void WriteElement(uint32_t offset, unsigned width, uint64_t value);
  uint32_t Stored(uint32_t offset) const;
  void Store(uint32_t offset, uint32_t value);
  uint32_t McData(bool write, uint32_t value);
  bool PllLocked(unsigned pll) const;

  // 2D engine (engine.cpp).
  void EngineStart(uint32_t size_word);
  void EngineFill(uint32_t w, uint32_t h);
  void EngineCopy(uint32_t w, uint32_t h);

  // DDC (ddc.cpp).
  void DdcInit();
  void DdcRelease();
  void DdcAccess(unsigned channel);  // settle the lines at the current time
  void DdcSettle(unsigned channel, uint64_t now);
  void DdcEdge(unsigned channel, bool scl, bool sda, uint64_t now);
  bool SetEeprom(unsigned channel, const uint8_t* image, uint32_t size,
                 const I2cFaults& faults, bool present);
  void FreeEeprom(unsigned channel);

  // Lookup tables (regs.cpp): two tables of 256 10-bit triples.
  uint32_t LutRgb(unsigned table, uint8_t index) const;

  Env env_;
  Config config_;
  TraceFn trace_;
  void* trace_ctx_;
  uint8_t* fb_;
  bool fb_owned_;
  uint8_t config_space_[256];
  uint32_t bar_mask_[6];
  uint8_t regs_[0x10000];
  uint32_t mc_[kMcEntries];
  uint32_t clk_[kClkEntries];
  uint32_t idx_[kIdxEntries];
  uint32_t mc_busy_polls_;
  uint32_t mc_latch_, clk_latch_;
  int64_t engine_busy_;  // status reads left busy, -1 for ever
  uint32_t lut_[2][256];
  uint8_t lut_table_;
  uint8_t lut_pos_;
  uint8_t aux_regs_[kAuxRegs];
  bool plugged_[kConnectorCount];
  Stats stats_;
  detail::DdcChannel ddc_[3];
};

}  // namespace kt270
