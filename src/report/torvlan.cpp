// The three message records. The texts hold the OEM codes 84 94 81 8E 99 9A
// E1 15 E6 for ä ö ü Ä Ö Ü ß § µ, as the report screen expects; two German
// entries carry other bytes on purpose (the Windows "Ö" D6 in ErrorOpening,
// the bytes F5 AF in NotPresentOrDisabled).
#include "report/torvlan.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace torv {
namespace {

// A table text. Converting it to a field checks at compile time that the text
// fits the field's capacity, so that no table entry is cut unnoticed.
struct Text {
  std::string_view s;

  template <std::size_t N>
  consteval operator PStr<N>() const {  // NOLINT: implicit on purpose
    if (s.size() > N) throw "table text longer than its field";
    return PStr<N>(s);
  }
};

consteval Text operator""_t(const char* s, std::size_t n) {
  return Text{std::string_view(s, n)};
}

// A sentence that names the survey page: head + address + tail, which must
// fit the 75 characters of a sentence.
consteval PStr<75> Survey(std::string_view head, std::string_view tail) {
  const std::string_view address(kSurveyAddress);
  if (head.size() + address.size() + tail.size() > 75) throw "survey sentence longer than 75";
  std::array<char, 75> buf{};
  std::size_t n = 0;
  for (char c : head) buf[n++] = c;
  for (char c : address) buf[n++] = c;
  for (char c : tail) buf[n++] = c;
  return PStr<75>(std::string_view(buf.data(), n));
}

// clang-format off
constexpr LangRec kGerman{
    .On = " ein"_t,
    .Off = " aus"_t,
    .Is = " ist"_t,
    .Was = " war"_t,
    .Not = " nicht"_t,
    .With = " mit"_t,
    .At = " bei"_t,
    .Without = " ohne"_t,
    .And = " und"_t,
    .But = " aber"_t,
    .Or = " oder"_t,
    .For = " f\x81" "r"_t,
    .From = " ab"_t,
    .No = " kein"_t,
    .NoFem = " keine"_t,
    .Under = " unter"_t,
    .Present = " vorhanden"_t,
    .Supported = " unterst\x81" "tzt"_t,
    .Disabled = " abgeschaltet"_t,
    .Enabled = " eingeschaltet"_t,
    .Measured = " gemessen"_t,
    .Detected = " erkannt"_t,
    .Found = " gefunden"_t,
    .True = " WAHR"_t,
    .False = " FALSCH"_t,
    .Determined = " bestimmt"_t,
    .Unknown = " unbekannt"_t,
    .Determinable = " bestimmbar"_t,
    .Active = " aktiv"_t,
    .AccordingTo = " gem\x84" "\xE1"_t,
    .GreaterThan = " gr\x94" "\xE1" "er als"_t,
    .SmallerThan = " kleiner als"_t,
    .Error = " Fehler"_t,
    .Break = " Abbruch"_t,
    .Default = " Sollwert"_t,
    .Detection = " Bestimmung"_t,
    .Measurement = " Messung"_t,
    .Result = " Ergebnis"_t,
    .Name = " Name"_t,
    .GoOnKey = " weiter mit Taste"_t,
    .Processor = " Prozessor"_t,
    .ProcessorCore = " Prozessorkern"_t,
    .ActualClock = " Aktueller Takt"_t,
    .SystemClock = " Systemtakt"_t,
    .MainMemory = " Hauptspeicher"_t,
    .PrimaryCache = " Prim\x84" "r-Cache"_t,
    .SecondaryCache = " Sekund\x84" "r-Cache"_t,
    .Associativity = " Assoziativit\x84" "t"_t,
    .WayAssociative = "fach assoziativ"_t,
    .DriverError = " Treiberfehler"_t,
    .ErrorOpening = " Fehler beim \xD6" "ffnen von"_t,
    .ErrorClosing = " Fehler beim Schliessen von"_t,
    .ErrorCopying = " Fehler beim Kopieren von"_t,
    .NotFound = " nicht gefunden"_t,
    .AlreadyInUse = " bereits genutzt"_t,
    .VersionTooOld = " Version zu alt"_t,
    .NoLoadPermission = " Keine Erlaubnis, Treiber zu laden "_t,
    .Ratio = " Multiplikator"_t,
    .HasDetected = " Torvacin ermittelt"_t,
    .ErrorCap = " Fehler"_t,
    .NotOnCeleron = " bei Celeron nicht auslesbar"_t,
    .NotPresentOrDisabled = " nicht vorhanden oder hardwarem\xF5" "\xAF" "ig abgeschaltet"_t,
    .OldVxdActive = " Alte Version von Kelvor95 aktiv, bitte ersetzen und neu booten "_t,
    .NoVirtualMode = " Messung im virtuellen Modus nicht m\x94" "glich, Windows-Version benutzen!"_t,
    .Sentences = {{
        ""_t,
        " Achtung, laut Intel Pentium II Specification Upgrade #243337 gibt"_t,
        " es keinen 300 MHz Pentium II ohne ECC, daraus folgt"_t,
        " Prozessor ist \x81" "bertaktet und falls als 300 MHz gekennzeichnet"_t,
        " wahrscheinlich gef\x84" "lscht."_t,
        Survey(" Bitte informieren Sie Vemora unter ", ""),
        " Achtung, der externe Systemtakt ist unzul\x84" "ssig hoch"_t,
        " Achtung, der externe Systemtakt ist niedriger als erlaubt"_t,
        " Keine Auff\x84" "lligkeiten festgestellt"_t,
        " Multiprozessor System, nur Bootprozessor ausgewertet"_t,
        " fuer weitere Angaben booten Sie bitte Ihr System unter purem DOS"_t,
        " ohne Speichermanager (EMM386) aber mit Himem.sys "_t,
        " Achtung, laut Intel Pentium II Specification Upgrade #243337 gibt"_t,
        " es keinen Pentium II Deschutes > 333 MHz mit Stepping 0"_t,
        " Prozessor ist \x81" "bertaktet und falls als 350/400 MHz gekennzeichnet"_t,
        " wahrscheinlich gef\x84" "lscht."_t,
        Survey(" Bitte informieren Sie Vemora unter ", ""),
        " Autodetektion f\x81" "r 66/100 MHz ist abgeschaltet"_t,
        " Achtung, echte 400/450 MHz Typen kann man auch auf 300/350 MHz jumpern!"_t,
        " Wenn das nicht geht, ist der Prozessor wahrscheinlich eine F\x84" "lschung"_t,
    }},
    // Stored with the Windows code of the u-umlaut (FCh), which the OEM
    // conversion passes unchanged.
    .EccTestFailed = " Test fehlgeschlagen, keine Aussage \xFC" "ber ECC"_t,
    .L2RegsNotRead = " Cache-Register nicht gelesen"_t,
    .ClockNotChecked = " Takt nicht gemessen: Taktraten nicht gepr\x81" "ft"_t,
    .BusNotChecked = " Bus-Einstellung unbekannt: Systemtakt nicht gepr\x81" "ft"_t,
    .NotInDump = " Nicht im Dump"_t,
    .RatioNotInDump = " 2Ah nicht im Dump: Systemtakt nicht gepr\x81" "ft"_t,
    .L2NotInDump = " 11Eh nicht im Dump: L2 und ECC nicht gepr\x81" "ft"_t,
    .EccNotInDump = " ECC-Test nicht im Dump: 300-MHz-Regel nicht gepr\x81" "ft"_t,
};

constexpr LangRec kEnglish{
    .On = " on"_t,
    .Off = " off"_t,
    .Is = " is"_t,
    .Was = " was"_t,
    .Not = " not"_t,
    .With = " with"_t,
    .At = " at"_t,
    .Without = " without"_t,
    .And = " and"_t,
    .But = " but"_t,
    .Or = " or"_t,
    .For = " for"_t,
    .From = " from"_t,
    .No = " no"_t,
    .NoFem = " no"_t,
    .Under = " under"_t,
    .Present = " present"_t,
    .Supported = " supported"_t,
    .Disabled = " disabled"_t,
    .Enabled = " enabled"_t,
    .Measured = " measured"_t,
    .Detected = " detected"_t,
    .Found = " found"_t,
    .True = " true"_t,
    .False = " false"_t,
    .Determined = " determined"_t,
    .Unknown = " unknown"_t,
    .Determinable = " determinable"_t,
    .Active = " activ"_t,
    .AccordingTo = " according to"_t,
    .GreaterThan = " greater than"_t,
    .SmallerThan = " smaller than"_t,
    .Error = " error"_t,
    .Break = " Break"_t,
    .Default = " default"_t,
    .Detection = " detection"_t,
    .Measurement = " measurement"_t,
    .Result = " result"_t,
    .Name = " Name"_t,
    .GoOnKey = " >> go on with key"_t,
    .Processor = " Processor"_t,
    .ProcessorCore = " Processor Core"_t,
    .ActualClock = " Actual clock rate"_t,
    .SystemClock = " System clock rate"_t,
    .MainMemory = " Main memory"_t,
    .PrimaryCache = " Primary Cache"_t,
    .SecondaryCache = " Secundary Cache"_t,
    .Associativity = " associativity"_t,
    .WayAssociative = "way associative"_t,
    .DriverError = " Driver Error"_t,
    .ErrorOpening = " Error opening"_t,
    .ErrorClosing = " Error closing"_t,
    .ErrorCopying = " Error copying"_t,
    .NotFound = " not found "_t,
    .AlreadyInUse = " already in use "_t,
    .VersionTooOld = " Version too old"_t,
    .NoLoadPermission = " Not allowed to load Driver"_t,
    .Ratio = " Ratio"_t,
    .HasDetected = " Torvacin has detected"_t,
    .ErrorCap = " Error "_t,
    .NotOnCeleron = " not detectable on Celeron systems"_t,
    .NotPresentOrDisabled = " does not exist or is disabled by hardware"_t,
    .OldVxdActive = " Old Version of Kelvor95 activ, please replace and reboot "_t,
    .NoVirtualMode = " cannot not work in virtuel mode, please use Windows version"_t,
    .Sentences = {{
        ""_t,
        " Attention, as stated in the Intel Pentium II Specification Upgrade #243337"_t,
        " there exists no 300 MHz Pentium II without ECC, therefore"_t,
        " processor is overclocked and if marked as a 300 MHz type"_t,
        " it is possibly a fake."_t,
        Survey(" Please notify Vemora via internet: ", ""),
        " Attention, the external system clock rate is higher than allowed"_t,
        " Attention, the external system clock rate is lower than allowed"_t,
        " No irregularities detected"_t,
        " Multiprocessor System, only boot prozessor analyzed"_t,
        " for a detailed analysis please reboot System with pur DOS"_t,
        " no Memory Manager (like EMM386) but with Himem.sys"_t,
        " Attention, as stated in the Intel Pentium II Specification Upgrade #243337"_t,
        " there is no Pentium II Deschutes > 333 MHz without Stepping 0, therefore"_t,
        " processor is overclocked and if marked as a 350/400 MHz type"_t,
        " it is possibly a fake."_t,
        Survey(" Please notify Vemora via internet: ", ")"),
        " Autodetection for 66/100 MHz is disabled"_t,
        " Attention, genuine 400/450 MHz types can also be jumpered for 300/350 MHz!"_t,
        " If this will not work, the processor is probably a fake"_t,
    }},
    .EccTestFailed = " presence test failed, no statement on ECC"_t,
    .L2RegsNotRead = " cache registers not read"_t,
    .ClockNotChecked = " Clock not measured: clock rates not checked"_t,
    .BusNotChecked = " Bus setting unknown: system clock not checked"_t,
    .NotInDump = " Not in the dump"_t,
    .RatioNotInDump = " 2Ah not in the dump: system clock not checked"_t,
    .L2NotInDump = " 11Eh not in the dump: L2 and ECC not checked"_t,
    .EccNotInDump = " ECC test not in the dump: 300 MHz rule not checked"_t,
};

constexpr LangRec kDutch{
    .On = " aan"_t,
    .Off = " uit"_t,
    .Is = " ist"_t,
    .Was = " vooraf"_t,
    .Not = " niet"_t,
    .With = " met"_t,
    .At = " bij"_t,
    .Without = " zonder"_t,
    .And = " en"_t,
    .But = " maar"_t,
    .Or = " of"_t,
    .For = " for"_t,
    .From = " af"_t,
    .No = " geen"_t,
    .NoFem = " geene"_t,
    .Under = " onder"_t,
    .Present = " aanwezig"_t,
    .Supported = " ondersteund"_t,
    .Disabled = " uitgeschakeld"_t,
    .Enabled = " ingeschakeld"_t,
    .Measured = " gemeten"_t,
    .Detected = " gedetecteerd"_t,
    .Found = " gevinderd"_t,
    .True = " waar"_t,
    .False = " fout"_t,
    .Determined = " getdetecteerd"_t,
    .Unknown = " onbekend"_t,
    .Determinable = " gedetecteerd"_t,
    .Active = " actief"_t,
    .AccordingTo = " volgens de"_t,
    .GreaterThan = " grooter als"_t,
    .SmallerThan = " kleiner als"_t,
    .Error = " fault"_t,
    .Break = " Break"_t,
    .Default = " default"_t,
    .Detection = " detection"_t,
    .Measurement = " meeting"_t,
    .Result = " result"_t,
    .Name = " naam"_t,
    .GoOnKey = " wijder met toets"_t,
    .Processor = " Processor"_t,
    .ProcessorCore = " Processorkern"_t,
    .ActualClock = " actuele kloksnelheid"_t,
    .SystemClock = " systeem kloksnelheid"_t,
    .MainMemory = " main memory"_t,
    .PrimaryCache = " Primary Cache"_t,
    .SecondaryCache = " Secundary Cache"_t,
    .Associativity = " assoziatiefitet"_t,
    .WayAssociative = "maal associatief"_t,
    .DriverError = " Fout bij Driver"_t,
    .ErrorOpening = " Fout tijdens het openen van"_t,
    .ErrorClosing = " Fout tijdens het sluitenen van"_t,
    .ErrorCopying = " Fout tijdens het kopieren van"_t,
    .NotFound = " niet gevinderd"_t,
    .AlreadyInUse = " already in use"_t,
    .VersionTooOld = " Version too old"_t,
    .NoLoadPermission = " Not allowed to load Driver"_t,
    .Ratio = " ratio"_t,
    .HasDetected = " Torvacin heeft gedetecteerd"_t,
    .ErrorCap = " Fout"_t,
    .NotOnCeleron = " bij Celeron-systemen niet detecteerbaar"_t,
    .NotPresentOrDisabled = " niet aanwezig of door de hardware uitgeschakeld"_t,
    .OldVxdActive = " Old Version of Kelvor95 activ, please replace and reboot"_t,
    .NoVirtualMode = " meetingen niet mogelijk in virtuele modus"_t,
    .Sentences = {{
        ""_t,
        " Attentie, volgens de Intel Pentium II specificatie Upgrade #243337"_t,
        " is er geen Pentium II Deschutes > 333 MHz met Stepping 0, dus"_t,
        " deze processor is overklokt en mogelijk  een vervalsing"_t,
        " als deze gekenmerkd is als 350/400 MHz"_t,
        Survey(" Meld het alstublieft aan Vemora via internet ", ")"),
        " Attentie, de externe systeemkloksnelheid is hoger dan toegestaan"_t,
        " Attentie, de externe systeemkloksnelheid is lager dan toegestaan),"_t,
        " Geen afwijkingen geconstateerd),"_t,
        " Multiprocessorsysteem"_t,
        " voor verdere gedetailleerde analyse svp de computer onder DOS starten),"_t,
        " met HIMEM.sys maar zonder andere geheugen managers (EMM386 etc)),"_t,
        " Attentie, volgens de Intel Pentium II specificatie Upgrade #243337),"_t,
        " is er geen Pentium II Deschutes > 333 MHz met Stepping 0, dus"_t,
        " deze processor is overklokt en mogelijk  een vervalsing),"_t,
        " als deze gekenmerkd is als 350/400 MHz ),"_t,
        Survey(" Meld het alstublieft aan Vemora via internet ", ")"),
        " Autodetection for 66/100 MHz is utigeschakeld"_t,
        " Attentie: echte 400/450 MHz typen k\x81" "n je ook op 300/350 MHz jumpern"_t,
        " als dat niet l\x81" "kt, deze processor is en mogelijk een vervalsing),,"_t,
    }},
    .EccTestFailed = " test mislukt, geen uitspraak over ECC"_t,
    .L2RegsNotRead = " cacheregisters niet gelezen"_t,
    .ClockNotChecked = " Klok niet gemeten: kloksnelheid niet getest"_t,
    .BusNotChecked = " Businstelling onbekend: systeemklok niet getest"_t,
    .NotInDump = " Niet in de dump"_t,
    .RatioNotInDump = " 2Ah niet in de dump: systeemklok niet getest"_t,
    .L2NotInDump = " 11Eh niet in de dump: L2 en ECC niet getest"_t,
    .EccNotInDump = " ECC-test niet in de dump: 300 MHz-regel niet getest"_t,
};
// clang-format on

}  // namespace

const LangRec& GermanRec() {
  return kGerman;
}
const LangRec& EnglishRec() {
  return kEnglish;
}
const LangRec& DutchRec() {
  return kDutch;
}

}  // namespace torv
