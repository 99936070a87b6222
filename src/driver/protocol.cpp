// Placeholder bodies; replaced by the request protocol.
#include "driver/protocol.h"

#include "app/world.h"

namespace torv {
void EncodeRequest(const RequestBlock&, std::uint8_t (&out)[16]) {
  for (auto& b : out) b = 0;
}
RequestBlock DecodeRequest(const std::uint8_t (&)[16]) { return {}; }
bool DrvControl(World&, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, void*,
                std::uint32_t, const void*, std::size_t) {
  return false;
}
bool DrvOpen(World&, std::string_view) { return false; }
}  // namespace torv
