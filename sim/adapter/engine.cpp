// The 2D engine: solid fill and screen-to-screen copy of 32-bit pixels,
// run to completion when the size register is written. Pixels are visited
// one by one in the order the direction bits give, so an overlapping copy
// comes out right only when the directions were chosen right.
#include "sim/adapter/kt270_model.h"
#include "sim/adapter/kt270_regs.h"

namespace kt270 {
namespace {

struct Axis {
  int64_t first;  // first coordinate visited
  int64_t step;   // +1 or -1
};

// With the direction bit set the coordinate is the near edge and the walk
// goes up; clear, it is the exclusive far edge and the walk comes down.
Axis MakeAxis(uint32_t coordinate, bool forward) {
  Axis a;
  a.first = forward ? int64_t{coordinate} : int64_t{coordinate} - 1;
  a.step = forward ? 1 : -1;
  return a;
}

bool PixelInside(int64_t x, int64_t y, int64_t base, int64_t pitch, uint64_t fb_size,
                 uint64_t* address) {
  if (x < 0 || y < 0) return false;
  int64_t at = base + y * pitch + x * 4;
  if (at < 0 || static_cast<uint64_t>(at) + 4 > fb_size) return false;
  *address = static_cast<uint64_t>(at);
  return true;
}

uint32_t Load32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void Store32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// Of the w pixels walked along x from a.first, the index range [*lo, *hi)
// that can lie inside the aperture on the row starting at byte `row`:
// lets a huge rectangle cost only what it really touches.
void RowWindow(const Axis& a, int64_t w, int64_t row, uint64_t fb_size, int64_t* lo,
               int64_t* hi) {
  *lo = 0;
  *hi = 0;
  if (row < 0 || static_cast<uint64_t>(row) >= fb_size) return;
  int64_t xmax = static_cast<int64_t>((fb_size - static_cast<uint64_t>(row)) / 4) - 1;
  // Pixel i sits at x = first + i * step; keep 0 <= x <= xmax.
  int64_t i0, i1;
  if (a.step > 0) {
    i0 = a.first >= 0 ? 0 : -a.first;
    i1 = xmax - a.first + 1;
  } else {
    i0 = a.first <= xmax ? 0 : a.first - xmax;
    i1 = a.first + 1;
  }
  if (i0 < 0) i0 = 0;
  if (i1 > w) i1 = w;
  if (i1 > i0) {
    *lo = i0;
    *hi = i1;
  }
}

// Walks the w x h destination pixels from (ax.first, ay.first) in the
// engine's order, skipping those that cannot lie inside the aperture, and
// calls pixel(i, j, at) with the byte offset of pixel i of row j; pixel
// answers whether it wrote there. Returns the pixels written.
template <typename Pixel>
uint64_t WalkDestination(const Axis& ax, const Axis& ay, uint32_t w, uint32_t h, int64_t base, int64_t pitch,
                         uint64_t fb_size, Pixel pixel) {
  uint64_t written = 0;
  for (int64_t j = 0; j < h; ++j) {
    int64_t y = ay.first + j * ay.step;
    if (y < 0) continue;
    int64_t row = base + y * pitch;
    int64_t lo, hi;
    RowWindow(ax, w, row, fb_size, &lo, &hi);
    for (int64_t i = lo; i < hi; ++i) {
      if (pixel(i, j, row + (ax.first + i * ax.step) * 4)) ++written;
    }
  }
  return written;
}

}  // namespace

void Adapter::EngineStart(uint32_t size_word) {
  uint32_t command = Stored(reg::kEngCommand);
  uint32_t w = size_word >> 16;
  uint32_t h = size_word & 0xFFFF;
  if (command == reg::kEngCmdFill) {
    ++stats_.engine_fills;
    EngineFill(w, h);
  } else if (command == reg::kEngCmdCopy) {
    ++stats_.engine_copies;
    EngineCopy(w, h);
  } else {
    ++stats_.engine_unknown;
    stats_.engine_last_unknown = command;
    return;
  }
  engine_busy_ = config_.engine_busy_reads < 0 ? -1 : config_.engine_busy_reads;
}

void Adapter::EngineFill(uint32_t w, uint32_t h) {
  uint32_t dir = Stored(reg::kEngDirection);
  bool ltr = config_.fill_ignores_direction || (dir & 1) != 0;
  bool ttb = config_.fill_ignores_direction || (dir & 2) != 0;
  uint32_t pos = Stored(reg::kEngDstPos);
  Axis ax = MakeAxis(pos & 0xFFFF, ltr);
  Axis ay = MakeAxis(pos >> 16, ttb);
  int64_t base = Stored(reg::kEngDstOffset);
  int64_t pitch = Stored(reg::kEngDstPitch);
  uint32_t colour = Stored(reg::kEngColour);
  auto fill = [&](int64_t, int64_t, int64_t at) {
    Store32(fb_ + at, colour);
    return true;
  };
  uint64_t written = WalkDestination(ax, ay, w, h, base, pitch, config_.fb_size, fill);
  stats_.engine_clipped += uint64_t{w} * h - written;
}

void Adapter::EngineCopy(uint32_t w, uint32_t h) {
  uint32_t dir = Stored(reg::kEngDirection);
  bool ltr = (dir & 1) != 0;
  bool ttb = (dir & 2) != 0;
  uint32_t dpos = Stored(reg::kEngDstPos);
  uint32_t spos = Stored(reg::kEngSrcPos);
  Axis dx = MakeAxis(dpos & 0xFFFF, ltr), dy = MakeAxis(dpos >> 16, ttb);
  Axis sx = MakeAxis(spos & 0xFFFF, ltr), sy = MakeAxis(spos >> 16, ttb);
  int64_t dbase = Stored(reg::kEngDstOffset), dpitch = Stored(reg::kEngDstPitch);
  int64_t sbase = Stored(reg::kEngSrcOffset), spitch = Stored(reg::kEngSrcPitch);
  auto copy = [&](int64_t i, int64_t j, int64_t at) {
    uint64_t from;
    // Nothing to read: the destination pixel is left alone.
    if (!PixelInside(sx.first + i * sx.step, sy.first + j * sy.step, sbase, spitch, config_.fb_size, &from)) {
      return false;
    }
    Store32(fb_ + at, Load32(fb_ + from));
    return true;
  };
  uint64_t written = WalkDestination(dx, dy, w, h, dbase, dpitch, config_.fb_size, copy);
  stats_.engine_clipped += uint64_t{w} * h - written;
}

}  // namespace kt270
