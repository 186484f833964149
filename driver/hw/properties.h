// Calls into the platform's two optional protocols. Each wrapper returns
// EFI_SUCCESS without a call when its protocol is missing.
#pragma once

#include "driver/core/context.h"

// Adapter-wide property under ParentDevicePath; Reverse stores the value's
// bytes most significant first.
EFI_STATUS AddDeviceProperty(ADAPTER_CONTEXT* Context, const CHAR16* Name, UINTN Size, const void* Value,
                             BOOLEAN Reverse);
// Per-display property under display node Node ("0" or "1").
EFI_STATUS SetDisplayProperty(ADAPTER_CONTEXT* Context, const CHAR16* Node, const CHAR16* Name, UINT32 Size,
                              const void* Value);
EFI_STATUS GetPlatformValue(ADAPTER_CONTEXT* Context, const EFI_GUID* Key, void* Buffer, UINTN Size);
void ReverseBytes(const UINT8* Source, UINT8* Destination, UINTN Count);
EFI_STATUS RegisterAdapter(ADAPTER_CONTEXT* Context);
