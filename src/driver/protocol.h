// The driver's request protocol: one I/O control code, a 16-byte request
// block and a fixed reply per function.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace torv {

struct DriverContext;
class RegisterLock;

inline constexpr std::uint32_t kDrvIoctlCode = 0x9C406000u;
inline constexpr std::uint32_t kDrvSignature = 0x4A57515Au;
// Last error of a request that the driver could not carry out on the
// processor announced with ReqSetCpu.
inline constexpr std::uint32_t kErrCpuUnreachable = 0xC0000026u;

enum DrvFunc : std::uint32_t {
  ReqIdentify = 1,
  ReqPortIn = 10,
  ReqPortOut = 11,
  ReqMsrRead = 20,
  ReqMsrWrite = 21,
  ReqCpuid = 22,
  ReqClockCount = 71,
  ReqSetCpu = 74,
  ReqL2Transaction = 91,
  ReqVersion = 101,
  ReqSignature = 102,
};

// A word of the request block or of a reply: 4 bytes, little-endian.
inline void PutWord(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint32_t GetWord(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The request block fields, little-endian in the 16 bytes.
struct RequestBlock {
  std::uint32_t Func = 0, P1 = 0, P2 = 0, P3 = 0;
};
void EncodeRequest(const RequestBlock& r, std::uint8_t (&out)[16]);
RequestBlock DecodeRequest(const std::uint8_t (&in)[16]);

// Driver state.
struct DriverState {
  std::uint32_t DrvHandle = 0;
  std::uint32_t DrvIoctlCode = 0;
  std::uint32_t DrvLastError = 0;
  std::uint32_t DrvVersion = 0;
  std::string DrvFileName;  // short string, cut to 255
  // The last DrvOpen found the device but was refused with access denied:
  // the open itself, or (where the system opens before it asks the driver,
  // as Wine does) its identity request. Another program holds the device,
  // or this user may not open it.
  bool DrvRefused = false;
  // Windows NT: the KelvorNT service is this program's (it installed it, or
  // took over one that a killed run left), so that the program's end removes
  // it. A service that another running program holds is never this
  // program's.
  bool NtServiceOwned = false;
  // The lock of the registers the driver reaches, shared with other programs
  // (null: none is needed, as for a simulated machine). Set by LoadDriver.
  std::shared_ptr<RegisterLock> Lock;
  // This computer's msr module is still to be loaded, if missing, at the
  // first register request of an analysis (Linux, as root).
  bool MsrModulePending = false;
  // The registers the driver reaches keep what is written after the
  // program ends (this computer's, reached by the program itself): their
  // changes are journalled (driver/journal.h). Set by LoadDriver.
  bool KeepsJournal = false;
};

// Sends one request on DrvHandle. `attached` travels with the request (the
// cache transaction block). True exactly when the device accepted it.
bool DrvControl(const DriverContext& ctx, std::uint32_t func, std::uint32_t p1, std::uint32_t p2, std::uint32_t p3,
                void* outBuf, std::uint32_t outLen, const void* attached = nullptr,
                std::size_t attachedLen = 0);

// Opens a driver device and checks its identity and version. `osKind` (kOsWin9x,
// kOsWinNT, kOsLinux) decides the form of the version reply.
bool DrvOpen(const DriverContext& ctx, std::uint8_t osKind, std::string_view devicePath);

}  // namespace torv
