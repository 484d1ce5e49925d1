// events: DI and terminal-count events with their latched ports, time-outs,
// and the errors of unknown sources.
#include "ToolRunner.h"

namespace qio::tool::test {
namespace {

using ::testing::HasSubstr;

class EventsTest : public ToolTest {};

TEST_F(EventsTest, DiEventsLatchTheChosenPorts) {
  const ToolResult result = Run({"--virtual-time", "events", "--enable", "di5,ports=B:C", "--count", "2", "--timeout",
                                 "5s", "--di-square", "5=100Hz", "--di", "B=0x3C", "--di", "C=0x81", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const nlohmann::json events = result.Json();
  EXPECT_EQ(events["ended"], "count");
  ASSERT_EQ(events["events"].size(), 2u);
  for (const nlohmann::json& event : events["events"]) {
    EXPECT_EQ(event["type"], 0x3405);
    EXPECT_EQ(event["name"], "DI5");
    EXPECT_EQ(event["ports"]["B"], 0x3C);
    EXPECT_EQ(event["ports"]["C"], 0x81);
  }
  // Two rising edges of 100 Hz, 10 ms apart on the virtual clock.
  const double gap = events["events"][1]["t"].get<double>() - events["events"][0]["t"].get<double>();
  EXPECT_NEAR(gap, 0.010, 1e-9);
}

TEST_F(EventsTest, DiEventsOnTheRealClock) {
  const ToolResult result = Run({"events", "--enable", "di5,ports=B:C", "--count", "2", "--timeout", "5s",
                                 "--di-square", "5=100Hz", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const nlohmann::json events = result.Json();
  ASSERT_EQ(events["events"].size(), 2u);
  // The times are those at which the tool took the events: on a busy machine
  // the second edge may already be waiting when the first is taken, so only
  // the order and an upper bound hold (the virtual clock's test has the
  // exact 10 ms).
  const double gap = events["events"][1]["t"].get<double>() - events["events"][0]["t"].get<double>();
  EXPECT_GE(gap, 0.0);
  EXPECT_LT(gap, 0.5);
}

TEST_F(EventsTest, TheShellOnTheVirtualClockCountsAndTimesExactly) {
  // The README's session: a 1 MHz count with its terminal counts as events.
  const ToolResult result = Run({"--virtual-time", "shell"},
                                "count start 1 --input 1=1MHz\n"
                                "events --enable tc1 --count 2\n"
                                "count read 1\n");
  ASSERT_EQ(result.exitCode, 0) << result.err;
  // The start settles 50 ms after the arm; the terminal counts come every
  // 65.536 ms from the arm: 15.536 ms and 81.072 ms into the events command.
  EXPECT_THAT(result.out, HasSubstr("    0.016 s  TC1   (0x5001)"));
  EXPECT_THAT(result.out, HasSubstr("    0.081 s  TC1   (0x5001)"));
  EXPECT_THAT(result.out, HasSubstr("counter 1: total 131072 (tally 2 x 65536 + count 0)"));
}

TEST_F(EventsTest, TextShowsTypeAndPorts) {
  const ToolResult result =
      Run({"events", "--enable", "di0,ports=A", "--count", "1", "--timeout", "5s", "--di-square", "0=50Hz"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.out, HasSubstr("enabled DI0 (0x3400) latching port A"));
  EXPECT_THAT(result.out, HasSubstr("DI0   (0x3400)  latched A="));
  EXPECT_THAT(result.out, HasSubstr("1 event; count reached; the sources are disabled again"));
}

TEST_F(EventsTest, TimeOutWithoutEvents) {
  // Exit code 3: the wait ended on its time-out with nothing to show.
  const ToolResult result =
      Run({"--virtual-time", "events", "--enable", "tc1", "--enable", "di7", "--timeout", "0.3s", "--json"});
  ASSERT_EQ(result.exitCode, 3) << result.err;
  const nlohmann::json events = result.Json();
  EXPECT_EQ(events["ended"], "timeout");
  EXPECT_TRUE(events["events"].empty());
  EXPECT_EQ(events["enabled"].size(), 2u);
}

TEST_F(EventsTest, UnknownTypeIsTheLibrarysError) {
  const ToolResult result = Run({"events", "--enable", "0x3418", "--count", "1"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("0x1028: unknown event type"));
  const ToolResult ports = Run({"events", "--enable", "di1,ports=C:B", "--count", "1"});
  EXPECT_EQ(ports.exitCode, 2);
}

}  // namespace
}  // namespace qio::tool::test
