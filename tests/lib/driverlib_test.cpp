// The support library against small recording fakes of the firmware's
// tables: StdErr, GetVariable and InstallProtocolInterface.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/lib/driverlib.h"
#include "efi/efi.h"

namespace {

std::string Narrow(const CHAR16* Text) {
  std::string Out;
  for (; *Text != 0; ++Text) Out += *Text < 0x80 ? static_cast<char>(*Text) : '?';
  return Out;
}

struct Install {
  EFI_HANDLE Handle;
  const EFI_GUID* Guid;
  VOID* Interface;
};

class FakeFirmware;
FakeFirmware* gFake = nullptr;

class FakeFirmware {
 public:
  FakeFirmware() {
    StdErr.OutputString = &OutputString;
    StdErr.SetAttribute = &SetAttribute;
    Boot.InstallProtocolInterface = &InstallProtocolInterface;
    Runtime.GetVariable = &GetVariable;
    System.StdErr = &StdErr;
    System.BootServices = &Boot;
    System.RuntimeServices = &Runtime;
  }

  EFI_SYSTEM_TABLE System{};
  EFI_BOOT_SERVICES Boot{};
  EFI_RUNTIME_SERVICES Runtime{};
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL StdErr{};

  // StdErr calls in order: "attr:N" or the text as written.
  std::vector<std::string> Console;
  // "EFIDebug" contents; no value means the variable does not exist.
  std::optional<std::vector<UINT8>> DebugVariable;
  int GetVariableCalls = 0;
  UINTN DataSizeOffered = 0;
  std::vector<Install> Installs;
  int FailInstallNumber = 0;  // 1-based; 0 never fails
  int InstallCalls = 0;
  UINTN NextHandle = 0x1000;

 private:
  static EFI_STATUS EFIAPI OutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* This, const CHAR16* String) {
    EXPECT_EQ(This, &gFake->StdErr);
    gFake->Console.push_back(Narrow(String));
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI SetAttribute(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* This, UINTN Attribute) {
    EXPECT_EQ(This, &gFake->StdErr);
    gFake->Console.push_back("attr:" + std::to_string(Attribute));
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI GetVariable(const CHAR16* Name, const EFI_GUID* Guid, UINT32* Attributes,
                                       UINTN* DataSize, VOID* Data) {
    ++gFake->GetVariableCalls;
    gFake->DataSizeOffered = *DataSize;
    if (Narrow(Name) != "EFIDebug" || !GuidsEqual(Guid, &kEfiGlobalVariableGuid) || !gFake->DebugVariable) {
      return EFI_NOT_FOUND;
    }
    const std::vector<UINT8>& Value = *gFake->DebugVariable;
    if (*DataSize < Value.size()) {
      *DataSize = Value.size();
      return EFI_BUFFER_TOO_SMALL;
    }
    memcpy(Data, Value.data(), Value.size());
    *DataSize = Value.size();
    if (Attributes != nullptr) *Attributes = EFI_VARIABLE_BOOTSERVICE_ACCESS;
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI InstallProtocolInterface(EFI_HANDLE* Handle, const EFI_GUID* Guid,
                                                    EFI_INTERFACE_TYPE Type, VOID* Interface) {
    EXPECT_EQ(Type, EFI_NATIVE_INTERFACE);
    if (++gFake->InstallCalls == gFake->FailInstallNumber) return EFI_OUT_OF_RESOURCES;
    if (*Handle == nullptr) *Handle = reinterpret_cast<EFI_HANDLE>(gFake->NextHandle++);
    gFake->Installs.push_back({*Handle, Guid, Interface});
    return EFI_SUCCESS;
  }
};

class DriverLib : public ::testing::Test {
 protected:
  void SetUp() override {
    DriverLibResetForHost();
    gFake = &Fake;
  }
  void TearDown() override {
    DriverLibResetForHost();
    gFake = nullptr;
  }
  static std::vector<std::string> Printed(const std::string& Text) { return {"attr:4", "", "attr:15", Text}; }

  FakeFirmware Fake;
  EFI_HANDLE Image = reinterpret_cast<EFI_HANDLE>(0x77);
};

TEST_F(DriverLib, WithoutDebugVariableAssertionsPrintAndStartupMessageDoesNot) {
  EXPECT_EQ(EfiInitializeDriverLib(Image, &Fake.System), EFI_SUCCESS);
  EXPECT_EQ(gST, &Fake.System);
  EXPECT_EQ(gBS, &Fake.Boot);
  EXPECT_EQ(gRT, &Fake.Runtime);
  EXPECT_TRUE(Fake.Console.empty());
  EXPECT_EQ(Fake.GetVariableCalls, 1);
  EXPECT_EQ(Fake.DataSizeOffered, 8u);
  EXPECT_EQ(DebugMask, DEBUG_DEFAULT_MASK);

  ReportAssertion("quovanuga", 78, "\"CR has Bad Signature\"");
  EXPECT_EQ(Fake.Console, Printed("EASSERT FAILED: quovanuga(78): \"CR has Bad Signature\"N\r\n"));
}

TEST_F(DriverLib, DebugMaskOf0x40PrintsStartupMessageAndSilencesAssertions) {
  Fake.DebugVariable = std::vector<UINT8>{0x40, 0, 0, 0, 0, 0, 0, 0};
  EfiInitializeDriverLib(Image, &Fake.System);
  EXPECT_EQ(DebugMask, 0x40u);
  EXPECT_TRUE(DebugMaskLoaded);
  EXPECT_EQ(Fake.Console, Printed("EfiInitializeDriverLib: Started\r\n"));

  Fake.Console.clear();
  ReportAssertion("quovanuga", 78, "\"CR has Bad Signature\"");
  EXPECT_TRUE(Fake.Console.empty());

  // Loaded once: later initialisations do not read the variable again.
  EfiInitializeDriverLib(Image, &Fake.System);
  EXPECT_EQ(Fake.GetVariableCalls, 1);
}

TEST_F(DriverLib, OversizedVariableIsIgnoredAndRetried) {
  Fake.DebugVariable = std::vector<UINT8>(9, 0xFF);
  EfiInitializeDriverLib(Image, &Fake.System);
  EXPECT_EQ(DebugMask, DEBUG_DEFAULT_MASK);
  EXPECT_FALSE(DebugMaskLoaded);
  EXPECT_TRUE(Fake.Console.empty());

  Fake.DebugVariable = std::vector<UINT8>{0x40, 0, 0, 0x80, 0, 0, 0, 0};
  ReadDebugMask();
  EXPECT_EQ(Fake.GetVariableCalls, 2);
  EXPECT_EQ(DebugMask, 0x80000040u);
  ReadDebugMask();
  EXPECT_EQ(Fake.GetVariableCalls, 2);
}

TEST_F(DriverLib, ShortVariableFillsOnlyItsOwnBytes) {
  Fake.DebugVariable = std::vector<UINT8>{0x40};
  EfiInitializeDriverLib(Image, &Fake.System);
  EXPECT_EQ(DebugMask, 0x40u);
}

TEST_F(DriverLib, MissingTablesAreReported) {
  Fake.System.BootServices = nullptr;
  Fake.System.RuntimeServices = nullptr;
  EXPECT_EQ(EfiInitializeDriverLib(Image, &Fake.System), EFI_SUCCESS);
  EXPECT_EQ(Fake.GetVariableCalls, 0);
  std::vector<std::string> Expected = Printed("EASSERT FAILED: efidriverlib(64): gBS != ((void *) 0)N\r\n");
  for (const std::string& Line : Printed("EASSERT FAILED: efidriverlib(65): gRT != ((void *) 0)N\r\n")) {
    Expected.push_back(Line);
  }
  EXPECT_EQ(Fake.Console, Expected);

  // A null system table has nowhere to print, and must not fault.
  DriverLibResetForHost();
  EXPECT_EQ(EfiInitializeDriverLib(Image, nullptr), EFI_SUCCESS);
  EXPECT_EQ(gST, nullptr);
  EXPECT_TRUE(LibraryInitialized);
}

TEST_F(DriverLib, FirstInitialisationKeepsItsTables) {
  EfiInitializeDriverLib(Image, &Fake.System);
  EFI_SYSTEM_TABLE Other{};
  EfiInitializeDriverLib(Image, &Other);
  EXPECT_EQ(gST, &Fake.System);
}

TEST_F(DriverLib, DebugOutFormatLimitAndFiltering) {
  EfiInitializeDriverLib(Image, &Fake.System);
  DebugOut(DEBUG_ASSERTION, std::string(321, 'a').c_str());
  EXPECT_TRUE(Fake.Console.empty());

  // 320 characters is accepted; the 320-cell buffer keeps 319 and the zero.
  DebugOut(DEBUG_ASSERTION, std::string(320, 'b').c_str());
  EXPECT_EQ(Fake.Console, Printed(std::string(319, 'b')));

  Fake.Console.clear();
  DebugOut(DEBUG_ASSERTION, "%s", std::u16string(1000, u'c').c_str());
  EXPECT_EQ(Fake.Console, Printed(std::string(319, 'c')));

  Fake.Console.clear();
  DebugOut(DEBUG_LIBRARY, "not enabled\n");
  EXPECT_TRUE(Fake.Console.empty());

  Fake.System.StdErr = nullptr;
  DebugOut(DEBUG_ASSERTION, "nowhere %d\n", UINT64{1});
  EXPECT_TRUE(Fake.Console.empty());
}

TEST_F(DriverLib, InstallWithOnlyComponentNameInstallsTwoProtocolsOnImage) {
  EFI_DRIVER_BINDING_PROTOCOL Binding{};
  EFI_COMPONENT_NAME_PROTOCOL ComponentName{};
  EXPECT_EQ(InstallDriverProtocols(Image, &Fake.System, &Binding, Image, &ComponentName, nullptr, nullptr),
            EFI_SUCCESS);
  ASSERT_EQ(Fake.Installs.size(), 2u);
  EXPECT_EQ(Fake.Installs[0].Handle, Image);
  EXPECT_TRUE(GuidsEqual(Fake.Installs[0].Guid, &kEfiDriverBindingProtocolGuid));
  EXPECT_EQ(Fake.Installs[0].Interface, &Binding);
  EXPECT_EQ(Fake.Installs[1].Handle, Image);
  EXPECT_TRUE(GuidsEqual(Fake.Installs[1].Guid, &kEfiComponentNameProtocolGuid));
  EXPECT_EQ(Fake.Installs[1].Interface, &ComponentName);
  EXPECT_EQ(Binding.ImageHandle, Image);
  EXPECT_EQ(Binding.DriverBindingHandle, Image);
  EXPECT_EQ(gST, &Fake.System);
}

TEST_F(DriverLib, InstallOrderNewHandleAndFailures) {
  EFI_DRIVER_BINDING_PROTOCOL Binding{};
  EFI_COMPONENT_NAME_PROTOCOL ComponentName{};
  // Opaque to the driver: only their addresses are passed on.
  UINT64 ConfigurationStorage = 0;
  UINT64 DiagnosticsStorage = 0;
  auto* Configuration = reinterpret_cast<EFI_DRIVER_CONFIGURATION_PROTOCOL*>(&ConfigurationStorage);
  auto* Diagnostics = reinterpret_cast<EFI_DRIVER_DIAGNOSTICS_PROTOCOL*>(&DiagnosticsStorage);
  EXPECT_EQ(InstallDriverProtocols(Image, &Fake.System, &Binding, nullptr, &ComponentName, Configuration,
                                   Diagnostics),
            EFI_SUCCESS);
  ASSERT_EQ(Fake.Installs.size(), 4u);
  EXPECT_NE(Binding.DriverBindingHandle, nullptr);
  const EFI_GUID* Order[] = {&kEfiDriverBindingProtocolGuid, &kEfiComponentNameProtocolGuid,
                             &kEfiDriverConfigurationProtocolGuid, &kEfiDriverDiagnosticsProtocolGuid};
  for (size_t Index = 0; Index < 4; ++Index) {
    EXPECT_EQ(Fake.Installs[Index].Handle, Binding.DriverBindingHandle);
    EXPECT_TRUE(GuidsEqual(Fake.Installs[Index].Guid, Order[Index])) << Index;
  }

  // The second install fails: its status comes back, the first stays.
  Fake.Installs.clear();
  Fake.InstallCalls = 0;
  Fake.FailInstallNumber = 2;
  EXPECT_EQ(InstallDriverProtocols(Image, &Fake.System, &Binding, Image, &ComponentName, Configuration, nullptr),
            EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Fake.Installs.size(), 1u);

  Fake.Installs.clear();
  Fake.InstallCalls = 0;
  Fake.FailInstallNumber = 1;
  EXPECT_EQ(InstallDriverProtocols(Image, &Fake.System, &Binding, Image, &ComponentName, nullptr, nullptr),
            EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Fake.InstallCalls, 1);
}

const EFI_UNICODE_STRING_TABLE kNames[] = {
    {"fra", u"Pilote"},
    {"eng", u"Driver"},
    {nullptr, nullptr},
};

TEST(FindUnicodeString, LanguageLookUp) {
  CHAR16* Name = nullptr;
  // "fra" is in the table but not supported: the table is not consulted.
  EXPECT_EQ(FindUnicodeString("fra", "eng", kNames, &Name), EFI_UNSUPPORTED);
  EXPECT_EQ(Name, nullptr);
  EXPECT_EQ(FindUnicodeString("eng", "eng", kNames, &Name), EFI_SUCCESS);
  EXPECT_EQ(Narrow(Name), "Driver");
  EXPECT_EQ(FindUnicodeString("fra", "engfra", kNames, &Name), EFI_SUCCESS);
  EXPECT_EQ(Narrow(Name), "Pilote");

  const EFI_UNICODE_STRING_TABLE OnlyFrench[] = {{"fra", u"Pilote"}, {nullptr, nullptr}};
  EXPECT_EQ(FindUnicodeString("eng", "eng", OnlyFrench, &Name), EFI_UNSUPPORTED);

  EXPECT_EQ(FindUnicodeString(nullptr, "eng", kNames, &Name), EFI_INVALID_PARAMETER);
  EXPECT_EQ(FindUnicodeString("eng", "eng", kNames, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(FindUnicodeString("eng", nullptr, kNames, &Name), EFI_UNSUPPORTED);
  EXPECT_EQ(FindUnicodeString("eng", "eng", nullptr, &Name), EFI_UNSUPPORTED);
}

TEST(FindUnicodeString, ShortCodesAreNotReadPast) {
  // Exact-size heap copies, so the sanitizer sees any read past the zero.
  auto Copy = [](const char* Text) {
    std::unique_ptr<char[]> Out(new char[strlen(Text) + 1]);
    memcpy(Out.get(), Text, strlen(Text) + 1);
    return Out;
  };
  auto Supported = Copy("engf");
  auto Language = Copy("f");
  CHAR16* Name = nullptr;
  EXPECT_EQ(FindUnicodeString(Language.get(), Supported.get(), kNames, &Name), EFI_UNSUPPORTED);
  auto English = Copy("eng");
  EXPECT_EQ(FindUnicodeString(English.get(), Supported.get(), kNames, &Name), EFI_SUCCESS);
}

TEST(CompareHelpers, BytesAndGuids) {
  const UINT8 A[] = {1, 2, 0xFF};
  const UINT8 B[] = {1, 2, 0x01};
  EXPECT_EQ(CompareBytes(A, B, 2), 0);
  EXPECT_EQ(CompareBytes(A, B, 3), 0xFE);  // bytes are unsigned
  EXPECT_EQ(CompareBytes(B, A, 3), -0xFE);
  EXPECT_EQ(CompareBytes(A, B, 0), 0);

  EFI_GUID Guid = kEfiComponentNameProtocolGuid;
  EXPECT_TRUE(GuidsEqual(&Guid, &kEfiComponentNameProtocolGuid));
  EXPECT_FALSE(GuidsEqual(&kEfiComponentNameProtocolGuid, &kEfiDriverConfigurationProtocolGuid));
  Guid.Data4[7] ^= 1;
  EXPECT_FALSE(GuidsEqual(&Guid, &kEfiComponentNameProtocolGuid));
  EXPECT_FALSE(GuidsEqual(&Guid, nullptr));
}

}  // namespace
