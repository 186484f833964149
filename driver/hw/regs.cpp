// Register access over PCI I/O: every adapter access of the driver passes
// through these primitives, one PCI I/O call of count 1 each, uncached.
#include "driver/hw/regs.h"

#include "driver/hw/regmap/crtc.h"
#include "driver/hw/regmap/engine2d.h"
#include "driver/hw/regmap/indirect.h"
#include "driver/lib/driverlib.h"

namespace {

constexpr UINT32 kMcIdlePolls = 20;
constexpr UINT32 kMcIdlePollDelayUs = 2;

// Start-up trace records: (key, value), two little-endian dwords.
constexpr UINT32 kTraceMcWriteFlag = 0x80000000;
constexpr UINT32 kTraceDelayKey = 0xFFFFFFFF;
constexpr UINT32 kTraceRecordBytes = 8;

// EngineInit, in order: enable bits, idle wait, start values, the two
// pitch words, the clip, and the copy command.
struct REGISTER_BITS {
  UINT32 Offset;
  UINT32 OrMask;
};
constexpr REGISTER_BITS kEngineEnableBits[] = {
    // Register         OR
    {ENGINE_ENABLE_1,   ENGINE_ENABLE_1_BIT},
    {ENGINE_ENABLE_2,   ENGINE_ENABLE_2_BIT},
};
struct REGISTER_VALUE {
  UINT32 Offset;
  UINT32 Value;
};
constexpr REGISTER_VALUE kEngineStartValues[] = {
    // Register            Value
    {ENGINE_FILL_COLOUR,   0xFFFFFFFF},
    {ENGINE_1478,   0},
    {ENGINE_15D8,    0xFFFFFFFF},
    {ENGINE_15DC,    0},
};
constexpr UINT32 kEnginePitchRegs[] = {ENGINE_PITCH_WORD_1, ENGINE_PITCH_WORD_2};

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

// From CRTC 1's surface pitch: the engine draws on CRTC 1's surface.
UINT32 EnginePitchWord(EFI_PCI_IO_PROTOCOL* PciIo) {
  return ((RegRead32(PciIo, CRTC_SURFACE_PITCH) / 16) << ENGINE_PITCH_WORD_SHIFT) | ENGINE_PITCH_WORD_FLAGS;
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
  RegWrite32(PciIo, IDX_INDEX_REG, Index);
  return RegWrite32(PciIo, IDX_DATA_REG, Value);
}

UINT32 McRead(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Index) {
  UINT32 Old = RegRead32(PciIo, MC_INDEX_REG);
  RegWrite32(PciIo, MC_INDEX_REG, (Old & MC_READ_KEEP) | (Index & MC_INDEX_MASK));
  return RegRead32(PciIo, MC_DATA_REG);
}

EFI_STATUS McWrite(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Index, UINT32 Value) {
  UINT32 Old = RegRead32(PciIo, MC_INDEX_REG);
  RegWrite32(PciIo, MC_INDEX_REG, (Old & MC_WRITE_KEEP) | (Index & MC_INDEX_MASK) | MC_WRITE_ENABLE);
  return RegWrite32(PciIo, MC_DATA_REG, Value);
}

UINT32 PllRead(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Index) {
  RegWrite32(PciIo, CLK_INDEX_REG, Index & CLK_INDEX_MASK);
  return RegRead32(PciIo, CLK_DATA_REG);
}

EFI_STATUS PllWrite(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Index, UINT32 Value) {
  RegWrite32(PciIo, CLK_INDEX_REG, Index | CLK_WRITE_ENABLE);
  return RegWrite32(PciIo, CLK_DATA_REG, Value);
}

void DelayMicroseconds(ADAPTER_CONTEXT* Context, UINT32 Microseconds) {
  // The timer waits for the firmware's next tick (10 ms on most); the fast
  // policy busy-waits exactly what is asked.
  if (Context->FastStartup) {
    gBS->Stall(Microseconds);
    return;
  }
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
    if (McRead(Context->PciIo, MC_STATUS) & MC_STATUS_IDLE) {
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
  if (!(RegRead32(Context->PciIo, ENGINE_STATUS) & ENGINE_STATUS_BUSY)) {
    return;
  }
  for (UINT32 Poll = 0; Poll < kEngineIdlePolls; Poll++) {
    DelayMicroseconds(Context, 1);
    if (!(RegRead32(Context->PciIo, ENGINE_STATUS) & ENGINE_STATUS_BUSY)) {
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
  RegWrite32(PciIo, ENGINE_CLIP, ENGINE_CLIP_VALUE);
  RegWrite32(PciIo, ENGINE_COMMAND, ENGINE_CMD_COPY);
  return EFI_SUCCESS;
}

// Both operations report the first register write that failed: an
// operation whose set-up was lost has not been drawn.
EFI_STATUS EngineCopyRect(ADAPTER_CONTEXT* Context, UINT32 DestX, UINT32 DestY, UINT32 Width, UINT32 Height) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  WaitEngineIdle(Context);
  EFI_STATUS Status = RegWrite32(PciIo, ENGINE_COMMAND, ENGINE_CMD_COPY);
  Status = FirstError(Status, RegWrite32(PciIo, ENGINE_FILL_COLOUR, 0xFFFFFFFF));
  Status = FirstError(Status, RegWrite32(PciIo, ENGINE_DEST_POSITION, (DestY << 16) | DestX));
  Status = FirstError(Status, RegWrite32(PciIo, ENGINE_SIZE, (Width << 16) | Height));
  WaitEngineIdle(Context);
  return Status;
}

// The fill colour is whatever the caller last wrote to the colour register.
EFI_STATUS EngineFillRect(ADAPTER_CONTEXT* Context, UINT32 DestX, UINT32 DestY, UINT32 Width, UINT32 Height) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  WaitEngineIdle(Context);
  EFI_STATUS Status = RegWrite32(PciIo, ENGINE_COMMAND, ENGINE_CMD_FILL);
  Status = FirstError(Status, RegWrite32(PciIo, ENGINE_DEST_POSITION, (DestY << 16) | DestX));
  Status = FirstError(Status, RegWrite32(PciIo, ENGINE_SIZE, (Width << 16) | Height));
  WaitEngineIdle(Context);
  return Status;
}
