// Register access: the only way the driver reaches the adapter. Direct
// registers on BAR 2, the three indirect spaces, timed waits on the
// context's timer event, the start-up trace and the 2D engine operations.
#pragma once

#include "driver/core/context.h"
#include "driver/hw/regmap/pci_config.h"

// For sequences of accesses that report the first failure.
inline EFI_STATUS FirstError(EFI_STATUS First, EFI_STATUS Next) { return EFI_ERROR(First) ? First : Next; }

UINT8 RegRead8(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Offset);
EFI_STATUS RegWrite8(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Offset, UINT8 Value);
UINT32 RegRead32(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Offset);
// RegRead32 for the callers that act on a failed read (*Value is then 0).
EFI_STATUS RegTryRead32(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Offset, UINT32* Value);
EFI_STATUS RegWrite32(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Offset, UINT32 Value);

EFI_STATUS IndexedWrite(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Index, UINT32 Value);
UINT32 McRead(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Index);
EFI_STATUS McWrite(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Index, UINT32 Value);
UINT32 PllRead(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Index);
EFI_STATUS PllWrite(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Index, UINT32 Value);

void DelayMicroseconds(ADAPTER_CONTEXT* Context, UINT32 Microseconds);
void WaitMcIdle(ADAPTER_CONTEXT* Context);
void McWriteAndTrace(ADAPTER_CONTEXT* Context, UINT32 Index, UINT32 Value);
void DelayAndTrace(ADAPTER_CONTEXT* Context, UINT32 Microseconds);

void WaitEngineIdle(ADAPTER_CONTEXT* Context);
EFI_STATUS EngineInit(ADAPTER_CONTEXT* Context);
EFI_STATUS EngineCopyRect(ADAPTER_CONTEXT* Context, UINT32 DestX, UINT32 DestY, UINT32 Width, UINT32 Height);
EFI_STATUS EngineFillRect(ADAPTER_CONTEXT* Context, UINT32 DestX, UINT32 DestY, UINT32 Width, UINT32 Height);
