// Booting on demand: a program that links only the platform (as one written
// against the user-mode library does) gets the default target when it asks
// for one, and that target is shut down when the process exits.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "qio/platform/device_manager.h"
#include "qio/platform/kernel.h"

namespace pf = qio::platform;

namespace {

// Runs after the target's own exit handler (registered later, so run
// earlier): the target must be gone by then.
void CheckShutDownAtExit() {
  if (pf::SystemBooted()) _exit(3);
  if (pf::LiveThreadCount() != 0) _exit(4);
}

TEST(AutoBootTest, BootsTheDefaultTargetAndShutsItDownAtExit) {
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    std::atexit(CheckShutDownAtExit);
    if (pf::SystemBooted()) _exit(1);
    if (!pf::EnsureSystemBooted() || !pf::SystemBooted()) _exit(2);
    if (!pf::EnsureSystemBooted()) _exit(5);  // a second call finds it running
    std::exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(AutoBootTest, FailsWhenTheTargetModuleIsMissing) {
  const auto empty = std::filesystem::temp_directory_path() / ("qio-autoboot-" + std::to_string(getpid()));
  std::filesystem::create_directories(empty);
  pf::SetModuleDirectory(empty.string());
  EXPECT_FALSE(pf::EnsureSystemBooted());
  EXPECT_FALSE(pf::SystemBooted());
  pf::SetModuleDirectory("");
  std::filesystem::remove_all(empty);
}

}  // namespace
