// UGA Blt: fills and screen-to-screen copies on the 2D engine, transfers
// to and from the caller's buffer one row per PCI I/O call, on every
// display the driver drives.
#include "driver/uga/uga_draw.h"

#include "driver/hw/regmap/crtc.h"
#include "driver/hw/regmap/engine2d.h"
#include "driver/hw/regmap/system.h"
#include "driver/hw/regs.h"
#include "driver/lib/driverlib.h"

namespace {

const CHAR8 kModuleName[] = "quovanuga";
constexpr UINT32 kBltSignatureLine = 78;

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

// The engine takes the surface of the display's CRTC for source and
// destination alike. A surface that could not be read is not drawn on:
// its rows would land elsewhere in the frame buffer.
EFI_STATUS SelectSurface(ADAPTER_CONTEXT* Context, UINT32 Display, SURFACE* Surface) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  // CrtcIndex 0 is CRTC 1; 1, and 255 for none, read CRTC 2.
  UINT8 Crtc = Context->CrtcIndex[Display];
  EFI_STATUS Status = RegTryRead32(PciIo, CrtcReg(Crtc, CRTC_SURFACE_PITCH), &Surface->Pitch);
  Status = FirstError(Status, RegTryRead32(PciIo, CrtcReg(Crtc, CRTC_SURFACE_BASE), &Surface->Base));
  if (EFI_ERROR(Status)) return Status;
  Status = RegWrite32(PciIo, ENGINE_DEST_PITCH, Surface->Pitch * 4);
  Status = FirstError(Status, RegWrite32(PciIo, ENGINE_SRC_PITCH, Surface->Pitch * 4));
  Status = FirstError(Status, RegWrite32(PciIo, ENGINE_SRC_OFFSET, Surface->Base));
  Status = FirstError(Status, RegWrite32(PciIo, ENGINE_DEST_OFFSET, Surface->Base));
  // Read back to flush the posted writes.
  RegRead32(PciIo, SYS_MEMORY_SIZE);
  return Status;
}

// Whether the rectangle's pixels on the surface lie inside the frame-buffer
// aperture (always, when its length is unknown): a mode whose surface
// outgrew the aperture must not be drawn past its end.
BOOLEAN InsideAperture(const ADAPTER_CONTEXT* Context, const SURFACE& Surface, UINTN X, UINTN Y, UINTN Width,
                       UINTN Height) {
  UINT64 Size = Context->FrameBufferSize;
  if (Size == 0) return EFI_TRUE;
  UINT64 RowBytes = static_cast<UINT64>(Surface.Pitch) * kBytesPerPixel;
  if (Surface.Base >= Size) return EFI_FALSE;
  UINT64 Room = Size - Surface.Base;
  // The rectangle's last row starts at (Y + Height - 1) rows and ends
  // (X + Width) pixels in; both bounded by the mode, so no sum wraps.
  UINT64 LastRow = static_cast<UINT64>(Y) + Height - 1;
  if (RowBytes != 0 && LastRow > Room / RowBytes) return EFI_FALSE;
  UINT64 Tail = (static_cast<UINT64>(X) + Width) * kBytesPerPixel;
  return LastRow * RowBytes <= Room && Tail <= Room - LastRow * RowBytes;
}

UINT32 Position(UINTN X, UINTN Y) { return ((UINT32)Y << 16) | (UINT32)X; }

EFI_STATUS FillOnEngine(ADAPTER_CONTEXT* Context, const EFI_UGA_PIXEL* BltBuffer, UINTN SourceX, UINTN SourceY,
                        UINTN DestinationX, UINTN DestinationY, UINTN Width, UINTN Height) {
  // Rows of the buffer count Width pixels here, not Delta bytes.
  const EFI_UGA_PIXEL& Pixel = BltBuffer[SourceY * Width + SourceX];
  EFI_STATUS Status = RegWrite32(Context->PciIo, ENGINE_FILL_COLOUR,
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
  EFI_STATUS Status = RegTryRead32(PciIo, ENGINE_DIRECTION, &Direction);
  if (EFI_ERROR(Status)) return Status;
  if (SourceX < DestinationX) {
    Direction &= ~ENGINE_DIRECTION_LEFT_TO_RIGHT;
    SourceX += Width;
    DestinationX += Width;
  } else {
    Direction |= ENGINE_DIRECTION_LEFT_TO_RIGHT;
  }
  if (SourceY < DestinationY) {
    Direction &= ~ENGINE_DIRECTION_TOP_TO_BOTTOM;
    SourceY += Height;
    DestinationY += Height;
  } else {
    Direction |= ENGINE_DIRECTION_TOP_TO_BOTTOM;
  }
  Status = RegWrite32(PciIo, ENGINE_DIRECTION, Direction);
  Status = FirstError(Status, RegWrite32(PciIo, ENGINE_SRC_POSITION, Position(SourceX, SourceY)));
  if (EFI_ERROR(Status)) return Status;
  return EngineCopyRect(Context, (UINT32)DestinationX, (UINT32)DestinationY, (UINT32)Width, (UINT32)Height);
}

// One row per PCI I/O call between the screen rectangle at (ScreenX,
// ScreenY) and the buffer rectangle at (BufferX, BufferY). The transfers
// stop at the first that fails: the caller learns of it, and no later row
// is moved as if the earlier ones had been.
EFI_STATUS TransferRows(ADAPTER_CONTEXT* Context, const SURFACE& Surface, BOOLEAN ToScreen, UINT8* Buffer,
                        UINTN ScreenX, UINTN ScreenY, UINTN BufferX, UINTN BufferY, UINTN Width, UINTN Height,
                        UINTN Delta) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  EFI_PCI_IO_PROTOCOL_IO_MEM Transfer = ToScreen ? PciIo->Mem.Write : PciIo->Mem.Read;
  for (UINTN Row = 0; Row < Height; Row++) {
    UINT64 Offset = Surface.Base + ((ScreenY + Row) * Surface.Pitch + ScreenX) * kBytesPerPixel;
    EFI_STATUS Status = Transfer(PciIo, EfiPciIoWidthUint32, FRAME_BUFFER_BAR, Offset, Width,
                                 Buffer + (BufferY + Row) * Delta + BufferX * kBytesPerPixel);
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
  return BltOnDisplays(Context, BltBuffer, BltOperation, SourceX, SourceY, DestinationX, DestinationY, Width, Height,
                       Delta);
}

EFI_STATUS BltOnDisplays(ADAPTER_CONTEXT* Context, EFI_UGA_PIXEL* BltBuffer, EFI_UGA_BLT_OPERATION BltOperation,
                         UINTN SourceX, UINTN SourceY, UINTN DestinationX, UINTN DestinationY, UINTN Width,
                         UINTN Height, UINTN Delta) {
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
    BOOLEAN Inside = BltOperation == EfiUgaVideoToBltBuffer
                         ? InsideAperture(Context, Surface, SourceX, SourceY, Width, Height)
                         : InsideAperture(Context, Surface, DestinationX, DestinationY, Width, Height) &&
                               (BltOperation != EfiUgaVideoToVideo ||
                                InsideAperture(Context, Surface, SourceX, SourceY, Width, Height));
    if (!EFI_ERROR(Status) && !Inside) {
      gBS->RestoreTPL(OldTpl);
      return EFI_INVALID_PARAMETER;
    }
    if (!EFI_ERROR(Status)) {
      switch (BltOperation) {
        case EfiUgaVideoFill:
          Status = FillOnEngine(Context, BltBuffer, SourceX, SourceY, DestinationX, DestinationY, Width, Height);
          break;
        case EfiUgaVideoToBltBuffer:
          Status = TransferRows(Context, Surface, EFI_FALSE, Buffer, SourceX, SourceY, DestinationX, DestinationY,
                                Width, Height, Delta);
          break;
        case EfiUgaBltBufferToVideo:
          Status = TransferRows(Context, Surface, EFI_TRUE, Buffer, DestinationX, DestinationY, SourceX, SourceY,
                                Width, Height, Delta);
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
