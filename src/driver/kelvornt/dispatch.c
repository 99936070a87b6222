/* KELVORNT.SYS request handling: the same answers, reply lengths and
 * last-error values as the program's own device on a simulated machine. */
#include "dispatch.h"

#include <stddef.h>

/* P6 cache controller registers of the cache transaction. */
#define MSR_BBL_D0 0x88u
#define MSR_BBL_ADDR 0x116u
#define MSR_BBL_CTL 0x119u
#define MSR_BBL_TRIG 0x11Au
#define MSR_BBL_BUSY 0x11Bu
#define L2_BUSY_POLLS 273

/* CPUID leaf 1 EDX: time-stamp counter and model-specific registers. */
#define FEAT_TSC (1u << 4)
#define FEAT_MSR (1u << 5)

static uint32_t GetWord(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static void PutWord(uint8_t* out, unsigned index, uint32_t v) {
  unsigned i;
  for (i = 0; i < 4; ++i) out[4 * index + i] = (uint8_t)(v >> (8 * i));
}

/* The reply length each function needs; -1 for an unknown function. */
static int ReplyLength(uint32_t func) {
  switch (func) {
    case KV_REQ_IDENTIFY:
      return 12;
    case KV_REQ_PORT_IN:
      return 1;
    case KV_REQ_MSR_READ:
    case KV_REQ_CLOCK_COUNT:
    case KV_REQ_L2_TRANSACTION:
    case KV_REQ_VERSION:
      return 8;
    case KV_REQ_CPUID:
      return 16;
    case KV_REQ_PORT_OUT:
    case KV_REQ_MSR_WRITE:
    case KV_REQ_SET_CPU:
    case KV_REQ_SIGNATURE:
      return 0;
    default:
      return -1;
  }
}

void KvHandleInit(KvHandle* h) {
  h->cpu = 1;
}

int KvMsrAllowed(uint32_t reg) {
  switch (reg) {
    case 0x2Au:  /* EBL_CR_POWERON */
    case 0xFEu:  /* MTRRcap */
    case 0x116u: /* BBL_CR_ADDR */
    case 0x118u: /* BBL_CR_DECC */
    case 0x119u: /* BBL_CR_CTL */
    case 0x11Au: /* BBL_CR_TRIG */
    case 0x11Bu: /* BBL_CR_BUSY */
    case 0x11Eu: /* BBL_CR_CTL3 */
    case 0x1E0u:
      return 1;
    default:
      /* BBL_CR_D0..D3, and the eight variable-range MTRR pairs a P6 has. */
      return (reg >= 0x88u && reg <= 0x8Bu) || (reg >= 0x200u && reg <= 0x20Fu);
  }
}

int KvPortAllowed(uint32_t port) {
  return port >= 0x21u && port <= 0x23u;
}

uint32_t KvNtStatus(uint32_t lastError) {
  switch (lastError) {
    case 0:
      return 0x00000000u; /* STATUS_SUCCESS */
    case KV_ERR_INVALID_FUNCTION:
      return 0xC0000010u; /* STATUS_INVALID_DEVICE_REQUEST */
    case KV_ERR_ACCESS_DENIED:
      return 0xC0000022u; /* STATUS_ACCESS_DENIED */
    case KV_ERR_BAD_LENGTH:
      return 0xC0000004u; /* STATUS_INFO_LENGTH_MISMATCH */
    case KV_ERR_INVALID_PARAMETER:
      return 0xC000000Du; /* STATUS_INVALID_PARAMETER */
    case KV_ERR_NO_CPUID:        /* STATUS_ILLEGAL_INSTRUCTION */
    case KV_ERR_CPU_UNREACHABLE: /* STATUS_INVALID_DISPOSITION */
    case KV_ERR_REGISTER_FAULT:  /* STATUS_PRIVILEGED_INSTRUCTION */
      /* These translate to themselves. */
      return lastError;
    default:
      /* A Win32 error code carried in an NTSTATUS (facility 7), which
       * translates back to the code itself (the cache busy error 1460). */
      return 0xC0070000u | (lastError & 0xFFFFu);
  }
}

uint32_t KvScaleCycles(uint64_t cycles, uint64_t elapsed, uint64_t target) {
  uint64_t q, r, v;
  if (elapsed == 0 || target == 0) return 0;
  q = cycles / elapsed;
  r = cycles % elapsed;
  if (q != 0 && target > UINT64_C(0xFFFFFFFF) / q) return 0;
  v = q * target + (r * target) / elapsed;
  return v > UINT64_C(0xFFFFFFFF) ? 0 : (uint32_t)v;
}

/* CPUID leaf 1 EDX of the bound processor; 0 when CPUID fails. */
static uint32_t Features(const KvOps* ops) {
  uint32_t regs[4] = {0, 0, 0, 0};
  if (ops->cpuid(ops->ctx, 0, regs) != 0 || regs[0] < 1) return 0;
  if (ops->cpuid(ops->ctx, 1, regs) != 0) return 0;
  return regs[3];
}

/* The cache controller's register sequence: address and data into
 * BBL_CR_ADDR and BBL_CR_D0..D3, the command and way into BBL_CR_CTL, the
 * trigger, then BBL_CR_BUSY polled until bit 0 clears. */
static uint32_t L2Transaction(const KvOps* ops, uint32_t command, uint32_t way,
                              const uint8_t* block, uint32_t* addrLo, uint32_t* addrHi) {
  const uint64_t addr = (uint64_t)GetWord(block + 4) << 32 | GetWord(block);
  const uint64_t data = (uint64_t)GetWord(block + 12) << 32 | GetWord(block + 8);
  uint64_t ctl = 0, busy = 0, back = 0;
  uint32_t e, reg, lo;
  int i, idle = 0;
  e = ops->wrmsr(ops->ctx, MSR_BBL_ADDR, addr);
  for (reg = MSR_BBL_D0; e == 0 && reg < MSR_BBL_D0 + 4; ++reg) e = ops->wrmsr(ops->ctx, reg, data);
  if (e == 0) e = ops->rdmsr(ops->ctx, MSR_BBL_CTL, &ctl);
  if (e == 0) {
    lo = ((uint32_t)ctl & 0xFFFFFCE0u) | way << 8 | command;
    e = ops->wrmsr(ops->ctx, MSR_BBL_CTL, (ctl & UINT64_C(0xFFFFFFFF00000000)) | lo);
  }
  if (e == 0) e = ops->wrmsr(ops->ctx, MSR_BBL_TRIG, 0);
  if (e != 0) return e;
  for (i = 0; i < L2_BUSY_POLLS && !idle; ++i) {
    e = ops->rdmsr(ops->ctx, MSR_BBL_BUSY, &busy);
    if (e != 0) return e;
    idle = (busy & 1) == 0;
  }
  if (!idle) return KV_ERR_L2_BUSY;
  e = ops->rdmsr(ops->ctx, MSR_BBL_ADDR, &back);
  if (e != 0) return e;
  *addrLo = (uint32_t)back;
  *addrHi = (uint32_t)(back >> 32);
  return 0;
}

/* A processor-bound request, run with the thread bound to its processor. */
static uint32_t Bound(const KvOps* ops, uint32_t func, uint32_t p1, uint32_t p2,
                      uint32_t p3, const uint8_t* attached, uint32_t attachedLen, uint8_t* out) {
  uint32_t regs[4] = {0, 0, 0, 0};
  uint64_t v = 0;
  uint32_t cycles = 0, lo = 0, hi = 0;
  uint32_t e;
  switch (func) {
    case KV_REQ_CPUID:
      e = ops->cpuid(ops->ctx, p1, regs);
      if (e != 0) return e;
      PutWord(out, 0, regs[0]);
      PutWord(out, 1, regs[1]);
      PutWord(out, 2, regs[2]);
      PutWord(out, 3, regs[3]);
      return 0;
    case KV_REQ_MSR_READ:
      if (!KvMsrAllowed(p1)) return KV_ERR_ACCESS_DENIED;
      if ((Features(ops) & FEAT_MSR) == 0) return KV_ERR_REGISTER_FAULT;
      e = ops->rdmsr(ops->ctx, p1, &v);
      if (e != 0) return e;
      PutWord(out, 0, (uint32_t)v);
      PutWord(out, 1, (uint32_t)(v >> 32));
      return 0;
    case KV_REQ_MSR_WRITE:
      if (!KvMsrAllowed(p1)) return KV_ERR_ACCESS_DENIED;
      if ((Features(ops) & FEAT_MSR) == 0) return KV_ERR_REGISTER_FAULT;
      return ops->wrmsr(ops->ctx, p1, (uint64_t)p3 << 32 | p2);
    case KV_REQ_CLOCK_COUNT:
      /* The selector names the system timer; there is only the one. */
      if ((Features(ops) & FEAT_TSC) == 0) return KV_ERR_INVALID_FUNCTION;
      e = ops->clock_count(ops->ctx, &cycles);
      if (e != 0) return e;
      PutWord(out, 0, cycles);
      PutWord(out, 1, 0);
      return 0;
    case KV_REQ_L2_TRANSACTION:
      if (p1 > 0x1Fu || p2 > 3u || attached == NULL || attachedLen < 16) {
        return KV_ERR_INVALID_PARAMETER;
      }
      if ((Features(ops) & FEAT_MSR) == 0) return KV_ERR_REGISTER_FAULT;
      e = L2Transaction(ops, p1, p2, attached, &lo, &hi);
      if (e != 0) return e;
      PutWord(out, 0, lo);
      PutWord(out, 1, hi);
      return 0;
    default:
      return KV_ERR_INVALID_FUNCTION;
  }
}

uint32_t KvDispatch(const KvOps* ops, KvHandle* h, uint32_t version, uint32_t ioctlCode,
                    const uint8_t* in, uint32_t inLen, uint8_t* out, uint32_t outLen,
                    uint32_t* replyLen) {
  uint32_t func, p1, p2, p3, e;
  int need, count;
  const uint8_t* attached = NULL;
  uint32_t attachedLen = 0;
  *replyLen = 0;
  if (ioctlCode != KV_IOCTL_CODE) return KV_ERR_INVALID_FUNCTION;
  if (in == NULL || inLen < 16) return KV_ERR_BAD_LENGTH;
  func = GetWord(in);
  p1 = GetWord(in + 4);
  p2 = GetWord(in + 8);
  p3 = GetWord(in + 12);
  if (inLen > 16) {
    attached = in + 16;
    attachedLen = inLen - 16;
  }
  need = ReplyLength(func);
  if (need < 0) return KV_ERR_INVALID_FUNCTION;
  if (need > 0 && (out == NULL || outLen < (uint32_t)need)) return KV_ERR_BAD_LENGTH;
  count = ops->processor_count(ops->ctx);

  switch (func) {
    case KV_REQ_IDENTIFY:
      PutWord(out, 0, 0x12340001u);
      PutWord(out, 1, 0);
      PutWord(out, 2, 0);
      break;
    case KV_REQ_VERSION:
      PutWord(out, 0, version);
      PutWord(out, 1, 0);
      break;
    case KV_REQ_SIGNATURE:
      if (p1 != KV_SIGNATURE) return KV_ERR_INVALID_PARAMETER;
      break;
    case KV_REQ_SET_CPU:
      /* The number is kept even when no such processor exists, so that
       * every later processor-bound request on this handle fails instead of
       * acting on another processor. */
      h->cpu = p1 > 0x7FFFu ? 0 : (int)p1;
      if (h->cpu < 1 || h->cpu > count) return KV_ERR_CPU_UNREACHABLE;
      break;
    case KV_REQ_PORT_IN: {
      uint8_t v = 0xFF;
      if (p1 > 0xFFFFu) return KV_ERR_INVALID_PARAMETER;
      if (!KvPortAllowed(p1)) return KV_ERR_ACCESS_DENIED;
      e = ops->port_in(ops->ctx, (uint16_t)p1, &v);
      if (e != 0) return e;
      out[0] = v;
      break;
    }
    case KV_REQ_PORT_OUT:
      if (p1 > 0xFFFFu || p2 > 0xFFu) return KV_ERR_INVALID_PARAMETER;
      if (!KvPortAllowed(p1)) return KV_ERR_ACCESS_DENIED;
      e = ops->port_out(ops->ctx, (uint16_t)p1, (uint8_t)p2);
      if (e != 0) return e;
      break;
    default:
      /* Processor-bound functions act on the announced processor only. */
      if (h->cpu < 1 || h->cpu > count) return KV_ERR_CPU_UNREACHABLE;
      e = ops->bind(ops->ctx, h->cpu);
      if (e != 0) return e;
      e = Bound(ops, func, p1, p2, p3, attached, attachedLen, out);
      ops->unbind(ops->ctx);
      if (e != 0) return e;
      break;
  }
  *replyLen = (uint32_t)need;
  return 0;
}
