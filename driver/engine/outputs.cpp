#include "driver/engine/outputs.h"

#include "driver/engine/crtc.h"
#include "driver/engine/dac.h"
#include "driver/engine/engine_regs.h"
#include "driver/engine/scaler.h"
#include "driver/engine/tmds.h"
#include "driver/engine/tv.h"
#include "driver/hw/regs.h"
#include "driver/platform/properties.h"

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

}  // namespace

EFI_STATUS ClearDisplaySurface(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  const UGA_MODE_RECORD& Native = Context->NativeMode[Context->CurrentDisplay];
  UINT32 Pitch = (UINT32)((Native.HorizontalResolution + 255) & ~255ull);

  RegWrite32(PciIo, ENGINE_FILL_COLOUR, 0);
  // CRTC 1's surface, whichever CRTC the display is on.
  RegWrite32(PciIo, ENGINE_DEST_OFFSET, CRTC1_SURFACE_BASE);
  RegWrite32(PciIo, ENGINE_DEST_PITCH, Pitch * 4);
  EngineFillRect(Context, 0, 0, Pitch, (UINT32)Native.VerticalResolution);
  return EFI_SUCCESS;
}

EFI_STATUS ProgramDisplayOutputs(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  EFI_STATUS Status = EFI_SUCCESS;

  ClearDisplaySurface(Context);

  for (Context->CurrentDisplay = 0; Context->CurrentDisplay < PROGRAMMED_DISPLAYS; Context->CurrentDisplay++) {
    UINT8 Display = Context->CurrentDisplay;
    UINT8 Crtc = Context->CrtcIndex[Display];

    if (Crtc == 0 || Crtc == 1) {
      UINT32 Block = CrtcBlockOffset(Crtc);
      RegWrite32(PciIo, Block + SCALER_UPDATE, 0x10);
      Status = SetCrtcMode(Context, Crtc, Context->OutputChannel[Display]);
      RegWrite32(PciIo, Block + SCALER_UPDATE, 0x10);

      if (Context->UseNativeMode[Display]) {
        ShowNativeMode(Context, Display);
      } else {
        Status = SetupScaler(Context);
        if (Status == EFI_INVALID_PARAMETER) {
          ShowNativeMode(Context, Display);
          const UGA_MODE_RECORD& Current = Context->CurrentMode[Display];
          UINT32 Width = (UINT32)Current.HorizontalResolution;
          UINT32 Height = (UINT32)Current.VerticalResolution;
          RegWrite32(PciIo, Block + SCALER_SOURCE_SIZE, (Width << 16) | Height);
          RegWrite32(PciIo, Block + CRTC_FETCH_WIDTH, Width);
          RegWrite32(PciIo, Block + CRTC_FETCH_HEIGHT, Height);
        }
      }
    }

    SetSurfaceDepth(Context);

    UINT32 Connector = Context->ConnectorType[Display];
    if (Connector & CONNECTOR_DIGITAL2) {
      Status = EnableTmds(Context);
      ReportBootOutput(Context, "TMDSB", 5);
    }
    if (Connector & CONNECTOR_ANALOGUE_A) {
      Status = EnableDacA(Context);
      ReportBootOutput(Context, "VGAA", 4);
    }
    if (Connector & CONNECTOR_ANALOGUE_B) {
      Status = EnableDacB(Context);
      ReportBootOutput(Context, "VGAB", 4);
    }
    if (Connector & (CONNECTOR_TV1 | CONNECTOR_TV2)) {
      Status = EnableTv(Context);
      ReportBootOutput(Context, "TV", 2);
    }
  }
  return Status;
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
