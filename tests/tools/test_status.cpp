// status and the busy refusals, run as a user runs them: one-shot, and in run
// files and the shell, where the device stays open and the functions the
// earlier lines started keep running.
#include <sstream>

#include "ToolRunner.h"

namespace qio::tool::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

// The output of a run file cut at its echoed lines ("> status"): the text of
// each line's command, in order.
struct Block {
  std::string command;
  std::string text;
};
std::vector<Block> Blocks(const std::string& out) {
  std::vector<Block> blocks;
  std::istringstream stream(out);
  std::string line;
  while (std::getline(stream, line)) {
    if (line.rfind("> ", 0) == 0) {
      blocks.push_back({line.substr(2), ""});
    } else if (!blocks.empty()) {
      blocks.back().text += line + "\n";
    }
  }
  return blocks;
}

// The lines of the status blocks, in order.
std::vector<std::vector<std::string>> StatusLines(const std::string& out) {
  std::vector<std::vector<std::string>> all;
  for (const Block& block : Blocks(out)) {
    if (block.command.rfind("status", 0) != 0) continue;
    std::vector<std::string> lines;
    std::istringstream stream(block.text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    all.push_back(lines);
  }
  return all;
}

// Every JSON document on stdout (the shell with --json prints one per command).
std::vector<nlohmann::json> Documents(const std::string& out) {
  std::vector<nlohmann::json> documents;
  std::istringstream stream(out);
  while (stream >> std::ws && stream.peek() != EOF) {
    nlohmann::json document;
    stream >> document;
    documents.push_back(document);
  }
  return documents;
}

class StatusTest : public ToolTest {};

TEST_F(StatusTest, OneShotShowsTheTargetAsBooted) {
  ToolResult result = Run({"status"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out,
            "device 0 (Q621:, base 0x300, IRQ 5): not open, no interrupt service\n"
            "counter 0: idle\n"
            "counter 1: idle\n"
            "generator 0: idle\n"
            "generator 1: idle\n"
            "events: none enabled\n"
            "port A: in once opened (the registry's setting), pins 0x00\n"
            "port B: in once opened (the registry's setting), pins 0x00\n"
            "port C: in once opened (the registry's setting), pins 0x00\n"
            "note: a one-shot command starts from the booted target, so nothing runs yet; in 'qio5162 shell' or a "
            "'run' file, 'status' shows what the earlier commands left running\n");

  result = Run({"status", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const nlohmann::json status = result.Json();
  EXPECT_EQ(status["oneShot"], true);
  EXPECT_EQ(status["openCount"], 0);
  EXPECT_EQ(status["openState"], "closed");
  EXPECT_EQ(status["interruptService"], false);
  EXPECT_EQ(status["directionsProgrammed"], false);
  EXPECT_EQ(status["counters"][1]["function"], "idle");

  // A signal option opens the device: its directions and interrupt service show.
  const std::string registry = WriteFile("board.reg", BoardRegistry(0x300, 5, "01,00,03"));
  result = Run({"status", "--registry", registry, "--input", "0=1kHz"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.out, HasSubstr("device 0 (Q621:, base 0x300, IRQ 5): open (1 handle), interrupt service running\n"));
  EXPECT_THAT(result.out, HasSubstr("port A: out, latch 0x00, pins 0x00\n"));
  EXPECT_THAT(result.out, HasSubstr("port C: in/out (lines 0-3 in, 4-7 out), latch 0x00, pins 0x00\n"));

  result = Run({"status", "--device", "3"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err,
            "qio5162: the driver's state of device 3 cannot be read: qio_target_driver_state: no loaded driver has "
            "device 3\n");
  EXPECT_EQ(Run({"status", "--device", "300"}).exitCode, 2);
  EXPECT_THAT(Run({"status", "--help"}).out, HasSubstr("a one-shot 'status' shows the target as booted"));
}

TEST_F(StatusTest, EachCounterStateInARunFile) {
  const std::string file = WriteFile("states.txt",
                                     "status\n"
                                     "count start 1 --input 1=2MHz\n"
                                     "status\n"
                                     "reset 1\n"
                                     "freq 0 --input 0=20kHz\n"
                                     "status\n"
                                     "reset 0\n"
                                     "freq 0 --gate 10ms --input 0=50kHz\n"
                                     "status\n"
                                     "reset 0\n"
                                     "pulse 1 --period 10ms\n"
                                     "freqout 0 --source 1MHz --divisor 4\n"
                                     "status\n"
                                     "reset 0\n"
                                     "reset 1\n"
                                     "pwm 1 --period 10ms --high 2.5ms\n"
                                     "status\n"
                                     "reset 1\n"
                                     "pwm 1 --period 1s --high 0.5s --count 50\n"
                                     "status\n"
                                     "reset 1\n"
                                     "pwm 1 --period 2ms --high 1ms --count 5\n"
                                     "status\n"
                                     "reset 0\n"
                                     "pwm-measure --input 0=50Hz,duty=25\n"
                                     "status\n");
  const ToolResult result = Run({"run", file});
  ASSERT_EQ(result.exitCode, 0) << result.err << result.out;
  const auto status = StatusLines(result.out);
  ASSERT_EQ(status.size(), 9u) << result.out;

  // A run file opens the device at the first command that needs it.
  EXPECT_EQ(status[0][0], "device 0 (Q621:, base 0x300, IRQ 5): not open, no interrupt service");
  EXPECT_EQ(status[0][1], "counter 0: idle");
  EXPECT_EQ(status[0][2], "counter 1: idle");

  EXPECT_EQ(status[1][0], "device 0 (Q621:, base 0x300, IRQ 5): open (1 handle), interrupt service running");
  EXPECT_THAT(status[1][2], StartsWith("counter 1: event counting, rising edges on CLK1; tally "));

  EXPECT_THAT(status[2][1], StartsWith("counter 0: frequency measurement, automatic ranging: long gate, 1 s; result 2"));
  EXPECT_THAT(status[2][1], HasSubstr(" kHz; block 1 is its partner"));
  EXPECT_EQ(status[2][2], "counter 1: partner block of the frequency measurement on counter 0");
  EXPECT_EQ(status[2][3], "generator 0: gate clock of the frequency measurement on counter 0, 10 kHz = 10 kHz / 1 "
                          "(word 0x1600)");

  EXPECT_THAT(status[3][1], StartsWith("counter 0: frequency measurement, fixed 10 ms gate on 2 MHz; result 5"));
  EXPECT_THAT(status[3][1], HasSubstr(" kHz; block 1 is its partner"));

  EXPECT_EQ(status[4][1], "counter 0: frequency output on FOUT0, 250 kHz = 1 MHz / 4 (the counter block itself is idle)");
  EXPECT_EQ(status[4][2], "counter 1: pulse output on OUT1, period 10 ms (100 Hz): half period 25000 counts of 5 MHz "
                          "(generator 1: 10 MHz / 2)");
  EXPECT_EQ(status[4][3], "generator 0: frequency output on FOUT0, 250 kHz = 1 MHz / 4 (word 0x1403)");
  EXPECT_EQ(status[4][4], "generator 1: time base of counter 1's pulse output, 5 MHz = 10 MHz / 2 (word 0x1301)");

  EXPECT_EQ(status[5][2], "counter 1: PWM continuous on OUT1, period 10 ms, high 2.5 ms (25.0 %): low 37500 + high "
                          "12500 counts of 5 MHz (generator 1: 10 MHz / 2)");
  EXPECT_EQ(status[5][4], "generator 1: time base of counter 1's PWM, 5 MHz = 10 MHz / 2 (word 0x1301)");

  // A counted run of 50 s is still running.
  EXPECT_THAT(status[6][1], StartsWith("counter 0: prescaler of the counted PWM on counter 1: a window of 50"));
  EXPECT_THAT(status[6][2], StartsWith("counter 1: PWM counted on OUT1, 50 periods of 1 s, high 500 ms (50.0 %): low "));
  EXPECT_THAT(status[6][2], HasSubstr("; counter 0 is its prescaler"));

  // A counted run of 10 ms has ended (the command waits for it): its setting
  // stays loaded, and the prescaler keeps its generator.
  EXPECT_EQ(status[7][1], "counter 0: idle; its block holds the prescaler of counter 1's counted PWM setting");
  EXPECT_EQ(status[7][2], "counter 1: idle; a PWM setting is loaded, not running: counted, 5 periods of 2 ms, high "
                          "1 ms (50.0 %): low 20000 + high 20000 counts of the 20 MHz base clock");
  EXPECT_EQ(status[7][3], "generator 0: time base of the prescaler of counter 1's counted PWM, 5 MHz = 10 MHz / 2 "
                          "(word 0x1301)");

  // The PWM measurement is over when its command returns: what it measured stays.
  EXPECT_EQ(status[8][1], "counter 0: idle");
  EXPECT_THAT(status[8].back(), StartsWith("last PWM measurement: high "));
  EXPECT_THAT(status[8].back(), HasSubstr(" (phases timed on 10 kHz)"));
  // The event the counted run waited for is disabled again.
  EXPECT_EQ(status[8][5], "events: none enabled");
}

TEST_F(StatusTest, JsonInTheShellWhileFunctionsRunSideBySide) {
  const ToolResult result = Run({"--json", "shell"},
                                "dio mode A out\n"
                                "dio write A 0x5A\n"
                                "count start 0 --input 0=2MHz\n"
                                "freqout 1 --source 10kHz --divisor 2\n"
                                "status\n");
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const std::vector<nlohmann::json> documents = Documents(result.out);
  ASSERT_EQ(documents.size(), 5u);
  const nlohmann::json& status = documents.back();
  EXPECT_EQ(status["device"], 0);
  EXPECT_EQ(status["stream"], "Q621:");
  EXPECT_EQ(status["base"], 0x300);
  EXPECT_EQ(status["irq"], 5);
  EXPECT_EQ(status["oneShot"], false);
  EXPECT_EQ(status["openCount"], 1);
  EXPECT_EQ(status["interruptService"], true);
  EXPECT_EQ(status["interruptEnable"], 1);  // counter 0's terminal count, for the tally
  const nlohmann::json& counter0 = status["counters"][0];
  EXPECT_EQ(counter0["function"], "event counting");
  EXPECT_EQ(counter0["functionCode"], 1);
  EXPECT_EQ(counter0["mode"], 0x0218);
  EXPECT_EQ(counter0["rawConfiguration"], false);
  EXPECT_EQ(counter0["terminalCountInterrupt"], true);
  EXPECT_EQ(status["counters"][1]["function"], "frequency output");
  const nlohmann::json& generator1 = status["generators"][1];
  EXPECT_EQ(generator1["owner"], "frequency output");
  EXPECT_EQ(generator1["word"], 0x1601);
  EXPECT_EQ(generator1["hz"], 5000.0);
  EXPECT_EQ(generator1["source"], "10 kHz");
  EXPECT_EQ(generator1["divisor"], 2);
  EXPECT_EQ(status["generators"][0]["owner"], "idle");
  EXPECT_EQ(status["ports"][0]["direction"], "out");
  EXPECT_EQ(status["ports"][0]["latch"], 0x5A);
  EXPECT_EQ(status["ports"][0]["pins"], 0x5A);
  EXPECT_EQ(status["ports"][1]["direction"], "in");
  EXPECT_TRUE(status["events"].empty());
}

TEST_F(StatusTest, FrequencyAndEventsInJson) {
  const std::string file = WriteFile("freq.txt",
                                     "freq 0 --input 0=1MHz\n"
                                     "status --json\n");
  const ToolResult result = Run({"run", file});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const std::vector<Block> blocks = Blocks(result.out);
  ASSERT_EQ(blocks.size(), 2u);
  const nlohmann::json status = nlohmann::json::parse(blocks[1].text);
  const nlohmann::json& frequency = status["counters"][0]["frequency"];
  EXPECT_EQ(status["counters"][0]["function"], "frequency");
  EXPECT_EQ(status["counters"][0]["partner"], 1);
  EXPECT_EQ(status["counters"][1]["function"], "partner");
  EXPECT_EQ(status["counters"][1]["partnerOf"], 0);
  EXPECT_EQ(frequency["method"], "automatic");
  EXPECT_EQ(frequency["stage"], "2 ms gate, medium range");
  EXPECT_EQ(frequency["gateMs"], 20);
  EXPECT_EQ(frequency["gateEdges"], 2000);
  EXPECT_EQ(frequency["timebaseHz"], 1e6);
  EXPECT_EQ(frequency["published"], true);
  EXPECT_EQ(frequency["hz"], 1e6);
  EXPECT_GE(frequency["sequence"].get<unsigned>(), 1u);
  EXPECT_EQ(status["generators"][0]["owner"], "frequency gate");
}

TEST_F(StatusTest, BusyRefusalsNameWhatHoldsTheCounter) {
  const ToolResult result = Run({"shell"},
                                "count start 0\n"
                                "freq 0\n"
                                "count watch 0 --for 0.2s\n"
                                "reset 0\n"
                                "freq 0 --input 0=1MHz\n"
                                "pulse 1 --period 10ms\n"
                                "freqout 0\n"
                                "reset 0\n"
                                "pulse 0 --period 10ms\n"
                                "freqout 0\n"
                                "pwm-measure\n"
                                "count watch 0 --for 0.2s\n"
                                "reset 0\n"
                                "count start 0\n"
                                "pwm 1 --period 2ms --high 1ms --count 3\n"
                                "reset 0\n"
                                "pwm 1 --period 1s --high 0.5s --count 50\n"
                                "count start 1\n"
                                "pwm 0 --period 2ms --high 1ms\n");
  EXPECT_EQ(result.exitCode, 1);
  const std::string busy = "failed: 0x1032: counter busy\n";
  EXPECT_EQ(result.err,
            "qio5162: CounterFreqStart " + busy +
                "counter 0 is in use by event counting\n"
                "'reset 0' stops it; then try again\n"
                "qio5162: CounterPulseStart " + busy +
                "counter 1 is in use by the frequency measurement on counter 0, as its partner block\n"
                "'reset 0' stops it; then try again\n"
                "qio5162: FreqOutStart " + busy +
                "generator 0 is in use by the gate clock of the frequency measurement on counter 0\n"
                "'reset 0' stops it; then try again\n"
                "qio5162: FreqOutStart " + busy +
                "generator 0 is in use by the time base of counter 0's pulse output\n"
                "'reset 0' stops it; then try again\n"
                "qio5162: PWMStartRead " + busy +
                "counter 0 is in use by a pulse output (period 10 ms)\n"
                "'reset 0' stops it; then try again\n"
                "qio5162: CounterEventStart " + busy +
                "counter 0 is in use by a pulse output (period 10 ms)\n"
                "'reset 0' stops it; then try again\n"
                "qio5162: CounterPWMSetting " + busy +
                "counter 0 is in use by event counting\n"
                "'reset 0' stops it; then try again\n"
                "qio5162: CounterEventStart " + busy +
                "counter 1 is in use by a counted PWM output (50 periods of 1 s)\n"
                "'reset 1' stops it; then try again\n"
                "qio5162: CounterPWMSetting " + busy +
                "counter 0 is in use by the prescaler of the counted PWM on counter 1\n"
                "'reset 0' stops it; then try again\n");
  // A count that runs already is watched, not refused.
  EXPECT_THAT(result.out, HasSubstr("counter 0 is running already: watching what it counts"));
}

TEST_F(StatusTest, BusyHintsInJson) {
  const ToolResult result = Run({"--json", "shell"}, "pulse 0 --period 10ms\nfreq 0\n");
  EXPECT_EQ(result.exitCode, 1);
  const std::vector<nlohmann::json> documents = Documents(result.out);
  ASSERT_EQ(documents.size(), 2u);
  const nlohmann::json& error = documents[1]["error"];
  EXPECT_EQ(error["kind"], "device");
  EXPECT_EQ(error["exitCode"], 1);
  EXPECT_EQ(error["call"], "CounterFreqStart");
  EXPECT_EQ(error["code"], 0x1032);
  EXPECT_EQ(error["meaning"], "counter busy");
  EXPECT_EQ(error["hints"], nlohmann::json::array({"counter 0 is in use by a pulse output (period 10 ms)",
                                                   "'reset 0' stops it; then try again"}));
}

}  // namespace
}  // namespace qio::tool::test
