// Display nodes and panels. Every panel property goes to display node "0".
// Property writes, connector assignment and the engine start-up report
// nothing that would change the outcome, so their statuses go unread.
#include "driver/platform/nodes.h"

#include "driver/engine/crtc.h"
#include "driver/engine/outputs.h"
#include "driver/engine/startup.h"
#include "driver/hw/discovery.h"
#include "driver/hw/properties.h"

const UINT64 BuiltInConnectorTable[(BUILT_IN_CONNECTOR_ENTRIES + 1) * 2] = {
    // Type                  Flags                      Entry
    CONNECTOR_DIGITAL2,      0x000000000000004DULL,  // 0 digital
    CONNECTOR_ANALOGUE_A,    0x010000000000002DULL,  // 1 analogue A
    CONNECTOR_ANALOGUE_B,    0x0100000000000025ULL,  // 2 analogue B
    CONNECTOR_TV1,           0x0000000000000089ULL,  // 3 television
    0,                       0,                      // end
};

namespace {

const CHAR16 kNode0[] = u"0";
const CHAR16 kNode1[] = u"1";

// Members of the platform's 52-byte panel record.
constexpr UINTN kPanelMembers = 13;
constexpr UINTN kPanelHActive = 2;
constexpr UINTN kPanelVActive = 7;
constexpr UINTN kPanelLinkCount = 11;
constexpr UINTN kPanelFlags = 12;
constexpr UINT32 kPanelFlagHSync = 0x1;
constexpr UINT32 kPanelFlagVSync = 0x2;
constexpr UINT32 kPanelFlagOption = 0x4;

constexpr UINT64 kTvMode60Hz = 17;
constexpr UINT64 kTvMode50Hz = 18;

constexpr UINT32 kNodeConnectorType0 = 4;
constexpr UINT32 kNodeConnectorType1 = 0x10;

void CopyBytes(UINT8* Destination, const UINT8* Source, UINTN Length) {
  for (UINTN Index = 0; Index < Length; ++Index) Destination[Index] = Source[Index];
}

void Property(ADAPTER_CONTEXT* Context, const CHAR16* Name, UINT32 Value) {
  SetDisplayProperty(Context, kNode0, Name, sizeof(Value), &Value);
}

// One row of the platform-value table: the published value from the value
// the platform gave (0 when it gave none), with the context fields it sets.
struct PLATFORM_VALUE_ROW {
  EFI_GUID Key;
  const CHAR16* Name;
  UINT32 (*Apply)(ADAPTER_CONTEXT* Context, UINT32 Value);
};

UINT32 ApplyLinkType(ADAPTER_CONTEXT* Context, UINT32 Value) {
  Context->DisplayLinkType = Value;
  return Value;
}
UINT32 ApplyJustification(ADAPTER_CONTEXT* Context, UINT32 Value) {
  Context->PanelFlagB6 = Value == 1;
  return Value;
}
UINT32 ApplyDither(ADAPTER_CONTEXT* Context, UINT32 Value) {
  Context->DitherDisabled = Value != 1;
  return Value;
}
UINT32 ApplyInverterCurrent(ADAPTER_CONTEXT* Context, UINT32 Value) {
  Context->InverterCurrent = (Value & 3) == 3;
  return Value;
}
UINT32 ApplyInverter(ADAPTER_CONTEXT* Context, UINT32 Value) {
  Context->InverterActiveHigh = (Value & 3) == 3;
  return Context->InverterActiveHigh ? 3 : 2;
}
UINT32 ApplyPwmFrequency(ADAPTER_CONTEXT* Context, UINT32 Value) {
  Context->BacklightPwmFrequency = Value != 0 ? Value : DEFAULT_PWM_FREQUENCY;
  return Context->BacklightPwmFrequency;
}
UINT32 ApplyLinkComponent(ADAPTER_CONTEXT* Context, UINT32 Value) {
  Context->LinkComponent8Bit = Value == 1;
  return Context->LinkComponent8Bit ? 8 : 6;
}
UINT32 ApplyPixelComponent(ADAPTER_CONTEXT* Context, UINT32 Value) {
  Context->PixelComponent8Bit = Value == 1;
  return Context->PixelComponent8Bit ? 8 : 6;
}
UINT32 ApplyConnectFlags(ADAPTER_CONTEXT* Context, UINT32 Value) {
  switch (Value & 0xF) {
    case 0:
      Context->ConnectFlagA = 0;
      Context->ConnectFlagB = 1;
      return 0;
    case 1:
      Context->ConnectFlagA = 0;
      Context->ConnectFlagB = 0;
      return 0x40000;
    default:
      Context->ConnectFlagA = 1;
      Context->ConnectFlagB = 1;
      return 0;
  }
}

// Read straight into the field, so that a value the platform does not
// supply keeps the one already there.
constexpr EFI_GUID kLinkTypeKey = {0x62AEE891, 0xB278, 0x459F, {0xB0, 0xAE, 0x61, 0xF3, 0xAA, 0x30, 0x77, 0x33}};

const PLATFORM_VALUE_ROW kPanelRows[] = {
    // Key GUID                                                                            Property
    {{0xC5C993AA, 0xA17C, 0x49E6, {0x8F, 0xE0, 0x21, 0x8D, 0x10, 0xCD, 0xF0, 0xCE}}, u"display-data-justification", ApplyJustification},
    {{0xA739EF5B, 0x7899, 0x4ADC, {0xB8, 0x93, 0x3F, 0xDC, 0xBB, 0x2E, 0xD2, 0xF3}}, u"display-dither-support", ApplyDither},
    {{0x77017B49, 0x461E, 0x452A, {0xA4, 0x5C, 0x3E, 0x4B, 0xB4, 0x33, 0x36, 0x20}}, u"inverter-current", ApplyInverterCurrent},
    {{0x35A95C6A, 0x586C, 0x4EEB, {0xB6, 0xE3, 0xE0, 0x8F, 0x5A, 0x9D, 0x39, 0xB1}}, u"display-inverter", ApplyInverter},
    {{0xBAE81D3F, 0x0289, 0x4B70, {0x89, 0x01, 0xE5, 0x2A, 0x3D, 0xFB, 0x1A, 0x3C}}, u"backlight-PWM-freq", ApplyPwmFrequency},
};

const PLATFORM_VALUE_ROW kLinkRows[] = {
    // Key GUID                                                                            Property
    {{0xC7E0B954, 0xFEB9, 0x4052, {0x86, 0xF3, 0x3B, 0x5E, 0x98, 0x1A, 0x03, 0x70}}, u"display-link-component-bits", ApplyLinkComponent},
    {{0xAEB9C015, 0xC75E, 0x4548, {0x95, 0x61, 0x41, 0xCF, 0x79, 0x6E, 0x08, 0x89}}, u"display-pixel-component-bits", ApplyPixelComponent},
    {{0x15904399, 0xF7E0, 0x4122, {0xAA, 0xAD, 0xD4, 0x1F, 0x61, 0x9B, 0x53, 0x5B}}, u"display-connect-flags", ApplyConnectFlags},
};

// Second to eighth member of PowerSequence, in order.
const EFI_GUID kPowerSequenceKeys[7] = {
    {0x605A5ABA, 0x2CD2, 0x41A4, {0x8B, 0x42, 0x29, 0x91, 0xE1, 0x7F, 0x97, 0x8B}},
    {0x443BC2BD, 0x1864, 0x43DE, {0xBC, 0xC3, 0x6E, 0xE8, 0x4F, 0x8E, 0x08, 0x85}},
    {0x9DE9E4D3, 0xDE72, 0x4D80, {0xA5, 0xEE, 0x8C, 0x43, 0xE3, 0x9C, 0x4A, 0x8C}},
    {0x234747EB, 0xF62D, 0x45ED, {0xBB, 0x96, 0x59, 0x75, 0x23, 0xF5, 0x17, 0x08}},
    {0x022C6D84, 0xCEC3, 0x4BBD, {0xBA, 0x01, 0x66, 0x77, 0x6B, 0x6A, 0x2A, 0x29}},
    {0x9344ABF7, 0x78E0, 0x4224, {0xBD, 0x93, 0x4E, 0xD4, 0xAD, 0xAA, 0x2A, 0x8C}},
    {0x8F8D4BA3, 0xA614, 0x4A6A, {0x8E, 0x22, 0x76, 0xF9, 0x7C, 0x4D, 0x72, 0x56}},
};

void PublishRows(ADAPTER_CONTEXT* Context, const PLATFORM_VALUE_ROW* Rows, UINTN Count) {
  for (UINTN Index = 0; Index < Count; ++Index) {
    UINT32 Value = 0;
    GetPlatformValue(Context, &Rows[Index].Key, &Value, sizeof(Value));
    Property(Context, Rows[Index].Name, Rows[Index].Apply(Context, Value));
  }
}

BOOLEAN IsPanelOrDigital(UINT32 Type) {
  return Type == CONNECTOR_PANEL || Type == CONNECTOR_DIGITAL1 || Type == CONNECTOR_DIGITAL2;
}

struct DISPLAY_NODE_NAME {
  const CHAR16* Name;
  UINT32 Size;
  const CHAR8* Value;
};

const DISPLAY_NODE_NAME kNodeNames[] = {
    // Name            Size  Value
    {u"name",          11,   "ZEY,Mirelda"},
    {u"device_type",   7,    "display"},
    {u"compatible",    11,   "ZEY,Mirelda"},
};

}  // namespace

UINT32 ReadLe32(const UINT8* Bytes) {
  return static_cast<UINT32>(Bytes[0]) | static_cast<UINT32>(Bytes[1]) << 8 | static_cast<UINT32>(Bytes[2]) << 16 |
         static_cast<UINT32>(Bytes[3]) << 24;
}

UINT64 ReadLe64(const UINT8* Bytes) {
  return static_cast<UINT64>(ReadLe32(Bytes)) | static_cast<UINT64>(ReadLe32(Bytes + 4)) << 32;
}

BOOLEAN PlatformModeAcceptable(const ADAPTER_CONTEXT* Context, UINT8 Crtc, UINT64 Width, UINT64 Height) {
  if (Width < 1 || Width > PLATFORM_MODE_LIMIT || Height < 1 || Height > PLATFORM_MODE_LIMIT) return EFI_FALSE;
  return SurfaceFitsAperture(Context, Crtc, Width, Height);
}

UINT32 ConnectorEntryCount(const ADAPTER_CONTEXT* Context) {
  const UINT64* Table = Context->ConnectorTable;
  if (Table == nullptr) return 0;
  UINT32 Count = 0;
  while (Table[Count * 2] != 0) ++Count;
  return Count;
}

BOOLEAN SelectedConnector(const ADAPTER_CONTEXT* Context, UINT32* Type, UINT64* Flags) {
  *Type = 0;
  *Flags = 0;
  if (Context->ConnectorTable == nullptr) return EFI_FALSE;
  if (Context->ConnectorIndex <= ConnectorEntryCount(Context)) {
    *Type = static_cast<UINT32>(Context->ConnectorTable[Context->ConnectorIndex * 2]);
    *Flags = Context->ConnectorTable[Context->ConnectorIndex * 2 + 1];
  }
  return EFI_TRUE;
}

EFI_STATUS NameDisplayNodes(ADAPTER_CONTEXT* Context) {
  const CHAR16* const Nodes[] = {kNode0, kNode1};
  for (const CHAR16* Node : Nodes) {
    for (const DISPLAY_NODE_NAME& Row : kNodeNames) SetDisplayProperty(Context, Node, Row.Name, Row.Size, Row.Value);
  }
  return EFI_SUCCESS;
}

EFI_STATUS SetPlatformInfo(ADAPTER_CONTEXT* Context, const UINT8* Buffer) {
  CopyBytes(Context->PlatformInfo, Buffer, sizeof(Context->PlatformInfo));
  AddDeviceProperty(Context, u"ZEY,PlatformInfo", sizeof(Context->PlatformInfo), Context->PlatformInfo, EFI_FALSE);
  Context->ConnectorTable = BuiltInConnectorTable;
  StartDisplayEngine(Context);
  return EFI_SUCCESS;
}

EFI_STATUS SetPanelTiming(ADAPTER_CONTEXT* Context, const UINT8* Buffer) {
  if (Context->DisplayCount >= DISPLAY_SLOTS) return EFI_OUT_OF_RESOURCES;
  UINT8 Slot = static_cast<UINT8>(Context->DisplayCount);
  if (!PlatformModeAcceptable(Context, CrtcOfConnector(Context, Slot, Context->ConnectorType[Slot]),
                              ReadLe32(Buffer + kPanelHActive * 4), ReadLe32(Buffer + kPanelVActive * 4))) {
    return EFI_INVALID_PARAMETER;
  }

  for (UINTN Member = 0; Member < kPanelMembers; ++Member) Context->PanelTiming[Member] = ReadLe32(Buffer + Member * 4);
  if (Context->PanelTiming[kPanelLinkCount] > 1) {
    Property(Context, u"display-dual-link", Context->PanelTiming[kPanelLinkCount]);
  }

  UINT8 Display = static_cast<UINT8>(Context->DisplayCount);
  Context->CurrentDisplay = Display;
  Context->UseNativeMode[Display] = 0;
  UGA_MODE_RECORD* Modes[] = {&Context->CurrentMode[Display], &Context->NativeMode[Display]};
  for (UGA_MODE_RECORD* Mode : Modes) {
    Mode->HorizontalResolution = Context->PanelTiming[kPanelHActive];
    Mode->VerticalResolution = Context->PanelTiming[kPanelVActive];
    Mode->ColorDepth = PANEL_SURFACE_DEPTH;
  }
  AssignConnector(Context, Context->ConnectorType[Display]);
  DescribePanelFromPlatform(Context);
  Context->PanelFromPlatform = 1;
  Context->DisplayCount++;

  ShutDownOutputs(Context);
  ProgramDisplayOutputs(Context);
  PublishConnectorProperties(Context);
  return EFI_SUCCESS;
}

BOOLEAN DescribePanelFromPlatform(ADAPTER_CONTEXT* Context) {
  UINT32 Flags = Context->PanelTiming[kPanelFlags];
  Context->PanelFlagB0 = (Flags & kPanelFlagHSync) != 0;
  Context->PanelFlagB1 = (Flags & kPanelFlagVSync) != 0;
  Context->PanelFlag3 = (Flags & kPanelFlagOption) != 0;

  UINT32 Type = 0;
  UINT64 ConnectorFlags = 0;
  SelectedConnector(Context, &Type, &ConnectorFlags);
  BOOLEAN DualLink = Context->PanelTiming[kPanelLinkCount] == 2;
  if (Type == CONNECTOR_PANEL) Context->DualLinkPanel[Context->CurrentDisplay] = DualLink;
  if (Type == CONNECTOR_DIGITAL1 || Type == CONNECTOR_DIGITAL2) Context->DualLinkTmds[Context->CurrentDisplay] = DualLink;

  if (Type == CONNECTOR_PANEL) {
    GetPlatformValue(Context, &kLinkTypeKey, &Context->DisplayLinkType, sizeof(Context->DisplayLinkType));
    Property(Context, u"display-link-type", ApplyLinkType(Context, Context->DisplayLinkType));
    PublishRows(Context, kPanelRows, sizeof(kPanelRows) / sizeof(kPanelRows[0]));
    Property(Context, u"display-inverter-default-cycle", DEFAULT_INVERTER_CYCLE);
    ReadPowerSequence(Context);
    SetDisplayProperty(Context, kNode0, u"display-power-sequence", POWER_SEQUENCE_BYTES, Context->PowerSequence);
  }
  if (IsPanelOrDigital(Type)) PublishRows(Context, kLinkRows, sizeof(kLinkRows) / sizeof(kLinkRows[0]));
  return EFI_TRUE;
}

void ReadPowerSequence(ADAPTER_CONTEXT* Context) {
  for (UINTN Index = 0; Index < sizeof(kPowerSequenceKeys) / sizeof(kPowerSequenceKeys[0]); ++Index) {
    UINT32 Value = 0;
    GetPlatformValue(Context, &kPowerSequenceKeys[Index], &Value, sizeof(Value));
    if (Value != 0) Context->PowerSequence[Index + 1] = Value;
  }
}

EFI_STATUS SetTvStandard(ADAPTER_CONTEXT* Context, UINT64 Standard) {
  if (Context->DisplayCount >= DISPLAY_SLOTS) return EFI_OUT_OF_RESOURCES;

  UINT8 Display = static_cast<UINT8>(Context->DisplayCount);
  Context->CurrentDisplay = Display;
  if (Standard == TV_STANDARD_60HZ) {
    Context->TvUseNtsc[Display] = 1;
    Context->ModeIndex[Display] = kTvMode60Hz;
  } else if (Standard == TV_STANDARD_50HZ) {
    Context->TvUseNtsc[Display] = 0;
    Context->ModeIndex[Display] = kTvMode50Hz;
  } else {
    return EFI_UNSUPPORTED;
  }
  Context->ConnectorType[Display] = CONNECTOR_TV1;
  SetDisplayProperty(Context, kNode0, u"display-tv-use-ntsc", 1, &Context->TvUseNtsc[Display]);
  AssignTvConnector(Context);
  Context->ModeFromList[Display] = 1;
  Context->UseNativeMode[Display] = 0;
  Context->PanelFromPlatform = 0;
  Context->DisplayCount++;

  ShutDownOutputs(Context);
  ProgramDisplayOutputs(Context);
  return EFI_SUCCESS;
}

void PublishConnectorProperties(ADAPTER_CONTEXT* Context) {
  UINT32 Type0 = kNodeConnectorType0;
  UINT32 Type1 = kNodeConnectorType1;
  SetDisplayProperty(Context, kNode0, u"connector-type", sizeof(Type0), &Type0);
  SetDisplayProperty(Context, kNode1, u"connector-type", sizeof(Type1), &Type1);

  UINT32 Type = 0;
  UINT64 Flags = 0;
  SelectedConnector(Context, &Type, &Flags);
  // Orientation code 0x4/0x8/0xC published as 0x40/0x80/0xC0.
  UINT8 Orientation = static_cast<UINT8>((Flags & CONNECTOR_FLAGS_ORIENTATION) << 4);
  AddDeviceProperty(Context, u"ZEY,EFIOrientation", sizeof(Orientation), &Orientation, EFI_FALSE);

  Property(Context, u"AAPL,boot-display", 1);
}
