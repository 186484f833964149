// Byte layout of a PCI expansion-ROM image holding one EFI image (PCI
// Firmware 3.0, with the EFI ROM header of the UEFI PCI option ROM chapter).
// The checker keeps its own offsets, so a mistake here cannot agree with it.
#pragma once

#include <cstdint>

namespace rom {

constexpr uint32_t kUnit = 512;  // every length in the headers counts these

// EFI PCI expansion ROM header.
constexpr uint32_t kSignature = 0x00;         // u16 0xAA55
constexpr uint32_t kInitSize = 0x02;          // u16, units
constexpr uint32_t kEfiSignature = 0x04;      // u32 0x0EF1
constexpr uint32_t kEfiSubsystem = 0x08;      // u16
constexpr uint32_t kEfiMachine = 0x0A;        // u16
constexpr uint32_t kCompression = 0x0C;       // u16, 0 = uncompressed, 1 = compressed
constexpr uint32_t kReserved = 0x0E;          // 8 bytes, zero
constexpr uint32_t kEfiImageOffset = 0x16;    // u16, from the image start
constexpr uint32_t kPcirOffset = 0x18;        // u16, from the image start
constexpr uint32_t kHeaderSize = 0x1A;

// PCI Data Structure, revision 3.
constexpr uint32_t kPcirSignature = 0x00;     // "PCIR"
constexpr uint32_t kPcirVendor = 0x04;
constexpr uint32_t kPcirDevice = 0x06;
constexpr uint32_t kPcirDeviceList = 0x08;    // u16, from the PCIR start
constexpr uint32_t kPcirLength = 0x0A;        // u16, bytes
constexpr uint32_t kPcirRevision = 0x0C;
constexpr uint32_t kPcirClass = 0x0D;         // interface, subclass, base class
constexpr uint32_t kPcirImageLength = 0x10;   // u16, units
constexpr uint32_t kPcirCodeRevision = 0x12;
constexpr uint32_t kPcirCodeType = 0x14;
constexpr uint32_t kPcirIndicator = 0x15;     // bit 7: last image
constexpr uint32_t kPcirMaxRuntime = 0x16;    // u16, units
constexpr uint32_t kPcirConfigUtility = 0x18; // u16
constexpr uint32_t kPcirClp = 0x1A;           // u16
constexpr uint32_t kPcirSize = 0x1C;

constexpr uint16_t kRomSignature = 0xAA55;
constexpr uint32_t kEfiRomSignature = 0x0EF1;
constexpr uint16_t kCompressed = 1;  // as EFI_DECOMPRESS_PROTOCOL undoes it
constexpr uint8_t kCodeTypeEfi = 3;
constexpr uint8_t kLastImage = 0x80;

}  // namespace rom
