// The platform's saved display configuration: a 256-byte record naming up
// to two displays by their EDID checksum byte, with the connector, timing
// and panel parameters each was last shown with.
#pragma once

#include "driver/core/context.h"

#define SAVED_CONFIG_SIZE 256

// Record layout.
#define SAVED_HEADER_A 0x00      // 8 bytes; byte 7: display A's EDID checksum byte
#define SAVED_HEADER_B 0x08      // 8 bytes; byte 15: display B's
#define SAVED_CHECKSUM_A 0x07
#define SAVED_CHECKSUM_B 0x0F
#define SAVED_TIMING_A 0x10      // 24 bytes
#define SAVED_TIMING_B 0x28
#define SAVED_PANEL_A 0x40       // 96 bytes
#define SAVED_PANEL_B 0xA0
#define SAVED_MVAD_SIZE 64

// Timing block: eleven 16-bit words, then flags stored most significant
// byte first.
#define SAVED_TIMING_FLAGS 22
#define SAVED_TIMING_HSYNC 0x0001
#define SAVED_TIMING_VSYNC 0x0002
#define SAVED_TIMING_OPTION 0x0008
#define SAVED_TIMING_TV_50HZ 0x0020
#define SAVED_TIMING_SCALER 0x0040
#define SAVED_TIMING_DUAL_LINK 0x1000

// Panel block.
#define SAVED_PANEL_POWER_SEQUENCE 0x00  // 7 x 4 bytes
#define SAVED_PANEL_PWM_FREQUENCY 0x1C
#define SAVED_PANEL_INVERTER_CYCLE 0x20
#define SAVED_PANEL_CONNECTOR_CODE 0x21
#define SAVED_PANEL_LINK_BITS 0x22
#define SAVED_PANEL_PIXEL_BITS 0x23
#define SAVED_PANEL_FLAGS 0x24
#define SAVED_PANEL_TWO_LINKS 0x01
#define SAVED_PANEL_LINK_TYPE 0x02
#define SAVED_PANEL_INVERTER_HIGH 0x04
#define SAVED_PANEL_INVERTER_CURRENT 0x08
#define SAVED_PANEL_CONNECT 0x10
#define SAVED_PANEL_DITHER 0x20
#define SAVED_PANEL_JUSTIFICATION 0x40
#define SAVED_PANEL_ORIENTATION 0xF0000000U  // panel block A only

// Result of ApplySavedConfiguration when the display went to the
// television set-up.
#define SAVED_CONFIG_TELEVISION 1

// Buffer: 256 bytes, checked by the caller. EFI_OUT_OF_RESOURCES, with
// nothing changed, when both display slots are taken.
EFI_STATUS SetSavedConfiguration(ADAPTER_CONTEXT* Context, const UINT8* Buffer);
EFI_STATUS ApplySavedConfiguration(ADAPTER_CONTEXT* Context);
BOOLEAN SavedOrientationMatches(const ADAPTER_CONTEXT* Context);
// Connector type for one of the platform's connector codes; 0 for none.
UINT32 ConnectorTypeOfCode(UINT8 Code);
