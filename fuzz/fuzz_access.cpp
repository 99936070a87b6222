// Fuzzes torvacin-access's request handling: the parser on the input as one
// line, and the serving loop over a simulated Klamath on the input as a
// stream of lines. Every answer must be one line of a known form, one per
// input line, and nothing outside the allow-list (and the analysis lock's
// "lock" and "unlock") may be served.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "machine/access.h"
#include "machine/sim.h"

namespace {

bool StartsWith(const std::string& s, std::string_view p) {
  return s.compare(0, p.size(), p) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  torv::AccessRequest r;
  if (torv::ParseAccessRequest(input, r)) {
    // Only short lines of printable words parse.
    if (input.size() > torv::kAccessMaxLine) std::abort();
    for (char c : input) {
      if (c <= ' ' && c != ' ') std::abort();
    }
    if (r.Cpu > torv::kAccessMaxCpu) std::abort();
    if ((r.Op == torv::AccessOp::PortIn || r.Op == torv::AccessOp::PortOut) && r.Reg > 0xFFFF) {
      std::abort();
    }
    if (r.Op == torv::AccessOp::PortOut && r.Lo > 0xFF) std::abort();
  }

  torv::SimProfile profile;
  std::string error;
  if (!torv::ParseProfile(torv::FindCatalogueProfile("p2-300"), "p2-300", profile, error)) {
    std::abort();
  }
  auto machine = torv::MakeSimMachine(profile);
  torv::AccessServer server(*machine);
  std::istringstream in(input);
  std::ostringstream out;
  server.Serve(in, out);

  // One answer per line of input (a last line without its end counts).
  std::size_t lines = 0;
  for (char c : input) lines += c == '\n';
  if (!input.empty() && input.back() != '\n') ++lines;
  std::istringstream answers(out.str());
  std::string a;
  std::size_t count = 0;
  std::size_t start = 0;
  while (std::getline(answers, a)) {
    const std::size_t end = input.find('\n', start);
    const std::string line =
        input.substr(start, end == std::string::npos ? std::string::npos : end - start);
    start = end == std::string::npos ? input.size() : end + 1;
    ++count;
    if (a.size() > 200) std::abort();
    if (a != "bad" && a != "denied" && a != "ok" && a != "busy" && !StartsWith(a, "ok ") &&
        !StartsWith(a, "error ")) {
      std::abort();
    }
    const bool lock = line == "lock" || line == "unlock";
    if (a == "busy" && line != "lock") std::abort();
    // A served request was one of the list.
    if (!lock && (a == "ok" || StartsWith(a, "ok ") || StartsWith(a, "error "))) {
      torv::AccessRequest q;
      if (!torv::ParseAccessRequest(line, q) || !torv::AccessAllowed(q.Op, q.Reg)) std::abort();
    }
  }
  if (count != lines) std::abort();
  return 0;
}
