// A monitor of the input's making on one connector: its EDID EEPROM (any
// length, any byte 126), clock stretching and a device that stops
// acknowledging. The driver connects, sets a mode and answers the
// platform's EDID request; then it must leave.
//
// Input: connector (low 2 bits), stretch in us (low 6 bits), nak_after
// (u16: bit 15 set = always acknowledge, else the low 12 bits), mode (u8:
// below 0xF0 a row of kModes, else width u16 and height u16 follow), the
// first EDID request size (u16, low 11 bits), the connector entry to select
// (u8: below 0x80 the plugged connector's, else the low 3 bits), then the
// EEPROM image; an empty image leaves the connector empty.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "driver/core/context.h"
#include "efi/efi_guids.h"
#include "efi/quovan_interfaces.h"
#include "sim/platform/platform_stand_in.h"
#include "tests/fuzz/harness.h"
#include "tests/support/rig.h"

namespace {

struct Mode {
  uint32_t width, height, refresh;
};
const Mode kModes[] = {
    {640, 480, 60},  {800, 600, 60},   {1024, 768, 60},  {1280, 1024, 75}, {1152, 870, 75},
    {720, 400, 70},  {1680, 1050, 60}, {1920, 1080, 60}, {1920, 1200, 60}, {1366, 768, 60},
    {1440, 900, 60}, {1600, 1200, 60}, {832, 624, 75},   {2560, 1440, 60}, {800, 600, 50},
};
const EFI_GUID kPlatformInfoKey = {0x2AA9D6C6, 0xE6A9, 0x4D10, {0xAF, 0xC7, 0x8F, 0xA7, 0x69, 0xEA, 0x0E, 0x74}};
const EFI_GUID kSelectKey = {0xD2C9944A, 0x0F9D, 0x4649, {0x95, 0x4F, 0x86, 0x2C, 0x14, 0x06, 0xF3, 0x20}};
const EFI_GUID kEdidKey = {0xD704179F, 0xF181, 0x4ED9, {0x87, 0xF7, 0x77, 0x01, 0x88, 0xEA, 0xE6, 0xB2}};

// Connector-table entries of the plugged connectors: digital, analogue A,
// analogue B, television.
const uint32_t kEntryOfConnector[kt270::kConnectorCount] = {0, 1, 2, 3};

constexpr size_t kMaxImage = 32768;

// The built-in mode list, in the order a request is matched against it,
// with the blank words (W1, W3) of its timing rows: the raster a row gives
// is what they decode to.
struct Row {
  uint32_t width, height, refresh, h_blank, v_blank;
};
const Row kRows[19] = {
    {800, 600, 60, 0x00D803F8, 0x001B0273},   {800, 600, 56, 0x00C803E8, 0x00180270},
    {640, 480, 75, 0x80B80338, 0x001301F3},   {640, 480, 72, 0x80A80328, 0x001F01FF},
    {640, 480, 67, 0x80A00320, 0x002A020A},   {640, 480, 60, 0x80900310, 0x00230203},
    {720, 400, 88, 0x00080010, 0x00000001},   {720, 400, 70, 0x00080010, 0x00000001},
    {1280, 1024, 75, 0x01880688, 0x00290429}, {1024, 768, 75, 0x01100510, 0x001F031F},
    {1024, 768, 70, 0x81180518, 0x00230323},  {1024, 768, 60, 0x81280528, 0x00230323},
    {1024, 768, 87, 0x00E004E0, 0x00300330},  {832, 624, 75, 0x81200460, 0x002A029A},
    {800, 600, 75, 0x00F00410, 0x00180270},   {800, 600, 72, 0x00B803D8, 0x001D0275},
    {1152, 870, 75, 0x81100590, 0x002A0390},  {800, 600, 60, 0x819D0A73, 0x0029020B},
    {800, 600, 50, 0x82390D09, 0x002B026B},
};
constexpr unsigned kTv60Row = 17, kTv50Row = 18;

struct Raster {
  uint32_t width, height;
  bool operator==(const Raster& o) const { return width == o.width && height == o.height; }
};

// The active size a CRTC shows for a blank word: start minus end, as the
// CRTC counts them (end in bits 30..16, start in bits 15..0).
uint32_t Active(uint32_t blank_word) {
  const uint32_t end = (blank_word >> 16) & 0x7FFF, start = blank_word & 0xFFFF;
  return start > end ? start - end : 0;
}
Raster RowRaster(unsigned row) { return {Active(kRows[row].h_blank), Active(kRows[row].v_blank)}; }

// The EDID bit that declares each row: bytes 35 and 36 bit by bit, then
// byte 37 bits 7, 6 and 5.
bool Declares(const uint8_t* e, unsigned row) {
  if (row < 16) return (e[35 + row / 8] >> (row % 8)) & 1;
  return (e[37] >> (7 - (row - 16))) & 1;
}

// The first detailed timing as the CRTC is given it: blank end e = blank -
// sync offset in 16 bits, blank word e << 16 | (e + active), the width in
// 8-pixel characters, an interlaced field doubled to its frame. None for an
// analogue display without separate sync, or without clock or size.
bool OwnRaster(const uint8_t* e, Raster* raster) {
  const uint8_t* d = e + 54;
  const bool digital = (e[20] & 0x80) != 0, separate = (d[17] & 0x18) == 0x18;
  if (!digital && !separate) return false;
  const uint32_t clock = d[0] | d[1] << 8;
  const uint32_t h_active = (d[2] + ((d[4] & 0xF0u) << 4)) & ~7u, h_blank = d[3] + ((d[4] & 0x0Fu) << 8);
  const uint32_t h_offset = d[8] + ((d[11] & 0xC0u) << 2);
  uint32_t v_active = d[5] + ((d[7] & 0xF0u) << 4), v_offset = (d[10] >> 4) + ((d[11] & 0x0Cu) << 2);
  const uint32_t v_blank = d[6] + ((d[7] & 0x0Fu) << 8);
  if ((d[17] & 0x80) != 0) {
    v_active = (2 * v_active) & 0xFFFF;
    v_offset = (2 * v_offset + 1) & 0xFFFF;
  }
  if (clock == 0 || h_active == 0 || v_active == 0) return false;
  const uint32_t he = (h_blank - h_offset) & 0xFFFF, ve = (v_blank - v_offset) & 0xFFFF;
  *raster = {Active(he << 16 | (he + h_active)), Active(ve << 16 | (ve + v_active))};
  return true;
}

bool IsVendor13(const uint8_t* e) { return e[8] == 0x06 && e[9] == 0x10 && e[18] == 1 && e[19] == 3; }
bool IsTvProduct(const uint8_t* e) { return (e[10] == 0x08 || e[10] == 0x0C) && e[11] == 0x9D; }

// The rasters the driver may show for the request, by the discovery and
// timing rules, for one monitor on channel `channel` whose base block is e
// (null: the channel was not examined) with own timing or not. Off the list
// and without a timing of its own the display stays on the row in force:
// row 0, or the first row it declares, which Start lights as Graphics
// Output's mode 0.
void Expected(const uint8_t* e, bool has_timing, unsigned channel, const Mode& request, std::vector<Raster>* out) {
  enum { kNone, kTaken, kTv } kind = kNone;
  if (e != nullptr) {
    const bool digital = (e[20] & 0x80) != 0;
    if (channel == 1 && digital && !(IsVendor13(e) && (e[79] & 0x0F) == 0)) kind = kTaken;
    if (kind == kNone && !digital && !IsTvProduct(e)) kind = kTaken;
    if (kind == kNone && channel == 2 && IsVendor13(e) && IsTvProduct(e)) kind = kTv;
  }
  if (kind == kTv) return out->push_back(RowRaster((e[37] & 0x60) == 0x20 ? kTv50Row : kTv60Row));
  for (unsigned row = 0; row < 19; ++row) {
    const bool declared = kind == kTaken ? Declares(e, row) : row == 0;  // the default display: row 0
    if (declared && kRows[row].width == request.width && kRows[row].height == request.height &&
        kRows[row].refresh == request.refresh) {
      return out->push_back(RowRaster(row));
    }
  }
  // Off the list: the display's own timing (the default display's is
  // channel 1's), else row 0.
  Raster own{};
  if (has_timing && (kind == kTaken || channel == 1) && OwnRaster(e, &own)) return out->push_back(own);
  out->push_back(RowRaster(0));
  for (unsigned row = 0; kind == kTaken && row < 19; ++row) {
    if (Declares(e, row)) return out->push_back(RowRaster(row));
  }
}

// Every output a running CRTC drives shows the raster the request and the
// design's rules give (the television through its encoder); a running CRTC
// on the first display reads the surface Blt draws into, so that surface
// must hold GetMode's size inside the frame buffer.
void CheckOutputs(testsupport::Rig& rig, kt270::Connector connector, bool plugged, const Mode& request,
                  uint32_t width, uint32_t height, bool mode_set) {
  kt270::Adapter& a = rig.adapter();
  const unsigned channel = kt270::kConnectorChannel[static_cast<unsigned>(connector)];
  const std::string name = channel == 1 ? "ZEY,EDIDA" : "ZEY,EDIDB";
  const std::vector<uint8_t>* block = nullptr;
  for (const simplatform::PropertyRecord& p : rig.platform()->properties()) {
    if (p.name == name && p.value.size() >= 128) block = &p.value;
  }
  // An unread block is judged as the 0xFF bytes the buffer keeps, without
  // a timing; a device that never answered the probe is not examined.
  std::vector<Raster> allowed;
  const std::vector<uint8_t> unread(128, 0xFF);
  if (block != nullptr) {
    Expected(block->data(), true, channel, request, &allowed);
  } else {
    Expected(nullptr, false, channel, request, &allowed);
    if (plugged) Expected(unread.data(), false, channel, request, &allowed);
  }
  const kt270::Output outputs[] = {kt270::Output::kDacA, kt270::Output::kDacB, kt270::Output::kTmds};
  for (kt270::Output o : outputs) {
    unsigned crtc = 0;
    if (!fuzz::ScanningCrtc(a, o, &crtc)) continue;
    const kt270::CrtcState c = a.DecodeCrtc(crtc);
    bool known = false;
    for (const Raster& r : allowed) known |= r == Raster{c.h_active, c.v_active};
    FUZZ_CHECK(known, "raster", "output %u on CRTC %u shows %ux%u; the request %ux%u@%u gives %ux%u",
               static_cast<unsigned>(o), crtc + 1u, c.h_active, c.v_active, request.width, request.height,
               request.refresh, allowed[0].width, allowed[0].height);
    if (!mode_set || crtc != 0) continue;
    const uint64_t end = c.surface_base + static_cast<uint64_t>(c.pitch_bytes) * height;
    FUZZ_CHECK(c.pitch_bytes >= 4ull * width && end <= a.FrameBufferSize(), "surface",
               "GetMode %ux%u on a surface at 0x%X with pitch %u bytes (frame buffer %u bytes)", width, height,
               c.surface_base, c.pitch_bytes, a.FrameBufferSize());
  }
}

// The EDID answer, asked first with the input's size and again with the size
// the driver asks for, each time into a buffer of exactly that size. Its
// size must be what its own byte 126 says (or the base block alone), and no
// more than one read through the 8-bit word address reaches: 256 bytes.
void CheckEdidAnswer(QUOVAN_DISPLAY_INTERFACE* display, size_t first_size, const std::vector<uint8_t>& image,
                     bool faultless) {
  EFI_GUID key = kEdidKey;
  UINTN size = first_size;
  size_t asked = first_size;
  fuzz::Buffer first(size);
  EFI_STATUS status = display->GetInfo(display, &key, first.data, &size);
  std::vector<uint8_t> answer(first.data, first.data + (status == EFI_SUCCESS && size <= first.size ? size : 0));
  if (status == EFI_BUFFER_TOO_SMALL) {
    FUZZ_CHECK(size > first_size, "edid-size", "BUFFER_TOO_SMALL for %zu bytes asks for %llu", first_size,
               static_cast<unsigned long long>(size));
    FUZZ_CHECK(size <= 256, "edid-long-read", "the driver asks for a %llu-byte EDID buffer (byte 126 = %u)",
               static_cast<unsigned long long>(size), image.size() > 126 ? image[126] : 0u);
    if (size > 256) return;  // tolerated: not worth the long read over DDC
    asked = size;
    fuzz::Buffer second(size);
    status = display->GetInfo(display, &key, second.data, &size);
    answer.assign(second.data, second.data + (status == EFI_SUCCESS && size <= second.size ? size : 0));
  }
  FUZZ_CHECK(status == EFI_SUCCESS, "edid-status", "GetInfo(EDID) returned %s", fuzz::StatusText(status).c_str());
  FUZZ_CHECK(answer.size() == size, "edid-size", "answer of %llu bytes in a %zu-byte buffer",
             static_cast<unsigned long long>(size), asked);
  // A device that stops acknowledging reads as 0xFF, byte 126 included.
  if (!faultless) {
    FUZZ_CHECK(size % 128 == 0 && size <= 256, size == asked ? "edid-size-kept" : "edid-size",
               "EDID answer of %llu bytes for a %zu-byte request", static_cast<unsigned long long>(size), asked);
    return;
  }
  // Byte 126 of the answer gives the EDID's length; the driver may answer
  // the base block alone, and blocks past the first segment need the E-DDC
  // segment pointer, so an answer may also stop at 256 bytes.
  const size_t claimed = size <= 128 ? 128 : std::min((answer[126] + 1u) * 128u, 256u);
  FUZZ_CHECK(size == 0 || size == 128 || size == claimed,
             size == asked ? "edid-size-kept" : size > 256 ? "edid-long-read" : "edid-size",
             "EDID answer of %llu bytes for a %zu-byte request, its byte 126 says %zu bytes",
             static_cast<unsigned long long>(size), asked, claimed);
  // A device that acknowledges everything gives its image as it stands,
  // sequential reads wrapping at its end.
  if (image.empty()) return;
  for (size_t i = 0; i < answer.size() && i < claimed; ++i) {
    FUZZ_CHECK(answer[i] == image[i % image.size()], "edid-bytes", "answer byte %zu is 0x%02X, the EEPROM holds 0x%02X",
               i, answer[i], image[i % image.size()]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const auto connector = static_cast<kt270::Connector>(in.U8() & 3);
  kt270::I2cFaults faults = kt270::NoFaults();
  faults.stretch_us = in.U8() & 0x3F;
  const uint16_t nak = in.U16();
  faults.nak_after = (nak & 0x8000) != 0 ? -1 : (nak & 0x0FFF);
  const uint8_t mode_pick = in.U8();
  Mode mode = kModes[mode_pick % (sizeof kModes / sizeof kModes[0])];
  if (mode_pick >= 0xF0) mode = {in.U16(), in.U16(), 60};
  const size_t first_size = in.U16() & 0x7FF;
  const uint8_t entry_pick = in.U8();
  const uint32_t entry = entry_pick < 0x80 ? kEntryOfConnector[static_cast<unsigned>(connector)] : entry_pick & 7u;
  std::vector<uint8_t> image = in.Bytes(kMaxImage);

  testsupport::Rig rig;
  fuzz::AccessWatch watch(rig);
  rig.InstallPlatform(true, true);
  FUZZ_CHECK(rig.LoadDriver() == EFI_SUCCESS, "load", "driver entry failed");
  if (!image.empty()) FUZZ_CHECK(rig.Plug(connector, image, faults), "harness", "Plug refused the monitor");
  EFI_STATUS status = rig.Connect();
  FUZZ_CHECK(status == EFI_SUCCESS, "connect", "Connect returned %s", fuzz::StatusText(status).c_str());

  EFI_UGA_DRAW_PROTOCOL* uga = rig.uga_draw();
  status = uga->SetMode(uga, mode.width, mode.height, 32, mode.refresh);
  FUZZ_CHECK(status == EFI_SUCCESS || status == EFI_INVALID_PARAMETER || status == EFI_DEVICE_ERROR, "setmode-status",
             "SetMode(%u, %u) returned %s", mode.width, mode.height, fuzz::StatusText(status).c_str());
  UINT32 w = 0, h = 0, depth = 0, refresh = 0;
  FUZZ_CHECK(uga->GetMode(uga, &w, &h, &depth, &refresh) == EFI_SUCCESS, "getmode", "GetMode failed");
  CheckOutputs(rig, connector, !image.empty(), mode, w, h, status == EFI_SUCCESS);
  fuzz::CheckScanout(rig.adapter(), "after SetMode");
  watch.Check("after SetMode");

  auto* display = static_cast<QUOVAN_DISPLAY_INTERFACE*>(rig.fw().Interface(rig.controller(), kDisplayInterfaceGuid));
  FUZZ_CHECK(display != nullptr, "interfaces", "no display interface on the controller");
  uint8_t info[128];
  for (unsigned i = 0; i < sizeof info; ++i) info[i] = static_cast<uint8_t>(i);
  EFI_GUID key = kPlatformInfoKey;
  status = display->SetInfo(display, &key, info, sizeof info);
  FUZZ_CHECK(status == EFI_SUCCESS, "platform-info", "SetInfo(platform information) returned %s",
             fuzz::StatusText(status).c_str());
  key = kSelectKey;
  uint8_t index[4] = {static_cast<uint8_t>(entry), 0, 0, 0};
  status = display->SetInfo(display, &key, index, sizeof index);
  FUZZ_CHECK(status == EFI_SUCCESS || (entry > 4 && status == EFI_INVALID_PARAMETER), "select",
             "selecting entry %u returned %s", entry, fuzz::StatusText(status).c_str());
  CheckEdidAnswer(display, first_size, image, faults.nak_after < 0);
  watch.Check("after the EDID request");

  fuzz::DisconnectClean(rig);
  return 0;
}
