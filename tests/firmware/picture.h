// What a monitor of the virtual KT270 shows, handed to the host: rendered
// into pages whose address goes out on the debug console, so that QEMU's
// monitor saves them (pmemsave) while the picture is on the screen; the
// host answers with a key. KtE2e.efi hands over every configuration's
// picture, KtClient.efi the one a boot loader left.
#pragma once

#include "efi/efi.h"
#include "sim/adapter/kt270_model.h"
#include "tests/firmware/debugcon.h"

namespace picture {

inline const char* const kConnectorNames[4] = {"digital", "analog_a", "analog_b", "tv"};

// FNV-1a over the 0x00RRGGBB pixels, red, green, blue: the host computes
// the same over what it saved.
inline UINT64 Hash(const UINT32* px, UINTN n) {
  UINT64 h = 0xCBF29CE484222325ULL;
  for (UINTN i = 0; i < n; ++i)
    for (unsigned b = 0; b < 3; ++b) {
      h ^= (px[i] >> (16 - 8 * b)) & 0xFF;
      h *= 0x100000001B3ULL;
    }
  return h;
}

// Waits for a key or for the given seconds; true when a key came.
inline bool WaitForKey(EFI_SYSTEM_TABLE* st, UINT64 seconds) {
  EFI_BOOT_SERVICES* bs = st->BootServices;
  EFI_EVENT timer = nullptr;
  if (EFI_ERROR(bs->CreateEvent(EVT_TIMER, TPL_APPLICATION, nullptr, nullptr, &timer))) return false;
  bs->SetTimer(timer, TimerRelative, seconds * 10000000ULL);
  EFI_EVENT events[2] = {st->ConIn->WaitForKey, timer};
  UINTN index = 0;
  bs->WaitForEvent(2, events, &index);
  EFI_INPUT_KEY key;
  st->ConIn->ReadKeyStroke(st->ConIn, &key);
  bs->CloseEvent(timer);
  return index == 0;
}

// The first connector whose monitor is in sync, or -1.
inline int ShowingConnector(const kt270::Adapter* a) {
  for (unsigned k = 0; k < kt270::kConnectorCount; ++k) {
    auto conn = static_cast<kt270::Connector>(k);
    if (a->Plugged(conn) && a->Watch(conn).sync == kt270::Sync::kInSync) return (int)k;
  }
  return -1;
}

// Hands over what the monitor in sync shows or, with none, what the first
// running CRTC fetches (its "shows" says which), and waits for the host's
// key at most `seconds` (picture_done says how long, by the TSC at
// tsc_per_us). `unscaled_equals_memory`: without the scaler,
// whether the view is the frame buffer's words at the CRTC's base and
// pitch, i.e. what a client writes there is what the monitor shows.
inline bool HandOver(EFI_SYSTEM_TABLE* st, const kt270::Adapter* a, const char* tag, UINT64 seconds,
                     UINT64 tsc_per_us) {
  EFI_BOOT_SERVICES* bs = st->BootServices;
  int conn = ShowingConnector(a);
  int crtc = -1;
  for (unsigned k = 0; k < 2 && crtc < 0; ++k)
    if (a->DecodeCrtc(k).running) crtc = (int)k;
  kt270::MonitorView v = {};
  if (conn >= 0) {
    v = a->Watch(static_cast<kt270::Connector>(conn));
    crtc = v.crtc;
  }
  kt270::CrtcState c = a->DecodeCrtc(crtc < 0 ? 0 : (unsigned)crtc);
  UINT32 w = conn >= 0 ? v.width : c.source_width, h = conn >= 0 ? v.height : c.source_height;
  UINTN bytes = crtc >= 0 ? (UINTN)w * h * 4 : 0;
  EFI_PHYSICAL_ADDRESS pages = 0;
  bool ok = bytes && !EFI_ERROR(bs->AllocatePages(AllocateAnyPages, EfiBootServicesData, (bytes + 4095) / 4096, &pages));
  auto* px = reinterpret_cast<UINT32*>(static_cast<UINTN>(pages));
  UINT32 rw = 0, rh = 0;
  if (ok)
    ok = conn >= 0 ? a->RenderView(static_cast<kt270::Connector>(conn), px, (UINTN)w * h, &rw, &rh)
                   : a->RenderSource((unsigned)crtc, px, (UINTN)w * h, &rw, &rh);
  ok = ok && rw == w && rh == h;
  UINT64 ink = 0;
  for (UINTN i = 0; ok && i < (UINTN)w * h; ++i)
    if (px[i] & 0xFFFFFF) ++ink;
  bool unscaled = ok && !c.scaler_enabled && c.source_width == w && c.source_height == h;
  bool equal = unscaled;
  const UINT8* fb = a->FrameBuffer();
  for (UINT32 y = 0; equal && y < h; ++y)
    for (UINT32 x = 0; equal && x < w; ++x) {
      UINT64 at = c.surface_base + (UINT64)y * c.pitch_bytes + x * 4ULL;
      if (at + 4 > a->FrameBufferSize()) equal = false;
      else equal = ((fb[at] | fb[at + 1] << 8 | (UINT32)fb[at + 2] << 16) == (px[(UINTN)y * w + x] & 0xFFFFFF));
    }
  debugcon::JsonLine line("picture");
  line.Str("tag", tag).Str("shows", conn >= 0 ? kConnectorNames[conn] : crtc == 0 ? "crtc1" : crtc == 1 ? "crtc2" : nullptr);
  line.Bool("rendered", ok).Size("size", w, h).Hex("address", ok ? pages : 0).Num("bytes", ok ? bytes : 0);
  line.Num("ink", ink).Hex("hash", ok ? Hash(px, (UINTN)w * h) : 0);
  if (conn >= 0) line.Str("verdict", "in sync").Bool("scaled", v.scaled).Size("source", v.source_width, v.source_height);
  line.Num("crtc", crtc < 0 ? 0 : (UINT64)crtc + 1).Hex("surface_offset", c.surface_base).Num("pitch_bytes", c.pitch_bytes);
  if (unscaled) line.Bool("unscaled_equals_memory", equal); else line.Str("unscaled_equals_memory", nullptr);
  line.Emit();
  // Every line is answered by one key, also when there is nothing to save:
  // a key left over would end the next wait before the host saved.
  UINT64 t0 = debugcon::ReadTsc();
  bool key = WaitForKey(st, seconds);
  debugcon::JsonLine("picture_done").Str("tag", tag).Bool("key", key)
      .Num("wait_us", (debugcon::ReadTsc() - t0) / (tsc_per_us ? tsc_per_us : 1)).Emit();
  if (pages) bs->FreePages(pages, (bytes + 4095) / 4096);
  return ok;
}

}  // namespace picture
