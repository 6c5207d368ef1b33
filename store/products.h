#pragma once
// Lookups of product data.

#include <string>

#include "store/database.h"

namespace tovalink {

// The product's denomination as a number: 0 when the product has no row. NULL or a value
// that does not convert raises ConversionError.
double ProductDenom(Database& db, const std::string& product_id);
// The product's denomination as text: "" when the product has no row (or a NULL denom).
std::string ProductDenomText(Database& db, const std::string& product_id);
// The product's keypad macro: "" when it has none.
std::string ProductMacro(Database& db, const std::string& product_id);

}  // namespace tovalink
