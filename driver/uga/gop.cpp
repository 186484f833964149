// Graphics Output: QueryMode, SetMode and Blt on the UGA Draw paths. The
// pixel layout is UGA's (blue, green, red, reserved) and so is the frame
// buffer's, so Blt passes pixels through unchanged.
#include "driver/uga/gop.h"

#include "driver/engine/crtc.h"
#include "driver/engine/timing.h"
#include "driver/hw/modelist.h"
#include "driver/hw/regmap/crtc.h"
#include "driver/lib/driverlib.h"
#include "driver/uga/uga_draw.h"

namespace {

const CHAR8 kModuleName[] = "quovangop";
constexpr UINT32 kDepth = 32;
constexpr UINT32 kBytesPerPixel = 4;

// A Graphics Output mode is its size: one entry per size, the first one
// listed giving the refresh it is set with.
BOOLEAN SameMode(const GOP_MODE& A, const GOP_MODE& B) { return A.Width == B.Width && A.Height == B.Height; }

void Add(ADAPTER_CONTEXT* Context, const GOP_MODE& Mode) {
  UINT32& Count = Context->GopMode.MaxMode;
  for (UINT32 Index = 0; Index < Count; ++Index) {
    if (SameMode(Context->GopModes[Index], Mode)) return;
  }
  if (Count < GOP_MAX_MODES && Mode.Width != 0 && Mode.Height != 0) Context->GopModes[Count++] = Mode;
}

GOP_MODE RowMode(const ADAPTER_CONTEXT* Context, UINT64 Row) {
  const UGA_MODE_RECORD& R = Context->ModeList[Row];
  return {static_cast<UINT32>(R.HorizontalResolution), static_cast<UINT32>(R.VerticalResolution),
          static_cast<UINT32>(R.RefreshRate)};
}

// Display 0's own timing: its detailed or panel timing; a television's is
// the row discovery chose for its standard. The row a display was last set
// to is not its own (the list would change with every SetMode): the other
// rows come from the support mask.
BOOLEAN OwnMode(ADAPTER_CONTEXT* Context, GOP_MODE* Mode) {
  UINT8 Saved = Context->CurrentDisplay;
  BOOLEAN SavedFromList = Context->ModeFromList[0];
  Context->CurrentDisplay = 0;
  Context->ModeFromList[0] = 0;
  CRTC_TIMING Timing;
  BuildCrtcTiming(Context, Context->OutputChannel[0], &Timing);
  Context->ModeFromList[0] = SavedFromList;
  Context->CurrentDisplay = Saved;
  BOOLEAN Television = (Context->ConnectorType[0] & (CONNECTOR_TV1 | CONNECTOR_TV2)) != 0;
  if (!Television && Timing.PixelClock != 0 && Timing.ActiveWidth != 0 && Timing.ActiveHeight != 0) {
    *Mode = {Timing.ActiveWidth, Timing.ActiveHeight,
             ComputeRefresh(Timing.PixelClock, Timing.HTotalReg, Timing.VTotalReg)};
    return EFI_TRUE;
  }
  const UINT64 TvRow = Context->TvUseNtsc[0] ? MODE_ROW_TV_60HZ : MODE_ROW_TV_50HZ;
  if (Television && TvRow < Context->ModeCount) {
    *Mode = RowMode(Context, TvRow);
    return EFI_TRUE;
  }
  return EFI_FALSE;
}

void FillInfo(const ADAPTER_CONTEXT* Context, UINT32 Index, EFI_GRAPHICS_OUTPUT_MODE_INFORMATION* Info) {
  const GOP_MODE& Mode = Context->GopModes[Index];
  *Info = EFI_GRAPHICS_OUTPUT_MODE_INFORMATION{};
  Info->Version = 0;
  Info->HorizontalResolution = Mode.Width;
  Info->VerticalResolution = Mode.Height;
  Info->PixelFormat = PixelBlueGreenRedReserved8BitPerColor;
  // A listed mode is shown on a raster of its own size, laid out for it;
  // the mode in force is laid out as it was lit.
  Info->PixelsPerScanLine = Index == Context->GopMode.Mode && Context->EngineStarted
                                ? ShownSurfacePitch(Context, 0)
                                : SurfacePitch(Mode.Width, kBytesPerPixel);
}

EFI_STATUS LightMode(ADAPTER_CONTEXT* Context, UINT32 ModeNumber);

}  // namespace

void RefreshGraphicsOutput(ADAPTER_CONTEXT* Context) {
  Context->Gop.QueryMode = GopQueryMode;
  Context->Gop.SetMode = GopSetMode;
  Context->Gop.Blt = GopBlt;
  Context->Gop.Mode = &Context->GopMode;
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE& Record = Context->GopMode;
  Record.MaxMode = 0;

  if (Context->DisplayCount > 0) {
    GOP_MODE Own;
    if (OwnMode(Context, &Own)) Add(Context, Own);
    for (UINT32 Row = 0; Row < Context->ModeCount && Context->ModeList != nullptr; ++Row) {
      if ((Context->ModeSupportMask[0] & (0x80000000u >> Row)) != 0) Add(Context, RowMode(Context, Row));
    }
  }
  UINT32 Width = 0, Height = 0, Depth = 0, Refresh = 0;
  GetDisplayMode(Context, &Width, &Height, &Depth, &Refresh);
  const GOP_MODE InForce = {Width, Height, Refresh};
  Add(Context, InForce);

  Record.Mode = 0;
  for (UINT32 Index = 0; Index < Record.MaxMode; ++Index) {
    if (SameMode(Context->GopModes[Index], InForce)) Record.Mode = Index;
  }
  FillInfo(Context, Record.Mode, &Context->GopInfo);
  Record.Info = &Context->GopInfo;
  Record.SizeOfInfo = sizeof(EFI_GRAPHICS_OUTPUT_MODE_INFORMATION);
  // The surface of display 0's CRTC (CRTC 1's when it has none).
  UINT8 Crtc = Context->DisplayCount > 0 && Context->CrtcIndex[0] == 1 ? 1 : 0;
  Record.FrameBufferBase = Context->FrameBufferAddress + CrtcUnit(Crtc).SurfaceBase;
  Record.FrameBufferSize =
      static_cast<UINTN>(Context->GopInfo.PixelsPerScanLine) * kBytesPerPixel * Context->GopInfo.VerticalResolution;
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
  FillInfo(Context, ModeNumber, Answer);
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
  if (static_cast<UINT32>(BltOperation) >= EfiGraphicsOutputBltOperationMax) return EFI_INVALID_PARAMETER;
  // Graphics Output reports a mode in force from the start, and consumers
  // that find it to their liking draw without setting it: the first one to
  // draw lights it.
  if (!Context->EngineStarted && EFI_ERROR(LightMode(Context, Context->GopMode.Mode))) return EFI_DEVICE_ERROR;
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

namespace {

// The UGA Draw mode set for the entry, then the screen black.
EFI_STATUS LightMode(ADAPTER_CONTEXT* Context, UINT32 ModeNumber) {
  const GOP_MODE Mode = Context->GopModes[ModeNumber];
  if (EFI_ERROR(SetDisplayMode(Context, Mode.Width, Mode.Height, kDepth, Mode.Refresh))) return EFI_DEVICE_ERROR;
  // Graphics Output leaves a new mode black. The mode may have been shown
  // at another size (the scaler's refusal): clear what is in force.
  UINT32 Width = 0, Height = 0, Depth = 0, Refresh = 0;
  GetDisplayMode(Context, &Width, &Height, &Depth, &Refresh);
  EFI_UGA_PIXEL Black = {0, 0, 0, 0};
  if (EFI_ERROR(BltOnDisplays(Context, &Black, EfiUgaVideoFill, 0, 0, 0, 0, Width, Height, 0))) {
    return EFI_DEVICE_ERROR;
  }
  return EFI_SUCCESS;
}

}  // namespace
