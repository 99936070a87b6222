/* Talks to the installed KELVORNT.SYS through \\.\Dev_KelvorNT the way the
 * program does and prints one line per check ("ok: ..." / "FAILED: ...").
 *   kelvornt_client check VERSION   the driver answers, with version VERSION
 *   kelvornt_client busy            the device cannot be used (another
 *                                   process holds it): exit status 0
 *   kelvornt_client absent          the device is gone
 *   kelvornt_client interrupt MS OUT EXE ARGS...
 *                                   starts EXE ARGS on a console of its own
 *                                   with its output in the file OUT, waits
 *                                   until the KelvorNT service runs and MS
 *                                   milliseconds more, sends it Ctrl+C and
 *                                   prints its exit status ("exit XXXXXXXX";
 *                                   "exit none" when it did not end within
 *                                   a minute)
 * No register or port access reaches the hardware (in Wine's kernel-driver
 * host it would end the driver): the ones sent are those the driver refuses
 * on this processor, which is not one it serves. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define IOCTL_KELVOR 0x9C406000u

static int failures = 0;

static void Check(int ok, const char* what, unsigned long a, unsigned long b) {
  if (ok) {
    printf("ok: %s\n", what);
  } else {
    printf("FAILED: %s (got %08lX, want %08lX)\n", what, a, b);
    ++failures;
  }
  fflush(stdout);
}

static void PutWord(unsigned char* p, DWORD v) {
  p[0] = (unsigned char)v;
  p[1] = (unsigned char)(v >> 8);
  p[2] = (unsigned char)(v >> 16);
  p[3] = (unsigned char)(v >> 24);
}

static DWORD Word(const unsigned char* p, int i) {
  p += 4 * i;
  return (DWORD)p[0] | (DWORD)p[1] << 8 | (DWORD)p[2] << 16 | (DWORD)p[3] << 24;
}

/* One request; returns the last error (0 on success) and the reply length. */
static DWORD Request(HANDLE dev, DWORD func, DWORD p1, DWORD p2, DWORD p3, unsigned char* out,
                     DWORD outLen, DWORD* got) {
  unsigned char in[16];
  DWORD n = 0;
  PutWord(in, func);
  PutWord(in + 4, p1);
  PutWord(in + 8, p2);
  PutWord(in + 12, p3);
  if (!DeviceIoControl(dev, IOCTL_KELVOR, in, sizeof in, out, outLen, &n, NULL)) {
    if (got != NULL) *got = n;
    return GetLastError();
  }
  if (got != NULL) *got = n;
  return 0;
}

static void Cpuid(DWORD leaf, DWORD r[4]) {
  DWORD a, b, c, d;
  __asm__ volatile("cpuid" : "=a"(a), "=b"(b), "=c"(c), "=d"(d) : "a"(leaf), "c"(0u));
  r[0] = a;
  r[1] = b;
  r[2] = c;
  r[3] = d;
}

static unsigned long long Rdtsc(void) {
  DWORD lo, hi;
  __asm__ volatile("rdtsc" : "=a"(lo), "=d"(hi));
  return (unsigned long long)hi << 32 | lo;
}

/* Cycles during one system timer tick measured here in user mode. */
static double UserClockCount(void) {
  LARGE_INTEGER f, t0, t1;
  unsigned long long c0, c1;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t0);
  c0 = Rdtsc();
  do QueryPerformanceCounter(&t1);
  while ((double)(t1.QuadPart - t0.QuadPart) < (double)f.QuadPart / 18.206);
  c1 = Rdtsc();
  return (double)(c1 - c0) * ((double)f.QuadPart / 18.206) / (double)(t1.QuadPart - t0.QuadPart);
}

static HANDLE OpenDevice(void) {
  return CreateFileA("\\\\.\\Dev_KelvorNT", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, NULL);
}

/* Whether the driver would carry out register or port requests on this
 * processor: a P6 (GenuineIntel family 6, no extended model or family,
 * model 0-8, 0Ah, 0Bh) or a Cyrix part. */
static int ServedHere(void) {
  DWORD r[4], model;
  char vendor[13];
  Cpuid(0, r);
  memcpy(vendor, &r[1], 4);
  memcpy(vendor + 4, &r[3], 4);
  memcpy(vendor + 8, &r[2], 4);
  vendor[12] = 0;
  if (strcmp(vendor, "CyrixInstead") == 0) return 1;
  if (strcmp(vendor, "GenuineIntel") != 0 || r[0] < 1) return 0;
  Cpuid(1, r);
  model = (r[0] >> 4) & 0xF;
  return ((r[0] >> 8) & 0xF) == 6 && (r[0] & 0x0FFF0000u) == 0 &&
         (model <= 8 || model == 0xA || model == 0xB);
}

/* One cache transaction: command, way, and the block (address, data). */
static DWORD Cache(HANDLE dev, DWORD command, DWORD way, DWORD address, DWORD data) {
  unsigned char in[32], out[8];
  DWORD n = 0;
  PutWord(in, 91);
  PutWord(in + 4, command);
  PutWord(in + 8, way);
  PutWord(in + 12, 0);
  PutWord(in + 16, address);
  PutWord(in + 20, 0);
  PutWord(in + 24, data);
  PutWord(in + 28, data);
  if (!DeviceIoControl(dev, IOCTL_KELVOR, in, sizeof in, out, sizeof out, &n, NULL)) {
    return GetLastError();
  }
  return 0;
}

/* A second open while the device is held: NT's I/O manager refuses it, as
 * the driver does; Wine's server opens the file before the driver is asked,
 * and the driver then refuses every request on it. Returns the last error
 * of the refusal (5), or 0 when the device could be used. */
static DWORD SecondOpen(void) {
  unsigned char out[16];
  DWORD e;
  HANDLE other = OpenDevice();
  if (other == INVALID_HANDLE_VALUE) return GetLastError();
  e = Request(other, 1, 0, 0, 0, out, 16, NULL);
  CloseHandle(other);
  return e;
}

/* While this process holds the device, nobody else can use it: not a
 * second open here, not another process. */
static void CheckHeld(void) {
  char self[MAX_PATH], command[MAX_PATH + 16];
  STARTUPINFOA si;
  PROCESS_INFORMATION pi;
  DWORD code = 1, e;
  e = SecondOpen();
  Check(e == ERROR_ACCESS_DENIED, "a second open in the same process: access denied", e,
        ERROR_ACCESS_DENIED);
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  if (GetModuleFileNameA(NULL, self, sizeof self) == 0) self[0] = 0;
  sprintf(command, "\"%s\" busy", self);
  if (CreateProcessA(self, command, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
    WaitForSingleObject(pi.hProcess, 60000);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  Check(code == 0, "another process cannot use the device while it is held", code, 0);
}

/* Register, port and cache requests on a processor the driver does not
 * serve: refused, and the driver answers on. */
static void CheckRefusedHere(HANDLE dev) {
  unsigned char out[16];
  DWORD e;
  if (ServedHere()) {
    printf("ok: register and port refusals skipped: the driver serves this processor\n");
    return;
  }
  e = Request(dev, 20, 0x2A, 0, 0, out, 8, NULL);
  Check(e == 5 || e == 0xC0000096u, "RDMSR 2Ah on this processor refused", e, 5);
  e = Request(dev, 21, 0x11E, 0, 0, out, 0, NULL);
  Check(e == 5 || e == 0xC0000096u, "BBL_CR_CTL3 = 0 on this processor refused", e, 5);
  e = Request(dev, 21, 0x200, 6, 0, out, 0, NULL);
  Check(e == 5 || e == 0xC0000096u, "an MTRR write refused", e, 5);
  e = Cache(dev, 0x1F, 0, 0x100000, 0x90909090u);
  Check(e == 5 || e == 0xC0000096u, "cache transaction 1Fh at 100000h refused", e, 5);
  e = Cache(dev, 0x02, 0, 0x60, 0);
  Check(e == 5 || e == 0xC0000096u, "the configuration read on this processor refused", e, 5);
  e = Request(dev, 10, 0x21, 0, 0, out, 1, NULL);
  Check(e == 5, "port 21h on a processor with CPUID refused", e, 5);
  e = Request(dev, 11, 0x21, 0xFF, 0, out, 0, NULL);
  Check(e == 5, "OUT 21h,FFh refused", e, 5);
  e = Request(dev, 1, 0, 0, 0, out, 16, NULL);
  Check(e == 0 && Word(out, 0) == 0x12340001u, "the driver answers after the refusals", e, 0);
}

static int CheckDriver(DWORD version) {
  unsigned char out[16];
  char what[128];
  DWORD got = 0, e, r[4], i, procs;
  SYSTEM_INFO si;
  HANDLE dev = OpenDevice();
  Check(dev != INVALID_HANDLE_VALUE, "device \\\\.\\Dev_KelvorNT opens", GetLastError(), 0);
  if (dev == INVALID_HANDLE_VALUE) return 1;

  memset(out, 0xCC, sizeof out);
  e = Request(dev, 1, 0, 0, 0, out, 16, &got);
  Check(e == 0 && got == 12 && Word(out, 0) == 0x12340001u && Word(out, 1) == 0 &&
            Word(out, 2) == 0,
        "identity: 12 bytes, first word 12340001h", Word(out, 0), 0x12340001u);
  e = Request(dev, 101, 0, 0, 0, out, 8, &got);
  sprintf(what, "version %04lXh in 8 bytes", (unsigned long)version);
  Check(e == 0 && got == 8 && Word(out, 0) == version && Word(out, 1) == 0, what, Word(out, 0),
        version);
  Check(Request(dev, 102, 0x4A57515Au, 0, 0, out, 0, NULL) == 0, "signature accepted", 0, 0);
  e = Request(dev, 102, 0x4A57515Bu, 0, 0, out, 0, NULL);
  Check(e == 87, "wrong signature: last error 87", e, 87);
  e = Request(dev, 55, 0, 0, 0, out, 16, NULL);
  Check(e == 1, "unknown function: last error 1", e, 1);
  e = Request(dev, 1, 0, 0, 0, out, 11, NULL);
  Check(e == 24, "identity into 11 bytes: last error 24", e, 24);
  e = Request(dev, 20, 0x10, 0, 0, out, 8, NULL);
  Check(e == 5, "register 10h refused: last error 5", e, 5);
  e = Request(dev, 10, 0x80, 0, 0, out, 1, NULL);
  Check(e == 5, "port 80h refused: last error 5", e, 5);

  Cpuid(0, r);
  memset(out, 0xCC, sizeof out);
  e = Request(dev, 22, 0, 0, 0, out, 16, &got);
  Check(e == 0 && got == 16 && Word(out, 0) == r[0] && Word(out, 1) == r[1] &&
            Word(out, 2) == r[2] && Word(out, 3) == r[3],
        "CPUID 0 as in user mode", Word(out, 1), r[1]);

  GetSystemInfo(&si);
  procs = si.dwNumberOfProcessors;
  for (i = 1; i <= procs && i <= 8 * sizeof(DWORD_PTR); ++i) {
    SetThreadAffinityMask(GetCurrentThread(), (DWORD_PTR)1 << (i - 1));
    Cpuid(1, r);
    e = Request(dev, 74, i, 0, 0, out, 0, NULL);
    sprintf(what, "processor %lu selected", (unsigned long)i);
    Check(e == 0, what, e, 0);
    e = Request(dev, 22, 1, 0, 0, out, 16, NULL);
    /* EBX bits 31..24: the initial APIC ID of the processor that ran it. */
    sprintf(what, "CPUID 1 on processor %lu as in user mode there", (unsigned long)i);
    Check(e == 0 && Word(out, 0) == r[0] && Word(out, 1) == r[1] && Word(out, 3) == r[3], what,
          Word(out, 1), r[1]);
  }
  SetThreadAffinityMask(GetCurrentThread(), si.dwActiveProcessorMask);
  e = Request(dev, 74, procs + 1, 0, 0, out, 0, NULL);
  Check(e == 0xC0000026u, "processor beyond the last: unreachable", e, 0xC0000026u);
  e = Request(dev, 22, 0, 0, 0, out, 16, NULL);
  Check(e == 0xC0000026u, "CPUID there: unreachable", e, 0xC0000026u);
  e = Request(dev, 74, 1, 0, 0, out, 0, NULL);
  Check(e == 0, "processor 1 selected again", e, 0);
  CheckRefusedHere(dev);

  {
    const double user = UserClockCount();
    memset(out, 0xCC, sizeof out);
    e = Request(dev, 71, 0, 0, 0, out, 8, &got);
    Check(e == 0 && got == 8 && Word(out, 1) == 0, "clock count answered", e, 0);
    sprintf(what, "clock count %lu within 10%% of %.0f measured in user mode",
            (unsigned long)Word(out, 0), user);
    Check(e == 0 && Word(out, 0) > 0.9 * user && Word(out, 0) < 1.1 * user, what, Word(out, 0),
          (unsigned long)user);
  }
  if (procs > 1) {
    e = Request(dev, 74, 2, 0, 0, out, 0, NULL);
    Check(e == 0, "processor 2 selected before the handle closes", e, 0);
  }
  CheckHeld();
  CloseHandle(dev);
  dev = OpenDevice();
  Check(dev != INVALID_HANDLE_VALUE, "the device opens again once closed", GetLastError(), 0);
  if (dev == INVALID_HANDLE_VALUE) return 1;
  SetThreadAffinityMask(GetCurrentThread(), 1);
  Cpuid(1, r);
  e = Request(dev, 22, 1, 0, 0, out, 16, NULL);
  Check(e == 0 && Word(out, 0) == r[0] && Word(out, 1) == r[1],
        "a new open starts on processor 1", Word(out, 1), r[1]);
  CloseHandle(dev);
  return failures != 0;
}

/* The program started on a console of this client's own, its output in
 * `output`: Ctrl+C, sent to every process of that console (Wine sends no
 * Ctrl+Break to a process group), reaches it and not this client. */
static int Interrupt(DWORD delay, const char* output, int argc, char** argv) {
  char command[4096] = "";
  size_t used = 0;
  int i;
  char line[64];
  DWORD n = 0, waited, code = 0;
  STARTUPINFOA si;
  PROCESS_INFORMATION pi;
  SECURITY_ATTRIBUTES sa;
  SC_HANDLE scm, service = NULL;
  SERVICE_STATUS status;
  HANDLE out;
  /* The result goes where this client's output went before the console. */
  const HANDLE result = GetStdHandle(STD_OUTPUT_HANDLE);
  for (i = 0; i < argc; ++i) {
    const size_t len = strlen(argv[i]);
    if (used + len + 4 >= sizeof command) return 2;
    used += (size_t)sprintf(command + used, "%s\"%s\"", i > 0 ? " " : "", argv[i]);
  }
  FreeConsole();
  AllocConsole();
  memset(&sa, 0, sizeof sa);
  sa.nLength = sizeof sa;
  sa.bInheritHandle = TRUE;
  out = CreateFileA(output, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    &sa, CREATE_ALWAYS, 0, NULL);
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = NULL;
  si.hStdOutput = out;
  si.hStdError = out;
  if (out == INVALID_HANDLE_VALUE ||
      !CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
    sprintf(line, "FAILED: no start (%lu)\n", GetLastError());
    WriteFile(result, line, (DWORD)strlen(line), &n, NULL);
    return 1;
  }
  CloseHandle(out);
  SetConsoleCtrlHandler(NULL, TRUE);
  scm = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
  for (waited = 0; scm != NULL && waited < 20000; ++waited) {
    if (service == NULL) service = OpenServiceA(scm, "KelvorNT", SERVICE_QUERY_STATUS);
    if (service != NULL && QueryServiceStatus(service, &status) &&
        status.dwCurrentState == SERVICE_RUNNING) {
      break;
    }
    if (WaitForSingleObject(pi.hProcess, 1) == WAIT_OBJECT_0) break;
  }
  if (service != NULL) CloseServiceHandle(service);
  if (scm != NULL) CloseServiceHandle(scm);
  Sleep(delay);
  if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
    sprintf(line, "FAILED: no Ctrl+C sent (%lu)\n", GetLastError());
    WriteFile(result, line, (DWORD)strlen(line), &n, NULL);
  }
  if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) {
    sprintf(line, "exit none\n");
    TerminateProcess(pi.hProcess, 1);
  } else {
    GetExitCodeProcess(pi.hProcess, &code);
    sprintf(line, "exit %08lX\n", (unsigned long)code);
  }
  WriteFile(result, line, (DWORD)strlen(line), &n, NULL);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return 0;
}

int main(int argc, char** argv) {
  if (argc >= 5 && strcmp(argv[1], "interrupt") == 0) {
    return Interrupt((DWORD)strtoul(argv[2], NULL, 10), argv[3], argc - 4, argv + 4);
  }
  if (argc == 3 && strcmp(argv[1], "check") == 0) {
    return CheckDriver((DWORD)strtoul(argv[2], NULL, 16));
  }
  if (argc == 2 && strcmp(argv[1], "busy") == 0) {
    return SecondOpen() == ERROR_ACCESS_DENIED ? 0 : 1;
  }
  if (argc == 2 && strcmp(argv[1], "absent") == 0) {
    HANDLE dev = OpenDevice();
    Check(dev == INVALID_HANDLE_VALUE, "device gone after the service is deleted", 0, 0);
    if (dev != INVALID_HANDLE_VALUE) CloseHandle(dev);
    return failures != 0;
  }
  fprintf(stderr, "usage: kelvornt_client check VERSION | busy | absent | interrupt MS OUT EXE ARGS\n");
  return 2;
}
