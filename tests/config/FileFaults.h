// A file layer that numbers every call the script editor makes, and can make
// call k fail (as a full or broken disk would) or end the process right
// before call k (as a kill or a crash would). Tests run an operation once to
// count its steps, then once per step with the fault there, and look at the
// script left on disk.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "config/script/FileLayer.h"

namespace qio::config::testing {

class StepFiles : public FileLayer {
 public:
  // The exit status of a process ended by a crash at a step.
  static constexpr int kCrashStatus = 86;

  // Counts from 0 again (the steps before are not numbered for FailAt).
  void Restart() {
    steps_ = 0;
    names_.clear();
  }
  void FailAt(int step) { failAt_ = step; }
  void CrashAt(int step) { crashAt_ = step; }
  int steps() const { return steps_; }
  // What each step was, for messages.
  const std::vector<std::string>& names() const { return names_; }
  // The name of the step that failed, empty when none did.
  const std::string& failed() const { return failed_; }

  int Open(const char* path, int flags, mode_t mode) override {
    return Step("Open") ? FileLayer::Open(path, flags, mode) : -1;
  }
  int Close(int fd) override {
    // A failing close still releases the descriptor, as the system's does.
    const bool ok = Step("Close");
    const int rc = FileLayer::Close(fd);
    return ok ? rc : -1;
  }
  int Stat(int fd, struct stat* info) override { return Step("Stat") ? FileLayer::Stat(fd, info) : -1; }
  ssize_t ReadAt(int fd, void* buffer, std::size_t size, off_t offset) override {
    return Step("ReadAt") ? FileLayer::ReadAt(fd, buffer, size, offset) : -1;
  }
  ssize_t Write(int fd, const void* data, std::size_t size) override {
    return Step("Write") ? FileLayer::Write(fd, data, size) : -1;
  }
  ssize_t WriteAt(int fd, const void* data, std::size_t size, off_t offset) override {
    return Step("WriteAt") ? FileLayer::WriteAt(fd, data, size, offset) : -1;
  }
  int Truncate(int fd, off_t length) override { return Step("Truncate") ? FileLayer::Truncate(fd, length) : -1; }
  // The flush is counted, not made: what a step leaves is what the file
  // calls before it did, and real flushes would only make the runs slow.
  int Sync(int) override { return Step("Sync") ? 0 : -1; }
  int ChangeMode(int fd, mode_t mode) override { return Step("ChangeMode") ? FileLayer::ChangeMode(fd, mode) : -1; }
  int ChangeOwner(int fd, uid_t owner, gid_t group) override {
    return Step("ChangeOwner") ? FileLayer::ChangeOwner(fd, owner, group) : -1;
  }
  int Rename(const char* from, const char* to) override { return Step("Rename") ? FileLayer::Rename(from, to) : -1; }
  int Unlink(const char* path) override { return Step("Unlink") ? FileLayer::Unlink(path) : -1; }
  int StatPath(const char* path, struct stat* info) override {
    return Step("StatPath") ? FileLayer::StatPath(path, info) : -1;
  }
  int ListDirectory(const char* path, std::vector<std::string>* names) override {
    return Step("ListDirectory") ? FileLayer::ListDirectory(path, names) : -1;
  }

 private:
  // False (errno EIO) when this step is the one to fail.
  bool Step(const char* name) {
    const int step = steps_++;
    names_.emplace_back(name);
    if (step == crashAt_) ::_exit(kCrashStatus);
    if (step != failAt_) return true;
    failed_ = name;
    errno = EIO;
    return false;
  }

  int failAt_ = -1;
  int crashAt_ = -1;
  int steps_ = 0;
  std::vector<std::string> names_;
  std::string failed_;
};

// Runs `operation` with a layer that ends the process before step `step`, in
// a child process. Returns the child's exit status: kCrashStatus when it was
// ended there, 0 or 1 when the operation finished first (succeeded or not),
// -1 when the child could not be run.
inline int RunCrashingAt(int step, const std::function<bool(FileLayer&)>& operation) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    StepFiles files;
    files.CrashAt(step);
    ::_exit(operation(files) ? 0 : 1);
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace qio::config::testing
