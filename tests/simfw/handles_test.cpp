// Handle database rules, exercised through the Boot Services table as a
// driver would use them.
#include <gtest/gtest.h>

#include "sim/firmware/config_space_device.h"
#include "sim/firmware/firmware.h"

namespace {

constexpr EFI_GUID kGuidA = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr EFI_GUID kGuidB = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 9}};

class HandlesTest : public ::testing::Test {
 protected:
  HandlesTest() : device_(0x1F6B, 0x6B10) {
    controller_ = fw_.CreatePciController(&device_);
    agent_a_ = fw_.CreateImageHandle();
    agent_b_ = fw_.CreateImageHandle();
    bs_ = fw_.BootServices();
  }
  sim::Firmware fw_;
  sim::ConfigSpaceDevice device_;
  EFI_HANDLE controller_;
  EFI_HANDLE agent_a_;
  EFI_HANDLE agent_b_;
  EFI_BOOT_SERVICES* bs_;
  int a_ = 1, b_ = 2;
};

TEST_F(HandlesTest, OpenByDriverIsExclusiveAndCloseIsExact) {
  void* pci = nullptr;
  EXPECT_EQ(EFI_SUCCESS, bs_->OpenProtocol(controller_, &kEfiPciIoProtocolGuid, &pci, agent_a_, controller_,
                                           EFI_OPEN_PROTOCOL_BY_DRIVER));
  EXPECT_EQ(fw_.PciIoProtocolOf(controller_), pci);

  void* again = nullptr;
  EXPECT_EQ(EFI_ALREADY_STARTED, bs_->OpenProtocol(controller_, &kEfiPciIoProtocolGuid, &again, agent_a_,
                                                   controller_, EFI_OPEN_PROTOCOL_BY_DRIVER));
  EXPECT_EQ(pci, again);
  EXPECT_EQ(EFI_ACCESS_DENIED, bs_->OpenProtocol(controller_, &kEfiPciIoProtocolGuid, &again, agent_b_,
                                                 controller_, EFI_OPEN_PROTOCOL_BY_DRIVER));
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(EFI_SUCCESS, bs_->OpenProtocol(controller_, &kEfiPciIoProtocolGuid, &again, agent_b_, controller_,
                                             EFI_OPEN_PROTOCOL_GET_PROTOCOL));
  }

  EFI_OPEN_PROTOCOL_INFORMATION_ENTRY* info = nullptr;
  UINTN count = 0;
  ASSERT_EQ(EFI_SUCCESS, bs_->OpenProtocolInformation(controller_, &kEfiPciIoProtocolGuid, &info, &count));
  ASSERT_EQ(2u, count);
  EXPECT_EQ(agent_a_, info[0].AgentHandle);
  EXPECT_EQ(EFI_OPEN_PROTOCOL_BY_DRIVER, info[0].Attributes);
  EXPECT_EQ(1u, info[0].OpenCount);
  EXPECT_EQ(agent_b_, info[1].AgentHandle);
  EXPECT_EQ(2u, info[1].OpenCount);
  EXPECT_EQ(EFI_SUCCESS, bs_->FreePool(info));

  EXPECT_EQ(EFI_SUCCESS, bs_->CloseProtocol(controller_, &kEfiPciIoProtocolGuid, agent_a_, controller_));
  EXPECT_EQ(EFI_NOT_FOUND, bs_->CloseProtocol(controller_, &kEfiPciIoProtocolGuid, agent_a_, controller_));
  EXPECT_EQ(EFI_NOT_FOUND, bs_->CloseProtocol(controller_, &kGuidA, agent_a_, controller_));
  EXPECT_EQ(EFI_SUCCESS, bs_->OpenProtocol(controller_, &kEfiPciIoProtocolGuid, &again, agent_b_, controller_,
                                           EFI_OPEN_PROTOCOL_BY_DRIVER));
}

TEST_F(HandlesTest, OpenAttributesAndMissingProtocols) {
  EXPECT_EQ(EFI_SUCCESS, bs_->OpenProtocol(controller_, &kEfiPciIoProtocolGuid, nullptr, agent_a_, controller_,
                                           EFI_OPEN_PROTOCOL_TEST_PROTOCOL));
  EXPECT_TRUE(fw_.OpenInfo(controller_, kEfiPciIoProtocolGuid).empty());

  void* p = &a_;
  EXPECT_EQ(EFI_UNSUPPORTED,
            bs_->OpenProtocol(controller_, &kGuidA, &p, agent_a_, controller_, EFI_OPEN_PROTOCOL_GET_PROTOCOL));
  EXPECT_EQ(nullptr, p);
  EXPECT_EQ(EFI_INVALID_PARAMETER, bs_->OpenProtocol(controller_, &kEfiPciIoProtocolGuid, nullptr, agent_a_,
                                                     controller_, EFI_OPEN_PROTOCOL_GET_PROTOCOL));
  EXPECT_EQ(EFI_INVALID_PARAMETER, bs_->OpenProtocol(controller_, &kEfiPciIoProtocolGuid, &p, nullptr,
                                                     controller_, EFI_OPEN_PROTOCOL_BY_DRIVER));
  EXPECT_EQ(EFI_INVALID_PARAMETER,
            bs_->OpenProtocol(&a_, &kEfiPciIoProtocolGuid, &p, agent_a_, controller_, EFI_OPEN_PROTOCOL_GET_PROTOCOL));

  // HandleProtocol is an open by the firmware itself.
  EXPECT_EQ(EFI_SUCCESS, bs_->HandleProtocol(controller_, &kEfiDevicePathProtocolGuid, &p));
  auto info = fw_.OpenInfo(controller_, kEfiDevicePathProtocolGuid);
  ASSERT_EQ(1u, info.size());
  EXPECT_EQ(fw_.CoreImageHandle(), info[0].AgentHandle);
  EXPECT_EQ(EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL, info[0].Attributes);
}

TEST_F(HandlesTest, InstallMultipleIsAllOrNothing) {
  EFI_HANDLE handle = nullptr;
  EXPECT_EQ(EFI_INVALID_PARAMETER,
            bs_->InstallMultipleProtocolInterfaces(&handle, &kGuidA, &a_, &kGuidA, &b_, nullptr));
  EXPECT_EQ(nullptr, handle);
  EXPECT_TRUE(fw_.Handles(&kGuidA).empty());

  ASSERT_EQ(EFI_SUCCESS, bs_->InstallProtocolInterface(&handle, &kGuidB, EFI_NATIVE_INTERFACE, &b_));
  EFI_HANDLE same = handle;
  EXPECT_EQ(EFI_INVALID_PARAMETER,
            bs_->InstallMultipleProtocolInterfaces(&handle, &kGuidA, &a_, &kGuidB, &b_, nullptr));
  EXPECT_EQ(same, handle);
  EXPECT_FALSE(fw_.HasProtocol(handle, kGuidA));

  // A device path already in the database.
  EFI_HANDLE other = nullptr;
  EXPECT_EQ(EFI_ALREADY_STARTED, bs_->InstallMultipleProtocolInterfaces(&other, &kGuidA, &a_, &kEfiDevicePathProtocolGuid,
                                                                        fw_.DevicePathOf(controller_), nullptr));
  EXPECT_EQ(nullptr, other);
  EXPECT_TRUE(fw_.Handles(&kGuidA).empty());

  EXPECT_EQ(EFI_SUCCESS, bs_->InstallMultipleProtocolInterfaces(&handle, &kGuidA, &a_, nullptr));
  EXPECT_EQ(&a_, fw_.Interface(handle, kGuidA));
  EXPECT_EQ(2u, fw_.Leaks(handle, nullptr).interfaces);
}

TEST_F(HandlesTest, UninstallRefusedWhileHeldByDriverAndHandleGoesWithLastProtocol) {
  EFI_HANDLE handle = nullptr;
  ASSERT_EQ(EFI_SUCCESS, bs_->InstallMultipleProtocolInterfaces(&handle, &kGuidA, &a_, &kGuidB, &b_, nullptr));
  void* p = nullptr;
  ASSERT_EQ(EFI_SUCCESS, bs_->OpenProtocol(handle, &kGuidA, &p, agent_a_, handle, EFI_OPEN_PROTOCOL_BY_DRIVER));
  ASSERT_EQ(EFI_SUCCESS, bs_->OpenProtocol(handle, &kGuidB, &p, agent_b_, handle, EFI_OPEN_PROTOCOL_GET_PROTOCOL));

  // agent_a_ has no Driver Binding to stop, so it keeps the interface.
  EXPECT_EQ(EFI_ACCESS_DENIED, bs_->UninstallProtocolInterface(handle, &kGuidA, &a_));
  EXPECT_TRUE(fw_.HasProtocol(handle, kGuidA));
  EXPECT_EQ(EFI_NOT_FOUND, bs_->UninstallProtocolInterface(handle, &kGuidA, &b_));
  EXPECT_EQ(EFI_INVALID_PARAMETER, bs_->UninstallMultipleProtocolInterfaces(handle, &kGuidB, &b_, &kGuidA, &a_, nullptr));
  EXPECT_TRUE(fw_.HasProtocol(handle, kGuidB));  // put back

  // A GET_PROTOCOL open does not hold an interface.
  EXPECT_EQ(EFI_SUCCESS, bs_->UninstallProtocolInterface(handle, &kGuidB, &b_));
  ASSERT_EQ(EFI_SUCCESS, bs_->CloseProtocol(handle, &kGuidA, agent_a_, handle));
  EXPECT_EQ(EFI_SUCCESS, bs_->UninstallProtocolInterface(handle, &kGuidA, &a_));
  EXPECT_FALSE(fw_.IsHandle(handle));
  EXPECT_EQ(EFI_INVALID_PARAMETER, bs_->HandleProtocol(handle, &kGuidA, &p));
  EXPECT_EQ(EFI_INVALID_PARAMETER, bs_->InstallProtocolInterface(&handle, &kGuidA, EFI_NATIVE_INTERFACE, &a_));
}

TEST_F(HandlesTest, LocateServices) {
  void* p = nullptr;
  EXPECT_EQ(EFI_NOT_FOUND, bs_->LocateProtocol(&kGuidA, nullptr, &p));
  EFI_HANDLE h1 = nullptr, h2 = nullptr;
  fw_.InstallProtocol(&h1, kGuidA, &a_);
  fw_.InstallProtocol(&h2, kGuidA, &b_);
  EXPECT_EQ(EFI_SUCCESS, bs_->LocateProtocol(&kGuidA, nullptr, &p));
  EXPECT_EQ(&a_, p);

  UINTN size = 0;
  EXPECT_EQ(EFI_BUFFER_TOO_SMALL, bs_->LocateHandle(ByProtocol, &kGuidA, nullptr, &size, nullptr));
  EXPECT_EQ(2 * sizeof(EFI_HANDLE), size);
  EFI_HANDLE found[2] = {};
  EXPECT_EQ(EFI_SUCCESS, bs_->LocateHandle(ByProtocol, &kGuidA, nullptr, &size, found));
  EXPECT_EQ(h1, found[0]);
  EXPECT_EQ(h2, found[1]);
  EXPECT_EQ(EFI_NOT_FOUND, bs_->LocateHandle(ByProtocol, &kGuidB, nullptr, &size, found));

  UINTN n = 0;
  EFI_HANDLE* buffer = nullptr;
  ASSERT_EQ(EFI_SUCCESS, bs_->LocateHandleBuffer(ByProtocol, &kEfiPciIoProtocolGuid, nullptr, &n, &buffer));
  ASSERT_EQ(1u, n);
  EXPECT_EQ(controller_, buffer[0]);
  EXPECT_EQ(1u, fw_.OutstandingBlocks(sim::Site::kDriver));
  EXPECT_EQ(EFI_SUCCESS, bs_->FreePool(buffer));

  // The controller's device path: ACPI PNP0A03, PCI node, end.
  auto* path = fw_.DevicePathOf(controller_);
  const auto* bytes = reinterpret_cast<const uint8_t*>(path);
  EXPECT_EQ(ACPI_DEVICE_PATH, bytes[0]);
  EXPECT_EQ(0x0A0341D0u, reinterpret_cast<const ACPI_HID_DEVICE_PATH*>(path)->HID);
  EXPECT_EQ(HARDWARE_DEVICE_PATH, bytes[12]);
  EXPECT_EQ(HW_PCI_DP, bytes[13]);
  EXPECT_EQ(END_DEVICE_PATH_TYPE, bytes[18]);
  EFI_DEVICE_PATH_PROTOCOL* probe = path;
  EFI_HANDLE device = nullptr;
  EXPECT_EQ(EFI_SUCCESS, bs_->LocateDevicePath(&kEfiPciIoProtocolGuid, &probe, &device));
  EXPECT_EQ(controller_, device);
  EXPECT_EQ(END_DEVICE_PATH_TYPE, probe->Type);
}

TEST(ConsoleAndVariables, CaptureAndSizes) {
  sim::Firmware fw;
  EFI_SYSTEM_TABLE* st = fw.SystemTable();
  ASSERT_EQ(fw.BootServices(), st->BootServices);
  st->StdErr->SetAttribute(st->StdErr, EFI_RED);
  st->StdErr->OutputString(st->StdErr, u"bad\r\n");
  st->StdErr->SetAttribute(st->StdErr, EFI_WHITE);
  st->ConOut->OutputString(st->ConOut, u"hello");
  EXPECT_EQ("bad\r\n", fw.StdErr().Text());
  EXPECT_EQ("hello", fw.ConOut().Text());
  const auto& ev = fw.StdErr().events();
  ASSERT_EQ(3u, ev.size());
  EXPECT_EQ(sim::ConsoleEvent::Kind::kAttribute, ev[0].kind);
  EXPECT_EQ(static_cast<uint64_t>(EFI_RED), ev[0].value);
  EXPECT_EQ(sim::ConsoleEvent::Kind::kText, ev[1].kind);
  EXPECT_EQ(static_cast<uint64_t>(EFI_WHITE), ev[2].value);
  EFI_INPUT_KEY key;
  EXPECT_EQ(EFI_NOT_READY, st->ConIn->ReadKeyStroke(st->ConIn, &key));

  uint64_t mask = 0x80000040;
  fw.SetVariable(u"EFIDebug", kEfiGlobalVariableGuid, EFI_VARIABLE_BOOTSERVICE_ACCESS, &mask, sizeof mask);
  uint8_t small[4];
  UINTN size = sizeof small;
  EXPECT_EQ(EFI_BUFFER_TOO_SMALL, st->RuntimeServices->GetVariable(u"EFIDebug", &kEfiGlobalVariableGuid, nullptr,
                                                                   &size, small));
  EXPECT_EQ(8u, size);
  uint64_t got = 0;
  UINT32 attributes = 0;
  EXPECT_EQ(EFI_SUCCESS, st->RuntimeServices->GetVariable(u"EFIDebug", &kEfiGlobalVariableGuid, &attributes, &size, &got));
  EXPECT_EQ(mask, got);
  EXPECT_EQ(EFI_VARIABLE_BOOTSERVICE_ACCESS, attributes);
  EXPECT_EQ(EFI_NOT_FOUND, st->RuntimeServices->GetVariable(u"EFIDebug", &kGuidA, nullptr, &size, &got));
}

}  // namespace
