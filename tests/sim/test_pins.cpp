// Listing the pins' changes over a span: exact edge instants of clocks,
// generators, counter outputs and DIO ports, the history across register
// events and stimulus changes, its cap, and the terminal-count outlook.
#include <vector>

#include "core_fixture.h"

namespace qio::sim::test {
namespace {

class PinListingTest : public CoreTest {
 protected:
  PinListing List(Pin pin, std::uint64_t from, std::uint64_t to, std::size_t max = 1'000'000) {
    return core.ListPinChanges(pin, from, to, max);
  }
  // A PWM on block n from the 20 MHz base clock: low `low` ticks, high `high`.
  void Pwm(unsigned n, std::uint16_t low, std::uint16_t high) {
    Load(n, low);
    Hold(n, high);
    Mode(n, 0x0036);
    Command(n, command::kLoadAndArm);
    Strobe(static_cast<std::uint8_t>(1u << n));
  }
};

// Each change is where the closed-form level function flips, and the level
// holds between changes.
void ExpectMatchesOutputLevel(BoardCore& core, unsigned block, std::uint64_t from, const PinListing& listing) {
  ASSERT_TRUE(listing.known);
  EXPECT_EQ(listing.valueAtFrom, core.OutputLevel(block, from) ? 1u : 0u);
  std::uint32_t before = listing.valueAtFrom;
  std::uint64_t last = from;
  for (const PinChange& change : listing.changes) {
    EXPECT_NE(change.value, before);
    EXPECT_EQ(core.OutputLevel(block, change.timeNs) ? 1u : 0u, change.value) << change.timeNs;
    EXPECT_EQ(core.OutputLevel(block, change.timeNs - 1) ? 1u : 0u, before) << change.timeNs;
    EXPECT_EQ(core.OutputLevel(block, (last + change.timeNs) / 2) ? 1u : 0u, before) << change.timeNs;
    before = change.value;
    last = change.timeNs;
  }
}

TEST_F(PinListingTest, ClockInputIsAnExactLattice) {
  Input(0, 1000.0, 25.0);  // a rising edge now, high for 250 us of each ms
  const std::uint64_t rise = now;
  const PinListing listing = List(Pin::kClk0, rise, rise + 10 * kMs);
  ASSERT_TRUE(listing.known);
  EXPECT_EQ(listing.valueAtFrom, 1u);
  ASSERT_EQ(listing.changes.size(), 20u);
  for (std::size_t i = 0; i < 20; ++i) {
    const std::uint64_t period = rise + (i / 2) * kMs;
    const bool fall = i % 2 == 0;
    EXPECT_EQ(listing.changes[i].timeNs, fall ? period + 250 * kUs : period + kMs) << i;
    EXPECT_EQ(listing.changes[i].value, fall ? 0u : 1u) << i;
  }
  EXPECT_EQ(listing.notListed, 0u);
  // The other clock holds low.
  const PinListing idle = List(Pin::kClk1, rise, rise + 10 * kMs);
  EXPECT_EQ(idle.valueAtFrom, 0u);
  EXPECT_TRUE(idle.changes.empty());
}

TEST_F(PinListingTest, GeneratorOutputHalvesItsPeriod) {
  Generator(1, 0x1000 | 0x0400 | 3);  // 1 MHz / 4: 4 us period
  const std::uint64_t start = now - 1;
  const PinListing listing = List(Pin::kFreqOut1, start, start + 40 * kUs);
  ASSERT_EQ(listing.changes.size(), 20u);
  for (std::size_t i = 1; i < listing.changes.size(); ++i) {
    EXPECT_EQ(listing.changes[i].timeNs - listing.changes[i - 1].timeNs, 2 * kUs);
    EXPECT_NE(listing.changes[i].value, listing.changes[i - 1].value);
  }
}

TEST_F(PinListingTest, PwmOutputMatchesTheLevelFunction) {
  Pwm(1, 30000, 10000);  // 2 ms period, 0.5 ms high
  const std::uint64_t armed = now - 1;
  const PinListing listing = List(Pin::kOut1, armed, armed + 20 * kMs);
  ExpectMatchesOutputLevel(core, 1, armed, listing);
  ASSERT_EQ(listing.changes.size(), 20u);
  // Low for 1.5 ms after arming, then high for 0.5 ms.
  EXPECT_EQ(listing.changes[0].timeNs, armed + 1500 * kUs);
  EXPECT_EQ(listing.changes[0].value, 1u);
  EXPECT_EQ(listing.changes[1].timeNs, armed + 2000 * kUs);
  EXPECT_EQ(listing.changes[2].timeNs - listing.changes[0].timeNs, 2 * kMs);
}

TEST_F(PinListingTest, LimitAndOutOfSpanRequests) {
  Input(1, 100e3);
  const std::uint64_t rise = now;
  const PinListing some = List(Pin::kClk1, rise, rise + 100 * kUs, 3);
  ASSERT_EQ(some.changes.size(), 3u);
  EXPECT_EQ(some.notListed, 17u);
  EXPECT_EQ(some.firstNotListedNs, rise + 20 * kUs);
  // Without a history only the present configuration can be listed.
  const PinListing before = List(Pin::kClk1, rise - 1, rise + kUs);
  EXPECT_FALSE(before.known);
  EXPECT_EQ(before.knownFromNs, rise);
  // A 20 MHz clock over a second is counted, not walked.
  Input(0, 20e6);
  const PinListing fast = List(Pin::kClk0, now, now + 1000 * kMs, 10);
  EXPECT_EQ(fast.changes.size(), 10u);
  EXPECT_EQ(fast.notListed + fast.changes.size(), 40'000'000u);
}

TEST_F(PinListingTest, PortsFollowSquareLinesLatchesAndDirections) {
  ASSERT_TRUE(core.SetDiLevels(0, 0x01, now));
  ASSERT_TRUE(core.SetDiSquare(3, 1000.0, now));  // A3
  const std::uint64_t start = now;
  core.StartPinHistory(1000, start);
  Wait(2 * kMs);
  // Port B becomes an output and drives 0x5A.
  W8(offset::kDirectionControl, direction::kPortA | direction::kPortCLow | direction::kPortCHigh);
  const std::uint64_t outputAt = now - 1;
  W8(offset::PortData(1), 0x5A);
  const std::uint64_t latchAt = now - 1;
  Wait(kMs);
  const PinListing a = List(Pin::kPortA, start, now);
  ASSERT_TRUE(a.known);
  EXPECT_EQ(a.valueAtFrom, 0x09u);
  ASSERT_EQ(a.changes.size(), 6u);
  for (std::size_t i = 0; i < a.changes.size(); ++i) {
    EXPECT_EQ(a.changes[i].timeNs, start + (i + 1) * 500 * kUs) << i;
    EXPECT_EQ(a.changes[i].value, i % 2 == 0 ? 0x01u : 0x09u) << i;
  }
  const PinListing b = List(Pin::kPortB, start, now);
  ASSERT_EQ(b.changes.size(), 1u);  // the direction alone changes nothing: the latch was 0
  EXPECT_EQ(b.changes[0].timeNs, latchAt);
  EXPECT_EQ(b.changes[0].value, 0x5Au);
  EXPECT_GT(latchAt, outputAt);
}

TEST_F(PinListingTest, HistoryJoinsConfigurations) {
  Input(0, 1000.0);
  core.StartPinHistory(1000, now);
  const std::uint64_t start = now;
  // Each configuration, listed while it is the present one.
  std::vector<PinChange> expected;
  std::uint32_t last = 1;
  auto keepPresent = [&](std::uint64_t from, std::uint64_t to) {
    const PinListing part = List(Pin::kClk0, from, to);
    ASSERT_TRUE(part.known);
    // The event that began the configuration may have moved the pin; a
    // change and its reversal on one nanosecond cancel.
    if (part.valueAtFrom != last) {
      if (!expected.empty() && expected.back().timeNs == from) {
        expected.pop_back();
      } else {
        expected.push_back({from, part.valueAtFrom});
      }
    }
    expected.insert(expected.end(), part.changes.begin(), part.changes.end());
    last = part.changes.empty() ? part.valueAtFrom : part.changes.back().value;
  };
  Wait(3 * kMs + 100 * kUs);
  keepPresent(start, now);
  const std::uint64_t second = now;
  Input(0, 4000.0, 50.0, 0.5);  // starts in its low half
  Wait(2 * kMs);
  keepPresent(second, now);
  const std::uint64_t third = now;
  ASSERT_TRUE(core.SetCounterLevel(0, true, now));
  Wait(kMs);
  keepPresent(third, now);

  const PinListing whole = List(Pin::kClk0, start, now);
  ASSERT_TRUE(whole.known);
  EXPECT_EQ(whole.valueAtFrom, 1u);
  ASSERT_EQ(whole.changes.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(whole.changes[i].timeNs, expected[i].timeNs) << i;
    EXPECT_EQ(whole.changes[i].value, expected[i].value) << i;
  }
  // The wave fell at the very instant the pin was set high: on that
  // nanosecond nothing changes, and the pin stays high.
  EXPECT_LT(whole.changes.back().timeNs, third);
  EXPECT_EQ(whole.changes.back().value, 1u);
  // A span inside the history starts from the right value.
  const PinListing middle = List(Pin::kClk0, start + 1200 * kUs, start + 2200 * kUs);
  EXPECT_EQ(middle.valueAtFrom, 1u);
  ASSERT_EQ(middle.changes.size(), 2u);
  EXPECT_EQ(middle.changes[0].timeNs, start + 1500 * kUs);
  EXPECT_EQ(middle.changes[1].timeNs, start + 2000 * kUs);
  // The second wave began in its low half: a fall where it was set.
  EXPECT_EQ(whole.changes[6].timeNs, second);
  EXPECT_EQ(whole.changes[6].value, 0u);
}

TEST_F(PinListingTest, HistoryCapLeavesTheRestUnknown) {
  Input(0, 1000.0);
  const std::uint64_t start = now;
  core.StartPinHistory(5, start);
  Wait(10 * kMs);
  ASSERT_TRUE(core.SetCounterLevel(0, false, now));  // ends the configuration
  Wait(kMs);
  const PinListing listing = List(Pin::kClk0, start, now);
  ASSERT_TRUE(listing.known);
  ASSERT_EQ(listing.changes.size(), 5u);
  EXPECT_EQ(listing.firstNotListedNs, start + 3 * kMs);
  EXPECT_GE(listing.notListed, 15u);
  // Stopping the history forgets it.
  core.StopPinHistory();
  EXPECT_FALSE(List(Pin::kClk0, start, now).known);
}

TEST_F(PinListingTest, TerminalCountOutlook) {
  TerminalCountOutlook idle = core.TerminalCountAhead(0, now);
  EXPECT_FALSE(idle.counting);
  EXPECT_FALSE(idle.nextNs.has_value());

  // Event counting with nothing on CLK1: armed, but no terminal count ahead.
  Mode(1, 0x0218);
  Load(1, 1);
  Command(1, command::kLoadAndArm);
  Strobe(0x02);
  const TerminalCountOutlook still = core.TerminalCountAhead(1, now);
  EXPECT_TRUE(still.counting);
  EXPECT_FALSE(still.nextNs.has_value());

  Input(1, 1e6);
  const std::uint64_t rise = now;
  const TerminalCountOutlook counting = core.TerminalCountAhead(1, now);
  ASSERT_TRUE(counting.nextNs.has_value());
  EXPECT_EQ(*counting.nextNs, rise + 65535 * kUs);  // the 65536th edge, the first at `rise` itself
}

}  // namespace
}  // namespace qio::sim::test
