// The driver's state of a device through the harness (qio_target_driver_state),
// with the functions started through the library: what each counter function
// shows, the generators and event sources, the state before any open, the
// harness's refusals, and one consistent picture while other threads start,
// reset, open and close.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "BoardFixture.h"
#include "qio/protocol/board_registers.h"

namespace qio::library::testing {
namespace {

QioDriverState ReadState(QioTarget* target, unsigned device = 0) {
  QioDriverState state;
  std::memset(&state, 0, sizeof state);
  state.size = sizeof state;
  EXPECT_EQ(qio_target_driver_state(target, device, &state), QIO_TARGET_OK) << qio_target_last_message();
  return state;
}

class DriverStateTest : public BoardTest {
 protected:
  QioDriverState State() { return ReadState(target_); }
};

// A reader thread that reads without ever waiting races the requests on the
// real clock (on the virtual one it would keep the turn to itself).
class DriverStateRaceTest : public DriverStateTest {
 protected:
  unsigned BootFlags() const override { return 0; }
};

TEST(DriverStateBootTest, AfterBootNothingIsOpenOrProgrammed) {
  const std::string text = std::string(kBoardRegistry) + R"(
[HKEY_LOCAL_MACHINE\Drivers\BuiltIn\ZQS5162S0]
"DigPortCfg"=hex:01,00,03
)";
  QioTarget* target = nullptr;
  ASSERT_EQ(qio_target_boot(text.c_str(), &target), QIO_TARGET_OK) << qio_target_last_message();
  ASSERT_EQ(qio_sim_trace_enable(qio_target_board(target, kBoardBase), 1), QIO_TARGET_OK);
  const QioDriverState state = ReadState(target);
  EXPECT_EQ(state.version, QIO_DRIVER_STATE_VERSION);
  EXPECT_EQ(state.deviceNumber, 0);
  EXPECT_STREQ(state.streamName, "Q621:");
  EXPECT_EQ(state.ioBase, 0x300u);
  EXPECT_EQ(state.irq, 5u);
  EXPECT_EQ(state.openCount, 0);
  EXPECT_EQ(state.openState, QIO_OPEN_CLOSED);
  EXPECT_EQ(state.interruptService, 0u);
  // The registry's directions wait for the first open.
  EXPECT_EQ(state.flags, QIO_STATE_CONFIGURED);
  EXPECT_EQ(state.portConfig[0], 1u);
  EXPECT_EQ(state.portConfig[2], 3u);
  for (const QioCounterState& counter : state.counters) {
    EXPECT_EQ(counter.function, QIO_FUNCTION_IDLE);
    EXPECT_EQ(counter.flags, 0u);
    EXPECT_EQ(counter.frequency.stage, QIO_FREQ_NONE);
  }
  EXPECT_EQ(state.eventEnableMask, 0u);
  // Reading the state neither opened the device nor touched the board.
  QioPortAccess accesses[8];
  size_t count = 99;
  ASSERT_EQ(qio_sim_trace_read(qio_target_board(target, kBoardBase), accesses, 8, &count), QIO_TARGET_OK);
  EXPECT_EQ(count, 0u);

  // The first open programs the directions and starts interrupt service.
  std::uint32_t h = 0;
  ASSERT_EQ(DeviceOpen(0, &h), ZQS_SUCCESS);
  const QioDriverState open = ReadState(target);
  EXPECT_EQ(open.openCount, 1);
  EXPECT_EQ(open.openState, QIO_OPEN_OPEN);
  EXPECT_EQ(open.interruptService, QIO_INTERRUPT_THREAD | QIO_INTERRUPT_BOUND);
  EXPECT_EQ(open.flags, QIO_STATE_CONFIGURED | QIO_STATE_DIRECTIONS);
  EXPECT_EQ(open.directionControl, board::direction::kPortB | board::direction::kPortCLow);
  DeviceClose(&h);
  EXPECT_EQ(ReadState(target).interruptService, 0u);
  EXPECT_EQ(qio_target_shutdown(target), QIO_TARGET_OK);
}

TEST(DriverStateBootTest, RefusesWhatItCannotAnswer) {
  QioTarget* target = nullptr;
  ASSERT_EQ(qio_target_boot(kBoardRegistry.c_str(), &target), QIO_TARGET_OK) << qio_target_last_message();
  QioDriverState state;
  std::memset(&state, 0, sizeof state);
  state.size = 4;
  EXPECT_EQ(qio_target_driver_state(target, 0, &state), QIO_TARGET_E_ARGUMENT);
  EXPECT_STREQ(qio_target_last_message(), "qio_target_driver_state: state->size is 4; set it to sizeof(QioDriverState)");
  EXPECT_EQ(qio_target_driver_state(target, 0, nullptr), QIO_TARGET_E_ARGUMENT);
  state.size = sizeof state;
  EXPECT_EQ(qio_target_driver_state(target, 255, &state), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_target_driver_state(target, 7, &state), QIO_TARGET_E_DEVICE);
  EXPECT_STREQ(qio_target_last_message(), "qio_target_driver_state: no loaded driver has device 7");
  // An older caller's header-only record.
  state.size = 8;
  state.flags = 0xAB;
  EXPECT_EQ(qio_target_driver_state(target, 0, &state), QIO_TARGET_OK);
  EXPECT_EQ(state.size, 8u);
  EXPECT_EQ(state.version, QIO_DRIVER_STATE_VERSION);
  EXPECT_EQ(state.flags, 0xABu);
  ASSERT_EQ(qio_target_shutdown(target), QIO_TARGET_OK);
  state.size = sizeof state;
  EXPECT_EQ(qio_target_driver_state(target, 0, &state), QIO_TARGET_E_STATE);
}

TEST_F(DriverStateTest, EventCountingAndItsInterrupt) {
  ASSERT_EQ(qio_sim_set_counter_input(board_, 1, 2e6, 50), QIO_TARGET_OK);
  ASSERT_EQ(CounterEventStart(handle_, 1, 0), ZQS_SUCCESS);
  // 65536 edges at 2 MHz: a terminal count every 33 ms.
  ASSERT_TRUE(WaitFor([&] { return State().counters[1].tally >= 2; }));
  const QioDriverState state = State();
  const QioCounterState& counter = state.counters[1];
  EXPECT_EQ(counter.function, QIO_FUNCTION_EVENT_COUNT);
  EXPECT_EQ(counter.flags, QIO_COUNTER_INTERRUPT);
  EXPECT_EQ(counter.mode, board::mode::kEventCount);
  EXPECT_EQ(counter.load, 1u);
  EXPECT_EQ(state.counters[0].function, QIO_FUNCTION_IDLE);
  EXPECT_EQ(state.counterInterrupts, board::interrupt::TerminalCount(1));
  EXPECT_EQ(state.interruptEnable, board::interrupt::TerminalCount(1));
  ASSERT_EQ(CounterReset(handle_, 1), ZQS_SUCCESS);
  const QioDriverState reset = State();
  EXPECT_EQ(reset.counters[1].function, QIO_FUNCTION_IDLE);
  EXPECT_EQ(reset.counters[1].flags, 0u);
  EXPECT_EQ(reset.interruptEnable, 0u);
}

TEST_F(DriverStateTest, FrequencyMeasurementStagesAndTheirResults) {
  // 1 MHz: the 2 ms estimate, published by the start; gate clock 1 MHz.
  ASSERT_EQ(qio_sim_set_counter_input(board_, 0, 1e6, 50), QIO_TARGET_OK);
  const std::uint32_t before = State().counters[0].frequency.sequence;
  ASSERT_EQ(CounterFreqStart(handle_, 0, 0, 0), ZQS_SUCCESS);
  QioDriverState state = State();
  EXPECT_EQ(state.counters[0].function, QIO_FUNCTION_FREQUENCY);
  EXPECT_EQ(state.counters[0].flags, QIO_COUNTER_HAS_PARTNER);
  EXPECT_EQ(state.counters[1].flags, QIO_COUNTER_IS_PARTNER);
  const QioFrequencyState& medium = state.counters[0].frequency;
  EXPECT_EQ(medium.method, 0u);
  EXPECT_EQ(medium.stage, QIO_FREQ_MEDIUM);
  EXPECT_EQ(medium.gateMs, 20u);
  EXPECT_EQ(medium.gateEdges, 2000u);
  EXPECT_FLOAT_EQ(medium.timebaseHz, 1e6f);
  EXPECT_EQ(medium.gateClock, 0x1400u);
  EXPECT_EQ(medium.flags & QIO_FREQ_PUBLISHED, QIO_FREQ_PUBLISHED);
  EXPECT_FLOAT_EQ(medium.hz, 1e6f);
  EXPECT_EQ(medium.sequence, before + 1);
  EXPECT_EQ(state.generators[0].owner, QIO_GENERATOR_GATE);
  EXPECT_EQ(state.generators[0].word, 0x1400u);
  ASSERT_EQ(CounterReset(handle_, 0), ZQS_SUCCESS);
  state = State();
  EXPECT_EQ(state.counters[0].frequency.stage, QIO_FREQ_NONE);
  EXPECT_EQ(state.counters[0].frequency.flags, 0u);
  EXPECT_EQ(state.counters[1].flags, 0u);

  // 1 kHz: the period method on the base clock, 10000 + 10000 ticks.
  ASSERT_EQ(qio_sim_set_counter_input(board_, 0, 1e3, 50), QIO_TARGET_OK);
  ASSERT_EQ(CounterFreqStart(handle_, 0, 0, 0), ZQS_SUCCESS);
  const QioFrequencyState period = State().counters[0].frequency;
  EXPECT_EQ(period.stage, QIO_FREQ_PERIOD_BASE);
  EXPECT_EQ(period.highTicks + period.lowTicks, 20000);
  EXPECT_FLOAT_EQ(period.hz, 1000.0f);
  EXPECT_EQ(period.gateClock, 0u);
  ASSERT_EQ(CounterReset(handle_, 0), ZQS_SUCCESS);

  // 100 Hz: the slow pass runs in a thread; its result comes later, marked.
  ASSERT_EQ(qio_sim_set_counter_input(board_, 0, 100, 50), QIO_TARGET_OK);
  ASSERT_EQ(CounterFreqStart(handle_, 0, 0, 0), ZQS_SUCCESS);
  const QioFrequencyState slow = State().counters[0].frequency;
  EXPECT_EQ(slow.stage, QIO_FREQ_PERIOD_SLOW);
  EXPECT_EQ(slow.flags & (QIO_FREQ_PUBLISHED | QIO_FREQ_PASS_RUNNING), QIO_FREQ_PASS_RUNNING);
  EXPECT_FLOAT_EQ(slow.timebaseHz, 100e3f);
  EXPECT_EQ(slow.gateClock, 0x1500u);
  ASSERT_TRUE(WaitFor([&] { return (State().counters[0].frequency.flags & QIO_FREQ_PUBLISHED) != 0; }, 5000));
  const QioFrequencyState published = State().counters[0].frequency;
  EXPECT_NEAR(published.hz, 100.0, 0.01);
  EXPECT_EQ(published.sequence, slow.sequence + 1);
  EXPECT_EQ(published.highTicks + published.lowTicks, 1000);
  ASSERT_EQ(CounterReset(handle_, 0), ZQS_SUCCESS);

  // A fixed gate of 10 ms (2 MHz time base) on 50 kHz.
  ASSERT_EQ(qio_sim_set_counter_input(board_, 0, 50e3, 50), QIO_TARGET_OK);
  ASSERT_EQ(CounterFreqStart(handle_, 0, 10, 0), ZQS_SUCCESS);
  ASSERT_TRUE(WaitFor([&] { return (State().counters[0].frequency.flags & QIO_FREQ_PUBLISHED) != 0; }));
  state = State();
  EXPECT_EQ(state.counters[0].frequency.method, 10u);
  EXPECT_EQ(state.counters[0].frequency.stage, QIO_FREQ_FIXED_GATE);
  EXPECT_EQ(state.counters[0].frequency.gateMs, 10u);
  EXPECT_FLOAT_EQ(state.counters[0].frequency.timebaseHz, 2e6f);
  EXPECT_EQ(state.counters[0].frequency.gateClock, 0x1304u);
  EXPECT_EQ(state.counters[0].load, 20000u);  // 10 ms of 2 MHz
  EXPECT_NEAR(state.counters[0].frequency.hz, 50e3, 100);
}

TEST_F(DriverStateTest, OutputsAndTheirGenerators) {
  // Pulse on counter 1: 10 ms on 10 MHz / 2, half period 25000 counts.
  ASSERT_EQ(CounterPulseStart(handle_, 1, 0.01f, 0, 0), ZQS_SUCCESS);
  // Frequency output on generator 0 while counter 0 stays idle.
  ASSERT_EQ(FreqOutStart(handle_, 0, 4, ZQS_FREQOUT_SOURCE(4)), ZQS_SUCCESS);
  QioDriverState state = State();
  EXPECT_EQ(state.counters[1].function, QIO_FUNCTION_PULSE);
  EXPECT_EQ(state.counters[1].load, 25000u);
  EXPECT_EQ(state.counters[1].hold, 25000u);
  EXPECT_EQ(board::mode::SourceOf(state.counters[1].mode), board::mode::kSourceGenerator1);
  EXPECT_EQ(state.generators[1].owner, QIO_GENERATOR_PULSE);
  EXPECT_EQ(state.generators[1].word, 0x1301u);
  EXPECT_EQ(state.counters[0].function, QIO_FUNCTION_IDLE);
  EXPECT_EQ(state.generators[0].owner, QIO_GENERATOR_FREQOUT);
  EXPECT_EQ(state.generators[0].word, 0x1403u);
  ASSERT_EQ(CounterReset(handle_, 1), ZQS_SUCCESS);
  ASSERT_EQ(CounterReset(handle_, 0), ZQS_SUCCESS);
  state = State();
  EXPECT_EQ(state.generators[0].owner, QIO_GENERATOR_IDLE);
  EXPECT_EQ(state.generators[0].word, 0u);
  EXPECT_EQ(state.generators[1].word, 0u);

  // Continuous PWM on counter 1: 2 ms / 1 ms on the base clock.
  ASSERT_EQ(CounterPWMSetting(handle_, 1, 0.002f, 0.001f, 0, 0), ZQS_SUCCESS);
  EXPECT_EQ(State().counters[1].function, QIO_FUNCTION_IDLE);  // loaded, not yet running
  EXPECT_EQ(State().counters[1].flags, QIO_COUNTER_PWM_LOADED);
  ASSERT_EQ(CounterPWMEnable(handle_, 1), ZQS_SUCCESS);
  state = State();
  EXPECT_EQ(state.counters[1].function, QIO_FUNCTION_PWM);
  EXPECT_EQ(state.counters[1].load, 20000u);
  EXPECT_EQ(state.counters[1].hold, 20000u);
  EXPECT_EQ(state.counters[1].pwmPulses, 0u);
  ASSERT_EQ(CounterReset(handle_, 1), ZQS_SUCCESS);

  // Counted: 50 periods of 2 ms on counter 1, counter 0 its prescaler; the
  // prescaler's terminal count ends both.
  ASSERT_EQ(CounterPWMSetting(handle_, 1, 0.002f, 0.001f, 50, 0), ZQS_SUCCESS);
  ASSERT_EQ(CounterPWMEnable(handle_, 1), ZQS_SUCCESS);
  state = State();
  EXPECT_EQ(state.counters[1].function, QIO_FUNCTION_PWM);
  EXPECT_EQ(state.counters[1].flags, QIO_COUNTER_PWM_LOADED | QIO_COUNTER_PWM_COUNTED);
  EXPECT_EQ(state.counters[1].pwmPulses, 50u);
  EXPECT_EQ(state.counters[0].function, QIO_FUNCTION_PWM);
  EXPECT_EQ(state.counters[0].flags, QIO_COUNTER_PRESCALER | QIO_COUNTER_INTERRUPT);
  EXPECT_EQ(state.generators[0].owner, QIO_GENERATOR_PWM);
  ASSERT_TRUE(WaitFor([&] { return State().counters[1].function == QIO_FUNCTION_IDLE; }, 3000));
  EXPECT_EQ(State().counters[0].function, QIO_FUNCTION_IDLE);
  EXPECT_EQ(State().counterInterrupts, 0u);
}

TEST_F(DriverStateTest, PwmMeasurementLeavesItsPhases) {
  ASSERT_EQ(qio_sim_set_counter_input(board_, 0, 50, 25), QIO_TARGET_OK);
  float high = 0, low = 0;
  ASSERT_EQ(PWMStartRead(handle_, 0, &high, &low), ZQS_SUCCESS);
  const QioDriverState state = State();
  EXPECT_EQ(state.counters[0].function, QIO_FUNCTION_IDLE);
  EXPECT_EQ(state.counters[1].function, QIO_FUNCTION_IDLE);
  EXPECT_EQ(state.counters[0].frequency.stage, QIO_FREQ_NONE);
  EXPECT_EQ(state.generators[0].owner, QIO_GENERATOR_IDLE);
  EXPECT_FLOAT_EQ(state.pwmHighUs, high);
  EXPECT_FLOAT_EQ(state.pwmLowUs, low);
  EXPECT_NEAR(state.pwmHighUs, 5000, 200);
  EXPECT_EQ(state.pwmTimebaseHz, 10000u);
}

TEST_F(DriverStateTest, EventSourcesWithTheirCounts) {
  ASSERT_EQ(DioEnableEventAndSpecifyDiPorts(handle_, ZQS_EVENT_DI(9), 1, 2), ZQS_SUCCESS);
  ASSERT_EQ(EnableEvent(handle_, ZQS_EVENT_DI(9), 1, 3), ZQS_SUCCESS);
  ASSERT_EQ(EnableEvent(handle_, ZQS_EVENT_TERMINAL_COUNT1, 1, 1), ZQS_SUCCESS);
  ASSERT_EQ(qio_sim_set_di(board_, 2, 0x81), QIO_TARGET_OK);
  ASSERT_EQ(qio_sim_set_di_square(board_, 9, 100), QIO_TARGET_OK);
  // Rising edges of 100 Hz: the count runs 1, 2, then back to 0 at the third.
  ASSERT_TRUE(WaitFor([&] { return State().events[9].interruptCount >= 1; }));
  const QioDriverState state = State();
  EXPECT_EQ(state.eventEnableMask, (1u << 9) | (1u << 25));
  EXPECT_EQ(state.events[9].triggerCount, 3u);
  EXPECT_LT(state.events[9].interruptCount, 3u);
  EXPECT_EQ(state.events[9].startPort, 1u);
  EXPECT_EQ(state.events[9].portCount, 2u);
  EXPECT_EQ(state.events[25].triggerCount, 1u);
  EXPECT_EQ(state.eventInterrupts, board::interrupt::DiPort(1) | board::interrupt::TerminalCount(1));
  EXPECT_EQ(state.diLatched[2], 0x81);
  ASSERT_EQ(EnableEvent(handle_, ZQS_EVENT_DI(9), 0, 0), ZQS_SUCCESS);
  EXPECT_EQ(State().events[9].triggerCount, 0u);
  EXPECT_EQ(State().eventEnableMask, 1u << 25);
}

// Checks what must hold in any one picture of the board; returns the first
// broken rule, or "".
std::string BrokenRule(const QioDriverState& s) {
  for (unsigned n = 0; n < 2; ++n) {
    const QioCounterState& c = s.counters[n];
    const QioGeneratorState& g = s.generators[n];
    const std::string at = " (counter " + std::to_string(n) + ")";
    if (g.owner != QIO_GENERATOR_IDLE && (g.word & board::generator::kEnable) == 0) return "owned generator stopped" + at;
    if (g.owner == QIO_GENERATOR_PULSE && c.function != QIO_FUNCTION_PULSE) return "pulse generator without pulse" + at;
    if (c.function == QIO_FUNCTION_PULSE && board::mode::SourceOf(c.mode) == board::mode::kSourceGenerator0 + n &&
        g.owner != QIO_GENERATOR_PULSE) {
      return "pulse on a generator it does not own" + at;
    }
    if (g.owner == QIO_GENERATOR_FREQOUT && g.word != 0x1403) return "frequency output word" + at;
    if ((c.flags & QIO_COUNTER_HAS_PARTNER) && c.function != QIO_FUNCTION_FREQUENCY) return "partner without measurement" + at;
  }
  if ((s.counters[0].flags & QIO_COUNTER_HAS_PARTNER) != 0 && s.counters[1].function != QIO_FUNCTION_IDLE) {
    return "partner block runs a function of its own";
  }
  const bool counted = s.counters[1].function == QIO_FUNCTION_PWM && (s.counters[1].flags & QIO_COUNTER_PWM_COUNTED);
  if (counted && s.counters[0].function != QIO_FUNCTION_PWM) return "counted PWM without its prescaler";
  return "";
}

TEST_F(DriverStateRaceTest, OnePictureWhileAnotherThreadStartsAndResets) {
  ASSERT_EQ(qio_sim_set_counter_input(board_, 0, 1e6, 50), QIO_TARGET_OK);
  std::atomic<bool> done{false};
  std::atomic<bool> failed{false};
  std::atomic<unsigned> reads{0};
  std::string broken;  // the reader's until it is joined
  std::thread reader([&] {
    while (!done.load() && broken.empty()) {
      broken = BrokenRule(ReadState(target_));
      reads.fetch_add(1);
    }
    failed.store(!broken.empty());
  });
  for (std::uint16_t round = 0; round < 12 && !failed.load(); ++round) {
    CounterPulseStart(handle_, 1, 0.01f, 0, 0);
    FreqOutStart(handle_, 0, 4, ZQS_FREQOUT_SOURCE(4));
    CounterFreqStart(handle_, 0, 0, 0);  // busy while the frequency output holds generator 0
    CounterReset(handle_, 1);
    CounterReset(handle_, 0);
    CounterFreqStart(handle_, 0, round % 2 == 0 ? 0 : 10, 0);
    CounterPulseStart(handle_, 1, 0.004f, 0, 0);  // busy: the measurement borrows block 1
    CounterReset(handle_, static_cast<std::uint16_t>(round % 2));
    CounterReset(handle_, 0);
    if (CounterPWMSetting(handle_, 1, 0.002f, 0.001f, 3, 0) == ZQS_SUCCESS) CounterPWMEnable(handle_, 1);
    CounterEventStart(handle_, 0, 0);  // busy while the counted run lasts
    CounterReset(handle_, static_cast<std::uint16_t>(round % 2));
    CounterReset(handle_, 0);
  }
  done.store(true);
  reader.join();
  EXPECT_EQ(broken, "");
  EXPECT_GT(reads.load(), 10u);
}

TEST_F(DriverStateRaceTest, ReadsBesideOpensAndCloses) {
  // The library's handle stays open; a second stream opens and closes, and
  // after the library's close every open of it is a first open.
  DeviceClose(&handle_);
  handle_ = 0;
  std::atomic<bool> done{false};
  std::atomic<bool> failed{false};
  std::string broken;  // the reader's until it is joined
  std::thread reader([&] {
    while (!done.load() && broken.empty()) {
      const QioDriverState s = ReadState(target_);
      if ((s.flags & QIO_STATE_CONFIGURED) && s.ioBase != kBoardBase) broken = "a half-applied base";
      if (s.openCount < 0 || s.openCount > 2) broken = "open count " + std::to_string(s.openCount);
      if (s.openState == QIO_OPEN_CLOSED && s.interruptService != 0) broken = "closed with interrupt service";
    }
    failed.store(!broken.empty());
  });
  for (int round = 0; round < 20 && !failed.load(); ++round) {
    QioStream* stream = nullptr;
    ASSERT_EQ(qio_target_device_open(target_, "Q621:", &stream), QIO_TARGET_OK) << qio_target_last_message();
    ASSERT_EQ(qio_target_device_close(stream), QIO_TARGET_OK);
  }
  done.store(true);
  reader.join();
  EXPECT_EQ(broken, "");
  EXPECT_EQ(ReadState(target_).openCount, 0);
}

}  // namespace
}  // namespace qio::library::testing
