// PCI configuration space of the adapter, as the driver reads and writes it
// through PCI I/O's Pci.Read and Pci.Write.
#pragma once

#include "efi/efi.h"

constexpr UINT32 PCI_CONFIG_SIZE = 256;

constexpr UINT32 PCI_DEVICE_ID = 0x02;  // 16 bits
constexpr UINT32 PCI_COMMAND = 0x04;    // 16 bits
constexpr UINT16 PCI_COMMAND_IO = 0x0001;
constexpr UINT16 PCI_COMMAND_MEMORY = 0x0002;
constexpr UINT16 PCI_COMMAND_BUS_MASTER = 0x0004;
constexpr UINT16 PCI_COMMAND_DECODE = PCI_COMMAND_IO | PCI_COMMAND_MEMORY | PCI_COMMAND_BUS_MASTER;

constexpr UINT32 PCI_BAR0 = 0x10;  // frame-buffer aperture
constexpr UINT32 PCI_BAR1 = 0x14;  // I/O space
constexpr UINT32 PCI_BAR2 = 0x18;  // register aperture
constexpr UINT32 PCI_BAR_ADDRESS_MASK = 0xFFFFFF00;  // as the adapter properties publish it

// The BAR indices PCI I/O's Mem.Read and Mem.Write take.
#define FRAME_BUFFER_BAR 0
#define REGISTER_BAR 2
