// Driver entry and the Driver Binding protocol of the driver.
#pragma once

#include "driver/core/context.h"

// Static instance; ImageHandle and DriverBindingHandle are filled in when
// the entry point installs it.
extern EFI_DRIVER_BINDING_PROTOCOL gQuovanDriverBinding;

extern "C" EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable);

EFI_STATUS EFIAPI QuovanDriverBindingSupported(EFI_DRIVER_BINDING_PROTOCOL* This, EFI_HANDLE ControllerHandle,
                                               EFI_DEVICE_PATH_PROTOCOL* RemainingDevicePath);
EFI_STATUS EFIAPI QuovanDriverBindingStart(EFI_DRIVER_BINDING_PROTOCOL* This, EFI_HANDLE ControllerHandle,
                                           EFI_DEVICE_PATH_PROTOCOL* RemainingDevicePath);
EFI_STATUS EFIAPI QuovanDriverBindingStop(EFI_DRIVER_BINDING_PROTOCOL* This, EFI_HANDLE ControllerHandle,
                                          UINTN NumberOfChildren, EFI_HANDLE* ChildHandleBuffer);

// Releases a started adapter: the body of Stop, also run when the platform
// asks for the adapter through the display interface. On success the
// context is freed. A refusal leaves the adapter as it was, lit and with
// every interface on: EFI_NOT_STARTED when the firmware would not take the
// interfaces off, EFI_DEVICE_ERROR when the command register could not be
// updated, CloseProtocol's status when PCI I/O could not be let go.
EFI_STATUS StopAdapter(ADAPTER_CONTEXT* Context);
