// Starting the driver. On Windows the loader finds the driver file, keeps the
// copy in the Windows or system directory up to date, installs the NT driver
// as a service, and checks the version; on Linux the back-end is part of the
// program, so the loader registers it as the driver device and opens it like
// a driver.
#include "driver/loader.h"

#include <memory>
#include <vector>

#include "driver/context.h"

namespace torv {

namespace {

const std::string kDevicePrefix = "\\\\.\\";

// Closes the device the last DrvOpen left open, if any.
void CloseDevice(const DriverContext& ctx) {
  if (ctx.drv.DrvHandle != 0 && ctx.drv.DrvHandle != kInvalidHandle) {
    ctx.platform.Devices().Close(ctx.drv.DrvHandle);
  }
  ctx.drv.DrvHandle = 0;
}

// DrvOpen that leaves no handle behind when the device is refused: a device
// that opened but failed the identity check is closed before the next try.
bool TryOpen(const DriverContext& ctx, std::uint8_t kind, const std::string& path) {
  if (DrvOpen(ctx, kind, path)) return true;
  CloseDevice(ctx);
  return false;
}

// The folder part of a path, with its final separator.
std::string FolderOf(const std::string& path) {
  const auto cut = path.find_last_of('\\');
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// A file in a folder: one trailing separator of the folder is dropped, so a
// drive root gives "C:\NAME" and not "C:\\NAME".
std::string InFolder(std::string folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  return folder + "\\" + name;
}

struct Candidate {
  std::string Path;
  std::int32_t Date = -1;  // packed date-time; -1 when the file is missing
  bool Present() const { return Date != -1; }
  // Dates compare as signed numbers: the smaller is the older file.
  bool OlderThan(const Candidate& other) const { return Date < other.Date; }
};

Candidate Look(const DriverContext& ctx, const std::string& folder, const std::string& name) {
  Candidate c;
  c.Path = InFolder(folder, name);
  c.Date = ctx.platform.FileAge(c.Path);
  return c;
}

struct Preparation {
  std::string ProgramPath;
  std::string SysDir, WinDir;
  Candidate WorkFile, SysFile, WinFile;
  bool OnNetwork = false;
};

// The candidates. The first is looked for beside the program, not in the
// working directory: the driver ships beside the program, and the network
// rule below then judges the very file that would be installed, whatever
// folder the program was started from.
Preparation Prepare(const DriverContext& ctx, const std::string& name) {
  Preparation p;
  Platform& os = ctx.platform;
  p.ProgramPath = Cut(os.ProgramFile());
  const std::string programFolder =
      p.ProgramPath.empty() ? os.CurrentDirectory() : FolderOf(p.ProgramPath);
  p.SysDir = os.SystemDirectory();
  p.WinDir = os.WindowsDirectory();
  p.WorkFile = Look(ctx, programFolder, name);
  p.SysFile = Look(ctx, p.SysDir, name);
  p.WinFile = Look(ctx, p.WinDir, name);
  p.OnNetwork = !p.ProgramPath.empty() && os.UniversalName(p.ProgramPath) != p.ProgramPath;
  return p;
}

std::string ReplaceQuestion(const std::string& name, const std::string& folder) {
  return "Old Version of " + name + " in " + folder + " detected, replace?";
}

void LoadWin95(const DriverContext& ctx, const Preparation& p, std::uint32_t requiredVersion,
               std::uint32_t& errorCode) {
  const std::string& name = ctx.drv.DrvFileName;
  if (!TryOpen(ctx, kOsWin95, kDevicePrefix + p.WorkFile.Path) &&
      !TryOpen(ctx, kOsWin95, kDevicePrefix + name)) {
    errorCode = kDrvErrNotFound;
  } else if (ctx.drv.DrvVersion < requiredVersion) {
    errorCode = kDrvErrTooOld;
  }
}

void LoadWin98(const DriverContext& ctx, const Preparation& p, std::uint32_t requiredVersion,
               std::uint32_t& errorCode) {
  const std::string& name = ctx.drv.DrvFileName;
  const Candidate* target = nullptr;
  const std::string* folder = nullptr;
  if (p.WorkFile.Present() && p.WinFile.Present()) {
    if (p.WinFile.OlderThan(p.WorkFile)) {
      target = &p.WinFile;
      folder = &p.WinDir;
    }
  } else if (p.WorkFile.Present() && p.SysFile.Present() && p.SysFile.OlderThan(p.WorkFile)) {
    target = &p.SysFile;
    folder = &p.SysDir;
  }
  if (target != nullptr) {
    if (DrvAsk(ctx, Cut(ReplaceQuestion(name, *folder))) != kIdOk) {
      errorCode = kDrvErrBreak;
      return;
    }
    // A failed replacement only warns: the older copy is used.
    if (!ctx.platform.CopyFile(p.WorkFile.Path, target->Path, false)) {
      DrvAsk(ctx, "Error, can't replace");
    }
  }
  if (!TryOpen(ctx, kOsWin98, kDevicePrefix + name)) {
    errorCode = kDrvErrNotFound;
  } else if (ctx.drv.DrvVersion < requiredVersion) {
    errorCode = kDrvErrTooOld;
  }
}

// Whether this user may install and remove services: an administrator.
bool MayControlServices(Platform& os) {
  const std::uintptr_t scm = os.OpenSCManager(kScManagerAllAccess);
  if (scm == 0) return os.LastError() != kErrorAccessDenied;
  os.CloseServiceHandle(scm);
  return true;
}

void LoadWinNT(const DriverContext& ctx, const Preparation& p, std::uint32_t requiredVersion,
               std::uint32_t& errorCode) {
  const std::string& name = ctx.drv.DrvFileName;
  bool workPresent = p.WorkFile.Present();
  bool sysPresent = p.SysFile.Present();
  // A driver is not started from a network drive: it is copied to the
  // system directory first.
  if (workPresent && p.OnNetwork) {
    bool copyOk = true;
    if (sysPresent) {
      if (p.SysFile.OlderThan(p.WorkFile)) {
        if (DrvAsk(ctx, Cut(ReplaceQuestion(name, p.SysDir))) != kIdOk) {
          errorCode = kDrvErrBreak;
          return;
        }
        copyOk = ctx.platform.CopyFile(p.WorkFile.Path, p.SysFile.Path, false);
      }
    } else {
      if (DrvAsk(ctx, Cut("can't use driver " + name + " on a network drive, copy driver to " +
                        p.SysDir + "?")) != kIdOk) {
        errorCode = kDrvErrBreak;
        return;
      }
      copyOk = ctx.platform.CopyFile(p.WorkFile.Path, p.SysFile.Path, true);
    }
    if (!copyOk) {
      errorCode = kDrvErrCopying;
      return;
    }
    sysPresent = true;
    workPresent = false;
  }
  std::uint32_t failure = 0;
  std::uint32_t res = InstallDriverNT(ctx, "", requiredVersion, failure);
  if (res == kNtInstalled) return;
  constexpr std::uint32_t kNoCandidate = 1;
  if (res != kNtRefused) res = kNoCandidate;
  // A candidate whose driver is too old passes on to the next one; a failure
  // to install or to open ends the search, and so does a running driver that
  // another program holds: its service is that program's.
  const auto next = [&] { return res == kNoCandidate || res == kNtTooOld; };
  if (next() && workPresent && !p.OnNetwork) {
    res = InstallDriverNT(ctx, p.WorkFile.Path, requiredVersion, failure);
  }
  if (next() && sysPresent) res = InstallDriverNT(ctx, p.SysFile.Path, requiredVersion, failure);
  if (next() && p.WinFile.Present()) {
    res = InstallDriverNT(ctx, p.WinFile.Path, requiredVersion, failure);
  }
  switch (res) {
    case kNtInstalled:
      break;
    case kNoCandidate:
      errorCode = kDrvErrNotFound;
      break;
    case kNtTooOld:
      errorCode = kDrvErrTooOld;
      break;
    case kNtOpenFailed:
      errorCode = kDrvErrOpening;
      break;
    case kNtRefused:
      errorCode = MayControlServices(ctx.platform) ? kDrvErrInUse : kDrvErrPermission;
      break;
    default:
      // The service could not be installed. Any reason but the two known
      // ones still ends the start: no driver is open.
      errorCode = failure == kErrServiceMarkedForDelete ? kDrvErrInUse
                  : failure == kErrorAccessDenied      ? kDrvErrPermission
                                                       : kDrvErrService;
      break;
  }
}

// As root, a missing msr device means the kernel's msr module is not loaded:
// load it, running modprobe directly (no shell, no search of PATH) with fixed
// arguments. Without modprobe there is nothing to run; a register read then
// names the missing device.
void LoadMsrModule(const DriverContext& ctx) {
  Platform& os = ctx.platform;
  std::string modprobe;
  for (const char* p : {"/sbin/modprobe", "/usr/sbin/modprobe"}) {
    if (os.PathExists(p)) {
      modprobe = p;
      break;
    }
  }
  if (modprobe.empty()) return;
  const bool console = !os.BoxesInWindow();
  if (console) {
    os.ErrorLine(std::string("torvacin: ") + kMsrDevice +
                 " is missing: loading the kernel's msr module (modprobe msr)");
  }
  const int status = os.RunProgram({modprobe, "msr"});
  if (!console || (status == 0 && os.PathExists(kMsrDevice))) return;
  std::string line = "torvacin: " + modprobe;
  line += status < 0 ? std::string(" could not be started")
                     : " msr ended with status " + std::to_string(status);
  if (!os.PathExists(kMsrDevice)) line += std::string(", and ") + kMsrDevice + " is still missing";
  os.ErrorLine(line);
}

void LoadLinux(const DriverContext& ctx, std::uint32_t requiredVersion, std::uint32_t& errorCode,
               const LinuxStart& start) {
  if (!ctx.machine) {
    // This computer: the msr module, if missing, waits for the first
    // register request of an analysis. Not root and no msr device to open:
    // registers and ports go through torvacin-access.
    ctx.drv.MsrModulePending = true;
    std::uint32_t why = 0;
    if (start.MakeHost) ctx.machine = start.MakeHost(why);
    if (!ctx.machine) {
      errorCode = why == kErrorAccessDenied ? kDrvErrPermission : kDrvErrNotFound;
      return;
    }
  }
  // CPUID and the clock need no privilege; a missing or closed msr device
  // shows only when a register is asked for, with its reason.
  const std::string path = kDevicePrefix + start.Name(*ctx.machine);
  ctx.platform.Devices().Register(path, start.Serve(ctx.machine, kLinuxDriverVersion));
  if (!TryOpen(ctx, kOsLinux, path)) {
    errorCode = kDrvErrNotFound;
  } else if (ctx.drv.DrvVersion < requiredVersion) {
    errorCode = kDrvErrTooOld;
  }
}

// The start on the system `kind`, without the steps common to all.
void LoadDriverFor(const DriverContext& ctx, std::uint8_t kind, std::uint32_t requiredVersion,
                   std::uint32_t& errorCode, const LinuxStart& start) {
  // A simulated machine (/SIM) answers through its own device on every
  // system: no driver is looked for, copied or installed for it.
  if (kind == kOsLinux || ctx.machine) {
    LoadLinux(ctx, requiredVersion, errorCode, start);
    return;
  }
  // A Windows 95/98 driver that is already loaded is used as it is; an older
  // one cannot be replaced while it is loaded.
  if (kind == kOsWin95 || kind == kOsWin98) {
    if (TryOpen(ctx, kind, kVxdDevice)) {
      if (ctx.drv.DrvVersion < requiredVersion) errorCode = kDrvErrInUse;
      return;
    }
  }
  const Preparation p = Prepare(ctx, ctx.drv.DrvFileName);
  switch (kind) {
    case kOsWin95:
      LoadWin95(ctx, p, requiredVersion, errorCode);
      break;
    case kOsWin98:
      LoadWin98(ctx, p, requiredVersion, errorCode);
      break;
    case kOsWinNT:
      LoadWinNT(ctx, p, requiredVersion, errorCode);
      break;
    default:
      errorCode = kDrvErrNotFound;
      break;
  }
}

}  // namespace

void LoadMsrModuleOnce(const DriverContext& ctx) {
  if (!ctx.drv.MsrModulePending) return;
  ctx.drv.MsrModulePending = false;
  if (ctx.platform.IsRoot() && !ctx.platform.PathExists(kMsrDevice)) LoadMsrModule(ctx);
}

void LoadDriver(const DriverContext& ctx, std::uint8_t kind, std::string_view fileName,
                std::uint32_t requiredVersion, std::uint32_t& errorCode, const LinuxStart& start) {
  errorCode = 0;
  ctx.drv.DrvFileName = Cut(fileName);
  ctx.drv.Lock.reset();
  ctx.drv.KeepsJournal = false;
  ctx.drv.MsrModulePending = false;
  LoadDriverFor(ctx, kind, requiredVersion, errorCode, start);
  // The lock of the registers this driver reaches: the register back-end's
  // own on Linux (none for a simulated machine), the system's on Windows.
  if (errorCode == 0) {
    ctx.drv.Lock = ctx.machine ? std::shared_ptr<RegisterLock>(start.Lock(*ctx.machine))
                           : std::shared_ptr<RegisterLock>(ctx.platform.AnalysisLock());
    ctx.drv.KeepsJournal = ctx.machine && start.KeepsJournal && start.KeepsJournal(*ctx.machine);
  }
}

bool InstallService(const DriverContext& ctx, std::string_view serviceName, std::string_view binaryPath,
                    std::uint32_t& failure) {
  Platform& os = ctx.platform;
  failure = 0;
  const std::uintptr_t scm = os.OpenSCManager(kScManagerAllAccess);
  if (scm == 0) {
    failure = os.LastError();
    return false;
  }
  Platform::ServiceConfig config;
  config.Name = std::string(serviceName);
  config.DisplayName = config.Name;
  config.DesiredAccess = kServiceAllAccess;
  config.ServiceType = kServiceKernelDriver;
  config.StartType = kServiceDemandStart;
  config.ErrorControl = kServiceErrorNormal;
  config.BinaryPath = std::string(binaryPath);
  bool result = false;
  const std::uintptr_t created = os.CreateService(scm, config);
  if (created != 0) {
    os.CloseServiceHandle(created);
    // From here every end of the program removes the service: its own
    // (DrvUnload), and one that the system brings about (a console control
    // event), for which the platform keeps this.
    os.SetEndCleanup([&os, name = config.Name] { RemoveService(os, name); });
  } else {
    failure = os.LastError();
  }
  // A service that exists already keeps the binary path it was registered
  // with.
  if (created != 0 || failure == kErrServiceExists) {
    failure = 0;
    const std::uintptr_t service = os.OpenService(scm, config.Name, kServiceAllAccess);
    if (service == 0) {
      failure = os.LastError();
    } else {
      result = os.StartService(service);
      if (!result) {
        const std::uint32_t e = os.LastError();
        result = e == kErrServiceAlreadyRunning;
        if (!result) failure = e;
      }
      os.CloseServiceHandle(service);
    }
  }
  os.CloseServiceHandle(scm);
  return result;
}

bool RemoveService(Platform& os, std::string_view serviceName) {
  const std::uintptr_t scm = os.OpenSCManager(kScManagerAllAccess);
  if (scm == 0) return false;
  bool result = false;
  const std::uintptr_t service = os.OpenService(scm, std::string(serviceName), kServiceAllAccess);
  if (service != 0) {
    os.ControlService(service, kServiceControlStop);
    os.DeleteService(service);
    result = true;
    os.CloseServiceHandle(service);
  }
  os.CloseServiceHandle(scm);
  return result;
}

std::uint32_t InstallDriverNT(const DriverContext& ctx, std::string_view binaryPath, std::uint32_t requiredVersion,
                              std::uint32_t& failure) {
  std::uint32_t code = kNtInstalled;
  failure = 0;
  if (!binaryPath.empty() && !InstallService(ctx, kNtServiceName, binaryPath, failure)) {
    code = kNtServiceFailed;
  } else if (DrvOpen(ctx, kOsWinNT, kNtDevice)) {
    if (ctx.drv.DrvVersion < requiredVersion) code = kNtTooOld;
  } else {
    code = ctx.drv.DrvRefused ? kNtRefused : kNtOpenFailed;
  }
  // A refused driver leaves neither an open device nor a service behind;
  // a driver that another program holds keeps its service. The driver in
  // use is removed at every end, also when it was running already.
  Platform& os = ctx.platform;
  if (code != kNtInstalled) {
    CloseDevice(ctx);
    if (code != kNtRefused) RemoveService(os, kNtServiceName);
    os.SetEndCleanup(nullptr);
  } else {
    ctx.drv.NtServiceOwned = true;
    os.SetEndCleanup([&os] { RemoveService(os, kNtServiceName); });
  }
  return code;
}

int DrvAsk(const DriverContext& ctx, std::string_view text) {
  return ctx.platform.MessageBox("Warning", text, BoxButtons::OkCancel);
}

std::string DrvErrorText(const DriverContext& ctx, std::uint32_t code) {
  const LangRec& m = ctx.Msg();
  const std::string name = ctx.drv.DrvFileName;
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

// On Windows NT the driver's service is stopped and deleted. Its device is
// closed first: a driver whose device is still open cannot stop, and the
// service would stay behind marked for deletion, refusing the next start.
// Elsewhere nothing is done: the Windows 95/98 driver goes when its handle
// closes at the end, and on Linux nothing runs outside the program.
// Only the program's own service goes: a second instance that found the
// driver held by another leaves that one's service running.
void DrvUnload(const DriverContext& ctx) {
  if (ctx.OsKind != kOsWinNT || ctx.machine) return;
  CloseDevice(ctx);
  if (ctx.drv.NtServiceOwned) RemoveService(ctx.platform, kNtServiceName);
  ctx.drv.NtServiceOwned = false;
  ctx.platform.SetEndCleanup(nullptr);
}

}  // namespace torv
