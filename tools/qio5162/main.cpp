// qio5162: the command-line tool of the QIO-5162 board on the hosted target.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "App.h"
#include "Interrupt.h"

namespace {

// Whether everything written to standard output reached it (a redirection
// to a full disk loses it without a word otherwise).
bool OutputWritten() {
  std::cout.flush();
  const bool stream = static_cast<bool>(std::cout);
  const bool flushed = std::fflush(stdout) == 0;
  return stream && flushed && std::ferror(stdout) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  qio::tool::InstallInterruptHandler();
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  const int status = qio::tool::RunArguments(args);
  if (!OutputWritten()) {
    std::cerr << "qio5162: writing the output failed\n";
    if (status == qio::tool::kExitOk) return qio::tool::kExitDevice;
  }
  return status;
}
