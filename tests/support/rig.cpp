#include "tests/support/rig.h"

#include <cstdio>
#include <cstring>

#include "driver/binding/binding.h"
#include "driver/hw/ddc.h"
#include "driver/lib/driverlib.h"
#include "sim/platform/platform_stand_in.h"

namespace testsupport {

Rig::Rig(const RigOptions& options) : fw_(options.firmware) {
  device_ = std::make_unique<kt270::Kt270PciDevice>(options.adapter, [this] { return fw_.NowUs(); });
  device_->adapter().SetTrace(&kt270::TraceLog::Sink, &trace_);
  controller_ = fw_.CreatePciController(device_.get(), options.pci);
}

Rig::~Rig() {
  if (context_ != nullptr && fw_.IsLiveBlock(context_)) {
    if (fw_.IsLiveEvent(context_->TimerEvent)) fw_.CloseEvent(context_->TimerEvent);
    fw_.FreePool(context_);
  }
  device_->adapter().SetTrace(nullptr, nullptr);
}

EFI_STATUS Rig::LoadDriver() {
  DriverLibResetForHost();
  DdcResetForHost();
  image_ = fw_.CreateImageHandle();
  fw_.ResetCallCounts();
  return DriverEntry(image_, fw_.SystemTable());
}

EFI_DRIVER_BINDING_PROTOCOL* Rig::binding() const {
  if (image_ == nullptr) return nullptr;
  return static_cast<EFI_DRIVER_BINDING_PROTOCOL*>(fw_.Interface(image_, kEfiDriverBindingProtocolGuid));
}

ADAPTER_CONTEXT* Rig::MakeContext() {
  DriverLibResetForHost();
  DdcResetForHost();
  if (image_ == nullptr) image_ = fw_.CreateImageHandle();
  EfiInitializeDriverLib(image_, fw_.SystemTable());

  void* block = nullptr;
  if (fw_.AllocatePool(EfiBootServicesData, sizeof(ADAPTER_CONTEXT), &block) != EFI_SUCCESS) return nullptr;
  std::memset(block, 0, sizeof(ADAPTER_CONTEXT));
  ADAPTER_CONTEXT* c = static_cast<ADAPTER_CONTEXT*>(block);
  c->Signature = ADAPTER_CONTEXT_SIGNATURE;
  c->ControllerHandle = controller_;
  c->PciIo = pci_io();
  c->ParentDevicePath = device_path();
  if (platform_ != nullptr) {
    void* p = nullptr;
    if (fw_.LocateProtocol(&kDevicePropertyDatabaseProtocolGuid, &p) == EFI_SUCCESS) {
      c->HasPropertyDatabase = 1;
      c->PropertyDatabase = static_cast<DEVICE_PROPERTY_DATABASE_PROTOCOL*>(p);
    }
    if (fw_.LocateProtocol(&kPlatformServicesProtocolGuid, &p) == EFI_SUCCESS) {
      c->HasPlatformServices = 1;
      c->PlatformServices = static_cast<PLATFORM_SERVICES_PROTOCOL*>(p);
    }
  }
  fw_.CreateEvent(EVT_TIMER, 0, nullptr, nullptr, &c->TimerEvent);

  c->EngineClock = 45000;
  c->MemoryClock = 40000;
  c->DdcChannel = 1;
  for (unsigned d = 0; d < DISPLAY_SLOTS; ++d) {
    c->OutputChannel[d] = 1;
    c->CrtcIndex[d] = NO_CRTC;
    c->TvUseNtsc[d] = 1;
    c->UseNativeMode[d] = 1;
    c->CurrentMode[d].HorizontalResolution = 800;
    c->CurrentMode[d].VerticalResolution = 600;
    c->CurrentMode[d].ColorDepth = 32;
    c->CurrentMode[d].RefreshRate = 60;
  }
  c->ConnectFlagA = 1;
  c->ConnectFlagB = 1;
  c->InverterDefaultCycle = 255;
  static const UINT32 kPowerSequence[12] = {0, 0, 1, 200, 200, 1, 0, 400, 0, 0, 0, 0};
  std::memcpy(c->PowerSequence, kPowerSequence, sizeof kPowerSequence);

  if (context_ != nullptr && fw_.IsLiveBlock(context_)) {
    if (fw_.IsLiveEvent(context_->TimerEvent)) fw_.CloseEvent(context_->TimerEvent);
    fw_.FreePool(context_);
  }
  context_ = c;
  fw_.ResetCallCounts();
  return c;
}

simplatform::PlatformStandIn& Rig::InstallPlatform(bool database, bool services) {
  if (platform_ == nullptr) platform_ = std::make_unique<simplatform::PlatformStandIn>();
  platform_->Install(fw_, database, services);
  return *platform_;
}

std::vector<kt270::Access> Rig::Since(size_t mark) const {
  const auto& all = trace_.records;
  return std::vector<kt270::Access>(all.begin() + static_cast<std::ptrdiff_t>(mark < all.size() ? mark : all.size()),
                                    all.end());
}

std::vector<kt270::Access> Rig::Select(const std::function<bool(const kt270::Access&)>& keep) const {
  std::vector<kt270::Access> out;
  for (const kt270::Access& a : trace_.records) {
    if (keep(a)) out.push_back(a);
  }
  return out;
}

std::vector<kt270::Access> Rig::Accesses(kt270::Space space, bool write, uint64_t offset) const {
  return Select([&](const kt270::Access& a) { return a.space == space && a.write == write && a.offset == offset; });
}

std::vector<uint64_t> Rig::Writes(kt270::Space space, uint64_t offset) const {
  std::vector<uint64_t> out;
  for (const kt270::Access& a : Accesses(space, true, offset)) out.push_back(a.value);
  return out;
}

size_t Rig::Count(kt270::Space space, bool write) const {
  size_t n = 0;
  for (const kt270::Access& a : trace_.records) n += a.space == space && a.write == write;
  return n;
}

std::string Describe(const kt270::Access& a) {
  static const char* const kSpaces[] = {"config", "bar0", "bar2"};
  char text[96];
  std::snprintf(text, sizeof text, "%c%u %s 0x%04llX = 0x%08llX%s%s", a.write ? 'W' : 'R', a.width * 8,
                kSpaces[static_cast<unsigned>(a.space)], static_cast<unsigned long long>(a.offset),
                static_cast<unsigned long long>(a.value), a.count > 1 ? " (+)" : "", a.ok ? "" : " refused");
  return text;
}

}  // namespace testsupport
