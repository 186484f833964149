// The TV encoder, driving a television through DAC B.
#pragma once

#include "driver/core/context.h"

constexpr UINT32 TV_STANDARD_WRITES = 64;

// Register and value of one write of each standard's set, in step order.
struct TV_REGISTER_WRITE {
  UINT32 Register;
  UINT32 Value60Hz;
  UINT32 Value50Hz;
};
extern const TV_REGISTER_WRITE TvStandardSets[TV_STANDARD_WRITES];

// For display CurrentDisplay on its CRTC.
EFI_STATUS EnableTv(ADAPTER_CONTEXT* Context);
EFI_STATUS DisableTv(ADAPTER_CONTEXT* Context);
void LoadTvStandard60(ADAPTER_CONTEXT* Context);
void LoadTvStandard50(ADAPTER_CONTEXT* Context);
