// A board core driven at explicit instants, with the register helpers the
// driver's sequences are written in.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "qio/sim/BoardCore.h"
#include "qio/protocol/board_registers.h"

namespace qio::sim::test {

using namespace qio::board;

inline constexpr std::uint64_t kMs = 1'000'000;
inline constexpr std::uint64_t kUs = 1'000;

class CoreTest : public ::testing::Test {
 protected:
  // Power-up at an odd instant, so that nothing lines up by accident.
  std::uint64_t now = 1'000'000'007;
  BoardCore core{now};

  void Wait(std::uint64_t ns) { now += ns; }
  void W16(std::uint16_t offset, std::uint16_t value) { core.Write(offset, 2, value, now++); }
  void W8(std::uint16_t offset, std::uint8_t value) { core.Write(offset, 1, value, now++); }
  std::uint16_t R16(std::uint16_t offset) { return static_cast<std::uint16_t>(core.Read(offset, 2, now++)); }
  std::uint8_t R8(std::uint16_t offset) { return static_cast<std::uint8_t>(core.Read(offset, 1, now++)); }

  void Mode(unsigned block, std::uint16_t value) { W16(offset::ModeRegister(block), value); }
  void Load(unsigned block, std::uint16_t value) { W16(offset::LoadRegister(block), value); }
  void Hold(unsigned block, std::uint16_t value) { W16(offset::HoldRegister(block), value); }
  void Command(unsigned block, std::uint8_t code) { W16(offset::CommandRegister(block), code); }
  void Strobe(std::uint8_t mask) { W8(offset::kCommandStrobe, mask); }
  void Generator(unsigned g, std::uint16_t word) { W16(offset::ClockGenerator(g), word); }
  void Enable(std::uint16_t bits) { W16(offset::kInterruptControl, bits); }
  std::uint16_t Status() { return R16(offset::kInterruptControl); }
  // The driver's latch-and-read of one block.
  std::uint16_t LatchAndRead(unsigned block) {
    Command(block, command::kLatch);
    W16(offset::kCommandStrobe, static_cast<std::uint16_t>(1u << block));
    return R16(offset::HoldRegister(block));
  }
  void Input(unsigned counter, double hz, double duty = 50.0, double phase = 0.0) {
    ASSERT_TRUE(core.SetCounterInput(counter, hz, duty, phase, now));
  }
};

}  // namespace qio::sim::test
