// Starting the driver: on Linux the back-end is part of the program, so the
// loader registers it as the driver device and opens it like a driver.
#include "driver/loader.h"

#include <memory>

#include "world.h"
#include "machine/access.h"
#include "machine/machine.h"

namespace torv {

void LoadDriver(World& w, std::uint8_t kind, std::string_view fileName,
                std::uint32_t requiredVersion, std::uint32_t& errorCode) {
  errorCode = 0;
  w.drv.DrvFileName = Cut(fileName);
  if (kind != kOsLinux) {
    // The Windows drivers are not part of this build.
    errorCode = kDrvErrNotFound;
    return;
  }
  // Not root and no msr device to open: registers and ports go through
  // torvacin-access.
  if (!w.machine) w.machine = MakeHostMachine();
  if (!w.machine) {
    errorCode = kDrvErrNotFound;
    return;
  }
  // CPUID and the clock need no privilege; a missing or closed msr device
  // shows only when a register is asked for, with its reason.
  const std::string path = "\\\\.\\" + w.machine->Name();
  w.platform->Devices().Register(path,
                                 std::make_shared<MachineDevice>(w.machine, kLinuxDriverVersion));
  if (!DrvOpen(w, kind, path)) {
    if (w.drv.DrvHandle != 0 && w.drv.DrvHandle != kInvalidHandle) {
      w.platform->Devices().Close(w.drv.DrvHandle);
    }
    errorCode = kDrvErrNotFound;
  } else if (w.drv.DrvVersion < requiredVersion) {
    errorCode = kDrvErrTooOld;
  }
}

std::string DrvErrorText(World& w, std::uint32_t code) {
  const LangRec& m = w.Msg();
  const std::string name = w.drv.DrvFileName;
  switch (code) {
    case 0:
      return "";
    case kDrvErrNotFound:
      return Cut(name + std::string(m.NotFound.view()));
    case kDrvErrTooOld:
      return Cut(name + std::string(m.VersionTooOld.view()));
    case kDrvErrCopying:
      return Cut(std::string(m.ErrorCopying.view()) + " " + name);
    case kDrvErrOpening:
      return Cut(std::string(m.ErrorOpening.view()) + " " + name);
    case kDrvErrBreak:
      return std::string(m.Break.view());
    case kDrvErrInUse:
      return Cut(name + std::string(m.AlreadyInUse.view()));
    case kDrvErrPermission:
      return Cut(name + std::string(m.NoLoadPermission.view()));
    default:
      return std::string(m.DriverError.view());
  }
}

// Nothing runs outside the program on Linux: no service to stop, and the
// device stays open until the program ends.
void DrvUnload(World&) {}

}  // namespace torv
