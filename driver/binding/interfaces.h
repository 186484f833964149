// The interfaces the driver puts on a started controller: one table that
// Start's installs, Stop's uninstall, the rollbacks and the tests all walk,
// so that an interface added to it cannot be forgotten by any of them.
#pragma once

#include "driver/core/context.h"

// Each group goes on in one InstallMultipleProtocolInterfaces call, in
// group order: both faces of the display, then the platform's two.
#define INTERFACE_GROUP_DISPLAY 0
#define INTERFACE_GROUP_PLATFORM 1  // only with the platform services
#define INTERFACE_GROUPS 2

struct DRIVER_INTERFACE {
  UINT8 Bit;  // INSTALLED_*
  UINT8 Group;
  const EFI_GUID* Guid;
  UINTN Offset;  // of the interface within ADAPTER_CONTEXT
};

// In installation order.
extern const DRIVER_INTERFACE kDriverInterfaces[];
extern const UINTN kDriverInterfaceCount;

// Puts group Group on the controller, all or none; sets its
// InstalledInterfaces bits.
EFI_STATUS InstallInterfaceGroup(ADAPTER_CONTEXT* Context, UINT8 Group);

// Takes every installed interface off in one call, so that no consumer can
// bind to one left standing between two removals; on a refusal nothing was
// taken off.
EFI_STATUS UninstallInterfaces(ADAPTER_CONTEXT* Context);

// Puts back what the bits Removed name (an undone Stop), group by group.
void ReinstallInterfaces(ADAPTER_CONTEXT* Context, UINT8 Removed);
