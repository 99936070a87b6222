// Typed hardware operations: each one request to the driver, wrapped so that
// the caller gets plain values and a success indication. ReadMsr and WriteMsr
// add the /LOG trace and end the program when the register access fails.
#include "driver/hw.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/loader.h"
#include "world.h"

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
void ReportFatal(World& w, const char* action, std::uint32_t reg) {
  std::string reason;
  if (const Device* dev = w.platform->Devices().Get(w.drv.DrvHandle)) {
    reason = dev->DescribeError(w.drv.DrvLastError);
  }
  if (reason.empty()) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "error %08X", static_cast<unsigned>(w.drv.DrvLastError));
    reason = buf;
  }
  std::fprintf(stderr, "torvacin: %s model-specific register %08X failed: %s\n", action,
               static_cast<unsigned>(reg), reason.c_str());
  std::fflush(stderr);
  if (w.hw.FatalText.empty()) {
    std::string text =
        std::string(action) + " model-specific register " + HexDword(reg) + " failed: " + reason;
    text[0] = static_cast<char>(text[0] - 'a' + 'A');
    w.hw.FatalText = Cut(text);
  }
}

// The one place where the program ends abruptly. In the window the user may
// see no terminal: the reason in a box first.
[[noreturn]] void ShowAndEnd(World& w, int code) {
  if (w.platform->BoxesInWindow() && !w.hw.FatalText.empty()) {
    w.platform->MessageBox("Error", w.hw.FatalText, BoxButtons::Ok);
  }
  w.platform->ExitProcess(code);
  std::abort();  // not reached: ExitProcess does not come back
}

}  // namespace

// Every system kind reaches the ports through the driver: Linux like Windows
// NT, and the Windows 95/98 kinds as well, since this program executes no
// port instruction of its own.
std::uint8_t PortIn(World& w, std::uint16_t port) {
  std::uint8_t reply[4] = {};
  if (!DrvControl(w, ReqPortIn, port, 0, 0, reply, 1)) return 0xFF;
  return reply[0];
}

void PortOut(World& w, std::uint16_t port, std::uint8_t value) {
  std::uint8_t scratch[4];
  DrvControl(w, ReqPortOut, port, value, 0, scratch, 0);
}

void ReadMsrRaw(World& w, std::uint32_t reg, std::uint32_t& lo, std::uint32_t& hi,
                std::uint32_t& status) {
  std::uint8_t reply[8] = {};
  if (DrvControl(w, ReqMsrRead, reg, 0, 0, reply, sizeof reply)) {
    lo = GetWord(reply);
    hi = GetWord(reply + 4);
    status = 0;
  } else {
    lo = hi = 0;
    status = 1;
  }
}

void WriteMsrRaw(World& w, std::uint32_t reg, std::uint32_t lo, std::uint32_t hi,
                 std::uint32_t& status) {
  std::uint8_t scratch[4];
  status = DrvControl(w, ReqMsrWrite, reg, lo, hi, scratch, 0) ? 0 : 1;
}

void DrvCpuid(World& w, std::uint32_t leaf, CpuidRegs& regs, bool& ok) {
  std::uint8_t reply[16] = {};
  ok = DrvControl(w, ReqCpuid, leaf, 0, 0, reply, sizeof reply);
  w.hw.CpuidFault = !ok && w.drv.DrvLastError == kErrCpuUnreachable;
  if (!ok) {
    regs = {};
    return;
  }
  regs.Eax = GetWord(reply);
  regs.Ebx = GetWord(reply + 4);
  regs.Ecx = GetWord(reply + 8);
  regs.Edx = GetWord(reply + 12);
}

bool DrvSetCpu(World& w, std::uint32_t proc) {
  w.hw.CurrentCpu = static_cast<int>(proc);
  std::uint8_t scratch[4];
  return DrvControl(w, ReqSetCpu, proc, 0, 0, scratch, 0);
}

std::uint32_t DrvClockCount(World& w, std::uint16_t selector) {
  std::uint8_t reply[8] = {};
  if (!DrvControl(w, ReqClockCount, selector, 0, 0, reply, sizeof reply)) return 0;
  return GetWord(reply);
}

std::uint32_t L2Request(World& w, std::uint32_t command, std::uint32_t way, const void* block,
                        bool& ok) {
  std::uint8_t reply[8] = {};
  // The driver is told the block's address; on this system the block itself
  // travels with the request, since 32 bits cannot carry an address here.
  const auto address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(block));
  ok = DrvControl(w, ReqL2Transaction, command, way, address, reply, sizeof reply, block, 16);
  return ok ? GetWord(reply) : 0;
}

bool ReadMsrChecked(World& w, std::uint32_t reg, std::uint32_t& lo, std::uint32_t& hi) {
  ReadMsrRaw(w, reg, lo, hi, w.hw.MsrStatus);
  if (w.settings.OptLog) ReportWriteLn(w.report, TraceLine('2', reg, lo, hi, w.hw.MsrStatus));
  if (w.hw.MsrStatus == 0) return true;
  ReportFatal(w, "reading", reg);
  return false;
}

bool WriteMsrChecked(World& w, std::uint32_t reg, std::uint32_t lo, std::uint32_t hi) {
  if (w.settings.OptLog) ReportWriteLn(w.report, TraceLine('1', reg, lo, hi, w.hw.MsrStatus));
  WriteMsrRaw(w, reg, lo, hi, w.hw.MsrStatus);
  if (w.settings.OptLog) {
    ReportWriteLn(w.report, HexWord(static_cast<std::uint16_t>(w.hw.MsrStatus)) + "    ");
  }
  if (w.hw.MsrStatus == 0) return true;
  ReportFatal(w, "writing", reg);
  return false;
}

// On an analysis thread the failure is recorded and the thread ends: the
// main thread, which waits for it, shows the box and ends the program
// (EndFatally). On the main thread both happen here.
void AbruptEnd(World& w, int code) {
  if (w.platform->OnWorkerThread()) {
    if (w.hw.FatalCode == 0) w.hw.FatalCode = code;
    w.platform->EndThread();
  }
  ShowAndEnd(w, code);
}

void MsrFailureEnd(World& w, int code) {
  AbruptEnd(w, code);
}

RegisterSession::RegisterSession(World& w) : w_(w) {
  LoadMsrModuleOnce(w);
  RegisterLock* lock = w.drv.Lock.get();
  if (lock == nullptr) return;
  std::string reason;
  RegisterLock::Attempt a = lock->TryLock(reason);
  if (a == RegisterLock::Attempt::Busy) {
    w.platform->ErrorLine(
        "torvacin: another analysis of this computer's processor registers is running; waiting "
        "for it to end (at most " +
        std::to_string(kLockWaitMs / 1000) + " s)");
    // The time is counted in the pauses; an attempt itself takes next to none.
    for (int waited = 0; a == RegisterLock::Attempt::Busy && waited < kLockWaitMs;
         waited += kLockPollMs) {
      w.platform->Sleep(kLockPollMs);
      a = lock->TryLock(reason);
    }
  }
  if (a == RegisterLock::Attempt::Held) {
    held_ = true;
    return;
  }
  if (a == RegisterLock::Attempt::Busy) {
    std::string text =
        "another analysis of this computer's processor registers did not end within " +
        std::to_string(kLockWaitMs / 1000) + " s: gave up";
    w.platform->ErrorLine("torvacin: " + text + " (exit status " +
                          std::to_string(kExitLockTimeout) + ")");
    text[0] = 'A';  // the box's sentence
    if (w.hw.FatalText.empty()) w.hw.FatalText = Cut(text);
    AbruptEnd(w, kExitLockTimeout);
  }
  // No lock to be had here: the analysis goes on, and a register that
  // cannot be reached says so itself.
}

RegisterSession::~RegisterSession() {
  if (held_) w_.drv.Lock->Unlock();
}

HeldSection::HeldSection(World& w) : w_(w) {
  w.platform->HoldSignals();
}

HeldSection::~HeldSection() {
  if (open_) w_.platform->ReleaseSignals();
}

void HeldSection::End() {
  if (!open_) return;
  open_ = false;
  const HeldSignal s = w_.platform->ReleaseSignals();
  if (s.Number == 0) return;
  const int code = 128 + s.Number;
  w_.platform->ErrorLine("torvacin: interrupted by " + s.Name +
                         " while the cache controller was changed: its registers were put "
                         "back as found first; ending with status " +
                         std::to_string(code));
  AbruptEnd(w_, code);
}

void EndFatally(World& w) {
  if (w.hw.FatalCode != 0) ShowAndEnd(w, w.hw.FatalCode);
}

void ReadMsr(World& w, std::uint32_t reg, std::uint32_t& lo, std::uint32_t& hi) {
  if (!ReadMsrChecked(w, reg, lo, hi)) MsrFailureEnd(w, kExitMsrRead);
}

void WriteMsr(World& w, std::uint32_t reg, std::uint32_t lo, std::uint32_t hi) {
  if (!WriteMsrChecked(w, reg, lo, hi)) MsrFailureEnd(w, kExitMsrWrite);
}

void MeasureClock(World& w) {
  w.hw.CpuClockHz = DrvClockCount(w, 0) * 18.206;
}

std::uint32_t L2Transaction(World& w, std::uint32_t command, std::uint32_t way,
                            std::uint32_t address, std::uint32_t addressHigh, std::uint32_t dataLow,
                            std::uint32_t dataHigh, bool& ok) {
  std::uint8_t block[16];
  PutWord(block + 0, address);
  PutWord(block + 4, addressHigh);
  PutWord(block + 8, dataLow);
  PutWord(block + 12, dataHigh);
  return L2Request(w, command, way, block, ok);
}

std::uint8_t ReadL2Config(World& w, std::uint32_t reg, bool& ok) {
  const std::uint32_t v = L2Transaction(w, 2, 0, reg * 32, 0, 0, 0, ok);
  return static_cast<std::uint8_t>(v >> 21);
}

}  // namespace torv
