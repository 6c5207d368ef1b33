#include "app/status.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>

#include "sms/cp1252.h"
#include "store/text.h"

namespace tovalink {

namespace {

constexpr int kSecondsPerDay = 86400;
// A heartbeat this far ahead of the reader's clock is the same second seen on either side of
// a tick, not one from yesterday.
constexpr int kAheadToleranceSeconds = 5;

std::optional<int> Number(const std::string& text, int below) {
  if (text.empty() || text.size() > 2) return std::nullopt;
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value >= below) {
    return std::nullopt;
  }
  return value;
}

// Names address sales the way the database compares them: letter case does not count.
std::string Key(const std::string& name) {
  std::string key = name;
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  while (!key.empty() && key.back() == ' ') key.pop_back();
  return key;
}

// A database text made safe for a terminal: control bytes (and the bytes Windows-1252 leaves
// unassigned, which would become control characters) escaped, the rest as UTF-8.
std::string Shown(const std::string& text) {
  std::string safe;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unassigned =
        byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
    if (byte < ' ' || byte == 0x7F || unassigned) {
      static const char kHex[] = "0123456789ABCDEF";
      safe += "\\x";
      safe += kHex[byte >> 4];
      safe += kHex[byte & 15];
    } else {
      safe += c;
    }
  }
  return Cp1252ToUtf8(safe);
}

std::string AgeText(int seconds) {
  if (seconds < 120) return std::to_string(seconds) + " s";
  if (seconds < 2 * 3600) return std::to_string(seconds / 60) + " min";
  return std::to_string(seconds / 3600) + " h";
}

const char* StateText(ModuleState state) {
  switch (state) {
    case ModuleState::Alive:
      return "alive";
    case ModuleState::Stale:
      return "stale";
    case ModuleState::Stopped:
      return "stopped";
    case ModuleState::NoRow:
      return "no row";
  }
  return "";
}

bool ShouldRun(const ModuleStatus& module) {
  return module.state != ModuleState::NoRow && module.autorun == "1";
}

bool Stuck(const SaleInHandStatus& sale) {
  return !sale.age || *sale.age > kStuckAfterSeconds;
}

// "yyyy-mm-dd hh:mm:ss" (the time may be missing) as the local clock's milliseconds; none when
// it does not read.
std::optional<int64_t> LocalMs(const std::string& text) {
  LocalDateTime at;
  int fields = std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &at.year, &at.month, &at.day,
                           &at.hour, &at.minute, &at.second);
  if (fields != 3 && fields != 6) return std::nullopt;
  if (fields == 3) at.hour = at.minute = at.second = 0;
  if (at.month < 1 || at.month > 12 || at.day < 1 || at.day > 31) return std::nullopt;
  return Clock::Join(at);
}

}  // namespace

std::optional<int> HeartbeatAge(const std::string& waktu, int second_of_day) {
  const size_t first = waktu.find(':');
  const size_t second = first == std::string::npos ? first : waktu.find(':', first + 1);
  if (second == std::string::npos) return std::nullopt;
  const auto hour = Number(waktu.substr(0, first), 24);
  const auto minute = Number(waktu.substr(first + 1, second - first - 1), 60);
  const auto seconds = Number(waktu.substr(second + 1), 60);
  if (!hour || !minute || !seconds) return std::nullopt;
  const int beat = *hour * 3600 + *minute * 60 + *seconds;
  const int age = ((second_of_day - beat) % kSecondsPerDay + kSecondsPerDay) % kSecondsPerDay;
  return age > kSecondsPerDay - kAheadToleranceSeconds ? 0 : age;
}

OutletStatus ReadOutletStatus(Database& db, Clock& clock) {
  OutletStatus status;
  const LocalDateTime now = clock.Local();
  status.date = Clock::FormatDate(now);
  status.time = Clock::FormatTime(now);
  const int second_of_day = now.hour * 3600 + now.minute * 60 + now.second;

  std::map<std::string, size_t> by_key;
  for (Rows rows = db.OpenSql("SELECT namamodul, comm, caradial, waktu, statrun, autorun, "
                              "lokasifile FROM modulaktif ORDER BY namamodul");
       !rows.Eof(); rows.Next()) {
    ModuleStatus module;
    module.name = rows.Text("namamodul");
    module.port = rows.Text("comm");
    module.provider_type = rows.Text("caradial");
    module.waktu = rows.Text("waktu");
    module.autorun = rows.Text("autorun");
    module.heartbeat_age = HeartbeatAge(module.waktu, second_of_day);
    if (rows.Text("statrun") != "1") {
      module.state = ModuleState::Stopped;
    } else if (module.heartbeat_age && *module.heartbeat_age <= kStaleAfterSeconds) {
      module.state = ModuleState::Alive;
    } else {
      module.state = ModuleState::Stale;
    }
    if (module.autorun == "2") module.last_error = rows.Text("lokasifile");
    by_key.emplace(Key(module.name), status.modules.size());
    status.modules.push_back(std::move(module));
  }

  // Sales addressed to a name without a row are never taken: they are shown all the same.
  auto module_of = [&](const std::string& name) -> ModuleStatus& {
    const auto [entry, added] = by_key.emplace(Key(name), status.modules.size());
    if (added) {
      ModuleStatus module;
      module.name = name;
      status.modules.push_back(std::move(module));
    }
    return status.modules[entry->second];
  };
  for (Rows rows = db.OpenSql("SELECT modem, status, COUNT(*) FROM penjualanproduk WHERE "
                              "tanggal=\"" +
                              db.Escape(status.date) + "\" GROUP BY modem, status");
       !rows.Eof(); rows.Next()) {
    SaleCounts& sales = module_of(rows.Text(0)).sales;
    const std::string sale_status = rows.Text(1);
    const int count = static_cast<int>(rows.Int(rows.Columns()[2]));
    if (sale_status == "SUKSES") {
      sales.sukses += count;
    } else if (sale_status == "GAGAL") {
      sales.gagal += count;
    } else if (sale_status == "PENDING") {
      sales.pending += count;
    } else if (sale_status.empty()) {
      sales.unsettled += count;
    } else {
      sales.others[sale_status] += count;
    }
  }
  for (Rows rows = db.OpenSql("SELECT modem, COUNT(*) FROM penjualanproduk WHERE flag=0 "
                              "GROUP BY modem");
       !rows.Eof(); rows.Next()) {
    module_of(rows.Text(0)).sales.waiting += static_cast<int>(rows.Int(rows.Columns()[1]));
  }
  // Taken and without an outcome, any day: the sale in hand of a running module, or one that a
  // crash, a power cut or a lost server left (the module's next start gives it its outcome).
  const int64_t now_ms = clock.NowMs();
  for (Rows rows = db.OpenSql("SELECT modem, idx, idproduk, barcode, tanggal, waktu, "
                              "tglwaktuproses, respond FROM penjualanproduk WHERE flag=1 AND "
                              "status=\"\" ORDER BY modem, idx");
       !rows.Eof(); rows.Next()) {
    SaleInHandStatus sale;
    sale.module = rows.Text("modem");
    sale.idx = rows.Int("idx");
    sale.product = rows.Text("idproduk");
    sale.destination = rows.Text("barcode");
    sale.since = rows.Text("tglwaktuproses");
    if (sale.since.empty()) sale.since = Trim(rows.Text("tanggal") + " " + rows.Text("waktu"));
    if (const std::optional<int64_t> since_ms = LocalMs(sale.since)) {
      sale.age = static_cast<int>(std::max<int64_t>(0, (now_ms - *since_ms) / 1000));
    }
    sale.respond = rows.Text("respond");
    ++module_of(sale.module).sales.in_hand;
    status.in_hand.push_back(std::move(sale));
  }
  return status;
}

void PrintOutletStatus(const OutletStatus& status, std::ostream& out) {
  out << "Tovalink modules at " << status.date << " " << status.time << " (alive: statrun 1 and a "
      << "heartbeat at most " << kStaleAfterSeconds << " s old)\n\n";
  std::vector<std::vector<std::string>> table{{"MODULE", "PORT", "TYPE", "STATE", "HEARTBEAT",
                                               "AUTORUN", "SUKSES", "GAGAL", "PENDING", "UNSETTLED",
                                               "WAITING", "IN HAND"}};
  for (const ModuleStatus& module : status.modules) {
    std::string heartbeat = "-";
    if (module.heartbeat_age) {
      heartbeat = Shown(module.waktu) + " (" + AgeText(*module.heartbeat_age) + ")";
    } else if (!module.waktu.empty()) {
      heartbeat = Shown(module.waktu) + " (?)";
    }
    const SaleCounts& sales = module.sales;
    const bool row = module.state != ModuleState::NoRow;
    table.push_back({Shown(module.name), row ? Shown(module.port) : "-",
                     row ? Shown(module.provider_type) : "-", StateText(module.state),
                     row ? heartbeat : "-", row ? Shown(module.autorun) : "-",
                     std::to_string(sales.sukses), std::to_string(sales.gagal),
                     std::to_string(sales.pending), std::to_string(sales.unsettled),
                     std::to_string(sales.waiting), std::to_string(sales.in_hand)});
  }
  std::vector<size_t> widths(table.front().size(), 0);
  for (const auto& line : table) {
    for (size_t column = 0; column < line.size(); ++column) {
      widths[column] = std::max(widths[column], line[column].size());
    }
  }
  for (const auto& line : table) {
    std::string text;
    for (size_t column = 0; column < line.size(); ++column) {
      text += line[column];
      if (column + 1 < line.size())
        text += std::string(widths[column] - line[column].size() + 2, ' ');
    }
    out << text << "\n";
  }
  out << "\nSales of " << status.date << " by status; WAITING: not taken yet (flag 0), any day;\n"
      << "IN HAND: taken (flag 1) and without a status, any day.\n";

  std::vector<std::string> notes;
  for (const ModuleStatus& module : status.modules) {
    if (!module.last_error.empty()) {
      notes.push_back(Shown(module.name) + " ended on an error: " + Shown(module.last_error));
    }
    for (const auto& [sale_status, count] : module.sales.others) {
      notes.push_back(Shown(module.name) + " has " + std::to_string(count) +
                      " sales of today with the status \"" + Shown(sale_status) + "\"");
    }
    if (module.state == ModuleState::NoRow && module.sales.waiting > 0) {
      notes.push_back(Shown(module.name) + " has no row in modulaktif: its " +
                      std::to_string(module.sales.waiting) +
                      " waiting sales are taken by no module");
    }
  }
  if (!notes.empty()) out << "\n";
  for (const std::string& note : notes) out << note << "\n";

  if (!status.in_hand.empty()) {
    out << "\nTaken without an outcome (stuck once older than " << kStuckAfterSeconds / 60
        << " min):\n";
  }
  int stuck = 0;
  for (const SaleInHandStatus& sale : status.in_hand) {
    stuck += Stuck(sale);
    std::string respond = Shown(sale.respond);
    if (respond.size() > 60) respond = respond.substr(0, 60) + "...";
    out << "  " << Shown(sale.module) << " sale " << sale.idx << " (" << Shown(sale.product)
        << " to " << Shown(sale.destination) << "), "
        << (sale.age ? AgeText(*sale.age) : std::string("?")) << " since "
        << (sale.since.empty() ? std::string("-") : Shown(sale.since))
        << (Stuck(sale) ? ", STUCK" : "") << (respond.empty() ? "" : ": " + respond) << "\n";
  }

  std::string down;
  for (const ModuleStatus& module : status.modules) {
    if (ShouldRun(module) && module.state != ModuleState::Alive) {
      down +=
          (down.empty() ? "" : ", ") + Shown(module.name) + " (" + StateText(module.state) + ")";
    }
  }
  out << "\n";
  if (down.empty() && stuck == 0) out << "OK: every module with autorun 1 is alive.\n";
  if (!down.empty()) out << "NOT OK: autorun 1 but not alive: " << down << "\n";
  if (stuck > 0) {
    out << "NOT OK: " << stuck << " sales taken without an outcome for more than "
        << kStuckAfterSeconds / 60 << " min: find out what the operator did with each "
        << "(docs/operations.md) and settle it\n";
  }
}

int StatusExitCode(const OutletStatus& status) {
  for (const ModuleStatus& module : status.modules) {
    if (ShouldRun(module) && module.state != ModuleState::Alive) return 1;
  }
  for (const SaleInHandStatus& sale : status.in_hand) {
    if (Stuck(sale)) return 1;
  }
  return 0;
}

}  // namespace tovalink
