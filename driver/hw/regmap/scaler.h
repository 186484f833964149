// The scaler of each CRTC, in its CRTC block (CRTC 2 through CrtcReg).
#pragma once

#include "efi/efi.h"

constexpr UINT32 SCALER_UPDATE = 0x6534;  // 0x10 around a mode set
constexpr UINT32 SCALER_UPDATE_VALUE = 0x10;
constexpr UINT32 SCALER_FILTER_SELECT = 0x6578;  // table n << 16
constexpr UINT32 SCALER_FILTER_DATA = 0x657C;
constexpr UINT32 SCALER_SOURCE_SIZE = 0x6584;  // width << 16 | height
constexpr UINT32 SCALER_H_BORDER = 0x6588;     // b << 16 | b
constexpr UINT32 SCALER_V_BORDER = 0x658C;
constexpr UINT32 SCALER_ENABLE = 0x6590;
constexpr UINT32 SCALER_MODE = 0x6594;
constexpr UINT32 SCALER_BYPASS = 0x659C;
constexpr UINT32 SCALER_PHASE = 0x65A4;
constexpr UINT32 SCALER_H_TAPS = 0x65B0;
constexpr UINT32 SCALER_V_TAPS = 0x65C0;
constexpr UINT32 SCALER_ROUNDING = 0x65D4;

constexpr UINT32 SCALER_FILTER_TABLE_SHIFT = 16;
constexpr UINT32 SCALER_MODE_OFF = 0;
constexpr UINT32 SCALER_MODE_NORMAL = 0x101;
constexpr UINT32 SCALER_MODE_TV = 0x103;
constexpr UINT32 SCALER_PHASE_VALUE = 0x00010001;
constexpr UINT32 SCALER_TAPS_VALUE = 0x00030100;
constexpr UINT32 SCALER_ROUNDING_VALUE = 0x1010;
