// Analogue DAC switches: fixed register sequences. They sit beside the
// register primitives because the EDID reader switches a DAC on for the
// time of a read as well as the output sequencing does.
#include "driver/hw/dac.h"

#include "driver/hw/regmap/dac.h"
#include "driver/hw/regs.h"

namespace {

void ReadModifyWrite(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Offset, UINT32 AndMask, UINT32 OrMask) {
  RegWrite32(PciIo, Offset, (RegRead32(PciIo, Offset) & AndMask) | OrMask);
}

// The source select takes CrtcIndex as found, 255 (no CRTC) included.
UINT32 SourceCrtc(const ADAPTER_CONTEXT* Context) { return Context->CrtcIndex[Context->CurrentDisplay]; }

}  // namespace

EFI_STATUS InitDacOutputs(ADAPTER_CONTEXT* Context) {
  RegWrite32(Context->PciIo, DACA_SETUP, DAC_SETUP_VALUE);
  RegWrite32(Context->PciIo, DACB_SETUP, DAC_SETUP_VALUE);
  return EFI_SUCCESS;
}

EFI_STATUS EnableDacA(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  ReadModifyWrite(PciIo, DACA_GPIO_CLEAR, ~DACA_GPIO_BIT, 0);
  ReadModifyWrite(PciIo, DACA_GPIO_SET_1, 0xFFFFFFFF, DACA_GPIO_BIT);
  ReadModifyWrite(PciIo, DACA_GPIO_SET_2, 0xFFFFFFFF, DACA_GPIO_BIT);
  RegWrite32(PciIo, DACA_BLANK, 0);
  RegWrite32(PciIo, DACA_SOURCE, SourceCrtc(Context));
  ReadModifyWrite(PciIo, DACA_CONTROL, 0xFFFFFFFF, DACA_CONTROL_ON);
  RegWrite32(PciIo, DACA_ENABLE, 1);
  return EFI_SUCCESS;
}

EFI_STATUS DisableDacA(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  RegWrite32(PciIo, DACA_BLANK, DAC_BLANK_OFF);
  RegWrite32(PciIo, DACA_SOURCE, 0);
  RegWrite32(PciIo, DACA_CONTROL, DACA_CONTROL_ON);
  RegWrite32(PciIo, DACA_ENABLE, 0);
  return EFI_SUCCESS;
}

// Both DAC B switches end by clearing only the low byte of the set-up word.
EFI_STATUS EnableDacB(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  RegWrite32(PciIo, DACB_BLANK, 0);
  RegWrite32(PciIo, DACB_SOURCE, SourceCrtc(Context));
  RegWrite32(PciIo, DACB_CONTROL, DACB_CONTROL_VALUE);
  RegWrite32(PciIo, DACB_ENABLE, 1);
  RegWrite8(PciIo, DACB_SETUP, 0);
  return EFI_SUCCESS;
}

EFI_STATUS DisableDacB(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  RegWrite32(PciIo, DACB_BLANK, DAC_BLANK_OFF);
  RegWrite32(PciIo, DACB_SOURCE, 0);
  RegWrite32(PciIo, DACB_CONTROL, DACB_CONTROL_VALUE);
  RegWrite32(PciIo, DACB_FORCE, 0);
  RegWrite32(PciIo, DACB_ENABLE, 0);
  RegWrite8(PciIo, DACB_SETUP, 0);
  return EFI_SUCCESS;
}
