// Starting the driver. On Windows the loader finds the driver file, keeps the
// copy in the Windows or system directory up to date, installs the NT driver
// as a service, and checks the version; on Linux the back-end is part of the
// program, so the loader registers it as the driver device and opens it like
// a driver.
#include "driver/loader.h"

#include <memory>
#include <vector>

#include "world.h"
#include "machine/access.h"
#include "machine/machine.h"

namespace torv {

namespace {

const std::string kDevicePrefix = "\\\\.\\";

// Closes the device the last DrvOpen left open, if any.
void CloseDevice(World& w) {
  if (w.drv.DrvHandle != 0 && w.drv.DrvHandle != kInvalidHandle) {
    w.platform->Devices().Close(w.drv.DrvHandle);
  }
  w.drv.DrvHandle = 0;
}

// DrvOpen that leaves no handle behind when the device is refused: a device
// that opened but failed the identity check is closed before the next try.
bool TryOpen(World& w, std::uint8_t kind, const std::string& path) {
  if (DrvOpen(w, kind, path)) return true;
  CloseDevice(w);
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

Candidate Look(World& w, const std::string& folder, const std::string& name) {
  Candidate c;
  c.Path = InFolder(folder, name);
  c.Date = w.platform->FileAge(c.Path);
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
Preparation Prepare(World& w, const std::string& name) {
  Preparation p;
  Platform& os = *w.platform;
  p.ProgramPath = Cut(os.ProgramFile());
  const std::string programFolder =
      p.ProgramPath.empty() ? os.CurrentDirectory() : FolderOf(p.ProgramPath);
  p.SysDir = os.SystemDirectory();
  p.WinDir = os.WindowsDirectory();
  p.WorkFile = Look(w, programFolder, name);
  p.SysFile = Look(w, p.SysDir, name);
  p.WinFile = Look(w, p.WinDir, name);
  p.OnNetwork = !p.ProgramPath.empty() && os.UniversalName(p.ProgramPath) != p.ProgramPath;
  return p;
}

std::string ReplaceQuestion(const std::string& name, const std::string& folder) {
  return "Old Version of " + name + " in " + folder + " detected, replace?";
}

void LoadWin95(World& w, const Preparation& p, std::uint32_t requiredVersion,
               std::uint32_t& errorCode) {
  const std::string& name = w.drv.DrvFileName;
  if (!TryOpen(w, kOsWin95, kDevicePrefix + p.WorkFile.Path) &&
      !TryOpen(w, kOsWin95, kDevicePrefix + name)) {
    errorCode = kDrvErrNotFound;
  } else if (w.drv.DrvVersion < requiredVersion) {
    errorCode = kDrvErrTooOld;
  }
}

void LoadWin98(World& w, const Preparation& p, std::uint32_t requiredVersion,
               std::uint32_t& errorCode) {
  const std::string& name = w.drv.DrvFileName;
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
    if (DrvAsk(w, Cut(ReplaceQuestion(name, *folder))) != kIdOk) {
      errorCode = kDrvErrBreak;
      return;
    }
    // A failed replacement only warns: the older copy is used.
    if (!w.platform->CopyFile(p.WorkFile.Path, target->Path, false)) {
      DrvAsk(w, "Error, can't replace");
    }
  }
  if (!TryOpen(w, kOsWin98, kDevicePrefix + name)) {
    errorCode = kDrvErrNotFound;
  } else if (w.drv.DrvVersion < requiredVersion) {
    errorCode = kDrvErrTooOld;
  }
}

void LoadWinNT(World& w, const Preparation& p, std::uint32_t requiredVersion,
               std::uint32_t& errorCode) {
  const std::string& name = w.drv.DrvFileName;
  bool workPresent = p.WorkFile.Present();
  bool sysPresent = p.SysFile.Present();
  // A driver is not started from a network drive: it is copied to the
  // system directory first.
  if (workPresent && p.OnNetwork) {
    bool copyOk = true;
    if (sysPresent) {
      if (p.SysFile.OlderThan(p.WorkFile)) {
        if (DrvAsk(w, Cut(ReplaceQuestion(name, p.SysDir))) != kIdOk) {
          errorCode = kDrvErrBreak;
          return;
        }
        copyOk = w.platform->CopyFile(p.WorkFile.Path, p.SysFile.Path, false);
      }
    } else {
      if (DrvAsk(w, Cut("can't use driver " + name + " on a network drive, copy driver to " +
                        p.SysDir + "?")) != kIdOk) {
        errorCode = kDrvErrBreak;
        return;
      }
      copyOk = w.platform->CopyFile(p.WorkFile.Path, p.SysFile.Path, true);
    }
    if (!copyOk) {
      errorCode = kDrvErrCopying;
      return;
    }
    sysPresent = true;
    workPresent = false;
  }
  std::uint32_t failure = 0;
  if (InstallDriverNT(w, "", requiredVersion, failure) == kNtInstalled) return;
  constexpr std::uint32_t kNoCandidate = 1;
  std::uint32_t res = kNoCandidate;
  // A candidate whose driver is too old passes on to the next one; a failure
  // to install or to open ends the search.
  const auto next = [&] { return res == kNoCandidate || res == kNtTooOld; };
  if (workPresent && !p.OnNetwork) res = InstallDriverNT(w, p.WorkFile.Path, requiredVersion, failure);
  if (next() && sysPresent) res = InstallDriverNT(w, p.SysFile.Path, requiredVersion, failure);
  if (next() && p.WinFile.Present()) {
    res = InstallDriverNT(w, p.WinFile.Path, requiredVersion, failure);
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
void LoadMsrModule(World& w) {
  Platform& os = *w.platform;
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

void LoadLinux(World& w, std::uint32_t requiredVersion, std::uint32_t& errorCode,
               const LinuxStart& start) {
  if (!w.machine) {
    // This computer: the msr module, if missing, waits for the first
    // register request of an analysis. Not root and no msr device to open:
    // registers and ports go through torvacin-access.
    w.drv.MsrModulePending = true;
    std::uint32_t why = 0;
    if (start.MakeHost) w.machine = start.MakeHost(why);
    if (!w.machine) {
      errorCode = why == kErrorAccessDenied ? kDrvErrPermission : kDrvErrNotFound;
      return;
    }
  }
  // CPUID and the clock need no privilege; a missing or closed msr device
  // shows only when a register is asked for, with its reason.
  const std::string path = kDevicePrefix + w.machine->Name();
  w.platform->Devices().Register(path,
                                 std::make_shared<MachineDevice>(w.machine, kLinuxDriverVersion));
  if (!TryOpen(w, kOsLinux, path)) {
    errorCode = kDrvErrNotFound;
  } else if (w.drv.DrvVersion < requiredVersion) {
    errorCode = kDrvErrTooOld;
  }
}

// The start on the system `kind`, without the steps common to all.
void LoadDriverFor(World& w, std::uint8_t kind, std::uint32_t requiredVersion,
                   std::uint32_t& errorCode, const LinuxStart& start) {
  // A simulated machine (/SIM) answers through its own device on every
  // system: no driver is looked for, copied or installed for it.
  if (kind == kOsLinux || w.machine) {
    LoadLinux(w, requiredVersion, errorCode, start);
    return;
  }
  // A Windows 95/98 driver that is already loaded is used as it is; an older
  // one cannot be replaced while it is loaded.
  if (kind == kOsWin95 || kind == kOsWin98) {
    if (TryOpen(w, kind, kVxdDevice)) {
      if (w.drv.DrvVersion < requiredVersion) errorCode = kDrvErrInUse;
      return;
    }
  }
  const Preparation p = Prepare(w, w.drv.DrvFileName);
  switch (kind) {
    case kOsWin95:
      LoadWin95(w, p, requiredVersion, errorCode);
      break;
    case kOsWin98:
      LoadWin98(w, p, requiredVersion, errorCode);
      break;
    case kOsWinNT:
      LoadWinNT(w, p, requiredVersion, errorCode);
      break;
    default:
      errorCode = kDrvErrNotFound;
      break;
  }
}

}  // namespace

LinuxStart DefaultLinuxStart() {
  LinuxStart s;
  // CPUID and the clock need no privilege, so this computer's back-end is
  // always there; a register that this user may not read is refused on its
  // own, with its reason.
  s.MakeHost = [](std::uint32_t&) { return MakeHostMachine(); };
  return s;
}

void LoadDriver(World& w, std::uint8_t kind, std::string_view fileName,
                std::uint32_t requiredVersion, std::uint32_t& errorCode) {
  LoadDriver(w, kind, fileName, requiredVersion, errorCode, DefaultLinuxStart());
}

void LoadMsrModuleOnce(World& w) {
  if (!w.drv.MsrModulePending) return;
  w.drv.MsrModulePending = false;
  if (w.platform->IsRoot() && !w.platform->PathExists(kMsrDevice)) LoadMsrModule(w);
}

void LoadDriver(World& w, std::uint8_t kind, std::string_view fileName,
                std::uint32_t requiredVersion, std::uint32_t& errorCode, const LinuxStart& start) {
  errorCode = 0;
  w.drv.DrvFileName = Cut(fileName);
  w.drv.Lock.reset();
  w.drv.MsrModulePending = false;
  LoadDriverFor(w, kind, requiredVersion, errorCode, start);
  // The lock of the registers this driver reaches: the register back-end's
  // own on Linux (none for a simulated machine), the system's on Windows.
  if (errorCode == 0) {
    w.drv.Lock = w.machine ? std::shared_ptr<RegisterLock>(w.machine->AnalysisLock())
                           : std::shared_ptr<RegisterLock>(w.platform->AnalysisLock());
  }
}

bool InstallService(World& w, std::string_view serviceName, std::string_view binaryPath,
                    std::uint32_t& failure) {
  Platform& os = *w.platform;
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

bool RemoveService(World& w, std::string_view serviceName) {
  Platform& os = *w.platform;
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

std::uint32_t InstallDriverNT(World& w, std::string_view binaryPath, std::uint32_t requiredVersion,
                              std::uint32_t& failure) {
  std::uint32_t code = kNtInstalled;
  failure = 0;
  if (!binaryPath.empty() && !InstallService(w, kNtServiceName, binaryPath, failure)) {
    code = kNtServiceFailed;
  } else if (DrvOpen(w, kOsWinNT, kNtDevice)) {
    if (w.drv.DrvVersion < requiredVersion) code = kNtTooOld;
  } else {
    code = kNtOpenFailed;
  }
  // A refused driver leaves neither an open device nor a service behind.
  if (code != kNtInstalled) {
    CloseDevice(w);
    RemoveService(w, kNtServiceName);
  }
  return code;
}

int DrvAsk(World& w, std::string_view text) {
  return w.platform->MessageBox("Warning", text, BoxButtons::OkCancel);
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

// On Windows NT the driver's service is stopped and deleted. Its device is
// closed first: a driver whose device is still open cannot stop, and the
// service would stay behind marked for deletion, refusing the next start.
// Elsewhere nothing is done: the Windows 95/98 driver goes when its handle
// closes at the end, and on Linux nothing runs outside the program.
void DrvUnload(World& w) {
  if (w.shell.OsKind != kOsWinNT || w.machine) return;
  CloseDevice(w);
  RemoveService(w, kNtServiceName);
}

}  // namespace torv
