// The board's functions started through the library beside each other, and
// what each running function must show as if it ran alone: the count rate of
// an event count, the frequency read, the OUTn and FOUTn waveforms of the
// board model, the events that arrive, and the interrupt-enable bits in the
// register trace. The OwnershipModel says which starts are refused as busy
// and what runs.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "BoardFixture.h"
#include "OwnershipModel.h"
#include "qio/protocol/board_registers.h"

namespace qio::library::testing {

inline constexpr std::uint32_t kBusyCode = ZQS_ERROR_BASE(0) + ZQS_LOW_BUSY;

class SideBySideTest : public BoardTest {
 protected:
  static constexpr double kInputHz = 1'000'000.0;

  void SetUp() override {
    BoardTest::SetUp();
    if (HasFatalFailure()) return;
    // CLK0 for the measurements: 1 MHz at 25 % (high 0.25 us, low 0.75 us).
    ASSERT_EQ(qio_sim_set_counter_input(board_, 0, kInputHz, 25.0), QIO_TARGET_OK);
    ASSERT_EQ(qio_sim_set_counter_input(board_, 1, kInputHz, 50.0), QIO_TARGET_OK);
    ASSERT_EQ(qio_sim_trace_enable(board_, 1), QIO_TARGET_OK);
  }

  // Starts a placement; returns the library's result. A PWM start is the
  // setting and then the enable; the PWM measurement checks its phases here.
  std::uint32_t Start(const Placement& p) {
    const auto n = static_cast<std::uint16_t>(p.counter);
    std::uint32_t result = ZQS_SUCCESS;
    switch (p.fn) {
      case Fn::kEventCount: result = CounterEventStart(handle_, n, 0); break;
      case Fn::kAutoFreq: result = CounterFreqStart(handle_, n, 0, 0); break;
      case Fn::kFixedFreq: result = CounterFreqStart(handle_, n, 10, 0); break;
      case Fn::kPulse: result = CounterPulseStart(handle_, n, 0.0625f, 0, 0); break;
      case Fn::kFreqOut: result = FreqOutStart(handle_, n, 4, ZQS_FREQOUT_SOURCE(4)); break;
      case Fn::kPwm:
        result = CounterPWMSetting(handle_, n, 0.040f, 0.010f, 0, 0);
        if (result == ZQS_SUCCESS) result = CounterPWMEnable(handle_, n);
        break;
      case Fn::kCountedPwm:
        result = CounterPWMSetting(handle_, n, 0.020f, 0.010f, 1000, 0);
        if (result == ZQS_SUCCESS) result = CounterPWMEnable(handle_, n);
        break;
      case Fn::kPwmMeasure: {
        float first = -1, second = -1;
        result = PWMStartRead(handle_, n, &first, &second);
        if (result == ZQS_SUCCESS) {
          // 1 MHz at 25 %, timed on the base clock: 5 and 15 ticks of 50 ns.
          EXPECT_NEAR(first, 0.25f, 1e-4f) << "PWM measurement, high phase";
          EXPECT_NEAR(second, 0.75f, 1e-4f) << "PWM measurement, low phase";
        }
        break;
      }
      case Fn::kDiEvents:
        result = EnableEvent(handle_, ZQS_EVENT_DI(0), 1, 1);
        if (result == ZQS_SUCCESS) {
          EXPECT_EQ(qio_sim_set_di_square(board_, 0, 50.0), QIO_TARGET_OK);
        }
        break;
      case Fn::kTcEvents: result = EnableEvent(handle_, ZQS_TC_EVENT(n), 1, 1); break;
      case Fn::kReset: result = CounterReset(handle_, n); break;
    }
    if (result == ZQS_SUCCESS && p.fn == Fn::kEventCount) countSample_[n] = SampleCount(n);
    CollectInterruptEnable();
    return result;
  }

  // Starts `p` and checks the outcome against the model.
  void StartAsModelled(const Placement& p) {
    const bool accepted = model_.Start(p);
    const std::uint32_t result = Start(p);
    if (accepted) {
      EXPECT_EQ(result, ZQS_SUCCESS) << Name(p) << " should start";
    } else {
      EXPECT_EQ(result, kBusyCode) << Name(p) << " should be refused as busy";
    }
  }

  // Every function the model says runs shows what it shows alone.
  void VerifyRunning(const std::string& when) {
    SCOPED_TRACE(when);
    for (const Placement& p : model_.Running()) Verify(p);
    CollectInterruptEnable();
    const std::uint16_t required = model_.RequiredInterruptBits();
    if (required != 0) {
      ASSERT_TRUE(lastInterruptEnable_.has_value()) << "no write of the interrupt-enable register";
      EXPECT_EQ(*lastInterruptEnable_ & required, required)
          << std::hex << "interrupt enable 0x" << *lastInterruptEnable_ << " lacks 0x" << required;
    }
    const std::uint16_t forbidden = model_.ForbiddenInterruptBits();
    if (forbidden != 0 && lastInterruptEnable_.has_value()) {
      EXPECT_EQ(*lastInterruptEnable_ & forbidden, 0)
          << std::hex << "interrupt enable 0x" << *lastInterruptEnable_ << " has a measurement's terminal count";
    }
  }

  OwnershipModel model_;

 private:
  bool Exact() const { return (BootFlags() & QIO_TARGET_VIRTUAL_TIME) != 0; }

  static constexpr std::uint16_t ZQS_TC_EVENT(std::uint16_t n) {
    return static_cast<std::uint16_t>(ZQS_EVENT_TERMINAL_COUNT0 + n);
  }

  // A total (tally x 65536 + count) and the instants between which it was
  // latched.
  struct CountSample {
    std::uint64_t total = 0;
    std::uint64_t before = 0;
    std::uint64_t after = 0;
  };

  // The tally of a terminal count lags its wrap by the interrupt thread's
  // latency (longer under a sanitizer), so a sample is taken only well away
  // from a wrap: with the 16-bit count between 30000 and 60000.
  CountSample SampleCount(std::uint16_t n) {
    const std::uint64_t giveUp = platform::NowNs() + 200'000'000u;
    for (;;) {
      std::uint16_t tally = 0;
      std::uint32_t count = 0;
      const std::uint64_t before = platform::NowNs();
      EXPECT_EQ(CounterEventRead(handle_, n, &tally, &count), ZQS_SUCCESS);
      const std::uint64_t after = platform::NowNs();
      if ((count >= 30000 && count <= 60000) || after > giveUp) {
        return {std::uint64_t{tally} * 65536u + count, before, after};
      }
      platform::Sleep(2);
    }
  }

  // The edges between two samples fit the input's rate over the shortest and
  // the longest time that can lie between the two latches (a read may take
  // long on a loaded machine or under a sanitizer), within 5 %. On the
  // virtual clock a read takes no time and the tally is never late: the
  // edges are the rate times the time between the latches, exactly.
  bool CountFits(const CountSample& start, const CountSample& end, double hz) const {
    const double edges = static_cast<double>(end.total) - static_cast<double>(start.total);
    if (Exact()) return edges == hz * static_cast<double>(end.before - start.before) / 1e9;
    const double shortest = static_cast<double>(end.before > start.after ? end.before - start.after : 0) / 1e9;
    const double longest = static_cast<double>(end.after - start.before) / 1e9;
    return edges >= hz * shortest * 0.95 - 2 && edges <= hz * longest * 1.05 + 2;
  }

  void Verify(const Placement& p) {
    const unsigned n = p.counter;
    switch (p.fn) {
      case Fn::kEventCount: VerifyCountRate(static_cast<std::uint16_t>(n)); break;
      case Fn::kAutoFreq:
      case Fn::kFixedFreq: VerifyFrequency(); break;
      case Fn::kPulse: VerifyOutput(n, 16.0, 0.03125); break;
      case Fn::kPwm: VerifyOutput(n, 25.0, 0.010); break;
      case Fn::kFreqOut: {
        double hz = -1;
        EXPECT_EQ(qio_sim_get_freqout(board_, n, &hz), QIO_TARGET_OK);
        EXPECT_DOUBLE_EQ(hz, 250'000.0) << "FOUT" << n;
        break;
      }
      case Fn::kCountedPwm: VerifyCountedRun(); break;
      case Fn::kDiEvents: VerifyEvent(ZQS_EVENT_DI(0)); break;
      case Fn::kTcEvents:
        if (model_.TerminalCountsOn(n)) VerifyEvent(ZQS_TC_EVENT(static_cast<std::uint16_t>(n)));
        break;
      case Fn::kPwmMeasure:
      case Fn::kReset: break;
    }
  }

  // The count goes on at the input's rate: 1 MHz, over at least 80 ms. A
  // terminal count near the latch may be tallied a little late (the
  // interrupt thread can be held up on a loaded machine), so re-reads are
  // allowed for a while; a tally that stands still never catches up.
  void VerifyCountRate(std::uint16_t n) {
    const CountSample start = countSample_[n];
    const std::uint64_t wanted = start.after + 80'000'000u;
    const std::uint64_t now = platform::NowNs();
    if (now < wanted) platform::SleepNs(wanted - now);
    CountSample end;
    const std::uint64_t giveUp = platform::NowNs() + 250'000'000u;
    for (;;) {
      end = SampleCount(n);
      if (CountFits(start, end, kInputHz) || platform::NowNs() > giveUp) break;
      platform::Sleep(5);
    }
    EXPECT_TRUE(CountFits(start, end, kInputHz))
        << "counter " << n << " counted " << (static_cast<double>(end.total) - static_cast<double>(start.total))
        << " edges in " << static_cast<double>(end.after - start.before) / 1e6 << " ms at most";
    countSample_[n] = SampleCount(n);
  }

  void VerifyFrequency() {
    float hz = 0;
    std::uint32_t result = 0;
    const bool settled = WaitFor(
        [&] {
          result = CounterFreqRead(handle_, 0, &hz);
          return result == ZQS_SUCCESS && std::abs(hz - kInputHz) <= (Exact() ? 0.0 : 100.0);
        },
        1000);
    EXPECT_TRUE(settled) << "frequency read " << hz << " Hz, result 0x" << std::hex << result;
  }

  void VerifyOutput(unsigned n, double hz, double highSeconds) {
    double got = -1, high = -1;
    EXPECT_EQ(qio_sim_get_output(board_, n, &got, &high), QIO_TARGET_OK);
    EXPECT_NEAR(got, hz, hz * 1e-6) << "OUT" << n;
    EXPECT_NEAR(high, highSeconds, 1e-9) << "OUT" << n << " high time";
  }

  // OUT1 runs 20 ms periods inside the prescaler's window: it toggles, and
  // rising edges seen precisely (the sample before within 2 ms) lie whole
  // periods apart. Sampling can stall on a loaded machine, so only precise
  // edges are timed.
  void VerifyCountedRun() {
    constexpr double kPeriodMs = 20.0;
    int level = 0, rising = 0, falling = 0;
    EXPECT_EQ(qio_sim_get_output_level(board_, 1, &level), QIO_TARGET_OK);
    std::uint64_t previous = platform::NowNs();
    std::optional<std::uint64_t> lastPreciseRise;
    const std::uint64_t begin = previous;
    while (platform::NowNs() - begin < 300'000'000u && (rising < 3 || falling < 3)) {
      platform::Sleep(1);
      int now = 0;
      EXPECT_EQ(qio_sim_get_output_level(board_, 1, &now), QIO_TARGET_OK);
      const std::uint64_t t = platform::NowNs();
      if (now == 1 && level == 0) {
        ++rising;
        if (t - previous <= 2'000'000u) {
          if (lastPreciseRise) {
            const double ms = static_cast<double>(t - *lastPreciseRise) / 1e6;
            const double periods = std::round(ms / kPeriodMs);
            EXPECT_NEAR(ms, periods * kPeriodMs, Exact() ? 0.0 : 4.0) << "OUT1 rising edges apart";
          }
          lastPreciseRise = t;
        }
      }
      if (now == 0 && level == 1) ++falling;
      level = now;
      previous = t;
    }
    EXPECT_GE(rising, 1) << "counted PWM on OUT1";
    EXPECT_GE(falling, 1) << "counted PWM on OUT1";
  }

  void VerifyEvent(std::uint16_t type) {
    bool seen = false;
    const std::uint64_t deadline = platform::NowNs() + 1'000'000'000u;
    while (!seen && platform::NowNs() < deadline) {
      std::uint16_t got = 0;
      ASSERT_EQ(CheckEvent(handle_, &got, 100), ZQS_SUCCESS);
      seen = got == type;
    }
    EXPECT_TRUE(seen) << "no event of type 0x" << std::hex << type;
  }

  // The last value written to the interrupt-enable register so far.
  void CollectInterruptEnable() {
    for (std::vector<QioPortAccess> chunk = Trace(); !chunk.empty(); chunk = Trace()) {
      for (const QioPortAccess& a : chunk) {
        if (a.isWrite && a.offset == board::offset::kInterruptControl) lastInterruptEnable_ = a.value;
      }
    }
  }

  std::array<CountSample, 2> countSample_{};
  std::optional<std::uint32_t> lastInterruptEnable_;
};

}  // namespace qio::library::testing
