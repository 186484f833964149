// The platform's side of the driver: sequences of SetInfo, GetInfo and Query
// on the two interfaces Start installs, with the platform values GetValue
// answers. Every buffer is exactly as large as the size passed with it.
//
// Input: one byte of set-up (bits 0-1 the connector of the monitor, bit 2 no
// monitor, bit 3 SetMode(1024, 768) first), then operations of a kind byte
// (low 2 bits), a key byte and a u16 size:
//   0 SetInfo: size bit 15 passes a null buffer, else the low 15 bits give
//     the size and that many data bytes follow;
//   1 GetInfo: bit 15 null buffer, bit 14 null Size, low 14 bits *Size;
//   2 Query: key byte % 7 = 0 all results, i = result i left null;
//   3 platform value: key byte picks one of kValueKeys, a u32 value follows.
// Key bytes: below kKeyCount a key of kKeys; 0x40..0x7F a GUID of the next
// 16 bytes; anything else a key of kKeys with its last byte changed.
// The release key ends the sequence.
#include <cstdint>
#include <cstring>
#include <vector>

#include "efi/efi_guids.h"
#include "efi/efi_uga_draw.h"
#include "efi/quovan_interfaces.h"
#include "sim/platform/platform_stand_in.h"
#include "tests/fuzz/harness.h"
#include "sim/edid/edid_builder.h"
#include "tests/support/rig.h"

namespace {

// The platform's keys, set keys first: select connector, platform
// information, saved configuration, panel, television standard, reserved;
// then the get keys: connector flags, EDID, link limits, answer; release.
const EFI_GUID kKeys[] = {
    {0xD2C9944A, 0x0F9D, 0x4649, {0x95, 0x4F, 0x86, 0x2C, 0x14, 0x06, 0xF3, 0x20}},
    {0x2AA9D6C6, 0xE6A9, 0x4D10, {0xAF, 0xC7, 0x8F, 0xA7, 0x69, 0xEA, 0x0E, 0x74}},
    {0xEC34D7D5, 0x11E1, 0x4C73, {0x9D, 0x8F, 0xE1, 0x59, 0x9D, 0x2E, 0xCF, 0xB6}},
    {0xA9A835A6, 0x4630, 0x46D7, {0x93, 0x84, 0xFD, 0x07, 0x1E, 0x47, 0x66, 0x82}},
    {0xD8210070, 0xC890, 0x4859, {0xAD, 0xDE, 0xEF, 0x9D, 0x59, 0x7D, 0x75, 0xCC}},
    {0x1A29214B, 0x42CD, 0x4A64, {0x93, 0x56, 0x95, 0xD9, 0xEB, 0x20, 0xE9, 0x0F}},
    {0x3064B9C1, 0xF0FF, 0x4FA9, {0x84, 0x22, 0x6B, 0x64, 0xCA, 0x9F, 0x1D, 0xE1}},
    {0xD704179F, 0xF181, 0x4ED9, {0x87, 0xF7, 0x77, 0x01, 0x88, 0xEA, 0xE6, 0xB2}},
    {0x75B69F99, 0x6A24, 0x41E4, {0xA8, 0xBE, 0xD5, 0xE8, 0x58, 0xC0, 0x8D, 0x76}},
    {0x78446974, 0x3201, 0x4F0F, {0x8B, 0xD1, 0x96, 0x04, 0x8B, 0x7D, 0x10, 0x04}},
    {0x6CCB6605, 0x3070, 0x47F7, {0x9E, 0xA6, 0xEA, 0x83, 0x1F, 0x3D, 0x5B, 0x89}},
};
constexpr unsigned kKeyCount = sizeof kKeys / sizeof kKeys[0];
constexpr unsigned kReleaseKey = kKeyCount - 1;

// Keys the driver asks GetValue for: link type, the panel rows, the link
// rows, then the seven power-sequence members.
const EFI_GUID kValueKeys[] = {
    {0x62AEE891, 0xB278, 0x459F, {0xB0, 0xAE, 0x61, 0xF3, 0xAA, 0x30, 0x77, 0x33}},
    {0xC5C993AA, 0xA17C, 0x49E6, {0x8F, 0xE0, 0x21, 0x8D, 0x10, 0xCD, 0xF0, 0xCE}},
    {0xA739EF5B, 0x7899, 0x4ADC, {0xB8, 0x93, 0x3F, 0xDC, 0xBB, 0x2E, 0xD2, 0xF3}},
    {0x77017B49, 0x461E, 0x452A, {0xA4, 0x5C, 0x3E, 0x4B, 0xB4, 0x33, 0x36, 0x20}},
    {0x35A95C6A, 0x586C, 0x4EEB, {0xB6, 0xE3, 0xE0, 0x8F, 0x5A, 0x9D, 0x39, 0xB1}},
    {0xBAE81D3F, 0x0289, 0x4B70, {0x89, 0x01, 0xE5, 0x2A, 0x3D, 0xFB, 0x1A, 0x3C}},
    {0xC7E0B954, 0xFEB9, 0x4052, {0x86, 0xF3, 0x3B, 0x5E, 0x98, 0x1A, 0x03, 0x70}},
    {0xAEB9C015, 0xC75E, 0x4548, {0x95, 0x61, 0x41, 0xCF, 0x79, 0x6E, 0x08, 0x89}},
    {0x15904399, 0xF7E0, 0x4122, {0xAA, 0xAD, 0xD4, 0x1F, 0x61, 0x9B, 0x53, 0x5B}},
    {0x605A5ABA, 0x2CD2, 0x41A4, {0x8B, 0x42, 0x29, 0x91, 0xE1, 0x7F, 0x97, 0x8B}},
    {0x443BC2BD, 0x1864, 0x43DE, {0xBC, 0xC3, 0x6E, 0xE8, 0x4F, 0x8E, 0x08, 0x85}},
    {0x9DE9E4D3, 0xDE72, 0x4D80, {0xA5, 0xEE, 0x8C, 0x43, 0xE3, 0x9C, 0x4A, 0x8C}},
    {0x234747EB, 0xF62D, 0x45ED, {0xBB, 0x96, 0x59, 0x75, 0x23, 0xF5, 0x17, 0x08}},
    {0x022C6D84, 0xCEC3, 0x4BBD, {0xBA, 0x01, 0x66, 0x77, 0x6B, 0x6A, 0x2A, 0x29}},
    {0x9344ABF7, 0x78E0, 0x4224, {0xBD, 0x93, 0x4E, 0xD4, 0xAD, 0xAA, 0x2A, 0x8C}},
    {0x8F8D4BA3, 0xA614, 0x4A6A, {0x8E, 0x22, 0x76, 0xF9, 0x7C, 0x4D, 0x72, 0x56}},
};
constexpr unsigned kValueKeyCount = sizeof kValueKeys / sizeof kValueKeys[0];

constexpr unsigned kMaxOperations = 48;

// What the two interfaces may answer.
bool Documented(EFI_STATUS s) {
  return s == EFI_SUCCESS || s == EFI_INVALID_PARAMETER || s == EFI_UNSUPPORTED || s == EFI_BUFFER_TOO_SMALL ||
         s == EFI_NOT_READY || s == EFI_OUT_OF_RESOURCES || s == EFI_NOT_FOUND || s == EFI_NOT_STARTED ||
         s == EFI_DEVICE_ERROR;
}

// 1280 x 1024 at 108 MHz; digital, or analogue for the DAC connectors, or the
// board maker's television on its connector.
std::vector<uint8_t> MonitorEdid(kt270::Connector connector) {
  simedid::EdidBuilder e;
  e.Detailed(10800, 1280, 408, 48, 112, 1024, 42, 1, 3).Established(36, 3);
  switch (connector) {
    case kt270::Connector::kDigital: e.Digital(); break;
    case kt270::Connector::kTv: e.Vendor(0x08, 0x9D).Analogue().Byte(37, 0x60); break;
    default: e.Analogue(); break;
  }
  return e.Build();
}

EFI_GUID PickKey(fuzz::Input& in, uint8_t pick, unsigned* index) {
  *index = kKeyCount;
  if (pick < kKeyCount) {
    *index = pick;
    return kKeys[pick];
  }
  EFI_GUID key{};
  if (pick >= 0x40 && pick < 0x80) {
    in.Read(&key, sizeof key);
    return key;
  }
  key = kKeys[pick % kKeyCount];
  key.Data4[7] = static_cast<uint8_t>(key.Data4[7] ^ (pick | 1));
  return key;
}

void CheckQuery(testsupport::Rig& rig, QUOVAN_CONFIG_INTERFACE* config, unsigned leave_null) {
  UINT64 address = 0;
  UINT32 memory = 0, pitch = 0, width = 0, height = 0, bpp = 0;
  void* results[] = {&address, &memory, &pitch, &width, &height, &bpp};
  if (leave_null > 0) results[leave_null - 1] = nullptr;
  EFI_STATUS status = config->Query(config, static_cast<UINT64*>(results[0]), static_cast<UINT32*>(results[1]),
                                    static_cast<UINT32*>(results[2]), static_cast<UINT32*>(results[3]),
                                    static_cast<UINT32*>(results[4]), static_cast<UINT32*>(results[5]));
  FUZZ_CHECK(Documented(status), "status", "Query returned %s", fuzz::StatusText(status).c_str());
  FUZZ_CHECK(leave_null == 0 || status == EFI_INVALID_PARAMETER, "query-null",
             "Query with result %u null returned %s", leave_null, fuzz::StatusText(status).c_str());
  if (status != EFI_SUCCESS) return;
  // What the platform hands on as the boot frame buffer: a real depth and a
  // surface that lies inside the aperture.
  const kt270::Adapter& a = rig.adapter();
  const uint64_t base = a.config().bar[0] & ~0xFull;
  FUZZ_CHECK(bpp == 8 || bpp == 16 || bpp == 32, "query", "Query reports %u bits per pixel", bpp);
  FUZZ_CHECK(address >= base && static_cast<uint64_t>(width) * bpp / 8 <= pitch &&
                 address - base + static_cast<uint64_t>(pitch) * height <= a.FrameBufferSize(),
             "query", "Query reports %ux%u, %u bytes per row at 0x%llX; the aperture is %u bytes at 0x%llX", width,
             height, pitch, static_cast<unsigned long long>(address), a.FrameBufferSize(),
             static_cast<unsigned long long>(base));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t setup = in.U8();
  const auto connector = static_cast<kt270::Connector>(setup & 3);

  testsupport::Rig rig;
  fuzz::AccessWatch watch(rig);
  simplatform::PlatformStandIn& platform = rig.InstallPlatform(true, true);
  FUZZ_CHECK(rig.LoadDriver() == EFI_SUCCESS, "load", "driver entry failed");
  if ((setup & 4) == 0) rig.Plug(connector, MonitorEdid(connector));
  EFI_STATUS status = rig.Connect();
  FUZZ_CHECK(status == EFI_SUCCESS, "connect", "Connect returned %s", fuzz::StatusText(status).c_str());
  if ((setup & 8) != 0) rig.uga_draw()->SetMode(rig.uga_draw(), 1024, 768, 32, 60);

  auto* config = static_cast<QUOVAN_CONFIG_INTERFACE*>(rig.fw().Interface(rig.controller(), kConfigInterfaceGuid));
  auto* display = static_cast<QUOVAN_DISPLAY_INTERFACE*>(rig.fw().Interface(rig.controller(), kDisplayInterfaceGuid));
  FUZZ_CHECK(config != nullptr && display != nullptr, "interfaces", "the platform interfaces are missing");

  bool released = false;
  for (unsigned n = 0; n < kMaxOperations && in.remaining() > 0 && !released; ++n) {
    const uint8_t kind = in.U8() & 3;
    const uint8_t pick = in.U8();
    const uint16_t field = in.U16();
    if (kind == 2) {
      CheckQuery(rig, config, pick % 7);
      continue;
    }
    if (kind == 3) {
      platform.SetValue(kValueKeys[pick % kValueKeyCount], in.U32());
      continue;
    }
    unsigned index = kKeyCount;
    EFI_GUID key = PickKey(in, pick, &index);
    if (kind == 0) {
      const bool null_buffer = (field & 0x8000) != 0;
      fuzz::Buffer buffer(field & 0x7FFF);
      in.Read(buffer.data, buffer.size);
      status = display->SetInfo(display, &key, null_buffer ? nullptr : buffer.data, buffer.size);
      released = index == kReleaseKey;
      FUZZ_CHECK(Documented(status), "status", "SetInfo(key %u, %zu bytes) returned %s", index, buffer.size,
                 fuzz::StatusText(status).c_str());
    } else {
      const bool null_buffer = (field & 0x8000) != 0;
      const bool null_size = (field & 0x4000) != 0;
      const UINTN asked = field & 0x3FFF;
      fuzz::Buffer buffer(asked);
      UINTN answer = asked;
      status = display->GetInfo(display, &key, null_buffer ? nullptr : buffer.data, null_size ? nullptr : &answer);
      FUZZ_CHECK(Documented(status), "status", "GetInfo(key %u, %llu bytes) returned %s", index,
                 static_cast<unsigned long long>(asked), fuzz::StatusText(status).c_str());
      FUZZ_CHECK(status == EFI_BUFFER_TOO_SMALL ? answer > asked : answer <= asked, "getinfo-size",
                 "GetInfo(key %u) with *Size %llu returned %s and *Size %llu", index,
                 static_cast<unsigned long long>(asked), fuzz::StatusText(status).c_str(),
                 static_cast<unsigned long long>(answer));
    }
  }
  watch.Check(released ? "after the release" : "after the sequence");
  if (!released) fuzz::CheckScanout(rig.adapter(), "after the sequence");

  if (released) {
    // The release stops the adapter from inside: nothing of it may remain.
    sim::LeakReport leaks = rig.Leaks();
    FUZZ_CHECK(leaks.clean(), "leak", "after the release: %s", leaks.Describe().c_str());
    FUZZ_CHECK(rig.fw().faults().empty(), "firmware-fault", "%s", rig.fw().DescribeFaults().c_str());
    return 0;
  }
  // The console draws on whatever the platform configured: a fill of the
  // whole mode GetMode reports and a write of its last pixel must stay in
  // the aperture.
  EFI_UGA_DRAW_PROTOCOL* uga = rig.uga_draw();
  UINT32 w = 0, h = 0, depth = 0, refresh = 0;
  uga->GetMode(uga, &w, &h, &depth, &refresh);
  EFI_UGA_PIXEL pixel = {1, 2, 3, 0};
  if (w != 0 && h != 0) {
    uga->Blt(uga, &pixel, EfiUgaVideoFill, 0, 0, 0, 0, w, h, 0);
    uga->Blt(uga, &pixel, EfiUgaBltBufferToVideo, 0, 0, w - 1, h - 1, 1, 1, 0);
  }
  watch.Check("after drawing on the mode in force");
  fuzz::DisconnectClean(rig);
  return 0;
}
