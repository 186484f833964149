// Host glue: EDID files and the PCI device's forwarding.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "tests/adapter/model_fixture.h"

namespace kt270::test {
namespace {

std::string TempFile(const std::string& name, const std::string& bytes) {
  std::string path = ::testing::TempDir() + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

TEST(Host, EdidFilesBinaryOrHexText) {
  std::vector<uint8_t> edid = MakeEdid(0x01, 0, 0);
  std::string raw(edid.begin(), edid.end());
  EXPECT_EQ(LoadEdidFile(TempFile("edid.bin", raw)), edid);
  std::string text;
  char buf[8];
  for (size_t i = 0; i < edid.size(); ++i) {
    std::snprintf(buf, sizeof buf, i % 16 == 15 ? "%02x\n" : "0x%02X, ", edid[i]);
    text += buf;
  }
  EXPECT_EQ(LoadEdidFile(TempFile("edid.hex", text)), edid);
  EXPECT_TRUE(LoadEdidFile(TempFile("short.hex", "00 ff ff")).empty());
  EXPECT_TRUE(LoadEdidFile(TempFile("junk.hex", text + "zz")).empty());
  EXPECT_TRUE(LoadEdidFile(::testing::TempDir() + "missing.bin").empty());
  HostMonitor mon;
  ASSERT_TRUE(LoadMonitor(TempFile("m.bin", raw), Connector::kAnalogB, &mon));
  EXPECT_EQ(mon.view().connector, Connector::kAnalogB);
  EXPECT_EQ(mon.view().edid_size, 128u);
}

TEST(Host, PciDeviceForwardsStridesAndTime) {
  uint64_t clock = 42;
  Config c = DefaultConfig();
  c.command = 0x0002;
  Kt270PciDevice dev(c, [&] { return clock; });
  TraceLog log;
  dev.adapter().SetTrace(&TraceLog::Sink, &log);
  uint32_t v[3] = {5, 6, 7};
  ASSERT_TRUE(dev.MemWrite(0, 0x100, 4, 3, sim::PciStride::Fill, v));
  uint32_t back[3] = {0, 0, 0};
  ASSERT_TRUE(dev.MemRead(0, 0x100, 4, 3, sim::PciStride::Normal, back));
  EXPECT_EQ(back[2], 5u);
  ASSERT_TRUE(dev.MemRead(0, 0x100, 4, 3, sim::PciStride::Fifo, back));
  ASSERT_EQ(log.records.size(), 3u);
  EXPECT_EQ(log.records[0].time_us, 42u);
  EXPECT_EQ(log.records[0].space, Space::kBar0);
  EXPECT_EQ(log.records[2].stride, Stride::kFifo);
  EXPECT_FALSE(dev.MemRead(1, 0, 4, 1, sim::PciStride::Normal, back));
}

}  // namespace
}  // namespace kt270::test
