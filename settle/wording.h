#pragma once
// Reading a reply's wording for the rule tools (--unmatched, --suggest-rule): the shape that
// groups replies which differ only in their numbers, where the destination, the serial number
// and a count stand, the outcome the words say, and the words around them from which a
// `settinggetsn` rule is written.
//
// Pure functions over single-byte (Windows-1252) texts; any thread may call them. Letters are
// A to Z, a to z and the bytes from 0xC0 up (the accented letters); digits 0 to 9; every other
// byte separates words.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovalink {

// A part of a text: the bytes [begin, end).
struct Span {
  size_t begin = 0;
  size_t end = 0;
  size_t size() const { return end - begin; }
  bool Overlaps(const Span& other) const { return begin < other.end && other.begin < end; }
};

// The reply with each number replaced by "#" and each run of spaces and control characters
// made one space, trimmed. A number is a word that holds a digit (an amount, a destination, a
// serial number, a product code such as "V10"), together with the separators ". , : -" that
// join it to the next such word ("1.240.000", "10:15:02", "1234-5678-90").
std::string WordingShape(std::string_view reply);

// One unit of a reply's words: a word of letters and digits, or a number in several parts
// joined by single separators ("10.000", "1234-5678-90", "2026-01-05").
struct Unit {
  Span span;
  bool digits_only = false;        // no letter: a number
  std::string separators;          // the separators inside a number, in order ("" for one part)
  std::vector<size_t> part_sizes;  // the sizes of its digit runs
};

std::vector<Unit> Units(std::string_view text);

// The digits of a number unit without its separators ("1.240.000" -> "1240000").
std::string UnitDigits(std::string_view text, const Unit& unit);

// Where the destination `barcode` stands in the reply, in the form the settlement reads it:
// the run of digits written as the barcode, or without its leading "0", or with "62" in the
// place of that "0" (then `read` starts after the "62", which belongs to the marker). The
// first such run.
struct DestinationPlace {
  Span run;   // the whole run of digits
  Span read;  // what a marker just before it makes the settlement read
};
std::optional<DestinationPlace> FindDestination(std::string_view reply, std::string_view barcode);

// The serial number a reply carries: the longest number (a unit of digits; parts joined by
// "-" belong to it) of at least 3 digits that is not the destination, an amount (a number
// with thousands separators, after "Rp" or "IDR", or the product's denomination
// `denomination`), a date or a time, nor a part of a word with letters. Among numbers of one
// length, the first after an "SN", "Ref" or similar word, else the first.
std::optional<Span> FindSerialNumber(std::string_view reply, const Span& destination,
                                     std::string_view denomination);

// The first occurrence of `text` in the reply (letter case of A to Z ignored) that does not
// overlap `avoid`.
std::optional<Span> FindText(std::string_view reply, std::string_view text, const Span& avoid);

// The outcome a reply's words say: the first failure wording ("GAGAL", "failed",
// "unsuccessful", "ditolak", ...) or, when there is none, the first success wording
// ("BERHASIL", "SUKSES", "successful", ...), as whole words.
struct OutcomeWords {
  std::string tipepesan;  // "SUKSES" or "GAGAL"
  Span span;
};
std::optional<OutcomeWords> FindOutcome(std::string_view reply);
// The first wording of one outcome ("SUKSES" or "GAGAL") in the reply.
std::optional<Span> FindOutcomeWords(std::string_view reply, std::string_view tipepesan);

// The failure wordings that hold a success wording ("tidak berhasil", "unsuccessful"): a
// success rule's wording that stands in one of them would catch such failure replies too.
const std::vector<std::string>& FailureWordingsWithSuccessWords();

// A count after a count word ("Jumlah 2", "Qty: 2"): the marker that makes the settlement read
// `count` there (the byte after the marker is skipped, then the digits are read), and where
// the digits stand. Nothing when the reply has no count word followed by that count.
struct CountPlace {
  std::string katajumlah;
  Span digits;
};
std::optional<CountPlace> FindCount(std::string_view reply, long long count);

// The texts that could stand just before `target` as a marker: starting at the beginning of
// the last word before it, then of the word before that (at most four words back), each also
// with the space before it. Words in `variable` (numbers that change from reply to reply) end
// the search: a marker must not hold them. An opening bracket glued to the target comes first.
// `leading_space_first`: the variant with the space before comes before the one without.
std::vector<std::string> MarkersBefore(std::string_view reply, size_t target,
                                       const std::vector<Span>& variable, bool leading_space_first);

// The texts that could stand just after `end` as an end marker: growing by one byte over the
// separators after it, then to the end of each of the next two words; none holds a digit.
std::vector<std::string> MarkersAfter(std::string_view reply, size_t end);

// Whether a word counts as a product's name ("Pulsa", "Paket", "Voucher", "Token", ...).
bool IsProductWord(std::string_view word);

}  // namespace tovalink
