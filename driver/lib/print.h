// Formatted print: a small printf-like engine that writes CHAR16 text, with
// conversions for firmware types (CHAR16/ASCII strings, GUIDs, EFI_TIME,
// EFI_STATUS), and the number-to-text and 64-bit helpers it is built on.
//
// Every argument occupies one 64-bit slot and numbers are always read as
// the whole slot, so callers pass UINT64, INT64, UINTN or pointers; a plain
// int leaves the upper half of the slot undefined.
//
// Conversions: %s %S (CHAR16 string), %a (ASCII string), %c, %x, %X (16
// zero-padded digits), %d (signed), %g (EFI_GUID*), %t (EFI_TIME*),
// %r (EFI_STATUS), %%. Flags: - + space , l L 0, a decimal width or *.
// Any other conversion letter is stored as it stands; "\n" becomes CR LF.
#pragma once

#include <stdarg.h>

#include "efi/efi_types.h"

// Flag word built by the flag parser.
#define PRINT_FLAG_LEFT_JUSTIFY 0x01
#define PRINT_FLAG_PLUS 0x02
#define PRINT_FLAG_SPACE 0x04
#define PRINT_FLAG_COMMA 0x08
#define PRINT_FLAG_LONG 0x10
#define PRINT_FLAG_ZERO_PAD 0x20

// Scratch area for one number: a sign, the 20 decimal digits of a 64-bit
// value and their 6 thousands separators, a margin, and the terminating
// zero. Number field widths are clamped so the text always fits.
#define PRINT_NUMBER_SCRATCH_LENGTH 32
#define PRINT_MAX_NUMBER_WIDTH (PRINT_NUMBER_SCRATCH_LENGTH - 1)

// Formats into Buffer (Capacity CHAR16s, terminator included). Never writes
// past Capacity; the result is always zero-terminated when Capacity > 0.
// Returns the characters stored counting the terminator (0 when nothing
// could be stored at all).
UINTN FormatString(CHAR16* Buffer, UINTN Capacity, const CHAR16* Format, va_list Args);
UINTN FormatStringArgs(CHAR16* Buffer, UINTN Capacity, const CHAR16* Format, ...);

// Type formatters: return the characters stored, not counting the terminator.
UINTN FormatGuid(const EFI_GUID* Guid, CHAR16* Buffer, UINTN Capacity);
UINTN FormatTime(const EFI_TIME* Time, CHAR16* Buffer, UINTN Capacity);
UINTN FormatStatus(EFI_STATUS Status, CHAR16* Buffer, UINTN Capacity);

// Number to text. Buffer holds at least PRINT_NUMBER_SCRATCH_LENGTH CHAR16s;
// Width is clamped to PRINT_MAX_NUMBER_WIDTH. Returns the characters
// stored, not counting the terminator.
UINTN HexToString(CHAR16* Buffer, UINT64 Value, UINTN Flags, UINTN Width);
UINTN DecimalToString(CHAR16* Buffer, INT64 Value, UINTN Flags, UINTN Width);

// Count is taken modulo 64.
UINT64 ShiftRight64(UINT64 Value, UINTN Count);
// Stores the remainder when Remainder is not null. A zero divisor gives
// quotient 0 and remainder Dividend instead of a trap.
UINT64 DivideWithRemainder64(UINT64 Dividend, UINT64 Divisor, UINT64* Remainder);
// Bytes before the terminating zero; 0 for a null pointer.
UINTN AsciiLength(const CHAR8* String);
