#pragma once
// The M-TRONIK channel: top-ups sold through the operator's M-TRONIK menu on the SIM card of
// the module's modem, walked with the SIM-toolkit commands (a SIEMENS modem keys the
// product's keypad macro instead). The operator's SMS reply settles the sale; a sale that it
// did not settle "SUKSES" is followed, on a WAVECOM modem, by a second walk that asks the
// operator for the account balance.

#include <memory>

#include "engine/channel.h"
#include "engine/stk_menu.h"

namespace tovalink {

// The walk of one sale through the M-TRONIK menu (10 s a command, five attempts). The item
// chosen in the last list is named by the sale: "REGULER" for the kinds "M", "I" and "O",
// whose amount is typed in thousands (nominal + "000"); "SMS" or "GPRS" for a product id
// ending in "S" or "G"; otherwise "xxxxxxxx", which no menu holds. "REGULAR" and "INTERNET"
// are tried when "REGULER" and "GPRS" are missing.
StkSaleWalk MtronikSaleWalk(const Sale& sale);

std::unique_ptr<Channel> MakeMtronikChannel();

}  // namespace tovalink
