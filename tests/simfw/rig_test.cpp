// The rig over the adapter model: configuration space through the PCI I/O
// stand-in, the model's trace, the driver's load/connect/disconnect cycle
// and a context for unit tests.
#include <gtest/gtest.h>

#include "sim/edid/edid_builder.h"
#include "tests/support/rig.h"

namespace {

TEST(Rig, ModelAnswersThroughPciIoAndTraces) {
  testsupport::Rig rig;
  EFI_PCI_IO_PROTOCOL* pci = rig.pci_io();
  UINT32 id = 0;
  ASSERT_EQ(EFI_SUCCESS, pci->Pci.Read(pci, EfiPciIoWidthUint32, 0, 1, &id));
  EXPECT_EQ(0x1F6Bu, id & 0xFFFF);
  EXPECT_EQ(0x6B10u, id >> 16);
  auto reads = rig.Accesses(kt270::Space::kConfig, false, 0);
  ASSERT_EQ(1u, reads.size());
  EXPECT_EQ(4u, reads[0].width);
  EXPECT_EQ(id, reads[0].value);

  size_t mark = rig.Mark();
  UINT16 command = 0x0002;
  ASSERT_EQ(EFI_SUCCESS, pci->Pci.Write(pci, EfiPciIoWidthUint16, 4, 1, &command));
  ASSERT_EQ(1u, rig.Since(mark).size());
  EXPECT_EQ((std::vector<uint64_t>{0x0002}), rig.ConfigWrites(4));
}

TEST(Rig, DriverLoadsStartsAndStopsCleanly) {
  testsupport::Rig rig;
  ASSERT_EQ(EFI_SUCCESS, rig.LoadDriver());
  ASSERT_NE(nullptr, rig.binding());
  EXPECT_EQ(rig.image(), rig.binding()->DriverBindingHandle);
  ASSERT_EQ(EFI_SUCCESS, rig.Connect());
  EXPECT_NE(nullptr, rig.uga_draw());
  EXPECT_EQ(EFI_SUCCESS, rig.Disconnect());
  EXPECT_EQ(nullptr, rig.uga_draw());
  EXPECT_TRUE(rig.Leaks().clean()) << rig.Leaks().Describe();
  EXPECT_TRUE(rig.fw().faults().empty()) << rig.fw().DescribeFaults();
}

TEST(Rig, ContextCarriesTheStartingValues) {
  testsupport::Rig rig;
  ADAPTER_CONTEXT* c = rig.MakeContext();
  ASSERT_NE(nullptr, c);
  EXPECT_EQ(ADAPTER_CONTEXT_SIGNATURE, c->Signature);
  EXPECT_EQ(rig.pci_io(), c->PciIo);
  EXPECT_TRUE(rig.fw().IsLiveEvent(c->TimerEvent));
  EXPECT_EQ(NO_CRTC, c->CrtcIndex[1]);
  EXPECT_EQ(600u, c->CurrentMode[1].VerticalResolution);
  EXPECT_EQ(400u, c->PowerSequence[7]);
  EXPECT_EQ(0u, c->EngineStarted);
  EXPECT_EQ(nullptr, c->ModeList);
}

TEST(Rig, PlugTakesEdidBytesAndRefusesASharedChannel) {
  testsupport::Rig rig;
  std::vector<uint8_t> edid = simedid::EdidBuilder().Digital().Build();
  EXPECT_TRUE(rig.Plug(kt270::Connector::kDigital, edid));
  EXPECT_FALSE(rig.Plug(kt270::Connector::kAnalogA, edid));  // channel 1 is taken
  EXPECT_TRUE(rig.Plug(kt270::Connector::kAnalogB, edid));
}

TEST(EdidBuilder, EveryBlockSumsToZeroAndFieldsLandInPlace) {
  simedid::DetailedTiming wide = {0x1234, 0xA08, 0x321, 0x311, 0x222, 0xB07, 0x605, 0x19, 0x0A, 0x1C};
  std::vector<uint8_t> e =
      simedid::EdidBuilder().Vendor(0x08, 0x9D).Established(37, 6).Detailed(wide).Extension().Build();
  ASSERT_EQ(256u, e.size());
  for (size_t block = 0; block < 2; ++block) {
    uint8_t sum = 0;
    for (size_t i = 0; i < 128; ++i) sum = static_cast<uint8_t>(sum + e[block * 128 + i]);
    EXPECT_EQ(0, sum) << block;
  }
  EXPECT_EQ((std::vector<uint8_t>{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x06, 0x10, 0x08, 0x9D}),
            std::vector<uint8_t>(e.begin(), e.begin() + 12));
  EXPECT_EQ(0x40, e[37]);
  EXPECT_EQ(1, e[126]);
  EXPECT_EQ((std::vector<uint8_t>{0x34, 0x12, 0x08, 0x21, 0xA3, 0x07, 0x05, 0xB6, 0x11, 0x22, 0x9A, 0xE4}),
            std::vector<uint8_t>(e.begin() + 54, e.begin() + 66));
  EXPECT_EQ(0x1C, e[71]);
  EXPECT_EQ(0x02, e[128]);
}

}  // namespace
