// Display discovery: which display the adapter drives, over which connector,
// DDC channel and CRTC, and which built-in modes its EDID declares.
#pragma once

#include "driver/core/context.h"

// Connector kinds in the order they are tried, ended by 0.
#define CONNECTOR_PRIORITY_ENTRIES 8
extern const UINT32 ConnectorPriority[CONNECTOR_PRIORITY_ENTRIES];

// Every call probes the wired channels and reads and publishes a channel the
// first time it answers; the first call with no display yet also chooses
// one (or the default display). Ends by refreshing CurrentMode.
void DiscoverDisplays(ADAPTER_CONTEXT* Context);

// Rewrites the shared Supported bytes from display Display's mask.
void MarkSupportedModes(ADAPTER_CONTEXT* Context, UINTN Display);

void RefreshCurrentModes(ADAPTER_CONTEXT* Context);

// Both analogue outputs on channel 1 and CRTC 1, showing row 0.
BOOLEAN SetDefaultDisplay(ADAPTER_CONTEXT* Context);

// CRTC and output channel of display CurrentDisplay from the first wiring
// row of the kind (any television kind for AssignTvConnector).
// EFI_NOT_FOUND without such a row; EFI_INVALID_PARAMETER when
// CurrentDisplay names no display slot.
EFI_STATUS AssignConnector(ADAPTER_CONTEXT* Context, UINT32 Kind);
// The CrtcIndex AssignConnector would give display Display for the kind,
// without assigning it.
UINT8 CrtcOfConnector(const ADAPTER_CONTEXT* Context, UINT8 Display, UINT32 Kind);
EFI_STATUS AssignTvConnector(ADAPTER_CONTEXT* Context);
