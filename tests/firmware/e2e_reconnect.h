// KtE2e.efi -reconnect: what the UEFI SCT's IHV Driver Binding test does to
// a driver, on the model-backed KT270 whose controller is in ConOut.
#pragma once

#include "efi/efi.h"
#include "tests/firmware/kt_virt.h"

namespace e2e {

// DisconnectController on every handle, then ConnectController recursively
// on every handle, twice, with our Driver Binding's Start and Stop watched;
// then the console's text through the driver against the monitor's
// picture. Reports one JSON line "reconnect" and powers the machine off:
// the Shell's own handles are new by then.
EFI_STATUS RunReconnect(EFI_HANDLE image, EFI_SYSTEM_TABLE* st, KT_VIRT_PROTOCOL* virt,
                        EFI_DRIVER_BINDING_PROTOCOL* binding);

}  // namespace e2e
