#pragma once
// What a running module's engine works with: the form, the database, the clock, the AT
// exchange, the one way to end the module on a fatal error, and the application's end.

#include <functional>
#include <string>

#include "core/app_end.h"
#include "core/clock.h"
#include "core/form.h"
#include "modem/exchange.h"
#include "store/database.h"

namespace tovalink {

using AbortModuleFn = std::function<void(const std::string& message, const std::string& port)>;

struct Module {
  Form& form;
  Database& db;
  Clock& clock;
  Exchange& exchange;
  AbortModuleFn abort_module;
  AppEnd& app_end;
};

// One sale as the worker hands it to a channel procedure.
struct Sale {
  std::string idproduk;
  std::string barcode;  // the destination number
  std::string pin;
  int64_t idx = 0;
  std::string tanggal;
  std::string waktu;
  std::string nominal;  // the product's denomination, or the sale's jumlah when that is 0
  std::string kind;     // "S" for host servers, "X" wallet, "I" M-TRONIK, the prefix for MKIOS
  int64_t jumlah = 0;
};

// "INSERT INTO logtrxsms VALUES (...)" with the date and time of the moment of writing.
void LogExchange(Module& module, const std::string& module_name, const std::string& counterpart,
                 const std::string& text);

}  // namespace tovalink
