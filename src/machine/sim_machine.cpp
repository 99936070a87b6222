// Placeholder; replaced by the simulated machine.
#include "machine/machine.h"

namespace torv {
std::shared_ptr<Machine> MakeSimMachine(const std::string& nameOrPath, std::string& error) {
  error = "no simulated machine " + nameOrPath;
  return nullptr;
}
std::vector<CatalogueEntry> Catalogue() { return {}; }
}  // namespace torv
