#pragma once
// What the host-format channel and the supplier requests share: filling placeholders, sending
// a request text by a host server's method, and collecting the replies that follow.

#include <string>

#include "engine/module.h"

namespace tovalink {

// Replaces the first occurrence of `placeholder`, letters matched without regard to case.
std::string ReplaceFirstNoCase(const std::string& text, const std::string& placeholder,
                               const std::string& value);

// A keypad macro: each "~" ends a piece; every non-empty piece is pressed, and each piece,
// empty or not, is followed by a 500 ms pause.
void RunMacro(Module& module, const std::string& macro);

// Sends `text` by `method` ("SMS" to `sms_number`, "DIAL", "MENUMACRO"; letter case
// significant, anything else sends nothing). A dial is logged with its cleaned reply, which
// is returned; "" for the other methods. `sms_sent` (when given) tells whether an SMS went.
std::string SendByMethod(Module& module, const std::string& module_name, const std::string& method,
                         const std::string& text, const std::string& sms_number,
                         bool* sms_sent = nullptr);

struct Collected {
  int result = 2;            // the first settlement result other than 2
  std::string last_text;     // the text of the last message listed ("" when none)
  std::string listing;       // the raw listing
};

// Waits up to the module's waiting time for a new-message indication, lists the store, logs
// and settles every message not from a "62962" sender (with `destination` and expected count
// 1), and deletes every listed message.
Collected CollectReplies(Module& module, const std::string& module_name,
                         const std::string& destination);

}  // namespace tovalink
