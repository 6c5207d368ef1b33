#include "app/startup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "core/errors.h"
#include "store/settings_file.h"
#include "store/text.h"

namespace tovalink {

namespace {

bool ReadWholeFile(const std::string& path, std::string& text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream content;
  content << file.rdbuf();
  text = content.str();
  return true;
}

}  // namespace

std::vector<StartPiece> SplitStartArgument(const std::string& argument) {
  std::vector<StartPiece> pieces;
  for (const std::string& piece : SplitText(argument, "#")) {
    const size_t first = piece.find('=');
    if (first == std::string::npos) {
      pieces.push_back({piece, ""});
      continue;
    }
    const size_t second = piece.find('=', first + 1);
    pieces.push_back({piece.substr(0, first),
                      second == std::string::npos ? piece.substr(first + 1)
                                                  : piece.substr(first + 1, second - first - 1)});
  }
  return pieces;
}

void ApplyStartArgument(Form& form, const std::vector<StartPiece>& pieces) {
  for (const StartPiece& piece : pieces) {
    if (piece.key == "comm") {
      form.cport = piece.value;
    } else if (piece.key == "baudrate") {
      form.cbaud = piece.value;
    } else if (piece.key == "handshake") {
      form.chands = piece.value;
    } else if (piece.key == "tipemodem") {
      form.cmodem = piece.value;
    } else if (piece.key == "namamodul") {
      form.csumber = piece.value;
    } else if (piece.key == "caradial") {
      form.ctipeprov = piece.value;
    } else if (piece.key == "metodetrx") {
      form.cmethod = piece.value;
    } else if (piece.key == "pin") {
      form.epin = piece.value;
    }
  }
}

void ModuleSettings(Form& form, Database& db) {
  Rows rows = db.OpenSql("SELECT * FROM modulaktif where namamodul=\"" + db.Escape(form.csumber) +
                         "\"");
  if (rows.Count() >= 1) {
    form.epin = rows.Text("pin");
    form.cport = rows.Text("comm");
    form.chands = rows.Text("handshake");
    form.cbaud = rows.Text("autoretur");
    form.ctipeprov = rows.Text("caradial");
    form.cmodem = rows.Text("tipemodem");
    form.cmethod = rows.Text("metodetrx");
    form.etunggu = rows.Text("waktutunggu");
  }
  form.ProviderType = form.ctipeprov;
  form.SetGmkVisible(form.ProviderType == "MKIOS");
}

StartupOutcome RunStartup(Form& form, Database& db, const std::string& program_folder,
                          const std::string& start_argument) {
  std::string text;
  if (!ReadWholeFile(program_folder + "/" + kSettingsFileName, text) || text.empty()) {
    form.ShowMessage("File dbsetting.txt tidak ada");
    return StartupOutcome::NoSettingsFile;
  }
  const std::string exposure = SettingsFileExposure(program_folder + "/" + kSettingsFileName);
  if (!exposure.empty()) form.ShowMessage(exposure);
  const ConnectionSettings settings = ParseSettingsFile(text);
  try {
    db.Connect(settings);
  } catch (const DatabaseError&) {
    form.ShowMessage("Tidak Konek ke Database , cek init.ini");
  }
  form.StopRequested = true;

  form.cmodem_items = {"WAVECOM", "SIEMENS", "NOKCDMA_6235"};
  form.cmodem = form.cmodem_items.front();
  form.cport_items.clear();
  for (int port = 1; port <= 100; ++port) form.cport_items.push_back(std::to_string(port));
  form.cport = "4";
  form.cbaud_items = {"9600", "115200"};
  form.cbaud = "115200";
  form.chands_items = {"2", "1", "0"};
  form.chands = "2";

  try {
    form.ctipeprov_items = {"DOMPET", "MKIOS", "MTRONIK"};
    for (Rows rows = db.OpenSql("SELECT idserver from hostserver order by idserver"); !rows.Eof();
         rows.Next()) {
      form.ctipeprov_items.push_back(rows.Text(0));
    }
    form.ctipeprov = form.ctipeprov_items.front();
    form.csumber_items.clear();
    for (Rows rows = db.OpenSql("SELECT namamodul FROM modulaktif ORDER BY namamodul");
         !rows.Eof(); rows.Next()) {
      form.csumber_items.push_back(rows.Text(0));
    }
    form.csumber.clear();
  } catch (const DatabaseError& error) {
    form.ShowMessage(error.what());
    return StartupOutcome::QueryFailed;
  }

  const std::vector<StartPiece> pieces = SplitStartArgument(start_argument);
  ApplyStartArgument(form, pieces);
  if (pieces.size() > 2) {
    try {
      ModuleSettings(form, db);
    } catch (const DatabaseError& error) {
      form.ShowMessage(error.what());
      return StartupOutcome::QueryFailed;
    }
    return StartupOutcome::StartModule;
  }
  return StartupOutcome::Idle;
}

std::string SettingsFileExposure(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return "";
  const std::string file = resolved;
  struct stat info {};
  if (stat(file.c_str(), &info) != 0 || (info.st_mode & (S_IROTH | S_IWOTH)) == 0) return "";
  // Others reach the file only through folders they may enter.
  for (size_t slash = file.rfind('/'); slash != std::string::npos && slash > 0;
       slash = file.rfind('/', slash - 1)) {
    if (stat(file.substr(0, slash).c_str(), &info) != 0 || (info.st_mode & S_IXOTH) == 0) {
      return "";
    }
  }
  return "Peringatan: dbsetting.txt dapat dibaca pengguna lain, jalankan: chmod o-rwx " + file;
}

std::string ProgramFolder() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  std::string folder(path, static_cast<size_t>(length));
  const size_t slash = folder.rfind('/');
  return slash == std::string::npos ? "." : folder.substr(0, slash);
}

std::string TrayHint(const Form& form) { return "Com:" + form.cport + "(" + form.csumber + ")"; }

}  // namespace tovalink
