#include "modem/at_text.h"

#include <gtest/gtest.h>

namespace tovalink {
namespace {

TEST(AtTextTest, WhatATextFromOutsideMayCarryIntoACommand) {
  struct Case {
    std::string text;
    const char* command;      // CommandTextFault
    const char* keys;         // KeyStringFault
    const char* destination;  // DestinationFault
  };
  const Case cases[] = {
      {"081234567890", "", "", ""},
      {"+6281234567890", "", "", ""},
      {"*123*0812#", "", "", "bukan nomor telepon"},
      {"", "", "", "kosong"},
      {"+", "", "", "bukan nomor telepon"},
      {"0812\rAT+CMGD=1,4", "berisi CR", "berisi CR", "bukan nomor telepon"},
      {"0812\n", "berisi LF", "berisi LF", "bukan nomor telepon"},
      {"12\x1A", "berisi Ctrl-Z", "berisi Ctrl-Z", "bukan nomor telepon"},
      {"12\x1B", "berisi ESC", "berisi ESC", "bukan nomor telepon"},
      {std::string("12\0" "3", 4), "berisi NUL", "berisi NUL", "bukan nomor telepon"},
      {"1\"2", "", "berisi tanda kutip", "bukan nomor telepon"},
      {"0812 ", "", "", "bukan nomor telepon"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CommandTextFault(c.text), c.command) << QuotedForReason(c.text);
    EXPECT_EQ(KeyStringFault(c.text), c.keys) << QuotedForReason(c.text);
    EXPECT_EQ(DestinationFault(c.text), c.destination) << QuotedForReason(c.text);
  }
  EXPECT_EQ(QuotedForReason("08\r\n\x01"), "\"08\\r\\n\\x01\"");
  EXPECT_EQ(QuotedForReason(std::string(40, '9'), 4), "\"9999...\"");
}

}  // namespace
}  // namespace tovalink
