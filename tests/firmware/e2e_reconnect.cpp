// KtE2e.efi -reconnect (see e2e_reconnect.h). Our Driver Binding's Start
// and Stop are wrapped for the time of the passes, as the SCT watches them
// per driver: a Stop that refuses, or a Start that never comes again,
// leaves the console on a stopped driver.
#include "tests/firmware/e2e_reconnect.h"

#include "tests/firmware/app_support.h"
#include "tests/firmware/debugcon.h"
#include "tests/firmware/efi_extra.h"

using debugcon::JsonLine;

namespace e2e {
namespace {

EFI_BOOT_SERVICES* gBoot;
EFI_HANDLE gSelf;
KT_VIRT_PROTOCOL* gKt;

struct Watch {
  EFI_DRIVER_BINDING_START start;
  EFI_DRIVER_BINDING_STOP stop;
  UINT32 stops, stopsFailed, starts, startsOk, startsAfterStop;
  EFI_STATUS firstFailedStop;
  bool stopped;  // our controller's last Stop succeeded
};
Watch gWatch;

EFI_STATUS EFIAPI WatchedStop(EFI_DRIVER_BINDING_PROTOCOL* This, EFI_HANDLE Controller, UINTN Children,
                              EFI_HANDLE* ChildBuffer) {
  EFI_STATUS s = gWatch.stop(This, Controller, Children, ChildBuffer);
  if (Controller == gKt->Controller) {
    gWatch.stops++;
    if (EFI_ERROR(s)) {
      if (gWatch.stopsFailed++ == 0) gWatch.firstFailedStop = s;
    } else {
      gWatch.stopped = true;
    }
  }
  return s;
}

EFI_STATUS EFIAPI WatchedStart(EFI_DRIVER_BINDING_PROTOCOL* This, EFI_HANDLE Controller,
                               EFI_DEVICE_PATH_PROTOCOL* Remaining) {
  EFI_STATUS s = gWatch.start(This, Controller, Remaining);
  if (Controller == gKt->Controller) {
    gWatch.starts++;
    if (!EFI_ERROR(s)) {
      gWatch.startsOk++;
      if (gWatch.stopped) gWatch.startsAfterStop++;
    }
  }
  return s;
}

// One pass over the handles as they are now; returns how many calls failed.
UINTN EveryHandle(bool connect) {
  EFI_HANDLE* handles = nullptr;
  UINTN count = 0, failed = 0;
  if (EFI_ERROR(gBoot->LocateHandleBuffer(AllHandles, nullptr, nullptr, &count, &handles))) return 1;
  for (UINTN i = 0; i < count; ++i) {
    EFI_STATUS s = connect ? gBoot->ConnectController(handles[i], nullptr, nullptr, EFI_TRUE)
                           : gBoot->DisconnectController(handles[i], nullptr, nullptr);
    // Handles without drivers answer "not found"; that is no failure.
    if (EFI_ERROR(s) && s != EFI_NOT_FOUND) ++failed;
  }
  gBoot->FreePool(handles);
  return failed;
}

template <typename T>
T* On(const EFI_GUID* guid) {
  return app::ProtocolOn<T>(gBoot, gSelf, gKt->Controller, guid);
}

// The source picture of the running CRTC, into a pool buffer of w x h.
UINT32* Picture(UINT32* w, UINT32* h) {
  kt270::Adapter* a = gKt->Adapter;
  for (unsigned crtc = 0; crtc < 2; ++crtc) {
    kt270::CrtcState c = a->DecodeCrtc(crtc);
    if (!c.running) continue;
    UINTN capacity = (UINTN)c.source_width * c.source_height;
    VOID* p = nullptr;
    if (!capacity || EFI_ERROR(gBoot->AllocatePool(EfiBootServicesData, capacity * 4, &p))) return nullptr;
    if (a->RenderSource(crtc, static_cast<UINT32*>(p), capacity, w, h)) return static_cast<UINT32*>(p);
    gBoot->FreePool(p);
    return nullptr;
  }
  return nullptr;
}

}  // namespace

EFI_STATUS RunReconnect(EFI_HANDLE image, EFI_SYSTEM_TABLE* st, KT_VIRT_PROTOCOL* virt,
                        EFI_DRIVER_BINDING_PROTOCOL* binding) {
  gBoot = st->BootServices;
  gSelf = image;
  gKt = virt;
  gWatch = Watch{binding->Start, binding->Stop, 0, 0, 0, 0, 0, EFI_SUCCESS, false};
  binding->Start = WatchedStart;
  binding->Stop = WatchedStop;

  UINT64 t0 = debugcon::ReadTsc();
  UINTN disconnectFailed = EveryHandle(false);
  bool gone = On<VOID>(&kEfiUgaDrawProtocolGuid) == nullptr && On<VOID>(&kEfiGraphicsOutputProtocolGuid) == nullptr;
  UINT16 decode = virt->Adapter->Command() & 0x7;
  UINTN connectFailed = EveryHandle(true);
  connectFailed += EveryHandle(true);
  UINT64 ticks = debugcon::ReadTsc() - t0;
  // This image goes: the firmware must call the driver's own functions.
  binding->Start = gWatch.start;
  binding->Stop = gWatch.stop;

  JsonLine line("reconnect");
  line.Num("stops", gWatch.stops).Num("stops_failed", gWatch.stopsFailed).Hex("first_failed_stop", gWatch.firstFailedStop);
  line.Num("starts", gWatch.starts).Num("starts_ok", gWatch.startsOk).Num("starts_after_stop", gWatch.startsAfterStop);
  line.Bool("interfaces_gone_after_disconnect", gone).Hex("decode_after_disconnect", decode);
  line.Num("disconnect_failures", disconnectFailed).Num("connect_failures", connectFailed);
  line.Num("ms", ticks / (virt->TscPerUs ? virt->TscPerUs : 1) / 1000);
  line.Bool("uga", On<VOID>(&kEfiUgaDrawProtocolGuid) != nullptr);
  line.Bool("gop", On<VOID>(&kEfiGraphicsOutputProtocolGuid) != nullptr);
  app::Opens gop = app::CountOpens(gBoot, gSelf, virt->Controller, &kEfiGraphicsOutputProtocolGuid, nullptr);
  app::Opens uga = app::CountOpens(gBoot, gSelf, virt->Controller, &kEfiUgaDrawProtocolGuid, nullptr);
  app::Opens text = app::CountOpens(gBoot, gSelf, virt->Controller, &kEfiSimpleTextOutProtocolGuid, nullptr);
  line.Num("gop_consumers", gop.byDriver).Num("uga_consumers", uga.byDriver).Num("text_out_consumers", text.byDriver);

  // Text through the console on our handle: the monitor shows it, in the
  // first text row and nowhere else.
  auto* out = On<EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL>(&kEfiSimpleTextOutProtocolGuid);
  UINT64 changed = 0, outside = 0;
  EFI_STATUS written = EFI_NOT_FOUND;
  UINT32 w = 0, h = 0, w2 = 0, h2 = 0;
  if (out) {
    out->EnableCursor(out, EFI_FALSE);
    out->SetAttribute(out, EFI_WHITE | (EFI_BLACK << 4));
    out->ClearScreen(out);
    UINT32* before = Picture(&w, &h);
    written = out->OutputString(out, u"KT270 after disconnecting and connecting everything");
    UINT32* after = Picture(&w2, &h2);
    constexpr UINT32 kFirstRowBand = 40;  // one glyph row and the console's top margin
    for (UINTN y = 0; before && after && w == w2 && h == h2 && y < h; ++y) {
      for (UINTN x = 0; x < w; ++x) {
        if (((before[y * w + x] ^ after[y * w + x]) & 0xFFFFFF) == 0) continue;
        ++changed;
        if (y >= kFirstRowBand) ++outside;
      }
    }
    if (before) gBoot->FreePool(before);
    if (after) gBoot->FreePool(after);
  }
  kt270::MonitorView v = virt->Adapter->Watch(kt270::Connector::kDigital);
  line.Hex("output_status", written).Size("picture", w, h).Num("changed", changed).Num("outside", outside);
  line.Str("verdict", v.sync == kt270::Sync::kInSync ? "in sync" : v.reason).Size("shown", v.width, v.height);
  line.Emit();
  st->RuntimeServices->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
  return EFI_DEVICE_ERROR;
}

}  // namespace e2e
