#include "engine/module.h"

namespace tovalink {

void LogExchange(Module& module, const std::string& module_name, const std::string& counterpart,
                 const std::string& text) {
  Database& db = module.db;
  const LocalDateTime now = module.clock.Local();
  db.ExecSql("INSERT INTO logtrxsms VALUES (\"\",\"" + Clock::FormatDate(now) + "\",\"" +
             Clock::FormatTime(now) + "\",\"" + db.Escape(module_name) + "\",\"" +
             db.Escape(counterpart) + "\",\"" + db.Escape(text) + "\",1)");
}

}  // namespace tovalink
