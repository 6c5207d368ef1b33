#include "engine/dompet.h"

#include <span>

#include "engine/reply_reading.h"
#include "engine/supplier.h"
#include "modem/at_text.h"
#include "settle/settle_reply.h"
#include "sms/send_sms.h"
#include "store/products.h"
#include "store/text.h"

namespace tovalink {

namespace {

// A menu digit of a wallet code, chosen by the exact nominal text.
struct MenuAmount {
  const char* nominal;
  const char* digit;
};

constexpr MenuAmount kXlTunaiMenu[] = {{"25000", "1"}, {"50000", "2"}, {"100000", "3"}};
constexpr MenuAmount kDial151Menu[] = {{"1", "1"},  {"5", "2"},  {"10", "3"},
                                       {"25", "4"}, {"50", "5"}, {"100", "6"}};

std::string MenuDigit(std::span<const MenuAmount> menu, const std::string& nominal) {
  for (const MenuAmount& amount : menu) {
    if (nominal == amount.nominal) return amount.digit;
  }
  return {};
}

// The wallet's balance is asked of the operator's balance service by SMS; its answers are
// collected as any reply with no sale in hand.
ReplyReading AskWalletBalance(Module& module) {
  SendSms(module.exchange, "461", "BALANCE");
  return CollectReplies(module, ReplyOptions{});
}

// How a procedure hands the sale on to the reading of the operator's replies.
enum class NextStep {
  Done,          // the procedure has ended the sale (refused it, or the module is ending)
  ListAtOnce,    // a dial or USSD exchange has waited for the answer already
  WaitThenList,  // the modem has been told what to do; wait for its new-message indication
};

// One wallet sale: its working values (the settlement result, and the last text, which
// becomes `respond` when nothing settles the sale) and its steps.
class WalletSale {
 public:
  WalletSale(Module& module, SaleInHand& in_hand)
      : module_(module), in_hand_(in_hand), sale_(in_hand.sale()) {}

  void Run();

 private:
  NextStep Dial101();
  NextStep XlTunai();
  NextStep Dial151();
  NextStep KeypadMacro();
  NextStep TransfPulsa();
  void ReadRepliesAndBalance(NextStep from);

  // One exchange. False once the module is ending (STOP, or AbortModule after a failed
  // port): the sale then takes no further step and writes nothing more.
  bool Send(const std::string& command, int timeout_seconds, const std::string& success_token,
            const std::string& error_token, std::string& reply) {
    module_.exchange.SendAT(command, timeout_seconds, success_token, error_token, reply);
    return !ModuleStopping(module_);
  }
  // Logs a dial or USSD answer with its code in the sender's place and settles it.
  void LogAndSettle(const std::string& code, const std::string& text);

  Module& module_;
  SaleInHand& in_hand_;
  const Sale& sale_;
  Settlement result_ = Settlement::NotSettled;
  std::string last_text_;
};

void WalletSale::Run() {
  in_hand_.Begin(sale_row::Spacing::OneSpace);
  const std::string& method = module_.form.cmethod;
  NextStep next;
  if (method == "DIAL101") {
    next = Dial101();
  } else if (method == "DIALXLTUNAI") {
    next = XlTunai();
  } else if (method == "DIAL151") {
    next = Dial151();
  } else if (module_.modem.family == ModemFamily::Siemens) {
    next = KeypadMacro();
  } else {
    next = TransfPulsa();
  }
  if (next == NextStep::Done || ModuleStopping(module_)) return;
  ReadRepliesAndBalance(next);
}

NextStep WalletSale::Dial101() {
  const std::string& suffix = module_.modem.dial_suffix;
  const int waiting = WaitingTime(module_);
  std::string reply;
  if (!in_hand_.Cross()) return NextStep::Done;
  // The operator answers by SMS: only its indication ("CMT") or the waiting time ends the
  // dial, whatever the USSD answer says.
  if (!Send("ATD" + Dial101Code(sale_.nominal, sale_.barcode, sale_.pin) + suffix + "\r", waiting,
            "CMT", "xxxx", reply)) {
    return NextStep::Done;
  }
  // The answer becomes `respond` when no message settles the sale; a "+CUSD:" line quotes
  // its text, so it is cleaned as every dial answer this module stores.
  last_text_ = CleanReply(reply);
  std::string ignored;
  if (!Send("AT+CUSD=2" + suffix + "\r", waiting, "OK\r\n", "ERROR", ignored)) {
    return NextStep::Done;
  }
  return NextStep::ListAtOnce;
}

NextStep WalletSale::XlTunai() {
  const std::string code = XlTunaiCode(sale_.nominal, sale_.barcode, sale_.pin);
  if (code.empty()) {
    in_hand_.DenomRefused();
    return NextStep::Done;
  }
  std::string reply;
  if (!in_hand_.Cross()) return NextStep::Done;
  if (!Send("ATD" + code + module_.modem.dial_suffix + "\r", WaitingTime(module_), "PIN", "xxxx",
            reply)) {
    return NextStep::Done;
  }
  module_.form.SetMsaldo(reply);
  last_text_ = ReplaceAll(ReplaceAll(reply, "\"", ""), "'", "");
  LogAndSettle(code, last_text_);
  return NextStep::ListAtOnce;
}

NextStep WalletSale::Dial151() {
  const std::string code = Dial151Code(sale_.nominal, sale_.barcode);
  const int waiting = WaitingTime(module_);
  std::string ignored;
  // The USSD request is the point of no return: from it on, the operator may act on the sale.
  if (!in_hand_.Cross()) return NextStep::Done;
  for (int attempt = 1; attempt <= 2; ++attempt) {
    std::string reply;
    if (!Send("AT+CUSD=1," + code + "\r", waiting, "PIN", "xxxx", reply)) return NextStep::Done;
    const size_t prompt = PinPromptPosition(reply);
    module_.form.SetMsaldo(reply + "->" + std::to_string(prompt));
    if (prompt != 0) {
      std::string answer;
      if (!Send("AT+CUSD=1," + sale_.pin + "\r", waiting, ",15", "xxxx", answer)) {
        return NextStep::Done;
      }
      answer = SqlSafe(answer);
      module_.form.SetMsaldo(answer);
      // "ke " and the destination give the settlement rules a number to find.
      last_text_ = "ke " + sale_.barcode + ":" + answer;
      if (!Send("AT+CUSD=2\r", waiting, attempt == 1 ? "+CUSD" : "+CUSD:", "ERROR", ignored)) {
        return NextStep::Done;
      }
      LogAndSettle(code, last_text_);
      return NextStep::ListAtOnce;
    }
    // No PIN prompt: the dialogue is closed and the modem's toolkit, echo and USSD
    // presentation are set anew before the next try.
    if (!Send("AT+CUSD=2\r", waiting, "+CUSD:", "ERROR", ignored) ||
        !Send("AT+CFUN=1;\r", 15, "STIN: 0", "ERROR", ignored) ||
        !Send("ATE0\r", 20, "OK\r\n", "ERROR", ignored) ||
        !Send("AT+CUSD=1\r", 5, "OK\r\n", "ERROR", ignored)) {
      return NextStep::Done;
    }
    if (attempt == 2) {
      // A text the "GAGAL" rules can match.
      last_text_ = "gagal try2x ke " + sale_.barcode + ":" + SqlSafe(reply);
      LogAndSettle(code, last_text_);
    }
  }
  return NextStep::ListAtOnce;
}

NextStep WalletSale::KeypadMacro() {
  // Unlike a host's macro, every piece is pressed, an empty one too (as an empty key string),
  // each followed by its pause.
  const std::string macro = FillMacroWords(ProductMacro(module_.db, sale_.idproduk), sale_);
  if (const std::string fault = KeyStringFault(macro); !fault.empty()) {
    in_hand_.Refuse("macro produk " + fault);
    return NextStep::Done;
  }
  if (!in_hand_.Cross()) return NextStep::Done;
  RunMacro(module_, macro, EmptyKeyPieces::Press);
  return NextStep::WaitThenList;
}

NextStep WalletSale::TransfPulsa() {
  // A completed walk has made the SIM send its request; a missing item has written its
  // respond (a missing menu has ended the module too), and five failed attempts end it.
  if (WalkStkSale(module_, WalletSaleWalk(sale_), in_hand_).outcome !=
      StkWalkOutcome::Completed) {
    return NextStep::Done;
  }
  return NextStep::WaitThenList;
}

void WalletSale::LogAndSettle(const std::string& code, const std::string& text) {
  LogExchange(module_, code, text);
  KeepFirst(result_, in_hand_.Settle(text));
}

void WalletSale::ReadRepliesAndBalance(NextStep from) {
  ReplyOptions replies;
  replies.in_hand = &in_hand_;
  replies.cleaning = TextCleaning::WithoutQuotes;
  replies.log_failure = LogFailure::ShowAndGoOn;
  replies.listing_failure = ListingFailure::ShowAndGoOn;
  replies.wait = from == NextStep::ListAtOnce ? NewMessageWait::Skip : NewMessageWait::Wait;
  const ReplyReading reading = CollectReplies(module_, replies);
  if (ModuleStopping(module_)) return;
  KeepFirst(result_, reading.result);
  if (reading.messages > 0) last_text_ = reading.last_text;

  if (result_ == Settlement::NotSettled) in_hand_.Pending(last_text_);
  if (result_ == Settlement::Succeeded) {
    module_.form.SetMsaldo("");
    return;
  }
  const ReplyReading balance = AskWalletBalance(module_);
  if (ModuleStopping(module_)) return;
  module_.form.SetMsaldo(balance.last_text);
  if (!balance.last_text.empty())
    module_.form.Log(LogPriority::Notice, "Saldo: " + balance.last_text);
}

class DompetChannel : public Channel {
 public:
  SaleKind KindOf(const std::string&) const override { return SaleKind::Wallet(); }

  void RunSale(Module& module, SaleInHand& in_hand) override { WalletSale(module, in_hand).Run(); }

  void RequestBalance(Module& module, const HostBalance&) override { AskWalletBalance(module); }
};

}  // namespace

std::string Dial101Code(const std::string& nominal, const std::string& destination,
                        const std::string& pin) {
  return "*101*" + nominal + "*" + destination + "*" + pin + "#";
}

std::string XlTunaiCode(const std::string& nominal, const std::string& destination,
                        const std::string& pin) {
  const std::string digit = MenuDigit(kXlTunaiMenu, nominal);
  if (digit.empty()) return {};
  return "*123*120*2*2*" + destination + "*" + digit + "*1*" + pin + "*1#";
}

std::string Dial151Code(const std::string& nominal, const std::string& destination) {
  const std::string digit = MenuDigit(kDial151Menu, nominal);
  if (digit.empty()) return "*151*1*1*3";
  return "*151*1*1*3*" + digit + "*" + destination + "*1#";
}

size_t PinPromptPosition(const std::string& reply) {
  const size_t found = UpperAscii(reply).find("KAN PIN");
  return found == std::string::npos ? 0 : found + 1;
}

StkSaleWalk WalletSaleWalk(const Sale& sale) {
  StkSaleWalk walk;
  walk.timeout_seconds = 3;
  walk.main_item_name = "TRANSF PULSA";
  walk.destination = sale.barcode;
  walk.destination_list_item = "1";
  walk.item_names = {sale.nominal + "k"};
  walk.item_test = ItemNumberTest::None;
  walk.after_choice = {
      {"AT+STGI=1\r", "OK\r\n"},   {"AT+STGR=1\r", "STIN"},   {"AT+STGI=3\r", "OK\r\n"},
      {"AT+STGR=3,1\r", ">"},
      {sale.pin + "\x1A", "STIN", StkReplyUse::Ignored, StkCrossing::PointOfNoReturn},
      {"AT+STGI=1\r", "OK\r\n"},  {"AT+STGR=1\r", "+STIN: 9"},
  };
  walk.poll_error_token = "xxxx";
  walk.attempts = 5;
  return walk;
}

std::unique_ptr<Channel> MakeDompetChannel() { return std::make_unique<DompetChannel>(); }

}  // namespace tovalink
