// Display output sequencing: everything off, and a configured display lit
// on its CRTC and outputs.
#pragma once

#include "driver/core/context.h"

// The first failure of the sequence's steps, or EFI_SUCCESS.
EFI_STATUS ProgramDisplayOutputs(ADAPTER_CONTEXT* Context);
// After ShutDownOutputs, lights again what the last sequencing lit, the
// surface left as it is: an undone Stop. Nothing before the first mode set.
EFI_STATUS RelightDisplays(ADAPTER_CONTEXT* Context);
EFI_STATUS ShutDownOutputs(ADAPTER_CONTEXT* Context);
EFI_STATUS ClearDisplaySurface(ADAPTER_CONTEXT* Context);
