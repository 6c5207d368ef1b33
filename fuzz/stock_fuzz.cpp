// ParseStock and NthField on any reply. What must hold: a reply is a stock reply exactly when
// it holds "Stok" or "Stock"; any other reply changes no box; a stock reply changes only the
// visible stock boxes, each to digits only (or empty), and those digits stand in the reply;
// the fields of NthField are the text with its separators taken out; StockFromReply gives the
// count that a plain reading written here finds after "k=" (or "K="), or the missing count.

#include <cstdint>
#include <map>
#include <string>

#include "core/form.h"
#include "engine/mkios.h"
#include "fuzz/fuzz_support.h"

namespace tovalink::fuzz {
namespace {

const char* const kBoxes[] = {"S5", "S10", "S15", "S20", "S25", "S50", "S100",
                              "A5", "A10", "A15", "A20", "A25", "A50", "A100"};

void CheckFields(const std::string& text) {
  std::string without_separators;
  int separators = 0;
  for (const char c : text) {
    if (c == ',' || c == '.') {
      ++separators;
    } else {
      without_separators += c;
    }
  }
  std::string fields;
  for (int n = 0; n <= separators; ++n) fields += NthField(text, n);
  Require(fields == without_separators, "the fields are the text without its separators", text);
  Require(NthField(text, separators + 1).empty(), "no field past the last separator", text);
}

// The count after the first "k=" (else "K=") up to the next ".": blanks, a sign, digits that
// fit an int and nothing else; kMissingCount otherwise.
int ExpectedCount(const std::string& reply) {
  size_t at = reply.find("k=");
  if (at == std::string::npos) at = reply.find("K=");
  if (at == std::string::npos) return kMissingCount;
  const size_t point = reply.find('.', at + 2);
  if (point == std::string::npos) return kMissingCount;
  std::string text = reply.substr(at + 2, point - at - 2);
  size_t k = 0;
  while (k < text.size() && (text[k] == ' ' || text[k] == '\t')) ++k;
  const bool negative = k < text.size() && text[k] == '-';
  if (negative) ++k;
  if (k == text.size()) return kMissingCount;
  long long value = 0;
  for (; k < text.size(); ++k) {
    if (!IsDigit(text[k])) return kMissingCount;
    value = value * 10 + (text[k] - '0');
    if (value > 2147483648LL) return kMissingCount;
  }
  if (negative) value = -value;
  if (value > 2147483647LL) return kMissingCount;
  return static_cast<int>(value);
}

}  // namespace
}  // namespace tovalink::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tovalink;
  using fuzz::Require;
  const std::string reply(reinterpret_cast<const char*>(data), size);
  fuzz::CheckFields(reply);
  Require(StockFromReply(reply) == fuzz::ExpectedCount(reply), "the count after k=", reply);

  Form form;
  const bool stock = ParseStock(form, reply);
  Require(stock ==
              (reply.find("Stok") != std::string::npos || reply.find("Stock") != std::string::npos),
          "a stock reply holds Stok or Stock", reply);
  std::string reply_digits;
  for (const char c : reply) {
    if (fuzz::IsDigit(c)) reply_digits += c;
  }
  for (const char* box : fuzz::kBoxes) {
    const std::string value = form.Stock(box);
    if (value == "-") continue;
    Require(stock && box[0] == 'S', "only a stock reply fills a visible box", box);
    for (const char c : value) Require(fuzz::IsDigit(c), "a box holds digits", value);
    Require(reply_digits.find(value) != std::string::npos, "the digits stand in the reply", value);
  }
  return 0;
}
