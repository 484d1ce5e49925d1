// The tour end to end: every step matched, exit code 0.
#include <sstream>

#include "ToolRunner.h"

namespace qio::tool::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

class TourTest : public ToolTest {};

TEST_F(TourTest, EveryStepMatches) {
  const ToolResult result = Run({"tour"});
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
}

}  // namespace
}  // namespace qio::tool::test
