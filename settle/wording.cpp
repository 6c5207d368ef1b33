#include "settle/wording.h"

#include <algorithm>
#include <array>

#include "settle/reply_match.h"
#include "settle/reply_text.h"
#include "store/text.h"

namespace tovalink {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsLetter(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (byte >= 0xC0 && byte != 0xD7 && byte != 0xF7);
}

bool IsAlnum(char c) { return IsDigit(c) || IsLetter(c); }

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

bool IsJoiner(char c) { return c == '.' || c == ',' || c == ':' || c == '-'; }

// The maximal runs of letters and digits.
std::vector<Span> Words(std::string_view text) {
  std::vector<Span> words;
  size_t i = 0;
  while (i < text.size()) {
    if (!IsAlnum(text[i])) {
      ++i;
      continue;
    }
    const size_t begin = i;
    while (i < text.size() && IsAlnum(text[i])) ++i;
    words.push_back({begin, i});
  }
  return words;
}

bool HasDigit(std::string_view text) { return std::any_of(text.begin(), text.end(), IsDigit); }
bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), IsDigit);
}

std::string_view Of(std::string_view text, const Span& span) {
  return text.substr(span.begin, span.size());
}

// Whether `phrase` stands at `position` as whole words (no letter or digit glued on either
// side).
bool WholeWordsAt(std::string_view text, size_t position, size_t size) {
  const bool before = position == 0 || !IsAlnum(text[position - 1]);
  const bool after = position + size >= text.size() || !IsAlnum(text[position + size]);
  return before && after;
}

// The first occurrence of `phrase` as whole words, letter case ignored.
std::optional<size_t> FindWords(std::string_view text, std::string_view phrase) {
  const std::string upper = UpperAscii(text);
  const std::string wanted = UpperAscii(phrase);
  for (size_t at = upper.find(wanted); at != std::string::npos; at = upper.find(wanted, at + 1)) {
    if (WholeWordsAt(text, at, wanted.size())) return at;
  }
  return std::nullopt;
}

bool SameWord(std::string_view a, std::string_view b) { return UpperAscii(a) == UpperAscii(b); }

int Number(std::string_view digits) {
  int value = 0;
  for (const char c : digits.substr(0, 6)) value = value * 10 + (c - '0');
  return value;
}

bool IsDay(int d) { return d >= 1 && d <= 31; }
bool IsMonth(int m) { return m >= 1 && m <= 12; }

// Three parts that read as a date: year-month-day or day-month-year (a year of 2 or 4 digits).
bool IsDate(const std::array<std::string_view, 3>& part) {
  const auto size = [&](int i) { return part[static_cast<size_t>(i)].size(); };
  const auto value = [&](int i) { return Number(part[static_cast<size_t>(i)]); };
  if (size(0) == 4 && size(1) <= 2 && size(2) <= 2) return IsMonth(value(1)) && IsDay(value(2));
  if (size(0) <= 2 && size(1) <= 2 && (size(2) == 2 || size(2) == 4)) {
    return IsDay(value(0)) && IsMonth(value(1));
  }
  return false;
}

// The digit runs of a number unit.
std::array<std::string_view, 3> FirstThreeParts(std::string_view text, const Unit& unit) {
  std::array<std::string_view, 3> parts{};
  size_t at = unit.span.begin;
  for (size_t i = 0; i < unit.part_sizes.size() && i < 3; ++i) {
    parts[i] = text.substr(at, unit.part_sizes[i]);
    at += unit.part_sizes[i] + 1;
  }
  return parts;
}

bool IsThousands(const Unit& unit) {
  if (unit.part_sizes.size() < 2 || unit.part_sizes[0] > 3) return false;
  if (unit.separators.find_first_not_of(".,") != std::string::npos) return false;
  return std::all_of(unit.part_sizes.begin() + 1, unit.part_sizes.end(),
                     [](size_t size) { return size == 3; });
}

bool IsDateOrTime(std::string_view text, const Unit& unit) {
  if (unit.separators.find(':') != std::string::npos) return true;
  if (unit.part_sizes.size() != 3) return false;
  const bool one_kind = unit.separators == "--" || unit.separators == "..";
  return one_kind && IsDate(FirstThreeParts(text, unit));
}

// After "Rp", "Rp." or "IDR", with spaces between.
bool AfterCurrency(std::string_view text, const Unit& unit) {
  size_t at = unit.span.begin;
  while (at > 0 && (IsBlank(text[at - 1]) || text[at - 1] == '.')) --at;
  const std::string before = UpperAscii(text.substr(0, at));
  return before.ends_with("RP") || before.ends_with("IDR");
}

bool AfterSerialWord(std::string_view text, const std::vector<Span>& words, const Unit& unit) {
  static const char* const kSerialWords[] = {"SN",     "REF",   "TOKEN", "KODE", "VOUCHER",
                                             "SERIAL", "TRXID", "ID",    "NO",   "NOMOR"};
  const Span* previous = nullptr;
  for (const Span& word : words) {
    if (word.end <= unit.span.begin) previous = &word;
  }
  if (previous == nullptr) return false;
  return std::any_of(std::begin(kSerialWords), std::end(kSerialWords),
                     [&](const char* w) { return SameWord(Of(text, *previous), w); });
}

}  // namespace

std::string WordingShape(std::string_view reply) {
  const std::vector<Span> words = Words(reply);
  std::string shape;
  size_t at = 0;  // the next byte of the reply not yet shown
  auto show_separators = [&](size_t until) {
    for (; at < until; ++at) {
      if (!IsBlank(reply[at])) {
        shape += reply[at];
      } else if (!shape.empty() && shape.back() != ' ') {
        shape += ' ';
      }
    }
  };
  for (size_t i = 0; i < words.size(); ++i) {
    show_separators(words[i].begin);
    if (!HasDigit(Of(reply, words[i]))) {
      shape += Of(reply, words[i]);
      at = words[i].end;
      continue;
    }
    // A number, with the next numbers joined to it by single separators.
    while (i + 1 < words.size() && words[i + 1].begin == words[i].end + 1 &&
           IsJoiner(reply[words[i].end]) && HasDigit(Of(reply, words[i + 1]))) {
      ++i;
    }
    shape += '#';
    at = words[i].end;
  }
  show_separators(reply.size());
  if (!shape.empty() && shape.back() == ' ') shape.pop_back();
  return shape;
}

std::vector<Unit> Units(std::string_view text) {
  const std::vector<Span> words = Words(text);
  std::vector<Unit> units;
  for (size_t i = 0; i < words.size(); ++i) {
    Unit unit;
    unit.span = words[i];
    unit.digits_only = AllDigits(Of(text, words[i]));
    unit.part_sizes.push_back(words[i].size());
    if (unit.digits_only) {
      while (i + 1 < words.size() && words[i + 1].begin == words[i].end + 1 &&
             IsJoiner(text[words[i].end]) && AllDigits(Of(text, words[i + 1]))) {
        unit.separators += text[words[i].end];
        ++i;
        unit.part_sizes.push_back(words[i].size());
        unit.span.end = words[i].end;
      }
    }
    units.push_back(std::move(unit));
  }
  return units;
}

std::string UnitDigits(std::string_view text, const Unit& unit) {
  return DigitsOnly(Of(text, unit.span));
}

std::optional<DestinationPlace> FindDestination(std::string_view reply, std::string_view barcode) {
  if (barcode.empty()) return std::nullopt;
  const std::string_view national = barcode[0] == '0' ? barcode.substr(1) : std::string_view();
  for (const Span& word : Words(reply)) {
    // The digits of a word may follow letters ("No.0812" is two words; "HP0812" one).
    size_t begin = word.begin;
    while (begin < word.end && !IsDigit(reply[begin])) ++begin;
    size_t end = begin;
    while (end < word.end && IsDigit(reply[end])) ++end;
    if (begin != word.begin || end != word.end) continue;
    const std::string_view run = reply.substr(begin, end - begin);
    if (run == barcode || (!national.empty() && run == national)) {
      return DestinationPlace{{begin, end}, {begin, end}};
    }
    if (!national.empty() && run.size() > 2 && run.starts_with("62") && run.substr(2) == national) {
      return DestinationPlace{{begin, end}, {begin + 2, end}};
    }
  }
  return std::nullopt;
}

std::optional<Span> FindSerialNumber(std::string_view reply, const Span& destination,
                                     std::string_view denomination) {
  const std::vector<Unit> units = Units(reply);
  const std::vector<Span> words = Words(reply);
  // Dates written with spaces (a slash becomes a space when a reply is made safe):
  // "05 01 2026".
  std::vector<bool> spaced_date(units.size(), false);
  for (size_t i = 0; i + 2 < units.size(); ++i) {
    const bool single = units[i].digits_only && units[i + 1].digits_only &&
                        units[i + 2].digits_only && units[i].part_sizes.size() == 1 &&
                        units[i + 1].part_sizes.size() == 1 && units[i + 2].part_sizes.size() == 1;
    if (!single || units[i + 1].span.begin != units[i].span.end + 1 ||
        units[i + 2].span.begin != units[i + 1].span.end + 1) {
      continue;
    }
    if (IsDate({Of(reply, units[i].span), Of(reply, units[i + 1].span),
                Of(reply, units[i + 2].span)})) {
      spaced_date[i] = spaced_date[i + 1] = spaced_date[i + 2] = true;
    }
  }
  const Unit* best = nullptr;
  size_t best_digits = 0;
  bool best_after_word = false;
  for (size_t i = 0; i < units.size(); ++i) {
    const Unit& unit = units[i];
    if (!unit.digits_only || unit.span.Overlaps(destination) || spaced_date[i]) continue;
    if (unit.separators.find_first_not_of('-') != std::string::npos) continue;
    const std::string digits = UnitDigits(reply, unit);
    if (digits.size() < 3 || IsThousands(unit) || IsDateOrTime(reply, unit)) continue;
    if (AfterCurrency(reply, unit) || (!denomination.empty() && digits == denomination)) continue;
    const bool after_word = AfterSerialWord(reply, words, unit);
    if (best == nullptr || digits.size() > best_digits ||
        (digits.size() == best_digits && after_word && !best_after_word)) {
      best = &unit;
      best_digits = digits.size();
      best_after_word = after_word;
    }
  }
  if (best == nullptr) return std::nullopt;
  return best->span;
}

std::optional<Span> FindText(std::string_view reply, std::string_view text, const Span& avoid) {
  if (text.empty()) return std::nullopt;
  const std::string upper = UpperAscii(reply);
  const std::string wanted = UpperAscii(text);
  for (size_t at = upper.find(wanted); at != std::string::npos; at = upper.find(wanted, at + 1)) {
    const Span found{at, at + wanted.size()};
    if (!found.Overlaps(avoid)) return found;
  }
  return std::nullopt;
}

const std::vector<std::string>& FailureWordingsWithSuccessWords() {
  static const std::vector<std::string> kWordings = {"tidak berhasil", "belum berhasil",
                                                     "tidak sukses",   "not successful",
                                                     "unsuccessful",   "not success"};
  return kWordings;
}

namespace {

const char* const kFailureWords[] = {
    "tidak berhasil", "belum berhasil", "tidak sukses", "not successful", "unsuccessful",
    "gagal",          "failed",         "failure",      "fail",           "ditolak",
    "rejected",       "dibatalkan",     "batal",        "cancelled",      "canceled",
    "error",          "invalid",        "tidak valid",  "tidak dapat",    "tidak bisa",
    "tidak cukup",    "insufficient",   "expired",      "kadaluarsa",     "timeout",
    "salah"};
const char* const kSuccessWords[] = {"berhasil", "sukses",    "successful", "successfully",
                                     "success",  "succeeded", "succeed"};

// The first of `phrases` in the reply as whole words; the longer one where two start at one
// place.
template <size_t N>
std::optional<Span> FirstOf(std::string_view reply, const char* const (&phrases)[N]) {
  std::optional<Span> found;
  for (const char* phrase : phrases) {
    const std::optional<size_t> at = FindWords(reply, phrase);
    const size_t size = std::string_view(phrase).size();
    if (!at) continue;
    if (!found || *at < found->begin || (*at == found->begin && size > found->size())) {
      found = Span{*at, *at + size};
    }
  }
  return found;
}

}  // namespace

std::optional<Span> FindOutcomeWords(std::string_view reply, std::string_view tipepesan) {
  if (tipepesan == "GAGAL") return FirstOf(reply, kFailureWords);
  if (tipepesan == "SUKSES") return FirstOf(reply, kSuccessWords);
  return std::nullopt;
}

std::optional<OutcomeWords> FindOutcome(std::string_view reply) {
  for (const char* tipepesan : {"GAGAL", "SUKSES"}) {
    if (const std::optional<Span> span = FindOutcomeWords(reply, tipepesan)) {
      return OutcomeWords{tipepesan, *span};
    }
  }
  return std::nullopt;
}

std::optional<CountPlace> FindCount(std::string_view reply, long long count) {
  static const char* const kCountWords[] = {"jumlah",   "jml",       "qty",  "quantity",
                                            "sebanyak", "banyaknya", "count"};
  if (count <= 0) return std::nullopt;
  const std::string upper = UpperAscii(reply);
  for (const char* word : kCountWords) {
    // The word, with no letter glued on either side (a digit may follow at once: "Jumlah2").
    const std::string wanted = UpperAscii(word);
    std::optional<size_t> at;
    for (size_t found = upper.find(wanted); found != std::string::npos && !at;
         found = upper.find(wanted, found + 1)) {
      const size_t after = found + wanted.size();
      if ((found == 0 || !IsAlnum(reply[found - 1])) &&
          (after >= reply.size() || !IsLetter(reply[after]))) {
        at = found;
      }
    }
    if (!at) continue;
    size_t digit = *at + std::string_view(word).size();
    const size_t limit = std::min(reply.size(), digit + 3);
    while (digit < limit && !IsAlnum(reply[digit])) ++digit;
    if (digit >= reply.size() || !IsDigit(reply[digit])) continue;
    const std::string digits = TakeDigits(reply.substr(digit));
    if (digits != std::to_string(count)) continue;
    const Span place{digit, digit + digits.size()};
    // The marker itself, or the marker and what stands up to the byte before the digits.
    for (const std::string_view marker :
         {reply.substr(*at, std::string_view(word).size()), reply.substr(*at, digit - 1 - *at)}) {
      if (!marker.empty() && ReplyCount(reply, marker) == count) {
        return CountPlace{std::string(marker), place};
      }
    }
  }
  return std::nullopt;
}

std::vector<std::string> MarkersBefore(std::string_view reply, size_t target,
                                       const std::vector<Span>& variable,
                                       bool leading_space_first) {
  std::vector<std::string> markers;
  size_t anchor = std::min(target, reply.size());
  while (anchor > 0 && IsAlnum(reply[anchor - 1])) --anchor;
  if (anchor == target && target > 0 &&
      std::string_view("([{<").find(reply[target - 1]) != std::string_view::npos) {
    markers.emplace_back(1, reply[target - 1]);
  }
  std::vector<Span> words;
  for (const Span& word : Words(reply.substr(0, anchor))) words.push_back(word);
  for (size_t back = 1; back <= 4 && back <= words.size(); ++back) {
    const Span& word = words[words.size() - back];
    const bool holds_variable = std::any_of(variable.begin(), variable.end(),
                                            [&](const Span& v) { return v.Overlaps(word); });
    if (holds_variable) break;
    const std::string plain(reply.substr(word.begin, target - word.begin));
    const bool spaced = word.begin > 0 && reply[word.begin - 1] == ' ';
    if (spaced && leading_space_first) markers.push_back(" " + plain);
    markers.push_back(plain);
    if (spaced && !leading_space_first) markers.push_back(" " + plain);
  }
  return markers;
}

std::vector<std::string> MarkersAfter(std::string_view reply, size_t end) {
  std::vector<std::string> markers;
  if (Trim(reply.substr(end)).empty()) return {""};
  size_t separators = end;
  while (separators < reply.size() && !IsAlnum(reply[separators])) ++separators;
  for (size_t size = 1; size <= separators - end; ++size) {
    markers.emplace_back(reply.substr(end, size));
  }
  size_t at = separators;
  for (int word = 0; word < 2 && at < reply.size(); ++word) {
    while (at < reply.size() && IsAlnum(reply[at])) ++at;
    const std::string_view marker = reply.substr(end, at - end);
    if (HasDigit(marker)) break;
    markers.emplace_back(marker);
    while (at < reply.size() && !IsAlnum(reply[at])) ++at;
  }
  return markers;
}

bool IsProductWord(std::string_view word) {
  static const char* const kWords[] = {
      "pulsa",   "paket",  "data",     "voucher", "vocer",  "vcr",    "token",    "pln",
      "listrik", "kuota",  "internet", "topup",   "top",    "reload", "recharge", "transfer",
      "airtime", "bundle", "sms",      "telpon",  "nelpon", "game"};
  return std::any_of(std::begin(kWords), std::end(kWords),
                     [&](const char* w) { return SameWord(word, w); });
}

}  // namespace tovalink
