// Fuzzes torvacin-access's request handling: the parser on the input as one
// line, the record's words on it as an answer, and the serving loop over a
// simulated Klamath on the input as a stream of lines. Every answer must be
// one line of a known form, one per input line; a request that parses is
// written back as it was read; and a served sequence's record may hold only
// the analysis's own registers and the identification's ports.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "machine/access.h"
#include "machine/sim.h"
#include "p2/access_server.h"

namespace {

bool StartsWith(const std::string& s, std::string_view p) {
  return s.compare(0, p.size(), p) == 0;
}

// The registers the analysis reads and writes, and the ports of the Cyrix
// identification.
bool OfTheAnalysis(const torv::AccessStep& s) {
  const std::uint32_t r = s.Reg;
  switch (s.What) {
    case torv::AccessStep::ReadMsr:
      return r == 0x2A || r == 0x1E0 || r == 0xFE || (r >= 0x200 && r <= 0x20F) ||
             (r >= 0x88 && r <= 0x8B) || r == 0x116 || (r >= 0x118 && r <= 0x11B) || r == 0x11E;
    case torv::AccessStep::WriteMsr:
      return (r >= 0x88 && r <= 0x8B) || r == 0x116 || (r >= 0x118 && r <= 0x11A) || r == 0x11E;
    case torv::AccessStep::PortIn:
    case torv::AccessStep::PortOut:
      return r >= 0x21 && r <= 0x23;
    default:
      return s.What == torv::AccessStep::Cpuid;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  torv::AccessRequest r;
  if (torv::ParseAccessRequest(input, r)) {
    // Only short lines of printable words parse, and they mean one thing.
    if (input.size() > torv::kAccessMaxLine) std::abort();
    for (char c : input) {
      if (c <= ' ' && c != ' ') std::abort();
    }
    if (r.Cpu > torv::kAccessMaxCpu) std::abort();
    if (r.Op == torv::AccessOp::EccPass && (r.Cpu > torv::kAccessMaxEccCpu || r.EccMode > 2)) {
      std::abort();
    }
    if (torv::FormatAccessRequest(r) != input) std::abort();
  }
  std::vector<torv::AccessStep> steps;
  if (torv::ParseAccessSteps(input, steps) && torv::FormatAccessSteps(steps) != input) {
    // Hex digits are upper case without leading zeros when written: only
    // the words that are written so come back the same.
    std::vector<torv::AccessStep> again;
    if (!torv::ParseAccessSteps(torv::FormatAccessSteps(steps), again) || again != steps) {
      std::abort();
    }
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
    torv::AccessRequest q;
    const bool parsed = torv::ParseAccessRequest(line, q);
    if (a == "bad") {
      if (parsed) std::abort();
    } else if (!parsed) {
      std::abort();  // only a request is served or refused
    } else if (a == "ok" || StartsWith(a, "ok ")) {
      std::vector<torv::AccessStep> record;
      if (!torv::ParseAccessSteps(a.size() > 3 ? a.substr(3) : "", record)) std::abort();
      for (const torv::AccessStep& s : record) {
        if (!OfTheAnalysis(s)) std::abort();
      }
    } else if (a != "denied") {
      std::abort();  // a simulated machine has no lock to be busy and no error
    }
  }
  if (count != lines) std::abort();
  return 0;
}
