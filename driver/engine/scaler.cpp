#include "driver/engine/scaler.h"

#include "driver/engine/crtc.h"
#include "driver/engine/timing.h"
#include "driver/hw/regmap/crtc.h"
#include "driver/hw/regmap/scaler.h"
#include "driver/hw/regs.h"

namespace {

// Filter tables 0 and 1 (identical), then 2 and 3 (identical); each ends
// with a zero word that stops the write loop and is not written.
const UINT32 FilterTable01[] = {
    0x87C383FF, 0x803C83FF, 0x878783C3, 0x8078843C, 0x874B8387, 0x80B48478,
    0x870F834B, 0x80F084B4, 0x86D2830F, 0x812D84F0, 0x869682D2, 0x8169852D,
    0x865A8296, 0x81A58569, 0x861E825A, 0x81E185A5, 0x85E1821E, 0x821E85E1,
    0,
};
const UINT32 FilterTable23[] = {
    0x80E38F1C, 0x81C78E38, 0x82AA8D55, 0x838E8C71, 0x84718B8E, 0x85558AAA,
    0x863889C7, 0x871C88E3, 0x88008800,
    0,
};
const UINT32* const FilterTables[4] = {FilterTable01, FilterTable01, FilterTable23, FilterTable23};

BOOLEAN HasScaler(UINT8 Crtc) { return Crtc == 0 || Crtc == 1; }

UINT32 BorderWord(UINT64 Border) {
  UINT32 B = (UINT32)(Border & 0xFFFF);
  return (B << 16) | B;
}

UINT64 AbsDiff(UINT64 A, UINT64 B) { return A > B ? A - B : B - A; }

}  // namespace

void LoadScalerFilters(ADAPTER_CONTEXT* Context, UINT8 Crtc) {
  if (!HasScaler(Crtc)) return;
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  UINT32 Connector = Context->ConnectorType[Context->CurrentDisplay];
  BOOLEAN Television = Connector == CONNECTOR_TV1 || Connector == CONNECTOR_TV2;

  RegWrite32(PciIo, CrtcReg(Crtc, SCALER_MODE), Television ? SCALER_MODE_TV : SCALER_MODE_NORMAL);
  for (UINT32 Table = 0; Table < 4; Table++) {
    RegWrite32(PciIo, CrtcReg(Crtc, SCALER_FILTER_SELECT), Table << SCALER_FILTER_TABLE_SHIFT);
    for (const UINT32* Word = FilterTables[Table]; *Word != 0; Word++) {
      RegWrite32(PciIo, CrtcReg(Crtc, SCALER_FILTER_DATA), *Word);
    }
  }
}

void EnableScaler(ADAPTER_CONTEXT* Context, UINT8 Crtc) {
  if (!HasScaler(Crtc)) return;
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  RegWrite32(PciIo, CrtcReg(Crtc, SCALER_BYPASS), 0);
  RegWrite32(PciIo, CrtcReg(Crtc, SCALER_MODE), SCALER_MODE_NORMAL);
  RegWrite32(PciIo, CrtcReg(Crtc, SCALER_PHASE), SCALER_PHASE_VALUE);
  RegWrite32(PciIo, CrtcReg(Crtc, SCALER_H_TAPS), SCALER_TAPS_VALUE);
  RegWrite32(PciIo, CrtcReg(Crtc, SCALER_V_TAPS), SCALER_TAPS_VALUE);
  RegWrite32(PciIo, CrtcReg(Crtc, SCALER_ENABLE), 1);
  RegWrite32(PciIo, CrtcReg(Crtc, SCALER_ROUNDING), SCALER_ROUNDING_VALUE);
  LoadScalerFilters(Context, Crtc);
}

void BypassScaler(ADAPTER_CONTEXT* Context, UINT8 Crtc) {
  if (!HasScaler(Crtc)) return;
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  const UGA_MODE_RECORD& Mode = Context->CurrentMode[Context->CurrentDisplay];
  UINT32 Width = (UINT32)Mode.HorizontalResolution;
  UINT32 Height = (UINT32)Mode.VerticalResolution;
  RegWrite32(PciIo, CrtcReg(Crtc, SCALER_SOURCE_SIZE), (Width << 16) | Height);
  RegWrite32(PciIo, CrtcReg(Crtc, CRTC_FETCH_WIDTH), Width);
  RegWrite32(PciIo, CrtcReg(Crtc, CRTC_FETCH_HEIGHT), Height);
  RegWrite32(PciIo, CrtcReg(Crtc, SCALER_BYPASS), 1);
  RegWrite32(PciIo, CrtcReg(Crtc, SCALER_MODE), SCALER_MODE_OFF);
  RegWrite32(PciIo, CrtcReg(Crtc, SCALER_ENABLE), 0);
}

BOOLEAN ScalerClockAllows(UINT64 EngineClock, UINT64 PixelClock, UINT64 WT, UINT64 HT, UINT64 WR, UINT64 HR) {
  // A mode without a size cannot be scaled (and would divide by zero).
  if (WT == 0 || HT == 0 || WR == 0 || HR == 0) return EFI_FALSE;
  UINT64 AT = WT * 100 / HT;
  UINT64 AR = WR * 100 / HR;
  // Aspect ratios so far apart that one rounds to 0 are refused likewise.
  INT32 Ratio = AR == 0 ? 0 : (INT32)(AT * 100 / AR);
  if (Ratio <= 0) return EFI_FALSE;
  const UINT64 K = PixelClock, Engine = EngineClock;
  BOOLEAN ClockOk = Engine >= K && Engine >= K * WR * HR / WT / HT && Engine >= K * WR * 2 / WT;
  if (ClockOk && AT != AR) {
    UINT64 Divisor = 0;
    if (Ratio > 105) Divisor = HT * AR / 100;
    if (Ratio < 95) Divisor = WT * AR / 100;
    if (Ratio > 105 || Ratio < 95) ClockOk = Divisor != 0 && Engine >= K * WR * 2 / Divisor;
  }
  return ClockOk;
}

EFI_STATUS SetupScaler(ADAPTER_CONTEXT* Context) {
  UINT8 Display = Context->CurrentDisplay;
  UINT8 Crtc = Context->CrtcIndex[Display];
  const UGA_MODE_RECORD& Native = Context->NativeMode[Display];
  const UGA_MODE_RECORD& Requested = Context->CurrentMode[Display];
  UINT64 WT = Native.HorizontalResolution, HT = Native.VerticalResolution;
  UINT64 WR = Requested.HorizontalResolution, HR = Requested.VerticalResolution;

  // A mode without a size cannot be scaled (and would divide by zero):
  // refuse it the way a too-slow engine clock is refused.
  if (WT == 0 || HT == 0 || WR == 0 || HR == 0) {
    BypassScaler(Context, Crtc);
    return EFI_INVALID_PARAMETER;
  }

  UINT64 K = SelectedPixelClock(Context, Context->OutputChannel[Display]);
  if (!ScalerClockAllows(Context->EngineClock, K, WT, HT, WR, HR)) {
    BypassScaler(Context, Crtc);
    return EFI_INVALID_PARAMETER;
  }
  UINT64 AT = WT * 100 / HT;
  UINT64 AR = WR * 100 / HR;
  INT32 Ratio = (INT32)(AT * 100 / AR);
  UINT64 SX = WT * 100 / WR;
  UINT64 SY = HT * 100 / HR;

  UINT64 HBorder = 0, VBorder = 0;
  UINT64 R = (UINT64)Ratio;
  if (SX <= 100 && SY <= 100) {
    if (Ratio > 105) HBorder = AbsDiff(WR, WT) / 2;
    if (Ratio < 95) VBorder = AbsDiff(HR, HT) / 2;
  } else {
    if (Ratio > 105) HBorder = (WT - WT * 100 / R) / 2;
    if (Ratio < 95) VBorder = (HT * 100 / R - HT) / 2;
  }

  // The mode set laid the surface out for the native raster; a larger
  // source read through that pitch would overlap its own rows.
  BOOLEAN Larger = WR > WT || HR > HT;
  if (HT == HR || WT == WR) {
    BypassScaler(Context, Crtc);
    if (Larger && HasScaler(Crtc)) SetSurfaceSize(Context, Crtc, (UINT32)WR, (UINT32)HR);
    return EFI_SUCCESS;
  }
  if (!HasScaler(Crtc)) return EFI_SUCCESS;

  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  RegWrite32(PciIo, CrtcReg(Crtc, CRTC_CONTROL), 0);
  DelayMicroseconds(Context, 1);
  if (!Context->PanelFlag6) {
    RegWrite32(PciIo, CrtcReg(Crtc, SCALER_V_BORDER), BorderWord(VBorder));
    RegWrite32(PciIo, CrtcReg(Crtc, SCALER_H_BORDER), BorderWord(HBorder));
  }
  RegWrite32(PciIo, CrtcReg(Crtc, SCALER_SOURCE_SIZE), (UINT32)((WR << 16) | HR));
  RegWrite32(PciIo, CrtcReg(Crtc, CRTC_FETCH_WIDTH), (UINT32)WR);
  RegWrite32(PciIo, CrtcReg(Crtc, CRTC_FETCH_HEIGHT), (UINT32)HR);
  EnableScaler(Context, Crtc);
  if (Larger) SetSurfaceSize(Context, Crtc, (UINT32)WR, (UINT32)HR);
  RegWrite32(PciIo, CrtcReg(Crtc, CRTC_CONTROL), CRTC_CONTROL_RUN);
  return EFI_SUCCESS;
}
