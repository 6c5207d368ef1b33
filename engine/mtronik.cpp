#include "engine/mtronik.h"

#include <algorithm>
#include <string_view>

#include "engine/reply_reading.h"
#include "engine/supplier.h"
#include "modem/at_text.h"
#include "settle/reply_text.h"
#include "store/products.h"
#include "store/text.h"

namespace tovalink {

StkSaleWalk MtronikSaleWalk(const Sale& sale) {
  std::string menu_name = "xxxxxxxx";
  std::string amount;
  const std::string& kind = sale.kind.text();
  if (!kind.empty() && (kind[0] == 'M' || kind[0] == 'I' || kind[0] == 'O')) {
    menu_name = "REGULER";
    amount = sale.nominal + "000";
  }
  const std::string& product = sale.idproduk;
  if (!product.empty() && product.back() == 'S') menu_name = "SMS";
  if (!product.empty() && product.back() == 'G') menu_name = "GPRS";

  StkSaleWalk walk;
  walk.timeout_seconds = 10;
  walk.destination = sale.barcode;
  // "Nominal Bebas": the free amount, typed next.
  walk.destination_list_item = "6";
  walk.amount = amount;
  walk.item_names = {menu_name};
  if (menu_name == "REGULER") walk.item_names.push_back("REGULAR");
  if (menu_name == "GPRS") walk.item_names.push_back("INTERNET");
  walk.item_test = ItemNumberTest::WholeNumber;
  walk.after_choice = {
      {"AT+STGI=3\r", "OK\r\n"},   {"AT+STGR=3,1\r", ">"},
      {sale.pin + "\x1A", "STIN", StkReplyUse::Ignored, StkCrossing::PointOfNoReturn},
      {"AT+STGI=1\r", "OK\r\n", StkReplyUse::Screen},
      {"AT+STGR=1\r", "+STIN: 9"},
  };
  walk.poll_error_token = "xxxx";
  walk.attempts = 5;
  return walk;
}

namespace {

constexpr int kBalanceAttempts = 3;
constexpr int kBalanceTimeoutSeconds = 10;
constexpr int64_t kBalancePauseAfterRestartMs = 1000;

// The toolkit screens kept for the respond of a sale that stays PENDING, without the
// toolkit's markup, line ends and quotes.
std::string CleanScreen(std::string text) {
  text = ReplaceAll(text, "AT+STGI=1", "");
  text = ReplaceAll(text, "+STGI:", "");
  text = ReplaceAll(text, "/", " ");
  text = ReplaceAll(text, "\\", " ");
  text = ReplaceAll(text, "\"", "");
  text = ReplaceAll(text, "'", "");
  text = ReplaceAll(text, "\r\n", "");
  return ReplaceAll(text, "\x1A", " ");
}

// A toolkit indication that came in with the listing ("+STIN: n") is read, and what the SIM
// shows is put in the balance box.
void ShowPendingToolkit(Module& module, const std::string& listing) {
  constexpr std::string_view kIndication = "+STIN:";
  const size_t found = UpperAscii(listing).find(kIndication);
  if (found == std::string::npos) return;
  // The character after "+STIN:" (its space) is skipped, not read.
  const size_t after = std::min(listing.size(), found + kIndication.size() + 1);
  const std::string digits = TakeDigits(listing.substr(after));
  std::string reply;
  module.exchange.SendAT("AT+STGI=" + digits + "\r", 2, "+STIN:", "ERROR", reply);
  module.form.SetMsaldo(reply);
}

// The operator's SMS after a walk: waits for the first to be announced, lists the store,
// and logs, settles and deletes every message.
ReplyReading ReadOperatorReplies(Module& module, const ReplyOptions& options) {
  WaitForNewMessage(module);
  const std::string listing = ListMessages(module);
  ShowPendingToolkit(module, listing);
  ReplyReading reading = ReadReplies(module, ReadInbox(listing, module.clock), options);
  reading.listing = listing;
  return reading;
}

// One attempt of the balance walk: M-TRONIK > Info (item 3) > item 1 twice > the PIN. Item
// 3 of the main menu when the SIM shows no "M-TRONIK" there.
bool TryBalanceWalk(StkMenu& menu, const std::string& pin) {
  menu.Prepare();
  if (!menu.ToolkitAnswers(kBalancePauseAfterRestartMs)) return false;
  std::string main_menu;
  if (!menu.ReadMainMenu(main_menu, kBalancePauseAfterRestartMs)) return false;
  const bool sub_menu = UpperAscii(main_menu).find("M-TRONIK") != std::string::npos;
  if (!menu.ChooseMainItem(sub_menu ? "1" : "3", kBalanceTimeoutSeconds)) return false;
  if (sub_menu && !menu.ChooseItem("3")) return false;
  for (int twice = 0; twice < 2; ++twice) {
    if (!menu.ChooseItem("1")) return false;
  }
  return menu.Type(pin, "+STIN");
}

// Asks the operator for the account balance through the menu and shows its answer. Three
// failed attempts end the module.
void RunBalanceWalk(Module& module, const std::string& pin) {
  StkMenu menu(module, kBalanceTimeoutSeconds);
  for (int attempt = 0; attempt < kBalanceAttempts; ++attempt) {
    if (menu.Halted()) return;
    const bool passed = TryBalanceWalk(menu, pin);
    // The toolkit is brought to the end of its session even when the walk broke off.
    menu.Poll("xxx");
    if (menu.Halted()) return;
    if (passed) {
      const ReplyReading reading = ReadOperatorReplies(module, ReplyOptions{});
      if (!ModuleStopping(module)) module.form.SetMsaldo(reading.last_text);
      if (!reading.last_text.empty())
        module.form.Log(LogPriority::Notice, "Saldo: " + reading.last_text);
      return;
    }
  }
  module.form.SetStatusPanel(0, "Gangguan koneksi, Harap program diulangi");
  module.abort_module("Error Koneksi Modem", module.port);
}

class MtronikChannel : public Channel {
 public:
  SaleKind KindOf(const std::string&) const override { return SaleKind::Mtronik(); }
  void RunSale(Module& module, SaleInHand& in_hand) override;

 private:
  static void SettleSale(Module& module, SaleInHand& in_hand, const std::string& screen);
};

void MtronikChannel::RunSale(Module& module, SaleInHand& in_hand) {
  const Sale& sale = in_hand.sale();
  Database& db = module.db;
  in_hand.Begin(sale_row::Spacing::TwoSpaces);

  std::string screen;
  if (module.modem.family == ModemFamily::Siemens) {
    const std::string macro = FillMacroWords(ProductMacro(db, sale.idproduk), sale);
    if (const std::string fault = KeyStringFault(macro); !fault.empty()) {
      in_hand.Refuse("macro produk " + fault);
      return;
    }
    if (!in_hand.Cross()) return;
    RunMacro(module, macro, EmptyKeyPieces::Skip);
  } else {
    const StkWalkResult walk = WalkStkSale(module, MtronikSaleWalk(sale), in_hand);
    // A missing item has written its respond, and a lost toolkit has ended the module.
    if (walk.outcome != StkWalkOutcome::Completed) return;
    screen = walk.screen + walk.current_text;
  }
  if (ModuleStopping(module)) return;
  SettleSale(module, in_hand, screen);
}

void MtronikChannel::SettleSale(Module& module, SaleInHand& in_hand, const std::string& screen) {
  const std::string screen_log = CleanScreen(screen);
  ReplyOptions options;
  options.in_hand = &in_hand;
  const ReplyReading reading = ReadOperatorReplies(module, options);
  if (ModuleStopping(module)) return;

  if (reading.result == Settlement::NotSettled) {
    // Without a message, what the toolkit showed is all the operator has to go by.
    in_hand.Pending(reading.messages > 0 ? reading.last_text : screen_log);
    module.form.SetMsaldo("");
  }
  if (reading.result == Settlement::Succeeded || module.modem.family != ModemFamily::Wavecom) {
    module.form.SetMsaldo("Tidak CekSaldo");
    return;
  }
  RunBalanceWalk(module, in_hand.sale().pin);
}

}  // namespace

std::unique_ptr<Channel> MakeMtronikChannel() { return std::make_unique<MtronikChannel>(); }

}  // namespace tovalink
