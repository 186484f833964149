// Everything the driver uses of EFI, in one include.
#pragma once

#include "efi/efi_device_path.h"
#include "efi/efi_driver_model.h"
#include "efi/efi_graphics_output.h"
#include "efi/efi_guids.h"
#include "efi/efi_pci_io.h"
#include "efi/efi_system_table.h"
#include "efi/efi_types.h"
#include "efi/efi_uga_draw.h"
#include "efi/platform_protocols.h"
#include "efi/quovan_interfaces.h"
