// Version text and the ROM part-number fix-up.
#include "driver/core/version.h"

const CHAR8 kQuovanVersionString[] = "01.00.121";

namespace {
const UINTN kBuildNumberPosition = 6;  // "121" in "01.00.121"
const UINTN kPartNumberBuildPosition = 11;  // "ZZZ" in "770-K10001-ZZZ"
}  // namespace

void FixUpRomPartNumber(ADAPTER_CONTEXT* Context, CHAR8* PartNumber) {
  (void)Context;
  if (PartNumber == nullptr) return;
  for (UINTN Index = 0; Index < kPartNumberBuildPosition + 3; ++Index) {
    if (PartNumber[Index] == '\0') return;
  }
  for (UINTN Index = 0; Index < 3; ++Index) {
    PartNumber[kPartNumberBuildPosition + Index] = kQuovanVersionString[kBuildNumberPosition + Index];
  }
}
