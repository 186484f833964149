#include "driver/engine/outputs.h"

#include "driver/engine/crtc.h"
#include "driver/engine/scaler.h"
#include "driver/engine/tmds.h"
#include "driver/engine/tv.h"
#include "driver/hw/dac.h"
#include "driver/hw/properties.h"
#include "driver/hw/regmap/crtc.h"
#include "driver/hw/regmap/engine2d.h"
#include "driver/hw/regmap/scaler.h"
#include "driver/hw/regs.h"

namespace {

// The sequence programs display slot 0 only; slot 1 is never lit here.
constexpr UINT8 PROGRAMMED_DISPLAYS = 1;

// The boot output's name for the platform, characters only, no terminator.
void ReportBootOutput(ADAPTER_CONTEXT* Context, const char* Name, UINT32 Size) {
  SetDisplayProperty(Context, u"0", u"ZEY,EFIDisplay", Size, Name);
}

// The native size shown unscaled: CurrentMode takes NativeMode's size and
// depth (not its refresh).
void ShowNativeMode(ADAPTER_CONTEXT* Context, UINT8 Display) {
  UGA_MODE_RECORD& Current = Context->CurrentMode[Display];
  const UGA_MODE_RECORD& Native = Context->NativeMode[Display];
  Current.HorizontalResolution = Native.HorizontalResolution;
  Current.VerticalResolution = Native.VerticalResolution;
  Current.ColorDepth = Native.ColorDepth;
}

// The mode asked for is the native one, in size and depth.
BOOLEAN IsNativeMode(const ADAPTER_CONTEXT* Context, UINT8 Display) {
  const UGA_MODE_RECORD& Current = Context->CurrentMode[Display];
  const UGA_MODE_RECORD& Native = Context->NativeMode[Display];
  return Current.HorizontalResolution == Native.HorizontalResolution &&
         Current.VerticalResolution == Native.VerticalResolution && Current.ColorDepth == Native.ColorDepth;
}

// The surface holds the native raster and the requested source, each laid
// out on the same pitch.
BOOLEAN ShownSurfaceFits(const ADAPTER_CONTEXT* Context, UINT8 Display, UINT8 Crtc) {
  const UGA_MODE_RECORD& Native = Context->NativeMode[Display];
  const UGA_MODE_RECORD& Current = Context->CurrentMode[Display];
  UINT64 Width = Native.HorizontalResolution > Current.HorizontalResolution ? Native.HorizontalResolution
                                                                             : Current.HorizontalResolution;
  UINT64 Height = Native.VerticalResolution > Current.VerticalResolution ? Native.VerticalResolution
                                                                          : Current.VerticalResolution;
  return SurfaceFitsAperture(Context, Crtc, Width, Height);
}

}  // namespace

EFI_STATUS ClearDisplaySurface(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  const UGA_MODE_RECORD& Native = Context->NativeMode[Context->CurrentDisplay];
  UINT32 Pitch = (UINT32)((Native.HorizontalResolution + 255) & ~255ull);
  UINT32 Height = (UINT32)Native.VerticalResolution;
  // The fill's lines are wider than the surface's (256 pixels against 256
  // bytes): under a raster that nearly fills the aperture, or one that
  // never fitted, they would run past its end. Only the lines the aperture
  // holds are filled; a surface that fits lies within them.
  if (Context->FrameBufferSize != 0 && Pitch != 0) {
    UINT64 Room = Context->FrameBufferSize > CRTC1_SURFACE_BASE ? Context->FrameBufferSize - CRTC1_SURFACE_BASE : 0;
    UINT64 Lines = Room / (static_cast<UINT64>(Pitch) * 4);
    if (Height > Lines) Height = static_cast<UINT32>(Lines);
  }

  RegWrite32(PciIo, ENGINE_FILL_COLOUR, 0);
  // CRTC 1's surface, whichever CRTC the display is on.
  RegWrite32(PciIo, ENGINE_DEST_OFFSET, CRTC1_SURFACE_BASE);
  RegWrite32(PciIo, ENGINE_DEST_PITCH, Pitch * 4);
  EngineFillRect(Context, 0, 0, Pitch, Height);
  return EFI_SUCCESS;
}

namespace {

// The steps after the surface clear, for display slot 0. Every step runs
// whatever an earlier one returned, and the first failure is the result:
// a CRTC that did not take its mode is not hidden by an output that came
// on, nor a scaler refusal (the native size shown instead) by either.
EFI_STATUS LightDisplays(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  EFI_STATUS Status = EFI_SUCCESS;

  for (Context->CurrentDisplay = 0; Context->CurrentDisplay < PROGRAMMED_DISPLAYS; Context->CurrentDisplay++) {
    UINT8 Display = Context->CurrentDisplay;
    UINT8 Crtc = Context->CrtcIndex[Display];

    if (Crtc == 0 || Crtc == 1) {
      RegWrite32(PciIo, CrtcReg(Crtc, SCALER_UPDATE), SCALER_UPDATE_VALUE);
      Status = FirstError(Status, SetCrtcMode(Context, Crtc, Context->OutputChannel[Display]));
      RegWrite32(PciIo, CrtcReg(Crtc, SCALER_UPDATE), SCALER_UPDATE_VALUE);

      if (Context->UseNativeMode[Display]) {
        ShowNativeMode(Context, Display);
      } else {
        EFI_STATUS Scaler = SetupScaler(Context);
        // A refusal at the native size itself (the clock checks come
        // first) still shows the request as asked: nothing to report.
        if (Scaler != EFI_INVALID_PARAMETER || !IsNativeMode(Context, Display)) Status = FirstError(Status, Scaler);
        if (Scaler == EFI_INVALID_PARAMETER) {
          ShowNativeMode(Context, Display);
          const UGA_MODE_RECORD& Current = Context->CurrentMode[Display];
          UINT32 Width = (UINT32)Current.HorizontalResolution;
          UINT32 Height = (UINT32)Current.VerticalResolution;
          RegWrite32(PciIo, CrtcReg(Crtc, SCALER_SOURCE_SIZE), (Width << 16) | Height);
          RegWrite32(PciIo, CrtcReg(Crtc, CRTC_FETCH_WIDTH), Width);
          RegWrite32(PciIo, CrtcReg(Crtc, CRTC_FETCH_HEIGHT), Height);
        }
      }

      // A surface past the end of the frame buffer would be scanned out of
      // memory the adapter does not have: the CRTC goes off again and the
      // caller learns that nothing is shown, whatever came before.
      if (!ShownSurfaceFits(Context, Display, Crtc)) {
        DisableCrtc(Context, Crtc);
        return EFI_DEVICE_ERROR;
      }
    }

    SetSurfaceDepth(Context);

    UINT32 Connector = Context->ConnectorType[Display];
    if (Connector & CONNECTOR_DIGITAL2) {
      Status = FirstError(Status, EnableTmds(Context));
      ReportBootOutput(Context, "TMDSB", 5);
    }
    if (Connector & CONNECTOR_ANALOGUE_A) {
      Status = FirstError(Status, EnableDacA(Context));
      ReportBootOutput(Context, "VGAA", 4);
    }
    if (Connector & CONNECTOR_ANALOGUE_B) {
      Status = FirstError(Status, EnableDacB(Context));
      ReportBootOutput(Context, "VGAB", 4);
    }
    if (Connector & (CONNECTOR_TV1 | CONNECTOR_TV2)) {
      Status = FirstError(Status, EnableTv(Context));
      ReportBootOutput(Context, "TV", 2);
    }
  }
  return Status;
}

EFI_STATUS DescribeLit(ADAPTER_CONTEXT* Context, EFI_STATUS Status) {
  // Graphics Output describes what is lit.
  if (Context->ModesChanged != nullptr) Context->ModesChanged(Context);
  return Status;
}

}  // namespace

EFI_STATUS ProgramDisplayOutputs(ADAPTER_CONTEXT* Context) {
  ClearDisplaySurface(Context);
  return DescribeLit(Context, LightDisplays(Context));
}

EFI_STATUS RelightDisplays(ADAPTER_CONTEXT* Context) {
  if (!Context->EngineStarted) return EFI_SUCCESS;
  return DescribeLit(Context, LightDisplays(Context));
}

EFI_STATUS ShutDownOutputs(ADAPTER_CONTEXT* Context) {
  DisableDacA(Context);
  DisableDacB(Context);
  DisableTv(Context);
  DisableCrtc(Context, 0);
  DisableCrtc(Context, 1);
  DelayMicroseconds(Context, 10);
  return EFI_SUCCESS;
}
