// Typed hardware operations: each one request to the driver, wrapped so that
// the caller gets plain values and a success indication. ReadMsr and WriteMsr
// add the /LOG trace and end the program when the register access fails.
#include "driver/hw.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/loader.h"
#include "driver/context.h"
#include "driver/journal.h"
#include "report/utility.h"

namespace torv {

namespace {

std::string TraceLine(char kind, std::uint32_t reg, std::uint32_t lo, std::uint32_t hi,
                      std::uint32_t status) {
  std::string line(1, kind);
  line += HexDword(reg);
  line += "  ";
  line += HexDword(lo);
  line += "  ";
  line += HexDword(hi);
  line += "  ";
  line += HexWord(static_cast<std::uint16_t>(status));
  return line;
}

// A failed register access: one line on the error stream at once, which
// register, and why, in the words of the device that refused it. The same
// words are kept for the "Error" box of the window, which the main thread
// shows before the program ends (the first failure is the one told).
void ReportFatal(const DriverContext& ctx, const char* action, std::uint32_t reg) {
  std::string reason;
  if (const Device* dev = ctx.platform.Devices().Get(ctx.drv.DrvHandle)) {
    reason = dev->DescribeError(ctx.drv.DrvLastError);
  }
  if (reason.empty()) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "error %08X", static_cast<unsigned>(ctx.drv.DrvLastError));
    reason = buf;
  }
  std::fprintf(stderr, "torvacin: %s model-specific register %08X failed: %s\n", action,
               static_cast<unsigned>(reg), reason.c_str());
  std::fflush(stderr);
  if (ctx.hw.FatalText.empty()) {
    std::string text =
        std::string(action) + " model-specific register " + HexDword(reg) + " failed: " + reason;
    text[0] = static_cast<char>(text[0] - 'a' + 'A');
    ctx.hw.FatalText = Cut(text);
  }
}

// The one place where the program ends abruptly. The driver's service goes
// first (Windows NT), as at every end: the box may stay open for as long as
// the user leaves it. In the window the user may see no terminal: the reason
// in a box.
[[noreturn]] void ShowAndEnd(const DriverContext& ctx, int code) {
  DrvUnload(ctx);
  if (ctx.platform.BoxesInWindow() && !ctx.hw.FatalText.empty()) {
    ctx.platform.MessageBox("Error", ctx.hw.FatalText, BoxButtons::Ok);
  }
  ctx.platform.ExitProcess(code);
  std::abort();  // not reached: ExitProcess does not come back
}

}  // namespace

// Every system kind reaches the ports through the driver: Linux like Windows
// NT, and the Windows 95/98 kinds as well, since this program executes no
// port instruction of its own.
std::uint8_t PortIn(const DriverContext& ctx, std::uint16_t port) {
  std::uint8_t reply[4] = {};
  if (!DrvControl(ctx, ReqPortIn, port, 0, 0, reply, 1)) return 0xFF;
  return reply[0];
}

void PortOut(const DriverContext& ctx, std::uint16_t port, std::uint8_t value) {
  std::uint8_t scratch[4];
  DrvControl(ctx, ReqPortOut, port, value, 0, scratch, 0);
}

void ReadMsrRaw(const DriverContext& ctx, std::uint32_t reg, std::uint32_t& lo, std::uint32_t& hi,
                std::uint32_t& status) {
  std::uint8_t reply[8] = {};
  if (DrvControl(ctx, ReqMsrRead, reg, 0, 0, reply, sizeof reply)) {
    lo = GetWord(reply);
    hi = GetWord(reply + 4);
    status = 0;
  } else {
    lo = hi = 0;
    status = 1;
  }
}

void WriteMsrRaw(const DriverContext& ctx, std::uint32_t reg, std::uint32_t lo, std::uint32_t hi,
                 std::uint32_t& status) {
  std::uint8_t scratch[4];
  status = DrvControl(ctx, ReqMsrWrite, reg, lo, hi, scratch, 0) ? 0 : 1;
}

void DrvCpuid(const DriverContext& ctx, std::uint32_t leaf, CpuidRegs& regs, bool& ok) {
  std::uint8_t reply[16] = {};
  ok = DrvControl(ctx, ReqCpuid, leaf, 0, 0, reply, sizeof reply);
  ctx.hw.CpuidFault = !ok && ctx.drv.DrvLastError == kErrCpuUnreachable;
  if (!ok) {
    regs = {};
    return;
  }
  regs.Eax = GetWord(reply);
  regs.Ebx = GetWord(reply + 4);
  regs.Ecx = GetWord(reply + 8);
  regs.Edx = GetWord(reply + 12);
}

bool DrvSetCpu(const DriverContext& ctx, std::uint32_t proc) {
  ctx.hw.CurrentCpu = static_cast<int>(proc);
  std::uint8_t scratch[4];
  return DrvControl(ctx, ReqSetCpu, proc, 0, 0, scratch, 0);
}

std::uint32_t DrvClockCount(const DriverContext& ctx, std::uint16_t selector) {
  std::uint8_t reply[8] = {};
  if (!DrvControl(ctx, ReqClockCount, selector, 0, 0, reply, sizeof reply)) return 0;
  return GetWord(reply);
}

std::uint32_t L2Request(const DriverContext& ctx, std::uint32_t command, std::uint32_t way, const void* block,
                        bool& ok) {
  std::uint8_t reply[8] = {};
  // The driver is told the block's address; on this system the block itself
  // travels with the request, since 32 bits cannot carry an address here.
  const auto address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(block));
  ok = DrvControl(ctx, ReqL2Transaction, command, way, address, reply, sizeof reply, block, 16);
  return ok ? GetWord(reply) : 0;
}

bool ReadMsrChecked(const DriverContext& ctx, std::uint32_t reg, std::uint32_t& lo, std::uint32_t& hi) {
  ReadMsrRaw(ctx, reg, lo, hi, ctx.hw.MsrStatus);
  if (ctx.OptLog) ReportWriteLn(ctx.report, TraceLine('2', reg, lo, hi, ctx.hw.MsrStatus));
  if (ctx.hw.MsrStatus == 0) return true;
  ReportFatal(ctx, "reading", reg);
  return false;
}

bool WriteMsrChecked(const DriverContext& ctx, std::uint32_t reg, std::uint32_t lo, std::uint32_t hi) {
  if (ctx.OptLog) ReportWriteLn(ctx.report, TraceLine('1', reg, lo, hi, ctx.hw.MsrStatus));
  WriteMsrRaw(ctx, reg, lo, hi, ctx.hw.MsrStatus);
  if (ctx.OptLog) {
    ReportWriteLn(ctx.report, HexWord(static_cast<std::uint16_t>(ctx.hw.MsrStatus)) + "    ");
  }
  if (ctx.hw.MsrStatus == 0) return true;
  ReportFatal(ctx, "writing", reg);
  return false;
}

// On an analysis thread the failure is recorded and the thread ends: the
// main thread, which waits for it, shows the box and ends the program
// (EndFatally). On the main thread both happen here.
void AbruptEnd(const DriverContext& ctx, int code) {
  if (ctx.platform.OnWorkerThread()) {
    if (ctx.hw.FatalCode == 0) ctx.hw.FatalCode = code;
    ctx.platform.EndThread();
  }
  ShowAndEnd(ctx, code);
}

void MsrFailureEnd(const DriverContext& ctx, int code) {
  AbruptEnd(ctx, code);
}

RegisterSession::RegisterSession(const DriverContext& ctx) : ctx_(ctx) {
  LoadMsrModuleOnce(ctx);
  RegisterLock* lock = ctx.drv.Lock.get();
  if (lock == nullptr) return;
  std::string reason;
  RegisterLock::Attempt a = lock->TryLock(reason);
  if (a == RegisterLock::Attempt::Busy) {
    ctx.platform.ErrorLine(
        "torvacin: another analysis of this computer's processor registers is running; waiting "
        "for it to end (at most " +
        std::to_string(kLockWaitMs / 1000) + " s)");
    // The time is counted in the pauses; an attempt itself takes next to none.
    for (int waited = 0; a == RegisterLock::Attempt::Busy && waited < kLockWaitMs;
         waited += kLockPollMs) {
      ctx.platform.Sleep(kLockPollMs);
      a = lock->TryLock(reason);
    }
  }
  if (a == RegisterLock::Attempt::Held) {
    held_ = true;
    // An analysis that was killed while it had changed registers left its
    // journal: those values go back before anything is read.
    RestoreLeftJournal(ctx);
    return;
  }
  if (a == RegisterLock::Attempt::Denied) {
    // Going on without the lock would let whoever made it run an analysis
    // at the same time; waiting for it would wait for nothing.
    std::string text = "the lock of this computer's processor registers cannot be taken: " + reason;
    ctx.platform.ErrorLine("torvacin: " + text + " (exit status " +
                           std::to_string(kExitLockTimeout) + ")");
    text[0] = 'T';  // the box's sentence
    if (ctx.hw.FatalText.empty()) ctx.hw.FatalText = Cut(text);
    AbruptEnd(ctx, kExitLockTimeout);
  }
  if (a == RegisterLock::Attempt::Busy) {
    std::string text =
        "another analysis of this computer's processor registers did not end within " +
        std::to_string(kLockWaitMs / 1000) + " s: gave up";
    ctx.platform.ErrorLine("torvacin: " + text + " (exit status " +
                          std::to_string(kExitLockTimeout) + ")");
    text[0] = 'A';  // the box's sentence
    if (ctx.hw.FatalText.empty()) ctx.hw.FatalText = Cut(text);
    AbruptEnd(ctx, kExitLockTimeout);
  }
  // No lock to be had here: the analysis goes on, and a register that
  // cannot be reached says so itself.
}

RegisterSession::~RegisterSession() {
  if (held_) ctx_.drv.Lock->Unlock();
}

HeldSection::HeldSection(const DriverContext& ctx, const char* changed)
    : ctx_(ctx), changed_(changed) {
  ctx.platform.HoldSignals();
}

HeldSection::~HeldSection() {
  if (open_) ctx_.platform.ReleaseSignals();
}

void HeldSection::End() {
  if (!open_) return;
  open_ = false;
  const HeldSignal s = ctx_.platform.ReleaseSignals();
  if (s.Number == 0) return;
  const int code = 128 + s.Number;
  ctx_.platform.ErrorLine("torvacin: interrupted by " + s.Name + " while " + changed_ +
                          "; ending with status " + std::to_string(code));
  AbruptEnd(ctx_, code);
}

void EndFatally(const DriverContext& ctx) {
  if (ctx.hw.FatalCode != 0) ShowAndEnd(ctx, ctx.hw.FatalCode);
}

void ReadMsr(const DriverContext& ctx, std::uint32_t reg, std::uint32_t& lo, std::uint32_t& hi) {
  if (!ReadMsrChecked(ctx, reg, lo, hi)) MsrFailureEnd(ctx, kExitMsrRead);
}

void WriteMsr(const DriverContext& ctx, std::uint32_t reg, std::uint32_t lo, std::uint32_t hi) {
  if (!WriteMsrChecked(ctx, reg, lo, hi)) MsrFailureEnd(ctx, kExitMsrWrite);
}

void MeasureClock(const DriverContext& ctx) {
  ctx.hw.CpuClockHz = DrvClockCount(ctx, 0) * 18.206;
}

std::uint32_t L2Transaction(const DriverContext& ctx, std::uint32_t command, std::uint32_t way,
                            std::uint32_t address, std::uint32_t addressHigh, std::uint32_t dataLow,
                            std::uint32_t dataHigh, bool& ok) {
  std::uint8_t block[16];
  PutWord(block + 0, address);
  PutWord(block + 4, addressHigh);
  PutWord(block + 8, dataLow);
  PutWord(block + 12, dataHigh);
  return L2Request(ctx, command, way, block, ok);
}

std::uint8_t ReadL2Config(const DriverContext& ctx, std::uint32_t reg, bool& ok) {
  const std::uint32_t v = L2Transaction(ctx, 2, 0, reg * 32, 0, 0, 0, ok);
  return static_cast<std::uint8_t>(v >> 21);
}

}  // namespace torv
