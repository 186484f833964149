// Freestanding stand-ins for the platform's device-property database and
// platform services protocols. The core keeps no storage of its own: it
// checks each call, hands it to a Sink, and answers from it, so it can run
// on the host under the firmware stand-in or inside real firmware.
//
// Both interfaces keep the member positions the driver relies on; members
// 1, 2 and 4 are not for the driver and report an unexpected call.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "efi/efi.h"

namespace simplatform {

struct Sink {
  void* ctx;
  // Database member 3 (node == nullptr) and services member 6. value may be
  // null only when the caller passed null.
  void (*property)(void* ctx, const EFI_DEVICE_PATH_PROTOCOL* device_path, const CHAR16* node,
                   const CHAR16* name, const void* value, uint64_t size);
  // Services member 3.
  void (*register_adapter)(void* ctx, uint16_t vendor_id, uint16_t device_id, EFI_HANDLE controller);
  // Services member 5: true with *value set when the key is known. size is
  // *Size on entry.
  bool (*get_value)(void* ctx, const EFI_GUID* key, uint64_t size, uint32_t* value);
  // protocol is "database" or "services"; member is its 1-based position.
  void (*unexpected)(void* ctx, const char* protocol, unsigned member);
};

// The protocol comes first so that the This pointer is the record.
struct PropertyDatabase {
  DEVICE_PROPERTY_DATABASE_PROTOCOL protocol;
  const Sink* sink;
};

struct PlatformServices {
  PLATFORM_SERVICES_PROTOCOL protocol;
  const Sink* sink;
};

void InitPropertyDatabase(PropertyDatabase* database, const Sink* sink);
void InitPlatformServices(PlatformServices* services, const Sink* sink);

// GetValue answers: a known key with *Size >= 4 fills 4 bytes, sets *Size to
// 4 and returns EFI_SUCCESS; a known key with *Size < 4 sets *Size to 4 and
// returns EFI_BUFFER_TOO_SMALL; an unknown key returns EFI_NOT_FOUND and
// leaves Buffer and *Size untouched. Null Key, Buffer or Size is
// EFI_INVALID_PARAMETER (and reported as unexpected member 5).

// Installs either or both (null: left out) on a new handle through the
// boot-services table, for use inside real firmware.
EFI_STATUS InstallThroughBootServices(EFI_BOOT_SERVICES* boot_services, PropertyDatabase* database,
                                      PlatformServices* services, EFI_HANDLE* handle);

}  // namespace simplatform
