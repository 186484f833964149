// UEFI 2.x Graphics Output Protocol.
#pragma once

#include "efi/efi_types.h"

struct EFI_GRAPHICS_OUTPUT_PROTOCOL;

enum EFI_GRAPHICS_PIXEL_FORMAT {
  PixelRedGreenBlueReserved8BitPerColor,
  PixelBlueGreenRedReserved8BitPerColor,
  PixelBitMask,
  PixelBltOnly,
  PixelFormatMax
};

struct EFI_PIXEL_BITMASK {
  UINT32 RedMask;
  UINT32 GreenMask;
  UINT32 BlueMask;
  UINT32 ReservedMask;
};

struct EFI_GRAPHICS_OUTPUT_MODE_INFORMATION {
  UINT32 Version;
  UINT32 HorizontalResolution;
  UINT32 VerticalResolution;
  EFI_GRAPHICS_PIXEL_FORMAT PixelFormat;
  EFI_PIXEL_BITMASK PixelInformation;
  UINT32 PixelsPerScanLine;
};
static_assert(sizeof(EFI_GRAPHICS_OUTPUT_MODE_INFORMATION) == 36, "GOP mode information");

struct EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE {
  UINT32 MaxMode;
  UINT32 Mode;
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION* Info;
  UINTN SizeOfInfo;
  EFI_PHYSICAL_ADDRESS FrameBufferBase;
  UINTN FrameBufferSize;
};
static_assert(sizeof(EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE) == 40, "GOP mode");

// Blue, green, red, reserved: the layout of EFI_UGA_PIXEL.
struct EFI_GRAPHICS_OUTPUT_BLT_PIXEL {
  UINT8 Blue;
  UINT8 Green;
  UINT8 Red;
  UINT8 Reserved;
};
static_assert(sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL) == 4, "GOP pixel");

enum EFI_GRAPHICS_OUTPUT_BLT_OPERATION {
  EfiBltVideoFill,
  EfiBltVideoToBltBuffer,
  EfiBltBufferToVideo,
  EfiBltVideoToVideo,
  EfiGraphicsOutputBltOperationMax
};

typedef EFI_STATUS(EFIAPI* EFI_GRAPHICS_OUTPUT_PROTOCOL_QUERY_MODE)(EFI_GRAPHICS_OUTPUT_PROTOCOL* This,
                                                                    UINT32 ModeNumber, UINTN* SizeOfInfo,
                                                                    EFI_GRAPHICS_OUTPUT_MODE_INFORMATION** Info);
typedef EFI_STATUS(EFIAPI* EFI_GRAPHICS_OUTPUT_PROTOCOL_SET_MODE)(EFI_GRAPHICS_OUTPUT_PROTOCOL* This,
                                                                  UINT32 ModeNumber);
typedef EFI_STATUS(EFIAPI* EFI_GRAPHICS_OUTPUT_PROTOCOL_BLT)(EFI_GRAPHICS_OUTPUT_PROTOCOL* This,
                                                             EFI_GRAPHICS_OUTPUT_BLT_PIXEL* BltBuffer,
                                                             EFI_GRAPHICS_OUTPUT_BLT_OPERATION BltOperation,
                                                             UINTN SourceX, UINTN SourceY, UINTN DestinationX,
                                                             UINTN DestinationY, UINTN Width, UINTN Height,
                                                             UINTN Delta);

struct EFI_GRAPHICS_OUTPUT_PROTOCOL {
  EFI_GRAPHICS_OUTPUT_PROTOCOL_QUERY_MODE QueryMode;
  EFI_GRAPHICS_OUTPUT_PROTOCOL_SET_MODE SetMode;
  EFI_GRAPHICS_OUTPUT_PROTOCOL_BLT Blt;
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE* Mode;
};
static_assert(sizeof(EFI_GRAPHICS_OUTPUT_PROTOCOL) == 32, "GOP layout");

// UEFI EDID Discovered and EDID Active protocols, on the handle that
// carries Graphics Output: the EDID read from the output device, and the
// one in use. SizeOfEdid 0 and Edid null when there is none.
struct EFI_EDID_DISCOVERED_PROTOCOL {
  UINT32 SizeOfEdid;
  UINT8* Edid;
};
static_assert(sizeof(EFI_EDID_DISCOVERED_PROTOCOL) == 16, "EDID Discovered layout");

struct EFI_EDID_ACTIVE_PROTOCOL {
  UINT32 SizeOfEdid;
  UINT8* Edid;
};
static_assert(sizeof(EFI_EDID_ACTIVE_PROTOCOL) == 16, "EDID Active layout");
