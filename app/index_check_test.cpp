#include "app/index_check.h"

#include <gtest/gtest.h>

#include <regex>

#include "testsupport/test_database.h"

namespace tovalink {
namespace {

std::vector<std::string> Described(const std::vector<RecommendedIndex>& indexes) {
  std::vector<std::string> texts;
  for (const RecommendedIndex& index : indexes) texts.push_back(index.Describe());
  return texts;
}

TEST(RecommendedIndexes, AreTheOnesTheSchemaFileAdds) {
  const std::string script = SourceFile("schema/indexes.sql");
  const std::regex create(R"(CREATE INDEX \w+ ON (\w+) \(([\w, ]+)\);)");
  std::vector<std::string> in_file;
  for (std::sregex_iterator it(script.begin(), script.end(), create), end; it != end; ++it) {
    in_file.push_back((*it)[1].str() + " (" + (*it)[2].str() + ")");
  }
  EXPECT_EQ(Described(RecommendedIndexes()), in_file);
}

TEST(MissingIndexes, CountsAnIndexByItsLeadingColumnsUnderAnyName) {
  TestDatabase t;
  EXPECT_EQ(Described(MissingIndexes(t.db())), Described(RecommendedIndexes()));

  // Wider or renamed indexes serve; columns in another order do not.
  t.Run(
      "CREATE INDEX own_name ON penjualanproduk (modem, flag, tanggal);"
      "CREATE INDEX backwards ON penjualanproduk (tanggal, barcode);"
      "CREATE INDEX rules ON settinggetsn (IDPRODUK, tipepesan);");
  EXPECT_EQ(Described(MissingIndexes(t.db())),
            (std::vector<std::string>{"penjualanproduk (barcode, tanggal)",
                                      "settinggetsn (awalmsisdn, tipepesan)"}));

  Form form;
  WarnOfMissingIndexes(form, t.db(), IndexWarningLog::Displays);
  EXPECT_EQ(form.StatusPanel(0),
            "Indeks belum ada: penjualanproduk (barcode, tanggal), settinggetsn (awalmsisdn, "
            "tipepesan); tambahkan dengan schema/indexes.sql");

  RunScript(t.db(), SourceFile("schema/indexes.sql"));
  EXPECT_TRUE(MissingIndexes(t.db()).empty());
  Form quiet;
  WarnOfMissingIndexes(quiet, t.db(), IndexWarningLog::Displays);
  EXPECT_EQ(quiet.StatusPanel(0), "");
}

TEST(MissingIndexes, AFailingCheckIsSaidAndDoesNotStopTheModule) {
  Database unconnected;
  Form form;
  WarnOfMissingIndexes(form, unconnected, IndexWarningLog::Displays);
  EXPECT_EQ(form.StatusPanel(0).rfind("Indeks tidak dapat diperiksa: ", 0), 0u)
      << form.StatusPanel(0);
}

}  // namespace
}  // namespace tovalink
