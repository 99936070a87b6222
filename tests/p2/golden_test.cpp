// Whole reports of the eight simulated configurations (/TEST=1 to 8) in
// English, German and Dutch, byte for byte as the list box holds them
// (code page 1252; German with a decimal comma).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "p2_fixture.h"

namespace torv {
namespace {

using test::Col;
using test::ReportWorld;
using test::ValueCol;
using Lines = std::vector<std::string>;

const std::string kAddr = kSurveyAddress;

// ---- English ---------------------------------------------------------------

const std::string kEnL1Data = Col(" L1 Data Cache", ":  16 KB, 4way associative");
const std::string kEnL1Code = Col(" L1 Code Cache", ":  16 KB, 4way associative");
const std::string kEnL2_512 = Col(" L2 Cache:", ": 512 KB, 4way associative");
const std::string kEnArea = Col(" L2 Cacheable Area", ": 512 MByte");
const std::string kEnFine = ValueCol(": No irregularities detected");
const Lines kEnFake300 = {
    " Attention, as stated in the Intel Pentium II Specification Upgrade #243337",
    " there exists no 300 MHz Pentium II without ECC, therefore",
    " processor is overclocked and if marked as a 300 MHz type",
    " it is possibly a fake.",
    "",
    " Please notify Vemora via internet: " + kAddr,
};

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Lines English(int n) {
  switch (n) {
    case 1:
      return Join({{
                       Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=3, Step=3"),
                       Col(" Processor Core", ": Pentium II, Klamath"),
                       kEnL1Data,
                       kEnL1Code,
                       kEnL2_512,
                       kEnArea,
                       Col(" L2 ECC", ": not present and not enabled"),
                       Col(" Actual clock rate", ": 300.4 MHz"),
                       Col(" System clock rate", ": default: 66.6 MHz, measured:66.8 MHz"),
                       Col(" Ratio (cpu/syst)", ": 4.5"),
                       "",
                       Col(" Torvacin has detected", ": Pentium II 300.4 MHz without ECC"),
                       "",
                   },
                   kEnFake300});
    case 2:
      return {
          Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=3, Step=3"),
          Col(" Processor Core", ": Pentium II, Klamath"),
          kEnL1Data,
          kEnL1Code,
          kEnL2_512,
          kEnArea,
          Col(" L2 ECC", ": present and enabled"),
          Col(" Actual clock rate", ": 300.4 MHz"),
          Col(" System clock rate", ": default: 66.6 MHz, measured:66.8 MHz"),
          Col(" Ratio (cpu/syst)", ": 4.5"),
          "",
          Col(" Torvacin has detected", ": Pentium II 300.4 MHz with ECC"),
          "",
          kEnFine,
      };
    case 3:
      return Join({{
                       Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=3, Step=3"),
                       Col(" Processor Core", ": Pentium II, Klamath"),
                       kEnL1Data,
                       kEnL1Code,
                       kEnL2_512,
                       kEnArea,
                       Col(" L2 ECC", ": not present and not enabled"),
                       Col(" Actual clock rate", ": 300.4 MHz"),
                       Col(" System clock rate", ": default: 66.6 MHz, measured:75.1 MHz"),
                       Col(" Ratio (cpu/syst)", ": 4.0"),
                       "",
                       Col(" Torvacin has detected", ": Pentium II 300.4 MHz without ECC"),
                       "",
                       " Attention, the external system clock rate is higher than allowed",
                   },
                   kEnFake300});
    case 4:
      return {
          Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=3, Step=3"),
          Col(" Processor Core", ": Pentium II, Klamath"),
          kEnL1Data,
          kEnL1Code,
          kEnL2_512,
          kEnArea,
          Col(" L2 ECC", ": not present and not enabled"),
          Col(" Actual clock rate", ": 250.0 MHz"),
          Col(" System clock rate", ": default: 66.6 MHz, measured:62.5 MHz"),
          Col(" Ratio (cpu/syst)", ": 4.0"),
          "",
          Col(" Torvacin has detected", ": Pentium II 250.0 MHz without ECC"),
          "",
          " Attention, the external system clock rate is lower than allowed",
      };
    case 5:
      return {
          Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=5, Step=1"),
          Col(" Processor Core", ": Pentium II, Deschutes, Celeron"),
          kEnL1Data,
          kEnL1Code,
          Col(" L2 Cache:", ": disabled"),
          Col(" L2", ": does not exist or is disabled by hardware"),
          Col(" Actual clock rate", ": 266.0 MHz"),
          Col(" System clock rate", ": not detectable on Celeron systems"),
          "",
          Col(" Torvacin has detected", ": Pentium II 266.0 MHz without ECC"),
          "",
          kEnFine,
      };
    case 6:
      return {
          Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=6, Step=1"),
          Col(" Processor Core", ": Pentium II, > Deschutes (Katmai? Williamette?)"),
          kEnL1Data,
          kEnL1Code,
          Col(" L2 Cache:", ": 128 KB, 4way associative"),
          kEnArea,
          Col(" L2 ECC", ": present and enabled"),
          Col(" Actual clock rate", ": 333.0 MHz"),
          Col(" System clock rate", ": default: 66.6 MHz, measured:66.6 MHz"),
          Col(" Ratio (cpu/syst)", ": 5.0"),
          "",
          Col(" Torvacin has detected", ": Pentium II 333.0 MHz with ECC"),
          "",
          kEnFine,
      };
    case 7:
      return {
          Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=5, Step=0"),
          Col(" Processor Core", ": Pentium II, Deschutes"),
          kEnL1Data,
          kEnL1Code,
          kEnL2_512,
          kEnArea,
          Col(" L2 ECC", ": present, but not enabled"),
          Col(" Actual clock rate", ": 350.0 MHz"),
          Col(" System clock rate", ": default: 66.6 MHz, measured:100.0 MHz"),
          Col(" Ratio (cpu/syst)", ": 3.5"),
          "",
          Col(" Torvacin has detected", ": Pentium II 350.0 MHz with ECC"),
          "",
          " Autodetection for 66/100 MHz is disabled",
          " Attention, as stated in the Intel Pentium II Specification Upgrade #243337",
          " there is no Pentium II Deschutes > 333 MHz without Stepping 0, therefore",
          " processor is overclocked and if marked as a 350/400 MHz type",
          " it is possibly a fake.",
          " Please notify Vemora via internet: " + kAddr + ")",
      };
    default:
      return {
          Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=5, Step=2"),
          Col(" Processor Core", ": Pentium II, Deschutes"),
          kEnL1Data,
          kEnL1Code,
          kEnL2_512,
          kEnArea,
          Col(" L2 ECC", ": present and enabled"),
          Col(" Actual clock rate", ": 450.0 MHz"),
          Col(" System clock rate", ": default: 100 MHz, measured:100.0 MHz"),
          Col(" Ratio (cpu/syst)", ": 4.5"),
          "",
          Col(" Torvacin has detected", ": Pentium II 450.0 MHz with ECC"),
          "",
          kEnFine,
          "",
          " Attention, genuine 400/450 MHz types can also be jumpered for 300/350 MHz!",
          " If this will not work, the processor is probably a fake",
          "   => Please notify Vemora via internet: " + kAddr + ")",
      };
  }
}

// ---- German (decimal comma; umlauts as code page 1252 bytes) ---------------

const std::string kDeL1Data = Col(" L1 Data Cache", ":  16 KB, 4fach assoziativ");
const std::string kDeL1Code = Col(" L1 Code Cache", ":  16 KB, 4fach assoziativ");
const std::string kDeL2_512 = Col(" L2 Cache:", ": 512 KB, 4fach assoziativ");
const std::string kDeFine = ValueCol(": Keine Auff\xE4lligkeiten festgestellt");
const Lines kDeFake300 = {
    " Achtung, laut Intel Pentium II Specification Upgrade #243337 gibt",
    " es keinen 300 MHz Pentium II ohne ECC, daraus folgt",
    " Prozessor ist \xFC"
    "bertaktet und falls als 300 MHz gekennzeichnet",
    " wahrscheinlich gef\xE4lscht.",
    "",
    " Bitte informieren Sie Vemora unter " + kAddr,
};

Lines German(int n) {
  switch (n) {
    case 1:
      return Join({{
                       Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=3, Step=3"),
                       Col(" Prozessorkern", ": Pentium II, Klamath"),
                       kDeL1Data,
                       kDeL1Code,
                       kDeL2_512,
                       kEnArea,
                       Col(" L2 ECC", ": nicht vorhanden und nicht eingeschaltet"),
                       Col(" Aktueller Takt", ": 300,4 MHz"),
                       Col(" Systemtakt", ": Sollwert: 66.6 MHz, gemessen:66,8 MHz"),
                       " Multiplikator (cpu/syst): 4,5",
                       "",
                       Col(" Torvacin ermittelt", ": Pentium II 300,4 MHz ohne ECC"),
                       "",
                   },
                   kDeFake300});
    case 2:
      return {
          Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=3, Step=3"),
          Col(" Prozessorkern", ": Pentium II, Klamath"),
          kDeL1Data,
          kDeL1Code,
          kDeL2_512,
          kEnArea,
          Col(" L2 ECC", ": vorhanden und eingeschaltet"),
          Col(" Aktueller Takt", ": 300,4 MHz"),
          Col(" Systemtakt", ": Sollwert: 66.6 MHz, gemessen:66,8 MHz"),
          " Multiplikator (cpu/syst): 4,5",
          "",
          Col(" Torvacin ermittelt", ": Pentium II 300,4 MHz mit ECC"),
          "",
          kDeFine,
      };
    case 3:
      return Join({{
                       Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=3, Step=3"),
                       Col(" Prozessorkern", ": Pentium II, Klamath"),
                       kDeL1Data,
                       kDeL1Code,
                       kDeL2_512,
                       kEnArea,
                       Col(" L2 ECC", ": nicht vorhanden und nicht eingeschaltet"),
                       Col(" Aktueller Takt", ": 300,4 MHz"),
                       Col(" Systemtakt", ": Sollwert: 66.6 MHz, gemessen:75,1 MHz"),
                       " Multiplikator (cpu/syst): 4,0",
                       "",
                       Col(" Torvacin ermittelt", ": Pentium II 300,4 MHz ohne ECC"),
                       "",
                       " Achtung, der externe Systemtakt ist unzul\xE4ssig hoch",
                   },
                   kDeFake300});
    case 4:
      return {
          Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=3, Step=3"),
          Col(" Prozessorkern", ": Pentium II, Klamath"),
          kDeL1Data,
          kDeL1Code,
          kDeL2_512,
          kEnArea,
          Col(" L2 ECC", ": nicht vorhanden und nicht eingeschaltet"),
          Col(" Aktueller Takt", ": 250,0 MHz"),
          Col(" Systemtakt", ": Sollwert: 66.6 MHz, gemessen:62,5 MHz"),
          " Multiplikator (cpu/syst): 4,0",
          "",
          Col(" Torvacin ermittelt", ": Pentium II 250,0 MHz ohne ECC"),
          "",
          " Achtung, der externe Systemtakt ist niedriger als erlaubt",
      };
    case 5:
      return {
          Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=5, Step=1"),
          Col(" Prozessorkern", ": Pentium II, Deschutes, Celeron"),
          kDeL1Data,
          kDeL1Code,
          Col(" L2 Cache:", ": abgeschaltet"),
          Col(" L2", ": nicht vorhanden oder hardwarem\xF5\xAFig abgeschaltet"),
          Col(" Aktueller Takt", ": 266,0 MHz"),
          Col(" Systemtakt", ": bei Celeron nicht auslesbar"),
          "",
          Col(" Torvacin ermittelt", ": Pentium II 266,0 MHz ohne ECC"),
          "",
          kDeFine,
      };
    case 6:
      return {
          Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=6, Step=1"),
          Col(" Prozessorkern", ": Pentium II, > Deschutes (Katmai? Williamette?)"),
          kDeL1Data,
          kDeL1Code,
          Col(" L2 Cache:", ": 128 KB, 4fach assoziativ"),
          kEnArea,
          Col(" L2 ECC", ": vorhanden und eingeschaltet"),
          Col(" Aktueller Takt", ": 333,0 MHz"),
          Col(" Systemtakt", ": Sollwert: 66.6 MHz, gemessen:66,6 MHz"),
          " Multiplikator (cpu/syst): 5,0",
          "",
          Col(" Torvacin ermittelt", ": Pentium II 333,0 MHz mit ECC"),
          "",
          kDeFine,
      };
    case 7:
      return {
          Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=5, Step=0"),
          Col(" Prozessorkern", ": Pentium II, Deschutes"),
          kDeL1Data,
          kDeL1Code,
          kDeL2_512,
          kEnArea,
          Col(" L2 ECC", ": vorhanden, aber nicht eingeschaltet"),
          Col(" Aktueller Takt", ": 350,0 MHz"),
          Col(" Systemtakt", ": Sollwert: 66.6 MHz, gemessen:100,0 MHz"),
          " Multiplikator (cpu/syst): 3,5",
          "",
          Col(" Torvacin ermittelt", ": Pentium II 350,0 MHz mit ECC"),
          "",
          " Autodetektion f\xFCr 66/100 MHz ist abgeschaltet",
          " Achtung, laut Intel Pentium II Specification Upgrade #243337 gibt",
          " es keinen Pentium II Deschutes > 333 MHz mit Stepping 0",
          " Prozessor ist \xFC"
          "bertaktet und falls als 350/400 MHz gekennzeichnet",
          " wahrscheinlich gef\xE4lscht.",
          " Bitte informieren Sie Vemora unter " + kAddr,
      };
    default:
      return {
          Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=5, Step=2"),
          Col(" Prozessorkern", ": Pentium II, Deschutes"),
          kDeL1Data,
          kDeL1Code,
          kDeL2_512,
          kEnArea,
          Col(" L2 ECC", ": vorhanden und eingeschaltet"),
          Col(" Aktueller Takt", ": 450,0 MHz"),
          Col(" Systemtakt", ": Sollwert: 100 MHz, gemessen:100,0 MHz"),
          " Multiplikator (cpu/syst): 4,5",
          "",
          Col(" Torvacin ermittelt", ": Pentium II 450,0 MHz mit ECC"),
          "",
          kDeFine,
          "",
          " Achtung, echte 400/450 MHz Typen kann man auch auf 300/350 MHz jumpern!",
          " Wenn das nicht geht, ist der Prozessor wahrscheinlich eine F\xE4lschung",
          "   => Bitte informieren Sie Vemora unter " + kAddr,
      };
  }
}

// ---- Dutch -----------------------------------------------------------------

const std::string kNlL1Data = Col(" L1 Data Cache", ":  16 KB, 4maal associatief");
const std::string kNlL1Code = Col(" L1 Code Cache", ":  16 KB, 4maal associatief");
const std::string kNlL2_512 = Col(" L2 Cache:", ": 512 KB, 4maal associatief");
const std::string kNlFine = ValueCol(": Geen afwijkingen geconstateerd),");
const Lines kNlFake300 = {
    " Attentie, volgens de Intel Pentium II specificatie Upgrade #243337",
    " is er geen Pentium II Deschutes > 333 MHz met Stepping 0, dus",
    " deze processor is overklokt en mogelijk  een vervalsing",
    " als deze gekenmerkd is als 350/400 MHz",
    "",
    " Meld het alstublieft aan Vemora via internet " + kAddr + ")",
};

Lines Dutch(int n) {
  switch (n) {
    case 1:
      return Join({{
                       Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=3, Step=3"),
                       Col(" Processorkern", ": Pentium II, Klamath"),
                       kNlL1Data,
                       kNlL1Code,
                       kNlL2_512,
                       kEnArea,
                       Col(" L2 ECC", ": niet aanwezig en niet ingeschakeld"),
                       Col(" actuele kloksnelheid", ": 300.4 MHz"),
                       Col(" systeem kloksnelheid", ": default: 66.6 MHz, gemeten:66.8 MHz"),
                       Col(" ratio (cpu/syst)", ": 4.5"),
                       "",
                       " Torvacin heeft gedetecteerd: Pentium II 300.4 MHz zonder ECC",
                       "",
                   },
                   kNlFake300});
    case 2:
      return {
          Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=3, Step=3"),
          Col(" Processorkern", ": Pentium II, Klamath"),
          kNlL1Data,
          kNlL1Code,
          kNlL2_512,
          kEnArea,
          Col(" L2 ECC", ": aanwezig en ingeschakeld"),
          Col(" actuele kloksnelheid", ": 300.4 MHz"),
          Col(" systeem kloksnelheid", ": default: 66.6 MHz, gemeten:66.8 MHz"),
          Col(" ratio (cpu/syst)", ": 4.5"),
          "",
          " Torvacin heeft gedetecteerd: Pentium II 300.4 MHz met ECC",
          "",
          kNlFine,
      };
    case 3:
      return Join({{
                       Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=3, Step=3"),
                       Col(" Processorkern", ": Pentium II, Klamath"),
                       kNlL1Data,
                       kNlL1Code,
                       kNlL2_512,
                       kEnArea,
                       Col(" L2 ECC", ": niet aanwezig en niet ingeschakeld"),
                       Col(" actuele kloksnelheid", ": 300.4 MHz"),
                       Col(" systeem kloksnelheid", ": default: 66.6 MHz, gemeten:75.1 MHz"),
                       Col(" ratio (cpu/syst)", ": 4.0"),
                       "",
                       " Torvacin heeft gedetecteerd: Pentium II 300.4 MHz zonder ECC",
                       "",
                       " Attentie, de externe systeemkloksnelheid is hoger dan toegestaan",
                   },
                   kNlFake300});
    case 4:
      return {
          Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=3, Step=3"),
          Col(" Processorkern", ": Pentium II, Klamath"),
          kNlL1Data,
          kNlL1Code,
          kNlL2_512,
          kEnArea,
          Col(" L2 ECC", ": niet aanwezig en niet ingeschakeld"),
          Col(" actuele kloksnelheid", ": 250.0 MHz"),
          Col(" systeem kloksnelheid", ": default: 66.6 MHz, gemeten:62.5 MHz"),
          Col(" ratio (cpu/syst)", ": 4.0"),
          "",
          " Torvacin heeft gedetecteerd: Pentium II 250.0 MHz zonder ECC",
          "",
          " Attentie, de externe systeemkloksnelheid is lager dan toegestaan),",
      };
    case 5:
      return {
          Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=5, Step=1"),
          Col(" Processorkern", ": Pentium II, Deschutes, Celeron"),
          kNlL1Data,
          kNlL1Code,
          Col(" L2 Cache:", ": uitgeschakeld"),
          Col(" L2", ": niet aanwezig of door de hardware uitgeschakeld"),
          Col(" actuele kloksnelheid", ": 266.0 MHz"),
          Col(" systeem kloksnelheid", ": bij Celeron-systemen niet detecteerbaar"),
          "",
          " Torvacin heeft gedetecteerd: Pentium II 266.0 MHz zonder ECC",
          "",
          kNlFine,
      };
    case 6:
      return {
          Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=6, Step=1"),
          Col(" Processorkern", ": Pentium II, > Deschutes (Katmai? Williamette?)"),
          kNlL1Data,
          kNlL1Code,
          Col(" L2 Cache:", ": 128 KB, 4maal associatief"),
          kEnArea,
          Col(" L2 ECC", ": aanwezig en ingeschakeld"),
          Col(" actuele kloksnelheid", ": 333.0 MHz"),
          Col(" systeem kloksnelheid", ": default: 66.6 MHz, gemeten:66.6 MHz"),
          Col(" ratio (cpu/syst)", ": 5.0"),
          "",
          " Torvacin heeft gedetecteerd: Pentium II 333.0 MHz met ECC",
          "",
          kNlFine,
      };
    case 7:
      return {
          Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=5, Step=0"),
          Col(" Processorkern", ": Pentium II, Deschutes"),
          kNlL1Data,
          kNlL1Code,
          kNlL2_512,
          kEnArea,
          Col(" L2 ECC", ": aanwezig, maar niet ingeschakeld"),
          Col(" actuele kloksnelheid", ": 350.0 MHz"),
          Col(" systeem kloksnelheid", ": default: 66.6 MHz, gemeten:100.0 MHz"),
          Col(" ratio (cpu/syst)", ": 3.5"),
          "",
          " Torvacin heeft gedetecteerd: Pentium II 350.0 MHz met ECC",
          "",
          " Autodetection for 66/100 MHz is utigeschakeld",
          " Attentie, volgens de Intel Pentium II specificatie Upgrade #243337),",
          " is er geen Pentium II Deschutes > 333 MHz met Stepping 0, dus",
          " deze processor is overklokt en mogelijk  een vervalsing),",
          " als deze gekenmerkd is als 350/400 MHz ),",
          " Meld het alstublieft aan Vemora via internet " + kAddr + ")",
      };
    default:
      return {
          Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=5, Step=2"),
          Col(" Processorkern", ": Pentium II, Deschutes"),
          kNlL1Data,
          kNlL1Code,
          kNlL2_512,
          kEnArea,
          Col(" L2 ECC", ": aanwezig en ingeschakeld"),
          Col(" actuele kloksnelheid", ": 450.0 MHz"),
          Col(" systeem kloksnelheid", ": default: 100 MHz, gemeten:100.0 MHz"),
          Col(" ratio (cpu/syst)", ": 4.5"),
          "",
          " Torvacin heeft gedetecteerd: Pentium II 450.0 MHz met ECC",
          "",
          kNlFine,
          "",
          " Attentie: echte 400/450 MHz typen k\xFCn je ook op 300/350 MHz jumpern",
          " als dat niet l\xFCkt, deze processor is en mogelijk een vervalsing),,",
          "   => Meld het alstublieft aan Vemora via internet " + kAddr + ")",
      };
  }
}

Lines Expected(int lang, int n) {
  if (lang == 49) return German(n);
  if (lang == 31) return Dutch(n);
  return English(n);
}

// The header line that a multiprocessor machine puts before each report.
std::string ProcessorHeader(int lang, int proc) {
  const char* label = lang == 49 ? " Prozessor" : " Processor";
  return Col(label, ": " + std::to_string(proc));
}

struct GoldenCase {
  int Lang;
  int TestNo;
};

std::string CaseName(const ::testing::TestParamInfo<GoldenCase>& info) {
  const char* lang = info.param.Lang == 49 ? "German" : info.param.Lang == 31 ? "Dutch" : "English";
  return std::string(lang) + "Test" + std::to_string(info.param.TestNo);
}

std::vector<GoldenCase> AllCases() {
  std::vector<GoldenCase> cases;
  for (int lang : {1, 49, 31}) {
    for (int n = 1; n <= 8; ++n) cases.push_back({lang, n});
  }
  return cases;
}

class GoldenReport : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenReport, OneProcessor) {
  const GoldenCase c = GetParam();
  ReportWorld rw(static_cast<std::uint16_t>(c.Lang));
  EXPECT_TRUE(rw.RunTestCase(c.TestNo));
  EXPECT_EQ(rw.Lines(), Expected(c.Lang, c.TestNo));
}

TEST_P(GoldenReport, TwoProcessorsPutTheHeaderFirst) {
  const GoldenCase c = GetParam();
  ReportWorld rw(static_cast<std::uint16_t>(c.Lang));
  rw.w.shell.MultiProc = true;
  const int proc = c.TestNo % 2 == 0 ? 2 : 1;
  EXPECT_TRUE(rw.RunTestCase(c.TestNo, proc));
  Lines expected = Expected(c.Lang, c.TestNo);
  expected.insert(expected.begin(), ProcessorHeader(c.Lang, proc));
  EXPECT_EQ(rw.Lines(), expected);
}

INSTANTIATE_TEST_SUITE_P(AllLanguages, GoldenReport, ::testing::ValuesIn(AllCases()), CaseName);

// /NOL2: the ECC presence is not tested and the verdict is off, so the report
// ends with the empty line after the ratio.
TEST(GoldenReportNoL2, EndsWithoutVerdict) {
  struct Case {
    int Lang, TestNo;
    Lines Want;
  };
  const Case cases[] = {
      {1,
       2,
       {
           Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=3, Step=3"),
           Col(" Processor Core", ": Pentium II, Klamath"),
           kEnL1Data,
           kEnL1Code,
           kEnL2_512,
           kEnArea,
           Col(" L2 ECC", ": ECC Presence not tested, ECC enabled"),
           Col(" Actual clock rate", ": 300.4 MHz"),
           Col(" System clock rate", ": default: 66.6 MHz, measured:66.8 MHz"),
           Col(" Ratio (cpu/syst)", ": 4.5"),
           "",
       }},
      {49,
       1,
       {
           Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=3, Step=3"),
           Col(" Prozessorkern", ": Pentium II, Klamath"),
           kDeL1Data,
           kDeL1Code,
           kDeL2_512,
           kEnArea,
           Col(" L2 ECC", ": ECC Presence not tested, ECC not enabled"),
           Col(" Aktueller Takt", ": 300,4 MHz"),
           Col(" Systemtakt", ": Sollwert: 66.6 MHz, gemessen:66,8 MHz"),
           " Multiplikator (cpu/syst): 4,5",
           "",
       }},
      {31,
       5,
       {
           Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=5, Step=1"),
           Col(" Processorkern", ": Pentium II, Deschutes, Celeron"),
           kNlL1Data,
           kNlL1Code,
           Col(" L2 Cache:", ": uitgeschakeld"),
           Col(" L2", ": niet aanwezig of door de hardware uitgeschakeld"),
           Col(" actuele kloksnelheid", ": 266.0 MHz"),
           Col(" systeem kloksnelheid", ": bij Celeron-systemen niet detecteerbaar"),
           "",
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.TestNo);
    ReportWorld rw(static_cast<std::uint16_t>(c.Lang));
    rw.w.settings.OptNoL2 = true;
    rw.w.settings.VerdictOn = false;
    EXPECT_TRUE(rw.RunTestCase(c.TestNo));
    EXPECT_EQ(rw.Lines(), c.Want);
  }
}

}  // namespace
}  // namespace torv
