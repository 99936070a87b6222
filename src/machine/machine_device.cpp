// Placeholder bodies; replaced by the protocol server.
#include "machine/machine.h"

namespace torv {
MachineDevice::MachineDevice(std::shared_ptr<Machine> machine, std::uint16_t version)
    : machine_(std::move(machine)), version_(version) {}
DevResult MachineDevice::Control(std::uint32_t, const std::uint8_t (&)[16], const void*,
                                 std::size_t, void*, std::uint32_t) {
  return {false, kErrInvalidFunction};
}
std::string MachineDevice::DescribeError(std::uint32_t) const { return ""; }
}  // namespace torv
