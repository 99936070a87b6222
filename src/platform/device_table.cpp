#include "platform/platform.h"

namespace torv {

void DeviceTable::Register(const std::string& path, std::shared_ptr<Device> dev) {
  named_[path] = std::move(dev);
}

void DeviceTable::Unregister(const std::string& path) { named_.erase(path); }

std::uint32_t DeviceTable::Open(const std::string& path, std::uint32_t& lastError) {
  auto it = named_.find(path);
  if (it == named_.end()) {
    lastError = kErrFileNotFound;
    return kInvalidHandle;
  }
  const std::uint32_t h = next_;
  next_ += 4;  // handles are multiples of four, as the system hands them out
  open_[h] = it->second;
  lastError = 0;
  return h;
}

void DeviceTable::Close(std::uint32_t handle) { open_.erase(handle); }

Device* DeviceTable::Get(std::uint32_t handle) const {
  auto it = open_.find(handle);
  return it == open_.end() ? nullptr : it->second.get();
}

}  // namespace torv
