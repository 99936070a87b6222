// Placeholder; replaced by the identification profiles.
#include "machine/machine.h"

namespace torv {
std::vector<CatalogueEntry> IdentificationCatalogue() { return {}; }
}  // namespace torv
