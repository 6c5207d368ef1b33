#include "store/products.h"

namespace tovalink {

double ProductDenom(Database& db, const std::string& product_id) {
  Rows rows =
      db.OpenSql("SELECT denom FROM produk WHERE idproduk=\"" + db.Escape(product_id) + "\"");
  if (rows.Count() == 0) return 0;
  return rows.Float("denom");
}

std::string ProductDenomText(Database& db, const std::string& product_id) {
  Rows rows =
      db.OpenSql("SELECT denom from produk where idproduk=\"" + db.Escape(product_id) + "\"");
  if (rows.Count() < 1) return {};
  return rows.Text("denom");
}

std::string ProductMacro(Database& db, const std::string& product_id) {
  Rows rows = db.OpenSql("SELECT macro FROM macroeditorc55 WHERE idproduk=\"" +
                         db.Escape(product_id) + "\"");
  if (rows.Count() < 1) return {};
  return rows.Text("macro");
}

}  // namespace tovalink
