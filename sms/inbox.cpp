#include "sms/inbox.h"

#include <array>
#include <charconv>
#include <exception>

#include "sms/pdu_decode.h"
#include "sms/text_file.h"
#include "store/text.h"

namespace tovalink {
namespace {

// An entry of a listing while ReadInbox works on it.
struct Entry {
  ReceivedMessage message;
  std::vector<int> header_values;
  int header_count = 0;
};

bool IsHeaderLine(const std::vector<std::string>& lines, size_t k) {
  const std::string& line = lines[k];
  if (line.find("+CMT") == std::string::npos && line.find("+CMGL:") == std::string::npos) {
    return false;
  }
  return k + 1 < lines.size() && lines[k + 1].find('+') == std::string::npos;
}

// The part's place among its message's parts: the first two header values read as one
// number ("3" and "32" give 332), the header's way of carrying the sequence number.
long PartValue(const std::vector<int>& values) {
  return std::stol(std::to_string(values.at(0)) + ZeroPad(values.at(1), 2));
}

// What names the message a part belongs to: its sender and the header values after the
// first two (reference, total and the header's fixed octets). The reference is only the
// sender's own, so two senders may use the same one; and the values are kept apart by a
// separator, since run together the digits of different values can read alike (2 and 40,
// 24 and 0). Either way two messages' parts would be mixed into one text.
std::string GroupKey(const Entry& entry) {
  std::string key = entry.message.sender;
  for (size_t k = 2; k < entry.header_values.size(); ++k) {
    key += "," + std::to_string(entry.header_values[k]);
  }
  return key;
}

// The slot of a part: its place among the parts of its message, from 0.
//
// The header values of the usual concatenation header (8-bit reference, found by DecodePdu
// as seven septets ending 12, 0, 5) carry the part's sequence number as the first value times
// 4 plus the second value's two high bits; the part then goes to the slot of its sequence.
// Counting the part value in steps instead gives the same slots for messages of up to seven
// parts, but lets two parts of a longer message share a slot (parts 3 and 4 of an eight-part
// message both count as slot 3), and one of them would be lost. Other headers are counted in
// steps of `step`, starting at one step. A result below 0 or above 30 lies outside the table.
long SlotOf(const std::vector<int>& values, long step) {
  if (values.size() == 7 && values[4] == 12 && values[5] == 0 && values[6] == 5) {
    return values[0] * 4L + (values[1] >> 5) - 1;
  }
  const long part_value = PartValue(values);
  if (part_value <= step) return 0;
  return (part_value + step - 1) / step - 1;
}

constexpr long kSlotCount = 31;

void RecordDiagnostic(Clock& clock, const std::string& message) {
  AppendFileText(kDiagnosticFile, clock.Time() + " Receive Err:" + message + "\r\n");
}

std::string BeyondSlotsMessage(const Entry& entry) {
  return "part at index " + std::to_string(entry.message.index) +
         " lies beyond the slot table; kept as its own message";
}

// Gives each first-listed part of a multi-part message the texts of all its listed parts in
// part order, and empties the parts joined into it. Any comparison with a later entry clears
// `incomplete`.
void JoinParts(std::vector<Entry>& entries, bool& incomplete, Clock& clock) {
  std::array<std::string, kSlotCount> slots;
  for (size_t i = 0; i < entries.size(); ++i) {
    Entry& base = entries[i];
    if (IsOperatorNotice(base.message.sender) || base.header_count <= 2) continue;
    const long step = base.header_values.back() == 5 ? 32 : 64;
    const std::string key = GroupKey(base);
    const long slot = SlotOf(base.header_values, step);
    if (slot < 0 || slot >= kSlotCount) {
      // A part numbered beyond what the slot table holds cannot be put in order; it is kept
      // as its own message, with its own text, rather than written past the table.
      RecordDiagnostic(clock, BeyondSlotsMessage(base));
      continue;
    }
    // Every slot is emptied for each message, so that no text of an earlier message can
    // fill a gap in this one.
    slots.fill(std::string());
    slots[static_cast<size_t>(slot)] = base.message.text;
    long highest = slot;

    for (size_t j = i + 1; j < entries.size(); ++j) {
      incomplete = false;
      Entry& later = entries[j];
      if (later.header_count < 2) continue;
      if (GroupKey(later) != key) continue;
      const long later_slot = SlotOf(later.header_values, step);
      if (later_slot < 0 || later_slot >= kSlotCount) {
        // As above: kept as its own message.
        RecordDiagnostic(clock, BeyondSlotsMessage(later));
        continue;
      }
      slots[static_cast<size_t>(later_slot)] = later.message.text;
      if (later_slot > highest) highest = later_slot;
      later.message.text.clear();
      later.header_count = 0;
    }

    std::string joined;
    for (long s = 0; s <= highest; ++s) joined += slots[static_cast<size_t>(s)];
    base.message.text = joined;
  }
}

}  // namespace

std::string ZeroPad(int number, int width) {
  std::string text = std::to_string(number);
  if (static_cast<int>(text.size()) < width) {
    text.insert(0, static_cast<size_t>(width) - text.size(), '0');
  }
  return text;
}

bool IsOperatorNotice(std::string_view sender) { return sender.starts_with("62962"); }

bool ReadWholeNumber(const std::string& text, int& value) {
  size_t at = 0;
  while (at < text.size() && text[at] == ' ') ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  if (at == text.size()) return false;
  long long magnitude = 0;
  for (; at < text.size(); ++at) {
    if (text[at] < '0' || text[at] > '9') return false;
    magnitude = magnitude * 10 + (text[at] - '0');
    if (magnitude > 2147483648LL) return false;
  }
  const long long signed_value = negative ? -magnitude : magnitude;
  if (signed_value > 2147483647LL) return false;
  value = static_cast<int>(signed_value);
  return true;
}

std::vector<ReceivedMessage> ReadInbox(const std::string& listing, Clock& clock) {
  // Cut at CR: with CR LF line ends every line after the first begins with the LF that
  // DecodePdu expects in front of the PDU.
  const std::vector<std::string> lines = SplitText(listing, "\r");
  std::vector<Entry> entries;
  bool last_multipart = false;
  // Kept across messages on purpose: a UCS2 message leaves the multi-part flag as the
  // message before it set it.
  DecodedPdu decoded;

  for (size_t k = 0; k < lines.size(); ++k) {
    try {
      if (!IsHeaderLine(lines, k)) continue;
      decoded.index.clear();
      decoded.sender.clear();
      decoded.text.clear();
      DecodePdu(lines[k], lines[k + 1], decoded);
      last_multipart = decoded.multipart;
      int index = 0;
      if (!ReadWholeNumber(decoded.index, index)) continue;
      entries.push_back(Entry{ReceivedMessage{index, decoded.sender, decoded.text},
                              decoded.header_values, decoded.header_count});
    } catch (const std::exception&) {
      // A line that cannot be read is left out; the listing goes on.
    }
  }

  bool incomplete = last_multipart;
  try {
    JoinParts(entries, incomplete, clock);
  } catch (const std::exception& failure) {
    RecordDiagnostic(clock, failure.what());
  }

  std::vector<ReceivedMessage> messages;
  if (incomplete) return messages;
  messages.reserve(entries.size());
  for (Entry& entry : entries) messages.push_back(std::move(entry.message));
  return messages;
}

std::vector<ReceivedMessage> ReadInboxCdma(const std::string& listing) {
  std::string text = ReplaceAll(listing, "\r\nOK", "");
  for (int round = 0; round < 5; ++round) text = ReplaceAll(text, "\r\n\r\n", "\r\n");

  const auto read_hex = [](const std::string& digits) {
    int value = 0;
    for (const char c : digits) {
      if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return 0;
      value = value * 16 + (c <= '9' ? c - '0' : c - 'A' + 10);
    }
    return value;
  };
  const auto piece_of = [](const std::string& from, size_t position, size_t count) {
    return position < from.size() ? from.substr(position, count) : std::string();
  };

  std::vector<ReceivedMessage> messages;
  const std::vector<std::string> pieces = SplitText(text, "+CMGL:");
  for (size_t p = 1; p < pieces.size(); ++p) {
    if (pieces[p].empty()) continue;
    const std::vector<std::string> lines = SplitText(pieces[p], "\r\n");
    if (lines.empty()) continue;
    // A piece without a second line gives a message with an empty sender and text, so that
    // its index is still deleted.
    std::string second = lines.size() > 1 ? lines[1] : std::string();
    if (lines.size() > 2) second += lines[2];

    const std::vector<std::string> fields = SplitText(lines[0], ",");
    const std::string index_text = fields.empty() ? std::string() : fields[0];

    const size_t length = static_cast<size_t>(read_hex(second.substr(0, 2)));
    const std::string rest = piece_of(second, 2, std::string::npos);
    ReceivedMessage message;
    message.sender = rest.substr(0, length);
    const size_t text_length = static_cast<size_t>(read_hex(piece_of(rest, length + 14, 4)));
    std::string body = piece_of(rest, length + 18, text_length);
    body = ReplaceAll(ReplaceAll(body, "'", ""), "\"", "");
    message.text = body;
    if (ReadWholeNumber(index_text, message.index)) messages.push_back(std::move(message));
  }
  return messages;
}

}  // namespace tovalink
