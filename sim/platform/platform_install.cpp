// Installation into the host firmware stand-in, apart from the recording
// layer so that users without the stand-in need not link it.
#include "efi/efi_guids.h"
#include "sim/firmware/firmware.h"
#include "sim/platform/platform_stand_in.h"

namespace simplatform {

EFI_STATUS PlatformStandIn::Install(sim::Firmware& firmware, bool database, bool services) {
  if (database && !database_installed_) {
    EFI_STATUS status = firmware.InstallProtocol(&handle_, kDevicePropertyDatabaseProtocolGuid, &database_.protocol,
                                                 sim::Site::kTest);
    if (EFI_ERROR(status)) {
      return status;
    }
    database_installed_ = true;
  }
  if (services && !services_installed_) {
    EFI_STATUS status =
        firmware.InstallProtocol(&handle_, kPlatformServicesProtocolGuid, &services_.protocol, sim::Site::kTest);
    if (EFI_ERROR(status)) {
      return status;
    }
    services_installed_ = true;
  }
  return EFI_SUCCESS;
}

EFI_STATUS PlatformStandIn::Uninstall(sim::Firmware& firmware) {
  EFI_STATUS result = EFI_SUCCESS;
  if (database_installed_) {
    EFI_STATUS status = firmware.UninstallProtocol(handle_, kDevicePropertyDatabaseProtocolGuid, &database_.protocol);
    result = EFI_ERROR(status) ? status : result;
    database_installed_ = false;
  }
  if (services_installed_) {
    EFI_STATUS status = firmware.UninstallProtocol(handle_, kPlatformServicesProtocolGuid, &services_.protocol);
    result = EFI_ERROR(status) ? status : result;
    services_installed_ = false;
  }
  handle_ = nullptr;
  return result;
}

}  // namespace simplatform
