#pragma once
// The command line shared by tovalinkd and tovalink: either one of the options below as the
// only arguments, or the start argument ("#"-joined key=value pieces) as the first argument.

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
  Status,
  SetAutorun,
  Invalid
};

struct Options {
  OptionKind kind = OptionKind::Run;
  std::string start_argument;       // Run, Settings
  std::string text;                 // Mask, ExplainReply, SetAutorun (the module name)
  std::string destination = "xxxxxx";  // ExplainReply
  std::string error;                // Invalid
};

Options ParseOptions(const std::vector<std::string>& arguments);
void PrintUsage(std::ostream& out, const std::string& program);

// Runs the options that need no module (help, version, mask, settings, explain-reply, status,
// set-autorun) and
// returns the exit status; Run is the caller's.
int RunToolOption(const Options& options, const std::string& program, std::ostream& out,
                  std::ostream& err);

}  // namespace tovalink
