// qio5162: the command-line tool of the QIO-5162 board on the hosted target.
#include <string>
#include <vector>

#include "App.h"
#include "Interrupt.h"

int main(int argc, char** argv) {
  qio::tool::InstallInterruptHandler();
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return qio::tool::RunArguments(args);
}
