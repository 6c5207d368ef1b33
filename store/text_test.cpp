#include "store/text.h"

#include <gtest/gtest.h>

namespace tovalink {
namespace {

TEST(SqlSafeTest, RemovesQuotesAndTurnsSeparatorsIntoSpaces) {
  EXPECT_EQ(SqlSafe("\"ab'\\cd\r\n\x1A"), "ab cd  ");
  EXPECT_EQ(SqlSafe("Isi 10rb/082112345678 OK\r\n"), "Isi 10rb 082112345678 OK  ");
  EXPECT_EQ(SqlSafe("plain text 123"), "plain text 123");
}

TEST(CleanReplyTest, ReplacesOnlyWholeLineEnds) {
  EXPECT_EQ(CleanReply("+CUSD: 0,\"Sisa saldo\"\r\n"), "+CUSD: 0,Sisa saldo ");
  EXPECT_EQ(CleanReply("a\rb\nc\r\nd\x1A"), "a\rb\nc d");
  EXPECT_EQ(CleanReply("x\\y/z'"), "x y z");
  // A quote inside a line end is removed first, so the line end is still one; Ctrl-Z is
  // removed last, so it still keeps CR and LF apart.
  EXPECT_EQ(CleanReply("OK\r\"\nSN\r'\n"), "OK SN ");
  EXPECT_EQ(CleanReply("a\r\x1A\nb"), "a\r\nb");
}

TEST(SplitTextTest, Cases) {
  struct Case {
    const char* text;
    const char* delimiter;
    std::vector<std::string> elements;
  };
  const Case cases[] = {
      {"a~b~", "~", {"a", "b"}},
      {"~a", "~", {"", "a"}},
      {"a~~b", "~", {"a", "", "b"}},
      {"", "~", {}},
      {"abc", "~", {"abc"}},
      {"x\r\ny", "\r\n", {"x", "y"}},
      {"abc", "", {"abc"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitText(c.text, c.delimiter), c.elements) << "text '" << c.text << "'";
  }
}

TEST(TextHelpersTest, TrimCaseAndReplace) {
  EXPECT_EQ(Trim("  a b \t\r\n"), "a b");
  EXPECT_EQ(UpperAscii("abc\xe9z"), "ABC\xe9Z");
  EXPECT_EQ(LowerAscii("ABC\xc9Z"), "abc\xc9z");
  EXPECT_EQ(ReplaceAll("a~b~c", "~", "--"), "a--b--c");
  EXPECT_EQ(ReplaceAll("aaa", "", "x"), "aaa");
}

}  // namespace
}  // namespace tovalink
