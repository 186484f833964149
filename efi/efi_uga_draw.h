// EFI 1.10 UGA Draw protocol.
#pragma once

#include "efi/efi_types.h"

struct EFI_UGA_DRAW_PROTOCOL;

struct EFI_UGA_PIXEL {
  UINT8 Blue;
  UINT8 Green;
  UINT8 Red;
  UINT8 Reserved;
};
static_assert(sizeof(EFI_UGA_PIXEL) == 4, "UGA pixel");

enum EFI_UGA_BLT_OPERATION {
  EfiUgaVideoFill,
  EfiUgaVideoToBltBuffer,
  EfiUgaBltBufferToVideo,
  EfiUgaVideoToVideo,
  EfiUgaBltMax
};

typedef EFI_STATUS(EFIAPI* EFI_UGA_DRAW_PROTOCOL_GET_MODE)(EFI_UGA_DRAW_PROTOCOL* This,
                                                           UINT32* HorizontalResolution,
                                                           UINT32* VerticalResolution, UINT32* ColorDepth,
                                                           UINT32* RefreshRate);
typedef EFI_STATUS(EFIAPI* EFI_UGA_DRAW_PROTOCOL_SET_MODE)(EFI_UGA_DRAW_PROTOCOL* This,
                                                           UINT32 HorizontalResolution, UINT32 VerticalResolution,
                                                           UINT32 ColorDepth, UINT32 RefreshRate);
typedef EFI_STATUS(EFIAPI* EFI_UGA_DRAW_PROTOCOL_BLT)(EFI_UGA_DRAW_PROTOCOL* This, EFI_UGA_PIXEL* BltBuffer,
                                                      EFI_UGA_BLT_OPERATION BltOperation, UINTN SourceX,
                                                      UINTN SourceY, UINTN DestinationX, UINTN DestinationY,
                                                      UINTN Width, UINTN Height, UINTN Delta);

struct EFI_UGA_DRAW_PROTOCOL {
  EFI_UGA_DRAW_PROTOCOL_GET_MODE GetMode;
  EFI_UGA_DRAW_PROTOCOL_SET_MODE SetMode;
  EFI_UGA_DRAW_PROTOCOL_BLT Blt;
};
static_assert(sizeof(EFI_UGA_DRAW_PROTOCOL) == 24, "UGA Draw layout");
