// CPUID-based identification: vendor codes, signature fields, leaf-2 cache
// descriptors, and what a failed request leaves in the record.
#include <gtest/gtest.h>

#include <string>

#include "cpu/sim_cpu.h"

namespace torv::test {
namespace {

constexpr std::uint16_t kNone = 0xFFFF;

// ---------------------------------------------------------------- leaf 2

struct Leaf2Case {
  const char* What;
  std::uint32_t Eax, Edx;
  bool Valid;
  std::uint16_t TlbA, TlbB, L1Data, L1Code, L2;
};

class Leaf2Test : public CpuTest, public ::testing::WithParamInterface<Leaf2Case> {};

TEST_P(Leaf2Test, DecodesOnlyEdxOfTheOneRequestForm) {
  const Leaf2Case& c = GetParam();
  SetVendor("GenuineIntel", 2);
  SetSignature(0x0633, 0x0080FBFF);
  Cpu().Cpuid[2] = {c.Eax, 0, 0, c.Edx};

  const TCpuInfo ci = Identify();

  EXPECT_EQ(ci.CacheInfoValid, c.Valid);
  EXPECT_EQ(ci.TlbA, c.TlbA);
  EXPECT_EQ(ci.TlbB, c.TlbB);
  EXPECT_EQ(ci.L1DataKB, c.L1Data);
  EXPECT_EQ(ci.L1CodeKB, c.L1Code);
  EXPECT_EQ(ci.L2KB, c.L2);
  EXPECT_TRUE(ci.CpuidOk);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptors, Leaf2Test,
    ::testing::Values(
        // Klamath: 43h 512 KB, 08h code 16 KB, 04h TLB 8, 0Ch data 16 KB.
        Leaf2Case{"klamath", 0x03020101, 0x0C040843, true, 8, kNone, 16, 16, 512},
        Leaf2Case{"no second level", 0x03020101, 0x00000040, true, kNone, kNone, kNone, kNone, 0},
        Leaf2Case{"nothing known", 0x03020101, 0x00000000, true, kNone, kNone, kNone, kNone, kNone},
        Leaf2Case{"later byte wins", 0x00000001, 0x41000243, true, kNone, 8, kNone, kNone, 128},
        Leaf2Case{"tlb descriptors", 0x00000001, 0x0A060301, true, 64, kNone, 8, 8, kNone},
        Leaf2Case{"two requests", 0x03020102, 0x0C040843, false, kNone, kNone, kNone, kNone, kNone},
        // Descriptors 01h..03h in EAX: only EDX is decoded.
        Leaf2Case{"eax ignored", 0x03020101, 0x00000045, true, kNone, kNone, kNone, kNone, 2048}),
    [](const auto& info) {
      std::string n = info.param.What;
      for (char& ch : n)
        if (ch == ' ') ch = '_';
      return n;
    });

// Every second-level cache descriptor of Intel's table of leaf-2
// descriptors: its size and ways; 49h is the Xeon MP's (family 0Fh, model
// 06h) third-level cache; a byte the table does not know gives no size.
TEST_F(CpuTest, EverySecondLevelDescriptorGivesSizeAndWays) {
  struct L2Descriptor {
    std::uint8_t Byte;
    std::uint16_t KB;
    std::uint8_t Ways;
  };
  const L2Descriptor table[] = {
      {0x1D, 128, 2},  {0x21, 256, 8},  {0x24, 1024, 16}, {0x39, 128, 4},  {0x3A, 192, 6},
      {0x3B, 128, 2},  {0x3C, 256, 4},  {0x3D, 384, 6},   {0x3E, 512, 4},  {0x40, 0, 0},
      {0x41, 128, 4},  {0x42, 256, 4},  {0x43, 512, 4},   {0x44, 1024, 4}, {0x45, 2048, 4},
      {0x48, 3072, 12}, {0x49, 4096, 16}, {0x4E, 6144, 24}, {0x78, 1024, 4}, {0x79, 128, 8},
      {0x7A, 256, 8},  {0x7B, 512, 8},  {0x7C, 1024, 8},  {0x7D, 2048, 8}, {0x7E, 256, 8},
      {0x7F, 512, 2},  {0x80, 512, 8},  {0x82, 256, 8},   {0x83, 512, 8},  {0x84, 1024, 8},
      {0x85, 2048, 8}, {0x86, 512, 4},  {0x87, 1024, 8},
      // Not a second-level cache, or no descriptor of the table.
      {0x2C, kNone, 0}, {0xFF, kNone, 0}, {0x00, kNone, 0}, {0x88, kNone, 0},
  };
  for (const L2Descriptor& d : table) {
    SCOPED_TRACE(static_cast<int>(d.Byte));
    SetVendor("GenuineIntel", 2);
    SetSignature(0x0683, 0x0387FBFF);
    // The descriptor in the highest byte, after the first-level caches.
    Cpu().Cpuid[2] = {0x03020101, 0, 0, 0x00000C08u | static_cast<std::uint32_t>(d.Byte) << 24};
    Start();  // a machine with this leaf 2
    const TCpuInfo ci = Identify();
    EXPECT_EQ(ci.L2KB, d.KB);
    EXPECT_EQ(ci.L2Ways, d.Ways);
    EXPECT_EQ(ci.L1CodeKB, 16);
  }
  SetSignature(0x0F62, 0xBFEBFBFF);  // the Xeon MP: 49h is its third level
  Cpu().Cpuid[2] = {0x665B5001, 0, 0, 0x49000000};
  Start();
  EXPECT_EQ(Identify().L2KB, kNone);
}

TEST_F(CpuTest, FailedLeaf2LeavesSizesUnreportedAndCpuidNotOk) {
  SetVendor("GenuineIntel", 2);
  SetSignature(0x0633);
  Cpu().Cpuid[2] = {0x03020101, 0, 0, 0x0C040843};
  Cpu().CpuidFailsAt = 4;  // leaf 0, leaf 0 (vendor), leaf 1, leaf 2

  const TCpuInfo ci = Identify();

  EXPECT_FALSE(ci.CacheInfoValid);
  EXPECT_EQ(ci.L2KB, kNone);
  EXPECT_EQ(ci.L1DataKB, kNone);
  EXPECT_FALSE(ci.CpuidOk);
  EXPECT_TRUE(ci.Identified);
  EXPECT_EQ(ci.CpuName.view(), "Pentium II");
}

// ---------------------------------------------------------------- vendors

struct VendorCase {
  std::string Vendor;
  std::uint8_t Code;
};

class VendorTest : public CpuTest, public ::testing::WithParamInterface<VendorCase> {};

TEST_P(VendorTest, CodeFromTheFirstThreeLettersWhateverTheirCase) {
  const VendorCase& c = GetParam();
  SetVendor(c.Vendor, 1);
  SetSignature(0x0543);

  Start();

  PStr<12> vendor;
  std::uint8_t code = 99;
  ReadVendor(w.ForCpu(), vendor, code);

  EXPECT_EQ(code, c.Code);
  // Every byte as the processor gave it, zero bytes included.
  EXPECT_EQ(vendor.view(), std::string_view(c.Vendor.data(), 12));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, VendorTest,
    ::testing::Values(
        VendorCase{"GenuineIntel", kVendorIntel}, VendorCase{"AuthenticAMD", kVendorAmd},
        VendorCase{"CyrixInstead", kVendorCyrix}, VendorCase{"cyrixInstead", kVendorCyrix},
        VendorCase{"IBM Inside  ", kVendorIbm}, VendorCase{"UMC UMC UMC ", kVendorUmc},
        VendorCase{"CentaurHauls", kVendorIdt}, VendorCase{"NexGenDriven", kVendorNone},
        VendorCase{std::string("GE\0\0\0\0\0\0\0\0\0\0", 12), kVendorNone},
        VendorCase{std::string("Gen\0ine\0Intl", 12), kVendorIntel},
        VendorCase{"\xC4\xD6\xDCGenuineInt", kVendorNone}));

TEST_F(CpuTest, VendorRequestOfItsOwnFailing) {
  SetVendor("GenuineIntel", 1);
  SetSignature(0x0543, 0x008003BF);
  Cpu().CpuidFailsAt = 2;  // the vendor's own leaf-0 request

  const TCpuInfo ci = Identify();

  EXPECT_EQ(ci.Vendor.view(), "None");
  EXPECT_EQ(ci.VendorCode, kVendorNone);
  EXPECT_TRUE(ci.Identified);
  EXPECT_EQ(ci.CpuName.view(), "586");
  EXPECT_EQ(ci.NameSuffix.view(), " Step 3");
}

// An unknown vendor clears the class code of an earlier run and is named by
// family alone.
TEST_F(CpuTest, UnknownVendorIsNamedByFamily) {
  struct Case {
    std::uint32_t Eax;
    const char* Name;
    const char* Suffix;
  };
  for (const Case& c : {Case{0x0543, "586", " Step 3"}, Case{0x0480, "486", "-SLe"}}) {
    w.cpu.CpuInfo.ClassCode = kClassPentiumII;
    SetVendor("NexGenDriven", 1);
    SetSignature(c.Eax);
    Start();

    const TCpuInfo ci = Identify();

    EXPECT_EQ(ci.VendorCode, kVendorNone);
    EXPECT_EQ(ci.ClassCode, 0);
    EXPECT_EQ(ci.CpuName.view(), c.Name);
    EXPECT_EQ(ci.NameSuffix.view(), c.Suffix);
  }
}

TEST_F(CpuTest, SignatureAndFeatureBits) {
  SetVendor("GenuineIntel", 2);
  // OverDrive (type 1), family 6, model 3, stepping 2; APIC, CMOV, MMX.
  SetSignature(0x00001632, (1u << 9) | (1u << 15) | (1u << 23) | 0x10);

  const TCpuInfo ci = Identify();

  EXPECT_EQ(ci.CpuType, 1);
  EXPECT_EQ(ci.Family, 6);
  EXPECT_EQ(ci.Model, 3);
  EXPECT_EQ(ci.Stepping, 2);
  EXPECT_EQ(ci.Features, (1u << 9) | (1u << 15) | (1u << 23) | 0x10);
  EXPECT_TRUE(ci.HasApic);
  EXPECT_TRUE(ci.HasCmov);
  EXPECT_TRUE(ci.HasMmx);
  EXPECT_EQ(ci.Vendor.view(), "GenuineIntel");
  EXPECT_EQ(ci.CpuName.view(), "Pentium II");
  EXPECT_EQ(ci.ClassCode, kClassPentiumII);
  EXPECT_EQ(CpuidLeaves(), (std::vector<std::uint32_t>{0, 0, 1, 2}));
}

// ---------------------------------------------------------------- failures

// The record is never cleared: a failed leaf 0 assigns only vendor, name,
// suffix, vendor code and the two flags.
TEST_F(CpuTest, FailedLeaf0KeepsWhatItDoesNotAssign) {
  SetVendor("GenuineIntel", 2);
  SetSignature(0x0633, 0x0080FBFF);
  Cpu().Cpuid[2] = {0x03020101, 0, 0, 0x0C040843};
  Identify();

  // The same record on a machine without CPUID.
  Cpu().CpuidMode = SimCpuidMode::Off;
  Start();
  const TCpuInfo ci = Identify();

  EXPECT_FALSE(ci.CpuidOk);
  EXPECT_FALSE(ci.Identified);
  EXPECT_EQ(ci.Vendor.view(), "NONE");
  EXPECT_EQ(ci.CpuName.view(), "unbekannt");
  EXPECT_EQ(ci.NameSuffix.view(), "");
  EXPECT_EQ(ci.VendorCode, kVendorNone);
  EXPECT_EQ(ci.Family, 6);
  EXPECT_EQ(ci.Model, 3);
  EXPECT_EQ(ci.Stepping, 3);
  EXPECT_EQ(ci.L2KB, 512);
  EXPECT_EQ(ci.ClassCode, kClassPentiumII);
  EXPECT_FALSE(w.hw.CpuidFault);
}

// A failed leaf-1 request gives no signature: the fields are taken as zero
// rather than from an earlier answer, so the processor is named "unbekannt".
TEST_F(CpuTest, FailedLeaf1TakesTheSignatureAsZero) {
  SetVendor("GenuineIntel", 2);
  SetSignature(0x0633, 0x0080FBFF);
  Cpu().Cpuid[2] = {0x03020101, 0, 0, 0x0C040843};
  Cpu().CpuidFailsAt = 4 + 3;  // second run: leaf 0, leaf 0, leaf 1
  Identify();

  const TCpuInfo ci = Identify();

  EXPECT_EQ(ci.Family, 0);
  EXPECT_EQ(ci.Model, 0);
  EXPECT_EQ(ci.Features, 0u);
  EXPECT_EQ(ci.CpuName.view(), "unbekannt");
  EXPECT_EQ(ci.VendorCode, kVendorIntel);
  EXPECT_TRUE(ci.CpuidOk);  // leaf 2 answered
  EXPECT_EQ(ci.L2KB, 512);
}

// A processor the driver cannot reach (announced, but the machine has only
// one): no Cyrix test at all, not even on a Cyrix part without CPUID. The
// presence test would read the interrupt mask first; no port is touched.
TEST_F(CpuTest, UnreachableProcessorSkipsTheCyrixMethods) {
  Cpu().CpuidMode = SimCpuidMode::Off;
  Cpu().DivFlagsUnchanged = true;
  SetCyrixReg(0xFE, 0x31);
  Start();
  EXPECT_FALSE(DrvSetCpu(w.ForDriver(), 2));
  dev->Requests.clear();

  const TCpuInfo ci = Identify();

  EXPECT_TRUE(w.hw.CpuidFault);
  EXPECT_EQ(w.drv.DrvLastError, kErrCpuUnreachable);
  EXPECT_TRUE(Ports().empty());
  EXPECT_EQ(ci.CpuName.view(), "unbekannt");
  EXPECT_FALSE(ci.Identified);
}

// Another failure of the request means no CPUID: the Cyrix methods run (the
// division changes the flags, so the presence test reads the ports).
TEST_F(CpuTest, OtherCpuidFailureTriesTheCyrixMethods) {
  Cpu().CpuidMode = SimCpuidMode::Off;

  const TCpuInfo ci = Identify();

  EXPECT_FALSE(w.hw.CpuidFault);
  EXPECT_NE(w.drv.DrvLastError, kErrCpuUnreachable);
  EXPECT_FALSE(Ports().empty());
  EXPECT_EQ(ci.CpuName.view(), "unbekannt");
  EXPECT_EQ(ci.Vendor.view(), "NONE");
}

// The caller gets a copy; the global record stays with the unit.
TEST_F(CpuTest, CallerReceivesACopyOfTheRecord) {
  SetVendor("GenuineIntel", 1);
  SetSignature(0x0526);
  Start();
  TCpuInfo info;
  IdentifyCpu(w.ForCpu(), info);
  info.CpuName = "changed";
  EXPECT_EQ(w.cpu.CpuInfo.CpuName.view(), "Pentium");
}

// Vendor strings of arbitrary bytes (zeros and characters above 7Fh among
// them) with every family: identification ends, keeps the 12 bytes as given
// and keeps its texts within capacity.
TEST_F(CpuTest, ArbitraryVendorBytesAndEveryFamily) {
  std::uint32_t seed = 0x2468ACE1u;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<char>(seed >> 24);
  };
  for (int round = 0; round < 64; ++round) {
    std::string vendor;
    for (int i = 0; i < 12; ++i) vendor.push_back(round % 4 == 0 ? '\0' : next());
    if (round % 8 == 1) vendor.replace(0, 3, "cEn");
    for (std::uint32_t family = 0; family < 16; ++family) {
      SetVendor(vendor, 2);
      SetSignature((family << 8) | static_cast<std::uint32_t>(round & 0xFF));
      Cpu().Cpuid[2] = {0x01u, 0, 0, static_cast<std::uint32_t>(round) * 0x01010101u};
      Start();

      const TCpuInfo ci = Identify();

      ASSERT_EQ(ci.Vendor.view(), vendor);
      ASSERT_EQ(ci.Family, family);
      ASSERT_LE(ci.CpuName.size(), 21u);
      ASSERT_LE(ci.NameSuffix.size(), 40u);
      if (round % 8 == 1) {
        ASSERT_EQ(ci.VendorCode, kVendorIdt);
      }
    }
  }
}

}  // namespace
}  // namespace torv::test
