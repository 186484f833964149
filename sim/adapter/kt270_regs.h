// KT270 register map as the model knows it: byte offsets into the 64 KiB
// register aperture (BAR 2). Written from the register descriptions on its
// own; it must never be shared with the driver, so that a misread offset
// shows up as a disagreement instead of being agreed on by both sides.
#pragma once

#include <stdint.h>

namespace kt270 {
namespace reg {

// Indirect spaces: index register, data register.
constexpr uint32_t kClkIndex = 0x0008;   // bits 6..0 index, bit 7 write enable
constexpr uint32_t kClkData = 0x000C;
constexpr uint32_t kIdxIndex = 0x0030;   // index, no write enable
constexpr uint32_t kIdxData = 0x0034;
constexpr uint32_t kMcIndex = 0x0070;    // bits 15..0 index, bit 23 write enable
constexpr uint32_t kMcData = 0x0074;

constexpr uint32_t kClkWriteEnable = 0x00000080;
constexpr uint32_t kClkIndexMask = 0x0000007F;
constexpr uint32_t kMcWriteEnable = 0x00800000;
constexpr uint32_t kMcIndexMask = 0x0000FFFF;

// Memory-controller index whose bit 0x10 reports the controller idle.
constexpr uint32_t kMcStatusIndex = 0x08;
constexpr uint32_t kMcIdleBit = 0x10;

// Straps and board wiring read by the firmware.
constexpr uint32_t kHwGpio = 0x00E8;
constexpr uint32_t kSwGpio = 0x01A4;
constexpr uint32_t kStrap = 0x0C60;

// Pixel PLLs.
//   Role                    PLL 1    PLL 2
//   written 1 before        0x0400   0x0410
//   reference divider R     0x0404   0x0414   bits 9..0
//   feedback divider F      0x0430   0x0434   bits 26..16, tenths bits 3..0
//   written 1 after lock    0x0438   0x0440
//   post divider P          0x043C   0x0444   bits 6..0
//   control / status        0x0450   0x0454   bits 0,1 hold; bit 21 locked
struct PllRegs {
  uint32_t pre, ref_div, fb_div, post_lock, post_div, control;
};
constexpr PllRegs kPll[2] = {
    {0x0400, 0x0404, 0x0430, 0x0438, 0x043C, 0x0450},
    {0x0410, 0x0414, 0x0434, 0x0440, 0x0444, 0x0454},
};
constexpr uint32_t kPllHoldBits = 0x3;
constexpr uint32_t kPllLockBit = 0x00200000;
constexpr uint32_t kPllRefKhz10 = 2700;         // 27.00 MHz reference
constexpr uint32_t kVcoMinKhz10 = 90000;        // 900 MHz
constexpr uint32_t kVcoMaxKhz10 = 120000;       // 1200 MHz

// 2D engine.
constexpr uint32_t kEngineStatus = 0x0E40;   // bit 31 busy
constexpr uint32_t kEngineBusyBit = 0x80000000;
constexpr uint32_t kEngDstOffset = 0x1404;
constexpr uint32_t kEngDstPitch = 0x1408;    // bytes
constexpr uint32_t kEngSrcPos = 0x1434;      // (Y << 16) | X
constexpr uint32_t kEngDstPos = 0x1438;      // (Y << 16) | X
constexpr uint32_t kEngCommand = 0x146C;
constexpr uint32_t kEngColour = 0x147C;
constexpr uint32_t kEngSize = 0x1598;        // (W << 16) | H; writing it starts
constexpr uint32_t kEngSrcOffset = 0x15AC;
constexpr uint32_t kEngSrcPitch = 0x15B0;    // bytes
constexpr uint32_t kEngDirection = 0x16C0;   // bit 0 left-to-right, bit 1 top-to-bottom
constexpr uint32_t kEngCmdFill = 0x50F036F3;
constexpr uint32_t kEngCmdCopy = 0x50C036F3;
constexpr uint32_t kEngineFirst = 0x1400;    // engine register window
constexpr uint32_t kEngineLast = 0x17FF;

// CRTC 1 registers; CRTC 2 sits kCrtc2Delta above.
constexpr uint32_t kCrtc2Delta = 0x800;
constexpr uint32_t kHTotal = 0x6000;
constexpr uint32_t kHBlank = 0x6004;     // end << 16 | start, bit 31 flag
constexpr uint32_t kHSync = 0x6008;      // width in bits 30..16
constexpr uint32_t kHSyncCtl = 0x600C;   // bit 0 set: positive sync
constexpr uint32_t kVTotal = 0x6020;
constexpr uint32_t kVBlank = 0x6024;
constexpr uint32_t kVSync = 0x6028;
constexpr uint32_t kVSyncCtl = 0x602C;
constexpr uint32_t kCrtcControl = 0x6080;  // 1 runs, 0 stopped, 0x01000000 off
constexpr uint32_t kCrtcOption = 0x6088;
constexpr uint32_t kTvSourceCrtc = 0x60FC;  // CRTC feeding the TV encoder
constexpr uint32_t kSurfaceEnable = 0x6100;
constexpr uint32_t kSurfaceControl = 0x6104;  // bits 1..0 depth code
constexpr uint32_t kSurfaceBase = 0x6110;
constexpr uint32_t kSurfacePitch = 0x6120;    // 4-byte units
constexpr uint32_t kFetchWidth = 0x6134;
constexpr uint32_t kFetchHeight = 0x6138;
constexpr uint32_t kTvConvertEnable = 0x6380;
constexpr uint32_t kScalerSource = 0x6584;   // (W << 16) | H
constexpr uint32_t kScalerHBorder = 0x6588;  // b << 16 | b
constexpr uint32_t kScalerVBorder = 0x658C;
constexpr uint32_t kScalerEnable = 0x6590;
constexpr uint32_t kScalerMode = 0x6594;
constexpr uint32_t kScalerBypass = 0x659C;

// Colour lookup tables (write port, auto-increment).
constexpr uint32_t kLutSelect = 0x6480;
constexpr uint32_t kLutIndex = 0x6488;
constexpr uint32_t kLutData = 0x6494;   // (r << 20) | (g << 10) | b, 10 bits each

// Surface depth codes (bits 1..0 of the surface control).
//   code  bits per pixel
//   0     8 (through the lookup table)
//   1     16 (5-6-5)
//   2     32 (x-8-8-8)
constexpr uint32_t kDepthBits[4] = {8, 16, 32, 0};

// TV encoder.
constexpr uint32_t kTvControl = 0x5DFC;   // bit 0 set: held off
constexpr uint32_t kTvRun = 0x5E00;       // bit 0 set: running
constexpr uint32_t kTvHTotal = 0x5E04;
constexpr uint32_t kTvVTotal = 0x5E08;    // low half: V total register
constexpr uint32_t kTvStandardSet = 0x5F9C;

// Analogue DACs: DAC B at kDacBDelta above DAC A.
constexpr uint32_t kDacBDelta = 0x200;
constexpr uint32_t kDacEnable = 0x7800;
constexpr uint32_t kDacSource = 0x7804;   // 0 CRTC 1, 1 CRTC 2, 2 TV encoder (DAC B)
constexpr uint32_t kDacPower = 0x7850;    // 0 powered, 0x01010101 blanked
constexpr uint32_t kDacMode = 0x7854;

// TMDS transmitter.
constexpr uint32_t kTmdsControl = 0x7A80;   // bit 0 enable, bit 24 dual link
constexpr uint32_t kTmdsSource = 0x7A84;
constexpr uint32_t kTmdsFormat = 0x7A94;
constexpr uint32_t kTmdsPower = 0x7B00;
constexpr uint32_t kTmdsLanes = 0x7B04;     // 0x3E single, 0x3E3E dual
constexpr uint32_t kTmdsPll = 0x7B10;       // bits 0, 29 on; bit 1 reset; bit 31 pulse
constexpr uint32_t kTmdsDualLink = 0x01000000;
constexpr uint32_t kTmdsLanesSingle = 0x003E;
constexpr uint32_t kTmdsLanesDual = 0x3E3E;

// DDC GPIO blocks: bit 0 clock (SCL), bit 8 data (SDA) in each register.
//   Channel  select  level   enable  input
//   1        0x7E40  0x7E44  0x7E48  0x7E4C
//   2        0x7E50  0x7E54  0x7E58  0x7E5C
//   3        0x7E60  0x7E64  0x7E68  0x7E6C
constexpr uint32_t kDdcFirst = 0x7E40;
constexpr uint32_t kDdcStride = 0x10;
constexpr uint32_t kDdcSelect = 0x0;
constexpr uint32_t kDdcLevel = 0x4;
constexpr uint32_t kDdcEnable = 0x8;
constexpr uint32_t kDdcInput = 0xC;
constexpr uint32_t kDdcScl = 0x001;
constexpr uint32_t kDdcSda = 0x100;

constexpr uint32_t kApertureSize = 0x10000;

}  // namespace reg
}  // namespace kt270
