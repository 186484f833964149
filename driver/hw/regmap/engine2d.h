// The 2D drawing engine. An operation starts when ENGINE_SIZE is written.
#pragma once

#include "efi/efi.h"

constexpr UINT32 ENGINE_STATUS = 0x0E40;  // bit 31: busy
constexpr UINT32 ENGINE_STATUS_BUSY = 0x80000000;
constexpr UINT32 ENGINE_DEST_OFFSET = 0x1404;
constexpr UINT32 ENGINE_DEST_PITCH = 0x1408;  // bytes
constexpr UINT32 ENGINE_PITCH_WORD_2 = 0x1428;  // both from CRTC 1's pitch at set-up
constexpr UINT32 ENGINE_PITCH_WORD_1 = 0x142C;
constexpr UINT32 ENGINE_SRC_POSITION = 0x1434;   // Y << 16 | X
constexpr UINT32 ENGINE_DEST_POSITION = 0x1438;  // Y << 16 | X
constexpr UINT32 ENGINE_COMMAND = 0x146C;
constexpr UINT32 ENGINE_1478 = 0x1478;
constexpr UINT32 ENGINE_FILL_COLOUR = 0x147C;  // 0x00RRGGBB
constexpr UINT32 ENGINE_SIZE = 0x1598;         // W << 16 | H; starts the operation
constexpr UINT32 ENGINE_SRC_OFFSET = 0x15AC;
constexpr UINT32 ENGINE_SRC_PITCH = 0x15B0;  // bytes
constexpr UINT32 ENGINE_15D8 = 0x15D8;
constexpr UINT32 ENGINE_15DC = 0x15DC;
constexpr UINT32 ENGINE_DIRECTION = 0x16C0;  // bit 0 left to right, bit 1 top to bottom
constexpr UINT32 ENGINE_CLIP = 0x16E8;
constexpr UINT32 ENGINE_ENABLE_2 = 0x170C;  // set-up ORs a bit into each
constexpr UINT32 ENGINE_ENABLE_1 = 0x402C;

constexpr UINT32 ENGINE_CMD_COPY = 0x50C036F3;
constexpr UINT32 ENGINE_CMD_FILL = 0x50F036F3;
constexpr UINT32 ENGINE_DIRECTION_LEFT_TO_RIGHT = 0x1;
constexpr UINT32 ENGINE_DIRECTION_TOP_TO_BOTTOM = 0x2;
constexpr UINT32 ENGINE_ENABLE_2_BIT = 0x80000000;
constexpr UINT32 ENGINE_ENABLE_1_BIT = 0x00040000;
constexpr UINT32 ENGINE_PITCH_WORD_FLAGS = 0x40000040;  // | (pitch / 16) << 22
constexpr UINT32 ENGINE_PITCH_WORD_SHIFT = 22;
constexpr UINT32 ENGINE_CLIP_VALUE = 0x1FFF1FFF;
