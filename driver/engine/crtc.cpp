#include "driver/engine/crtc.h"

#include "driver/engine/pll.h"
#include "driver/engine/timing.h"
#include "driver/hw/regmap/crtc.h"
#include "driver/hw/regmap/engine2d.h"
#include "driver/hw/regmap/pll.h"
#include "driver/hw/regmap/scaler.h"
#include "driver/hw/regs.h"

namespace {

// An m-bit value widened to n bits (n >= m) by repeating its top bits.
UINT32 WidenBits(UINT32 Value, UINT32 From, UINT32 To) {
  return (Value << (To - From)) | (Value >> (From - (To - From)));
}

}  // namespace

UINT32 SurfacePitch(UINT32 Width, UINT32 BytesPerPixel) {
  return ((Width * BytesPerPixel + SURFACE_LINE_ALIGN - 1) & ~(SURFACE_LINE_ALIGN - 1)) / 4;
}

UINT32 SurfaceEnd(UINT32 Base, UINT32 Pitch, UINT32 Height) {
  return (((Base + Pitch * Height) * 4 + WINDOW_END_ALIGN - 1) & ~(WINDOW_END_ALIGN - 1)) - 1;
}

UINT32 SurfacePitchWord(UINT32 Pitch) { return ((Pitch / 2) & WINDOW_PITCH_MASK) | WINDOW_PITCH_ENABLE; }

BOOLEAN SurfaceFitsAperture(const ADAPTER_CONTEXT* Context, UINT8 Crtc, UINT64 Width, UINT64 Height) {
  // Far beyond any aperture, and small enough that the product cannot wrap.
  constexpr UINT64 kSideLimit = 1ull << 20;
  if (Width > kSideLimit || Height > kSideLimit) return EFI_FALSE;
  if (Context->FrameBufferSize == 0) return EFI_TRUE;
  UINT64 Base = Crtc == 1 ? CRTC2_SURFACE_BASE : CRTC1_SURFACE_BASE;
  UINT64 LineBytes = (Width * 4 + SURFACE_LINE_ALIGN - 1) & ~static_cast<UINT64>(SURFACE_LINE_ALIGN - 1);
  return Base + LineBytes * Height <= Context->FrameBufferSize;
}

EFI_STATUS SetCrtcMode(ADAPTER_CONTEXT* Context, UINT8 Crtc, UINT8 OutputChannel) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  const CRTC_UNIT& Unit = CrtcUnit(Crtc);

  UINT32 HSyncControl = RegRead32(PciIo, CrtcReg(Crtc, CRTC_H_SYNC_CONTROL));
  UINT32 VSyncControl = RegRead32(PciIo, CrtcReg(Crtc, CRTC_V_SYNC_CONTROL));

  CRTC_TIMING Timing;
  BuildCrtcTiming(Context, OutputChannel, &Timing);
  UINT32 Width = Timing.ActiveWidth;
  UINT32 Height = Timing.ActiveHeight;
  UINT32 Pitch = SurfacePitch(Width, Timing.BytesPerPixel);
  UINT32 End = SurfaceEnd(Unit.SurfaceBase, Pitch, Height);

  // Without a divider setting the PLL keeps its previous programming and
  // the mode set goes on regardless.
  ProgramPixelPll(Context, OutputChannel, Crtc);
  RegWrite32(PciIo, CrtcReg(Crtc, SCALER_UPDATE), SCALER_UPDATE_VALUE);

  UGA_MODE_RECORD& Native = Context->NativeMode[Context->CurrentDisplay];
  Native.HorizontalResolution = Width;
  Native.VerticalResolution = Height;
  Native.ColorDepth = 32;
  Native.RefreshRate = ComputeRefresh(Timing.PixelClock, Timing.HTotalReg, Timing.VTotalReg);

  // A refused write leaves the CRTC short of its mode: the first one is
  // reported, and the rest are still made.
  EFI_STATUS Status = WriteCrtcTiming(Context, Crtc, &Timing, HSyncControl, VSyncControl);

  Status = FirstError(Status, RegWrite32(PciIo, CrtcReg(Crtc, CRTC_SURFACE_BASE), Unit.SurfaceBase));
  Status = FirstError(Status, RegWrite32(PciIo, CrtcReg(Crtc, SCALER_SOURCE_SIZE), (Width << 16) | Height));
  Status = FirstError(Status, RegWrite32(PciIo, CrtcReg(Crtc, CRTC_FETCH_WIDTH), Width));
  Status = FirstError(Status, RegWrite32(PciIo, CrtcReg(Crtc, CRTC_SURFACE_PITCH), Pitch));
  Status = FirstError(Status, RegWrite32(PciIo, CrtcReg(Crtc, CRTC_FETCH_HEIGHT), Height));
  Status = FirstError(Status, RegWrite32(PciIo, CrtcReg(Crtc, CRTC_SURFACE_ENABLE), 1));
  Status = FirstError(Status, RegWrite8(PciIo, CrtcReg(Crtc, CRTC_SURFACE_FORMAT), SURFACE_FORMAT_DEPTH_32));
  if (Crtc == 0) {
    // The drawing engine works on CRTC 1's surface.
    Status = FirstError(Status, RegWrite32(PciIo, ENGINE_DEST_PITCH, Pitch * 4));
    Status = FirstError(Status, RegWrite32(PciIo, ENGINE_SRC_PITCH, Pitch * 4));
  }
  UINT32 Format = RegRead32(PciIo, CrtcReg(Crtc, CRTC_SURFACE_FORMAT));
  Status = FirstError(Status, RegWrite32(PciIo, CrtcReg(Crtc, CRTC_SURFACE_FORMAT),
                                         (Format & ~SURFACE_FORMAT_BIT20) | SURFACE_FORMAT_BIT21));

  Status = FirstError(Status, RegWrite32(PciIo, SURFACE_WINDOW_CONTROL, 0));
  Status = FirstError(Status, RegWrite32(PciIo, Unit.WindowPitch, SurfacePitchWord(Pitch)));
  Status = FirstError(Status, RegWrite32(PciIo, Unit.WindowStart, Unit.SurfaceBase));
  Status = FirstError(Status, RegWrite32(PciIo, Unit.WindowEnd, End));
  if (Crtc != 0) Status = FirstError(Status, RegWrite32(PciIo, CrtcReg(Crtc, CRTC_SURFACE_UPDATE), 1));
  return FirstError(Status, RegWrite32(PciIo, CrtcReg(Crtc, CRTC_CONTROL), CRTC_CONTROL_RUN));
}

void SetSurfaceSize(ADAPTER_CONTEXT* Context, UINT8 Crtc, UINT32 Width, UINT32 Height) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  const CRTC_UNIT& Unit = CrtcUnit(Crtc);
  UINT32 Pitch = SurfacePitch(Width, 4);
  RegWrite32(PciIo, CrtcReg(Crtc, CRTC_SURFACE_PITCH), Pitch);
  if (Crtc == 0) {
    RegWrite32(PciIo, ENGINE_DEST_PITCH, Pitch * 4);
    RegWrite32(PciIo, ENGINE_SRC_PITCH, Pitch * 4);
  }
  RegWrite32(PciIo, Unit.WindowPitch, SurfacePitchWord(Pitch));
  RegWrite32(PciIo, Unit.WindowEnd, SurfaceEnd(Unit.SurfaceBase, Pitch, Height));
}

UINT32 ShownSurfacePitch(const ADAPTER_CONTEXT* Context, UINT8 Display) {
  const UGA_MODE_RECORD& Native = Context->NativeMode[Display];
  const UGA_MODE_RECORD& Current = Context->CurrentMode[Display];
  BOOLEAN Larger = Current.HorizontalResolution > Native.HorizontalResolution ||
                   Current.VerticalResolution > Native.VerticalResolution;
  UINT64 Width = Larger ? Current.HorizontalResolution : Native.HorizontalResolution;
  return SurfacePitch(static_cast<UINT32>(Width), 4);
}

void DisableCrtc(ADAPTER_CONTEXT* Context, UINT8 Crtc) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  const CRTC_UNIT& Unit = CrtcUnit(Crtc);
  const UINT32 PllControl = PixelPll(Crtc).Control;

  RegWrite32(PciIo, CrtcReg(Crtc, CRTC_CONTROL), CRTC_CONTROL_OFF);
  // CRTC 1's PLL control is rewritten as a dword, CRTC 2's as a byte.
  if (Crtc == 0) {
    RegWrite32(PciIo, PllControl, RegRead32(PciIo, PllControl) | PLL_CONTROL_HOLD);
  } else {
    RegWrite8(PciIo, PllControl, (UINT8)(RegRead8(PciIo, PllControl) | PLL_CONTROL_HOLD));
  }
  RegWrite32(PciIo, Unit.WindowStart, 0);
  RegWrite32(PciIo, Unit.WindowEnd, 0);
  RegWrite32(PciIo, Unit.WindowPitch, 0);
}

void SetSurfaceDepth(ADAPTER_CONTEXT* Context) {
  UINT8 Display = Context->CurrentDisplay;
  UINT8 Crtc = Context->CrtcIndex[Display];
  if (Crtc != 0 && Crtc != 1) return;

  UINT32 Code;
  switch (Context->CurrentMode[Display].ColorDepth) {
    case 8: Code = SURFACE_FORMAT_DEPTH_8; break;
    case 16: Code = SURFACE_FORMAT_DEPTH_16; break;
    case 32: Code = SURFACE_FORMAT_DEPTH_32; break;
    default: return;
  }
  UINT32 Offset = CrtcReg(Crtc, CRTC_SURFACE_FORMAT);
  UINT32 Format = RegRead32(Context->PciIo, Offset);
  RegWrite32(Context->PciIo, Offset, (Format & ~SURFACE_FORMAT_DEPTH_MASK) | Code);
}

void LoadIdentityLut(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  for (UINT8 Table = 0; Table < 2; Table++) {
    RegWrite8(PciIo, LUT_TABLE_SELECT, Table);
    for (UINT32 Index = 0; Index < LUT_ENTRIES; Index++) {
      // The start index auto-increments after the first entry.
      if (Index == 0) RegWrite8(PciIo, LUT_START_INDEX, 0);
      UINT32 E = WidenBits(Index, 8, 10);
      RegWrite32(PciIo, LUT_DATA, (E << 20) | (E << 10) | E);
    }
  }
}
