// The formatted-print engine: conversions, flags, widths and truncation.
#include <gtest/gtest.h>

#include <stdarg.h>

#include <string>
#include <vector>

#include "driver/lib/print.h"
#include "efi/efi.h"

namespace {

constexpr CHAR16 kCanary = 0xA5A5;

std::string Narrow(const CHAR16* Text) {
  std::string Out;
  for (; *Text != 0; ++Text) {
    if (*Text < 0x80) {
      Out += static_cast<char>(*Text);
    } else {
      char Escape[16];
      snprintf(Escape, sizeof(Escape), "\\u%04X", static_cast<unsigned>(*Text));
      Out += Escape;
    }
  }
  return Out;
}

struct Formatted {
  std::string Text;
  UINTN Returned;
};

// Formats into a buffer of Capacity followed by guard cells, and fails the
// test if anything past Capacity was touched or the text is unterminated.
Formatted FormatInto(UINTN Capacity, const CHAR16* Format, ...) {
  std::vector<CHAR16> Buffer(Capacity + 64, kCanary);
  va_list Args;
  va_start(Args, Format);
  UINTN Returned = FormatString(Buffer.data(), Capacity, Format, Args);
  va_end(Args);
  for (size_t Index = Capacity; Index < Buffer.size(); ++Index) {
    EXPECT_EQ(Buffer[Index], kCanary) << "written past capacity " << Capacity << " at " << Index;
  }
  if (Capacity == 0) return {"", Returned};
  bool Terminated = false;
  for (size_t Index = 0; Index < Capacity; ++Index) Terminated |= Buffer[Index] == 0;
  EXPECT_TRUE(Terminated) << "no terminator within capacity " << Capacity;
  if (!Terminated) return {"", Returned};
  return {Narrow(Buffer.data()), Returned};
}

#define FMT(...) FormatInto(256, __VA_ARGS__).Text

UINT64 U(UINT64 Value) { return Value; }

TEST(FormatString, ExamplesFromTheDesign) {
  EXPECT_EQ(FMT(u"%EASSERT FAILED: %a(%d): %a%N\n", "x", U(7), "y"), "EASSERT FAILED: x(7): yN\r\n");
  EXPECT_EQ(FMT(u"%X", U(0x1F)), "000000000000001F");
  EXPECT_EQ(FMT(u"%x", U(0x1F)), "1F");
  EXPECT_EQ(FMT(u"%4x", U(0x1F)), "  1F");
  EXPECT_EQ(FMT(u"%04x", U(0x1F)), "001F");
  EXPECT_EQ(FMT(u"%d", U(static_cast<UINT64>(-42))), "-42");
  EXPECT_EQ(FMT(u"%05d", U(static_cast<UINT64>(-42))), "-0042");
  EXPECT_EQ(FMT(u"%a", static_cast<const char*>(nullptr)), "<null string>");
  EXPECT_EQ(FMT(u"%6a|", "ab"), "ab    |");
  EXPECT_EQ(FMT(u"%r", U(5)), "0000000000000005");
  EXPECT_EQ(FMT(u"%r", U(0x8000000000000003ULL)), "Unsupported");
  EXPECT_EQ(FMT(u"%g", &kEfiUgaDrawProtocolGuid), "982C298B-F4FA-41CB-B838-77AA688FB839");
}

TEST(FormatString, ReturnsStoredCountWithTerminator) {
  Formatted Result = FormatInto(64, u"ab\ncd");
  EXPECT_EQ(Result.Text, "ab\r\ncd");
  EXPECT_EQ(Result.Returned, 7u);
  EXPECT_EQ(FormatInto(64, u"").Returned, 1u);
  EXPECT_EQ(FormatInto(0, u"abc").Returned, 0u);
}

TEST(FormatString, OtherConversionsAndEnds) {
  EXPECT_EQ(FMT(u"100%%"), "100%");
  EXPECT_EQ(FMT(u"%E%N%q%.%Z"), "ENq.Z");
  EXPECT_EQ(FormatInto(64, u"ab%").Text, "ab");
  EXPECT_EQ(FormatInto(64, u"ab%").Returned, 3u);
  EXPECT_EQ(FMT(u"ab%08"), "ab");
  EXPECT_EQ(FMT(u"[%c]", U(0x10041)), "[A]");
  EXPECT_EQ(FMT(u"%s/%S", u"wide", u"WIDE"), "wide/WIDE");
  EXPECT_EQ(FMT(u"%s", static_cast<const CHAR16*>(nullptr)), "<null string>");
  EXPECT_EQ(FMT(u"%5s|", u"ab"), "ab   |");
  EXPECT_EQ(FMT(u"%-5s|", u"ab"), "ab   |");
  EXPECT_EQ(FMT(u"%1s|", u"abc"), "abc|");
  EXPECT_EQ(FMT(u"%a", "\xE9"), "\\u00E9");  // bytes widen unsigned
  EXPECT_EQ(FMT(u"[%g]", static_cast<const EFI_GUID*>(nullptr)), "[]");
  EXPECT_EQ(FMT(u"[%t]", static_cast<const EFI_TIME*>(nullptr)), "[]");
  // Each argument is one slot, including a width taken by "*".
  EXPECT_EQ(FMT(u"%*d|%a", U(4), U(7), "next"), "   7|next");
}

TEST(FormatString, NumbersAndFlags) {
  EXPECT_EQ(FMT(u"%x", U(0)), "0");
  EXPECT_EQ(FMT(u"%d", U(0)), "0");
  EXPECT_EQ(FMT(u"%x", U(0xFFFFFFFFFFFFFFFFULL)), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(FMT(u"%x", U(0xabcdef)), "ABCDEF");
  EXPECT_EQ(FMT(u"%lx %Lx", U(0x10), U(0x20)), "10 20");
  EXPECT_EQ(FMT(u"%X", U(0x123456789ABCDEF0ULL)), "123456789ABCDEF0");
  EXPECT_EQ(FMT(u"%2X", U(1)), "0000000000000001");  // width is forced
  EXPECT_EQ(FMT(u"%d", U(0x8000000000000000ULL)), "-9223372036854775808");
  EXPECT_EQ(FMT(u"%d", U(0x7FFFFFFFFFFFFFFFULL)), "9223372036854775807");
  EXPECT_EQ(FMT(u"%10d", U(1234)), "      1234");
  EXPECT_EQ(FMT(u"%010d", U(1234)), "0000001234");
  EXPECT_EQ(FMT(u"%5d", U(static_cast<UINT64>(-42))), "-  42");  // fill sits after the sign
  EXPECT_EQ(FMT(u"%+ d", U(3)), "3");
  EXPECT_EQ(FMT(u"%-5d|", U(42)), "42   |");
  EXPECT_EQ(FMT(u"%-05d|", U(42)), "00042|");
  EXPECT_EQ(FMT(u"%,d", U(1234567)), "1,234,567");
  EXPECT_EQ(FMT(u"%,d", U(123)), "123");
  EXPECT_EQ(FMT(u"%,d", U(static_cast<UINT64>(-1000))), "-1,000");
  EXPECT_EQ(FMT(u"%,d", U(0x8000000000000000ULL)), "-9,223,372,036,854,775,808");
}

TEST(FormatString, HugeWidthsAreBoundedForNumbers) {
  const std::string Clamped(PRINT_MAX_NUMBER_WIDTH - 1, ' ');
  EXPECT_EQ(FMT(u"%999999d", U(5)), Clamped + "5");
  EXPECT_EQ(FMT(u"%999999x", U(5)), Clamped + "5");
  EXPECT_EQ(FMT(u"%0999999d", U(static_cast<UINT64>(-5))),
            "-" + std::string(PRINT_MAX_NUMBER_WIDTH - 2, '0') + "5");
  EXPECT_EQ(FMT(u"%99999999999999999999999999d", U(5)), Clamped + "5");  // width digits saturate
  EXPECT_EQ(FMT(u"%*x", U(0xFFFFFFFFFFFFFFFFULL), U(5)), Clamped + "5");
  EXPECT_EQ(FMT(u"%-999999d|", U(5)), "5" + Clamped + "|");
  EXPECT_EQ(FMT(u"%,0999999d", U(0x8000000000000000ULL)).size(), size_t{PRINT_MAX_NUMBER_WIDTH});
  // Strings have no scratch area: their width runs to the buffer's end.
  EXPECT_EQ(FMT(u"%40s|", u"a"), "a" + std::string(39, ' ') + "|");
  Formatted Wide = FormatInto(16, u"%999999s", u"ab");
  EXPECT_EQ(Wide.Text, "ab" + std::string(13, ' '));
  EXPECT_EQ(Wide.Returned, 16u);
}

// Every conversion, cut at every capacity, is the prefix of its full text,
// ends in the terminator and never writes past the capacity.
TEST(FormatString, TruncationAtEveryCapacityForEachConversion) {
  static const EFI_TIME Time = {2006, 1, 9, 13, 5, 59, 0, 0, 0, 0, 0};
  struct CASE {
    const CHAR16* Format;
    UINT64 Argument;
  };
  const CASE Cases[] = {
      {u"x%sy", reinterpret_cast<UINT64>(u"wide string")},
      {u"x%12sy", reinterpret_cast<UINT64>(u"ab")},
      {u"x%ay", reinterpret_cast<UINT64>("ascii string")},
      {u"x%ay", 0},
      {u"x%cy", 'Q'},
      {u"x%8xy", 0xBEEF},
      {u"x%Xy", 0xBEEF},
      {u"x%,dy", static_cast<UINT64>(-1234567)},
      {u"x%gy", reinterpret_cast<UINT64>(&kEfiGlobalVariableGuid)},
      {u"x%ty", reinterpret_cast<UINT64>(&Time)},
      {u"x%ry", 0x800000000000000DULL},
      {u"x%ry", 0x8000000000000099ULL},
      {u"x%%y\n\nz", 0},
  };
  for (const CASE& Case : Cases) {
    std::string Full = FormatInto(256, Case.Format, Case.Argument).Text;
    for (UINTN Capacity = 1; Capacity <= Full.size() + 2; ++Capacity) {
      Formatted Cut = FormatInto(Capacity, Case.Format, Case.Argument);
      size_t Expected = std::min(Full.size(), size_t{Capacity - 1});
      EXPECT_EQ(Cut.Text, Full.substr(0, Expected)) << Narrow(Case.Format) << " capacity " << Capacity;
      EXPECT_EQ(Cut.Returned, Expected + 1) << Narrow(Case.Format) << " capacity " << Capacity;
    }
  }
}

TEST(TypeFormatters, GuidTimeStatus) {
  CHAR16 Buffer[64];
  EXPECT_EQ(FormatGuid(&kEfiGlobalVariableGuid, Buffer, 64), 36u);
  EXPECT_EQ(Narrow(Buffer), "8BE4DF61-93CA-11D2-AA0D-00E098032B8C");
  const EFI_GUID Small = {0x1, 0x2, 0x3, {0, 1, 2, 3, 4, 5, 6, 0xA}};
  FormatGuid(&Small, Buffer, 64);
  EXPECT_EQ(Narrow(Buffer), "00000001-0002-0003-0001-02030405060A");
  EXPECT_EQ(FormatGuid(&Small, Buffer, 5), 4u);
  EXPECT_EQ(Narrow(Buffer), "0000");
  EXPECT_EQ(FormatGuid(nullptr, Buffer, 64), 0u);
  EXPECT_EQ(Buffer[0], 0);

  const EFI_TIME Time = {2006, 1, 9, 13, 5, 59, 0, 12345, -60, 1, 0};
  EXPECT_EQ(FormatTime(&Time, Buffer, 64), 17u);
  EXPECT_EQ(Narrow(Buffer), "01/09/2006  13:05");

  EXPECT_EQ(FormatStatus(EFI_SUCCESS, Buffer, 64), 7u);
  EXPECT_EQ(Narrow(Buffer), "Success");
  EXPECT_EQ(FormatStatus(0x8000000000000099ULL, Buffer, 64), 16u);
  EXPECT_EQ(Narrow(Buffer), "8000000000000099");
  EXPECT_EQ(FormatStatus(EFI_NOT_STARTED, Buffer, 4), 3u);
  EXPECT_EQ(Narrow(Buffer), "Not");
  EXPECT_EQ(FormatStatus(EFI_NOT_STARTED, Buffer, 0), 0u);
}

TEST(TypeFormatters, StatusTextsAsWritten) {
  const struct {
    EFI_STATUS Status;
    const char* Text;
  } Expected[] = {
      {EFI_WARN_UNKNOWN_GLYPH, "Warning Unknown Glyph"},
      {EFI_WARN_BUFFER_TOO_SMALL, "Warning Buffer Too Small"},
      {EFI_LOAD_ERROR, "Load Error"},
      {EFI_OUT_OF_RESOURCES, "Out of Resources"},
      {EFI_VOLUME_CORRUPTED, "Volume Corrupt"},
      {EFI_MEDIA_CHANGED, "Media changed"},
      {EFI_NO_MAPPING, "No mapping"},
      {EFI_TIMEOUT, "Time out"},
      {EFI_NOT_STARTED, "Not started"},
      {EFI_ALREADY_STARTED, "Already started"},
      {EFI_ICMP_ERROR, "ICMP Error"},
      {EFI_PROTOCOL_ERROR, "Protocol Error"},
      // Outside the table: 16 hexadecimal digits.
      {EFI_INCOMPATIBLE_VERSION, "8000000000000019"},
      {0x8000000000000000ULL, "8000000000000000"},
      {EFI_ERROR_BIT | EFI_SUCCESS | 0x100, "8000000000000100"},
  };
  for (const auto& Entry : Expected) EXPECT_EQ(FMT(u"%r", Entry.Status), Entry.Text);
}

TEST(NumberToText, CountsAndClamping) {
  CHAR16 Buffer[PRINT_NUMBER_SCRATCH_LENGTH + 8];
  for (CHAR16& Cell : Buffer) Cell = kCanary;
  EXPECT_EQ(HexToString(Buffer, 0x1F, 0, 0), 2u);
  EXPECT_EQ(HexToString(Buffer, 0x1F, PRINT_FLAG_ZERO_PAD, 6), 6u);
  EXPECT_EQ(Narrow(Buffer), "00001F");
  EXPECT_EQ(DecimalToString(Buffer, -42, PRINT_FLAG_ZERO_PAD, 5), 5u);
  EXPECT_EQ(Narrow(Buffer), "-0042");
  EXPECT_EQ(DecimalToString(Buffer, 1234567, PRINT_FLAG_COMMA, 0), 9u);
  EXPECT_EQ(HexToString(Buffer, 1, 0, ~UINTN{0}), UINTN{PRINT_MAX_NUMBER_WIDTH});
  EXPECT_EQ(DecimalToString(Buffer, INT64_MIN, PRINT_FLAG_COMMA | PRINT_FLAG_ZERO_PAD, 1000),
            UINTN{PRINT_MAX_NUMBER_WIDTH});
  for (size_t Index = PRINT_NUMBER_SCRATCH_LENGTH; Index < sizeof(Buffer) / sizeof(Buffer[0]); ++Index) {
    EXPECT_EQ(Buffer[Index], kCanary);
  }
}

TEST(Arithmetic, ShiftDivideLength) {
  EXPECT_EQ(ShiftRight64(0x8000000000000000ULL, 63), 1u);
  EXPECT_EQ(ShiftRight64(0xF0, 68), 0xFu);  // count modulo 64
  EXPECT_EQ(ShiftRight64(0xF0, 64), 0xF0u);
  UINT64 Remainder = 99;
  EXPECT_EQ(DivideWithRemainder64(0xFFFFFFFFFFFFFFFFULL, 10, &Remainder), 1844674407370955161ULL);
  EXPECT_EQ(Remainder, 5u);
  EXPECT_EQ(DivideWithRemainder64(17, 5, nullptr), 3u);
  EXPECT_EQ(DivideWithRemainder64(17, 0, &Remainder), 0u);
  EXPECT_EQ(Remainder, 17u);
  EXPECT_EQ(AsciiLength("EFIDebug"), 8u);
  EXPECT_EQ(AsciiLength(""), 0u);
  EXPECT_EQ(AsciiLength(nullptr), 0u);
}

}  // namespace
