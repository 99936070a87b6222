/* KELVORNT.SYS: the NT kernel driver (Windows NT 4.0 to XP) behind the
 * device \\.\Dev_KelvorNT. Requests arrive as METHOD_BUFFERED device control
 * calls: the input buffer is the 16-byte request block, followed by the
 * 16-byte cache transaction block when there is one; the output buffer is the
 * reply area. The driver never reads memory at an address a caller names.
 * Decoding and checks are in dispatch.c; this file holds the kernel calls and
 * the processor instructions. */
#include <ntddk.h>

#include "dispatch.h"

/* The processor selected on a handle lives in its file object's FsContext,
 * which a device without a file system leaves to the driver. */
static int HandleCpu(PFILE_OBJECT file) {
  return file != NULL ? (int)(LONG_PTR)file->FsContext : 1;
}

static void SetHandleCpu(PFILE_OBJECT file, int cpu) {
  if (file != NULL) file->FsContext = (PVOID)(LONG_PTR)cpu;
}

/* --- the operations ------------------------------------------------------ */

/* The processors the system runs. NT 4.0 exports only the count (its
 * processors are numbered without gaps); the 64-bit systems all have
 * KeQueryActiveProcessors, and Wine's kernel-driver host gives no usable
 * KeNumberProcessors. */
static KAFFINITY ActiveProcessors(void) {
#if defined(__x86_64__)
  return KeQueryActiveProcessors();
#else
  const int n = (int)KeNumberProcessors;
  if (n <= 0) return 1;
  return n >= (int)(sizeof(KAFFINITY) * 8) ? ~(KAFFINITY)0 : ((KAFFINITY)1 << n) - 1;
#endif
}

static int OpProcessorCount(void* ctx) {
  KAFFINITY mask = ActiveProcessors();
  int n = 0;
  (void)ctx;
  for (; mask != 0; mask &= mask - 1) ++n;
  return n;
}

/* Processor `cpu` (1-based) is the cpu-th processor of the active set. */
static uint32_t OpBind(void* ctx, int cpu) {
  KAFFINITY mask = ActiveProcessors(), bit;
  (void)ctx;
  if (cpu < 1) return KV_ERR_CPU_UNREACHABLE;
  for (;;) {
    if (mask == 0) return KV_ERR_CPU_UNREACHABLE;
    bit = mask & (~mask + 1);
    if (--cpu == 0) break;
    mask &= ~bit;
  }
  KeSetSystemAffinityThread(bit);
  return 0;
}

static void OpUnbind(void* ctx) {
  (void)ctx;
  KeRevertToUserAffinityThread();
}

/* Whether the processor has CPUID: the ID flag (EFLAGS bit 21) can be
 * changed. Every 64-bit processor has it. */
static int HasCpuid(void) {
#if defined(__i386__)
  uint32_t before, after;
  __asm__ volatile(
      "pushfl\n\t"
      "popl %0\n\t"
      "movl %0, %1\n\t"
      "xorl $0x200000, %1\n\t"
      "pushl %1\n\t"
      "popfl\n\t"
      "pushfl\n\t"
      "popl %1\n\t"
      "pushl %0\n\t"
      "popfl"
      : "=&r"(before), "=&r"(after)
      :
      : "cc");
  return ((before ^ after) & 0x200000u) != 0;
#else
  return 1;
#endif
}

static uint32_t OpCpuid(void* ctx, uint32_t leaf, uint32_t regs[4]) {
  uint32_t a, b, c, d;
  (void)ctx;
  if (!HasCpuid()) return KV_ERR_NO_CPUID;
  __asm__ volatile("cpuid" : "=a"(a), "=b"(b), "=c"(c), "=d"(d) : "a"(leaf), "c"(0u));
  regs[0] = a;
  regs[1] = b;
  regs[2] = c;
  regs[3] = d;
  return 0;
}

static uint32_t OpRdmsr(void* ctx, uint32_t reg, uint64_t* value) {
  uint32_t lo, hi;
  (void)ctx;
  __asm__ volatile("rdmsr" : "=a"(lo), "=d"(hi) : "c"(reg));
  *value = (uint64_t)hi << 32 | lo;
  return 0;
}

static uint32_t OpWrmsr(void* ctx, uint32_t reg, uint64_t value) {
  (void)ctx;
  __asm__ volatile("wrmsr" : : "c"(reg), "a"((uint32_t)value), "d"((uint32_t)(value >> 32))
                   : "memory");
  return 0;
}

static uint32_t OpPortIn(void* ctx, uint16_t port, uint8_t* value) {
  uint8_t v;
  (void)ctx;
  __asm__ volatile("inb %w1, %b0" : "=a"(v) : "Nd"(port));
  *value = v;
  return 0;
}

static uint32_t OpPortOut(void* ctx, uint16_t port, uint8_t value) {
  (void)ctx;
  __asm__ volatile("outb %b0, %w1" : : "a"(value), "Nd"(port));
  return 0;
}

static uint64_t Rdtsc(void) {
  uint32_t lo, hi;
  __asm__ volatile("rdtsc" : "=a"(lo), "=d"(hi));
  return (uint64_t)hi << 32 | lo;
}

/* The performance counter with the time-stamp counter at the moment it was
 * read: of a few tries, the one whose reading took the fewest cycles, so
 * that an interrupt or a thread switch during a reading does not count. */
static LONGLONG ReadBoth(uint64_t* tsc) {
  LONGLONG best = 0;
  uint64_t bestSpan = ~(uint64_t)0;
  int i;
  for (i = 0; i < 8; ++i) {
    const uint64_t a = Rdtsc();
    const LONGLONG t = KeQueryPerformanceCounter(NULL).QuadPart;
    const uint64_t b = Rdtsc();
    if (b - a < bestSpan) {
      bestSpan = b - a;
      best = t;
      *tsc = a + (b - a) / 2;
    }
  }
  return best;
}

/* Cycles during one system timer tick (1/18.206 s): the time-stamp counter
 * over at least that long on the performance counter, scaled to it. */
static uint32_t OpClockCount(void* ctx, uint32_t* cycles) {
  LARGE_INTEGER freq;
  uint64_t tsc0 = 0, tsc1 = 0, target, elapsed;
  LONGLONG t0, t1;
  (void)ctx;
  KeQueryPerformanceCounter(&freq);
  if (freq.QuadPart <= 0) return KV_ERR_INVALID_FUNCTION;
  target = (uint64_t)freq.QuadPart * 1000u / 18206u;
  t0 = ReadBoth(&tsc0);
  do {
    t1 = ReadBoth(&tsc1);
    /* A counter that goes backwards or stands still for ten ticks' worth of
     * cycles at 10 GHz ends the measurement with an error. */
    if (t1 < t0 || tsc1 - tsc0 > UINT64_C(5500000000)) return KV_ERR_INVALID_FUNCTION;
  } while ((uint64_t)(t1 - t0) < target);
  elapsed = (uint64_t)(t1 - t0);
  *cycles = KvScaleCycles(tsc1 - tsc0, elapsed, target);
  return *cycles != 0 ? 0 : KV_ERR_INVALID_FUNCTION;
}

static const KvOps kOps = {NULL,      OpProcessorCount, OpBind,    OpUnbind,
                           OpCpuid,   OpRdmsr,          OpWrmsr,   OpPortIn,
                           OpPortOut, OpClockCount};

/* --- the device ---------------------------------------------------------- */

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static NTSTATUS NTAPI OnCreate(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  SetHandleCpu(IoGetCurrentIrpStackLocation(irp)->FileObject, 1);
  return Complete(irp, STATUS_SUCCESS, 0);
}

/* The last handle to a file object going away, and the file object itself. */
static NTSTATUS NTAPI OnClose(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI OnDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  uint8_t* buffer = (uint8_t*)irp->AssociatedIrp.SystemBuffer;
  ULONG inLen = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG outLen = stack->Parameters.DeviceIoControl.OutputBufferLength;
  uint8_t in[32];
  uint32_t replyLen = 0, e;
  ULONG i;
  KvHandle h;
  (void)device;
  /* The reply goes into the same system buffer: take the request first. */
  if (buffer == NULL) inLen = 0;
  if (inLen > sizeof in) inLen = sizeof in;
  for (i = 0; i < inLen; ++i) in[i] = buffer[i];
  h.cpu = HandleCpu(stack->FileObject);
  e = KvDispatch(&kOps, &h, KV_VERSION, stack->Parameters.DeviceIoControl.IoControlCode,
                 inLen != 0 ? in : NULL, inLen, outLen != 0 ? buffer : NULL, outLen, &replyLen);
  SetHandleCpu(stack->FileObject, h.cpu);
  return Complete(irp, (NTSTATUS)KvNtStatus(e), e == 0 ? replyLen : 0);
}

static const WCHAR kDeviceName[] = L"\\Device\\Dev_KelvorNT";
static const WCHAR kLinkName[] = L"\\DosDevices\\Dev_KelvorNT";

static VOID NTAPI OnUnload(PDRIVER_OBJECT driver) {
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, kLinkName);
  IoDeleteSymbolicLink(&link);
  if (driver->DeviceObject != NULL) IoDeleteDevice(driver->DeviceObject);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  UNICODE_STRING name, link;
  PDEVICE_OBJECT device = NULL;
  NTSTATUS status;
  (void)registryPath;
  RtlInitUnicodeString(&name, kDeviceName);
  RtlInitUnicodeString(&link, kLinkName);
  status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    return status;
  }
  device->Flags |= DO_BUFFERED_IO;
  driver->MajorFunction[IRP_MJ_CREATE] = OnCreate;
  driver->MajorFunction[IRP_MJ_CLEANUP] = OnClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = OnClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = OnDeviceControl;
  driver->DriverUnload = OnUnload;
  return STATUS_SUCCESS;
}
