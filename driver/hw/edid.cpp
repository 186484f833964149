// EDID reading, publication and the first detailed timing. No header or
// checksum is checked: a block counts as read when the transfer succeeded.
#include "driver/hw/edid.h"

#include "driver/hw/dac.h"
#include "driver/hw/ddc.h"
#include "driver/hw/properties.h"

const CONNECTOR_WIRING ConnectorWiring[CONNECTOR_WIRING_ROWS] = {
    // Kind  Channel  DdcRoute         CrtcCode  Present
    {1, 0, DDC_ROUTE_NONE, 1, 0},    // digital
    {2, 1, DDC_ROUTE_NONE, 1, 1},    // digital (TMDS)
    {4, 1, DDC_ROUTE_DAC_A, 1, 1},   // analogue A
    {8, 2, DDC_ROUTE_DAC_B, 1, 1},   // analogue B
    {16, 0, DDC_ROUTE_NONE, 1, 0},   // internal panel
    {32, 2, DDC_ROUTE_DAC_B, 1, 1},  // television
    {64, 2, DDC_ROUTE_DAC_B, 1, 1},  // television
};

namespace {

constexpr UINT32 kReadAttempts = 8;
constexpr UINT32 kBlocksPerSegment = 2;  // E-DDC: 256 bytes per segment

// VESA E-EDID detailed timing descriptor, offsets within the 18 bytes.
constexpr UINT32 kDtdPixelClockLow = 0;
constexpr UINT32 kDtdPixelClockHigh = 1;
constexpr UINT32 kDtdHActiveLow = 2;
constexpr UINT32 kDtdHBlankLow = 3;
constexpr UINT32 kDtdHHigh = 4;        // active 7..4, blanking 3..0
constexpr UINT32 kDtdVActiveLow = 5;
constexpr UINT32 kDtdVBlankLow = 6;
constexpr UINT32 kDtdVHigh = 7;        // active 7..4, blanking 3..0
constexpr UINT32 kDtdHSyncOffsetLow = 8;
constexpr UINT32 kDtdHSyncWidthLow = 9;
constexpr UINT32 kDtdVSyncLow = 10;    // offset 7..4, width 3..0
constexpr UINT32 kDtdSyncHigh = 11;    // h offset 7..6, h width 5..4, v offset 3..2, v width 1..0
constexpr UINT32 kDtdFeatures = 17;

constexpr UINT8 kFeatureInterlaced = 0x80;
constexpr UINT8 kFeatureSyncTypeMask = 0x18;
constexpr UINT8 kFeatureDigitalSeparate = 0x18;
constexpr UINT8 kFeatureHSyncPositive = 0x02;
constexpr UINT8 kFeatureVSyncPositive = 0x04;

// Clocks in 10 kHz units that do not describe a usable timing.
constexpr UINT16 kClockNone = 0x0000;     // a display descriptor, not a timing
constexpr UINT16 kClockUnused = 0x0101;
// 27 MHz 1440-wide interlaced: a pixel-doubled television format.
constexpr UINT16 kClockDoubledTv = 2700;
constexpr UINT16 kDoubledTvWidth = 1440;
constexpr UINT16 kDoubledTv525Lines = 480;
constexpr UINT16 kDoubledTv625Lines = 576;

constexpr UINT8 kVendorId0 = 0x06;
constexpr UINT8 kVendorId1 = 0x10;
constexpr UINT8 kTvProductLow1 = 0x08;
constexpr UINT8 kTvProductLow2 = 0x0C;
constexpr UINT8 kTvProductHigh = 0x9D;

UINT16 U16(UINT32 Value) { return static_cast<UINT16>(Value); }

const CHAR16* EdidPropertyName(UINT8 Channel) {
  switch (Channel) {
    case 1:
      return u"ZEY,EDIDA";
    case 2:
      return u"ZEY,EDIDB";
    default:
      return u"ZEY,LVDS,EDIDC";
  }
}

const CONNECTOR_WIRING* WiringOfKind(UINT64 Kind) {
  for (const CONNECTOR_WIRING& Row : ConnectorWiring) {
    if (Row.Kind == Kind) return &Row;
  }
  return nullptr;
}

// The output that must be on while the channel's EDID is read, if any.
const CONNECTOR_WIRING* RoutedWiringOfChannel(UINT8 Channel) {
  for (const CONNECTOR_WIRING& Row : ConnectorWiring) {
    if (Row.Channel == Channel && (Row.DdcRoute == DDC_ROUTE_DAC_A || Row.DdcRoute == DDC_ROUTE_DAC_B)) return &Row;
  }
  return nullptr;
}

// One read transaction of Length bytes from the EDID memory's current
// address, the last byte not acknowledged. Expects the bus idle; leaves it
// stopped. Buffer is written only from the first byte on.
BOOLEAN ReadEdidBytes(ADAPTER_CONTEXT* Context, UINT8* Buffer, UINT32 Length) {
  if (EFI_ERROR(DdcStart(Context))) return EFI_FALSE;
  if (EFI_ERROR(DdcWriteByte(Context, DDC_EDID_READ))) {
    DdcStop(Context);
    return EFI_FALSE;
  }
  for (UINT32 Index = 0; Index < Length; ++Index) {
    DdcReadByte(Context, &Buffer[Index], Index + 1 < Length ? DDC_ACK : DDC_NO_ACK);
  }
  DdcStop(Context);
  return EFI_TRUE;
}

void CopyBytes(UINT8* Destination, const UINT8* Source, UINT32 Length) {
  for (UINT32 Index = 0; Index < Length; ++Index) Destination[Index] = Source[Index];
}

}  // namespace

BOOLEAN EdidIsVendorBlock(const UINT8* Edid) {
  return Edid[EDID_MANUFACTURER_ID] == kVendorId0 && Edid[EDID_MANUFACTURER_ID + 1] == kVendorId1;
}

BOOLEAN EdidIsVersion13(const UINT8* Edid) { return Edid[EDID_VERSION] == 1 && Edid[EDID_REVISION] == 3; }

BOOLEAN EdidIsTvProduct(const UINT8* Edid) {
  UINT8 Low = Edid[EDID_PRODUCT_CODE];
  return (Low == kTvProductLow1 || Low == kTvProductLow2) && Edid[EDID_PRODUCT_CODE + 1] == kTvProductHigh;
}

BOOLEAN EdidIsDigitalInput(const UINT8* Edid) { return (Edid[EDID_VIDEO_INPUT] & EDID_VIDEO_INPUT_DIGITAL) != 0; }

BOOLEAN IsTelevisionEdid(const UINT8* Edid) {
  return EdidIsVendorBlock(Edid) && EdidIsVersion13(Edid) && EdidIsTvProduct(Edid);
}

// Both block numbers mean the base block: DdcProbe has set the address to 0.
BOOLEAN ReadEdidBlock(ADAPTER_CONTEXT* Context, UINT8 Block, UINT8* Buffer) {
  (void)Block;
  return ReadEdidBytes(Context, Buffer, EDID_BLOCK_SIZE);
}

// The analogue output of the channel is switched on for the read: on the
// board the DDC lines of those connectors are powered through it.
BOOLEAN ReadEdid(ADAPTER_CONTEXT* Context, UINT8 Block, UINT8* Buffer, UINT8 Channel) {
  Context->DdcChannel = Channel;
  DdcResetBus(Context);
  for (UINT32 Index = 0; Index < EDID_BLOCK_SIZE; ++Index) Buffer[Index] = 0xFF;

  EFI_STATUS (*Disable)(ADAPTER_CONTEXT*) = nullptr;
  const CONNECTOR_WIRING* Row = RoutedWiringOfChannel(Channel);
  if (Row != nullptr && Row->DdcRoute == DDC_ROUTE_DAC_A) {
    EnableDacA(Context);
    Disable = DisableDacA;
  } else if (Row != nullptr && Row->DdcRoute == DDC_ROUTE_DAC_B) {
    EnableDacB(Context);
    Disable = DisableDacB;
  }

  for (UINT32 Attempt = 0; Attempt < kReadAttempts; ++Attempt) {
    if (DdcProbe(Context) && ReadEdidBlock(Context, Block, Buffer)) return EFI_TRUE;
  }
  // ReadEdidBlock fails before its first byte, so the buffer is still 0xFF.
  if (Disable != nullptr) Disable(Context);
  return EFI_FALSE;
}

BOOLEAN ReadEdidWithExtensions(ADAPTER_CONTEXT* Context, UINT8 ExtensionCount, UINT8* Buffer) {
  if (Buffer == nullptr) return EFI_FALSE;
  return ReadEdidBytes(Context, Buffer, (static_cast<UINT32>(ExtensionCount) + 1) * EDID_BLOCK_SIZE);
}

BOOLEAN ParseDetailedTiming(ADAPTER_CONTEXT* Context, DETAILED_TIMING* Timing, const UINT8* Descriptor,
                            BOOLEAN Digital) {
  (void)Context;
  if (Descriptor == nullptr) return EFI_FALSE;
  const UINT8* D = Descriptor;
  BOOLEAN SeparateSync = (D[kDtdFeatures] & kFeatureSyncTypeMask) == kFeatureDigitalSeparate;
  // An analogue display gets a timing only with separate sync.
  if (!Digital && !SeparateSync) return EFI_FALSE;
  if (Timing == nullptr) return EFI_FALSE;

  Timing->Flags = 0;
  Timing->PixelClock = U16(D[kDtdPixelClockHigh] * 256u + D[kDtdPixelClockLow]);

  UINT16 HActive = U16(D[kDtdHActiveLow] + (D[kDtdHHigh] & 0xF0u) * 16u);
  Timing->HBlank = U16(D[kDtdHBlankLow] + (D[kDtdHHigh] & 0x0Fu) * 256u);
  Timing->HTotal = U16(HActive + Timing->HBlank);
  Timing->HSyncOffset = U16(D[kDtdHSyncOffsetLow] + (D[kDtdSyncHigh] & 0xC0u) * 4u);
  Timing->HSyncWidth = U16(D[kDtdHSyncWidthLow] + (D[kDtdSyncHigh] & 0x30u) * 16u);
  // The CRTC counts in 8-pixel characters; the total keeps the exact sum.
  Timing->HActive = U16(HActive & ~7u);

  Timing->VActive = U16(D[kDtdVActiveLow] + (D[kDtdVHigh] & 0xF0u) * 16u);
  Timing->VBlank = U16(D[kDtdVBlankLow] + (D[kDtdVHigh] & 0x0Fu) * 256u);
  Timing->VTotal = U16(Timing->VActive + Timing->VBlank);
  Timing->VSyncOffset = U16((D[kDtdVSyncLow] >> 4) + (D[kDtdSyncHigh] & 0x0Cu) * 4u);
  Timing->VSyncWidth = U16((D[kDtdVSyncLow] & 0x0Fu) + (D[kDtdSyncHigh] & 0x03u) * 16u);

  if (SeparateSync) {
    if ((D[kDtdFeatures] & kFeatureHSyncPositive) != 0) Timing->Flags |= TIMING_FLAG_HSYNC_POSITIVE;
    if ((D[kDtdFeatures] & kFeatureVSyncPositive) != 0) Timing->Flags |= TIMING_FLAG_VSYNC_POSITIVE;
  }

  if ((D[kDtdFeatures] & kFeatureInterlaced) != 0) {
    // The descriptor gives one field; the record holds the frame.
    Timing->Flags |= TIMING_FLAG_INTERLACED;
    Timing->VTotal = U16(2u * Timing->VTotal + 1u);
    Timing->VSyncOffset = U16(2u * Timing->VSyncOffset + 1u);
    Timing->VSyncWidth = U16(2u * Timing->VSyncWidth);
    Timing->VActive = U16(2u * Timing->VActive);
    if (Digital && Timing->PixelClock == kClockDoubledTv && Timing->HActive == kDoubledTvWidth &&
        (Timing->VActive == kDoubledTv525Lines || Timing->VActive == kDoubledTv625Lines)) {
      return EFI_FALSE;
    }
  }

  if (Timing->PixelClock == kClockNone || Timing->PixelClock == kClockUnused) return EFI_FALSE;
  return EFI_TRUE;
}

BOOLEAN ReadAndPublishEdid(ADAPTER_CONTEXT* Context, UINT8* Buffer, DETAILED_TIMING* Timing) {
  Context->EdidBlock = 1;
  if (!ReadEdid(Context, Context->EdidBlock, Buffer, Context->DdcChannel)) return EFI_FALSE;
  AddDeviceProperty(Context, EdidPropertyName(Context->DdcChannel), EDID_BLOCK_SIZE, Buffer, EFI_FALSE);
  BOOLEAN Digital = EdidIsDigitalInput(Buffer);
  return ParseDetailedTiming(Context, Timing, &Buffer[EDID_DESCRIPTOR_1], Digital);
}

// Once per adapter: channels 1 and 2, no retries beyond the probe's, no
// output switching. Channel 3 stays without a cached block.
EFI_STATUS ReadCachedEdids(ADAPTER_CONTEXT* Context) {
  if (Context->EdidsRead) return EFI_SUCCESS;
  Context->DdcChannel = 1;
  if (DdcProbe(Context)) Context->EdidValid1 = ReadEdidBlock(Context, 0, Context->Edid1);
  Context->DdcChannel = 2;
  if (DdcProbe(Context)) Context->EdidValid2 = ReadEdidBlock(Context, 0, Context->Edid2);
  Context->EdidsRead = 1;
  return EFI_SUCCESS;
}

EFI_STATUS GetDisplayEdid(ADAPTER_CONTEXT* Context, UINT64 Kind, void* Buffer, UINT64* Size) {
  if (Buffer == nullptr || Size == nullptr) return EFI_INVALID_PARAMETER;
  ReadCachedEdids(Context);

  const CONNECTOR_WIRING* Row = WiringOfKind(Kind);
  if (Row == nullptr || Row->Channel == 0) return EFI_NOT_FOUND;
  Context->DdcChannel = static_cast<UINT8>(Row->Channel);
  BOOLEAN* Valid = SelectByChannel(Row->Channel, &Context->EdidValid1, &Context->EdidValid2, &Context->EdidValid3);
  UINT8* Cached = SelectByChannel(Row->Channel, Context->Edid1, Context->Edid2, Context->Edid3);
  if (Valid == nullptr || !*Valid) return EFI_NOT_FOUND;

  if (*Size <= EDID_BLOCK_SIZE) {
    // The base block is always copied whole; a smaller buffer cannot take it.
    if (*Size < EDID_BLOCK_SIZE) {
      *Size = EDID_BLOCK_SIZE;
      return EFI_BUFFER_TOO_SMALL;
    }
    CopyBytes(static_cast<UINT8*>(Buffer), Cached, EDID_BLOCK_SIZE);
    Context->EdidVendorMatch[0] = EdidIsVendorBlock(Cached);
    return EFI_SUCCESS;
  }

  // The word address of an E-DDC EEPROM covers one 256-byte segment; blocks
  // beyond it need the segment pointer, which the driver does not drive.
  // Reading on would return segment 0 again as if it were those blocks.
  UINT8 ExtensionCount = Cached[EDID_EXTENSION_COUNT];
  if (ExtensionCount > kBlocksPerSegment - 1) ExtensionCount = kBlocksPerSegment - 1;
  UINT64 Required = (static_cast<UINT64>(ExtensionCount) + 1) * EDID_BLOCK_SIZE;
  if (*Size < Required) {
    *Size = Required;
    return EFI_BUFFER_TOO_SMALL;
  }
  DdcProbe(Context);  // sets the word address; a failure shows in the read
  if (!ReadEdidWithExtensions(Context, ExtensionCount, static_cast<UINT8*>(Buffer))) return EFI_NOT_FOUND;
  // What was read, not what the buffer could have held: the rest of the
  // caller's buffer is not EDID.
  *Size = Required;
  return EFI_SUCCESS;
}

UINT32 ReadEdidForOs(ADAPTER_CONTEXT* Context, UINT8 Display, UINT8* Buffer) {
  if (Display >= DISPLAY_SLOTS || !Context->DiscoveredEdidValid[Display]) return 0;
  const UINT8* Base = Context->DiscoveredEdid[Display];
  CopyBytes(Buffer, Base, EDID_BLOCK_SIZE);
  if (Base[EDID_EXTENSION_COUNT] == 0) return EDID_BLOCK_SIZE;

  // Segment 0 whole, as the platform's request reads it. A read that does
  // not give back the block discovery judged is not this display's EDID:
  // the base block alone is then what is known.
  UINT8 Segment[kBlocksPerSegment * EDID_BLOCK_SIZE];
  Context->DdcChannel = Context->OutputChannel[Display];
  DdcProbe(Context);  // sets the word address; a failure shows in the read
  if (!ReadEdidWithExtensions(Context, kBlocksPerSegment - 1, Segment)) return EDID_BLOCK_SIZE;
  for (UINT32 Index = 0; Index < EDID_BLOCK_SIZE; ++Index) {
    if (Segment[Index] != Base[Index]) return EDID_BLOCK_SIZE;
  }
  CopyBytes(Buffer + EDID_BLOCK_SIZE, Segment + EDID_BLOCK_SIZE, EDID_BLOCK_SIZE);
  return kBlocksPerSegment * EDID_BLOCK_SIZE;
}
