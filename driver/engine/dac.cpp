// Analogue DAC switches. DAC B's registers sit 0x200 above DAC A's.
#include "driver/engine/dac.h"

#include "driver/hw/regs.h"

namespace {

//   register        DAC A    DAC B
//   enable          0x7800   0x7A00
//   source select   0x7804   0x7A04
//   set-up          0x7828   0x7A28
//   blank/power     0x7850   0x7A50
//   control         0x7854   0x7A54
//   (DAC B only)             0x7A58
constexpr UINT32 kDacAEnable = 0x7800;
constexpr UINT32 kDacASource = 0x7804;
constexpr UINT32 kDacASetup = 0x7828;
constexpr UINT32 kDacABlank = 0x7850;
constexpr UINT32 kDacAControl = 0x7854;
constexpr UINT32 kDacBEnable = 0x7A00;
constexpr UINT32 kDacBSource = 0x7A04;
constexpr UINT32 kDacBSetup = 0x7A28;
constexpr UINT32 kDacBBlank = 0x7A50;
constexpr UINT32 kDacBControl = 0x7A54;
constexpr UINT32 kDacBExtra = 0x7A58;

constexpr UINT32 kDacSetupValue = 0x00070200;
constexpr UINT32 kDacBlankOff = 0x01010101;
constexpr UINT32 kDacAControlOn = 0x2;
constexpr UINT32 kDacBControlValue = 0x00041202;

// Only DAC A drives bit 9 of these three neighbours of 0x01A4.
//   register  enable
//   0x019C    AND 0xFFFFFDFF
//   0x01A0    OR 0x200
//   0x0198    OR 0x200
constexpr UINT32 kGpioBit9 = 0x200;
constexpr UINT32 kGpioClearReg = 0x019C;
constexpr UINT32 kGpioSetRegs[] = {0x01A0, 0x0198};

void ReadModifyWrite(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Offset, UINT32 AndMask, UINT32 OrMask) {
  RegWrite32(PciIo, Offset, (RegRead32(PciIo, Offset) & AndMask) | OrMask);
}

// The source select takes CrtcIndex as found, 255 (no CRTC) included.
UINT32 SourceCrtc(const ADAPTER_CONTEXT* Context) { return Context->CrtcIndex[Context->CurrentDisplay]; }

}  // namespace

EFI_STATUS InitDacOutputs(ADAPTER_CONTEXT* Context) {
  RegWrite32(Context->PciIo, kDacASetup, kDacSetupValue);
  RegWrite32(Context->PciIo, kDacBSetup, kDacSetupValue);
  return EFI_SUCCESS;
}

EFI_STATUS EnableDacA(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  ReadModifyWrite(PciIo, kGpioClearReg, ~kGpioBit9, 0);
  for (UINT32 Offset : kGpioSetRegs) {
    ReadModifyWrite(PciIo, Offset, 0xFFFFFFFF, kGpioBit9);
  }
  RegWrite32(PciIo, kDacABlank, 0);
  RegWrite32(PciIo, kDacASource, SourceCrtc(Context));
  ReadModifyWrite(PciIo, kDacAControl, 0xFFFFFFFF, kDacAControlOn);
  RegWrite32(PciIo, kDacAEnable, 1);
  return EFI_SUCCESS;
}

EFI_STATUS DisableDacA(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  RegWrite32(PciIo, kDacABlank, kDacBlankOff);
  RegWrite32(PciIo, kDacASource, 0);
  RegWrite32(PciIo, kDacAControl, kDacAControlOn);
  RegWrite32(PciIo, kDacAEnable, 0);
  return EFI_SUCCESS;
}

// Both DAC B switches end by clearing only the low byte of the set-up word.
EFI_STATUS EnableDacB(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  RegWrite32(PciIo, kDacBBlank, 0);
  RegWrite32(PciIo, kDacBSource, SourceCrtc(Context));
  RegWrite32(PciIo, kDacBControl, kDacBControlValue);
  RegWrite32(PciIo, kDacBEnable, 1);
  RegWrite8(PciIo, kDacBSetup, 0);
  return EFI_SUCCESS;
}

EFI_STATUS DisableDacB(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  RegWrite32(PciIo, kDacBBlank, kDacBlankOff);
  RegWrite32(PciIo, kDacBSource, 0);
  RegWrite32(PciIo, kDacBControl, kDacBControlValue);
  RegWrite32(PciIo, kDacBExtra, 0);
  RegWrite32(PciIo, kDacBEnable, 0);
  RegWrite8(PciIo, kDacBSetup, 0);
  return EFI_SUCCESS;
}
