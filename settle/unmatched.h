#pragma once
// --unmatched: the replies of the exchange log (`logtrxsms`) that settled no sale, grouped by
// their wording, so that a technician sees at once which wordings the rules of
// `settinggetsn` do not know, and which open sales are waiting for them. Reads only.
//
// The log records no link from a reply to its sale, so a logged reply counts as having
// settled a sale when
//   - a sale of its day holds it as its `respond` with the status "SUKSES" or "GAGAL" (the
//     settlement, or a channel's own judgement, wrote it there), or
//   - the module's own decision, over the rules of the table and the sales of its day of any
//     status, matches it (so a reply to a sale that another reply had settled already counts,
//     and so does one that a rule of another `tipepesan` stops on purpose).
// Rows that are no operator's reply to a sale are set aside: notices from a sender beginning
// with "62962", the module's own "FAILED SENT" notes and its stock readings ("*776*").
//
// Called on the user-interface thread of a tool; database errors reach the caller.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "core/clock.h"
#include "store/database.h"

namespace tovalink {

// An open sale (status "" or "PENDING") that a reply probably answers: a number in the reply's
// text, or in the dial code it answered, is the sale's destination, on the reply's day.
struct ProbableSale {
  int64_t idx = 0;
  std::string idproduk;
  std::string barcode;
  std::string status;
  std::string modem;
};

enum class ReplyFate { SetAside, Settled, Unsettled };

// One row of the exchange log, by position: date, time, module, counterpart (the sender, or
// the code dialled), text.
struct LoggedReply {
  std::string tanggal;
  std::string jam;
  std::string modul;
  std::string pengirim;
  std::string pesan;
  ReplyFate fate = ReplyFate::Unsettled;
  std::vector<ProbableSale> open_sales;  // newest first
};

// The rows of the exchange log dated `first_day` to `last_day` ("yyyy-mm-dd"), in the order
// logged, each with its fate and the open sales it probably answers.
std::vector<LoggedReply> ReadLoggedReplies(Database& db, const std::string& first_day,
                                           const std::string& last_day);

// The replies of one wording shape (see WordingShape) that settled no sale.
struct UnmatchedGroup {
  std::string shape;
  std::vector<LoggedReply> replies;  // in the order logged
  // The reply shown as the example: the last one that probably answers an open sale, or the
  // last one.
  size_t example = 0;
};

struct UnmatchedReport {
  std::string first_day;
  std::string last_day;
  int logged = 0;
  int set_aside = 0;
  int settled = 0;
  int unsettled = 0;
  std::vector<UnmatchedGroup> groups;  // most replies first, then the earliest first
};

UnmatchedReport GroupUnmatched(const std::string& first_day, const std::string& last_day,
                               const std::vector<LoggedReply>& replies);

// The report of the last `days` days: today and the `days` - 1 days before it.
UnmatchedReport FindUnmatched(Database& db, Clock& clock, int days);

// The date `days_back` days before `day` ("yyyy-mm-dd").
std::string DayBefore(const std::string& day, int days_back);

// The report as a technician reads it at a terminal: a summary, then each group with its
// count, its shape, an example, the senders, the open sales it probably answers and the
// command (`program` --suggest-rule) that proposes a rule from the example. Single bytes;
// control bytes written as \xNN.
void PrintUnmatched(const UnmatchedReport& report, const std::string& program, std::ostream& out);

// A text with control bytes (and the bytes Windows-1252 leaves unassigned) written as \xNN.
std::string Printable(const std::string& text);

// The text as one shell word: in single quotes, or as $'...' when it holds a single quote, a
// backslash or bytes that Printable escapes.
std::string ShellWord(const std::string& text);

}  // namespace tovalink
