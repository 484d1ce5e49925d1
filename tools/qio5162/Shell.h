// shell and run: the same commands line by line, in one session that keeps
// the target booted and the device open between commands.
#pragma once

#include <string>

#include "Session.h"

namespace qio::tool {

// The interactive prompt (readline with history on a terminal; plain lines
// from a pipe). Returns the exit code of the last command.
int RunShell(const CommonOptions& options);
// Runs the commands of a file; stops at the first failure and reports its
// line number. Returns 0 or the failing command's exit code.
int RunFile(const std::string& path, Session& session, const CommonOptions& options, int depth);

}  // namespace qio::tool
