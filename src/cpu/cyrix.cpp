// Identification of Cyrix designs through their configuration registers
// (index at port 22h, data at port 23h), with or without CPUID.
#include <array>
#include <optional>
#include <string>

#include "cpu/cpuinfo.h"
#include "driver/context.h"
#include "driver/hw.h"
#include "driver/journal.h"
#include "machine/machine.h"
#include "machine/port_io.h"
#include "report/utility.h"

namespace torv {

namespace {

constexpr std::uint16_t kPicMask = 0x21;  // interrupt mask of the primary controller
constexpr std::uint16_t kCyrixIndex = 0x22;
constexpr std::uint16_t kCyrixData = 0x23;

constexpr std::uint8_t kCcr0 = 0xC0;
constexpr std::uint8_t kCcr3 = 0xC3;
constexpr std::uint8_t kCcr4 = 0xE8;
constexpr std::uint8_t kCcr5 = 0xE9;
constexpr std::uint8_t kDir0 = 0xFE;
constexpr std::uint8_t kDir1 = 0xFF;
constexpr std::uint8_t kCcr3Mapen = 0x10;  // opens CCR4 and CCR5
constexpr std::uint8_t kCcr4Cpuid = 0x80;  // CPUID instruction enabled

// Gives slow bus hardware time between port accesses: a byte counter from 1
// up to 101. The counter is volatile so that the loop is kept.
void SettleDelay() {
  volatile std::uint8_t i = 1;
  while (i <= 100) {
    i = static_cast<std::uint8_t>(i + 1);
  }
}

// Names by DIR0 for single values.
struct Dir0Name {
  std::uint8_t Dir0;
  const char* Name;
  const char* Suffix;
};
constexpr auto kDir0Names = std::to_array<Dir0Name>({
    {0x00, "Cx486??", ""},        {0x01, "Cx486DLC", ""},     {0x02, "Cx486SLC2", ""},
    {0x03, "Cx486DLC2", ""},      {0x04, "Cx486SRx", ""},     {0x05, "Cx486DRx", ""},
    {0x06, "Cx486SRx2", ""},      {0x07, "Cx486DRx2", ""},    {0x10, "Cx486S (B)", ""},
    {0x11, "Cx486S2 (B)", ""},    {0x12, "Cx486Se (B)", ""},  {0x13, "Cx486S2e (B)", ""},
    {0x1A, "Cx486DX", ""},        {0x1B, "Cx486DX2", ""},     {0x1F, "Cx486DX4", ""},
    {0x8F, "TIdx4", ""},          {0xFD, "Cx486SLC/DLC", ""}, {0xFE, "Cx486S (A)", ""},
    {0xFF, "Cx486SLC", "/DLC/S"},
});

// Clock ratios of the 6x86 (DIR0 AND 5) and of the 6x86MX (DIR0 AND 7).
constexpr auto kM1Ratio =
    std::to_array<const char*>({" 1:1", " 2:1", "", "", " 4:1", " 3:1", "", ""});
static_assert(kM1Ratio.size() == 8, "one text per 3-bit code");
constexpr auto kM2Ratio =
    std::to_array<const char*>({"", " 2:1", " 2.5:1", " 3:1", " 3.5:1", "", "", ""});
static_assert(kM2Ratio.size() == 8, "one text per 3-bit code");

// Sets CpuName and the first part of NameSuffix from DIR0 (and DIR1).
void NameByDir0(TCpuInfo& ci, std::uint8_t dir0, std::uint8_t dir1) {
  for (const Dir0Name& n : kDir0Names) {
    if (n.Dir0 == dir0) {
      ci.CpuName = n.Name;
      ci.NameSuffix = n.Suffix;
      return;
    }
  }
  switch (dir0 >> 4) {
    case 0x2:
      if (dir0 >= 0x28) {
        ci.CpuName = "Cx586 (M1SC)";
        return;
      }
      break;
    case 0x3:
      ci.CpuName = dir1 < 0x1F ? "Cx686 (M1)" : "Cx686L (M1)";
      ci.NameSuffix = kM1Ratio[dir0 & 5];
      return;
    case 0x4:
      ci.CpuName = "Cx86gx (MediaGX)";
      return;
    case 0x5:
      ci.CpuName = "Cx686MX (M2)";
      ci.NameSuffix = kM2Ratio[dir0 & 7];
      return;
    case 0x6:
      ci.CpuName = "Cx786 (M3)";
      return;
    case 0x7:
      ci.CpuName = "Cx868";
      return;
    default:
      break;
  }
  ci.CpuName = "Cyrix " + HexByte(dir0);
}

// Family from the third character of the name: "Cx586..." is a 5, and so on.
std::uint8_t FamilyFromName(std::string_view name) {
  if (name.size() >= 3) {
    const char c = name[2];
    if (c >= '5' && c <= '8') return static_cast<std::uint8_t>(c - '0');
  }
  return 4;
}

}  // namespace

std::uint8_t ReadCyrixReg(const CpuContext& ctx, std::uint8_t index) {
  PortOut(ctx, kCyrixIndex, index);
  const std::uint8_t value = PortIn(ctx, kCyrixData);
  ctx.cpu.Readings.CyrixRegs.emplace(index, value);  // the first reading is the one found
  return value;
}

void WriteCyrixReg(const CpuContext& ctx, std::uint8_t index, std::uint8_t value) {
  PortOut(ctx, kCyrixIndex, index);
  PortOut(ctx, kCyrixData, value);
}

namespace {

// The values that the identification's changes put back, each read before
// its change and kept here, in IdentifyCyrix's one record: the interrupt
// mask, which the board check raises to FFh for a moment, and CCR3, whose
// MAPEN bit opens CCR4 for the CPUID switch (CCR4 itself can be read only
// once MAPEN is set). No change is made before its value is in here and in
// the journal, which a kill in between leaves for the next analysis.
struct CyrixFound {
  std::optional<std::uint8_t> PicMask;
  std::optional<std::uint8_t> Ccr3;
};

// A journal of port writes on this processor, named for the line that
// reports their restore.
RegisterJournal PortJournal(const CpuContext& ctx, const char* sequence) {
  RegisterJournal j;
  j.Cpu = ctx.hw.CurrentCpu;
  j.Sequence = sequence;
  return j;
}

void AddRegWrite(RegisterJournal& j, std::uint8_t index, std::uint8_t value) {
  j.Entries.push_back({JournalEntry::Port, kCyrixIndex, index});
  j.Entries.push_back({JournalEntry::Port, kCyrixData, value});
}

bool IsCyrixWith(const CpuContext& ctx, CyrixFound& found) {
  // Cyrix designs leave the arithmetic flags alone on a division. The
  // instructions run on the calling thread, which is bound to the processor:
  // through the machine where there is one, and here where there is none
  // (the Windows drivers): the sequence needs no privilege.
  const bool leaves =
      ctx.machine ? ctx.machine->DivisionLeavesFlags(ctx.hw.CurrentCpu) : DivisionLeavesFlagsHere();
  ctx.cpu.Readings.DivisionLeavesFlags = leaves;
  if (leaves) return true;

  // On some boards ports 22h and 23h are copies of the interrupt controller's
  // 20h and 21h: port 23h then shows the interrupt mask, and follows it.
  found.PicMask = PortIn(ctx, kPicMask);
  const std::uint8_t savedMask = *found.PicMask;
  PortOut(ctx, kCyrixIndex, kCcr0);
  SettleDelay();
  if (PortIn(ctx, kCyrixData) == savedMask) {
    // The mask found goes to the journal before every interrupt is masked.
    RegisterJournal mask = PortJournal(ctx, "interrupt mask");
    mask.Entries.push_back({JournalEntry::Port, kPicMask, savedMask});
    JournalScope journal(ctx, mask);
    PortOut(ctx, kPicMask, 0xFF);
    SettleDelay();
    PortOut(ctx, kCyrixIndex, kCcr0);
    SettleDelay();
    const std::uint8_t again = PortIn(ctx, kCyrixData);
    PortOut(ctx, kPicMask, savedMask);
    journal.Close();
    if (again == 0xFF) {
      ctx.cpu.Readings.PicMirrored = true;
      return false;
    }
  }

  // Configuration registers hold varied values; absent ports read as 00h or
  // FFh.
  int count = 0;
  for (int index = kCcr0; index <= 0xCF; ++index) {
    const std::uint8_t v = ReadCyrixReg(ctx, static_cast<std::uint8_t>(index));
    if (v != 0x00 && v != 0xFF) ++count;
  }
  PortOut(ctx, kPicMask, savedMask);
  return count > 3;
}

// DIR0 and DIR1, and on parts from DIR0 28h on CCR4 and CCR5 with CPUID
// switched on for one more CPUID identification; CCR4 and CCR3 are put back.
void ReadConfiguration(const CpuContext& ctx, CyrixFound& found, std::uint8_t& dir0,
                       std::uint8_t& dir1) {
  TCpuInfo& ci = ctx.cpu.CpuInfo;
  dir0 = ReadCyrixReg(ctx, kDir0);
  dir1 = ReadCyrixReg(ctx, kDir1);
  found.Ccr3 = ReadCyrixReg(ctx, kCcr3);
  const std::uint8_t ccr3 = *found.Ccr3;
  if (dir0 < 0x28) return;
  // Open CCR4/CCR5, switch CPUID on for one more CPUID identification, then
  // put CCR4 back and close the registers again. CCR3 as found goes to the
  // journal before MAPEN is set. CCR4 can be read only behind MAPEN, so
  // before CPUID is switched on the journal grows by the lines that put it
  // back with MAPEN open and close MAPEN last; it only grows, so a kill while
  // it is written leaves the lines before.
  RegisterJournal regs = PortJournal(ctx, "Cyrix configuration registers");
  AddRegWrite(regs, kCcr3, ccr3);
  JournalScope journal(ctx, regs);
  WriteCyrixReg(ctx, kCcr3, static_cast<std::uint8_t>(ccr3 | kCcr3Mapen));
  const std::uint8_t ccr4 = ReadCyrixReg(ctx, kCcr4);
  const std::uint8_t ccr5 = ReadCyrixReg(ctx, kCcr5);
  ci.Ccr4 = ccr4;
  ci.Ccr5 = ccr5;
  ctx.cpu.CpuidWasEnabled = ccr4 >= kCcr4Cpuid;
  std::optional<JournalScope> withCcr4;
  if (!ctx.cpu.CpuidWasEnabled) {
    AddRegWrite(regs, kCcr3, static_cast<std::uint8_t>(ccr3 | kCcr3Mapen));
    AddRegWrite(regs, kCcr4, ccr4);
    AddRegWrite(regs, kCcr3, ccr3);
    withCcr4.emplace(ctx, regs);
    WriteCyrixReg(ctx, kCcr4, static_cast<std::uint8_t>(ccr4 | kCcr4Cpuid));
  }
  IdentifyByCpuid(ctx);
  if (!ctx.cpu.CpuidWasEnabled) WriteCyrixReg(ctx, kCcr4, ccr4);
  WriteCyrixReg(ctx, kCcr3, static_cast<std::uint8_t>(ccr3 & ~kCcr3Mapen));
  if (withCcr4) withCcr4->Close();
  journal.Close();
}

}  // namespace

bool IsCyrix(const CpuContext& ctx) {
  CyrixFound found;
  return IsCyrixWith(ctx, found);
}

bool IdentifyCyrix(const CpuContext& ctx) {
  // The port requests that follow are this identification's.
  if (ctx.machine) {
    SequencePlan plan;
    plan.Kind = SequenceKind::CyrixIdentification;
    plan.Cpu = ctx.hw.CurrentCpu;
    ctx.machine->Expect(plan);
  }
  TCpuInfo& ci = ctx.cpu.CpuInfo;
  const bool knownCyrix =
      ci.CpuidOk && (ci.VendorCode == kVendorIbm || ci.VendorCode == kVendorCyrix);

  // The port sequence is one analysis of this computer's registers, like the
  // register analysis: no other runs meanwhile (another identification's
  // board check would take the mask this one raised to FFh for the one to
  // put back, and on a board that mirrors the interrupt controller it would
  // send configuration register indexes to the controller's command port),
  // and a request to end the program waits until the mask and CCR3/CCR4 are
  // back.
  std::uint8_t dir0 = 0, dir1 = 0;
  bool cyrix = false;
  {
    const RegisterSession session(ctx);
    HeldSection held(ctx,
                     "the interrupt mask or the Cyrix configuration registers were changed: they "
                     "were put back as found first");
    CyrixFound found;
    cyrix = knownCyrix || IsCyrixWith(ctx, found);
    if (cyrix) ReadConfiguration(ctx, found, dir0, dir1);
    held.End();
  }
  if (!cyrix) return false;

  ci.NameSuffix = "";
  NameByDir0(ci, dir0, dir1);
  ci.Dir0 = dir0;
  ci.Dir1 = dir1;
  ci.NameSuffix = ci.NameSuffix.str() + ", ID=" + HexByte(dir0) + "h, Rev=" + HexByte(dir1) + "h";

  if (!ci.CpuidOk) {
    ci.VendorCode = kVendorCyrix;
    ci.Identified = true;
    ci.Family = FamilyFromName(ci.CpuName);
  }
  return true;
}

}  // namespace torv
