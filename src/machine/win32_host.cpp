// On Windows this computer's registers are reached through the kernel driver
// (KELVORNT.SYS or the VxD), never through a back-end of the program's own.
#include "machine/access.h"
#include "machine/machine.h"

namespace torv {

std::shared_ptr<Machine> MakeHostMachine() { return nullptr; }
std::shared_ptr<Machine> MakeLinuxMachine() { return nullptr; }

}  // namespace torv
