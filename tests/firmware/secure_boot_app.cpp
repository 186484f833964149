// KtSecureBoot.efi: the boot application of the Secure Boot runs. Secure
// Boot firmware refuses the Shell, so the firmware starts this, signed, as
// \EFI\BOOT\BOOTX64.EFI, and it does what the Shell's `load` and the
// check application would, one step per line of secureboot.txt on its own
// volume. Each step is reported as JSON lines on the debug console and as
// one "KT-SB ..." line on the console:
//
//   state            SecureBoot and SetupMode as the firmware has them
//   refusals         the firmware's Image Execution Information Table: every
//                    image its verification refused this boot, and why
//   drivers          the Driver Bindings of our driver, with the device and
//                    file path of the image each came from
//   load FILE        LoadImage of FILE on this volume; StartImage of the
//                    handle it returns (a refused image may still return one,
//                    which StartImage must refuse in turn), UnloadImage of a
//                    refused one; whether our driver is there afterwards
//   connect          ConnectController on the virtual KT270, what got onto
//                    it and what it saw of the PCI I/O; then disconnected
//   disconnect       DisconnectController on the virtual KT270: this
//                    firmware connects a new controller when it appears, so
//                    a driver already there (from a ROM) has started on it
//   enrol FILE       SetVariable "db" with the authenticated append in FILE
//   rom FILE         the EFI image of the option ROM in FILE as a PCI bus
//                    driver takes it (decompressed by the firmware's
//                    EFI_DECOMPRESS_PROTOCOL), through LoadImage from that
//                    buffer under FILE's path, so the firmware verifies it
//                    as it does files on this disk; unloaded, never started
//   run FILE [ARGS]  LoadImage and StartImage of an application, ARGS its
//                    command line
//   shutdown         ResetSystem(EfiResetShutdown); also after the last step
#include "efi/efi.h"
#include "tests/firmware/app_support.h"
#include "tests/firmware/debugcon.h"
#include "tests/firmware/efi_extra.h"
#include "tests/firmware/kt_virt.h"

using app::LOADED_IMAGE;
using debugcon::JsonLine;

namespace {

constexpr EFI_GUID kImageSecurityDatabaseGuid = {
    0xD719B2CB, 0x3D3A, 0x4596, {0xA3, 0xBC, 0xDA, 0xD0, 0x0E, 0x67, 0x65, 0x6F}};
constexpr EFI_GUID kDevicePathToTextGuid = {
    0x8B843E20, 0x8132, 0x4852, {0x90, 0xCC, 0x55, 0x1A, 0x4E, 0x4A, 0x7F, 0x1C}};
constexpr EFI_GUID kDecompressGuid = {
    0xD8117CFE, 0x94A6, 0x11D4, {0x9A, 0x3A, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};
constexpr UINT32 kTimeBasedAuthenticatedWrite = 0x20;
constexpr UINT32 kAppendWrite = 0x40;

typedef CHAR16*(EFIAPI* DEVICE_PATH_TO_TEXT)(const EFI_DEVICE_PATH_PROTOCOL* Path, BOOLEAN DisplayOnly,
                                              BOOLEAN AllowShortcuts);
struct EFI_DEVICE_PATH_TO_TEXT_PROTOCOL {
  VOID* ConvertDeviceNodeToText;
  DEVICE_PATH_TO_TEXT ConvertDevicePathToText;
};

struct EFI_DECOMPRESS_PROTOCOL;
typedef EFI_STATUS(EFIAPI* DECOMPRESS_GET_INFO)(EFI_DECOMPRESS_PROTOCOL* This, VOID* Source, UINT32 SourceSize,
                                                UINT32* DestinationSize, UINT32* ScratchSize);
typedef EFI_STATUS(EFIAPI* DECOMPRESS_DECOMPRESS)(EFI_DECOMPRESS_PROTOCOL* This, VOID* Source, UINT32 SourceSize,
                                                  VOID* Destination, UINT32 DestinationSize, VOID* Scratch,
                                                  UINT32 ScratchSize);
struct EFI_DECOMPRESS_PROTOCOL {
  DECOMPRESS_GET_INFO GetInfo;
  DECOMPRESS_DECOMPRESS Decompress;
};

// The EFI PCI expansion ROM header fields a PCI bus driver reads.
constexpr UINTN kRomInitSize = 0x02, kRomEfiSignature = 0x04, kRomCompression = 0x0C, kRomImageOffset = 0x16;
constexpr UINTN kRomUnit = 512;

// The verdicts of the Image Execution Information Table (UEFI 32.4.2).
const char* const kActions[] = {"untested", "signature failed", "signature passed", "signature not found",
                                "signature found", "policy failed"};
constexpr UINT32 kActionMask = 7;

struct StatusName {
  EFI_STATUS status;
  const char* name;
};
const StatusName kStatusNames[] = {
    {EFI_SUCCESS, "Success"},
    {EFI_LOAD_ERROR, "Load Error"},
    {EFI_INVALID_PARAMETER, "Invalid Parameter"},
    {EFI_UNSUPPORTED, "Unsupported"},
    {EFI_NOT_FOUND, "Not Found"},
    {EFI_ACCESS_DENIED, "Access Denied"},
    {EFI_SECURITY_VIOLATION, "Security Violation"},
    {EFI_WRITE_PROTECTED, "Write Protected"},
    {EFI_OUT_OF_RESOURCES, "Out of Resources"},
};

EFI_SYSTEM_TABLE* gST;
EFI_BOOT_SERVICES* gBS;
EFI_RUNTIME_SERVICES* gRT;
EFI_HANDLE gImage;
LOADED_IMAGE* gSelf;

const char* StatusText(EFI_STATUS s) {
  for (const StatusName& n : kStatusNames)
    if (n.status == s) return n.name;
  return "other";
}

template <typename T>
T* ProtocolOn(EFI_HANDLE handle, const EFI_GUID* guid) {
  return app::ProtocolOn<T>(gBS, gImage, handle, guid);
}

bool SameGuid(const EFI_GUID* a, const EFI_GUID* b) {
  const UINT8* x = reinterpret_cast<const UINT8*>(a);
  const UINT8* y = reinterpret_cast<const UINT8*>(b);
  for (UINTN i = 0; i < sizeof(EFI_GUID); ++i)
    if (x[i] != y[i]) return false;
  return true;
}

// ---- the console line beside each JSON report --------------------------------------
// "KT-SB " and the parts added, written to the console as one line.
class Say {
 public:
  Say() { Add("KT-SB "); }
  Say& Add(const char* text) {
    while (text && *text) Put((CHAR16)(UINT8)*text++);
    return *this;
  }
  Say& Add(const CHAR16* text) {
    while (text && *text) Put(*text++);
    return *this;
  }
  // ": Status Name (0x...)"
  Say& Status(EFI_STATUS s) {
    Add(": ").Add(StatusText(s)).Add(" (0x");
    char digits[17];
    int d = 0;
    do {
      digits[d++] = "0123456789ABCDEF"[s & 0xF];
      s >>= 4;
    } while (s);
    while (d) Put((CHAR16)digits[--d]);
    return Add(")");
  }
  ~Say() {
    line_[n_++] = u'\r';
    line_[n_++] = u'\n';
    line_[n_] = 0;
    gST->ConOut->OutputString(gST->ConOut, line_);
  }

 private:
  void Put(CHAR16 c) {
    if (n_ + 3 < kCapacity) line_[n_++] = c;
  }
  static constexpr UINTN kCapacity = 200;
  CHAR16 line_[kCapacity];
  UINTN n_ = 0;
};

// ---- paths and files on this volume ----------------------------------------------------
CHAR16* PathText(const EFI_DEVICE_PATH_PROTOCOL* path) {
  EFI_DEVICE_PATH_TO_TEXT_PROTOCOL* text = nullptr;
  if (!path || EFI_ERROR(gBS->LocateProtocol(&kDevicePathToTextGuid, nullptr, reinterpret_cast<VOID**>(&text))))
    return nullptr;
  return text->ConvertDevicePathToText(path, EFI_FALSE, EFI_FALSE);
}

UINTN PathSize(const EFI_DEVICE_PATH_PROTOCOL* p) {
  UINTN size = 0;
  for (;;) {
    UINTN len = p->Length[0] | p->Length[1] << 8;
    size += len;
    if (p->Type == END_DEVICE_PATH_TYPE && p->SubType == END_ENTIRE_DEVICE_PATH_SUBTYPE) return size;
    p = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL*>(reinterpret_cast<const UINT8*>(p) + len);
  }
}

// This volume's device path with a file-path node "\NAME" on it, as the
// Shell's load hands LoadImage (so the firmware reads and verifies the
// file itself). Pool; null when the volume has no path.
EFI_DEVICE_PATH_PROTOCOL* FilePath(const CHAR16* name) {
  auto* volume = ProtocolOn<EFI_DEVICE_PATH_PROTOCOL>(gSelf->DeviceHandle, &kEfiDevicePathProtocolGuid);
  if (!volume) return nullptr;
  UINTN chars = 0;
  while (name[chars]) ++chars;
  UINTN head = PathSize(volume) - 4, node = 4 + 2 * (chars + 2);
  UINT8* p = nullptr;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, head + node + 4, reinterpret_cast<VOID**>(&p)))) return nullptr;
  for (UINTN i = 0; i < head; ++i) p[i] = reinterpret_cast<const UINT8*>(volume)[i];
  UINT8* n = p + head;
  n[0] = MEDIA_DEVICE_PATH, n[1] = 4 /* file path */, n[2] = (UINT8)node, n[3] = (UINT8)(node >> 8);
  auto* text = reinterpret_cast<CHAR16*>(n + 4);
  text[0] = u'\\';
  for (UINTN i = 0; i <= chars; ++i) text[1 + i] = name[i];
  UINT8* end = n + node;
  end[0] = END_DEVICE_PATH_TYPE, end[1] = END_ENTIRE_DEVICE_PATH_SUBTYPE, end[2] = 4, end[3] = 0;
  return reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL*>(p);
}

// The whole of a file on this volume, in pool (*size bytes), or null.
UINT8* ReadFile(const CHAR16* name, UINTN* size) {
  auto* fs = ProtocolOn<EFI_SIMPLE_FILE_SYSTEM_PROTOCOL>(gSelf->DeviceHandle, &kSimpleFileSystemGuid);
  EFI_FILE_PROTOCOL* root = nullptr;
  EFI_FILE_PROTOCOL* file = nullptr;
  if (!fs || EFI_ERROR(fs->OpenVolume(fs, &root))) return nullptr;
  EFI_STATUS s = root->Open(root, &file, name, kFileModeRead, 0);
  root->Close(root);
  if (EFI_ERROR(s)) return nullptr;
  constexpr UINTN kMax = 128 * 1024;
  UINT8* data = nullptr;
  *size = kMax;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, kMax, reinterpret_cast<VOID**>(&data))) ||
      EFI_ERROR(file->Read(file, size, data))) {
    if (data) gBS->FreePool(data);
    data = nullptr;
  }
  file->Close(file);
  return data;
}

// ---- what is there ------------------------------------------------------------------------
// Our driver's Driver Bindings; with report, a line for each.
UINTN OurDrivers(bool report) {
  EFI_HANDLE* handles = nullptr;
  UINTN count = 0, ours = 0;
  if (EFI_ERROR(gBS->LocateHandleBuffer(ByProtocol, &kEfiDriverBindingProtocolGuid, nullptr, &count, &handles)))
    return 0;
  for (UINTN i = 0; i < count; ++i) {
    auto* b = ProtocolOn<EFI_DRIVER_BINDING_PROTOCOL>(handles[i], &kEfiDriverBindingProtocolGuid);
    if (!b || !app::SameString16(app::DriverNameOf(gBS, gImage, b->ImageHandle), app::kDriverName)) continue;
    ++ours;
    if (!report) continue;
    auto* image = ProtocolOn<LOADED_IMAGE>(b->ImageHandle, &kEfiLoadedImageProtocolGuid);
    CHAR16* device = image ? PathText(ProtocolOn<EFI_DEVICE_PATH_PROTOCOL>(image->DeviceHandle,
                                                                           &kEfiDevicePathProtocolGuid))
                           : nullptr;
    CHAR16* file = image ? PathText(image->FilePath) : nullptr;
    JsonLine line("our_driver");
    line.Num("index", ours - 1).Hex("version", b->Version).Str16("device", device).Str16("file", file).Emit();
    if (device) gBS->FreePool(device);
    if (file) gBS->FreePool(file);
  }
  gBS->FreePool(handles);
  return ours;
}

KT_VIRT_PROTOCOL* Virt() {
  EFI_HANDLE* handles = nullptr;
  UINTN count = 0;
  if (EFI_ERROR(gBS->LocateHandleBuffer(ByProtocol, &kKtVirtProtocolGuid, nullptr, &count, &handles))) return nullptr;
  auto* v = ProtocolOn<KT_VIRT_PROTOCOL>(handles[0], &kKtVirtProtocolGuid);
  gBS->FreePool(handles);
  return v && v->Revision == kKtVirtRevision ? v : nullptr;
}

UINT64 BarAccesses(const KT_VIRT_PROTOCOL* v) {
  UINT64 n = 0;
  for (unsigned b = 0; b < 6; ++b) n += v->MemReads[b] + v->MemWrites[b];
  return n;
}

UINT64 Variable(const CHAR16* name, const EFI_GUID* guid, UINTN* size) {
  UINT8 data[8] = {0};
  UINTN n = sizeof data;
  EFI_STATUS s = gRT->GetVariable(name, guid, nullptr, &n, data);
  if (size) *size = s == EFI_BUFFER_TOO_SMALL || !EFI_ERROR(s) ? n : 0;
  return EFI_ERROR(s) ? 0xFF : data[0];
}

// ---- the steps ----------------------------------------------------------------------------
void State() {
  UINTN dbSize = 0;
  UINT64 secure = Variable(u"SecureBoot", &kEfiGlobalVariableGuid, nullptr);
  UINT64 setup = Variable(u"SetupMode", &kEfiGlobalVariableGuid, nullptr);
  Variable(u"db", &kImageSecurityDatabaseGuid, &dbSize);
  JsonLine("state").Num("secure_boot", secure).Num("setup_mode", setup).Num("db_bytes", dbSize).Emit();
  Say().Add(secure == 1 && setup == 0 ? "state: Secure Boot on, user mode" : "state: Secure Boot NOT enforced");
}

void Refusals() {
  const UINT8* table = nullptr;
  for (UINTN i = 0; i < gST->NumberOfTableEntries; ++i)
    if (SameGuid(&gST->ConfigurationTable[i].VendorGuid, &kImageSecurityDatabaseGuid))
      table = static_cast<const UINT8*>(gST->ConfigurationTable[i].VendorTable);
  UINTN count = table ? *reinterpret_cast<const UINTN*>(table) : 0;
  const UINT8* entry = table ? table + sizeof(UINTN) : nullptr;
  for (UINTN i = 0; i < count; ++i) {
    UINT32 action = entry[0] | entry[1] << 8 | entry[2] << 16 | (UINT32)entry[3] << 24;
    UINT32 size = entry[4] | entry[5] << 8 | entry[6] << 16 | (UINT32)entry[7] << 24;
    if (size < 8) break;
    // The name is the firmware's text of the image's device path; entries
    // are packed, so it is read a byte pair at a time.
    CHAR16 name[200];
    UINTN n = 0;
    for (const UINT8* c = entry + 8; c + 1 < entry + size && (c[0] | c[1]) && n + 1 < 200; c += 2)
      name[n++] = (CHAR16)(c[0] | c[1] << 8);
    name[n] = 0;
    const char* verdict = (action & kActionMask) < 6 ? kActions[action & kActionMask] : "unknown";
    JsonLine("refused").Num("index", i).Hex("action", action).Str("verdict", verdict).Str16("name", name).Emit();
    Say().Add("refused by the firmware (").Add(verdict).Add("): ").Add(name);
    entry += size;
  }
  JsonLine("refusals").Bool("table", table != nullptr).Num("count", count).Emit();
}

void Drivers() {
  UINTN n = OurDrivers(true);
  JsonLine("drivers").Num("count", n).Emit();
  Say().Add(n ? "our driver is loaded" : "our driver is not loaded");
}

void Load(const CHAR16* file) {
  UINTN before = OurDrivers(false);
  EFI_DEVICE_PATH_PROTOCOL* path = FilePath(file);
  EFI_HANDLE image = nullptr;
  EFI_STATUS ls = path ? gBS->LoadImage(EFI_FALSE, gImage, path, nullptr, 0, &image) : EFI_NOT_FOUND;
  EFI_STATUS ss = EFI_NOT_STARTED, us = EFI_NOT_STARTED;
  if (image) ss = gBS->StartImage(image, nullptr, nullptr);
  if (image && EFI_ERROR(ls)) us = gBS->UnloadImage(image);
  UINTN after = OurDrivers(false);
  KT_VIRT_PROTOCOL* v = Virt();
  JsonLine line("load");
  line.Str16("file", file).Hex("load_status", ls).Str("load_text", StatusText(ls)).Bool("handle", image != nullptr);
  if (image) line.Hex("start_status", ss).Str("start_text", StatusText(ss));
  if (image && EFI_ERROR(ls)) line.Hex("unload_status", us);
  line.Num("our_drivers_before", before).Num("our_drivers_after", after);
  if (v) line.Bool("virt_has_uga", ProtocolOn<VOID>(v->Controller, &kEfiUgaDrawProtocolGuid) != nullptr);
  line.Emit();
  Say().Add("LoadImage ").Add(file).Status(ls);
  if (image) Say().Add("StartImage ").Add(file).Status(ss);
  if (path) gBS->FreePool(path);
}

void Connect() {
  KT_VIRT_PROTOCOL* v = Virt();
  JsonLine line("connect_virt");
  line.Bool("virt", v != nullptr);
  if (!v) {
    line.Emit();
    return;
  }
  UINT64 bars = BarAccesses(v), configWrites = v->ConfigWrites, attributes = v->AttributeCalls;
  EFI_STATUS s = gBS->ConnectController(v->Controller, nullptr, nullptr, EFI_FALSE);
  line.Hex("status", s)
      .Bool("uga", ProtocolOn<VOID>(v->Controller, &kEfiUgaDrawProtocolGuid) != nullptr)
      .Bool("gop", ProtocolOn<VOID>(v->Controller, &kEfiGraphicsOutputProtocolGuid) != nullptr)
      .Num("bar_accesses", BarAccesses(v) - bars)
      .Num("config_writes", v->ConfigWrites - configWrites)
      .Num("attribute_calls", v->AttributeCalls - attributes)
      .Hex("enabled_attributes", v->EnabledAttributes);
  line.Hex("disconnect_status", gBS->DisconnectController(v->Controller, nullptr, nullptr)).Emit();
  Say().Add("ConnectController on the virtual KT270").Status(s);
}

void Disconnect() {
  KT_VIRT_PROTOCOL* v = Virt();
  EFI_STATUS s = v ? gBS->DisconnectController(v->Controller, nullptr, nullptr) : EFI_NOT_FOUND;
  JsonLine("disconnect_virt").Hex("status", s)
      .Bool("uga_left", v && ProtocolOn<VOID>(v->Controller, &kEfiUgaDrawProtocolGuid) != nullptr).Emit();
  Say().Add("DisconnectController on the virtual KT270").Status(s);
}

void Enrol(const CHAR16* file) {
  UINTN size = 0, before = 0, after = 0;
  UINT8* update = ReadFile(file, &size);
  Variable(u"db", &kImageSecurityDatabaseGuid, &before);
  UINT32 attributes = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS |
                      kTimeBasedAuthenticatedWrite | kAppendWrite;
  EFI_STATUS s = update ? gRT->SetVariable(u"db", &kImageSecurityDatabaseGuid, attributes, size, update)
                        : EFI_NOT_FOUND;
  Variable(u"db", &kImageSecurityDatabaseGuid, &after);
  JsonLine("enrol").Str16("file", file).Num("bytes", update ? size : 0).Hex("status", s).Str("text", StatusText(s))
      .Num("db_bytes_before", before).Num("db_bytes_after", after).Emit();
  Say().Add("SetVariable db, appending ").Add(file).Status(s);
  if (update) gBS->FreePool(update);
}

VOID* Pool(UINTN size) {
  VOID* p = nullptr;
  return EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, size, &p)) ? nullptr : p;
}

void Rom(const CHAR16* file) {
  UINTN size = 0;
  UINT8* rom = ReadFile(file, &size);
  auto u16 = [&](UINTN at) -> UINT32 { return at + 2 <= size ? (UINT32)(rom[at] | rom[at + 1] << 8) : 0; };
  JsonLine line("rom");
  line.Str16("file", file).Num("bytes", rom ? size : 0);
  // As the PCI bus driver does: everything from the image offset to the
  // end of the initialisation size is the image, or its compressed form.
  UINTN imageAt = rom ? u16(kRomImageOffset) : 0, end = rom ? u16(kRomInitSize) * kRomUnit : 0;
  bool ok = rom && u16(0) == 0xAA55 && (u16(kRomEfiSignature) | u16(kRomEfiSignature + 2) << 16) == 0x0EF1 &&
            imageAt < end && end <= size;
  UINT32 compression = ok ? u16(kRomCompression) : 0;
  line.Bool("header", ok).Num("compression", compression);
  UINT8* image = ok ? rom + imageAt : nullptr;
  UINT32 imageSize = (UINT32)(end - imageAt);
  VOID* unpacked = nullptr;
  EFI_STATUS ds = EFI_SUCCESS;
  if (ok && compression == 1) {
    EFI_DECOMPRESS_PROTOCOL* d = nullptr;
    UINT32 out = 0, scratchSize = 0;
    ds = gBS->LocateProtocol(&kDecompressGuid, nullptr, reinterpret_cast<VOID**>(&d));
    if (!EFI_ERROR(ds)) ds = d->GetInfo(d, image, imageSize, &out, &scratchSize);
    VOID* scratch = EFI_ERROR(ds) ? nullptr : Pool(scratchSize);
    unpacked = scratch ? Pool(out) : nullptr;
    ds = unpacked ? d->Decompress(d, image, imageSize, unpacked, out, scratch, scratchSize)
                  : EFI_ERROR(ds) ? ds : EFI_OUT_OF_RESOURCES;
    if (scratch) gBS->FreePool(scratch);
    image = EFI_ERROR(ds) ? nullptr : static_cast<UINT8*>(unpacked);
    imageSize = out;
    line.Hex("decompress_status", ds);
  }
  EFI_STATUS ls = EFI_NOT_STARTED, us = EFI_NOT_STARTED;
  EFI_HANDLE handle = nullptr;
  EFI_DEVICE_PATH_PROTOCOL* path = image ? FilePath(file) : nullptr;
  if (path) ls = gBS->LoadImage(EFI_FALSE, gImage, path, image, imageSize, &handle);
  if (handle) us = gBS->UnloadImage(handle);
  line.Num("image_bytes", image ? imageSize : 0).Hex("load_status", ls).Str("load_text", StatusText(ls))
      .Bool("handle", handle != nullptr).Hex("unload_status", us).Emit();
  Say().Add("LoadImage of the image in ").Add(file).Status(ls);
  if (path) gBS->FreePool(path);
  if (unpacked) gBS->FreePool(unpacked);
  if (rom) gBS->FreePool(rom);
}

void Run(const CHAR16* file, const CHAR16* commandLine, UINTN length) {
  EFI_DEVICE_PATH_PROTOCOL* path = FilePath(file);
  EFI_HANDLE image = nullptr;
  EFI_STATUS ls = path ? gBS->LoadImage(EFI_FALSE, gImage, path, nullptr, 0, &image) : EFI_NOT_FOUND;
  EFI_STATUS ss = EFI_NOT_STARTED;
  if (!EFI_ERROR(ls)) {
    auto* loaded = ProtocolOn<LOADED_IMAGE>(image, &kEfiLoadedImageProtocolGuid);
    if (loaded) {
      loaded->LoadOptions = const_cast<CHAR16*>(commandLine);
      loaded->LoadOptionsSize = (UINT32)(length * sizeof(CHAR16));
    }
    ss = gBS->StartImage(image, nullptr, nullptr);
  } else if (image) {
    gBS->UnloadImage(image);
  }
  JsonLine("run").Str16("file", file).Hex("load_status", ls).Hex("status", ss).Emit();
  Say().Add("ran ").Add(file).Status(EFI_ERROR(ls) ? ls : ss);
  if (path) gBS->FreePool(path);
}

// One line of the step list: the step's word, its first argument (in
// *arg, NUL-ended in place) and the whole line as a command line.
bool Step(CHAR16* line, UINTN length) {
  UINTN word = 0;
  while (word < length && line[word] != u' ') ++word;
  CHAR16* arg = word < length ? line + word + 1 : line + length;
  UINTN argLength = length > word ? length - word - 1 : 0;
  auto is = [&](const char* name) { return app::SameAscii(name, line, length); };
  if (is("state")) {
    State();
  } else if (is("refusals")) {
    Refusals();
  } else if (is("drivers")) {
    Drivers();
  } else if (is("connect")) {
    Connect();
  } else if (is("disconnect")) {
    Disconnect();
  } else if (is("shutdown")) {
    return false;
  } else if (is("run")) {
    // The command line is "FILE ARGS", as the Shell hands it.
    CHAR16 file[64];
    UINTN n = 0;
    while (n < argLength && arg[n] != u' ' && n + 1 < 64) file[n] = arg[n], ++n;
    file[n] = 0;
    Run(file, arg, argLength);
  } else if (is("load") || is("enrol") || is("rom")) {
    arg[argLength] = 0;
    if (is("load")) Load(arg); else if (is("rom")) Rom(arg); else Enrol(arg);
  } else {
    JsonLine("unknown_step").Str16("line", line).Emit();
  }
  return true;
}

}  // namespace

extern "C" EFI_STATUS EFIAPI SecureBootEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable) {
  gImage = ImageHandle;
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  gRT = SystemTable->RuntimeServices;
  gSelf = ProtocolOn<LOADED_IMAGE>(ImageHandle, &kEfiLoadedImageProtocolGuid);
  JsonLine("begin").Str("app", "KtSecureBoot").Emit();
  Say().Add("begin");
  UINTN size = 0;
  UINT8* text = gSelf ? ReadFile(u"secureboot.txt", &size) : nullptr;
  JsonLine("steps").Bool("read", text != nullptr).Num("bytes", text ? size : 0).Emit();
  // Lines of ASCII, widened one by one; '#' starts a comment line.
  CHAR16 line[128];
  UINTN n = 0;
  bool going = true;
  for (UINTN i = 0; text && going && i <= size; ++i) {
    char c = i < size ? (char)text[i] : '\n';
    if (c == '\r') continue;
    if (c != '\n') {
      if (n + 1 < 128) line[n++] = (CHAR16)(UINT8)c;
      continue;
    }
    line[n] = 0;
    if (n && line[0] != u'#') {
      JsonLine("step").Str16("line", line).Emit();
      going = Step(line, n);
    }
    n = 0;
  }
  if (text) gBS->FreePool(text);
  JsonLine("done").Str("app", "KtSecureBoot").Emit();
  Say().Add("shutdown");
  gRT->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
  return EFI_DEVICE_ERROR;
}
