// Context initialisation: enables the controller, gives a fresh adapter
// context its starting values and timer event, installs the driver's
// function pointers and publishes the adapter properties.
#pragma once

#include "driver/core/context.h"

// Runs once per Start on a zeroed context whose Start-owned fields are set.
// EFI_DEVICE_ERROR when configuration space cannot be read or written or
// the timer event cannot be created.
EFI_STATUS InitializeAdapter(ADAPTER_CONTEXT* Context);
