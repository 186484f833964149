// KtClient.efi: sets the stage for the boot loaders and kernels that are
// not ours (GRUB, Linux) on the model-backed KT270 of KtVirt.efi, and
// reports what they find there, as JSON lines on the debug console.
//
//   KtClient.efi -start TAG    starts our driver on the virtual controller
//                              through its Driver Binding alone: no console
//                              driver binds, nothing draws through it, as a
//                              platform leaves an adapter that is not on
//                              ConOut; then reports as -report TAG
//   KtClient.efi -restart TAG  stops it (DisconnectController) and starts
//                              it so again, then reports
//   KtClient.efi -report TAG   Graphics Output as a loader finds it: every
//                              QueryMode, the mode in force, the frame
//                              buffer, the EDID protocols, who has it open;
//                              the monitor and what its CRTC fetches
//   KtClient.efi -picture TAG  hands the monitor's picture to the host (see
//                              picture.h) and waits for its key
// The configuration (monitors, platform) is the one KtE2e.efi -configure
// left on the virtual KT270.
#include "efi/efi.h"
#include "sim/adapter/kt270_model.h"
#include "tests/firmware/app_support.h"
#include "tests/firmware/debugcon.h"
#include "tests/firmware/kt_virt.h"
#include "tests/firmware/picture.h"

using debugcon::JsonLine;

namespace {

EFI_BOOT_SERVICES* gBS;
EFI_HANDLE gImage;

template <typename T>
T* ProtocolOn(EFI_HANDLE handle, const EFI_GUID* guid) {
  return app::ProtocolOn<T>(gBS, gImage, handle, guid);
}

KT_VIRT_PROTOCOL* FindVirt() {
  EFI_HANDLE* handles = nullptr;
  UINTN count = 0;
  if (EFI_ERROR(gBS->LocateHandleBuffer(ByProtocol, &kKtVirtProtocolGuid, nullptr, &count, &handles))) return nullptr;
  KT_VIRT_PROTOCOL* v = count == 1 ? ProtocolOn<KT_VIRT_PROTOCOL>(handles[0], &kKtVirtProtocolGuid) : nullptr;
  gBS->FreePool(handles);
  return v && v->Revision == kKtVirtRevision ? v : nullptr;
}

UINTN HandlesWith(const EFI_GUID* guid) {
  EFI_HANDLE* handles = nullptr;
  UINTN count = 0;
  if (EFI_ERROR(gBS->LocateHandleBuffer(ByProtocol, guid, nullptr, &count, &handles))) return 0;
  gBS->FreePool(handles);
  return count;
}

// Both EDID protocols have the same layout.
void ReportEdid(JsonLine& line, const char* key, EFI_HANDLE controller, const EFI_GUID* guid) {
  auto* e = ProtocolOn<EFI_EDID_ACTIVE_PROTOCOL>(controller, guid);
  if (!e) {
    line.Str(key, nullptr);
    return;
  }
  line.Num(key, e->SizeOfEdid);
}

// Pixels that are not black in what the CRTC fetches (0: nothing drawn).
UINT64 SurfaceInk(const kt270::Adapter* a, const kt270::CrtcState& s) {
  UINT64 ink = 0;
  const UINT8* fb = a->FrameBuffer();
  for (UINT32 y = 0; y < s.source_height; ++y)
    for (UINT32 x = 0; x < s.source_width; ++x) {
      UINT64 at = s.surface_base + (UINT64)y * s.pitch_bytes + x * 4ULL;
      if (at + 3 <= a->FrameBufferSize() && (fb[at] | fb[at + 1] | fb[at + 2])) ++ink;
    }
  return ink;
}

// Graphics Output as a loader sees it, and the monitor behind it.
EFI_STATUS Report(KT_VIRT_PROTOCOL* virt, EFI_DRIVER_BINDING_PROTOCOL* binding, const char* tag) {
  EFI_HANDLE controller = virt->Controller;
  auto* gop = ProtocolOn<EFI_GRAPHICS_OUTPUT_PROTOCOL>(controller, &kEfiGraphicsOutputProtocolGuid);
  for (UINT32 m = 0; gop && m < gop->Mode->MaxMode; ++m) {
    EFI_GRAPHICS_OUTPUT_MODE_INFORMATION* info = nullptr;
    UINTN size = 0;
    EFI_STATUS s = gop->QueryMode(gop, m, &size, &info);
    JsonLine line("client_mode");
    line.Str("tag", tag).Num("index", m).Hex("status", s);
    if (!EFI_ERROR(s)) {
      line.Size("mode", info->HorizontalResolution, info->VerticalResolution)
          .Num("pitch", info->PixelsPerScanLine).Num("format", (UINT64)info->PixelFormat);
      gBS->FreePool(info);
    }
    line.Emit();
  }
  JsonLine line("client_gop");
  line.Str("tag", tag).Bool("gop", gop != nullptr).Num("gop_handles", HandlesWith(&kEfiGraphicsOutputProtocolGuid));
  if (gop) {
    const EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE* mode = gop->Mode;
    line.Num("max_mode", mode->MaxMode).Num("mode", mode->Mode);
    if (mode->Info)
      line.Size("info", mode->Info->HorizontalResolution, mode->Info->VerticalResolution)
          .Num("pitch", mode->Info->PixelsPerScanLine);
    line.Hex("fb_base", mode->FrameBufferBase).Num("fb_size", mode->FrameBufferSize);
    UINT64 bar = 0, barSize = 0;
    bool io = false;
    if (virt->Adapter->BarRange(0, &bar, &barSize, &io)) line.Hex("bar0", bar).Num("bar0_size", barSize);
  }
  ReportEdid(line, "edid_discovered", controller, &kEfiEdidDiscoveredProtocolGuid);
  ReportEdid(line, "edid_active", controller, &kEfiEdidActiveProtocolGuid);
  app::Opens opens = app::CountOpens(gBS, gImage, controller, &kEfiGraphicsOutputProtocolGuid,
                                     binding ? binding->DriverBindingHandle : nullptr);
  line.Num("gop_consumers", opens.byDriver).Emit();

  const kt270::Adapter* a = virt->Adapter;
  int conn = picture::ShowingConnector(a);
  JsonLine mon("client_monitor");
  mon.Str("tag", tag);
  for (unsigned k = 0; k < kt270::kConnectorCount; ++k) {
    auto c = static_cast<kt270::Connector>(k);
    if (!a->Plugged(c)) continue;
    kt270::MonitorView v = a->Watch(c);
    const char* sync = v.sync == kt270::Sync::kInSync ? "in sync" : v.sync == kt270::Sync::kOutOfRange ? "out of range" : "no signal";
    mon.Str("connector", picture::kConnectorNames[k]).Str("verdict", sync).Str("reason", v.reason)
        .Size("shows", v.width, v.height).Bool("scaled", v.scaled).Size("source", v.source_width, v.source_height);
    if (v.crtc < 2) {
      kt270::CrtcState s = a->DecodeCrtc(v.crtc);
      mon.Num("crtc", v.crtc + 1).Hex("surface_offset", s.surface_base).Num("pitch_bytes", s.pitch_bytes)
          .Num("bpp", s.bpp).Num("surface_ink", SurfaceInk(a, s));
    }
    break;
  }
  mon.Bool("in_sync", conn >= 0).Emit();
  return gop ? EFI_SUCCESS : EFI_NOT_FOUND;
}

// Supported and Start of our Driver Binding, and nothing else.
EFI_STATUS StartAlone(KT_VIRT_PROTOCOL* virt, EFI_DRIVER_BINDING_PROTOCOL* binding, const char* tag) {
  UINT64 t0 = debugcon::ReadTsc();
  EFI_STATUS supported = binding->Supported(binding, virt->Controller, nullptr);
  EFI_STATUS started = EFI_ERROR(supported) ? EFI_NOT_STARTED : binding->Start(binding, virt->Controller, nullptr);
  UINT64 ticks = debugcon::ReadTsc() - t0;
  JsonLine("client_start").Str("tag", tag).Hex("supported", supported).Hex("status", started)
      .Num("us", ticks / app::MeasureTscPerUs(gBS)).Emit();
  return started;
}

}  // namespace

extern "C" EFI_STATUS EFIAPI ClientEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable) {
  gImage = ImageHandle;
  gBS = SystemTable->BootServices;
  auto* self = ProtocolOn<app::LOADED_IMAGE>(ImageHandle, &kEfiLoadedImageProtocolGuid);
  enum Mode { kStart, kRestart, kReport, kPicture, kNone };
  const char* const options[] = {"-start", "-restart", "-report", "-picture"};
  int which = kNone;
  const CHAR16* arg = nullptr;
  UINTN length = 0;
  for (int m = 0; m < kNone && which == kNone; ++m)
    if ((arg = app::Argument(self, options[m], &length)) != nullptr) which = m;
  const char* mode = which == kNone ? nullptr : options[which] + 1;
  char tag[24] = "";
  for (UINTN i = 0; arg && i < length && i + 1 < sizeof tag; ++i) tag[i] = arg[i] < 0x80 ? (char)arg[i] : '?';
  KT_VIRT_PROTOCOL* virt = FindVirt();
  app::OurDriver ours = app::FindOurDriver(gBS, gImage);
  JsonLine("client_begin").Str("mode", mode).Str("tag", tag).Bool("virt", virt != nullptr)
      .Bool("driver", ours.binding != nullptr).Emit();
  EFI_STATUS s = EFI_INVALID_PARAMETER;
  if (!virt || !ours.binding) {
    s = EFI_NOT_FOUND;
  } else if (which == kPicture) {
    s = picture::HandOver(SystemTable, virt->Adapter, tag, 30, app::MeasureTscPerUs(gBS)) ? EFI_SUCCESS
                                                                                          : EFI_DEVICE_ERROR;
  } else if (which == kReport) {
    s = Report(virt, ours.binding, tag);
  } else if (which != kNone) {
    s = EFI_SUCCESS;
    if (which == kRestart) {
      s = gBS->DisconnectController(virt->Controller, ours.binding->DriverBindingHandle, nullptr);
      JsonLine("client_stop").Str("tag", tag).Hex("status", s).Emit();
    }
    if (!EFI_ERROR(s)) s = StartAlone(virt, ours.binding, tag);
    if (!EFI_ERROR(s)) s = Report(virt, ours.binding, tag);
  }
  JsonLine("client_done").Str("mode", mode).Str("tag", tag).Hex("status", s).Emit();
  return s;
}
