// Host recording layer over the platform stand-ins: every property the
// driver adds (database and display nodes, in call order), every
// RegisterAdapter and GetValue call, and every call of a member the driver
// must not use. GetValue answers from a key -> 32-bit value table; an
// unlisted key leaves the buffer untouched and returns EFI_NOT_FOUND.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/platform/platform_core.h"

namespace sim {
class Firmware;
}

namespace simplatform {

struct PropertyRecord {
  const EFI_DEVICE_PATH_PROTOCOL* device_path;
  std::optional<std::string> node;  // nullopt: the adapter-wide database
  std::string name;                 // UTF-8
  std::vector<uint8_t> value;       // Size bytes (empty when Value was null)
  uint64_t size;                    // as passed
  bool value_null;
};

struct RegisterRecord {
  uint16_t vendor_id;
  uint16_t device_id;
  EFI_HANDLE controller;
};

struct ValueRequest {
  EFI_GUID key;
  uint64_t size;  // *Size on entry
  bool answered;
};

struct UnexpectedCall {
  std::string protocol;  // "database" or "services"
  unsigned member;
};

class PlatformStandIn {
 public:
  PlatformStandIn();
  PlatformStandIn(const PlatformStandIn&) = delete;
  PlatformStandIn& operator=(const PlatformStandIn&) = delete;

  DEVICE_PROPERTY_DATABASE_PROTOCOL* database() { return &database_.protocol; }
  PLATFORM_SERVICES_PROTOCOL* services() { return &services_.protocol; }

  // Installs the chosen protocols on a handle of their own, where
  // LocateProtocol finds them; installed as the test's, so they are not
  // counted as the driver's calls or leaks. Leaving one out models a
  // platform without it.
  EFI_STATUS Install(sim::Firmware& firmware, bool database, bool services);
  EFI_STATUS Uninstall(sim::Firmware& firmware);
  EFI_HANDLE handle() const { return handle_; }

  void SetValue(const EFI_GUID& key, uint32_t value);
  void ClearValues() { values_.clear(); }

  const std::vector<PropertyRecord>& properties() const { return properties_; }
  // The last record with this name on node (nullopt: the database), or null.
  const PropertyRecord* Find(const std::string& name, const std::optional<std::string>& node = std::nullopt) const;
  const std::vector<RegisterRecord>& registrations() const { return registrations_; }
  const std::vector<ValueRequest>& value_requests() const { return value_requests_; }
  const std::vector<UnexpectedCall>& unexpected_calls() const { return unexpected_; }
  void ClearRecords();

 private:
  static void OnProperty(void* ctx, const EFI_DEVICE_PATH_PROTOCOL* device_path, const CHAR16* node,
                         const CHAR16* name, const void* value, uint64_t size);
  static void OnRegister(void* ctx, uint16_t vendor_id, uint16_t device_id, EFI_HANDLE controller);
  static bool OnGetValue(void* ctx, const EFI_GUID* key, uint64_t size, uint32_t* value);
  static void OnUnexpected(void* ctx, const char* protocol, unsigned member);

  Sink sink_;
  PropertyDatabase database_;
  PlatformServices services_;
  EFI_HANDLE handle_ = nullptr;
  bool database_installed_ = false;
  bool services_installed_ = false;
  std::vector<std::pair<EFI_GUID, uint32_t>> values_;
  std::vector<PropertyRecord> properties_;
  std::vector<RegisterRecord> registrations_;
  std::vector<ValueRequest> value_requests_;
  std::vector<UnexpectedCall> unexpected_;
};

// CHAR16 text (UCS-2) as UTF-8; stops at the terminator or after 1024 units.
std::string Utf8FromChar16(const CHAR16* text);

// "91BD12FE-F6C3-44FB-A5B7-5122AB303AE0" (either case) as an EFI_GUID;
// false when malformed.
bool ParseGuid(const std::string& text, EFI_GUID* guid);

}  // namespace simplatform
