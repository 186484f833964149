// Firmware interfaces only the end-to-end check application uses: the
// Simple File System (to read the scenario from the ESP).
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

