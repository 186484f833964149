// Register access over PCI I/O: every adapter access of the driver passes
// through these primitives, one PCI I/O call of count 1 each, uncached.
#include "driver/hw/regs.h"

#include "driver/lib/driverlib.h"

namespace {

// Index/data pairs of the three indirect spaces.
//   space               index   data   write enable
//   memory controller   0x70    0x74   index bit 23
//   clock               0x08    0x0C   index bit 7
//   indexed             0x30    0x34   none
constexpr UINT32 kMcIndexReg = 0x70;
constexpr UINT32 kMcDataReg = 0x74;
constexpr UINT32 kMcWriteEnable = 0x00800000;
constexpr UINT32 kMcWriteKeepMask = 0x007F0000;  // bits 16-22 survive a write
constexpr UINT32 kMcReadKeepMask = 0xFF7F0000;   // bits 16-22 and 24-31 survive a read
constexpr UINT32 kMcIndexMask = 0xFFFF;

constexpr UINT32 kPllIndexReg = 0x08;
constexpr UINT32 kPllDataReg = 0x0C;
constexpr UINT32 kPllWriteEnable = 0x80;
constexpr UINT32 kPllIndexMask = 0x7F;

constexpr UINT32 kIndexedIndexReg = 0x30;
constexpr UINT32 kIndexedDataReg = 0x34;

// Memory-controller idle poll.
constexpr UINT32 kMcStatusIndex = 0x08;
constexpr UINT32 kMcIdleBit = 0x10;
constexpr UINT32 kMcIdlePolls = 20;
constexpr UINT32 kMcIdlePollDelayUs = 2;

// Start-up trace records: (key, value), two little-endian dwords.
constexpr UINT32 kTraceMcWriteFlag = 0x80000000;
constexpr UINT32 kTraceDelayKey = 0xFFFFFFFF;
constexpr UINT32 kTraceRecordBytes = 8;

// 2D engine registers.
constexpr UINT32 kEngineStatusReg = 0x0E40;
constexpr UINT32 kEngineBusyBit = 0x80000000;
constexpr UINT32 kEngineCommandReg = 0x146C;
constexpr UINT32 kEngineColourReg = 0x147C;
constexpr UINT32 kEngineDestReg = 0x1438;   // (Y << 16) | X
constexpr UINT32 kEngineSizeReg = 0x1598;   // (W << 16) | H; writing it starts the operation
constexpr UINT32 kSurfacePitchReg = 0x6120;  // CRTC 1 surface pitch in pixels

constexpr UINT32 kEngineCommandCopy = 0x50C036F3;
constexpr UINT32 kEngineCommandFill = 0x50F036F3;

// EngineInit, in order.
//   step  register  action
//   1     0x402C    OR 0x00040000
//   2     0x170C    OR 0x80000000
//   3               engine-idle wait
//   4     0x147C    0xFFFFFFFF
//         0x1478    0
//         0x15D8    0xFFFFFFFF
//         0x15DC    0
//   5     0x142C    pitch word from 0x6120
//         0x1428    pitch word from 0x6120, read again
//   6     0x16E8    0x1FFF1FFF
//   7     0x146C    0x50C036F3
struct REGISTER_BITS {
  UINT32 Offset;
  UINT32 OrMask;
};
constexpr REGISTER_BITS kEngineEnableBits[] = {
    {0x402C, 0x00040000},
    {0x170C, 0x80000000},
};
struct REGISTER_VALUE {
  UINT32 Offset;
  UINT32 Value;
};
constexpr REGISTER_VALUE kEngineStartValues[] = {
    {0x147C, 0xFFFFFFFF},
    {0x1478, 0},
    {0x15D8, 0xFFFFFFFF},
    {0x15DC, 0},
};
constexpr UINT32 kEnginePitchRegs[] = {0x142C, 0x1428};
constexpr UINT32 kEnginePitchFlags = 0x40000040;
constexpr REGISTER_VALUE kEngineClip = {0x16E8, 0x1FFF1FFF};

// The idle wait gives up after this many DelayMicroseconds(1) polls: each
// lasts until the firmware's next timer tick, so about one second at a
// 10 ms tick, far beyond any rectangle the engine can draw.
constexpr UINT32 kEngineIdlePolls = 100;
// Shown under the default debug mask, so a hung engine is seen.
constexpr UINT64 kDebugEngineHang = 0x80000000ULL;

void AppendTrace(ADAPTER_CONTEXT* Context, UINT32 Key, UINT32 Value) {
  // A full trace drops further records rather than overrun the buffer.
  if (Context->MrtLength > sizeof(Context->MrtBuffer) - kTraceRecordBytes) {
    return;
  }
  UINT8* Record = Context->MrtBuffer + Context->MrtLength;
  for (UINT32 Byte = 0; Byte < 4; Byte++) {
    Record[Byte] = (UINT8)(Key >> (8 * Byte));
    Record[4 + Byte] = (UINT8)(Value >> (8 * Byte));
  }
  Context->MrtLength += kTraceRecordBytes;
}

EFI_STATUS FirstError(EFI_STATUS First, EFI_STATUS Next) { return EFI_ERROR(First) ? First : Next; }

UINT32 EnginePitchWord(EFI_PCI_IO_PROTOCOL* PciIo) {
  return ((RegRead32(PciIo, kSurfacePitchReg) / 16) << 22) | kEnginePitchFlags;
}

}  // namespace

UINT8 RegRead8(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Offset) {
  UINT8 Value = 0;
  PciIo->Mem.Read(PciIo, EfiPciIoWidthUint8, REGISTER_BAR, Offset, 1, &Value);
  return Value;
}

EFI_STATUS RegWrite8(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Offset, UINT8 Value) {
  return PciIo->Mem.Write(PciIo, EfiPciIoWidthUint8, REGISTER_BAR, Offset, 1, &Value);
}

UINT32 RegRead32(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Offset) {
  UINT32 Value = 0;
  RegTryRead32(PciIo, Offset, &Value);
  return Value;
}

EFI_STATUS RegTryRead32(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Offset, UINT32* Value) {
  *Value = 0;
  return PciIo->Mem.Read(PciIo, EfiPciIoWidthUint32, REGISTER_BAR, Offset, 1, Value);
}

EFI_STATUS RegWrite32(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Offset, UINT32 Value) {
  return PciIo->Mem.Write(PciIo, EfiPciIoWidthUint32, REGISTER_BAR, Offset, 1, &Value);
}

EFI_STATUS IndexedWrite(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Index, UINT32 Value) {
  RegWrite32(PciIo, kIndexedIndexReg, Index);
  return RegWrite32(PciIo, kIndexedDataReg, Value);
}

UINT32 McRead(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Index) {
  UINT32 Old = RegRead32(PciIo, kMcIndexReg);
  RegWrite32(PciIo, kMcIndexReg, (Old & kMcReadKeepMask) | (Index & kMcIndexMask));
  return RegRead32(PciIo, kMcDataReg);
}

EFI_STATUS McWrite(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Index, UINT32 Value) {
  UINT32 Old = RegRead32(PciIo, kMcIndexReg);
  RegWrite32(PciIo, kMcIndexReg, (Old & kMcWriteKeepMask) | (Index & kMcIndexMask) | kMcWriteEnable);
  return RegWrite32(PciIo, kMcDataReg, Value);
}

UINT32 PllRead(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Index) {
  RegWrite32(PciIo, kPllIndexReg, Index & kPllIndexMask);
  return RegRead32(PciIo, kPllDataReg);
}

EFI_STATUS PllWrite(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Index, UINT32 Value) {
  RegWrite32(PciIo, kPllIndexReg, Index | kPllWriteEnable);
  return RegWrite32(PciIo, kPllDataReg, Value);
}

void DelayMicroseconds(ADAPTER_CONTEXT* Context, UINT32 Microseconds) {
  UINT32 TriggerTime = Microseconds * 10;  // 100 ns units, 32-bit as the callers expect
  if (EFI_ERROR(gBS->SetTimer(Context->TimerEvent, TimerRelative, TriggerTime))) {
    return;
  }
  // Not bounded: an armed relative timer is always signalled by the
  // firmware's timer tick.
  while (gBS->CheckEvent(Context->TimerEvent) == EFI_NOT_READY) {
  }
}

void WaitMcIdle(ADAPTER_CONTEXT* Context) {
  for (UINT32 Poll = 0; Poll < kMcIdlePolls; Poll++) {
    DelayMicroseconds(Context, kMcIdlePollDelayUs);
    if (McRead(Context->PciIo, kMcStatusIndex) & kMcIdleBit) {
      return;
    }
  }
}

void McWriteAndTrace(ADAPTER_CONTEXT* Context, UINT32 Index, UINT32 Value) {
  McWrite(Context->PciIo, Index, Value);
  AppendTrace(Context, Index | kTraceMcWriteFlag, Value);
}

void DelayAndTrace(ADAPTER_CONTEXT* Context, UINT32 Microseconds) {
  DelayMicroseconds(Context, Microseconds);
  AppendTrace(Context, kTraceDelayKey, Microseconds);
}

void WaitEngineIdle(ADAPTER_CONTEXT* Context) {
  if (!(RegRead32(Context->PciIo, kEngineStatusReg) & kEngineBusyBit)) {
    return;
  }
  for (UINT32 Poll = 0; Poll < kEngineIdlePolls; Poll++) {
    DelayMicroseconds(Context, 1);
    if (!(RegRead32(Context->PciIo, kEngineStatusReg) & kEngineBusyBit)) {
      return;
    }
  }
  DebugOut(kDebugEngineHang, "KT270: 2D engine still busy after %d polls, going on\n", (UINT64)kEngineIdlePolls);
}

EFI_STATUS EngineInit(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  for (const REGISTER_BITS& Bits : kEngineEnableBits) {
    RegWrite32(PciIo, Bits.Offset, RegRead32(PciIo, Bits.Offset) | Bits.OrMask);
  }
  WaitEngineIdle(Context);
  for (const REGISTER_VALUE& Write : kEngineStartValues) {
    RegWrite32(PciIo, Write.Offset, Write.Value);
  }
  for (UINT32 Offset : kEnginePitchRegs) {
    RegWrite32(PciIo, Offset, EnginePitchWord(PciIo));
  }
  RegWrite32(PciIo, kEngineClip.Offset, kEngineClip.Value);
  RegWrite32(PciIo, kEngineCommandReg, kEngineCommandCopy);
  return EFI_SUCCESS;
}

// Both operations report the first register write that failed: an
// operation whose set-up was lost has not been drawn.
EFI_STATUS EngineCopyRect(ADAPTER_CONTEXT* Context, UINT32 DestX, UINT32 DestY, UINT32 Width, UINT32 Height) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  WaitEngineIdle(Context);
  EFI_STATUS Status = RegWrite32(PciIo, kEngineCommandReg, kEngineCommandCopy);
  Status = FirstError(Status, RegWrite32(PciIo, kEngineColourReg, 0xFFFFFFFF));
  Status = FirstError(Status, RegWrite32(PciIo, kEngineDestReg, (DestY << 16) | DestX));
  Status = FirstError(Status, RegWrite32(PciIo, kEngineSizeReg, (Width << 16) | Height));
  WaitEngineIdle(Context);
  return Status;
}

// The fill colour is whatever the caller last wrote to the colour register.
EFI_STATUS EngineFillRect(ADAPTER_CONTEXT* Context, UINT32 DestX, UINT32 DestY, UINT32 Width, UINT32 Height) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  WaitEngineIdle(Context);
  EFI_STATUS Status = RegWrite32(PciIo, kEngineCommandReg, kEngineCommandFill);
  Status = FirstError(Status, RegWrite32(PciIo, kEngineDestReg, (DestY << 16) | DestX));
  Status = FirstError(Status, RegWrite32(PciIo, kEngineSizeReg, (Width << 16) | Height));
  WaitEngineIdle(Context);
  return Status;
}
