#pragma once
// What a text from outside (a destination number, the PIN, a supplier's format, a keypad
// macro) may carry into an AT command. A CR or LF ends a command early, so that the modem
// runs whatever follows as a command of its own; a Ctrl-Z or an ESC ends or cancels a text
// being typed; a NUL cuts the command for some modems; a double quote ends a keypad string.
// Each check returns "" when the text may go, otherwise a short reason (Indonesian, for the
// sale's respond or the operator) naming what is wrong.

#include <string>
#include <string_view>

namespace tovalink {

// The control characters no text inside a command may carry: CR, LF, Ctrl-Z, ESC, NUL.
std::string CommandTextFault(std::string_view text);

// A keypad string ("AT+CKPD=\"...\""): as CommandTextFault, and no double quote.
std::string KeyStringFault(std::string_view text);

// A destination number: digits, with a "+" allowed in front; not empty.
std::string DestinationFault(std::string_view text);

// The text with control characters shown as "\r", "\n" or "\xNN" and cut to `limit` bytes
// (with "..." after a cut), for a reason that quotes what it refused.
std::string QuotedForReason(std::string_view text, size_t limit = 32);

}  // namespace tovalink
