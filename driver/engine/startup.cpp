#include "driver/engine/startup.h"

#include "driver/engine/crtc.h"
#include "driver/engine/outputs.h"
#include "driver/hw/dac.h"
#include "driver/hw/ddc.h"
#include "driver/hw/properties.h"
#include "driver/hw/regmap/indirect.h"
#include "driver/hw/regmap/system.h"
#include "driver/hw/regs.h"

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

constexpr UINT32 ENGINE_CLOCK_FEEDBACK = 133;
constexpr UINT32 MEMORY_CLOCK_FEEDBACK = 88;

struct INDIRECT_WRITE {
  UINT32 Index;
  UINT32 Value;
};

// The indexed space, in order.
const INDIRECT_WRITE kIndexedInit[] = {
    // Index   Value
    {IDX_01,   0x1E0C0000},
    {IDX_03,   0x00900003},
    {IDX_70,   0x400A1807},
    {IDX_85,   0},
    {IDX_91,   0},
    {IDX_92,   0},
    {IDX_93,   0},
    {IDX_A0,   0x40001300},
    {IDX_B0,   0x81},
    {IDX_E0,   1},
    {IDX_A0,   0x40001300},
};

// Memory-controller writes of fixed values, before the parameter set.
const INDIRECT_WRITE kMcFixedInit[] = {
    // Index          Value
    {MC_30,           0x5000},
    {MC_35,           0x07420742},
    {MC_3B,           0x0015FF40},
    {MC_3C,           0x0015FF40},
    {MC_89,           0x600},
    {MC_8A,           0x600},
    {MC_DEVICE_MODE,  0x20021404},
    {MC_06,           0x00097635},
    {MC_0F,           0x0C004208},
    {MC_PULSE_A,      0},
    {MC_PULSE_B,      0},
    {MC_8F,           0},
};

const UINT32 kMcLastP4[] = {MC_81, MC_82, MC_85, MC_86};

// Clock indices 0x10 to 0x28 and the memory I/O word, in order.
const INDIRECT_WRITE kClockInit[] = {
    // Index          Value
    {CLK_10,          0x0F3FF01A},
    {CLK_14,          0x0F3FF01A},
    {CLK_1A,          0x60A},
    {CLK_12,          0x0F3FF50A},
    {CLK_1B,          0x40A},
    {CLK_15,          0xCA},
    {CLK_18,          0x10A},
    {CLK_19,          0x14A},
    {CLK_17,          0x18A},
    {CLK_16,          0x1CA},
    {CLK_1C,          0x1A},
    {CLK_27,          0x24A},
    {CLK_28,          0x28A},
    {CLK_28,          0x28A},
    {CLK_MEMORY_IO,   0x100FAC1E},
    {CLK_26,          0x13},
    {CLK_1E,          0x13},
    {CLK_1D,          0x13},
};

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
  RegWrite32(PciIo, SYS_INDEXED_ENABLE, 1);
  for (const INDIRECT_WRITE& Write : kIndexedInit) IndexedWrite(PciIo, Write.Index, Write.Value);
  return EFI_SUCCESS;
}

EFI_STATUS InitMemoryController(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Pci(Context);

  UINT32 Strap = (RegRead32(PciIo, SYS_STRAPS) >> STRAPS_MEMORY_SHIFT) & STRAPS_MEMORY_MASK;
  const UINT32* P;
  if (Strap == STRAPS_MEMORY_SET_B) {
    P = McParameterSets[MC_SET_B];
    RegWrite32(PciIo, SYS_MEMORY_SIZE, SYS_MEMORY_SIZE_SET_B);
  } else {
    P = McParameterSets[MC_SET_A];
    RegWrite32(PciIo, SYS_MEMORY_SIZE, SYS_MEMORY_SIZE_SET_A);
  }

  McWrite(PciIo, MC_CONFIG, 0x161);
  McWrite(PciIo, MC_8D, 0x78F);
  McWrite(PciIo, MC_CONFIG, (McRead(PciIo, MC_CONFIG) & 0xFFFFFF1F) | 0x60);

  for (const INDIRECT_WRITE& Write : kMcFixedInit) McWrite(PciIo, Write.Index, Write.Value);
  McWriteRange(PciIo, MC_4D, MC_4D + 3, 0xBCBCBCBC);

  // Refresh interval from the exponent as the controller reports it now;
  // only the low byte enters the timing word.
  UINT32 Exponent = (McRead(PciIo, MC_CONFIG) >> MC_CONFIG_REFRESH_SHIFT) & MC_CONFIG_REFRESH_MASK;
  UINT32 Interval = (200000 / (1024u << Exponent) - 1) & 0xFF;

  McWriteRange(PciIo, MC_65, MC_65 + 3, P[P5]);
  McWriteRange(PciIo, MC_55, MC_55 + 3, P[P6]);

  McWrite(PciIo, MC_2D, P[P7]);
  McWrite(PciIo, MC_TIMING, P[P8] | Interval);
  McWrite(PciIo, MC_CONTROL, P[P9]);
  McWrite(PciIo, MC_DEVICE_MODE, P[P10] | 0x20021404);
  McWrite(PciIo, MC_COMMAND, P[P11] | 2);
  McWrite(PciIo, MC_8E, P[P12] | 0x100460D6);

  // Four ranks of two words: P0 at the even, P1 at the odd index.
  for (UINT32 Rank = 0; Rank < 4; Rank++) McWrite(PciIo, MC_RANK_FIRST + MC_RANK_STRIDE * Rank, P[P0]);
  for (UINT32 Rank = 0; Rank < 4; Rank++) McWrite(PciIo, MC_RANK_SECOND + MC_RANK_STRIDE * Rank, P[P1]);

  McWriteRange(PciIo, MC_69, MC_69 + 3, P[P2]);
  McWriteRange(PciIo, MC_71, MC_71 + 3, P[P3]);
  McWriteRange(PciIo, MC_79, MC_79 + 3, P[P4]);
  for (UINT32 Index : kMcLastP4) McWrite(PciIo, Index, P[P4]);
  return EFI_SUCCESS;
}

EFI_STATUS InitEngineClocks(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Pci(Context);

  ClkOr(PciIo, CLK_ENGINE_PLL_3, 1);
  ClkOr(PciIo, CLK_MEMORY_PLL_3, 1);
  ClkAndOr(PciIo, CLK_ENGINE_PLL, 0xFFFFFFE3, 1);
  ClkAndOr(PciIo, CLK_MEMORY_PLL, 0xFFFFFFE3, 1);
  ClkOr(PciIo, CLK_ENGINE_PLL_3, 1);
  ClkOr(PciIo, CLK_MEMORY_PLL_3, 1);

  // Engine clock.
  PllWrite(PciIo, CLK_ENGINE_PLL_1, 1);
  PllWrite(PciIo, CLK_ENGINE_PLL, (ENGINE_CLOCK_FEEDBACK << CLK_PLL_FEEDBACK_SHIFT) | 0x0300000C);
  PllWrite(PciIo, CLK_ENGINE_PLL_2, 1);
  DelayMicroseconds(Context, 2);
  ClkAnd(PciIo, CLK_ENGINE_PLL, ~1u);
  ClkOr(PciIo, CLK_ENGINE_PLL, 1);
  DelayMicroseconds(Context, 200);
  ClkAnd(PciIo, CLK_ENGINE_PLL, ~1u);
  DelayMicroseconds(Context, 200);
  PllWrite(PciIo, CLK_ENGINE_PLL_2, 0);
  ClkAnd(PciIo, CLK_ENGINE_PLL, 0xFDFFFFFF);

  McWrite(PciIo, MC_TIMING, (McRead(PciIo, MC_TIMING) & ~0x200u) | 0x100);
  WaitMcIdle(Context);
  McWrite(PciIo, MC_CONTROL, McRead(PciIo, MC_CONTROL) & 0xEFFFFFFF);
  DelayMicroseconds(Context, 1);

  // Memory clock.
  PllWrite(PciIo, CLK_MEMORY_PLL, (MEMORY_CLOCK_FEEDBACK << CLK_PLL_FEEDBACK_SHIFT) | 0x02000008);
  PllWrite(PciIo, CLK_MEMORY_PLL_2, 1);
  PllWrite(PciIo, CLK_MEMORY_PLL_1, 1);
  ClkOr(PciIo, CLK_MEMORY_PLL, 0x02000001);
  DelayMicroseconds(Context, 2);
  ClkOr(PciIo, CLK_MEMORY_PLL, 2);
  DelayMicroseconds(Context, 2);
  ClkAnd(PciIo, CLK_MEMORY_PLL, ~2u);
  DelayMicroseconds(Context, 5);
  ClkAnd(PciIo, CLK_MEMORY_PLL, ~1u);
  DelayMicroseconds(Context, 200);
  PllWrite(PciIo, CLK_MEMORY_PLL_2, 0);
  ClkAnd(PciIo, CLK_MEMORY_PLL, 0xFDFFFFFF);
  DelayMicroseconds(Context, 2);
  ClkOr(PciIo, CLK_MEMORY_PLL, 0x04000000);

  ClkOr(PciIo, CLK_MEMORY_PLL_3, 1);
  ClkOr(PciIo, CLK_ENGINE_PLL_3, 1);
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
  BOOLEAN Extended = (Mode >> 28) == MC_DEVICE_MODE_EXTENDED;
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
  for (const INDIRECT_WRITE& Write : kClockInit) PllWrite(PciIo, Write.Index, Write.Value);
  RegWrite32(PciIo, SYS_MEMORY_CLOCK_ENABLE_A, 1);
  RegWrite32(PciIo, SYS_MEMORY_CLOCK_ENABLE_B, 0);
  RegWrite32(PciIo, SYS_MEMORY_CLOCK_ROUTE_A, SYS_MEMORY_CLOCK_ROUTE_VALUE);
  RegWrite32(PciIo, SYS_MEMORY_CLOCK_ROUTE_B, SYS_MEMORY_CLOCK_ROUTE_VALUE);
  ClkOr(PciIo, CLK_MEMORY_IO, 1);
  ClkAndOr(PciIo, CLK_MEMORY_IO, 0xFFFFFC03, 0x10);
  ClkAndOr(PciIo, CLK_MEMORY_IO, 0xFFFFFC03, 0x000F008E);
  ClkOr(PciIo, CLK_MEMORY_IO, 0x400);

  // 5. Outputs of the memory clock on.
  ClkOr(PciIo, CLK_MISC_CONTROL, 1);
  ClkOr(PciIo, CLK_MISC_CONTROL, 4);
  ClkOr(PciIo, CLK_OUTPUT_RAMP, 0x80);
  RegWrite32(PciIo, SYS_OUTPUT_PADS, RegRead32(PciIo, SYS_OUTPUT_PADS) | SYS_OUTPUT_PADS_ON);
  return EFI_SUCCESS;
}

EFI_STATUS StartDisplayEngine(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Pci(Context);
  Context->CurrentDisplay = 0;

  EFI_STATUS Status = InitIndexedRegisters(Context);
  if (EFI_ERROR(Status)) return Status;
  RegWrite32(PciIo, SYS_ENGINE_CONFIG_A, SYS_ENGINE_CONFIG_A_VALUE);
  RegWrite32(PciIo, SYS_ENGINE_CONFIG_B, SYS_ENGINE_CONFIG_B_VALUE);
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
