// The command line: every command and its options (CLI11), and running one
// parsed command against a session with the tool's exit codes:
// 0 success, 1 a device or library error, 2 a usage error, 3 `events` ended
// by its time-out without any event.
#pragma once

#include <string>
#include <vector>

#include "Session.h"

namespace qio::tool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitDevice = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoEvent = 3;

// Where a command line comes from.
struct LineContext {
  Session* session = nullptr;  // the shell's or run file's session; null for a one-shot command
  const CommonOptions* defaults = nullptr;  // options given to the shell or to `run`
  int depth = 0;               // nesting of `run` files
};

// The process's command line (without the program name).
int RunArguments(const std::vector<std::string>& args);
// One line of the shell or of a run file, in their session.
int RunLine(const std::string& line, const LineContext& context);
// The help text of the whole tool, or of one command ("dio write").
std::string HelpText(const std::string& command);

}  // namespace qio::tool
