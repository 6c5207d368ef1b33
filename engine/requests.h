#pragma once
// The supplier requests that the outlet software asks a running module for through its row in
// modulaktif: `ceksaldo` 1 a balance check, 2 a registration, 3 a deposit, with parameters
// in `lokasifile` ("~"-separated). The worker looks once per cycle.

#include <string>

#include "engine/channel.h"

namespace tovalink {

// Runs the module's pending request, if any: clears it first (a request runs once, whatever
// its outcome), then sends it and collects the replies. A balance check is the channel's own
// (RequestBalance); registrations and deposits go by the hostserver row named like the
// provider type. Runs on the worker thread; errors reach the worker.
void CheckBalance(Module& module, Channel& channel, const std::string& provider_type);

}  // namespace tovalink
