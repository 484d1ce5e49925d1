// The driver's state in the tool's words, from records built by hand: the
// frequency measurement's method, each counter function's line, the
// generators, events and ports of `status`, its JSON record, and the hints
// of a busy refusal.
#include <gtest/gtest.h>

#include <cstring>

#include "DriverState.h"
#include "StatusView.h"

namespace qio::tool {
namespace {

using Kind = FrequencyMethod::Kind;

// Device 0 as the shell leaves it open: ports A out, B in, C in/out.
QioDriverState OpenDevice() {
  QioDriverState s;
  std::memset(&s, 0, sizeof s);
  s.size = sizeof s;
  s.version = QIO_DRIVER_STATE_VERSION;
  s.flags = QIO_STATE_CONFIGURED | QIO_STATE_DIRECTIONS;
  std::strcpy(s.streamName, "Q621:");
  s.ioBase = 0x300;
  s.irq = 5;
  s.openCount = 1;
  s.openState = QIO_OPEN_OPEN;
  s.interruptService = QIO_INTERRUPT_THREAD | QIO_INTERRUPT_BOUND;
  s.directionControl = 0x03;  // B and C0-3 in
  return s;
}

void Frequency(QioDriverState& s, std::uint16_t method, std::uint16_t stage, std::uint16_t gateMs,
               std::uint16_t gateClock, float timebaseHz) {
  s.counters[0].function = QIO_FUNCTION_FREQUENCY;
  s.counters[0].flags = QIO_COUNTER_HAS_PARTNER;
  s.counters[1].flags = QIO_COUNTER_IS_PARTNER;
  QioFrequencyState& f = s.counters[0].frequency;
  f.method = method;
  f.stage = stage;
  f.gateMs = gateMs;
  f.gateClock = gateClock;
  f.timebaseHz = timebaseHz;
}

TEST(FrequencyMethodTest, EachStageInWords) {
  QioDriverState s = OpenDevice();
  Frequency(s, 0, QIO_FREQ_GATE_EDGES, 2, 0, 20e6f);
  s.counters[0].frequency.gateEdges = 16000;
  FrequencyMethod method = DescribeFrequency(s, 0);
  EXPECT_EQ(method.kind, Kind::GateEdges);
  EXPECT_FALSE(method.background);
  EXPECT_EQ(method.gateEdges, 16000u);
  EXPECT_EQ(method.description, "the 2 ms gate counted 16000 edges (mode 0x0016 / 0x9748): f = edges / 2 ms");

  Frequency(s, 0, QIO_FREQ_MEDIUM, 20, 0x1400, 1e6f);
  s.counters[0].frequency.gateEdges = 2000;
  method = DescribeFrequency(s, 0);
  EXPECT_EQ(method.kind, Kind::MediumRange);
  EXPECT_EQ(method.description,
            "the 2 ms gate counted 2000 edges; medium range, gate timed by 1 MHz (generator word 0x1400): the 2 ms "
            "estimate is published");

  Frequency(s, 0, QIO_FREQ_LONG_GATE_1S, 1000, 0x1600, 10e3f);
  s.counters[0].frequency.gateEdges = 40;
  method = DescribeFrequency(s, 0);
  EXPECT_EQ(method.kind, Kind::LongGate1s);
  EXPECT_TRUE(method.background);
  EXPECT_DOUBLE_EQ(method.passSeconds, 2.0);
  EXPECT_EQ(method.description,
            "the 2 ms gate counted 40 edges; medium range: edges are counted in a 1 s gate timed by 10 kHz "
            "(generator word 0x1600), refreshed every 2 s");

  Frequency(s, 0, QIO_FREQ_LONG_GATE_2S, 2000, 0x1601, 5e3f);
  method = DescribeFrequency(s, 0);
  EXPECT_EQ(method.kind, Kind::LongGate2s);
  EXPECT_DOUBLE_EQ(method.passSeconds, 4.0);
  EXPECT_DOUBLE_EQ(method.timebaseHz, 5e3);
  EXPECT_NE(method.description.find("2 s gate timed by 5 kHz (10 kHz / 2, word 0x1601), refreshed every 4 s"),
            std::string::npos)
      << method.description;

  Frequency(s, 0, QIO_FREQ_PERIOD_BASE, 0, 0, 20e6f);
  s.counters[0].frequency.gateEdges = 2;
  s.counters[0].frequency.highTicks = 10000;
  s.counters[0].frequency.lowTicks = 10000;
  method = DescribeFrequency(s, 0);
  EXPECT_EQ(method.kind, Kind::PeriodBase);
  EXPECT_EQ(method.description,
            "the 2 ms gate counted 2 edges; both phases timed on the 20 MHz base clock (mode 0xA040): high 10000 + "
            "low 10000 ticks");

  Frequency(s, 0, QIO_FREQ_PERIOD_SLOW, 0, 0x1500, 100e3f);
  s.counters[0].frequency.gateEdges = 0;
  method = DescribeFrequency(s, 0);
  EXPECT_EQ(method.kind, Kind::PeriodSlow);
  EXPECT_DOUBLE_EQ(method.passSeconds, 1.3);
  EXPECT_DOUBLE_EQ(LongestPass(method), 2.01);
  EXPECT_EQ(method.description,
            "the 2 ms gate counted 0 edges; the phases overflowed the 20 MHz base clock (mode 0xA040), so both phases "
            "are timed on the 100 kHz time base (mode 0xA440, generator 0 = 100 kHz) in a 1.3 s pass");

  Frequency(s, 10, QIO_FREQ_FIXED_GATE, 10, 0x1304, 2e6f);
  s.counters[0].load = 20000;
  method = DescribeFrequency(s, 0);
  EXPECT_EQ(method.kind, Kind::FixedGate);
  EXPECT_DOUBLE_EQ(method.passSeconds, 0.021);
  EXPECT_FALSE(method.gateEdges.has_value());
  EXPECT_EQ(method.description, "fixed 10 ms gate timed by 2 MHz (10 MHz / 5, word 0x1304), gate count 20000");
  Frequency(s, 2, QIO_FREQ_FIXED_GATE, 2, 0, 20e6f);
  s.counters[0].load = 40000;
  EXPECT_EQ(DescribeFrequency(s, 0).description, "fixed 2 ms gate timed by the 20 MHz base clock, gate count 40000");

  s.counters[0].frequency.stage = QIO_FREQ_NONE;
  EXPECT_EQ(DescribeFrequency(s, 0).kind, Kind::Unknown);
}

TEST(CounterTextTest, EachFunctionWithItsSettings) {
  QioDriverState s = OpenDevice();
  EXPECT_EQ(CounterText(s, 0), "idle");

  s.counters[1] = {QIO_FUNCTION_EVENT_COUNT, QIO_COUNTER_INTERRUPT, 0x0218, 1, 0, 2, 0, {}};
  EXPECT_EQ(CounterText(s, 1), "event counting, rising edges on CLK1; tally 2 (x 65536 edges)");
  s.counters[1].mode = 0x0318;
  s.counters[1].load = 100;
  EXPECT_EQ(CounterText(s, 1), "event counting with a raw configuration (mode 0x0318, initial count 100); tally 2 (x 65536 edges)");

  // Pulse on generator 1 (10 MHz / 2).
  s.counters[1] = {QIO_FUNCTION_PULSE, 0, 0x0516, 25000, 25000, 0, 0, {}};
  s.generators[1] = {QIO_GENERATOR_PULSE, 0x1301};
  EXPECT_EQ(CounterText(s, 1), "pulse output on OUT1, period 10 ms (100 Hz): half period 25000 counts of 5 MHz (generator 1: 10 MHz / 2)");

  // Continuous PWM on the base clock.
  s.generators[1] = {};
  s.counters[1] = {QIO_FUNCTION_PWM, QIO_COUNTER_PWM_LOADED, 0x0036, 30000, 10000, 0, 0, {}};
  EXPECT_EQ(CounterText(s, 1), "PWM continuous on OUT1, period 2 ms, high 500 us (25.0 %): low 30000 + high 10000 counts of the 20 MHz base clock");
  EXPECT_EQ(FunctionName(s, 1), "pwm continuous");

  // Counted: 5 periods on counter 1, counter 0 the prescaler on 10 MHz / 2.
  s.counters[1] = {QIO_FUNCTION_PWM, QIO_COUNTER_PWM_LOADED | QIO_COUNTER_PWM_COUNTED, 0x1036, 20000, 20000, 0, 5, {}};
  s.counters[0] = {QIO_FUNCTION_PWM, QIO_COUNTER_PRESCALER | QIO_COUNTER_INTERRUPT, 0x0426, 1, 49999, 0, 0, {}};
  s.generators[0] = {QIO_GENERATOR_PWM, 0x1301};
  EXPECT_EQ(CounterText(s, 1), "PWM counted on OUT1, 5 periods of 2 ms, high 1 ms (50.0 %): low 20000 + high 20000 counts of the 20 MHz base clock; counter 0 is its prescaler");
  EXPECT_EQ(CounterText(s, 0), "prescaler of the counted PWM on counter 1: a window of 10 ms (49999 counts of 5 MHz (generator 0: 10 MHz / 2))");
  EXPECT_EQ(FunctionName(s, 0), "pwm prescaler");
  EXPECT_EQ(FunctionName(s, 1), "pwm counted");
  // After the run: both idle, the setting still loaded.
  s.counters[0].function = QIO_FUNCTION_IDLE;
  s.counters[1].function = QIO_FUNCTION_IDLE;
  EXPECT_EQ(CounterText(s, 1), "idle; a PWM setting is loaded, not running: counted, 5 periods of 2 ms, high 1 ms (50.0 %): low 20000 + high 20000 counts of the 20 MHz base clock");
  EXPECT_EQ(CounterText(s, 0), "idle; its block holds the prescaler of counter 1's counted PWM setting");

  // A frequency measurement and its partner block.
  s = OpenDevice();
  Frequency(s, 0, QIO_FREQ_LONG_GATE_1S, 1000, 0x1600, 10e3f);
  s.counters[0].frequency.flags = QIO_FREQ_PUBLISHED | QIO_FREQ_PASS_RUNNING;
  s.counters[0].frequency.hz = 20000;
  EXPECT_EQ(CounterText(s, 0), "frequency measurement, automatic ranging: long gate, 1 s; result 20 kHz; block 1 is its partner");
  EXPECT_EQ(CounterText(s, 1), "partner block of the frequency measurement on counter 0");
  Frequency(s, 10, QIO_FREQ_FIXED_GATE, 10, 0x1304, 2e6f);
  s.counters[0].frequency.flags = QIO_FREQ_PASS_RUNNING;
  EXPECT_EQ(CounterText(s, 0), "frequency measurement, fixed 10 ms gate on 2 MHz; no result yet, a pass is running; block 1 is its partner");

  // A frequency output on an idle counter, and the PWM measurement.
  s = OpenDevice();
  s.generators[0] = {QIO_GENERATOR_FREQOUT, 0x1403};
  EXPECT_EQ(CounterText(s, 0), "frequency output on FOUT0, 250 kHz = 1 MHz / 4 (the counter block itself is idle)");
  EXPECT_EQ(FunctionName(s, 0), "frequency output");
  s.counters[0].function = s.counters[1].function = QIO_FUNCTION_PWM_MEASURE;
  EXPECT_EQ(CounterText(s, 1), "PWM measurement of CLK0 (with counter 0)");
}

TEST(BusyHintsTest, NameWhatHoldsItAndTheResetThatFreesIt) {
  QioDriverState s = OpenDevice();
  s.counters[0].function = QIO_FUNCTION_EVENT_COUNT;
  EXPECT_EQ(BusyHints(s, {0x1, 0}),
            (std::vector<std::string>{"counter 0 is in use by event counting", "'reset 0' stops it; then try again"}));
  // freq 0 needs blocks 0 and 1 and generator 0: the first that is held.
  s.counters[0].function = QIO_FUNCTION_IDLE;
  s.counters[1] = {QIO_FUNCTION_PWM, QIO_COUNTER_PWM_LOADED, 0x0036, 30000, 10000, 0, 0, {}};
  EXPECT_EQ(BusyHints(s, {0x3, 0x1}),
            (std::vector<std::string>{"counter 1 is in use by a continuous PWM output (period 2 ms)",
                                      "'reset 1' stops it; then try again"}));
  // A partner block is freed by the reset of the measurement's counter.
  s = OpenDevice();
  Frequency(s, 0, QIO_FREQ_MEDIUM, 20, 0x1400, 1e6f);
  s.generators[0] = {QIO_GENERATOR_GATE, 0x1400};
  EXPECT_EQ(BusyHints(s, {0x2, 0x2}),
            (std::vector<std::string>{"counter 1 is in use by the frequency measurement on counter 0, as its partner block",
                                      "'reset 0' stops it; then try again"}));
  EXPECT_EQ(BusyHints(s, {0, 0x1}).front(),
            "generator 0 is in use by the gate clock of the frequency measurement on counter 0");
  s.generators[0] = {};
  EXPECT_EQ(BusyHints(s, {0, 0x1}).front(),
            "generator 0 is in use by the frequency measurement on counter 0 (reserved for it)");
  s = OpenDevice();
  s.generators[1] = {QIO_GENERATOR_FREQOUT, 0x1403};
  EXPECT_EQ(BusyHints(s, {0x2, 0x2}),
            (std::vector<std::string>{"generator 1 is in use by a frequency output on FOUT1 (250 kHz)",
                                      "'reset 1' stops it; then try again"}));
  EXPECT_EQ(BusyHints(OpenDevice(), {0x3, 0x3}),
            (std::vector<std::string>{"nothing holds it now (what did has ended); try again"}));
}

TEST(StatusReportTest, LinesAndRecordOfABusyBoard) {
  QioDriverState s = OpenDevice();
  s.counters[1] = {QIO_FUNCTION_EVENT_COUNT, QIO_COUNTER_INTERRUPT, 0x0218, 1, 0, 2, 0, {}};
  s.generators[0] = {QIO_GENERATOR_FREQOUT, 0x1403};
  s.eventEnableMask = (1u << 25) | (1u << 9);
  s.events[25] = {1, 0, 0, 0, {}};
  s.events[9] = {3, 1, 1, 2, {}};
  s.outputLatch[0] = 0x5A;
  s.outputLatch[2] = 0x50;
  s.interruptEnable = 0x0A;
  const StatusReport report = DescribeStatus(s, 0, std::array<std::uint8_t, 3>{0x5A, 0x5A, 0x5F});
  const std::vector<std::string> expected{
      "device 0 (Q621:, base 0x300, IRQ 5): open (1 handle), interrupt service running",
      "counter 0: frequency output on FOUT0, 250 kHz = 1 MHz / 4 (the counter block itself is idle)",
      "counter 1: event counting, rising edges on CLK1; tally 2 (x 65536 edges)",
      "generator 0: frequency output on FOUT0, 250 kHz = 1 MHz / 4 (word 0x1403)",
      "generator 1: idle",
      "event DI9 (0x3409): signalled every 3 interrupts, 1 since the last signal; latches ports B-C",
      "event TC1 (0x5001): signalled every interrupt, 0 since the last signal",
      "port A: out, latch 0x5A, pins 0x5A",
      "port B: in, pins 0x5A",
      "port C: in/out (lines 0-3 in, 4-7 out), latch 0x50, pins 0x5F",
  };
  EXPECT_EQ(report.lines, expected);

  const nlohmann::json& data = report.data;
  EXPECT_EQ(data["device"], 0);
  EXPECT_EQ(data["base"], 0x300);
  EXPECT_EQ(data["openState"], "open");
  EXPECT_EQ(data["counters"][0]["function"], "frequency output");
  EXPECT_EQ(data["counters"][1]["function"], "event counting");
  EXPECT_EQ(data["counters"][1]["tally"], 2);
  EXPECT_EQ(data["counters"][1]["terminalCountInterrupt"], true);
  EXPECT_EQ(data["generators"][0]["owner"], "frequency output");
  EXPECT_EQ(data["generators"][0]["hz"], 250000.0);
  EXPECT_EQ(data["generators"][0]["divisor"], 4);
  ASSERT_EQ(data["events"].size(), 2u);
  EXPECT_EQ(data["events"][0]["name"], "DI9");
  EXPECT_EQ(data["events"][0]["every"], 3);
  EXPECT_EQ(data["events"][0]["firstPort"], "B");
  EXPECT_EQ(data["events"][1]["type"], 0x5001);
  EXPECT_EQ(data["ports"][2]["direction"], "in/out");
  EXPECT_EQ(data["ports"][2]["pins"], 0x5F);
  EXPECT_EQ(data["directionsProgrammed"], true);
}

TEST(StatusReportTest, TheBootedTargetBeforeItsFirstOpen) {
  QioDriverState s = OpenDevice();
  s.flags = QIO_STATE_CONFIGURED;
  s.openCount = 0;
  s.openState = QIO_OPEN_CLOSED;
  s.interruptService = 0;
  s.portConfig[0] = 1;
  s.portConfig[2] = 4;
  const StatusReport report = DescribeStatus(s, 0, std::nullopt);
  EXPECT_EQ(report.lines.front(), "device 0 (Q621:, base 0x300, IRQ 5): not open, no interrupt service");
  EXPECT_EQ(report.lines[5], "events: none enabled");
  EXPECT_EQ(report.lines[6], "port A: out once opened (the registry's setting)");
  EXPECT_EQ(report.lines[7], "port B: in once opened (the registry's setting)");
  EXPECT_EQ(report.lines[8], "port C: out/in (lines 0-3 out, 4-7 in) once opened (the registry's setting)");
  EXPECT_EQ(report.data["directionsProgrammed"], false);
  EXPECT_FALSE(report.data["ports"][0].contains("pins"));

  // An open whose interrupt line another board holds.
  s.openCount = 1;
  s.openState = QIO_OPEN_OPEN;
  s.interruptService = QIO_INTERRUPT_THREAD;
  EXPECT_EQ(DescribeStatus(s, 0, std::nullopt).lines.front(),
            "device 0 (Q621:, base 0x300, IRQ 5): open (1 handle), no interrupt service (IRQ 5 is not bound: events "
            "do not fire)");
}

}  // namespace
}  // namespace qio::tool
