#pragma once
// What a running module's engine works with: the form, the database, the clock, the AT
// exchange, the modem's profile, the one way to end the module on a fatal error, and the
// application's end; and one sale as the worker hands it to a channel.

#include <atomic>
#include <cstdint>
#include <string>

#include "core/app_end.h"
#include "core/clock.h"
#include "core/form.h"
#include "modem/exchange.h"
#include "modem/modem_profile.h"
#include "store/database.h"

namespace tovalink {

// Lifetime: every reference outlives the worker. The texts are taken at START and do not
// change while the module runs (the settings group is disabled).
struct Module {
  Form& form;
  Database& db;
  Clock& clock;
  Exchange& exchange;
  AbortModuleFn abort_module;
  AppEnd& app_end;
  std::string name;  // the module's key (`csumber`): written into its log rows
  std::string port;  // the port text (`cport`): shown, and given to AbortModule
  ModemProfile modem;
  // Set by the worker that runs the module: once it is true (STOP, AbortModule) the engine
  // takes no further step and writes nothing more. Null outside a worker.
  const std::atomic<bool>* end_requested = nullptr;

  bool Ending() const { return end_requested != nullptr && end_requested->load(); }
};

// How the worker labels a sale for its channel: a letter fixed by the provider type, or for a
// voucher-stock module the characters of the product id before its first digit.
class SaleKind {
 public:
  static SaleKind HostServer() { return SaleKind("S"); }
  static SaleKind Wallet() { return SaleKind("X"); }
  static SaleKind Mtronik() { return SaleKind("I"); }
  static SaleKind ProductPrefixOf(const std::string& product_id);

  const std::string& text() const { return text_; }
  bool operator==(const SaleKind&) const = default;

 private:
  explicit SaleKind(std::string text) : text_(std::move(text)) {}
  std::string text_;
};

// The characters of the trimmed product id before its first digit; empty when it begins with
// a digit or is empty; the whole trimmed id when it holds no digit.
std::string ProductPrefix(const std::string& product_id);

// One sale as the worker hands it to a channel procedure, after marking it taken.
struct Sale {
  std::string idproduk;
  std::string barcode;  // the destination number
  std::string pin;
  int64_t idx = 0;
  std::string tanggal;
  std::string waktu;
  std::string nominal;  // the product's denomination, or the sale's jumlah when that is 0
  SaleKind kind = SaleKind::HostServer();
  int64_t jumlah = 0;
};

// "INSERT INTO logtrxsms VALUES (...)" with the module's name and the date and time of the
// moment of writing; `counterpart` is the sender, the dialled command or the code.
void LogExchange(Module& module, const std::string& counterpart, const std::string& text);

}  // namespace tovalink
