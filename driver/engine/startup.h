// Engine start-up: indexed registers, memory controller, engine and memory
// clocks, memory devices (traced), then DACs, colour tables, outputs off,
// auxiliary device and 2D engine.
#pragma once

#include "driver/core/context.h"

// Status of the first failing step, else of EngineInit. On success marks
// the engine started and publishes "ZEY,MRT" and "ZEY,MemVendorID".
EFI_STATUS StartDisplayEngine(ADAPTER_CONTEXT* Context);
EFI_STATUS InitIndexedRegisters(ADAPTER_CONTEXT* Context);
EFI_STATUS InitMemoryController(ADAPTER_CONTEXT* Context);
EFI_STATUS InitEngineClocks(ADAPTER_CONTEXT* Context);
EFI_STATUS InitMemoryDevices(ADAPTER_CONTEXT* Context);
