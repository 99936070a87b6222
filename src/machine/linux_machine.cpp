// Placeholder; replaced by the Linux back-end.
#include "machine/machine.h"

namespace torv {
std::shared_ptr<Machine> MakeLinuxMachine() { return nullptr; }
}  // namespace torv
