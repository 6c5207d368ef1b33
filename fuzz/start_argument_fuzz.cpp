// The start argument on any text. What must hold: one piece per "#"-separated part; a piece's
// key and value hold neither "#" nor "=" and are the part's text before its first "=" and
// between its first and second "="; applying the pieces sets each known box to the value of
// the last piece with its key and leaves every other box as it was.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/startup.h"
#include "core/form.h"
#include "fuzz/fuzz_support.h"
#include "store/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tovalink;
  using fuzz::Require;
  const std::string argument(reinterpret_cast<const char*>(data), size);
  const std::vector<StartPiece> pieces = SplitStartArgument(argument);
  const std::vector<std::string> parts = SplitText(argument, "#");
  Require(pieces.size() == parts.size(), "one piece per part", argument);

  std::map<std::string, std::string> last;
  for (size_t k = 0; k < pieces.size(); ++k) {
    const StartPiece& piece = pieces[k];
    Require(piece.key.find_first_of("#=") == std::string::npos, "key", piece.key);
    Require(piece.value.find_first_of("#=") == std::string::npos, "value", piece.value);
    const bool has_value = parts[k].find('=') != std::string::npos;
    const std::string rebuilt = piece.key + (has_value ? "=" + piece.value : "");
    Require(parts[k].compare(0, rebuilt.size(), rebuilt) == 0, "the piece is read from its part",
            parts[k], rebuilt);
    Require(rebuilt.size() == parts[k].size() || parts[k][rebuilt.size()] == '=',
            "the value ends at the second =", parts[k]);
    last[piece.key] = piece.value;
  }

  Form form;
  const std::string before = "(unchanged)";
  std::string* const boxes[] = {&form.cport,   &form.cbaud,   &form.chands,
                                &form.cmodem,  &form.csumber, &form.ctipeprov,
                                &form.cmethod, &form.epin,    &form.etunggu};
  const char* const keys[] = {"comm",     "baudrate",  "handshake", "tipemodem", "namamodul",
                              "caradial", "metodetrx", "pin",       ""};
  for (std::string* box : boxes) *box = before;
  ApplyStartArgument(form, pieces);
  for (size_t b = 0; b < std::size(boxes); ++b) {
    const auto found = last.find(keys[b]);
    const bool named = keys[b][0] != '\0' && found != last.end();
    Require(*boxes[b] == (named ? found->second : before), "box", keys[b], *boxes[b]);
  }
  return 0;
}
