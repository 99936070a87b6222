#include "driver/journal.h"

#include <charconv>
#include <cstdio>

#include "driver/context.h"
#include "driver/hw.h"
#include "report/shortstr.h"

namespace torv {

namespace {

std::string Hex(std::uint64_t v, int digits) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%0*llX", digits, static_cast<unsigned long long>(v));
  return buf;
}

// The next line of `text` from `at` (without its end); false at the end.
bool NextLine(std::string_view text, std::size_t& at, std::string_view& line) {
  if (at >= text.size()) return false;
  const std::size_t end = text.find('\n', at);
  if (end == std::string_view::npos) return false;  // every line ends
  line = text.substr(at, end - at);
  at = end + 1;
  return true;
}

bool ParseHex(std::string_view s, std::uint64_t& v) {
  if (s.empty() || s.size() > 16) return false;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v, 16);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

}  // namespace

std::string FormatJournal(const RegisterJournal& journal) {
  std::string out = "cpu " + std::to_string(journal.Cpu) + "\n";
  out += "sequence " + journal.Sequence + "\n";
  for (const JournalEntry& e : journal.Entries) {
    out += e.What;
    out += ' ' + Hex(e.Reg, 8) + ' ' + Hex(e.Value, 16) + '\n';
  }
  return out;
}

bool ParseJournal(std::string_view text, RegisterJournal& journal) {
  RegisterJournal j;
  std::size_t at = 0;
  std::string_view line;
  if (!NextLine(text, at, line) || !line.starts_with("cpu ")) return false;
  const std::string_view cpu = line.substr(4);
  const auto r = std::from_chars(cpu.data(), cpu.data() + cpu.size(), j.Cpu);
  if (r.ec != std::errc() || r.ptr != cpu.data() + cpu.size() || j.Cpu < 1 || j.Cpu > 64) {
    return false;
  }
  if (!NextLine(text, at, line) || !line.starts_with("sequence ")) return false;
  j.Sequence = std::string(line.substr(9));
  while (NextLine(text, at, line)) {
    if (line.size() != 1 + 1 + 8 + 1 + 16 || (line[0] != 'M' && line[0] != 'P') || line[1] != ' ' ||
        line[10] != ' ') {
      return false;
    }
    JournalEntry e;
    e.What = line[0];
    std::uint64_t reg = 0;
    if (!ParseHex(line.substr(2, 8), reg) || !ParseHex(line.substr(11), e.Value)) return false;
    if (e.What == JournalEntry::Port && (reg > 0xFFFF || e.Value > 0xFF)) return false;
    e.Reg = static_cast<std::uint32_t>(reg);
    j.Entries.push_back(e);
  }
  if (at != text.size() || j.Entries.empty()) return false;
  journal = std::move(j);
  return true;
}

JournalScope::JournalScope(const DriverContext& ctx, const RegisterJournal& journal) : ctx_(ctx) {
  JournalStore* store = ctx.platform.Journal();
  if (!ctx.drv.KeepsJournal || store == nullptr) return;
  std::string error;
  kept_ = store->Save(FormatJournal(journal), error);
  // Without a journal the analysis still puts everything back itself; only
  // a kill in between would go unnoticed.
  if (!kept_) {
    ctx.platform.ErrorLine("torvacin: no journal of the " + journal.Sequence + " can be kept (" +
                           error + "); going on without");
  }
}

void JournalScope::Close() {
  if (!kept_) return;
  kept_ = false;
  if (JournalStore* store = ctx_.platform.Journal()) store->Clear();
}

void RestoreLeftJournal(const DriverContext& ctx) {
  JournalStore* store = ctx.platform.Journal();
  if (!ctx.drv.KeepsJournal || store == nullptr) return;
  const std::string text = store->Load();
  if (text.empty()) return;
  RegisterJournal j;
  if (!ParseJournal(text, j)) {
    // Cut short while it was written, before the first change.
    ctx.platform.ErrorLine(
        "torvacin: an unreadable journal of an earlier analysis was dropped (it was cut short "
        "before anything was changed)");
    store->Clear();
    return;
  }
  const int own = ctx.hw.CurrentCpu;
  if (j.Cpu != own) DrvSetCpu(ctx, static_cast<std::uint32_t>(j.Cpu));
  bool ok = true;
  int changed = 0;
  int ports = 0;
  for (const JournalEntry& e : j.Entries) {
    std::uint32_t status = 0;
    const auto lo = static_cast<std::uint32_t>(e.Value);
    const auto hi = static_cast<std::uint32_t>(e.Value >> 32);
    if (e.What == JournalEntry::Port) {
      // Written in the journal's order, unread: an index port's write
      // selects the register that the next write reaches.
      PortOut(ctx, static_cast<std::uint16_t>(e.Reg), static_cast<std::uint8_t>(e.Value));
      ++ports;
      continue;
    }
    std::uint32_t nowLo = 0, nowHi = 0;
    ReadMsrRaw(ctx, e.Reg, nowLo, nowHi, status);
    if (status == 0 && nowLo == lo && nowHi == hi) continue;
    WriteMsrRaw(ctx, e.Reg, lo, hi, status);
    if (status != 0) ok = false;
    ++changed;
  }
  if (j.Cpu != own) DrvSetCpu(ctx, static_cast<std::uint32_t>(own));
  const std::string what = "an earlier analysis of processor " + std::to_string(j.Cpu) +
                           " ended in the middle of its changes of the " + j.Sequence;
  if (!ok) {
    std::string text2 = what +
                        ", and its values could not all be put back: the journal is "
                        "kept, nothing was analysed";
    ctx.platform.ErrorLine("torvacin: " + text2 + " (exit status " + std::to_string(kExitMsrWrite) +
                           ")");
    text2[0] = 'A';
    if (ctx.hw.FatalText.empty()) ctx.hw.FatalText = Cut(text2);
    AbruptEnd(ctx, kExitMsrWrite);
  }
  store->Clear();
  const std::size_t regs = j.Entries.size() - static_cast<std::size_t>(ports);
  std::string putBack;
  if (regs > 0) {
    putBack = std::to_string(changed) + " of " + std::to_string(regs) +
              " values differed from those it had found and were put back";
  }
  if (ports > 0) {
    putBack += (putBack.empty() ? "" : ", and ") + std::string("its ") + std::to_string(ports) +
               (ports == 1 ? " port write that puts back what it had found was made"
                           : " port writes that put back what it had found were made");
  }
  const std::string told =
      "ound in its journal: " + what + "; " + putBack + " before this analysis";
  ctx.hw.JournalNote = "F" + told;
  ctx.platform.ErrorLine("torvacin: f" + told);
}

}  // namespace torv
