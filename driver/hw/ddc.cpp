// Bit-banged I2C on the DDC GPIO lines. Layers, bottom up: line control
// (open drain: the output level is always 0, so enabling a line's output
// pulls it low and disabling it lets it float high), clock stretching (only
// in DdcWaitClockHigh), start/stop, bits, bytes, then the EDID probe and
// the auxiliary device's register transfers.
#include "driver/hw/ddc.h"

#include "driver/hw/regs.h"
#include "driver/lib/driverlib.h"

namespace {

constexpr UINT32 kGpioSelectBoth = DDC_GPIO_CLOCK | DDC_GPIO_DATA;

constexpr UINT32 kProbeAttempts = 8;
constexpr UINT32 kProbeSettleUs = 500;     // after the word address is set

constexpr UINT8 kAuxDefaultRegister4C = 0x2E;

// The line layer's waits in microseconds, each after the step it names,
// in the order the steps run; 0 makes no call. Row 0 is the board's own
// timing (a bus near 15 kHz). Row 1, the fast policy's, is the I2C standard
// mode rounded up to whole microseconds: SCL low 5 (4 of data hold after
// the fall, 1 of data set-up), high 5 (4.0 is the minimum; 5 keeps the
// clock at 100 kHz whatever the lines' rise time), START set-up 5 and hold
// 4, STOP set-up 4, bus free 5. Clock stretching keeps its 5 ms bound,
// polled every half period.
struct DDC_TIMING {
  UINT32 LineSettle;                       // every line change
  UINT32 StretchPoll, StretchPolls;        // DdcWaitClockHigh
  UINT32 ResetClockHigh, ResetDataHigh;    // DdcResetBus, beyond the settle
  UINT32 StartDataHigh, StartSetUp, StartHold, StartClockLow;
  UINT32 StopClockLow, StopDataLow, StopSetUp, StopBusFree;
  UINT32 BitClockLow, BitData, BitHigh, ReadBeforeSample, BitAfterClockLow;
};
constexpr DDC_TIMING DdcTimings[2] = {
    // line  stretch     reset     DdcStart             DdcStop              DdcWriteBit, DdcReadBit
    // settle poll polls clk data  data set hold low    low data set free    low data high sample after
    {5,      10,  500,   0,  0,    5,   5,  15,  5,     5,  5,   5,  15,     5,  5,   10,  15,    5},  // board
    {0,       5, 1000,   4,  5,    1,   5,   4,  4,     4,  1,   4,   5,     0,  1,    5,   0,    4},  // fast
};

const DDC_TIMING& Timing(const ADAPTER_CONTEXT* Context) { return DdcTimings[Context->FastStartup ? 1 : 0]; }

// The one module-wide line state (see ddc.h); only DdcResetBus clears it.
UINT8 DdcLineState = 0;

const DDC_GPIO_BLOCK& GpioBlock(const ADAPTER_CONTEXT* Context) {
  switch (Context->DdcChannel) {
    case 2:
      return DDC_GPIO_BLOCKS[1];
    case 3:
      return DDC_GPIO_BLOCKS[2];
    default:
      return DDC_GPIO_BLOCKS[0];
  }
}

void Stall(UINT32 Microseconds) {
  if (Microseconds != 0) gBS->Stall(Microseconds);
}

// Applies the new state, lets the lines settle, then records it.
void ChangeLines(ADAPTER_CONTEXT* Context, UINT8 State) {
  DdcApplyLines(Context, State);
  Stall(Timing(Context).LineSettle);
  DdcLineState = State;
}

BOOLEAN ClockFailed(ADAPTER_CONTEXT* Context) { return DdcWaitClockHigh(Context) == 0; }

}  // namespace

#ifndef QUOVAN_EFI_BUILD
void DdcResetForHost() { DdcLineState = 0; }
#endif

// ---------------------------------------------------------------- lines

void DdcApplyLines(ADAPTER_CONTEXT* Context, UINT8 State) {
  const DDC_GPIO_BLOCK& Block = GpioBlock(Context);
  UINT32 Enable = 0;
  if ((State & DDC_DATA_DRIVEN) != 0 && (State & DDC_DATA_HIGH) == 0) Enable |= DDC_GPIO_DATA;
  if ((State & DDC_CLOCK_DRIVEN) != 0 && (State & DDC_CLOCK_HIGH) == 0) Enable |= DDC_GPIO_CLOCK;
  RegWrite32(Context->PciIo, Block.Select, kGpioSelectBoth);
  RegWrite32(Context->PciIo, Block.OutputLevel, 0);
  RegWrite32(Context->PciIo, Block.OutputEnable, Enable);
}

UINT8 DdcSampleLines(ADAPTER_CONTEXT* Context) {
  const DDC_GPIO_BLOCK& Block = GpioBlock(Context);
  UINT32 Enable = RegRead32(Context->PciIo, Block.OutputEnable);
  UINT32 Input = RegRead32(Context->PciIo, Block.Input);
  UINT8 Status = 0;
  if ((Enable & DDC_GPIO_DATA) != 0) Status |= DDC_DATA_DRIVEN;
  if ((Input & DDC_GPIO_DATA) != 0) Status |= DDC_DATA_HIGH;
  if ((Enable & DDC_GPIO_CLOCK) != 0) Status |= DDC_CLOCK_DRIVEN;
  if ((Input & DDC_GPIO_CLOCK) != 0) Status |= DDC_CLOCK_HIGH;
  return Status;
}

void DdcSetClock(ADAPTER_CONTEXT* Context, BOOLEAN High) {
  UINT8 State = High ? (DdcLineState | DDC_CLOCK_DRIVEN | DDC_CLOCK_HIGH)
                     : ((DdcLineState | DDC_CLOCK_DRIVEN) & ~DDC_CLOCK_HIGH);
  ChangeLines(Context, State);
}

void DdcSetData(ADAPTER_CONTEXT* Context, BOOLEAN High) {
  UINT8 State = High ? (DdcLineState | DDC_DATA_DRIVEN | DDC_DATA_HIGH)
                     : ((DdcLineState | DDC_DATA_DRIVEN) & ~DDC_DATA_HIGH);
  ChangeLines(Context, State);
}

void DdcReleaseClock(ADAPTER_CONTEXT* Context) { ChangeLines(Context, DdcLineState & ~DDC_CLOCK_DRIVEN); }

void DdcReleaseData(ADAPTER_CONTEXT* Context) { ChangeLines(Context, DdcLineState & ~DDC_DATA_DRIVEN); }

// Leaves both lines floating high, whatever state a failed transfer left.
void DdcResetBus(ADAPTER_CONTEXT* Context) {
  const DDC_TIMING& T = Timing(Context);
  // From a bus left with both lines low this is a STOP: its set-up, then
  // the bus free before the next START.
  DdcSetClock(Context, EFI_TRUE);
  Stall(T.ResetClockHigh);
  DdcSetData(Context, EFI_TRUE);
  Stall(T.ResetDataHigh);
  DdcReleaseClock(Context);
  DdcReleaseData(Context);
  DdcLineState = 0;
}

// The only place that waits for a device holding the clock low.
UINT8 DdcWaitClockHigh(ADAPTER_CONTEXT* Context) {
  const DDC_TIMING& T = Timing(Context);
  DdcSetClock(Context, EFI_TRUE);
  for (UINT32 Poll = 0; Poll < T.StretchPolls; ++Poll) {
    if ((DdcSampleLines(Context) & DDC_CLOCK_HIGH) != 0) break;
    Stall(T.StretchPoll);
  }
  return (DdcSampleLines(Context) & DDC_CLOCK_HIGH) != 0 ? 1 : 0;
}

// ---------------------------------------------------------------- conditions

// Expects the clock low or both lines idle high; leaves the clock low.
// Also serves as the repeated start.
EFI_STATUS DdcStart(ADAPTER_CONTEXT* Context) {
  const DDC_TIMING& T = Timing(Context);
  DdcSetData(Context, EFI_TRUE);
  Stall(T.StartDataHigh);
  if (ClockFailed(Context)) return EFI_DEVICE_ERROR;
  Stall(T.StartSetUp);
  DdcSetData(Context, EFI_FALSE);
  Stall(T.StartHold);
  DdcSetClock(Context, EFI_FALSE);
  Stall(T.StartClockLow);
  return EFI_SUCCESS;
}

// Expects the clock low or both lines idle high; leaves both lines high.
EFI_STATUS DdcStop(ADAPTER_CONTEXT* Context) {
  const DDC_TIMING& T = Timing(Context);
  DdcSetClock(Context, EFI_FALSE);
  Stall(T.StopClockLow);
  DdcSetData(Context, EFI_FALSE);
  Stall(T.StopDataLow);
  if (ClockFailed(Context)) return EFI_DEVICE_ERROR;
  Stall(T.StopSetUp);
  DdcSetData(Context, EFI_TRUE);
  Stall(T.StopBusFree);
  return EFI_SUCCESS;
}

// ---------------------------------------------------------------- bits

// Expects the clock low; leaves it low.
EFI_STATUS DdcWriteBit(ADAPTER_CONTEXT* Context, UINT8 Bit) {
  const DDC_TIMING& T = Timing(Context);
  DdcSetClock(Context, EFI_FALSE);
  Stall(T.BitClockLow);
  DdcSetData(Context, Bit != 0 ? EFI_TRUE : EFI_FALSE);
  Stall(T.BitData);
  if (ClockFailed(Context)) return EFI_DEVICE_ERROR;
  Stall(T.BitHigh);
  DdcSetClock(Context, EFI_FALSE);
  Stall(T.BitAfterClockLow);
  return EFI_SUCCESS;
}

// Expects the clock low; leaves it low. A stuck clock is not an error here:
// nobody driving the bus reads as 1.
UINT8 DdcReadBit(ADAPTER_CONTEXT* Context) {
  const DDC_TIMING& T = Timing(Context);
  DdcSetClock(Context, EFI_FALSE);
  Stall(T.BitClockLow);
  DdcSetData(Context, EFI_TRUE);
  Stall(T.BitData);
  DdcWaitClockHigh(Context);
  Stall(T.BitHigh);
  Stall(T.ReadBeforeSample);
  UINT8 Bit = (DdcSampleLines(Context) & DDC_DATA_HIGH) != 0 ? 1 : 0;
  DdcSetClock(Context, EFI_FALSE);
  Stall(T.BitAfterClockLow);
  return Bit;
}

// ---------------------------------------------------------------- bytes

// Most significant bit first, then the device's acknowledge.
EFI_STATUS DdcWriteByte(ADAPTER_CONTEXT* Context, UINT8 Value) {
  for (INT32 Position = 7; Position >= 0; --Position) {
    EFI_STATUS Status = DdcWriteBit(Context, static_cast<UINT8>(Value & (1u << Position)));
    if (EFI_ERROR(Status)) return Status;
  }
  return DdcReadBit(Context) != 0 ? EFI_DEVICE_ERROR : EFI_SUCCESS;
}

// Ack DDC_ACK asks for another byte, DDC_NO_ACK ends the read.
EFI_STATUS DdcReadByte(ADAPTER_CONTEXT* Context, UINT8* Value, UINT8 Ack) {
  UINT8 Byte = 0;
  for (UINT32 Bit = 0; Bit < 8; ++Bit) Byte = static_cast<UINT8>((Byte << 1) | DdcReadBit(Context));
  *Value = Byte;
  return DdcWriteBit(Context, Ack);
}

// ---------------------------------------------------------------- transfers

BOOLEAN DdcProbe(ADAPTER_CONTEXT* Context) {
  for (UINT32 Attempt = 0; Attempt < kProbeAttempts; ++Attempt) {
    if (!EFI_ERROR(DdcStart(Context)) && !EFI_ERROR(DdcWriteByte(Context, DDC_EDID_WRITE))) {
      DdcWriteByte(Context, DDC_EDID_WORD_ADDRESS_0);
      DdcStop(Context);
      Stall(kProbeSettleUs);
      return EFI_TRUE;
    }
    DdcStop(Context);
  }
  DdcStop(Context);
  return EFI_FALSE;
}

namespace {

// Starts a transaction with the auxiliary device. Under the design's timing
// every status is ignored and the transaction runs to its end whoever
// answers; under the fast policy a device that does not acknowledge its
// address gets the stop at once, and FALSE says so.
BOOLEAN AuxAddress(ADAPTER_CONTEXT* Context) {
  Context->DdcChannel = DDC_AUX_CHANNEL;
  DdcResetBus(Context);
  EFI_STATUS Status = DdcStart(Context);
  if (EFI_ERROR(Status) && Context->FastStartup) return EFI_FALSE;
  Status = DdcWriteByte(Context, DDC_AUX_WRITE);
  if (EFI_ERROR(Status) && Context->FastStartup) {
    DdcStop(Context);
    return EFI_FALSE;
  }
  return EFI_TRUE;
}

// What a read on a bus nobody drives gives: the floating lines.
constexpr UINT8 kAuxNoDevice = 0xFF;

}  // namespace

// On a board without the device the reads give what the floating lines
// give (0xFF) and the writes go nowhere.
UINT8 AuxRegRead(ADAPTER_CONTEXT* Context, UINT8 Register) {
  if (!AuxAddress(Context)) return kAuxNoDevice;
  DdcWriteByte(Context, Register);
  DdcStart(Context);
  DdcWriteByte(Context, DDC_AUX_READ);
  UINT8 Value = 0;
  DdcReadByte(Context, &Value, DDC_NO_ACK);
  DdcStop(Context);
  return Value;
}

EFI_STATUS AuxRegWrite(ADAPTER_CONTEXT* Context, UINT8 Register, UINT8 Value) {
  if (!AuxAddress(Context)) return EFI_NOT_FOUND;
  DdcWriteByte(Context, Register);
  DdcWriteByte(Context, Value);
  DdcStop(Context);
  return EFI_SUCCESS;
}

EFI_STATUS AuxDeviceConfigure(ADAPTER_CONTEXT* Context, UINT8 Register4C) {
  // Only the fast policy learns that nobody answered, and stops here.
  if (EFI_ERROR(AuxRegWrite(Context, AUX_11, 0x10))) return EFI_NOT_FOUND;
  AuxRegWrite(Context, AUX_4A, static_cast<UINT8>((AuxRegRead(Context, AUX_4A) & 0xC4) | 0x38));
  AuxRegWrite(Context, AUX_4B, static_cast<UINT8>((AuxRegRead(Context, AUX_4B) & 0xC0) | 0x1A));
  AuxRegWrite(Context, AUX_4D, 0x0B);
  AuxRegWrite(Context, AUX_4C, Register4C);
  AuxRegWrite(Context, AUX_4F, 0x03);
  return EFI_SUCCESS;
}

namespace {

// AUX_TABLE_FIRST onwards, one register each, in this order.
const UINT8 AuxTable50[16] = {
    0x00, 0x05, 0x37, 0x0A, 0x5B, 0x0D, 0x5F, 0x0F,  //
    0x62, 0x16, 0x62, 0x16, 0x62, 0x16, 0x62, 0x16,  //
};

}  // namespace

EFI_STATUS AuxDeviceInit(ADAPTER_CONTEXT* Context) {
  if (EFI_ERROR(AuxDeviceConfigure(Context, kAuxDefaultRegister4C))) return EFI_SUCCESS;
  for (UINT32 Index = 0; Index < sizeof(AuxTable50); ++Index) {
    AuxRegWrite(Context, static_cast<UINT8>(AUX_TABLE_FIRST + Index), AuxTable50[Index]);
  }
  AuxRegWrite(Context, AUX_4A, static_cast<UINT8>(AuxRegRead(Context, AUX_4A) & 0xDF));
  return EFI_SUCCESS;
}
