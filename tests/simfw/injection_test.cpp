// Failure injection counts table calls only, from the last reset.
#include <gtest/gtest.h>

#include <memory>

#include "sim/firmware/config_space_device.h"
#include "sim/firmware/firmware.h"

namespace {

TEST(Injection, NthCallFailsAndOnlyTableCallsCount) {
  sim::Firmware fw;
  EFI_BOOT_SERVICES* bs = fw.BootServices();
  void* p[4] = {};
  ASSERT_EQ(EFI_SUCCESS, bs->AllocatePool(EfiBootServicesData, 8, &p[0]));  // before the reset
  fw.FailCall("AllocatePool", 2, EFI_OUT_OF_RESOURCES);
  fw.ResetCallCounts();
  void* test_side = fw.Allocate(8);  // C++ API: not counted
  ASSERT_NE(nullptr, test_side);
  EXPECT_EQ(EFI_SUCCESS, bs->AllocatePool(EfiBootServicesData, 8, &p[1]));
  p[2] = &fw;
  EXPECT_EQ(EFI_OUT_OF_RESOURCES, bs->AllocatePool(EfiBootServicesData, 8, &p[2]));
  EXPECT_EQ(&fw, p[2]);  // nothing done
  EXPECT_EQ(EFI_SUCCESS, bs->AllocatePool(EfiBootServicesData, 8, &p[3]));
  EXPECT_EQ(3u, fw.CallCount("AllocatePool"));
  ASSERT_EQ(1u, fw.injections_fired().size());
  EXPECT_EQ(2u, fw.injections_fired()[0].call);

  fw.ClearFailures();
  fw.FailCallsFrom("FreePool", 2, EFI_DEVICE_ERROR);
  EXPECT_EQ(EFI_SUCCESS, bs->FreePool(p[0]));
  EXPECT_EQ(EFI_DEVICE_ERROR, bs->FreePool(p[1]));
  EXPECT_EQ(EFI_DEVICE_ERROR, bs->FreePool(p[3]));
  fw.ClearFailures();
  EXPECT_EQ(EFI_SUCCESS, bs->FreePool(p[1]));
  EXPECT_EQ(EFI_SUCCESS, bs->FreePool(p[3]));
  fw.FreePool(test_side);
}

TEST(Injection, PciIoMembersAndUnsupportedServices) {
  sim::Firmware fw;
  sim::ConfigSpaceDevice device(0x1F6B, 0x6B11);
  EFI_HANDLE controller = fw.CreatePciController(&device);
  EFI_PCI_IO_PROTOCOL* pci = fw.PciIoProtocolOf(controller);
  fw.FailCall("Pci.Read", 1, EFI_DEVICE_ERROR);
  UINT32 id = 0;
  EXPECT_EQ(EFI_DEVICE_ERROR, pci->Pci.Read(pci, EfiPciIoWidthUint32, 0, 1, &id));
  EXPECT_TRUE(device.calls().empty());
  EXPECT_EQ(EFI_SUCCESS, pci->Pci.Read(pci, EfiPciIoWidthUint32, 0, 1, &id));
  EXPECT_EQ(0x6B111F6Bu, id);
  EXPECT_EQ(2u, fw.CallCount("Pci.Read"));
  EXPECT_EQ(2u, fw.PciIoOf(controller)->calls("Pci.Read"));

  EXPECT_EQ(EFI_UNSUPPORTED, pci->Io.Read(pci, EfiPciIoWidthUint8, 1, 0, 1, &id));
  EFI_HANDLE image = nullptr;
  EXPECT_EQ(EFI_UNSUPPORTED, fw.BootServices()->LoadImage(0, nullptr, nullptr, nullptr, 0, &image));
  ASSERT_EQ(2u, fw.unsupported_calls().size());
  EXPECT_EQ("Io.Read", fw.unsupported_calls()[0]);
  EXPECT_EQ("LoadImage", fw.unsupported_calls()[1]);
  EXPECT_EQ(2u, fw.FaultCount(sim::FaultKind::kUnsupportedService));
}

}  // namespace

namespace {

TEST(Current, NewestLiveFirmwareServesWhateverOrderTheyDieIn) {
  auto a = std::make_unique<sim::Firmware>();
  auto b = std::make_unique<sim::Firmware>();
  EXPECT_EQ(b.get(), &sim::Firmware::Current());
  auto c = std::make_unique<sim::Firmware>();
  c.reset();
  EXPECT_EQ(b.get(), &sim::Firmware::Current());
  b.reset();
  EXPECT_EQ(a.get(), &sim::Firmware::Current());
  auto d = std::make_unique<sim::Firmware>();
  a.reset();
  EXPECT_EQ(d.get(), &sim::Firmware::Current());
}

}  // namespace
