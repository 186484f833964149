#include "driver/engine/startup.h"

#include "driver/engine/crtc.h"
#include "driver/engine/dac.h"
#include "driver/engine/outputs.h"
#include "driver/hw/ddc.h"
#include "driver/hw/regs.h"
#include "driver/platform/properties.h"

namespace {

// Memory-controller parameter sets, chosen by the strap field.
enum { P0, P1, P2, P3, P4, P5, P6, P7, P8, P9, P10, P11, P12, MC_PARAMETERS };

const UINT32 McParameterSets[2][MC_PARAMETERS] = {
    //  P0          P1          P2          P3          P4          P5          P6
    //  P7          P8          P9          P10         P11         P12
    {0x13131313, 0x13131313, 0x0648332C, 0x06483324, 0x0A44FF00, 0x0001C000, 0x00000000,  // A
     0x6852C353, 0x00008800, 0x103B0000, 0x00001404, 0x00000A62, 0x7F000000},
    {0x1A1A1A1A, 0x1A1A1A1A, 0x0634332C, 0x06343324, 0x0A66FF00, 0x00000000, 0x0006318C,  // B
     0x6852C353, 0x0000A800, 0x103B0000, 0x00001404, 0x00000A62, 0x7F000000},
};
enum { MC_SET_A, MC_SET_B };

constexpr UINT32 REG_INDEXED_ENABLE = 0x004C;
constexpr UINT32 REG_ENGINE_CONFIG_A = 0x00EC;
constexpr UINT32 REG_ENGINE_CONFIG_B = 0x0130;
constexpr UINT32 REG_MEMORY_SIZE = 0x00F8;
constexpr UINT32 REG_STRAPS = 0x0C60;
constexpr UINT32 STRAP_MEMORY_SHIFT = 17;  // bits 18..17
constexpr UINT32 STRAP_MEMORY_SET_B = 3;
constexpr UINT32 REG_MEMORY_CLOCK_ENABLE_A = 0x0574;
constexpr UINT32 REG_MEMORY_CLOCK_ENABLE_B = 0x0570;
constexpr UINT32 REG_MEMORY_CLOCK_ROUTE_A = 0x0580;
constexpr UINT32 REG_MEMORY_CLOCK_ROUTE_B = 0x04CC;
constexpr UINT32 REG_OUTPUT_PADS = 0x7EE0;

// Memory-controller indices.
constexpr UINT32 MC_CONFIG = 0x05;       // bits 7..5: refresh interval exponent
constexpr UINT32 MC_TIMING = 0x2E;
constexpr UINT32 MC_COMMAND = 0x2F;      // memory-device command port
constexpr UINT32 MC_CONTROL = 0x31;
constexpr UINT32 MC_PULSE_A = 0x37;
constexpr UINT32 MC_PULSE_B = 0x38;
constexpr UINT32 MC_DEVICE_MODE = 0x91;  // bits 31..28 = 2: extended commands

// Clock indices: engine clock PLL 0..3, memory clock PLL 4..7.
constexpr UINT32 CLK_ENGINE_PLL = 0;
constexpr UINT32 CLK_MEMORY_PLL = 4;
constexpr UINT32 CLK_MISC_CONTROL = 0x08;
constexpr UINT32 CLK_OUTPUT_RAMP = 0x0A;
constexpr UINT32 CLK_MEMORY_IO = 0x0B;
constexpr UINT32 ENGINE_CLOCK_FEEDBACK = 133;
constexpr UINT32 MEMORY_CLOCK_FEEDBACK = 88;

EFI_PCI_IO_PROTOCOL* Pci(ADAPTER_CONTEXT* Context) { return Context->PciIo; }

void ClkOr(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Index, UINT32 Bits) {
  PllWrite(PciIo, Index, PllRead(PciIo, Index) | Bits);
}
void ClkAnd(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Index, UINT32 Mask) {
  PllWrite(PciIo, Index, PllRead(PciIo, Index) & Mask);
}
void ClkAndOr(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 Index, UINT32 Mask, UINT32 Bits) {
  PllWrite(PciIo, Index, (PllRead(PciIo, Index) & Mask) | Bits);
}
void McWriteRange(EFI_PCI_IO_PROTOCOL* PciIo, UINT32 First, UINT32 Last, UINT32 Value) {
  for (UINT32 Index = First; Index <= Last; Index++) McWrite(PciIo, Index, Value);
}

}  // namespace

EFI_STATUS InitIndexedRegisters(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Pci(Context);
  RegWrite32(PciIo, REG_INDEXED_ENABLE, 1);
  IndexedWrite(PciIo, 0x01, 0x1E0C0000);
  IndexedWrite(PciIo, 0x03, 0x00900003);
  IndexedWrite(PciIo, 0x70, 0x400A1807);
  IndexedWrite(PciIo, 0x85, 0);
  IndexedWrite(PciIo, 0x91, 0);
  IndexedWrite(PciIo, 0x92, 0);
  IndexedWrite(PciIo, 0x93, 0);
  IndexedWrite(PciIo, 0xA0, 0x40001300);
  IndexedWrite(PciIo, 0xB0, 0x81);
  IndexedWrite(PciIo, 0xE0, 1);
  IndexedWrite(PciIo, 0xA0, 0x40001300);
  return EFI_SUCCESS;
}

EFI_STATUS InitMemoryController(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Pci(Context);

  UINT32 Strap = (RegRead32(PciIo, REG_STRAPS) >> STRAP_MEMORY_SHIFT) & 3;
  const UINT32* P;
  if (Strap == STRAP_MEMORY_SET_B) {
    P = McParameterSets[MC_SET_B];
    RegWrite32(PciIo, REG_MEMORY_SIZE, 0x08000000);
  } else {
    P = McParameterSets[MC_SET_A];
    RegWrite32(PciIo, REG_MEMORY_SIZE, 0x10000000);
  }

  McWrite(PciIo, MC_CONFIG, 0x161);
  McWrite(PciIo, 0x8D, 0x78F);
  McWrite(PciIo, MC_CONFIG, (McRead(PciIo, MC_CONFIG) & 0xFFFFFF1F) | 0x60);

  McWrite(PciIo, 0x30, 0x5000);
  McWrite(PciIo, 0x35, 0x07420742);
  McWrite(PciIo, 0x3B, 0x0015FF40);
  McWrite(PciIo, 0x3C, 0x0015FF40);
  McWrite(PciIo, 0x89, 0x600);
  McWrite(PciIo, 0x8A, 0x600);
  McWrite(PciIo, MC_DEVICE_MODE, 0x20021404);
  McWrite(PciIo, 0x06, 0x00097635);
  McWrite(PciIo, 0x0F, 0x0C004208);
  McWrite(PciIo, MC_PULSE_A, 0);
  McWrite(PciIo, MC_PULSE_B, 0);
  McWrite(PciIo, 0x8F, 0);

  McWriteRange(PciIo, 0x4D, 0x50, 0xBCBCBCBC);

  // Refresh interval from the exponent as the controller reports it now;
  // only the low byte enters the timing word.
  UINT32 Exponent = (McRead(PciIo, MC_CONFIG) >> 5) & 7;
  UINT32 Interval = (200000 / (1024u << Exponent) - 1) & 0xFF;

  McWriteRange(PciIo, 0x65, 0x68, P[P5]);
  McWriteRange(PciIo, 0x55, 0x58, P[P6]);

  McWrite(PciIo, 0x2D, P[P7]);
  McWrite(PciIo, MC_TIMING, P[P8] | Interval);
  McWrite(PciIo, MC_CONTROL, P[P9]);
  McWrite(PciIo, MC_DEVICE_MODE, P[P10] | 0x20021404);
  McWrite(PciIo, MC_COMMAND, P[P11] | 2);
  McWrite(PciIo, 0x8E, P[P12] | 0x100460D6);

  for (UINT32 Index = 0x3D; Index <= 0x43; Index += 2) McWrite(PciIo, Index, P[P0]);
  for (UINT32 Index = 0x3E; Index <= 0x44; Index += 2) McWrite(PciIo, Index, P[P1]);

  McWriteRange(PciIo, 0x69, 0x6C, P[P2]);
  McWriteRange(PciIo, 0x71, 0x74, P[P3]);
  McWriteRange(PciIo, 0x79, 0x7C, P[P4]);
  McWrite(PciIo, 0x81, P[P4]);
  McWrite(PciIo, 0x82, P[P4]);
  McWrite(PciIo, 0x85, P[P4]);
  McWrite(PciIo, 0x86, P[P4]);
  return EFI_SUCCESS;
}

EFI_STATUS InitEngineClocks(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Pci(Context);

  ClkOr(PciIo, CLK_ENGINE_PLL + 3, 1);
  ClkOr(PciIo, CLK_MEMORY_PLL + 3, 1);
  ClkAndOr(PciIo, CLK_ENGINE_PLL, 0xFFFFFFE3, 1);
  ClkAndOr(PciIo, CLK_MEMORY_PLL, 0xFFFFFFE3, 1);
  ClkOr(PciIo, CLK_ENGINE_PLL + 3, 1);
  ClkOr(PciIo, CLK_MEMORY_PLL + 3, 1);

  // Engine clock.
  PllWrite(PciIo, CLK_ENGINE_PLL + 1, 1);
  PllWrite(PciIo, CLK_ENGINE_PLL, (ENGINE_CLOCK_FEEDBACK << 5) | 0x0300000C);
  PllWrite(PciIo, CLK_ENGINE_PLL + 2, 1);
  DelayMicroseconds(Context, 2);
  ClkAnd(PciIo, CLK_ENGINE_PLL, ~1u);
  ClkOr(PciIo, CLK_ENGINE_PLL, 1);
  DelayMicroseconds(Context, 200);
  ClkAnd(PciIo, CLK_ENGINE_PLL, ~1u);
  DelayMicroseconds(Context, 200);
  PllWrite(PciIo, CLK_ENGINE_PLL + 2, 0);
  ClkAnd(PciIo, CLK_ENGINE_PLL, 0xFDFFFFFF);

  McWrite(PciIo, MC_TIMING, (McRead(PciIo, MC_TIMING) & ~0x200u) | 0x100);
  WaitMcIdle(Context);
  McWrite(PciIo, MC_CONTROL, McRead(PciIo, MC_CONTROL) & 0xEFFFFFFF);
  DelayMicroseconds(Context, 1);

  // Memory clock.
  PllWrite(PciIo, CLK_MEMORY_PLL, (MEMORY_CLOCK_FEEDBACK << 5) | 0x02000008);
  PllWrite(PciIo, CLK_MEMORY_PLL + 2, 1);
  PllWrite(PciIo, CLK_MEMORY_PLL + 1, 1);
  ClkOr(PciIo, CLK_MEMORY_PLL, 0x02000001);
  DelayMicroseconds(Context, 2);
  ClkOr(PciIo, CLK_MEMORY_PLL, 2);
  DelayMicroseconds(Context, 2);
  ClkAnd(PciIo, CLK_MEMORY_PLL, ~2u);
  DelayMicroseconds(Context, 5);
  ClkAnd(PciIo, CLK_MEMORY_PLL, ~1u);
  DelayMicroseconds(Context, 200);
  PllWrite(PciIo, CLK_MEMORY_PLL + 2, 0);
  ClkAnd(PciIo, CLK_MEMORY_PLL, 0xFDFFFFFF);
  DelayMicroseconds(Context, 2);
  ClkOr(PciIo, CLK_MEMORY_PLL, 0x04000000);

  ClkOr(PciIo, CLK_MEMORY_PLL + 3, 1);
  ClkOr(PciIo, CLK_ENGINE_PLL + 3, 1);
  return EFI_SUCCESS;
}

EFI_STATUS InitMemoryDevices(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Pci(Context);

  // 1. Control pulse on both ranks.
  UINT32 PulseA = McRead(PciIo, MC_PULSE_A);
  UINT32 PulseB = McRead(PciIo, MC_PULSE_B);
  McWrite(PciIo, MC_PULSE_A, (PulseA & 0xFCFFFFFF) | 0x01000000);
  McWrite(PciIo, MC_PULSE_A, PulseA);
  McWrite(PciIo, MC_PULSE_B, (PulseB & 0xFCFFFFFF) | 0x01000000);
  McWrite(PciIo, MC_PULSE_B, PulseB);

  // 2. Clock-output ramp.
  UINT32 Ramp = PllRead(PciIo, CLK_OUTPUT_RAMP) | 0xF000;
  PllWrite(PciIo, CLK_OUTPUT_RAMP, Ramp);
  DelayMicroseconds(Context, 2);
  Ramp |= 0x0F00;
  PllWrite(PciIo, CLK_OUTPUT_RAMP, Ramp);
  DelayMicroseconds(Context, 5);
  Ramp &= ~0x0300u;
  PllWrite(PciIo, CLK_OUTPUT_RAMP, Ramp);
  DelayMicroseconds(Context, 2);
  Ramp &= ~0x3000u;
  PllWrite(PciIo, CLK_OUTPUT_RAMP, Ramp);
  DelayMicroseconds(Context, 200);
  Ramp |= 0x10;
  PllWrite(PciIo, CLK_OUTPUT_RAMP, Ramp);

  // 3. Memory-device commands, all of them in the start-up trace.
  UINT32 Command = McRead(PciIo, MC_COMMAND);
  UINT32 Mode = McRead(PciIo, MC_DEVICE_MODE);
  UINT32 Low = Command & 0xFFFF;
  BOOLEAN Extended = (Mode >> 28) == 2;
  McWriteAndTrace(Context, MC_COMMAND, 0x00020000);
  if (Extended) {
    McWriteAndTrace(Context, MC_COMMAND, 0x00322000);
    McWriteAndTrace(Context, MC_COMMAND, 0x00323000);
  }
  McWriteAndTrace(Context, MC_COMMAND, (Mode & 0xFFFF) | 0x00320000);
  McWriteAndTrace(Context, MC_COMMAND, Low | 0x00360100);
  DelayAndTrace(Context, 2);
  McWriteAndTrace(Context, MC_COMMAND, Low | 0x00020000);
  McWriteAndTrace(Context, MC_COMMAND, Low | 0x00620000);
  McWriteAndTrace(Context, MC_COMMAND, Low | 0x00620000);
  McWriteAndTrace(Context, MC_COMMAND, Low | 0x00320000);
  if (Extended) {
    McWriteAndTrace(Context, MC_COMMAND, (Mode & 0xFFFF) | 0x00320380);
    McWriteAndTrace(Context, MC_COMMAND, (Mode & 0xFC7F) | 0x00320000);
  }
  McWriteAndTrace(Context, MC_COMMAND, 0x00660000);
  McWriteAndTrace(Context, MC_CONTROL, McRead(PciIo, MC_CONTROL) | 0x10000000);
  McWriteAndTrace(Context, MC_TIMING, (McRead(PciIo, MC_TIMING) & ~0x100u) | 0x200);
  McWriteAndTrace(Context, MC_COMMAND, Command);

  // 4. Clock indices 0x08..0x28 and the memory clock routing.
  ClkOr(PciIo, CLK_MISC_CONTROL, 1);
  PllWrite(PciIo, 0x10, 0x0F3FF01A);
  PllWrite(PciIo, 0x14, 0x0F3FF01A);
  PllWrite(PciIo, 0x1A, 0x60A);
  PllWrite(PciIo, 0x12, 0x0F3FF50A);
  PllWrite(PciIo, 0x1B, 0x40A);
  PllWrite(PciIo, 0x15, 0xCA);
  PllWrite(PciIo, 0x18, 0x10A);
  PllWrite(PciIo, 0x19, 0x14A);
  PllWrite(PciIo, 0x17, 0x18A);
  PllWrite(PciIo, 0x16, 0x1CA);
  PllWrite(PciIo, 0x1C, 0x1A);
  PllWrite(PciIo, 0x27, 0x24A);
  PllWrite(PciIo, 0x28, 0x28A);
  PllWrite(PciIo, 0x28, 0x28A);
  PllWrite(PciIo, CLK_MEMORY_IO, 0x100FAC1E);
  PllWrite(PciIo, 0x26, 0x13);
  PllWrite(PciIo, 0x1E, 0x13);
  PllWrite(PciIo, 0x1D, 0x13);
  RegWrite32(PciIo, REG_MEMORY_CLOCK_ENABLE_A, 1);
  RegWrite32(PciIo, REG_MEMORY_CLOCK_ENABLE_B, 0);
  RegWrite32(PciIo, REG_MEMORY_CLOCK_ROUTE_A, 0x0C000000);
  RegWrite32(PciIo, REG_MEMORY_CLOCK_ROUTE_B, 0x0C000000);
  ClkOr(PciIo, CLK_MEMORY_IO, 1);
  ClkAndOr(PciIo, CLK_MEMORY_IO, 0xFFFFFC03, 0x10);
  ClkAndOr(PciIo, CLK_MEMORY_IO, 0xFFFFFC03, 0x000F008E);
  ClkOr(PciIo, CLK_MEMORY_IO, 0x400);

  // 5. Outputs of the memory clock on.
  ClkOr(PciIo, CLK_MISC_CONTROL, 1);
  ClkOr(PciIo, CLK_MISC_CONTROL, 4);
  ClkOr(PciIo, CLK_OUTPUT_RAMP, 0x80);
  RegWrite32(PciIo, REG_OUTPUT_PADS, RegRead32(PciIo, REG_OUTPUT_PADS) | 0x01111111);
  return EFI_SUCCESS;
}

EFI_STATUS StartDisplayEngine(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Pci(Context);
  Context->CurrentDisplay = 0;

  EFI_STATUS Status = InitIndexedRegisters(Context);
  if (EFI_ERROR(Status)) return Status;
  RegWrite32(PciIo, REG_ENGINE_CONFIG_A, 0x0000444F);
  RegWrite32(PciIo, REG_ENGINE_CONFIG_B, 0x40800000);
  Status = InitMemoryController(Context);
  if (EFI_ERROR(Status)) return Status;
  Status = InitEngineClocks(Context);
  if (EFI_ERROR(Status)) return Status;
  Status = InitMemoryDevices(Context);
  if (EFI_ERROR(Status)) return Status;

  InitDacOutputs(Context);
  LoadIdentityLut(Context);
  ShutDownOutputs(Context);
  AuxDeviceInit(Context);
  Status = EngineInit(Context);
  if (EFI_ERROR(Status)) return Status;

  Context->EngineStarted = 1;
  // The trace keeps growing over runs; never publish past its buffer.
  UINT32 Length = Context->MrtLength;
  if (Length > sizeof(Context->MrtBuffer)) Length = sizeof(Context->MrtBuffer);
  AddDeviceProperty(Context, u"ZEY,MRT", Length, Context->MrtBuffer, EFI_FALSE);
  AddDeviceProperty(Context, u"ZEY,MemVendorID", sizeof(Context->MemoryVendorId), &Context->MemoryVendorId,
                    EFI_FALSE);
  return Status;
}
