#include "sim/firmware/config_space_device.h"

#include <cstring>

namespace sim {

namespace {

uint64_t First(const void* buffer, unsigned width) {
  uint64_t v = 0;
  std::memcpy(&v, buffer, width);
  return v;
}

}  // namespace

ConfigSpaceDevice::ConfigSpaceDevice(uint16_t vendor_id, uint16_t device_id) {
  std::memset(config_, 0, sizeof config_);
  config_[0] = static_cast<uint8_t>(vendor_id);
  config_[1] = static_cast<uint8_t>(vendor_id >> 8);
  config_[2] = static_cast<uint8_t>(device_id);
  config_[3] = static_cast<uint8_t>(device_id >> 8);
  config_[0x0B] = 0x03;  // display controller
  config_[0x0E] = 0x00;  // type 0 header
}

void ConfigSpaceDevice::SetMemoryBar(unsigned index, uint32_t base, uint32_t size) {
  Bar& bar = bars_[index];
  bar.kind = BarKind::kMemory;
  bar.size = size;
  bar.memory.assign(size, 0);
  uint32_t value = base & ~(size - 1) & ~0xFU;
  std::memcpy(config_ + 0x10 + 4 * index, &value, 4);
}

void ConfigSpaceDevice::SetIoBar(unsigned index, uint32_t base, uint32_t size) {
  Bar& bar = bars_[index];
  bar.kind = BarKind::kIo;
  bar.size = size;
  bar.memory.clear();
  uint32_t value = (base & ~(size - 1) & ~0x3U) | 1U;
  std::memcpy(config_ + 0x10 + 4 * index, &value, 4);
}

// Command bits 0..10 and the BARs' address bits are writable, as are the
// cache-line size, latency timer and interrupt line; the rest is read-only.
void ConfigSpaceDevice::WriteByte(uint32_t offset, uint8_t value) {
  if (offset == 0x04) {
    config_[4] = value;
  } else if (offset == 0x05) {
    config_[5] = value & 0x07;
  } else if (offset == 0x0C || offset == 0x0D || offset == 0x3C) {
    config_[offset] = value;
  } else if (offset >= 0x10 && offset < 0x28) {
    unsigned index = (offset - 0x10) / 4;
    const Bar& bar = bars_[index];
    if (bar.kind == BarKind::kNone) return;
    uint32_t low_bits = bar.kind == BarKind::kMemory ? 0xFU : 0x3U;
    uint32_t writable = ~(bar.size - 1) & ~low_bits;
    unsigned shift = 8 * ((offset - 0x10) % 4);
    uint8_t mask = static_cast<uint8_t>(writable >> shift);
    config_[offset] = static_cast<uint8_t>((config_[offset] & ~mask) | (value & mask));
  }
}

bool ConfigSpaceDevice::ConfigRead(uint32_t offset, unsigned width, size_t count, void* buffer) {
  if (offset + width * count > sizeof config_) return false;
  std::memcpy(buffer, config_ + offset, width * count);
  calls_.push_back(Call{true, false, 0, offset, width, count, PciStride::Normal, First(buffer, width)});
  return true;
}

bool ConfigSpaceDevice::ConfigWrite(uint32_t offset, unsigned width, size_t count, const void* buffer) {
  if (offset + width * count > sizeof config_) return false;
  calls_.push_back(Call{true, true, 0, offset, width, count, PciStride::Normal, First(buffer, width)});
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  for (size_t i = 0; i < width * count; ++i) WriteByte(offset + static_cast<uint32_t>(i), bytes[i]);
  return true;
}

bool ConfigSpaceDevice::MemRead(uint8_t bar, uint64_t offset, unsigned width, size_t count, PciStride stride,
                                void* buffer) {
  if (bar >= 6 || bars_[bar].kind != BarKind::kMemory) return false;
  std::vector<uint8_t>& mem = bars_[bar].memory;
  auto* out = static_cast<uint8_t*>(buffer);
  for (size_t i = 0; i < count; ++i) {
    uint64_t at = stride == PciStride::Fifo ? offset : offset + i * width;
    if (at + width > mem.size()) return false;
    std::memcpy(stride == PciStride::Fill ? out : out + i * width, mem.data() + at, width);
  }
  calls_.push_back(Call{false, false, bar, offset, width, count, stride, First(buffer, width)});
  return true;
}

bool ConfigSpaceDevice::MemWrite(uint8_t bar, uint64_t offset, unsigned width, size_t count, PciStride stride,
                                 const void* buffer) {
  if (bar >= 6 || bars_[bar].kind != BarKind::kMemory) return false;
  calls_.push_back(Call{false, true, bar, offset, width, count, stride, First(buffer, width)});
  std::vector<uint8_t>& mem = bars_[bar].memory;
  const auto* in = static_cast<const uint8_t*>(buffer);
  for (size_t i = 0; i < count; ++i) {
    uint64_t at = stride == PciStride::Fifo ? offset : offset + i * width;
    if (at + width > mem.size()) return false;
    std::memcpy(mem.data() + at, stride == PciStride::Fill ? in : in + i * width, width);
  }
  return true;
}

bool ConfigSpaceDevice::DescribeBar(uint8_t bar, BarDescription* out) const {
  if (bar >= 6) return false;
  out->kind = bars_[bar].kind;
  out->size = bars_[bar].size;
  uint32_t raw = static_cast<uint32_t>(config_[0x10 + 4 * bar] | config_[0x11 + 4 * bar] << 8 |
                                       config_[0x12 + 4 * bar] << 16 | static_cast<uint32_t>(config_[0x13 + 4 * bar]) << 24);
  out->address = raw & (out->kind == BarKind::kIo ? ~0x3u : ~0xFu);
  return true;
}

}  // namespace sim
