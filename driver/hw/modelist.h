// The built-in mode list: 19 fixed modes, row i belonging to row i of the
// built-in timing table. The rows' Supported bytes are shared by all
// adapters and rewritten by mode marking; everything else is constant.
#pragma once

#include "driver/core/context.h"

constexpr UINT32 ModeCount = 19;

// Rows that carry no timing (clock 0) and the two television rows.
constexpr UINT64 MODE_ROW_DEFAULT = 0;
constexpr UINT64 MODE_ROW_TV_60HZ = 17;
constexpr UINT64 MODE_ROW_TV_50HZ = 18;

UGA_MODE_RECORD* BuiltInModeList();
