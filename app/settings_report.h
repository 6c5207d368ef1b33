#pragma once

#include <string>

#include "core/form.h"

namespace tovalink {

// The form as start-up leaves it, one "key=value" line each: the messages shown, the boxes,
// ProviderType, gmk and the lists.
std::string SettingsReport(const Form& form);

}  // namespace tovalink
