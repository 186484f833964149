#include "sim/adapter/kt270_pci_device.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <utility>

namespace kt270 {
namespace {

void* HostAlloc(void*, size_t size) { return std::malloc(size); }
void HostFree(void*, void* block) { std::free(block); }

Stride ToStride(sim::PciStride s) {
  switch (s) {
    case sim::PciStride::Fifo: return Stride::kFifo;
    case sim::PciStride::Fill: return Stride::kFill;
    case sim::PciStride::Normal: break;
  }
  return Stride::kNormal;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

Kt270PciDevice::Kt270PciDevice(const Config& config, std::function<uint64_t()> now_us)
    : now_us_(std::move(now_us)), adapter_(nullptr) {
  Env env{this, &HostAlloc, &HostFree, &Kt270PciDevice::Now};
  adapter_ = Adapter::Create(env, config);
  if (adapter_ == nullptr) throw std::bad_alloc();
}

Kt270PciDevice::~Kt270PciDevice() { Adapter::Destroy(adapter_); }

bool Kt270PciDevice::DescribeBarResource(uint8_t bar, sim::BarDescription* out) const {
  bool io = false;
  if (!adapter_->BarRange(bar, &out->address, &out->size, &io)) return false;
  out->kind = io ? sim::BarKind::kIo : sim::BarKind::kMemory;
  return true;
}

uint64_t Kt270PciDevice::Now(void* self) {
  auto* device = static_cast<Kt270PciDevice*>(self);
  return device->now_us_ ? device->now_us_() : 0;
}

bool Kt270PciDevice::ConfigRead(uint32_t offset, unsigned width, size_t count, void* buffer) {
  return adapter_->ConfigRead(offset, width, count, buffer);
}

bool Kt270PciDevice::ConfigWrite(uint32_t offset, unsigned width, size_t count,
                                 const void* buffer) {
  return adapter_->ConfigWrite(offset, width, count, buffer);
}

bool Kt270PciDevice::MemRead(uint8_t bar, uint64_t offset, unsigned width, size_t count,
                             sim::PciStride stride, void* buffer) {
  return adapter_->MemRead(bar, offset, width, count, ToStride(stride), buffer);
}

bool Kt270PciDevice::MemWrite(uint8_t bar, uint64_t offset, unsigned width, size_t count,
                              sim::PciStride stride, const void* buffer) {
  return adapter_->MemWrite(bar, offset, width, count, ToStride(stride), buffer);
}

std::vector<uint8_t> LoadEdidFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::vector<uint8_t> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  static const uint8_t kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  if (raw.size() >= 8 && std::equal(kHeader, kHeader + 8, raw.begin())) {
    return raw;
  }
  std::vector<uint8_t> bytes;
  int high = -1;
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = static_cast<char>(raw[i]);
    if (c == '0' && i + 1 < raw.size() && (raw[i + 1] == 'x' || raw[i + 1] == 'X')) {
      if (high >= 0) return {};
      ++i;
      continue;
    }
    int d = HexDigit(c);
    if (d < 0) {
      if (!std::isspace(static_cast<unsigned char>(c)) && c != ',') return {};
      if (high >= 0) return {};  // a lone digit
      continue;
    }
    if (high < 0) {
      high = d;
    } else {
      bytes.push_back(static_cast<uint8_t>(high << 4 | d));
      high = -1;
    }
  }
  if (high >= 0 || bytes.empty() || bytes.size() % 128 != 0) return {};
  return bytes;
}

bool LoadMonitor(const std::string& path, Connector connector, HostMonitor* out) {
  std::vector<uint8_t> edid = LoadEdidFile(path);
  if (edid.empty()) return false;
  out->edid = std::move(edid);
  out->connector = connector;
  out->ddc = NoFaults();
  return true;
}

}  // namespace kt270
