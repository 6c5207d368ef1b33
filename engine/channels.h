#pragma once
// The channel procedures the worker dispatches to, and the supplier requests it runs once per
// cycle. Each writes every outcome to the database itself; errors reach the worker.

#include <string>

#include "engine/module.h"

namespace tovalink {

// A sale of a host-server module, sent as the hostserver row `provider_type` prescribes.
void RunHostFormat(Module& module, const std::string& provider_type, const Sale& sale);

// The balance, registration and deposit requests that the outlet software writes into the
// module's row (ceksaldo and lokasifile).
void CheckBalance(Module& module, const std::string& module_name, const std::string& provider_type,
                  const std::string& pin);

}  // namespace tovalink
