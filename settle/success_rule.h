#pragma once
// The success wording of a product, used by the MKIOS channel to judge a dial reply.

#include <string>

#include "store/database.h"

namespace tovalink {

struct SuccessWording {
  std::string awalsn;
  std::string akhirsn;
  std::string pesansuksesgagal;
};

// The markers and the success text of the first "SUKSES" rule of the product in
// `settinggetsn`; all three empty when the product has none. The product id is quoted like
// every other text value, so ids such as "S10" are looked up rather than read as a column.
// Database errors reach the caller.
SuccessWording SuccessRule(Database& db, const std::string& product_id);

}  // namespace tovalink
