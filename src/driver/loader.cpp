// Placeholder bodies; replaced by the driver loader.
#include "driver/loader.h"

#include "app/world.h"

namespace torv {
void LoadDriver(World& w, std::uint8_t, std::string_view fileName, std::uint32_t,
                std::uint32_t& errorCode) {
  w.drv.DrvFileName = std::string(fileName);
  errorCode = 0;
}
std::string DrvErrorText(World&, std::uint32_t) { return ""; }
void DrvUnload(World&) {}
}  // namespace torv
