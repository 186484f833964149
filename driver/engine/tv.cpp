#include "driver/engine/tv.h"

#include "driver/engine/scaler.h"
#include "driver/hw/regmap/crtc.h"
#include "driver/hw/regmap/dac.h"
#include "driver/hw/regmap/scaler.h"
#include "driver/hw/regmap/tv.h"
#include "driver/hw/regs.h"

const TV_REGISTER_WRITE TvStandardSets[TV_STANDARD_WRITES] = {
    // Register          60 Hz set   50 Hz set      step
    {TV_STANDARD_SELECT,  0x00000001, 0x00000002},  //  1
    {TV_5F98,             0x02090000, 0x026B0000},  //  2
    {TV_ENCODER_RESET,    0x00000001, 0x00000001},  //  3
    {TV_H_TOTAL,          0x00000AA9, 0x00000D4C},  //  4
    {TV_5E08,             0x0003020C, 0x00070270},  //  5
    {TV_5E14,             0x00000000, 0x0000000A},  //  6
    {TV_5E18,             0x0003020B, 0x0007026E},  //  7
    {TV_5E1C,             0x00000683, 0x00000613},  //  8
    {TV_5E20,             0x00CA0000, 0x00FA0000},  //  9
    {TV_5E24,             0x00630000, 0x007D0000},  // 10
    {TV_5E28,             0x05B80555, 0x072306A6},  // 11
    {TV_5E2C,             0x048C0000, 0x05AC0000},  // 12
    {TV_5E30,             0x09E10555, 0x0C5206A6},  // 13
    {TV_5E34,             0x00088000, 0x000784DD},  // 14
    {TV_5E38,             0x0009020D, 0x0007026C},  // 15
    {TV_5E3C,             0x00028006, 0x00020000},  // 16
    {TV_5E40,             0x00030213, 0x00028271},  // 17
    {TV_5E44,             0x006C00E4, 0x0078012A},  // 18
    {TV_5E48,             0x01060009, 0x31340006},  // 19
    {TV_5E4C,             0x020C0110, 0x026C013E},  // 20
    {TV_5E50,             0x0A700199, 0x0D090239},  // 21
    {TV_5E54,             0x05030555, 0x065608D5},  // 22
    {TV_5E58,             0x0104002A, 0x0135002D},  // 23
    {TV_5E5C,             0x020B0238, 0x026E829E},  // 24
    {TV_5E60,             0x0553019A, 0x06A4022D},  // 25
    {TV_5E64,             0x0104002A, 0x0135002C},  // 26
    {TV_5E68,             0x020B0238, 0x026E029E},  // 27
    {TV_5E8C,             0x0A870199, 0x0D200239},  // 28
    {TV_5E90,             0x051A0555, 0x066D08D5},  // 29
    {TV_5E94,             0x03EF01AE, 0x03EE01AD},  // 30
    {TV_5E98,             0x000002FF, 0x000002FF},  // 31
    {TV_5E9C,             0x01D70150, 0x01D70150},  // 32
    {TV_5EA0,             0x0115013E, 0x0100013C},  // 33
    {TV_5EA4,             0x018E011B, 0x01890118},  // 34
    {TV_5EA8,             0x00EC00ED, 0x00EC00EB},  // 35
    {TV_5EAC,             0x000000ED, 0x00000000},  // 36
    {TV_5EB0,             0x01110006, 0x01110006},  // 37
    {TV_5EB4,             0x01000401, 0x01000401},  // 38
    {TV_5EB8,             0x3A200103, 0x00000002},  // 39
    {TV_5EBC,             0x031F00F6, 0x00000000},  // 40
    {TV_5EC0,             0x01304E00, 0x00000000},  // 41
    {TV_5EC4,             0x00000020, 0x00000000},  // 42
    {TV_5EC8,             0x00002107, 0x00002107},  // 43
    {TV_5ECC,             0x00000000, 0x00000000},  // 44
    {TV_5EF0,             0x80000189, 0x805201AE},  // 45
    {TV_5EF4,             0x00000002, 0x002078FC},  // 46
    {TV_5EF8,             0x15555555, 0x15555D38},  // 47
    {TV_5EFC,             0x15555556, 0x1545FCE0},  // 48
    {TV_5F00,             0x01FFFFFF, 0x00000000},  // 49
    {TV_5F04,             0x15555555, 0x1533A6AE},  // 50
    {TV_5F08,             0x15555555, 0x1533A6AE},  // 51
    {TV_5F0C,             0x002C0203, 0x802C0203},  // 52
    {TV_5F10,             0x8C99A1E5, 0x8C99A1E5},  // 53
    {TV_5F14,             0x09620639, 0x09620639},  // 54
    {TV_5F18,             0x0B713CE4, 0x0B713CE4},  // 55
    {TV_5F1C,             0x00000000, 0x00000000},  // 56
    {TV_5F28,             0x0000FFFF, 0x0000FFFF},  // 57
    {TV_5F90,             0x000001F4, 0x000001F4},  // 58
    {TV_5F8C,             0x002001F6, 0x0020023E},  // 59
    {TV_5F94,             0x00000000, 0x00000000},  // 60
    {TV_ENCODER_CONTROL,  0xF0700002, 0xF01000C2},  // 61
    {TV_CLOCK_A,          0x250658DC, 0x2DDBCC48},  // 62
    {TV_CLOCK_B,          0x250658E0, 0x2DDBCC70},  // 63
    {TV_CLOCK_CONTROL,    0x80000078, 0x80000062},  // 64
};

namespace {

// The CRTC's output conversion words, in register order from
// CRTC_TV_CONVERSION_FIRST.
const UINT32 TvConversionBlock[CRTC_TV_CONVERSION_WORDS] = {
    0x00007020, 0x8000A220, 0x8000EDC0, 0x02000000, 0x00004180, 0x000080A0,
    0x00001900, 0x86898000, 0x8000DA20, 0x8000B5C0, 0x00007020, 0x02000000,
};

// CRTC 2 feeds the encoder through fixed timing and border settings.
constexpr UINT32 CRTC2_TV_TIMING_VALUE = 0x1F4101F4;
constexpr UINT32 CRTC2_TV_H_BORDER = 0x006C006C;
constexpr UINT32 CRTC2_TV_V_BORDER = 0x001F001F;
constexpr UINT8 kCrtc2 = 1;

void LoadTvStandard(ADAPTER_CONTEXT* Context, BOOLEAN Standard60Hz) {
  for (const TV_REGISTER_WRITE& Write : TvStandardSets) {
    RegWrite32(Context->PciIo, Write.Register, Standard60Hz ? Write.Value60Hz : Write.Value50Hz);
  }
}

}  // namespace

void LoadTvStandard60(ADAPTER_CONTEXT* Context) { LoadTvStandard(Context, 1); }
void LoadTvStandard50(ADAPTER_CONTEXT* Context) { LoadTvStandard(Context, 0); }

EFI_STATUS EnableTv(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  UINT8 Display = Context->CurrentDisplay;
  UINT8 Crtc = Context->CrtcIndex[Display];

  // Anything but CRTC 1 takes CRTC 2's conversion path.
  for (UINT32 I = 0; I < CRTC_TV_CONVERSION_WORDS; I++) {
    RegWrite32(PciIo, CrtcReg(Crtc, CRTC_TV_CONVERSION_FIRST) + CRTC_TV_CONVERSION_STRIDE * I, TvConversionBlock[I]);
  }
  RegWrite32(PciIo, CrtcReg(Crtc, CRTC_TV_CONVERSION_ENABLE), 1);
  if (Crtc != 0) {
    RegWrite32(PciIo, CrtcReg(kCrtc2, CRTC_TV_TIMING_A), CRTC2_TV_TIMING_VALUE);
    RegWrite32(PciIo, CrtcReg(kCrtc2, CRTC_TV_TIMING_B), CRTC2_TV_TIMING_VALUE);
    RegWrite32(PciIo, CrtcReg(kCrtc2, CRTC_TV_TIMING_C), CRTC2_TV_TIMING_VALUE);
    RegWrite32(PciIo, CrtcReg(kCrtc2, SCALER_H_BORDER), CRTC2_TV_H_BORDER);
    RegWrite32(PciIo, CrtcReg(kCrtc2, SCALER_V_BORDER), CRTC2_TV_V_BORDER);
    RegWrite32(PciIo, CrtcReg(kCrtc2, CRTC_TV_ENABLE), 1);
  }

  (void)RegRead32(PciIo, TV_H_TOTAL);
  UINT32 DacMode;
  if (Context->TvUseNtsc[Display]) {
    LoadTvStandard60(Context);
    DacMode = DACB_CONTROL_NTSC;
  } else {
    LoadTvStandard50(Context);
    DacMode = DACB_CONTROL_PAL;
  }
  (void)RegRead32(PciIo, TV_H_TOTAL);

  EnableScaler(Context, Crtc);

  RegWrite32(PciIo, TV_DAC_CLOCK, TV_DAC_CLOCK_VALUE);
  RegWrite32(PciIo, CRTC_TV_SOURCE, Crtc);
  if (Crtc == 0 || Crtc == 1) RegWrite32(PciIo, CrtcReg(Crtc, CRTC_OUTPUT_OPTION), 1);

  RegWrite32(PciIo, DACB_BLANK, 0);
  DelayMicroseconds(Context, 5);
  RegWrite32(PciIo, DACB_SOURCE, DAC_SOURCE_TV);
  RegWrite32(PciIo, DACB_CONTROL, DacMode);
  RegWrite32(PciIo, DACB_ENABLE, 1);
  RegWrite32(PciIo, DACB_FORCE, 0);
  return EFI_SUCCESS;
}

EFI_STATUS DisableTv(ADAPTER_CONTEXT* Context) {
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  RegWrite32(PciIo, TV_ENCODER_CONTROL, RegRead32(PciIo, TV_ENCODER_CONTROL) | TV_ENCODER_CONTROL_HOLD);
  RegWrite32(PciIo, TV_ENCODER_RESET, TV_ENCODER_RESET_VALUE);

  RegWrite32(PciIo, DACB_BLANK, DAC_BLANK_OFF);
  DelayMicroseconds(Context, 5);
  RegWrite32(PciIo, DACB_SOURCE, 0);
  RegWrite32(PciIo, DACB_CONTROL, DACB_CONTROL_VALUE);
  RegWrite32(PciIo, DACB_ENABLE, 0);
  return EFI_SUCCESS;
}
