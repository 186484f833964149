#include "tools/kt270sim/runner.h"

#include <openssl/evp.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>

#include "driver/binding/binding.h"
#include "driver/binding/component_name.h"
#include "driver/hw/ddc.h"
#include "driver/lib/driverlib.h"
#include "efi/efi.h"
#include "sim/adapter/kt270_pci_device.h"
#include "sim/firmware/firmware.h"
#include "sim/firmware/pci_io.h"
#include "sim/platform/platform_stand_in.h"
#include "tools/kt270sim/scenario.h"

namespace kt270sim {
namespace {

using nlohmann::json;

constexpr uint32_t kVariableAttributes =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;

std::string HexWord(uint64_t value, int digits) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return buf;
}

std::string Sha256(const uint8_t* data, size_t size) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data, size, digest, &length, EVP_sha256(), nullptr) != 1) throw std::runtime_error("SHA-256 failed");
  std::string hex = Hex(digest, length);
  for (char& c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return hex;
}

std::string Narrow(const CHAR16* text) { return text == nullptr ? std::string() : simplatform::Utf8FromChar16(text); }

kt270::Connector ConnectorOf(Wiring w) {
  switch (w) {
    case Wiring::kTmds: return kt270::Connector::kDigital;
    case Wiring::kDacA: return kt270::Connector::kAnalogA;
    case Wiring::kDacB: return kt270::Connector::kAnalogB;
    default: return kt270::Connector::kTv;
  }
}

// Everything one run owns, torn down in reverse.
class Session {
 public:
  Session(const Scenario& scenario, const RunOptions& options) : scenario_(scenario), options_(options) {
    if (!options.trace_path.empty()) {
      trace_.open(options.trace_path);
      if (!trace_) throw std::runtime_error("cannot write the trace file " + options.trace_path);
    }
    device_ = std::make_unique<kt270::Kt270PciDevice>(scenario.config, [this] { return fw_.NowUs(); });
    device_->adapter().SetTrace(&Session::OnAccess, this);
    controller_ = fw_.CreatePciController(device_.get());
    WrapPciIo();
    for (const auto& [channel, plan] : scenario.ddc) AttachChannel(channel, plan);
    if (scenario.property_database || scenario.platform_services) {
      if (platform_.Install(fw_, scenario.property_database, scenario.platform_services) != EFI_SUCCESS) {
        throw std::runtime_error("cannot install the platform stand-ins");
      }
    }
    for (const auto& [key, value] : scenario.values) platform_.SetValue(key, value);
    for (const auto& [name, data] : scenario.variables) {
      fw_.SetVariable(name.c_str(), kEfiGlobalVariableGuid, kVariableAttributes, data.data(), data.size());
    }
  }

  RunOutcome Run() {
    DriverLibResetForHost();
    DdcResetForHost();
    image_ = fw_.CreateImageHandle();
    fw_.ResetCallCounts();
    fw_.PciIoOf(controller_)->ResetCounts();
    for (const FaultPlan& f : scenario_.faults) fw_.FailCall(f.call, f.nth, f.status);

    json result = json::object();
    EFI_STATUS entry = DriverEntry(image_, fw_.SystemTable());
    result["entry"] = StatusText(entry);
    if (scenario_.start) {
      EFI_STATUS supported = gQuovanDriverBinding.Supported(&gQuovanDriverBinding, controller_, nullptr);
      EFI_STATUS started = EFI_NOT_STARTED;
      if (!EFI_ERROR(supported)) started = gQuovanDriverBinding.Start(&gQuovanDriverBinding, controller_, nullptr);
      result["start"] = {{"supported", StatusText(supported)}, {"start", StatusText(started)}};
    }
    json steps = json::array();
    for (size_t i = 0; i < scenario_.steps.size(); ++i) {
      if (options_.before_step) {
        auto* uga = Interface<EFI_UGA_DRAW_PROTOCOL>(kEfiUgaDrawProtocolGuid);
        options_.before_step(uga == nullptr ? nullptr : ContextFromUgaDraw(uga, "kt270sim", 0), i);
      }
      if (options_.before_step_firmware) options_.before_step_firmware(fw_, i);
      steps.push_back(RunStep(scenario_.steps[i]));
    }
    result["steps"] = steps;
    Finish(&result);
    outcome_.result = std::move(result);
    return std::move(outcome_);
  }

 private:
  // ---- the model's side -------------------------------------------------
  // The firmware stand-in touches the device itself too (Attributes updates
  // the command register); only what happens inside the driver's own
  // configuration and memory accesses is traced and counted as written.
  struct InAccess {
    InAccess() { ++current_->in_access_; }
    ~InAccess() { --current_->in_access_; }
  };
  static EFI_STATUS EFIAPI PciRead(EFI_PCI_IO_PROTOCOL* io, EFI_PCI_IO_PROTOCOL_WIDTH w, UINT32 offset, UINTN count,
                                   VOID* buffer) {
    InAccess in;
    return current_->original_.Pci.Read(io, w, offset, count, buffer);
  }
  static EFI_STATUS EFIAPI PciWrite(EFI_PCI_IO_PROTOCOL* io, EFI_PCI_IO_PROTOCOL_WIDTH w, UINT32 offset, UINTN count,
                                    VOID* buffer) {
    InAccess in;
    return current_->original_.Pci.Write(io, w, offset, count, buffer);
  }
  static EFI_STATUS EFIAPI MemRead(EFI_PCI_IO_PROTOCOL* io, EFI_PCI_IO_PROTOCOL_WIDTH w, UINT8 bar, UINT64 offset,
                                   UINTN count, VOID* buffer) {
    InAccess in;
    return current_->original_.Mem.Read(io, w, bar, offset, count, buffer);
  }
  static EFI_STATUS EFIAPI MemWrite(EFI_PCI_IO_PROTOCOL* io, EFI_PCI_IO_PROTOCOL_WIDTH w, UINT8 bar, UINT64 offset,
                                    UINTN count, VOID* buffer) {
    InAccess in;
    return current_->original_.Mem.Write(io, w, bar, offset, count, buffer);
  }

  void WrapPciIo() {
    if (current_ != nullptr) throw std::runtime_error("one scenario at a time");
    current_ = this;
    EFI_PCI_IO_PROTOCOL* io = fw_.PciIoProtocolOf(controller_);
    original_ = *io;
    io->Pci.Read = &Session::PciRead;
    io->Pci.Write = &Session::PciWrite;
    io->Mem.Read = &Session::MemRead;
    io->Mem.Write = &Session::MemWrite;
  }

  static void OnAccess(void* self, const kt270::Access& a) { static_cast<Session*>(self)->Record(a); }

  void Record(const kt270::Access& a) {
    if (in_access_ == 0) return;
    if (trace_) {
      static const char* const kSpaces[] = {"cfg", "bar0", "bar2"};
      char line[128];
      std::snprintf(line, sizeof line, "%llu %c%u %s 0x%05llX 0x%0*llX", static_cast<unsigned long long>(a.time_us),
                    a.write ? 'W' : 'R', a.width * 8u, kSpaces[static_cast<unsigned>(a.space)],
                    static_cast<unsigned long long>(a.offset), a.width * 2,
                    static_cast<unsigned long long>(a.value));
      trace_ << line;
      if (a.count > 1) trace_ << " x" << a.count;
      trace_ << '\n';
    }
    if (!a.write || a.space != kt270::Space::kBar2 || !a.ok) return;
    uint64_t step = a.stride == kt270::Stride::kFifo ? 0 : a.width;
    for (uint64_t i = 0; i < a.count && i < 4096; ++i) written_.insert(static_cast<uint32_t>((a.offset + i * step) & ~3ull));
    // Indirect spaces: the data port takes the index last written with
    // its write enable.
    if (a.offset == 0x70) mc_index_ = static_cast<uint32_t>(a.value);
    if (a.offset == 0x74 && (mc_index_ & 0x00800000)) mc_written_.insert(mc_index_ & 0xFFFF);
    if (a.offset == 0x08 && a.width >= 1) clk_index_ = static_cast<uint32_t>(a.value);
    if (a.offset == 0x0C && (clk_index_ & 0x80)) clk_written_.insert(clk_index_ & 0x7F);
  }

  void Unplug(unsigned channel) {
    kt270::Adapter& a = device_->adapter();
    for (unsigned c = 0; c < kt270::kConnectorCount; ++c) {
      if (kt270::kConnectorChannel[c] == channel) a.Unplug(static_cast<kt270::Connector>(c));
    }
    a.Attach(channel, nullptr);
  }

  void AttachChannel(unsigned channel, const std::optional<DdcPlan>& plan) {
    Unplug(channel);
    if (channel == 3) device_->adapter().SetAux(false, nullptr);
    if (!plan) return;
    kt270::I2cFaults faults = kt270::NoFaults();
    faults.stretch_us = plan->stretch_us;
    faults.nak_after = plan->nak_after;
    kt270::Adapter& a = device_->adapter();
    if (channel == 3) a.SetAux(plan->aux, nullptr);
    if (plan->edid.empty()) return;
    if (plan->output == Wiring::kNone) {
      kt270::DdcDevice raw{plan->edid.data(), static_cast<uint32_t>(plan->edid.size()), faults};
      if (!a.Attach(channel, &raw)) throw std::runtime_error("cannot attach the DDC device");
      return;
    }
    kt270::Monitor m{plan->edid.data(), static_cast<uint32_t>(plan->edid.size()), ConnectorOf(plan->output), faults};
    if (!a.Plug(m)) throw std::runtime_error("cannot plug the monitor");
  }

  // ---- the driver's side ------------------------------------------------
  template <typename T>
  T* Interface(const EFI_GUID& guid) {
    return static_cast<T*>(fw_.Interface(controller_, guid));
  }

  json NotStarted(json out, const char* what) {
    out["status"] = StatusText(EFI_NOT_STARTED);
    out["code"] = HexWord(EFI_NOT_STARTED, 16);
    out["note"] = std::string("no ") + what + " on the controller";
    return out;
  }

  static void SetStatus(json* out, EFI_STATUS status) {
    (*out)["status"] = StatusText(status);
    (*out)["code"] = HexWord(status, 16);
  }

  json RunStep(const StepPlan& s) {
    json out = {{"op", s.op}};
    if (s.op == "SetMode" || s.op == "GetMode" || s.op == "Blt") {
      auto* uga = Interface<EFI_UGA_DRAW_PROTOCOL>(kEfiUgaDrawProtocolGuid);
      if (uga == nullptr) return NotStarted(out, "UGA Draw");
      if (s.op == "SetMode") {
        SetStatus(&out, uga->SetMode(uga, s.width, s.height, s.depth, s.refresh));
      } else if (s.op == "GetMode") {
        UINT32 w = 0, h = 0, d = 0, r = 0;
        EFI_STATUS status = uga->GetMode(uga, &w, &h, &d, &r);
        SetStatus(&out, status);
        if (!EFI_ERROR(status)) out.update({{"width", w}, {"height", h}, {"depth", d}, {"refresh", r}});
      } else {
        RunBlt<EFI_UGA_PIXEL>(s, &out, [&](EFI_UGA_PIXEL* buffer) {
          return uga->Blt(uga, buffer, static_cast<EFI_UGA_BLT_OPERATION>(s.operation), s.sx, s.sy, s.dx, s.dy,
                          s.blt_width, s.blt_height, s.delta);
        });
      }
    } else if (s.op == "GopQueryMode" || s.op == "GopSetMode" || s.op == "GopBlt") {
      auto* gop = Interface<EFI_GRAPHICS_OUTPUT_PROTOCOL>(kEfiGraphicsOutputProtocolGuid);
      if (gop == nullptr) return NotStarted(out, "Graphics Output");
      if (s.op == "GopQueryMode") {
        RunGopQueryMode(gop, s, &out);
      } else if (s.op == "GopSetMode") {
        SetStatus(&out, gop->SetMode(gop, static_cast<UINT32>(s.mode)));
        GopModeRecord(gop, &out);
      } else {
        RunBlt<EFI_GRAPHICS_OUTPUT_BLT_PIXEL>(s, &out, [&](EFI_GRAPHICS_OUTPUT_BLT_PIXEL* buffer) {
          return gop->Blt(gop, buffer, static_cast<EFI_GRAPHICS_OUTPUT_BLT_OPERATION>(s.operation), s.sx, s.sy, s.dx,
                          s.dy, s.blt_width, s.blt_height, s.delta);
        });
      }
    } else if (s.op == "Query") {
      auto* config = Interface<QUOVAN_CONFIG_INTERFACE>(kConfigInterfaceGuid);
      if (config == nullptr) return NotStarted(out, "configuration interface");
      UINT64 fb = 0;
      UINT32 memory = 0, bpr = 0, w = 0, h = 0, bpp = 0;
      EFI_STATUS status = config->Query(config, &fb, &memory, &bpr, &w, &h, &bpp);
      SetStatus(&out, status);
      out.update({{"frame_buffer", fb}, {"memory_size", memory}, {"bytes_per_row", bpr}, {"width", w},
                  {"height", h}, {"bits_per_pixel", bpp}});
    } else if (s.op == "SetInfo" || s.op == "GetInfo") {
      auto* display = Interface<QUOVAN_DISPLAY_INTERFACE>(kDisplayInterfaceGuid);
      if (display == nullptr) return NotStarted(out, "display interface");
      EFI_GUID key = s.key;
      if (s.op == "SetInfo") {
        std::vector<uint8_t> buffer(std::max<size_t>(s.size, s.data.size()) + 1, 0);
        std::copy(s.data.begin(), s.data.end(), buffer.begin());
        SetStatus(&out, display->SetInfo(display, &key, buffer.data(), s.size));
      } else {
        std::vector<uint8_t> buffer(s.size + 1, 0);
        UINTN size = s.size;
        EFI_STATUS status = display->GetInfo(display, &key, buffer.data(), &size);
        SetStatus(&out, status);
        out["size"] = size;
        out["data"] = Hex(buffer.data(), std::min<size_t>(s.size, size));
      }
    } else if (s.op == "Supported") {
      SetStatus(&out, gQuovanDriverBinding.Supported(&gQuovanDriverBinding, controller_, nullptr));
    } else if (s.op == "Start") {
      SetStatus(&out, gQuovanDriverBinding.Start(&gQuovanDriverBinding, controller_, nullptr));
    } else if (s.op == "Stop") {
      SetStatus(&out, gQuovanDriverBinding.Stop(&gQuovanDriverBinding, controller_, 0, nullptr));
    } else if (s.op == "GetDriverName" || s.op == "GetControllerName") {
      // Either name protocol, as the firmware finds it on the image handle.
      EFI_COMPONENT_NAME_PROTOCOL* names = nullptr;
      const EFI_GUID& guid = s.component_name2 ? kEfiComponentName2ProtocolGuid : kEfiComponentNameProtocolGuid;
      if (EFI_ERROR(fw_.HandleProtocol(image_, &guid, reinterpret_cast<void**>(&names))) || names == nullptr) {
        return NotStarted(out, s.component_name2 ? "Component Name 2" : "Component Name");
      }
      CHAR16* name = nullptr;
      EFI_STATUS status;
      if (s.op == "GetDriverName") {
        status = names->GetDriverName(names, s.language.c_str(), &name);
      } else {
        // No children exist: a child look-up names a handle that is none.
        EFI_HANDLE child = s.child ? fw_.CoreImageHandle() : nullptr;
        status = names->GetControllerName(names, controller_, child, s.language.c_str(), &name);
      }
      SetStatus(&out, status);
      if (!EFI_ERROR(status)) out["name"] = Narrow(name);
    } else if (s.op == "GopEdid") {
      // The EDID protocols beside Graphics Output, as a consumer reads them.
      const struct {
        const char* key;
        const EFI_GUID& guid;
      } kinds[] = {{"discovered", kEfiEdidDiscoveredProtocolGuid}, {"active", kEfiEdidActiveProtocolGuid}};
      SetStatus(&out, EFI_SUCCESS);
      for (const auto& kind : kinds) {
        auto* edid = Interface<EFI_EDID_DISCOVERED_PROTOCOL>(kind.guid);
        if (edid == nullptr) {
          out[kind.key] = nullptr;
          continue;
        }
        out[kind.key] = {{"size", edid->SizeOfEdid},
                         {"hex", edid->Edid == nullptr ? std::string() : Hex(edid->Edid, edid->SizeOfEdid)},
                         {"null", edid->Edid == nullptr}};
      }
    } else if (s.op == "Attach") {
      AttachChannel(s.channel, s.device);
      SetStatus(&out, EFI_SUCCESS);
    }
    return out;
  }

  // Call is the protocol's Blt on the runner's buffer (UGA and GOP pixels
  // share one layout).
  template <typename Pixel, typename Call>
  void RunBlt(const StepPlan& s, json* out, Call call) {
    std::vector<uint8_t> storage;
    Pixel* buffer = nullptr;
    size_t declared = 0;
    if (s.buffer) {
      const BufferPlan& b = *s.buffer;
      declared = size_t{b.width} * b.height * 4;
      uint64_t extent = BufferExtent(s);
      if (extent > kMaxBufferBytes) extent = 0;  // a rectangle no mode holds: the driver refuses it first
      storage = PatternBytes(b.width, b.height, b.pattern, b.pixel);
      storage.resize(std::max<uint64_t>(declared, extent) + 4, 0);
      buffer = reinterpret_cast<Pixel*>(storage.data());
    }
    SetStatus(out, call(buffer));
    if (s.operation == 1 && buffer != nullptr) {
      (*out)["sha256"] = Sha256(storage.data(), declared);
      outcome_.read_back.emplace_back(storage.begin(), storage.begin() + static_cast<std::ptrdiff_t>(declared));
    }
  }

  static json ModeInformation(const EFI_GRAPHICS_OUTPUT_MODE_INFORMATION& info) {
    static const char* const kFormats[] = {"PixelRedGreenBlueReserved8BitPerColor",
                                           "PixelBlueGreenRedReserved8BitPerColor", "PixelBitMask", "PixelBltOnly"};
    unsigned format = static_cast<unsigned>(info.PixelFormat);
    return {{"version", info.Version},
            {"width", info.HorizontalResolution},
            {"height", info.VerticalResolution},
            {"pixel_format", format < 4 ? json(kFormats[format]) : json(format)},
            {"pixels_per_scan_line", info.PixelsPerScanLine}};
  }

  void RunGopQueryMode(EFI_GRAPHICS_OUTPUT_PROTOCOL* gop, const StepPlan& s, json* out) {
    UINTN size = 0;
    EFI_GRAPHICS_OUTPUT_MODE_INFORMATION* info = nullptr;
    SetStatus(out, gop->QueryMode(gop, static_cast<UINT32>(s.mode), &size, &info));
    if (info != nullptr) {
      if (size >= sizeof *info) out->update(ModeInformation(*info));
      (*out)["size_of_info"] = size;
      fw_.SystemTable()->BootServices->FreePool(info);
    }
    GopModeRecord(gop, out);
  }

  // The protocol's mode record as a consumer sees it after the step.
  static void GopModeRecord(EFI_GRAPHICS_OUTPUT_PROTOCOL* gop, json* out) {
    const EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE* m = gop->Mode;
    if (m == nullptr) return;
    json record = {{"mode", m->Mode},
                   {"max_mode", m->MaxMode},
                   {"frame_buffer_base", HexWord(m->FrameBufferBase, 16)},
                   {"frame_buffer_size", m->FrameBufferSize}};
    if (m->Info != nullptr) record["info"] = ModeInformation(*m->Info);
    (*out)["record"] = record;
  }

  // ---- the result -------------------------------------------------------
  json Outputs() {
    const kt270::Adapter& a = device_->adapter();
    struct Row {
      const char* name;
      const char* file;
      kt270::Output output;
      kt270::Connector connector;
    };
    static const Row kRows[] = {
        {"DAC A", "dac-a", kt270::Output::kDacA, kt270::Connector::kAnalogA},
        {"DAC B", "dac-b", kt270::Output::kDacB, kt270::Connector::kAnalogB},
        {"TMDS", "tmds", kt270::Output::kTmds, kt270::Connector::kDigital},
        {"TV", "tv", kt270::Output::kTv, kt270::Connector::kTv},
    };
    json outputs = json::object();
    for (const Row& row : kRows) {
      kt270::OutputState o = a.DecodeOutput(row.output);
      uint8_t source = o.source;
      // DAC B carrying the TV encoder shows the encoder's CRTC.
      if (row.output == kt270::Output::kDacB && source == 2) source = a.DecodeOutput(kt270::Output::kTv).source;
      json entry = {{"enabled", o.enabled}};
      entry["crtc"] = o.enabled && source <= 1 ? json(source + 1) : json(nullptr);
      if (o.enabled && source <= 1) {
        kt270::CrtcState c = a.DecodeCrtc(source);
        if (c.running) {
          bool tv = row.output == kt270::Output::kTv || (row.output == kt270::Output::kDacB && o.source == 2);
          entry["width"] = tv ? c.source_width : c.h_active;
          entry["height"] = tv ? c.source_height : c.v_active;
          entry["source_width"] = c.source_width;
          entry["source_height"] = c.source_height;
          entry["h_total"] = c.h_total;
          entry["v_total"] = c.v_total;
          entry["pixel_clock_khz"] = std::round(static_cast<double>(c.pll.out_hz) / 1.0) / 1000.0;
          entry["refresh_hz"] = std::round(c.refresh_mhz / 100.0) / 10.0;
          entry["scaled"] = c.scaler_enabled;
        }
      }
      if (!a.Plugged(row.connector)) {
        entry["monitor"] = "no monitor";
      } else {
        kt270::MonitorView v = a.Watch(row.connector);
        static const char* const kSync[] = {"no signal", "out of range", "in sync"};
        entry["monitor"] = kSync[static_cast<unsigned>(v.sync)];
        if (v.reason != nullptr && *v.reason != '\0') entry["monitor_reason"] = v.reason;
        if (v.sync == kt270::Sync::kInSync) {
          Picture p;
          p.name = row.file;
          p.pixels.resize(size_t{v.width} * v.height);
          if (a.RenderView(row.connector, p.pixels.data(), p.pixels.size(), &p.width, &p.height)) {
            outcome_.screens.push_back(std::move(p));
          }
        }
      }
      outputs[row.name] = entry;
    }
    for (unsigned crtc = 0; crtc < 2; ++crtc) {
      kt270::CrtcState c = a.DecodeCrtc(crtc);
      if (c.source_width == 0 || c.source_height == 0 || c.source_width > 8192 || c.source_height > 8192) continue;
      Picture p;
      p.name = crtc == 0 ? "crtc1" : "crtc2";
      p.pixels.resize(size_t{c.source_width} * c.source_height);
      if (a.RenderSource(crtc, p.pixels.data(), p.pixels.size(), &p.width, &p.height)) {
        outcome_.sources.push_back(std::move(p));
      }
    }
    return outputs;
  }

  void Finish(json* result) {
    json properties = json::array();
    for (const simplatform::PropertyRecord& r : platform_.properties()) {
      properties.push_back({{"node", r.node ? json(*r.node) : json(nullptr)},
                            {"name", r.name},
                            {"hex", Hex(r.value.data(), r.value.size())}});
    }
    (*result)["properties"] = properties;
    (*result)["stderr"] = fw_.StdErr().Text();
    (*result)["outputs"] = Outputs();

    const kt270::Adapter& a = device_->adapter();
    json registers = json::object(), mc = json::object(), clock = json::object();
    for (uint32_t offset : written_) registers[HexWord(offset, 4)] = HexWord(a.PeekReg(offset), 8);
    for (uint32_t index : mc_written_) mc[HexWord(index, 4)] = HexWord(a.Mc(index), 8);
    for (uint32_t index : clk_written_) clock[HexWord(index, 2)] = HexWord(a.Clk(index), 8);
    (*result)["registers"] = registers;
    (*result)["mc"] = mc;
    (*result)["clock"] = clock;

    (*result)["time_us"] = fw_.NowUs();
    (*result)["pci_io_calls"] = fw_.PciIoOf(controller_)->calls();
    sim::LeakReport leaks = fw_.Leaks(controller_, image_);
    (*result)["leaks"] = {{"pool", leaks.pool_blocks}, {"events", leaks.events},
                          {"protocols", leaks.interfaces + leaks.opens}};
  }

  const Scenario& scenario_;
  const RunOptions& options_;
  sim::Firmware fw_;
  std::unique_ptr<kt270::Kt270PciDevice> device_;
  simplatform::PlatformStandIn platform_;
  EFI_HANDLE controller_ = nullptr;
  EFI_HANDLE image_ = nullptr;
  std::ofstream trace_;
  std::set<uint32_t> written_, mc_written_, clk_written_;
  uint32_t mc_index_ = 0, clk_index_ = 0;
  RunOutcome outcome_;
  EFI_PCI_IO_PROTOCOL original_{};
  int in_access_ = 0;
  static Session* current_;
  // Clears current_ also when the constructor throws.
  struct Current {
    const Session* owner;
    ~Current() {
      if (current_ == owner) current_ = nullptr;
    }
  } current_guard_{this};
};

Session* Session::current_ = nullptr;

}  // namespace

std::vector<uint8_t> PatternBytes(uint32_t width, uint32_t height, const std::string& pattern, uint32_t pixel) {
  std::vector<uint8_t> bytes(size_t{width} * height * 4, 0);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint32_t rgb = pixel;
      if (pattern == "gradient") {
        rgb = ((x * 255 / std::max(1u, width - 1)) << 16) | ((y * 255 / std::max(1u, height - 1)) << 8) |
              ((x + y) & 0xFF);
      } else if (pattern == "checker") {
        rgb = ((x / 8 + y / 8) & 1) ? pixel : (~pixel & 0xFFFFFF);
      }
      uint8_t* p = bytes.data() + (size_t{y} * width + x) * 4;
      p[0] = rgb & 0xFF;
      p[1] = (rgb >> 8) & 0xFF;
      p[2] = (rgb >> 16) & 0xFF;
    }
  }
  return bytes;
}

RunOutcome RunScenario(const json& scenario, const RunOptions& options) {
  Scenario parsed = ParseScenario(scenario, options.base_dir);
  Session session(parsed, options);
  return session.Run();
}

}  // namespace kt270sim
