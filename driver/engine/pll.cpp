#include "driver/engine/pll.h"

#include "driver/engine/timing.h"
#include "driver/hw/regmap/pll.h"
#include "driver/hw/regs.h"

namespace {

constexpr UINT32 MAX_REF_DIV = 26;
constexpr UINT32 MAX_POST_DIV = 127;
constexpr UINT32 MAX_FB_DIV10 = 327670;
constexpr UINT32 MIN_FB_DIV = 20;
constexpr UINT32 VCO_MIN = 90000;   // 900 MHz
constexpr UINT32 VCO_MAX = 120000;  // 1200 MHz
constexpr UINT32 LOCK_POLLS = 100;

UINT32 Difference(UINT32 A, UINT32 B) { return A > B ? A - B : B - A; }

}  // namespace

UINT32 FindPllDividers(UINT32 Target, UINT32* R, UINT32* P, UINT32* F10) {
  UINT32 Best = Target * 100;  // error bound in 100 Hz
  UINT32 BestR = 0, BestP = 0, BestF10 = 0;

  for (UINT32 Ref = 1; Ref <= MAX_REF_DIV; Ref++) {
    for (UINT32 Post = MAX_POST_DIV; Post >= 1; Post--) {
      // 64-bit so that large targets at large dividers cannot wrap.
      UINT64 Scaled = (UINT64)Target * 10 * Post * Ref;
      UINT32 Fb10 = (UINT32)((2 * Scaled / PLL_REFERENCE_CLOCK + 1) / 2);
      Fb10 = ((Fb10 + 5) / 10) * 10;
      // F10 only shrinks as P falls, so nothing smaller will do.
      if (Fb10 < 20) break;
      if (Fb10 > MAX_FB_DIV10) continue;
      if (Fb10 / 10 + 2 * (Fb10 % 10) < MIN_FB_DIV) continue;
      UINT32 Vco = Fb10 * PLL_REFERENCE_CLOCK / Ref / 10;
      if (Vco > VCO_MAX) continue;
      if (Vco < VCO_MIN) break;
      UINT32 Error = Difference(Vco * 100 / Post, Target * 100);
      if (Error < Best) {
        BestR = Ref;
        BestP = Post;
        BestF10 = Fb10;
        Best = Error;
        if (Best * 10 / Target < 2) Best = 0;  // within 0.2 %: good enough
        if (Best == 0) break;
      }
    }
    if (Best == 0) break;
  }

  if (BestR == 0) return 0;
  *R = BestR;
  *P = BestP;
  *F10 = BestF10;
  return (BestF10 * PLL_REFERENCE_CLOCK / BestR / BestP) / 10;
}

EFI_STATUS ProgramPixelPll(ADAPTER_CONTEXT* Context, UINT8 OutputChannel, UINT8 Crtc) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  const PIXEL_PLL_REGISTERS& Pll = PixelPll(Crtc);
  UINT32 Target = SelectedPixelClock(Context, OutputChannel);

  // The flag is only ever raised here; the platform's panel path owns it.
  if (!Context->PanelFromPlatform && Target > DUAL_LINK_THRESHOLD) {
    Context->DualLinkTmds[Context->CurrentDisplay] = 1;
  }

  UINT32 R = 0, P = 0, F10 = 0;
  if (FindPllDividers(Target, &R, &P, &F10) == 0) return EFI_INVALID_PARAMETER;

  RegWrite32(PciIo, Pll.Prepare, 1);
  RegWrite32(PciIo, Pll.RefDiv, (RegRead32(PciIo, Pll.RefDiv) & PLL_REF_DIV_KEEP) | R);
  RegWrite32(PciIo, Pll.PostDiv, (RegRead32(PciIo, Pll.PostDiv) & PLL_POST_DIV_KEEP) | P);
  RegWrite32(PciIo, Pll.FbDiv, (RegRead32(PciIo, Pll.FbDiv) & PLL_FB_DIV_KEEP) | ((F10 / 10) << PLL_FB_DIV_SHIFT));
  RegWrite32(PciIo, Pll.FbDiv, (RegRead32(PciIo, Pll.FbDiv) & PLL_FB_TENTHS_KEEP) | (F10 % 10));

  UINT8 Control = RegRead8(PciIo, Pll.Control);
  RegWrite8(PciIo, Pll.Control, Control & PLL_CONTROL_RELEASE_1);
  DelayMicroseconds(Context, 10);
  RegWrite8(PciIo, Pll.Control, Control & PLL_CONTROL_RELEASE_BOTH);
  DelayMicroseconds(Context, 10);

  // A PLL that never locks is not reported; the bound keeps the wait finite.
  for (UINT32 Poll = 0; Poll < LOCK_POLLS; Poll++) {
    if (RegRead32(PciIo, Pll.Control) & PLL_CONTROL_LOCKED) break;
    DelayMicroseconds(Context, 1);
  }

  RegWrite32(PciIo, Pll.LockedAck, 1);
  return EFI_SUCCESS;
}
