// Analogue DAC switches: one-time set-up and the on/off sequences of DAC A
// and DAC B. The enables act for display CurrentDisplay.
#pragma once

#include "driver/core/context.h"

EFI_STATUS InitDacOutputs(ADAPTER_CONTEXT* Context);
EFI_STATUS EnableDacA(ADAPTER_CONTEXT* Context);
EFI_STATUS DisableDacA(ADAPTER_CONTEXT* Context);
EFI_STATUS EnableDacB(ADAPTER_CONTEXT* Context);
EFI_STATUS DisableDacB(ADAPTER_CONTEXT* Context);
