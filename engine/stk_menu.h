#pragma once
// The SIM card's toolkit menu on a WAVECOM-style modem, walked unattended: the toolkit's
// commands (AT+STIN?, AT+STGI, AT+STGR, AT+CFUN=1) with their tokens, timeouts and recovery;
// the search of a menu item by its name; and the walk that sells through a SIM menu, which the
// M-TRONIK and the wallet channels share, each with its own StkSaleWalk.
//
// A toolkit reply is whatever SendAT collected after the command; it shows an error when it
// contains "ERROR". A command that times out yields what had arrived by then, and the tests
// apply to that text. A walk never sends or writes anything once the module is ending (STOP,
// AbortModule): it returns at the next command.
//
// Threads: the worker thread only, with the modem to itself.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/module.h"
#include "engine/sale_in_hand.h"

namespace tovalink {

// The number of the first item whose line holds `name` (letters A to Z matched without regard
// to case): the reply is cut at every "+STGI:", the first piece that holds the name is cut at
// its first ",", and the text before it, trimmed of spaces and control characters, is the
// result. Empty when no piece holds the name (an empty name holds nowhere). A menu whose title
// holds the name gives the title line's "0".
std::string FindStkItem(const std::string& reply, const std::string& name);

// True when a toolkit reply shows an error.
bool ShowsError(const std::string& reply);

// True once the module is ending (STOP, AbortModule) or stopped: a walk then sends nothing
// more and writes nothing.
bool ModuleStopping(const Module& module);

// The toolkit commands of one walk. Every command waits for its own ok token or "ERROR", with
// the walk's timeout unless a timeout of its own is given.
class StkMenu {
 public:
  // `timeout_seconds`: of every command that has no timeout of its own.
  StkMenu(Module& module, int timeout_seconds);

  // True once the module is ending: nothing more is sent, and every command returns "".
  bool Halted() const;

  // One command and its reply; `timeout_seconds` 0 takes the walk's.
  std::string Send(const std::string& command, const std::string& ok_token, int timeout_seconds = 0,
                   const std::string& error_token = "ERROR");

  // "AT+CMGF=0", "AT+WIND=15" and "AT+STSF=1"; their replies are not tested.
  void Prepare();
  // "AT+STIN?". An error restarts the toolkit, pauses `pause_after_restart_ms` and gives false.
  bool ToolkitAnswers(int64_t pause_after_restart_ms);
  // "AT+STGI=0", the main menu, into `menu`. An error is tried once more after 500 ms with 4 s;
  // a second error restarts the toolkit, pauses and gives false.
  bool ReadMainMenu(std::string& menu, int64_t pause_after_restart_ms);
  // "AT+STGR=0,1,<item>" awaiting "STIN". An error reads the main menu again and repeats the
  // choice, both with `retry_timeout_seconds`; false when that is an error too.
  bool ChooseMainItem(const std::string& item, int retry_timeout_seconds);
  // "AT+STGI=6" then "AT+STGR=6,1,<item>" awaiting "STIN"; false at the first error.
  bool ChooseItem(const std::string& item);
  // "AT+STGI=3" (false on an error), "AT+STGR=3,1" awaiting "> " (not tested), then `text` and
  // Ctrl-Z with 2 s awaiting `ok_token` (false on an error).
  bool Type(const std::string& text, const std::string& ok_token);
  // "AT+CFUN=1;" (15 s, awaiting "STIN: 0"), then a pause.
  void Restart(int64_t pause_ms);
  // The toolkit poll, at most 10 passes: "AT+STIN?" awaiting "+STIN:" (its error token is
  // `stin_error_token`, which the toolkit never sends, so only the token or the time ends it);
  // with no digit in its reply the poll ends, otherwise "AT+STGI=<digits>" awaiting "+STIN:"
  // gives the current text, and a current text holding "99" (the session's end) ends it.
  // Returns the current text: "" when the last pass found no digit.
  std::string Poll(const std::string& stin_error_token);

 private:
  Module& module_;
  int timeout_seconds_;
};

// How a reply of a command after the item choice is used.
enum class StkReplyUse {
  Ignored,
  Screen,  // the screen shown after the PIN: kept, after a "~", for the sale's respond
};

// Whether a command is the sale's point of no return: the PIN typed into the toolkit, after
// which the operator may execute the sale. The walk crosses it (SaleInHand::Cross) before
// the command goes, and sends nothing more when the crossing is refused.
enum class StkCrossing { No, PointOfNoReturn };

// A command sent after the item choice. Its reply is not tested: a toolkit that answers it
// with "ERROR" goes on to the next.
struct StkCommand {
  std::string text;
  std::string ok_token;
  StkReplyUse use = StkReplyUse::Ignored;
  StkCrossing crossing = StkCrossing::No;
};

// Whether an item number found by name must read as a whole number to count.
enum class ItemNumberTest { None, WholeNumber };

// One sale through the SIM menu. Every attempt runs:
//   Prepare; ToolkitAnswers; ReadMainMenu (both pausing 2000 ms after a restart);
//   the main item: item 1, and item 1 of the "M-TRONIK" sub-menu when the main menu shows one
//     (`main_item_name` empty), or the item of that name (no number test; a menu without it
//     writes "MENU <name> tidak ADA " as the sale's respond and ends the module with
//     "Tidak ada Menu <name>"); chosen with a 2 s retry;
//   100 ms; Type(destination, "+STIN: 6"); ChooseItem(`destination_list_item`);
//   Type(amount, "+STIN: 6") when there is an amount entry;
//   "AT+STGI=6" (the list of items, not tested) and the item choice by `item_names`, the next
//     name tried while none is found. None found: the toolkit is restarted, 1000 ms pass, the
//     sale's respond becomes "MENU <the last name> tidak ADA " and the walk ends: no further
//     attempt, no status change;
//   "AT+STGR=6,1,<item>" awaiting "STIN", then `after_choice`, none of them tested (the one
//     marked as the point of no return crossed first);
//   the toolkit poll.
// A failing step ends the attempt; the next starts from Prepare. After `attempts` failed ones
// the module is ended with "Error Koneksi Modem".
struct StkSaleWalk {
  int timeout_seconds = 10;
  std::string main_item_name;
  std::string destination;
  std::string destination_list_item = "6";
  std::optional<std::string> amount;
  std::vector<std::string> item_names;
  ItemNumberTest item_test = ItemNumberTest::WholeNumber;
  std::vector<StkCommand> after_choice;
  std::string poll_error_token = "xxxx";
  int attempts = 5;
};

enum class StkWalkOutcome {
  Completed,        // the attempt went through: the sale goes on to the reading of replies
  MissingItem,      // no item of the names; the respond says so and the sale ends here
  MissingMainItem,  // the main menu lacks `main_item_name`; the module was ended
  ConnectionLost,   // every attempt failed; the module was ended
  Halted,           // the module is ending: nothing more was sent or written
};

struct StkWalkResult {
  StkWalkOutcome outcome = StkWalkOutcome::Halted;
  std::string screen;        // "~" and each Screen reply of the completed attempt
  std::string current_text;  // the toolkit poll's, of the completed attempt
  std::string item_name;     // the item name searched last
};

// `sale`: the sale in hand, whose respond a missing item is written into and whose point of no
// return the walk crosses.
StkWalkResult WalkStkSale(Module& module, const StkSaleWalk& walk, SaleInHand& sale);

}  // namespace tovalink
