// An application that links only the library: its first DeviceOpen, in a
// process where nothing has booted a target, boots the default one (through
// the platform, which loads the target module) and opens the shipped board.
// Runs in a child process so that no other test's target is in the way; under
// the undefined-behaviour sanitizer this also checks the call into the
// target module is made through a pointer of the right function type.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "qio5162/Zqs5162.h"

namespace {

int FirstOpenInAFreshProcess() {
  std::uint32_t handle = 0;
  if (DeviceOpen(0, &handle) != ZQS_SUCCESS || handle == 0) return 1;
  std::uint16_t codes[3] = {9, 9, 9};
  if (DioGetConfig(handle, codes, 3) != ZQS_SUCCESS) return 2;
  if (codes[0] != ZQS_DIR_INPUT || codes[1] != ZQS_DIR_INPUT || codes[2] != ZQS_DIR_INPUT) return 3;
  std::uint32_t second = 0;
  if (DeviceOpen(0, &second) != ZQS_SUCCESS || second != handle) return 4;
  DeviceClose(&second);
  if (DeviceClose(&handle) != ZQS_SUCCESS || handle != 0) return 5;
  // Device 1 is not configured in the shipped registry.
  if (DeviceOpen(1, &handle) != ZQS_ERROR_CONFIGURATION || handle != 0) return 6;
  return 0;
}

TEST(AutoBootOpenTest, TheFirstDeviceOpenBootsTheDefaultTarget) {
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) std::exit(FirstOpenInAFreshProcess());
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
