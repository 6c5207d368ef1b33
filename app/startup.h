#pragma once
// Start-up of a module: dbsetting.txt, the connection, the lists of the form, the command
// line (the start argument) and the module's stored settings. Runs on the user-interface
// thread before the window is shown.

#include <string>
#include <vector>

#include "core/form.h"
#include "store/database.h"
#include "store/settings_file.h"

namespace tovalink {

// One "key=value" piece of the start argument.
struct StartPiece {
  std::string key;
  std::string value;
};
// The pieces as "#" splits them: an empty piece between two "#" counts, nothing after a final
// "#" does.
std::vector<StartPiece> SplitStartArgument(const std::string& argument);
// Sets the boxes named by the pieces, left to right; unknown keys and empty pieces are ignored.
void ApplyStartArgument(Form& form, const std::vector<StartPiece>& pieces);

// Loads the module named by csumber from modulaktif into the boxes, then takes ProviderType
// from ctipeprov and shows gmk exactly for "MKIOS". Raises DatabaseError.
void ModuleSettings(Form& form, Database& db);

enum class StartupOutcome {
  NoSettingsFile,  // "File dbsetting.txt tidak ada": nothing else was done
  QueryFailed,     // the lists could not be read; the library's text was shown
  Idle,            // settings loaded; the module waits for START
  StartModule,     // the start argument had more than two pieces: ModuleSettings ran, START next
};

// Runs start-up: reads dbsetting.txt from `program_folder`, connects, fills the lists, applies
// the start argument and, for more than two pieces, runs ModuleSettings. Messages for the
// operator go to the form. START itself is the caller's (module control).
StartupOutcome RunStartup(Form& form, Database& db, const std::string& program_folder,
                          const std::string& start_argument);

// The warning for a dbsetting.txt that users other than its owner and group may read or
// change (its masking is not encryption), or "" when they cannot reach it: the file's own
// permissions and the folders on its way are looked at, a link followed to the file itself.
std::string SettingsFileExposure(const std::string& path);

// The folder of the running program (not the current folder).
std::string ProgramFolder();

// The tray hint: "Com:" + port + "(" + module name + ")".
std::string TrayHint(const Form& form);

}  // namespace tovalink
