// Formatted print engine. Keeps no state; all output goes to the caller's
// buffer, numbers pass through a small scratch area on the stack.
#include "driver/lib/print.h"

namespace {

struct STATUS_TEXT {
  EFI_STATUS Status;
  const CHAR8* Text;
};

// Texts for %r, written as they stand (including the lower-case words).
const STATUS_TEXT kStatusTexts[] = {
    {0x0000000000000000ULL, "Success"},
    {0x0000000000000001ULL, "Warning Unknown Glyph"},
    {0x0000000000000002ULL, "Warning Delete Failure"},
    {0x0000000000000003ULL, "Warning Write Failure"},
    {0x0000000000000004ULL, "Warning Buffer Too Small"},
    {0x8000000000000001ULL, "Load Error"},
    {0x8000000000000002ULL, "Invalid Parameter"},
    {0x8000000000000003ULL, "Unsupported"},
    {0x8000000000000004ULL, "Bad Buffer Size"},
    {0x8000000000000005ULL, "Buffer Too Small"},
    {0x8000000000000006ULL, "Not Ready"},
    {0x8000000000000007ULL, "Device Error"},
    {0x8000000000000008ULL, "Write Protected"},
    {0x8000000000000009ULL, "Out of Resources"},
    {0x800000000000000AULL, "Volume Corrupt"},
    {0x800000000000000BULL, "Volume Full"},
    {0x800000000000000CULL, "No Media"},
    {0x800000000000000DULL, "Media changed"},
    {0x800000000000000EULL, "Not Found"},
    {0x800000000000000FULL, "Access Denied"},
    {0x8000000000000010ULL, "No Response"},
    {0x8000000000000011ULL, "No mapping"},
    {0x8000000000000012ULL, "Time out"},
    {0x8000000000000013ULL, "Not started"},
    {0x8000000000000014ULL, "Already started"},
    {0x8000000000000015ULL, "Aborted"},
    {0x8000000000000016ULL, "ICMP Error"},
    {0x8000000000000017ULL, "TFTP Error"},
    {0x8000000000000018ULL, "Protocol Error"},
};

const CHAR16 kHexDigits[] = u"0123456789ABCDEF";
const CHAR8 kNullString[] = "<null string>";

// Digits of a width are accumulated up to this value and no further, so a
// huge width cannot wrap around. String fields beyond it are cut by the
// buffer capacity long before.
constexpr UINTN kMaxParsedWidth = 0xFFFFFFFFULL;

// Output position in the caller's buffer. One slot is always kept for the
// terminating zero.
struct OUTPUT {
  CHAR16* Buffer;
  UINTN Capacity;
  UINTN Index;
};

bool HasRoom(const OUTPUT& Out) { return Out.Index + 1 < Out.Capacity; }

bool Put(OUTPUT& Out, CHAR16 Character) {
  if (!HasRoom(Out)) return false;
  Out.Buffer[Out.Index++] = Character;
  return true;
}

void PutWide(OUTPUT& Out, const CHAR16* Text) {
  while (*Text != 0 && Put(Out, *Text)) ++Text;
}

// Strings are left-aligned: the blanks always follow the text.
void PutAsciiField(OUTPUT& Out, const CHAR8* Text, UINTN Width) {
  UINTN Stored = 0;
  // Widen byte by byte: 0x80..0xFF map to U+0080..U+00FF, not to negatives.
  while (*Text != 0 && Put(Out, static_cast<CHAR16>(static_cast<UINT8>(*Text)))) {
    ++Text;
    ++Stored;
  }
  while (Stored < Width && Put(Out, u' ')) ++Stored;
}

void PutWideField(OUTPUT& Out, const CHAR16* Text, UINTN Width) {
  UINTN Stored = 0;
  while (*Text != 0 && Put(Out, *Text)) {
    ++Text;
    ++Stored;
  }
  while (Stored < Width && Put(Out, u' ')) ++Stored;
}

// Appends a type formatter's output in place; it terminates within the
// space it is given, which always includes our terminator slot.
template <typename FORMATTER, typename VALUE>
void PutFormatted(OUTPUT& Out, FORMATTER Formatter, VALUE Value) {
  Out.Index += Formatter(Value, Out.Buffer + Out.Index, Out.Capacity - Out.Index);
}

struct FIELD {
  UINTN Flags;
  UINTN Width;
};

// Reads flags and width after "%"; returns the conversion character's
// position (which may be the format's terminating zero).
const CHAR16* ParseField(const CHAR16* Format, va_list* Args, FIELD* Field) {
  Field->Flags = 0;
  Field->Width = 0;
  for (;; ++Format) {
    switch (*Format) {
      case u'-': Field->Flags |= PRINT_FLAG_LEFT_JUSTIFY; break;
      case u'+': Field->Flags |= PRINT_FLAG_PLUS; break;
      case u' ': Field->Flags |= PRINT_FLAG_SPACE; break;
      case u',': Field->Flags |= PRINT_FLAG_COMMA; break;
      case u'l':
      case u'L': Field->Flags |= PRINT_FLAG_LONG; break;
      case u'*': {
        UINT64 Width = va_arg(*Args, UINT64);
        Field->Width = Width > kMaxParsedWidth ? kMaxParsedWidth : Width;
        break;
      }
      case u'0': case u'1': case u'2': case u'3': case u'4':
      case u'5': case u'6': case u'7': case u'8': case u'9': {
        if (*Format == u'0') Field->Flags |= PRINT_FLAG_ZERO_PAD;
        UINTN Width = 0;
        while (*Format >= u'0' && *Format <= u'9') {
          Width = Width * 10 + static_cast<UINTN>(*Format - u'0');
          if (Width > kMaxParsedWidth) Width = kMaxParsedWidth;
          ++Format;
        }
        Field->Width = Width;
        --Format;  // the loop's increment moves past the last digit
        break;
      }
      default: return Format;
    }
  }
}

// Lays out a number whose digits were produced least significant first:
// sign, fill, digits; or, for "-" without "0", digits then blanks.
UINTN StoreNumber(CHAR16* Buffer, bool Negative, const CHAR16* Digits, UINTN DigitCount, UINTN Flags,
                  UINTN Width) {
  if (Width > PRINT_MAX_NUMBER_WIDTH) Width = PRINT_MAX_NUMBER_WIDTH;
  UINTN Length = DigitCount + (Negative ? 1 : 0);
  UINTN Fill = Width > Length ? Width - Length : 0;
  bool ZeroPad = (Flags & PRINT_FLAG_ZERO_PAD) != 0;
  bool FillAfter = !ZeroPad && (Flags & PRINT_FLAG_LEFT_JUSTIFY) != 0;
  UINTN Index = 0;
  if (Negative) Buffer[Index++] = u'-';
  if (!FillAfter) {
    for (UINTN I = 0; I < Fill; ++I) Buffer[Index++] = ZeroPad ? u'0' : u' ';
  }
  while (DigitCount > 0) Buffer[Index++] = Digits[--DigitCount];
  if (FillAfter) {
    for (UINTN I = 0; I < Fill; ++I) Buffer[Index++] = u' ';
  }
  Buffer[Index] = 0;
  return Index;
}

}  // namespace

UINTN FormatString(CHAR16* Buffer, UINTN Capacity, const CHAR16* Format, va_list Args) {
  if (Buffer == nullptr || Capacity == 0) return 0;
  OUTPUT Out = {Buffer, Capacity, 0};
  va_list Marker;
  va_copy(Marker, Args);
  CHAR16 Number[PRINT_NUMBER_SCRATCH_LENGTH];

  while (Format != nullptr && *Format != 0 && HasRoom(Out)) {
    CHAR16 Character = *Format++;
    if (Character == u'\n') {
      Put(Out, u'\r');
      Put(Out, u'\n');
      continue;
    }
    if (Character != u'%') {
      Put(Out, Character);
      continue;
    }

    FIELD Field;
    Format = ParseField(Format, &Marker, &Field);
    CHAR16 Conversion = *Format;
    if (Conversion == 0) break;  // "%" at the very end ends the output
    ++Format;

    switch (Conversion) {
      case u's':
      case u'S': {
        const CHAR16* Text = va_arg(Marker, const CHAR16*);
        if (Text == nullptr) {
          PutAsciiField(Out, kNullString, Field.Width);
        } else {
          PutWideField(Out, Text, Field.Width);
        }
        break;
      }
      case u'a': {
        const CHAR8* Text = va_arg(Marker, const CHAR8*);
        PutAsciiField(Out, Text == nullptr ? kNullString : Text, Field.Width);
        break;
      }
      case u'c':
        Put(Out, static_cast<CHAR16>(va_arg(Marker, UINT64) & 0xFFFF));
        break;
      case u'x':
        HexToString(Number, va_arg(Marker, UINT64), Field.Flags, Field.Width);
        PutWide(Out, Number);
        break;
      case u'X':
        HexToString(Number, va_arg(Marker, UINT64), Field.Flags | PRINT_FLAG_ZERO_PAD, 16);
        PutWide(Out, Number);
        break;
      case u'd':
        DecimalToString(Number, static_cast<INT64>(va_arg(Marker, UINT64)), Field.Flags, Field.Width);
        PutWide(Out, Number);
        break;
      case u'g': {
        const EFI_GUID* Guid = va_arg(Marker, const EFI_GUID*);
        if (Guid != nullptr) PutFormatted(Out, FormatGuid, Guid);
        break;
      }
      case u't': {
        // A null time prints nothing, as a null GUID does.
        const EFI_TIME* Time = va_arg(Marker, const EFI_TIME*);
        if (Time != nullptr) PutFormatted(Out, FormatTime, Time);
        break;
      }
      case u'r':
        PutFormatted(Out, FormatStatus, static_cast<EFI_STATUS>(va_arg(Marker, UINT64)));
        break;
      case u'%':
        Put(Out, u'%');
        break;
      default:
        // Includes "E" and "N": the letter stands, the percent sign goes.
        Put(Out, Conversion);
        break;
    }
  }

  va_end(Marker);
  Buffer[Out.Index] = 0;
  return Out.Index + 1;
}

UINTN FormatStringArgs(CHAR16* Buffer, UINTN Capacity, const CHAR16* Format, ...) {
  va_list Args;
  va_start(Args, Format);
  UINTN Stored = FormatString(Buffer, Capacity, Format, Args);
  va_end(Args);
  return Stored;
}

namespace {

UINTN WithoutTerminator(UINTN Stored) { return Stored > 0 ? Stored - 1 : 0; }

void Terminate(CHAR16* Buffer, UINTN Capacity) {
  if (Buffer != nullptr && Capacity > 0) Buffer[0] = 0;
}

}  // namespace

UINTN FormatGuid(const EFI_GUID* Guid, CHAR16* Buffer, UINTN Capacity) {
  if (Guid == nullptr) {
    Terminate(Buffer, Capacity);
    return 0;
  }
  return WithoutTerminator(FormatStringArgs(
      Buffer, Capacity, u"%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", static_cast<UINT64>(Guid->Data1),
      static_cast<UINT64>(Guid->Data2), static_cast<UINT64>(Guid->Data3), static_cast<UINT64>(Guid->Data4[0]),
      static_cast<UINT64>(Guid->Data4[1]), static_cast<UINT64>(Guid->Data4[2]), static_cast<UINT64>(Guid->Data4[3]),
      static_cast<UINT64>(Guid->Data4[4]), static_cast<UINT64>(Guid->Data4[5]), static_cast<UINT64>(Guid->Data4[6]),
      static_cast<UINT64>(Guid->Data4[7])));
}

UINTN FormatTime(const EFI_TIME* Time, CHAR16* Buffer, UINTN Capacity) {
  if (Time == nullptr) {
    Terminate(Buffer, Capacity);
    return 0;
  }
  return WithoutTerminator(FormatStringArgs(Buffer, Capacity, u"%02d/%02d/%04d  %02d:%02d",
                                            static_cast<UINT64>(Time->Month), static_cast<UINT64>(Time->Day),
                                            static_cast<UINT64>(Time->Year), static_cast<UINT64>(Time->Hour),
                                            static_cast<UINT64>(Time->Minute)));
}

UINTN FormatStatus(EFI_STATUS Status, CHAR16* Buffer, UINTN Capacity) {
  for (const STATUS_TEXT& Entry : kStatusTexts) {
    if (Entry.Status == Status) return WithoutTerminator(FormatStringArgs(Buffer, Capacity, u"%a", Entry.Text));
  }
  return WithoutTerminator(FormatStringArgs(Buffer, Capacity, u"%X", static_cast<UINT64>(Status)));
}

UINTN HexToString(CHAR16* Buffer, UINT64 Value, UINTN Flags, UINTN Width) {
  CHAR16 Digits[16];
  UINTN Count = 0;
  do {
    Digits[Count++] = kHexDigits[Value & 0xF];
    Value = ShiftRight64(Value, 4);
  } while (Value != 0);
  return StoreNumber(Buffer, false, Digits, Count, Flags, Width);
}

UINTN DecimalToString(CHAR16* Buffer, INT64 Value, UINTN Flags, UINTN Width) {
  bool Negative = Value < 0;
  // Unsigned negation: the magnitude of INT64_MIN does not fit an INT64.
  UINT64 Magnitude = Negative ? 0 - static_cast<UINT64>(Value) : static_cast<UINT64>(Value);
  CHAR16 Digits[20 + 6];  // 64-bit digits and their separators
  UINTN Count = 0;
  UINTN InGroup = 0;
  do {
    if ((Flags & PRINT_FLAG_COMMA) != 0 && InGroup == 3) {
      Digits[Count++] = u',';
      InGroup = 0;
    }
    UINT64 Remainder = 0;
    Magnitude = DivideWithRemainder64(Magnitude, 10, &Remainder);
    Digits[Count++] = static_cast<CHAR16>(u'0' + Remainder);
    ++InGroup;
  } while (Magnitude != 0);
  return StoreNumber(Buffer, Negative, Digits, Count, Flags, Width);
}

UINT64 ShiftRight64(UINT64 Value, UINTN Count) { return Value >> (Count & 63); }

UINT64 DivideWithRemainder64(UINT64 Dividend, UINT64 Divisor, UINT64* Remainder) {
  if (Divisor == 0) {
    if (Remainder != nullptr) *Remainder = Dividend;
    return 0;
  }
  if (Remainder != nullptr) *Remainder = Dividend % Divisor;
  return Dividend / Divisor;
}

UINTN AsciiLength(const CHAR8* String) {
  if (String == nullptr) return 0;
  UINTN Length = 0;
  while (String[Length] != 0) ++Length;
  return Length;
}
