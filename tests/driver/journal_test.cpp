// The journal's text: what a killed analysis leaves must be read back
// exactly, and anything else refused.
#include "driver/journal.h"

#include <gtest/gtest.h>

#include <string>

namespace torv {
namespace {

TEST(Journal, TextReadsBackAndAnythingElseIsRefused) {
  RegisterJournal j;
  j.Cpu = 2;
  j.Sequence = "cache controller";
  j.Entries = {{JournalEntry::Register, 0x11E, 0x0000000100304527ull},
               {JournalEntry::Port, 0x21, 0xB8}};
  const std::string text = FormatJournal(j);
  EXPECT_EQ(text,
            "cpu 2\nsequence cache controller\nM 0000011E 0000000100304527\n"
            "P 00000021 00000000000000B8\n");
  RegisterJournal back;
  ASSERT_TRUE(ParseJournal(text, back));
  EXPECT_EQ(back, j);
  const char* bad[] = {
      "",
      "cpu 2\nsequence cache controller\n",                // no entry
      "cpu 2\nsequence x\nM 0000011E 0000000100304527",    // cut short
      "cpu 0\nsequence x\nM 0000011E 0000000100304527\n",  // no such processor
      "cpu 2\nsequence x\nX 0000011E 0000000100304527\n",  // unknown kind
      "cpu 2\nsequence x\nM 0000011E 00000001003045\n",    // short value
      "cpu 2\nsequence x\nM 0000011E 000000010030452G\n",  // not hexadecimal
      "cpu 2\nsequence x\nP 00010000 0000000000000000\n",  // no such port
      "cpu 2\nsequence x\nP 00000021 0000000000000100\n",  // not a byte
      "sequence x\ncpu 2\nM 0000011E 0000000100304527\n",  // out of order
  };
  for (const char* t : bad) {
    RegisterJournal r;
    EXPECT_FALSE(ParseJournal(t, r)) << t;
  }
}

}  // namespace
}  // namespace torv
