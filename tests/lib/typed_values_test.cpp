// The protocol and variable GUIDs and the status texts, against values
// typed here from the UEFI / EFI 1.10 standards and the platform's protocol
// definitions. The GUID constants are shared by the driver, the firmware
// stand-in and every other test, so only an independent copy catches a
// wrong byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "driver/lib/print.h"
#include "efi/efi.h"

namespace {

std::string Narrow(const CHAR16* text) {
  std::string out;
  for (; *text != 0; ++text) out += static_cast<char>(*text);
  return out;
}

TEST(TypedValues, ProtocolAndVariableGuids) {
  const struct {
    const EFI_GUID& guid;
    const char* text;
  } cases[] = {
      {kEfiPciIoProtocolGuid, "4CF5B200-68B8-4CA5-9EEC-B23E3F50029A"},
      {kEfiDevicePathProtocolGuid, "09576E91-6D3F-11D2-8E39-00A0C969723B"},
      {kEfiUgaDrawProtocolGuid, "982C298B-F4FA-41CB-B838-77AA688FB839"},
      {kEfiDriverBindingProtocolGuid, "18A031AB-B443-4D1A-A5C0-0C09261E9F71"},
      {kEfiComponentNameProtocolGuid, "107A772C-D5E1-11D4-9A46-0090273FC14D"},
      {kEfiDriverConfigurationProtocolGuid, "107A772B-D5E1-11D4-9A46-0090273FC14D"},
      {kEfiDriverDiagnosticsProtocolGuid, "0784924F-E296-11D4-9A49-0090273FC14D"},
      {kEfiGlobalVariableGuid, "8BE4DF61-93CA-11D2-AA0D-00E098032B8C"},
      {kEfiLoadedImageProtocolGuid, "5B1B31A1-9562-11D2-8E3F-00A0C969723B"},
      {kEfiSimpleTextOutProtocolGuid, "387477C2-69C7-11D2-8E39-00A0C969723B"},
      {kEfiGraphicsOutputProtocolGuid, "9042A9DE-23DC-4A38-96FB-7ADED080516A"},
      {kDevicePropertyDatabaseProtocolGuid, "91BD12FE-F6C3-44FB-A5B7-5122AB303AE0"},
      {kPlatformServicesProtocolGuid, "A4BB4654-9F72-4BC8-93EB-659FD8708B10"},
      {kConfigInterfaceGuid, "E316E100-0751-4C49-9056-486C7E472903"},
      {kDisplayInterfaceGuid, "DD8E06AC-00E2-49A9-888F-FA46DED40A52"},
  };
  for (const auto& c : cases) {
    const EFI_GUID& g = c.guid;
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    EXPECT_EQ(std::string(c.text), text);
    // The print engine's %g spells the same bytes the same way.
    CHAR16 printed[40];
    EXPECT_EQ(36u, FormatGuid(&g, printed, 40));
    EXPECT_EQ(std::string(c.text), Narrow(printed));
  }
}

TEST(TypedValues, AllStatusTexts) {
  const char* const warnings[] = {"Success", "Warning Unknown Glyph", "Warning Delete Failure",
                                  "Warning Write Failure", "Warning Buffer Too Small"};
  const char* const errors[] = {"Load Error",       "Invalid Parameter", "Unsupported",     "Bad Buffer Size",
                                "Buffer Too Small", "Not Ready",         "Device Error",    "Write Protected",
                                "Out of Resources", "Volume Corrupt",    "Volume Full",     "No Media",
                                "Media changed",    "Not Found",         "Access Denied",   "No Response",
                                "No mapping",       "Time out",          "Not started",     "Already started",
                                "Aborted",          "ICMP Error",        "TFTP Error",      "Protocol Error"};
  static_assert(sizeof warnings / sizeof *warnings + sizeof errors / sizeof *errors == 29, "29 texts");
  auto text_of = [](uint64_t status) {
    CHAR16 buffer[64];
    UINTN stored = FormatStatus(status, buffer, 64);
    std::string text = Narrow(buffer);
    EXPECT_EQ(text.size(), stored);
    return text;
  };
  for (uint64_t i = 0; i < 5; i++) EXPECT_EQ(warnings[i], text_of(i)) << i;
  for (uint64_t i = 0; i < 24; i++) {
    EXPECT_EQ(errors[i], text_of(0x8000000000000001ull + i)) << std::hex << 0x8000000000000001ull + i;
  }
  // Past either end of the table: the number itself.
  EXPECT_EQ("0000000000000005", text_of(5));
  EXPECT_EQ("8000000000000019", text_of(0x8000000000000019ull));
}

}  // namespace
