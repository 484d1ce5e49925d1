// The closed-form building blocks against brute force: floor sums, index
// sequences, lattices, and gated sets in their floor-sum and window-walk
// forms.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "edge_set.h"

namespace qio::sim::detail {
namespace {

TEST(FloorSum, MatchesTheDirectSum) {
  std::mt19937 rng(11);
  for (int i = 0; i < 2000; ++i) {
    const Int128 n = rng() % 60, m = 1 + rng() % 500, a = rng() % 2000, b = rng() % 3000;
    Int128 direct = 0;
    for (Int128 k = 0; k < n; ++k) direct += (a * k + b) / m;
    const auto closed = FloorSum(n, m, a, b);
    ASSERT_TRUE(closed.has_value());
    ASSERT_TRUE(*closed == direct) << static_cast<long long>(n) << " " << static_cast<long long>(m);
  }
}

TEST(FloorSum, ReportsOverflowInsteadOfWrapping) {
  const Int128 huge = static_cast<Int128>(1) << 100;
  EXPECT_FALSE(FloorSum(huge, 3, huge, 0).has_value());
  EXPECT_TRUE(FloorSum(1'000'000'000'000LL, 1'000'003, 999'999, 5).has_value());
}

TEST(IndexSeq, CountsAndIndexesAgree) {
  IndexSeq seq = IndexSeq::Periodic(7, 10, {0, 3}, 9);
  seq.AddPrefix(4);
  seq.AddPrefix(2);
  std::vector<Count> values;
  for (Count k = 1; seq.Nth(k) != 0; ++k) values.push_back(seq.Nth(k));
  EXPECT_EQ(values, (std::vector<Count>{2, 4, 7, 10, 17, 20, 27, 30, 37, 40, 47}));
  for (Count m = 0; m < 60; ++m) {
    Count direct = 0;
    for (const Count v : values) direct += v <= m ? 1 : 0;
    EXPECT_EQ(seq.CountUpTo(m), direct) << m;
  }
  EXPECT_EQ(IndexSeq::Range(5, 4).Size(), 0);
  EXPECT_TRUE(IndexSeq::Periodic(1, 1, {0}, kUnbounded).Unbounded());
}

// Brute-force count of source elements <= t at which the gate is high.
Count DirectGated(const EdgeSet& source, const Signal& gate, Instant t) {
  Count count = 0;
  for (Count n = 1;; ++n) {
    const Instant at = source.Nth(n);
    if (at > t) break;
    if (gate.LevelAt(at)) ++count;
  }
  return count;
}

class GatedSets : public ::testing::TestWithParam<unsigned> {};

TEST_P(GatedSets, ClosedFormAndWindowWalkMatchBruteForce) {
  std::mt19937 rng(GetParam());
  for (int round = 0; round < 40; ++round) {
    const Instant sourcePeriod = 3 + rng() % 40;
    const EdgeSet base = EdgeSet::Lattice(rng() % 50, sourcePeriod);
    // Every second, third... source element: a periodic subsequence.
    const Count step = 1 + rng() % 3;
    const EdgeSet source = EdgeSet::Mapped(&base, IndexSeq::Periodic(1 + rng() % 3, step, {0}, kUnbounded));
    // The gate: a square wave of its own period, its edges as a lattice.
    const Instant gatePeriod = 5 + rng() % 90;
    const Instant high = 1 + rng() % (gatePeriod - 1);
    const Instant origin = rng() % 100;
    const EdgeSet gateRises = EdgeSet::Lattice(origin + gatePeriod, gatePeriod);
    const EdgeSet gateFalls = EdgeSet::Lattice(origin + high, gatePeriod);
    const Signal gate{true, &gateRises, &gateFalls};
    const EdgeSet closed = EdgeSet::Gated(&source, &gate);
    // The same gate seen through a selection, which the floor sums cannot
    // take apart: the window walk.
    const EdgeSet risesAll = EdgeSet::Mapped(&gateRises, IndexSeq::Periodic(1, 1, {0}, 100000));
    const Signal walkedGate{true, &risesAll, &gateFalls};
    const EdgeSet walked = EdgeSet::Gated(&source, &walkedGate);
    for (Instant t = 0; t < 3000; t += 1 + rng() % 37) {
      const Count direct = DirectGated(source, gate, t);
      ASSERT_EQ(closed.CountUpTo(t), direct) << "round " << round << " t " << static_cast<long long>(t);
      ASSERT_EQ(walked.CountUpTo(t), direct);
    }
    for (Count n = 1; n < 40; n += 1 + static_cast<Count>(rng() % 3)) {
      const Instant at = closed.Nth(n);
      if (at >= kNever) {
        // No n-th element: the source's edges (commensurate with the gate)
        // never, or too rarely, meet a high phase.
        ASSERT_LT(DirectGated(source, gate, 100'000), n);
        ASSERT_TRUE(walked.Nth(n) >= kNever || DirectGated(source, gate, walked.Nth(n)) == n);
        break;
      }
      ASSERT_EQ(DirectGated(source, gate, at), n);
      ASSERT_FALSE(gate.LevelAt(at) == false);
      ASSERT_TRUE(walked.Nth(n) == at);
    }
    // Backward queries reset the walk and still agree.
    ASSERT_EQ(walked.CountUpTo(100), DirectGated(source, gate, 100));
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, GatedSets, ::testing::Range(1u, 5u));

TEST(GatedSets, EndlessEmptyWindowsEndTheSearch) {
  // A finite source: once it is exhausted the walk must stop.
  const EdgeSet base = EdgeSet::Lattice(0, 10);
  const EdgeSet source = EdgeSet::Mapped(&base, IndexSeq::Range(1, 5));
  const EdgeSet rises = EdgeSet::Lattice(1000, 100);
  const EdgeSet falls = EdgeSet::Lattice(1050, 100);
  const EdgeSet risesSelected = EdgeSet::Mapped(&rises, IndexSeq::Periodic(1, 1, {0}, kUnbounded / 2));
  const Signal gate{false, &risesSelected, &falls};
  const EdgeSet gated = EdgeSet::Gated(&source, &gate);
  EXPECT_EQ(gated.Nth(1), kNever);
  EXPECT_EQ(gated.CountUpTo(1'000'000'000), 0);
}

TEST(Lattice, CountsInHalfOpenWindowsAreExact) {
  // 1 MHz in a 2 ms window, in quanta of 1/3 ps: always 2000 edges.
  const Instant period = 1'000'000 * 3;
  for (Instant phase : {0, 1, 1'499'999, 2'999'999}) {
    const EdgeSet lattice = EdgeSet::Lattice(phase, period);
    const Instant from = 7'000'000'001;
    const Instant to = from + 2'000'000'000LL * 3;
    EXPECT_EQ(lattice.CountBelow(to) - lattice.CountBelow(from), 2000);
  }
}

}  // namespace
}  // namespace qio::sim::detail
