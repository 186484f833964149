// Adapter-wide registers of the register aperture (BAR 2): identification
// and straps, the memory size, the engine configuration words, the memory
// clock routing and the output pads.
#pragma once

#include "efi/efi.h"

constexpr UINT32 SYS_INDEXED_ENABLE = 0x004C;  // 1 before the indexed space is written
constexpr UINT32 SYS_HW_GPIO = 0x00E8;         // published as "ZEY,HWGPIO"
constexpr UINT32 SYS_ENGINE_CONFIG_A = 0x00EC;
constexpr UINT32 SYS_MEMORY_SIZE = 0x00F8;     // bytes; also read to flush posted writes
constexpr UINT32 SYS_ENGINE_CONFIG_B = 0x0130;
constexpr UINT32 SYS_SW_GPIO = 0x01A4;         // published as "ZEY,SWGPIO Info"
constexpr UINT32 SYS_MEMORY_CLOCK_ROUTE_B = 0x04CC;
constexpr UINT32 SYS_MEMORY_CLOCK_ENABLE_B = 0x0570;
constexpr UINT32 SYS_MEMORY_CLOCK_ENABLE_A = 0x0574;
constexpr UINT32 SYS_MEMORY_CLOCK_ROUTE_A = 0x0580;
constexpr UINT32 SYS_STRAPS = 0x0C60;
constexpr UINT32 SYS_OUTPUT_PADS = 0x7EE0;

// Straps: bits 18..17 choose the memory-controller parameter set.
constexpr UINT32 STRAPS_MEMORY_SHIFT = 17;
constexpr UINT32 STRAPS_MEMORY_MASK = 0x3;
constexpr UINT32 STRAPS_MEMORY_SET_B = 3;

// What the start-up writes.
constexpr UINT32 SYS_ENGINE_CONFIG_A_VALUE = 0x0000444F;
constexpr UINT32 SYS_ENGINE_CONFIG_B_VALUE = 0x40800000;
constexpr UINT32 SYS_MEMORY_SIZE_SET_A = 0x10000000;
constexpr UINT32 SYS_MEMORY_SIZE_SET_B = 0x08000000;
constexpr UINT32 SYS_MEMORY_CLOCK_ROUTE_VALUE = 0x0C000000;
constexpr UINT32 SYS_OUTPUT_PADS_ON = 0x01111111;
