// /DUMP: every processor analysed as for its report, and what the analysis
// read written as a profile. The analysis runs as it always does (no register
// beyond its own, all of them put back); the dump adds only CPUID requests,
// which change nothing, for the leaves the identification does not ask for.
#include "app/dump.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "app/form.h"
#include "app/settings.h"
#include "app/usage.h"
#include "machine/machine.h"
#include "report/utility.h"

namespace torv {

namespace {

// The analysis thread takes the processor's number in four bits.
constexpr int kDumpMaxProcessors = 15;
constexpr std::uint32_t kSerialLeaf = 3;  // the Pentium III serial number
constexpr std::uint32_t kExtendedLeaves = 0x80000000u;
// Leaves read at most in each range: more than any processor has.
constexpr std::uint32_t kLeavesPerRange = 0x80;
constexpr std::uint8_t kCcr4 = 0xE8;
constexpr std::uint32_t kCcr4Cpuid = 0x80;  // CPUID enabled

std::uint64_t Msr(std::uint32_t hi, std::uint32_t lo) {
  return static_cast<std::uint64_t>(hi) << 32 | lo;
}

// The CPUID leaves the identification does not read: every standard and
// extended leaf the processor has. On the analysis thread, bound to it.
std::vector<CpuidAnswer> ReadLeaves(World& w, bool allLeaves) {
  std::vector<CpuidAnswer> answers;
  auto read = [&](std::uint32_t leaf, bool keep) {
    CpuidRegs r;
    bool ok = false;
    DrvCpuid(w.ForDriver(), leaf, r, ok);
    if (keep) answers.push_back({leaf, ok, {r.Eax, r.Ebx, r.Ecx, r.Edx}});
    return ok ? r.Eax : 0u;
  };
  const std::uint32_t last = read(0, true);
  if (answers.empty() || !answers.front().Ok) return answers;
  for (std::uint32_t leaf = 1; leaf <= last && leaf < kLeavesPerRange; ++leaf) {
    if (leaf != kSerialLeaf || allLeaves) read(leaf, true);
  }
  // A processor without extended leaves answers 80000000h with a standard
  // leaf's values: the leaf is taken only when it names an extended range.
  const std::uint32_t lastExtended = read(kExtendedLeaves, false);
  if (lastExtended < kExtendedLeaves || lastExtended >= kExtendedLeaves + kLeavesPerRange) {
    return answers;
  }
  for (std::uint32_t leaf = kExtendedLeaves; leaf <= lastExtended; ++leaf) read(leaf, true);
  return answers;
}

}  // namespace

DumpRequest WantsDump(const std::vector<std::string>& args) {
  DumpRequest request = DumpRequest::None;
  for (const std::string& arg : args) {
    const std::string a = UpperStr(arg);
    if (a == "/DUMP=ALL") request = DumpRequest::All;
    if (a == "/DUMP" && request == DumpRequest::None) request = DumpRequest::Standard;
  }
  return request;
}

SimProcessor DumpedProcessor(const ProcessorReadings& r, bool allLeaves,
                             std::vector<std::string>& notes) {
  SimProcessor p;
  if (!r.Ran) {
    notes.push_back("its analysis thread could not be started: nothing was read");
    return p;
  }
  const TP2Info& info = r.Info;
  const TCpuInfo& ci = info.Cpu;
  if (r.ExitCode == kExitCpuidFault && r.FatalCode == 0) {
    notes.push_back("the processor could not be reached: nothing was read");
    return p;
  }

  // CPUID: present from the start, switched on by the Cyrix identification
  // (CCR4 bit 7) for its own requests, or missing.
  bool anyOk = false;
  const bool firstOk = !r.Leaves.empty() ? r.Leaves.front().Ok
                                          : !r.Identity.Cpuid.empty() && r.Identity.Cpuid[0].Ok;
  for (const std::vector<CpuidAnswer>* list : {&r.Leaves, &r.Identity.Cpuid}) {
    for (const CpuidAnswer& a : *list) {
      if (!a.Ok) continue;
      anyOk = true;
      if (a.Leaf != kSerialLeaf || allLeaves) p.Cpuid[a.Leaf] = a.Regs;
    }
  }
  const auto ccr4 = r.Identity.CyrixRegs.find(kCcr4);
  if (!anyOk) {
    p.CpuidMode = SimCpuidMode::Off;
  } else if (!firstOk && ccr4 != r.Identity.CyrixRegs.end() && (ccr4->second & kCcr4Cpuid) == 0) {
    p.CpuidMode = SimCpuidMode::Cyrix;
  }
  p.DivFlagsUnchanged = r.Identity.DivisionLeavesFlags.value_or(false);

  // The clock is measured once CPUID showed a time-stamp counter.
  const bool measured = ci.CpuidOk && Bits(ci.Features, kFeatTsc) != 0;
  if (measured) p.ClockHz = static_cast<std::uint64_t>(std::llround(r.ClockHz));

  const bool pentiumII = ci.ClassCode == kClassPentiumII;
  const bool analysed = measured && (pentiumII || ci.ClassCode == kClassPPro) &&
                        (r.FatalCode != 0 || r.ExitCode == kExitFinished ||
                         r.ExitCode == kExitL2Access || r.ExitCode == kExitL2Config);
  if (!analysed) return p;
  if (r.FatalCode == kExitMsrRead) {
    // Which registers were read before the failure is not known: none is
    // given, and a replay fails as this machine did.
    p.MsrDenied = true;
    notes.push_back(r.FatalText + ": no register is in this profile");
    return p;
  }
  // A published dump's machine: what it did not hold stays out of the
  // profile, which replays as a published dump's (nothing of it is read).
  const DumpGaps& gaps = r.NotInDump;
  const bool fromDump = gaps.AnyRegister() || gaps.EccTest;
  if (fromDump) {
    p.FromDump = true;
    p.DumpL2Config = !gaps.L2Regs;
    p.DumpEccTest = !gaps.Ctl3 && !gaps.EccTest;
    notes.push_back("a published dump's machine: the registers it did not hold are not in "
                    "this profile either");
  }
  const auto put = [&p, fromDump](std::uint32_t reg, std::uint32_t hi, std::uint32_t lo) {
    p.Msr[reg] = Msr(hi, lo);
    if (fromDump && IsStartRegister(reg)) p.DumpMsrs.insert(reg);
  };
  // EBL_CR_POWERON and 1E0h come first; BBL_CR_CTL3 before the ECC test.
  if (!gaps.PowerOn) put(kMsrPowerOn, info.PowerOnHi, info.PowerOnLo);
  if (!gaps.Msr1E0) put(kMsr1E0, info.Msr1E0Hi, info.Msr1E0Lo);
  if (pentiumII && !gaps.Ctl3) put(kMsrBblCtl3, info.Ctl3Hi, info.Ctl3Lo);
  if (r.FatalCode == kExitMsrWrite) {
    p.MsrReadOnly = true;
    notes.push_back(r.FatalText + ": the cache registers and memory ranges are not in this profile");
    return p;
  }
  if (r.ExitCode == kExitL2Access || r.ExitCode == kExitL2Config) {
    p.L2BusyStuck = true;
    notes.push_back(r.ExitCode == kExitL2Access
                        ? "the second-level cache did not answer its ECC test: its result, the "
                          "cache registers and memory ranges are not in this profile"
                        : "the cache configuration registers could not be read (here the ECC "
                          "test already fails): they and the memory ranges are not in this "
                          "profile");
    return p;
  }
  if (pentiumII) {
    for (std::size_t i = 0; i < p.L2Reg.size(); ++i) p.L2Reg[i] = info.L2Regs[i];
    if (info.L2Present && r.NoL2) {
      notes.push_back("the ECC test did not run (/NOL2): its result is not in this profile");
    }
    p.L2Ecc = info.EccPresent;
  }
  if (gaps.Mtrrs) return p;
  put(kMsrMtrrCap, info.MtrrCapHi, info.MtrrCapLo);
  const std::uint32_t ranges = Bits(info.MtrrCapLo, kMtrrCapCount);
  for (std::uint32_t i = 0; i < ranges && i < info.VarMtrr.size(); ++i) {
    const TMtrrPair& pair = info.VarMtrr[i];
    put(kMsrMtrrBase0 + 2 * i, pair.BaseHi, pair.BaseLo);
    put(kMsrMtrrBase0 + 2 * i + 1, pair.MaskHi, pair.MaskLo);
  }
  return p;
}

int RunDump(World& w, const std::vector<std::string>& args, ConsoleOutput& out, std::FILE* err,
            const std::string& date) {
  NameIgnoredSwitches(args, err);
  const bool allLeaves = WantsDump(args) == DumpRequest::All;
  ConsoleView view;
  TForm1 form(w, view);
  form.InitDrv();
  if (form.Ended) {
    form.formDestroy();
    return out.Finish(form.ExitCode, err);
  }
  ParseSwitches(w.settings, w.report, w.util, "", args);
  // This machine, not a test configuration; no ECC pass.
  w.settings.TestNo = 0;
  ReportInit(w.report, form.ListBox1, false, true, true);
  const bool simulated = w.machine && !w.machine->BindsHostThreads();
  const int count = std::min(w.shell.ProcessorCount, kDumpMaxProcessors);

  SimProfile profile;
  std::vector<std::vector<std::string>> notes;
  std::string firstProcessor = "this computer";  // the name of a real machine's profile
  int status = 0;
  for (int proc = 1; proc <= count; ++proc) {
    ReportClear(w.report);
    w.hw.FatalCode = 0;
    w.hw.FatalText.clear();
    w.p2.P2Info = TP2Info{};
    ProcessorReadings r;
    r.NoL2 = w.settings.OptNoL2;
    r.Ran = w.platform->RunBoundThread(
        simulated ? 0 : proc,
        [&] {
          DrvSetCpu(w.ForDriver(), static_cast<std::uint32_t>(proc));
          r.Leaves = ReadLeaves(w, allLeaves);
          return WorkerThread(w.ForP2(), proc);
        },
        r.ExitCode);
    r.Identity = w.cpu.Readings;
    r.Info = w.p2.P2Info;
    r.ClockHz = w.hw.CpuClockHz;
    r.FatalCode = w.hw.FatalCode;
    r.FatalText = w.hw.FatalText;
    r.NotInDump = w.p2.NotInDump;
    const TCpuInfo& ci = r.Info.Cpu;
    if (proc == 1 && ci.CpuidOk) {
      firstProcessor = std::string(ci.Vendor.view()) + " family " + DecStr(ci.Family) +
                       " model " + DecStr(ci.Model) + " stepping " + DecStr(ci.Stepping);
    }
    notes.emplace_back();
    profile.Processors.push_back(DumpedProcessor(r, allLeaves, notes.back()));
    // A register failure has its line on the error stream already.
    if (r.FatalCode == 0) {
      for (const std::string& n : notes.back()) {
        std::fprintf(err, "torvacin: processor %d: %s\n", proc, VisibleText(n).c_str());
      }
    }
    if (status == 0 && r.FatalCode != 0) status = r.FatalCode;
    if (status == 0 && (r.ExitCode == kExitL2Access || r.ExitCode == kExitL2Config)) {
      status = kExitIncomplete;
    }
    // The configuration registers and the port check are the machine's.
    for (const auto& [index, value] : r.Identity.CyrixRegs) {
      if (value != 0xFF) profile.CyrixBank = true;
    }
    if (r.Identity.PicMirrored) profile.PicMirrored = true;
    for (const auto& [index, value] : r.Identity.CyrixRegs) {
      if (profile.CyrixRegs[index] == 0) profile.CyrixRegs[index] = value;
    }
  }
  // A bank that answered FFh everywhere is no bank: ports read FFh without it.
  if (!profile.CyrixBank) profile.CyrixRegs.fill(0);
  form.formDestroy();

  const std::string version(kVersion);
  std::vector<std::string> comments = {
      "torvacin " + version + " /DUMP" + (allLeaves ? "=ALL" : "") +
          (simulated ? " of the simulated machine " + w.machine->Name() : " of this computer") +
          ", " + date,
      "A simulated machine's profile: torvacin /SIM=FILE replays it."};
  if (!allLeaves) {
    comments.push_back("CPUID leaf 3 (the processor serial number) is left out; /DUMP=ALL "
                       "writes it.");
  }
  if (w.shell.ProcessorCount > count) {
    const std::string line =
        count + 1 == w.shell.ProcessorCount
            ? "processor " + std::to_string(count + 1) + " is not in this profile"
            : "processors " + std::to_string(count + 1) + " to " +
                  std::to_string(w.shell.ProcessorCount) + " are not in this profile";
    comments.push_back(line);
    std::fprintf(err, "torvacin: %s\n", line.c_str());
  }
  profile.Description = simulated ? w.machine->Description() : "Dump of " + firstProcessor;
  std::fflush(err);
  out.Write(WriteProfile(profile, comments, notes));
  return out.Finish(status, err);
}

int RunDump(World& w, const std::vector<std::string>& args, ConsoleOutput& out, std::FILE* err) {
  const std::time_t now = std::time(nullptr);
  char date[32] = "";
  if (const std::tm* t = std::gmtime(&now)) std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", t);
  return RunDump(w, args, out, err, date);
}

}  // namespace torv
