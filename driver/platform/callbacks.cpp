// Platform callbacks. The selected connector is entry ConnectorIndex of
// ConnectorTable; until the platform information has installed a table,
// nothing here reads one.
#include "driver/platform/callbacks.h"

#include "driver/hw/edid.h"
#include "driver/hw/regmap/crtc.h"
#include "driver/hw/regmap/scaler.h"
#include "driver/hw/regmap/system.h"
#include "driver/hw/regs.h"
#include "driver/lib/driverlib.h"
#include "driver/platform/nodes.h"
#include "driver/platform/saved_config.h"

namespace {

const CHAR8 kModuleName[] = "quovanapple";
constexpr UINT32 kQuerySignatureLine = 76;
constexpr UINT32 kSetInfoSignatureLine = 1042;
constexpr UINT32 kGetInfoSignatureLine = 1128;

// ---------------------------------------------------------------- Query

// CRTC 1 is looked at first.
constexpr UINT8 kQueryCrtcs[] = {0, 1};

// ---------------------------------------------------------------- SetInfo

constexpr UINTN kAnySize = ~static_cast<UINTN>(0);

EFI_STATUS SelectConnector(ADAPTER_CONTEXT* Context, UINT8* Buffer) {
  if (Context->ConnectorTable == nullptr) return EFI_NOT_READY;
  UINT32 Index = ReadLe32(Buffer);
  if (Index > ConnectorEntryCount(Context)) return EFI_INVALID_PARAMETER;
  Context->ConnectorIndex = Index;
  Context->ConnectorType[0] = static_cast<UINT32>(Context->ConnectorTable[Index * 2]);
  return EFI_SUCCESS;
}
EFI_STATUS PlatformInfo(ADAPTER_CONTEXT* Context, UINT8* Buffer) { return SetPlatformInfo(Context, Buffer); }
EFI_STATUS SavedConfiguration(ADAPTER_CONTEXT* Context, UINT8* Buffer) {
  return SetSavedConfiguration(Context, Buffer);
}
EFI_STATUS PanelTiming(ADAPTER_CONTEXT* Context, UINT8* Buffer) { return SetPanelTiming(Context, Buffer); }
EFI_STATUS TvStandard(ADAPTER_CONTEXT* Context, UINT8* Buffer) { return SetTvStandard(Context, ReadLe64(Buffer)); }
EFI_STATUS Reserved(ADAPTER_CONTEXT* Context, UINT8* Buffer) {
  (void)Context;
  (void)Buffer;
  return EFI_UNSUPPORTED;
}
// The context is gone afterwards, and both interfaces with it.
EFI_STATUS Release(ADAPTER_CONTEXT* Context, UINT8* Buffer) {
  (void)Buffer;
  return Context->ReleaseAdapter != nullptr ? Context->ReleaseAdapter(Context) : EFI_NOT_STARTED;
}

struct SET_INFO_KEY {
  EFI_GUID Key;
  UINTN Size;
  EFI_STATUS (*Operation)(ADAPTER_CONTEXT* Context, UINT8* Buffer);
};

const SET_INFO_KEY kSetInfoKeys[] = {
    // Key GUID                                                                           Size      Operation
    {{0xD2C9944A, 0x0F9D, 0x4649, {0x95, 0x4F, 0x86, 0x2C, 0x14, 0x06, 0xF3, 0x20}},   4,        SelectConnector},
    {{0x2AA9D6C6, 0xE6A9, 0x4D10, {0xAF, 0xC7, 0x8F, 0xA7, 0x69, 0xEA, 0x0E, 0x74}},   128,      PlatformInfo},
    {{0xEC34D7D5, 0x11E1, 0x4C73, {0x9D, 0x8F, 0xE1, 0x59, 0x9D, 0x2E, 0xCF, 0xB6}},   256,      SavedConfiguration},
    {{0xA9A835A6, 0x4630, 0x46D7, {0x93, 0x84, 0xFD, 0x07, 0x1E, 0x47, 0x66, 0x82}},   52,       PanelTiming},
    {{0xD8210070, 0xC890, 0x4859, {0xAD, 0xDE, 0xEF, 0x9D, 0x59, 0x7D, 0x75, 0xCC}},   8,        TvStandard},
    {{0x1A29214B, 0x42CD, 0x4A64, {0x93, 0x56, 0x95, 0xD9, 0xEB, 0x20, 0xE9, 0x0F}},   4,        Reserved},
    {{0x6CCB6605, 0x3070, 0x47F7, {0x9E, 0xA6, 0xEA, 0x83, 0x1F, 0x3D, 0x5B, 0x89}},   kAnySize, Release},
};

// ---------------------------------------------------------------- GetInfo

constexpr UINTN kFlagsSize = 8;
constexpr UINTN kAnswerSize = 4;
constexpr UINT32 kAnswer = 1;

void WriteLe32(UINT8* Bytes, UINT32 Value) {
  for (UINTN Index = 0; Index < 4; ++Index) Bytes[Index] = static_cast<UINT8>(Value >> (Index * 8));
}
void WriteLe64(UINT8* Bytes, UINT64 Value) {
  WriteLe32(Bytes, static_cast<UINT32>(Value));
  WriteLe32(Bytes + 4, static_cast<UINT32>(Value >> 32));
}

EFI_STATUS ConnectorFlags(ADAPTER_CONTEXT* Context, UINT8* Buffer, UINTN* Size) {
  if (*Size < kFlagsSize) {
    *Size = kFlagsSize;
    return EFI_BUFFER_TOO_SMALL;
  }
  if (Buffer == nullptr) return EFI_INVALID_PARAMETER;
  UINT32 Type = 0;
  UINT64 Flags = 0;
  if (!SelectedConnector(Context, &Type, &Flags)) return EFI_NOT_READY;
  WriteLe64(Buffer, Flags);
  return EFI_SUCCESS;
}

// The platform never sees a failed read other than a short buffer: no
// display is an empty EDID.
EFI_STATUS DisplayEdid(ADAPTER_CONTEXT* Context, UINT8* Buffer, UINTN* Size) {
  if (Buffer == nullptr) return EFI_INVALID_PARAMETER;
  UINT32 Type = 0;
  UINT64 Flags = 0;
  if (!SelectedConnector(Context, &Type, &Flags)) {
    *Size = 0;
    return EFI_SUCCESS;
  }
  EFI_STATUS Status = GetDisplayEdid(Context, Type, Buffer, Size);
  if (Status == EFI_BUFFER_TOO_SMALL) return Status;
  if (Status == EFI_NOT_FOUND) *Size = 0;
  return EFI_SUCCESS;
}

EFI_STATUS LinkLimits(ADAPTER_CONTEXT* Context, UINT8* Buffer, UINTN* Size) {
  if (*Size != LINK_LIMITS_SIZE || Buffer == nullptr) return EFI_INVALID_PARAMETER;
  if (Context->ConnectorTable == nullptr) return EFI_NOT_READY;
  return GetLinkLimits(Context, Buffer);
}

EFI_STATUS Answer(ADAPTER_CONTEXT* Context, UINT8* Buffer, UINTN* Size) {
  (void)Context;
  if (*Size != kAnswerSize || Buffer == nullptr) return EFI_INVALID_PARAMETER;
  WriteLe32(Buffer, kAnswer);
  return EFI_SUCCESS;
}

struct GET_INFO_KEY {
  EFI_GUID Key;
  EFI_STATUS (*Operation)(ADAPTER_CONTEXT* Context, UINT8* Buffer, UINTN* Size);
};

const GET_INFO_KEY kGetInfoKeys[] = {
    // Key GUID                                                                           Operation
    {{0x3064B9C1, 0xF0FF, 0x4FA9, {0x84, 0x22, 0x6B, 0x64, 0xCA, 0x9F, 0x1D, 0xE1}},   ConnectorFlags},
    {{0xD704179F, 0xF181, 0x4ED9, {0x87, 0xF7, 0x77, 0x01, 0x88, 0xEA, 0xE6, 0xB2}},   DisplayEdid},
    {{0x75B69F99, 0x6A24, 0x41E4, {0xA8, 0xBE, 0xD5, 0xE8, 0x58, 0xC0, 0x8D, 0x76}},   LinkLimits},
    {{0x78446974, 0x3201, 0x4F0F, {0x8B, 0xD1, 0x96, 0x04, 0x8B, 0x7D, 0x10, 0x04}},   Answer},
};

// ---------------------------------------------------------------- link limits

constexpr UINT32 kLinkLimitWidth = PLATFORM_MODE_LIMIT;
constexpr UINT32 kLinkLimitHeight = PLATFORM_MODE_LIMIT;
constexpr UINT32 kLinkCountOffset = 8;
constexpr UINT32 kReservedOffset = 12;
constexpr UINT32 kOneLinkLowOffset = 16;
constexpr UINT32 kOneLinkHighOffset = 24;
constexpr UINT32 kTwoLinksLowOffset = 32;
constexpr UINT32 kTwoLinksHighOffset = 40;

enum PANEL_LINKS : UINT8 { kAnyPanel, kSingleLinkPanel, kDualLinkPanel };

// A highest clock is its cap when the engine clock exceeds Threshold, else
// 90 % of the engine clock (twice it for two links). A zero cap means no
// second link.
struct LINK_LIMIT_ROW {
  UINT32 Types;
  PANEL_LINKS Panel;
  UINT32 Links;
  UINT32 Threshold;
  UINT64 OneLinkLow;
  UINT64 OneLinkHighCap;
  UINT64 TwoLinksLow;
  UINT64 TwoLinksHighCap;
};

const LINK_LIMIT_ROW kLinkLimitRows[] = {
    // Types                                              Panel             Links Threshold Low 1    High 1     Low 2      High 2
    {CONNECTOR_DIGITAL1 | CONNECTOR_DIGITAL2,             kAnyPanel,        2,    16500,    7000000, 165000000, 165000000, 330000000},
    {CONNECTOR_ANALOGUE_A | CONNECTOR_ANALOGUE_B |
         CONNECTOR_TV1 | CONNECTOR_TV2,                   kAnyPanel,        1,    40000,    7000000, 400000000, 0,         0},
    {CONNECTOR_PANEL,                                     kSingleLinkPanel, 1,    16500,    7000000, 165000000, 0,         0},
    {CONNECTOR_PANEL,                                     kDualLinkPanel,   2,    11500,    7000000, 115000000, 7000000,   230000000},
};

// 90 % of a clock in 10 kHz units, in whole MHz, in Hz (32-bit arithmetic).
UINT32 DerivedLimit(UINT32 Clock) { return ((Clock * 90) / 100 / 100) * 1000000; }

BOOLEAN RowFits(const LINK_LIMIT_ROW& Row, UINT32 Type, UINT64 Flags) {
  BOOLEAN OneType = Type != 0 && (Type & (Type - 1)) == 0;
  if (!OneType || (Row.Types & Type) == 0) return EFI_FALSE;
  BOOLEAN SingleLink = (Flags & CONNECTOR_FLAGS_SINGLE_LINK_PANEL) != 0;
  return Row.Panel == kAnyPanel || (Row.Panel == kSingleLinkPanel) == SingleLink;
}

}  // namespace

EFI_STATUS GetLinkLimits(ADAPTER_CONTEXT* Context, UINT8* Record) {
  UINT32 Type = 0;
  UINT64 Flags = 0;
  SelectedConnector(Context, &Type, &Flags);
  const LINK_LIMIT_ROW* Row = nullptr;
  for (const LINK_LIMIT_ROW& Candidate : kLinkLimitRows) {
    if (RowFits(Candidate, Type, Flags)) {
      Row = &Candidate;
      break;
    }
  }
  if (Row == nullptr) return EFI_UNSUPPORTED;

  const UINT32 Engine = Context->EngineClock;
  const BOOLEAN Capped = Engine > Row->Threshold;
  WriteLe32(Record, kLinkLimitWidth);
  WriteLe32(Record + 4, kLinkLimitHeight);
  WriteLe32(Record + kLinkCountOffset, Row->Links);
  WriteLe32(Record + kReservedOffset, 0);
  WriteLe64(Record + kOneLinkLowOffset, Row->OneLinkLow);
  WriteLe64(Record + kOneLinkHighOffset, Capped ? Row->OneLinkHighCap : DerivedLimit(Engine));
  WriteLe64(Record + kTwoLinksLowOffset, Row->TwoLinksLow);
  UINT64 TwoLinksHigh = 0;
  if (Row->TwoLinksHighCap != 0) TwoLinksHigh = Capped ? Row->TwoLinksHighCap : DerivedLimit(2 * Engine);
  WriteLe64(Record + kTwoLinksHighOffset, TwoLinksHigh);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ConfigQuery(QUOVAN_CONFIG_INTERFACE* This, UINT64* FrameBufferAddress, UINT32* MemorySize,
                              UINT32* BytesPerRow, UINT32* Width, UINT32* Height, UINT32* BitsPerPixel) {
  if (This == nullptr) return EFI_INVALID_PARAMETER;
  ADAPTER_CONTEXT* Context = ContextFromConfigInterface(This, kModuleName, kQuerySignatureLine);
  if (Context == nullptr) return EFI_INVALID_PARAMETER;
  if (FrameBufferAddress == nullptr || MemorySize == nullptr || BytesPerRow == nullptr || Width == nullptr ||
      Height == nullptr || BitsPerPixel == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (!Context->EngineStarted) return EFI_NOT_STARTED;

  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  *MemorySize = RegRead32(PciIo, SYS_MEMORY_SIZE);

  // The CRTC that shows something: a source size was written.
  UINT8 Crtc = 0;
  UINT32 SourceSize = 0;
  for (UINT8 Candidate : kQueryCrtcs) {
    Crtc = Candidate;
    SourceSize = RegRead32(PciIo, CrtcReg(Crtc, SCALER_SOURCE_SIZE));
    if (SourceSize != 0) break;
  }
  if (SourceSize == 0) return EFI_INVALID_PARAMETER;

  *FrameBufferAddress = Context->FrameBufferBase | RegRead32(PciIo, CrtcReg(Crtc, CRTC_SURFACE_BASE));
  *BytesPerRow = RegRead32(PciIo, CrtcReg(Crtc, CRTC_SURFACE_PITCH)) * 4;
  *Width = SourceSize >> 16;
  *Height = SourceSize & 0xFFFF;
  *BitsPerPixel = 8u << (RegRead8(PciIo, CrtcReg(Crtc, CRTC_SURFACE_FORMAT)) & SURFACE_FORMAT_DEPTH_MASK);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI DisplaySetInfo(QUOVAN_DISPLAY_INTERFACE* This, EFI_GUID* Key, VOID* Buffer, UINTN Size) {
  if (This == nullptr) return EFI_INVALID_PARAMETER;
  ADAPTER_CONTEXT* Context = ContextFromDisplayInterface(This, kModuleName, kSetInfoSignatureLine);
  if (Context == nullptr || Key == nullptr) return EFI_INVALID_PARAMETER;

  for (const SET_INFO_KEY& Row : kSetInfoKeys) {
    if (!GuidsEqual(Key, &Row.Key)) continue;
    if (Row.Size != kAnySize && (Size != Row.Size || Buffer == nullptr)) return EFI_INVALID_PARAMETER;
    return Row.Operation(Context, static_cast<UINT8*>(Buffer));
  }
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI DisplayGetInfo(QUOVAN_DISPLAY_INTERFACE* This, EFI_GUID* Key, VOID* Buffer, UINTN* Size) {
  if (This == nullptr) return EFI_INVALID_PARAMETER;
  ADAPTER_CONTEXT* Context = ContextFromDisplayInterface(This, kModuleName, kGetInfoSignatureLine);
  if (Context == nullptr || Key == nullptr) return EFI_INVALID_PARAMETER;

  for (const GET_INFO_KEY& Row : kGetInfoKeys) {
    if (!GuidsEqual(Key, &Row.Key)) continue;
    if (Size == nullptr) return EFI_INVALID_PARAMETER;
    return Row.Operation(Context, static_cast<UINT8*>(Buffer), Size);
  }
  return EFI_UNSUPPORTED;
}
