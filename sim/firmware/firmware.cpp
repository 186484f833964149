// The Firmware object: construction, the current instance, failure
// injection and call counts, fault records, consoles and the variable store.
#include "sim/firmware/firmware.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "sim/firmware/pci_io.h"

namespace sim {

Firmware* Firmware::current_ = nullptr;

namespace {
// Live firmwares, newest last; they need not die in the reverse order.
std::vector<Firmware*>& LiveFirmwares() {
  static std::vector<Firmware*> live;
  return live;
}
}  // namespace

Firmware::Firmware(const FirmwareOptions& options)
    : pool_fill_(options.pool_fill), tick_us_(options.tick_us == 0 ? 1 : options.tick_us) {
  LiveFirmwares().push_back(this);
  current_ = this;
  InitTables();
  core_image_ = CreateImageHandle();
}

Firmware::~Firmware() {
  for (auto& b : blocks_) std::free(const_cast<void*>(b.first));
  blocks_.clear();
  auto& live = LiveFirmwares();
  live.erase(std::find(live.begin(), live.end(), this));
  current_ = live.empty() ? nullptr : live.back();
}

Firmware& Firmware::Current() {
  if (current_ == nullptr) {
    std::fprintf(stderr, "sim::Firmware: a firmware service was called with no Firmware alive\n");
    std::abort();
  }
  return *current_;
}

// ---- Failure injection ---------------------------------------------------------

void Firmware::FailCall(const std::string& member, uint64_t nth, EFI_STATUS status) {
  injections_[member].push_back(Injection{nth, false, status});
}

void Firmware::FailCallsFrom(const std::string& member, uint64_t nth, EFI_STATUS status) {
  injections_[member].push_back(Injection{nth, true, status});
}

void Firmware::ClearFailures() { injections_.clear(); }

void Firmware::ResetCallCounts() {
  call_counts_.clear();
  for (CountSlot& slot : count_cache_) slot.member = nullptr;
  injections_fired_.clear();
}

uint64_t Firmware::CallCount(const std::string& member) const {
  auto it = call_counts_.find(member);
  return it == call_counts_.end() ? 0 : it->second;
}

uint64_t& Firmware::Counter(const char* member) {
  for (CountSlot& slot : count_cache_) {
    if (slot.member == member && std::strcmp(slot.node->first.c_str(), member) == 0) return slot.node->second;
  }
  auto node = call_counts_.emplace(member, 0).first;
  count_cache_[count_cache_next_] = CountSlot{member, node};
  count_cache_next_ = (count_cache_next_ + 1) % (sizeof(count_cache_) / sizeof(count_cache_[0]));
  return node->second;
}

bool Firmware::Enter(const char* member, EFI_STATUS* status) {
  uint64_t n = ++Counter(member);
  if (injections_.empty()) return false;
  auto it = injections_.find(std::string_view(member));
  if (it == injections_.end()) return false;
  for (const Injection& inj : it->second) {
    if (n == inj.nth || (inj.from_on && n > inj.nth)) {
      injections_fired_.push_back(InjectionHit{member, n, inj.status});
      *status = inj.status;
      return true;
    }
  }
  return false;
}

// ---- Faults -----------------------------------------------------------------------

const char* FaultKindName(FaultKind kind) {
  switch (kind) {
    case FaultKind::kDoubleFree: return "double free";
    case FaultKind::kForeignFree: return "free of a foreign pointer";
    case FaultKind::kBadEvent: return "unknown or closed event";
    case FaultKind::kTplRaiseBelow: return "RaiseTPL below the current level";
    case FaultKind::kTplRestoreAbove: return "RestoreTPL above the current level";
    case FaultKind::kTplOutOfRange: return "task priority out of range";
    case FaultKind::kUnsupportedService: return "unsupported service";
    case FaultKind::kWaitWithoutEnd: return "wait that never ends";
  }
  return "?";
}

void Firmware::RecordFault(FaultKind kind, const char* service, const std::string& detail) {
  faults_.push_back(Fault{kind, service, detail});
}

size_t Firmware::FaultCount(FaultKind kind) const {
  size_t n = 0;
  for (const Fault& f : faults_) n += f.kind == kind;
  return n;
}

std::string Firmware::DescribeFaults() const {
  std::string out;
  for (const Fault& f : faults_) {
    out += f.service + ": " + FaultKindName(f.kind);
    if (!f.detail.empty()) out += " (" + f.detail + ")";
    out += "\n";
  }
  return out;
}

EFI_STATUS Firmware::Unsupported(const char* member) {
  unsupported_calls_.push_back(member);
  RecordFault(FaultKind::kUnsupportedService, member, "");
  return EFI_UNSUPPORTED;
}

// ---- Variables ----------------------------------------------------------------------

namespace {
std::u16string Str16(const CHAR16* s) {
  std::u16string out;
  while (*s != 0) out.push_back(*s++);
  return out;
}
}  // namespace

// Size 0 deletes, as the runtime service does.
EFI_STATUS Firmware::SetVariable(const CHAR16* name, const EFI_GUID& guid, uint32_t attributes, const void* data,
                                 size_t size) {
  if (name == nullptr || name[0] == 0) return EFI_INVALID_PARAMETER;
  if (size != 0 && data == nullptr) return EFI_INVALID_PARAMETER;
  std::u16string key = Str16(name);
  for (size_t i = 0; i < variables_.size(); ++i) {
    if (variables_[i].name == key && SameGuid(variables_[i].guid, guid)) {
      if (size == 0) {
        variables_.erase(variables_.begin() + i);
        return EFI_SUCCESS;
      }
      variables_[i].attributes = attributes;
      variables_[i].data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
      return EFI_SUCCESS;
    }
  }
  if (size == 0) return EFI_NOT_FOUND;
  const auto* bytes = static_cast<const uint8_t*>(data);
  variables_.push_back(Variable{key, guid, attributes, std::vector<uint8_t>(bytes, bytes + size)});
  return EFI_SUCCESS;
}

EFI_STATUS Firmware::GetVariable(const CHAR16* name, const EFI_GUID* guid, uint32_t* attributes, size_t* size,
                                 void* data) const {
  if (name == nullptr || guid == nullptr || size == nullptr) return EFI_INVALID_PARAMETER;
  std::u16string key = Str16(name);
  for (const Variable& v : variables_) {
    if (v.name != key || !SameGuid(v.guid, *guid)) continue;
    if (*size < v.data.size()) {
      *size = v.data.size();
      return EFI_BUFFER_TOO_SMALL;
    }
    if (data == nullptr) return EFI_INVALID_PARAMETER;
    std::copy(v.data.begin(), v.data.end(), static_cast<uint8_t*>(data));
    *size = v.data.size();
    if (attributes != nullptr) *attributes = v.attributes;
    return EFI_SUCCESS;
  }
  return EFI_NOT_FOUND;
}

// ---- Consoles ------------------------------------------------------------------------

std::string Console::Text() const {
  std::string out;
  for (const ConsoleEvent& e : events_) {
    if (e.kind != ConsoleEvent::Kind::kText) continue;
    for (char16_t c : e.text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  }
  return out;
}

// ---- PCI controllers ----------------------------------------------------------------------

EFI_HANDLE Firmware::CreatePciController(PciDevice* device) {
  return CreatePciController(device, PciControllerOptions());
}

EFI_HANDLE Firmware::CreatePciController(PciDevice* device, const PciControllerOptions& options) {
  pci_.push_back(std::make_unique<PciIoStandIn>(this, device, options));
  PciIoStandIn* io = pci_.back().get();
  EFI_HANDLE handle = nullptr;
  InstallOne(&handle, &kEfiDevicePathProtocolGuid, io->device_path(), Site::kTest);
  InstallOne(&handle, &kEfiPciIoProtocolGuid, io->protocol(), Site::kTest);
  io->set_handle(handle);
  return handle;
}

PciIoStandIn* Firmware::PciIoOf(EFI_HANDLE controller) const {
  for (const auto& io : pci_) {
    if (io->handle() == controller) return io.get();
  }
  return nullptr;
}

PciIoStandIn* Firmware::FindPciIo(const EFI_PCI_IO_PROTOCOL* protocol) const {
  for (const auto& io : pci_) {
    if (io->protocol() == protocol) return io.get();
  }
  return nullptr;
}

EFI_PCI_IO_PROTOCOL* Firmware::PciIoProtocolOf(EFI_HANDLE controller) const {
  PciIoStandIn* io = PciIoOf(controller);
  return io != nullptr ? io->protocol() : nullptr;
}

EFI_DEVICE_PATH_PROTOCOL* Firmware::DevicePathOf(EFI_HANDLE controller) const {
  return static_cast<EFI_DEVICE_PATH_PROTOCOL*>(Interface(controller, kEfiDevicePathProtocolGuid));
}

// ---- Names ----------------------------------------------------------------------------------

std::string StatusName(EFI_STATUS status) {
  static const char* const kErrors[] = {
      "EFI_SUCCESS",          "EFI_LOAD_ERROR",         "EFI_INVALID_PARAMETER", "EFI_UNSUPPORTED",
      "EFI_BAD_BUFFER_SIZE",  "EFI_BUFFER_TOO_SMALL",   "EFI_NOT_READY",         "EFI_DEVICE_ERROR",
      "EFI_WRITE_PROTECTED",  "EFI_OUT_OF_RESOURCES",   "EFI_VOLUME_CORRUPTED",  "EFI_VOLUME_FULL",
      "EFI_NO_MEDIA",         "EFI_MEDIA_CHANGED",      "EFI_NOT_FOUND",         "EFI_ACCESS_DENIED",
      "EFI_NO_RESPONSE",      "EFI_NO_MAPPING",         "EFI_TIMEOUT",           "EFI_NOT_STARTED",
      "EFI_ALREADY_STARTED",  "EFI_ABORTED",            "EFI_ICMP_ERROR",        "EFI_TFTP_ERROR",
      "EFI_PROTOCOL_ERROR",   "EFI_INCOMPATIBLE_VERSION", "EFI_SECURITY_VIOLATION", "EFI_CRC_ERROR"};
  if (status == EFI_SUCCESS) return kErrors[0];
  if (EFI_ERROR(status)) {
    uint64_t code = status & ~EFI_ERROR_BIT;
    if (code < sizeof kErrors / sizeof kErrors[0]) return kErrors[code];
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(status));
  return buf;
}

std::string GuidText(const EFI_GUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

}  // namespace sim
