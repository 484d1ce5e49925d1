// Raw counter configuration, the counter reset, and the counter-number check
// of every counter request.
#include "counter_target.h"

namespace qio::test {
namespace {

using CounterConfig = CounterTarget;

TEST_F(CounterConfig, SourceWordAliasProgramsSourceSeven) {
  TraceOn();
  const Reply reply = Config(0, 1234, {0x0010, 0x0008, 0, 0, 0, 0x0C00, 0, 0});
  EXPECT_EQ(reply.result, 1);
  const std::vector<Write> expected = {
      {regs::CommandRegister(0), 2, 0x07}, {regs::kCommandStrobe, 2, 0x03},      {regs::ModeRegister(0), 2, 0x0718},
      {regs::LoadRegister(0), 2, 1234},    {regs::HoldRegister(0), 2, 1234},
  };
  EXPECT_EQ(TraceWrites(), expected);
}

TEST_F(CounterConfig, StrobeIncludesThePartnerBlockAlsoForCounterOne) {
  TraceOn();
  EXPECT_EQ(Config(1, 7, {0x0200, 0, 0, 0, 0, 0x0500, 0, 0x0018}).result, 1);
  const std::vector<Write> writes = TraceWrites();
  EXPECT_TRUE(Contains(writes, regs::kCommandStrobe, 0x06));
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(1), 0x0718));
}

TEST_F(CounterConfig, BusyCounterRefusesAndKeepsItsMode) {
  ASSERT_EQ(PulseStart(0, 0.001f).result, 1);
  TraceOn();
  const Reply reply = Config(0, 10, {0x0218, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(reply.result, 0);
  EXPECT_EQ(reply.error, kBusy);
  EXPECT_TRUE(TraceWrites().empty());
  // The pulse output still runs.
  EXPECT_NEAR(Out(0).hz, 1000.0, 1e-6);
}

TEST_F(CounterConfig, ResetOfAnIdleCounterWritesTheResetSequence) {
  TraceOn();
  EXPECT_EQ(Reset(1).result, 1);
  const std::vector<Write> expected = {
      {regs::CommandRegister(1), 1, 0x00},
      {regs::CommandRegister(1), 1, 0x07},
      {regs::kCommandStrobe, 1, 0x06},
      {regs::kInterruptControl, 2, 0x0000},  // the shadow: no event enabled
  };
  EXPECT_EQ(TraceWrites(), expected);
}

TEST_F(CounterConfig, ResetStopsAFrequencyOutputOnAnIdleCounter) {
  ASSERT_EQ(FreqOut(0, 4, 0x0400).result, 1);
  EXPECT_DOUBLE_EQ(FreqOutHz(0), 250'000.0);
  EXPECT_EQ(Reset(0).result, 1);
  EXPECT_DOUBLE_EQ(FreqOutHz(0), 0.0);
}

TEST_F(CounterConfig, ResetStopsAPulseOutputAndFreesTheCounter) {
  ASSERT_EQ(PulseStart(1, 0.01f).result, 1);
  EXPECT_NEAR(Out(1).hz, 100.0, 1e-6);
  EXPECT_DOUBLE_EQ(FreqOutHz(1), 5'000'000.0);  // the row's generator: 10 MHz / 2
  EXPECT_EQ(Reset(1).result, 1);
  EXPECT_DOUBLE_EQ(Out(1).hz, 0.0);
  EXPECT_DOUBLE_EQ(FreqOutHz(1), 0.0);
  EXPECT_EQ(EventStart(1).result, 1);
}

TEST_F(CounterConfig, CounterNumbersAboveOneAreRefused) {
  TraceOn();
  for (const Reply& reply : {Reset(2), EventStart(5), EventRead(2), FreqStart(2, 0), FreqRead(0xFFFF),
                             PulseStart(3, 0.001f), FreqOut(2, 1, 0x0300), PwmSetting(2, 2.0f, 1.0f, 0),
                             PwmEnable(9), Config(2, 1, {0, 0, 0, 0, 0, 0, 0, 0})}) {
    EXPECT_EQ(reply.result, 0);
    EXPECT_EQ(reply.error, kBadCounter);
  }
  EXPECT_TRUE(TraceWrites().empty());
}

}  // namespace
}  // namespace qio::test
