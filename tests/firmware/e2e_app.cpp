// KtE2e.efi: drives the driver under test on the model-backed KT270 of
// KtVirt.efi through the real firmware, one configuration of e2e.scn after
// the other, and reports every step as JSON lines on the debug console.
//
//   KtE2e.efi                 every configuration: connect, the firmware's
//                             Graphics Console on our Graphics Output (or UGA
//                             Draw with the image that has only that), text
//                             through it, monitor verdicts, properties, the
//                             platform interfaces, every Graphics Output mode
//                             set and written as a loader does, disconnect
//   KtE2e.efi -console NAME   configuration NAME, our controller added to
//                             ConOut and connected: the Shell's console then
//                             draws through the driver
//   KtE2e.efi -pictures       the same, and after the text hands each
//                             configuration's picture to the host
//                             (picture.h)
//   KtE2e.efi -configure NAME configuration NAME on the virtual KT270 and
//                             nothing else (KtClient.efi takes it from there)
//   KtE2e.efi -screen         copies what the monitor shows onto the
//                             firmware's own display and waits for a key
//                             (the host takes the screenshot meanwhile)
//   KtE2e.efi -reconnect      every handle disconnected, then connected
//                             recursively twice (e2e_reconnect.h)
//   KtE2e.efi -shutdown       ResetSystem(EfiResetShutdown)
#include "efi/efi.h"
#include "sim/adapter/kt270_model.h"
#include "tests/firmware/app_support.h"
#include "tests/firmware/debugcon.h"
#include "tests/firmware/e2e_reconnect.h"
#include "tests/firmware/e2e_scenario.h"
#include "tests/firmware/efi_extra.h"
#include "tests/firmware/kt_virt.h"
#include "tests/firmware/picture.h"

using app::LOADED_IMAGE;
using debugcon::JsonLine;
using debugcon::ReadTsc;

namespace {

// GetInfo and SetInfo keys of the display interface used here.
constexpr EFI_GUID kSelectConnectorKey = {
    0xD2C9944A, 0x0F9D, 0x4649, {0x95, 0x4F, 0x86, 0x2C, 0x14, 0x06, 0xF3, 0x20}};
constexpr EFI_GUID kConnectorFlagsKey = {
    0x3064B9C1, 0xF0FF, 0x4FA9, {0x84, 0x22, 0x6B, 0x64, 0xCA, 0x9F, 0x1D, 0xE1}};
constexpr EFI_GUID kDisplayEdidKey = {
    0xD704179F, 0xF181, 0x4ED9, {0x87, 0xF7, 0x77, 0x01, 0x88, 0xEA, 0xE6, 0xB2}};
constexpr EFI_GUID kAnswerKey = {
    0x78446974, 0x3201, 0x4F0F, {0x8B, 0xD1, 0x96, 0x04, 0x8B, 0x7D, 0x10, 0x04}};

const char* const kConnectorNames[4] = {"digital", "analog_a", "analog_b", "tv"};
const char* const kOutputNames[4] = {"dac_a", "dac_b", "tmds", "tv"};

EFI_SYSTEM_TABLE* gST;
EFI_BOOT_SERVICES* gBS;
EFI_RUNTIME_SERVICES* gRT;
EFI_HANDLE gImage;
UINT64 gTscPerUs = 1;
KT_VIRT_PROTOCOL* gVirt;
EFI_DRIVER_BINDING_PROTOCOL* gBinding;
bool gPictures;

UINT64 ElapsedUs(UINT64 since) { return (ReadTsc() - since) / gTscPerUs; }

void ZeroBytes(VOID* p, UINTN n) {
  for (UINTN i = 0; i < n; ++i) static_cast<UINT8*>(p)[i] = 0;
}
bool SameGuid(const EFI_GUID* a, const EFI_GUID* b) {
  const UINT8* x = reinterpret_cast<const UINT8*>(a);
  const UINT8* y = reinterpret_cast<const UINT8*>(b);
  for (UINTN i = 0; i < sizeof(EFI_GUID); ++i)
    if (x[i] != y[i]) return false;
  return true;
}
VOID* Pool(UINTN size) {
  VOID* p = nullptr;
  return EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, size, &p)) ? nullptr : p;
}

// ---- finding things -----------------------------------------------------------
template <typename T>
T* ProtocolOn(EFI_HANDLE handle, const EFI_GUID* guid) {
  return app::ProtocolOn<T>(gBS, gImage, handle, guid);
}

KT_VIRT_PROTOCOL* FindVirt(UINTN* count) {
  EFI_HANDLE* handles = nullptr;
  *count = 0;
  if (EFI_ERROR(gBS->LocateHandleBuffer(ByProtocol, &kKtVirtProtocolGuid, nullptr, count, &handles))) return nullptr;
  KT_VIRT_PROTOCOL* v = ProtocolOn<KT_VIRT_PROTOCOL>(handles[0], &kKtVirtProtocolGuid);
  gBS->FreePool(handles);
  return v && v->Revision == kKtVirtRevision ? v : nullptr;
}

// BY_DRIVER opens of a protocol on the virtual controller, and those of our driver.
app::Opens OpensOf(const EFI_GUID* protocol) {
  return app::CountOpens(gBS, gImage, gVirt->Controller, protocol, gBinding->DriverBindingHandle);
}

// ---- spies on our UGA Draw and Graphics Output: SetMode timing and the
// rectangles Blt drew (both protocols draw the same blue-green-red pixels)
struct Rect {
  UINTN x, y, w, h;
  UINT32* pixels;  // copy of what the caller asked to draw, 0x00RRGGBB
};
constexpr UINTN kMaxRects = 24;
constexpr UINTN kMaxRectPixels = 64 * 1024;

struct Spy {
  VOID* ugaRegistration;
  VOID* gopRegistration;
  EFI_UGA_DRAW_PROTOCOL* uga;
  EFI_UGA_DRAW_PROTOCOL_SET_MODE ugaSetMode;
  EFI_UGA_DRAW_PROTOCOL_BLT ugaBlt;
  EFI_GRAPHICS_OUTPUT_PROTOCOL* gop;
  EFI_GRAPHICS_OUTPUT_PROTOCOL_SET_MODE gopSetMode;
  EFI_GRAPHICS_OUTPUT_PROTOCOL_BLT gopBlt;
  UINT32 setModeCalls, bltCalls, bltFailed, installs;
  UINT32 h, v, depth, refresh;
  EFI_STATUS setModeStatus;
  UINT64 firstSetModeUs;
  bool recording;
  UINTN rectCount;
  Rect rects[kMaxRects];
  // Lit screen: the first moment the watched connector is in sync.
  UINT64 connectTsc, litTsc;
  int watch;  // connector, or -1
};
Spy gSpy;

void CheckLit() {
  if (gSpy.litTsc || gSpy.watch < 0) return;
  if (gVirt->Adapter->Watch(static_cast<kt270::Connector>(gSpy.watch)).sync == kt270::Sync::kInSync)
    gSpy.litTsc = ReadTsc();
}

void NoteSetMode(UINT64 t0, EFI_STATUS s, UINT32 h, UINT32 v, UINT32 depth, UINT32 refresh) {
  if (gSpy.setModeCalls++ == 0) gSpy.firstSetModeUs = ElapsedUs(t0);
  gSpy.h = h, gSpy.v = v, gSpy.depth = depth, gSpy.refresh = refresh, gSpy.setModeStatus = s;
  CheckLit();
}

EFI_STATUS EFIAPI SpyUgaSetMode(EFI_UGA_DRAW_PROTOCOL* This, UINT32 h, UINT32 v, UINT32 depth, UINT32 refresh) {
  UINT64 t0 = ReadTsc();
  EFI_STATUS s = gSpy.ugaSetMode(This, h, v, depth, refresh);
  NoteSetMode(t0, s, h, v, depth, refresh);
  return s;
}

// What GOP's SetMode lit, as UGA Draw's GetMode on the same handle says it.
EFI_STATUS EFIAPI SpyGopSetMode(EFI_GRAPHICS_OUTPUT_PROTOCOL* This, UINT32 mode) {
  UINT64 t0 = ReadTsc();
  EFI_STATUS s = gSpy.gopSetMode(This, mode);
  UINT32 h = 0, v = 0, depth = 0, refresh = 0;
  auto* uga = ProtocolOn<EFI_UGA_DRAW_PROTOCOL>(gVirt->Controller, &kEfiUgaDrawProtocolGuid);
  if (uga) uga->GetMode(uga, &h, &v, &depth, &refresh);
  NoteSetMode(t0, s, h, v, depth, refresh);
  return s;
}

void RecordRect(const EFI_UGA_PIXEL* buffer, UINTN sx, UINTN sy, UINTN dx, UINTN dy, UINTN w, UINTN h, UINTN delta) {
  if (gSpy.rectCount >= kMaxRects || !buffer || w * h == 0 || w * h > kMaxRectPixels) return;
  Rect& r = gSpy.rects[gSpy.rectCount];
  r.pixels = static_cast<UINT32*>(Pool(w * h * 4));
  if (!r.pixels) return;
  if (delta == 0) delta = w * sizeof(EFI_UGA_PIXEL);
  for (UINTN y = 0; y < h; ++y) {
    const auto* row = reinterpret_cast<const EFI_UGA_PIXEL*>(reinterpret_cast<const UINT8*>(buffer) + (sy + y) * delta);
    for (UINTN x = 0; x < w; ++x) {
      const EFI_UGA_PIXEL& p = row[sx + x];
      r.pixels[y * w + x] = (UINT32)p.Red << 16 | (UINT32)p.Green << 8 | p.Blue;
    }
  }
  r.x = dx, r.y = dy, r.w = w, r.h = h;
  gSpy.rectCount++;
}

void NoteBlt(EFI_STATUS s, bool bufferToVideo, const VOID* buffer, UINTN SX, UINTN SY, UINTN DX, UINTN DY, UINTN W,
             UINTN H, UINTN Delta) {
  gSpy.bltCalls++;
  if (EFI_ERROR(s)) gSpy.bltFailed++;
  if (!EFI_ERROR(s) && gSpy.recording && bufferToVideo)
    RecordRect(static_cast<const EFI_UGA_PIXEL*>(buffer), SX, SY, DX, DY, W, H, Delta);
}

EFI_STATUS EFIAPI SpyUgaBlt(EFI_UGA_DRAW_PROTOCOL* This, EFI_UGA_PIXEL* Buffer, EFI_UGA_BLT_OPERATION Op, UINTN SX,
                            UINTN SY, UINTN DX, UINTN DY, UINTN W, UINTN H, UINTN Delta) {
  EFI_STATUS s = gSpy.ugaBlt(This, Buffer, Op, SX, SY, DX, DY, W, H, Delta);
  NoteBlt(s, Op == EfiUgaBltBufferToVideo, Buffer, SX, SY, DX, DY, W, H, Delta);
  return s;
}

EFI_STATUS EFIAPI SpyGopBlt(EFI_GRAPHICS_OUTPUT_PROTOCOL* This, EFI_GRAPHICS_OUTPUT_BLT_PIXEL* Buffer,
                            EFI_GRAPHICS_OUTPUT_BLT_OPERATION Op, UINTN SX, UINTN SY, UINTN DX, UINTN DY, UINTN W,
                            UINTN H, UINTN Delta) {
  EFI_STATUS s = gSpy.gopBlt(This, Buffer, Op, SX, SY, DX, DY, W, H, Delta);
  NoteBlt(s, Op == EfiBltBufferToVideo, Buffer, SX, SY, DX, DY, W, H, Delta);
  return s;
}

// Our handle, from a protocol-notify registration, once per installation.
bool NextInstalled(VOID* registration, const EFI_GUID* guid, VOID** iface) {
  for (;;) {
    EFI_HANDLE handle;
    UINTN size = sizeof handle;
    if (EFI_ERROR(gBS->LocateHandle(ByRegisterNotify, nullptr, registration, &size, &handle))) return false;
    if (handle != gVirt->Controller) continue;
    *iface = ProtocolOn<VOID>(handle, guid);
    if (*iface) return true;
  }
}

// These run when our Start installs the protocols, before the Graphics
// Console can bind in the same ConnectController.
void EFIAPI OnUgaInstalled(EFI_EVENT, VOID*) {
  VOID* iface;
  while (NextInstalled(gSpy.ugaRegistration, &kEfiUgaDrawProtocolGuid, &iface)) {
    auto* uga = static_cast<EFI_UGA_DRAW_PROTOCOL*>(iface);
    gSpy.installs++;
    gSpy.uga = uga;
    gSpy.ugaSetMode = uga->SetMode;
    gSpy.ugaBlt = uga->Blt;
    uga->SetMode = SpyUgaSetMode;
    uga->Blt = SpyUgaBlt;
    CheckLit();
  }
}
void EFIAPI OnGopInstalled(EFI_EVENT, VOID*) {
  VOID* iface;
  while (NextInstalled(gSpy.gopRegistration, &kEfiGraphicsOutputProtocolGuid, &iface)) {
    auto* gop = static_cast<EFI_GRAPHICS_OUTPUT_PROTOCOL*>(iface);
    gSpy.gop = gop;
    gSpy.gopSetMode = gop->SetMode;
    gSpy.gopBlt = gop->Blt;
    gop->SetMode = SpyGopSetMode;
    gop->Blt = SpyGopBlt;
  }
}

void FreeRects() {
  for (UINTN i = 0; i < gSpy.rectCount; ++i) gBS->FreePool(gSpy.rects[i].pixels);
  gSpy.rectCount = 0;
}

// Only the instances still installed are unwrapped: a stopped driver has
// freed the ones before.
void RemoveSpies() {
  auto* uga = ProtocolOn<EFI_UGA_DRAW_PROTOCOL>(gVirt->Controller, &kEfiUgaDrawProtocolGuid);
  if (gSpy.uga && uga == gSpy.uga) {
    uga->SetMode = gSpy.ugaSetMode;
    uga->Blt = gSpy.ugaBlt;
  }
  auto* gop = ProtocolOn<EFI_GRAPHICS_OUTPUT_PROTOCOL>(gVirt->Controller, &kEfiGraphicsOutputProtocolGuid);
  if (gSpy.gop && gop == gSpy.gop) {
    gop->SetMode = gSpy.gopSetMode;
    gop->Blt = gSpy.gopBlt;
  }
  gSpy.uga = nullptr;
  gSpy.gop = nullptr;
}

// ---- the virtual KT270 ------------------------------------------------------------
void ApplyConfig(const e2e::Config& c) {
  kt270::Adapter* a = gVirt->Adapter;
  for (unsigned k = 0; k < kt270::kConnectorCount; ++k) a->Unplug(static_cast<kt270::Connector>(k));
  for (unsigned ch = 1; ch <= 3; ++ch) a->Attach(ch, nullptr);
  a->Reset();
  gVirt->EnabledAttributes = 0;
  a->PokeReg(0x0C60, c.strap);
  a->PokeReg(0x00E8, c.hwgpio);
  a->PokeReg(0x01A4, c.swgpio);
  for (UINTN i = 0; i < c.monitorCount; ++i) {
    const e2e::MonitorSpec& m = c.monitors[i];
    bool ok;
    if (m.raw) {
      kt270::DdcDevice d = {m.edid, m.edidSize, kt270::NoFaults()};
      ok = a->Attach(m.where, &d);
    } else {
      ok = a->Plug({m.edid, m.edidSize, static_cast<kt270::Connector>(m.where), kt270::NoFaults()});
    }
    if (!ok) JsonLine("config_error").Str("config", c.name).Num("monitor", i).Emit();
  }
  gVirt->ValueCount = (UINT32)c.valueCount;
  for (UINTN i = 0; i < c.valueCount; ++i) {
    gVirt->ValueKeys[i] = c.keys[i];
    gVirt->Values[i] = c.values[i];
  }
  gVirt->PropertyCount = 0;
  gVirt->RegisterAdapterCalls = gVirt->GetValueCalls = gVirt->UnexpectedCalls = 0;
  EFI_STATUS s = gVirt->SetPlatform(gVirt, c.database, c.services);
  JsonLine("configure")
      .Str("config", c.name)
      .Num("monitors", c.monitorCount)
      .Bool("database", c.database)
      .Bool("services", c.services)
      .Hex("set_platform_status", s)
      .Emit();
}

int WatchedConnector(const e2e::Config& c) {
  for (UINTN i = 0; i < c.monitorCount; ++i)
    if (!c.monitors[i].raw) return c.monitors[i].where;
  return -1;
}

void ReportMonitors(const e2e::Config& c) {
  kt270::Adapter* a = gVirt->Adapter;
  for (unsigned k = 0; k < kt270::kConnectorCount; ++k) {
    auto conn = static_cast<kt270::Connector>(k);
    if (!a->Plugged(conn)) continue;
    kt270::MonitorView v = a->Watch(conn);
    const char* sync = v.sync == kt270::Sync::kInSync ? "in sync" : v.sync == kt270::Sync::kOutOfRange ? "out of range" : "no signal";
    JsonLine line("monitor");
    line.Str("config", c.name).Str("connector", kConnectorNames[k]).Str("verdict", sync).Str("reason", v.reason);
    line.Size("mode", v.width, v.height);
    line.Num("refresh_mhz", v.refresh_mhz).Num("pixel_clock_hz", v.pixel_clock_hz).Num("crtc", v.crtc)
        .Bool("scaled", v.scaled);
    line.Size("source", v.source_width, v.source_height);
    line.Emit();
  }
}

// Outputs and CRTCs as the registers say.
bool ReportOutputs(const char* config, const char* when) {
  kt270::Adapter* a = gVirt->Adapter;
  JsonLine line("outputs");
  line.Str("config", config).Str("when", when);
  bool any = false;
  for (unsigned o = 0; o < 4; ++o) {
    kt270::OutputState s = a->DecodeOutput(static_cast<kt270::Output>(o));
    line.Bool(kOutputNames[o], s.enabled);
    any = any || s.enabled;
  }
  for (unsigned c = 0; c < 2; ++c) line.Bool(c ? "crtc2_running" : "crtc1_running", a->DecodeCrtc(c).running);
  // What a person sees: monitors that still get a picture.
  UINT32 signals = 0;
  for (unsigned k = 0; k < kt270::kConnectorCount; ++k) {
    auto conn = static_cast<kt270::Connector>(k);
    if (a->Plugged(conn) && a->Watch(conn).sync != kt270::Sync::kNoSignal) ++signals;
  }
  line.Bool("any_on", any).Num("monitors_with_signal", signals).Emit();
  return any;
}

// The model's DDC buses over the whole configuration: clocks seen, timing
// below the I2C standard mode, and clocks or conditions a device missed.
void ReportDdc(const e2e::Config& c) {
  JsonLine line("ddc");
  line.Str("config", c.name);
  UINT32 violations = 0, missed = 0;
  static const char* const kKeys[3][3] = {{"ch1_clocks", "ch1_violations", "ch1_missed"},
                                          {"ch2_clocks", "ch2_violations", "ch2_missed"},
                                          {"ch3_clocks", "ch3_violations", "ch3_missed"}};
  for (unsigned ch = 0; ch < 3; ++ch) {
    const kt270::DdcBusStats& bus = gVirt->Adapter->stats().ddc[ch];
    line.Num(kKeys[ch][0], bus.pulses).Num(kKeys[ch][1], kt270::TimingViolations(bus)).Num(kKeys[ch][2], bus.missed);
    violations += kt270::TimingViolations(bus);
    missed += bus.missed;
  }
  line.Num("violations", violations).Num("missed", missed).Emit();
}

// ---- text through the console on our handle ------------------------------------------
// The picture a CRTC fetches against the pixels the console asked Blt to
// draw: they must be the same, pixel for pixel, and hold some ink.
void CheckText(const e2e::Config& c) {
  auto* out = ProtocolOn<EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL>(gVirt->Controller, &kEfiSimpleTextOutProtocolGuid);
  JsonLine line("text");
  line.Str("config", c.name).Bool("console", out != nullptr);
  if (!out || (!gSpy.uga && !gSpy.gop)) {
    line.Emit();
    return;
  }
  out->EnableCursor(out, EFI_FALSE);
  out->SetAttribute(out, EFI_WHITE | (EFI_BLACK << 4));
  out->SetCursorPosition(out, 2, 1);
  FreeRects();
  gSpy.recording = true;
  UINT32 bltsBefore = gSpy.bltCalls;
  EFI_STATUS s = out->OutputString(out, u"KT270 end to end: text through the Graphics Console");
  gSpy.recording = false;
  line.Hex("output_status", s).Num("blt_calls", gSpy.bltCalls - bltsBefore).Num("rects", gSpy.rectCount);

  kt270::Adapter* a = gVirt->Adapter;
  int crtc = -1;
  for (unsigned k = 0; k < 2 && crtc < 0; ++k)
    if (a->DecodeCrtc(k).running) crtc = (int)k;
  UINT32 sw = 0, sh = 0;
  kt270::CrtcState cs = a->DecodeCrtc(crtc < 0 ? 0 : (unsigned)crtc);
  UINTN capacity = (UINTN)cs.source_width * cs.source_height;
  UINT32* picture = capacity ? static_cast<UINT32*>(Pool(capacity * 4)) : nullptr;
  bool rendered = crtc >= 0 && picture && a->RenderSource((unsigned)crtc, picture, capacity, &sw, &sh);
  UINT64 compared = 0, mismatched = 0, ink = 0, outside = 0;
  for (UINTN i = 0; rendered && i < gSpy.rectCount; ++i) {
    const Rect& r = gSpy.rects[i];
    UINT32 background = r.pixels[0];
    for (UINTN y = 0; y < r.h; ++y) {
      for (UINTN x = 0; x < r.w; ++x) {
        UINT32 want = r.pixels[y * r.w + x];
        if (want != background) ++ink;
        if (r.x + x >= sw || r.y + y >= sh) {
          ++outside;
          continue;
        }
        ++compared;
        if ((picture[(r.y + y) * sw + r.x + x] & 0xFFFFFF) != want) ++mismatched;
      }
    }
  }
  if (gSpy.rectCount) {
    const Rect& r = gSpy.rects[0];
    line.Key("first_rect").Raw("\"").Decimal(r.x).Raw(",").Decimal(r.y).Raw(" ").Decimal(r.w).Raw("x").Decimal(r.h).Raw("\"");
  }
  line.Num("crtc", crtc < 0 ? 255 : (UINT64)crtc + 1).Bool("rendered", rendered);
  line.Size("source", sw, sh);
  line.Num("compared", compared).Num("mismatched", mismatched).Num("ink", ink).Num("outside", outside);
  line.Bool("visible", rendered && compared > 0 && mismatched == 0 && ink > 0).Emit();
  if (picture) gBS->FreePool(picture);
  FreeRects();
}

// ---- the platform's view ----------------------------------------------------------------
void ReportProperties(const e2e::Config& c) {
  UINT32 nodeProps = 0;
  for (UINT32 i = 0; i < gVirt->PropertyCount && i < kKtVirtMaxProperties; ++i) {
    const KT_VIRT_PROPERTY& p = gVirt->Properties[i];
    if (p.HasNode) ++nodeProps;
    JsonLine line("property");
    line.Str("config", c.name).Num("index", i);
    if (p.HasNode) line.Str16("node", p.Node); else line.Str("node", nullptr);
    line.Str16("name", p.Name).Num("size", p.Size);
    line.Bytes("hex", p.Value, p.Size < 16 ? (UINTN)p.Size : 16);
    line.Emit();
  }
  JsonLine("properties")
      .Str("config", c.name)
      .Num("count", gVirt->PropertyCount)
      .Num("node_count", nodeProps)
      .Num("register_adapter_calls", gVirt->RegisterAdapterCalls)
      .Hex("registered_vendor", gVirt->RegisteredVendor)
      .Hex("registered_device", gVirt->RegisteredDevice)
      .Bool("registered_our_controller", gVirt->RegisteredController == gVirt->Controller)
      .Num("get_value_calls", gVirt->GetValueCalls)
      .Num("unexpected_calls", gVirt->UnexpectedCalls)
      .Emit();
}

void CheckInterfaces(const e2e::Config& c) {
  auto* config = ProtocolOn<QUOVAN_CONFIG_INTERFACE>(gVirt->Controller, &kConfigInterfaceGuid);
  auto* display = ProtocolOn<QUOVAN_DISPLAY_INTERFACE>(gVirt->Controller, &kDisplayInterfaceGuid);
  JsonLine line("interfaces");
  line.Str("config", c.name).Bool("config_present", config != nullptr).Bool("display_present", display != nullptr);
  if (config) {
    UINT64 fb = 0;
    UINT32 size = 0, bpr = 0, w = 0, h = 0, bpp = 0;
    EFI_STATUS s = config->Query(config, &fb, &size, &bpr, &w, &h, &bpp);
    line.Hex("query_status", s).Hex("frame_buffer", fb).Num("memory_size", size).Num("bytes_per_row", bpr);
    line.Mode("query_mode", w, h, bpp);
  }
  if (display) {
    UINT8 buffer[512];
    UINTN size = 4;
    ZeroBytes(buffer, sizeof buffer);
    EFI_STATUS s = display->GetInfo(display, const_cast<EFI_GUID*>(&kAnswerKey), buffer, &size);
    line.Hex("answer_status", s).Num("answer", buffer[0] | buffer[1] << 8 | buffer[2] << 16 | (UINT32)buffer[3] << 24);
    UINT32 connector = 0;  // the first connector the driver found
    s = display->SetInfo(display, const_cast<EFI_GUID*>(&kSelectConnectorKey), &connector, sizeof connector);
    line.Hex("select_status", s);
    size = 8;
    ZeroBytes(buffer, sizeof buffer);
    s = display->GetInfo(display, const_cast<EFI_GUID*>(&kConnectorFlagsKey), buffer, &size);
    line.Hex("flags_status", s);
    line.Bytes("flags", buffer, 8);
    size = sizeof buffer;
    ZeroBytes(buffer, sizeof buffer);
    s = display->GetInfo(display, const_cast<EFI_GUID*>(&kDisplayEdidKey), buffer, &size);
    line.Hex("edid_status", s).Num("edid_size", size);
    // The EDID handed back is the monitor's, byte for byte.
    bool same = false;
    for (UINTN i = 0; i < c.monitorCount && !same; ++i) {
      const e2e::MonitorSpec& m = c.monitors[i];
      if (m.edidSize != size || size == 0) continue;
      same = true;
      for (UINTN b = 0; b < size; ++b) same = same && m.edid[b] == buffer[b];
    }
    line.Bool("edid_matches_monitor", same);
  }
  line.Emit();
}

// ---- Graphics Output as an OS loader uses it ---------------------------------------------
// A pattern no row or column repeats, so a wrong pitch or base shows.
UINT32 Pattern(UINTN x, UINTN y) { return (UINT32)((x * 0x9E37 + y * 0x4F1BB) ^ (y << 12)) & 0xFFFFFF; }

// Every listed mode: QueryMode, SetMode, the screen black, then a pattern
// written straight to FrameBufferBase with PixelsPerScanLine (no Blt) and
// compared with what the CRTC fetches. The list may grow with the first
// SetMode (the displays are discovered then), so MaxMode is read each time.
void CheckGopModes(const e2e::Config& c) {
  auto* gop = ProtocolOn<EFI_GRAPHICS_OUTPUT_PROTOCOL>(gVirt->Controller, &kEfiGraphicsOutputProtocolGuid);
  if (!gop) return;
  kt270::Adapter* a = gVirt->Adapter;
  UINT64 barBase = 0, barSize = 0;
  bool io = false;
  a->BarRange(0, &barBase, &barSize, &io);
  UINT32 first = gop->Mode->Mode;
  UINT32 listed = 0;
  for (UINT32 m = 0; m < gop->Mode->MaxMode && m < 32; ++m, ++listed) {
    JsonLine line("gop_mode");
    line.Str("config", c.name).Num("index", m);
    EFI_GRAPHICS_OUTPUT_MODE_INFORMATION* info = nullptr;
    UINTN size = 0;
    EFI_STATUS qs = gop->QueryMode(gop, m, &size, &info);
    UINT32 w = 0, h = 0, ppsl = 0, format = 0;
    if (!EFI_ERROR(qs) && info) {
      w = info->HorizontalResolution, h = info->VerticalResolution, ppsl = info->PixelsPerScanLine;
      format = info->PixelFormat;
      gBS->FreePool(info);
    }
    EFI_STATUS ss = gop->SetMode(gop, m);
    const EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE* mode = gop->Mode;
    line.Hex("query_status", qs).Size("query", w, h).Num("pixels_per_scan_line", ppsl).Num("pixel_format", format);
    line.Hex("set_status", ss).Num("mode_after", mode->Mode).Size("info", mode->Info->HorizontalResolution,
                                                                  mode->Info->VerticalResolution);
    UINT64 fb = mode->FrameBufferBase;
    UINT64 need = (UINT64)ppsl * h * 4;
    line.Hex("frame_buffer_base", fb).Num("frame_buffer_size", mode->FrameBufferSize);
    line.Bool("in_bar0", fb >= barBase && need <= mode->FrameBufferSize && fb + need <= barBase + barSize);
    if (gSpy.watch >= 0) {
      kt270::MonitorView v = a->Watch(static_cast<kt270::Connector>(gSpy.watch));
      line.Str("verdict", v.sync == kt270::Sync::kInSync ? "in sync" : "not in sync")
          .Size("shown", v.width, v.height).Size("source", v.source_width, v.source_height);
    }
    int crtc = -1;
    for (unsigned k = 0; k < 2 && crtc < 0; ++k)
      if (a->DecodeCrtc(k).running) crtc = (int)k;
    UINTN capacity = (UINTN)w * h;
    UINT32* picture = capacity ? static_cast<UINT32*>(Pool(capacity * 4)) : nullptr;
    UINT32 sw = 0, sh = 0;
    bool ok = !EFI_ERROR(ss) && crtc >= 0 && picture && need <= mode->FrameBufferSize &&
              a->RenderSource((unsigned)crtc, picture, capacity, &sw, &sh) && sw == w && sh == h;
    UINT64 lit = 0, mismatched = 0;
    for (UINTN i = 0; ok && i < capacity; ++i)
      if (picture[i] & 0xFFFFFF) ++lit;
    if (ok) {
      auto* base = reinterpret_cast<volatile UINT32*>(static_cast<UINTN>(fb));
      for (UINTN y = 0; y < h; ++y)
        for (UINTN x = 0; x < w; ++x) base[y * ppsl + x] = Pattern(x, y);
      ok = a->RenderSource((unsigned)crtc, picture, capacity, &sw, &sh);
      for (UINTN y = 0; ok && y < h; ++y)
        for (UINTN x = 0; x < w; ++x)
          if ((picture[y * w + x] & 0xFFFFFF) != Pattern(x, y)) ++mismatched;
    }
    line.Num("crtc", crtc < 0 ? 0 : (UINT64)crtc + 1).Bool("rendered", ok).Bool("black", ok && lit == 0);
    line.Num("mismatched", mismatched).Bool("pattern_shown", ok && mismatched == 0).Emit();
    if (picture) gBS->FreePool(picture);
  }
  EFI_STATUS back = gop->SetMode(gop, first);
  JsonLine("gop_modes").Str("config", c.name).Num("max_mode", gop->Mode->MaxMode).Num("checked", listed)
      .Hex("outside_status", gop->SetMode(gop, gop->Mode->MaxMode)).Hex("restore_status", back).Emit();
}

// ---- connect / disconnect ------------------------------------------------------------------
bool Connect(const e2e::Config& c, unsigned round) {
  gSpy.setModeCalls = gSpy.bltCalls = gSpy.bltFailed = 0;
  gSpy.firstSetModeUs = 0;
  gSpy.h = gSpy.v = gSpy.depth = gSpy.refresh = 0;
  gSpy.setModeStatus = EFI_NOT_STARTED;
  gSpy.watch = WatchedConnector(c);
  gSpy.litTsc = 0;
  UINT32 installs = gSpy.installs;
  gSpy.connectTsc = ReadTsc();
  EFI_STATUS s = gBS->ConnectController(gVirt->Controller, nullptr, nullptr, EFI_FALSE);
  UINT64 us = ElapsedUs(gSpy.connectTsc);
  CheckLit();
  auto* uga = ProtocolOn<EFI_UGA_DRAW_PROTOCOL>(gVirt->Controller, &kEfiUgaDrawProtocolGuid);
  UINT32 h = 0, v = 0, depth = 0, refresh = 0;
  EFI_STATUS ms = uga ? uga->GetMode(uga, &h, &v, &depth, &refresh) : EFI_NOT_FOUND;
  auto* gop = ProtocolOn<EFI_GRAPHICS_OUTPUT_PROTOCOL>(gVirt->Controller, &kEfiGraphicsOutputProtocolGuid);
  UINTN ugaConsumers = uga ? OpensOf(&kEfiUgaDrawProtocolGuid).byDriver : 0;
  UINTN gopConsumers = gop ? OpensOf(&kEfiGraphicsOutputProtocolGuid).byDriver : 0;
  // The Graphics Console takes Graphics Output where it finds one.
  const char* console = gopConsumers ? "gop" : ugaConsumers ? "uga" : nullptr;
  JsonLine line("connect");
  line.Str("config", c.name).Num("round", round).Hex("status", s).Num("us", us).Bool("uga", uga != nullptr)
      .Bool("gop", gop != nullptr).Bool("notified", gSpy.installs > installs).Num("uga_consumers", ugaConsumers)
      .Num("gop_consumers", gopConsumers).Str("console_protocol", console);
  line.Mode("mode", h, v, depth, refresh).Hex("getmode_status", ms).Num("setmode_calls", gSpy.setModeCalls);
  line.Mode("setmode", gSpy.h, gSpy.v, gSpy.depth, gSpy.refresh);
  line.Hex("setmode_status", gSpy.setModeStatus).Num("first_setmode_us", gSpy.firstSetModeUs);
  line.Bool("monitor", gSpy.watch >= 0);
  if (gSpy.litTsc) line.Num("lit_us", (gSpy.litTsc - gSpy.connectTsc) / gTscPerUs); else line.Str("lit_us", nullptr);
  line.Num("blt_calls", gSpy.bltCalls).Num("blt_failed", gSpy.bltFailed).Emit();
  return !EFI_ERROR(s) && uga;
}

void Disconnect(const e2e::Config& c) {
  RemoveSpies();
  UINT64 t0 = ReadTsc();
  EFI_STATUS s = gBS->DisconnectController(gVirt->Controller, gBinding->DriverBindingHandle, nullptr);
  UINT64 us = ElapsedUs(t0);
  // Only what KtVirt put there may stay.
  EFI_GUID** guids = nullptr;
  UINTN count = 0, foreign = 0;
  if (!EFI_ERROR(gBS->ProtocolsPerHandle(gVirt->Controller, &guids, &count))) {
    for (UINTN i = 0; i < count; ++i)
      if (!SameGuid(guids[i], &kEfiDevicePathProtocolGuid) && !SameGuid(guids[i], &kEfiPciIoProtocolGuid) &&
          !SameGuid(guids[i], &kKtVirtProtocolGuid))
        ++foreign;
    gBS->FreePool(guids);
  }
  UINTN opens = OpensOf(&kEfiPciIoProtocolGuid).byAgent;
  JsonLine("disconnect")
      .Str("config", c.name)
      .Hex("status", s)
      .Num("us", us)
      .Num("protocols", count)
      .Num("foreign_protocols", foreign)
      .Num("pci_io_opens_left", opens)
      .Hex("command", gVirt->Adapter->Command())
      .Emit();
  ReportOutputs(c.name, "after_disconnect");
}

// ---- the scenario file -------------------------------------------------------------------
e2e::Scenario* LoadScenario(const LOADED_IMAGE* self) {
  auto* fs = self ? ProtocolOn<EFI_SIMPLE_FILE_SYSTEM_PROTOCOL>(self->DeviceHandle, &kSimpleFileSystemGuid) : nullptr;
  EFI_FILE_PROTOCOL* root = nullptr;
  EFI_FILE_PROTOCOL* file = nullptr;
  if (!fs || EFI_ERROR(fs->OpenVolume(fs, &root))) return nullptr;
  EFI_STATUS s = root->Open(root, &file, u"e2e.scn", kFileModeRead, 0);
  root->Close(root);
  if (EFI_ERROR(s)) return nullptr;
  constexpr UINTN kMax = 64 * 1024;
  char* text = static_cast<char*>(Pool(kMax));
  UINTN size = kMax;
  s = text ? file->Read(file, &size, text) : EFI_OUT_OF_RESOURCES;
  file->Close(file);
  auto* scenario = static_cast<e2e::Scenario*>(Pool(sizeof(e2e::Scenario)));
  UINTN bad = 0;
  bool ok = !EFI_ERROR(s) && scenario && e2e::Parser(text, size).Parse(scenario, &bad);
  JsonLine("scenario").Num("bytes", size).Bool("ok", ok).Num("bad_line", bad).Num("configs", ok ? scenario->count : 0).Emit();
  if (text) gBS->FreePool(text);
  if (!ok && scenario) {
    gBS->FreePool(scenario);
    scenario = nullptr;
  }
  return scenario;
}

const e2e::Config* FindConfig(const e2e::Scenario* s, const CHAR16* name, UINTN length) {
  for (UINTN i = 0; s && i < s->count; ++i)
    if (app::SameAscii(s->configs[i].name, name, length)) return &s->configs[i];
  return nullptr;
}

void InstallNotify(EFI_EVENT* uga, EFI_EVENT* gop) {
  if (!EFI_ERROR(gBS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnUgaInstalled, nullptr, uga)))
    gBS->RegisterProtocolNotify(&kEfiUgaDrawProtocolGuid, *uga, &gSpy.ugaRegistration);
  if (!EFI_ERROR(gBS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnGopInstalled, nullptr, gop)))
    gBS->RegisterProtocolNotify(&kEfiGraphicsOutputProtocolGuid, *gop, &gSpy.gopRegistration);
}

EFI_STATUS RunAll(const e2e::Scenario* s) {
  EFI_EVENT ugaNotify = nullptr, gopNotify = nullptr;
  InstallNotify(&ugaNotify, &gopNotify);
  unsigned round = 0;
  bool allConnected = true;
  for (UINTN i = 0; i < s->count; ++i) {
    const e2e::Config& c = s->configs[i];
    ApplyConfig(c);
    bool connected = Connect(c, ++round);
    allConnected = allConnected && connected;
    // Text first: on Graphics Output the console may draw in the mode
    // reported from the start, and its first Blt lights it.
    CheckText(c);
    if (gPictures) picture::HandOver(gST, gVirt->Adapter, c.name, 30, gTscPerUs);
    ReportOutputs(c.name, "connected");
    ReportMonitors(c);
    CheckInterfaces(c);
    ReportProperties(c);
    CheckGopModes(c);
    Disconnect(c);
    ReportDdc(c);
  }
  RemoveSpies();
  if (ugaNotify) gBS->CloseEvent(ugaNotify);
  if (gopNotify) gBS->CloseEvent(gopNotify);
  return allConnected ? EFI_SUCCESS : EFI_DEVICE_ERROR;
}

// ConOut gets our controller's device path, so that the console platform
// driver hands our console to the splitter the Shell writes to.
EFI_STATUS AddToConOut() {
  auto* path = ProtocolOn<EFI_DEVICE_PATH_PROTOCOL>(gVirt->Controller, &kEfiDevicePathProtocolGuid);
  if (!path) return EFI_NOT_FOUND;
  UINTN pathSize = 0;
  for (const EFI_DEVICE_PATH_PROTOCOL* n = path;; ) {
    UINTN len = n->Length[0] | n->Length[1] << 8;
    pathSize += len;
    if (n->Type == END_DEVICE_PATH_TYPE && n->SubType == END_ENTIRE_DEVICE_PATH_SUBTYPE) break;
    n = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL*>(reinterpret_cast<const UINT8*>(n) + len);
  }
  constexpr UINTN kMax = 4096;
  UINT8* value = static_cast<UINT8*>(Pool(kMax));
  if (!value) return EFI_OUT_OF_RESOURCES;
  UINTN size = kMax;
  UINT32 attributes = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
  EFI_STATUS s = gRT->GetVariable(const_cast<CHAR16*>(u"ConOut"), const_cast<EFI_GUID*>(&kEfiGlobalVariableGuid),
                                  nullptr, &size, value);
  if (EFI_ERROR(s)) size = 0;
  // A multi-instance path: the old end node becomes an instance end.
  if (size >= 4) value[size - 3] = 0x01;  // END_INSTANCE_DEVICE_PATH_SUBTYPE
  if (size + pathSize > kMax) return EFI_BUFFER_TOO_SMALL;
  const UINT8* p = reinterpret_cast<const UINT8*>(path);
  for (UINTN i = 0; i < pathSize; ++i) value[size + i] = p[i];
  s = gRT->SetVariable(const_cast<CHAR16*>(u"ConOut"), const_cast<EFI_GUID*>(&kEfiGlobalVariableGuid), attributes,
                       size + pathSize, value);
  JsonLine("conout").Num("old_size", size).Num("new_size", size + pathSize).Hex("status", s).Emit();
  gBS->FreePool(value);
  return s;
}

EFI_STATUS RunConsole(const e2e::Config* c) {
  if (!c) return EFI_NOT_FOUND;
  ApplyConfig(*c);
  EFI_STATUS s = AddToConOut();
  if (EFI_ERROR(s)) return s;
  // No spies here: this image is gone when the Shell goes on drawing.
  gSpy.watch = WatchedConnector(*c);
  gSpy.litTsc = 0;
  UINT64 t0 = ReadTsc();
  s = gBS->ConnectController(gVirt->Controller, nullptr, nullptr, EFI_TRUE);
  UINT64 us = ElapsedUs(t0);
  CheckLit();
  UINTN consumers = OpensOf(&kEfiSimpleTextOutProtocolGuid).byDriver;
  JsonLine("console")
      .Str("config", c->name)
      .Hex("status", s)
      .Num("us", us)
      .Bool("text_out", ProtocolOn<VOID>(gVirt->Controller, &kEfiSimpleTextOutProtocolGuid) != nullptr)
      .Num("text_out_consumers", consumers)
      .Str("console_protocol", OpensOf(&kEfiGraphicsOutputProtocolGuid).byDriver ? "gop"
                               : OpensOf(&kEfiUgaDrawProtocolGuid).byDriver     ? "uga"
                                                                                 : nullptr)
      .Emit();
  ReportMonitors(*c);
  return s;
}

// ---- the screenshot -------------------------------------------------------------------------
EFI_STATUS RunScreen() {
  kt270::Adapter* a = gVirt->Adapter;
  int conn = -1;
  for (unsigned k = 0; k < kt270::kConnectorCount && conn < 0; ++k)
    if (a->Plugged(static_cast<kt270::Connector>(k)) && a->Watch(static_cast<kt270::Connector>(k)).sync == kt270::Sync::kInSync)
      conn = (int)k;
  kt270::MonitorView v = a->Watch(static_cast<kt270::Connector>(conn < 0 ? 0 : conn));
  UINTN capacity = (UINTN)v.width * v.height;
  UINT32* picture = conn >= 0 && capacity ? static_cast<UINT32*>(Pool(capacity * 4)) : nullptr;
  UINT32 w = 0, h = 0;
  bool ok = picture && a->RenderView(static_cast<kt270::Connector>(conn), picture, capacity, &w, &h);
  // The firmware's own display: a Graphics Output that is not on our handle.
  EFI_HANDLE* handles = nullptr;
  UINTN n = 0;
  EFI_GRAPHICS_OUTPUT_PROTOCOL* gop = nullptr;
  if (!EFI_ERROR(gBS->LocateHandleBuffer(ByProtocol, &kEfiGraphicsOutputProtocolGuid, nullptr, &n, &handles))) {
    for (UINTN i = 0; i < n && !gop; ++i)
      if (handles[i] != gVirt->Controller) gop = ProtocolOn<EFI_GRAPHICS_OUTPUT_PROTOCOL>(handles[i], &kEfiGraphicsOutputProtocolGuid);
    gBS->FreePool(handles);
  }
  EFI_STATUS s = EFI_NOT_FOUND;
  UINT32 gw = 0, gh = 0;
  if (ok && gop) {
    // A mode of the picture's size if the display has one.
    for (UINT32 m = 0; m < gop->Mode->MaxMode; ++m) {
      EFI_GRAPHICS_OUTPUT_MODE_INFORMATION* info = nullptr;
      UINTN size = 0;
      if (EFI_ERROR(gop->QueryMode(gop, m, &size, &info))) continue;
      bool fits = info->HorizontalResolution == w && info->VerticalResolution == h;
      gBS->FreePool(info);
      if (fits) {
        if (gop->Mode->Mode != m) gop->SetMode(gop, m);
        break;
      }
    }
    gw = gop->Mode->Info->HorizontalResolution;
    gh = gop->Mode->Info->VerticalResolution;
    UINT32 bw = w < gw ? w : gw, bh = h < gh ? h : gh;
    s = gop->Blt(gop, reinterpret_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL*>(picture), EfiBltBufferToVideo, 0, 0, 0, 0, bw, bh, (UINTN)w * 4);
  }
  JsonLine line("screen_ready");
  line.Str("connector", conn >= 0 ? kConnectorNames[conn] : nullptr).Bool("rendered", ok).Hex("blt_status", s);
  line.Size("picture", w, h).Size("display", gw, gh);
  line.Hex("hash", ok ? picture::Hash(picture, (UINTN)w * h) : 0).Emit();
  // The host takes the screendump now and answers with a key; bounded.
  JsonLine("screen_done").Bool("key", picture::WaitForKey(gST, 30)).Emit();
  if (picture) gBS->FreePool(picture);
  return ok && !EFI_ERROR(s) ? EFI_SUCCESS : EFI_DEVICE_ERROR;
}

}  // namespace

extern "C" EFI_STATUS EFIAPI E2eEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable) {
  gImage = ImageHandle;
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  gRT = SystemTable->RuntimeServices;
  gTscPerUs = app::MeasureTscPerUs(gBS);
  auto* self = ProtocolOn<LOADED_IMAGE>(ImageHandle, &kEfiLoadedImageProtocolGuid);
  const char* mode = app::HasArgument(self, "-shutdown") ? "shutdown"
                     : app::HasArgument(self, "-screen")  ? "screen"
                     : app::HasArgument(self, "-configure") ? "configure"
                     : app::HasArgument(self, "-console") ? "console"
                     : app::HasArgument(self, "-reconnect") ? "reconnect"
                                                          : "all";
  gPictures = app::HasArgument(self, "-pictures");
  JsonLine("begin").Str("app", "KtE2e").Str("mode", mode).Num("tsc_mhz", gTscPerUs).Emit();
  if (mode[0] == 's' && mode[1] == 'h') {
    gRT->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
    return EFI_DEVICE_ERROR;
  }
  UINTN virtCount = 0;
  gVirt = FindVirt(&virtCount);
  app::OurDriver ours = app::FindOurDriver(gBS, gImage);
  gBinding = ours.binding;
  JsonLine("setup")
      .Num("virtual_controllers", virtCount)
      .Bool("virt", gVirt != nullptr)
      .Bool("driver", gBinding != nullptr)
      .Str16("driver_name", ours.driverName)
      .Hex("version", gBinding ? gBinding->Version : 0)
      .Emit();
  EFI_STATUS result = EFI_NOT_FOUND;
  if (gVirt && gBinding) {
    if (mode[0] == 'r') {
      result = e2e::RunReconnect(ImageHandle, SystemTable, gVirt, gBinding);
    } else if (mode[0] == 's') {
      result = RunScreen();
    } else {
      e2e::Scenario* s = LoadScenario(self);
      UINTN len = 0;
      const CHAR16* configure = app::Argument(self, "-configure", &len);
      if (s && configure) {
        const e2e::Config* c = FindConfig(s, configure, len);
        if (c) ApplyConfig(*c);
        result = c ? EFI_SUCCESS : EFI_NOT_FOUND;
      } else if (s && mode[0] == 'c') {
        UINTN len = 0;
        const CHAR16* config = app::Argument(self, "-console", &len);
        result = RunConsole(FindConfig(s, config, len));
      } else if (s) {
        result = RunAll(s);
      }
      if (s) gBS->FreePool(s);
    }
  }
  JsonLine("done").Str("mode", mode).Hex("status", result).Emit();
  return result;
}
