// Starting and stopping the driver.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace torv {

struct World;

// Error codes of LoadDriver.
enum : std::uint32_t {
  kDrvErrNotFound = 257,
  kDrvErrTooOld = 258,
  kDrvErrCopying = 259,
  kDrvErrOpening = 260,
  kDrvErrBreak = 261,
  kDrvErrInUse = 262,
  kDrvErrPermission = 263,
};

// The Linux driver's file name and version.
inline constexpr const char* kLinuxDriverName = "kelvorlx";
inline constexpr std::uint32_t kLinuxDriverVersion = 0x0103;

void LoadDriver(World& w, std::uint8_t kind, std::string_view fileName,
                std::uint32_t requiredVersion, std::uint32_t& errorCode);
std::string DrvErrorText(World& w, std::uint32_t code);
void DrvUnload(World& w);

}  // namespace torv
