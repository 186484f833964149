// PCI I/O width, count and range rules, and Attributes.
#include <gtest/gtest.h>

#include "sim/firmware/config_space_device.h"
#include "sim/firmware/firmware.h"
#include "sim/firmware/pci_io.h"

namespace {

class PciIoTest : public ::testing::Test {
 protected:
  PciIoTest() : device_(0x1F6B, 0x6B12) {
    device_.SetMemoryBar(0, 0xD0000000, 0x1000);
    device_.SetIoBar(1, 0xC000, 0x100);
    device_.SetMemoryBar(2, 0xD1000000, 0x100);
    controller_ = fw_.CreatePciController(&device_);
    pci_ = fw_.PciIoProtocolOf(controller_);
  }
  sim::Firmware fw_;
  sim::ConfigSpaceDevice device_;
  EFI_HANDLE controller_;
  EFI_PCI_IO_PROTOCOL* pci_;
};

TEST_F(PciIoTest, ConfigurationWidthsCountsAndLimits) {
  UINT8 bytes[4] = {};
  ASSERT_EQ(EFI_SUCCESS, pci_->Pci.Read(pci_, EfiPciIoWidthUint8, 0, 4, bytes));
  EXPECT_EQ(0x6B, bytes[0]);
  EXPECT_EQ(0x1F, bytes[1]);
  EXPECT_EQ(0x12, bytes[2]);
  UINT16 words[2] = {};
  ASSERT_EQ(EFI_SUCCESS, pci_->Pci.Read(pci_, EfiPciIoWidthUint16, 0, 2, words));
  EXPECT_EQ(0x6B12, words[1]);
  ASSERT_EQ(2u, device_.calls().size());  // one device call per member call
  EXPECT_EQ(4u, device_.calls()[0].count);

  UINT32 bar = 0;
  ASSERT_EQ(EFI_SUCCESS, pci_->Pci.Read(pci_, EfiPciIoWidthUint32, 0x10, 1, &bar));
  EXPECT_EQ(0xD0000000u, bar);
  UINT32 all = 0xFFFFFFFF;  // BAR sizing reads back the size mask
  ASSERT_EQ(EFI_SUCCESS, pci_->Pci.Write(pci_, EfiPciIoWidthUint32, 0x10, 1, &all));
  ASSERT_EQ(EFI_SUCCESS, pci_->Pci.Read(pci_, EfiPciIoWidthUint32, 0x10, 1, &bar));
  EXPECT_EQ(0xFFFFF000u, bar);

  UINT16 command = 0x0007;
  ASSERT_EQ(EFI_SUCCESS, pci_->Pci.Write(pci_, EfiPciIoWidthUint16, 0x04, 1, &command));
  EXPECT_EQ(0x0007, device_.command());
  UINT32 id = 0x12345678;
  ASSERT_EQ(EFI_SUCCESS, pci_->Pci.Write(pci_, EfiPciIoWidthUint32, 0, 1, &id));  // read-only
  ASSERT_EQ(EFI_SUCCESS, pci_->Pci.Read(pci_, EfiPciIoWidthUint32, 0, 1, &id));
  EXPECT_EQ(0x6B121F6Bu, id);

  size_t seen = device_.calls().size();
  EXPECT_EQ(EFI_UNSUPPORTED, pci_->Pci.Read(pci_, EfiPciIoWidthUint32, 2, 1, &id));     // misaligned
  EXPECT_EQ(EFI_UNSUPPORTED, pci_->Pci.Read(pci_, EfiPciIoWidthUint32, 0xFC, 2, &id));  // past 256
  EXPECT_EQ(EFI_INVALID_PARAMETER, pci_->Pci.Read(pci_, EfiPciIoWidthMaximum, 0, 1, &id));
  EXPECT_EQ(EFI_INVALID_PARAMETER, pci_->Pci.Read(pci_, EfiPciIoWidthUint32, 0, 1, nullptr));
  EXPECT_EQ(seen, device_.calls().size());
}

TEST_F(PciIoTest, MemoryFifoFillAndBarChecks) {
  UINT32 value = 0xA5A5A5A5;
  ASSERT_EQ(EFI_SUCCESS, pci_->Mem.Write(pci_, EfiPciIoWidthFillUint32, 0, 0x10, 4, &value));
  UINT32 back[4] = {};
  ASSERT_EQ(EFI_SUCCESS, pci_->Mem.Read(pci_, EfiPciIoWidthUint32, 0, 0x10, 4, back));
  for (UINT32 v : back) EXPECT_EQ(0xA5A5A5A5u, v);

  UINT32 fifo[3] = {1, 2, 3};
  ASSERT_EQ(EFI_SUCCESS, pci_->Mem.Write(pci_, EfiPciIoWidthFifoUint32, 2, 0x20, 3, fifo));
  UINT32 reg = 0;
  ASSERT_EQ(EFI_SUCCESS, pci_->Mem.Read(pci_, EfiPciIoWidthUint32, 2, 0x20, 1, &reg));
  EXPECT_EQ(3u, reg);  // the last element lands
  EXPECT_EQ(0u, device_.bar_memory(2)[0x24]);
  UINT32 twice[2] = {};
  ASSERT_EQ(EFI_SUCCESS, pci_->Mem.Read(pci_, EfiPciIoWidthFifoUint32, 2, 0x20, 2, twice));
  EXPECT_EQ(3u, twice[0]);
  EXPECT_EQ(3u, twice[1]);
  const auto& last = device_.calls().back();
  EXPECT_EQ(sim::PciStride::Fifo, last.stride);
  EXPECT_EQ(2u, last.count);

  size_t seen = device_.calls().size();
  EXPECT_EQ(EFI_INVALID_PARAMETER, pci_->Mem.Read(pci_, EfiPciIoWidthUint32, 2, 0xFC, 2, twice));  // past BAR 2
  EXPECT_EQ(EFI_SUCCESS, pci_->Mem.Read(pci_, EfiPciIoWidthFifoUint32, 2, 0xFC, 2, twice));  // FIFO stays inside
  EXPECT_EQ(EFI_INVALID_PARAMETER, pci_->Mem.Read(pci_, EfiPciIoWidthUint32, 1, 0, 1, &reg));    // I/O BAR
  EXPECT_EQ(EFI_INVALID_PARAMETER, pci_->Mem.Read(pci_, EfiPciIoWidthUint32, 6, 0, 1, &reg));
  EXPECT_EQ(EFI_UNSUPPORTED, pci_->Mem.Read(pci_, EfiPciIoWidthUint32, 2, 0x02, 1, &reg));       // misaligned
  EXPECT_EQ(EFI_INVALID_PARAMETER, pci_->Mem.Read(pci_, EfiPciIoWidthUint32, 3, 0, 1, &reg));    // no BAR 3
  EXPECT_EQ(seen + 1, device_.calls().size());
}

TEST_F(PciIoTest, AttributesDriveTheCommandRegister) {
  UINT64 supported = 0;
  ASSERT_EQ(EFI_SUCCESS, pci_->Attributes(pci_, EfiPciIoAttributeOperationSupported, 0, &supported));
  EXPECT_NE(0u, supported & EFI_PCI_IO_ATTRIBUTE_MEMORY);
  ASSERT_EQ(EFI_SUCCESS, pci_->Attributes(pci_, EfiPciIoAttributeOperationEnable,
                                          EFI_PCI_IO_ATTRIBUTE_MEMORY | EFI_PCI_IO_ATTRIBUTE_IO, nullptr));
  EXPECT_EQ(0x0003, device_.command());
  UINT64 now = 0;
  ASSERT_EQ(EFI_SUCCESS, pci_->Attributes(pci_, EfiPciIoAttributeOperationGet, 0, &now));
  EXPECT_EQ(EFI_PCI_IO_ATTRIBUTE_MEMORY | EFI_PCI_IO_ATTRIBUTE_IO, now);
  ASSERT_EQ(EFI_SUCCESS, pci_->Attributes(pci_, EfiPciIoAttributeOperationDisable, EFI_PCI_IO_ATTRIBUTE_IO, nullptr));
  EXPECT_EQ(0x0002, device_.command());
  EXPECT_EQ(EFI_UNSUPPORTED, pci_->Attributes(pci_, EfiPciIoAttributeOperationEnable,
                                              EFI_PCI_IO_ATTRIBUTE_EMBEDDED_ROM, nullptr));
  EXPECT_EQ(EFI_INVALID_PARAMETER, pci_->Attributes(pci_, EfiPciIoAttributeOperationGet, 0, nullptr));

  const auto& calls = fw_.PciIoOf(controller_)->attribute_calls();
  ASSERT_EQ(6u, calls.size());
  EXPECT_EQ(EfiPciIoAttributeOperationEnable, calls[1].operation);
  EXPECT_EQ(EFI_UNSUPPORTED, calls[4].status);

  UINTN seg, bus, dev, fn;
  ASSERT_EQ(EFI_SUCCESS, pci_->GetLocation(pci_, &seg, &bus, &dev, &fn));
  EXPECT_EQ(2u, dev);
}

}  // namespace
