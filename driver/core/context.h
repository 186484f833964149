// The adapter context: the one record the driver keeps per started
// controller. Fields keep the documented order; the embedded interfaces keep
// the member order their callers see.
#pragma once

#include "efi/efi.h"
#include "efi/efi_graphics_output.h"

#define ADAPTER_CONTEXT_SIGNATURE 0x000000003031544BULL  // "KT10"

#define DISPLAY_SLOTS 2
#define NO_CRTC 255

// Connector-type bits of ConnectorType / ConnectedKinds.
#define CONNECTOR_DIGITAL1 0x01
#define CONNECTOR_DIGITAL2 0x02  // the TMDS output
#define CONNECTOR_ANALOGUE_A 0x04
#define CONNECTOR_ANALOGUE_B 0x08
#define CONNECTOR_PANEL 0x10
#define CONNECTOR_TV1 0x20
#define CONNECTOR_TV2 0x40

// 40 bytes, shared by CurrentMode, NativeMode and the rows of the mode list
// (where the first trailing byte is the row's Supported flag).
struct UGA_MODE_RECORD {
  UINT64 HorizontalResolution;
  UINT64 VerticalResolution;
  UINT64 ColorDepth;
  UINT64 RefreshRate;
  UINT8 Supported;
  UINT8 Unused[7];
};
static_assert(sizeof(UGA_MODE_RECORD) == 40, "mode record is 40 bytes");

// Timing of one DDC channel, from its EDID's first detailed timing.
#define TIMING_FLAG_HSYNC_POSITIVE 0x0001
#define TIMING_FLAG_VSYNC_POSITIVE 0x0002
#define TIMING_FLAG_INTERLACED 0x0008

struct DETAILED_TIMING {
  UINT8 Probed;
  UINT16 Flags;
  UINT16 PixelClock;  // 10 kHz units
  UINT16 HActive;
  UINT16 HTotal;
  UINT16 HSyncOffset;
  UINT16 HSyncWidth;
  UINT16 HBlank;
  UINT16 VActive;
  UINT16 VTotal;
  UINT16 VSyncOffset;
  UINT16 VSyncWidth;
  UINT16 VBlank;
};

// What Start put on the controller (InstalledInterfaces).
#define INSTALLED_UGA_DRAW 0x01
#define INSTALLED_GRAPHICS_OUTPUT 0x02
#define INSTALLED_CONFIG_INTERFACE 0x04
#define INSTALLED_DISPLAY_INTERFACE 0x08
#define INSTALLED_EDID_DISCOVERED 0x10
#define INSTALLED_EDID_ACTIVE 0x20

// One mode Graphics Output offers: the UGA mode it sets, and the pitch
// (pixels) its surface is laid out with once lit.
struct GOP_MODE {
  UINT32 Width;
  UINT32 Height;
  UINT32 Refresh;
  UINT32 Pitch;
};
// The display's own timing and the 19 built-in rows, each size once.
#define GOP_MAX_MODES 20

struct ADAPTER_CONTEXT {
  // Identity and handles
  UINT64 Signature;
  EFI_HANDLE ControllerHandle;
  EFI_PCI_IO_PROTOCOL* PciIo;
  EFI_UGA_DRAW_PROTOCOL UgaDraw;
  EFI_DEVICE_PATH_PROTOCOL* ParentDevicePath;

  // Adapter identity and clocks
  UINT16 DeviceId;
  UINT16 MemoryVendorId;
  UINT32 HwGpio;
  UINT32 SwGpioInfo;
  UINT32 DisplayCount;
  UINT64 FrameBufferBase;
  UINT8 MrtBuffer[512];
  UINT32 MrtLength;
  UINT32 MemoryTypeCode;
  UINT32 EngineClock;  // 10 kHz units
  UINT32 MemoryClock;  // 10 kHz units

  // Panel, link and engine flags
  BOOLEAN PixelComponent8Bit;
  BOOLEAN LinkComponent8Bit;
  BOOLEAN EngineStarted;
  BOOLEAN PanelFlag3;
  BOOLEAN DitherDisabled;
  BOOLEAN ConnectFlagA;
  BOOLEAN ConnectFlagB;
  UINT32 DisplayLinkType;
  UINT8 InverterDefaultCycle;
  BOOLEAN PanelFlag6;

  // Platform interfaces
  QUOVAN_CONFIG_INTERFACE ConfigInterface;
  DEVICE_PROPERTY_DATABASE_PROTOCOL* PropertyDatabase;
  PLATFORM_SERVICES_PROTOCOL* PlatformServices;
  QUOVAN_DISPLAY_INTERFACE DisplayInterface;
  UINT8 PlatformInfo[128];
  UINT32 ConnectorIndex;
  UINT32 PanelTiming[13];
  const UINT64* ConnectorTable;  // (type, flags) pairs ended by a zero type
  UINT32 BacklightPwmFrequency;
  BOOLEAN HasPlatformServices;
  BOOLEAN HasPropertyDatabase;
  BOOLEAN PanelFlagB6;
  BOOLEAN PanelFlagB0;
  BOOLEAN PanelFlagB1;
  UINT8 SavedConfig[256];

  // Per-display state and DDC bookkeeping
  UINT64 ModeIndex[DISPLAY_SLOTS];
  UINT8 EdidBlock;
  UINT8 DdcChannel;
  UINT8 CurrentDisplay;
  BOOLEAN EdidVendorMatch[DISPLAY_SLOTS];
  UINT32 ConnectorType[DISPLAY_SLOTS];
  UINT8 OutputChannel[DISPLAY_SLOTS];
  UINT8 CrtcIndex[DISPLAY_SLOTS];
  BOOLEAN TvUseNtsc[DISPLAY_SLOTS];
  BOOLEAN ForceModeList[DISPLAY_SLOTS];
  BOOLEAN ModeFromList[DISPLAY_SLOTS];
  BOOLEAN DualLinkTmds[DISPLAY_SLOTS];
  BOOLEAN DualLinkPanel[DISPLAY_SLOTS];
  BOOLEAN PanelFromPlatform;
  UINT16 ConnectedKinds;
  BOOLEAN EdidsRead;
  BOOLEAN EdidValid1;
  BOOLEAN EdidValid2;
  BOOLEAN EdidValid3;
  UINT8 Edid1[128];
  UINT8 Edid2[128];
  UINT8 Edid3[128];
  DETAILED_TIMING Timing1;
  DETAILED_TIMING Timing2;
  DETAILED_TIMING Timing3;
  BOOLEAN UseNativeMode[DISPLAY_SLOTS];
  BOOLEAN InverterActiveHigh;
  BOOLEAN InverterCurrent;
  UINT32 ModeSupportMask[DISPLAY_SLOTS];
  EFI_EVENT TimerEvent;
  UGA_MODE_RECORD NativeMode[DISPLAY_SLOTS];
  UGA_MODE_RECORD CurrentMode[DISPLAY_SLOTS];
  UGA_MODE_RECORD* ModeList;
  UINT32 ModeCount;
  const UINT32 (*ModeTimingTable)[6];
  // The device row's name entry plus a null terminator, so that the table
  // handed to FindUnicodeString always ends where the walk expects it.
  EFI_UNICODE_STRING_TABLE ControllerNameTable[2];
  UINT32 PowerSequence[12];

  // Beyond the documented record: the frame-buffer aperture's length as
  // the PCI bus reports it (0 when it would not say), and what Start put on
  // the controller, so that Stop removes exactly that and can put it back.
  UINT64 FrameBufferSize;
  UINT8 InstalledInterfaces;  // INSTALLED_* bits
  // The controller as Start found it, for a failed Start to give it back
  // so: the command register and the PCI I/O attributes, each with whether
  // Start changed it.
  UINT16 CommandAsFound;
  BOOLEAN CommandChanged;
  BOOLEAN AttributesChanged;
  UINT64 AttributesAsFound;
  // The start-up policy Start chose: every delay exactly as long as asked,
  // and no bus transaction where the bus has not answered.
  BOOLEAN FastStartup;
  // Stop's body, set by Start, for the platform's release request (which
  // the platform interfaces serve from below the binding).
  EFI_STATUS (*ReleaseAdapter)(ADAPTER_CONTEXT* Context);

  // Graphics Output over the same mode logic: the protocol, the mode record
  // and information its users read directly, and the list behind them. The
  // list is display 0's, built once by Start from discovery; the record
  // follows what is lit (ModesChanged, set by Start). FrameBufferAddress is
  // BAR 0's physical address as the PCI bus driver reports it.
  EFI_GRAPHICS_OUTPUT_PROTOCOL Gop;
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE GopMode;
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION GopInfo;
  GOP_MODE GopModes[GOP_MAX_MODES];
  UINT64 FrameBufferAddress;
  void (*ModesChanged)(ADAPTER_CONTEXT* Context);
  // Display 0's EDID for the OS, beside Graphics Output: both protocols
  // name the same pool block (null when there is none), freed with the
  // context.
  EFI_EDID_DISCOVERED_PROTOCOL EdidDiscovered;
  EFI_EDID_ACTIVE_PROTOCOL EdidActive;
  // The base block each display was discovered by, as discovery read it.
  UINT8 DiscoveredEdid[DISPLAY_SLOTS][128];
  BOOLEAN DiscoveredEdidValid[DISPLAY_SLOTS];
};

// Checked container-of helpers: each returns null, after the assertion
// report, when the record around the interface lacks the signature (a null
// This has no record and gives null without a report). The module and line
// name the caller in the report.
ADAPTER_CONTEXT* ContextFromUgaDraw(EFI_UGA_DRAW_PROTOCOL* This, const char* Module, UINT32 Line);
ADAPTER_CONTEXT* ContextFromConfigInterface(QUOVAN_CONFIG_INTERFACE* This, const char* Module, UINT32 Line);
ADAPTER_CONTEXT* ContextFromDisplayInterface(QUOVAN_DISPLAY_INTERFACE* This, const char* Module, UINT32 Line);
ADAPTER_CONTEXT* ContextFromGraphicsOutput(EFI_GRAPHICS_OUTPUT_PROTOCOL* This, const char* Module, UINT32 Line);
