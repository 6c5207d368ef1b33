#include "sim/voucher_stock.h"

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <vector>

#include "sim/scenario_parse.h"
#include "sim/simulator.h"

namespace tovalink::sim {

using nlohmann::json;

namespace {

const int kDenominations[] = {5, 10, 15, 20, 25, 50, 100};

// The operator's wording unless the scenario says otherwise. Only the stock text holds
// "Stok": that is what tells a stock reply from any other answer.
const std::map<std::string, std::string> kTexts = {
    {"success",
     "Trx {denomination} ke {destination} BERHASIL. SN:{serial}. Sisa {denomination} "
     "k={count}."},
    {"silent", "Trx {denomination} ke {destination} sedang diproses"},
    {"failed", "Trx {denomination} ke {destination} GAGAL, silakan ulangi"},
    {"empty", "Maaf, voucher {denomination} Anda habis"},
    {"unknown", "Maaf, nominal {nominal} tidak tersedia"},
    {"wrong_pin", "Maaf, PIN yang Anda masukkan salah"},
    {"malformed", "Maaf, format yang Anda masukkan salah"},
    {"stock", "Stok simpati Anda {stock}."},
    {"busy", "Maaf, sistem sedang sibuk. Silakan coba beberapa saat lagi"},
};

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::vector<std::string> SplitAtStars(const std::string& text) {
  std::vector<std::string> parts;
  size_t at = 0;
  for (;;) {
    const size_t star = text.find('*', at);
    parts.push_back(text.substr(at, star == std::string::npos ? std::string::npos : star - at));
    if (star == std::string::npos) return parts;
    at = star + 1;
  }
}

// The denomination of "V10" (10), or 0 for a name that is none of the SIM's.
int Denomination(const std::string& name) {
  for (int denomination : kDenominations) {
    if (name == "V" + std::to_string(denomination)) return denomination;
  }
  return 0;
}

StockScenario::Outcome ParseOutcome(const std::string& text) {
  if (text == "success") return StockScenario::Outcome::Success;
  if (text == "silent") return StockScenario::Outcome::Silent;
  if (text == "failed") return StockScenario::Outcome::Failed;
  throw std::runtime_error("stock: unknown outcome \"" + text + "\" (success, silent or failed)");
}

}  // namespace

StockScenario ParseVoucherStock(const json& section) {
  StockScenario stock;
  stock.present = true;
  const json vouchers = Get<json>(section, "vouchers", json::object());
  if (!vouchers.is_object()) throw std::runtime_error("stock: \"vouchers\" must be an object");
  for (const auto& [name, count] : vouchers.items()) {
    const int denomination = Denomination(name);
    if (denomination == 0) {
      throw std::runtime_error("stock: unknown voucher \"" + name +
                               "\" (V5, V10, V15, V20, V25, V50 or V100)");
    }
    stock.vouchers[denomination] = count.get<int>();
    if (stock.vouchers[denomination] < 0) {
      throw std::runtime_error("stock: the count of \"" + name + "\" is below 0");
    }
  }
  stock.pin = Get<std::string>(section, "pin", "");
  for (const std::string& outcome : Get<std::vector<std::string>>(section, "outcomes", {})) {
    stock.outcomes.push_back(ParseOutcome(outcome));
  }
  stock.busy = Get<int>(section, "busy", 0);
  stock.thousands = Get<std::string>(section, "thousands", "");
  stock.ack = Get<std::string>(section, "ack", "");
  stock.delay_ms = Get<int64_t>(section, "delay_ms", 1000);
  stock.texts = kTexts;
  const json texts = Get<json>(section, "texts", json::object());
  for (const auto& [name, text] : texts.items()) {
    if (kTexts.count(name) == 0) throw std::runtime_error("stock: unknown text \"" + name + "\"");
    stock.texts[name] = text.get<std::string>();
  }
  return stock;
}

VoucherStock::VoucherStock(const StockScenario& scenario, Simulator& simulator, SimIo& io)
    : scenario_(scenario), simulator_(simulator), io_(io), counts_(scenario.vouchers) {}

bool VoucherStock::Dial(const std::string& code) {
  if (!scenario_.present || code.empty() || code.back() != '#') return false;
  const std::string body = code.substr(0, code.size() - 1);
  if (StartsWith(body, "*776*")) {
    AskStock(body.substr(5));
    return true;
  }
  if (!StartsWith(body, "*777*")) return false;
  // "*777*<destination>*<nominal>*<pin>#", or the same behind a form digit 3 or 4.
  std::vector<std::string> fields = SplitAtStars(body.substr(5));
  std::string form = "-";
  if (fields.size() == 4 && (fields[0] == "3" || fields[0] == "4")) {
    form = fields[0];
    fields.erase(fields.begin());
  }
  if (fields.size() != 3) {
    io_.Record("STOCK", {"SALE", code, "malformed"});
    Answer("malformed", {});
    return true;
  }
  Sell(form, fields[0], fields[1], fields[2]);
  return true;
}

void VoucherStock::Sell(const std::string& form, const std::string& destination,
                        const std::string& nominal, const std::string& pin) {
  std::map<std::string, std::string> values = {
      {"destination", destination}, {"nominal", nominal}, {"denomination", "V" + nominal}};
  auto record = [&](const std::string& what) {
    io_.Record("STOCK", {"SALE", form, destination, "V" + nominal, what});
  };
  if (!scenario_.pin.empty() && pin != scenario_.pin) {
    record("wrong pin");
    Answer("wrong_pin", values);
    return;
  }
  auto found = counts_.find(Denomination("V" + nominal));
  if (found == counts_.end()) {
    record("unknown");
    Answer("unknown", values);
    return;
  }
  if (found->second <= 0) {
    record("empty");
    Answer("empty", values);
    return;
  }
  const StockScenario::Outcome outcome = sales_ < scenario_.outcomes.size()
                                             ? scenario_.outcomes[sales_]
                                             : StockScenario::Outcome::Success;
  ++sales_;
  if (outcome != StockScenario::Outcome::Failed) --found->second;
  values["count"] = Count(found->second);
  const char* name = outcome == StockScenario::Outcome::Success  ? "success"
                     : outcome == StockScenario::Outcome::Silent ? "silent"
                                                                 : "failed";
  record(std::string(name) + ", " + std::to_string(found->second) + " left");
  Answer(name, values);
}

void VoucherStock::AskStock(const std::string& pin) {
  ++asked_;
  if (asked_ <= scenario_.busy) {
    io_.Record("STOCK", {"ASK", "busy"});
    Answer("busy", {});
    return;
  }
  if (!scenario_.pin.empty() && pin != scenario_.pin) {
    io_.Record("STOCK", {"ASK", "wrong pin"});
    Answer("wrong_pin", {});
    return;
  }
  std::string stock;
  for (const auto& [denomination, count] : counts_) {
    stock += (stock.empty() ? "" : ", ") + std::string("V") + std::to_string(denomination) + "=" +
             Count(count);
  }
  io_.Record("STOCK", {"ASK", "read", stock});
  Answer("stock", {{"stock", stock}});
}

void VoucherStock::Answer(const std::string& text_name,
                          const std::map<std::string, std::string>& values) {
  if (!scenario_.ack.empty()) io_.Send(SingleBytes(scenario_.ack));
  const std::string text = simulator_.Expand(scenario_.texts.at(text_name), {}, values);
  simulator_.SendLater(SingleBytes("\r\n+CUSD: 0,\"" + text + "\"" + simulator_.DialReplyEnd()),
                       Delivery{scenario_.delay_ms, 0, 0, {}});
}

std::string VoucherStock::Count(int count) const {
  std::string digits = std::to_string(count);
  if (scenario_.thousands.empty()) return digits;
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
    digits.insert(static_cast<size_t>(at), scenario_.thousands);
  }
  return digits;
}

const char* VoucherStockHelp() {
  return R"(  "stock": {"vouchers": {"V5": 120, "V10": 35, "V20": 0}, "pin": "", "delay_ms": 1000,
            "outcomes": ["silent", "failed"], "busy": 0, "thousands": "", "ack": "",
            "texts": {"success": "...", ...}}
                             an MKIOS SIM's voucher stock (V5, V10, V15, V20, V25, V50, V100;
                             those listed are the ones it sells). "*777*<destination>*
                             <nominal>*<pin>#" and the same behind "*777*3*" or "*777*4*"
                             sell one voucher "V<nominal>"; "*776*<pin>#" asks for the stock.
                             Every answer is "\r\n+CUSD: 0,\"<text>\"" + "dial_reply_end",
                             "delay_ms" after the code ("ack" goes at once). The sales that
                             can go through take "outcomes" in turn, then "success":
                               success  text "success", one voucher less
                               silent   text "silent" (decides nothing), one voucher less
                               failed   text "failed", the stock stays
                             A wrong "pin", an unknown nominal or an empty stock get their
                             texts and change nothing. The first "busy" stock requests get
                             the busy text. "thousands" is written between the thousands of
                             a count ("." gives "1.200"). Dial rules are asked first.
    texts and their defaults (placeholders {destination} {nominal} {denomination} ("V10")
    {count} (after the sale) {stock} ("V5=120, V10=35") {serial}):
      success    "Trx {denomination} ke {destination} BERHASIL. SN:{serial}. Sisa
                  {denomination} k={count}."
      silent     "Trx {denomination} ke {destination} sedang diproses"
      failed     "Trx {denomination} ke {destination} GAGAL, silakan ulangi"
      empty      "Maaf, voucher {denomination} Anda habis"
      unknown    "Maaf, nominal {nominal} tidak tersedia"
      wrong_pin  "Maaf, PIN yang Anda masukkan salah"
      malformed  "Maaf, format yang Anda masukkan salah"
      stock      "Stok simpati Anda {stock}."
      busy       "Maaf, sistem sedang sibuk. Silakan coba beberapa saat lagi"
)";
}

}  // namespace tovalink::sim
