// Bit-banged I2C master on the DDC GPIO lines, and register access to the
// auxiliary device at bus address 0x98 on channel 3.
//
// Every operation works on the channel in Context->DdcChannel at the moment
// it runs (2 and 3 select their own GPIO block, any other value channel 1's).
// The requested line state is one byte shared by all channels and adapters,
// so bus transactions must never interleave.
#pragma once

#include "driver/core/context.h"
#include "driver/hw/regmap/ddc.h"

// Bits of the requested line state and of the sampled line status.
#define DDC_CLOCK_HIGH 0x02     // requested high / input reads high
#define DDC_DATA_HIGH 0x04
#define DDC_CLOCK_DRIVEN 0x10   // under the driver's control / output enabled
#define DDC_DATA_DRIVEN 0x20

// Acknowledge bit that the master sends after a byte it read.
#define DDC_ACK 0
#define DDC_NO_ACK 1

#ifndef QUOVAN_EFI_BUILD
// Host tests load the driver many times in one process; this puts the
// module-wide line state back to its load-time 0.
void DdcResetForHost();
#endif

// Lines.
void DdcApplyLines(ADAPTER_CONTEXT* Context, UINT8 State);
UINT8 DdcSampleLines(ADAPTER_CONTEXT* Context);
void DdcSetClock(ADAPTER_CONTEXT* Context, BOOLEAN High);
void DdcSetData(ADAPTER_CONTEXT* Context, BOOLEAN High);
void DdcReleaseClock(ADAPTER_CONTEXT* Context);
void DdcReleaseData(ADAPTER_CONTEXT* Context);
void DdcResetBus(ADAPTER_CONTEXT* Context);
// Releases the clock and waits up to 5 ms for devices that stretch it;
// 1 when the clock reads high.
UINT8 DdcWaitClockHigh(ADAPTER_CONTEXT* Context);

// Conditions, bits and bytes.
EFI_STATUS DdcStart(ADAPTER_CONTEXT* Context);
EFI_STATUS DdcStop(ADAPTER_CONTEXT* Context);
EFI_STATUS DdcWriteBit(ADAPTER_CONTEXT* Context, UINT8 Bit);
UINT8 DdcReadBit(ADAPTER_CONTEXT* Context);
EFI_STATUS DdcWriteByte(ADAPTER_CONTEXT* Context, UINT8 Value);
EFI_STATUS DdcReadByte(ADAPTER_CONTEXT* Context, UINT8* Value, UINT8 Ack);

// Transfers.
// TRUE when the EDID memory answered; its word address is then 0.
BOOLEAN DdcProbe(ADAPTER_CONTEXT* Context);
UINT8 AuxRegRead(ADAPTER_CONTEXT* Context, UINT8 Register);
// EFI_SUCCESS; under the fast policy EFI_NOT_FOUND when the device did not
// acknowledge its address (the transaction then ends at once), and the
// set-up stops after a first write nobody answered.
EFI_STATUS AuxRegWrite(ADAPTER_CONTEXT* Context, UINT8 Register, UINT8 Value);
EFI_STATUS AuxDeviceConfigure(ADAPTER_CONTEXT* Context, UINT8 Register4C);
EFI_STATUS AuxDeviceInit(ADAPTER_CONTEXT* Context);
