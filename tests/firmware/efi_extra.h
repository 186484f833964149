// Firmware interfaces only the end-to-end check application uses: the
// Simple File System (to read the scenario from the ESP) and the Graphics
// Output protocol of the firmware's own display (for the screenshot).
#pragma once

#include "efi/efi.h"

inline constexpr EFI_GUID kSimpleFileSystemGuid = {
    0x964E5B22, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

struct EFI_FILE_PROTOCOL;
typedef EFI_STATUS(EFIAPI* EFI_FILE_OPEN)(EFI_FILE_PROTOCOL* This, EFI_FILE_PROTOCOL** New, const CHAR16* Name,
                                          UINT64 Mode, UINT64 Attributes);
typedef EFI_STATUS(EFIAPI* EFI_FILE_CLOSE)(EFI_FILE_PROTOCOL* This);
typedef EFI_STATUS(EFIAPI* EFI_FILE_READ)(EFI_FILE_PROTOCOL* This, UINTN* Size, VOID* Buffer);
struct EFI_FILE_PROTOCOL {
  UINT64 Revision;
  EFI_FILE_OPEN Open;
  EFI_FILE_CLOSE Close;
  VOID* Delete;
  EFI_FILE_READ Read;
  VOID* Write;
  VOID* GetPosition;
  VOID* SetPosition;
  VOID* GetInfo;
  VOID* SetInfo;
  VOID* Flush;
};
constexpr UINT64 kFileModeRead = 1;

struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL;
typedef EFI_STATUS(EFIAPI* EFI_OPEN_VOLUME)(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL* This, EFI_FILE_PROTOCOL** Root);
struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL {
  UINT64 Revision;
  EFI_OPEN_VOLUME OpenVolume;
};

struct EFI_GRAPHICS_OUTPUT_MODE_INFORMATION {
  UINT32 Version;
  UINT32 HorizontalResolution;
  UINT32 VerticalResolution;
  UINT32 PixelFormat;
  UINT32 PixelInformation[4];
  UINT32 PixelsPerScanLine;
};
struct EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE {
  UINT32 MaxMode;
  UINT32 Mode;
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION* Info;
  UINTN SizeOfInfo;
  UINT64 FrameBufferBase;
  UINTN FrameBufferSize;
};
struct EFI_GRAPHICS_OUTPUT_PROTOCOL;
typedef EFI_STATUS(EFIAPI* EFI_GOP_QUERY_MODE)(EFI_GRAPHICS_OUTPUT_PROTOCOL* This, UINT32 Mode, UINTN* SizeOfInfo,
                                               EFI_GRAPHICS_OUTPUT_MODE_INFORMATION** Info);
typedef EFI_STATUS(EFIAPI* EFI_GOP_SET_MODE)(EFI_GRAPHICS_OUTPUT_PROTOCOL* This, UINT32 Mode);
typedef EFI_STATUS(EFIAPI* EFI_GOP_BLT)(EFI_GRAPHICS_OUTPUT_PROTOCOL* This, VOID* Buffer, UINT32 Operation,
                                        UINTN SourceX, UINTN SourceY, UINTN DestinationX, UINTN DestinationY,
                                        UINTN Width, UINTN Height, UINTN Delta);
struct EFI_GRAPHICS_OUTPUT_PROTOCOL {
  EFI_GOP_QUERY_MODE QueryMode;
  EFI_GOP_SET_MODE SetMode;
  EFI_GOP_BLT Blt;
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE* Mode;
};
constexpr UINT32 kGopBltBufferToVideo = 2;
