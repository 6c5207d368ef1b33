#include "engine/stk_menu.h"

#include "settle/reply_text.h"
#include "sms/inbox.h"
#include "store/text.h"

namespace tovalink {

std::string FindStkItem(const std::string& reply, const std::string& name) {
  for (const std::string& piece : SplitText(reply, "+STGI:")) {
    if (Occurs(piece, name)) return Trim(piece.substr(0, piece.find(',')));
  }
  return "";
}

bool ShowsError(const std::string& reply) { return reply.find("ERROR") != std::string::npos; }

StkMenu::StkMenu(Module& module, int timeout_seconds)
    : module_(module), timeout_seconds_(timeout_seconds) {}

bool ModuleStopping(const Module& module) { return module.Ending() || module.exchange.Stopped(); }

bool StkMenu::Halted() const { return ModuleStopping(module_); }

std::string StkMenu::Send(const std::string& command, const std::string& ok_token,
                          int timeout_seconds, const std::string& error_token) {
  std::string reply;
  if (Halted()) return reply;
  module_.exchange.SendAT(command, timeout_seconds == 0 ? timeout_seconds_ : timeout_seconds,
                          ok_token, error_token, reply);
  return reply;
}

void StkMenu::Prepare() {
  for (const char* command : {"AT+CMGF=0\r", "AT+WIND=15\r", "AT+STSF=1\r"}) {
    Send(command, "OK\r\n");
  }
}

bool StkMenu::ToolkitAnswers(int64_t pause_after_restart_ms) {
  if (!ShowsError(Send("AT+STIN?\r", "OK\r\n"))) return true;
  Restart(pause_after_restart_ms);
  return false;
}

bool StkMenu::ReadMainMenu(std::string& menu, int64_t pause_after_restart_ms) {
  menu = Send("AT+STGI=0\r", "OK\r\n");
  if (!ShowsError(menu)) return true;
  module_.clock.SleepMs(500);
  menu = Send("AT+STGI=0\r", "OK\r\n", 4);
  if (!ShowsError(menu)) return true;
  Restart(pause_after_restart_ms);
  return false;
}

bool StkMenu::ChooseMainItem(const std::string& item, int retry_timeout_seconds) {
  const std::string choice = "AT+STGR=0,1," + item + "\r";
  if (!ShowsError(Send(choice, "STIN"))) return true;
  Send("AT+STGI=0\r", "OK\r\n", retry_timeout_seconds);
  return !ShowsError(Send(choice, "STIN", retry_timeout_seconds));
}

bool StkMenu::ChooseItem(const std::string& item) {
  if (ShowsError(Send("AT+STGI=6\r", "OK\r\n"))) return false;
  return !ShowsError(Send("AT+STGR=6,1," + item + "\r", "STIN"));
}

bool StkMenu::Type(const std::string& text, const std::string& ok_token) {
  if (ShowsError(Send("AT+STGI=3\r", "OK\r\n"))) return false;
  Send("AT+STGR=3,1\r", ">");
  return !ShowsError(Send(text + "\x1A", ok_token, 2));
}

void StkMenu::Restart(int64_t pause_ms) {
  Send("AT+CFUN=1;\r", "STIN: 0", 15);
  if (!Halted()) module_.clock.SleepMs(pause_ms);
}

std::string StkMenu::Poll(const std::string& stin_error_token) {
  std::string current;
  for (int pass = 0; pass < 10 && !Halted(); ++pass) {
    // The digits of "+STIN: n" stand for the pending command's type; none, and the poll ends
    // with nothing shown.
    current = DigitsOnly(Send("AT+STIN?\r", "+STIN:", 0, stin_error_token));
    if (current.empty()) break;
    current = Send("AT+STGI=" + current + "\r", "+STIN:");
    if (current.find("99") != std::string::npos) break;
  }
  return current;
}

namespace {

constexpr int64_t kPauseAfterFailedRestartMs = 2000;
constexpr int64_t kPauseAfterMissingItemMs = 1000;
constexpr int kMainChoiceRetrySeconds = 2;

enum class Attempt { Passed, Failed, MissingItem, MissingMainItem, Halted };

class SaleWalker {
 public:
  SaleWalker(Module& module, const StkSaleWalk& walk, SaleInHand& sale)
      : module_(module), walk_(walk), sale_(sale), menu_(module, walk.timeout_seconds) {}

  StkWalkResult Run() {
    for (int attempt = 0; attempt < walk_.attempts; ++attempt) {
      if (menu_.Halted()) return Ended(StkWalkOutcome::Halted);
      result_.screen.clear();
      result_.current_text.clear();
      switch (Try()) {
        case Attempt::Passed:
          return Ended(StkWalkOutcome::Completed);
        case Attempt::MissingItem:
          return Ended(StkWalkOutcome::MissingItem);
        case Attempt::MissingMainItem:
          return Ended(StkWalkOutcome::MissingMainItem);
        case Attempt::Halted:
          return Ended(StkWalkOutcome::Halted);
        case Attempt::Failed:
          break;
      }
    }
    if (menu_.Halted()) return Ended(StkWalkOutcome::Halted);
    module_.abort_module("Error Koneksi Modem", module_.port);
    return Ended(StkWalkOutcome::ConnectionLost);
  }

 private:
  StkWalkResult Ended(StkWalkOutcome outcome) {
    result_.outcome = outcome;
    return result_;
  }

  // A step that failed because the module is ending is no failure of the toolkit.
  Attempt Failed() const { return menu_.Halted() ? Attempt::Halted : Attempt::Failed; }

  Attempt Try() {
    menu_.Prepare();
    if (!menu_.ToolkitAnswers(kPauseAfterFailedRestartMs)) return Failed();
    std::string main_menu;
    if (!menu_.ReadMainMenu(main_menu, kPauseAfterFailedRestartMs)) return Failed();
    if (menu_.Halted()) return Attempt::Halted;

    if (walk_.main_item_name.empty()) {
      // The operator's M-TRONIK menu sits either in the main menu's first item or, on SIM
      // cards whose main menu names it, one level further down.
      const bool sub_menu = UpperAscii(main_menu).find("M-TRONIK") != std::string::npos;
      if (!menu_.ChooseMainItem("1", kMainChoiceRetrySeconds)) return Failed();
      if (sub_menu && !menu_.ChooseItem("1")) return Failed();
    } else {
      const std::string item = FindStkItem(main_menu, walk_.main_item_name);
      if (item.empty()) {
        WriteMissing(walk_.main_item_name);
        module_.abort_module("Tidak ada Menu " + walk_.main_item_name, module_.port);
        return Attempt::MissingMainItem;
      }
      if (!menu_.ChooseMainItem(item, kMainChoiceRetrySeconds)) return Failed();
    }

    module_.clock.SleepMs(100);
    if (!menu_.Type(walk_.destination, "+STIN: 6")) return Failed();
    if (!menu_.ChooseItem(walk_.destination_list_item)) return Failed();
    if (walk_.amount && !menu_.Type(*walk_.amount, "+STIN: 6")) return Failed();

    const std::string items = menu_.Send("AT+STGI=6\r", "OK\r\n");
    if (menu_.Halted()) return Attempt::Halted;
    std::string item;
    for (const std::string& name : walk_.item_names) {
      result_.item_name = name;
      item = FindStkItem(items, name);
      int number = 0;
      if (walk_.item_test == ItemNumberTest::WholeNumber && !ReadWholeNumber(item, number)) {
        item.clear();
      }
      if (!item.empty()) break;
    }
    if (item.empty()) {
      menu_.Restart(kPauseAfterMissingItemMs);
      if (menu_.Halted()) return Attempt::Halted;
      WriteMissing(result_.item_name);
      return Attempt::MissingItem;
    }

    menu_.Send("AT+STGR=6,1," + item + "\r", "STIN");
    for (const StkCommand& command : walk_.after_choice) {
      if (command.crossing == StkCrossing::PointOfNoReturn && !sale_.Cross()) {
        return Attempt::Halted;
      }
      const std::string reply = menu_.Send(command.text, command.ok_token);
      if (command.use == StkReplyUse::Screen) result_.screen += "~" + reply;
    }
    result_.current_text = menu_.Poll(walk_.poll_error_token);
    return menu_.Halted() ? Attempt::Halted : Attempt::Passed;
  }

  // The sale is left for the operator, its status unchanged.
  void WriteMissing(const std::string& name) { sale_.MenuMissing(name); }

  Module& module_;
  const StkSaleWalk& walk_;
  SaleInHand& sale_;
  StkMenu menu_;
  StkWalkResult result_;
};

}  // namespace

StkWalkResult WalkStkSale(Module& module, const StkSaleWalk& walk, SaleInHand& sale) {
  return SaleWalker(module, walk, sale).Run();
}

}  // namespace tovalink
