// The driver loaded into the host firmware with the platform stand-ins,
// started by ConnectController on a model adapter with monitors plugged in,
// and driven through the two interfaces found on the controller.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/core/context.h"
#include "efi/efi_guids.h"
#include "sim/adapter/kt270_pci_device.h"
#include "sim/edid/edid_builder.h"
#include "sim/firmware/firmware.h"
#include "sim/platform/platform_stand_in.h"
#include "tests/support/rig.h"

namespace platform_if {

// Keys written as the platform documents them, parsed here so that a typo
// in the driver's tables cannot agree with one in the tests.
inline EFI_GUID Key(const char* text) {
  EFI_GUID guid{};
  EXPECT_TRUE(simplatform::ParseGuid(text, &guid)) << text;
  return guid;
}

namespace keys {
inline const char kSelectConnector[] = "D2C9944A-0F9D-4649-954F-862C1406F320";
inline const char kPlatformInfo[] = "2AA9D6C6-E6A9-4D10-AFC7-8FA769EA0E74";
inline const char kSavedConfig[] = "EC34D7D5-11E1-4C73-9D8F-E1599D2ECFB6";
inline const char kPanelTiming[] = "A9A835A6-4630-46D7-9384-FD071E476682";
inline const char kTvStandard[] = "D8210070-C890-4859-ADDE-EF9D597D75CC";
inline const char kReserved[] = "1A29214B-42CD-4A64-9356-95D9EB20E90F";
inline const char kRelease[] = "6CCB6605-3070-47F7-9EA6-EA831F3D5B89";
inline const char kFlags[] = "3064B9C1-F0FF-4FA9-8422-6B64CA9F1DE1";
inline const char kEdid[] = "D704179F-F181-4ED9-87F7-770188EAE6B2";
inline const char kLinkLimits[] = "75B69F99-6A24-41E4-A8BE-D5E858C08D76";
inline const char kAnswer[] = "78446974-3201-4F0F-8BD1-96048B7D1004";
}  // namespace keys

inline std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

using Edid = simedid::EdidBuilder;

// 1280 x 1024 at 108 MHz; 1024 x 768 at 65 MHz.
inline Edid Sxga() { return Edid().Detailed(10800, 1280, 408, 48, 112, 1024, 42, 1, 3); }
inline Edid Xga() { return Edid().Detailed(6500, 1024, 320, 24, 136, 768, 38, 3, 6); }

// The shared test rig with the platform stand-ins installed and the driver
// loaded, plus the calls and records these tests use.
class Rig {
 public:
  explicit Rig(uint32_t bar0 = 0xC0000008) : rig_(Options(bar0)) {
    platform_ = &rig_.InstallPlatform(true, true);
    EXPECT_EQ(EFI_SUCCESS, rig_.LoadDriver());
  }

  void Plug(kt270::Connector connector, const Edid& edid) {
    auto monitor = std::make_unique<kt270::HostMonitor>();
    monitor->edid = edid.Build();
    monitor->connector = connector;
    ASSERT_TRUE(rig_.Plug(*monitor));
    monitors_.push_back(std::move(monitor));
  }
  const std::vector<uint8_t>& PluggedEdid(size_t index) const { return monitors_[index]->edid; }

  EFI_STATUS Connect() { return rig_.Connect(); }

  sim::Firmware& fw() { return rig_.fw(); }
  simplatform::PlatformStandIn& platform() { return *platform_; }
  const simplatform::PlatformStandIn& platform() const { return *platform_; }
  kt270::Adapter& adapter() { return rig_.adapter(); }
  EFI_HANDLE controller() const { return rig_.controller(); }
  EFI_HANDLE image() const { return rig_.image(); }
  sim::LeakReport Leaks() const { return rig_.Leaks(); }

  QUOVAN_CONFIG_INTERFACE* config() {
    return static_cast<QUOVAN_CONFIG_INTERFACE*>(fw().Interface(controller(), kConfigInterfaceGuid));
  }
  QUOVAN_DISPLAY_INTERFACE* display() {
    return static_cast<QUOVAN_DISPLAY_INTERFACE*>(fw().Interface(controller(), kDisplayInterfaceGuid));
  }
  EFI_UGA_DRAW_PROTOCOL* uga() { return rig_.uga_draw(); }
  // For state the interfaces do not report, and for a test connector table.
  ADAPTER_CONTEXT* context() { return ContextFromDisplayInterface(display(), "test", 0); }

  EFI_STATUS Set(const char* key, const void* buffer, UINTN size) {
    EFI_GUID guid = Key(key);
    return display()->SetInfo(display(), &guid, const_cast<void*>(buffer), size);
  }
  template <typename T>
  EFI_STATUS SetValue(const char* key, T value) {
    return Set(key, &value, sizeof value);
  }
  EFI_STATUS Get(const char* key, void* buffer, UINTN* size) {
    EFI_GUID guid = Key(key);
    return display()->GetInfo(display(), &guid, buffer, size);
  }
  EFI_STATUS PlatformInfo() {
    uint8_t info[128];
    for (int i = 0; i < 128; ++i) info[i] = static_cast<uint8_t>(i);
    return Set(keys::kPlatformInfo, info, sizeof info);
  }
  EFI_STATUS Select(uint32_t index) { return SetValue(keys::kSelectConnector, index); }

  kt270::Sync Watch(kt270::Connector connector) { return adapter().Watch(connector).sync; }
  std::string Verdict(kt270::Connector connector) {
    kt270::MonitorView v = adapter().Watch(connector);
    const char* sync = v.sync == kt270::Sync::kInSync ? "in sync" : v.sync == kt270::Sync::kNoSignal ? "no signal"
                                                                                                   : "out of range";
    return std::string(sync) + " (" + (v.reason ? v.reason : "") + ")";
  }

  // Display-node and database properties, as recorded.
  const simplatform::PropertyRecord* Node0(const std::string& name) const { return platform().Find(name, "0"); }
  const simplatform::PropertyRecord* Database(const std::string& name) const { return platform().Find(name); }
  std::optional<uint32_t> Node0Value(const std::string& name) const {
    const simplatform::PropertyRecord* p = Node0(name);
    if (p == nullptr || p->value.size() != 4) return std::nullopt;
    uint32_t v;
    std::memcpy(&v, p->value.data(), 4);
    return v;
  }
  // Names written to node "0" since the last ClearRecords, in order.
  std::vector<std::string> Node0Names() const {
    std::vector<std::string> names;
    for (const auto& p : platform().properties()) {
      if (p.node && *p.node == "0") names.push_back(p.name);
    }
    return names;
  }

 private:
  static testsupport::RigOptions Options(uint32_t bar0) {
    testsupport::RigOptions options;
    options.adapter.bar[0] = bar0;
    return options;
  }

  testsupport::Rig rig_;
  simplatform::PlatformStandIn* platform_ = nullptr;
  std::vector<std::unique_ptr<kt270::HostMonitor>> monitors_;
};

}  // namespace platform_if
