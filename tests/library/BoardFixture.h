// The hosted target with one simulated board at 0x300, IRQ 5 (stream "Q621:"),
// opened through the library: every call travels the whole stack, library,
// device manager, Zqs5162s and the board model.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "qio/platform/clock.h"
#include "qio5162/Zqs5162.h"
#include "qio5162/target.h"

namespace qio::library::testing {

inline constexpr std::uint16_t kBoardBase = 0x300;

// The registry key of board `index` (device `index`) at I/O base `ioBase`,
// on interrupt line `irq`, with the port directions `digPortCfg` (a hex list
// such as "01,00,00").
inline std::string BoardKey(unsigned index, unsigned ioBase, unsigned irq, const char* digPortCfg) {
  char base[8];
  std::snprintf(base, sizeof base, "%X", ioBase);
  const std::string n = std::to_string(index);
  return "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S" + n + "]\n\"Prefix\"=\"Q62\"\n\"Dll\"=\"Zqs5162s.dll\"\n" +
         "\"Order\"=dword:" + n + "\n\"DeviceIndex\"=dword:" + n + "\n\"IoBase\"=dword:" + base +
         "\n\"IoLen\"=dword:40\n\"Irq\"=dword:" + std::to_string(irq) + "\n\"TimerClock\"=dword:14\n\"DigPortCfg\"=hex:" +
         digPortCfg + "\n";
}

// The board at 0x300, IRQ 5, all ports inputs.
inline const std::string kBoardRegistry = "REGEDIT4\n" + BoardKey(0, kBoardBase, 5, "00,00,00");

// A second board at 0x340 as device 1, on interrupt line `irq`.
inline std::string SecondBoardKey(unsigned irq, const char* digPortCfg) {
  return "\n" + BoardKey(1, 0x340, irq, digPortCfg);
}

// Boots on the virtual clock unless a test overrides BootFlags(): waits take
// no real time and what the board shows at an instant is exact.
class BoardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string text = std::string(kBoardRegistry) + ExtraRegistry();
    ASSERT_EQ(qio_target_boot_ex(text.c_str(), BootFlags(), &target_), QIO_TARGET_OK) << qio_target_last_message();
    board_ = qio_target_board(target_, kBoardBase);
    ASSERT_NE(board_, nullptr);
    ASSERT_EQ(DeviceOpen(DeviceNumber(), &handle_), ZQS_SUCCESS);
  }

  void TearDown() override {
    if (handle_ != 0) DeviceClose(&handle_);
    if (target_ != nullptr) qio_target_shutdown(target_);
  }

  virtual unsigned BootFlags() const { return QIO_TARGET_VIRTUAL_TIME; }
  // Registry text merged after the board's key.
  virtual std::string ExtraRegistry() const { return ""; }
  virtual std::uint32_t DeviceNumber() const { return 0; }

  // The register accesses since the last call.
  std::vector<QioPortAccess> Trace() {
    std::vector<QioPortAccess> all(4096);
    std::size_t count = 0;
    EXPECT_EQ(qio_sim_trace_read(board_, all.data(), all.size(), &count), QIO_TARGET_OK);
    all.resize(count);
    return all;
  }

  std::vector<QioPortAccess> Writes(std::uint16_t offset) {
    std::vector<QioPortAccess> out;
    for (const QioPortAccess& a : Trace()) {
      if (a.isWrite && a.offset == offset) out.push_back(a);
    }
    return out;
  }

  // Joins an application thread. Joining is a wait outside the target, so
  // the joining thread lets go of the clock first, as an application on the
  // virtual clock must (its next call attaches it again).
  static void Join(std::thread& thread) {
    qio_target_detach_thread();
    thread.join();
  }

  // Waits up to `ms` of real time, outside the target, for pred() to hold:
  // for what another application thread does before it calls into the
  // target, which the virtual clock cannot know of (a poll on the platform
  // clock would run through virtual time meanwhile).
  template <typename Pred>
  static bool WaitOutside(Pred pred, std::uint32_t ms = 10'000) {
    qio_target_detach_thread();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
  }

  // Waits up to `ms` for pred() to hold, on the platform clock.
  template <typename Pred>
  static bool WaitFor(Pred pred, std::uint32_t ms = 2000) {
    const std::uint64_t deadline = platform::NowNs() + std::uint64_t{ms} * 1000000u;
    while (!pred()) {
      if (platform::NowNs() > deadline) return false;
      platform::Sleep(1);
    }
    return true;
  }

  QioTarget* target_ = nullptr;
  QioSimBoard* board_ = nullptr;
  std::uint32_t handle_ = 0;
};

}  // namespace qio::library::testing
