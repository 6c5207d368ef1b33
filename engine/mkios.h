#pragma once
// The MKIOS channel: vouchers sold out of the stock held by the module's SIM card, by dial
// codes, with the stock kept in the boxes of "Stok Mkios".

#include <memory>
#include <set>
#include <string>

#include "core/form.h"
#include "engine/channel.h"

namespace tovalink {

// The count that a box or a reply does not hold as a whole number.
inline constexpr int kMissingCount = -99;

// The field of `text` with index n (from 0), where every "," and every "." ends a field.
std::string NthField(const std::string& text, int n);

// True when `reply` is a stock reply ("Stok" or "Stock" in it); the boxes named by its
// "V5=120"-style pairs then take their values. `named`, when given, receives the boxes the
// reply named ("S5", "S10", ...): a box it did not name keeps a count read earlier, which says
// nothing of the stock now.
bool ParseStock(Form& form, const std::string& reply, std::set<std::string>* named = nullptr);

// The count a sale's reply gives after the first "k=" (or, without one, the first "K="), up to
// the next "."; leading blanks are allowed. kMissingCount when there is no such count.
int StockFromReply(const std::string& reply);

std::unique_ptr<Channel> MakeMkiosChannel();

}  // namespace tovalink
