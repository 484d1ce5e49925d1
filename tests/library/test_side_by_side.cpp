// Every pair of the board's functions, placed on the two counters in both
// orders: the second start is refused as busy, or both run, and each running
// function shows what it shows alone. One target per pair.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "SideBySideFixture.h"

namespace qio::library::testing {
namespace {

using Pair = std::tuple<Placement, Placement>;

std::vector<Pair> AllPairs() {
  std::vector<Pair> pairs;
  const std::vector<Placement> all = AllPlacements();
  for (const Placement& first : all) {
    for (const Placement& second : all) pairs.emplace_back(first, second);
  }
  return pairs;
}

class PairTest : public SideBySideTest, public ::testing::WithParamInterface<Pair> {};

TEST_P(PairTest, EachRunningFunctionKeepsItsResult) {
  const auto& [first, second] = GetParam();
  StartAsModelled(first);
  VerifyRunning("after " + Name(first));
  StartAsModelled(second);
  VerifyRunning("after " + Name(first) + " then " + Name(second));
  // A reset of the other counter leaves whatever does not use it running.
  const Placement reset{Fn::kReset, second.counter == 0 ? 1u : 0u};
  StartAsModelled(reset);
  VerifyRunning("after " + Name(first) + ", " + Name(second) + " and " + Name(reset));
}

std::string PairName(const ::testing::TestParamInfo<Pair>& info) {
  return Name(std::get<0>(info.param)) + "_then_" + Name(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(SideBySide, PairTest, ::testing::ValuesIn(AllPairs()), PairName);

}  // namespace
}  // namespace qio::library::testing
