// PCI I/O member functions: width/count decoding, the checks the PCI bus
// driver and root bridge make before an access reaches the device, and
// Attributes with the command-register side effects the bus driver has.
#include "sim/firmware/pci_io.h"

#include <cstring>

#include "sim/firmware/firmware.h"

namespace sim {

namespace {

constexpr uint64_t kPciIoMagic = 0x4F494943504D4953ULL;  // "SIMPCIIO"
constexpr uint16_t kCommandIo = 0x0001;
constexpr uint16_t kCommandMemory = 0x0002;
constexpr uint16_t kCommandBusMaster = 0x0004;

struct Decoded {
  unsigned size;
  PciStride stride;
};

bool Decode(EFI_PCI_IO_PROTOCOL_WIDTH width, Decoded* out) {
  if (static_cast<uint32_t>(width) >= EfiPciIoWidthMaximum) return false;
  out->size = 1U << (width & 3);
  switch (width >> 2) {
    case 0: out->stride = PciStride::Normal; break;
    case 1: out->stride = PciStride::Fifo; break;
    default: out->stride = PciStride::Fill; break;
  }
  return true;
}

// Bytes of the device the access covers: a FIFO access stays on one element.
uint64_t Span(const Decoded& d, uint64_t count) { return d.stride == PciStride::Fifo ? d.size : d.size * count; }

uint16_t CommandBits(uint64_t attributes) {
  uint16_t bits = 0;
  if ((attributes & EFI_PCI_IO_ATTRIBUTE_IO) != 0) bits |= kCommandIo;
  if ((attributes & EFI_PCI_IO_ATTRIBUTE_MEMORY) != 0) bits |= kCommandMemory;
  if ((attributes & EFI_PCI_IO_ATTRIBUTE_BUS_MASTER) != 0) bits |= kCommandBusMaster;
  return bits;
}

}  // namespace

struct PciIoAccess {
#define PCI_ENTER(member)                                 \
  PciIoStandIn* io = PciIoStandIn::From(This);            \
  if (io == nullptr) return EFI_INVALID_PARAMETER;        \
  do {                                                    \
    EFI_STATUS injected_;                                 \
    if (io->Enter(member, &injected_)) return injected_;  \
  } while (0)

  static EFI_STATUS Config(PciIoStandIn* io, bool write, EFI_PCI_IO_PROTOCOL_WIDTH width, UINT32 offset,
                           UINTN count, VOID* buffer) {
    Decoded d;
    if (!Decode(width, &d) || buffer == nullptr) return EFI_INVALID_PARAMETER;
    if (count == 0) return EFI_SUCCESS;
    if ((offset & (d.size - 1)) != 0) return EFI_UNSUPPORTED;
    if (offset + Span(d, count) > io->options_.config_size) return EFI_UNSUPPORTED;
    // The device's configuration entry points know no stride: FIFO and
    // fill accesses (which nothing here uses) go over element by element.
    if (d.stride == PciStride::Normal) {
      bool ok = write ? io->device_->ConfigWrite(offset, d.size, count, buffer)
                      : io->device_->ConfigRead(offset, d.size, count, buffer);
      return ok ? EFI_SUCCESS : EFI_UNSUPPORTED;
    }
    auto* bytes = static_cast<uint8_t*>(buffer);
    for (UINTN i = 0; i < count; ++i) {
      uint32_t at = d.stride == PciStride::Fifo ? offset : offset + static_cast<uint32_t>(i * d.size);
      uint8_t* element = d.stride == PciStride::Fill ? bytes : bytes + i * d.size;
      bool ok = write ? io->device_->ConfigWrite(at, d.size, 1, element)
                      : io->device_->ConfigRead(at, d.size, 1, element);
      if (!ok) return EFI_UNSUPPORTED;
    }
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI PciRead(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH width, UINT32 offset,
                                   UINTN count, VOID* buffer) {
    PCI_ENTER("Pci.Read");
    return Config(io, false, width, offset, count, buffer);
  }

  static EFI_STATUS EFIAPI PciWrite(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH width, UINT32 offset,
                                    UINTN count, VOID* buffer) {
    PCI_ENTER("Pci.Write");
    return Config(io, true, width, offset, count, buffer);
  }

  static EFI_STATUS Memory(PciIoStandIn* io, bool write, EFI_PCI_IO_PROTOCOL_WIDTH width, UINT8 bar,
                           UINT64 offset, UINTN count, VOID* buffer) {
    Decoded d;
    if (!Decode(width, &d) || buffer == nullptr) return EFI_INVALID_PARAMETER;
    if (bar == EFI_PCI_IO_PASS_THROUGH_BAR) return io->firmware_->Unsupported("Mem (pass-through BAR)");
    if (bar >= 6) return EFI_INVALID_PARAMETER;
    if (count == 0) return EFI_SUCCESS;
    BarDescription desc;
    if (io->device_->DescribeBar(bar, &desc)) {
      if (desc.kind != BarKind::kMemory) return EFI_INVALID_PARAMETER;
      if (offset >= desc.size || Span(d, count) > desc.size - offset) return EFI_INVALID_PARAMETER;
    }
    if ((offset & (d.size - 1)) != 0) return EFI_UNSUPPORTED;
    bool ok = write ? io->device_->MemWrite(bar, offset, d.size, count, d.stride, buffer)
                    : io->device_->MemRead(bar, offset, d.size, count, d.stride, buffer);
    return ok ? EFI_SUCCESS : EFI_UNSUPPORTED;
  }

  static EFI_STATUS EFIAPI MemRead(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH width, UINT8 bar,
                                   UINT64 offset, UINTN count, VOID* buffer) {
    PCI_ENTER("Mem.Read");
    return Memory(io, false, width, bar, offset, count, buffer);
  }

  static EFI_STATUS EFIAPI MemWrite(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH width, UINT8 bar,
                                    UINT64 offset, UINTN count, VOID* buffer) {
    PCI_ENTER("Mem.Write");
    return Memory(io, true, width, bar, offset, count, buffer);
  }

  static EFI_STATUS SetCommand(PciIoStandIn* io, uint16_t set, uint16_t clear) {
    if (set == 0 && clear == 0) return EFI_SUCCESS;
    uint16_t command = 0;
    if (!io->device_->ConfigRead(0x04, 2, 1, &command)) return EFI_UNSUPPORTED;
    command = static_cast<uint16_t>((command | set) & ~clear);
    return io->device_->ConfigWrite(0x04, 2, 1, &command) ? EFI_SUCCESS : EFI_UNSUPPORTED;
  }

  static EFI_STATUS DoAttributes(PciIoStandIn* io, EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION op, UINT64 attributes,
                                 UINT64* result) {
    uint64_t supported = io->options_.supported_attributes;
    switch (op) {
      case EfiPciIoAttributeOperationGet:
      case EfiPciIoAttributeOperationSupported:
        if (result == nullptr) return EFI_INVALID_PARAMETER;
        *result = op == EfiPciIoAttributeOperationGet ? io->attributes_ : supported;
        return EFI_SUCCESS;
      case EfiPciIoAttributeOperationSet: {
        if ((attributes & ~supported) != 0) return EFI_UNSUPPORTED;
        uint16_t want = CommandBits(attributes);
        EFI_STATUS s = SetCommand(io, want, static_cast<uint16_t>(~want & (kCommandIo | kCommandMemory |
                                                                            kCommandBusMaster)));
        if (s == EFI_SUCCESS) io->attributes_ = attributes;
        return s;
      }
      case EfiPciIoAttributeOperationEnable: {
        if ((attributes & ~supported) != 0) return EFI_UNSUPPORTED;
        EFI_STATUS s = SetCommand(io, CommandBits(attributes), 0);
        if (s == EFI_SUCCESS) io->attributes_ |= attributes;
        return s;
      }
      case EfiPciIoAttributeOperationDisable: {
        if ((attributes & ~supported) != 0) return EFI_UNSUPPORTED;
        EFI_STATUS s = SetCommand(io, 0, CommandBits(attributes));
        if (s == EFI_SUCCESS) io->attributes_ &= ~attributes;
        return s;
      }
      default:
        return EFI_INVALID_PARAMETER;
    }
  }

  static EFI_STATUS EFIAPI Attributes(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION op,
                                      UINT64 attributes, UINT64* result) {
    PciIoStandIn* io = PciIoStandIn::From(This);
    if (io == nullptr) return EFI_INVALID_PARAMETER;
    EFI_STATUS status;
    if (!io->Enter("Attributes", &status)) status = DoAttributes(io, op, attributes, result);
    io->attribute_calls_.push_back(AttributeCall{op, attributes, status});
    return status;
  }

  static EFI_STATUS EFIAPI GetLocation(EFI_PCI_IO_PROTOCOL* This, UINTN* segment, UINTN* bus, UINTN* device,
                                       UINTN* function) {
    PCI_ENTER("PciIo.GetLocation");
    if (segment == nullptr || bus == nullptr || device == nullptr || function == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    *segment = io->options_.segment;
    *bus = io->options_.bus;
    *device = io->options_.device;
    *function = io->options_.function;
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI Flush(EFI_PCI_IO_PROTOCOL* This) {
    PCI_ENTER("PciIo.Flush");
    return EFI_SUCCESS;
  }

  // Members this stand-in does not model: counted, recorded, refused.
  static EFI_STATUS Refuse(EFI_PCI_IO_PROTOCOL* This, const char* member) {
    PCI_ENTER(member);
    return io->firmware_->Unsupported(member);
  }
  static EFI_STATUS EFIAPI PollMem(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH, UINT8, UINT64, UINT64,
                                   UINT64, UINT64, UINT64*) {
    return Refuse(This, "PciIo.PollMem");
  }
  static EFI_STATUS EFIAPI PollIo(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH, UINT8, UINT64, UINT64,
                                  UINT64, UINT64, UINT64*) {
    return Refuse(This, "PciIo.PollIo");
  }
  static EFI_STATUS EFIAPI IoRead(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH, UINT8, UINT64, UINTN,
                                  VOID*) {
    return Refuse(This, "Io.Read");
  }
  static EFI_STATUS EFIAPI IoWrite(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH, UINT8, UINT64, UINTN,
                                   VOID*) {
    return Refuse(This, "Io.Write");
  }
  static EFI_STATUS EFIAPI CopyMem(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH, UINT8, UINT64, UINT8,
                                   UINT64, UINTN) {
    return Refuse(This, "PciIo.CopyMem");
  }
  static EFI_STATUS EFIAPI Map(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_OPERATION, VOID*, UINTN*,
                               EFI_PHYSICAL_ADDRESS*, VOID**) {
    return Refuse(This, "PciIo.Map");
  }
  static EFI_STATUS EFIAPI Unmap(EFI_PCI_IO_PROTOCOL* This, VOID*) { return Refuse(This, "PciIo.Unmap"); }
  static EFI_STATUS EFIAPI AllocateBuffer(EFI_PCI_IO_PROTOCOL* This, EFI_ALLOCATE_TYPE, EFI_MEMORY_TYPE, UINTN,
                                          VOID**, UINT64) {
    return Refuse(This, "PciIo.AllocateBuffer");
  }
  static EFI_STATUS EFIAPI FreeBuffer(EFI_PCI_IO_PROTOCOL* This, UINTN, VOID*) {
    return Refuse(This, "PciIo.FreeBuffer");
  }
  // One QWORD address space descriptor and the end tag, in pool the
  // caller frees (and is charged for until it does).
  static EFI_STATUS EFIAPI GetBarAttributes(EFI_PCI_IO_PROTOCOL* This, UINT8 bar, UINT64* supports,
                                            VOID** resources) {
    PCI_ENTER("PciIo.GetBarAttributes");
    if (supports == nullptr && resources == nullptr) return EFI_INVALID_PARAMETER;
    BarDescription desc;
    if (bar >= 6 || !io->device_->DescribeBarResource(bar, &desc) || desc.kind == BarKind::kNone) {
      return EFI_UNSUPPORTED;
    }
    if (supports != nullptr) {
      *supports = desc.kind == BarKind::kMemory ? EFI_PCI_IO_ATTRIBUTE_MEMORY_WRITE_COMBINE : 0;
    }
    if (resources == nullptr) return EFI_SUCCESS;
    constexpr size_t kSize = sizeof(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR) + sizeof(EFI_ACPI_END_TAG_DESCRIPTOR);
    void* block = nullptr;
    EFI_STATUS status = io->firmware_->AllocatePool(EfiBootServicesData, kSize, &block, Site::kDriver);
    if (status != EFI_SUCCESS) return EFI_OUT_OF_RESOURCES;
    EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR d{};
    d.Desc = ACPI_ADDRESS_SPACE_DESCRIPTOR;
    d.Len = sizeof(d) - 3;
    d.ResType = desc.kind == BarKind::kMemory ? ACPI_ADDRESS_SPACE_TYPE_MEM : ACPI_ADDRESS_SPACE_TYPE_IO;
    d.AddrSpaceGranularity = 32;
    d.AddrRangeMin = desc.address;
    d.AddrRangeMax = desc.size - 1;  // the alignment, as the bus driver reports it
    d.AddrLen = desc.size;
    EFI_ACPI_END_TAG_DESCRIPTOR end{ACPI_END_TAG_DESCRIPTOR, 0};
    std::memcpy(block, &d, sizeof d);
    std::memcpy(static_cast<uint8_t*>(block) + sizeof d, &end, sizeof end);
    *resources = block;
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI SetBarAttributes(EFI_PCI_IO_PROTOCOL* This, UINT64, UINT8, UINT64*, UINT64*) {
    return Refuse(This, "PciIo.SetBarAttributes");
  }
#undef PCI_ENTER
};

PciIoStandIn::PciIoStandIn(Firmware* firmware, PciDevice* device, const PciControllerOptions& options)
    : proto_{}, magic_(kPciIoMagic), firmware_(firmware), device_(device), options_(options),
      attributes_(options.attributes) {
  proto_.PollMem = &PciIoAccess::PollMem;
  proto_.PollIo = &PciIoAccess::PollIo;
  proto_.Mem.Read = &PciIoAccess::MemRead;
  proto_.Mem.Write = &PciIoAccess::MemWrite;
  proto_.Io.Read = &PciIoAccess::IoRead;
  proto_.Io.Write = &PciIoAccess::IoWrite;
  proto_.Pci.Read = &PciIoAccess::PciRead;
  proto_.Pci.Write = &PciIoAccess::PciWrite;
  proto_.CopyMem = &PciIoAccess::CopyMem;
  proto_.Map = &PciIoAccess::Map;
  proto_.Unmap = &PciIoAccess::Unmap;
  proto_.AllocateBuffer = &PciIoAccess::AllocateBuffer;
  proto_.FreeBuffer = &PciIoAccess::FreeBuffer;
  proto_.Flush = &PciIoAccess::Flush;
  proto_.GetLocation = &PciIoAccess::GetLocation;
  proto_.Attributes = &PciIoAccess::Attributes;
  proto_.GetBarAttributes = &PciIoAccess::GetBarAttributes;
  proto_.SetBarAttributes = &PciIoAccess::SetBarAttributes;
  proto_.RomSize = 0;
  proto_.RomImage = nullptr;

  // ACPI(PNP0A03, 0) / PCI(device, function) / end.
  ACPI_HID_DEVICE_PATH root = {{ACPI_DEVICE_PATH, ACPI_DP, {sizeof(ACPI_HID_DEVICE_PATH), 0}}, 0x0A0341D0, 0};
  PCI_DEVICE_PATH pci = {{HARDWARE_DEVICE_PATH, HW_PCI_DP, {sizeof(PCI_DEVICE_PATH), 0}}, options.function,
                         options.device};
  EFI_DEVICE_PATH_PROTOCOL end = {END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, {4, 0}};
  static_assert(sizeof root + sizeof pci + sizeof end == kDevicePathSize, "device path size");
  std::memcpy(path_, &root, sizeof root);
  std::memcpy(path_ + sizeof root, &pci, sizeof pci);
  std::memcpy(path_ + sizeof root + sizeof pci, &end, sizeof end);
}

PciIoStandIn* PciIoStandIn::From(EFI_PCI_IO_PROTOCOL* This) {
  if (This == nullptr) return nullptr;
  // Only stand-ins the current firmware made are trusted.
  PciIoStandIn* io = Firmware::Current().FindPciIo(This);
  return io != nullptr && io->magic_ == kPciIoMagic ? io : nullptr;
}

bool PciIoStandIn::Enter(const char* member, EFI_STATUS* status) {
  ++total_calls_;
  uint64_t* counter = nullptr;
  for (const auto& slot : last_) {
    if (slot.first == member) counter = slot.second;
  }
  if (counter == nullptr) {
    counter = &counts_[member];
    for (size_t i = sizeof(last_) / sizeof(last_[0]) - 1; i > 0; --i) last_[i] = last_[i - 1];
    last_[0] = {member, counter};
  }
  ++*counter;
  return firmware_->Enter(member, status);
}

uint64_t PciIoStandIn::calls(const std::string& member) const {
  auto it = counts_.find(member);
  return it == counts_.end() ? 0 : it->second;
}

void PciIoStandIn::ResetCounts() {
  counts_.clear();
  for (auto& slot : last_) slot = {nullptr, nullptr};
  total_calls_ = 0;
}

}  // namespace sim
