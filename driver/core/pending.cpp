// TEMPORARY. Placeholders for the functions declared in pending.h, so that
// both builds link while their units are being written. None has real
// behaviour. Each owner deletes its entries when its real ones land.
#include "driver/core/pending.h"

// Placeholder until the platform callbacks land.
EFI_STATUS EFIAPI ConfigQuery(QUOVAN_CONFIG_INTERFACE* This, UINT64* FrameBufferAddress, UINT32* MemorySize,
                              UINT32* BytesPerRow, UINT32* Width, UINT32* Height, UINT32* BitsPerPixel) {
  (void)This;
  (void)FrameBufferAddress;
  (void)MemorySize;
  (void)BytesPerRow;
  (void)Width;
  (void)Height;
  (void)BitsPerPixel;
  return EFI_UNSUPPORTED;
}

// Placeholder until the platform callbacks land.
EFI_STATUS EFIAPI DisplaySetInfo(QUOVAN_DISPLAY_INTERFACE* This, EFI_GUID* Key, VOID* Buffer, UINTN Size) {
  (void)This;
  (void)Key;
  (void)Buffer;
  (void)Size;
  return EFI_UNSUPPORTED;
}

// Placeholder until the platform callbacks land.
EFI_STATUS EFIAPI DisplayGetInfo(QUOVAN_DISPLAY_INTERFACE* This, EFI_GUID* Key, VOID* Buffer, UINTN* Size) {
  (void)This;
  (void)Key;
  (void)Buffer;
  (void)Size;
  return EFI_UNSUPPORTED;
}

// Placeholder until the display-node properties land.
EFI_STATUS NameDisplayNodes(ADAPTER_CONTEXT* Context) {
  (void)Context;
  return EFI_SUCCESS;
}
