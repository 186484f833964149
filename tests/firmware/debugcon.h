// Test output for the host: one JSON object per line on QEMU's debug
// console (I/O port 0x402), which this OVMF leaves to us alone.
#pragma once

#include "efi/efi.h"

namespace debugcon {

inline void OutByte(UINT8 value) { __asm__ volatile("outb %0, %1" : : "a"(value), "Nd"((UINT16)0x402)); }

inline UINT64 ReadTsc() {
  UINT32 lo, hi;
  __asm__ volatile("rdtsc" : "=a"(lo), "=d"(hi));
  return (UINT64)hi << 32 | lo;
}

// Builds one line in a fixed buffer; a line that would overflow is cut back
// to its last whole member and marked "truncated", so it still parses.
class JsonLine {
 public:
  explicit JsonLine(const char* event) {
    Raw("{\"event\":");
    Quoted(event);
  }

  JsonLine& Str(const char* key, const char* value) {
    Key(key);
    if (value) Quoted(value); else Raw("null");
    return *this;
  }
  JsonLine& Str16(const char* key, const CHAR16* value) {
    Key(key);
    if (!value) return Raw("null");
    Put('"');
    for (; *value; ++value) Escaped(*value < 0x80 ? (char)*value : '?');
    Put('"');
    return *this;
  }
  JsonLine& Num(const char* key, UINT64 value) {
    Key(key);
    return Decimal(value);
  }
  JsonLine& Hex(const char* key, UINT64 value) {
    Key(key);
    Raw("\"0x");
    char digits[16];
    int n = 0;
    do {
      digits[n++] = kDigits[value & 0xF];
      value >>= 4;
    } while (value);
    while (n) Put(digits[--n]);
    Put('"');
    return *this;
  }
  JsonLine& Bool(const char* key, bool value) {
    Key(key);
    return Raw(value ? "true" : "false");
  }
  // Sizes and modes as strings: "WxH", "WxHxDEPTH", "WxHxDEPTH@REFRESH".
  JsonLine& Size(const char* key, UINT64 w, UINT64 h) {
    Key(key).Raw("\"").Decimal(w).Raw("x").Decimal(h);
    return Raw("\"");
  }
  JsonLine& Mode(const char* key, UINT64 w, UINT64 h, UINT64 depth) {
    Key(key).Raw("\"").Decimal(w).Raw("x").Decimal(h).Raw("x").Decimal(depth);
    return Raw("\"");
  }
  JsonLine& Mode(const char* key, UINT64 w, UINT64 h, UINT64 depth, UINT64 refresh) {
    Key(key).Raw("\"").Decimal(w).Raw("x").Decimal(h).Raw("x").Decimal(depth).Raw("@").Decimal(refresh);
    return Raw("\"");
  }
  // Bytes as a string of hex digit pairs.
  JsonLine& Bytes(const char* key, const UINT8* bytes, UINTN n) {
    Key(key).Raw("\"");
    for (UINTN i = 0; i < n; ++i) {
      Put(kDigits[bytes[i] >> 4]);
      Put(kDigits[bytes[i] & 15]);
    }
    return Raw("\"");
  }
  // Opens a nested array/object member; the caller adds raw items.
  JsonLine& Key(const char* key) {
    if (!overflow_) whole_ = length_;
    Put(',');
    Quoted(key);
    Put(':');
    return *this;
  }
  JsonLine& Raw(const char* text) {
    while (*text) Put(*text++);
    return *this;
  }
  JsonLine& Decimal(UINT64 value) {
    char digits[20];
    int n = 0;
    do {
      digits[n++] = (char)('0' + value % 10);
      value /= 10;
    } while (value);
    while (n) Put(digits[--n]);
    return *this;
  }
  JsonLine& Quoted(const char* text) {
    Put('"');
    while (*text) Escaped(*text++);
    Put('"');
    return *this;
  }

  void Emit() {
    if (overflow_) {
      length_ = whole_;
      for (const char* t = ",\"truncated\":true"; *t; ++t) buffer_[length_++] = *t;
    }
    buffer_[length_++] = '}';
    for (UINTN i = 0; i < length_; ++i) OutByte((UINT8)buffer_[i]);
    OutByte('\n');
  }

 private:
  static constexpr char kDigits[] = "0123456789abcdef";
  static constexpr UINTN kCapacity = 1024;
  static constexpr UINTN kTrailer = 24;  // room for the truncation mark and '}'
  void Put(char c) {
    if (!overflow_ && length_ < kCapacity - kTrailer) buffer_[length_++] = c; else overflow_ = true;
  }
  void Escaped(char c) {
    if (c == '"' || c == '\\') {
      Put('\\');
      Put(c);
    } else if ((unsigned char)c < 0x20) {
      Put('?');
    } else {
      Put(c);
    }
  }
  char buffer_[kCapacity];
  UINTN length_ = 0;
  UINTN whole_ = 0;
  bool overflow_ = false;
};

}  // namespace debugcon
