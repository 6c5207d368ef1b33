// settle_bench: how fast replies are settled against an outlet database of realistic size,
// without and then with the recommended indexes of schema/indexes.sql, and what one reply's
// settlement is made of (bench/settle_run.h).
//
//   settle_bench [--sales N] [--rules N] [--replies N] [--unindexed-replies N]
//                [--repeats N] [--keep]
//   defaults:     1000000      500         1500          20    200

#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>

#include "bench/settle_run.h"

namespace tovalink {
namespace {

SettleBenchOptions ParseOptions(int argc, char** argv) {
  SettleBenchOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> long {
      if (i + 1 >= argc) throw std::runtime_error(arg + " needs a number");
      return std::stol(argv[++i]);
    };
    if (arg == "--sales") {
      options.sales = value();
    } else if (arg == "--rules") {
      options.rules = static_cast<int>(value());
    } else if (arg == "--replies") {
      options.replies = static_cast<int>(value());
    } else if (arg == "--unindexed-replies") {
      options.unindexed_replies = static_cast<int>(value());
    } else if (arg == "--repeats") {
      options.statement_repeats = static_cast<int>(value());
    } else if (arg == "--keep") {
      options.keep = true;
    } else {
      throw std::runtime_error(
          "usage: settle_bench [--sales N] [--rules N] [--replies N] [--unindexed-replies N] "
          "[--repeats N] [--keep]");
    }
  }
  return options;
}

int Main(int argc, char** argv) {
  const SettleBenchOptions options = ParseOptions(argc, argv);
  const SettleResult result = RunSettleBench(options, std::cout);
  std::printf("replies per second: %.1f with indexes", result.replies_per_second);
  if (options.unindexed_replies > 0) {
    std::printf(", %.1f without", result.unindexed_replies_per_second);
  }
  std::printf("\none reply's statements, each run alone:\n");
  PrintSettleProfile(result, std::cout);
  return 0;
}

}  // namespace
}  // namespace tovalink

int main(int argc, char** argv) {
  try {
    return tovalink::Main(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "settle_bench: %s\n", error.what());
    return 1;
  }
}
