#include "platform/fake_platform.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace torv {

namespace {

constexpr std::uint32_t kReqIdentify = 1;
constexpr std::uint32_t kReqVersion = 101;
constexpr std::uint32_t kErrInvalidHandle = 6;
constexpr const char* kDevicePrefix = "\\\\.\\";

// The device of a loaded driver file. The NT driver reports its version in
// one word, the Windows 95/98 driver as major and minor.
class FakeDriverDevice : public Device {
 public:
  FakeDriverDevice(const FakeDriverFile& file, bool ntForm) : file_(file), ntForm_(ntForm) {}

  DevResult Control(std::uint32_t, const std::uint8_t (&in)[16], const void*, std::size_t,
                    void* out, std::uint32_t outLen) override {
    const std::uint32_t func = static_cast<std::uint32_t>(in[0]) |
                               static_cast<std::uint32_t>(in[1]) << 8 |
                               static_cast<std::uint32_t>(in[2]) << 16 |
                               static_cast<std::uint32_t>(in[3]) << 24;
    std::uint32_t words[2] = {0, 0};
    if (func == kReqIdentify) {
      words[0] = file_.Identity;
    } else if (func == kReqVersion) {
      words[0] = ntForm_ ? file_.Version : file_.Version >> 8;
      words[1] = ntForm_ ? 0 : file_.Version & 0xFF;
    }
    if (out != nullptr) {
      std::memcpy(out, words, outLen < sizeof words ? outLen : sizeof words);
    }
    return {true, 0};
  }
  std::string DescribeError(std::uint32_t) const override { return ""; }

 private:
  FakeDriverFile file_;
  bool ntForm_;
};

}  // namespace

FakePlatform::FakePlatform() {
  devices_.SetResolver(
      [this](const std::string& path, std::uint32_t& lastError) { return Resolve(path, lastError); });
}

int FakePlatform::MessageBox(std::string_view title, std::string_view text, BoxButtons buttons) {
  Boxes.push_back({std::string(title), std::string(text), buttons});
  if (BoxAnswers.empty()) return kIdOk;
  const int a = BoxAnswers.front();
  BoxAnswers.pop_front();
  return a;
}

bool FakePlatform::SaveDialog(std::string& name) {
  if (!SaveDialogResult) return false;
  if (!SaveDialogName.empty()) name = SaveDialogName;
  return true;
}

bool FakePlatform::RunBoundThread(int proc, const std::function<std::uint32_t()>& body,
                                  std::uint32_t& exitCode) {
  if (FailThreads || proc < 0) return false;
  BoundProcs.push_back(proc);
  std::uint32_t code = 0;
  if (!RunOnNewThread([&] { code = body(); })) return false;
  exitCode = code;
  return true;
}

void FakePlatform::ExitProcess(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(code);
}

// Opening a device loads its driver: the NT device of the running service,
// the already loaded VxD, a VxD by full path, or by file name from the
// system and Windows directories.
std::shared_ptr<Device> FakePlatform::Resolve(const std::string& path, std::uint32_t& lastError) {
  lastError = kErrFileNotFound;
  const std::string prefix = kDevicePrefix;
  if (path.compare(0, prefix.size(), prefix) != 0) return nullptr;
  const std::string rest = path.substr(prefix.size());
  if (rest == "Dev_KelvorNT") {
    for (const auto& [name, service] : Services) {
      if (!service.Running) continue;
      if (NtDeviceHeld) {
        lastError = kErrorAccessDenied;
        return nullptr;
      }
      const auto f = Files.find(service.Config.BinaryPath);
      if (f != Files.end()) return std::make_shared<FakeDriverDevice>(f->second, true);
    }
    return nullptr;
  }
  if (rest == "kelvor95") {
    if (!LoadedVxd) return nullptr;
    return std::make_shared<FakeDriverDevice>(*LoadedVxd, false);
  }
  std::vector<std::string> places;
  if (rest.find('\\') != std::string::npos) {
    places.push_back(rest);
  } else {
    places.push_back(SysDir + "\\" + rest);
    places.push_back(WinDir + "\\" + rest);
  }
  for (const std::string& p : places) {
    const auto f = Files.find(p);
    if (f == Files.end()) continue;
    LoadedVxd = f->second;
    return std::make_shared<FakeDriverDevice>(f->second, false);
  }
  return nullptr;
}

std::int32_t FakePlatform::FileAge(const std::string& path) {
  const auto f = Files.find(path);
  return f == Files.end() ? -1 : f->second.Date;
}

bool FakePlatform::CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
  const auto f = Files.find(from);
  if (f == Files.end()) return Fail(kErrFileNotFound);
  if (FailCopiesTo.count(to) != 0) return Fail(kErrorAccessDenied);
  if (failIfExists && Files.count(to) != 0) return Fail(kErrFileExists);
  Files[to] = f->second;
  Copies.push_back(from + " -> " + to);
  lastError_ = 0;
  return true;
}

std::string FakePlatform::UniversalName(const std::string& path) {
  if (path.size() < 2 || path[1] != ':') return path;
  const auto d = NetworkDrives.find(
      static_cast<char>(std::toupper(static_cast<unsigned char>(path[0]))));
  return d == NetworkDrives.end() ? path : d->second + path.substr(2);
}

std::uintptr_t FakePlatform::OpenSCManager(std::uint32_t) {
  if (ScmDenied) return Fail(kErrorAccessDenied);
  const std::uintptr_t h = nextScHandle_++;
  serviceHandles_[h] = "";
  ++OpenScHandles;
  return h;
}

std::uintptr_t FakePlatform::CreateService(std::uintptr_t scm, const ServiceConfig& config) {
  const auto m = serviceHandles_.find(scm);
  if (m == serviceHandles_.end() || !m->second.empty()) return Fail(kErrInvalidHandle);
  if (CreateServiceError != 0) return Fail(CreateServiceError);
  const auto s = Services.find(config.Name);
  if (s != Services.end()) {
    return Fail(s->second.MarkedForDelete ? kErrServiceMarkedForDelete : kErrServiceExists);
  }
  Services[config.Name].Config = config;
  ScmLog.push_back("create " + config.Name + " " + config.BinaryPath);
  const std::uintptr_t h = nextScHandle_++;
  serviceHandles_[h] = config.Name;
  ++OpenScHandles;
  return h;
}

std::uintptr_t FakePlatform::OpenService(std::uintptr_t scm, const std::string& name,
                                         std::uint32_t) {
  const auto m = serviceHandles_.find(scm);
  if (m == serviceHandles_.end() || !m->second.empty()) return Fail(kErrInvalidHandle);
  if (Services.count(name) == 0) return Fail(kErrServiceDoesNotExist);
  const std::uintptr_t h = nextScHandle_++;
  serviceHandles_[h] = name;
  ++OpenScHandles;
  return h;
}

std::map<std::string, FakeService>::iterator FakePlatform::ServiceOf(std::uintptr_t handle) {
  const auto h = serviceHandles_.find(handle);
  if (h == serviceHandles_.end() || h->second.empty()) {
    Fail(kErrInvalidHandle);
    return Services.end();
  }
  const auto s = Services.find(h->second);
  if (s == Services.end()) Fail(kErrServiceDoesNotExist);
  return s;
}

bool FakePlatform::StartService(std::uintptr_t service) {
  const auto s = ServiceOf(service);
  if (s == Services.end()) return false;
  if (s->second.Running) return Fail(kErrServiceAlreadyRunning);
  if (Files.count(s->second.Config.BinaryPath) == 0) return Fail(kErrFileNotFound);
  s->second.Running = true;
  ScmLog.push_back("start " + s->first);
  return true;
}

bool FakePlatform::ControlService(std::uintptr_t service, std::uint32_t control) {
  const auto s = ServiceOf(service);
  if (s == Services.end()) return false;
  if (control != kServiceControlStop || !s->second.Running) return Fail(kErrServiceNotActive);
  s->second.Running = false;
  ScmLog.push_back("stop " + s->first);
  if (s->second.MarkedForDelete) Services.erase(s);
  return true;
}

bool FakePlatform::DeleteService(std::uintptr_t service) {
  const auto s = ServiceOf(service);
  if (s == Services.end()) return false;
  if (s->second.MarkedForDelete) return Fail(kErrServiceMarkedForDelete);
  ScmLog.push_back("delete " + s->first);
  // A running service goes when it stops.
  if (s->second.Running) {
    s->second.MarkedForDelete = true;
  } else {
    Services.erase(s);
  }
  return true;
}

void FakePlatform::CloseServiceHandle(std::uintptr_t handle) {
  if (serviceHandles_.erase(handle) != 0) --OpenScHandles;
}

int FakePlatform::RunProgram(const std::vector<std::string>& argv) {
  Ran.push_back(argv);
  ExistingPaths.insert(PathsAfterRun.begin(), PathsAfterRun.end());
  return RunStatus;
}

}  // namespace torv
