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
// Sizes of the built-in mode list, which a display without a timing of its
// own is driven with.
// The rasters of the built-in rows; rows 17 and 18 are the television
// encoder's, which a display whose EDID declares them (byte 37 bits 6 and
// 5) is given by design, whatever its connector.
const Mode kListSizes[] = {{800, 600, 0},  {640, 480, 0}, {720, 400, 0},  {1280, 1024, 0}, {1024, 768, 0},
                           {832, 624, 0},  {1152, 870, 0}, {2262, 482, 0}, {2768, 576, 0}};

const EFI_GUID kPlatformInfoKey = {0x2AA9D6C6, 0xE6A9, 0x4D10, {0xAF, 0xC7, 0x8F, 0xA7, 0x69, 0xEA, 0x0E, 0x74}};
const EFI_GUID kSelectKey = {0xD2C9944A, 0x0F9D, 0x4649, {0x95, 0x4F, 0x86, 0x2C, 0x14, 0x06, 0xF3, 0x20}};
const EFI_GUID kEdidKey = {0xD704179F, 0xF181, 0x4ED9, {0x87, 0xF7, 0x77, 0x01, 0x88, 0xEA, 0xE6, 0xB2}};

// Connector-table entries of the plugged connectors: digital, analogue A,
// analogue B, television.
const uint32_t kEntryOfConnector[kt270::kConnectorCount] = {0, 1, 2, 3};

constexpr size_t kMaxImage = 32768;

// Whether the first detailed timing keeps its sync pulse inside its
// blanking. One that does not is programmed as the EDID gives it, the
// blank words wrapping in 16 bits as the CRTC counts them, so its raster
// says nothing about the display's size.
bool SelfConsistent(const uint8_t* d) {
  uint32_t h_active = d[2] + ((d[4] & 0xF0u) << 4), h_blank = d[3] + ((d[4] & 0x0Fu) << 8);
  uint32_t v_active = d[5] + ((d[7] & 0xF0u) << 4), v_blank = d[6] + ((d[7] & 0x0Fu) << 8);
  uint32_t h_offset = d[8] + ((d[11] & 0xC0u) << 2);
  uint32_t v_offset = (d[10] >> 4) + ((d[11] & 0x0Cu) << 2);
  if ((d[17] & 0x80) != 0) {  // the driver doubles the field's lines
    v_active *= 2;
    v_offset = 2 * v_offset + 1;
  }
  return h_offset <= h_blank && v_offset <= v_blank && h_active + h_blank <= 0xFFFF && v_active + v_blank <= 0xFFFF;
}

// The first detailed timing's active size as a display reports it, from the
// block the driver read (8-pixel columns, interlaced fields doubled).
bool NativeSize(const std::vector<uint8_t>& block, uint32_t* width, uint32_t* height) {
  if (block.size() < 72) return false;
  const uint8_t* d = block.data() + 54;
  *width = (d[2] + ((d[4] & 0xF0u) << 4)) & ~7u;
  *height = d[5] + ((d[7] & 0xF0u) << 4);
  if ((d[17] & 0x80) != 0) *height *= 2;
  return true;
}

// Outputs that a CRTC drives must show a raster the driver can explain: the
// mode GetMode reports, the display's own timing or a built-in list mode; a
// running CRTC on such an output reads the surface Blt draws into, so that
// surface must hold GetMode's size inside the frame buffer.
void CheckOutputs(testsupport::Rig& rig, uint32_t width, uint32_t height, bool mode_set) {
  kt270::Adapter& a = rig.adapter();
  std::vector<Mode> allowed(std::begin(kListSizes), std::end(kListSizes));
  allowed.push_back({width, height, 0});
  for (const simplatform::PropertyRecord& p : rig.platform()->properties()) {
    Mode m{};
    if (p.name.rfind("ZEY,", 0) == 0 && p.name.find("EDID") != std::string::npos && NativeSize(p.value, &m.width, &m.height)) {
      allowed.push_back(m);
    }
  }
  bool own_timing_garbled = false;
  for (const simplatform::PropertyRecord& p : rig.platform()->properties()) {
    if (p.name.rfind("ZEY,", 0) == 0 && p.name.find("EDID") != std::string::npos && p.value.size() >= 72) {
      own_timing_garbled |= !SelfConsistent(p.value.data() + 54);
    }
  }
  const kt270::Output outputs[] = {kt270::Output::kDacA, kt270::Output::kDacB, kt270::Output::kTmds};
  for (kt270::Output o : outputs) {
    kt270::OutputState out = a.DecodeOutput(o);
    if (!out.enabled || out.source > 1) continue;
    kt270::CrtcState c = a.DecodeCrtc(out.source);
    if (!c.running) continue;
    bool known = own_timing_garbled;
    for (const Mode& m : allowed) known |= m.width == c.h_active && m.height == c.v_active;
    FUZZ_CHECK(known, "raster", "output %u on CRTC %u shows %ux%u; GetMode says %ux%u", static_cast<unsigned>(o),
               out.source + 1u, c.h_active, c.v_active, width, height);
    if (!mode_set || out.source != 0) continue;
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
  CheckOutputs(rig, w, h, status == EFI_SUCCESS);
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
