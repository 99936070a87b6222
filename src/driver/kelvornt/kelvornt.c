/* KELVORNT.SYS: the NT kernel driver (Windows NT 4.0 to XP) behind the
 * device \\.\Dev_KelvorNT. Requests arrive as METHOD_BUFFERED device control
 * calls: the input buffer is the 16-byte request block, followed by the
 * 16-byte cache transaction block when there is one; the output buffer is the
 * reply area. The driver never reads memory at an address a caller names.
 * Decoding and checks are in dispatch.c; this file holds the kernel calls and
 * the processor instructions.
 *
 * It serves one open at a time, of Administrators or SYSTEM only: the
 * program opens it right after starting the service and holds that handle
 * until it removes the service again. */
#include <ntddk.h>

#include "dispatch.h"

/* The device's state: the one open file object and its handle state, the
 * lock that makes one request at a time, and the descriptor every open is
 * checked against. */
typedef struct KvDevice {
  KMUTEX lock;
  PFILE_OBJECT holder; /* NULL while nobody has the device open */
  KvHandle handle;
  ULONG descriptor[(KV_OPEN_DESCRIPTOR_SIZE + 3) / 4];
} KvDevice;

static KvDevice* DeviceState(PDEVICE_OBJECT device) {
  return (KvDevice*)device->DeviceExtension;
}

static void Lock(KvDevice* d) {
  KeWaitForSingleObject(&d->lock, Executive, KernelMode, FALSE, NULL);
}

static void Unlock(KvDevice* d) {
  KeReleaseMutex(&d->lock, FALSE);
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

/* Whether the opener may use the device: an access check of its token (the
 * thread's, or its process's) against the driver's own descriptor, which
 * admits Administrators and SYSTEM only. The driver checks it itself: the
 * calls that would give the device object that descriptor
 * (ZwSetSecurityObject on a handle from ObOpenObjectByPointer, or
 * IoCreateDeviceSecure from a library mingw-w64 does not have) are not sure
 * to exist in NT 4.0's kernel, and one missing import keeps a driver from
 * loading; SeAccessCheck is there from NT 3.1 on, so NT 4.0 gets the same
 * check as the later systems. Every NT I/O manager hands a create its
 * security context; Wine's kernel-driver host hands none, and is admitted. */
static BOOLEAN Admitted(KvDevice* d, PIO_STACK_LOCATION stack, PIRP irp) {
  PIO_SECURITY_CONTEXT context = stack->Parameters.Create.SecurityContext;
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                             FILE_ALL_ACCESS};
  ACCESS_MASK granted = 0;
  PPRIVILEGE_SET privileges = NULL; /* none are used for these rights */
  NTSTATUS status = STATUS_SUCCESS;
  BOOLEAN admitted;
  if (context == NULL || context->AccessState == NULL) return TRUE;
  admitted = SeAccessCheck((PSECURITY_DESCRIPTOR)d->descriptor,
                           &context->AccessState->SubjectSecurityContext, FALSE,
                           FILE_READ_DATA | FILE_WRITE_DATA, 0, &privileges, &mapping,
                           irp->RequestorMode, &granted, &status);
  if (privileges != NULL) ExFreePool(privileges);
  return admitted && NT_SUCCESS(status);
}

/* An open: the device itself only (no name after it), by an administrator
 * or the system, while nobody else has it open. The I/O manager keeps a
 * second open of an exclusive device out already; the driver checks it
 * again, since not every host does (Wine's server even opens the file
 * before it asks the driver, so requests check the holder as well). */
static NTSTATUS NTAPI OnCreate(PDEVICE_OBJECT device, PIRP irp) {
  KvDevice* d = DeviceState(device);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  PFILE_OBJECT file = stack->FileObject;
  NTSTATUS status = STATUS_SUCCESS;
  if (file == NULL || file->FileName.Length != 0 || file->RelatedFileObject != NULL ||
      !Admitted(d, stack, irp)) {
    return Complete(irp, STATUS_ACCESS_DENIED, 0);
  }
  Lock(d);
  if (d->holder != NULL) {
    status = STATUS_ACCESS_DENIED;
  } else {
    d->holder = file;
    KvHandleInit(&d->handle);
  }
  Unlock(d);
  return Complete(irp, status, 0);
}

/* The last handle to the file object is closed: by the program, or by the
 * system when the process ends however it ends ("End process", a crash).
 * Whatever the handle left changed is put back here already, in the
 * closing process's context, so that it is not left for as long as another
 * reference keeps the file object. */
static NTSTATUS NTAPI OnCleanup(PDEVICE_OBJECT device, PIRP irp) {
  KvDevice* d = DeviceState(device);
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  Lock(d);
  if (file != NULL && file == d->holder) KvHandleClose(&kOps, &d->handle);
  Unlock(d);
  return Complete(irp, STATUS_SUCCESS, 0);
}

/* The file object itself goes: the device is free again, and whatever the
 * handle left changed is put back (already done at the cleanup, unless a
 * request came between the two). */
static NTSTATUS NTAPI OnClose(PDEVICE_OBJECT device, PIRP irp) {
  KvDevice* d = DeviceState(device);
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  Lock(d);
  if (file != NULL && file == d->holder) {
    KvHandleClose(&kOps, &d->handle);
    d->holder = NULL;
  }
  Unlock(d);
  return Complete(irp, STATUS_SUCCESS, 0);
}

/* One request at a time, and only on the open that holds the device. */
static NTSTATUS NTAPI OnDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  KvDevice* d = DeviceState(device);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  uint8_t* buffer = (uint8_t*)irp->AssociatedIrp.SystemBuffer;
  ULONG inLen = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG outLen = stack->Parameters.DeviceIoControl.OutputBufferLength;
  uint8_t in[32];
  uint32_t replyLen = 0, e;
  ULONG i;
  /* The reply goes into the same system buffer: take the request first. */
  if (buffer == NULL) inLen = 0;
  if (inLen > sizeof in) inLen = sizeof in;
  for (i = 0; i < inLen; ++i) in[i] = buffer[i];
  Lock(d);
  if (stack->FileObject == NULL || stack->FileObject != d->holder) {
    e = KV_ERR_ACCESS_DENIED;
  } else {
    e = KvDispatch(&kOps, &d->handle, KV_VERSION, stack->Parameters.DeviceIoControl.IoControlCode,
                   inLen != 0 ? in : NULL, inLen, outLen != 0 ? buffer : NULL, outLen, &replyLen);
  }
  Unlock(d);
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
  KvDevice* d;
  NTSTATUS status;
  (void)registryPath;
  RtlInitUnicodeString(&name, kDeviceName);
  RtlInitUnicodeString(&link, kLinkName);
  /* Exclusive: one open at a time. FILE_DEVICE_SECURE_OPEN makes the I/O
   * manager check an open of a name below the device like one of the device
   * (systems older than the flag ignore it); OnCreate refuses those anyway. */
  status = IoCreateDevice(driver, sizeof(KvDevice), &name, FILE_DEVICE_UNKNOWN,
                          FILE_DEVICE_SECURE_OPEN, TRUE, &device);
  if (!NT_SUCCESS(status)) return status;
  d = DeviceState(device);
  KeInitializeMutex(&d->lock, 0);
  d->holder = NULL;
  KvHandleInit(&d->handle);
  KvOpenDescriptor((uint8_t*)d->descriptor, sizeof d->descriptor);
  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    return status;
  }
  device->Flags |= DO_BUFFERED_IO;
  driver->MajorFunction[IRP_MJ_CREATE] = OnCreate;
  driver->MajorFunction[IRP_MJ_CLEANUP] = OnCleanup;
  driver->MajorFunction[IRP_MJ_CLOSE] = OnClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = OnDeviceControl;
  driver->DriverUnload = OnUnload;
  return STATUS_SUCCESS;
}
