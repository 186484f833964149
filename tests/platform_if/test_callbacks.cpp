// Query, the keys of SetInfo and GetInfo, link limits and the release key.
#include <array>

#include "tests/platform_if/platform_rig.h"

namespace platform_if {
namespace {

using kt270::Connector;

class Callbacks : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(EFI_SUCCESS, rig.Connect()); }

  EFI_STATUS Query() {
    return rig.config()->Query(rig.config(), &address, &memory, &row, &width, &height, &bpp);
  }

  Rig rig;
  UINT64 address = 0;
  UINT32 memory = 0, row = 0, width = 0, height = 0, bpp = 0;
};

TEST_F(Callbacks, BothInterfacesAreInstalledWithTheReservedMemberZero) {
  ASSERT_NE(nullptr, rig.config());
  ASSERT_NE(nullptr, rig.display());
  EXPECT_EQ(0u, rig.display()->Reserved);
}

TEST_F(Callbacks, QueryWaitsForTheEngineThenReportsTheShowingCrtc) {
  EXPECT_EQ(EFI_NOT_STARTED, Query());

  ASSERT_EQ(EFI_SUCCESS, rig.PlatformInfo());
  // Engine up, nothing on either CRTC yet: the memory size is still given.
  rig.adapter().PokeReg(0x00F8, 0x02000000);
  rig.adapter().PokeReg(0x6584, 0);
  rig.adapter().PokeReg(0x6D84, 0);
  EXPECT_EQ(EFI_INVALID_PARAMETER, Query());
  EXPECT_EQ(0x02000000u, memory);

  rig.adapter().PokeReg(0x6584, 0x04000300);
  rig.adapter().PokeReg(0x6120, 1024);
  rig.adapter().PokeReg(0x6110, 0x00010000);
  rig.adapter().PokeReg(0x6104, 2);
  ASSERT_EQ(EFI_SUCCESS, Query());
  EXPECT_EQ(0xC0010000u, address);
  EXPECT_EQ(4096u, row);
  EXPECT_EQ(1024u, width);
  EXPECT_EQ(768u, height);
  EXPECT_EQ(32u, bpp);

  // Only the depth code counts: 0xFD has code 1.
  rig.adapter().PokeReg(0x6104, 0xFD);
  ASSERT_EQ(EFI_SUCCESS, Query());
  EXPECT_EQ(16u, bpp);

  // CRTC 2 when CRTC 1 has no source.
  rig.adapter().PokeReg(0x6584, 0);
  rig.adapter().PokeReg(0x6D84, 0x03200258);
  rig.adapter().PokeReg(0x6920, 800);
  rig.adapter().PokeReg(0x6910, 0x00200000);
  rig.adapter().PokeReg(0x6904, 0);
  ASSERT_EQ(EFI_SUCCESS, Query());
  EXPECT_EQ(0xC0200000u, address);
  EXPECT_EQ(3200u, row);
  EXPECT_EQ(800u, width);
  EXPECT_EQ(600u, height);
  EXPECT_EQ(8u, bpp);
}

TEST_F(Callbacks, QueryAfterSetModeDescribesTheLitSurface) {
  Rig lit;
  lit.Plug(Connector::kAnalogA, Xga());
  ASSERT_EQ(EFI_SUCCESS, lit.Connect());
  ASSERT_EQ(EFI_SUCCESS, lit.uga()->SetMode(lit.uga(), 1024, 768, 32, 60));
  ASSERT_EQ(kt270::Sync::kInSync, lit.Watch(Connector::kAnalogA)) << lit.Verdict(Connector::kAnalogA);
  ASSERT_EQ(EFI_SUCCESS, lit.config()->Query(lit.config(), &address, &memory, &row, &width, &height, &bpp));
  EXPECT_EQ(0xC0000000u | lit.adapter().PeekReg(0x6110), address);
  EXPECT_EQ(1024u, width);
  EXPECT_EQ(768u, height);
  EXPECT_EQ(32u, bpp);
  EXPECT_EQ(4096u, row);
  EXPECT_NE(0u, memory);
}

TEST_F(Callbacks, QueryRefusesMissingPointers) {
  ASSERT_EQ(EFI_SUCCESS, rig.PlatformInfo());
  rig.adapter().PokeReg(0x6584, 0x04000300);
  QUOVAN_CONFIG_INTERFACE* c = rig.config();
  EXPECT_EQ(EFI_INVALID_PARAMETER, c->Query(nullptr, &address, &memory, &row, &width, &height, &bpp));
  EXPECT_EQ(EFI_INVALID_PARAMETER, c->Query(c, nullptr, &memory, &row, &width, &height, &bpp));
  EXPECT_EQ(EFI_INVALID_PARAMETER, c->Query(c, &address, nullptr, &row, &width, &height, &bpp));
  EXPECT_EQ(EFI_INVALID_PARAMETER, c->Query(c, &address, &memory, &row, &width, &height, nullptr));
}

TEST_F(Callbacks, ConnectorSelectionWalksTheBuiltInTable) {
  EXPECT_EQ(EFI_NOT_READY, rig.Select(0));
  ASSERT_EQ(EFI_SUCCESS, rig.PlatformInfo());

  EXPECT_EQ(EFI_SUCCESS, rig.Select(3));
  EXPECT_EQ(0x20u, rig.context()->ConnectorType[0]);
  EXPECT_EQ(EFI_SUCCESS, rig.Select(4));
  EXPECT_EQ(0u, rig.context()->ConnectorType[0]);
  EXPECT_EQ(4u, rig.context()->ConnectorIndex);

  EXPECT_EQ(EFI_SUCCESS, rig.Select(1));
  EXPECT_EQ(EFI_INVALID_PARAMETER, rig.Select(5));
  EXPECT_EQ(1u, rig.context()->ConnectorIndex);
  EXPECT_EQ(4u, rig.context()->ConnectorType[0]);
  uint32_t index = 0;
  EXPECT_EQ(EFI_INVALID_PARAMETER, rig.Set(keys::kSelectConnector, &index, 3));
  EXPECT_EQ(EFI_INVALID_PARAMETER, rig.Set(keys::kSelectConnector, nullptr, 4));
  EXPECT_EQ(1u, rig.context()->ConnectorIndex);
}

TEST_F(Callbacks, FlagsWordOfEachConnector) {
  uint64_t flags = 0;
  UINTN size = 8;
  EXPECT_EQ(EFI_NOT_READY, rig.Get(keys::kFlags, &flags, &size));
  ASSERT_EQ(EFI_SUCCESS, rig.PlatformInfo());

  const uint64_t expected[] = {0x4D, 0x010000000000002DULL, 0x0100000000000025ULL, 0x89, 0};
  for (uint32_t i = 0; i < 5; ++i) {
    ASSERT_EQ(EFI_SUCCESS, rig.Select(i));
    flags = ~0ULL;
    size = 16;
    EXPECT_EQ(EFI_SUCCESS, rig.Get(keys::kFlags, &flags, &size)) << i;
    EXPECT_EQ(expected[i], flags) << i;
    EXPECT_EQ(16u, size);
  }

  size = 4;
  EXPECT_EQ(EFI_BUFFER_TOO_SMALL, rig.Get(keys::kFlags, &flags, &size));
  EXPECT_EQ(8u, size);
  EXPECT_EQ(EFI_INVALID_PARAMETER, rig.Get(keys::kFlags, &flags, nullptr));
  EXPECT_EQ(EFI_INVALID_PARAMETER, rig.Get(keys::kFlags, nullptr, &size));
}

TEST_F(Callbacks, EdidOfTheSelectedConnectorInEverySize) {
  Rig r;
  r.Plug(Connector::kAnalogA, Xga().Extension());
  ASSERT_EQ(EFI_SUCCESS, r.Connect());
  const std::vector<uint8_t>& plugged = r.PluggedEdid(0);
  std::array<uint8_t, 512> buffer{};
  UINTN size = 128;

  // No table yet: an empty answer, and the bus is left alone.
  EXPECT_EQ(EFI_SUCCESS, r.Get(keys::kEdid, buffer.data(), &size));
  EXPECT_EQ(0u, size);

  ASSERT_EQ(EFI_SUCCESS, r.PlatformInfo());
  ASSERT_EQ(EFI_SUCCESS, r.Select(1));  // analogue A, DDC channel 1
  size = 100;
  EXPECT_EQ(EFI_BUFFER_TOO_SMALL, r.Get(keys::kEdid, buffer.data(), &size));
  EXPECT_EQ(128u, size);
  size = 128;
  ASSERT_EQ(EFI_SUCCESS, r.Get(keys::kEdid, buffer.data(), &size));
  EXPECT_EQ(128u, size);
  EXPECT_TRUE(std::equal(plugged.begin(), plugged.begin() + 128, buffer.begin()));

  size = 200;
  EXPECT_EQ(EFI_BUFFER_TOO_SMALL, r.Get(keys::kEdid, buffer.data(), &size));
  EXPECT_EQ(256u, size);
  buffer.fill(0);
  size = 256;
  ASSERT_EQ(EFI_SUCCESS, r.Get(keys::kEdid, buffer.data(), &size));
  EXPECT_TRUE(std::equal(plugged.begin(), plugged.end(), buffer.begin()));

  // Nothing on analogue B's channel, and the terminating pair: empty.
  for (uint32_t index : {2u, 4u}) {
    ASSERT_EQ(EFI_SUCCESS, r.Select(index));
    size = 128;
    EXPECT_EQ(EFI_SUCCESS, r.Get(keys::kEdid, buffer.data(), &size)) << index;
    EXPECT_EQ(0u, size) << index;
  }
  size = 128;
  EXPECT_EQ(EFI_INVALID_PARAMETER, r.Get(keys::kEdid, nullptr, &size));
  EXPECT_EQ(EFI_INVALID_PARAMETER, r.Get(keys::kEdid, buffer.data(), nullptr));
}

// Blocks 2 and up sit behind the E-DDC segment pointer, which the driver
// does not drive: it answers segment 0 alone rather than segment 0 again
// in their place.
TEST_F(Callbacks, EdidBeyondTheFirstSegmentIsNotInvented) {
  Rig r;
  std::vector<uint8_t> block(128, 0x5A);
  r.Plug(Connector::kAnalogA, Xga().Extension(block).Extension(block).Extension(block));
  ASSERT_EQ(EFI_SUCCESS, r.Connect());
  ASSERT_EQ(EFI_SUCCESS, r.PlatformInfo());
  ASSERT_EQ(EFI_SUCCESS, r.Select(1));
  const std::vector<uint8_t>& plugged = r.PluggedEdid(0);

  std::vector<uint8_t> buffer(200);
  UINTN size = buffer.size();
  EXPECT_EQ(EFI_BUFFER_TOO_SMALL, r.Get(keys::kEdid, buffer.data(), &size));
  EXPECT_EQ(256u, size);
  buffer.assign(512, 0);
  size = buffer.size();
  ASSERT_EQ(EFI_SUCCESS, r.Get(keys::kEdid, buffer.data(), &size));
  EXPECT_EQ(256u, size);
  EXPECT_TRUE(std::equal(plugged.begin(), plugged.begin() + 256, buffer.begin()));
  EXPECT_EQ(std::vector<uint8_t>(256, 0), std::vector<uint8_t>(buffer.begin() + 256, buffer.end()));
}

struct Limits {
  uint32_t w, h, links, reserved;
  uint64_t low1, high1, low2, high2;
};
static_assert(sizeof(Limits) == 48, "link-limit record");

class LinkLimits : public Callbacks {
 protected:
  void SetUp() override {
    Callbacks::SetUp();
    ASSERT_EQ(EFI_SUCCESS, rig.PlatformInfo());
  }
  EFI_STATUS Get(Limits* limits) {
    std::memset(limits, 0xEE, sizeof *limits);
    UINTN size = sizeof *limits;
    return rig.Get(keys::kLinkLimits, limits, &size);
  }
  void Expect(uint32_t links, uint64_t low1, uint64_t high1, uint64_t low2, uint64_t high2, const char* what) {
    Limits l;
    ASSERT_EQ(EFI_SUCCESS, Get(&l)) << what;
    EXPECT_EQ(8192u, l.w) << what;
    EXPECT_EQ(8192u, l.h) << what;
    EXPECT_EQ(links, l.links) << what;
    EXPECT_EQ(0u, l.reserved) << what;
    EXPECT_EQ(low1, l.low1) << what;
    EXPECT_EQ(high1, l.high1) << what;
    EXPECT_EQ(low2, l.low2) << what;
    EXPECT_EQ(high2, l.high2) << what;
  }
  // A table with the two panel kinds after the built-in ones' first entry.
  const UINT64 panel_table_[8] = {CONNECTOR_DIGITAL2, 0, CONNECTOR_PANEL, 0x100, CONNECTOR_PANEL, 0, 0, 0};
};

TEST_F(LinkLimits, EveryConnectorTypeAtTheDefaultEngineClock) {
  ASSERT_EQ(EFI_SUCCESS, rig.Select(0));
  Expect(2, 7000000, 165000000, 165000000, 330000000, "digital");
  for (uint32_t index : {1u, 2u, 3u}) {
    ASSERT_EQ(EFI_SUCCESS, rig.Select(index));
    Expect(1, 7000000, 400000000, 0, 0, "analogue and television");
  }
  rig.context()->ConnectorTable = panel_table_;
  ASSERT_EQ(EFI_SUCCESS, rig.Select(1));
  Expect(1, 7000000, 165000000, 0, 0, "single-link panel");
  ASSERT_EQ(EFI_SUCCESS, rig.Select(2));
  Expect(2, 7000000, 115000000, 7000000, 230000000, "dual-link panel");

  ASSERT_EQ(EFI_SUCCESS, rig.Select(3));  // terminating pair
  Limits l;
  EXPECT_EQ(EFI_UNSUPPORTED, Get(&l));
  EXPECT_EQ(0xEEEEEEEEu, l.w);
}

TEST_F(LinkLimits, SlowEngineClocksLimitTheLinks) {
  rig.context()->EngineClock = 30000;
  ASSERT_EQ(EFI_SUCCESS, rig.Select(1));
  Expect(1, 7000000, 270000000, 0, 0, "analogue at 300 MHz");
  ASSERT_EQ(EFI_SUCCESS, rig.Select(0));
  Expect(2, 7000000, 165000000, 165000000, 330000000, "digital at 300 MHz");

  rig.context()->EngineClock = 15000;
  Expect(2, 7000000, 135000000, 165000000, 270000000, "digital at 150 MHz");
  rig.context()->EngineClock = 10000;
  rig.context()->ConnectorTable = panel_table_;
  ASSERT_EQ(EFI_SUCCESS, rig.Select(2));
  Expect(2, 7000000, 90000000, 7000000, 180000000, "dual-link panel at 100 MHz");
}

TEST_F(LinkLimits, RecordSizeAndTableAreChecked) {
  Limits l;
  UINTN size = 47;
  EXPECT_EQ(EFI_INVALID_PARAMETER, rig.Get(keys::kLinkLimits, &l, &size));
  size = 48;
  EXPECT_EQ(EFI_INVALID_PARAMETER, rig.Get(keys::kLinkLimits, nullptr, &size));
  EXPECT_EQ(EFI_INVALID_PARAMETER, rig.Get(keys::kLinkLimits, &l, nullptr));

  rig.context()->ConnectorTable = nullptr;
  EXPECT_EQ(EFI_NOT_READY, Get(&l));
}

TEST_F(Callbacks, KeysOutsideTheTablesAndTheFixedAnswer) {
  uint32_t value = 0;
  UINTN size = 4;
  EXPECT_EQ(EFI_SUCCESS, rig.Get(keys::kAnswer, &value, &size));
  EXPECT_EQ(1u, value);
  size = 8;
  EXPECT_EQ(EFI_INVALID_PARAMETER, rig.Get(keys::kAnswer, &value, &size));
  EXPECT_EQ(EFI_INVALID_PARAMETER, rig.Get(keys::kAnswer, nullptr, &size));

  EXPECT_EQ(EFI_UNSUPPORTED, rig.SetValue(keys::kReserved, value));
  EXPECT_EQ(EFI_INVALID_PARAMETER, rig.Set(keys::kReserved, &value, 2));

  const char* unknown = "00000000-0000-0000-0000-000000000001";
  EXPECT_EQ(EFI_UNSUPPORTED, rig.SetValue(unknown, value));
  EXPECT_EQ(EFI_UNSUPPORTED, rig.Get(unknown, &value, &size));
  // The key that set the platform information is no GetInfo key.
  EXPECT_EQ(EFI_UNSUPPORTED, rig.Get(keys::kPlatformInfo, &value, &size));

  QUOVAN_DISPLAY_INTERFACE* d = rig.display();
  EFI_GUID key = Key(keys::kAnswer);
  EXPECT_EQ(EFI_INVALID_PARAMETER, d->SetInfo(nullptr, &key, &value, 4));
  EXPECT_EQ(EFI_INVALID_PARAMETER, d->GetInfo(nullptr, &key, &value, &size));
  EXPECT_EQ(EFI_INVALID_PARAMETER, d->GetInfo(d, nullptr, &value, &size));
  EXPECT_EQ(EFI_INVALID_PARAMETER, d->SetInfo(d, nullptr, &value, 4));
}

TEST_F(Callbacks, BadSignaturesAreReportedWithTheirLines) {
  auto fake = std::make_unique<ADAPTER_CONTEXT>();
  std::memset(fake.get(), 0, sizeof *fake);
  UINT64 address = 0;
  UINT32 v = 0;
  UINTN size = 4;
  EFI_GUID key = Key(keys::kAnswer);
  EXPECT_EQ(EFI_INVALID_PARAMETER, rig.config()->Query(&fake->ConfigInterface, &address, &v, &v, &v, &v, &v));
  EXPECT_EQ(EFI_INVALID_PARAMETER, rig.display()->SetInfo(&fake->DisplayInterface, &key, &v, 4));
  EXPECT_EQ(EFI_INVALID_PARAMETER, rig.display()->GetInfo(&fake->DisplayInterface, &key, &v, &size));
  std::string text = rig.fw().StdErr().Text();
  for (const char* line : {"quovanapple(76): \"CR has Bad Signature\"", "quovanapple(1042): \"CR has Bad Signature\"",
                           "quovanapple(1128): \"CR has Bad Signature\""}) {
    EXPECT_NE(std::string::npos, text.find(line)) << line << " in " << text;
  }
}

TEST_F(Callbacks, ReleaseKeyStopsTheAdapterAndLeavesNothingBehind) {
  Rig r;
  r.Plug(Connector::kAnalogA, Xga());
  ASSERT_EQ(EFI_SUCCESS, r.Connect());
  ASSERT_EQ(EFI_SUCCESS, r.PlatformInfo());
  ASSERT_EQ(EFI_SUCCESS, r.Select(1));
  QUOVAN_DISPLAY_INTERFACE* d = r.display();
  EFI_GUID key = Key(keys::kRelease);
  // Size and buffer are not looked at.
  EXPECT_EQ(EFI_SUCCESS, d->SetInfo(d, &key, nullptr, 12345));

  EXPECT_EQ(nullptr, r.display());
  EXPECT_EQ(nullptr, r.config());
  EXPECT_EQ(nullptr, r.uga());
  sim::LeakReport leaks = r.Leaks();
  EXPECT_TRUE(leaks.clean()) << leaks.Describe();
  EXPECT_TRUE(r.fw().faults().empty()) << r.fw().DescribeFaults();
  EXPECT_EQ(kt270::Sync::kNoSignal, r.Watch(Connector::kAnalogA));
}

}  // namespace
}  // namespace platform_if
