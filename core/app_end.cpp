#include "core/app_end.h"

#include <unistd.h>

#include <cstdio>

namespace tovalink {

void ProcessEnd::EndApplication(int exit_status) {
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(exit_status);
}

}  // namespace tovalink
