#include "app/launch.h"

namespace tovalink {

void SetAutorun(Database& db, const std::string& module_name) {
  db.ExecSql("UPDATE modulaktif SET autorun=1 WHERE namamodul=\"" + db.Escape(module_name) + "\"");
}

}  // namespace tovalink
