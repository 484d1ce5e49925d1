// Cost of the board model through the platform's port bus: a byte read of a
// port data register, and the driver's latch-and-read of a counter, with the
// counted input from 1 Hz to 30 MHz. The closed form makes the cost flat in
// the input frequency.
#include <benchmark/benchmark.h>

#include "qio/platform/port_io.h"
#include "qio/sim/Board.h"

namespace {

using qio::sim::Board;
namespace offset = qio::sim::offset;
namespace command = qio::sim::command;

constexpr std::uint16_t kBase = 0x300;

void PortDataByteRead(benchmark::State& state) {
  Board board(kBase, 5);
  board.Attach();
  board.SetDiLevels(0, 0xA5);
  for (auto _ : state) {
    benchmark::DoNotOptimize(qio::platform::PortInByte(kBase + offset::PortData(0)));
  }
}
BENCHMARK(PortDataByteRead);

void LatchAndRead(Board& board, unsigned block) {
  qio::platform::PortOutByte(kBase + offset::CommandRegister(block), command::kLatch);
  qio::platform::PortOutByte(kBase + offset::kCommandStrobe, static_cast<std::uint8_t>(1u << block));
  benchmark::DoNotOptimize(qio::platform::PortInWord(kBase + offset::HoldRegister(block)));
  (void)board;
}

// Event counting (0x0218) on CLK0 at the given frequency.
void LatchAndReadEventCounter(benchmark::State& state) {
  Board board(kBase, 5);
  board.Attach();
  board.SetCounterInput(0, static_cast<double>(state.range(0)), 50.0);
  qio::platform::PortOutWord(kBase + offset::ModeRegister(0), 0x0218);
  qio::platform::PortOutWord(kBase + offset::LoadRegister(0), 1);
  qio::platform::PortOutWord(kBase + offset::CommandRegister(0), command::kLoadAndArm);
  qio::platform::PortOutByte(kBase + offset::kCommandStrobe, 0x01);
  for (auto _ : state) LatchAndRead(board, 0);
  state.SetLabel(std::to_string(state.range(0)) + " Hz");
}
BENCHMARK(LatchAndReadEventCounter)->Arg(1)->Arg(1000)->Arg(1'000'000)->Arg(30'000'000);

// Block 1 counts CLK0 only while OUT0 (a 10 kHz toggle of the base clock)
// is high: the gated count in closed form (floor sums).
void LatchAndReadGatedCounter(benchmark::State& state) {
  Board board(kBase, 5);
  board.Attach();
  board.SetCounterInput(0, static_cast<double>(state.range(0)), 50.0);
  qio::platform::PortOutWord(kBase + offset::ModeRegister(0), 0x0016);
  qio::platform::PortOutWord(kBase + offset::LoadRegister(0), 1000);
  qio::platform::PortOutWord(kBase + offset::ModeRegister(1), 0x9718);  // up, repeat, pair signal, CAS, gate 4
  qio::platform::PortOutWord(kBase + offset::LoadRegister(1), 1);
  qio::platform::PortOutWord(kBase + offset::CommandRegister(0), command::kLoadAndArm);
  qio::platform::PortOutWord(kBase + offset::CommandRegister(1), command::kLoadAndArm);
  qio::platform::PortOutByte(kBase + offset::kCommandStrobe, 0x03);
  for (auto _ : state) LatchAndRead(board, 1);
  state.SetLabel(std::to_string(state.range(0)) + " Hz");
}
BENCHMARK(LatchAndReadGatedCounter)->Arg(1)->Arg(1000)->Arg(1'000'000)->Arg(30'000'000);

}  // namespace

BENCHMARK_MAIN();
