#include "platform/platform.h"

namespace torv {

// The thread unwinds as it ends, so what it holds is released.
void Platform::EndThread() { EndCurrentThread(); }

std::uint8_t MapWinVersion(const OsVersion& v) {
  switch (v.PlatformId) {
    case kVerPlatformWin32Windows:
      return v.Major == 4 && v.Minor > 1 ? kOsWin98 : kOsWin95;
    case kVerPlatformWin32NT:
      return kOsWinNT;
    case kVerPlatformWin32s:
      return kOsWin32s;
    default:
      return kOsOther;
  }
}

void DeviceTable::Register(const std::string& path, std::shared_ptr<Device> dev) {
  named_[path] = std::move(dev);
}

void DeviceTable::Unregister(const std::string& path) { named_.erase(path); }

std::uint32_t DeviceTable::Open(const std::string& path, std::uint32_t& lastError) {
  std::shared_ptr<Device> dev;
  auto it = named_.find(path);
  if (it != named_.end()) {
    dev = it->second;
  } else if (resolver_) {
    lastError = kErrFileNotFound;
    dev = resolver_(path, lastError);
  }
  if (!dev) {
    if (!resolver_) lastError = kErrFileNotFound;
    return kInvalidHandle;
  }
  const std::uint32_t h = next_;
  next_ += 4;  // handles are multiples of four, as the system hands them out
  open_[h] = std::move(dev);
  lastError = 0;
  return h;
}

void DeviceTable::Close(std::uint32_t handle) { open_.erase(handle); }

Device* DeviceTable::Get(std::uint32_t handle) const {
  auto it = open_.find(handle);
  return it == open_.end() ? nullptr : it->second.get();
}

}  // namespace torv
