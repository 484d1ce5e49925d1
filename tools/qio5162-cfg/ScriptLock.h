// Keeps other qio5162-cfg runs off a script while one run reads, changes and
// saves it, so that runs started at the same time (parallel build jobs) do
// not save over each other's changes.
#pragma once

#include <string>

namespace qio::tools {

class ScriptLock {
 public:
  // Waits until no other run holds the script at `path`. A script that cannot
  // be opened is not locked: loading it then reports the problem.
  explicit ScriptLock(const std::string& path);
  ~ScriptLock();
  ScriptLock(const ScriptLock&) = delete;
  ScriptLock& operator=(const ScriptLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace qio::tools
