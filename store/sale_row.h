#pragma once
// The sale's row: every statement that writes `penjualanproduk`, in one place. Nothing else
// builds one; the worker, the channels, module control and reply settlement run these.
//
// The life of a sale, as its row shows it:
//
//   untaken   flag 0, status "". The cashier software wrote it, addressed by `modem` to a
//             module's name.
//   taken     flag 1 (Take). Only the module whose take changed the row executes the sale, so
//             two programs of one module name never execute it twice. From here on the
//             module's sale journal (store/sale_journal.h) knows the sale until its outcome.
//   begun     flag 1 and `tglwaktuproses` (Begin): a channel has begun the sale; the time is
//             when it began. A taken sale without it was never handed to a channel.
//   outcome   `status` "SUKSES" (with `sn`/`sn_token` when the reply carried a serial number)
//             or "GAGAL", written by reply settlement or by a channel that judged the sale
//             itself (the MKIOS dial and stock readings); or "PENDING" with the last text in
//             `respond`, when the request went out and no reply decided it (a reply of the same
//             day still settles it). A sale the channel could not carry out (a menu item or a
//             denomination its SIM does not offer) keeps status "" with a `respond` that says
//             why, for the operator.
//
// A sale the module is cut off from (STOP, a fatal error, a crash or power cut, a dead
// server) gets its outcome from where it got to: before its channel's point of no return
// (the SMS submitted, the code dialled, the PIN typed into the toolkit, the first key pressed)
// the operator certainly never saw it, and it ends "GAGAL" (NeverSent: safe to sell again);
// after it, the operator may have executed it, and it ends "PENDING" (LeftWithOperator: check
// before selling again). A sale whose own values cannot be used ends "GAGAL" at once
// (Refused), nothing sent.
//
// Every text value passes through the connection's escaping (Database::Escape); the texts
// of the statements are the ones the cashier software and the outlet's tools have always seen.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "store/database.h"

namespace tovalink::sale_row {

// "UPDATE penjualanproduk SET flag=1 WHERE idx=N AND flag=0": changes the row only while the
// sale is untaken.
std::string Take(int64_t idx);

// How a channel's begun mark is spaced: the M-TRONIK channel's has two spaces before WHERE,
// as the outlet's tools have always seen it; every other channel's one.
enum class Spacing { OneSpace, TwoSpaces };
// "UPDATE penjualanproduk SET flag=1,tglwaktuproses='yyyy-mm-dd hh:mm:ss' WHERE idx=N".
std::string Begin(int64_t idx, const LocalDateTime& now, Spacing spacing);

// The request went out and no reply decided the sale: "PENDING" with `respond`.
std::string Pending(const Database& db, int64_t idx, std::string_view respond);
// `respond` alone (the MKIOS dial answer that does not decide the sale by itself).
std::string Respond(const Database& db, int64_t idx, std::string_view respond);
// The SIM's menu has no item `menu_name`: respond "MENU <name> tidak ADA ", status unchanged.
std::string MenuMissing(const Database& db, int64_t idx, std::string_view menu_name);
// The wallet's XL code carries no such amount: respond "DENOM <nominal> TIDAK DAPAT MELAKUKAN
// XLTUNAI" (the statement's "set" in lower case), status unchanged.
std::string DenomRefused(const Database& db, int64_t idx, std::string_view nominal);

// Reply settlement: "GAGAL" with the reply, or "SUKSES" with the reply and the serial number
// (an empty one leaves `sn` untouched and writes an empty `sn_token`).
std::string SettledFailed(const Database& db, int64_t idx, std::string_view reply);
std::string SettledSucceeded(const Database& db, int64_t idx, std::string_view reply,
                             std::string_view sn);

// The MKIOS channel: the dial answer carried the product's success wording ("SUKSES" with the
// answer and the serial number in `sn_token`); or the voucher stock decided ("SUKSES" or
// "GAGAL", status alone).
std::string DialSucceeded(const Database& db, int64_t idx, std::string_view reply,
                          std::string_view sn);
enum class StockVerdict { Sold, NotSold };
std::string StockJudged(int64_t idx, StockVerdict verdict);

// A take whose answer the connection lost, on a row that shows it taken and never begun: this
// program, or another of the same name, took it; it is not sent from here.
inline constexpr const char* kTakeLostNote =
    "BELUM DIKIRIM: koneksi database putus saat transaksi diambil";
std::string TakeLost(int64_t idx);

// A sale cut off before its point of no return: "GAGAL" with `respond`. Like LeftWithOperator
// it changes only a row that is taken and still has no status, so that it never overwrites
// an outcome that reached the row first.
std::string NeverSent(const Database& db, int64_t idx, std::string_view respond);
// A sale cut off after its point of no return: "PENDING", `respond` the note, followed by
// " | " and what the row held when it held something.
std::string LeftWithOperator(const Database& db, int64_t idx, std::string_view note);
// A sale whose values cannot be used: "GAGAL" with the reason, nothing sent.
std::string Refused(const Database& db, int64_t idx, std::string_view reason);

}  // namespace tovalink::sale_row
