// EDID: the board's connector wiring, reading base blocks (and extensions
// on request) over DDC, publishing them, the first detailed timing, and the
// platform's EDID query.
#pragma once

#include "driver/core/context.h"

#define EDID_BLOCK_SIZE 128

// Offsets in the VESA E-EDID base block.
#define EDID_MANUFACTURER_ID 8        // 2 bytes
#define EDID_PRODUCT_CODE 10          // 2 bytes
#define EDID_VERSION 18
#define EDID_REVISION 19
#define EDID_VIDEO_INPUT 20           // bit 7: digital input
#define EDID_ESTABLISHED_TIMINGS 35   // 3 bytes
#define EDID_DESCRIPTOR_1 54          // 18 bytes: first detailed timing
#define EDID_DESCRIPTOR_2 72
#define EDID_EXTENSION_COUNT 126
#define EDID_DESCRIPTOR_SIZE 18

#define EDID_VIDEO_INPUT_DIGITAL 0x80

// What must be switched on while a channel's EDID is read.
#define DDC_ROUTE_NONE 0
#define DDC_ROUTE_DAC_A 1
#define DDC_ROUTE_DAC_B 2

struct CONNECTOR_WIRING {
  UINT32 Kind;      // connector-type code
  UINT32 Channel;   // DDC channel 1..3, 0 = none
  UINT32 DdcRoute;  // DDC_ROUTE_*
  UINT32 CrtcCode;  // 1 = CRTC 1, 2 = CRTC 2, else none
  UINT32 Present;   // 1 when the board has the connector
};

#define CONNECTOR_WIRING_ROWS 7
extern const CONNECTOR_WIRING ConnectorWiring[CONNECTOR_WIRING_ROWS];

// The object of channel 1, 2 or 3; null for any other channel.
template <typename T>
T* SelectByChannel(UINT32 Channel, T* First, T* Second, T* Third) {
  switch (Channel) {
    case 1:
      return First;
    case 2:
      return Second;
    case 3:
      return Third;
    default:
      return nullptr;
  }
}

// Identity tests on a base block (pure).
// The board maker's own displays: manufacturer bytes 06 10.
BOOLEAN EdidIsVendorBlock(const UINT8* Edid);
BOOLEAN EdidIsVersion13(const UINT8* Edid);
// Product bytes 08 9D or 0C 9D: the maker's television-class products.
BOOLEAN EdidIsTvProduct(const UINT8* Edid);
BOOLEAN EdidIsDigitalInput(const UINT8* Edid);
// All three of vendor, version 1.3 and a television product.
BOOLEAN IsTelevisionEdid(const UINT8* Edid);

// Bus transactions on Context->DdcChannel.
BOOLEAN ReadEdidBlock(ADAPTER_CONTEXT* Context, UINT8 Block, UINT8* Buffer);
BOOLEAN ReadEdid(ADAPTER_CONTEXT* Context, UINT8 Block, UINT8* Buffer, UINT8 Channel);
BOOLEAN ReadEdidWithExtensions(ADAPTER_CONTEXT* Context, UINT8 ExtensionCount, UINT8* Buffer);

// Pure: fills Timing from an 18-byte descriptor. On FALSE the record is
// untouched when the sync type is refused, partly filled otherwise.
BOOLEAN ParseDetailedTiming(ADAPTER_CONTEXT* Context, DETAILED_TIMING* Timing, const UINT8* Descriptor,
                            BOOLEAN Digital);

BOOLEAN ReadAndPublishEdid(ADAPTER_CONTEXT* Context, UINT8* Buffer, DETAILED_TIMING* Timing);
EFI_STATUS ReadCachedEdids(ADAPTER_CONTEXT* Context);
// Size in and out, in bytes. EFI_SUCCESS, EFI_BUFFER_TOO_SMALL (needed size
// in *Size), EFI_NOT_FOUND or EFI_INVALID_PARAMETER. A request above 128
// bytes gets the base block and its extensions, *Size set to what was read;
// a display with two or more extension blocks is answered with segment 0
// alone (256 bytes).
EFI_STATUS GetDisplayEdid(ADAPTER_CONTEXT* Context, UINT64 Kind, void* Buffer, UINT64* Size);
// Display Display's EDID for the OS into Buffer (EDID_SEGMENT_SIZE bytes):
// the base block it was discovered by and, when that announces extensions,
// the rest of segment 0 read again over DDC. Returns the bytes filled in, 0
// for a display found without an EDID.
#define EDID_SEGMENT_SIZE 256
UINT32 ReadEdidForOs(ADAPTER_CONTEXT* Context, UINT8 Display, UINT8* Buffer);
