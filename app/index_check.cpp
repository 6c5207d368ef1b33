#include "app/index_check.h"

#include <algorithm>
#include <iostream>
#include <map>

#include "store/text.h"

namespace tovalink {

std::string RecommendedIndex::Describe() const {
  std::string text = table + " (";
  for (size_t i = 0; i < columns.size(); ++i) text += (i == 0 ? "" : ", ") + columns[i];
  return text + ")";
}

const std::vector<RecommendedIndex>& RecommendedIndexes() {
  static const std::vector<RecommendedIndex> kIndexes = {
      {"penjualanproduk", {"modem", "flag"}},
      {"penjualanproduk", {"barcode", "tanggal"}},
      {"settinggetsn", {"idproduk", "tipepesan"}},
      {"settinggetsn", {"awalmsisdn", "tipepesan"}},
  };
  return kIndexes;
}

std::vector<RecommendedIndex> MissingIndexes(Database& db) {
  // The columns of every index of the two tables, in index order, keyed by table and index.
  std::map<std::pair<std::string, std::string>, std::vector<std::string>> present;
  Rows rows = db.OpenSql(
      "SELECT TABLE_NAME,INDEX_NAME,COLUMN_NAME FROM information_schema.STATISTICS WHERE "
      "TABLE_SCHEMA=DATABASE() AND TABLE_NAME IN (\"penjualanproduk\",\"settinggetsn\") "
      "ORDER BY TABLE_NAME,INDEX_NAME,SEQ_IN_INDEX");
  for (; !rows.Eof(); rows.Next()) {
    present[{LowerAscii(rows.Text(0)), rows.Text(1)}].push_back(LowerAscii(rows.Text(2)));
  }
  std::vector<RecommendedIndex> missing;
  for (const RecommendedIndex& wanted : RecommendedIndexes()) {
    bool found = false;
    for (const auto& [key, columns] : present) {
      found = found || (key.first == wanted.table && columns.size() >= wanted.columns.size() &&
                        std::equal(wanted.columns.begin(), wanted.columns.end(), columns.begin()));
    }
    if (!found) missing.push_back(wanted);
  }
  return missing;
}

void WarnOfMissingIndexes(Form& form, Database& db, IndexWarningLog log) {
  std::string warning;
  try {
    const std::vector<RecommendedIndex> missing = MissingIndexes(db);
    if (missing.empty()) return;
    warning = "Indeks belum ada: ";
    for (size_t i = 0; i < missing.size(); ++i) {
      warning += (i == 0 ? "" : ", ") + missing[i].Describe();
    }
    warning += "; tambahkan dengan schema/indexes.sql";
  } catch (const std::exception& error) {
    warning = std::string("Indeks tidak dapat diperiksa: ") + error.what();
  }
  form.SetStatusPanel(0, warning);
  if (log == IndexWarningLog::StandardError) std::cerr << warning << std::endl;
}

}  // namespace tovalink
