#pragma once
// The command line shared by tovalinkd and tovalink: either one of the options below as the
// only arguments, or the start argument ("#"-joined key=value pieces) as the first argument.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace tovalink {

enum class OptionKind {
  Run,
  Help,
  Version,
  Mask,
  Settings,
  ExplainReply,
  Unmatched,
  SuggestRule,
  Status,
  SetAutorun,
  Invalid
};

struct Options {
  OptionKind kind = OptionKind::Run;
  std::string start_argument;          // Run, Settings
  std::string text;                    // Mask, ExplainReply, SuggestRule, SetAutorun (the name)
  std::string destination = "xxxxxx";  // ExplainReply
  int days = 1;                        // Unmatched
  int64_t idx = 0;                     // SuggestRule: the sale the reply answers
  std::string sn;                      // SuggestRule: the serial number, "" to find it
  std::string tipepesan;               // SuggestRule: "SUKSES" or "GAGAL" to force, "" to read
  std::string error;                   // Invalid
};

Options ParseOptions(const std::vector<std::string>& arguments);
void PrintUsage(std::ostream& out, const std::string& program);

// Runs the options that need no module (help, version, mask, settings, explain-reply,
// unmatched, suggest-rule, status, set-autorun) and returns the exit status; Run is the
// caller's. Texts shown by unmatched and suggest-rule are written as UTF-8, and a reply given
// to suggest-rule in UTF-8 is taken in the module's single bytes.
int RunToolOption(const Options& options, const std::string& program, std::ostream& out,
                  std::ostream& err);

}  // namespace tovalink
