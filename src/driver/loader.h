// Starting and stopping the driver.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace torv {

struct DriverContext;
class Device;
class Machine;
class Platform;
class RegisterLock;

// Error codes of LoadDriver.
enum : std::uint32_t {
  kDrvErrNotFound = 257,
  kDrvErrTooOld = 258,
  kDrvErrCopying = 259,
  kDrvErrOpening = 260,
  kDrvErrBreak = 261,
  kDrvErrInUse = 262,
  kDrvErrPermission = 263,
  // The NT service could not be installed for a reason of its own; shown as
  // the general driver error.
  kDrvErrService = 264,
};

// The Linux driver's file name and version.
inline constexpr const char* kLinuxDriverName = "kelvorlx";
inline constexpr std::uint32_t kLinuxDriverVersion = 0x0103;

// Results of one NT installation attempt.
enum : std::uint32_t {
  kNtInstalled = 0,
  kNtServiceFailed = 0x10,
  kNtOpenFailed = 0x20,
  kNtTooOld = 0x30,
  // The driver runs, but its device refused this program (access denied):
  // another program holds it, or this user may not open it. Its service is
  // left alone.
  kNtRefused = 0x40,
};

inline constexpr const char* kNtServiceName = "KelvorNT";
inline constexpr const char* kNtDevice = "\\\\.\\Dev_KelvorNT";
inline constexpr const char* kVxdDevice = "\\\\.\\kelvor95";
inline constexpr const char* kMsrDevice = "/dev/cpu/0/msr";

// How the loader reaches the back-ends that the program serves as its own
// driver: this computer on Linux, a simulated machine on any system. The
// machine layer gives the usual one (DefaultLinuxStart in machine/machine.h,
// with the LoadDriver that uses it); a test may give its own.
struct LinuxStart {
  // This computer's back-end. Null when there is none; `why` is then
  // kErrorAccessDenied when this user may not reach the processor's
  // registers at all.
  std::function<std::shared_ptr<Machine>(std::uint32_t& why)> MakeHost;
  // The name of a back-end's device and the device that serves the driver
  // protocol on it, as the kernel driver would, with the given version.
  std::function<std::string(const Machine&)> Name;
  std::function<std::shared_ptr<Device>(const std::shared_ptr<Machine>&, std::uint16_t version)>
      Serve;
  // The lock that keeps every other analysis out of a back-end's registers
  // (null: none is needed).
  std::function<std::unique_ptr<RegisterLock>(Machine&)> Lock;
  // Whether the program keeps the journal of a back-end's changed registers
  // (see driver/journal.h); none when not given.
  std::function<bool(Machine&)> KeepsJournal;
};

// Starts the driver; on Linux and for a simulated machine the back-end is
// reached through `start`.
void LoadDriver(const DriverContext& ctx, std::uint8_t kind, std::string_view fileName,
                std::uint32_t requiredVersion, std::uint32_t& errorCode, const LinuxStart& start);
std::string DrvErrorText(const DriverContext& ctx, std::uint32_t code);
// Also on every abrupt end (see AbruptEnd); a second call does nothing.
void DrvUnload(const DriverContext& ctx);
// Before the first register request of an analysis of this computer (Linux):
// as root, when /dev/cpu/0/msr is missing, the kernel's msr module is loaded
// with modprobe, one line on the error stream saying so in console mode.
// Tried once per program; never for a simulated machine, /TEST= or a
// processor that gets no register analysis, since only an analysis asks.
void LoadMsrModuleOnce(const DriverContext& ctx);

// The NT service control steps. `failure` receives the system's last-error
// value of the step that failed (0 when none did).
bool InstallService(const DriverContext& ctx, std::string_view serviceName, std::string_view binaryPath,
                    std::uint32_t& failure);
// Stops the service and deletes it; false when there is no such service.
bool RemoveService(Platform& os, std::string_view serviceName);
// One NT installation attempt: kNtInstalled, kNtServiceFailed, kNtOpenFailed
// or kNtTooOld. An empty path only tries the driver already running.
std::uint32_t InstallDriverNT(const DriverContext& ctx, std::string_view binaryPath, std::uint32_t requiredVersion,
                              std::uint32_t& failure);
// A question in a "Warning" box with OK and Cancel; 1 means OK.
int DrvAsk(const DriverContext& ctx, std::string_view text);

}  // namespace torv
