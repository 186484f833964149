// The TV encoder, the clock words it needs and the DAC clock of its path.
// The two standard sets write the whole register file below; only the
// first few registers have a role the driver itself relies on.
#pragma once

#include "efi/efi.h"

// Clock words of the encoder's pixel rate.
constexpr UINT32 TV_CLOCK_CONTROL = 0x04F4;
constexpr UINT32 TV_CLOCK_A = 0x04F8;
constexpr UINT32 TV_CLOCK_B = 0x04FC;
constexpr UINT32 TV_DAC_CLOCK = 0x6CBC;
constexpr UINT32 TV_DAC_CLOCK_VALUE = 0x35;

constexpr UINT32 TV_ENCODER_CONTROL_HOLD = 0x1;
constexpr UINT32 TV_ENCODER_RESET_VALUE = 0xFFFFFFFE;

// The encoder's register file, in address order.
constexpr UINT32 TV_ENCODER_CONTROL = 0x5DFC;
constexpr UINT32 TV_ENCODER_RESET = 0x5E00;
constexpr UINT32 TV_H_TOTAL = 0x5E04;
constexpr UINT32 TV_5E08 = 0x5E08;
constexpr UINT32 TV_5E14 = 0x5E14;
constexpr UINT32 TV_5E18 = 0x5E18;
constexpr UINT32 TV_5E1C = 0x5E1C;
constexpr UINT32 TV_5E20 = 0x5E20;
constexpr UINT32 TV_5E24 = 0x5E24;
constexpr UINT32 TV_5E28 = 0x5E28;
constexpr UINT32 TV_5E2C = 0x5E2C;
constexpr UINT32 TV_5E30 = 0x5E30;
constexpr UINT32 TV_5E34 = 0x5E34;
constexpr UINT32 TV_5E38 = 0x5E38;
constexpr UINT32 TV_5E3C = 0x5E3C;
constexpr UINT32 TV_5E40 = 0x5E40;
constexpr UINT32 TV_5E44 = 0x5E44;
constexpr UINT32 TV_5E48 = 0x5E48;
constexpr UINT32 TV_5E4C = 0x5E4C;
constexpr UINT32 TV_5E50 = 0x5E50;
constexpr UINT32 TV_5E54 = 0x5E54;
constexpr UINT32 TV_5E58 = 0x5E58;
constexpr UINT32 TV_5E5C = 0x5E5C;
constexpr UINT32 TV_5E60 = 0x5E60;
constexpr UINT32 TV_5E64 = 0x5E64;
constexpr UINT32 TV_5E68 = 0x5E68;
constexpr UINT32 TV_5E8C = 0x5E8C;
constexpr UINT32 TV_5E90 = 0x5E90;
constexpr UINT32 TV_5E94 = 0x5E94;
constexpr UINT32 TV_5E98 = 0x5E98;
constexpr UINT32 TV_5E9C = 0x5E9C;
constexpr UINT32 TV_5EA0 = 0x5EA0;
constexpr UINT32 TV_5EA4 = 0x5EA4;
constexpr UINT32 TV_5EA8 = 0x5EA8;
constexpr UINT32 TV_5EAC = 0x5EAC;
constexpr UINT32 TV_5EB0 = 0x5EB0;
constexpr UINT32 TV_5EB4 = 0x5EB4;
constexpr UINT32 TV_5EB8 = 0x5EB8;
constexpr UINT32 TV_5EBC = 0x5EBC;
constexpr UINT32 TV_5EC0 = 0x5EC0;
constexpr UINT32 TV_5EC4 = 0x5EC4;
constexpr UINT32 TV_5EC8 = 0x5EC8;
constexpr UINT32 TV_5ECC = 0x5ECC;
constexpr UINT32 TV_5EF0 = 0x5EF0;
constexpr UINT32 TV_5EF4 = 0x5EF4;
constexpr UINT32 TV_5EF8 = 0x5EF8;
constexpr UINT32 TV_5EFC = 0x5EFC;
constexpr UINT32 TV_5F00 = 0x5F00;
constexpr UINT32 TV_5F04 = 0x5F04;
constexpr UINT32 TV_5F08 = 0x5F08;
constexpr UINT32 TV_5F0C = 0x5F0C;
constexpr UINT32 TV_5F10 = 0x5F10;
constexpr UINT32 TV_5F14 = 0x5F14;
constexpr UINT32 TV_5F18 = 0x5F18;
constexpr UINT32 TV_5F1C = 0x5F1C;
constexpr UINT32 TV_5F28 = 0x5F28;
constexpr UINT32 TV_5F8C = 0x5F8C;
constexpr UINT32 TV_5F90 = 0x5F90;
constexpr UINT32 TV_5F94 = 0x5F94;
constexpr UINT32 TV_5F98 = 0x5F98;
constexpr UINT32 TV_STANDARD_SELECT = 0x5F9C;
