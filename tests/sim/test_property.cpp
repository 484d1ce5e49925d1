// The closed form against the edge-stepping reference: random mode words,
// loads, sources, gates, cascades, wirings and mid-run register writes over
// short windows, compared at many instants. Seeded, so a failure repeats.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "qio/sim/BoardCore.h"
#include "qio/protocol/board_registers.h"
#include "reference_board.h"

namespace qio::sim::test {

using namespace qio::board;
namespace {

struct WaveChoice {
  std::int64_t periodNum;
  std::int64_t den;
};

// Periods in ps as fractions: whole picoseconds, thirds, sevenths, tenths.
constexpr std::array<WaveChoice, 8> kWaves = {{
    {170'000, 1}, {1'000'000, 3}, {2'000'000, 7}, {333'333, 1}, {49'999, 1}, {12'345'67, 10}, {90'000, 1}, {700'000, 7},
}};
constexpr std::int64_t kDen = 210;  // a multiple of every denominator above

// Longest step between two comparisons (ns); a soak run builds this file
// with a larger gap so that segments span many periods of every clock.
#ifndef QIO_SIM_PROPERTY_GAP
#define QIO_SIM_PROPERTY_GAP 9000
#endif
constexpr int kGap = QIO_SIM_PROPERTY_GAP;

class Scenario {
 public:
  explicit Scenario(unsigned seed) : rng_(seed), core_(now_), ref_(kDen, now_) {}

  void Run() {
    Setup();
    for (int step = 0; step < 60; ++step) {
      now_ += static_cast<std::uint64_t>(Pick(1, kGap));
      if (Chance(0.25)) RandomEvent();
      Compare();
      if (::testing::Test::HasFailure()) return;
    }
  }

  std::string Log() const { return log_.str(); }

 private:
  int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool Chance(double p) { return std::bernoulli_distribution(p)(rng_); }

  std::uint16_t RandomMode(unsigned b) {
    static constexpr std::array<unsigned, 6> kOut = {0, 1, 2, 6, 3, 6};
    static constexpr std::array<unsigned, 7> kSrc = {0, 2, 4, 5, 7, 1, 0};
    static constexpr std::array<unsigned, 6> kGate = {0, 4, 5, 7, 2, 0};
    unsigned word = kOut[static_cast<std::size_t>(Pick(0, 5))];
    if (Chance(0.3)) word |= mode::kCountUp;
    if (Chance(0.6)) word |= mode::kRepeat;
    if (Chance(0.4)) word |= mode::kAlternate;
    if (Chance(0.25)) word |= mode::kSingleWindow;
    word |= kSrc[static_cast<std::size_t>(Pick(0, 6))] << mode::kSourceShift;
    if (b > 0 && Chance(0.5)) word |= mode::kCascade;
    word |= kGate[static_cast<std::size_t>(Pick(0, 5))] << mode::kGateShift;
    return static_cast<std::uint16_t>(word);
  }
  std::uint16_t RandomCount(bool up) {
    if (up) return static_cast<std::uint16_t>(Chance(0.5) ? Pick(0xFFE0, 0xFFFF) : Pick(0, 40));
    return static_cast<std::uint16_t>(Chance(0.05) ? 0 : Pick(1, 40));
  }

  void Mode(unsigned b, std::uint16_t v) {
    log_ << now_ << " mode " << b << " " << std::hex << v << std::dec << "\n";
    core_.Write(offset::ModeRegister(b), 2, v, now_);
    ref_.WriteMode(b, v, now_);
    modes_[b] = v;
  }
  void Load(unsigned b, std::uint16_t v) {
    log_ << now_ << " load " << b << " " << v << "\n";
    core_.Write(offset::LoadRegister(b), 2, v, now_);
    ref_.WriteLoad(b, v, now_);
  }
  void Hold(unsigned b, std::uint16_t v) {
    log_ << now_ << " hold " << b << " " << v << "\n";
    core_.Write(offset::HoldRegister(b), 2, v, now_);
    ref_.WriteHold(b, v, now_);
  }
  void Command(unsigned b, std::uint8_t code) {
    log_ << now_ << " command " << b << " " << int{code} << "\n";
    core_.Write(offset::CommandRegister(b), 1, code, now_);
    ref_.WriteCommand(b, code);
  }
  void Strobe(unsigned mask) {
    log_ << now_ << " strobe " << mask << "\n";
    core_.Write(offset::kCommandStrobe, 1, mask, now_);
    ref_.Strobe(mask, now_);
  }
  void Generator(unsigned g, std::uint16_t word) {
    log_ << now_ << " generator " << g << " " << std::hex << word << std::dec << "\n";
    core_.Write(offset::ClockGenerator(g), 2, word, now_);
    ref_.WriteGenerator(g, word, now_);
  }
  void RandomPin(unsigned n) {
    const int kind = Pick(0, 9);
    if (kind < 5) {
      const WaveChoice w = kWaves[static_cast<std::size_t>(Pick(0, 7))];
      const std::int64_t high = std::uniform_int_distribution<std::int64_t>(1, w.periodNum - 1)(rng_);
      const double phase = Pick(0, 999) / 1000.0;
      log_ << now_ << " wave " << n << " " << w.periodNum << "/" << w.den << " high " << high << " phase " << phase
           << "\n";
      ASSERT_TRUE(core_.SetCounterWave(n, ClockWave{w.periodNum, high, w.den}, phase, now_));
      ref_.SetWave(n, w.periodNum, high, w.den, phase, now_);
    } else if (kind < 7) {
      const bool level = Chance(0.5);
      log_ << now_ << " level " << n << " " << level << "\n";
      core_.SetCounterLevel(n, level, now_);
      ref_.SetLevel(n, level, now_);
    } else {
      // CLK0 may carry FOUTn; CLK1 also OUT0 (no loops).
      const int wire = Pick(n == 0 ? 1 : 0, 2);
      log_ << now_ << " wire " << n << " " << wire << "\n";
      static constexpr std::array<ClockWire, 3> kCore = {ClockWire::kOut0, ClockWire::kFreqOut0, ClockWire::kFreqOut1};
      static constexpr std::array<ReferenceBoard::Pin, 3> kRef = {
          ReferenceBoard::Pin::kOut0, ReferenceBoard::Pin::kFreqOut0, ReferenceBoard::Pin::kFreqOut1};
      core_.WireCounterInput(n, kCore[static_cast<std::size_t>(wire)], now_);
      ref_.Wire(n, kRef[static_cast<std::size_t>(wire)], now_);
    }
  }
  void RandomGenerator(unsigned g) {
    static constexpr std::array<unsigned, 4> kSources = {1, 3, 4, 5};
    const unsigned word = (Chance(0.85) ? 0x1000u : 0u) | (kSources[static_cast<std::size_t>(Pick(0, 3))] << 8) |
                          static_cast<unsigned>(Pick(0, 15));
    Generator(g, static_cast<std::uint16_t>(word));
  }
  void Enable(std::uint16_t bits) {
    log_ << now_ << " enable " << bits << "\n";
    core_.Write(offset::kInterruptControl, 2, bits, now_);
    ref_.WriteEnable(bits, now_);
  }

  void Setup() {
    for (unsigned n = 0; n < 2; ++n) RandomPin(n);
    for (unsigned g = 0; g < 2; ++g) RandomGenerator(g);
    Enable(static_cast<std::uint16_t>(Pick(0, 3)));
    unsigned mask = 0;
    for (unsigned b = 0; b < 4; ++b) {
      const std::uint16_t m = RandomMode(b);
      Mode(b, m);
      Load(b, RandomCount((m & mode::kCountUp) != 0));
      Hold(b, RandomCount((m & mode::kCountUp) != 0));
      if (Chance(0.85)) {
        Command(b, command::kLoadAndArm);
        mask |= 1u << b;
      }
    }
    Strobe(mask);
  }

  void RandomEvent() {
    const unsigned b = static_cast<unsigned>(Pick(0, 3));
    switch (Pick(0, 9)) {
      case 0:
        Command(b, command::kLatch);
        Strobe(1u << b);
        break;
      case 1:
        Mode(b, RandomMode(b));
        break;
      case 2:
        Load(b, RandomCount((modes_[b] & mode::kCountUp) != 0));
        break;
      case 3:
        Hold(b, RandomCount((modes_[b] & mode::kCountUp) != 0));
        break;
      case 4:
        Command(b, command::kLoadAndArm);
        Strobe(1u << b);
        break;
      case 5:
        Command(b, static_cast<std::uint8_t>(Chance(0.5) ? command::kDisarm : command::kReset));
        Strobe(1u << b);
        break;
      case 6:
        RandomPin(static_cast<unsigned>(Pick(0, 1)));
        break;
      case 7:
        RandomGenerator(static_cast<unsigned>(Pick(0, 1)));
        break;
      case 8:
        log_ << now_ << " clear\n";
        core_.Write(offset::kInterruptClear, 1, 0, now_);
        ref_.Clear(now_);
        break;
      default:
        Enable(static_cast<std::uint16_t>(Pick(0, 3)));
        break;
    }
  }

  void Compare() {
    ref_.StepTo(now_);
    for (unsigned b = 0; b < 4; ++b) {
      ASSERT_EQ(core_.CountNow(b, now_), ref_.Count(b)) << "count of block " << b << " at " << now_;
      ASSERT_EQ(core_.OutputLevel(b, now_), ref_.Out(b)) << "output of block " << b << " at " << now_;
      ASSERT_EQ(core_.TerminalCounts(b, now_), ref_.Tcs(b)) << "terminal counts of block " << b << " at " << now_;
      ASSERT_EQ(core_.OutputRises(b, now_), ref_.Rises(b)) << "output rises of block " << b << " at " << now_;
    }
    ASSERT_EQ(core_.Read(offset::kInterruptControl, 2, now_) & 0x3u, ref_.Status() & 0x3u) << "status at " << now_;
    requests_ += core_.TakeInterruptRequests();
    ASSERT_EQ(requests_, ref_.Requests()) << "interrupt requests at " << now_;
  }

  std::mt19937 rng_;
  std::uint64_t now_ = 1'000'003;
  BoardCore core_;
  ReferenceBoard ref_;
  std::array<std::uint16_t, 4> modes_{};
  unsigned requests_ = 0;
  std::ostringstream log_;
};

class ClosedFormMatchesReference : public ::testing::TestWithParam<unsigned> {};

TEST_P(ClosedFormMatchesReference, OverRandomScenarios) {
  constexpr unsigned kPerCase = 40;
  for (unsigned i = 0; i < kPerCase; ++i) {
    const unsigned seed = GetParam() * kPerCase + i;
    Scenario scenario(seed);
    scenario.Run();
    if (HasFailure()) {
      ADD_FAILURE() << "seed " << seed << ", events:\n" << scenario.Log();
      return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, ClosedFormMatchesReference, ::testing::Range(0u, 8u));

}  // namespace
}  // namespace qio::sim::test
