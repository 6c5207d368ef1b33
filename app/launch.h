#pragma once
// Launching a module as the outlet software does: its row's autorun is set to 1 before the
// program starts, since a module runs only while autorun is neither 0 nor 2 and STOP, a
// remote stop and a fatal error each leave 0 or 2 behind. The service of a module runs this
// before every start, so that a module comes back after a reboot (whose shutdown stopped it
// with STOP) and after a fatal error.

#include <string>

#include "store/database.h"

namespace tovalink {

// "UPDATE modulaktif SET autorun=1 WHERE namamodul="<name>"". A name without a row changes
// nothing. Raises DatabaseError.
void SetAutorun(Database& db, const std::string& module_name);

}  // namespace tovalink
