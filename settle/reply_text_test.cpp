#include "settle/reply_text.h"

#include <gtest/gtest.h>

namespace tovalink {
namespace {

TEST(TakeDigitsTest, ReadsTheLeadingRunAfterTrimming) {
  struct Case {
    std::string text;
    std::string digits;
  } cases[] = {
      {"  123abc", "123"},  {"\r\n0812-345 ", "0812"},
      {"0812 345", "0812"}, {"abc123", ""},
      {"+62812", ""},       {"", ""},
      {" \t ", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(TakeDigits(c.text), c.digits) << "'" << c.text << "'";
}

TEST(DigitsOnlyTest, KeepsEveryDigitInOrder) {
  EXPECT_EQ(DigitsOnly("+STIN: 9\r\n"), "9");
  EXPECT_EQ(DigitsOnly("Rp 1.250,00"), "125000");
  EXPECT_EQ(DigitsOnly(""), "");
}

TEST(TakeBetweenTest, CutsBetweenTheMarkers) {
  const std::string wallet = "Transaksi dgn No. 123 berhasil utk pengisian pulsa";
  struct Case {
    std::string text, start, end, between;
  } cases[] = {
      {wallet, "No.", " berhasil", "123"},
      {wallet, "No.", "", "123 berhasil utk pengisian pulsa"},
      {wallet, "No.", "berhasil", "123 "},  // the cut part keeps its trailing space
      {wallet, "", " berhasil", ""},
      {wallet, "Ref:", " berhasil", ""},
      {wallet, "No.", "tidak ada", "123 berhasil utk pengisian pulsa"},
      {"Sisa Saldo: 50.000\r\n", "SALDO:", "", "50.000"},  // markers ignore letter case
      {"SN: AbC-9 ok", "sn:", " OK", "AbC-9"},
      {"Saldo:", "Saldo:", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TakeBetween(c.text, c.start, c.end), c.between)
        << "'" << c.text << "' '" << c.start << "' '" << c.end << "'";
  }
}

TEST(OccursTest, IgnoresTheCaseOfAsciiLettersOnly) {
  EXPECT_TRUE(Occurs("Isi Pulsa BERHASIL", "berhasil"));
  EXPECT_FALSE(Occurs("anything", ""));
  // Only A to Z fold: the Windows-1252 letters 0xC9 (E acute) and 0xE9 (e acute) differ.
  EXPECT_FALSE(Occurs("caf\xC9", "caf\xE9"));
  size_t position = 99;
  EXPECT_TRUE(Occurs("ke 0812", "KE ", &position));
  EXPECT_EQ(position, 0u);
}

}  // namespace
}  // namespace tovalink
