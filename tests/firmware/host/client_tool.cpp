// Host side of the runs with GRUB and Linux: pictures saved from guest
// memory, and the demo's gallery.
//
//   client_tool picture RAW OUT.png WxH [OFFSET PITCH]
//       the W x H picture in RAW (what QEMU's pmemsave saved: 32-bit
//       pixels 0x00RRGGBB, little-endian, rows PITCH bytes apart from
//       OFFSET; default a packed picture at 0) as PNG; prints its FNV-1a
//       hash (the one KtClient.efi and KtE2e.efi report), the pixels that
//       are not black and the first and last rows that hold any
//   client_tool gallery OUT.png FONT.pf2 IMAGE.png=CAPTION...
//       the pictures side by side, three to a row, each scaled into one
//       tile with its caption underneath in the GRUB font FONT.pf2; a
//       missing picture leaves a grey tile
#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Image {
  unsigned w = 0, h = 0;
  std::vector<uint8_t> rgb;  // w * h * 3
};

bool WritePng(const std::string& path, const Image& im) {
  png_image p{};
  p.version = PNG_IMAGE_VERSION;
  p.width = im.w;
  p.height = im.h;
  p.format = PNG_FORMAT_RGB;
  return png_image_write_to_file(&p, path.c_str(), 0, im.rgb.data(), 0, nullptr) != 0;
}

bool ReadPng(const std::string& path, Image* im) {
  png_image p{};
  p.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&p, path.c_str())) return false;
  p.format = PNG_FORMAT_RGB;
  im->w = p.width;
  im->h = p.height;
  im->rgb.resize(PNG_IMAGE_SIZE(p));
  return png_image_finish_read(&p, nullptr, im->rgb.data(), 0, nullptr) != 0;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  bytes->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return true;
}

int Picture(int argc, char** argv) {
  if (argc != 5 && argc != 7) return 2;
  unsigned w = 0, h = 0;
  if (std::sscanf(argv[4], "%ux%u", &w, &h) != 2 || w == 0 || h == 0) return 2;
  uint64_t offset = argc == 7 ? std::strtoull(argv[5], nullptr, 0) : 0;
  uint64_t pitch = argc == 7 ? std::strtoull(argv[6], nullptr, 0) : uint64_t{w} * 4;
  std::vector<uint8_t> raw;
  if (!ReadFile(argv[2], &raw) || pitch < uint64_t{w} * 4 || offset + (h - 1) * pitch + uint64_t{w} * 4 > raw.size()) {
    std::fprintf(stderr, "client_tool: %s does not hold a %ux%u picture at %llu, pitch %llu\n", argv[2], w, h,
                 static_cast<unsigned long long>(offset), static_cast<unsigned long long>(pitch));
    return 1;
  }
  Image im;
  im.w = w;
  im.h = h;
  im.rgb.resize(size_t{w} * h * 3);
  uint64_t hash = 0xCBF29CE484222325ULL, ink = 0;
  long first = -1, last = -1;
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x) {
      const uint8_t* px = &raw[offset + y * pitch + x * 4];
      uint8_t* out = &im.rgb[(size_t{y} * w + x) * 3];
      out[0] = px[2], out[1] = px[1], out[2] = px[0];
      for (int c = 0; c < 3; ++c) hash = (hash ^ out[c]) * 0x100000001B3ULL;
      if (out[0] | out[1] | out[2]) {
        ++ink;
        if (first < 0) first = y;
        last = y;
      }
    }
  if (!WritePng(argv[3], im)) {
    std::fprintf(stderr, "client_tool: cannot write %s\n", argv[3]);
    return 1;
  }
  std::printf("size %ux%u\nhash 0x%llx\nink %llu\nink_rows %ld %ld\n", w, h, static_cast<unsigned long long>(hash),
              static_cast<unsigned long long>(ink), first, last);
  return 0;
}

// ---- GRUB's PF2 font: sections of a 4-character name and a big-endian
// length; CHIX indexes the glyphs (code point, flags, offset), each glyph
// its size, offsets and device width, then its bitmap, bit-packed rows.
class Font {
 public:
  bool Load(const std::string& path) {
    if (!ReadFile(path, &f_)) return false;
    for (size_t at = 0; at + 8 <= f_.size();) {
      std::string name(f_.begin() + at, f_.begin() + at + 4);
      uint32_t len = Be(at + 4, 4);
      at += 8;
      if (name == "DATA") break;
      if (at + len > f_.size()) return false;
      if (name == "ASCE") ascent_ = static_cast<int>(Be(at, 2));
      if (name == "MAXH") height_ = static_cast<int>(Be(at, 2));
      if (name == "CHIX")
        for (size_t e = at; e + 9 <= at + len; e += 9) index_.push_back({Be(e, 4), Be(e + 5, 4)});
      at += len;
    }
    return height_ > 0 && !index_.empty();
  }
  int Height() const { return height_; }

  // Draws one line with its top at y; returns the width it took.
  int Draw(Image* im, int x, int y, const std::string& text, const uint8_t rgb[3]) const {
    int pen = x;
    for (unsigned char ch : text) {
      auto g = std::find_if(index_.begin(), index_.end(), [&](const Entry& e) { return e.code == ch; });
      if (g == index_.end() || g->offset + 10 > f_.size()) continue;
      size_t at = g->offset;
      int gw = static_cast<int>(Be(at, 2)), gh = static_cast<int>(Be(at + 2, 2));
      int xo = static_cast<int16_t>(Be(at + 4, 2)), yo = static_cast<int16_t>(Be(at + 6, 2));
      int dw = static_cast<int16_t>(Be(at + 8, 2));
      int top = y + ascent_ - (yo + gh);
      for (int r = 0; r < gh; ++r)
        for (int c = 0; c < gw; ++c) {
          size_t bit = static_cast<size_t>(r) * gw + c, byte = at + 10 + bit / 8;
          if (byte >= f_.size() || !(f_[byte] & (0x80 >> (bit % 8)))) continue;
          int px = pen + xo + c, py = top + r;
          if (px < 0 || py < 0 || px >= static_cast<int>(im->w) || py >= static_cast<int>(im->h)) continue;
          std::copy(rgb, rgb + 3, &im->rgb[(static_cast<size_t>(py) * im->w + px) * 3]);
        }
      pen += dw;
    }
    return pen - x;
  }

 private:
  struct Entry {
    uint32_t code, offset;
  };
  uint32_t Be(size_t at, int n) const {
    uint32_t v = 0;
    for (int i = 0; i < n && at + i < f_.size(); ++i) v = v << 8 | f_[at + i];
    return v;
  }
  std::vector<uint8_t> f_;
  std::vector<Entry> index_;
  int ascent_ = 0, height_ = 0;
};

// Scaled to fit w x h, by the mean of the pixels each target pixel covers
// (brightened), so that text stays grey rather than vanishing.
Image Scale(const Image& src, unsigned w, unsigned h) {
  Image out;
  out.w = std::max(1u, std::min(w, static_cast<unsigned>(uint64_t{src.w} * h / src.h)));
  out.h = std::max(1u, std::min(h, static_cast<unsigned>(uint64_t{src.h} * out.w / src.w)));
  out.rgb.resize(size_t{out.w} * out.h * 3);
  for (unsigned y = 0; y < out.h; ++y)
    for (unsigned x = 0; x < out.w; ++x) {
      unsigned x0 = x * src.w / out.w, x1 = std::max(x0 + 1, (x + 1) * src.w / out.w);
      unsigned y0 = y * src.h / out.h, y1 = std::max(y0 + 1, (y + 1) * src.h / out.h);
      uint64_t sum[3] = {0, 0, 0}, n = 0;
      for (unsigned sy = y0; sy < y1; ++sy)
        for (unsigned sx = x0; sx < x1; ++sx, ++n)
          for (int c = 0; c < 3; ++c) sum[c] += src.rgb[(size_t{sy} * src.w + sx) * 3 + c];
      for (int c = 0; c < 3; ++c) {
        uint64_t v = sum[c] * 2 / n;
        out.rgb[(size_t{y} * out.w + x) * 3 + c] = static_cast<uint8_t>(std::min<uint64_t>(v, 255));
      }
    }
  return out;
}

int Gallery(int argc, char** argv) {
  if (argc < 5) return 2;
  Font font;
  if (!font.Load(argv[3])) {
    std::fprintf(stderr, "client_tool: %s is not a PF2 font\n", argv[3]);
    return 1;
  }
  constexpr unsigned kTile = 560, kGap = 16, kColumns = 3, kTileHeight = kTile * 10 / 16;
  const unsigned count = static_cast<unsigned>(argc - 4);
  const unsigned rows = (count + kColumns - 1) / kColumns;
  const unsigned cell = kTileHeight + static_cast<unsigned>(font.Height()) + 2 * kGap;
  Image g;
  g.w = kColumns * (kTile + kGap) + kGap;
  g.h = rows * cell + kGap;
  g.rgb.assign(size_t{g.w} * g.h * 3, 0x30);
  const uint8_t white[3] = {0xF0, 0xF0, 0xF0};
  for (unsigned i = 0; i < count; ++i) {
    std::string arg = argv[4 + i];
    size_t eq = arg.find('=');
    std::string path = arg.substr(0, eq), caption = eq == std::string::npos ? path : arg.substr(eq + 1);
    unsigned x0 = kGap + (i % kColumns) * (kTile + kGap), y0 = kGap + (i / kColumns) * cell;
    Image src, tile;
    if (ReadPng(path, &src) && src.w && src.h) {
      tile = Scale(src, kTile, kTileHeight);
    } else {
      tile.w = kTile;
      tile.h = kTileHeight;
      tile.rgb.assign(size_t{kTile} * kTileHeight * 3, 0x60);
      caption += " (no picture)";
    }
    for (unsigned y = 0; y < tile.h; ++y)
      std::copy_n(&tile.rgb[size_t{y} * tile.w * 3], tile.w * 3, &g.rgb[(size_t{y0 + y} * g.w + x0) * 3]);
    font.Draw(&g, static_cast<int>(x0), static_cast<int>(y0 + kTileHeight + kGap / 2), caption, white);
  }
  if (!WritePng(argv[2], g)) {
    std::fprintf(stderr, "client_tool: cannot write %s\n", argv[2]);
    return 1;
  }
  std::printf("gallery %ux%u, %u pictures\n", g.w, g.h, count);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string cmd = argc > 1 ? argv[1] : "";
  int rc = cmd == "picture" ? Picture(argc, argv) : cmd == "gallery" ? Gallery(argc, argv) : 2;
  if (rc == 2)
    std::fprintf(stderr,
                 "usage: client_tool picture RAW OUT.png WxH [OFFSET PITCH] | gallery OUT.png FONT.pf2 IMAGE.png=CAPTION...\n");
  return rc;
}
