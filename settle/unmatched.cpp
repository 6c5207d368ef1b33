#include "settle/unmatched.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <stdexcept>

#include "core/errors.h"
#include "settle/settle_reply.h"
#include "settle/wording.h"
#include "store/text.h"

namespace tovalink {

namespace {

// Statements with a long IN list are sent in pieces of this many values.
constexpr size_t kValuesPerStatement = 200;
// The open sales listed with a group, newest first; the rest are counted.
constexpr size_t kSalesShown = 10;

struct SaleRow {
  ProbableSale sale;
  std::string tanggal;
  std::string respond;
};

bool IsSetAside(const LoggedReply& reply) {
  return reply.pengirim.starts_with("62962") || reply.pesan == "FAILED SENT" ||
         reply.pengirim == "*776*";
}

bool IsOpen(const std::string& status) { return status.empty() || status == "PENDING"; }
bool IsSettled(const std::string& status) { return status == "SUKSES" || status == "GAGAL"; }

// The destinations a reply may name: each run of at least five digits of its text, and of
// the code it answered when it answered a dial or USSD code, in the forms a `barcode` takes.
std::set<std::string> NamedNumbers(const LoggedReply& reply) {
  std::set<std::string> numbers;
  auto add_runs = [&numbers](const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
      if (text[i] < '0' || text[i] > '9') {
        ++i;
        continue;
      }
      const size_t begin = i;
      while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
      const std::string run = text.substr(begin, i - begin);
      if (run.size() < 5) continue;
      numbers.insert(run);
      if (run[0] != '0') numbers.insert("0" + run);
      if (run.starts_with("62")) numbers.insert("0" + run.substr(2));
    }
  };
  add_runs(reply.pesan);
  if (reply.pengirim.find_first_of("*#") != std::string::npos) add_runs(reply.pengirim);
  return numbers;
}

std::string Quoted(Database& db, const std::string& value) {
  return "\"" + db.Escape(value) + "\"";
}

std::string InList(Database& db, const std::vector<std::string>& values, size_t from) {
  std::string list;
  for (size_t i = from; i < values.size() && i < from + kValuesPerStatement; ++i) {
    list += (list.empty() ? "" : ",") + Quoted(db, values[i]);
  }
  return list;
}

std::string Identifier(const std::string& name) { return "`" + ReplaceAll(name, "`", "``") + "`"; }

std::string Plural(size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string SaleLine(const ProbableSale& sale) {
  return "idx " + std::to_string(sale.idx) + ", " + sale.idproduk + ", to " + sale.barcode + ", " +
         (sale.status.empty() ? "status \"\"" : sale.status) + ", module " + sale.modem;
}

}  // namespace

std::string Printable(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unassigned =
        byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
    if (byte < ' ' || byte == 0x7F || unassigned) {
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 15];
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string ShellWord(const std::string& text) {
  const bool plain = Printable(text) == text && text.find_first_of("'\\") == std::string::npos;
  if (plain) return "'" + text + "'";
  std::string word = "$'";
  for (const char c : Printable(ReplaceAll(text, "\\", "\\\\"))) {
    if (c == '\'') word += '\\';
    word += c;
  }
  return word + "'";
}

std::string DayBefore(const std::string& day, int days_back) {
  LocalDateTime local;
  if (std::sscanf(day.c_str(), "%4d-%2d-%2d", &local.year, &local.month, &local.day) != 3) {
    throw std::invalid_argument("not a date: " + day);
  }
  constexpr int64_t kDayMs = 86400000;
  return Clock::FormatDate(Clock::Split(Clock::Join(local) - days_back * kDayMs));
}

std::vector<LoggedReply> ReadLoggedReplies(Database& db, const std::string& first_day,
                                           const std::string& last_day) {
  // The log's columns are known by position only; their names are the outlet's.
  const std::vector<std::string> columns = db.OpenSql("SELECT * FROM logtrxsms LIMIT 0").Columns();
  if (columns.size() < 6) {
    throw DatabaseError("logtrxsms has " + std::to_string(columns.size()) +
                        " columns; the exchange log needs seven");
  }
  const std::string date = Identifier(columns[1]);
  Rows log = db.OpenSql("SELECT * FROM logtrxsms WHERE " + date + ">=" + Quoted(db, first_day) +
                        " AND " + date + "<=" + Quoted(db, last_day) + " ORDER BY " + date + "," +
                        Identifier(columns[2]) + "," + Identifier(columns[0]));
  std::vector<LoggedReply> replies;
  std::set<std::string> numbers;
  for (; !log.Eof(); log.Next()) {
    LoggedReply reply;
    reply.tanggal = log.Text(1);
    reply.jam = log.Text(2);
    reply.modul = log.Text(3);
    reply.pengirim = log.Text(4);
    reply.pesan = log.Text(5);
    if (IsSetAside(reply)) {
      reply.fate = ReplyFate::SetAside;
    } else {
      for (const std::string& number : NamedNumbers(reply)) numbers.insert(number);
    }
    replies.push_back(std::move(reply));
  }

  // The sales of those days whose destination a reply names, by day and destination.
  std::map<std::pair<std::string, std::string>, std::vector<SaleRow>> sales;
  const std::vector<std::string> wanted(numbers.begin(), numbers.end());
  for (size_t from = 0; from < wanted.size(); from += kValuesPerStatement) {
    Rows rows = db.OpenSql(
        "SELECT idx,idproduk,barcode,tanggal,status,respond,modem FROM penjualanproduk WHERE "
        "barcode IN (" +
        InList(db, wanted, from) + ") AND tanggal>=" + Quoted(db, first_day) +
        " AND tanggal<=" + Quoted(db, last_day));
    for (; !rows.Eof(); rows.Next()) {
      SaleRow row{{rows.Int("idx"), rows.Text("idproduk"), rows.Text("barcode"),
                   rows.Text("status"), rows.Text("modem")},
                  rows.Text("tanggal"),
                  rows.Text("respond")};
      sales[{row.tanggal, row.sale.barcode}].push_back(std::move(row));
    }
  }

  std::vector<std::string> nameless;  // texts of unsettled replies that named no sale
  for (LoggedReply& reply : replies) {
    if (reply.fate == ReplyFate::SetAside) continue;
    bool named_a_sale = false;
    for (const std::string& number : NamedNumbers(reply)) {
      const auto found = sales.find({reply.tanggal, number});
      if (found == sales.end()) continue;
      named_a_sale = true;
      for (const SaleRow& row : found->second) {
        if (IsSettled(row.sale.status) && row.respond == reply.pesan)
          reply.fate = ReplyFate::Settled;
        if (IsOpen(row.sale.status)) reply.open_sales.push_back(row.sale);
      }
    }
    std::sort(reply.open_sales.begin(), reply.open_sales.end(),
              [](const ProbableSale& a, const ProbableSale& b) { return a.idx > b.idx; });
    reply.open_sales.erase(
        std::unique(reply.open_sales.begin(), reply.open_sales.end(),
                    [](const ProbableSale& a, const ProbableSale& b) { return a.idx == b.idx; }),
        reply.open_sales.end());
    if (reply.fate == ReplyFate::Unsettled && !named_a_sale) nameless.push_back(reply.pesan);
  }

  // A reply that names no sale's number may still be the respond of the sale it settled (a
  // sale in hand whose reply does not carry its number).
  std::set<std::pair<std::string, std::string>> responds;
  for (size_t from = 0; from < nameless.size(); from += kValuesPerStatement) {
    Rows rows = db.OpenSql("SELECT tanggal,respond FROM penjualanproduk WHERE tanggal>=" +
                           Quoted(db, first_day) + " AND tanggal<=" + Quoted(db, last_day) +
                           " AND (status=\"SUKSES\" OR status=\"GAGAL\") AND respond IN (" +
                           InList(db, nameless, from) + ")");
    for (; !rows.Eof(); rows.Next()) responds.insert({rows.Text("tanggal"), rows.Text("respond")});
  }

  for (LoggedReply& reply : replies) {
    if (reply.fate != ReplyFate::Unsettled) continue;
    if (responds.count({reply.tanggal, reply.pesan}) != 0) {
      reply.fate = ReplyFate::Settled;
      continue;
    }
    ReplyRows rows(db, reply.tanggal, "settinggetsn", "");
    if (DecideReplyFrom(db, rows, reply.pesan, kNoSaleInHand, 0).matched) {
      reply.fate = ReplyFate::Settled;
    }
  }
  return replies;
}

UnmatchedReport GroupUnmatched(const std::string& first_day, const std::string& last_day,
                               const std::vector<LoggedReply>& replies) {
  UnmatchedReport report;
  report.first_day = first_day;
  report.last_day = last_day;
  std::map<std::string, size_t> group_of_shape;
  for (const LoggedReply& reply : replies) {
    ++report.logged;
    if (reply.fate == ReplyFate::SetAside) ++report.set_aside;
    if (reply.fate == ReplyFate::Settled) ++report.settled;
    if (reply.fate != ReplyFate::Unsettled) continue;
    ++report.unsettled;
    const std::string shape = WordingShape(reply.pesan);
    const auto [found, added] = group_of_shape.emplace(shape, report.groups.size());
    if (added) report.groups.push_back(UnmatchedGroup{shape, {}, 0});
    UnmatchedGroup& group = report.groups[found->second];
    group.replies.push_back(reply);
    if (!reply.open_sales.empty() || group.replies[group.example].open_sales.empty()) {
      group.example = group.replies.size() - 1;
    }
  }
  std::stable_sort(report.groups.begin(), report.groups.end(),
                   [](const UnmatchedGroup& a, const UnmatchedGroup& b) {
                     return a.replies.size() > b.replies.size();
                   });
  return report;
}

UnmatchedReport FindUnmatched(Database& db, Clock& clock, int days) {
  const std::string today = clock.Date();
  const std::string first_day = DayBefore(today, days - 1);
  return GroupUnmatched(first_day, today, ReadLoggedReplies(db, first_day, today));
}

void PrintUnmatched(const UnmatchedReport& report, const std::string& program, std::ostream& out) {
  const std::string days = report.first_day == report.last_day
                               ? report.first_day
                               : report.first_day + " to " + report.last_day;
  out << "Replies logged " << days << ": " << report.logged
      << "; settled by the rules or a channel: " << report.settled
      << "; set aside: " << report.set_aside
      << " (operator notices, failed sends, stock readings)\n";
  if (report.groups.empty()) {
    out << "No wording is missing a rule: every other reply is settled.\n";
    return;
  }
  out << "Settled no sale: " << Plural(static_cast<size_t>(report.unsettled), "reply", "replies")
      << " in " << Plural(report.groups.size(), "wording", "wordings") << "\n";
  for (size_t i = 0; i < report.groups.size(); ++i) {
    const UnmatchedGroup& group = report.groups[i];
    const LoggedReply& example = group.replies[group.example];
    out << "\n"
        << i + 1 << ") " << Plural(group.replies.size(), "reply", "replies") << ": "
        << Printable(group.shape) << "\n";
    out << "   example: " << example.tanggal << " " << example.jam << " "
        << Printable(example.modul) << " from " << Printable(example.pengirim) << ": "
        << Printable(example.pesan) << "\n";

    std::vector<std::pair<std::string, int>> senders;
    std::vector<ProbableSale> open_sales;
    for (const LoggedReply& reply : group.replies) {
      auto sender = std::find_if(senders.begin(), senders.end(),
                                 [&](const auto& s) { return s.first == reply.pengirim; });
      if (sender == senders.end()) {
        senders.emplace_back(reply.pengirim, 1);
      } else {
        ++sender->second;
      }
      for (const ProbableSale& sale : reply.open_sales) {
        const bool known = std::any_of(open_sales.begin(), open_sales.end(),
                                       [&](const ProbableSale& s) { return s.idx == sale.idx; });
        if (!known) open_sales.push_back(sale);
      }
    }
    out << "   senders:";
    for (size_t s = 0; s < senders.size(); ++s) {
      out << (s == 0 ? " " : ", ") << Printable(senders[s].first) << " (" << senders[s].second
          << ")";
    }
    out << "\n";
    std::sort(open_sales.begin(), open_sales.end(),
              [](const ProbableSale& a, const ProbableSale& b) { return a.idx > b.idx; });
    if (open_sales.empty()) {
      out << "   open sales it probably answers: none\n";
    } else {
      out << "   open sales it probably answers:\n";
      for (size_t s = 0; s < open_sales.size() && s < kSalesShown; ++s) {
        out << "     " << Printable(SaleLine(open_sales[s])) << "\n";
      }
      if (open_sales.size() > kSalesShown) {
        out << "     and " << open_sales.size() - kSalesShown << " more\n";
      }
    }
    out << "   propose a rule: " << program << " --suggest-rule " << ShellWord(example.pesan) << " "
        << (example.open_sales.empty() ? std::string("IDX")
                                       : std::to_string(example.open_sales[0].idx))
        << "\n";
  }
}

}  // namespace tovalink
