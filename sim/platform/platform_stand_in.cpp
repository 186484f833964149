#include "sim/platform/platform_stand_in.h"

#include <cstring>


namespace simplatform {
namespace {

bool SameKey(const EFI_GUID& a, const EFI_GUID& b) { return std::memcmp(&a, &b, sizeof(EFI_GUID)) == 0; }

}  // namespace

std::string Utf8FromChar16(const CHAR16* text) {
  std::string out;
  if (text == nullptr) {
    return out;
  }
  for (size_t i = 0; i < 1024 && text[i] != 0; i++) {
    uint32_t c = text[i];
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

PlatformStandIn::PlatformStandIn() {
  sink_.ctx = this;
  sink_.property = &OnProperty;
  sink_.register_adapter = &OnRegister;
  sink_.get_value = &OnGetValue;
  sink_.unexpected = &OnUnexpected;
  InitPropertyDatabase(&database_, &sink_);
  InitPlatformServices(&services_, &sink_);
}

void PlatformStandIn::SetValue(const EFI_GUID& key, uint32_t value) {
  for (auto& entry : values_) {
    if (SameKey(entry.first, key)) {
      entry.second = value;
      return;
    }
  }
  values_.emplace_back(key, value);
}

const PropertyRecord* PlatformStandIn::Find(const std::string& name, const std::optional<std::string>& node) const {
  for (auto it = properties_.rbegin(); it != properties_.rend(); ++it) {
    if (it->name == name && it->node == node) {
      return &*it;
    }
  }
  return nullptr;
}

void PlatformStandIn::ClearRecords() {
  properties_.clear();
  registrations_.clear();
  value_requests_.clear();
  unexpected_.clear();
}

void PlatformStandIn::OnProperty(void* ctx, const EFI_DEVICE_PATH_PROTOCOL* device_path, const CHAR16* node,
                                 const CHAR16* name, const void* value, uint64_t size) {
  auto* self = static_cast<PlatformStandIn*>(ctx);
  PropertyRecord record;
  record.device_path = device_path;
  if (node != nullptr) {
    record.node = Utf8FromChar16(node);
  }
  record.name = Utf8FromChar16(name);
  record.size = size;
  record.value_null = value == nullptr;
  if (value != nullptr) {
    const uint8_t* bytes = static_cast<const uint8_t*>(value);
    record.value.assign(bytes, bytes + size);
  }
  self->properties_.push_back(std::move(record));
}

void PlatformStandIn::OnRegister(void* ctx, uint16_t vendor_id, uint16_t device_id, EFI_HANDLE controller) {
  static_cast<PlatformStandIn*>(ctx)->registrations_.push_back({vendor_id, device_id, controller});
}

bool PlatformStandIn::OnGetValue(void* ctx, const EFI_GUID* key, uint64_t size, uint32_t* value) {
  auto* self = static_cast<PlatformStandIn*>(ctx);
  for (const auto& entry : self->values_) {
    if (SameKey(entry.first, *key)) {
      *value = entry.second;
      self->value_requests_.push_back({*key, size, true});
      return true;
    }
  }
  self->value_requests_.push_back({*key, size, false});
  return false;
}

void PlatformStandIn::OnUnexpected(void* ctx, const char* protocol, unsigned member) {
  static_cast<PlatformStandIn*>(ctx)->unexpected_.push_back({protocol, member});
}

}  // namespace simplatform
