// Saved display configuration: match the record's displays against the
// cached EDIDs connector by connector, then configure the match as the next
// display slot and light it.
#include "driver/platform/saved_config.h"

#include "driver/engine/outputs.h"
#include "driver/hw/discovery.h"
#include "driver/hw/edid.h"
#include "driver/platform/nodes.h"
#include "driver/hw/properties.h"

namespace {

const CHAR16 kNode0[] = u"0";

constexpr UINTN kSavedPowerMembers = 7;

constexpr UINTN kEdidChecksum = 127;

struct CONNECTOR_CODE {
  UINT8 Code;
  UINT32 Type;
};

const CONNECTOR_CODE kConnectorCodes[] = {
    // Code  Type
    {0x02,   CONNECTOR_TV1},
    {0x04,   CONNECTOR_DIGITAL1},
    {0x08,   CONNECTOR_DIGITAL2},
    {0x10,   CONNECTOR_ANALOGUE_A},
    {0x20,   CONNECTOR_ANALOGUE_B},
    {0x40,   CONNECTOR_PANEL},
    {0x80,   CONNECTOR_TV2},
};

// One entry of the record: its checksum byte, timing block and panel block.
struct SAVED_ENTRY {
  UINTN Checksum;
  UINTN Timing;
  UINTN Panel;
};
const SAVED_ENTRY kEntries[] = {
    // Checksum         Timing          Panel
    {SAVED_CHECKSUM_A,  SAVED_TIMING_A, SAVED_PANEL_A},
    {SAVED_CHECKSUM_B,  SAVED_TIMING_B, SAVED_PANEL_B},
};

UINT16 TimingWord(const UINT8* Block, UINTN Word) {
  return static_cast<UINT16>(Block[Word * 2] | Block[Word * 2 + 1] << 8);
}
UINT16 TimingFlags(const UINT8* Block) {
  return static_cast<UINT16>(Block[SAVED_TIMING_FLAGS] << 8 | Block[SAVED_TIMING_FLAGS + 1]);
}

// Timing block words.
enum : UINTN {
  kWordPixelClock = 0,
  kWordSurfaceWidth = 1,
  kWordHTotal = 2,
  kWordHSyncOffset = 3,
  kWordHSyncWidth = 4,
  kWordSurfaceHeight = 5,
  kWordVTotal = 6,
  kWordVSyncOffset = 7,
  kWordVSyncWidth = 8,
  kWordVActive = 9,
  kWordHActive = 10,
};

// A property row: the value to publish, after setting the context fields
// it stands for. Four-byte values go through Scratch.
struct SAVED_PROPERTY_ROW {
  const CHAR16* Name;
  UINT32 Size;
  const void* (*Apply)(ADAPTER_CONTEXT* Context, const UINT8* Panel, UINT32* Scratch);
};

UINT32 PanelFlags(const UINT8* Panel) { return ReadLe32(Panel + SAVED_PANEL_FLAGS); }
BOOLEAN PanelBit(const UINT8* Panel, UINT32 Bit) { return (PanelFlags(Panel) & Bit) != 0; }

const void* LinkType(ADAPTER_CONTEXT* Context, const UINT8* Panel, UINT32* Scratch) {
  Context->DisplayLinkType = PanelBit(Panel, SAVED_PANEL_LINK_TYPE) ? 1 : 0;
  *Scratch = Context->DisplayLinkType;
  return Scratch;
}
const void* Justification(ADAPTER_CONTEXT* Context, const UINT8* Panel, UINT32* Scratch) {
  Context->PanelFlagB6 = PanelBit(Panel, SAVED_PANEL_JUSTIFICATION);
  *Scratch = 0;
  return Scratch;
}
const void* Dither(ADAPTER_CONTEXT* Context, const UINT8* Panel, UINT32* Scratch) {
  BOOLEAN Supported = PanelBit(Panel, SAVED_PANEL_DITHER);
  Context->DitherDisabled = !Supported;
  *Scratch = Supported ? 1 : 0;
  return Scratch;
}
const void* InverterCurrent(ADAPTER_CONTEXT* Context, const UINT8* Panel, UINT32* Scratch) {
  Context->InverterCurrent = PanelBit(Panel, SAVED_PANEL_INVERTER_CURRENT);
  *Scratch = Context->InverterCurrent ? 3 : 0;
  return Scratch;
}
const void* Inverter(ADAPTER_CONTEXT* Context, const UINT8* Panel, UINT32* Scratch) {
  Context->InverterActiveHigh = PanelBit(Panel, SAVED_PANEL_INVERTER_HIGH);
  *Scratch = Context->InverterActiveHigh ? 3 : 2;
  return Scratch;
}
const void* PwmFrequency(ADAPTER_CONTEXT* Context, const UINT8* Panel, UINT32* Scratch) {
  UINT32 Value = ReadLe32(Panel + SAVED_PANEL_PWM_FREQUENCY);
  Context->BacklightPwmFrequency = Value != 0 ? Value : DEFAULT_PWM_FREQUENCY;
  *Scratch = Context->BacklightPwmFrequency;
  return Scratch;
}
const void* InverterCycle(ADAPTER_CONTEXT* Context, const UINT8* Panel, UINT32* Scratch) {
  (void)Scratch;
  UINT8 Value = Panel[SAVED_PANEL_INVERTER_CYCLE];
  Context->InverterDefaultCycle = Value != 0 ? Value : DEFAULT_INVERTER_CYCLE;
  return &Context->InverterDefaultCycle;
}
const void* PowerSequence(ADAPTER_CONTEXT* Context, const UINT8* Panel, UINT32* Scratch) {
  (void)Scratch;
  for (UINTN Member = 0; Member < kSavedPowerMembers; ++Member) {
    Context->PowerSequence[Member + 1] = ReadLe32(Panel + SAVED_PANEL_POWER_SEQUENCE + Member * 4);
  }
  return Context->PowerSequence;
}
const void* LinkComponentBits(ADAPTER_CONTEXT* Context, const UINT8* Panel, UINT32* Scratch) {
  Context->LinkComponent8Bit = Panel[SAVED_PANEL_LINK_BITS] == 8;
  *Scratch = Context->LinkComponent8Bit ? 8 : 6;
  return Scratch;
}
const void* PixelComponentBits(ADAPTER_CONTEXT* Context, const UINT8* Panel, UINT32* Scratch) {
  Context->PixelComponent8Bit = Panel[SAVED_PANEL_PIXEL_BITS] == 8;
  *Scratch = Context->PixelComponent8Bit ? 8 : 6;
  return Scratch;
}
const void* ConnectFlags(ADAPTER_CONTEXT* Context, const UINT8* Panel, UINT32* Scratch) {
  BOOLEAN Connect = PanelBit(Panel, SAVED_PANEL_CONNECT);
  Context->ConnectFlagA = 0;
  Context->ConnectFlagB = Connect;
  *Scratch = Connect ? 0 : 0x40000;
  return Scratch;
}

const SAVED_PROPERTY_ROW kPanelProperties[] = {
    // Property                          Size                 Value
    {u"display-link-type",               4,                   LinkType},
    {u"display-data-justification",      4,                   Justification},
    {u"display-dither-support",          4,                   Dither},
    {u"inverter-current",                4,                   InverterCurrent},
    {u"display-inverter",                4,                   Inverter},
    {u"backlight-PWM-freq",              4,                   PwmFrequency},
    {u"display-inverter-default-cycle",  1,                   InverterCycle},
    {u"display-power-sequence",          POWER_SEQUENCE_BYTES, PowerSequence},
};

const SAVED_PROPERTY_ROW kLinkProperties[] = {
    // Property                          Size  Value
    {u"display-link-component-bits",     4,    LinkComponentBits},
    {u"display-pixel-component-bits",    4,    PixelComponentBits},
    {u"display-connect-flags",           4,    ConnectFlags},
};

void PublishRows(ADAPTER_CONTEXT* Context, const UINT8* Panel, const SAVED_PROPERTY_ROW* Rows, UINTN Count) {
  for (UINTN Index = 0; Index < Count; ++Index) {
    UINT32 Scratch = 0;
    const void* Value = Rows[Index].Apply(Context, Panel, &Scratch);
    SetDisplayProperty(Context, kNode0, Rows[Index].Name, Rows[Index].Size, Value);
  }
}

const UINT8* EdidOfChannel(ADAPTER_CONTEXT* Context, UINT8 Channel, BOOLEAN* Valid) {
  switch (Channel) {
    case 1:
      *Valid = Context->EdidValid1;
      return Context->Edid1;
    case 2:
      *Valid = Context->EdidValid2;
      return Context->Edid2;
    default:
      *Valid = Context->EdidValid3;
      return Context->Edid3;
  }
}

DETAILED_TIMING* TimingOfChannel(ADAPTER_CONTEXT* Context, UINT8 Channel) {
  switch (Channel) {
    case 1:
      return &Context->Timing1;
    case 2:
      return &Context->Timing2;
    default:
      return &Context->Timing3;
  }
}

// Both sizes of every entry that could match: its surface (the display's
// mode) and its timing's active area (the native raster).
BOOLEAN EntrySizesAcceptable(const ADAPTER_CONTEXT* Context, const UINT8* Record, UINT8 Display) {
  for (const SAVED_ENTRY& Entry : kEntries) {
    const UINT8* Block = Record + Entry.Timing;
    UINT32 Type = ConnectorTypeOfCode(Record[Entry.Panel + SAVED_PANEL_CONNECTOR_CODE]);
    if (TimingWord(Block, kWordPixelClock) == 0 || Type == 0) continue;
    UINT8 Crtc = CrtcOfConnector(Context, Display, Type);
    if (!PlatformModeAcceptable(Context, Crtc, TimingWord(Block, kWordSurfaceWidth),
                                TimingWord(Block, kWordSurfaceHeight)) ||
        !PlatformModeAcceptable(Context, Crtc, TimingWord(Block, kWordHActive), TimingWord(Block, kWordVActive))) {
      return EFI_FALSE;
    }
  }
  return EFI_TRUE;
}

BOOLEAN EntryMatches(ADAPTER_CONTEXT* Context, const SAVED_ENTRY& Entry, const UINT8* Edid, BOOLEAN Valid) {
  const UINT8* Record = Context->SavedConfig;
  UINT32 Type = Context->ConnectorType[Context->CurrentDisplay];
  // The terminating pair stands for no connector; a code that maps to none
  // must not configure a display with no output.
  return Type != 0 && SavedOrientationMatches(Context) && Valid && Edid[kEdidChecksum] == Record[Entry.Checksum] &&
         TimingWord(Record + Entry.Timing, kWordPixelClock) != 0 &&
         ConnectorTypeOfCode(Record[Entry.Panel + SAVED_PANEL_CONNECTOR_CODE]) == Type;
}

void ApplyTiming(ADAPTER_CONTEXT* Context, UINT8 Display, const UINT8* Block) {
  DETAILED_TIMING* T = TimingOfChannel(Context, Context->OutputChannel[Display]);
  T->Probed = 1;
  T->PixelClock = TimingWord(Block, kWordPixelClock);
  T->HActive = TimingWord(Block, kWordHActive);
  T->HTotal = TimingWord(Block, kWordHTotal);
  T->HSyncOffset = TimingWord(Block, kWordHSyncOffset);
  T->HSyncWidth = TimingWord(Block, kWordHSyncWidth);
  T->HBlank = static_cast<UINT16>(T->HTotal - T->HActive);
  T->VActive = TimingWord(Block, kWordVActive);
  T->VTotal = TimingWord(Block, kWordVTotal);
  T->VSyncOffset = TimingWord(Block, kWordVSyncOffset);
  T->VSyncWidth = TimingWord(Block, kWordVSyncWidth);
  T->VBlank = static_cast<UINT16>(T->VTotal - T->VActive);

  Context->UseNativeMode[Display] = 0;
  UGA_MODE_RECORD& Current = Context->CurrentMode[Display];
  Current.HorizontalResolution = TimingWord(Block, kWordSurfaceWidth);
  Current.VerticalResolution = TimingWord(Block, kWordSurfaceHeight);
  Current.ColorDepth = PANEL_SURFACE_DEPTH;
  UGA_MODE_RECORD& Native = Context->NativeMode[Display];
  Native.HorizontalResolution = T->HActive;
  Native.VerticalResolution = T->VActive;
  Native.ColorDepth = PANEL_SURFACE_DEPTH;

  UINT16 Flags = TimingFlags(Block);
  Context->PanelFlagB0 = (Flags & SAVED_TIMING_HSYNC) != 0;
  Context->PanelFlagB1 = (Flags & SAVED_TIMING_VSYNC) != 0;
  Context->PanelFlag3 = (Flags & SAVED_TIMING_OPTION) != 0;
  Context->PanelFlag6 = (Flags & SAVED_TIMING_SCALER) != 0;
}

}  // namespace

UINT32 ConnectorTypeOfCode(UINT8 Code) {
  for (const CONNECTOR_CODE& Row : kConnectorCodes) {
    if (Row.Code == Code) return Row.Type;
  }
  return 0;
}

BOOLEAN SavedOrientationMatches(const ADAPTER_CONTEXT* Context) {
  UINT32 Type = 0;
  UINT64 Flags = 0;
  SelectedConnector(Context, &Type, &Flags);
  // Panel block A's code sits in bits 28-31; only its top two bits can
  // equal the connector's two orientation bits.
  UINT32 Saved = (ReadLe32(Context->SavedConfig + SAVED_PANEL_A + SAVED_PANEL_FLAGS) & SAVED_PANEL_ORIENTATION) >> 24;
  return Saved == static_cast<UINT32>((Flags & CONNECTOR_FLAGS_ORIENTATION) << 4);
}

EFI_STATUS ApplySavedConfiguration(ADAPTER_CONTEXT* Context) {
  UINT8 Display = Context->CurrentDisplay;
  if (!Context->EdidsRead) ReadCachedEdids(Context);

  const UINT32 Entries = ConnectorEntryCount(Context);
  const SAVED_ENTRY* Selected = nullptr;
  const UINT8* Edid = nullptr;
  for (UINT32 Index = 0; Index <= Entries && Selected == nullptr; ++Index) {
    Context->ConnectorIndex = Index;
    UINT32 Type = 0;
    UINT64 Flags = 0;
    SelectedConnector(Context, &Type, &Flags);
    Context->ConnectorType[Display] = Type;
    AssignConnector(Context, Type);

    BOOLEAN Valid = EFI_FALSE;
    Edid = EdidOfChannel(Context, Context->OutputChannel[Display], &Valid);
    // An analogue display answering on the digital connector's channel.
    if (Valid && Type == CONNECTOR_DIGITAL2 && (Edid[EDID_VIDEO_INPUT] & EDID_VIDEO_INPUT_DIGITAL) == 0) continue;

    for (const SAVED_ENTRY& Entry : kEntries) {
      if (EntryMatches(Context, Entry, Edid, Valid)) {
        Selected = &Entry;
        break;
      }
    }
  }
  if (Selected == nullptr) return EFI_NOT_FOUND;

  const UINT8* Timing = Context->SavedConfig + Selected->Timing;
  const UINT8* Panel = Context->SavedConfig + Selected->Panel;
  UINT16 Flags = TimingFlags(Timing);
  if (IsTelevisionEdid(Edid)) {
    SetTvStandard(Context, (Flags & SAVED_TIMING_TV_50HZ) != 0 ? TV_STANDARD_50HZ : TV_STANDARD_60HZ);
    return SAVED_CONFIG_TELEVISION;
  }

  ApplyTiming(Context, Display, Timing);
  UINT32 Type = Context->ConnectorType[Display];
  if (Type == CONNECTOR_PANEL) {
    Context->DualLinkPanel[Display] = PanelBit(Panel, SAVED_PANEL_TWO_LINKS);
    if (Context->DualLinkPanel[Display]) {
      UINT32 Links = 2;
      SetDisplayProperty(Context, kNode0, u"display-dual-link", sizeof(Links), &Links);
    }
    PublishRows(Context, Panel, kPanelProperties, sizeof(kPanelProperties) / sizeof(kPanelProperties[0]));
  } else if (Type == CONNECTOR_DIGITAL1 || Type == CONNECTOR_DIGITAL2) {
    Context->DualLinkTmds[Display] = (Flags & SAVED_TIMING_DUAL_LINK) != 0;
  }
  if (Type == CONNECTOR_PANEL || Type == CONNECTOR_DIGITAL1 || Type == CONNECTOR_DIGITAL2) {
    PublishRows(Context, Panel, kLinkProperties, sizeof(kLinkProperties) / sizeof(kLinkProperties[0]));
  }
  return EFI_SUCCESS;
}

EFI_STATUS SetSavedConfiguration(ADAPTER_CONTEXT* Context, const UINT8* Buffer) {
  if (Context->DisplayCount >= DISPLAY_SLOTS) return EFI_OUT_OF_RESOURCES;
  if (!EntrySizesAcceptable(Context, Buffer, static_cast<UINT8>(Context->DisplayCount))) return EFI_INVALID_PARAMETER;

  for (UINTN Index = 0; Index < SAVED_CONFIG_SIZE; ++Index) Context->SavedConfig[Index] = Buffer[Index];
  AddDeviceProperty(Context, u"MVAD", SAVED_MVAD_SIZE, Context->SavedConfig, EFI_FALSE);
  AddDeviceProperty(Context, u"saved-config", SAVED_CONFIG_SIZE, Context->SavedConfig, EFI_FALSE);
  ReadCachedEdids(Context);
  Context->CurrentDisplay = static_cast<UINT8>(Context->DisplayCount);

  EFI_STATUS Status = ApplySavedConfiguration(Context);
  if (Status == SAVED_CONFIG_TELEVISION) return EFI_SUCCESS;
  if (EFI_ERROR(Status)) return Status;

  Context->DisplayCount++;
  ShutDownOutputs(Context);
  ProgramDisplayOutputs(Context);
  PublishConnectorProperties(Context);
  return EFI_SUCCESS;
}
