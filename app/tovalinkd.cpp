// tovalinkd: the module without a window.
#include <iostream>
#include <string>
#include <vector>

#include "app/options.h"

int main(int argc, char** argv) {
  using namespace tovalink;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const Options options = ParseOptions(arguments);
  if (options.kind != OptionKind::Run) {
    return RunToolOption(options, "tovalinkd", std::cout, std::cerr);
  }
  std::cerr << "tovalinkd: running a module is not built yet\n";
  return 2;
}
