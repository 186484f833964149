// UGA mode control: SetMode finds the displays, chooses each display's
// timing source for the request, starts or resets the engine and lights
// display 0; GetMode reports what is in force.
#include "driver/uga/uga_draw.h"

#include "driver/engine/outputs.h"
#include "driver/engine/startup.h"
#include "driver/engine/timing.h"
#include "driver/hw/discovery.h"
#include "driver/hw/regmap/system.h"
#include "driver/hw/regs.h"
#include "driver/lib/driverlib.h"
#include "driver/hw/properties.h"

namespace {

const CHAR8 kModuleName[] = "quovanuga";
constexpr UINT32 kGetModeSignatureLine = 441;
constexpr UINT32 kSetModeSignatureLine = 325;

constexpr UINT64 kDebugStartFailure = 0x80000000ULL;

// What GetMode reports before the engine runs.
constexpr UINT32 kIdleWidth = 800;
constexpr UINT32 kIdleHeight = 600;
constexpr UINT32 kIdleDepth = 32;
constexpr UINT32 kIdleRefresh = 60;

BOOLEAN IsTelevision(UINT32 ConnectorType) { return (ConnectorType & (CONNECTOR_TV1 | CONNECTOR_TV2)) != 0; }

// Whether display CurrentDisplay, taken off the list, would get a timing
// that can be shown at all: the default display and a refused first
// detailed timing leave an all-zero record, which would light a 0x0 raster.
BOOLEAN HasOwnTiming(ADAPTER_CONTEXT* Context) {
  UINT8 Display = Context->CurrentDisplay;
  BOOLEAN Saved = Context->ModeFromList[Display];
  Context->ModeFromList[Display] = 0;
  CRTC_TIMING Timing;
  BuildCrtcTiming(Context, Context->OutputChannel[Display], &Timing);
  Context->ModeFromList[Display] = Saved;
  return Timing.PixelClock != 0 && Timing.ActiveWidth != 0 && Timing.ActiveHeight != 0;
}

// First supported list entry with exactly the requested four numbers.
BOOLEAN FindListEntry(const ADAPTER_CONTEXT* Context, UINT64 Width, UINT64 Height, UINT64 Depth, UINT64 Refresh,
                      UINT64* Index) {
  for (UINT32 Entry = 0; Entry < Context->ModeCount; Entry++) {
    const UGA_MODE_RECORD& Row = Context->ModeList[Entry];
    if (Row.HorizontalResolution == Width && Row.VerticalResolution == Height && Row.ColorDepth == Depth &&
        Row.RefreshRate == Refresh && Row.Supported != 0) {
      *Index = Entry;
      return EFI_TRUE;
    }
  }
  return EFI_FALSE;
}

void ChooseTimingSource(ADAPTER_CONTEXT* Context, UINT64 Width, UINT64 Height, UINT64 Depth, UINT64 Refresh) {
  UINT8 Display = Context->CurrentDisplay;
  MarkSupportedModes(Context, Display);

  UINT64 Index = 0;
  if (FindListEntry(Context, Width, Height, Depth, Refresh, &Index)) {
    Context->ModeFromList[Display] = 1;
    Context->ModeIndex[Display] = Index;
    Context->UseNativeMode[Display] = 0;
  } else if (IsTelevision(Context->ConnectorType[Display]) || !HasOwnTiming(Context)) {
    // No timing of its own to scale onto: stay on a list row (a television
    // keeps the encoder's row that discovery chose).
    if (!Context->ModeFromList[Display] || Context->ModeIndex[Display] >= Context->ModeCount) {
      Context->ModeIndex[Display] = 0;
    }
    Context->ModeFromList[Display] = 1;
    Context->UseNativeMode[Display] = 0;
  } else {
    Context->ModeFromList[Display] = 0;
    Context->UseNativeMode[Display] = 0;
  }

  UGA_MODE_RECORD& Current = Context->CurrentMode[Display];
  Current.HorizontalResolution = Width;
  Current.VerticalResolution = Height;
  Current.ColorDepth = Depth;
  Current.RefreshRate = Refresh;
}

}  // namespace

EFI_STATUS EFIAPI UgaDrawGetMode(EFI_UGA_DRAW_PROTOCOL* This, UINT32* HorizontalResolution,
                                 UINT32* VerticalResolution, UINT32* ColorDepth, UINT32* RefreshRate) {
  ADAPTER_CONTEXT* Context = ContextFromUgaDraw(This, kModuleName, kGetModeSignatureLine);
  if (Context == nullptr) return EFI_INVALID_PARAMETER;
  if (HorizontalResolution == nullptr || VerticalResolution == nullptr || ColorDepth == nullptr ||
      RefreshRate == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  GetDisplayMode(Context, HorizontalResolution, VerticalResolution, ColorDepth, RefreshRate);
  return EFI_SUCCESS;
}

void GetDisplayMode(const ADAPTER_CONTEXT* Context, UINT32* HorizontalResolution, UINT32* VerticalResolution,
                    UINT32* ColorDepth, UINT32* RefreshRate) {
  if (Context->EngineStarted) {
    const UGA_MODE_RECORD& Current = Context->CurrentMode[0];
    *HorizontalResolution = (UINT32)Current.HorizontalResolution;
    *VerticalResolution = (UINT32)Current.VerticalResolution;
    *ColorDepth = (UINT32)Current.ColorDepth;
    *RefreshRate = (UINT32)Current.RefreshRate;
  } else {
    *HorizontalResolution = kIdleWidth;
    *VerticalResolution = kIdleHeight;
    *ColorDepth = kIdleDepth;
    *RefreshRate = kIdleRefresh;
  }
}

EFI_STATUS EFIAPI UgaDrawSetMode(EFI_UGA_DRAW_PROTOCOL* This, UINT32 HorizontalResolution,
                                 UINT32 VerticalResolution, UINT32 ColorDepth, UINT32 RefreshRate) {
  ADAPTER_CONTEXT* Context = ContextFromUgaDraw(This, kModuleName, kSetModeSignatureLine);
  if (Context == nullptr) return EFI_INVALID_PARAMETER;
  return SetDisplayMode(Context, HorizontalResolution, VerticalResolution, ColorDepth, RefreshRate);
}

EFI_STATUS SetDisplayMode(ADAPTER_CONTEXT* Context, UINT32 HorizontalResolution, UINT32 VerticalResolution,
                          UINT32 ColorDepth, UINT32 RefreshRate) {
  DiscoverDisplays(Context);

  for (Context->CurrentDisplay = 0; Context->CurrentDisplay < Context->DisplayCount &&
                                    Context->CurrentDisplay < DISPLAY_SLOTS;
       Context->CurrentDisplay++) {
    ChooseTimingSource(Context, HorizontalResolution, VerticalResolution, ColorDepth, RefreshRate);
  }

  // A failed start-up leaves the engine unstarted, so Blt would refuse
  // every call: that failure, not the sequencing's, is what the caller gets.
  EFI_STATUS StartStatus = EFI_SUCCESS;
  if (!Context->EngineStarted) {
    StartStatus = StartDisplayEngine(Context);
    if (EFI_ERROR(StartStatus)) {
      DebugOut(kDebugStartFailure, "KT270: engine start-up failed: %r\n", StartStatus);
    }
  } else {
    Context->CurrentDisplay = 0;
    ShutDownOutputs(Context);
  }

  EFI_STATUS Status = ProgramDisplayOutputs(Context);

  Context->SwGpioInfo = RegRead32(Context->PciIo, SYS_SW_GPIO);
  AddDeviceProperty(Context, u"ZEY,SWGPIO Info", sizeof(Context->SwGpioInfo), &Context->SwGpioInfo, EFI_TRUE);

  return EFI_ERROR(StartStatus) ? StartStatus : Status;
}
