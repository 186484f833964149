// Context initialisation for a freshly started adapter.
#include "driver/platform/adapter.h"

#include "driver/core/pending.h"
#include "driver/hw/modelist.h"
#include "driver/lib/driverlib.h"

namespace {

const UINT32 kPciCommandOffset = 0x04;
const UINT16 kPciCommandDecodeBits = 0x0007;  // I/O space, memory space, bus master
const UINT32 kConfigSpaceSize = 256;
const UINT32 kDeviceIdOffset = 0x02;
const UINT32 kBar0Offset = 0x10;

const UINT32 kDefaultEngineClock = 45000;  // 10 kHz units
const UINT32 kDefaultMemoryClock = 40000;  // 10 kHz units
const UINT8 kDefaultInverterCycle = 255;
const UINT32 kDefaultPowerSequence[12] = {0, 0, 1, 200, 200, 1, 0, 400, 0, 0, 0, 0};

UINT32 ReadLittleEndian32(const UINT8* Bytes) {
  return static_cast<UINT32>(Bytes[0]) | static_cast<UINT32>(Bytes[1]) << 8 |
         static_cast<UINT32>(Bytes[2]) << 16 | static_cast<UINT32>(Bytes[3]) << 24;
}

void SetStartingValues(ADAPTER_CONTEXT* Context) {
  Context->EngineClock = kDefaultEngineClock;
  Context->MemoryClock = kDefaultMemoryClock;
  Context->DdcChannel = 1;
  Context->ConnectFlagA = 1;
  Context->ConnectFlagB = 1;
  Context->InverterDefaultCycle = kDefaultInverterCycle;
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
}

}  // namespace

EFI_STATUS InitializeAdapter(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;

  UINT16 Command = 0;
  if (EFI_ERROR(PciIo->Pci.Read(PciIo, EfiPciIoWidthUint16, kPciCommandOffset, 1, &Command))) {
    return EFI_DEVICE_ERROR;
  }
  Command = static_cast<UINT16>(Command | kPciCommandDecodeBits);
  if (EFI_ERROR(PciIo->Pci.Write(PciIo, EfiPciIoWidthUint16, kPciCommandOffset, 1, &Command))) {
    return EFI_DEVICE_ERROR;
  }
  UINT8 ConfigSpace[kConfigSpaceSize];
  if (EFI_ERROR(PciIo->Pci.Read(PciIo, EfiPciIoWidthUint8, 0, kConfigSpaceSize, ConfigSpace))) {
    return EFI_DEVICE_ERROR;
  }

  // The platform may refuse the attributes; the command register already
  // enables decoding, so the status does not matter.
  PciIo->Attributes(PciIo, EfiPciIoAttributeOperationSet,
                    EFI_PCI_IO_ATTRIBUTE_IO | EFI_PCI_IO_ATTRIBUTE_MEMORY | EFI_PCI_IO_ATTRIBUTE_BUS_MASTER,
                    nullptr);

  Context->DeviceId = static_cast<UINT16>(ConfigSpace[kDeviceIdOffset] | ConfigSpace[kDeviceIdOffset + 1] << 8);
  Context->FrameBufferBase = ReadLittleEndian32(&ConfigSpace[kBar0Offset]) & 0xFFFFFF00U;

  SetStartingValues(Context);

  if (EFI_ERROR(gBS->CreateEvent(EVT_TIMER, 0, nullptr, nullptr, &Context->TimerEvent))) {
    Context->TimerEvent = nullptr;
    return EFI_DEVICE_ERROR;
  }

  Context->UgaDraw.GetMode = UgaDrawGetMode;
  Context->UgaDraw.SetMode = UgaDrawSetMode;
  Context->UgaDraw.Blt = UgaDrawBlt;
  Context->ConfigInterface.Query = ConfigQuery;
  Context->DisplayInterface.Reserved = 0;
  Context->DisplayInterface.SetInfo = DisplaySetInfo;
  Context->DisplayInterface.GetInfo = DisplayGetInfo;
  return EFI_SUCCESS;
}
