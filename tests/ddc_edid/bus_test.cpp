// The DDC master and the EDID reader against the adapter model's EEPROMs
// and auxiliary device, judged by the register trace, the model's bus
// observations and what its devices hold, on the firmware's virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "driver/hw/ddc.h"
#include "driver/hw/edid.h"
#include "tests/ddc_edid/bus_bench.h"

namespace {

using kt270::Access;
using kt270::I2cFaults;
using kt270::Output;
using kt270::Space;
using ddc_test::Bench;
using ddc_test::MakeEdid;

constexpr uint32_t kChannelBlocks[4] = {0, 0x7E40, 0x7E50, 0x7E60};

// ---------------------------------------------------------------- lines

TEST(DdcLines, StateBytesDriveOnlyTheLinesRequestedLow) {
  Bench bench;
  bench.context.DdcChannel = 1;
  struct {
    uint8_t state;
    uint32_t enable;
  } const rows[] = {{0x32, 0x100}, {0x30, 0x101}, {0x00, 0x000}, {0x36, 0x000}, {0x14, 0x001}, {0x22, 0x100}};
  for (const auto& row : rows) {
    bench.rig.ClearTrace();
    DdcApplyLines(&bench.context, row.state);
    ASSERT_EQ(3u, bench.Writes().size()) << int(row.state);
    EXPECT_EQ(0x7E40u, bench.Writes()[0].offset);
    EXPECT_EQ(0x101u, bench.Writes()[0].value);
    EXPECT_EQ(0x7E44u, bench.Writes()[1].offset);
    EXPECT_EQ(0u, bench.Writes()[1].value);
    EXPECT_EQ(0x7E48u, bench.Writes()[2].offset);
    EXPECT_EQ(row.enable, bench.Writes()[2].value) << int(row.state);
  }
}

TEST(DdcLines, ChannelsOtherThanTwoOrThreeUseChannelOnesRegisters) {
  for (uint8_t channel : {0, 1, 2, 3, 4, 7, 255}) {
    Bench bench;
    bench.context.DdcChannel = channel;
    uint32_t block = (channel == 2 || channel == 3) ? kChannelBlocks[channel] : kChannelBlocks[1];
    DdcApplyLines(&bench.context, 0x30);
    DdcSampleLines(&bench.context);
    std::vector<uint64_t> offsets;
    for (const Access& a : bench.DdcAccesses()) offsets.push_back(a.offset);
    EXPECT_EQ((std::vector<uint64_t>{block, block + 4, block + 8, block + 8, block + 12}), offsets)
        << "channel " << int(channel);
  }
}

TEST(DdcLines, SamplingReportsLevelsAndOutputEnables) {
  Bench bench;
  bench.context.DdcChannel = 2;
  DdcApplyLines(&bench.context, 0x30);  // both driven low
  EXPECT_EQ(DDC_CLOCK_DRIVEN | DDC_DATA_DRIVEN, DdcSampleLines(&bench.context));
  DdcApplyLines(&bench.context, 0x00);  // both floating
  EXPECT_EQ(DDC_CLOCK_HIGH | DDC_DATA_HIGH, DdcSampleLines(&bench.context));
  // A device holding the data line low shows through the input register.
  bench.Attach(2, {}, ddc_test::Faults(0, -1, false, true));
  EXPECT_EQ(DDC_CLOCK_HIGH, DdcSampleLines(&bench.context));
}

// ---------------------------------------------------------------- probe

TEST(DdcProbe, DeadChannelGivesEightAttemptsAndNineStops) {
  Bench bench;
  bench.context.DdcChannel = 2;
  const uint64_t start = bench.NowUs();
  EXPECT_FALSE(DdcProbe(&bench.context));
  const kt270::DdcBusStats& bus = bench.Bus(2);
  EXPECT_EQ(8u, bus.starts);
  EXPECT_EQ(9u, bus.stops);
  EXPECT_EQ(8u, bus.naks);  // the address byte, unanswered each time
  EXPECT_EQ(0u, bus.acks);
  EXPECT_EQ(0u, bench.Bus(1).starts + bench.Bus(3).starts);
  EXPECT_GT(bench.NowUs(), start);
}

TEST(DdcProbe, AnsweringEepromIsAddressedOnceAndLeftAtWordZero) {
  Bench bench;
  std::vector<uint8_t> edid = MakeEdid(0);
  bench.Attach(1, edid);
  bench.context.DdcChannel = 1;
  DdcResetBus(&bench.context);
  const uint64_t start = bench.NowUs();
  EXPECT_TRUE(DdcProbe(&bench.context));
  EXPECT_EQ(1u, bench.Bus(1).starts);
  EXPECT_EQ(1u, bench.Bus(1).stops);
  EXPECT_EQ(2u, bench.Bus(1).acks);  // address and word address
  // Start 50 us, two bytes of 8 x 45 + 60 us, stop 50 us, then 500 us for
  // the EEPROM to settle.
  EXPECT_EQ(50u + 2u * 420u + 50u + 500u, bench.NowUs() - start);
  // The next read starts at byte 0.
  uint8_t block[128];
  ASSERT_TRUE(ReadEdidBlock(&bench.context, 0, block));
  EXPECT_EQ(0, std::memcmp(block, edid.data(), 128));
}

// ---------------------------------------------------------------- stretching

// A device that stretches after every byte's ninth clock; the master's next
// bit waits in DdcWaitClockHigh.
EFI_STATUS WordAddressAfterStretch(uint32_t stretch_us, uint64_t* waited_us, bool fast = false) {
  Bench bench;
  bench.context.FastStartup = fast ? EFI_TRUE : EFI_FALSE;
  std::vector<uint8_t> edid = MakeEdid(0);
  bench.Attach(1, edid, ddc_test::Faults(stretch_us, -1, false, false));
  bench.context.DdcChannel = 1;
  DdcResetBus(&bench.context);
  EXPECT_EQ(EFI_SUCCESS, DdcStart(&bench.context));
  EXPECT_EQ(EFI_SUCCESS, DdcWriteByte(&bench.context, DDC_EDID_WRITE));
  const uint64_t before = bench.NowUs();
  EFI_STATUS status = DdcWriteByte(&bench.context, 0x00);
  *waited_us = bench.NowUs() - before;
  return status;
}

TEST(DdcClockStretching, WaitsFor4900MicrosecondsAndFailsBeyondFive) {
  uint64_t waited = 0;
  EXPECT_EQ(EFI_SUCCESS, WordAddressAfterStretch(4900, &waited));
  EXPECT_GE(waited, 4900u);
  EXPECT_EQ(EFI_DEVICE_ERROR, WordAddressAfterStretch(5100, &waited));
  // Gave up after the 500 polls of 10 us, not sooner, not much later.
  EXPECT_GE(waited, 5000u);
  EXPECT_LT(waited, 5100u);
}

TEST(DdcClockStretching, StretchedBlockStillReadsByteExact) {
  Bench bench;
  std::vector<uint8_t> edid = MakeEdid(0);
  bench.Attach(1, edid, ddc_test::Faults(4900, -1, false, false));
  uint8_t block[128];
  ASSERT_TRUE(ReadEdid(&bench.context, 1, block, 1));
  EXPECT_EQ(0, std::memcmp(block, edid.data(), 128));
}

TEST(DdcClockStretching, StuckClockFailsStartStopAndBits) {
  Bench bench;
  bench.Attach(1, MakeEdid(0), ddc_test::Faults(0, -1, true, false));
  bench.context.DdcChannel = 1;
  EXPECT_EQ(EFI_DEVICE_ERROR, DdcStart(&bench.context));
  EXPECT_EQ(EFI_DEVICE_ERROR, DdcStop(&bench.context));
  EXPECT_EQ(EFI_DEVICE_ERROR, DdcWriteBit(&bench.context, 1));
  EXPECT_EQ(EFI_DEVICE_ERROR, DdcWriteByte(&bench.context, 0xA0));
  // Reads never fail: a bus nobody drives reads as ones.
  uint8_t value = 0;
  DdcReadByte(&bench.context, &value, DDC_NO_ACK);
  EXPECT_EQ(0xFF, value);
  EXPECT_FALSE(DdcProbe(&bench.context));
}

// ---------------------------------------------------------------- policies

// The board's bit timing and the fast policy's I2C standard mode: what a
// probe, a block and a byte cost, the same 5 ms bound on stretching polled
// in the policy's step, and no timing the model's judge counts.
TEST(DdcPolicies, BitTimingStretchBoundAndStandardMode) {
  struct {
    bool fast;
    uint64_t probe_us, block_us, byte_us, poll_us;
  } const rows[] = {
      // start 50, bytes 420 written and 525 read, stop 50, settle 500
      {false, 50 + 2 * 420 + 50 + 500, 50 + 420 + 128 * 525 + 50, 420, 10},
      // start 14, every clock 10 us (100 kHz), stop 14
      {true, 14 + 2 * 90 + 14 + 500, 14 + 90 + 128 * 90 + 14, 90, 5},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.fast ? "fast" : "board");
    Bench bench;
    std::vector<uint8_t> edid = MakeEdid(0);
    bench.Attach(1, edid);
    bench.context.FastStartup = row.fast ? EFI_TRUE : EFI_FALSE;
    bench.context.DdcChannel = 1;
    DdcResetBus(&bench.context);
    uint64_t t0 = bench.NowUs();
    ASSERT_TRUE(DdcProbe(&bench.context));
    EXPECT_EQ(row.probe_us, bench.NowUs() - t0);
    uint8_t block[128];
    t0 = bench.NowUs();
    ASSERT_TRUE(ReadEdidBlock(&bench.context, 1, block));
    EXPECT_EQ(row.block_us, bench.NowUs() - t0);
    EXPECT_EQ(0, std::memcmp(block, edid.data(), 128));
    EXPECT_EQ(0u, kt270::TimingViolations(bench.Bus(1)));
    EXPECT_EQ(0u, bench.Bus(1).missed);

    uint64_t waited = 0;
    EXPECT_EQ(EFI_SUCCESS, WordAddressAfterStretch(4900, &waited, row.fast));
    EXPECT_GE(waited, 4900u);
    EXPECT_LE(waited, 4900 + row.byte_us + row.poll_us);  // seen within a poll
    EXPECT_EQ(EFI_DEVICE_ERROR, WordAddressAfterStretch(5100, &waited, row.fast));
    EXPECT_GE(waited, 5000u);
    EXPECT_LT(waited, 5100u);
  }
}

// ---------------------------------------------------------------- EDID reads

TEST(ReadEdid, FullBlockIsByteExactAndCostsAbout70Milliseconds) {
  Bench bench;
  std::vector<uint8_t> edid = MakeEdid(0);
  bench.Attach(1, edid);
  bench.context.DdcChannel = 1;
  ASSERT_TRUE(DdcProbe(&bench.context));
  const kt270::DdcBusStats before = bench.Bus(1);
  const uint64_t start = bench.NowUs();
  uint8_t block[128];
  ASSERT_TRUE(ReadEdidBlock(&bench.context, 1, block));
  const double ms = (bench.NowUs() - start) / 1000.0;
  EXPECT_EQ(0, std::memcmp(block, edid.data(), 128));
  // 0xA1 answered; the master acknowledged 127 bytes and refused the last.
  EXPECT_EQ(1u + 127u, bench.Bus(1).acks - before.acks);
  EXPECT_EQ(1u, bench.Bus(1).naks - before.naks);
  EXPECT_NEAR(70.0, ms, 7.0);
}

TEST(ReadEdid, ExtensionBlockReadIsByteExact) {
  Bench bench;
  std::vector<uint8_t> edid = MakeEdid(1);
  bench.Attach(2, edid);
  bench.context.DdcChannel = 2;
  ASSERT_TRUE(DdcProbe(&bench.context));
  std::vector<uint8_t> buffer(256, 0);
  ASSERT_TRUE(ReadEdidWithExtensions(&bench.context, 1, buffer.data()));
  EXPECT_EQ(edid, buffer);
  EXPECT_FALSE(ReadEdidWithExtensions(&bench.context, 1, nullptr));
}

TEST(ReadEdid, SwitchesTheChannelsAnalogueOutputOnForTheRead) {
  struct {
    uint8_t channel;
    bool dac_a, dac_b;
  } const rows[] = {{1, true, false}, {2, false, true}, {3, false, false}};
  for (const auto& row : rows) {
    Bench bench;
    std::vector<uint8_t> edid = MakeEdid(0);
    bench.Attach(row.channel, edid);
    uint8_t block[128];
    ASSERT_TRUE(ReadEdid(&bench.context, 1, block, row.channel));
    EXPECT_EQ(0, std::memcmp(block, edid.data(), 128));
    EXPECT_EQ(row.dac_a, bench.adapter().DecodeOutput(Output::kDacA).enabled) << int(row.channel);
    EXPECT_EQ(row.dac_b, bench.adapter().DecodeOutput(Output::kDacB).enabled) << int(row.channel);
    // The output goes on before the probe first samples the lines.
    const auto& records = bench.records();
    auto first_sample = std::find_if(records.begin(), records.end(),
                                     [](const Access& a) { return !a.write && ddc_test::IsDdcRegister(a); });
    auto dac_on = std::find_if(records.begin(), records.end(), [](const Access& a) {
      return a.write && (a.offset == 0x7800 || a.offset == 0x7A00) && a.value == 1;
    });
    if (row.dac_a || row.dac_b) EXPECT_LT(dac_on - records.begin(), first_sample - records.begin());
    if (!row.dac_a && !row.dac_b) EXPECT_EQ(records.end(), dac_on);
    EXPECT_EQ(row.channel, bench.context.DdcChannel);
  }
}

TEST(ReadEdid, DeadChannelTriesSixtyFourTimesAndSwitchesTheOutputOffAgain) {
  for (uint8_t channel : {1, 2}) {
    Bench bench;
    uint8_t block[128];
    std::memset(block, 0x5A, sizeof(block));
    EXPECT_FALSE(ReadEdid(&bench.context, 1, block, channel));
    EXPECT_TRUE(std::all_of(block, block + 128, [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(64u, bench.Bus(channel).starts);
    EXPECT_FALSE(bench.adapter().DecodeOutput(Output::kDacA).enabled);
    EXPECT_FALSE(bench.adapter().DecodeOutput(Output::kDacB).enabled);
    const uint64_t enable = channel == 1 ? 0x7800 : 0x7A00;
    std::vector<uint64_t> switches;
    for (const Access& a : bench.Writes()) {
      if (a.offset == enable) switches.push_back(a.value);
    }
    EXPECT_EQ((std::vector<uint64_t>{1, 0}), switches) << "channel " << int(channel);
  }
}

TEST(ReadEdid, DisplayThatRefusesTheReadLeavesOnesAndTheOutputOff) {
  Bench bench;
  // Acknowledges the probe's two bytes, then nothing: the 0xA1 of the read
  // and every later address go unanswered.
  bench.Attach(1, MakeEdid(0), ddc_test::Faults(0, 2, false, false));
  uint8_t block[128];
  EXPECT_FALSE(ReadEdid(&bench.context, 1, block, 1));
  EXPECT_TRUE(std::all_of(block, block + 128, [](uint8_t b) { return b == 0xFF; }));
  EXPECT_FALSE(bench.adapter().DecodeOutput(Output::kDacA).enabled);

  // ReadEdidBlock alone leaves its buffer as it was.
  Bench again;
  again.Attach(1, MakeEdid(0), ddc_test::Faults(0, 2, false, false));
  again.context.DdcChannel = 1;
  ASSERT_TRUE(DdcProbe(&again.context));
  std::memset(block, 0x5A, sizeof(block));
  EXPECT_FALSE(ReadEdidBlock(&again.context, 0, block));
  EXPECT_TRUE(std::all_of(block, block + 128, [](uint8_t b) { return b == 0x5A; }));
}

// ---------------------------------------------------------------- publication

TEST(ReadAndPublishEdid, PublishesUnderTheChannelsNameAndParsesDescriptorOne) {
  const char* const names[4] = {"", "ZEY,EDIDA", "ZEY,EDIDB", "ZEY,LVDS,EDIDC"};
  for (uint8_t channel : {1, 2, 3}) {
    Bench bench;
    std::vector<uint8_t> edid = MakeEdid(0, /*digital=*/true);
    edid[0] = 0x42;  // a wrong header is published all the same
    bench.Attach(channel, edid);
    bench.context.DdcChannel = channel;
    uint8_t buffer[128];
    DETAILED_TIMING timing{};
    EXPECT_TRUE(ReadAndPublishEdid(&bench.context, buffer, &timing));
    EXPECT_EQ(1, bench.context.EdidBlock);
    const auto* property = bench.platform.Find(names[channel]);
    ASSERT_NE(nullptr, property) << names[channel];
    EXPECT_EQ(std::vector<uint8_t>(edid.begin(), edid.begin() + 128), property->value);
    EXPECT_EQ(1u, bench.platform.properties().size());
    EXPECT_EQ(1920, timing.HActive);
    EXPECT_EQ(2200, timing.HTotal);
    EXPECT_EQ(14850, timing.PixelClock);
  }
}

TEST(ReadAndPublishEdid, NothingPublishedAndRecordUntouchedWhenTheReadFails) {
  Bench bench;
  bench.context.DdcChannel = 2;
  uint8_t buffer[128];
  DETAILED_TIMING timing;
  std::memset(&timing, 0x33, sizeof(timing));
  const DETAILED_TIMING before = timing;
  EXPECT_FALSE(ReadAndPublishEdid(&bench.context, buffer, &timing));
  EXPECT_TRUE(bench.platform.properties().empty());
  EXPECT_EQ(0, std::memcmp(&before, &timing, sizeof(timing)));
}

TEST(ReadAndPublishEdid, AnalogueCompositeSyncIsPublishedButGivesNoTiming) {
  Bench bench;
  std::vector<uint8_t> edid = MakeEdid(0, /*digital=*/false);
  edid[EDID_DESCRIPTOR_1 + 17] = 0x00;  // analogue composite
  bench.Attach(1, edid);
  bench.context.DdcChannel = 1;
  uint8_t buffer[128];
  DETAILED_TIMING timing{};
  EXPECT_FALSE(ReadAndPublishEdid(&bench.context, buffer, &timing));
  EXPECT_NE(nullptr, bench.platform.Find("ZEY,EDIDA"));
  DETAILED_TIMING zero{};
  EXPECT_EQ(0, std::memcmp(&zero, &timing, sizeof(timing)));
}

// ---------------------------------------------------------------- auxiliary device

TEST(AuxDevice, InitWritesItsRegistersOneTransactionEach) {
  Bench bench;
  kt270::Adapter& model = bench.adapter();
  model.SetAuxReg(0x4A, 0xFF);
  model.SetAuxReg(0x4B, 0x25);
  bench.context.DdcChannel = 1;
  EXPECT_EQ(EFI_SUCCESS, AuxDeviceInit(&bench.context));
  EXPECT_EQ(3, bench.context.DdcChannel);
  EXPECT_EQ(0x10, model.AuxReg(0x11));
  EXPECT_EQ(((0xFF & 0xC4) | 0x38) & 0xDF, model.AuxReg(0x4A));
  EXPECT_EQ((0x25 & 0xC0) | 0x1A, model.AuxReg(0x4B));
  EXPECT_EQ(0x0B, model.AuxReg(0x4D));
  EXPECT_EQ(0x2E, model.AuxReg(0x4C));
  EXPECT_EQ(0x03, model.AuxReg(0x4F));
  const uint8_t table[16] = {0x00, 0x05, 0x37, 0x0A, 0x5B, 0x0D, 0x5F, 0x0F,
                             0x62, 0x16, 0x62, 0x16, 0x62, 0x16, 0x62, 0x16};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(table[i], model.AuxReg(0x50 + i)) << i;
  // 23 writes and 3 reads, each with its own start and stop.
  EXPECT_EQ(23u, model.stats().aux_writes);
  EXPECT_EQ(23u + 3u * 2u, bench.Bus(3).starts);
  EXPECT_EQ(26u, bench.Bus(3).stops);
  EXPECT_EQ(0u, bench.Bus(1).starts + bench.Bus(2).starts);
}

TEST(AuxDevice, ConfigureTakesRegister4CAsParameter) {
  Bench bench;
  EXPECT_EQ(EFI_SUCCESS, AuxDeviceConfigure(&bench.context, 0x5C));
  EXPECT_EQ(0x5C, bench.adapter().AuxReg(0x4C));
  EXPECT_EQ(0x03, bench.adapter().AuxReg(0x4F));
}

TEST(AuxDevice, ReadAndWriteRoundTripAndAbsentDeviceReadsOnes) {
  Bench bench;
  bench.adapter().SetAuxReg(0x20, 0x9C);
  EXPECT_EQ(0x9C, AuxRegRead(&bench.context, 0x20));
  EXPECT_EQ(3, bench.context.DdcChannel);
  bench.context.DdcChannel = 1;
  EXPECT_EQ(EFI_SUCCESS, AuxRegWrite(&bench.context, 0x21, 0x6D));
  EXPECT_EQ(3, bench.context.DdcChannel);
  EXPECT_EQ(0x6D, bench.adapter().AuxReg(0x21));

  kt270::Config config = kt270::DefaultConfig();
  config.aux_present = false;
  Bench bare(config);
  EXPECT_EQ(0xFF, AuxRegRead(&bare.context, 0x20));
  EXPECT_EQ(EFI_SUCCESS, AuxRegWrite(&bare.context, 0x21, 0x6D));
  EXPECT_EQ(EFI_SUCCESS, AuxDeviceInit(&bare.context));
  EXPECT_EQ(0u, bare.adapter().stats().aux_writes);
}

// ---------------------------------------------------------------- platform query

struct QueryBench : Bench {
  QueryBench() {
    digital = MakeEdid(1, /*digital=*/true);
    digital[8] = 0x06;
    digital[9] = 0x10;
    analogue = MakeEdid(0, /*digital=*/false);
    Attach(1, digital);
    Attach(2, analogue);
  }
  std::vector<uint8_t> digital, analogue;
};

TEST(GetDisplayEdid, SizeUpTo128CopiesExactlyTheCachedBaseBlock) {
  QueryBench bench;
  {
    std::vector<uint8_t> buffer(300, 0x5A);
    uint64_t in_out = 128;
    ASSERT_EQ(EFI_SUCCESS, GetDisplayEdid(&bench.context, 2, buffer.data(), &in_out));
    EXPECT_EQ(128u, in_out);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 128, bench.digital.begin()));
    EXPECT_TRUE(std::all_of(buffer.begin() + 128, buffer.end(), [](uint8_t b) { return b == 0x5A; }));
    EXPECT_EQ(1, bench.context.EdidVendorMatch[0]);
  }
  std::vector<uint8_t> buffer(128);
  uint64_t size = 128;
  ASSERT_EQ(EFI_SUCCESS, GetDisplayEdid(&bench.context, 8, buffer.data(), &size));
  EXPECT_EQ(bench.analogue, buffer);
  EXPECT_EQ(0, bench.context.EdidVendorMatch[0]);
}

TEST(GetDisplayEdid, SizeBelow128IsTooSmallAndNothingIsWritten) {
  for (uint64_t size : {0u, 1u, 100u, 127u}) {
    QueryBench bench;
    std::vector<uint8_t> buffer(128, 0x5A);
    uint64_t in_out = size;
    EXPECT_EQ(EFI_BUFFER_TOO_SMALL, GetDisplayEdid(&bench.context, 2, buffer.data(), &in_out)) << size;
    EXPECT_EQ(128u, in_out);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0x5A; }));
  }
}

TEST(GetDisplayEdid, MissingBufferOrSizeIsAnInvalidParameter) {
  QueryBench bench;
  uint8_t buffer[256];
  uint64_t size = 256;
  EXPECT_EQ(EFI_INVALID_PARAMETER, GetDisplayEdid(&bench.context, 2, nullptr, &size));
  EXPECT_EQ(EFI_INVALID_PARAMETER, GetDisplayEdid(&bench.context, 2, buffer, nullptr));
  EXPECT_EQ(256u, size);
}

TEST(GetDisplayEdid, LongerSizesReadTheExtensionsLive) {
  QueryBench bench;
  std::vector<uint8_t> buffer(300, 0x5A);
  uint64_t size = 0;
  for (uint64_t request : {129u, 200u, 255u}) {
    size = request;
    EXPECT_EQ(EFI_BUFFER_TOO_SMALL, GetDisplayEdid(&bench.context, 2, buffer.data(), &size)) << request;
    EXPECT_EQ(256u, size);
  }
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0x5A; }));
  for (uint64_t request : {256u, 300u}) {
    size = request;
    ASSERT_EQ(EFI_SUCCESS, GetDisplayEdid(&bench.context, 4, buffer.data(), &size));
    EXPECT_EQ(256u, size);  // what was read, whatever the buffer could hold
    EXPECT_TRUE(std::equal(bench.digital.begin(), bench.digital.end(), buffer.begin()));
    EXPECT_TRUE(std::all_of(buffer.begin() + 256, buffer.end(), [](uint8_t b) { return b == 0x5A; }));
  }
  // Without extensions a long buffer gets the base block alone.
  std::fill(buffer.begin(), buffer.end(), 0x5A);
  size = 256;
  ASSERT_EQ(EFI_SUCCESS, GetDisplayEdid(&bench.context, 8, buffer.data(), &size));
  EXPECT_EQ(128u, size);
  EXPECT_TRUE(std::equal(bench.analogue.begin(), bench.analogue.end(), buffer.begin()));
  EXPECT_TRUE(std::all_of(buffer.begin() + 128, buffer.end(), [](uint8_t b) { return b == 0x5A; }));
  // The display gone: the long read fails even though the cache is valid.
  bench.Attach(1, {});
  size = 256;
  EXPECT_EQ(EFI_NOT_FOUND, GetDisplayEdid(&bench.context, 2, buffer.data(), &size));
}

TEST(GetDisplayEdid, KindsWithoutChannelOrValidBlockAreNotFound) {
  QueryBench bench;
  uint8_t buffer[128];
  for (uint64_t kind : {16u, 1u, 3u, 0u, 128u}) {
    uint64_t size = 128;
    EXPECT_EQ(EFI_NOT_FOUND, GetDisplayEdid(&bench.context, kind, buffer, &size)) << kind;
  }
  // Only channels 1 and 2 are cached: nothing on channel 2 means no TV EDID.
  Bench empty;
  uint64_t size = 128;
  EXPECT_EQ(EFI_NOT_FOUND, GetDisplayEdid(&empty.context, 32, buffer, &size));
  EXPECT_EQ(EFI_NOT_FOUND, GetDisplayEdid(&empty.context, 2, buffer, &size));
}

TEST(ReadCachedEdids, ReadsChannelsOneAndTwoOnceAndNeverChannelThree) {
  Bench bench;
  std::vector<uint8_t> one = MakeEdid(0), three = MakeEdid(0);
  bench.Attach(1, one);
  bench.Attach(3, three);
  EXPECT_EQ(EFI_SUCCESS, ReadCachedEdids(&bench.context));
  EXPECT_EQ(1, bench.context.EdidsRead);
  EXPECT_EQ(1, bench.context.EdidValid1);
  EXPECT_EQ(0, bench.context.EdidValid2);
  EXPECT_EQ(0, bench.context.EdidValid3);
  EXPECT_EQ(0, std::memcmp(one.data(), bench.context.Edid1, 128));
  EXPECT_EQ(0u, bench.Bus(3).starts);
  EXPECT_EQ(9u, bench.Bus(2).stops);  // one probe, no retries
  // No output is switched for the cache.
  EXPECT_FALSE(bench.adapter().DecodeOutput(Output::kDacA).enabled);

  const uint32_t starts = bench.Bus(1).starts;
  bench.Attach(1, {});
  EXPECT_EQ(EFI_SUCCESS, ReadCachedEdids(&bench.context));
  uint8_t buffer[128];
  uint64_t size = 128;
  EXPECT_EQ(EFI_SUCCESS, GetDisplayEdid(&bench.context, 2, buffer, &size));
  EXPECT_EQ(0, std::memcmp(one.data(), buffer, 128));
  EXPECT_EQ(starts, bench.Bus(1).starts);
}

}  // namespace
