// The tour end to end: every step matched, exit code 0.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "ToolRunner.h"

namespace qio::tool::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

class TourTest : public ToolTest, public ::testing::WithParamInterface<bool> {};

// The tour passes on both clocks.
TEST_P(TourTest, EveryStepMatches) {
  std::vector<std::string> args{"tour"};
  if (GetParam()) args.insert(args.begin(), "--virtual-time");
  const ToolResult result = Run(args);
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  std::istringstream lines(result.out);
  std::string line;
  std::size_t steps = 0;
  std::string summary;
  while (std::getline(lines, line)) {
    if (line.rfind("[", 0) == 0) {
      ++steps;
      EXPECT_THAT(line, StartsWith("[ ok ]")) << line;
    }
    if (line.rfind("tour: ", 0) == 0) summary = line;
  }
  EXPECT_GE(steps, 30u);
  EXPECT_THAT(summary, HasSubstr(std::to_string(steps) + " of " + std::to_string(steps) + " steps matched"));
  for (const char* step : {"freq 100 Hz", "freq 1 kHz", "freq 20 kHz", "freq 1 MHz", "PWM measure", "DI event",
                           "TC event", "counted PWM", "error: busy", "loopback"}) {
    EXPECT_THAT(result.out, HasSubstr(step)) << step;
  }
  EXPECT_THAT(result.out, HasSubstr("0x1032: counter busy"));
  if (GetParam()) {
    // On the virtual clock the steps' times are exact: the TC1 events of a
    // 1 MHz count 65.5 ms apart, the DI event at the edge's instant.
    EXPECT_THAT(summary, HasSubstr("s of virtual time in"));
    EXPECT_THAT(result.out, HasSubstr("TC1 65.5 ms apart"));
    EXPECT_THAT(result.out, HasSubstr("CheckEvent DI5 (0x3405) after 0.0 ms"));
    EXPECT_THAT(result.out, HasSubstr("300000 edges of 1 MHz"));
  }
}

std::string ClockName(const ::testing::TestParamInfo<bool>& clock) {
  return clock.param ? "VirtualTime" : "RealTime";
}

INSTANTIATE_TEST_SUITE_P(Clocks, TourTest, ::testing::Bool(), ClockName);

// A VCD file without its $date section, which holds the wall-clock time.
std::string WithoutDate(const std::string& vcd) {
  const std::size_t date = vcd.find("$date");
  if (date == std::string::npos) return vcd;
  const std::size_t end = vcd.find("$end", date);
  return vcd.substr(0, date) + vcd.substr(end == std::string::npos ? vcd.size() : end + 4);
}

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class TourOnTheVirtualClock : public ToolTest {};

TEST_F(TourOnTheVirtualClock, GivesTheSameRegisterTraceOnEveryRun) {
  // Every register access of the tour (offset, value, write, time) and the
  // pins, as the --vcd file records them, byte for byte over 20 runs.
  const std::string path = dir_ + "/tour.vcd";
  std::string first;
  for (int run = 0; run < 20; ++run) {
    const ToolResult result = Run({"--virtual-time", "tour", "--vcd", path});
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    const std::string vcd = WithoutDate(ReadAll(path));
    ASSERT_THAT(vcd, HasSubstr("reg_offset"));
    if (run == 0) {
      first = vcd;
      // The tour's thousands of register accesses.
      EXPECT_GT(std::count(first.begin(), first.end(), '\n'), 10000);
    } else {
      ASSERT_TRUE(vcd == first) << "run " << run << " differs from the first";
    }
  }
}

}  // namespace
}  // namespace qio::tool::test
