#pragma once
// The wallet (DOMPET) channel: credit transferred from the pulsa wallet on the module's SIM
// card, by dial codes, USSD or the SIM's "TRANSF PULSA" menu. The module's transaction method
// (`cmethod`, compared exactly) chooses how: "DIAL101", "DIALXLTUNAI" and "DIAL151" by their
// codes; any other method by the product's keypad macro on a SIEMENS modem and by the SIM's
// menu on every other modem.
//
// After the transfer the operator's replies are read and settled; a sale that nothing settled
// ends "PENDING", and unless the sale succeeded the wallet's balance is asked for by SMS.
//
// Threads: the channel runs on the worker thread, like every channel.

#include <memory>
#include <string>

#include "engine/channel.h"
#include "engine/stk_menu.h"

namespace tovalink {

// The codes the wallet dials, from the sale's values as texts. The nominal is compared
// exactly: "25000" and "25000.0" are different amounts.
//
// "*101*<nominal>*<destination>*<pin>#".
std::string Dial101Code(const std::string& nominal, const std::string& destination,
                        const std::string& pin);
// "*123*120*2*2*<destination>*<digit>*1*<pin>*1#" with the menu digit of the nominal ("25000"
// 1, "50000" 2, "100000" 3); "" for any other nominal, which this method cannot carry.
std::string XlTunaiCode(const std::string& nominal, const std::string& destination,
                        const std::string& pin);
// "*151*1*1*3*<digit>*<destination>*1#" with the menu digit of the nominal ("1" 1, "5" 2,
// "10" 3, "25" 4, "50" 5, "100" 6); "*151*1*1*3" alone for any other nominal.
std::string Dial151Code(const std::string& nominal, const std::string& destination);

// Where a USSD answer asks for the PIN: the 1-based position of "kan pin" in it, letters
// compared without regard to case; 0 when it does not ask.
size_t PinPromptPosition(const std::string& reply);

// The sale's walk through the SIM's "TRANSF PULSA" menu: the menu found by name, the
// destination, the first item of the list that follows, then the item named by the nominal
// and "k" ("5k" for 5, found in "5K" and also in "15K" or "25K" when such a line comes first),
// the PIN; every command that has no timeout of its own waits 3 s.
StkSaleWalk WalletSaleWalk(const Sale& sale);

std::unique_ptr<Channel> MakeDompetChannel();

}  // namespace tovalink
