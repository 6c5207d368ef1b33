// FindStkItem on any toolkit reply and any menu name. What must hold: the result is the
// trimmed text before the first "," of the first "+STGI:" piece that holds the name (letter
// case of A to Z ignored), as a plain walk over the reply written here finds it; so it holds no
// "," and no blank at either end, and it is empty for an empty name.
//
// Input fields: the reply, the name.

#include <cstdint>
#include <string>

#include "engine/stk_menu.h"
#include "fuzz/fuzz_support.h"
#include "store/text.h"

namespace tovalink::fuzz {
namespace {

std::string ExpectedItem(const std::string& reply, const std::string& name) {
  const std::string marker = "+STGI:";
  size_t begin = 0;
  while (begin <= reply.size()) {
    const size_t next = reply.find(marker, begin);
    const size_t end = next == std::string::npos ? reply.size() : next;
    const std::string piece = reply.substr(begin, end - begin);
    if (FindFolded(piece, name) != std::string::npos) return Trim(piece.substr(0, piece.find(',')));
    if (next == std::string::npos) break;
    begin = next + marker.size();
  }
  return "";
}

}  // namespace
}  // namespace tovalink::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tovalink;
  using fuzz::Require;
  fuzz::Fields fields(data, size);
  const std::string reply = fields.Next();
  const std::string name = fields.Next();
  const std::string item = FindStkItem(reply, name);
  Require(item == fuzz::ExpectedItem(reply, name), "the first piece holding the name", reply, item);
  Require(item.find(',') == std::string::npos, "no comma in an item", item);
  Require(item.empty() || (!fuzz::IsBlank(item.front()) && !fuzz::IsBlank(item.back())),
          "an item is trimmed", item);
  if (name.empty()) Require(item.empty(), "an empty name finds nothing", item);
  return 0;
}
