// The compact scenario file that e2e_tool writes on the host from scenarios
// in the kt270sim vocabulary, and its parser for the firmware side. One
// configuration per block, one item per line:
//
//   config NAME
//   adapter STRAP HWGPIO SWGPIO          (hex)
//   monitor CONNECTOR HEX                (0 digital, 1 analogue A, 2 analogue B, 3 television)
//   raw CHANNEL HEX                      (an EEPROM on a channel, no monitor)
//   platform DATABASE SERVICES           (0 or 1)
//   value GUIDBYTES VALUE                (32 hex digits in memory order, hex)
//   end
#pragma once

#include "efi/efi.h"

namespace e2e {

constexpr UINTN kMaxConfigs = 10;
constexpr UINTN kMaxMonitors = 3;
constexpr UINTN kMaxEdid = 512;
constexpr UINTN kMaxValues = 8;
constexpr UINTN kNameSize = 24;

struct MonitorSpec {
  bool raw;
  UINT8 where;  // connector, or channel for raw
  UINT32 edidSize;
  UINT8 edid[kMaxEdid];
};

struct Config {
  char name[kNameSize];
  UINT32 strap, hwgpio, swgpio;
  UINTN monitorCount;
  MonitorSpec monitors[kMaxMonitors];
  bool database, services;
  UINTN valueCount;
  EFI_GUID keys[kMaxValues];
  UINT32 values[kMaxValues];
};

struct Scenario {
  UINTN count;
  Config configs[kMaxConfigs];
};

class Parser {
 public:
  Parser(const char* text, UINTN size) : p_(text), end_(text + size) {}

  // False with the line number on the first malformed line.
  bool Parse(Scenario* s, UINTN* badLine) {
    s->count = 0;
    Config* c = nullptr;
    for (line_ = 1; p_ < end_; ++line_) {
      SkipSpaces();
      char word[16];
      Word(word, sizeof word);
      bool ok = true;
      if (!word[0] || word[0] == '#') {
        ok = true;
      } else if (Same(word, "config")) {
        ok = s->count < kMaxConfigs;
        if (ok) {
          c = &s->configs[s->count++];
          Zero(c);
          c->database = c->services = true;
          Word(c->name, kNameSize);
          ok = c->name[0] != 0;
        }
      } else if (!c) {
        ok = false;
      } else if (Same(word, "adapter")) {
        ok = Hex(&c->strap) && Hex(&c->hwgpio) && Hex(&c->swgpio);
      } else if (Same(word, "monitor") || Same(word, "raw")) {
        ok = c->monitorCount < kMaxMonitors;
        UINT32 where = 0;
        if (ok) {
          MonitorSpec& m = c->monitors[c->monitorCount++];
          m.raw = Same(word, "raw");
          ok = Hex(&where) && where <= 3 && Bytes(m.edid, kMaxEdid, &m.edidSize) && m.edidSize > 0;
          m.where = (UINT8)where;
        }
      } else if (Same(word, "platform")) {
        UINT32 db = 0, svc = 0;
        ok = Hex(&db) && Hex(&svc);
        c->database = db != 0;
        c->services = svc != 0;
      } else if (Same(word, "value")) {
        UINT32 n = 0;
        ok = c->valueCount < kMaxValues &&
             Bytes(reinterpret_cast<UINT8*>(&c->keys[c->valueCount]), sizeof(EFI_GUID), &n) &&
             n == sizeof(EFI_GUID) && Hex(&c->values[c->valueCount]);
        if (ok) c->valueCount++;
      } else if (Same(word, "end")) {
        c = nullptr;
      } else {
        ok = false;
      }
      if (!ok) {
        *badLine = line_;
        return false;
      }
      while (p_ < end_ && *p_ != '\n') ++p_;
      if (p_ < end_) ++p_;
    }
    return s->count > 0;
  }

 private:
  static bool Same(const char* a, const char* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
  }
  static void Zero(Config* c) {
    UINT8* b = reinterpret_cast<UINT8*>(c);
    for (UINTN i = 0; i < sizeof *c; ++i) b[i] = 0;
  }
  static int Digit(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return -1;
  }
  void SkipSpaces() {
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\r')) ++p_;
  }
  void Word(char* out, UINTN capacity) {
    SkipSpaces();
    UINTN n = 0;
    while (p_ < end_ && *p_ > ' ') {
      if (n + 1 < capacity) out[n++] = *p_;
      ++p_;
    }
    out[n] = 0;
  }
  bool Hex(UINT32* out) {
    SkipSpaces();
    UINT64 v = 0;
    UINTN n = 0;
    if (end_ - p_ > 2 && p_[0] == '0' && (p_[1] == 'x' || p_[1] == 'X')) p_ += 2;
    for (; p_ < end_ && Digit(*p_) >= 0 && n < 8; ++p_, ++n) v = v << 4 | (UINT64)Digit(*p_);
    *out = (UINT32)v;
    return n > 0 && (p_ == end_ || *p_ <= ' ');
  }
  bool Bytes(UINT8* out, UINTN capacity, UINT32* size) {
    SkipSpaces();
    *size = 0;
    while (p_ + 1 < end_ && Digit(p_[0]) >= 0 && Digit(p_[1]) >= 0) {
      if (*size >= capacity) return false;
      out[(*size)++] = (UINT8)(Digit(p_[0]) << 4 | Digit(p_[1]));
      p_ += 2;
    }
    return p_ == end_ || *p_ <= ' ';
  }

  const char* p_;
  const char* end_;
  UINTN line_ = 0;
};

}  // namespace e2e
