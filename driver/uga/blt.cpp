// UGA Blt: fills and screen-to-screen copies on the 2D engine, transfers
// to and from the caller's buffer one row per PCI I/O call, on every
// display the driver drives.
#include "driver/uga/uga_draw.h"

#include "driver/hw/regs.h"
#include "driver/lib/driverlib.h"

namespace {

const CHAR8 kModuleName[] = "quovanuga";
constexpr UINT32 kBltSignatureLine = 78;

constexpr UINT32 kCrtc1SurfaceBase = 0x6110;
constexpr UINT32 kCrtc1SurfacePitch = 0x6120;
constexpr UINT32 kCrtc2SurfaceBase = 0x6910;
constexpr UINT32 kCrtc2SurfacePitch = 0x6920;

constexpr UINT32 kEngineDestBase = 0x1404;
constexpr UINT32 kEngineDestPitch = 0x1408;
constexpr UINT32 kEngineSourceBase = 0x15AC;
constexpr UINT32 kEngineSourcePitch = 0x15B0;
constexpr UINT32 kEngineDirection = 0x16C0;
constexpr UINT32 kEngineSourcePosition = 0x1434;
constexpr UINT32 kEngineFillColour = 0x147C;
// Read once after the surface set-up to flush the posted writes.
constexpr UINT32 kEngineFlushRead = 0x00F8;

constexpr UINT32 kLeftToRight = 0x1;
constexpr UINT32 kTopToBottom = 0x2;

constexpr UINTN kBytesPerPixel = 4;

// Written so that no sum can wrap: X + Width would for a huge X.
BOOLEAN InsideMode(const UGA_MODE_RECORD& Mode, UINTN X, UINTN Y, UINTN Width, UINTN Height) {
  UINT64 ModeWidth = Mode.HorizontalResolution;
  UINT64 ModeHeight = Mode.VerticalResolution;
  return Width <= ModeWidth && Height <= ModeHeight && X <= ModeWidth - Width && Y <= ModeHeight - Height;
}

BOOLEAN UsesBuffer(EFI_UGA_BLT_OPERATION Operation) { return Operation != EfiUgaVideoToVideo; }

struct SURFACE {
  UINT32 Base;   // bytes into BAR 0, and the engine's surface offset
  UINT32 Pitch;  // pixels
};

EFI_STATUS FirstError(EFI_STATUS First, EFI_STATUS Next) { return EFI_ERROR(First) ? First : Next; }

// The engine takes the surface of the display's CRTC for source and
// destination alike. A surface that could not be read is not drawn on:
// its rows would land elsewhere in the frame buffer.
EFI_STATUS SelectSurface(ADAPTER_CONTEXT* Context, UINT32 Display, SURFACE* Surface) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  BOOLEAN Crtc1 = Context->CrtcIndex[Display] == 0;
  EFI_STATUS Status = RegTryRead32(PciIo, Crtc1 ? kCrtc1SurfacePitch : kCrtc2SurfacePitch, &Surface->Pitch);
  Status = FirstError(Status, RegTryRead32(PciIo, Crtc1 ? kCrtc1SurfaceBase : kCrtc2SurfaceBase, &Surface->Base));
  if (EFI_ERROR(Status)) return Status;
  Status = RegWrite32(PciIo, kEngineDestPitch, Surface->Pitch * 4);
  Status = FirstError(Status, RegWrite32(PciIo, kEngineSourcePitch, Surface->Pitch * 4));
  Status = FirstError(Status, RegWrite32(PciIo, kEngineSourceBase, Surface->Base));
  Status = FirstError(Status, RegWrite32(PciIo, kEngineDestBase, Surface->Base));
  RegRead32(PciIo, kEngineFlushRead);
  return Status;
}

UINT32 Position(UINTN X, UINTN Y) { return ((UINT32)Y << 16) | (UINT32)X; }

EFI_STATUS FillOnEngine(ADAPTER_CONTEXT* Context, const EFI_UGA_PIXEL* BltBuffer, UINTN SourceX, UINTN SourceY,
                        UINTN DestinationX, UINTN DestinationY, UINTN Width, UINTN Height) {
  // Rows of the buffer count Width pixels here, not Delta bytes.
  const EFI_UGA_PIXEL& Pixel = BltBuffer[SourceY * Width + SourceX];
  EFI_STATUS Status = RegWrite32(Context->PciIo, kEngineFillColour,
                                 ((UINT32)Pixel.Red << 16) | ((UINT32)Pixel.Green << 8) | Pixel.Blue);
  if (EFI_ERROR(Status)) return Status;
  return EngineFillRect(Context, (UINT32)DestinationX, (UINT32)DestinationY, (UINT32)Width, (UINT32)Height);
}

// Against the walking direction the engine takes the coordinates as the
// exclusive far edge, so overlapping rectangles never read a pixel the copy
// has already written.
EFI_STATUS CopyOnEngine(ADAPTER_CONTEXT* Context, UINTN SourceX, UINTN SourceY, UINTN DestinationX,
                        UINTN DestinationY, UINTN Width, UINTN Height) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  UINT32 Direction = 0;
  // The other bits are written back as read, so a failed read must not be.
  EFI_STATUS Status = RegTryRead32(PciIo, kEngineDirection, &Direction);
  if (EFI_ERROR(Status)) return Status;
  if (SourceX < DestinationX) {
    Direction &= ~kLeftToRight;
    SourceX += Width;
    DestinationX += Width;
  } else {
    Direction |= kLeftToRight;
  }
  if (SourceY < DestinationY) {
    Direction &= ~kTopToBottom;
    SourceY += Height;
    DestinationY += Height;
  } else {
    Direction |= kTopToBottom;
  }
  Status = RegWrite32(PciIo, kEngineDirection, Direction);
  Status = FirstError(Status, RegWrite32(PciIo, kEngineSourcePosition, Position(SourceX, SourceY)));
  if (EFI_ERROR(Status)) return Status;
  return EngineCopyRect(Context, (UINT32)DestinationX, (UINT32)DestinationY, (UINT32)Width, (UINT32)Height);
}

// Row transfers stop at the first that fails: the caller learns of it, and
// no later row is moved as if the earlier ones had been.
EFI_STATUS ReadRows(ADAPTER_CONTEXT* Context, const SURFACE& Surface, UINT8* Buffer, UINTN SourceX, UINTN SourceY,
                    UINTN DestinationX, UINTN DestinationY, UINTN Width, UINTN Height, UINTN Delta) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  for (UINTN Row = 0; Row < Height; Row++) {
    UINT64 Offset = Surface.Base + ((SourceY + Row) * Surface.Pitch + SourceX) * kBytesPerPixel;
    EFI_STATUS Status = PciIo->Mem.Read(PciIo, EfiPciIoWidthUint32, FRAME_BUFFER_BAR, Offset, Width,
                                        Buffer + (DestinationY + Row) * Delta + DestinationX * kBytesPerPixel);
    if (EFI_ERROR(Status)) return Status;
  }
  return EFI_SUCCESS;
}

EFI_STATUS WriteRows(ADAPTER_CONTEXT* Context, const SURFACE& Surface, UINT8* Buffer, UINTN SourceX, UINTN SourceY,
                     UINTN DestinationX, UINTN DestinationY, UINTN Width, UINTN Height, UINTN Delta) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  for (UINTN Row = 0; Row < Height; Row++) {
    UINT64 Offset = Surface.Base + ((DestinationY + Row) * Surface.Pitch + DestinationX) * kBytesPerPixel;
    EFI_STATUS Status = PciIo->Mem.Write(PciIo, EfiPciIoWidthUint32, FRAME_BUFFER_BAR, Offset, Width,
                                         Buffer + (SourceY + Row) * Delta + SourceX * kBytesPerPixel);
    if (EFI_ERROR(Status)) return Status;
  }
  return EFI_SUCCESS;
}

}  // namespace

EFI_STATUS EFIAPI UgaDrawBlt(EFI_UGA_DRAW_PROTOCOL* This, EFI_UGA_PIXEL* BltBuffer,
                             EFI_UGA_BLT_OPERATION BltOperation, UINTN SourceX, UINTN SourceY,
                             UINTN DestinationX, UINTN DestinationY, UINTN Width, UINTN Height, UINTN Delta) {
  ADAPTER_CONTEXT* Context = ContextFromUgaDraw(This, kModuleName, kBltSignatureLine);
  if (Context == nullptr) return EFI_INVALID_PARAMETER;
  if (!Context->EngineStarted) return EFI_DEVICE_ERROR;

  if ((UINTN)BltOperation >= (UINTN)EfiUgaBltMax || Width == 0 || Height == 0) return EFI_INVALID_PARAMETER;
  if (UsesBuffer(BltOperation) && BltBuffer == nullptr) return EFI_INVALID_PARAMETER;
  if (Delta == 0) Delta = Width * kBytesPerPixel;

  const UGA_MODE_RECORD& Mode = Context->CurrentMode[0];
  if (BltOperation == EfiUgaVideoToBltBuffer) {
    if (!InsideMode(Mode, SourceX, SourceY, Width, Height)) return EFI_INVALID_PARAMETER;
  } else {
    if (!InsideMode(Mode, DestinationX, DestinationY, Width, Height)) return EFI_INVALID_PARAMETER;
    if (BltOperation == EfiUgaVideoToVideo && !InsideMode(Mode, SourceX, SourceY, Width, Height)) {
      return EFI_INVALID_PARAMETER;
    }
  }

  UINT8* Buffer = reinterpret_cast<UINT8*>(BltBuffer);
  for (UINT32 Display = 0; Display < Context->DisplayCount && Display < DISPLAY_SLOTS; Display++) {
    // Timer callbacks must not interleave with the engine's register sequence.
    EFI_TPL OldTpl = gBS->RaiseTPL(TPL_NOTIFY);
    SURFACE Surface = {0, 0};
    EFI_STATUS Status = SelectSurface(Context, Display, &Surface);
    if (!EFI_ERROR(Status)) {
      switch (BltOperation) {
        case EfiUgaVideoFill:
          Status = FillOnEngine(Context, BltBuffer, SourceX, SourceY, DestinationX, DestinationY, Width, Height);
          break;
        case EfiUgaVideoToBltBuffer:
          Status = ReadRows(Context, Surface, Buffer, SourceX, SourceY, DestinationX, DestinationY, Width, Height,
                            Delta);
          break;
        case EfiUgaBltBufferToVideo:
          Status = WriteRows(Context, Surface, Buffer, SourceX, SourceY, DestinationX, DestinationY, Width, Height,
                             Delta);
          break;
        default:
          Status = CopyOnEngine(Context, SourceX, SourceY, DestinationX, DestinationY, Width, Height);
          break;
      }
    }
    gBS->RestoreTPL(OldTpl);
    if (EFI_ERROR(Status)) return EFI_DEVICE_ERROR;
  }
  return EFI_SUCCESS;
}
