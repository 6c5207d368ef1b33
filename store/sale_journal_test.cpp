#include "store/sale_journal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "testsupport/process.h"

namespace tovalink {
namespace {

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void Append(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

TEST(SaleJournalTest, OpenSalesSurviveAReopening) {
  TempFolder folder;
  {
    SaleJournal journal(folder.path(), "M1");
    journal.Taking(7, "2026-03-02 09:30:00");
    journal.Ended(7, "SUKSES");
    journal.Taking(8, "2026-03-02 09:31:00");
    journal.Taking(9, "2026-03-02 09:32:00");
    journal.Sending(9, "2026-03-02 09:32:05");
  }
  SaleJournal journal(folder.path(), "M1");
  const std::vector<SaleJournal::OpenSale> open = journal.OpenSales();
  ASSERT_EQ(open.size(), 2u);
  EXPECT_EQ(open[0].idx, 8);
  EXPECT_EQ(open[0].taken_at, "2026-03-02 09:31:00");
  EXPECT_FALSE(open[0].sent_at);
  EXPECT_EQ(open[1].idx, 9);
  EXPECT_EQ(open[1].sent_at, "2026-03-02 09:32:05");
  EXPECT_EQ(journal.SkippedRecords(), 0);
  // A person can read it.
  EXPECT_NE(FileText(journal.Path()).find("SENT 9 2026-03-02T09:32:05 #"), std::string::npos);
}

TEST(SaleJournalTest, DamagedRecordsAreSkippedNotFatal) {
  TempFolder folder;
  std::string path;
  {
    SaleJournal journal(folder.path(), "M1");
    journal.Taking(1, "2026-03-02 09:30:00");
    path = journal.Path();
  }
  // A record whose check does not match (a bit flipped), then a last record the power cut
  // tore in the middle, then the zeros a file system may leave.
  Append(path, "DONE 1 SUKSES #00000000\n");
  Append(path, "SENT 1 2026-03-02T09:3");
  {
    SaleJournal journal(folder.path(), "M1");
    ASSERT_EQ(journal.OpenSales().size(), 1u);
    EXPECT_FALSE(journal.OpenSales()[0].sent_at);
    EXPECT_EQ(journal.SkippedRecords(), 2);
  }
  Append(path, std::string(16, '\0'));
  SaleJournal journal(folder.path(), "M1");
  EXPECT_EQ(journal.OpenSales().size(), 1u);
  EXPECT_EQ(journal.SkippedRecords(), 3);
}

TEST(SaleJournalTest, ARecordAfterATornOneIsStillRead) {
  TempFolder folder;
  std::string path;
  {
    SaleJournal journal(folder.path(), "M1");
    path = journal.Path();
  }
  Append(path, "TAKE 5 2026-03");
  {
    SaleJournal journal(folder.path(), "M1");
    journal.Taking(6, "2026-03-02 09:30:00");
  }
  SaleJournal journal(folder.path(), "M1");
  ASSERT_EQ(journal.OpenSales().size(), 1u);
  EXPECT_EQ(journal.OpenSales()[0].idx, 6);
}

TEST(SaleJournalTest, CutBackOnceEverySaleHasItsOutcome) {
  TempFolder folder;
  SaleJournal journal(folder.path(), "M1");
  for (int idx = 1; idx <= 400; ++idx) {
    journal.Taking(idx, "2026-03-02 09:30:00");
    journal.Sending(idx, "2026-03-02 09:30:01");
    journal.Ended(idx, "SUKSES");
  }
  journal.Taking(401, "2026-03-02 09:40:00");
  struct stat info {};
  ASSERT_EQ(stat(journal.Path().c_str(), &info), 0);
  EXPECT_LT(info.st_size, 17 * 1024);
  ASSERT_EQ(journal.OpenSales().size(), 1u);
  EXPECT_EQ(journal.OpenSales()[0].idx, 401);
}

TEST(SaleJournalTest, OneProgramOfAModuleNamePerFolder) {
  TempFolder folder;
  SaleJournal first(folder.path(), "M1");
  try {
    SaleJournal second(folder.path(), "M1");
    ADD_FAILURE() << "opened twice";
  } catch (const JournalError& error) {
    EXPECT_EQ(std::string(error.what()),
              "jurnal transaksi " + folder.path() +
                  "/M1.journal dipakai program lain dengan nama modul yang sama");
  }
  SaleJournal other(folder.path(), "M2");
  EXPECT_THROW(SaleJournal(folder.path() + "/missing", "M1"), JournalError);
}

TEST(SaleJournalTest, FileNamesKeepOnlyPlainCharacters) {
  EXPECT_EQ(SaleJournal::FileName("M1"), "M1.journal");
  EXPECT_EQ(SaleJournal::FileName("Modul-2_b"), "Modul-2_b.journal");
  EXPECT_EQ(SaleJournal::FileName("../x y"), "%2E%2E%2Fx%20y.journal");
}

}  // namespace
}  // namespace tovalink
