// ConnectController / DisconnectController over test drivers that behave
// like a PCI driver: Supported opens PCI I/O BY_DRIVER and closes it again,
// Start keeps it open, Stop closes it.
#include <gtest/gtest.h>

#include <vector>

#include "sim/firmware/config_space_device.h"
#include "sim/firmware/firmware.h"

namespace {

struct TestDriver {
  EFI_DRIVER_BINDING_PROTOCOL binding;  // first: This -> TestDriver
  bool supports = true;
  EFI_STATUS start_status = EFI_SUCCESS;
  std::vector<char>* log = nullptr;
  char tag = '?';

  static TestDriver* From(EFI_DRIVER_BINDING_PROTOCOL* This) { return reinterpret_cast<TestDriver*>(This); }

  static EFI_STATUS EFIAPI Supported(EFI_DRIVER_BINDING_PROTOCOL* This, EFI_HANDLE controller,
                                     EFI_DEVICE_PATH_PROTOCOL*) {
    TestDriver* d = From(This);
    d->log->push_back(d->tag);
    EFI_BOOT_SERVICES* bs = sim::Firmware::Current().BootServices();
    void* pci = nullptr;
    EFI_STATUS s = bs->OpenProtocol(controller, &kEfiPciIoProtocolGuid, &pci, This->DriverBindingHandle, controller,
                                    EFI_OPEN_PROTOCOL_BY_DRIVER);
    if (EFI_ERROR(s)) return s;
    bs->CloseProtocol(controller, &kEfiPciIoProtocolGuid, This->DriverBindingHandle, controller);
    return d->supports ? EFI_SUCCESS : EFI_UNSUPPORTED;
  }
  static EFI_STATUS EFIAPI Start(EFI_DRIVER_BINDING_PROTOCOL* This, EFI_HANDLE controller,
                                 EFI_DEVICE_PATH_PROTOCOL*) {
    TestDriver* d = From(This);
    if (EFI_ERROR(d->start_status)) return d->start_status;
    void* pci = nullptr;
    return sim::Firmware::Current().BootServices()->OpenProtocol(
        controller, &kEfiPciIoProtocolGuid, &pci, This->DriverBindingHandle, controller, EFI_OPEN_PROTOCOL_BY_DRIVER);
  }
  static EFI_STATUS EFIAPI Stop(EFI_DRIVER_BINDING_PROTOCOL* This, EFI_HANDLE controller, UINTN, EFI_HANDLE*) {
    return sim::Firmware::Current().BootServices()->CloseProtocol(controller, &kEfiPciIoProtocolGuid,
                                                                  This->DriverBindingHandle, controller);
  }

  void Install(sim::Firmware& fw, UINT32 version, char name, std::vector<char>* calls) {
    binding = {Supported, Start, Stop, version, nullptr, nullptr};
    tag = name;
    log = calls;
    EFI_HANDLE image = fw.CreateImageHandle();
    binding.ImageHandle = image;
    binding.DriverBindingHandle = image;
    ASSERT_EQ(EFI_SUCCESS, fw.InstallProtocol(&image, kEfiDriverBindingProtocolGuid, &binding));
  }
};

class BindingTest : public ::testing::Test {
 protected:
  BindingTest() : device_(0x1F6B, 0x6B10) { controller_ = fw_.CreatePciController(&device_); }
  sim::Firmware fw_;
  sim::ConfigSpaceDevice device_;
  EFI_HANDLE controller_;
  std::vector<char> calls_;
};

TEST_F(BindingTest, ConnectOffersTheControllerByDescendingVersion) {
  TestDriver low, high, mid;
  low.Install(fw_, 0x10, 'l', &calls_);
  high.Install(fw_, 0x30, 'h', &calls_);
  mid.Install(fw_, 0x20, 'm', &calls_);
  high.supports = false;

  EXPECT_EQ(EFI_SUCCESS, fw_.Connect(controller_));
  // h declines, m starts; then the search runs again over the rest and l
  // finds the controller taken.
  EXPECT_EQ((std::vector<char>{'h', 'm', 'h', 'l'}), calls_);
  auto info = fw_.OpenInfo(controller_, kEfiPciIoProtocolGuid);
  ASSERT_EQ(1u, info.size());
  EXPECT_EQ(mid.binding.DriverBindingHandle, info[0].AgentHandle);

  const auto& record = fw_.binding_calls();
  ASSERT_GE(record.size(), 2u);
  EXPECT_EQ(sim::BindingCall::Kind::kStart, record[2].kind);
  EXPECT_EQ(EFI_SUCCESS, record[2].status);

  EXPECT_EQ(EFI_SUCCESS, fw_.Disconnect(controller_));
  EXPECT_EQ(sim::BindingCall::Kind::kStop, fw_.binding_calls().back().kind);
  EXPECT_TRUE(fw_.OpenInfo(controller_, kEfiPciIoProtocolGuid).empty());
  EXPECT_TRUE(fw_.Leaks(controller_, mid.binding.DriverBindingHandle).clean());
}

TEST_F(BindingTest, ConnectWithoutTakersAndTableEntryPoints) {
  TestDriver d;
  d.Install(fw_, 1, 'd', &calls_);
  d.start_status = EFI_DEVICE_ERROR;
  EFI_BOOT_SERVICES* bs = fw_.BootServices();
  EXPECT_EQ(EFI_NOT_FOUND, bs->ConnectController(controller_, nullptr, nullptr, 0));
  EXPECT_EQ(EFI_DEVICE_ERROR, fw_.binding_calls().back().status);

  d.start_status = EFI_SUCCESS;
  EXPECT_EQ(EFI_SUCCESS, bs->ConnectController(controller_, nullptr, nullptr, 0));
  EXPECT_EQ(EFI_SUCCESS, bs->DisconnectController(controller_, nullptr, nullptr));
  EXPECT_EQ(EFI_INVALID_PARAMETER, bs->ConnectController(nullptr, nullptr, nullptr, 0));
}

TEST_F(BindingTest, UninstallStopsTheDriverHoldingTheInterface) {
  TestDriver d;
  d.Install(fw_, 1, 'd', &calls_);
  ASSERT_EQ(EFI_SUCCESS, fw_.Connect(controller_));
  EFI_STATUS s = fw_.BootServices()->UninstallProtocolInterface(controller_, &kEfiPciIoProtocolGuid,
                                                                fw_.PciIoProtocolOf(controller_));
  EXPECT_EQ(EFI_SUCCESS, s);
  EXPECT_EQ(sim::BindingCall::Kind::kStop, fw_.binding_calls().back().kind);
  EXPECT_FALSE(fw_.HasProtocol(controller_, kEfiPciIoProtocolGuid));
}

}  // namespace
