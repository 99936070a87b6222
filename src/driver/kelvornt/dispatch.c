/* KELVORNT.SYS request handling: the answers, reply lengths and last-error
 * values of the program's own device on a simulated machine, for exactly the
 * requests the program's analysis sends; everything else is refused before
 * any instruction reaches the hardware.
 *
 * Why no request can fault in the kernel. The driver is plain C without
 * structured exception handling: a general-protection fault in RDMSR or
 * WRMSR, or an instruction the processor lacks, stops the system. So:
 *  - CPUID runs only where the ID flag shows the instruction (kelvornt.c).
 *  - RDMSR/WRMSR run only on a processor whose CPUID, read on that processor
 *    for that very request, says GenuineIntel, family 6 without extended
 *    model or family, model 0-8, 0Ah or 0Bh, with the MSR flag: the Pentium
 *    Pro, Pentium II, Celeron, Pentium III and their Xeons. Every register
 *    of kReads exists on all of them (EBL_CR_POWERON 2Ah, MTRRcap FEh, the
 *    eight variable MTRR pairs 200h-20Fh and 1E0h on every P6; the cache
 *    controller's BBL_CR registers on models 3 and later only, so those are
 *    refused on the Pentium Pro's models 0-2).
 *  - WRMSR writes only the cache controller registers of kWrites, and only
 *    values formed from the value found in the same register (the first
 *    value it gave this handle on the same processor), with at most the
 *    bits the analysis changes (BBL_CR_CTL3 bits 5, 14, 18 and the bits its
 *    test clears; BBL_CR_CTL bit 18), or the fixed ECC pattern of
 *    BBL_CR_DECC: a register takes back what it gave, and those bits are
 *    defined on every processor of the set. No write reaches a read-only
 *    register (MTRRcap, BBL_CR_BUSY), the memory type ranges,
 *    EBL_CR_POWERON, 1E0h or the trigger BBL_CR_TRIG.
 *  - The cache transaction writes BBL_CR_ADDR, D0-D3, CTL (command and way
 *    into the value read from it) and TRIG and reads BUSY and ADDR, on a
 *    processor with the cache controller, with one of the three transactions
 *    of kTransactions: the configuration register reads 0-8 (command 02h),
 *    and the ECC test's line write (1Ch: tag and data written with the line
 *    invalid, so no dirty line for any memory address can be made, as 1Fh
 *    would) and read (0Eh), at address 0, way 0, with fixed data.
 *  - IN/OUT touch only ports 21h, 22h and 23h, which cannot fault.
 *
 * Why nothing stays changed when the program ends, however it ends (its own
 * restore, a register failure, "End process", a crash): a handle remembers
 * the value found in each cache controller register it reads or changes,
 * and which ones it changed; its close (KvHandleClose, from the cleanup and
 * the close of the file object) writes those back, and the Cyrix registers
 * and the interrupt mask it changed as well. */
#include "dispatch.h"

#include <stddef.h>

/* P6 cache controller registers of the cache transaction. */
#define MSR_BBL_D0 0x88u
#define MSR_BBL_ADDR 0x116u
#define MSR_BBL_CTL 0x119u
#define MSR_BBL_TRIG 0x11Au
#define MSR_BBL_BUSY 0x11Bu
#define MSR_BBL_DECC 0x118u
#define MSR_BBL_CTL3 0x11Eu
#define L2_BUSY_POLLS 273

/* CPUID leaf 1 EDX: time-stamp counter and model-specific registers. */
#define FEAT_TSC (1u << 4)
#define FEAT_MSR (1u << 5)

/* Ports of the Cyrix identification. */
#define PORT_PIC_MASK 0x21u
#define PORT_CYRIX_INDEX 0x22u
#define PORT_CYRIX_DATA 0x23u
#define CYRIX_CCR0 0xC0u
#define CYRIX_CCR3 0xC3u
#define CYRIX_CCR4 0xE8u
#define CCR3_MAPEN 0x10u
#define CCR4_CPUID 0x80u

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

/* --- the processor ------------------------------------------------------- */

/* Which registers a processor's requests may reach. */
enum {
  P6_NONE = 0,
  P6_PRO = 1,     /* Pentium Pro, models 0-2: no cache controller registers */
  P6_WITH_L2 = 2  /* models 3-8, 0Ah, 0Bh: BBL_CR_CTL3 and the transaction */
};

typedef struct Processor {
  uint32_t error; /* CPUID failed otherwise than by being absent */
  int hasCpuid, hasMsr, cyrix, p6;
} Processor;

/* The bound processor, from its own CPUID. */
static Processor ThisProcessor(const KvOps* ops) {
  Processor p = {0, 0, 0, 0, P6_NONE};
  uint32_t r[4] = {0, 0, 0, 0};
  uint32_t e, family, model;
  int intel;
  e = ops->cpuid(ops->ctx, 0, r);
  if (e != 0) {
    if (e != KV_ERR_NO_CPUID) p.error = e;
    return p;
  }
  p.hasCpuid = 1;
  /* The vendor text in EBX, EDX, ECX. */
  intel = r[1] == 0x756E6547u && r[3] == 0x49656E69u && r[2] == 0x6C65746Eu; /* GenuineIntel */
  p.cyrix = r[1] == 0x69727943u && r[3] == 0x736E4978u && r[2] == 0x64616574u; /* CyrixInstead */
  if (r[0] < 1) return p;
  e = ops->cpuid(ops->ctx, 1, r);
  if (e != 0) {
    p.error = e;
    return p;
  }
  p.hasMsr = (r[3] & FEAT_MSR) != 0;
  family = (r[0] >> 8) & 0xFu;
  model = (r[0] >> 4) & 0xFu;
  /* Extended model (bits 16-19) and extended family (bits 20-27) zero. */
  if (!intel || !p.hasMsr || family != 6 || (r[0] & 0x0FFF0000u) != 0) return p;
  if (model <= 2) {
    p.p6 = P6_PRO;
  } else if (model <= 8 || model == 0xAu || model == 0xBu) {
    p.p6 = P6_WITH_L2;
  }
  return p;
}

/* The error of a register request on a processor outside the set: the
 * processor's own fault where it has no registers to ask for. */
static uint32_t NotServed(const Processor* p) {
  if (p->error != 0) return p->error;
  if (!p->hasCpuid || !p->hasMsr) return KV_ERR_REGISTER_FAULT;
  return KV_ERR_ACCESS_DENIED;
}

/* CPUID leaf 1 EDX of the bound processor; 0 when CPUID fails. */
static uint32_t Features(const KvOps* ops) {
  uint32_t regs[4] = {0, 0, 0, 0};
  if (ops->cpuid(ops->ctx, 0, regs) != 0 || regs[0] < 1) return 0;
  if (ops->cpuid(ops->ctx, 1, regs) != 0) return 0;
  return regs[3];
}

/* --- model-specific registers -------------------------------------------- */

/* The registers the analysis reads: first..last, on which processors. */
typedef struct MsrRead {
  uint32_t first, last;
  int p6; /* P6_PRO: every processor of the set; P6_WITH_L2: models 3 and later */
} MsrRead;

static const MsrRead kReads[] = {
    {0x02Au, 0x02Au, P6_PRO},     /* EBL_CR_POWERON: ratio and bus */
    {0x0FEu, 0x0FEu, P6_PRO},     /* MTRRcap */
    {0x1E0u, 0x1E0u, P6_PRO},     /* fast strings */
    {0x200u, 0x20Fu, P6_PRO},     /* the eight variable memory type ranges */
    {0x088u, 0x08Bu, P6_WITH_L2}, /* BBL_CR_D0..D3, read to be put back */
    {0x116u, 0x116u, P6_WITH_L2}, /* BBL_CR_ADDR, read to be put back */
    {0x118u, 0x119u, P6_WITH_L2}, /* BBL_CR_DECC (the ECC test), BBL_CR_CTL */
    {0x11Eu, 0x11Eu, P6_WITH_L2}, /* BBL_CR_CTL3 */
};

static int MayRead(uint32_t reg, int p6) {
  size_t i;
  for (i = 0; i < sizeof kReads / sizeof kReads[0]; ++i) {
    if (reg >= kReads[i].first && reg <= kReads[i].last && p6 >= kReads[i].p6) return 1;
  }
  return 0;
}

/* The values written, each formed from the value found in the same
 * register on the same processor: the low half is (value & Keep) | Set, the
 * high half that value's or zero. A form with Keep 0 and the high half zero
 * is a fixed value that needs no read. */
typedef struct MsrWrite {
  uint32_t reg;
  uint32_t keep, set;
  int highAsRead;
  int eccPass; /* the ECC pass's lasting change: it becomes the value found */
} MsrWrite;

static const MsrWrite kWrites[] = {
    /* Put back as found: the ECC test's restore of BBL_CR_CTL3 and
     * BBL_CR_CTL, and every cache controller register the test changed. */
    {0x088u, 0xFFFFFFFFu, 0, 1, 0},
    {0x089u, 0xFFFFFFFFu, 0, 1, 0},
    {0x08Au, 0xFFFFFFFFu, 0, 1, 0},
    {0x08Bu, 0xFFFFFFFFu, 0, 1, 0},
    {0x116u, 0xFFFFFFFFu, 0, 1, 0},
    {0x118u, 0xFFFFFFFFu, 0, 1, 0},
    {0x119u, 0xFFFFFFFFu, 0, 1, 0},
    {0x11Eu, 0xFFFFFFFFu, 0, 1, 0},
    /* The ECC test: BBL_CR_CTL3 with the cache off and bits 14 and 18 set,
     * BBL_CR_CTL with bit 18, BBL_CR_DECC with the known pattern. */
    {0x11Eu, 0xFF88061Eu, 0x00044000u, 1, 0},
    {0x119u, 0xFFFFFFFFu, 0x00040000u, 1, 0},
    {0x118u, 0, 0x51786A77u, 0, 0},
    /* The ECC pass: BBL_CR_CTL3 with ECC checking (bit 5) on or off, its
     * high half written as zero. It is meant to last until the next boot. */
    {0x11Eu, ~0x20u, 0x20u, 0, 1},
    {0x11Eu, ~0x20u, 0, 0, 1},
};

/* The registers whose values a handle remembers, in KvHandle's order,
 * which is also the order a close puts them back in: the data, address and
 * ECC registers, then the control register, then BBL_CR_CTL3, whose restore
 * enables the cache again. */
static const uint32_t kKept[KV_KEPT_MSRS] = {0x088u, 0x089u, 0x08Au, 0x08Bu,
                                             0x116u, 0x118u, 0x119u, 0x11Eu};

/* What the handle knows of `reg` on its processor; NULL when it keeps
 * nothing of that register there. */
static KvSeen* Seen(KvHandle* h, uint32_t reg) {
  unsigned i;
  if (h->cpu < 1 || h->cpu > KV_MAX_CPUS) return NULL;
  for (i = 0; i < KV_KEPT_MSRS; ++i) {
    if (kKept[i] == reg) return &h->msrs[h->cpu - 1][i];
  }
  return NULL;
}

/* A value read: the first one is the value found. */
static void Remember(KvSeen* s, uint64_t v) {
  if (s == NULL || s->known) return;
  s->found = v;
  s->known = 1;
}

/* Before the handle changes a kept register: its value found is read first
 * when the handle has not read it yet (the cache transaction's registers,
 * the ECC pattern's register), and the register counts as changed from
 * then on, so that a close puts it back. */
static uint32_t BeforeChange(const KvOps* ops, KvSeen* s, uint32_t reg) {
  uint64_t v = 0;
  uint32_t e;
  if (s == NULL) return KV_ERR_ACCESS_DENIED;
  if (!s->known) {
    e = ops->rdmsr(ops->ctx, reg, &v);
    if (e != 0) return e;
    Remember(s, v);
  }
  s->changed = 1;
  return 0;
}

/* The form of kWrites that `value` is, or NULL. */
static const MsrWrite* WriteForm(KvHandle* h, uint32_t reg, uint64_t value) {
  const KvSeen* s = Seen(h, reg);
  const uint32_t lo = (uint32_t)value, hi = (uint32_t)(value >> 32);
  size_t i;
  for (i = 0; i < sizeof kWrites / sizeof kWrites[0]; ++i) {
    const MsrWrite* f = &kWrites[i];
    uint32_t foundLo, foundHi;
    if (f->reg != reg) continue;
    if (f->keep == 0 && !f->highAsRead) {
      if (lo == f->set && hi == 0) return f;
      continue;
    }
    if (s == NULL || !s->known) continue;
    foundLo = (uint32_t)s->found;
    foundHi = (uint32_t)(s->found >> 32);
    if (lo == ((foundLo & f->keep) | f->set) && hi == (f->highAsRead ? foundHi : 0)) return f;
  }
  return NULL;
}

/* A register request's write of a kept register. */
static uint32_t WriteKept(const KvOps* ops, KvHandle* h, uint32_t reg, uint64_t value) {
  const MsrWrite* f = WriteForm(h, reg, value);
  KvSeen* s = Seen(h, reg);
  uint32_t e;
  if (f == NULL) return KV_ERR_ACCESS_DENIED;
  e = BeforeChange(ops, s, reg);
  if (e != 0) return e;
  e = ops->wrmsr(ops->ctx, reg, value);
  if (e == 0 && f->eccPass) s->found = value;
  return e;
}

/* The cache controller registers this handle changed on processor `cpu`
 * (1-based), written back to their values found where they differ. */
static void PutBackRegisters(const KvOps* ops, KvHandle* h, int cpu) {
  KvSeen* seen = h->msrs[cpu - 1];
  unsigned r;
  int any = 0;
  uint64_t now;
  Processor p;
  for (r = 0; r < KV_KEPT_MSRS; ++r) any |= seen[r].changed && seen[r].known;
  if (any && cpu <= ops->processor_count(ops->ctx) && ops->bind(ops->ctx, cpu) == 0) {
    /* The registers were changed on this very processor; it is asked
     * again all the same, as before every register instruction. */
    p = ThisProcessor(ops);
    for (r = 0; p.p6 == P6_WITH_L2 && r < KV_KEPT_MSRS; ++r) {
      if (!seen[r].changed || !seen[r].known) continue;
      now = 0;
      if (ops->rdmsr(ops->ctx, kKept[r], &now) != 0 || now != seen[r].found) {
        ops->wrmsr(ops->ctx, kKept[r], seen[r].found);
      }
    }
    ops->unbind(ops->ctx);
  }
  for (r = 0; r < KV_KEPT_MSRS; ++r) seen[r].changed = 0;
}

/* --- the cache transaction ----------------------------------------------- */

/* The transactions the analysis sends, all on way 0 with the address's high
 * half zero: the command, the addresses first..last in steps of `step`, and
 * the data of the line. */
typedef struct Transaction {
  uint32_t command, first, last, step, dataLow, dataHigh;
} Transaction;

static const Transaction kTransactions[] = {
    {0x02u, 0, 8 * 32, 32, 0, 0},                /* configuration registers 0 to 8 */
    {0x1Cu, 0, 0, 1, 0x7A766B20u, 0x7A766B20u},  /* ECC test: the line written */
    {0x0Eu, 0, 0, 1, 0, 0},                      /* ECC test: the line read back */
};

static int MayTransact(uint32_t command, uint32_t way, const uint8_t* block) {
  const uint32_t addr = GetWord(block), addrHigh = GetWord(block + 4);
  const uint32_t dataLow = GetWord(block + 8), dataHigh = GetWord(block + 12);
  size_t i;
  if (way != 0 || addrHigh != 0) return 0;
  for (i = 0; i < sizeof kTransactions / sizeof kTransactions[0]; ++i) {
    const Transaction* t = &kTransactions[i];
    if (command == t->command && addr >= t->first && addr <= t->last &&
        (addr - t->first) % t->step == 0 && dataLow == t->dataLow && dataHigh == t->dataHigh) {
      return 1;
    }
  }
  return 0;
}

/* The cache controller's register sequence: address and data into
 * BBL_CR_ADDR and BBL_CR_D0..D3, the command and way into BBL_CR_CTL, the
 * trigger, then BBL_CR_BUSY polled until bit 0 clears. */
static uint32_t L2Transaction(const KvOps* ops, KvHandle* h, uint32_t command, uint32_t way,
                              const uint8_t* block, uint32_t* addrLo, uint32_t* addrHi) {
  const uint64_t addr = (uint64_t)GetWord(block + 4) << 32 | GetWord(block);
  const uint64_t data = (uint64_t)GetWord(block + 12) << 32 | GetWord(block + 8);
  uint64_t ctl = 0, busy = 0, back = 0;
  uint32_t e = 0, reg, lo;
  int i, idle = 0;
  /* Every register the transaction writes but the trigger is one a close
   * puts back. */
  for (i = 0; e == 0 && i < KV_KEPT_MSRS; ++i) {
    if (kKept[i] != MSR_BBL_DECC && kKept[i] != MSR_BBL_CTL3) {
      e = BeforeChange(ops, Seen(h, kKept[i]), kKept[i]);
    }
  }
  if (e == 0) e = ops->wrmsr(ops->ctx, MSR_BBL_ADDR, addr);
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

/* --- ports --------------------------------------------------------------- */

/* The Cyrix identification, as the program performs it. On a processor
 * without CPUID it first checks whether the board mirrors the interrupt
 * controller at 22h/23h: it reads the mask (21h), reads 23h at index C0h,
 * and only when that gave the mask, masks every interrupt (21h = FFh),
 * reads 23h at C0h again and puts the mask back. Then it reads the
 * configuration registers (index to 22h, one access at 23h), and on some
 * parts opens CCR4 through CCR3 bit 4, switches CPUID on through CCR4 bit 7
 * and puts both back. Only that is served:
 *  - port 21h: read; written only with the mask read, or with FFh right
 *    after 23h at index C0h gave the mask (the mask goes back at close if
 *    the caller does not put it back);
 *  - port 22h: written with an index the identification reads (C0h-CFh,
 *    E8h, E9h, FEh, FFh); on a processor without CPUID, anything but C0h
 *    only once the mirror check found no mirror;
 *  - port 23h: one access after each index; written only at CCR3 (as first
 *    read, with bit 4 set or cleared) and CCR4 (as first read, or with bit
 *    7 set); a close puts back a CCR4 left with bit 7 and a CCR3 left with
 *    bit 4 that they did not have. */

static int IndexRead(uint32_t index) {
  return (index >= 0xC0u && index <= 0xCFu) || index == 0xE8u || index == 0xE9u ||
         index == 0xFEu || index == 0xFFu;
}

static uint32_t PortIn(const KvOps* ops, KvPorts* s, uint32_t port, uint8_t* value) {
  uint32_t e, index;
  /* Masking is allowed only as the very next port request. */
  s->mirrorCheck = 0;
  if (port == PORT_PIC_MASK) {
    e = ops->port_in(ops->ctx, (uint16_t)port, value);
    if (e != 0) return e;
    /* The mask to put back stays the one found before the check raised it. */
    if (!s->maskRaised) {
      s->mask = *value;
      s->maskRead = 1;
    }
    return 0;
  }
  if (port != PORT_CYRIX_DATA || s->index < 0) return KV_ERR_ACCESS_DENIED;
  index = (uint32_t)s->index;
  s->index = -1;
  e = ops->port_in(ops->ctx, (uint16_t)port, value);
  if (e != 0) return e;
  if (index == CYRIX_CCR0 && s->maskRead && s->board != KV_BOARD_MIRROR) {
    /* With every interrupt masked, a mirror shows FFh; otherwise 23h
     * showing something else than the mask means no mirror. */
    s->mirrorCheck = !s->maskRaised && *value == s->mask;
    if (s->maskRaised) {
      s->board = *value == 0xFFu ? KV_BOARD_MIRROR : KV_BOARD_PLAIN;
    } else if (*value != s->mask) {
      s->board = KV_BOARD_PLAIN;
    }
  } else if (index == CYRIX_CCR3 && !s->ccr3Read) {
    s->ccr3 = *value;
    s->ccr3Read = 1;
  } else if (index == CYRIX_CCR4 && !s->ccr4Read) {
    s->ccr4 = *value;
    s->ccr4Read = 1;
  }
  return 0;
}

static uint32_t PortOut(const KvOps* ops, KvPorts* s, int cpu, int hasCpuid, uint32_t port,
                        uint8_t v) {
  uint32_t e, index;
  const int mirrorCheck = s->mirrorCheck;
  s->mirrorCheck = 0;
  if (port == PORT_PIC_MASK) {
    const int back = s->maskRead && v == s->mask;
    const int masking = s->maskRead && mirrorCheck && v == 0xFFu;
    if (!back && !masking) return KV_ERR_ACCESS_DENIED;
    e = ops->port_out(ops->ctx, (uint16_t)port, v);
    if (e != 0) return e;
    s->maskRaised = !back;
    return 0;
  }
  if (port == PORT_CYRIX_INDEX) {
    if (!IndexRead(v) || s->board == KV_BOARD_MIRROR) return KV_ERR_ACCESS_DENIED;
    if (!hasCpuid && v != CYRIX_CCR0 && s->board != KV_BOARD_PLAIN) return KV_ERR_ACCESS_DENIED;
    e = ops->port_out(ops->ctx, (uint16_t)port, v);
    if (e != 0) return e;
    s->index = (int16_t)v;
    return 0;
  }
  if (port != PORT_CYRIX_DATA || s->index < 0) return KV_ERR_ACCESS_DENIED;
  index = (uint32_t)s->index;
  if (!(index == CYRIX_CCR3 && s->ccr3Read &&
        (v == (s->ccr3 | CCR3_MAPEN) || v == (s->ccr3 & ~CCR3_MAPEN))) &&
      !(index == CYRIX_CCR4 && s->ccr4Read && (v == s->ccr4 || v == (s->ccr4 | CCR4_CPUID)))) {
    return KV_ERR_ACCESS_DENIED;
  }
  s->index = -1;
  e = ops->port_out(ops->ctx, (uint16_t)port, v);
  if (e != 0) return e;
  if (index == CYRIX_CCR3) {
    s->ccr3Opened = v != s->ccr3 && (v & CCR3_MAPEN) != 0;
  } else {
    s->ccr4Changed = v != s->ccr4;
  }
  s->cpu = cpu;
  return 0;
}

/* The configuration registers that the handle left changed, put back on the
 * processor they were changed on: CCR4 through MAPEN, then CCR3. */
static void PutBackPorts(const KvOps* ops, KvPorts* s) {
  if ((s->ccr4Changed || s->ccr3Opened) && s->cpu >= 1 &&
      s->cpu <= ops->processor_count(ops->ctx) && ops->bind(ops->ctx, s->cpu) == 0) {
    if (s->ccr4Changed) {
      if (!s->ccr3Opened) {
        ops->port_out(ops->ctx, (uint16_t)PORT_CYRIX_INDEX, CYRIX_CCR3);
        ops->port_out(ops->ctx, (uint16_t)PORT_CYRIX_DATA, (uint8_t)(s->ccr3 | CCR3_MAPEN));
      }
      ops->port_out(ops->ctx, (uint16_t)PORT_CYRIX_INDEX, CYRIX_CCR4);
      ops->port_out(ops->ctx, (uint16_t)PORT_CYRIX_DATA, s->ccr4);
    }
    ops->port_out(ops->ctx, (uint16_t)PORT_CYRIX_INDEX, CYRIX_CCR3);
    ops->port_out(ops->ctx, (uint16_t)PORT_CYRIX_DATA, s->ccr3);
    ops->unbind(ops->ctx);
  }
  s->ccr4Changed = s->ccr3Opened = 0;
  s->index = -1;
  /* The interrupt mask is the interrupt controller's, the same for every
   * processor. */
  if (s->maskRaised && s->maskRead) {
    ops->port_out(ops->ctx, (uint16_t)PORT_PIC_MASK, s->mask);
  }
  s->maskRaised = 0;
}

/* --- requests ------------------------------------------------------------ */

void KvHandleInit(KvHandle* h) {
  unsigned c, r;
  h->cpu = 1;
  h->ports.index = -1;
  h->ports.maskRead = h->ports.mask = 0;
  h->ports.mirrorCheck = h->ports.maskRaised = 0;
  h->ports.board = KV_BOARD_UNKNOWN;
  h->ports.ccr3Read = h->ports.ccr3 = h->ports.ccr4Read = h->ports.ccr4 = 0;
  h->ports.ccr3Opened = h->ports.ccr4Changed = 0;
  h->ports.cpu = 0;
  for (c = 0; c < KV_MAX_CPUS; ++c) {
    for (r = 0; r < KV_KEPT_MSRS; ++r) {
      h->msrs[c][r].known = h->msrs[c][r].changed = 0;
      h->msrs[c][r].found = 0;
    }
  }
}

void KvHandleClose(const KvOps* ops, KvHandle* h) {
  int cpu;
  for (cpu = 1; cpu <= KV_MAX_CPUS; ++cpu) PutBackRegisters(ops, h, cpu);
  PutBackPorts(ops, &h->ports);
}

/* Appends `len` bytes at out + *n. */
static void Append(uint8_t* out, uint32_t* n, const uint8_t* bytes, uint32_t len) {
  uint32_t i;
  for (i = 0; i < len; ++i) out[(*n)++] = bytes[i];
}

uint32_t KvOpenDescriptor(uint8_t* out, uint32_t size) {
  /* Owner S-1-5-32-544 (Administrators) at 20, group S-1-5-18 (SYSTEM) at
   * 36, the DACL at 48: ACL revision 2, two ACCESS_ALLOWED ACEs with
   * FILE_ALL_ACCESS (1F01FFh), for SYSTEM and for Administrators. */
  static const uint8_t kAdmins[16] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};
  static const uint8_t kSystem[12] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
  static const uint8_t kHeader[20] = {1, 0, 0x04, 0x80, /* SE_SELF_RELATIVE | SE_DACL_PRESENT */
                                      20, 0, 0, 0, 36, 0, 0, 0, 0, 0, 0, 0, 48, 0, 0, 0};
  static const uint8_t kAcl[8] = {2, 0, 52, 0, 2, 0, 0, 0};
  /* ACE header (ACCESS_ALLOWED_ACE_TYPE, no flags, size) and mask. */
  static const uint8_t kSystemAce[8] = {0, 0, 20, 0, 0xFF, 0x01, 0x1F, 0x00};
  static const uint8_t kAdminsAce[8] = {0, 0, 24, 0, 0xFF, 0x01, 0x1F, 0x00};
  uint32_t n = 0;
  if (out == NULL || size < KV_OPEN_DESCRIPTOR_SIZE) return 0;
  Append(out, &n, kHeader, sizeof kHeader);
  Append(out, &n, kAdmins, sizeof kAdmins);
  Append(out, &n, kSystem, sizeof kSystem);
  Append(out, &n, kAcl, sizeof kAcl);
  Append(out, &n, kSystemAce, sizeof kSystemAce);
  Append(out, &n, kSystem, sizeof kSystem);
  Append(out, &n, kAdminsAce, sizeof kAdminsAce);
  Append(out, &n, kAdmins, sizeof kAdmins);
  return n;
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

/* A processor-bound request, run with the thread bound to its processor. */
static uint32_t Bound(const KvOps* ops, KvHandle* h, uint32_t func, uint32_t p1, uint32_t p2,
                      uint32_t p3, const uint8_t* attached, uint32_t attachedLen, uint8_t* out) {
  uint32_t regs[4] = {0, 0, 0, 0};
  uint64_t v = 0;
  uint32_t cycles = 0, lo = 0, hi = 0;
  uint32_t e;
  uint8_t b = 0xFF;
  Processor p;
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
      p = ThisProcessor(ops);
      if (p.p6 == P6_NONE) return NotServed(&p);
      if (!MayRead(p1, p.p6)) return KV_ERR_ACCESS_DENIED;
      e = ops->rdmsr(ops->ctx, p1, &v);
      if (e != 0) return e;
      if (p.p6 == P6_WITH_L2) Remember(Seen(h, p1), v);
      PutWord(out, 0, (uint32_t)v);
      PutWord(out, 1, (uint32_t)(v >> 32));
      return 0;
    case KV_REQ_MSR_WRITE:
      p = ThisProcessor(ops);
      if (p.p6 == P6_NONE) return NotServed(&p);
      v = (uint64_t)p3 << 32 | p2;
      if (p.p6 != P6_WITH_L2) return KV_ERR_ACCESS_DENIED;
      return WriteKept(ops, h, p1, v);
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
      p = ThisProcessor(ops);
      if (p.p6 == P6_NONE) return NotServed(&p);
      if (p.p6 != P6_WITH_L2 || !MayTransact(p1, p2, attached)) return KV_ERR_ACCESS_DENIED;
      e = L2Transaction(ops, h, p1, p2, attached, &lo, &hi);
      if (e != 0) return e;
      PutWord(out, 0, lo);
      PutWord(out, 1, hi);
      return 0;
    case KV_REQ_PORT_IN:
    case KV_REQ_PORT_OUT:
      if (p1 > 0xFFFFu || (func == KV_REQ_PORT_OUT && p2 > 0xFFu)) return KV_ERR_INVALID_PARAMETER;
      /* Only where the identification uses the ports: a processor without
       * CPUID, or one that names itself CyrixInstead. */
      p = ThisProcessor(ops);
      if (p.error != 0) return p.error;
      if (p.hasCpuid && !p.cyrix) return KV_ERR_ACCESS_DENIED;
      if (func == KV_REQ_PORT_OUT) {
        return PortOut(ops, &h->ports, h->cpu, p.hasCpuid, p1, (uint8_t)p2);
      }
      e = PortIn(ops, &h->ports, p1, &b);
      if (e != 0) return e;
      out[0] = b;
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
    default:
      /* Everything else acts on the announced processor only. */
      if (h->cpu < 1 || h->cpu > count) return KV_ERR_CPU_UNREACHABLE;
      e = ops->bind(ops->ctx, h->cpu);
      if (e != 0) return e;
      e = Bound(ops, h, func, p1, p2, p3, attached, attachedLen, out);
      ops->unbind(ops->ctx);
      if (e != 0) return e;
      break;
  }
  *replyLen = (uint32_t)need;
  return 0;
}
