// Blt after a successful SetMode, with any operation, coordinates, sizes,
// Delta and a caller's buffer of exactly the size the arguments imply,
// through UGA Draw or through Graphics Output.
//
// Input: a mode byte (bit 7 clear: UGA Draw, the low bits a row of kModes;
// set: Graphics Output, the low bits a mode number modulo MaxMode), then
// calls: the operation (u8, modulo 6), SourceX, SourceY, DestinationX,
// DestinationY, Width, Height and Delta (u64 each), a buffer byte (bit 0:
// pass a null buffer) and a seed byte for the caller's pixels. Through
// Graphics Output operation 5 is a SetMode of mode seed modulo MaxMode.
// After every Graphics Output SetMode the record must name the mode, say
// what QueryMode says of it and describe a surface inside the aperture.
//
// The UGA Draw contract lets the driver assume the buffer holds every row it
// is told about; calls whose arguments claim more than kMaxBuffer are
// skipped, the others get exactly what they claim, so ASan catches a step
// outside it.
#include <cstdint>
#include <cstring>
#include <vector>

#include "efi/efi_graphics_output.h"
#include "efi/efi_guids.h"
#include "efi/efi_uga_draw.h"
#include "tests/fuzz/harness.h"
#include "sim/edid/edid_builder.h"
#include "tests/support/rig.h"

namespace {

struct Mode {
  uint32_t width, height, refresh;
};
// Modes a 1280 x 1024 digital monitor is set to: list rows it declares, its
// own size, and sizes the scaler takes onto it.
const Mode kModes[] = {{640, 480, 60}, {800, 600, 60}, {1024, 768, 60}, {1280, 1024, 60},
                       {1280, 1024, 75}, {720, 400, 70}, {1000, 700, 60}, {1152, 870, 75}};
constexpr unsigned kModeCount = sizeof kModes / sizeof kModes[0];

constexpr unsigned kMaxCalls = 6;
constexpr uint64_t kMaxBuffer = 16u << 20;
constexpr uint32_t kSurfaceBase = 0x6110;
constexpr uint32_t kSurfacePitch = 0x6120;

// a * b + c, or false when it does not fit in 64 bits.
bool MulAdd(uint64_t a, uint64_t b, uint64_t c, uint64_t* out) {
  if (a != 0 && b > (UINT64_MAX - c) / a) return false;
  *out = a * b + c;
  return true;
}

// The bytes of BltBuffer the call may touch: the fill's one pixel, or the
// rows from the buffer's first row to its last.
bool ImpliedSize(unsigned op, uint64_t sx, uint64_t sy, uint64_t dx, uint64_t dy, uint64_t w, uint64_t h,
                 uint64_t delta, uint64_t* size) {
  if (op == EfiUgaVideoToVideo) return *size = 0, true;
  uint64_t pixel = 0;
  if (op == EfiUgaVideoFill) return MulAdd(sy, w, sx, &pixel) && MulAdd(pixel + 1, 4, 0, size) && pixel + 1 != 0;
  const uint64_t x = op == EfiUgaVideoToBltBuffer ? dx : sx;
  const uint64_t y = op == EfiUgaVideoToBltBuffer ? dy : sy;
  if (delta == 0 && !MulAdd(w, 4, 0, &delta)) return false;
  uint64_t last_row = 0, row_end = 0;
  return h != 0 && w != 0 && MulAdd(y + h - 1, delta, 0, &last_row) && y + h - 1 >= y && MulAdd(x + w, 4, 0, &row_end) &&
         x + w >= x && MulAdd(1, last_row, row_end, size);
}

// 1280 x 1024 at 108 MHz, digital, with the 1024 x 768 and 800 x 600 rows.
std::vector<uint8_t> Monitor() {
  return simedid::EdidBuilder()
      .Digital()
      .Detailed(10800, 1280, 408, 48, 112, 1024, 42, 1, 3)
      .Established(35, 0)
      .Established(35, 5)
      .Established(36, 3)
      .Established(36, 0)
      .Build();
}


bool Fits(uint64_t x, uint64_t y, uint64_t w, uint64_t h, uint64_t width, uint64_t height) {
  return w != 0 && h != 0 && w <= width && h <= height && x <= width - w && y <= height - h;
}

// A rectangle of 32-bit pixels in memory: base and pitch in bytes.
struct Rect {
  uint64_t base, pitch, x, y, w, h;
  uint64_t At(uint64_t row, uint64_t column) const { return base + (y + row) * pitch + (x + column) * 4; }
  bool Holds(uint64_t offset) const {
    if (offset < base || pitch == 0) return false;
    const uint64_t row = (offset - base) / pitch, column = (offset - base) % pitch / 4;
    return row >= y && row - y < h && column >= x && column - x < w;
  }
};

uint32_t Pixel(const uint8_t* bytes, uint64_t offset) {
  uint32_t v;
  std::memcpy(&v, bytes + offset, 4);
  return v;
}

// Only the target rectangle of the display's surface may change (nothing
// at all when target is null).
void CheckFrameBuffer(const std::vector<uint8_t>& before, const uint8_t* after, uint64_t size, const Rect* target,
                      unsigned op) {
  constexpr uint64_t kBlock = 4096;
  uint64_t changed = 0, first = 0;
  for (uint64_t block = 0; block < size; block += kBlock) {
    if (std::memcmp(before.data() + block, after + block, kBlock) == 0) continue;
    for (uint64_t i = block; i < block + kBlock; ++i) {
      if (before[i] != after[i] && (target == nullptr || !target->Holds(i)) && changed++ == 0) first = i;
    }
  }
  FUZZ_CHECK(changed == 0, "outside", "Blt op %u changed %llu frame-buffer bytes outside (%llu, %llu) %llux%llu, first at 0x%llX",
             op, static_cast<unsigned long long>(changed), static_cast<unsigned long long>(target ? target->x : 0),
             static_cast<unsigned long long>(target ? target->y : 0), static_cast<unsigned long long>(target ? target->w : 0),
             static_cast<unsigned long long>(target ? target->h : 0), static_cast<unsigned long long>(first));
}

// What an accepted call left: the fill colour, the caller's pixels, the
// screen's pixels, or the source rectangle as it was before the copy; and
// for a read, the caller's buffer unchanged outside the rectangle.
void CheckPixels(unsigned op, const uint8_t* before, const uint8_t* after, const Rect& screen,
                 const std::vector<uint8_t>& caller, const uint8_t* buffer, const Rect& mine, uint64_t sx, uint64_t sy,
                 bool gop) {
  uint32_t fill = 0;
  if (op == EfiUgaVideoFill) {
    // UGA counts Width pixels per row here; Graphics Output takes the first.
    const uint8_t* p = caller.data() + (gop ? 0 : (sy * mine.w + sx) * 4);
    fill = static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
  }
  const Rect source{screen.base, screen.pitch, sx, sy, screen.w, screen.h};
  // Rows of the caller's buffer overlap when Delta is short of the row; the
  // last one written wins there, so a read is not checked pixel by pixel.
  if (op == EfiUgaVideoToBltBuffer && mine.pitch < (mine.x + mine.w) * 4) return;
  for (uint64_t r = 0; r < screen.h; ++r) {
    for (uint64_t c = 0; c < screen.w; ++c) {
      uint32_t want = 0, got = Pixel(after, screen.At(r, c));
      switch (op) {
        case EfiUgaVideoFill: want = fill; break;
        case EfiUgaVideoToBltBuffer: want = got, got = Pixel(buffer, mine.At(r, c)); break;
        case EfiUgaBltBufferToVideo: want = Pixel(caller.data(), mine.At(r, c)); break;
        default: want = Pixel(before, source.At(r, c)); break;
      }
      FUZZ_CHECK(got == want, "pixels", "Blt op %u: pixel (%llu, %llu) of the rectangle is 0x%08X, not 0x%08X", op,
                 static_cast<unsigned long long>(c), static_cast<unsigned long long>(r), got, want);
    }
  }
  if (op != EfiUgaVideoToBltBuffer) {
    FUZZ_CHECK(caller.empty() || std::memcmp(caller.data(), buffer, caller.size()) == 0, "caller-buffer",
               "Blt op %u wrote to the caller's buffer", op);
    return;
  }
  for (uint64_t i = 0; i < caller.size(); ++i) {
    FUZZ_CHECK(caller[i] == buffer[i] || mine.Holds(i), "caller-buffer",
               "reading (%llu, %llu) %llux%llu changed byte %llu of the caller's buffer outside the rectangle",
               static_cast<unsigned long long>(sx), static_cast<unsigned long long>(sy),
               static_cast<unsigned long long>(mine.w), static_cast<unsigned long long>(mine.h),
               static_cast<unsigned long long>(i));
  }
}

// SetMode(number) through Graphics Output, and what its record must say.
void SetGopMode(sim::Firmware& fw, EFI_GRAPHICS_OUTPUT_PROTOCOL* gop, UINT32 number, uint64_t bar0, uint64_t fb_size) {
  EFI_STATUS status = gop->SetMode(gop, number);
  FUZZ_CHECK(status == EFI_SUCCESS, "gop-setmode", "Graphics Output SetMode(%u) of %u modes returned %s", number,
             gop->Mode->MaxMode, fuzz::StatusText(status).c_str());
  UINTN size = 0;
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION* info = nullptr;
  status = gop->QueryMode(gop, number, &size, &info);
  FUZZ_CHECK(status == EFI_SUCCESS && info != nullptr, "gop-query", "QueryMode(%u) returned %s", number,
             fuzz::StatusText(status).c_str());
  const EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE* m = gop->Mode;
  FUZZ_CHECK(m->Mode == number && std::memcmp(m->Info, info, sizeof *info) == 0, "gop-record",
             "after SetMode(%u) the record names mode %u, %ux%u pitch %u, where QueryMode says %ux%u pitch %u",
             number, m->Mode, m->Info->HorizontalResolution, m->Info->VerticalResolution, m->Info->PixelsPerScanLine,
             info->HorizontalResolution, info->VerticalResolution, info->PixelsPerScanLine);
  const uint64_t bytes = uint64_t{m->Info->PixelsPerScanLine} * 4 * m->Info->VerticalResolution;
  FUZZ_CHECK(m->FrameBufferSize == bytes && m->FrameBufferBase >= bar0 &&
                 m->FrameBufferBase - bar0 + m->FrameBufferSize <= fb_size,
             "gop-frame-buffer", "mode %u: %llu bytes at 0x%llX, the aperture %llu bytes at 0x%llX", number,
             static_cast<unsigned long long>(m->FrameBufferSize), static_cast<unsigned long long>(m->FrameBufferBase),
             static_cast<unsigned long long>(fb_size), static_cast<unsigned long long>(bar0));
  if (info != nullptr) fw.FreePool(info);  // the caller's block
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t mode_byte = in.U8();
  const bool through_gop = (mode_byte & 0x80) != 0;
  const Mode mode = kModes[mode_byte % kModeCount];

  // 16 MiB holds every surface of kModes; a smaller aperture than the
  // board's keeps each run's snapshot and comparison short.
  testsupport::RigOptions options;
  options.adapter.fb_size = 16u << 20;
  testsupport::Rig rig(options);
  fuzz::AccessWatch watch(rig);
  rig.InstallPlatform(true, true);
  FUZZ_CHECK(rig.LoadDriver() == EFI_SUCCESS, "load", "driver entry failed");
  rig.Plug(kt270::Connector::kDigital, Monitor());
  FUZZ_CHECK(rig.Connect() == EFI_SUCCESS, "connect", "Connect failed");
  EFI_UGA_DRAW_PROTOCOL* uga = rig.uga_draw();
  auto* gop = static_cast<EFI_GRAPHICS_OUTPUT_PROTOCOL*>(
      rig.fw().Interface(rig.controller(), kEfiGraphicsOutputProtocolGuid));
  kt270::Adapter& a = rig.adapter();
  const uint64_t fb_size = a.FrameBufferSize();
  uint64_t bar0 = 0, bar0_size = 0;
  bool io = false;
  a.BarRange(0, &bar0, &bar0_size, &io);
  EFI_STATUS status = EFI_SUCCESS;
  if (through_gop) {
    FUZZ_CHECK(gop != nullptr && gop->Mode->MaxMode > 0, "gop", "no Graphics Output mode");
    SetGopMode(rig.fw(), gop, (mode_byte & 0x7F) % gop->Mode->MaxMode, bar0, fb_size);
  } else {
    status = uga->SetMode(uga, mode.width, mode.height, 32, mode.refresh);
    FUZZ_CHECK(status == EFI_SUCCESS, "setmode", "SetMode(%u, %u) returned %s", mode.width, mode.height,
               fuzz::StatusText(status).c_str());
  }

  UINT32 mode_w = 0, mode_h = 0, depth = 0, refresh = 0;
  uga->GetMode(uga, &mode_w, &mode_h, &depth, &refresh);
  static std::vector<uint8_t> before;
  before.resize(fb_size);
  for (unsigned n = 0; n < kMaxCalls && in.remaining() > 0; ++n) {
    const unsigned op = in.U8() % 6u;
    const uint64_t sx = in.U64(), sy = in.U64(), dx = in.U64(), dy = in.U64();
    const uint64_t w = in.U64(), h = in.U64(), delta = in.U64();
    const bool null_buffer = in.Bool();
    const uint8_t seed = in.U8();
    if (through_gop && op == 5) {
      SetGopMode(rig.fw(), gop, seed % gop->Mode->MaxMode, bar0, fb_size);
      uga->GetMode(uga, &mode_w, &mode_h, &depth, &refresh);
      continue;
    }

    uint64_t implied = 0;
    if (!null_buffer && through_gop && op == EfiUgaVideoFill) {
      implied = 4;
    } else if (!null_buffer && !ImpliedSize(op, sx, sy, dx, dy, w, h, delta, &implied)) {
      continue;
    }
    if (implied > kMaxBuffer) continue;
    fuzz::Buffer buffer(null_buffer ? 0 : implied);
    for (size_t i = 0; i < buffer.size; ++i) buffer.data[i] = static_cast<uint8_t>(seed + i * 7);
    const std::vector<uint8_t> caller(buffer.data, buffer.data + buffer.size);

    std::memcpy(before.data(), a.FrameBuffer(), fb_size);
    if (through_gop) {
      status = gop->Blt(gop, null_buffer ? nullptr : reinterpret_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL*>(buffer.data),
                        static_cast<EFI_GRAPHICS_OUTPUT_BLT_OPERATION>(op), sx, sy, dx, dy, w, h, delta);
    } else {
      status = uga->Blt(uga, null_buffer ? nullptr : reinterpret_cast<EFI_UGA_PIXEL*>(buffer.data),
                        static_cast<EFI_UGA_BLT_OPERATION>(op), sx, sy, dx, dy, w, h, delta);
    }
    FUZZ_CHECK(status == EFI_SUCCESS || status == EFI_INVALID_PARAMETER || status == EFI_DEVICE_ERROR, "status",
               "Blt op %u returned %s", op, fuzz::StatusText(status).c_str());
    FUZZ_CHECK(status == EFI_SUCCESS || std::memcmp(before.data(), a.FrameBuffer(), fb_size) == 0, "refused-changed",
               "Blt op %u refused with %s but changed the frame buffer", op, fuzz::StatusText(status).c_str());
    FUZZ_CHECK(status == EFI_SUCCESS || caller == std::vector<uint8_t>(buffer.data, buffer.data + buffer.size),
               "refused-changed", "Blt op %u refused with %s but changed the caller's buffer", op,
               fuzz::StatusText(status).c_str());
    // Accepted exactly when the operation exists, the sizes are not zero,
    // the buffer is there when used and the screen rectangles lie in the mode.
    const uint64_t x = op == EfiUgaVideoToBltBuffer ? sx : dx, y = op == EfiUgaVideoToBltBuffer ? sy : dy;
    const bool valid = op < EfiUgaBltMax && Fits(x, y, w, h, mode_w, mode_h) &&
                       (op != EfiUgaVideoToVideo || Fits(sx, sy, w, h, mode_w, mode_h)) &&
                       (op == EfiUgaVideoToVideo || !null_buffer);
    FUZZ_CHECK(valid == (status == EFI_SUCCESS), "bounds",
               "Blt op %u (%llu, %llu) -> (%llu, %llu) %llux%llu, buffer %s, in a %ux%u mode returned %s", op,
               static_cast<unsigned long long>(sx), static_cast<unsigned long long>(sy),
               static_cast<unsigned long long>(dx), static_cast<unsigned long long>(dy),
               static_cast<unsigned long long>(w), static_cast<unsigned long long>(h), null_buffer ? "null" : "given",
               mode_w, mode_h, fuzz::StatusText(status).c_str());

    if (status == EFI_SUCCESS) {
      Rect screen{a.PeekReg(kSurfaceBase), static_cast<uint64_t>(a.PeekReg(kSurfacePitch)) * 4, dx, dy, w, h};
      if (op == EfiUgaVideoToBltBuffer) screen.x = sx, screen.y = sy;
      CheckFrameBuffer(before, a.FrameBuffer(), fb_size, op == EfiUgaVideoToBltBuffer ? nullptr : &screen, op);
      const uint64_t row = delta == 0 ? w * 4 : delta;
      const Rect mine{0, row, op == EfiUgaVideoToBltBuffer ? dx : sx, op == EfiUgaVideoToBltBuffer ? dy : sy, w, h};
      CheckPixels(op, before.data(), a.FrameBuffer(), screen, caller, buffer.data, mine, sx, sy, through_gop);
    }
  }
  watch.Check("after the Blt calls");
  fuzz::DisconnectClean(rig);
  return 0;
}
