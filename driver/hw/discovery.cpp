// Display discovery over the board's connector wiring, judged from each
// channel's EDID base block, and the built-in modes a display may use.
#include "driver/hw/discovery.h"

#include "driver/hw/ddc.h"
#include "driver/hw/edid.h"
#include "driver/hw/modelist.h"

const UINT32 ConnectorPriority[CONNECTOR_PRIORITY_ENTRIES] = {
    CONNECTOR_PANEL,                             // 16       panel
    CONNECTOR_DIGITAL1,   CONNECTOR_DIGITAL2,    // 1, 2     digital
    CONNECTOR_ANALOGUE_A, CONNECTOR_ANALOGUE_B,  // 4, 8     analogue
    CONNECTOR_TV1,        CONNECTOR_TV2,         // 32, 64   television
    0,
};

namespace {

// The EDID bit that declares each mode-list row.
struct DECLARED_BY {
  UINT8 Offset;
  UINT8 Bit;
};

const DECLARED_BY DeclaredBy[ModeCount] = {
    // Offset, bit   row
    {35, 0},  //  0  800 x 600, 60 Hz
    {35, 1},  //  1  800 x 600, 56 Hz
    {35, 2},  //  2  640 x 480, 75 Hz
    {35, 3},  //  3  640 x 480, 72 Hz
    {35, 4},  //  4  640 x 480, 67 Hz
    {35, 5},  //  5  640 x 480, 60 Hz
    {35, 6},  //  6  720 x 400, 88 Hz
    {35, 7},  //  7  720 x 400, 70 Hz
    {36, 0},  //  8  1280 x 1024, 75 Hz
    {36, 1},  //  9  1024 x 768, 75 Hz
    {36, 2},  // 10  1024 x 768, 70 Hz
    {36, 3},  // 11  1024 x 768, 60 Hz
    {36, 4},  // 12  1024 x 768, 87 Hz
    {36, 5},  // 13  832 x 624, 75 Hz
    {36, 6},  // 14  800 x 600, 75 Hz
    {36, 7},  // 15  800 x 600, 72 Hz
    {37, 7},  // 16  1152 x 870, 75 Hz
    {37, 6},  // 17  800 x 600, 60 Hz (television, 60 Hz standard)
    {37, 5},  // 18  800 x 600, 50 Hz (television, 50 Hz standard)
};

// Bytes of the second descriptor block that the rules test in the maker's
// own blocks.
constexpr UINTN kVendorLinkByte = 79;
constexpr UINTN kVendorComponentByte = 80;
constexpr UINT8 kVendorLinkTypeMask = 0x0F;
constexpr UINT8 kVendorLinkPanelPassOver = 1;
constexpr UINT8 kVendorLinkDigitalPassOver = 0;
constexpr UINT8 kVendorDualLinkBit = 0x10;
constexpr UINT8 kVendorComponent8Bit = 0x11;

constexpr UINT8 kTv60HzBit = 0x40;  // E[37] bit 6
constexpr UINT8 kTv50HzBit = 0x20;  // E[37] bit 5

constexpr UINT16 kTvConnectedKinds = CONNECTOR_TV1 | CONNECTOR_TV2;
constexpr UINT16 kDefaultKinds = CONNECTOR_ANALOGUE_A | CONNECTOR_ANALOGUE_B;
constexpr UINT32 kRowBit31 = 0x80000000U;

constexpr UINT8 kChannels = 3;
constexpr UINT32 kDefaultDepth = 32;

UINT8 CrtcIndexOf(UINT32 CrtcCode) {
  switch (CrtcCode) {
    case 1:
      return 0;
    case 2:
      return 1;
    default:
      return NO_CRTC;
  }
}

DETAILED_TIMING* TimingOfChannel(ADAPTER_CONTEXT* Context, UINT32 Channel) {
  return SelectByChannel(Channel, &Context->Timing1, &Context->Timing2, &Context->Timing3);
}

const CONNECTOR_WIRING* WiringOfKind(UINT32 Kind) {
  for (UINTN Row = 0; Row < CONNECTOR_WIRING_ROWS; ++Row) {
    if (ConnectorWiring[Row].Kind == Kind) return &ConnectorWiring[Row];
  }
  return nullptr;
}



UINT8 VendorLinkType(const UINT8* E) { return E[kVendorLinkByte] & kVendorLinkTypeMask; }

UINT32 DeclaredModes(const UINT8* E) {
  UINT32 Mask = 0;
  for (UINTN Row = 0; Row < ModeCount; ++Row) {
    if ((E[DeclaredBy[Row].Offset] >> DeclaredBy[Row].Bit) & 1) Mask |= kRowBit31 >> Row;
  }
  return Mask;
}

// The common part of taking a display; the caller adds the kind's own fields
// and then ends with FinishTaking.
void TakeDisplay(ADAPTER_CONTEXT* Context, const CONNECTOR_WIRING* Wiring) {
  UINT8 D = Context->CurrentDisplay;
  Context->DisplayCount += 1;
  Context->CrtcIndex[D] = CrtcIndexOf(Wiring->CrtcCode);
  Context->OutputChannel[D] = static_cast<UINT8>(Wiring->Channel);
  Context->ConnectorType[D] |= Wiring->Kind;
}

void FinishTaking(ADAPTER_CONTEXT* Context) { Context->CurrentDisplay = static_cast<UINT8>(Context->CurrentDisplay + 1); }

// Each judge returns TRUE when it took a display.
BOOLEAN JudgePanel(ADAPTER_CONTEXT* Context, const CONNECTOR_WIRING* Wiring, const UINT8* E) {
  UINT8 D = Context->CurrentDisplay;
  BOOLEAN Vendor = EdidIsVendorBlock(E);
  Context->EdidVendorMatch[D] = Vendor;
  if (Vendor && EdidIsVersion13(E) && VendorLinkType(E) == kVendorLinkPanelPassOver) return EFI_FALSE;
  TakeDisplay(Context, Wiring);
  Context->ConnectedKinds |= CONNECTOR_PANEL;
  if (E[kVendorComponentByte] == kVendorComponent8Bit) Context->PixelComponent8Bit = 1;
  if ((E[kVendorLinkByte] & kVendorDualLinkBit) != 0) Context->DualLinkPanel[D] = 1;
  Context->ModeSupportMask[D] |= DeclaredModes(E);
  FinishTaking(Context);
  return EFI_TRUE;
}

BOOLEAN JudgeDigital(ADAPTER_CONTEXT* Context, const CONNECTOR_WIRING* Wiring, const UINT8* E) {
  UINT8 D = Context->CurrentDisplay;
  BOOLEAN Vendor = EdidIsVendorBlock(E);
  Context->EdidVendorMatch[D] = Vendor;
  if (Vendor && EdidIsVersion13(E) && VendorLinkType(E) == kVendorLinkDigitalPassOver) return EFI_FALSE;
  if (!EdidIsDigitalInput(E)) return EFI_FALSE;
  TakeDisplay(Context, Wiring);
  Context->ConnectedKinds = static_cast<UINT16>(Context->ConnectedKinds | Wiring->Kind);
  Context->ModeSupportMask[D] |= DeclaredModes(E);
  FinishTaking(Context);
  return EFI_TRUE;
}

BOOLEAN JudgeAnalogue(ADAPTER_CONTEXT* Context, const CONNECTOR_WIRING* Wiring, const UINT8* E) {
  if (EdidIsTvProduct(E) || EdidIsDigitalInput(E)) return EFI_FALSE;
  UINT8 D = Context->CurrentDisplay;
  TakeDisplay(Context, Wiring);
  Context->ConnectedKinds = static_cast<UINT16>(Context->ConnectedKinds | Wiring->Kind);
  Context->ModeSupportMask[D] |= DeclaredModes(E);
  FinishTaking(Context);
  return EFI_TRUE;
}

BOOLEAN JudgeTelevision(ADAPTER_CONTEXT* Context, const CONNECTOR_WIRING* Wiring, const UINT8* E) {
  UINT8 D = Context->CurrentDisplay;
  BOOLEAN Vendor = EdidIsVendorBlock(E);
  Context->EdidVendorMatch[D] = Vendor;
  if (!Vendor || !EdidIsVersion13(E) || !EdidIsTvProduct(E)) return EFI_FALSE;
  TakeDisplay(Context, Wiring);
  Context->ConnectedKinds |= kTvConnectedKinds;
  UINT8 Standards = E[EDID_ESTABLISHED_TIMINGS + 2];
  if ((Standards & kTv60HzBit) == 0 && (Standards & kTv50HzBit) != 0) Context->TvUseNtsc[D] = 0;
  Context->ModeIndex[D] = Context->TvUseNtsc[D] ? MODE_ROW_TV_60HZ : MODE_ROW_TV_50HZ;
  Context->ModeFromList[D] = 1;
  FinishTaking(Context);
  return EFI_TRUE;
}

BOOLEAN JudgeRow(ADAPTER_CONTEXT* Context, const CONNECTOR_WIRING* Wiring, const UINT8* E) {
  switch (Wiring->Kind) {
    case CONNECTOR_PANEL:
      return JudgePanel(Context, Wiring, E);
    case CONNECTOR_DIGITAL1:
    case CONNECTOR_DIGITAL2:
      return JudgeDigital(Context, Wiring, E);
    case CONNECTOR_ANALOGUE_A:
    case CONNECTOR_ANALOGUE_B:
      return JudgeAnalogue(Context, Wiring, E);
    case CONNECTOR_TV1:
    case CONNECTOR_TV2:
      return JudgeTelevision(Context, Wiring, E);
    default:
      return EFI_FALSE;
  }
}

// The refresh in Hz, rounded, of a display's own timing.
UINT64 RefreshOf(const DETAILED_TIMING* Timing) {
  // A record that was never filled (unreadable block, refused descriptor)
  // has zero totals: report refresh 0 rather than divide by zero, so the
  // display shows up as "no known rate" instead of an invented one.
  if (Timing->HTotal == 0 || Timing->VTotal == 0) return 0;
  UINT32 Scaled = static_cast<UINT32>(Timing->PixelClock) * 20000U;
  return (Scaled / Timing->HTotal / Timing->VTotal + 1) / 2;
}

}  // namespace

void DiscoverDisplays(ADAPTER_CONTEXT* Context) {
  // Blocks read during this call, by channel; a channel read on an earlier
  // call has no block here and is not judged again.
  UINT8 Blocks[kChannels][EDID_BLOCK_SIZE];
  BOOLEAN ReadNow[kChannels] = {};
  // Under the fast policy a channel that did not answer is not asked again
  // in the same pass (several wiring rows share a channel).
  BOOLEAN Silent[kChannels] = {};

  for (UINTN Row = 0; Row < CONNECTOR_WIRING_ROWS; ++Row) {
    const CONNECTOR_WIRING& Wiring = ConnectorWiring[Row];
    if (Wiring.Present != 1 || Wiring.Channel == 0 || Wiring.Channel > kChannels) continue;
    if (Context->FastStartup && Silent[Wiring.Channel - 1]) continue;
    Context->DdcChannel = static_cast<UINT8>(Wiring.Channel);
    if (!DdcProbe(Context)) {
      Silent[Wiring.Channel - 1] = EFI_TRUE;
      continue;
    }
    DETAILED_TIMING* Timing = TimingOfChannel(Context, Wiring.Channel);
    if (Timing->Probed != 0) continue;
    // A block that cannot be read is still judged, from the 0xFF bytes the
    // reader leaves behind.
    ReadAndPublishEdid(Context, Blocks[Wiring.Channel - 1], Timing);
    Timing->Probed = 1;
    ReadNow[Wiring.Channel - 1] = EFI_TRUE;
  }

  if (Context->DisplayCount == 0) {
    Context->CurrentDisplay = 0;
    for (UINTN Entry = 0; ConnectorPriority[Entry] != 0 && Context->DisplayCount == 0; ++Entry) {
      const CONNECTOR_WIRING* Wiring = WiringOfKind(ConnectorPriority[Entry]);
      if (Wiring == nullptr || Wiring->Present != 1) continue;
      DETAILED_TIMING* Timing = TimingOfChannel(Context, Wiring->Channel);
      if (Timing == nullptr || Timing->Probed == 0 || !ReadNow[Wiring->Channel - 1]) continue;
      if (JudgeRow(Context, Wiring, Blocks[Wiring->Channel - 1])) {
        // The display just taken keeps the block it was judged by, for the OS.
        UINT8 Taken = static_cast<UINT8>(Context->CurrentDisplay - 1);
        if (Taken < DISPLAY_SLOTS) {
          for (UINTN Byte = 0; Byte < EDID_BLOCK_SIZE; ++Byte) {
            Context->DiscoveredEdid[Taken][Byte] = Blocks[Wiring->Channel - 1][Byte];
          }
          Context->DiscoveredEdidValid[Taken] = EFI_TRUE;
        }
      }
    }
  }

  if (Context->DisplayCount == 0) SetDefaultDisplay(Context);
  RefreshCurrentModes(Context);
}

BOOLEAN SetDefaultDisplay(ADAPTER_CONTEXT* Context) {
  Context->CurrentDisplay = 0;
  Context->ConnectedKinds |= kDefaultKinds;
  Context->CrtcIndex[0] = 0;
  Context->OutputChannel[0] = 1;
  Context->ConnectorType[0] |= kDefaultKinds;
  Context->ModeSupportMask[0] |= kRowBit31 >> MODE_ROW_DEFAULT;
  Context->UseNativeMode[0] = 0;
  Context->ModeFromList[0] = 1;
  Context->ModeIndex[0] = MODE_ROW_DEFAULT;
  Context->DisplayCount = 1;
  return EFI_TRUE;
}

void RefreshCurrentModes(ADAPTER_CONTEXT* Context) {
  for (Context->CurrentDisplay = 0; Context->CurrentDisplay < Context->DisplayCount; ++Context->CurrentDisplay) {
    UINT8 D = Context->CurrentDisplay;
    if (D >= DISPLAY_SLOTS) break;
    UGA_MODE_RECORD& Mode = Context->CurrentMode[D];
    if (Context->ModeFromList[D] || Context->ForceModeList[D]) {
      if (Context->ModeIndex[D] >= Context->ModeCount) continue;
      const UGA_MODE_RECORD& Row = Context->ModeList[Context->ModeIndex[D]];
      Mode.HorizontalResolution = Row.HorizontalResolution;
      Mode.VerticalResolution = Row.VerticalResolution;
      Mode.ColorDepth = Row.ColorDepth;
      Mode.RefreshRate = Row.RefreshRate;
    } else {
      UINT8 Channel = Context->OutputChannel[D];
      const DETAILED_TIMING* Timing = TimingOfChannel(Context, Channel == 1 || Channel == 2 ? Channel : 3);
      Mode.HorizontalResolution = Timing->HActive;
      Mode.VerticalResolution = Timing->VActive;
      Mode.ColorDepth = kDefaultDepth;
      Mode.RefreshRate = RefreshOf(Timing);
    }
  }
}

void MarkSupportedModes(ADAPTER_CONTEXT* Context, UINTN Display) {
  if (Display >= DISPLAY_SLOTS) return;
  UINT32 Mask = Context->ModeSupportMask[Display];
  for (UINTN Row = 0; Row < ModeCount; ++Row) {
    Context->ModeList[Row].Supported = (Mask & (kRowBit31 >> Row)) != 0 ? 1 : 0;
  }
}

namespace {

EFI_STATUS AssignFromWiring(ADAPTER_CONTEXT* Context, const CONNECTOR_WIRING* Wiring) {
  if (Wiring == nullptr) return EFI_NOT_FOUND;
  UINT8 D = Context->CurrentDisplay;
  if (D >= DISPLAY_SLOTS) return EFI_INVALID_PARAMETER;
  Context->CrtcIndex[D] = CrtcIndexOf(Wiring->CrtcCode);
  Context->OutputChannel[D] = static_cast<UINT8>(Wiring->Channel);
  return EFI_SUCCESS;
}

}  // namespace

EFI_STATUS AssignConnector(ADAPTER_CONTEXT* Context, UINT32 Kind) { return AssignFromWiring(Context, WiringOfKind(Kind)); }

UINT8 CrtcOfConnector(const ADAPTER_CONTEXT* Context, UINT8 Display, UINT32 Kind) {
  const CONNECTOR_WIRING* Wiring = WiringOfKind(Kind);
  if (Wiring != nullptr) return CrtcIndexOf(Wiring->CrtcCode);
  return Display < DISPLAY_SLOTS ? Context->CrtcIndex[Display] : NO_CRTC;
}

EFI_STATUS AssignTvConnector(ADAPTER_CONTEXT* Context) {
  for (UINTN Row = 0; Row < CONNECTOR_WIRING_ROWS; ++Row) {
    UINT32 Kind = ConnectorWiring[Row].Kind;
    if (Kind == CONNECTOR_TV1 || Kind == CONNECTOR_TV2) return AssignFromWiring(Context, &ConnectorWiring[Row]);
  }
  return EFI_NOT_FOUND;
}
