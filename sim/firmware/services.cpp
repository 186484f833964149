// The EFIAPI service functions behind the tables the driver receives. Each
// counts its call, applies any injected failure, and hands over to the
// Firmware's C++ implementation with the driver as the caller.
#include <cstring>

#include "sim/firmware/firmware.h"

namespace sim {

namespace {

#define ENTER(member)                       \
  Firmware& fw = Firmware::Current();       \
  do {                                      \
    EFI_STATUS injected_;                   \
    if (fw.Enter(member, &injected_)) {     \
      return injected_;                     \
    }                                       \
  } while (0)

#define UNSUPPORTED(member) return Firmware::Current().Unsupported(member)

uint32_t Crc32(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  uint32_t crc = 0xFFFFFFFFU;
  for (size_t i = 0; i < size; ++i) {
    crc ^= p[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320U & (0U - (crc & 1U)));
  }
  return ~crc;
}

// A table zeroed, with the header of a revision 2.70 table of its kind.
template <typename Table>
void OpenTable(Table* table, uint64_t signature) {
  std::memset(table, 0, sizeof *table);
  table->Hdr.Signature = signature;
  table->Hdr.Revision = (2U << 16) | 70U;
  table->Hdr.HeaderSize = sizeof *table;
}
// The header's CRC32, over the whole table once it is filled in.
template <typename Table>
void SealTable(Table* table) {
  table->Hdr.CRC32 = Crc32(table, sizeof *table);
}

// ---- Task priority and memory --------------------------------------------------

EFI_TPL EFIAPI SvcRaiseTpl(EFI_TPL tpl) {
  Firmware& fw = Firmware::Current();
  EFI_STATUS ignored;
  fw.Enter("RaiseTPL", &ignored);
  return fw.RaiseTpl(tpl);
}

VOID EFIAPI SvcRestoreTpl(EFI_TPL tpl) {
  Firmware& fw = Firmware::Current();
  EFI_STATUS ignored;
  fw.Enter("RestoreTPL", &ignored);
  fw.RestoreTpl(tpl);
}

EFI_STATUS EFIAPI SvcAllocatePages(EFI_ALLOCATE_TYPE, EFI_MEMORY_TYPE, UINTN, EFI_PHYSICAL_ADDRESS*) {
  UNSUPPORTED("AllocatePages");
}
EFI_STATUS EFIAPI SvcFreePages(EFI_PHYSICAL_ADDRESS, UINTN) { UNSUPPORTED("FreePages"); }
EFI_STATUS EFIAPI SvcGetMemoryMap(UINTN*, EFI_MEMORY_DESCRIPTOR*, UINTN*, UINTN*, UINT32*) {
  UNSUPPORTED("GetMemoryMap");
}

EFI_STATUS EFIAPI SvcAllocatePool(EFI_MEMORY_TYPE type, UINTN size, VOID** buffer) {
  ENTER("AllocatePool");
  return fw.AllocatePool(type, size, buffer, Site::kDriver);
}

EFI_STATUS EFIAPI SvcFreePool(VOID* buffer) {
  ENTER("FreePool");
  return fw.FreePool(buffer);
}

// ---- Events -------------------------------------------------------------------------

EFI_STATUS EFIAPI SvcCreateEvent(UINT32 type, EFI_TPL tpl, EFI_EVENT_NOTIFY notify, VOID* context,
                                 EFI_EVENT* event) {
  ENTER("CreateEvent");
  return fw.CreateEvent(type, tpl, notify, context, event, Site::kDriver);
}

EFI_STATUS EFIAPI SvcSetTimer(EFI_EVENT event, EFI_TIMER_DELAY type, UINT64 trigger) {
  ENTER("SetTimer");
  return fw.SetTimer(event, type, trigger);
}

EFI_STATUS EFIAPI SvcWaitForEvent(UINTN count, EFI_EVENT* events, UINTN* index) {
  ENTER("WaitForEvent");
  size_t i = 0;
  EFI_STATUS status = fw.WaitForEvent(count, events, &i);
  if (index != nullptr) *index = i;
  return status;
}

EFI_STATUS EFIAPI SvcSignalEvent(EFI_EVENT event) {
  ENTER("SignalEvent");
  return fw.SignalEvent(event);
}

EFI_STATUS EFIAPI SvcCloseEvent(EFI_EVENT event) {
  ENTER("CloseEvent");
  return fw.CloseEvent(event);
}

// An injected failure still costs a tick, so that a loop bounded by time
// ends under injection too.
EFI_STATUS EFIAPI SvcCheckEvent(EFI_EVENT event) {
  Firmware& fw = Firmware::Current();
  EFI_STATUS injected;
  if (fw.Enter("CheckEvent", &injected)) {
    fw.AdvanceNs((fw.NowNs() / (fw.tick_us() * 1000ULL) + 1) * fw.tick_us() * 1000ULL - fw.NowNs());
    return injected;
  }
  return fw.CheckEvent(event);
}

// ---- Protocol handlers ----------------------------------------------------------------

EFI_STATUS EFIAPI SvcInstallProtocolInterface(EFI_HANDLE* handle, const EFI_GUID* guid, EFI_INTERFACE_TYPE type,
                                              VOID* interface) {
  ENTER("InstallProtocolInterface");
  if (handle == nullptr || guid == nullptr || type != EFI_NATIVE_INTERFACE) return EFI_INVALID_PARAMETER;
  return fw.InstallProtocol(handle, *guid, interface, Site::kDriver);
}

EFI_STATUS EFIAPI SvcReinstallProtocolInterface(EFI_HANDLE handle, const EFI_GUID* guid, VOID* old_interface,
                                                VOID* new_interface) {
  ENTER("ReinstallProtocolInterface");
  if (guid == nullptr) return EFI_INVALID_PARAMETER;
  return fw.ReinstallProtocol(handle, *guid, old_interface, new_interface);
}

EFI_STATUS EFIAPI SvcUninstallProtocolInterface(EFI_HANDLE handle, const EFI_GUID* guid, VOID* interface) {
  ENTER("UninstallProtocolInterface");
  if (guid == nullptr) return EFI_INVALID_PARAMETER;
  return fw.UninstallProtocol(handle, *guid, interface);
}

EFI_STATUS EFIAPI SvcHandleProtocol(EFI_HANDLE handle, const EFI_GUID* guid, VOID** interface) {
  ENTER("HandleProtocol");
  return fw.HandleProtocol(handle, guid, interface);
}

EFI_STATUS EFIAPI SvcRegisterProtocolNotify(const EFI_GUID*, EFI_EVENT, VOID**) {
  UNSUPPORTED("RegisterProtocolNotify");
}

// Handles for a search; nullptr with EFI_INVALID_PARAMETER / UNSUPPORTED in
// *status for a search this stand-in cannot make.
std::vector<EFI_HANDLE> Search(Firmware& fw, EFI_LOCATE_SEARCH_TYPE type, const EFI_GUID* guid,
                               const char* member, EFI_STATUS* status) {
  *status = EFI_SUCCESS;
  switch (type) {
    case AllHandles:
      return fw.Handles(nullptr);
    case ByProtocol:
      if (guid == nullptr) {
        *status = EFI_INVALID_PARAMETER;
        return {};
      }
      return fw.Handles(guid);
    case ByRegisterNotify:
      *status = fw.Unsupported(member);
      return {};
  }
  *status = EFI_INVALID_PARAMETER;
  return {};
}

EFI_STATUS EFIAPI SvcLocateHandle(EFI_LOCATE_SEARCH_TYPE type, const EFI_GUID* guid, VOID*, UINTN* size,
                                  EFI_HANDLE* buffer) {
  ENTER("LocateHandle");
  if (size == nullptr) return EFI_INVALID_PARAMETER;
  EFI_STATUS status;
  std::vector<EFI_HANDLE> found = Search(fw, type, guid, "LocateHandle(ByRegisterNotify)", &status);
  if (status != EFI_SUCCESS) return status;
  if (found.empty()) return EFI_NOT_FOUND;
  UINTN needed = found.size() * sizeof(EFI_HANDLE);
  if (*size < needed) {
    *size = needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  if (buffer == nullptr) return EFI_INVALID_PARAMETER;
  std::memcpy(buffer, found.data(), needed);
  *size = needed;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SvcLocateDevicePath(const EFI_GUID* guid, EFI_DEVICE_PATH_PROTOCOL** path, EFI_HANDLE* device) {
  ENTER("LocateDevicePath");
  return fw.LocateDevicePath(guid, path, device);
}

EFI_STATUS EFIAPI SvcInstallConfigurationTable(const EFI_GUID*, VOID*) { UNSUPPORTED("InstallConfigurationTable"); }

// ---- Images ------------------------------------------------------------------------------

EFI_STATUS EFIAPI SvcLoadImage(BOOLEAN, EFI_HANDLE, EFI_DEVICE_PATH_PROTOCOL*, VOID*, UINTN, EFI_HANDLE*) {
  UNSUPPORTED("LoadImage");
}
EFI_STATUS EFIAPI SvcStartImage(EFI_HANDLE, UINTN*, CHAR16**) { UNSUPPORTED("StartImage"); }
EFI_STATUS EFIAPI SvcExit(EFI_HANDLE, EFI_STATUS, UINTN, CHAR16*) { UNSUPPORTED("Exit"); }
EFI_STATUS EFIAPI SvcUnloadImage(EFI_HANDLE) { UNSUPPORTED("UnloadImage"); }
EFI_STATUS EFIAPI SvcExitBootServices(EFI_HANDLE, UINTN) { UNSUPPORTED("ExitBootServices"); }

// ---- Miscellaneous --------------------------------------------------------------------------

EFI_STATUS EFIAPI SvcGetNextMonotonicCount(UINT64* count) {
  ENTER("GetNextMonotonicCount");
  static uint64_t counter = 0;
  if (count == nullptr) return EFI_INVALID_PARAMETER;
  *count = ++counter;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SvcStall(UINTN microseconds) {
  ENTER("Stall");
  fw.AdvanceByStall(microseconds);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SvcSetWatchdogTimer(UINTN, UINT64, UINTN, CHAR16*) {
  ENTER("SetWatchdogTimer");
  return EFI_SUCCESS;
}

// ---- Driver support ----------------------------------------------------------------------------

EFI_STATUS EFIAPI SvcConnectController(EFI_HANDLE controller, EFI_HANDLE* images, EFI_DEVICE_PATH_PROTOCOL* remaining,
                                       BOOLEAN recursive) {
  ENTER("ConnectController");
  return fw.Connect(controller, images, remaining, recursive != 0);
}

EFI_STATUS EFIAPI SvcDisconnectController(EFI_HANDLE controller, EFI_HANDLE image, EFI_HANDLE child) {
  ENTER("DisconnectController");
  return fw.Disconnect(controller, image, child);
}

EFI_STATUS EFIAPI SvcOpenProtocol(EFI_HANDLE handle, const EFI_GUID* guid, VOID** interface, EFI_HANDLE agent,
                                  EFI_HANDLE controller, UINT32 attributes) {
  ENTER("OpenProtocol");
  return fw.OpenProtocol(handle, guid, interface, agent, controller, attributes);
}

EFI_STATUS EFIAPI SvcCloseProtocol(EFI_HANDLE handle, const EFI_GUID* guid, EFI_HANDLE agent,
                                   EFI_HANDLE controller) {
  ENTER("CloseProtocol");
  return fw.CloseProtocol(handle, guid, agent, controller);
}

EFI_STATUS EFIAPI SvcOpenProtocolInformation(EFI_HANDLE handle, const EFI_GUID* guid,
                                             EFI_OPEN_PROTOCOL_INFORMATION_ENTRY** entries, UINTN* count) {
  ENTER("OpenProtocolInformation");
  if (guid == nullptr || entries == nullptr || count == nullptr) return EFI_INVALID_PARAMETER;
  if (!fw.IsHandle(handle)) return EFI_INVALID_PARAMETER;
  if (!fw.HasProtocol(handle, *guid)) return EFI_NOT_FOUND;
  std::vector<EFI_OPEN_PROTOCOL_INFORMATION_ENTRY> info = fw.OpenInfo(handle, *guid);
  void* buffer = nullptr;
  size_t bytes = info.size() * sizeof(EFI_OPEN_PROTOCOL_INFORMATION_ENTRY);
  EFI_STATUS status = fw.AllocatePool(EfiBootServicesData, bytes, &buffer, Site::kDriver);
  if (status != EFI_SUCCESS) return EFI_OUT_OF_RESOURCES;
  if (bytes != 0) std::memcpy(buffer, info.data(), bytes);
  *entries = static_cast<EFI_OPEN_PROTOCOL_INFORMATION_ENTRY*>(buffer);
  *count = info.size();
  return EFI_SUCCESS;
}

// ---- Library ----------------------------------------------------------------------------------

EFI_STATUS EFIAPI SvcProtocolsPerHandle(EFI_HANDLE handle, EFI_GUID*** buffer, UINTN* count) {
  ENTER("ProtocolsPerHandle");
  if (buffer == nullptr || count == nullptr || !fw.IsHandle(handle)) return EFI_INVALID_PARAMETER;
  std::vector<const EFI_GUID*> guids = fw.Protocols(handle);
  void* out = nullptr;
  if (fw.AllocatePool(EfiBootServicesData, guids.size() * sizeof(EFI_GUID*), &out, Site::kDriver) != EFI_SUCCESS) {
    return EFI_OUT_OF_RESOURCES;
  }
  if (!guids.empty()) std::memcpy(out, guids.data(), guids.size() * sizeof(EFI_GUID*));
  *buffer = static_cast<EFI_GUID**>(out);
  *count = guids.size();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SvcLocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE type, const EFI_GUID* guid, VOID*, UINTN* count,
                                        EFI_HANDLE** buffer) {
  ENTER("LocateHandleBuffer");
  if (count == nullptr || buffer == nullptr) return EFI_INVALID_PARAMETER;
  *count = 0;
  *buffer = nullptr;
  EFI_STATUS status;
  std::vector<EFI_HANDLE> found = Search(fw, type, guid, "LocateHandleBuffer(ByRegisterNotify)", &status);
  if (status != EFI_SUCCESS) return status;
  if (found.empty()) return EFI_NOT_FOUND;
  void* out = nullptr;
  if (fw.AllocatePool(EfiBootServicesData, found.size() * sizeof(EFI_HANDLE), &out, Site::kDriver) !=
      EFI_SUCCESS) {
    return EFI_OUT_OF_RESOURCES;
  }
  std::memcpy(out, found.data(), found.size() * sizeof(EFI_HANDLE));
  *buffer = static_cast<EFI_HANDLE*>(out);
  *count = found.size();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SvcLocateProtocol(const EFI_GUID* guid, VOID* registration, VOID** interface) {
  ENTER("LocateProtocol");
  if (registration != nullptr) return fw.Unsupported("LocateProtocol(Registration)");
  return fw.LocateProtocol(guid, interface);
}

// The (GUID, interface) pairs of the two variadic services, up to the null GUID.
std::vector<ProtocolPair> ReadProtocolPairs(__builtin_ms_va_list& args) {
  std::vector<ProtocolPair> pairs;
  for (;;) {
    const EFI_GUID* guid = __builtin_va_arg(args, const EFI_GUID*);
    if (guid == nullptr) break;
    void* interface = __builtin_va_arg(args, void*);
    pairs.push_back(ProtocolPair{guid, interface});
  }
  return pairs;
}

EFI_STATUS EFIAPI SvcInstallMultipleProtocolInterfaces(EFI_HANDLE* handle, ...) {
  ENTER("InstallMultipleProtocolInterfaces");
  __builtin_ms_va_list args;
  __builtin_ms_va_start(args, handle);
  std::vector<ProtocolPair> pairs = ReadProtocolPairs(args);
  __builtin_ms_va_end(args);
  return fw.InstallMultiple(handle, pairs, Site::kDriver);
}

EFI_STATUS EFIAPI SvcUninstallMultipleProtocolInterfaces(EFI_HANDLE handle, ...) {
  ENTER("UninstallMultipleProtocolInterfaces");
  __builtin_ms_va_list args;
  __builtin_ms_va_start(args, handle);
  std::vector<ProtocolPair> pairs = ReadProtocolPairs(args);
  __builtin_ms_va_end(args);
  return fw.UninstallMultiple(handle, pairs);
}

EFI_STATUS EFIAPI SvcCalculateCrc32(VOID* data, UINTN size, UINT32* crc) {
  ENTER("CalculateCrc32");
  if (data == nullptr || size == 0 || crc == nullptr) return EFI_INVALID_PARAMETER;
  *crc = Crc32(data, size);
  return EFI_SUCCESS;
}

VOID EFIAPI SvcCopyMem(VOID* destination, const VOID* source, UINTN length) {
  Firmware& fw = Firmware::Current();
  EFI_STATUS ignored;
  fw.Enter("CopyMem", &ignored);
  if (length != 0) std::memmove(destination, source, length);
}

VOID EFIAPI SvcSetMem(VOID* buffer, UINTN size, UINT8 value) {
  Firmware& fw = Firmware::Current();
  EFI_STATUS ignored;
  fw.Enter("SetMem", &ignored);
  if (size != 0) std::memset(buffer, value, size);
}

EFI_STATUS EFIAPI SvcCreateEventEx(UINT32 type, EFI_TPL tpl, EFI_EVENT_NOTIFY notify, const VOID* context,
                                   const EFI_GUID* group, EFI_EVENT* event) {
  ENTER("CreateEventEx");
  if (group != nullptr) return fw.Unsupported("CreateEventEx(EventGroup)");
  return fw.CreateEvent(type, tpl, notify, const_cast<VOID*>(context), event, Site::kDriver);
}

// ---- Runtime Services -------------------------------------------------------------------------

EFI_STATUS EFIAPI SvcGetTime(EFI_TIME*, EFI_TIME_CAPABILITIES*) { UNSUPPORTED("GetTime"); }
EFI_STATUS EFIAPI SvcSetTime(EFI_TIME*) { UNSUPPORTED("SetTime"); }
EFI_STATUS EFIAPI SvcGetWakeupTime(BOOLEAN*, BOOLEAN*, EFI_TIME*) { UNSUPPORTED("GetWakeupTime"); }
EFI_STATUS EFIAPI SvcSetWakeupTime(BOOLEAN, EFI_TIME*) { UNSUPPORTED("SetWakeupTime"); }
EFI_STATUS EFIAPI SvcSetVirtualAddressMap(UINTN, UINTN, UINT32, EFI_MEMORY_DESCRIPTOR*) {
  UNSUPPORTED("SetVirtualAddressMap");
}
EFI_STATUS EFIAPI SvcConvertPointer(UINTN, VOID**) { UNSUPPORTED("ConvertPointer"); }

EFI_STATUS EFIAPI SvcGetVariable(const CHAR16* name, const EFI_GUID* guid, UINT32* attributes, UINTN* size,
                                 VOID* data) {
  ENTER("GetVariable");
  if (size == nullptr) return EFI_INVALID_PARAMETER;
  size_t n = *size;
  uint32_t attr = 0;
  EFI_STATUS status = fw.GetVariable(name, guid, &attr, &n, data);
  *size = n;
  if (status == EFI_SUCCESS && attributes != nullptr) *attributes = attr;
  return status;
}

EFI_STATUS EFIAPI SvcGetNextVariableName(UINTN*, CHAR16*, EFI_GUID*) { UNSUPPORTED("GetNextVariableName"); }

EFI_STATUS EFIAPI SvcSetVariable(const CHAR16* name, const EFI_GUID* guid, UINT32 attributes, UINTN size,
                                 const VOID* data) {
  ENTER("SetVariable");
  if (guid == nullptr) return EFI_INVALID_PARAMETER;
  return fw.SetVariable(name, *guid, attributes, data, size);
}

EFI_STATUS EFIAPI SvcGetNextHighMonotonicCount(UINT32*) { UNSUPPORTED("GetNextHighMonotonicCount"); }

VOID EFIAPI SvcResetSystem(EFI_RESET_TYPE, EFI_STATUS, UINTN, VOID*) {
  Firmware::Current().Unsupported("ResetSystem");
}

EFI_STATUS EFIAPI SvcUpdateCapsule(VOID**, UINTN, EFI_PHYSICAL_ADDRESS) { UNSUPPORTED("UpdateCapsule"); }
EFI_STATUS EFIAPI SvcQueryCapsuleCapabilities(VOID**, UINTN, UINT64*, EFI_RESET_TYPE*) {
  UNSUPPORTED("QueryCapsuleCapabilities");
}
EFI_STATUS EFIAPI SvcQueryVariableInfo(UINT32, UINT64*, UINT64*, UINT64*) { UNSUPPORTED("QueryVariableInfo"); }

// ---- Console input --------------------------------------------------------------------------------

EFI_STATUS EFIAPI ConInReset(EFI_SIMPLE_TEXT_INPUT_PROTOCOL*, BOOLEAN) {
  ENTER("ConIn.Reset");
  return EFI_SUCCESS;
}

// No key ever arrives.
VOID EFIAPI ConInWaitNotify(EFI_EVENT, VOID*) {}

EFI_STATUS EFIAPI ConInReadKeyStroke(EFI_SIMPLE_TEXT_INPUT_PROTOCOL*, EFI_INPUT_KEY* key) {
  ENTER("ConIn.ReadKeyStroke");
  if (key == nullptr) return EFI_INVALID_PARAMETER;
  return EFI_NOT_READY;
}

}  // namespace

// ---- Console output ---------------------------------------------------------------------------------

struct ConsoleAccess {
  static Console* From(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* This) {
    Firmware& fw = Firmware::Current();
    return This == fw.StdErr().protocol() ? &fw.StdErr() : &fw.ConOut();
  }
  static bool Enter(Console* c, const char* member, EFI_STATUS* status) {
    return Firmware::Current().Enter((std::string(c->name_) + "." + member).c_str(), status);
  }
  static void Add(Console* c, ConsoleEvent::Kind kind, uint64_t value, std::u16string text = {}) {
    c->events_.push_back(ConsoleEvent{kind, std::move(text), value});
  }

#define CONSOLE_ENTER(member)                              \
  Console* c = From(This);                                 \
  do {                                                     \
    EFI_STATUS injected_;                                  \
    if (Enter(c, member, &injected_)) return injected_;    \
  } while (0)

  static EFI_STATUS EFIAPI Reset(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* This, BOOLEAN) {
    CONSOLE_ENTER("Reset");
    Add(c, ConsoleEvent::Kind::kReset, 0);
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI OutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* This, const CHAR16* text) {
    CONSOLE_ENTER("OutputString");
    if (text == nullptr) return EFI_INVALID_PARAMETER;
    std::u16string s;
    while (*text != 0) s.push_back(*text++);
    Add(c, ConsoleEvent::Kind::kText, 0, std::move(s));
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI TestString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* This, const CHAR16* text) {
    CONSOLE_ENTER("TestString");
    return text == nullptr ? EFI_INVALID_PARAMETER : EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI QueryMode(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* This, UINTN mode, UINTN* columns,
                                     UINTN* rows) {
    CONSOLE_ENTER("QueryMode");
    if (mode != 0) return EFI_UNSUPPORTED;
    if (columns == nullptr || rows == nullptr) return EFI_INVALID_PARAMETER;
    *columns = 80;
    *rows = 25;
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI SetMode(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* This, UINTN mode) {
    CONSOLE_ENTER("SetMode");
    if (mode != 0) return EFI_UNSUPPORTED;
    Add(c, ConsoleEvent::Kind::kMode, mode);
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI SetAttribute(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* This, UINTN attribute) {
    CONSOLE_ENTER("SetAttribute");
    c->mode_.Attribute = static_cast<INT32>(attribute);
    Add(c, ConsoleEvent::Kind::kAttribute, attribute);
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI ClearScreen(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* This) {
    CONSOLE_ENTER("ClearScreen");
    Add(c, ConsoleEvent::Kind::kClear, 0);
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI SetCursorPosition(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* This, UINTN column, UINTN row) {
    CONSOLE_ENTER("SetCursorPosition");
    Add(c, ConsoleEvent::Kind::kCursor, (static_cast<uint64_t>(column) << 32) | row);
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI EnableCursor(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* This, BOOLEAN visible) {
    CONSOLE_ENTER("EnableCursor");
    Add(c, ConsoleEvent::Kind::kEnableCursor, visible);
    return EFI_SUCCESS;
  }
#undef CONSOLE_ENTER

  static void Name(Console& c, const char* name) { c.name_ = name; }
};

Console::Console() : proto_{}, mode_{}, name_("ConOut") {
  proto_.Reset = &ConsoleAccess::Reset;
  proto_.OutputString = &ConsoleAccess::OutputString;
  proto_.TestString = &ConsoleAccess::TestString;
  proto_.QueryMode = &ConsoleAccess::QueryMode;
  proto_.SetMode = &ConsoleAccess::SetMode;
  proto_.SetAttribute = &ConsoleAccess::SetAttribute;
  proto_.ClearScreen = &ConsoleAccess::ClearScreen;
  proto_.SetCursorPosition = &ConsoleAccess::SetCursorPosition;
  proto_.EnableCursor = &ConsoleAccess::EnableCursor;
  mode_.MaxMode = 1;
  mode_.Attribute = EFI_WHITE & 0x07;
  mode_.CursorVisible = 1;
  proto_.Mode = &mode_;
}

// ---- The tables -----------------------------------------------------------------------------------------

void Firmware::InitTables() {
  EFI_BOOT_SERVICES& bs = boot_services_;
  OpenTable(&bs, EFI_BOOT_SERVICES_SIGNATURE);
  bs.RaiseTPL = SvcRaiseTpl;
  bs.RestoreTPL = SvcRestoreTpl;
  bs.AllocatePages = SvcAllocatePages;
  bs.FreePages = SvcFreePages;
  bs.GetMemoryMap = SvcGetMemoryMap;
  bs.AllocatePool = SvcAllocatePool;
  bs.FreePool = SvcFreePool;
  bs.CreateEvent = SvcCreateEvent;
  bs.SetTimer = SvcSetTimer;
  bs.WaitForEvent = SvcWaitForEvent;
  bs.SignalEvent = SvcSignalEvent;
  bs.CloseEvent = SvcCloseEvent;
  bs.CheckEvent = SvcCheckEvent;
  bs.InstallProtocolInterface = SvcInstallProtocolInterface;
  bs.ReinstallProtocolInterface = SvcReinstallProtocolInterface;
  bs.UninstallProtocolInterface = SvcUninstallProtocolInterface;
  bs.HandleProtocol = SvcHandleProtocol;
  bs.Reserved = nullptr;
  bs.RegisterProtocolNotify = SvcRegisterProtocolNotify;
  bs.LocateHandle = SvcLocateHandle;
  bs.LocateDevicePath = SvcLocateDevicePath;
  bs.InstallConfigurationTable = SvcInstallConfigurationTable;
  bs.LoadImage = SvcLoadImage;
  bs.StartImage = SvcStartImage;
  bs.Exit = SvcExit;
  bs.UnloadImage = SvcUnloadImage;
  bs.ExitBootServices = SvcExitBootServices;
  bs.GetNextMonotonicCount = SvcGetNextMonotonicCount;
  bs.Stall = SvcStall;
  bs.SetWatchdogTimer = SvcSetWatchdogTimer;
  bs.ConnectController = SvcConnectController;
  bs.DisconnectController = SvcDisconnectController;
  bs.OpenProtocol = SvcOpenProtocol;
  bs.CloseProtocol = SvcCloseProtocol;
  bs.OpenProtocolInformation = SvcOpenProtocolInformation;
  bs.ProtocolsPerHandle = SvcProtocolsPerHandle;
  bs.LocateHandleBuffer = SvcLocateHandleBuffer;
  bs.LocateProtocol = SvcLocateProtocol;
  bs.InstallMultipleProtocolInterfaces = SvcInstallMultipleProtocolInterfaces;
  bs.UninstallMultipleProtocolInterfaces = SvcUninstallMultipleProtocolInterfaces;
  bs.CalculateCrc32 = SvcCalculateCrc32;
  bs.CopyMem = SvcCopyMem;
  bs.SetMem = SvcSetMem;
  bs.CreateEventEx = SvcCreateEventEx;
  SealTable(&bs);

  EFI_RUNTIME_SERVICES& rt = runtime_services_;
  OpenTable(&rt, EFI_RUNTIME_SERVICES_SIGNATURE);
  rt.GetTime = SvcGetTime;
  rt.SetTime = SvcSetTime;
  rt.GetWakeupTime = SvcGetWakeupTime;
  rt.SetWakeupTime = SvcSetWakeupTime;
  rt.SetVirtualAddressMap = SvcSetVirtualAddressMap;
  rt.ConvertPointer = SvcConvertPointer;
  rt.GetVariable = SvcGetVariable;
  rt.GetNextVariableName = SvcGetNextVariableName;
  rt.SetVariable = SvcSetVariable;
  rt.GetNextHighMonotonicCount = SvcGetNextHighMonotonicCount;
  rt.ResetSystem = SvcResetSystem;
  rt.UpdateCapsule = SvcUpdateCapsule;
  rt.QueryCapsuleCapabilities = SvcQueryCapsuleCapabilities;
  rt.QueryVariableInfo = SvcQueryVariableInfo;
  SealTable(&rt);

  ConsoleAccess::Name(con_out_, "ConOut");
  ConsoleAccess::Name(std_err_, "StdErr");
  std::memset(&con_in_, 0, sizeof con_in_);
  con_in_.Reset = ConInReset;
  con_in_.ReadKeyStroke = ConInReadKeyStroke;
  CreateEvent(EVT_NOTIFY_WAIT, TPL_NOTIFY, ConInWaitNotify, nullptr, &con_in_.WaitForKey, Site::kTest);

  vendor_ = u"Quovan host firmware";
  EFI_SYSTEM_TABLE& st = system_table_;
  OpenTable(&st, EFI_SYSTEM_TABLE_SIGNATURE);
  st.FirmwareVendor = vendor_.data();
  st.FirmwareRevision = 0x00010000;
  EFI_HANDLE console = nullptr;
  InstallOne(&console, &kEfiSimpleTextOutProtocolGuid, con_out_.protocol(), Site::kTest);
  EFI_HANDLE error = nullptr;
  InstallOne(&error, &kEfiSimpleTextOutProtocolGuid, std_err_.protocol(), Site::kTest);
  console_handle_ = console;
  st.ConsoleInHandle = console;
  st.ConIn = &con_in_;
  st.ConsoleOutHandle = console;
  st.ConOut = con_out_.protocol();
  st.StandardErrorHandle = error;
  st.StdErr = std_err_.protocol();
  st.RuntimeServices = &runtime_services_;
  st.BootServices = &boot_services_;
  st.NumberOfTableEntries = 0;
  st.ConfigurationTable = nullptr;
  SealTable(&st);
}

}  // namespace sim
