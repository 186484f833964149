// Host stand-in for the platform firmware: real System Table, Boot Services
// and Runtime Services tables over a handle database, a pool with
// accounting, events on a virtual clock with a periodic tick, a variable
// store, console capture, driver-binding connect/disconnect and failure
// injection. The driver under test only ever sees the tables; tests and
// runners use the C++ methods, which are neither counted nor injected.
//
// One Firmware is "current" at a time (the newest live one); the EFIAPI
// service functions find it through Firmware::Current().
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "efi/efi.h"
#include "sim/firmware/pci_device.h"
#include "sim/firmware/pci_io.h"

namespace sim {

// Who made an allocation, created an event or installed an interface:
// calls through the tables count as the driver's, C++ calls as the test's.
enum class Site : uint8_t { kDriver, kTest };

enum class FaultKind : uint8_t {
  kDoubleFree,          // FreePool of a block already freed
  kForeignFree,         // FreePool of a pointer the pool never handed out
  kBadEvent,            // an event service given an unknown or closed event
  kTplRaiseBelow,       // RaiseTPL to a level below the current one
  kTplRestoreAbove,     // RestoreTPL to a level above the current one
  kTplOutOfRange,       // a level above TPL_HIGH_LEVEL
  kUnsupportedService,  // a table member this stand-in does not implement
  kWaitWithoutEnd,      // WaitForEvent on events that can never be signalled
};
const char* FaultKindName(FaultKind kind);

struct Fault {
  FaultKind kind;
  std::string service;
  std::string detail;
};

struct ConsoleEvent {
  enum class Kind : uint8_t { kText, kAttribute, kClear, kReset, kCursor, kMode, kEnableCursor };
  Kind kind;
  std::u16string text;  // kText
  uint64_t value;       // kAttribute: the attribute; kCursor: column << 32 | row; kMode, kEnableCursor
};

// A text output channel (ConOut or StdErr) that records what it is given.
class Console {
 public:
  Console();
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* protocol() { return &proto_; }
  // All OutputString text so far, narrowed to ASCII ('?' outside it).
  std::string Text() const;
  const std::vector<ConsoleEvent>& events() const { return events_; }
  void Clear() { events_.clear(); }

 private:
  friend struct ConsoleAccess;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL proto_;
  SIMPLE_TEXT_OUTPUT_MODE mode_;
  const char* name_;
  std::vector<ConsoleEvent> events_;
};

struct BindingCall {
  enum class Kind : uint8_t { kSupported, kStart, kStop };
  Kind kind;
  EFI_HANDLE driver;  // the Driver Binding's handle
  EFI_HANDLE controller;
  EFI_STATUS status;
};

struct InjectionHit {
  std::string member;
  uint64_t call;  // 1-based, since the last ResetCallCounts
  EFI_STATUS status;
};

// What a driver left behind; see Firmware::Leaks.
struct LeakReport {
  size_t pool_blocks = 0;
  size_t pool_bytes = 0;
  size_t events = 0;
  size_t interfaces = 0;
  size_t opens = 0;
  bool clean() const { return pool_blocks == 0 && events == 0 && interfaces == 0 && opens == 0; }
  std::string Describe() const;
};

struct ProtocolPair {
  const EFI_GUID* guid;
  void* interface;
};

struct FirmwareOptions {
  uint32_t tick_us = 10000;  // timer tick period; OVMF's is 10 ms
  uint8_t pool_fill = 0xAF;  // fresh pool blocks hold this, so missing zeroing shows
};

class Firmware {
 public:
  explicit Firmware(const FirmwareOptions& options = FirmwareOptions());
  ~Firmware();
  Firmware(const Firmware&) = delete;
  Firmware& operator=(const Firmware&) = delete;

  // The firmware the EFIAPI services act on; aborts when there is none.
  static Firmware& Current();

  EFI_SYSTEM_TABLE* SystemTable() { return &system_table_; }
  EFI_BOOT_SERVICES* BootServices() { return &boot_services_; }
  EFI_RUNTIME_SERVICES* RuntimeServices() { return &runtime_services_; }
  // The firmware's own image handle (agent of HandleProtocol opens).
  EFI_HANDLE CoreImageHandle() const { return core_image_; }

  // ---- Failure injection and call counts (table calls only) ------------
  // The nth call (1-based, counted from the last ResetCallCounts) of the
  // member fails with status. Member names as in the tables ("AllocatePool",
  // "OpenProtocol", ...), PCI I/O as "Pci.Read", "Mem.Write", "Attributes",
  // consoles as "ConOut.OutputString" / "StdErr.OutputString".
  void FailCall(const std::string& member, uint64_t nth, EFI_STATUS status);
  // Every call from the nth on fails.
  void FailCallsFrom(const std::string& member, uint64_t nth, EFI_STATUS status);
  void ClearFailures();
  void ResetCallCounts();
  uint64_t CallCount(const std::string& member) const;
  const std::map<std::string, uint64_t>& call_counts() const { return call_counts_; }
  const std::vector<InjectionHit>& injections_fired() const { return injections_fired_; }
  // For service entry points: counts the call; true with *status set when
  // the call is to fail.
  bool Enter(const char* member, EFI_STATUS* status);

  // ---- Faults the stand-in detected -------------------------------------
  void RecordFault(FaultKind kind, const char* service, const std::string& detail);
  const std::vector<Fault>& faults() const { return faults_; }
  size_t FaultCount(FaultKind kind) const;
  void ClearFaults() { faults_.clear(); }
  std::string DescribeFaults() const;

  // ---- Handle database ----------------------------------------------------
  bool IsHandle(EFI_HANDLE handle) const;
  // A new handle with a Loaded Image placeholder, as the loader makes one.
  EFI_HANDLE CreateImageHandle();
  EFI_STATUS InstallProtocol(EFI_HANDLE* handle, const EFI_GUID& guid, void* interface,
                             Site site = Site::kTest);
  EFI_STATUS InstallMultiple(EFI_HANDLE* handle, const std::vector<ProtocolPair>& pairs,
                             Site site = Site::kTest);
  EFI_STATUS UninstallProtocol(EFI_HANDLE handle, const EFI_GUID& guid, void* interface);
  EFI_STATUS UninstallMultiple(EFI_HANDLE handle, const std::vector<ProtocolPair>& pairs);
  EFI_STATUS ReinstallProtocol(EFI_HANDLE handle, const EFI_GUID& guid, void* old_interface,
                               void* new_interface);
  EFI_STATUS OpenProtocol(EFI_HANDLE handle, const EFI_GUID* guid, void** interface, EFI_HANDLE agent,
                          EFI_HANDLE controller, uint32_t attributes);
  EFI_STATUS CloseProtocol(EFI_HANDLE handle, const EFI_GUID* guid, EFI_HANDLE agent, EFI_HANDLE controller);
  EFI_STATUS HandleProtocol(EFI_HANDLE handle, const EFI_GUID* guid, void** interface);
  EFI_STATUS LocateProtocol(const EFI_GUID* guid, void** interface) const;
  EFI_STATUS LocateDevicePath(const EFI_GUID* guid, EFI_DEVICE_PATH_PROTOCOL** path, EFI_HANDLE* device) const;
  // Handles in creation order; guid == nullptr means all handles.
  std::vector<EFI_HANDLE> Handles(const EFI_GUID* guid = nullptr) const;
  void* Interface(EFI_HANDLE handle, const EFI_GUID& guid) const;  // nullptr when absent
  bool HasProtocol(EFI_HANDLE handle, const EFI_GUID& guid) const { return Interface(handle, guid) != nullptr; }
  std::vector<const EFI_GUID*> Protocols(EFI_HANDLE handle) const;
  std::vector<EFI_OPEN_PROTOCOL_INFORMATION_ENTRY> OpenInfo(EFI_HANDLE handle, const EFI_GUID& guid) const;

  // ---- Driver binding -----------------------------------------------------
  // ConnectController / DisconnectController as the firmware runs them.
  EFI_STATUS Connect(EFI_HANDLE controller, EFI_HANDLE* driver_images = nullptr,
                     EFI_DEVICE_PATH_PROTOCOL* remaining = nullptr, bool recursive = false);
  EFI_STATUS Disconnect(EFI_HANDLE controller, EFI_HANDLE driver_image = nullptr, EFI_HANDLE child = nullptr);
  const std::vector<BindingCall>& binding_calls() const { return binding_calls_; }
  void ClearBindingCalls() { binding_calls_.clear(); }

  // ---- Pool ---------------------------------------------------------------
  EFI_STATUS AllocatePool(EFI_MEMORY_TYPE type, size_t size, void** buffer, Site site = Site::kTest);
  void* Allocate(size_t size) {  // test-side convenience
    void* p = nullptr;
    return AllocatePool(EfiBootServicesData, size, &p) == EFI_SUCCESS ? p : nullptr;
  }
  EFI_STATUS FreePool(void* buffer, const char* service = "FreePool");
  bool IsLiveBlock(const void* p) const;
  size_t OutstandingBlocks(Site site) const;
  size_t OutstandingBytes(Site site) const;
  EFI_MEMORY_TYPE BlockType(const void* p) const;  // EfiMaxMemoryType when not live

  // ---- Clock, TPL, events ---------------------------------------------------
  uint64_t NowNs() const { return now_ns_; }
  uint64_t NowUs() const { return now_ns_ / 1000; }
  uint32_t tick_us() const { return tick_us_; }
  void SetTickUs(uint32_t tick_us);
  // Moves the clock on, delivering every tick on the way.
  void AdvanceNs(uint64_t ns);
  void AdvanceUs(uint64_t us) { AdvanceNs(us * 1000); }
  uint64_t ticks() const { return ticks_; }
  // Boot Services Stall: the clock moves on, and the time is counted.
  void AdvanceByStall(uint64_t us) {
    stalled_us_ += us;
    AdvanceUs(us);
  }
  uint64_t stalled_us() const { return stalled_us_; }
  EFI_TPL CurrentTpl() const { return tpl_; }
  EFI_TPL RaiseTpl(EFI_TPL tpl);
  void RestoreTpl(EFI_TPL tpl);

  EFI_STATUS CreateEvent(uint32_t type, EFI_TPL notify_tpl, EFI_EVENT_NOTIFY notify, void* context,
                         EFI_EVENT* event, Site site = Site::kTest);
  EFI_STATUS SetTimer(EFI_EVENT event, EFI_TIMER_DELAY type, uint64_t trigger_100ns);
  EFI_STATUS SignalEvent(EFI_EVENT event);
  EFI_STATUS CheckEvent(EFI_EVENT event);
  EFI_STATUS CloseEvent(EFI_EVENT event);
  EFI_STATUS WaitForEvent(size_t count, EFI_EVENT* events, size_t* index);
  bool IsLiveEvent(EFI_EVENT event) const;
  bool IsSignalled(EFI_EVENT event) const;
  size_t OpenEvents(Site site) const;

  // ---- Variables ----------------------------------------------------------
  EFI_STATUS SetVariable(const CHAR16* name, const EFI_GUID& guid, uint32_t attributes, const void* data,
                         size_t size);
  EFI_STATUS GetVariable(const CHAR16* name, const EFI_GUID* guid, uint32_t* attributes, size_t* size,
                         void* data) const;

  // ---- Consoles -------------------------------------------------------------
  Console& ConOut() { return con_out_; }
  Console& StdErr() { return std_err_; }

  // ---- PCI controllers --------------------------------------------------------
  // A controller handle with a PCI device path (PNP0A03 root, PCI node,
  // end) and a PCI I/O stand-in over device (not owned).
  EFI_HANDLE CreatePciController(PciDevice* device);
  EFI_HANDLE CreatePciController(PciDevice* device, const PciControllerOptions& options);
  PciIoStandIn* PciIoOf(EFI_HANDLE controller) const;
  PciIoStandIn* FindPciIo(const EFI_PCI_IO_PROTOCOL* protocol) const;
  EFI_PCI_IO_PROTOCOL* PciIoProtocolOf(EFI_HANDLE controller) const;
  EFI_DEVICE_PATH_PROTOCOL* DevicePathOf(EFI_HANDLE controller) const;

  // ---- Leak accounting ----------------------------------------------------------
  // Pool blocks and events the driver holds, interfaces it installed on
  // controller (all handles but the agent's own when controller is null),
  // and the opens agent holds on controller (all handles when null).
  LeakReport Leaks(EFI_HANDLE controller, EFI_HANDLE agent) const;

  // The unimplemented table members that were called, in order.
  const std::vector<std::string>& unsupported_calls() const { return unsupported_calls_; }
  EFI_STATUS Unsupported(const char* member);

 private:
  struct OpenRecord {
    EFI_HANDLE agent;
    EFI_HANDLE controller;
    uint32_t attributes;
    uint32_t count;
  };
  struct ProtocolRecord {
    EFI_GUID guid;
    void* interface;
    Site site;
    std::vector<OpenRecord> opens;
  };
  struct HandleRecord {
    uint64_t magic;
    uint64_t serial;
    bool alive;
    std::vector<std::unique_ptr<ProtocolRecord>> protocols;
  };
  struct Block {
    size_t size;
    EFI_MEMORY_TYPE type;
    Site site;
  };
  struct EventRecord {
    uint64_t magic;
    bool alive;
    uint32_t type;
    EFI_TPL notify_tpl;
    EFI_EVENT_NOTIFY notify;
    void* context;
    Site site;
    bool signalled;
    bool notify_pending;
    bool armed;
    uint64_t due_ns;
    uint64_t period_ns;
  };
  struct Injection {
    uint64_t nth;
    bool from_on;
    EFI_STATUS status;
  };
  struct Variable {
    std::u16string name;
    EFI_GUID guid;
    uint32_t attributes;
    std::vector<uint8_t> data;
  };

  // The record behind a handle or event pointer while it is alive.
  template <typename Record>
  static Record* FindAlive(const std::vector<std::unique_ptr<Record>>& records, const void* p) {
    if (p == nullptr) return nullptr;
    for (const auto& r : records) {
      if (r.get() == p) return r->alive ? r.get() : nullptr;
    }
    return nullptr;
  }
  HandleRecord* FindHandle(EFI_HANDLE handle) const { return FindAlive(handles_, handle); }
  static ProtocolRecord* FindProtocol(HandleRecord* h, const EFI_GUID& guid);
  EFI_HANDLE NewHandle();
  void RetireIfEmpty(HandleRecord* h);
  EFI_STATUS InstallOne(EFI_HANDLE* handle, const EFI_GUID* guid, void* interface, Site site);
  EFI_STATUS UninstallOne(EFI_HANDLE handle, const EFI_GUID* guid, void* interface);
  bool DevicePathInstalled(const EFI_DEVICE_PATH_PROTOCOL* path) const;
  std::vector<EFI_DRIVER_BINDING_PROTOCOL*> SortedBindings(EFI_HANDLE* driver_images) const;
  std::vector<EFI_HANDLE> ManagingDrivers(EFI_HANDLE controller) const;
  std::vector<EFI_HANDLE> ChildrenOf(EFI_HANDLE controller, EFI_HANDLE agent) const;
  EFI_STATUS ConnectOne(EFI_HANDLE controller, EFI_HANDLE* driver_images, EFI_DEVICE_PATH_PROTOCOL* remaining);

  EventRecord* FindEvent(EFI_EVENT event) const { return FindAlive(events_, event); }
  // FindEvent for an event service; an unknown or closed event is a fault.
  EventRecord* EventFor(EFI_EVENT event, const char* service);
  // An event checked or waited for: an unsignalled wait event's notify runs
  // first; true when it was signalled, and the signal is taken.
  bool TakeSignal(EventRecord* e);
  void DeliverTick(uint64_t tick_ns);
  void Signal(EventRecord* e);
  void DispatchNotifies(EFI_TPL above);
  uint64_t NextTickNs() const;

  void InitTables();

  static Firmware* current_;

  EFI_SYSTEM_TABLE system_table_;
  EFI_BOOT_SERVICES boot_services_;
  EFI_RUNTIME_SERVICES runtime_services_;
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL con_in_;
  Console con_out_;
  Console std_err_;
  std::u16string vendor_;

  std::vector<std::unique_ptr<HandleRecord>> handles_;
  uint64_t next_serial_ = 1;
  EFI_HANDLE core_image_ = nullptr;
  EFI_HANDLE console_handle_ = nullptr;
  std::vector<std::unique_ptr<uint8_t[]>> image_placeholders_;

  std::map<const void*, Block> blocks_;
  std::map<const void*, Block> freed_;
  uint8_t pool_fill_;

  std::vector<std::unique_ptr<EventRecord>> events_;
  uint64_t now_ns_ = 0;
  uint64_t ticks_ = 0;
  uint64_t stalled_us_ = 0;
  uint32_t tick_us_;
  EFI_TPL tpl_ = TPL_APPLICATION;
  bool dispatching_ = false;

  std::vector<Variable> variables_;

  std::map<std::string, uint64_t> call_counts_;
  // Every PCI I/O access counts a call: the members seen last are found by
  // their name's address (checked against the name) before the map.
  struct CountSlot {
    const char* member;
    std::map<std::string, uint64_t>::iterator node;
  };
  CountSlot count_cache_[8] = {};
  unsigned count_cache_next_ = 0;
  uint64_t& Counter(const char* member);
  std::map<std::string, std::vector<Injection>, std::less<>> injections_;
  std::vector<InjectionHit> injections_fired_;
  std::vector<Fault> faults_;
  std::vector<std::string> unsupported_calls_;
  std::vector<BindingCall> binding_calls_;

  std::vector<std::unique_ptr<PciIoStandIn>> pci_;
};

// Status names for messages ("EFI_NOT_FOUND", or the number in hex).
std::string StatusName(EFI_STATUS status);
std::string GuidText(const EFI_GUID& guid);
bool SameGuid(const EFI_GUID& a, const EFI_GUID& b);

}  // namespace sim
