// The rule tools' reading of a reply's words on any reply: the wording shape, where the
// destination, a serial number and a count stand, and the markers around them, each checked
// against what must hold (and the count against the settlement's own reading).
//
// Input fields: reply, destination (barcode), serial number to look for, the sale's count and
// a position in the reply (first bytes).

#include <algorithm>
#include <optional>
#include <string>

#include "fuzz/fuzz_support.h"
#include "settle/reply_match.h"
#include "settle/wording.h"

namespace tovalink::fuzz {
namespace {

bool Within(const std::string& text, const Span& span) {
  return span.begin <= span.end && span.end <= text.size();
}

void CheckShape(const std::string& reply) {
  const std::string shape = WordingShape(reply);
  Require(std::none_of(shape.begin(), shape.end(), IsDigit), "a shape holds no digit", shape);
  Require(shape.find("  ") == std::string::npos && (shape.empty() || shape.front() != ' ') &&
              (shape.empty() || shape.back() != ' '),
          "a shape has single spaces inside only", shape);
  Require(WordingShape(shape) == shape, "the shape of a shape is itself", shape);
}

void CheckMarkers(const std::string& reply, size_t target, const std::vector<Span>& variable) {
  for (const bool spaced_first : {true, false}) {
    for (const std::string& marker : MarkersBefore(reply, target, variable, spaced_first)) {
      Require(!marker.empty() && marker.size() <= target &&
                  reply.compare(target - marker.size(), marker.size(), marker) == 0,
              "a marker before ends at its target", marker, reply);
    }
  }
  for (const std::string& marker : MarkersAfter(reply, target)) {
    Require(reply.compare(target, marker.size(), marker) == 0, "a marker after starts at it",
            marker, reply);
    Require(std::none_of(marker.begin(), marker.end(), IsDigit), "an end marker holds no digit",
            marker);
  }
}

}  // namespace
}  // namespace tovalink::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tovalink;
  using namespace tovalink::fuzz;
  Fields fields(data, size);
  const std::string reply = fields.Next();
  const std::string barcode = fields.Next();
  const std::string sn = fields.Next();
  const int count = fields.NextSmall();
  const size_t position =
      reply.empty() ? 0 : static_cast<size_t>(fields.NextSmall()) % (reply.size() + 1);

  CheckShape(reply);

  Span destination;
  if (const std::optional<DestinationPlace> place = FindDestination(reply, barcode)) {
    Require(Within(reply, place->run) && place->run.size() > 0, "the destination is in the reply");
    Require(place->read.begin >= place->run.begin && place->read.end == place->run.end,
            "what is read ends the run");
    const std::string read = reply.substr(place->read.begin, place->read.size());
    Require(std::all_of(read.begin(), read.end(), IsDigit), "the destination is digits", read);
    Require(read == barcode || "0" + read == barcode, "it reads as the barcode", read, barcode);
    destination = place->run;
    CheckMarkers(reply, place->read.begin, {});
  }

  if (const std::optional<Span> serial = FindSerialNumber(reply, destination, "")) {
    Require(Within(reply, *serial) && !serial->Overlaps(destination),
            "a serial number is in the reply, apart from the destination");
    const std::string text = reply.substr(serial->begin, serial->size());
    Require(std::all_of(text.begin(), text.end(), [](char c) { return IsDigit(c) || c == '-'; }),
            "a serial number found is digits and dashes", text);
    Require(std::count_if(text.begin(), text.end(), IsDigit) >= 3, "of three digits at least",
            text);
    CheckMarkers(reply, serial->begin, {destination});
  }
  if (const std::optional<Span> given = FindText(reply, sn, destination)) {
    Require(Within(reply, *given) && FindFolded(reply.substr(given->begin, given->size()), sn) == 0,
            "the text given is where it was found", sn, reply);
  }
  if (const std::optional<OutcomeWords> outcome = FindOutcome(reply)) {
    Require(Within(reply, outcome->span) &&
                (outcome->tipepesan == "SUKSES" || outcome->tipepesan == "GAGAL"),
            "an outcome is a wording of the reply");
  }
  if (const std::optional<CountPlace> place = FindCount(reply, count)) {
    Require(ReplyCount(reply, place->katajumlah) == count,
            "the settlement reads the count after the marker", place->katajumlah, reply);
  }
  CheckMarkers(reply, position, {});
  return 0;
}
