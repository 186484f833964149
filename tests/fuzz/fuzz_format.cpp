// FormatString with any format, arguments and capacity.
//
// Input: the capacity (u16, low 14 bits), the format as UTF-16 code units up
// to a zero unit, then the arguments in the order the format takes them, of
// the type its conversion names: a number (u64) for "*", c, x, X, d and r;
// for s/S and a a length byte and that many units or bytes (terminated
// here); for g and t a byte and 16 bytes. A first byte of 0xFF passes a null
// pointer instead. Arguments the input does not fill are 0 or null.
//
// The text must be the documented formatting cut to the capacity: compared
// with the same call into a large buffer, and with an independent rendering
// of every format whose meaning is documented.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "driver/lib/print.h"
#include "tests/fuzz/harness.h"

namespace {

constexpr unsigned kSlots = 32;
constexpr size_t kLargeCapacity = 1 << 16;

struct Arguments {
  UINT64 slot[kSlots] = {};
  std::vector<std::unique_ptr<uint8_t[]>> storage;

  const uint8_t* Keep(const std::vector<uint8_t>& bytes, size_t terminator) {
    storage.emplace_back(new uint8_t[bytes.size() + terminator]());
    std::copy(bytes.begin(), bytes.end(), storage.back().get());
    return storage.back().get();
  }
};

UINTN Format(CHAR16* buffer, UINTN capacity, const CHAR16* format, const Arguments& a) {
  const UINT64* s = a.slot;
  return FormatStringArgs(buffer, capacity, format, s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], s[9],
                          s[10], s[11], s[12], s[13], s[14], s[15], s[16], s[17], s[18], s[19], s[20], s[21], s[22],
                          s[23], s[24], s[25], s[26], s[27], s[28], s[29], s[30], s[31]);
}

const char* StatusText(UINT64 status) {
  static const char* const kWarnings[] = {"Success", "Warning Unknown Glyph", "Warning Delete Failure",
                                          "Warning Write Failure", "Warning Buffer Too Small"};
  static const char* const kErrors[] = {
      "Load Error",      "Invalid Parameter", "Unsupported",     "Bad Buffer Size", "Buffer Too Small",
      "Not Ready",       "Device Error",      "Write Protected", "Out of Resources", "Volume Corrupt",
      "Volume Full",     "No Media",          "Media changed",   "Not Found",       "Access Denied",
      "No Response",     "No mapping",        "Time out",        "Not started",     "Already started",
      "Aborted",         "ICMP Error",        "TFTP Error",      "Protocol Error"};
  if (status <= 4) return kWarnings[status];
  const UINT64 code = status & ~0x8000000000000000ULL;
  if ((status >> 63) != 0 && code >= 1 && code <= 24) return kErrors[code - 1];
  return nullptr;
}

// The formatting as documented, up to `limit` characters; false for what is
// left to the implementation ("-" on a number without "0", the "," flag).
class Reference {
 public:
  explicit Reference(size_t limit) : limit_(limit) {}

  bool Render(const CHAR16* f, const UINT64* slots) {
    unsigned next = 0;
    auto arg = [&] { return next < kSlots ? slots[next++] : 0; };
    while (*f != 0 && out.size() < limit_) {
      CHAR16 c = *f++;
      if (c == u'\n') {
        Add(u"\r\n");
      } else if (c != u'%') {
        out.push_back(c);
      } else {
        bool left = false, zero = false, comma = false;
        uint64_t width = 0;
        for (;; ++f) {
          if (*f == u'-') left = true;
          else if (*f == u',') comma = true;
          else if (*f == u'+' || *f == u' ' || *f == u'l' || *f == u'L') continue;
          else if (*f == u'*') width = std::min<uint64_t>(arg(), 0xFFFFFFFFu);
          else if (*f >= u'0' && *f <= u'9') {
            zero |= *f == u'0';
            for (width = 0; *f >= u'0' && *f <= u'9'; ++f) width = std::min<uint64_t>(width * 10 + (*f - u'0'), 0xFFFFFFFFu);
            --f;
          } else break;
        }
        const CHAR16 conversion = *f;
        if (conversion == 0) break;
        ++f;
        switch (conversion) {
          case u's': case u'S': case u'a': {
            const UINT64 p = arg();
            std::u16string text;
            if (p == 0) text = u"<null string>";
            else if (conversion == u'a') for (auto* s = reinterpret_cast<const uint8_t*>(p); *s; ++s) text += CHAR16(*s);
            else text = reinterpret_cast<const CHAR16*>(p);
            Add(text);
            for (uint64_t n = text.size(); n < width && out.size() < limit_; ++n) out.push_back(u' ');
            break;
          }
          case u'c': out.push_back(static_cast<CHAR16>(arg() & 0xFFFF)); break;
          case u'x': case u'X': case u'd': {
            const bool hex = conversion != u'd';
            if (conversion == u'X') zero = true, width = 16;
            if ((left && !zero) || (comma && !hex)) return false;
            Number(arg(), hex, zero, width);
            break;
          }
          case u'g': if (const UINT64 p = arg()) Guid(*reinterpret_cast<const EFI_GUID*>(p)); break;
          case u't': if (const UINT64 p = arg()) Time(*reinterpret_cast<const EFI_TIME*>(p)); break;
          case u'r': {
            const UINT64 status = arg();
            if (const char* text = StatusText(status)) for (; *text; ++text) out.push_back(CHAR16(*text));
            else Number(status, true, true, 16);
            break;
          }
          default: out.push_back(conversion); break;
        }
      }
    }
    if (out.size() > limit_) out.resize(limit_);
    return true;
  }

  std::u16string out;

 private:
  void Add(const std::u16string& s) { out += s; }
  void Number(UINT64 v, bool hex, bool zero, uint64_t width) {
    std::u16string digits;
    const bool negative = !hex && static_cast<INT64>(v) < 0;
    UINT64 m = negative ? 0 - v : v;
    do digits.insert(digits.begin(), u"0123456789ABCDEF"[m % (hex ? 16 : 10)]);
    while ((m /= hex ? 16 : 10) != 0);
    width = std::min<uint64_t>(width, PRINT_MAX_NUMBER_WIDTH);
    const size_t length = digits.size() + negative;
    if (negative) out.push_back(u'-');
    for (size_t n = length; n < width; ++n) out.push_back(zero ? u'0' : u' ');
    Add(digits);
  }
  void Pad(UINT64 v, bool hex, unsigned width) { Number(v, hex, true, width); }
  void Guid(const EFI_GUID& g) {
    Pad(g.Data1, true, 8), Add(u"-"), Pad(g.Data2, true, 4), Add(u"-"), Pad(g.Data3, true, 4), Add(u"-");
    for (unsigned i = 0; i < 8; ++i) {
      if (i == 2) Add(u"-");
      Pad(g.Data4[i], true, 2);
    }
  }
  void Time(const EFI_TIME& t) {
    Pad(t.Month, false, 2), Add(u"/"), Pad(t.Day, false, 2), Add(u"/"), Pad(t.Year, false, 4), Add(u"  ");
    Pad(t.Hour, false, 2), Add(u":"), Pad(t.Minute, false, 2);
  }
  size_t limit_;
};

std::string Narrow(const CHAR16* s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n && i < 80; ++i) out += s[i] >= 0x20 && s[i] < 0x7F ? static_cast<char>(s[i]) : '?';
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const UINTN capacity = in.U16() & 0x3FFF;
  std::vector<CHAR16> text;
  for (CHAR16 c; in.remaining() >= 2 && (c = in.U16()) != 0;) text.push_back(c);
  unsigned consumed = 0;  // at most two slots per conversion: "*" and the value
  for (CHAR16 c : text) consumed += c == u'%' || c == u'*';
  if (consumed > kSlots) return 0;

  Arguments args;
  unsigned slot = 0;
  for (size_t i = 0; i < text.size() && slot < kSlots; ++i) {
    if (text[i] != u'%') continue;
    // The flags and width, as the formatter reads them; "*" takes a number.
    while (++i < text.size() && std::u16string_view(u"-+ ,lL0123456789*").find(text[i]) != std::u16string_view::npos) {
      if (text[i] == u'*' && slot < kSlots) args.slot[slot++] = in.U64();
    }
    if (i >= text.size() || slot >= kSlots) break;
    const CHAR16 conversion = text[i];
    if (std::u16string_view(u"cxXdr").find(conversion) != std::u16string_view::npos) {
      args.slot[slot++] = in.U64();
    } else if (std::u16string_view(u"sSagt").find(conversion) != std::u16string_view::npos) {
      const uint8_t head = in.U8();
      const bool wide = conversion == u's' || conversion == u'S';
      const size_t bytes = conversion == u'g' || conversion == u't' ? 16 : wide ? 2u * head : head;
      std::vector<uint8_t> payload = in.Bytes(bytes);
      payload.resize(bytes);
      args.slot[slot++] = head == 0xFF ? 0 : reinterpret_cast<UINT64>(args.Keep(payload, wide ? 2 : 1));
    }
  }
  // The format itself sits in a block of exactly its length.
  std::unique_ptr<CHAR16[]> format(new CHAR16[text.size() + 1]);
  std::copy(text.begin(), text.end(), format.get());
  format[text.size()] = 0;

  fuzz::Buffer out(capacity * sizeof(CHAR16));
  CHAR16* buffer = reinterpret_cast<CHAR16*>(out.data);
  const UINTN stored = Format(buffer, capacity, format.get(), args);
  if (capacity == 0) {
    FUZZ_CHECK(stored == 0, "return", "capacity 0 returned %llu", static_cast<unsigned long long>(stored));
    return 0;
  }
  FUZZ_CHECK(stored >= 1 && stored <= capacity, "return", "capacity %llu returned %llu",
             static_cast<unsigned long long>(capacity), static_cast<unsigned long long>(stored));
  FUZZ_CHECK(buffer[stored - 1] == 0, "terminator", "no terminator at %llu of %llu",
             static_cast<unsigned long long>(stored - 1), static_cast<unsigned long long>(capacity));

  // The same call into a large buffer: the small one holds its first
  // characters, as many as fit.
  std::vector<CHAR16> large(kLargeCapacity);
  const UINTN full = Format(large.data(), large.size(), format.get(), args);
  const UINTN expect = std::min<UINTN>(full - 1, capacity - 1);
  FUZZ_CHECK(stored - 1 == expect && std::memcmp(buffer, large.data(), expect * sizeof(CHAR16)) == 0, "cut",
             "capacity %llu stored %llu characters \"%s\"; the full text has %llu \"%s\"",
             static_cast<unsigned long long>(capacity), static_cast<unsigned long long>(stored - 1),
             Narrow(buffer, stored - 1).c_str(), static_cast<unsigned long long>(full - 1),
             Narrow(large.data(), full - 1).c_str());

  Reference reference(kLargeCapacity - 1);
  if (reference.Render(format.get(), args.slot)) {
    const std::u16string got(large.data(), full - 1);
    size_t at = 0;
    while (at < got.size() && at < reference.out.size() && got[at] == reference.out[at]) ++at;
    FUZZ_CHECK(got == reference.out, "text", "\"%s\" differs from the documented \"%s\" at character %zu",
               Narrow(got.data(), got.size()).c_str(), Narrow(reference.out.data(), reference.out.size()).c_str(), at);
  }
  return 0;
}
