#include "driver/engine/tmds.h"

#include "driver/engine/timing.h"
#include "driver/hw/edid.h"
#include "driver/hw/regmap/tmds.h"
#include "driver/hw/regs.h"

namespace {

constexpr UINT32 CLOCK_OPTION_THRESHOLD = 13000;  // 130 MHz
constexpr UINT32 VENDOR_DUAL_LINK_CLOCK = 16500;

const UINT8* EdidOf(const ADAPTER_CONTEXT* Context, UINT8 OutputChannel) {
  if (OutputChannel == 1) return Context->Edid1;
  if (OutputChannel == 2) return Context->Edid2;
  return Context->Edid3;
}

// Only channels 1 to 3 have a timing record and an EDID block; any other
// channel keeps the ConnectFlagB the platform set.
void DeriveConnectFlagB(ADAPTER_CONTEXT* Context, UINT8 Display) {
  UINT8 Channel = Context->OutputChannel[Display];
  if (Channel < 1 || Channel > 3) return;
  UINT32 Clock = DetailedTimingOf(Context, Channel)->PixelClock;
  const UINT8* E = EdidOf(Context, Channel);
  BOOLEAN Vendor = EdidIsVendorBlock(E);

  Context->ConnectFlagB = Clock >= CLOCK_OPTION_THRESHOLD;
  if (Vendor && Clock >= VENDOR_DUAL_LINK_CLOCK && Context->DualLinkTmds[Display]) Context->ConnectFlagB = 0;
  if (Vendor && E[EDID_PRODUCT_CODE] == 0x1D && E[EDID_PRODUCT_CODE + 1] == 0x92) Context->ConnectFlagB = 0;
}

}  // namespace

EFI_STATUS EnableTmds(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  UINT8 Display = Context->CurrentDisplay;

  UINT32 Control = RegRead32(PciIo, TMDS_CONTROL);
  (void)RegRead32(PciIo, TMDS_LANES);
  UINT32 Pll = RegRead32(PciIo, TMDS_PLL_CONTROL);

  RegWrite32(PciIo, TMDS_START, 1);
  RegWrite8(PciIo, TMDS_SOURCE, Context->CrtcIndex[Display]);
  RegWrite32(PciIo, TMDS_SYNC, TMDS_SYNC_ON);

  UINT32 Lanes;
  Control |= TMDS_CONTROL_ENABLE;
  if (Context->DualLinkTmds[Display]) {
    Control |= TMDS_CONTROL_DUAL_LINK;
    Lanes = TMDS_LANES_DUAL;
  } else {
    Control &= ~TMDS_CONTROL_DUAL_LINK;
    Lanes = TMDS_LANES_SINGLE;
  }
  RegWrite32(PciIo, TMDS_CONTROL, Control);
  RegWrite32(PciIo, TMDS_DRIVE, TMDS_DRIVE_VALUE);

  if (Context->ConnectFlagA) DeriveConnectFlagB(Context, Display);

  Pll = Context->ConnectFlagB ? (Pll & ~TMDS_PLL_CLOCK_OPTION) : (Pll | TMDS_PLL_CLOCK_OPTION);
  Pll |= TMDS_PLL_RUN;
  RegWrite32(PciIo, TMDS_PLL_CONTROL, Pll);
  DelayMicroseconds(Context, 1);
  Pll &= ~TMDS_PLL_RESET;
  RegWrite32(PciIo, TMDS_PLL_CONTROL, Pll);
  DelayMicroseconds(Context, 20);

  // Only the named bits are defined; the rest keep what the register holds.
  UINT32 Format = RegRead32(PciIo, TMDS_FORMAT);
  if (Context->DitherDisabled) {
    Format |= TMDS_FORMAT_NO_DITHER;
    if (Context->PixelComponent8Bit) Format |= TMDS_FORMAT_8BIT;
  } else {
    Format = (Format | TMDS_FORMAT_DITHER) & ~TMDS_FORMAT_DITHER_CLEAR;
  }
  RegWrite32(PciIo, TMDS_FORMAT, Format);

  RegWrite32(PciIo, TMDS_LANES, Lanes);

  RegWrite32(PciIo, TMDS_PLL_CONTROL, Pll | TMDS_PLL_PULSE);
  DelayMicroseconds(Context, 10);
  RegWrite32(PciIo, TMDS_PLL_CONTROL, Pll & ~TMDS_PLL_PULSE);

  RegWrite32(PciIo, TMDS_SYNC, TMDS_SYNC_PULSE);
  DelayMicroseconds(Context, 10);
  RegWrite32(PciIo, TMDS_SYNC, TMDS_SYNC_ON);
  return EFI_SUCCESS;
}
