#include <stdexcept>

#include "engine/channels.h"

namespace tovalink {

void RunHostFormat(Module&, const std::string& provider_type, const Sale&) {
  throw std::runtime_error("host-format channel for " + provider_type + " is not built yet");
}

}  // namespace tovalink
