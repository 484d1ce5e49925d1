// A hosted system with the recording driver registered as device 3 (stream
// "REC1:", window 0x300..0x30F): the library's requests can be read back
// byte for byte and the driver's answers chosen per test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "qio/platform/platform.h"
#include "qio5162/Zqs5162.h"
#include "recorder/recorder.h"

namespace qio::library::testing {

inline constexpr std::uint32_t kRecorderDevice = 3;
inline constexpr std::uint32_t kRecorderBase = ZQS_ERROR_BASE(kRecorderDevice);  // 0x4000

inline const char* const kRecorderRegistry = R"(REGEDIT4
[HKEY_LOCAL_MACHINE\Drivers\BuiltIn\Recorder]
"Prefix"="REC"
"Dll"="ZqsRecorder.dll"
"Order"=dword:1

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\ZQS5162S\Device003]
"BoardID"=dword:a6
"AllowConflicts"=dword:1
"DeviceIndex"=dword:3
"BaseAddress"=dword:300
"IoPortCount"=dword:10
"Irq"=dword:5
"TimerClock"=dword:14
"DigPortCfg"=hex:00,01,03
"CallName"="REC1:"
)";

// The bytes of a recorded request's input.
inline std::vector<std::uint8_t> InputOf(const RecRequest& request) {
  const std::uint32_t n = request.inLength < REC_MAX_INPUT ? request.inLength : REC_MAX_INPUT;
  return std::vector<std::uint8_t>(request.in, request.in + n);
}

class RecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(platform::RegImportText(kRecorderRegistry, &error)) << error;
    ASSERT_TRUE(platform::RegImportText(ExtraRegistry(), &error)) << error;
    ASSERT_EQ(platform::DeviceManagerStart(nullptr), 1u);
    platform::SetSystemBooted(true);
    rec_reset();
    ASSERT_EQ(DeviceOpen(kRecorderDevice, &handle_), ZQS_SUCCESS);
    rec_clear();
  }

  void TearDown() override {
    if (handle_ != 0) DeviceClose(&handle_);
    platform::DeviceManagerStop();
    platform::SetSystemBooted(false);
    platform::RegClearAll();
  }

  // More registry text for a test group (merged before the boot).
  virtual std::string ExtraRegistry() const { return "REGEDIT4\r\n"; }

  static std::vector<RecRequest> Requests() {
    std::vector<RecRequest> all(rec_count());
    for (std::size_t i = 0; i < all.size(); ++i) rec_get(i, &all[i]);
    return all;
  }

  // The only request sent since the last clear.
  static RecRequest OnlyRequest() {
    const std::vector<RecRequest> all = Requests();
    EXPECT_EQ(all.size(), 1u);
    return all.empty() ? RecRequest{} : all.front();
  }

  std::uint32_t handle_ = 0;
};

}  // namespace qio::library::testing
