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

bool ParseGuid(const std::string& text, EFI_GUID* guid) {
  // 8-4-4-4-12 hex digits; the last two groups are the eight Data4 bytes.
  if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') {
    return false;
  }
  uint8_t digits[16];
  size_t n = 0;
  for (size_t i = 0; i < text.size(); i++) {
    if (i == 8 || i == 13 || i == 18 || i == 23) continue;
    char c = text[i];
    int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (v < 0) return false;
    if (n % 2 == 0) {
      digits[n / 2] = static_cast<uint8_t>(v << 4);
    } else {
      digits[n / 2] |= static_cast<uint8_t>(v);
    }
    n++;
  }
  guid->Data1 = uint32_t{digits[0]} << 24 | uint32_t{digits[1]} << 16 | uint32_t{digits[2]} << 8 | digits[3];
  guid->Data2 = static_cast<uint16_t>(digits[4] << 8 | digits[5]);
  guid->Data3 = static_cast<uint16_t>(digits[6] << 8 | digits[7]);
  for (int i = 0; i < 8; i++) guid->Data4[i] = digits[8 + i];
  return true;
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
