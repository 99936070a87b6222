/* KELVORNT.SYS request handling, free of any kernel header: decodes the
 * 16-byte request block, checks lengths and parameters and carries the
 * request out through a small table of operations. The kernel driver fills
 * the table with the processor instructions and kernel calls; the tests fill
 * it with a simulated machine. Plain C99. */
#ifndef KELVORNT_DISPATCH_H
#define KELVORNT_DISPATCH_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KV_IOCTL_CODE 0x9C406000u
#define KV_SIGNATURE 0x4A57515Au
#ifndef KV_VERSION
#define KV_VERSION 0x0103u
#endif

/* Last-error values of a failed request, as the program compares them. */
#define KV_ERR_INVALID_FUNCTION 1u
#define KV_ERR_ACCESS_DENIED 5u
#define KV_ERR_BAD_LENGTH 24u
#define KV_ERR_INVALID_PARAMETER 87u
#define KV_ERR_L2_BUSY 1460u
#define KV_ERR_NO_CPUID 0xC000001Du
#define KV_ERR_CPU_UNREACHABLE 0xC0000026u
#define KV_ERR_REGISTER_FAULT 0xC0000096u

/* Request functions (the first word of the request block). */
enum {
  KV_REQ_IDENTIFY = 1,
  KV_REQ_PORT_IN = 10,
  KV_REQ_PORT_OUT = 11,
  KV_REQ_MSR_READ = 20,
  KV_REQ_MSR_WRITE = 21,
  KV_REQ_CPUID = 22,
  KV_REQ_CLOCK_COUNT = 71,
  KV_REQ_SET_CPU = 74,
  KV_REQ_L2_TRANSACTION = 91,
  KV_REQ_VERSION = 101,
  KV_REQ_SIGNATURE = 102
};

/* What the driver does on the hardware. Every operation returns 0 or a
 * last-error value. The processor-bound ones (cpuid, rdmsr, wrmsr,
 * clock_count) run between bind and unbind, on the bound processor. */
typedef struct KvOps {
  void* ctx;
  /* Number of processors; they are numbered 1..count in requests. */
  int (*processor_count)(void* ctx);
  /* Runs the calling thread on processor `cpu` (1-based) until unbind. */
  uint32_t (*bind)(void* ctx, int cpu);
  void (*unbind)(void* ctx);
  /* regs: EAX, EBX, ECX, EDX. */
  uint32_t (*cpuid)(void* ctx, uint32_t leaf, uint32_t regs[4]);
  uint32_t (*rdmsr)(void* ctx, uint32_t reg, uint64_t* value);
  uint32_t (*wrmsr)(void* ctx, uint32_t reg, uint64_t value);
  uint32_t (*port_in)(void* ctx, uint16_t port, uint8_t* value);
  uint32_t (*port_out)(void* ctx, uint16_t port, uint8_t value);
  /* Processor cycles during one system timer tick (1/18.206 s). */
  uint32_t (*clock_count)(void* ctx, uint32_t* cycles);
} KvOps;

/* State of one open handle: the processor announced with the processor
 * selection request (1 until then). */
typedef struct KvHandle {
  int cpu;
} KvHandle;

void KvHandleInit(KvHandle* h);

/* Handles one device control request. `in` holds the 16-byte request block,
 * followed by the 16-byte cache transaction block when there is one; `out`
 * is the reply area. Returns 0 or a last-error value; on success *replyLen
 * is the number of reply bytes written. */
uint32_t KvDispatch(const KvOps* ops, KvHandle* h, uint32_t version, uint32_t ioctlCode,
                    const uint8_t* in, uint32_t inLen, uint8_t* out, uint32_t outLen,
                    uint32_t* replyLen);

/* Whether a model-specific register may be read or written: only the ones
 * the program uses on a P6 processor, since a register the processor lacks
 * would fault in the kernel. */
int KvMsrAllowed(uint32_t reg);

/* Whether a port may be used: the interrupt controller's mask (21h) and the
 * configuration index and data ports 22h/23h. */
int KvPortAllowed(uint32_t port);

/* The NTSTATUS whose Win32 translation (RtlNtStatusToDosError, which
 * DeviceIoControl applies) is the given last-error value. */
uint32_t KvNtStatus(uint32_t lastError);

/* Scales a cycle count measured over `elapsed` units of a clock to
 * `target` units of the same clock; 0 when it does not fit 32 bits. */
uint32_t KvScaleCycles(uint64_t cycles, uint64_t elapsed, uint64_t target);

#ifdef __cplusplus
}
#endif

#endif
