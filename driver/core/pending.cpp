// TEMPORARY. Placeholders for the functions declared in pending.h, so that
// both builds link while their units are being written. None has real
// behaviour. Each owner deletes its entries when its real ones land.
#include "driver/core/pending.h"

// Placeholder until UGA mode control lands.
EFI_STATUS EFIAPI UgaDrawGetMode(EFI_UGA_DRAW_PROTOCOL* This, UINT32* HorizontalResolution,
                                 UINT32* VerticalResolution, UINT32* ColorDepth, UINT32* RefreshRate) {
  (void)This;
  (void)HorizontalResolution;
  (void)VerticalResolution;
  (void)ColorDepth;
  (void)RefreshRate;
  return EFI_UNSUPPORTED;
}

// Placeholder until UGA mode control lands.
EFI_STATUS EFIAPI UgaDrawSetMode(EFI_UGA_DRAW_PROTOCOL* This, UINT32 HorizontalResolution,
                                 UINT32 VerticalResolution, UINT32 ColorDepth, UINT32 RefreshRate) {
  (void)This;
  (void)HorizontalResolution;
  (void)VerticalResolution;
  (void)ColorDepth;
  (void)RefreshRate;
  return EFI_UNSUPPORTED;
}

// Placeholder until UGA Blt lands.
EFI_STATUS EFIAPI UgaDrawBlt(EFI_UGA_DRAW_PROTOCOL* This, EFI_UGA_PIXEL* BltBuffer,
                             EFI_UGA_BLT_OPERATION BltOperation, UINTN SourceX, UINTN SourceY,
                             UINTN DestinationX, UINTN DestinationY, UINTN Width, UINTN Height, UINTN Delta) {
  (void)This;
  (void)BltBuffer;
  (void)BltOperation;
  (void)SourceX;
  (void)SourceY;
  (void)DestinationX;
  (void)DestinationY;
  (void)Width;
  (void)Height;
  (void)Delta;
  return EFI_UNSUPPORTED;
}
