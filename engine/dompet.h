#pragma once
// The wallet (DOMPET) channel: credit transferred from the pulsa wallet on the module's SIM
// card, by dial codes, USSD or the SIM's "TRANSF PULSA" menu.

#include <memory>

#include "engine/channel.h"

namespace tovalink {

std::unique_ptr<Channel> MakeDompetChannel();

}  // namespace tovalink
