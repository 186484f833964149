// Display output sequencing: everything off, and a configured display lit
// on its CRTC and outputs.
#pragma once

#include "driver/core/context.h"

EFI_STATUS ProgramDisplayOutputs(ADAPTER_CONTEXT* Context);
EFI_STATUS ShutDownOutputs(ADAPTER_CONTEXT* Context);
EFI_STATUS ClearDisplaySurface(ADAPTER_CONTEXT* Context);
