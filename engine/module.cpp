#include "engine/module.h"

#include "store/text.h"

namespace tovalink {

std::string ProductPrefix(const std::string& product_id) {
  const std::string trimmed = Trim(product_id);
  const size_t digit = trimmed.find_first_of("0123456789");
  return digit == std::string::npos ? trimmed : trimmed.substr(0, digit);
}

SaleKind SaleKind::ProductPrefixOf(const std::string& product_id) {
  return SaleKind(ProductPrefix(product_id));
}

void LogExchange(Module& module, const std::string& counterpart, const std::string& text) {
  Database& db = module.db;
  const LocalDateTime now = module.clock.Local();
  db.ExecSql("INSERT INTO logtrxsms VALUES (\"\",\"" + Clock::FormatDate(now) + "\",\"" +
             Clock::FormatTime(now) + "\",\"" + db.Escape(module.name) + "\",\"" +
             db.Escape(counterpart) + "\",\"" + db.Escape(text) + "\",1)");
}

}  // namespace tovalink
