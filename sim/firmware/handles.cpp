// Handle database: protocol interfaces on handles and the open records
// behind OpenProtocol/CloseProtocol, following the UEFI rules (and, where
// the standard leaves room, what the reference firmware does).
#include <cstring>

#include "sim/firmware/firmware.h"

namespace sim {

namespace {

constexpr uint64_t kHandleMagic = 0x454C444E41484D53ULL;  // "SMHANDLE"

constexpr uint32_t kOpenAttributeMask =
    EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL | EFI_OPEN_PROTOCOL_GET_PROTOCOL | EFI_OPEN_PROTOCOL_TEST_PROTOCOL |
    EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER | EFI_OPEN_PROTOCOL_BY_DRIVER | EFI_OPEN_PROTOCOL_EXCLUSIVE;

// Size of a device path up to and including its end node; 0 when it is
// malformed (a zero-length node, or no end within a sane bound).
size_t DevicePathSize(const EFI_DEVICE_PATH_PROTOCOL* path) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(path);
  size_t total = 0;
  while (total < 4096) {
    size_t len = p[total + 2] | (p[total + 3] << 8);
    if (len < 4) return 0;
    bool end = p[total] == END_DEVICE_PATH_TYPE && p[total + 1] == END_ENTIRE_DEVICE_PATH_SUBTYPE;
    total += len;
    if (end) return total;
  }
  return 0;
}

}  // namespace

bool SameGuid(const EFI_GUID& a, const EFI_GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool Firmware::IsHandle(EFI_HANDLE handle) const { return FindHandle(handle) != nullptr; }

Firmware::ProtocolRecord* Firmware::FindProtocol(HandleRecord* h, const EFI_GUID& guid) {
  for (auto& p : h->protocols) {
    if (SameGuid(p->guid, guid)) return p.get();
  }
  return nullptr;
}

EFI_HANDLE Firmware::NewHandle() {
  auto h = std::make_unique<HandleRecord>();
  h->magic = kHandleMagic;
  h->serial = next_serial_++;
  h->alive = true;
  handles_.push_back(std::move(h));
  return handles_.back().get();
}

// A handle lives as long as it carries a protocol. The record is kept (dead)
// so that a stale handle is recognised and refused rather than reused.
void Firmware::RetireIfEmpty(HandleRecord* h) {
  if (h->protocols.empty()) h->alive = false;
}

EFI_HANDLE Firmware::CreateImageHandle() {
  image_placeholders_.push_back(std::make_unique<uint8_t[]>(128));
  EFI_HANDLE handle = nullptr;
  InstallOne(&handle, &kEfiLoadedImageProtocolGuid, image_placeholders_.back().get(), Site::kTest);
  return handle;
}

bool Firmware::DevicePathInstalled(const EFI_DEVICE_PATH_PROTOCOL* path) const {
  size_t size = DevicePathSize(path);
  if (size == 0) return false;
  for (const auto& h : handles_) {
    if (!h->alive) continue;
    ProtocolRecord* p = FindProtocol(h.get(), kEfiDevicePathProtocolGuid);
    if (p == nullptr || p->interface == nullptr) continue;
    auto* other = static_cast<const EFI_DEVICE_PATH_PROTOCOL*>(p->interface);
    if (DevicePathSize(other) == size && std::memcmp(other, path, size) == 0) return true;
  }
  return false;
}

EFI_STATUS Firmware::InstallOne(EFI_HANDLE* handle, const EFI_GUID* guid, void* interface, Site site) {
  if (handle == nullptr || guid == nullptr) return EFI_INVALID_PARAMETER;
  HandleRecord* h = nullptr;
  if (*handle != nullptr) {
    h = FindHandle(*handle);
    if (h == nullptr) return EFI_INVALID_PARAMETER;
    if (FindProtocol(h, *guid) != nullptr) return EFI_INVALID_PARAMETER;
  } else {
    *handle = NewHandle();
    h = static_cast<HandleRecord*>(*handle);
  }
  auto p = std::make_unique<ProtocolRecord>();
  p->guid = *guid;
  p->interface = interface;
  p->site = site;
  h->protocols.push_back(std::move(p));
  return EFI_SUCCESS;
}

EFI_STATUS Firmware::InstallProtocol(EFI_HANDLE* handle, const EFI_GUID& guid, void* interface, Site site) {
  return InstallOne(handle, &guid, interface, site);
}

// All or nothing: a failure part-way removes what this call installed, and a
// handle it created goes again.
EFI_STATUS Firmware::InstallMultiple(EFI_HANDLE* handle, const std::vector<ProtocolPair>& pairs, Site site) {
  if (handle == nullptr) return EFI_INVALID_PARAMETER;
  EFI_HANDLE original = *handle;
  EFI_TPL old = RaiseTpl(TPL_NOTIFY);
  EFI_STATUS status = EFI_SUCCESS;
  size_t done = 0;
  for (; done < pairs.size(); ++done) {
    const ProtocolPair& pair = pairs[done];
    if (SameGuid(*pair.guid, kEfiDevicePathProtocolGuid) && pair.interface != nullptr &&
        DevicePathInstalled(static_cast<const EFI_DEVICE_PATH_PROTOCOL*>(pair.interface))) {
      status = EFI_ALREADY_STARTED;
      break;
    }
    status = InstallOne(handle, pair.guid, pair.interface, site);
    if (status != EFI_SUCCESS) break;
  }
  if (status != EFI_SUCCESS) {
    while (done-- > 0) UninstallOne(*handle, pairs[done].guid, pairs[done].interface);
    *handle = original;
  }
  RestoreTpl(old);
  return status;
}

// Removes the interface without the disconnect dance; the caller has made
// sure nothing holds it.
EFI_STATUS Firmware::UninstallOne(EFI_HANDLE handle, const EFI_GUID* guid, void* interface) {
  HandleRecord* h = FindHandle(handle);
  if (h == nullptr || guid == nullptr) return EFI_INVALID_PARAMETER;
  for (size_t i = 0; i < h->protocols.size(); ++i) {
    if (SameGuid(h->protocols[i]->guid, *guid) && h->protocols[i]->interface == interface) {
      h->protocols.erase(h->protocols.begin() + i);
      RetireIfEmpty(h);
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

// As the reference firmware does: drivers holding the interface BY_DRIVER
// are asked to stop first; if any open is left after that, the drivers are
// connected again and the uninstall is refused.
EFI_STATUS Firmware::UninstallProtocol(EFI_HANDLE handle, const EFI_GUID& guid, void* interface) {
  HandleRecord* h = FindHandle(handle);
  if (h == nullptr) return EFI_INVALID_PARAMETER;
  ProtocolRecord* p = FindProtocol(h, guid);
  if (p == nullptr || p->interface != interface) return EFI_NOT_FOUND;

  std::vector<EFI_HANDLE> stopped;
  bool refused = false;
  for (;;) {
    p = FindProtocol(h, guid);
    if (p == nullptr) return EFI_NOT_FOUND;  // a Stop took it away
    EFI_HANDLE agent = nullptr;
    for (const OpenRecord& o : p->opens) {
      if ((o.attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) != 0) {
        bool tried = false;
        for (EFI_HANDLE s : stopped) tried |= s == o.agent;
        if (!tried) {
          agent = o.agent;
          break;
        }
      }
    }
    if (agent == nullptr) break;
    stopped.push_back(agent);
    if (Disconnect(handle, agent, nullptr) != EFI_SUCCESS) refused = true;
  }
  p = FindProtocol(h, guid);
  if (p == nullptr) return EFI_NOT_FOUND;
  if (!refused) {
    // Non-driver opens do not keep an interface alive.
    std::vector<OpenRecord> kept;
    for (const OpenRecord& o : p->opens) {
      if ((o.attributes & (EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL | EFI_OPEN_PROTOCOL_GET_PROTOCOL |
                           EFI_OPEN_PROTOCOL_TEST_PROTOCOL)) == 0) {
        kept.push_back(o);
      }
    }
    p->opens = kept;
    refused = !p->opens.empty();
  }
  if (refused) {
    for (EFI_HANDLE agent : stopped) {
      EFI_HANDLE list[2] = {agent, nullptr};
      Connect(handle, list, nullptr, false);
    }
    return EFI_ACCESS_DENIED;
  }
  return UninstallOne(handle, &guid, interface);
}

EFI_STATUS Firmware::UninstallMultiple(EFI_HANDLE handle, const std::vector<ProtocolPair>& pairs) {
  if (FindHandle(handle) == nullptr) return EFI_INVALID_PARAMETER;
  auto* h = static_cast<HandleRecord*>(handle);
  std::vector<Site> sites;
  EFI_STATUS status = EFI_SUCCESS;
  for (const ProtocolPair& pair : pairs) {
    if (pair.guid == nullptr) {
      status = EFI_INVALID_PARAMETER;
      break;
    }
    ProtocolRecord* p = FindProtocol(h, *pair.guid);
    Site site = p != nullptr ? p->site : Site::kTest;
    status = UninstallProtocol(handle, *pair.guid, pair.interface);
    if (status != EFI_SUCCESS) break;
    sites.push_back(site);
  }
  if (status == EFI_SUCCESS) return EFI_SUCCESS;
  // Put back what went, on the same handle even if it had emptied.
  for (size_t i = 0; i < sites.size(); ++i) {
    h->alive = true;
    InstallOne(&handle, pairs[i].guid, pairs[i].interface, sites[i]);
  }
  return EFI_INVALID_PARAMETER;
}

EFI_STATUS Firmware::ReinstallProtocol(EFI_HANDLE handle, const EFI_GUID& guid, void* old_interface,
                                       void* new_interface) {
  HandleRecord* h = FindHandle(handle);
  if (h == nullptr) return EFI_INVALID_PARAMETER;
  ProtocolRecord* p = FindProtocol(h, guid);
  if (p == nullptr || p->interface != old_interface) return EFI_NOT_FOUND;
  for (EFI_HANDLE agent : ManagingDrivers(handle)) Disconnect(handle, agent, nullptr);
  p = FindProtocol(h, guid);
  if (p == nullptr) return EFI_NOT_FOUND;
  p->interface = new_interface;
  Connect(handle, nullptr, nullptr, false);
  return EFI_SUCCESS;
}

EFI_STATUS Firmware::OpenProtocol(EFI_HANDLE handle, const EFI_GUID* guid, void** interface, EFI_HANDLE agent,
                                  EFI_HANDLE controller, uint32_t attributes) {
  if (guid == nullptr) return EFI_INVALID_PARAMETER;
  if (attributes != EFI_OPEN_PROTOCOL_TEST_PROTOCOL && interface == nullptr) return EFI_INVALID_PARAMETER;
  HandleRecord* h = FindHandle(handle);
  if (h == nullptr) return EFI_INVALID_PARAMETER;
  if ((attributes & ~kOpenAttributeMask) != 0) return EFI_INVALID_PARAMETER;

  switch (attributes) {
    case EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER:
      if (!IsHandle(agent) || !IsHandle(controller) || controller == handle) return EFI_INVALID_PARAMETER;
      break;
    case EFI_OPEN_PROTOCOL_BY_DRIVER:
    case EFI_OPEN_PROTOCOL_BY_DRIVER | EFI_OPEN_PROTOCOL_EXCLUSIVE:
      if (!IsHandle(agent) || !IsHandle(controller)) return EFI_INVALID_PARAMETER;
      break;
    case EFI_OPEN_PROTOCOL_EXCLUSIVE:
      if (!IsHandle(agent)) return EFI_INVALID_PARAMETER;
      break;
    case EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL:
    case EFI_OPEN_PROTOCOL_GET_PROTOCOL:
    case EFI_OPEN_PROTOCOL_TEST_PROTOCOL:
      break;
    default:
      return EFI_INVALID_PARAMETER;
  }

  ProtocolRecord* p = FindProtocol(h, *guid);
  if (p == nullptr) {
    if (interface != nullptr && attributes != EFI_OPEN_PROTOCOL_TEST_PROTOCOL) *interface = nullptr;
    return EFI_UNSUPPORTED;
  }

  bool by_driver = false;
  bool exclusive = false;
  for (const OpenRecord& o : p->opens) {
    bool exact = o.agent == agent && o.controller == controller && o.attributes == attributes;
    if ((o.attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) != 0) {
      by_driver = true;
      if (exact) {
        if (interface != nullptr) *interface = p->interface;
        return EFI_ALREADY_STARTED;
      }
    }
    if ((o.attributes & EFI_OPEN_PROTOCOL_EXCLUSIVE) != 0) exclusive = true;
  }

  switch (attributes) {
    case EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER:
      if (exclusive) return EFI_ACCESS_DENIED;
      break;
    case EFI_OPEN_PROTOCOL_BY_DRIVER:
      if (exclusive || by_driver) return EFI_ACCESS_DENIED;
      break;
    case EFI_OPEN_PROTOCOL_BY_DRIVER | EFI_OPEN_PROTOCOL_EXCLUSIVE:
    case EFI_OPEN_PROTOCOL_EXCLUSIVE:
      if (exclusive) return EFI_ACCESS_DENIED;
      if (by_driver) {
        // Exclusive use takes the interface from the drivers holding it.
        std::vector<EFI_HANDLE> holders;
        for (const OpenRecord& o : p->opens) {
          if ((o.attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) != 0) holders.push_back(o.agent);
        }
        for (EFI_HANDLE holder : holders) Disconnect(handle, holder, nullptr);
        p = FindProtocol(h, *guid);
        if (p == nullptr) return EFI_UNSUPPORTED;
        for (const OpenRecord& o : p->opens) {
          if ((o.attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) != 0) return EFI_ACCESS_DENIED;
        }
      }
      break;
    default:
      break;
  }

  if (attributes == EFI_OPEN_PROTOCOL_TEST_PROTOCOL) return EFI_SUCCESS;
  *interface = p->interface;
  for (OpenRecord& o : p->opens) {
    if (o.agent == agent && o.controller == controller && o.attributes == attributes) {
      ++o.count;
      return EFI_SUCCESS;
    }
  }
  p->opens.push_back(OpenRecord{agent, controller, attributes, 1});
  return EFI_SUCCESS;
}

EFI_STATUS Firmware::CloseProtocol(EFI_HANDLE handle, const EFI_GUID* guid, EFI_HANDLE agent,
                                   EFI_HANDLE controller) {
  HandleRecord* h = FindHandle(handle);
  if (h == nullptr || guid == nullptr || !IsHandle(agent)) return EFI_INVALID_PARAMETER;
  if (controller != nullptr && !IsHandle(controller)) return EFI_INVALID_PARAMETER;
  ProtocolRecord* p = FindProtocol(h, *guid);
  if (p == nullptr) return EFI_NOT_FOUND;
  size_t before = p->opens.size();
  std::vector<OpenRecord> kept;
  for (const OpenRecord& o : p->opens) {
    if (!(o.agent == agent && o.controller == controller)) kept.push_back(o);
  }
  p->opens = kept;
  return kept.size() == before ? EFI_NOT_FOUND : EFI_SUCCESS;
}

EFI_STATUS Firmware::HandleProtocol(EFI_HANDLE handle, const EFI_GUID* guid, void** interface) {
  return OpenProtocol(handle, guid, interface, core_image_, nullptr, EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL);
}

EFI_STATUS Firmware::LocateProtocol(const EFI_GUID* guid, void** interface) const {
  if (guid == nullptr || interface == nullptr) return EFI_INVALID_PARAMETER;
  for (const auto& h : handles_) {
    if (!h->alive) continue;
    if (ProtocolRecord* p = FindProtocol(h.get(), *guid)) {
      *interface = p->interface;
      return EFI_SUCCESS;
    }
  }
  *interface = nullptr;
  return EFI_NOT_FOUND;
}

// The handle with the protocol whose device path matches the longest
// leading part of *path; *path is moved past that part.
EFI_STATUS Firmware::LocateDevicePath(const EFI_GUID* guid, EFI_DEVICE_PATH_PROTOCOL** path,
                                      EFI_HANDLE* device) const {
  if (guid == nullptr || path == nullptr || *path == nullptr || device == nullptr) return EFI_INVALID_PARAMETER;
  size_t whole = DevicePathSize(*path);
  if (whole == 0) return EFI_INVALID_PARAMETER;
  size_t best = 0;
  EFI_HANDLE found = nullptr;
  for (const auto& h : handles_) {
    if (!h->alive || FindProtocol(h.get(), *guid) == nullptr) continue;
    ProtocolRecord* dp = FindProtocol(h.get(), kEfiDevicePathProtocolGuid);
    if (dp == nullptr || dp->interface == nullptr) continue;
    size_t size = DevicePathSize(static_cast<EFI_DEVICE_PATH_PROTOCOL*>(dp->interface));
    if (size < 4) continue;
    size_t prefix = size - 4;  // without the end node
    if (prefix <= whole - 4 && std::memcmp(dp->interface, *path, prefix) == 0 &&
        (found == nullptr || prefix > best)) {
      best = prefix;
      found = h.get();
    }
  }
  if (found == nullptr) return EFI_NOT_FOUND;
  *device = found;
  *path = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL*>(reinterpret_cast<uint8_t*>(*path) + best);
  return EFI_SUCCESS;
}

std::vector<EFI_HANDLE> Firmware::Handles(const EFI_GUID* guid) const {
  std::vector<EFI_HANDLE> out;
  for (const auto& h : handles_) {
    if (h->alive && (guid == nullptr || FindProtocol(h.get(), *guid) != nullptr)) out.push_back(h.get());
  }
  return out;
}

void* Firmware::Interface(EFI_HANDLE handle, const EFI_GUID& guid) const {
  HandleRecord* h = FindHandle(handle);
  if (h == nullptr) return nullptr;
  ProtocolRecord* p = FindProtocol(h, guid);
  return p != nullptr ? p->interface : nullptr;
}

std::vector<const EFI_GUID*> Firmware::Protocols(EFI_HANDLE handle) const {
  std::vector<const EFI_GUID*> out;
  if (HandleRecord* h = FindHandle(handle)) {
    for (const auto& p : h->protocols) out.push_back(&p->guid);
  }
  return out;
}

std::vector<EFI_OPEN_PROTOCOL_INFORMATION_ENTRY> Firmware::OpenInfo(EFI_HANDLE handle,
                                                                    const EFI_GUID& guid) const {
  std::vector<EFI_OPEN_PROTOCOL_INFORMATION_ENTRY> out;
  HandleRecord* h = FindHandle(handle);
  if (h == nullptr) return out;
  if (ProtocolRecord* p = FindProtocol(h, guid)) {
    for (const OpenRecord& o : p->opens) out.push_back({o.agent, o.controller, o.attributes, o.count});
  }
  return out;
}

LeakReport Firmware::Leaks(EFI_HANDLE controller, EFI_HANDLE agent) const {
  LeakReport r;
  for (const auto& b : blocks_) {
    if (b.second.site == Site::kDriver) {
      ++r.pool_blocks;
      r.pool_bytes += b.second.size;
    }
  }
  r.events = OpenEvents(Site::kDriver);
  for (const auto& h : handles_) {
    if (!h->alive) continue;
    bool here = controller == nullptr ? h.get() != agent : h.get() == controller;
    for (const auto& p : h->protocols) {
      if (here && p->site == Site::kDriver) ++r.interfaces;
      if (controller == nullptr || h.get() == controller) {
        for (const OpenRecord& o : p->opens) {
          if (o.agent == agent) ++r.opens;
        }
      }
    }
  }
  return r;
}

std::string LeakReport::Describe() const {
  return std::to_string(pool_blocks) + " pool blocks (" + std::to_string(pool_bytes) + " bytes), " +
         std::to_string(events) + " events, " + std::to_string(interfaces) + " interfaces, " +
         std::to_string(opens) + " opens";
}

}  // namespace sim
