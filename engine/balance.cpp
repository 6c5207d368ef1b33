#include "engine/channels.h"

namespace tovalink {

void CheckBalance(Module&, const std::string&, const std::string&, const std::string&) {}

}  // namespace tovalink
