// Graphics Output: QueryMode, SetMode and Blt on the UGA Draw paths. The
// pixel layout is UGA's (blue, green, red, reserved) and so is the frame
// buffer's, so Blt passes pixels through unchanged.
//
// Loaders and kernels take the mode record at its word: they read MaxMode
// and QueryMode once, often draw in the mode in force without setting one,
// and keep writing into FrameBufferBase after ExitBootServices. So the list
// is built once, at Start, from discovery, and never renumbered; Start
// lights mode 0; a failed SetMode leaves the record and the screen as they
// were.
#include "driver/uga/gop.h"

#include "driver/engine/crtc.h"
#include "driver/engine/scaler.h"
#include "driver/engine/timing.h"
#include "driver/hw/discovery.h"
#include "driver/hw/edid.h"
#include "driver/hw/modelist.h"
#include "driver/hw/regmap/crtc.h"
#include "driver/lib/driverlib.h"
#include "driver/uga/uga_draw.h"

namespace {

const CHAR8 kModuleName[] = "quovangop";
constexpr UINT32 kDepth = 32;
constexpr UINT32 kBytesPerPixel = 4;

// What GetMode reports before the engine runs, listed when nothing else is.
constexpr GOP_MODE kIdleMode = {800, 600, 60, 832};

// The CRTC whose surface Graphics Output describes: display 0's, CRTC 1's
// when it has none (the surface clear uses CRTC 1's base).
UINT8 ShownCrtc(const ADAPTER_CONTEXT* Context) {
  return Context->DisplayCount > 0 && Context->CrtcIndex[0] == 1 ? 1 : 0;
}

// Display 0's own raster, as SetMode would program it taken off the list:
// its detailed or panel timing. Television and the default display have
// none (they stay on list rows).
struct OWN_RASTER {
  GOP_MODE Mode;
  UINT64 PixelClock;  // 10 kHz units
};

BOOLEAN IsTelevision(const ADAPTER_CONTEXT* Context) {
  return (Context->ConnectorType[0] & (CONNECTOR_TV1 | CONNECTOR_TV2)) != 0;
}

BOOLEAN OwnRaster(ADAPTER_CONTEXT* Context, OWN_RASTER* Own) {
  if (Context->DisplayCount == 0 || IsTelevision(Context)) return EFI_FALSE;
  // The timing source depends on these two; they are put back unchanged.
  UINT8 SavedDisplay = Context->CurrentDisplay;
  BOOLEAN SavedFromList = Context->ModeFromList[0];
  Context->CurrentDisplay = 0;
  Context->ModeFromList[0] = 0;
  CRTC_TIMING Timing;
  BuildCrtcTiming(Context, Context->OutputChannel[0], &Timing);
  Own->PixelClock = SelectedPixelClock(Context, Context->OutputChannel[0]);
  Context->ModeFromList[0] = SavedFromList;
  Context->CurrentDisplay = SavedDisplay;
  if (Timing.PixelClock == 0 || Timing.ActiveWidth == 0 || Timing.ActiveHeight == 0) return EFI_FALSE;
  Own->Mode = {Timing.ActiveWidth, Timing.ActiveHeight,
               ComputeRefresh(Timing.PixelClock, Timing.HTotalReg, Timing.VTotalReg),
               SurfacePitch(Timing.ActiveWidth, kBytesPerPixel)};
  return EFI_TRUE;
}

GOP_MODE RowMode(const ADAPTER_CONTEXT* Context, UINT64 Row) {
  const UGA_MODE_RECORD& R = Context->ModeList[Row];
  UINT32 Width = static_cast<UINT32>(R.HorizontalResolution);
  return {Width, static_cast<UINT32>(R.VerticalResolution), static_cast<UINT32>(R.RefreshRate),
          SurfacePitch(Width, kBytesPerPixel)};
}

// Each size once; a surface past the aperture's end is never offered.
// ShownWidth x ShownHeight is the surface the CRTC then scans (the native
// raster for a scaled mode).
void AddMode(ADAPTER_CONTEXT* Context, const GOP_MODE& Mode, UINT32 ShownWidth, UINT32 ShownHeight) {
  UINT32& Count = Context->GopMode.MaxMode;
  if (Mode.Width == 0 || Mode.Height == 0 || Count >= GOP_MAX_MODES) return;
  for (UINT32 Index = 0; Index < Count; ++Index) {
    if (Context->GopModes[Index].Width == Mode.Width && Context->GopModes[Index].Height == Mode.Height) return;
  }
  if (!SurfaceFitsAperture(Context, ShownCrtc(Context), ShownWidth, ShownHeight)) return;
  Context->GopModes[Count++] = Mode;
}

BOOLEAN Declared(const ADAPTER_CONTEXT* Context, UINT32 Row) {
  return (Context->ModeSupportMask[0] & (0x80000000u >> Row)) != 0;
}

// A panel or digital display shows any smaller built-in size through the
// scaler on its own raster, if the engine clock allows it.
BOOLEAN ScalesOnto(const ADAPTER_CONTEXT* Context, const OWN_RASTER& Own, const GOP_MODE& Row) {
  if ((Context->ConnectorType[0] & (CONNECTOR_PANEL | CONNECTOR_DIGITAL1 | CONNECTOR_DIGITAL2)) == 0) return EFI_FALSE;
  if (Row.Width > Own.Mode.Width || Row.Height > Own.Mode.Height) return EFI_FALSE;
  return ScalerClockAllows(Context->EngineClock, Own.PixelClock, Own.Mode.Width, Own.Mode.Height, Row.Width,
                           Row.Height);
}

void BuildModeList(ADAPTER_CONTEXT* Context) {
  Context->GopMode.MaxMode = 0;
  OWN_RASTER Own;
  BOOLEAN HasOwn = OwnRaster(Context, &Own);
  if (HasOwn) {
    AddMode(Context, Own.Mode, Own.Mode.Width, Own.Mode.Height);
  } else if (Context->DisplayCount > 0 && IsTelevision(Context)) {
    const UINT64 TvRow = Context->TvUseNtsc[0] ? MODE_ROW_TV_60HZ : MODE_ROW_TV_50HZ;
    if (TvRow < Context->ModeCount) {
      const GOP_MODE Tv = RowMode(Context, TvRow);
      AddMode(Context, Tv, Tv.Width, Tv.Height);
    }
  }
  // A declared row is lit with its own timing.
  for (UINT32 Row = 0; Row < Context->ModeCount; ++Row) {
    if (!Declared(Context, Row)) continue;
    const GOP_MODE Mode = RowMode(Context, Row);
    AddMode(Context, Mode, Mode.Width, Mode.Height);
  }
  // Any other row is shown scaled: on the native raster, laid out with its
  // pitch.
  for (UINT32 Row = 0; HasOwn && Row < Context->ModeCount; ++Row) {
    if (Declared(Context, Row)) continue;
    GOP_MODE Mode = RowMode(Context, Row);
    if (!ScalesOnto(Context, Own, Mode)) continue;
    Mode.Pitch = Own.Mode.Pitch;
    AddMode(Context, Mode, Own.Mode.Width, Own.Mode.Height);
  }
  // A display with a raster of its own that fits nowhere gets no mode at
  // all: offering the idle size would promise what cannot be shown.
  if (Context->GopMode.MaxMode == 0 && !HasOwn) AddMode(Context, kIdleMode, kIdleMode.Width, kIdleMode.Height);
}

void FillInfo(const GOP_MODE& Mode, UINT32 Pitch, EFI_GRAPHICS_OUTPUT_MODE_INFORMATION* Info) {
  *Info = EFI_GRAPHICS_OUTPUT_MODE_INFORMATION{};
  Info->Version = 0;
  Info->HorizontalResolution = Mode.Width;
  Info->VerticalResolution = Mode.Height;
  Info->PixelFormat = PixelBlueGreenRedReserved8BitPerColor;
  Info->PixelsPerScanLine = Pitch;
}

// The record describing list entry Index with the given pitch.
void DescribeMode(ADAPTER_CONTEXT* Context, UINT32 Index, UINT32 Pitch) {
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE& Record = Context->GopMode;
  Record.Mode = Index;
  FillInfo(Context->GopModes[Index], Pitch, &Context->GopInfo);
  Record.FrameBufferSize =
      static_cast<UINTN>(Pitch) * kBytesPerPixel * Context->GopModes[Index].Height;
}

struct SAVED_RECORD {
  UINT32 Mode;
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION Info;
  UINTN FrameBufferSize;
};

SAVED_RECORD SaveRecord(const ADAPTER_CONTEXT* Context) {
  return {Context->GopMode.Mode, Context->GopInfo, Context->GopMode.FrameBufferSize};
}

void RestoreRecord(ADAPTER_CONTEXT* Context, const SAVED_RECORD& Saved) {
  Context->GopMode.Mode = Saved.Mode;
  Context->GopInfo = Saved.Info;
  Context->GopMode.FrameBufferSize = Saved.FrameBufferSize;
}

// The UGA Draw mode set for the entry, then the screen black. A mode that
// comes up at another size (the scaler's refusal) has not been set.
EFI_STATUS LightListedMode(ADAPTER_CONTEXT* Context, UINT32 ModeNumber) {
  GOP_MODE& Mode = Context->GopModes[ModeNumber];
  EFI_STATUS Status = SetDisplayMode(Context, Mode.Width, Mode.Height, kDepth, Mode.Refresh);
  if (EFI_ERROR(Status)) return Status;
  UINT32 Width = 0, Height = 0, Depth = 0, Refresh = 0;
  GetDisplayMode(Context, &Width, &Height, &Depth, &Refresh);
  if (Width != Mode.Width || Height != Mode.Height) return EFI_DEVICE_ERROR;
  // The pitch it really got is the one QueryMode reports from now on.
  Mode.Pitch = ShownSurfacePitch(Context, 0);
  DescribeMode(Context, ModeNumber, Mode.Pitch);
  EFI_UGA_PIXEL Black = {0, 0, 0, 0};
  return BltOnDisplays(Context, &Black, EfiUgaVideoFill, 0, 0, 0, 0, Width, Height, 0);
}

// Mode ModeNumber lit, or, when it cannot be, the mode in force lit again
// and the record exactly as it was.
EFI_STATUS LightMode(ADAPTER_CONTEXT* Context, UINT32 ModeNumber) {
  const BOOLEAN WasLit = Context->EngineStarted;
  const SAVED_RECORD Saved = SaveRecord(Context);
  if (!EFI_ERROR(LightListedMode(Context, ModeNumber))) return EFI_SUCCESS;
  DebugOut(DEBUG_ERROR, "GOP SetMode: mode %d could not be lit\n", ModeNumber);
  if (WasLit && Saved.Mode != ModeNumber && EFI_ERROR(LightListedMode(Context, Saved.Mode))) {
    DebugOut(DEBUG_ERROR, "GOP SetMode: the mode in force could not be lit again\n");
  }
  RestoreRecord(Context, Saved);
  return EFI_DEVICE_ERROR;
}

BOOLEAN NeedsBuffer(EFI_GRAPHICS_OUTPUT_BLT_OPERATION Operation) { return Operation != EfiBltVideoToVideo; }

// Whether a Width x Height rectangle at X, Y lies inside the mode in force.
BOOLEAN InsideMode(const EFI_GRAPHICS_OUTPUT_MODE_INFORMATION& Info, UINTN X, UINTN Y, UINTN Width,
                   UINTN Height) {
  return X < Info.HorizontalResolution && Width <= Info.HorizontalResolution - X &&
         Y < Info.VerticalResolution && Height <= Info.VerticalResolution - Y;
}

// Graphics Output's own argument checks, before the engine is touched.
EFI_STATUS CheckBlt(const ADAPTER_CONTEXT* Context, EFI_GRAPHICS_OUTPUT_BLT_PIXEL* BltBuffer,
                    EFI_GRAPHICS_OUTPUT_BLT_OPERATION Operation, UINTN SourceX, UINTN SourceY, UINTN DestinationX,
                    UINTN DestinationY, UINTN Width, UINTN Height) {
  if (static_cast<UINT32>(Operation) >= EfiGraphicsOutputBltOperationMax) return EFI_INVALID_PARAMETER;
  if (Width == 0 || Height == 0) return EFI_INVALID_PARAMETER;
  if (NeedsBuffer(Operation) && BltBuffer == nullptr) return EFI_INVALID_PARAMETER;
  const EFI_GRAPHICS_OUTPUT_MODE_INFORMATION& Info = Context->GopInfo;
  const BOOLEAN ReadsVideo = Operation == EfiBltVideoToBltBuffer || Operation == EfiBltVideoToVideo;
  const BOOLEAN WritesVideo = Operation != EfiBltVideoToBltBuffer;
  if (ReadsVideo && !InsideMode(Info, SourceX, SourceY, Width, Height)) return EFI_INVALID_PARAMETER;
  if (WritesVideo && !InsideMode(Info, DestinationX, DestinationY, Width, Height)) return EFI_INVALID_PARAMETER;
  return EFI_SUCCESS;
}

}  // namespace

void InitializeGraphicsOutput(ADAPTER_CONTEXT* Context) {
  Context->Gop.QueryMode = GopQueryMode;
  Context->Gop.SetMode = GopSetMode;
  Context->Gop.Blt = GopBlt;
  Context->Gop.Mode = &Context->GopMode;
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE& Record = Context->GopMode;
  Record.MaxMode = 1;
  Context->GopModes[0] = kIdleMode;
  Record.Info = &Context->GopInfo;
  Record.SizeOfInfo = sizeof(EFI_GRAPHICS_OUTPUT_MODE_INFORMATION);
  Record.FrameBufferBase = Context->FrameBufferAddress + CrtcUnit(0).SurfaceBase;
  DescribeMode(Context, 0, Context->GopModes[0].Pitch);
  Context->EdidDiscovered = {0, nullptr};
  Context->EdidActive = {0, nullptr};
}

EFI_STATUS PrepareGraphicsOutput(ADAPTER_CONTEXT* Context) {
  DiscoverDisplays(Context);
  BuildModeList(Context);
  Context->GopMode.FrameBufferBase = Context->FrameBufferAddress + CrtcUnit(ShownCrtc(Context)).SurfaceBase;
  if (Context->GopMode.MaxMode == 0) {
    DebugOut(DEBUG_ERROR, "Start: no mode of the display fits the frame buffer\n");
    Context->GopInfo = EFI_GRAPHICS_OUTPUT_MODE_INFORMATION{};
    Context->GopMode.FrameBufferSize = 0;
  } else {
    DescribeMode(Context, 0, Context->GopModes[0].Pitch);
    // A display that cannot be lit now leaves the list as it is; the first
    // Blt tries again.
    if (EFI_ERROR(LightMode(Context, 0))) DebugOut(DEBUG_ERROR, "Start: mode 0 could not be lit\n");
  }

  UINT8 Edid[EDID_SEGMENT_SIZE];
  UINT32 Size = ReadEdidForOs(Context, 0, Edid);
  if (Size == 0) return EFI_SUCCESS;
  VOID* Block = nullptr;
  EFI_STATUS Status = gBS->AllocatePool(EfiBootServicesData, Size, &Block);
  if (EFI_ERROR(Status)) return Status;
  for (UINT32 Index = 0; Index < Size; ++Index) static_cast<UINT8*>(Block)[Index] = Edid[Index];
  Context->EdidDiscovered = {Size, static_cast<UINT8*>(Block)};
  Context->EdidActive = {Size, static_cast<UINT8*>(Block)};
  return EFI_SUCCESS;
}

void ReleaseGraphicsOutput(ADAPTER_CONTEXT* Context) {
  UINT8* Block = Context->EdidDiscovered.Edid;
  Context->EdidDiscovered = {0, nullptr};
  Context->EdidActive = {0, nullptr};
  if (Block != nullptr && EFI_ERROR(gBS->FreePool(Block))) DebugOut(DEBUG_ERROR, "StopAdapter: FreePool refused\n");
}

void SyncGraphicsOutput(ADAPTER_CONTEXT* Context) {
  if (!Context->EngineStarted) return;
  UINT32 Width = 0, Height = 0, Depth = 0, Refresh = 0;
  GetDisplayMode(Context, &Width, &Height, &Depth, &Refresh);
  const UINT32 Pitch = ShownSurfacePitch(Context, 0);
  for (UINT32 Index = 0; Index < Context->GopMode.MaxMode; ++Index) {
    if (Context->GopModes[Index].Width == Width && Context->GopModes[Index].Height == Height) {
      DescribeMode(Context, Index, Pitch);
      return;
    }
  }
  // A size set through UGA Draw or by the platform that the list does not
  // hold: the numbering stays, the information tells where to draw.
  FillInfo({Width, Height, Refresh, Pitch}, Pitch, &Context->GopInfo);
  Context->GopMode.FrameBufferSize = static_cast<UINTN>(Pitch) * kBytesPerPixel * Height;
}

EFI_STATUS EFIAPI GopQueryMode(EFI_GRAPHICS_OUTPUT_PROTOCOL* This, UINT32 ModeNumber, UINTN* SizeOfInfo,
                               EFI_GRAPHICS_OUTPUT_MODE_INFORMATION** Info) {
  ADAPTER_CONTEXT* Context = ContextFromGraphicsOutput(This, kModuleName, __LINE__);
  if (Context == nullptr || SizeOfInfo == nullptr || Info == nullptr) return EFI_INVALID_PARAMETER;
  if (ModeNumber >= Context->GopMode.MaxMode) return EFI_INVALID_PARAMETER;
  // The caller frees it, as Graphics Output has it.
  VOID* Block = nullptr;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, sizeof(EFI_GRAPHICS_OUTPUT_MODE_INFORMATION), &Block))) {
    return EFI_OUT_OF_RESOURCES;
  }
  auto* Answer = static_cast<EFI_GRAPHICS_OUTPUT_MODE_INFORMATION*>(Block);
  const GOP_MODE& Mode = Context->GopModes[ModeNumber];
  FillInfo(Mode, Mode.Pitch, Answer);
  *SizeOfInfo = sizeof(EFI_GRAPHICS_OUTPUT_MODE_INFORMATION);
  *Info = Answer;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI GopSetMode(EFI_GRAPHICS_OUTPUT_PROTOCOL* This, UINT32 ModeNumber) {
  ADAPTER_CONTEXT* Context = ContextFromGraphicsOutput(This, kModuleName, __LINE__);
  if (Context == nullptr) return EFI_INVALID_PARAMETER;
  if (ModeNumber >= Context->GopMode.MaxMode) return EFI_UNSUPPORTED;
  return LightMode(Context, ModeNumber);
}

EFI_STATUS EFIAPI GopBlt(EFI_GRAPHICS_OUTPUT_PROTOCOL* This, EFI_GRAPHICS_OUTPUT_BLT_PIXEL* BltBuffer,
                         EFI_GRAPHICS_OUTPUT_BLT_OPERATION BltOperation, UINTN SourceX, UINTN SourceY,
                         UINTN DestinationX, UINTN DestinationY, UINTN Width, UINTN Height, UINTN Delta) {
  ADAPTER_CONTEXT* Context = ContextFromGraphicsOutput(This, kModuleName, __LINE__);
  if (Context == nullptr) return EFI_INVALID_PARAMETER;
  EFI_STATUS Status =
      CheckBlt(Context, BltBuffer, BltOperation, SourceX, SourceY, DestinationX, DestinationY, Width, Height);
  if (EFI_ERROR(Status)) return Status;
  // Start lights mode 0; if it could not, the first draw tries again.
  if (!Context->EngineStarted &&
      (Context->GopMode.MaxMode == 0 || EFI_ERROR(LightMode(Context, Context->GopMode.Mode)))) {
    return EFI_DEVICE_ERROR;
  }
  // A Graphics Output fill takes the buffer's first pixel, wherever the
  // source coordinates point.
  if (BltOperation == EfiBltVideoFill) {
    SourceX = 0;
    SourceY = 0;
  }
  return BltOnDisplays(Context, reinterpret_cast<EFI_UGA_PIXEL*>(BltBuffer),
                       static_cast<EFI_UGA_BLT_OPERATION>(BltOperation), SourceX, SourceY, DestinationX,
                       DestinationY, Width, Height, Delta);
}
