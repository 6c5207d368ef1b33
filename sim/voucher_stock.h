#pragma once
// The voucher stock of an MKIOS SIM and the operator who keeps it: "ATD*777*...#" sells one
// voucher of a denomination to a destination, "ATD*776*<pin>#" asks for the stock. Every
// answer is a USSD text framed as "\r\n+CUSD: 0,\"<text>\"" + the scenario's dial reply end,
// after the stock's delay. Whether a sale goes through, and what the operator says about
// it, follows the scenario's outcomes, so a test can play an answer that decides nothing
// while the stock did (or did not) go down. Each code is a STOCK transcript line.
//
// Not thread-safe: the Simulator that owns it calls it from its one thread.

#include <map>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "sim/scenario.h"
#include "sim/sim_io.h"

namespace tovalink::sim {

class Simulator;

class VoucherStock {
 public:
  // `scenario`, `simulator` and `io` outlive the stock.
  VoucherStock(const StockScenario& scenario, Simulator& simulator, SimIo& io);

  // A dialled code (after "ATD" or "AT+CUSD=1,", without "#"'s followers): answers a sale or
  // stock code and returns true; false for any other code or when the SIM keeps no stock.
  bool Dial(const std::string& code);

  // The count of each denomination now.
  const std::map<int, int>& Counts() const { return counts_; }

 private:
  void Sell(const std::string& form, const std::string& destination, const std::string& nominal,
            const std::string& pin);
  void AskStock(const std::string& pin);
  void Answer(const std::string& text_name, const std::map<std::string, std::string>& values);
  std::string Count(int count) const;

  const StockScenario& scenario_;
  Simulator& simulator_;
  SimIo& io_;
  std::map<int, int> counts_;
  size_t sales_ = 0;  // sales that could go through so far: the index into the outcomes
  int asked_ = 0;     // stock requests so far
};

// Reads the scenario's "stock" section; throws std::runtime_error naming what is wrong.
StockScenario ParseVoucherStock(const nlohmann::json& section);

// The "stock" section's part of modemsim --help.
const char* VoucherStockHelp();

}  // namespace tovalink::sim
