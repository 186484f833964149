// The digital (TMDS) transmitter, switched on for display CurrentDisplay.
#pragma once

#include "driver/core/context.h"

EFI_STATUS EnableTmds(ADAPTER_CONTEXT* Context);
