// Runs qio5162-cfg as a process on a script tree and collects what it said.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "ScriptTestSupport.h"

namespace qio::config::testing {

struct ToolRun {
  int code;
  std::string out;
  std::string err;
};

// Runs the tool with `args` (already shell-safe words), with --root of the
// tree unless `withRoot` is false.
inline ToolRun RunCfgTool(const ScriptTree& tree, const std::string& args, bool withRoot = true) {
  const std::string out = tree.root() + "stdout.txt";
  const std::string err = tree.root() + "stderr.txt";
  const std::string command = std::string(QIO_CFG_TOOL) + (withRoot ? " --root " + tree.root() : "") + " " + args +
                              " >" + out + " 2>" + err;
  const int status = std::system(command.c_str());
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return {code, ReadFile(out), ReadFile(err)};
}

}  // namespace qio::config::testing
