// Placeholder bodies; replaced by the Pentium II analysis.
#include "app/world.h"
#include "p2/p2info.h"

namespace torv {
std::uint32_t WorkerThread(World&, std::int32_t) { return 0; }
void LoadTestCase(World&) {}
bool P2Report(World&, int) { return false; }
void Verdict(World&) {}
bool L2EccTest(World&, bool& ok) {
  ok = true;
  return false;
}
void P2Details(World&) {}
void L2RegReport(World&) {}
void MtrrReport(World&) {}
void MtrrLine(World&, std::uint16_t, const TMtrrPair&) {}
std::string MtrrTypeName(std::uint8_t) { return "??"; }
}  // namespace torv
