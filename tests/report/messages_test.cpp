// The three message records, byte for byte, with every field's capacity.
// Expected texts hold the OEM codes 84 94 81 8E 99 9A E1 15 E6 for
// ä ö ü Ä Ö Ü ß § µ as stored; the screen converts them on output.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "report/torvlan.h"

namespace torv {
namespace {

struct Field {
  const char* name;
  std::size_t capacity;  // as the record must declare it
  std::size_t declared;  // as it does declare it
  std::function<std::string_view(const LangRec&)> get;
  std::string_view english, german, dutch;
};

// clang-format off
#define FIELD(N, CAP, EN, DE, NL) \
  Field{#N, CAP, decltype(LangRec::N)::kCapacity, \
        [](const LangRec& r) { return r.N.view(); }, EN, DE, NL}
// clang-format on

const Field kFields[] = {
    FIELD(On, 4, " on", " ein", " aan"),
    FIELD(Off, 4, " off", " aus", " uit"),
    FIELD(Is, 4, " is", " ist", " ist"),
    FIELD(Was, 7, " was", " war", " vooraf"),
    FIELD(Not, 6, " not", " nicht", " niet"),
    FIELD(With, 5, " with", " mit", " met"),
    FIELD(At, 4, " at", " bei", " bij"),
    FIELD(Without, 8, " without", " ohne", " zonder"),
    FIELD(And, 4, " and", " und", " en"),
    FIELD(But, 5, " but", " aber", " maar"),
    FIELD(Or, 5, " or", " oder", " of"),
    FIELD(For, 4, " for", " f\x81r", " for"),
    FIELD(From, 5, " from", " ab", " af"),
    FIELD(No, 5, " no", " kein", " geen"),
    FIELD(NoFem, 6, " no", " keine", " geene"),
    FIELD(Under, 6, " under", " unter", " onder"),
    FIELD(Present, 10, " present", " vorhanden", " aanwezig"),
    FIELD(Supported, 12, " supported", " unterst\x81tzt", " ondersteund"),
    FIELD(Disabled, 14, " disabled", " abgeschaltet", " uitgeschakeld"),
    FIELD(Enabled, 14, " enabled", " eingeschaltet", " ingeschakeld"),
    FIELD(Measured, 9, " measured", " gemessen", " gemeten"),
    FIELD(Detected, 13, " detected", " erkannt", " gedetecteerd"),
    FIELD(Found, 10, " found", " gefunden", " gevinderd"),
    FIELD(True, 5, " true", " WAHR", " waar"),
    FIELD(False, 7, " false", " FALSCH", " fout"),
    FIELD(Determined, 14, " determined", " bestimmt", " getdetecteerd"),
    FIELD(Unknown, 10, " unknown", " unbekannt", " onbekend"),
    FIELD(Determinable, 13, " determinable", " bestimmbar", " gedetecteerd"),
    FIELD(Active, 7, " activ", " aktiv", " actief"),
    FIELD(AccordingTo, 13, " according to", " gem\x84\xE1", " volgens de"),
    FIELD(GreaterThan, 13, " greater than",
          " gr\x94\xE1"
          "er als",
          " grooter als"),
    FIELD(SmallerThan, 13, " smaller than", " kleiner als", " kleiner als"),
    FIELD(Error, 7, " error", " Fehler", " fault"),
    FIELD(Break, 8, " Break", " Abbruch", " Break"),
    FIELD(Default, 9, " default", " Sollwert", " default"),
    FIELD(Detection, 11, " detection", " Bestimmung", " detection"),
    FIELD(Measurement, 12, " measurement", " Messung", " meeting"),
    FIELD(Result, 9, " result", " Ergebnis", " result"),
    FIELD(Name, 5, " Name", " Name", " naam"),
    FIELD(GoOnKey, 18, " >> go on with key", " weiter mit Taste", " wijder met toets"),
    FIELD(Processor, 10, " Processor", " Prozessor", " Processor"),
    FIELD(ProcessorCore, 15, " Processor Core", " Prozessorkern", " Processorkern"),
    FIELD(ActualClock, 21, " Actual clock rate", " Aktueller Takt", " actuele kloksnelheid"),
    FIELD(SystemClock, 21, " System clock rate", " Systemtakt", " systeem kloksnelheid"),
    FIELD(MainMemory, 14, " Main memory", " Hauptspeicher", " main memory"),
    FIELD(PrimaryCache, 14, " Primary Cache", " Prim\x84r-Cache", " Primary Cache"),
    FIELD(SecondaryCache, 16, " Secundary Cache", " Sekund\x84r-Cache", " Secundary Cache"),
    FIELD(Associativity, 16, " associativity", " Assoziativit\x84t", " assoziatiefitet"),
    FIELD(WayAssociative, 16, "way associative", "fach assoziativ", "maal associatief"),
    FIELD(DriverError, 16, " Driver Error", " Treiberfehler", " Fout bij Driver"),
    // The German "Ö" here is the Windows code D6, not the OEM code 99.
    FIELD(ErrorOpening, 28, " Error opening",
          " Fehler beim \xD6"
          "ffnen von",
          " Fout tijdens het openen van"),
    FIELD(ErrorClosing, 31, " Error closing", " Fehler beim Schliessen von",
          " Fout tijdens het sluitenen van"),
    FIELD(ErrorCopying, 30, " Error copying", " Fehler beim Kopieren von",
          " Fout tijdens het kopieren van"),
    FIELD(NotFound, 15, " not found ", " nicht gefunden", " niet gevinderd"),
    FIELD(AlreadyInUse, 16, " already in use ", " bereits genutzt", " already in use"),
    FIELD(VersionTooOld, 16, " Version too old", " Version zu alt", " Version too old"),
    FIELD(NoLoadPermission, 35, " Not allowed to load Driver",
          " Keine Erlaubnis, Treiber zu laden ", " Not allowed to load Driver"),
    FIELD(Ratio, 14, " Ratio", " Multiplikator", " ratio"),
    FIELD(HasDetected, 28, " Torvacin has detected", " Torvacin ermittelt",
          " Torvacin heeft gedetecteerd"),
    FIELD(ErrorCap, 7, " Error ", " Fehler", " Fout"),
    FIELD(NotOnCeleron, 40, " not detectable on Celeron systems", " bei Celeron nicht auslesbar",
          " bij Celeron-systemen niet detecteerbaar"),
    FIELD(NotPresentOrDisabled, 48, " does not exist or is disabled by hardware",
          " nicht vorhanden oder hardwarem\xF5\xAFig abgeschaltet",
          " niet aanwezig of door de hardware uitgeschakeld"),
    FIELD(OldVxdActive, 64, " Old Version of Kelvor95 activ, please replace and reboot ",
          " Alte Version von Kelvor95 aktiv, bitte ersetzen und neu booten ",
          " Old Version of Kelvor95 activ, please replace and reboot"),
    FIELD(NoVirtualMode, 69, " cannot not work in virtuel mode, please use Windows version",
          " Messung im virtuellen Modus nicht m\x94glich, Windows-Version benutzen!",
          " meetingen niet mogelijk in virtuele modus"),
    // An analysis that ended early; the u-umlaut is the Windows code FCh.
    FIELD(EccTestFailed, 48, " presence test failed, no statement on ECC",
          " Test fehlgeschlagen, keine Aussage \xFC"
          "ber ECC",
          " test mislukt, geen uitspraak over ECC"),
    FIELD(L2RegsNotRead, 32, " cache registers not read", " Cache-Register nicht gelesen",
          " cacheregisters niet gelezen"),
    // Checks of the verdict that could not be made; the u-umlaut is OEM 81h.
    FIELD(ClockNotChecked, 56, " Clock not measured: clock rates not checked",
          " Takt nicht gemessen: Taktraten nicht gepr\x81"
          "ft",
          " Klok niet gemeten: kloksnelheid niet getest"),
    FIELD(BusNotChecked, 56, " Bus setting unknown: system clock not checked",
          " Bus-Einstellung unbekannt: Systemtakt nicht gepr\x81"
          "ft",
          " Businstelling onbekend: systeemklok niet getest"),
    // A published dump's registers that it does not hold.
    FIELD(NotInDump, 24, " Not in the dump", " Nicht im Dump", " Niet in de dump"),
    FIELD(RatioNotInDump, 56, " 2Ah not in the dump: system clock not checked",
          " 2Ah nicht im Dump: Systemtakt nicht gepr\x81"
          "ft",
          " 2Ah niet in de dump: systeemklok niet getest"),
    FIELD(L2NotInDump, 56, " 11Eh not in the dump: L2 and ECC not checked",
          " 11Eh nicht im Dump: L2 und ECC nicht gepr\x81"
          "ft",
          " 11Eh niet in de dump: L2 en ECC niet getest"),
    FIELD(EccNotInDump, 60, " ECC test not in the dump: 300 MHz rule not checked",
          " ECC-Test nicht im Dump: 300-MHz-Regel nicht gepr\x81"
          "ft",
          " ECC-test niet in de dump: 300 MHz-regel niet getest"),
    FIELD(RunFailed, 48, " Analysis of this processor failed",
          " Analyse dieses Prozessors fehlgeschlagen", " Analyse van deze processor mislukt"),
    FIELD(ReportSaved, 24, " report saved to", " Bericht gespeichert in", " rapport opgeslagen in"),
    FIELD(ReportsSaved, 24, " reports saved to", " Berichte gespeichert in",
          " rapporten opgeslagen in"),
    FIELD(AllClear, 16, "all clear", "in Ordnung", "in orde"),
    FIELD(Alarm, 16, "alarm", "Alarm", "alarm"),
    FIELD(NotChecked, 16, "not checked",
          "nicht gepr\x81"
          "ft",
          "niet getest"),
    FIELD(NotALog, 40, "not a Torvacin log, skipped",
          "kein Torvacin-Protokoll, \x81"
          "bersprungen",
          "geen Torvacin-log, overgeslagen"),
    FIELD(CannotRead, 40, "cannot be read, skipped",
          "nicht lesbar, \x81"
          "bersprungen",
          "niet leesbaar, overgeslagen"),
    FIELD(NoLogRead, 48, "no Torvacin log read", "kein Torvacin-Protokoll gelesen",
          "geen Torvacin-log gelezen"),
};
#undef FIELD

struct Sentence {
  int index;
  std::string_view english, german, dutch;
};

const Sentence kSentences[] = {
    {1, " Attention, as stated in the Intel Pentium II Specification Upgrade #243337",
     " Achtung, laut Intel Pentium II Specification Upgrade #243337 gibt",
     " Attentie, volgens de Intel Pentium II specificatie Upgrade #243337"},
    {2, " there exists no 300 MHz Pentium II without ECC, therefore",
     " es keinen 300 MHz Pentium II ohne ECC, daraus folgt",
     " is er geen Pentium II Deschutes > 333 MHz met Stepping 0, dus"},
    {3, " processor is overclocked and if marked as a 300 MHz type",
     " Prozessor ist \x81"
     "bertaktet und falls als 300 MHz gekennzeichnet",
     " deze processor is overklokt en mogelijk  een vervalsing"},
    {4, " it is possibly a fake.", " wahrscheinlich gef\x84lscht.",
     " als deze gekenmerkd is als 350/400 MHz"},
    {5, " Please notify Vemora via internet: https://torvacin.org/survey",
     " Bitte informieren Sie Vemora unter https://torvacin.org/survey",
     " Meld het alstublieft aan Vemora via internet https://torvacin.org/survey)"},
    {6, " Attention, the external system clock rate is higher than allowed",
     " Achtung, der externe Systemtakt ist unzul\x84ssig hoch",
     " Attentie, de externe systeemkloksnelheid is hoger dan toegestaan"},
    {7, " Attention, the external system clock rate is lower than allowed",
     " Achtung, der externe Systemtakt ist niedriger als erlaubt",
     " Attentie, de externe systeemkloksnelheid is lager dan toegestaan),"},
    {8, " No irregularities detected", " Keine Auff\x84lligkeiten festgestellt",
     " Geen afwijkingen geconstateerd),"},
    {9, " Multiprocessor System, only boot prozessor analyzed",
     " Multiprozessor System, nur Bootprozessor ausgewertet", " Multiprocessorsysteem"},
    {10, " for a detailed analysis please reboot System with pur DOS",
     " fuer weitere Angaben booten Sie bitte Ihr System unter purem DOS",
     " voor verdere gedetailleerde analyse svp de computer onder DOS starten),"},
    {11, " no Memory Manager (like EMM386) but with Himem.sys",
     " ohne Speichermanager (EMM386) aber mit Himem.sys ",
     " met HIMEM.sys maar zonder andere geheugen managers (EMM386 etc)),"},
    {12, " Attention, as stated in the Intel Pentium II Specification Upgrade #243337",
     " Achtung, laut Intel Pentium II Specification Upgrade #243337 gibt",
     " Attentie, volgens de Intel Pentium II specificatie Upgrade #243337),"},
    {13, " there is no Pentium II Deschutes > 333 MHz without Stepping 0, therefore",
     " es keinen Pentium II Deschutes > 333 MHz mit Stepping 0",
     " is er geen Pentium II Deschutes > 333 MHz met Stepping 0, dus"},
    {14, " processor is overclocked and if marked as a 350/400 MHz type",
     " Prozessor ist \x81"
     "bertaktet und falls als 350/400 MHz gekennzeichnet",
     " deze processor is overklokt en mogelijk  een vervalsing),"},
    {15, " it is possibly a fake.", " wahrscheinlich gef\x84lscht.",
     " als deze gekenmerkd is als 350/400 MHz ),"},
    {16, " Please notify Vemora via internet: https://torvacin.org/survey)",
     " Bitte informieren Sie Vemora unter https://torvacin.org/survey",
     " Meld het alstublieft aan Vemora via internet https://torvacin.org/survey)"},
    {17, " Autodetection for 66/100 MHz is disabled",
     " Autodetektion f\x81r 66/100 MHz ist abgeschaltet",
     " Autodetection for 66/100 MHz is utigeschakeld"},
    {18, " Attention, genuine 400/450 MHz types can also be jumpered for 300/350 MHz!",
     " Achtung, echte 400/450 MHz Typen kann man auch auf 300/350 MHz jumpern!",
     " Attentie: echte 400/450 MHz typen k\x81n je ook op 300/350 MHz jumpern"},
    {19, " If this will not work, the processor is probably a fake",
     " Wenn das nicht geht, ist der Prozessor wahrscheinlich eine F\x84lschung",
     " als dat niet l\x81kt, deze processor is en mogelijk een vervalsing),,"},
};

TEST(Messages, EveryEntryByteForByte) {
  // The record's 64 words and texts, the two of an analysis that ended early,
  // the two of the verdict's checks that could not be made and the four of a
  // published dump's missing registers, and the nine of a failed processor,
  // an unattended save and the summary of logs.
  ASSERT_EQ(std::size(kFields), 81u);
  ASSERT_EQ(std::size(kSentences), 19u);
  const struct {
    const char* lang;
    const LangRec& rec;
    std::string_view Field::*text;
    std::string_view Sentence::*sentence;
  } langs[] = {{"English", EnglishRec(), &Field::english, &Sentence::english},
               {"German", GermanRec(), &Field::german, &Sentence::german},
               {"Dutch", DutchRec(), &Field::dutch, &Sentence::dutch}};

  for (const Field& f : kFields) {
    SCOPED_TRACE(f.name);
    EXPECT_EQ(f.declared, f.capacity);
    for (const auto& l : langs) {
      SCOPED_TRACE(l.lang);
      EXPECT_EQ(f.get(l.rec), f.*l.text);
      EXPECT_LE((f.*l.text).size(), f.capacity);
    }
  }
  EXPECT_EQ(decltype(LangRec::Sentences)::value_type::kCapacity, 75u);
  for (const Sentence& s : kSentences) {
    SCOPED_TRACE(s.index);
    for (const auto& l : langs) {
      SCOPED_TRACE(l.lang);
      EXPECT_EQ(l.rec.Sentences[s.index].view(), s.*l.sentence);
      EXPECT_LE((s.*l.sentence).size(), 75u);
    }
  }
  for (const auto& l : langs) EXPECT_TRUE(l.rec.Sentences[0].empty());
  EXPECT_EQ(std::string_view(kSurveyAddress), "https://torvacin.org/survey");
}

// Every sentence index, first to last, names a filled entry of each record,
// and the records hold no entry past the last index.
TEST(Messages, EverySentenceIndexNamesAnEntry) {
  static_assert(std::tuple_size_v<decltype(LangRec::Sentences)> == JumperWarning2 + 1);
  for (const LangRec* rec : {&EnglishRec(), &GermanRec(), &DutchRec()}) {
    for (int i = Fake300Line1; i <= JumperWarning2; ++i) {
      SCOPED_TRACE(i);
      EXPECT_FALSE(rec->Sentences[static_cast<std::size_t>(i)].empty());
    }
  }
}

}  // namespace
}  // namespace torv
