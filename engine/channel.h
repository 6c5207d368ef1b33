#pragma once
// The seam between the worker and a provider type: one Channel per module, chosen at START
// from the provider type (`ctipeprov`) by the table in channels.cpp.
//
// Adding a provider type is one file in engine/ with a class derived from Channel and a
// factory function, and one entry in that table; the worker, START and the balance request
// learn of it from the table alone.
//
// Threads: every member runs on the worker thread, one sale at a time, with the modem to
// itself. Errors (database, conversion) reach the worker, which ends the module with them.

#include <memory>
#include <string>

#include "engine/module.h"
#include "engine/sale_in_hand.h"

namespace tovalink {

class Channel {
 public:
  virtual ~Channel() = default;

  // The kind the worker hands a sale of this product over with.
  virtual SaleKind KindOf(const std::string& product_id) const = 0;

  // Executes the sale in hand, which the worker has taken: begins it, crosses its point of no
  // return before the first command that may make the operator execute it (sending nothing
  // when the crossing is refused), and ends it through `sale` (engine/sale_in_hand.h) or a
  // reply that settles it. A fatal modem failure ends the module through AbortModule.
  virtual void RunSale(Module& module, SaleInHand& sale) = 0;

  // Runs once at worker start, after the modem's initialisation. Returns false when the
  // module was ended (the worker then stops). Most providers have nothing to do.
  virtual bool AtWorkerStart(Module& module);

  // The balance check that the outlet software asks for with `ceksaldo` 1. `host` holds the
  // balance method, format and supplier number of the hostserver row named like the provider
  // type (all empty without one). The default sends the host's balance request and collects
  // the replies.
  struct HostBalance {
    std::string method;
    std::string format;
    std::string sms_center;
  };
  virtual void RequestBalance(Module& module, const HostBalance& host);
};

// The channel of a provider type, compared exactly: the built-in providers by name, any other
// text a host server of that id. Never nullptr.
std::unique_ptr<Channel> MakeChannel(const std::string& provider_type);

// The factories the table knows.
std::unique_ptr<Channel> MakeHostFormatChannel(const std::string& host_id);

}  // namespace tovalink
