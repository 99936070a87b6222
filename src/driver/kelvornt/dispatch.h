/* KELVORNT.SYS request handling, free of any kernel header: decodes the
 * 16-byte request block, checks lengths and parameters, refuses whatever the
 * program's own analysis does not send, and carries the rest out through a
 * small table of operations. The kernel driver fills the table with the
 * processor instructions and kernel calls; the tests fill it with a
 * simulated machine. Plain C99. */
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
 * last-error value. All but processor_count run between bind and unbind, on
 * the bound processor, except the port write that puts the interrupt mask
 * back when a handle closes. */
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

/* Processors whose register values a handle remembers (the program names
 * processors 1 to 15); a write that must match a value read is refused on a
 * processor beyond them. */
#define KV_MAX_CPUS 16
/* Cache controller registers the analysis writes back as it read them and
 * the handle's close puts back: BBL_CR_D0..D3, BBL_CR_ADDR, BBL_CR_DECC,
 * BBL_CR_CTL and BBL_CR_CTL3. */
#define KV_KEPT_MSRS 8

/* What a handle knows of one of those registers on one processor: the
 * value found, which is the first value the handle read there (or, for
 * BBL_CR_CTL3, the value an ECC pass set, which is meant to stay), and
 * whether the handle changed the register since. Every write is formed from
 * the value found, and a close writes it back wherever the handle changed
 * the register: however many analyses one handle runs, the program's own
 * restore is a write of this value and is never refused. */
typedef struct KvSeen {
  uint8_t known;   /* found holds a value read */
  uint8_t changed; /* written by a request or a cache transaction */
  uint64_t found;
} KvSeen;

/* Where a handle stands in the Cyrix identification's port sequence. The
 * values of the interrupt mask, CCR3 and CCR4 are the first ones read. */
typedef struct KvPorts {
  int16_t index;         /* configuration register selected at port 22h; -1: none */
  uint8_t maskRead;      /* port 21h was read: mask holds the interrupt mask */
  uint8_t mask;
  uint8_t mirrorCheck;   /* port 23h at index C0h gave the mask: 21h may be masked */
  uint8_t maskRaised;    /* port 21h holds FFh from the mirror check */
  uint8_t board;         /* KV_BOARD_*: what the mirror check found */
  uint8_t ccr3Read, ccr3; /* CCR3 as first read at index C3h */
  uint8_t ccr4Read, ccr4; /* CCR4 as first read at index E8h */
  uint8_t ccr3Opened;     /* CCR3 holds MAPEN that it did not hold when read */
  uint8_t ccr4Changed;    /* CCR4 holds the CPUID bit that it did not hold */
  int cpu;                /* the processor whose CCR3/CCR4 were written */
} KvPorts;

#define KV_BOARD_UNKNOWN 0
#define KV_BOARD_PLAIN 1  /* ports 22h/23h are not the interrupt controller's */
#define KV_BOARD_MIRROR 2 /* they are: no configuration register is there */

/* State of one open handle: the processor announced with the processor
 * selection request (1 until then), the register values read through it,
 * and its place in the port sequence. */
typedef struct KvHandle {
  int cpu;
  KvPorts ports;
  KvSeen msrs[KV_MAX_CPUS][KV_KEPT_MSRS];
} KvHandle;

void KvHandleInit(KvHandle* h);

/* The handle goes away (or its last user handle closes): whatever it left
 * changed is put back as found. Each cache controller register the handle
 * changed is written back to its value found on its processor, where it
 * differs (the data, address and ECC registers first, then BBL_CR_CTL, then
 * BBL_CR_CTL3, which enables the cache again); a CCR4 with CPUID switched on
 * and a CCR3 with MAPEN set are written back as read; an interrupt mask that
 * the mirror check raised is put back. Nothing is left to do afterwards, so
 * a second call does nothing. */
void KvHandleClose(const KvOps* ops, KvHandle* h);

/* Handles one device control request. `in` holds the 16-byte request block,
 * followed by the 16-byte cache transaction block when there is one; `out`
 * is the reply area. Returns 0 or a last-error value; on success *replyLen
 * is the number of reply bytes written. */
uint32_t KvDispatch(const KvOps* ops, KvHandle* h, uint32_t version, uint32_t ioctlCode,
                    const uint8_t* in, uint32_t inLen, uint8_t* out, uint32_t outLen,
                    uint32_t* replyLen);

/* The security descriptor every open of the device is checked against,
 * self-relative: owner Administrators, group SYSTEM, and a DACL granting all
 * file access to SYSTEM and to Administrators, to nobody else. Writes it to
 * `out` and returns its length, KV_OPEN_DESCRIPTOR_SIZE; 0 when `size` is
 * too small. */
#define KV_OPEN_DESCRIPTOR_SIZE 100u
uint32_t KvOpenDescriptor(uint8_t* out, uint32_t size);

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
