// Display nodes and panels: the names of both display nodes, the platform's
// set operations for platform information, panel timing and a television
// standard, the panel description from platform values, the connector
// properties, and the built-in connector table.
#pragma once

#include "driver/core/context.h"

// (type, flags) pairs, ended by a pair of zeros.
#define BUILT_IN_CONNECTOR_ENTRIES 4
extern const UINT64 BuiltInConnectorTable[(BUILT_IN_CONNECTOR_ENTRIES + 1) * 2];

// Bits of a connector's flags word that the driver itself reads.
#define CONNECTOR_FLAGS_ORIENTATION 0x0CULL
#define CONNECTOR_FLAGS_SINGLE_LINK_PANEL 0x100ULL

// Values the panel paths and the saved configuration share.
constexpr UINT64 PANEL_SURFACE_DEPTH = 32;
constexpr UINT32 DEFAULT_PWM_FREQUENCY = 21000;  // when the source gives 0
constexpr UINT8 DEFAULT_INVERTER_CYCLE = 255;
constexpr UINT32 POWER_SEQUENCE_BYTES = 48;
constexpr UINT64 TV_STANDARD_60HZ = 1;
constexpr UINT64 TV_STANDARD_50HZ = 2;

// The largest width and height the link-limit record advertises.
#define PLATFORM_MODE_LIMIT 8192

// Whether a width and height the platform hands in may become a display's
// mode on the CRTC: Blt's bounds and the engine's 16-bit coordinates trust
// it, and the surface must fit the frame-buffer aperture.
BOOLEAN PlatformModeAcceptable(const ADAPTER_CONTEXT* Context, UINT8 Crtc, UINT64 Width, UINT64 Height);

// Entries before the terminating pair; 0 without a table.
UINT32 ConnectorEntryCount(const ADAPTER_CONTEXT* Context);
// Type and flags of entry ConnectorIndex. Without a table, and for the
// terminating pair, both are 0; FALSE only when there is no table.
BOOLEAN SelectedConnector(const ADAPTER_CONTEXT* Context, UINT32* Type, UINT64* Flags);

EFI_STATUS NameDisplayNodes(ADAPTER_CONTEXT* Context);

// The set operations take buffers whose size the caller has checked:
// 128 bytes, 52 bytes. A panel or television when both display slots are
// taken is refused with EFI_OUT_OF_RESOURCES, a panel whose size is not
// acceptable with EFI_INVALID_PARAMETER; neither changes anything.
EFI_STATUS SetPlatformInfo(ADAPTER_CONTEXT* Context, const UINT8* Buffer);
EFI_STATUS SetPanelTiming(ADAPTER_CONTEXT* Context, const UINT8* Buffer);
EFI_STATUS SetTvStandard(ADAPTER_CONTEXT* Context, UINT64 Standard);

BOOLEAN DescribePanelFromPlatform(ADAPTER_CONTEXT* Context);
void ReadPowerSequence(ADAPTER_CONTEXT* Context);
void PublishConnectorProperties(ADAPTER_CONTEXT* Context);

// Little-endian reads from byte buffers of any alignment.
UINT32 ReadLe32(const UINT8* Bytes);
UINT64 ReadLe64(const UINT8* Bytes);
