#pragma once
// dbsetting.txt: the connection settings of the outlet database, one "key=value" line each,
// three of them masked so that the file does not show them at a glance. The masking is not
// encryption: protect the file by its permissions.

#include <string>

#include "store/database.h"

namespace tovalink {

// The file that names the database, beside the program.
inline constexpr const char* kSettingsFileName = "dbsetting.txt";

// The masking of "dbname", "user" and "pass" in dbsetting.txt.
std::string UnmaskSetting(const std::string& stored);
// The inverse: what to write into dbsetting.txt for a plain value. Raises
// std::invalid_argument when the masked form would not survive the file's own rules (a
// stored byte that is ";", "=", a line end or a blank at either end).
std::string MaskSetting(const std::string& plain);

// Parses the text of dbsetting.txt (lines ended by CR LF or LF).
ConnectionSettings ParseSettingsFile(const std::string& text);

}  // namespace tovalink
