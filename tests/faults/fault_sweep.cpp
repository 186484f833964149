// The fault sweep: two scenarios are run once to count every boot-service
// and PCI I/O call the driver makes, then again with each call point failed
// once, with two statuses each. Every run must leave the firmware as the
// driver model demands:
//   - a failed entry point installs nothing; a failed Start leaves nothing
//     and gives the controller back as found (command register and PCI I/O
//     attributes);
//   - a successful Stop (or release) leaves nothing;
//   - a failed Stop leaves the adapter fully started: every interface on,
//     the outputs as they were and a Blt that reaches the screen; the next
//     Stop succeeds and leaves nothing;
//   - no interface of the driver ever stays on freed memory (the driver's
//     own table of what it installs says where each one lies);
//   - a failed Graphics Output SetMode leaves its mode record as it was.
// The one thing allowed to stay is what a firmware refused to free or close
// (FreePool, CloseEvent), which the driver must then report on StdErr.
// Sanitizer findings abort the run.
//
//   fault_sweep [--jobs N] [--counts]
// The call points are shared out over N processes (default 2).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "driver/binding/interfaces.h"
#include "driver/core/context.h"
#include "efi/efi.h"
#include "sim/edid/edid_builder.h"
#include "sim/firmware/pci_io.h"
#include "sim/platform/platform_stand_in.h"
#include "tests/support/rig.h"

namespace {

// Members whose calls are all failed in turn. The rest of the boot services
// the driver calls either have no status (RaiseTPL, RestoreTPL, SetMem) or
// is the busy wait of the DDC bit timing (Stall, tens of thousands of
// calls): that is sampled like PCI I/O.
const char* const kEveryCall[] = {
    "AllocatePool", "FreePool", "OpenProtocol", "CloseProtocol", "LocateProtocol", "InstallProtocolInterface",
    "InstallMultipleProtocolInterfaces", "UninstallProtocolInterface", "CreateEvent", "SetTimer", "CheckEvent", "CloseEvent",
    "GetVariable", "StdErr.OutputString", "StdErr.SetAttribute", "Pci.Read", "Pci.Write", "Attributes",
    "PciIo.GetBarAttributes",
};
const char* const kSampled[] = {"Mem.Read", "Mem.Write", "Stall"};
constexpr uint64_t kSamplesPerMember = 40;

struct StatusPair {
  EFI_STATUS first, second;
};
StatusPair StatusesFor(const std::string& member) {
  if (member.rfind("Mem.", 0) == 0 || member.rfind("Pci.", 0) == 0 || member.rfind("PciIo.", 0) == 0 ||
      member == "Attributes") {
    return {EFI_DEVICE_ERROR, EFI_UNSUPPORTED};
  }
  if (member == "UninstallProtocolInterface" || member == "OpenProtocol" || member == "CloseProtocol") {
    return {EFI_ACCESS_DENIED, EFI_INVALID_PARAMETER};
  }
  return {EFI_OUT_OF_RESOURCES, EFI_INVALID_PARAMETER};
}

EFI_GUID Guid(const char* text) {
  EFI_GUID g{};
  simplatform::ParseGuid(text, &g);
  return g;
}
const EFI_GUID kPlatformInfoKey = Guid("2AA9D6C6-E6A9-4D10-AFC7-8FA769EA0E74");
const EFI_GUID kSelectKey = Guid("D2C9944A-0F9D-4649-954F-862C1406F320");
const EFI_GUID kPanelKey = Guid("A9A835A6-4630-46D7-9384-FD071E476682");
const EFI_GUID kReleaseKey = Guid("6CCB6605-3070-47F7-9EA6-EA831F3D5B89");
const EFI_GUID kFlagsKey = Guid("3064B9C1-F0FF-4FA9-8422-6B64CA9F1DE1");
const EFI_GUID kEdidKey = Guid("D704179F-F181-4ED9-87F7-770188EAE6B2");
const EFI_GUID kLimitsKey = Guid("75B69F99-6A24-41E4-A8BE-D5E858C08D76");
const EFI_GUID kAnswerKey = Guid("78446974-3201-4F0F-8BD1-96048B7D1004");

struct Injection {
  std::string member;
  uint64_t nth = 0;  // 0: none
  EFI_STATUS status = EFI_SUCCESS;
};

// One run of a scenario with at most one injected failure; problems are
// collected as text.
class Run {
 public:
  Run(bool release_at_end, const Injection& injection) : release_(release_at_end), injection_(injection) {
    kt270::Config config = kt270::DefaultConfig();
    config.fb_size = 4u << 20;
    testsupport::RigOptions options;
    options.adapter = config;
    rig_ = std::make_unique<testsupport::Rig>(options);
    rig_->InstallPlatform(true, true);
    simedid::EdidBuilder edid;
    // 1024 x 768 at 65 MHz, declaring 800 x 600 and 1024 x 768 at 60 Hz.
    edid.Digital().Established(35, 0).Established(36, 3).Detailed(6500, 1024, 320, 24, 136, 768, 38, 3, 6);
    rig_->Plug(kt270::Connector::kDigital, edid.Build());
  }

  void Go() {
    sim::Firmware& fw = rig_->fw();
    if (injection_.nth != 0) fw.FailCall(injection_.member, injection_.nth, injection_.status);
    if (EFI_ERROR(rig_->LoadDriver())) {
      if (fw.HasProtocol(rig_->image(), kEfiDriverBindingProtocolGuid) ||
          fw.HasProtocol(rig_->image(), kEfiComponentNameProtocolGuid)) {
        Problem("a failed entry point left its protocols on the image");
      }
      Finish(false);
      return;
    }
    const uint16_t command = rig_->adapter().Command();
    const uint64_t attributes = fw.PciIoOf(rig_->controller())->attributes();
    EFI_STATUS start = rig_->Connect();
    CheckInterfaces("Start");
    if (EFI_ERROR(start) && Uga() == nullptr) {
      ExpectNothingLeft("a failed Start");
      if (rig_->adapter().Command() != command || fw.PciIoOf(rig_->controller())->attributes() != attributes) {
        Problem("a failed Start left the command register or the attributes changed");
      }
    }
    if (Uga() != nullptr) Drive();
    Finish(true);
  }

  const std::vector<std::string>& problems() const { return problems_; }
  std::map<std::string, uint64_t> counts() const { return rig_->fw().call_counts(); }

 private:
  EFI_UGA_DRAW_PROTOCOL* Uga() { return rig_->uga_draw(); }
  QUOVAN_DISPLAY_INTERFACE* Display() {
    return static_cast<QUOVAN_DISPLAY_INTERFACE*>(rig_->fw().Interface(rig_->controller(), kDisplayInterfaceGuid));
  }
  QUOVAN_CONFIG_INTERFACE* Config() {
    return static_cast<QUOVAN_CONFIG_INTERFACE*>(rig_->fw().Interface(rig_->controller(), kConfigInterfaceGuid));
  }

  void Problem(const std::string& what) { problems_.push_back(what); }

  // Each step goes through whatever interface is still there.
  void Drive() {
    Step("SetMode", [&] { return Uga()->SetMode(Uga(), 1024, 768, 32, 60); });
    std::vector<EFI_UGA_PIXEL> pixels(16 * 16, EFI_UGA_PIXEL{0x10, 0x20, 0x30, 0});
    for (int op = 0; op < 4; ++op) {
      Step("Blt", [&] {
        // The screen rectangle at (32, 32), the buffer's at (0, 0).
        UINTN from = op == EfiUgaVideoToBltBuffer ? 32 : 0, to = op == EfiUgaVideoToBltBuffer ? 0 : 32;
        return Uga()->Blt(Uga(), pixels.data(), static_cast<EFI_UGA_BLT_OPERATION>(op), from, from, to, to, 16, 16, 0);
      });
    }
    Step("SetMode", [&] { return Uga()->SetMode(Uga(), 800, 600, 32, 60); });
    UINT32 w, h, d, r;
    Step("GetMode", [&] { return Uga()->GetMode(Uga(), &w, &h, &d, &r); });
    DriveGraphicsOutput(pixels.data());

    UINT64 address;
    UINT32 size, row, width, height, bpp;
    if (Config() != nullptr) {
      Step("Query", [&] { return Config()->Query(Config(), &address, &size, &row, &width, &height, &bpp); });
    }
    if (Display() != nullptr) {
      uint8_t info[128] = {};
      SetInfo(kPlatformInfoKey, info, sizeof info);
      uint32_t index = 0;
      SetInfo(kSelectKey, &index, sizeof index);
      uint64_t flags = 0;
      GetInfo(kFlagsKey, &flags, sizeof flags);
      uint8_t edid[128];
      GetInfo(kEdidKey, edid, sizeof edid);
      uint8_t limits[48];
      GetInfo(kLimitsKey, limits, sizeof limits);
      uint32_t answer = 0;
      GetInfo(kAnswerKey, &answer, sizeof answer);
      // A 1024 x 768 panel on the digital connector: a second display slot.
      uint32_t panel[13] = {65000000, 1343, 1024, 1344, 1048, 1184, 805, 768, 806, 771, 777, 1, 0};
      SetInfo(kPanelKey, panel, sizeof panel);
    }
    Stop();
  }

  EFI_GRAPHICS_OUTPUT_PROTOCOL* Gop() {
    return static_cast<EFI_GRAPHICS_OUTPUT_PROTOCOL*>(
        rig_->fw().Interface(rig_->controller(), kEfiGraphicsOutputProtocolGuid));
  }

  // Graphics Output as a loader uses it: the list, a mode set (the failed
  // one must leave the record as it was), every Blt, and the EDID it reads.
  void DriveGraphicsOutput(EFI_UGA_PIXEL* pixels) {
    if (Gop() == nullptr) return;
    auto* buffer = reinterpret_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL*>(pixels);
    for (UINT32 mode = 0; mode < 2; ++mode) {
      Step("QueryMode", [&] {
        UINTN size = 0;
        EFI_GRAPHICS_OUTPUT_MODE_INFORMATION* info = nullptr;
        EFI_STATUS status = Gop()->QueryMode(Gop(), mode, &size, &info);
        // The caller's block; freed past the boot services, so no call of
        // the test's own is counted or failed.
        if (!EFI_ERROR(status)) rig_->fw().FreePool(info);
        return status;
      });
    }
    for (UINT32 mode : {1u, 0u}) {
      const EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE before = *Gop()->Mode;
      const EFI_GRAPHICS_OUTPUT_MODE_INFORMATION info = *before.Info;
      Step("GOP SetMode", [&] {
        EFI_STATUS status = Gop()->SetMode(Gop(), mode);
        const EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE* after = Gop() != nullptr ? Gop()->Mode : nullptr;
        if (EFI_ERROR(status) && after != nullptr &&
            (after->Mode != before.Mode || after->FrameBufferSize != before.FrameBufferSize ||
             std::memcmp(after->Info, &info, sizeof info) != 0)) {
          Problem("a failed Graphics Output SetMode changed the mode record");
        }
        return status;
      });
    }
    for (int op = 0; op < EfiGraphicsOutputBltOperationMax; ++op) {
      Step("GOP Blt", [&] {
        UINTN from = op == EfiBltVideoToBltBuffer ? 40 : 0, to = op == EfiBltVideoToBltBuffer ? 0 : 40;
        return Gop()->Blt(Gop(), buffer, static_cast<EFI_GRAPHICS_OUTPUT_BLT_OPERATION>(op), from, from, to, to, 16,
                          16, 0);
      });
    }
    auto* edid = static_cast<EFI_EDID_ACTIVE_PROTOCOL*>(rig_->fw().Interface(rig_->controller(),
                                                                             kEfiEdidActiveProtocolGuid));
    if (edid != nullptr && edid->SizeOfEdid != 0 && !rig_->fw().IsLiveBlock(edid->Edid)) {
      Problem("EDID Active names memory that is not a live pool block");
    }
  }

  void Step(const char* name, const std::function<EFI_STATUS()>& call) {
    if (Uga() == nullptr) return;
    call();
    CheckInterfaces(name);
  }
  void SetInfo(const EFI_GUID& key, void* data, UINTN size) {
    if (Display() == nullptr) return;
    EFI_GUID k = key;
    Display()->SetInfo(Display(), &k, data, size);
    CheckInterfaces("SetInfo");
  }
  void GetInfo(const EFI_GUID& key, void* data, UINTN size) {
    if (Display() == nullptr) return;
    EFI_GUID k = key;
    Display()->GetInfo(Display(), &k, data, &size);
    CheckInterfaces("GetInfo");
  }

  // Stop, or the platform's release; a refusal must leave everything in
  // place for the next attempt, which must then succeed.
  void Stop() {
    const std::string shown = Shown();
    const bool in_sync = rig_->adapter().Watch(kt270::Connector::kDigital).sync == kt270::Sync::kInSync;
    for (int attempt = 0; attempt < 2; ++attempt) {
      EFI_STATUS status;
      if (release_ && Display() != nullptr) {
        EFI_GUID k = kReleaseKey;
        status = Display()->SetInfo(Display(), &k, nullptr, 0);
      } else {
        status = rig_->Disconnect();
      }
      CheckInterfaces("Stop");
      if (!EFI_ERROR(status)) {
        ExpectNothingLeft(attempt == 0 ? "a successful Stop" : "a second Stop");
        return;
      }
      if (attempt == 1) {
        Problem("a second Stop failed");
        return;
      }
      ExpectFullyStarted();
      if (Shown() != shown) Problem("a failed Stop changed the outputs: " + Shown() + " was " + shown);
      if (in_sync) ExpectBltShown();
    }
  }

  // The outputs and CRTCs as the model decodes them, and the monitor.
  std::string Shown() const {
    const kt270::Adapter& a = rig_->adapter();
    std::string text;
    for (unsigned o = 0; o < 4; ++o) {
      kt270::OutputState out = a.DecodeOutput(static_cast<kt270::Output>(o));
      text += "output" + std::to_string(o) + (out.enabled ? " on from " + std::to_string(out.source) : " off") + "; ";
    }
    for (unsigned c = 0; c < 2; ++c) {
      kt270::CrtcState crtc = a.DecodeCrtc(c);
      text += "crtc" + std::to_string(c + 1) + (crtc.running ? " " : " stopped ") + std::to_string(crtc.h_active) +
              "x" + std::to_string(crtc.v_active) + " from " + std::to_string(crtc.source_width) + "x" +
              std::to_string(crtc.source_height) + "; ";
    }
    kt270::MonitorView v = a.Watch(kt270::Connector::kDigital);
    return text + "monitor " + v.reason + " " + std::to_string(v.width) + "x" + std::to_string(v.height);
  }

  // A fill in the top left corner of the mode is what the monitor shows.
  void ExpectBltShown() {
    EFI_UGA_DRAW_PROTOCOL* uga = Uga();
    if (uga == nullptr) return;
    EFI_UGA_PIXEL colour = {0x33, 0x22, 0x11, 0};
    EFI_STATUS status = uga->Blt(uga, &colour, EfiUgaVideoFill, 0, 0, 0, 0, 8, 8, 0);
    kt270::MonitorView v = rig_->adapter().Watch(kt270::Connector::kDigital);
    std::vector<uint32_t> picture(static_cast<size_t>(v.width) * v.height);
    uint32_t w = 0, h = 0;
    bool shown = !EFI_ERROR(status) && !picture.empty() &&
                 rig_->adapter().RenderView(kt270::Connector::kDigital, picture.data(), picture.size(), &w, &h) &&
                 picture[0] == 0x112233;
    if (!shown) Problem("after a failed Stop a Blt does not reach the screen (" + sim::StatusName(status) + ")");
  }

  bool InjectedIs(const char* member) const {
    for (const sim::InjectionHit& hit : rig_->fw().injections_fired()) {
      if (hit.member == member) return true;
    }
    return false;
  }

  void ExpectNothingLeft(const char* after) {
    sim::Firmware& fw = rig_->fw();
    sim::LeakReport leaks = rig_->Leaks();
    size_t allowed_pool = 0, allowed_events = 0, allowed_opens = 0;
    std::string err = fw.StdErr().Text();
    bool reported = err.find("refused") != std::string::npos;
    if (InjectedIs("FreePool") && reported) allowed_pool = 1;
    if (InjectedIs("CloseEvent") && reported) allowed_events = 1;
    // Supported's own close: nothing else can release it.
    if (InjectedIs("CloseProtocol") && err.find("Supported: CloseProtocol refused") != std::string::npos) {
      allowed_opens = 1;
    }
    if (leaks.pool_blocks > allowed_pool || leaks.events > allowed_events || leaks.interfaces != 0 ||
        leaks.opens > allowed_opens) {
      Problem(std::string(after) + " left " + leaks.Describe());
    }
  }

  void ExpectFullyStarted() {
    sim::Firmware& fw = rig_->fw();
    EFI_UGA_DRAW_PROTOCOL* uga = Uga();
    // Both scenarios have the platform services: every row is installed.
    for (UINTN i = 0; i < kDriverInterfaceCount; ++i) {
      if (fw.Interface(rig_->controller(), *kDriverInterfaces[i].Guid) == nullptr) {
        Problem("a failed Stop took interfaces away");
        return;
      }
    }
    auto* context = reinterpret_cast<ADAPTER_CONTEXT*>(reinterpret_cast<uint8_t*>(uga) - offsetof(ADAPTER_CONTEXT, UgaDraw));
    if (!fw.IsLiveBlock(context) || context->Signature != ADAPTER_CONTEXT_SIGNATURE) {
      Problem("a failed Stop left UGA Draw on a dead context");
      return;
    }
    if (!fw.IsLiveEvent(context->TimerEvent)) Problem("a failed Stop closed the timer event");
    size_t opens = 0;
    for (const auto& e : fw.OpenInfo(rig_->controller(), kEfiPciIoProtocolGuid)) opens += e.AgentHandle == rig_->image();
    if (opens != 1) Problem("a failed Stop let go of PCI I/O");
    if ((rig_->adapter().Command() & 0x7) != 0x7) Problem("a failed Stop left decoding off");
  }

  // Every interface of the driver on the controller lies in a live context.
  void CheckInterfaces(const char* after) {
    sim::Firmware& fw = rig_->fw();
    for (UINTN i = 0; i < kDriverInterfaceCount; ++i) {
      const DRIVER_INTERFACE& m = kDriverInterfaces[i];
      void* interface = fw.Interface(rig_->controller(), *m.Guid);
      if (interface == nullptr) continue;
      if (!fw.IsLiveBlock(static_cast<uint8_t*>(interface) - m.Offset)) {
        Problem(std::string("after ") + after + " an interface points into freed memory");
      }
    }
  }

  void Finish(bool loaded) {
    sim::Firmware& fw = rig_->fw();
    fw.ClearFailures();
    if (loaded && Uga() != nullptr) {
      // Whatever the scenario left started (a release that was refused for
      // good cannot happen with one failure) goes now.
      if (EFI_ERROR(rig_->Disconnect())) Problem("the final Stop failed");
      ExpectNothingLeft("the final Stop");
    }
    if (!fw.faults().empty()) Problem("firmware faults: " + fw.DescribeFaults());
  }

  bool release_;
  Injection injection_;
  std::unique_ptr<testsupport::Rig> rig_;
  std::vector<std::string> problems_;
};

struct Point {
  bool release;
  std::string member;
  uint64_t nth;
};

std::vector<uint64_t> Sample(uint64_t count) {
  std::vector<uint64_t> nths;
  if (count <= kSamplesPerMember) {
    for (uint64_t n = 1; n <= count; ++n) nths.push_back(n);
    return nths;
  }
  for (uint64_t i = 0; i < kSamplesPerMember; ++i) nths.push_back(1 + i * (count - 1) / (kSamplesPerMember - 1));
  return nths;
}

// Runs every jobs-th point from the first-th; returns how many passed.
size_t Sweep(const std::vector<Point>& points, size_t first, size_t jobs) {
  size_t passed = 0;
  for (size_t i = first; i < points.size(); i += jobs) {
    const Point& p = points[i];
    StatusPair statuses = StatusesFor(p.member);
    bool ok = true;
    for (EFI_STATUS status : {statuses.first, statuses.second}) {
      Run run(p.release, Injection{p.member, p.nth, status});
      run.Go();
      for (const std::string& problem : run.problems()) {
        ok = false;
        std::fprintf(stderr, "%s scenario, %s #%llu -> 0x%llx: %s\n", p.release ? "release" : "stop",
                     p.member.c_str(), static_cast<unsigned long long>(p.nth),
                     static_cast<unsigned long long>(status), problem.c_str());
      }
    }
    passed += ok;
  }
  return passed;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned jobs = 2;
  bool show_counts = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--jobs") == 0 && i + 1 < argc) {
      jobs = static_cast<unsigned>(std::atoi(argv[++i]));
      if (jobs == 0) return 2;
    } else if (std::strcmp(argv[i], "--counts") == 0) {
      show_counts = true;
    } else {
      std::fprintf(stderr, "usage: fault_sweep [--jobs N] [--counts]\n");
      return 2;
    }
  }

  std::vector<Point> points;
  for (bool release : {false, true}) {
    Run clean(release, Injection{});
    clean.Go();
    if (!clean.problems().empty()) {
      std::fprintf(stderr, "the scenario fails without faults: %s\n", clean.problems()[0].c_str());
      return 1;
    }
    std::map<std::string, uint64_t> counts = clean.counts();
    for (const char* member : kEveryCall) {
      for (uint64_t n = 1; n <= counts[member]; ++n) points.push_back({release, member, n});
    }
    for (const char* member : kSampled) {
      for (uint64_t n : Sample(counts[member])) points.push_back({release, member, n});
    }
    if (show_counts) {
      std::printf("%s scenario:\n", release ? "release" : "stop");
      for (const auto& c : counts) {
        std::printf("  %-34s %8llu\n", c.first.c_str(), static_cast<unsigned long long>(c.second));
      }
    }
  }
  if (show_counts) return 0;

  // Each job reports its count of passing points through a pipe.
  std::fflush(nullptr);
  std::vector<std::pair<pid_t, int>> children;
  for (unsigned job = 0; job < jobs; ++job) {
    int fds[2];
    if (pipe(fds) != 0) return 1;
    pid_t pid = fork();
    if (pid < 0) return 1;
    if (pid == 0) {
      close(fds[0]);
      size_t passed = Sweep(points, job, jobs);
      bool written = write(fds[1], &passed, sizeof passed) == static_cast<ssize_t>(sizeof passed);
      _exit(written ? 0 : 1);
    }
    close(fds[1]);
    children.push_back({pid, fds[0]});
  }
  size_t passed = 0;
  bool complete = true;
  for (const auto& child : children) {
    size_t part = 0;
    complete = read(child.second, &part, sizeof part) == static_cast<ssize_t>(sizeof part) && complete;
    close(child.second);
    int status = 0;
    waitpid(child.first, &status, 0);
    complete = complete && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    passed += part;
  }
  std::printf("fault sweep: %zu/%zu call points left nothing behind\n", passed, points.size());
  return complete && passed == points.size() ? 0 : 1;
}
