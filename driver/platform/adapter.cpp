// Context initialisation for a freshly started adapter, and the adapter-wide
// properties it publishes for the operating system.
#include "driver/platform/adapter.h"

#include "driver/core/devices.h"
#include "driver/core/version.h"
#include "driver/engine/timing.h"
#include "driver/hw/modelist.h"
#include "driver/hw/properties.h"
#include "driver/hw/regmap/indirect.h"
#include "driver/hw/regmap/pci_config.h"
#include "driver/hw/regmap/system.h"
#include "driver/hw/regs.h"
#include "driver/lib/driverlib.h"
#include "driver/platform/nodes.h"

namespace {

const UINT32 kReferenceClock = 2700;  // 27 MHz in 10 kHz units
const UINT32 kClockPublishScale = 10;  // 10 kHz units published as kHz

// Kept as data: the identification block points at them.
const UINT32 kDefaultEngineClock = 45000;  // 10 kHz units
const UINT32 kDefaultMemoryClock = 40000;  // 10 kHz units
const UINT64 kDriverVersion = QUOVAN_DRIVER_VERSION;

const UINT32 kDefaultPowerSequence[12] = {0, 0, 1, 200, 200, 1, 0, 400, 0, 0, 0, 0};

// Published text. Sizes leave out the terminating zero, except the
// version's, which the OS reads with it.
const CHAR8 kCompileDate[] = "Jun 12 2006";
const CHAR8 kRomPartNumberTemplate[] = "770-K10001-ZZZ";
const CHAR8 kCardPartNumber[] = "771-K10002-01";
const CHAR8 kCopyright[] = "(C) Copyright 2006 ZEL Quovan Corporation";
const CHAR8 kParentName[] = "ZEY,MireldaParent";
const CHAR8 kModel[] = "ZEY,QuovanM4410";

// Copies for the identification block only. Writable, so that no linker
// folds them into the strings that are published and reported.
CHAR8 gIdBoardName[] = "ZEY,Mirelda";
CHAR8 gIdModel[] = "ZEY,QuovanM4410";
CHAR8 gIdRomPartNumber[] = "770-K10001-ZZZ";
CHAR8 gIdCardPartNumber[] = "771-K10002-01";
CHAR8 gIdVersion[] = "01.00.121";
CHAR16 gIdDriverName[] = u"ZEL Quovan UGA Driver 01.00.121";

struct ADAPTER_PROPERTY {
  const CHAR16* Name;
  UINTN Size;
  const void* Value;
  BOOLEAN Reverse;  // stored most significant byte first
};

void Publish(ADAPTER_CONTEXT* Context, const ADAPTER_PROPERTY* Properties, UINTN Count) {
  // Unreported by design: a refused property leaves the adapter working.
  for (UINTN Index = 0; Index < Count; ++Index) {
    AddDeviceProperty(Context, Properties[Index].Name, Properties[Index].Size, Properties[Index].Value,
                      Properties[Index].Reverse);
  }
}

UINT32 ReadLittleEndian32(const UINT8* Bytes) {
  return static_cast<UINT32>(Bytes[0]) | static_cast<UINT32>(Bytes[1]) << 8 |
         static_cast<UINT32>(Bytes[2]) << 16 | static_cast<UINT32>(Bytes[3]) << 24;
}

UINT32 BarAddress(const UINT8* ConfigSpace, UINT32 Offset) {
  return ReadLittleEndian32(&ConfigSpace[Offset]) & PCI_BAR_ADDRESS_MASK;
}

// Properties 1 to 4: configuration space and the three apertures.
void PublishConfiguration(ADAPTER_CONTEXT* Context, const UINT8* ConfigSpace) {
  const UINT32 FrameBuffer = BarAddress(ConfigSpace, PCI_BAR0);
  const UINT32 IoSpace = BarAddress(ConfigSpace, PCI_BAR1);
  const UINT32 Registers = BarAddress(ConfigSpace, PCI_BAR2);
  const ADAPTER_PROPERTY Properties[] = {
      // Name                       Size  Value          Reverse      #
      {u"ZEY,PCIConfigSpace",       256,  ConfigSpace,   EFI_FALSE},  // 1
      {u"ZEY,FrameBufferOffset",    4,    &FrameBuffer,  EFI_TRUE},   // 2
      {u"ZEY,IOSpaceOffset",        4,    &IoSpace,      EFI_TRUE},   // 3
      {u"ZEY,RegisterSpaceOffset",  4,    &Registers,    EFI_TRUE},   // 4
  };
  Publish(Context, Properties, sizeof(Properties) / sizeof(Properties[0]));
}

// Properties 5 to 18: clocks, version and part numbers, identifiers, names.
void PublishDescription(ADAPTER_CONTEXT* Context) {
  const UINT32 RefClk = kReferenceClock;
  const UINT32 Sclk = Context->EngineClock * kClockPublishScale;
  const UINT32 Mclk = Context->MemoryClock * kClockPublishScale;
  const UINT16 VendorId = QUOVAN_PCI_VENDOR_ID;
  const UINT16 DeviceId = Context->DeviceId;
  const UINT32 HwGpio = Context->HwGpio;

  // A fresh copy on every Start, so the fix-up always meets "ZZZ".
  CHAR8 RomPartNumber[sizeof(kRomPartNumberTemplate)];
  for (UINTN Index = 0; Index < sizeof(RomPartNumber); ++Index) RomPartNumber[Index] = kRomPartNumberTemplate[Index];

  const ADAPTER_PROPERTY Clocks[] = {
      // Name                   Size  Value                 Reverse      #
      {u"ZEY,RefCLK",           4,    &RefClk,              EFI_FALSE},  // 5
      {u"ZEY,SCLK",             4,    &Sclk,                EFI_FALSE},  // 6
      {u"ZEY,MCLK",             4,    &Mclk,                EFI_FALSE},  // 7
      {u"ZEY,EFIVersion",       10,   kQuovanVersionString, EFI_FALSE},  // 8
      {u"ZEY,EFICompileDate",   11,   kCompileDate,         EFI_FALSE},  // 9
  };
  const ADAPTER_PROPERTY Identity[] = {
      // Name                   Size  Value                 Reverse      #
      {u"ZEY,Rom#",             14,   RomPartNumber,        EFI_FALSE},  // 10
      {u"ZEY,Card#",            13,   kCardPartNumber,      EFI_FALSE},  // 11
      {u"ZEY,Copyright",        41,   kCopyright,           EFI_FALSE},  // 12
      {u"ZEY,VendorID",         2,    &VendorId,            EFI_FALSE},  // 13
      {u"ZEY,DeviceID",         2,    &DeviceId,            EFI_FALSE},  // 14
      {u"ZEY,HWGPIO",           4,    &HwGpio,              EFI_FALSE},  // 15
      {u"name",                 17,   kParentName,          EFI_FALSE},  // 16
      {u"device_type",          17,   kParentName,          EFI_FALSE},  // 17
      {u"model",                15,   kModel,               EFI_FALSE},  // 18
  };
  Publish(Context, Clocks, sizeof(Clocks) / sizeof(Clocks[0]));
  FixUpRomPartNumber(Context, RomPartNumber);
  Publish(Context, Identity, sizeof(Identity) / sizeof(Identity[0]));
}

static_assert(sizeof(kCompileDate) - 1 == 11, "compile date size");
static_assert(sizeof(kRomPartNumberTemplate) - 1 == 14, "ROM part number size");
static_assert(sizeof(kCardPartNumber) - 1 == 13, "card part number size");
static_assert(sizeof(kCopyright) - 1 == 41, "copyright size");
static_assert(sizeof(kParentName) - 1 == 17, "name size");
static_assert(sizeof(kModel) - 1 == 15, "model size");

void SetStartingValues(ADAPTER_CONTEXT* Context) {
  Context->MemoryTypeCode = (PllRead(Context->PciIo, CLK_MEMORY_TYPE) >> CLK_MEMORY_TYPE_SHIFT) & CLK_MEMORY_TYPE_MASK;
  Context->EngineClock = kDefaultEngineClock;
  Context->MemoryClock = kDefaultMemoryClock;
  Context->DdcChannel = 1;
  Context->ConnectFlagA = 1;
  Context->ConnectFlagB = 1;
  Context->InverterDefaultCycle = DEFAULT_INVERTER_CYCLE;
  for (UINTN Display = 0; Display < DISPLAY_SLOTS; ++Display) {
    Context->OutputChannel[Display] = 1;
    Context->CrtcIndex[Display] = NO_CRTC;
    Context->TvUseNtsc[Display] = 1;
    Context->UseNativeMode[Display] = 1;
    UGA_MODE_RECORD& Mode = Context->CurrentMode[Display];
    Mode.HorizontalResolution = 800;
    Mode.VerticalResolution = 600;
    Mode.ColorDepth = 32;
    Mode.RefreshRate = 60;
  }
  for (UINTN Index = 0; Index < 12; ++Index) Context->PowerSequence[Index] = kDefaultPowerSequence[Index];
  Context->ModeList = BuiltInModeList();
  Context->ModeCount = ModeCount;
  Context->ModeTimingTable = BuiltInTimingTable;
}

// BAR 0 as the PCI bus driver describes it: where it decodes (what a
// loader writes to) and how long it is. Without a description the address
// is the configuration BAR's and the length 0, which leaves surfaces
// unchecked against the aperture.
void ReadFrameBufferAperture(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  Context->FrameBufferAddress = Context->FrameBufferBase;
  Context->FrameBufferSize = 0;
  VOID* Resources = nullptr;
  if (EFI_ERROR(PciIo->GetBarAttributes(PciIo, FRAME_BUFFER_BAR, nullptr, &Resources)) || Resources == nullptr) {
    return;
  }
  const auto* Descriptor = static_cast<const EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR*>(Resources);
  if (Descriptor->Desc == ACPI_ADDRESS_SPACE_DESCRIPTOR && Descriptor->ResType == ACPI_ADDRESS_SPACE_TYPE_MEM) {
    Context->FrameBufferAddress = Descriptor->AddrRangeMin;
    Context->FrameBufferSize = Descriptor->AddrLen;
  }
  if (EFI_ERROR(gBS->FreePool(Resources))) DebugOut(DEBUG_ERROR, "InitializeAdapter: FreePool refused\n");
}

}  // namespace

// External and used, so that neither compiler nor linker drops it.

__attribute__((used)) const IDENTIFICATION_BLOCK QuovanIdentificationBlock = {
    {'l', 'l', 'e', 'z', 0, 0, 0, 0},
    {'l', 'a', 'c', 'o', 0, 0, 0, 0},
    &kDefaultEngineClock,
    &kDefaultMemoryClock,
    gIdBoardName,
    gIdModel,
    gIdRomPartNumber,
    gIdCardPartNumber,
    gIdVersion,
    gIdDriverName,
    &kDriverVersion,
};

EFI_STATUS InitializeAdapter(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;

  UINT16 Command = 0;
  if (EFI_ERROR(PciIo->Pci.Read(PciIo, EfiPciIoWidthUint16, PCI_COMMAND, 1, &Command))) {
    return EFI_DEVICE_ERROR;
  }
  Context->CommandAsFound = Command;
  Command = static_cast<UINT16>(Command | PCI_COMMAND_DECODE);
  if (EFI_ERROR(PciIo->Pci.Write(PciIo, EfiPciIoWidthUint16, PCI_COMMAND, 1, &Command))) {
    return EFI_DEVICE_ERROR;
  }
  Context->CommandChanged = EFI_TRUE;
  UINT8 ConfigSpace[PCI_CONFIG_SIZE];
  if (EFI_ERROR(PciIo->Pci.Read(PciIo, EfiPciIoWidthUint8, 0, PCI_CONFIG_SIZE, ConfigSpace))) {
    return EFI_DEVICE_ERROR;
  }

  PublishConfiguration(Context, ConfigSpace);

  // The platform may refuse the attributes; the command register already
  // enables decoding, so the status does not matter. What cannot be read
  // first could not be given back by a failed Start, so it stays as it is.
  UINT64 Attributes = 0;
  if (!EFI_ERROR(PciIo->Attributes(PciIo, EfiPciIoAttributeOperationGet, 0, &Attributes))) {
    Context->AttributesAsFound = Attributes;
    Context->AttributesChanged = !EFI_ERROR(PciIo->Attributes(
        PciIo, EfiPciIoAttributeOperationSet,
        EFI_PCI_IO_ATTRIBUTE_IO | EFI_PCI_IO_ATTRIBUTE_MEMORY | EFI_PCI_IO_ATTRIBUTE_BUS_MASTER, nullptr));
  }

  Context->DeviceId = static_cast<UINT16>(ConfigSpace[PCI_DEVICE_ID] | ConfigSpace[PCI_DEVICE_ID + 1] << 8);
  Context->FrameBufferBase = BarAddress(ConfigSpace, PCI_BAR0);
  ReadFrameBufferAperture(Context);
  Context->HwGpio = RegRead32(PciIo, SYS_HW_GPIO);

  SetStartingValues(Context);

  if (EFI_ERROR(gBS->CreateEvent(EVT_TIMER, 0, nullptr, nullptr, &Context->TimerEvent))) {
    Context->TimerEvent = nullptr;
    return EFI_DEVICE_ERROR;
  }

  PublishDescription(Context);
  return EFI_SUCCESS;
}

void RestoreControllerAsFound(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  if (Context->AttributesChanged &&
      EFI_ERROR(PciIo->Attributes(PciIo, EfiPciIoAttributeOperationSet, Context->AttributesAsFound, nullptr))) {
    DebugOut(DEBUG_ERROR, "Start: the attributes could not be put back\n");
  }
  if (Context->CommandChanged &&
      EFI_ERROR(PciIo->Pci.Write(PciIo, EfiPciIoWidthUint16, PCI_COMMAND, 1, &Context->CommandAsFound))) {
    DebugOut(DEBUG_ERROR, "Start: the command register could not be put back\n");
  }
  Context->AttributesChanged = EFI_FALSE;
  Context->CommandChanged = EFI_FALSE;
}
