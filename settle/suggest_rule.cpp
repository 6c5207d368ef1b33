#include "settle/suggest_rule.h"

#include <algorithm>
#include <optional>

#include "settle/reply_match.h"
#include "settle/reply_text.h"
#include "settle/rule_check.h"
#include "settle/settle_reply.h"
#include "settle/unmatched.h"
#include "settle/wording.h"
#include "store/products.h"
#include "store/text.h"

namespace tovalink {

namespace {

std::vector<RuleRow> ReadRules(Database& db) {
  std::vector<RuleRow> rules;
  for (Rows rows = db.OpenSql(std::string("SELECT ") + kRuleColumns + " FROM settinggetsn");
       !rows.Eof(); rows.Next()) {
    rules.push_back({rows.Text(0), rows.Text(1), rows.Text(2), rows.Text(3), rows.Text(4),
                     rows.Text(5), rows.Text(6), rows.Text(7)});
  }
  return rules;
}

std::string SqlLiteral(const std::string& value) {
  const bool ascii = std::all_of(value.begin(), value.end(), [](char c) {
    return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F;
  });
  if (ascii) return "'" + ReplaceAll(ReplaceAll(value, "\\", "\\\\"), "'", "''") + "'";
  static const char kHex[] = "0123456789ABCDEF";
  std::string hex = "X'";
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    hex += kHex[byte >> 4];
    hex += kHex[byte & 15];
  }
  return hex + "'";
}

// A phrase of the reply: consecutive whole words.
struct Phrase {
  Span span;
  std::string text;
  size_t words = 0;
  bool names_product = false;
};

// What the reply's words are to the rule: numbers that change from reply to reply, and the
// parts the other columns take already.
class ReplyWords {
 public:
  ReplyWords(const std::string& reply, std::string denomination)
      : reply_(reply), units_(Units(reply)), denomination_(std::move(denomination)) {}

  void Reserve(const Span& span) {
    if (span.size() > 0) reserved_.push_back(span);
  }
  // A number that changes from reply to reply: any number but the product's denomination.
  bool Variable(const Unit& unit) const {
    return unit.digits_only && UnitDigits(reply_, unit) != denomination_;
  }
  bool Usable(const Unit& unit) const {
    if (Variable(unit)) return false;
    return std::none_of(reserved_.begin(), reserved_.end(),
                        [&](const Span& r) { return r.Overlaps(unit.span); });
  }
  const std::vector<Unit>& units() const { return units_; }

  // Phrases of one to three usable words.
  std::vector<Phrase> Phrases() const {
    std::vector<Phrase> phrases;
    for (size_t i = 0; i < units_.size(); ++i) {
      bool names_product = false;
      for (size_t j = i; j < units_.size() && j < i + 3 && Usable(units_[j]); ++j) {
        const Unit& unit = units_[j];
        const std::string word = reply_.substr(unit.span.begin, unit.span.size());
        const bool letters = !unit.digits_only;
        const bool mixed = letters && DigitsOnly(word) != "";
        names_product = names_product || IsProductWord(word) || mixed || unit.digits_only;
        if (i == j && (unit.digits_only || (word.size() < 3 && !mixed))) continue;
        const Span span{units_[i].span.begin, unit.span.end};
        phrases.push_back({span, reply_.substr(span.begin, span.size()), j - i + 1, names_product});
      }
    }
    return phrases;
  }

  // The usable word just before or just after a span.
  std::optional<Span> WordBefore(const Span& span) const {
    std::optional<Span> found;
    for (const Unit& unit : units_) {
      if (unit.span.end <= span.begin) found = unit.span;
    }
    if (!found) return std::nullopt;
    for (const Unit& unit : units_) {
      if (unit.span.begin == found->begin && !Usable(unit)) return std::nullopt;
    }
    return found;
  }
  std::optional<Span> WordAfter(const Span& span) const {
    for (const Unit& unit : units_) {
      if (unit.span.begin >= span.end) {
        if (!Usable(unit)) return std::nullopt;
        return unit.span;
      }
    }
    return std::nullopt;
  }

 private:
  const std::string& reply_;
  std::vector<Unit> units_;
  std::string denomination_;
  std::vector<Span> reserved_;
};

bool OccursIn(const std::string& needle, const std::string& text) { return Occurs(text, needle); }

// Where the first occurrence of `marker` stands, as a part of the reply to reserve.
Span MarkerSpan(const std::string& reply, const std::string& marker) {
  size_t at = 0;
  if (!Occurs(reply, marker, &at)) return {};
  return {at, at + marker.size()};
}

// TakeBetween's start: where the text after the first occurrence of `marker` begins, once
// its leading spaces and control characters are skipped.
std::optional<size_t> TextAfter(const std::string& reply, const std::string& marker) {
  size_t at = 0;
  if (!Occurs(reply, marker, &at)) return std::nullopt;
  at += marker.size();
  while (at < reply.size() && static_cast<unsigned char>(reply[at]) <= 0x20) ++at;
  return at;
}

std::string Denomination(Database& db, const std::string& idproduk) {
  const std::string denom = ProductDenomText(db, idproduk);
  const std::string whole = denom.substr(0, denom.find('.'));
  return whole == "0" ? "" : whole;
}

class Proposer {
 public:
  Proposer(Database& db, const SuggestRequest& request, Suggestion& out)
      : db_(db), request_(request), out_(out) {}

  void Run() {
    out_.reply = SqlSafe(request_.reply);
    if (!ReadSale()) return;
    rules_ = ReadRules(db_);
    words_.emplace(out_.reply, Denomination(db_, out_.idproduk));
    out_.rule.idproduk = out_.idproduk;
    Reason("idproduk", "the product of sale " + std::to_string(out_.idx));
    if (!ChooseOutcome()) return;
    FindPlaces();
    if (!out_.refusal.empty()) return;
    ChooseDestinationMarker();
    ChooseSerialMarkers();
    ChooseCount();
    ChooseOutcomeWording();
    ChooseProductWording();
    if (!out_.refusal.empty()) return;
    SortReasons();
    out_.insert = InsertStatement(out_.rule);
    Check();
  }

 private:
  bool ReadSale() {
    Rows sale = db_.OpenSql(
        "SELECT idx,idproduk,barcode,tanggal,jumlah,status FROM penjualanproduk WHERE idx=" +
        std::to_string(request_.idx));
    out_.idx = request_.idx;
    if (sale.Eof()) {
      out_.refusal = "there is no sale with idx " + std::to_string(request_.idx);
      return false;
    }
    out_.idproduk = sale.Text("idproduk");
    out_.barcode = sale.Text("barcode");
    out_.tanggal = sale.Text("tanggal");
    out_.jumlah = sale.Int("jumlah");
    out_.status = sale.Text("status");
    if (out_.tanggal.empty()) {
      out_.refusal = "sale " + std::to_string(out_.idx) + " has no date (tanggal)";
      return false;
    }
    return true;
  }

  void Reason(const std::string& column, const std::string& why) {
    out_.reasons.emplace_back(column, why);
  }

  void Conflict(const std::string& text) { conflicts_.push_back(text); }

  bool ChooseOutcome() {
    const std::optional<OutcomeWords> said = FindOutcome(out_.reply);
    std::string& tipepesan = out_.rule.tipepesan;
    if (!request_.tipepesan.empty()) {
      tipepesan = request_.tipepesan;
      Reason("tipepesan", "as asked");
    } else if (said) {
      tipepesan = said->tipepesan;
      Reason("tipepesan",
             "the reply says " + Quote(out_.reply.substr(said->span.begin, said->span.size())));
    } else if (!request_.sn.empty()) {
      tipepesan = "SUKSES";
      Reason("tipepesan", "a serial number was given");
    } else {
      out_.refusal =
          "the reply says neither success nor failure in words this tool knows; give SUKSES or "
          "GAGAL after the idx (and the serial number)";
      return false;
    }
    if (tipepesan == "GAGAL" && !request_.sn.empty()) {
      out_.refusal = "a GAGAL rule takes no serial number";
      return false;
    }
    return true;
  }

  void FindPlaces() {
    const std::string& reply = out_.reply;
    destination_ = FindDestination(reply, out_.barcode);
    const Span no_destination = destination_ ? destination_->run : Span{};
    if (out_.rule.tipepesan == "SUKSES") {
      if (!request_.sn.empty()) {
        serial_ = FindText(reply, request_.sn, no_destination);
        if (!serial_) {
          out_.refusal = "the serial number " + Quote(request_.sn) + " is not in the reply";
          return;
        }
        serial_given_ = true;
      } else {
        serial_ = FindSerialNumber(reply, no_destination, Denomination(db_, out_.idproduk));
      }
    }
    if (serial_) out_.sn = reply.substr(serial_->begin, serial_->size());
    count_ = FindCount(reply, out_.jumlah);
    if (destination_) words_->Reserve(destination_->run);
    if (serial_) words_->Reserve(*serial_);
    if (count_) words_->Reserve(count_->digits);
  }

  std::vector<Span> Variable() const {
    std::vector<Span> spans;
    for (const Unit& unit : words_->units()) {
      if (words_->Variable(unit)) spans.push_back(unit.span);
    }
    if (serial_) spans.push_back(*serial_);
    return spans;
  }

  bool ReadsDestination(const std::string& marker) const {
    const std::optional<ReplyNumber> number = FindReplyNumber(out_.reply, marker, kNoSaleInHand);
    return number && (number->prefixed == out_.barcode || number->raw == out_.barcode);
  }

  void ChooseDestinationMarker() {
    std::string& marker = out_.rule.awalmsisdn;
    const std::string& tipepesan = out_.rule.tipepesan;
    if (!destination_) {
      Reason("awalmsisdn", "empty: the reply does not name the destination " + out_.barcode +
                               ", so the rule settles the sale only as the sale in hand, right "
                               "after it was sent");
      return;
    }
    // A marker the table has for this type already adds no pair: the rules of every product
    // go on being tried with the numbers they were tried with.
    for (const RuleRow& rule : rules_) {
      if (rule.tipepesan == tipepesan && !rule.awalmsisdn.empty() &&
          ReadsDestination(rule.awalmsisdn)) {
        marker = rule.awalmsisdn;
        new_pair_ = false;
        Reason("awalmsisdn", "the text before the destination " + out_.barcode +
                                 ", a marker the table has for " + tipepesan + " replies");
        words_->Reserve(MarkerSpan(out_.reply, marker));
        return;
      }
    }
    for (const std::string& candidate :
         MarkersBefore(out_.reply, destination_->read.begin, Variable(), true)) {
      if (ReadsDestination(candidate)) {
        marker = candidate;
        Reason("awalmsisdn", "the text just before the destination " + out_.barcode);
        words_->Reserve(MarkerSpan(out_.reply, marker));
        return;
      }
    }
    Reason("awalmsisdn", "empty: no text before the destination " + out_.barcode +
                             " reads it, so the rule settles the sale only as the sale in "
                             "hand, right after it was sent");
  }

  void ChooseSerialMarkers() {
    if (out_.rule.tipepesan != "SUKSES") {
      Reason("awalsn", "empty: a failure takes no serial number");
      Reason("akhirsn", "empty");
      return;
    }
    if (!serial_) {
      Reason("awalsn",
             "empty: the reply carries no serial number this tool can tell (give it after the "
             "idx if it does); the sale is settled without one");
      Reason("akhirsn", "empty");
      return;
    }
    const std::string& reply = out_.reply;
    for (const std::string& candidate : MarkersBefore(reply, serial_->begin, Variable(), false)) {
      if (TextAfter(reply, candidate) == serial_->begin) {
        out_.rule.awalsn = candidate;
        break;
      }
    }
    if (out_.rule.awalsn.empty()) {
      Reason("awalsn", "empty: no text before the serial number " + Quote(out_.sn) +
                           " finds it; the sale would be settled without it");
      Reason("akhirsn", "empty");
      Conflict("no marker before the serial number " + Quote(out_.sn) + " finds it");
      return;
    }
    words_->Reserve(MarkerSpan(reply, out_.rule.awalsn));
    Reason("awalsn", "the text just before the serial number " + Quote(out_.sn) +
                         (serial_given_ ? " (as given)"
                                        : " (the longest number that is no destination, amount "
                                          "or date)"));
    for (const std::string& candidate : MarkersAfter(reply, serial_->end)) {
      ReplyRule texts;
      texts.awalsn = out_.rule.awalsn;
      texts.akhirsn = candidate;
      if (SerialNumber(texts, reply) == out_.sn) {
        out_.rule.akhirsn = candidate;
        if (candidate.empty()) {
          Reason("akhirsn", "empty: the serial number runs to the end of the reply");
        } else {
          Reason("akhirsn", "the text just after it");
          words_->Reserve({serial_->end, serial_->end + candidate.size()});
        }
        return;
      }
    }
    Reason("akhirsn", "empty: no text after the serial number ends it");
    Conflict("no text after the serial number " + Quote(out_.sn) + " ends it");
  }

  void ChooseCount() {
    if (!count_) {
      Reason("katajumlah", "empty: the reply carries no count");
      return;
    }
    out_.rule.katajumlah = count_->katajumlah;
    words_->Reserve(MarkerSpan(out_.reply, count_->katajumlah));
    Reason("katajumlah",
           "the text before the count " + std::to_string(out_.jumlah) + ", the sale's jumlah");
  }

  // The outcome's wording: the success or failure words, with the space or the word before
  // them where the words alone also stand in a wording of the other outcome ("successful" in
  // "unsuccessful"), and never a part of a failure wording of the product's own rules, which
  // would then settle as SUKSES (success rules are tried first).
  void ChooseOutcomeWording() {
    const std::string& reply = out_.reply;
    const std::string& tipepesan = out_.rule.tipepesan;
    const std::optional<Span> seed = FindOutcomeWords(reply, tipepesan);
    // The word after the outcome's words is taken only when nothing else keeps them apart
    // from a failure wording of the product's rules: negations stand before the words.
    std::vector<Span> candidates;
    std::optional<Span> last_resort;
    if (seed) {
      candidates.push_back(*seed);
      if (seed->begin > 0 && reply[seed->begin - 1] == ' ') {
        candidates.push_back({seed->begin - 1, seed->end});
      }
      if (const std::optional<Span> before = words_->WordBefore(*seed)) {
        candidates.push_back({before->begin, seed->end});
      }
      if (const std::optional<Span> after = words_->WordAfter(*seed)) {
        last_resort = Span{seed->begin, after->end};
      }
    } else {
      // No usual wording: the longest fixed wording of the reply that names no product.
      std::vector<Phrase> phrases = words_->Phrases();
      std::stable_sort(phrases.begin(), phrases.end(), [](const Phrase& a, const Phrase& b) {
        if (a.names_product != b.names_product) return b.names_product;
        return a.text.size() > b.text.size();
      });
      if (!phrases.empty()) candidates.push_back(phrases.front().span);
    }
    if (candidates.empty()) {
      out_.refusal = "the reply has no fixed words left for the " + tipepesan + " wording";
      return;
    }
    std::vector<std::string> opposite;
    if (tipepesan == "SUKSES") {
      for (const RuleRow& rule : rules_) {
        if (rule.tipepesan == "GAGAL" && UpperAscii(rule.idproduk) == UpperAscii(out_.idproduk)) {
          opposite.push_back(rule.pesansuksesgagal);
        }
      }
    }
    auto text_of = [&](const Span& span) { return reply.substr(span.begin, span.size()); };
    auto stands_in_opposite = [&](const Span& span) {
      return std::any_of(opposite.begin(), opposite.end(),
                         [&](const std::string& o) { return OccursIn(text_of(span), o); });
    };
    // How many of the usual failure wordings the text stands in.
    auto misses = [&](const Span& span) {
      if (tipepesan != "SUKSES") return 0L;
      const std::vector<std::string>& failures = FailureWordingsWithSuccessWords();
      return static_cast<long>(
          std::count_if(failures.begin(), failures.end(),
                        [&](const std::string& f) { return OccursIn(text_of(span), f); }));
    };
    std::optional<Span> best;
    for (const Span& candidate : candidates) {
      if (stands_in_opposite(candidate)) continue;
      if (!best || misses(candidate) < misses(*best)) best = candidate;
    }
    if (!best && last_resort && !stands_in_opposite(*last_resort)) best = last_resort;
    const char* kind = tipepesan == "SUKSES" ? "the success wording" : "the failure wording";
    if (!best) {
      best = candidates.front();
      for (const RuleRow& rule : rules_) {
        if (rule.tipepesan == "GAGAL" && UpperAscii(rule.idproduk) == UpperAscii(out_.idproduk) &&
            OccursIn(text_of(*best), rule.pesansuksesgagal)) {
          Conflict("the success wording " + Quote(text_of(*best)) +
                   " stands in the failure wording of rule " + RuleText(rule) +
                   ": success rules are tried first, so its failure replies would settle as "
                   "SUKSES");
        }
      }
    }
    out_.rule.pesansuksesgagal = text_of(*best);
    words_->Reserve(*best);
    Reason("pesansuksesgagal",
           seed ? kind : std::string(kind) + ": the longest fixed wording of the reply");
  }

  // The product's wording: the shortest phrase of whole words, a product's name or code
  // first and then what stands before the destination, that stands in no other product's wording
  // and in none of the replies of its wording that answer other products' sales.
  void ChooseProductWording() {
    std::vector<Phrase> phrases = words_->Phrases();
    if (phrases.empty()) {
      out_.refusal = "the reply has no fixed words left for the product's wording";
      return;
    }
    // What was sold is usually said before the number it went to.
    const size_t number_at = destination_ ? destination_->run.begin : out_.reply.size();
    std::stable_sort(phrases.begin(), phrases.end(), [&](const Phrase& a, const Phrase& b) {
      if (a.names_product != b.names_product) return a.names_product;
      const bool a_before = a.span.end <= number_at;
      const bool b_before = b.span.end <= number_at;
      if (a_before != b_before) return a_before;
      if (a.words != b.words) return a.words < b.words;
      return a.text.size() < b.text.size();
    });
    ReadGroup();
    std::vector<std::pair<std::string, RuleRow>> others;  // wordings of other products' rules
    for (const RuleRow& rule : rules_) {
      if (UpperAscii(rule.idproduk) != UpperAscii(out_.idproduk) && !rule.pesanproduk.empty()) {
        others.emplace_back(rule.pesanproduk, rule);
      }
    }
    // A product's wording names the product or stands where the product is said; a word
    // such as "Sisa" (of the balance) after the number is no wording of the product, however
    // rare it is in the other rules.
    const auto product_part = [&](const Phrase& p) {
      return p.names_product || p.span.end <= number_at;
    };
    const auto in_other_rule = [&](const Phrase& p) {
      return std::any_of(others.begin(), others.end(),
                         [&](const auto& o) { return OccursIn(p.text, o.first); });
    };
    const auto in_other_reply = [&](const Phrase& p) {
      return std::any_of(other_products_.begin(), other_products_.end(),
                         [&](const LoggedReply* r) { return Occurs(r->pesan, p.text); });
    };
    const auto in_own_replies = [&](const Phrase& p) {
      return std::all_of(own_product_.begin(), own_product_.end(),
                         [&](const LoggedReply* r) { return Occurs(r->pesan, p.text); });
    };
    const bool any_product_part = std::any_of(phrases.begin(), phrases.end(), product_part);
    const auto usable = [&](const Phrase& p) {
      return (!any_product_part || product_part(p)) && in_own_replies(p);
    };
    const Phrase* chosen = nullptr;
    for (const Phrase& phrase : phrases) {
      if (usable(phrase) && !in_other_rule(phrase) && !in_other_reply(phrase)) {
        chosen = &phrase;
        break;
      }
    }
    // Replies of its wording for other products that say the same words (their numbers
    // aside), or other products' rules of the same words, cannot be told apart by the text:
    // that only matters for a number with open sales of both products, whose newer sale such
    // a reply settles; the checks below show what each reply settles. The most specific
    // wording is taken then.
    const char* alike = nullptr;
    if (chosen == nullptr) {
      for (const Phrase& phrase : phrases) {
        if (usable(phrase) && !in_other_rule(phrase)) {
          chosen = &phrase;
          alike = "its replies for other products' sales say the same words";
          break;
        }
      }
    }
    if (chosen == nullptr) {
      for (const Phrase& phrase : phrases) {
        if (usable(phrase) && (chosen == nullptr || phrase.text.size() > chosen->text.size())) {
          chosen = &phrase;
        }
      }
      if (chosen == nullptr) chosen = &phrases.front();
      alike = "other products' rules have the same wording";
    }
    out_.rule.pesanproduk = chosen->text;
    std::string why = others.empty() && other_products_.empty()
                          ? "the product's wording"
                          : "the product's wording, apart from the other products' wordings";
    if (alike != nullptr) {
      why = std::string("the product's wording; ") + alike +
            ", so on a number with open sales of both the newer sale is settled";
    }
    Reason("pesanproduk", why);
  }

  // The replies of the reply's wording that settled no sale on the sale's day, by whether
  // they probably answer a sale of this product or only other products' sales.
  void ReadGroup() {
    day_replies_ = ReadLoggedReplies(db_, out_.tanggal, out_.tanggal);
    const std::string shape = WordingShape(out_.reply);
    for (const LoggedReply& reply : day_replies_) {
      if (reply.fate != ReplyFate::Unsettled || reply.pesan == out_.reply) continue;
      if (WordingShape(reply.pesan) != shape) continue;
      group_.push_back(&reply);
      const bool own =
          std::any_of(reply.open_sales.begin(), reply.open_sales.end(), [&](const ProbableSale& s) {
            return UpperAscii(s.idproduk) == UpperAscii(out_.idproduk);
          });
      if (own) {
        own_product_.push_back(&reply);
      } else if (!reply.open_sales.empty()) {
        other_products_.push_back(&reply);
      }
    }
  }

  void SortReasons() {
    static const char* const kOrder[] = {"idproduk",         "tipepesan", "awalmsisdn",
                                         "awalsn",           "akhirsn",   "pesanproduk",
                                         "pesansuksesgagal", "katajumlah"};
    auto rank = [](const std::string& column) {
      return std::find(std::begin(kOrder), std::end(kOrder), column) - std::begin(kOrder);
    };
    std::stable_sort(out_.reasons.begin(), out_.reasons.end(),
                     [&](const auto& a, const auto& b) { return rank(a.first) < rank(b.first); });
  }

  void Check() {
    RuleUnderCheck input;
    input.rule = out_.rule;
    input.idx = out_.idx;
    input.barcode = out_.barcode;
    input.tanggal = out_.tanggal;
    input.sn = out_.sn;
    input.reply = out_.reply;
    input.new_pair = new_pair_;
    input.group = group_;
    input.own_product = own_product_;
    input.day_replies = &day_replies_;
    CheckedRule checked = CheckRule(db_, input);
    out_.explanation = std::move(checked.explanation);
    out_.explain_destination = checked.explain_destination;
    // The conflicts found while the row was written come right after the reply's own check.
    out_.checks = std::move(checked.checks);
    std::vector<RuleCheck> conflicts;
    for (const std::string& conflict : conflicts_) conflicts.push_back({false, conflict});
    out_.checks.insert(out_.checks.begin() + (out_.checks.empty() ? 0 : 1), conflicts.begin(),
                       conflicts.end());
  }

  Database& db_;
  const SuggestRequest& request_;
  Suggestion& out_;
  std::vector<RuleRow> rules_;
  std::optional<ReplyWords> words_;
  std::optional<DestinationPlace> destination_;
  std::optional<Span> serial_;
  bool serial_given_ = false;
  std::optional<CountPlace> count_;
  bool new_pair_ = true;
  std::vector<std::string> conflicts_;
  std::vector<LoggedReply> day_replies_;
  std::vector<const LoggedReply*> group_;
  std::vector<const LoggedReply*> own_product_;
  std::vector<const LoggedReply*> other_products_;
};

}  // namespace

bool Suggestion::Ready() const {
  return Proposed() &&
         std::all_of(checks.begin(), checks.end(), [](const RuleCheck& check) { return check.ok; });
}

std::string InsertStatement(const RuleRow& rule) {
  return "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn, "
         "pesanproduk, pesansuksesgagal, katajumlah) VALUES (" +
         SqlLiteral(rule.idproduk) + ", " + SqlLiteral(rule.tipepesan) + ", " +
         SqlLiteral(rule.awalmsisdn) + ", " + SqlLiteral(rule.awalsn) + ", " +
         SqlLiteral(rule.akhirsn) + ", " + SqlLiteral(rule.pesanproduk) + ", " +
         SqlLiteral(rule.pesansuksesgagal) + ", " + SqlLiteral(rule.katajumlah) + ");";
}

Suggestion SuggestRule(Database& db, const SuggestRequest& request) {
  Suggestion suggestion;
  Proposer(db, request, suggestion).Run();
  return suggestion;
}

std::string OfferedInsert(const Suggestion& suggestion) {
  if (suggestion.Ready()) return suggestion.insert;
  return "-- Not ready: see the conflicts above; change the row by hand before running it.\n-- " +
         suggestion.insert;
}

void PrintSuggestion(const Suggestion& suggestion, const std::string& program, std::ostream& out) {
  out << "Reply: " << Printable(suggestion.reply) << "\n";
  if (!suggestion.idproduk.empty() || !suggestion.barcode.empty()) {
    out << "Sale:  idx " << suggestion.idx << ", product " << Printable(suggestion.idproduk)
        << ", destination " << Printable(suggestion.barcode) << ", of " << suggestion.tanggal
        << ", jumlah " << suggestion.jumlah << ", status "
        << (suggestion.status.empty() ? "\"\"" : Printable(suggestion.status)) << "\n";
  }
  if (!suggestion.Proposed()) {
    out << "\nNo rule proposed: " << Printable(suggestion.refusal) << "\n";
    return;
  }
  const RuleRow& rule = suggestion.rule;
  const std::pair<const char*, const std::string*> columns[] = {
      {"idproduk", &rule.idproduk},
      {"tipepesan", &rule.tipepesan},
      {"awalmsisdn", &rule.awalmsisdn},
      {"awalsn", &rule.awalsn},
      {"akhirsn", &rule.akhirsn},
      {"pesanproduk", &rule.pesanproduk},
      {"pesansuksesgagal", &rule.pesansuksesgagal},
      {"katajumlah", &rule.katajumlah}};
  size_t width = 0;
  for (const auto& column : columns) width = std::max(width, SqlLiteral(*column.second).size());
  out << "\nProposed rule:\n";
  for (const auto& [name, value] : columns) {
    std::string why;
    for (const auto& reason : suggestion.reasons) {
      if (reason.first == name) why = reason.second;
    }
    std::string literal = SqlLiteral(*value);
    out << "  " << name << std::string(18 - std::string_view(name).size(), ' ') << literal
        << std::string(width + 2 - literal.size(), ' ') << Printable(why) << "\n";
  }
  out << "\nChecks:\n";
  for (const RuleCheck& check : suggestion.checks) {
    out << (check.ok ? "  ok        " : "  CONFLICT  ") << Printable(check.text) << "\n";
  }
  out << "\n" << OfferedInsert(suggestion) << "\n";
  out << "\nWith the rule added, " << program << " --explain-reply " << ShellWord(suggestion.reply)
      << (suggestion.explain_destination == kNoSaleInHand ? std::string()
                                                          : " " + suggestion.explain_destination)
      << " shows (on " << suggestion.tanggal << ", with sale " << suggestion.idx
      << " still open):\n";
  for (const std::string& line : suggestion.explanation) out << "  " << Printable(line) << "\n";
}

}  // namespace tovalink
