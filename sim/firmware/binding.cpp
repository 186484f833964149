// ConnectController / DisconnectController: the EFI 1.10 driver-model loop
// that offers a controller to every Driver Binding and stops the drivers
// that hold it.
#include <algorithm>

#include "sim/firmware/firmware.h"

namespace sim {

// Drivers named by the caller first (in the caller's order), then every
// other Driver Binding by descending Version; equal versions keep the order
// of installation.
std::vector<EFI_DRIVER_BINDING_PROTOCOL*> Firmware::SortedBindings(EFI_HANDLE* driver_images) const {
  std::vector<EFI_DRIVER_BINDING_PROTOCOL*> named;
  if (driver_images != nullptr) {
    for (EFI_HANDLE* image = driver_images; *image != nullptr; ++image) {
      for (EFI_HANDLE h : Handles(&kEfiDriverBindingProtocolGuid)) {
        auto* b = static_cast<EFI_DRIVER_BINDING_PROTOCOL*>(Interface(h, kEfiDriverBindingProtocolGuid));
        if (b != nullptr && b->ImageHandle == *image &&
            std::find(named.begin(), named.end(), b) == named.end()) {
          named.push_back(b);
        }
      }
    }
  }
  std::vector<EFI_DRIVER_BINDING_PROTOCOL*> rest;
  for (EFI_HANDLE h : Handles(&kEfiDriverBindingProtocolGuid)) {
    auto* b = static_cast<EFI_DRIVER_BINDING_PROTOCOL*>(Interface(h, kEfiDriverBindingProtocolGuid));
    if (b != nullptr && std::find(named.begin(), named.end(), b) == named.end()) rest.push_back(b);
  }
  std::stable_sort(rest.begin(), rest.end(),
                   [](const EFI_DRIVER_BINDING_PROTOCOL* a, const EFI_DRIVER_BINDING_PROTOCOL* b) {
                     return a->Version > b->Version;
                   });
  named.insert(named.end(), rest.begin(), rest.end());
  return named;
}

// Each driver that says it supports the controller is started; after every
// start the search begins again from the first driver not yet tried, since
// a start can change what the others see.
EFI_STATUS Firmware::ConnectOne(EFI_HANDLE controller, EFI_HANDLE* driver_images,
                                EFI_DEVICE_PATH_PROTOCOL* remaining) {
  std::vector<EFI_DRIVER_BINDING_PROTOCOL*> order = SortedBindings(driver_images);
  bool one_started = false;
  bool found;
  do {
    found = false;
    for (auto& binding : order) {
      if (binding == nullptr) continue;
      EFI_DRIVER_BINDING_PROTOCOL* b = binding;
      EFI_STATUS status = b->Supported(b, controller, remaining);
      binding_calls_.push_back({BindingCall::Kind::kSupported, b->DriverBindingHandle, controller, status});
      if (EFI_ERROR(status)) continue;
      binding = nullptr;
      found = true;
      status = b->Start(b, controller, remaining);
      binding_calls_.push_back({BindingCall::Kind::kStart, b->DriverBindingHandle, controller, status});
      if (!EFI_ERROR(status)) one_started = true;
      break;
    }
  } while (found);
  if (one_started) return EFI_SUCCESS;
  if (remaining != nullptr && remaining->Type == END_DEVICE_PATH_TYPE &&
      remaining->SubType == END_ENTIRE_DEVICE_PATH_SUBTYPE) {
    return EFI_SUCCESS;
  }
  return EFI_NOT_FOUND;
}

EFI_STATUS Firmware::Connect(EFI_HANDLE controller, EFI_HANDLE* driver_images, EFI_DEVICE_PATH_PROTOCOL* remaining,
                             bool recursive) {
  if (!IsHandle(controller)) return EFI_INVALID_PARAMETER;
  if (driver_images != nullptr) {
    for (EFI_HANDLE* image = driver_images; *image != nullptr; ++image) {
      if (!IsHandle(*image)) return EFI_INVALID_PARAMETER;
    }
  }
  EFI_STATUS status = ConnectOne(controller, driver_images, remaining);
  if (recursive) {
    for (EFI_HANDLE agent : ManagingDrivers(controller)) {
      for (EFI_HANDLE child : ChildrenOf(controller, agent)) Connect(child, nullptr, nullptr, true);
    }
  }
  return status;
}

// Agents holding any protocol of the controller BY_DRIVER, in first-open
// order.
std::vector<EFI_HANDLE> Firmware::ManagingDrivers(EFI_HANDLE controller) const {
  std::vector<EFI_HANDLE> out;
  HandleRecord* h = FindHandle(controller);
  if (h == nullptr) return out;
  for (const auto& p : h->protocols) {
    for (const OpenRecord& o : p->opens) {
      if ((o.attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) != 0 &&
          std::find(out.begin(), out.end(), o.agent) == out.end()) {
        out.push_back(o.agent);
      }
    }
  }
  return out;
}

std::vector<EFI_HANDLE> Firmware::ChildrenOf(EFI_HANDLE controller, EFI_HANDLE agent) const {
  std::vector<EFI_HANDLE> out;
  HandleRecord* h = FindHandle(controller);
  if (h == nullptr) return out;
  for (const auto& p : h->protocols) {
    for (const OpenRecord& o : p->opens) {
      if ((o.attributes & EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER) != 0 && o.agent == agent &&
          IsHandle(o.controller) && std::find(out.begin(), out.end(), o.controller) == out.end()) {
        out.push_back(o.controller);
      }
    }
  }
  return out;
}

EFI_STATUS Firmware::Disconnect(EFI_HANDLE controller, EFI_HANDLE driver_image, EFI_HANDLE child) {
  if (!IsHandle(controller)) return EFI_INVALID_PARAMETER;
  if (driver_image != nullptr && !IsHandle(driver_image)) return EFI_INVALID_PARAMETER;
  if (child != nullptr && !IsHandle(child)) return EFI_INVALID_PARAMETER;

  std::vector<EFI_HANDLE> drivers = ManagingDrivers(controller);
  if (driver_image != nullptr) {
    if (std::find(drivers.begin(), drivers.end(), driver_image) == drivers.end()) return EFI_SUCCESS;
    drivers = {driver_image};
  }
  if (drivers.empty()) return EFI_SUCCESS;

  EFI_STATUS result = EFI_SUCCESS;
  for (EFI_HANDLE agent : drivers) {
    auto* b = static_cast<EFI_DRIVER_BINDING_PROTOCOL*>(Interface(agent, kEfiDriverBindingProtocolGuid));
    if (b == nullptr) {
      // An agent without a Driver Binding cannot be asked to let go.
      result = EFI_INVALID_PARAMETER;
      continue;
    }
    std::vector<EFI_HANDLE> children = ChildrenOf(controller, agent);
    bool stop_all = child == nullptr;
    std::vector<EFI_HANDLE> to_stop;
    if (stop_all) {
      to_stop = children;
    } else if (std::find(children.begin(), children.end(), child) != children.end()) {
      to_stop = {child};
      stop_all = children.size() == 1;
    }
    EFI_STATUS status = EFI_SUCCESS;
    if (!to_stop.empty()) {
      status = b->Stop(b, controller, to_stop.size(), to_stop.data());
      binding_calls_.push_back({BindingCall::Kind::kStop, b->DriverBindingHandle, controller, status});
    }
    if (!EFI_ERROR(status) && stop_all) {
      status = b->Stop(b, controller, 0, nullptr);
      binding_calls_.push_back({BindingCall::Kind::kStop, b->DriverBindingHandle, controller, status});
    }
    if (EFI_ERROR(status)) result = status;
  }
  // A failing Stop's own status is passed on (where the reference firmware
  // would report less), so that tests see why a controller stayed bound.
  return result;
}

}  // namespace sim
