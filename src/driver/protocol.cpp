// The driver's request protocol: the 16-byte request block, one request on
// the open device, and the opening of a device with its identity and version
// checks.
#include "driver/protocol.h"

#include "driver/context.h"
#include "report/utility.h"

namespace torv {

namespace {

// Windows error code for a handle that names no open device.
constexpr std::uint32_t kErrInvalidHandle = 6;

// The Windows NT driver reports its version in one word; the Linux back-end
// answers in the same form.
bool UsesNtForm(std::uint8_t osKind) {
  return osKind == kOsWinNT || osKind == kOsLinux;
}

}  // namespace

void EncodeRequest(const RequestBlock& r, std::uint8_t (&out)[16]) {
  PutWord(out + 0, r.Func);
  PutWord(out + 4, r.P1);
  PutWord(out + 8, r.P2);
  PutWord(out + 12, r.P3);
}

RequestBlock DecodeRequest(const std::uint8_t (&in)[16]) {
  RequestBlock r;
  r.Func = GetWord(in + 0);
  r.P1 = GetWord(in + 4);
  r.P2 = GetWord(in + 8);
  r.P3 = GetWord(in + 12);
  return r;
}

bool DrvControl(const DriverContext& ctx, std::uint32_t func, std::uint32_t p1, std::uint32_t p2, std::uint32_t p3,
                void* outBuf, std::uint32_t outLen, const void* attached, std::size_t attachedLen) {
  std::uint8_t block[16];
  EncodeRequest(RequestBlock{func, p1, p2, p3}, block);
  // A request without reply still hands the device a reply area of its own.
  std::uint8_t scratch[16] = {};
  if (outBuf == nullptr) {
    outBuf = scratch;
    outLen = 0;
  }
  ctx.drv.DrvLastError = 0;
  DevResult res{false, kErrInvalidHandle};
  if (Device* dev = ctx.platform.Devices().Get(ctx.drv.DrvHandle)) {
    res = dev->Control(ctx.drv.DrvIoctlCode, block, attached, attachedLen, outBuf, outLen);
  }
  ctx.drv.DrvLastError = res.LastError;
  return res.Ok;
}

bool DrvOpen(const DriverContext& ctx, std::uint8_t osKind, std::string_view devicePath) {
  ctx.drv.DrvHandle = 0;
  std::uint32_t openError = 0;
  ctx.drv.DrvHandle = ctx.platform.Devices().Open(std::string(devicePath), openError);
  ctx.drv.DrvIoctlCode = kDrvIoctlCode;
  const bool opened = ctx.drv.DrvHandle != kInvalidHandle;
  ctx.platform.Sleep(100);

  std::uint8_t ident[12] = {};
  std::uint8_t version[8] = {};
  bool identOk = false;
  bool versionOk = false;
  std::uint32_t identError = 0;
  if (opened) {
    identOk = DrvControl(ctx, ReqIdentify, 0, 0, 0, ident, sizeof ident);
    identError = ctx.drv.DrvLastError;
    versionOk = DrvControl(ctx, ReqVersion, 0, 0, 0, version, sizeof version);
  }
  ctx.drv.DrvRefused = opened ? !identOk && identError == kErrorAccessDenied
                            : openError == kErrorAccessDenied;
  if ((GetWord(ident) >> 16) != 0x1234u) identOk = false;
  const bool result = opened && identOk;

  ctx.drv.DrvVersion = 0;
  if (versionOk) ctx.drv.DrvVersion = GetWord(version) << 8 | GetWord(version + 4);
  if (result && UsesNtForm(osKind)) {
    if (versionOk) ctx.drv.DrvVersion = GetWord(version);
    DrvControl(ctx, ReqSignature, kDrvSignature, 0, 0, nullptr, 0);
  }

  if (ctx.DriverDebug) {
    std::string text(devicePath);
    text += ", " + HexDword(ctx.drv.DrvHandle);
    text += ", found=" + BoolWord(opened) + ":" + HexDword(openError);
    text += ", " + BoolWord(identOk) + ":" + HexDword(ctx.drv.DrvLastError);
    text += ", " + BoolWord(versionOk) + ":" + HexDword(ctx.drv.DrvLastError);
    text += ",Vers:" + HexWord(static_cast<std::uint16_t>(ctx.drv.DrvVersion));
    ctx.platform.MessageBox("DRVdebug", Cut(text), BoxButtons::Ok);
  }
  return result;
}

}  // namespace torv
