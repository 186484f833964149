// The DDC GPIO blocks (one per channel, 0x10 apart) and what the driver
// addresses on the buses: the EDID EEPROM and, on channel 3, the auxiliary
// device and its registers.
#pragma once

#include "efi/efi.h"

struct DDC_GPIO_BLOCK {
  UINT32 Select;
  UINT32 OutputLevel;
  UINT32 OutputEnable;
  UINT32 Input;
};
constexpr DDC_GPIO_BLOCK DDC_GPIO_BLOCKS[3] = {
    // Select  OutputLevel  OutputEnable  Input    channel
    {0x7E40,   0x7E44,      0x7E48,       0x7E4C},  // 1
    {0x7E50,   0x7E54,      0x7E58,       0x7E5C},  // 2
    {0x7E60,   0x7E64,      0x7E68,       0x7E6C},  // 3
};
// In each GPIO register bit 0 is the clock line, bit 8 the data line.
constexpr UINT32 DDC_GPIO_CLOCK = 0x001;
constexpr UINT32 DDC_GPIO_DATA = 0x100;

// I2C addresses, read/write bit included.
#define DDC_EDID_WRITE 0xA0
#define DDC_EDID_READ 0xA1
#define DDC_AUX_WRITE 0x98
#define DDC_AUX_READ 0x99
#define DDC_AUX_CHANNEL 3
constexpr UINT8 DDC_EDID_WORD_ADDRESS_0 = 0x00;

// Auxiliary device registers.
constexpr UINT8 AUX_11 = 0x11;
constexpr UINT8 AUX_4A = 0x4A;
constexpr UINT8 AUX_4B = 0x4B;
constexpr UINT8 AUX_4C = 0x4C;
constexpr UINT8 AUX_4D = 0x4D;
constexpr UINT8 AUX_4F = 0x4F;
constexpr UINT8 AUX_TABLE_FIRST = 0x50;  // 0x50..0x5F
