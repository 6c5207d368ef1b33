#pragma once
// Reading an operator's voucher-stock reply into the stock boxes of "Stok Mkios".

#include <string>

#include "core/form.h"

namespace tovalink {

// The field of `text` with index n (from 0), where every "," and every "." ends a field.
std::string NthField(const std::string& text, int n);

// True when `reply` is a stock reply ("Stok" or "Stock" in it); the boxes named by its
// "V5=120"-style pairs then take their values.
bool ParseStock(Form& form, const std::string& reply);

}  // namespace tovalink
