// --vcd: the board's pins and register accesses of a whole run as a Value
// Change Dump, read back with sigrok-cli when it is installed and with the
// tool's own reader, checked against what the board was told to do.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ToolRunner.h"
#include "Vcd.h"

namespace qio::tool::test {
namespace {

using ::testing::HasSubstr;

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// The sigrok command-line tool on PATH, or empty.
std::string FindSigrok() {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string candidate = dir + "/sigrok-cli";
    struct stat info {};
    if (!dir.empty() && stat(candidate.c_str(), &info) == 0 && (info.st_mode & S_IXUSR) != 0) return candidate;
  }
  return {};
}

// Rising and falling edges of a 1-bit trace, in ns.
struct Edges {
  std::vector<std::uint64_t> rises;
  std::vector<std::uint64_t> falls;
};
Edges EdgesOf(const VcdTrace& trace) {
  Edges edges;
  std::uint64_t level = 0;
  bool first = true;
  for (const VcdTrace::Value& value : trace.values) {
    if (!value.known) continue;
    if (!first && value.value != level) (value.value ? edges.rises : edges.falls).push_back(value.time);
    level = value.value;
    first = false;
  }
  return edges;
}

// Every full period of the trace: the time between rises, and the high time
// after each rise.
void ExpectPwm(const VcdTrace& trace, std::uint64_t periodNs, std::uint64_t highNs, std::size_t atLeast) {
  const Edges edges = EdgesOf(trace);
  ASSERT_GE(edges.rises.size(), atLeast + 1);
  for (std::size_t i = 0; i + 1 < edges.rises.size(); ++i) {
    EXPECT_EQ(edges.rises[i + 1] - edges.rises[i], periodNs) << i;
    const auto fall = std::upper_bound(edges.falls.begin(), edges.falls.end(), edges.rises[i]);
    ASSERT_NE(fall, edges.falls.end());
    EXPECT_EQ(*fall - edges.rises[i], highNs) << i;
  }
}

// The value of a trace at a time (the last change at or before it).
std::optional<std::uint64_t> ValueAt(const VcdTrace& trace, std::uint64_t time) {
  std::optional<std::uint64_t> value;
  for (const VcdTrace::Value& change : trace.values) {
    if (change.time > time) break;
    value = change.known ? std::optional<std::uint64_t>(change.value) : std::nullopt;
  }
  return value;
}

class VcdTest : public ToolTest {
 protected:
  // A PWM of 2 ms with 0.5 ms high on OUT1, kept running for ten terminal
  // counts of counter 1 (five periods).
  std::string PwmRun() {
    return WriteFile("pwm.txt",
                     "pwm 1 --period 2ms --high 0.5ms\n"
                     "events --enable tc1 --count 10 --timeout 5s\n");
  }
  VcdFile Parse(const std::string& text) {
    std::string error;
    const std::optional<VcdFile> file = ReadVcd(text, &error);
    EXPECT_TRUE(file.has_value()) << error;
    return file.value_or(VcdFile{});
  }
};

TEST_F(VcdTest, PwmOnOut1ReadBackByOwnReader) {
  const std::string vcd = dir_ + "/pwm.vcd";
  const ToolResult result = Run({"--virtual-time", "run", PwmRun(), "--vcd", vcd, "--input", "0=10kHz"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const std::string text = ReadFile(vcd);
  EXPECT_THAT(text, HasSubstr("$timescale 1 ns $end"));
  const VcdFile file = Parse(text);
  EXPECT_EQ(file.timescale, "1 ns");
  for (const char* name : {"CLK0", "CLK1", "OUT0", "OUT1", "FOUT0", "FOUT1"}) {
    const VcdTrace* trace = file.Find(name);
    ASSERT_NE(trace, nullptr) << name;
    EXPECT_EQ(trace->width, 1u) << name;
  }
  for (const char* name : {"A", "B", "C", "reg_offset"}) {
    ASSERT_NE(file.Find(name), nullptr) << name;
    EXPECT_EQ(file.Find(name)->width, 8u) << name;
  }
  ASSERT_NE(file.Find("reg_value"), nullptr);
  EXPECT_EQ(file.Find("reg_value")->width, 32u);
  ASSERT_NE(file.Find("reg_write"), nullptr);

  ExpectPwm(*file.Find("OUT1"), 2'000'000, 500'000, 3);
  // The input given on the command line: 10 kHz, a rise every 100 us.
  ExpectPwm(*file.Find("CLK0"), 100'000, 50'000, 20);
  // Nothing drives OUT0 and FOUT1.
  EXPECT_TRUE(EdgesOf(*file.Find("OUT0")).rises.empty());
  EXPECT_TRUE(EdgesOf(*file.Find("FOUT1")).rises.empty());
}

TEST_F(VcdTest, PwmOnOut1ReadBackBySigrokOrOwnReader) {
  const std::string vcd = dir_ + "/bits.vcd";
  const ToolResult result = Run({"--virtual-time", "run", PwmRun(), "--vcd", vcd, "--vcd-bits"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  std::string text = ReadFile(vcd);
  const std::string sigrok = FindSigrok();
  if (!sigrok.empty()) {
    // sigrok reads the file and writes what it understood as VCD again.
    const ToolResult read = RunProgram(sigrok, {"-I", "vcd", "-i", vcd, "-O", "vcd"});
    ASSERT_EQ(read.exitCode, 0) << read.err;
    EXPECT_THAT(read.out, HasSubstr("OUT1"));
    text = read.out;
  } else {
    std::cout << "sigrok-cli not found: reading the file with the tool's own reader\n";
  }
  const VcdFile file = Parse(text);
  ASSERT_NE(file.Find("OUT1"), nullptr);
  ExpectPwm(*file.Find("OUT1"), 2'000'000, 500'000, 3);
  // One wire per bit: the ports' lines by their names.
  for (const char* name : {"A0", "B1", "C7", "reg_offset7", "reg_value31", "reg_write"}) {
    EXPECT_NE(file.Find(name), nullptr) << name;
  }
}

TEST_F(VcdTest, PortsAndRegisterAccesses) {
  const std::string vcd = dir_ + "/dio.vcd";
  const std::string script = WriteFile("dio.txt",
                                       "dio mode A out\n"
                                       "dio write A 0x5A --loopback A:B\n"
                                       "dio read B\n");
  const ToolResult result = Run({"run", script, "--vcd", vcd});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const VcdFile file = Parse(ReadFile(vcd));
  const VcdTrace* a = file.Find("A");
  const VcdTrace* b = file.Find("B");
  const VcdTrace* offset = file.Find("reg_offset");
  const VcdTrace* value = file.Find("reg_value");
  const VcdTrace* write = file.Find("reg_write");
  ASSERT_TRUE(a && b && offset && value && write);
  EXPECT_EQ(a->values.front().value, 0u);
  EXPECT_EQ(a->values.back().value, 0x5Au);
  EXPECT_EQ(b->values.back().value, 0x5Au);
  // The write of 0x5A to port A's data register (offset 0x26) is there, with
  // its write pulse, at the instant port A's pins changed.
  bool found = false;
  for (const VcdTrace::Value& change : offset->values) {
    if (change.value != 0x26 || ValueAt(*value, change.time) != 0x5Au || ValueAt(*write, change.time) != 1u) continue;
    found = true;
    EXPECT_EQ(ValueAt(*write, change.time + 1), 0u);
    EXPECT_EQ(ValueAt(*a, change.time), 0x5Au);
    EXPECT_NE(ValueAt(*a, change.time - 1), 0x5Au);
  }
  EXPECT_TRUE(found);
}

TEST_F(VcdTest, CapMarksTheRestUnknown) {
  const std::string vcd = dir_ + "/fast.vcd";
  const ToolResult result =
      Run({"--virtual-time", "count", "watch", "0", "--for", "0.3s", "--input", "0=20MHz", "--vcd", vcd});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.err, HasSubstr("CLK0 reached 100000 changes"));
  const std::string text = ReadFile(vcd);
  EXPECT_LT(text.size(), 20'000'000u);
  const VcdFile file = Parse(text);
  const VcdTrace* clk = file.Find("CLK0");
  ASSERT_NE(clk, nullptr);
  ASSERT_FALSE(clk->values.empty());
  EXPECT_FALSE(clk->values.back().known);
  EXPECT_LE(clk->values.size(), 100'002u);
  // Up to the cap, exactly 20 MHz.
  const Edges edges = EdgesOf(*clk);
  for (std::size_t i = 1; i < 100 && i < edges.rises.size(); ++i) EXPECT_EQ(edges.rises[i] - edges.rises[i - 1], 50u);
}

TEST_F(VcdTest, ShellLinesAndFailuresAreRecorded) {
  const std::string whole = dir_ + "/shell.vcd";
  const std::string line = dir_ + "/line.vcd";
  const ToolResult result = Run({"shell", "--vcd", whole},
                                "pulse 1 --period 1ms\n"
                                "count watch 0 --for 20ms --vcd " + line + "\n"
                                "dio mode A in/out\n");
  EXPECT_EQ(result.exitCode, 1);  // the last line failed
  const VcdFile shell = Parse(ReadFile(whole));
  const VcdFile inner = Parse(ReadFile(line));
  // The pulse runs through the whole shell session: 1 ms period, 0.5 ms high.
  ExpectPwm(*shell.Find("OUT1"), 1'000'000, 500'000, 10);
  ExpectPwm(*inner.Find("OUT1"), 1'000'000, 500'000, 10);

  // A one-shot command that fails still leaves its waveform.
  const std::string failed = dir_ + "/failed.vcd";
  EXPECT_EQ(Run({"dio", "mode", "A", "in/out", "--vcd", failed}).exitCode, 1);
  EXPECT_NE(ReadFile(failed).find("$enddefinitions"), std::string::npos);
}

TEST_F(VcdTest, BothCountersEventsAndAResetSideBySide) {
  // Counter 0 pulses, counter 1 runs a PWM, DI events come from a square
  // wave; then counter 0 is reset while counter 1 goes on.
  const std::string vcd = dir_ + "/both.vcd";
  const std::string script = WriteFile("both.txt",
                                       "pulse 0 --period 1ms\n"
                                       "pwm 1 --period 4ms --high 1ms\n"
                                       "events --enable diA2 --count 5 --timeout 5s --di-square A2=500Hz\n"
                                       "reset 0\n"
                                       "events --enable tc1 --count 4 --timeout 5s\n");
  const ToolResult result = Run({"run", script, "--vcd", vcd});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const VcdFile file = Parse(ReadFile(vcd));
  const VcdTrace* out0 = file.Find("OUT0");
  const VcdTrace* out1 = file.Find("OUT1");
  const VcdTrace* a = file.Find("A");
  ASSERT_TRUE(out0 && out1 && a);
  const Edges pulses = EdgesOf(*out0);
  ASSERT_GE(pulses.rises.size(), 6u);
  for (std::size_t i = 1; i < pulses.rises.size(); ++i) {
    EXPECT_EQ(pulses.rises[i] - pulses.rises[i - 1], 1'000'000u) << i;
  }
  const Edges pwm = EdgesOf(*out1);
  ASSERT_FALSE(pwm.rises.empty());
  EXPECT_GT(pwm.rises.back(), pulses.rises.back() + 4'000'000);  // OUT1 kept going after the reset
  ExpectPwm(*out1, 4'000'000, 1'000'000, 3);
  EXPECT_EQ(ValueAt(*out0, pwm.rises.back()), 0u);  // OUT0 low since the reset
  // The square wave on A2 shows on port A as bit 2, 1 ms high and 1 ms low.
  std::vector<std::uint64_t> rises;
  for (std::size_t i = 1; i < a->values.size(); ++i) {
    if ((a->values[i].value & 0x04) != 0 && (a->values[i - 1].value & 0x04) == 0) rises.push_back(a->values[i].time);
  }
  ASSERT_GE(rises.size(), 5u);
  for (std::size_t i = 1; i < rises.size(); ++i) EXPECT_EQ(rises[i] - rises[i - 1], 2'000'000u) << i;
}

TEST_F(VcdTest, UnwritableFileIsAUsageError) {
  const ToolResult result = Run({"list", "--vcd", dir_ + "/no/such/dir/x.vcd"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(result.err, HasSubstr("--vcd: cannot write"));
  EXPECT_EQ(Run({"list", "--vcd-bits"}).exitCode, 2);

  // A folder given for the file: refused before the command runs, not
  // found out at its end after a document that reads as success.
  const std::string folder = dir_ + "/waves";
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  const ToolResult json = Run({"dio", "read", "A", "--vcd", folder, "--json"});
  EXPECT_EQ(json.exitCode, 2);
  EXPECT_EQ(json.Json()["error"]["kind"], "usage");
  EXPECT_THAT(json.Json()["error"]["message"].get<std::string>(), HasSubstr("--vcd: cannot write"));
  EXPECT_FALSE(std::filesystem::exists(folder + ".part"));
  EXPECT_TRUE(std::filesystem::is_directory(folder));
}

}  // namespace
}  // namespace qio::tool::test
