#include "driver/engine/timing.h"

#include "driver/hw/regmap/crtc.h"
#include "driver/hw/regmap/scaler.h"
#include "driver/hw/regs.h"

const UINT32 BuiltInTimingTable[ModeCount][6] = {
    //  W0          W1          W2          W3          W4          W5         row  mode
    {0x041F0273, 0x00D803F8, 0x00800000, 0x001B0273, 0x00040000, 0x00000FA0},  //  0  800x600 60
    {0x03FF026F, 0x00C803E8, 0x00480000, 0x00180270, 0x00020000, 0x00000E10},  //  1  800x600 56
    {0x034701F2, 0x80B80338, 0x00400000, 0x001301F3, 0x80030000, 0x00000C4E},  //  2  640x480 75
    {0x033F0206, 0x80A80328, 0x00280000, 0x001F01FF, 0x80030000, 0x00000C30},  //  3  640x480 72
    {0x035F020B, 0x80A00320, 0x00400000, 0x002A020A, 0x80030000, 0x00000BD0},  //  4  640x480 67
    {0x031F020B, 0x80900310, 0x00600000, 0x00230203, 0x80020000, 0x000009D6},  //  5  640x480 60
    {0xFFFFFFFF, 0x00080010, 0x00000000, 0x00000001, 0x00000000, 0x00000000},  //  6  720x400 88
    {0xFFFFFFFF, 0x00080010, 0x00000000, 0x00000001, 0x00000000, 0x00000000},  //  7  720x400 70
    {0x06970428, 0x01880688, 0x00900000, 0x00290429, 0x00030000, 0x000034BC},  //  8  1280x1024 75
    {0x051F031E, 0x01100510, 0x00600000, 0x001F031F, 0x00030000, 0x00001EC3},  //  9  1024x768 75
    {0x052F0324, 0x81180518, 0x00880000, 0x00230323, 0x80060000, 0x00001D4C},  // 10  1024x768 70
    {0x053F0324, 0x81280528, 0x00880000, 0x00230323, 0x80060000, 0x00001964},  // 11  1024x768 60
    {0x04EF032F, 0x00E004E0, 0x00B00000, 0x00300330, 0x00080000, 0x0000118A},  // 12  1024x768 87
    {0x047F0299, 0x81200460, 0x00400000, 0x002A029A, 0x80030000, 0x00001660},  // 13  832x624 75
    {0x041F026F, 0x00F00410, 0x00500000, 0x00180270, 0x00030000, 0x00001356},  // 14  800x600 75
    {0x040F0298, 0x00B803D8, 0x00780000, 0x001D0275, 0x00060000, 0x00001388},  // 15  800x600 72
    {0x05AF0391, 0x81100590, 0x00800000, 0x002A0390, 0x80030000, 0x00002710},  // 16  1152x870 75
    {0x0AA9020C, 0x819D0A73, 0x00B40000, 0x0029020B, 0x00030000, 0x00003A02},  // 17  800x600 60 TV
    {0x0D4C0270, 0x82390D09, 0x00FA0000, 0x002B026B, 0x00030000, 0x00003A02},  // 18  800x600 50 TV
};

namespace {

constexpr UINT32 POLARITY_FLAG = 0x80000000;

// Members of the platform's panel timing record.
enum {
  PANEL_PIXEL_CLOCK_HZ,
  PANEL_H_TOTAL_REG,
  PANEL_H_ACTIVE,
  PANEL_H_TOTAL,
  PANEL_H_SYNC_START,
  PANEL_H_SYNC_END,
  PANEL_V_TOTAL_REG,
  PANEL_V_ACTIVE,
  PANEL_V_TOTAL,
  PANEL_V_SYNC_START,
  PANEL_V_SYNC_END,
};

// The CRTC counts from the start of sync: blank end = total - sync start
// (16-bit, so a sync start past the total wraps rather than going negative).
UINT32 BlankWord(UINT32 BlankEnd, UINT32 Active) {
  UINT32 End = BlankEnd & 0xFFFF;
  return (End << 16) | (End + Active);
}

BOOLEAN RowInTable(const ADAPTER_CONTEXT* Context, UINT64 Row) {
  return Context->ModeList != nullptr && Context->ModeTimingTable != nullptr && Row < Context->ModeCount;
}

}  // namespace

TIMING_SOURCE SelectTimingSource(const ADAPTER_CONTEXT* Context) {
  UINT8 Display = Context->CurrentDisplay;
  if (Context->ModeFromList[Display] || Context->ForceModeList[Display]) return TimingFromModeList;
  if (Context->PanelFromPlatform) return TimingFromPanel;
  return TimingFromDetailed;
}

const DETAILED_TIMING* DetailedTimingOf(const ADAPTER_CONTEXT* Context, UINT8 OutputChannel) {
  if (OutputChannel == 1) return &Context->Timing1;
  if (OutputChannel == 2) return &Context->Timing2;
  return &Context->Timing3;
}

UINT32 SelectedPixelClock(const ADAPTER_CONTEXT* Context, UINT8 OutputChannel) {
  switch (SelectTimingSource(Context)) {
    case TimingFromModeList: {
      UINT64 Row = Context->ModeIndex[Context->CurrentDisplay];
      return RowInTable(Context, Row) ? Context->ModeTimingTable[Row][5] : 0;
    }
    case TimingFromPanel:
      return Context->PanelTiming[PANEL_PIXEL_CLOCK_HZ] / 10000;
    case TimingFromDetailed:
      break;
  }
  return DetailedTimingOf(Context, OutputChannel)->PixelClock;
}

void BuildCrtcTiming(const ADAPTER_CONTEXT* Context, UINT8 OutputChannel, CRTC_TIMING* Timing) {
  *Timing = CRTC_TIMING{};
  UINT8 Display = Context->CurrentDisplay;
  UINT64 Row = Context->ModeIndex[Display];

  switch (SelectTimingSource(Context)) {
    case TimingFromModeList: {
      // A row outside the list leaves every word 0: the clock search then
      // finds nothing and the PLL keeps its programming.
      if (!RowInTable(Context, Row)) return;
      const UINT32* W = Context->ModeTimingTable[Row];
      const UGA_MODE_RECORD& Mode = Context->ModeList[Row];
      Timing->HTotalReg = W[0] >> 16;
      Timing->VTotalReg = W[0] & 0xFFFF;
      Timing->HBlankWord = W[1];
      Timing->HSyncWord = W[2] & ~POLARITY_FLAG;
      Timing->HSyncPolarity = (W[2] & POLARITY_FLAG) != 0;
      Timing->VBlankWord = W[3];
      Timing->VSyncWord = W[4] & ~POLARITY_FLAG;
      Timing->VSyncPolarity = (W[4] & POLARITY_FLAG) != 0;
      Timing->PixelClock = W[5];
      Timing->ActiveWidth = (UINT32)Mode.HorizontalResolution;
      Timing->ActiveHeight = (UINT32)Mode.VerticalResolution;
      Timing->BytesPerPixel = (UINT32)(Mode.ColorDepth / 8);
      return;
    }
    case TimingFromPanel: {
      const UINT32* P = Context->PanelTiming;
      Timing->PixelClock = P[PANEL_PIXEL_CLOCK_HZ] / 10000;
      Timing->HTotalReg = P[PANEL_H_TOTAL_REG];
      Timing->HBlankWord = BlankWord(P[PANEL_H_TOTAL] - P[PANEL_H_SYNC_START], P[PANEL_H_ACTIVE]);
      Timing->HSyncWord = (P[PANEL_H_SYNC_END] - P[PANEL_H_SYNC_START]) << 16;
      Timing->VTotalReg = P[PANEL_V_TOTAL_REG];
      Timing->VBlankWord = BlankWord(P[PANEL_V_TOTAL] - P[PANEL_V_SYNC_START], P[PANEL_V_ACTIVE]);
      Timing->VSyncWord = (P[PANEL_V_SYNC_END] - P[PANEL_V_SYNC_START]) << 16;
      Timing->HSyncPolarity = Context->PanelFlagB0;
      Timing->VSyncPolarity = Context->PanelFlagB1;
      Timing->ActiveWidth = P[PANEL_H_ACTIVE];
      Timing->ActiveHeight = P[PANEL_V_ACTIVE];
      Timing->BytesPerPixel = 4;
      return;
    }
    case TimingFromDetailed:
      break;
  }

  const DETAILED_TIMING* T = DetailedTimingOf(Context, OutputChannel);
  Timing->PixelClock = T->PixelClock;
  // The detailed totals are written as stored, not reduced by one.
  Timing->HTotalReg = T->HTotal;
  Timing->HBlankWord = BlankWord((UINT32)T->HBlank - T->HSyncOffset, T->HActive);
  Timing->HSyncWord = (UINT32)T->HSyncWidth << 16;
  Timing->VTotalReg = T->VTotal;
  Timing->VBlankWord = BlankWord((UINT32)T->VBlank - T->VSyncOffset, T->VActive);
  Timing->VSyncWord = (UINT32)T->VSyncWidth << 16;
  Timing->HSyncPolarity = Context->PanelFlagB0;
  Timing->VSyncPolarity = Context->PanelFlagB1;
  Timing->ActiveWidth = T->HActive;
  Timing->ActiveHeight = T->VActive;
  Timing->BytesPerPixel = RowInTable(Context, Row) ? (UINT32)(Context->ModeList[Row].ColorDepth / 8) : 4;
}

EFI_STATUS WriteCrtcTiming(ADAPTER_CONTEXT* Context, UINT8 Crtc, const CRTC_TIMING* Timing, UINT32 HSyncControl,
                           UINT32 VSyncControl) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  const CRTC_UNIT& Unit = CrtcUnit(Crtc);
  const UINT32 HSync =
      Timing->HSyncPolarity ? (HSyncControl & ~CRTC_SYNC_POSITIVE) : (HSyncControl | CRTC_SYNC_POSITIVE);
  const UINT32 VSync =
      Timing->VSyncPolarity ? (VSyncControl & ~CRTC_SYNC_POSITIVE) : (VSyncControl | CRTC_SYNC_POSITIVE);
  EFI_STATUS Status = RegWrite32(PciIo, CrtcReg(Crtc, CRTC_H_SYNC), Timing->HSyncWord);
  Status = FirstError(Status, RegWrite32(PciIo, CrtcReg(Crtc, CRTC_H_BLANK), Timing->HBlankWord));
  Status = FirstError(Status, RegWrite32(PciIo, CrtcReg(Crtc, CRTC_H_TOTAL), Timing->HTotalReg));
  Status = FirstError(Status, RegWrite32(PciIo, CrtcReg(Crtc, CRTC_V_SYNC), Timing->VSyncWord));
  Status = FirstError(Status, RegWrite32(PciIo, CrtcReg(Crtc, CRTC_V_BLANK), Timing->VBlankWord));
  Status = FirstError(Status, RegWrite32(PciIo, CrtcReg(Crtc, CRTC_V_TOTAL), Timing->VTotalReg));
  Status = FirstError(Status, RegWrite32(PciIo, CrtcReg(Crtc, SCALER_H_BORDER), 0));
  Status = FirstError(Status, RegWrite32(PciIo, CrtcReg(Crtc, SCALER_V_BORDER), 0));
  Status = FirstError(Status, RegWrite32(PciIo, Unit.TimingLatch, Unit.TimingLatchValue));
  Status = FirstError(Status, RegWrite32(PciIo, CrtcReg(Crtc, CRTC_H_SYNC_CONTROL), HSync));
  Status = FirstError(Status, RegWrite32(PciIo, CrtcReg(Crtc, CRTC_V_SYNC_CONTROL), VSync));
  UINT32 Option = RegRead32(PciIo, CrtcReg(Crtc, CRTC_OUTPUT_OPTION));
  Option = Context->PanelFlag3 ? (Option | CRTC_OUTPUT_OPTION_PANEL) : (Option & ~CRTC_OUTPUT_OPTION_PANEL);
  return FirstError(Status, RegWrite32(PciIo, CrtcReg(Crtc, CRTC_OUTPUT_OPTION), Option));
}

UINT32 ComputeRefresh(UINT32 PixelClock, UINT32 HTotalReg, UINT32 VTotalReg) {
  // A timing with a zero total has no meaningful refresh; report 0 rather
  // than divide by zero.
  if (HTotalReg == 0 || VTotalReg == 0) return 0;
  return (PixelClock * 10000u * 2u / HTotalReg / VTotalReg + 1u) / 2u;
}
