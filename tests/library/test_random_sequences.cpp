// Seeded random sequences of starts, resets, reads, event enables and closes
// on both counters, checked step by step against the reference model of
// ownership: every acceptance and refusal is the model's, and every function
// the model says runs still shows its output. The seed is printed with every
// failure; QIO_RANDOM_SEED=<n> replays one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "SideBySideFixture.h"

namespace qio::library::testing {
namespace {

constexpr int kSteps = 14;

std::uint32_t BaseSeed() {
  if (const char* text = std::getenv("QIO_RANDOM_SEED")) return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 0));
  // Not the platform clock: on the virtual clock it reads the same every run.
  return std::random_device{}();
}

class RandomSequenceTest : public SideBySideTest, public ::testing::WithParamInterface<int> {
 protected:
  void CloseAndReopen() {
    ASSERT_EQ(DeviceClose(&handle_), ZQS_SUCCESS);
    model_.CloseAll();
    ASSERT_EQ(DeviceOpen(0, &handle_), ZQS_SUCCESS);
  }

  // Reads that every state must answer: an event-count read of either
  // counter, a frequency read while a measurement runs.
  void Read(std::mt19937& random) {
    const auto n = static_cast<std::uint16_t>(random() % 2);
    std::uint16_t tally = 0;
    std::uint32_t count = 0;
    EXPECT_EQ(CounterEventRead(handle_, n, &tally, &count), model_.RunsPwmOn(n) ? kBusyCode : ZQS_SUCCESS)
        << "event-count read of counter " << n;
    for (const Placement& p : model_.Running()) {
      if (!IsFrequency(p.fn)) continue;
      float hz = 0;
      const std::uint32_t result = CounterFreqRead(handle_, 0, &hz);
      EXPECT_EQ(result, ZQS_SUCCESS);
      // No result yet, or the input's: never another value.
      EXPECT_TRUE(hz == 0.0f || std::abs(hz - kInputHz) <= 100.0) << hz;
    }
  }
};

TEST_P(RandomSequenceTest, AcceptanceAndOutputsFollowTheModel) {
  const std::uint32_t seed = BaseSeed() + static_cast<std::uint32_t>(GetParam()) * 7919u;
  SCOPED_TRACE("seed " + std::to_string(seed) + " (QIO_RANDOM_SEED=" + std::to_string(seed - GetParam() * 7919u) +
               " replays the family)");
  std::mt19937 random(seed);
  const std::vector<Placement> placements = AllPlacements();
  std::string history;
  for (int step = 0; step < kSteps && !HasFatalFailure(); ++step) {
    const auto pick = static_cast<unsigned>(random() % 20);
    if (pick < 15) {
      // Starts (resets among them) are the most frequent step.
      const Placement p = placements[random() % placements.size()];
      history += Name(p) + " ";
      StartAsModelled(p);
    } else if (pick < 19) {
      history += "read ";
      Read(random);
    } else {
      history += "close ";
      CloseAndReopen();
    }
    VerifyRunning("steps: " + history);
  }
}

INSTANTIATE_TEST_SUITE_P(Seeded, RandomSequenceTest, ::testing::Range(0, 6));

}  // namespace
}  // namespace qio::library::testing
