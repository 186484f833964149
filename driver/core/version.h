// The driver's version: the 64-bit constant whose low half is the Driver
// Binding Version, and the version text whose build number ("121") also
// ends the driver name and the ROM part number.
#pragma once

#include "driver/core/context.h"

#define QUOVAN_DRIVER_VERSION 0x010114610010007AULL

extern const CHAR8 kQuovanVersionString[];  // "01.00.121"

// Replaces characters 11 to 13 of a writable "770-K10001-ZZZ"-style part
// number with the build number. A string shorter than 14 characters is
// left alone.
void FixUpRomPartNumber(ADAPTER_CONTEXT* Context, CHAR8* PartNumber);
