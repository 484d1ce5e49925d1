// The driver's state view against a fake board: what it reports of the
// registers the driver wrote, of the ownership fields and of the ports, that
// it reads no register, and how much of a record it fills.
#include <gtest/gtest.h>

#include <cstring>

#include "driver/core/StateView.h"
#include "driver_calls.h"
#include "qio/platform/clock.h"
#include "qio/protocol/ioctl.h"
#include "qio5162/driver_state.h"

namespace qio::test {
namespace {

using namespace protocol;
using driver::CounterFunction;
using driver::GeneratorState;

class StateViewTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(board.mapped()); }

  QioDriverState Read() {
    QioDriverState state;
    std::memset(&state, 0xEE, sizeof state);
    EXPECT_TRUE(driver::ReadDriverState(*ctx, &state, sizeof state));
    return state;
  }

  FakeBoard board{kTestBase};
  std::unique_ptr<driver::DeviceContext> ctx = MakeContext();
};

TEST_F(StateViewTest, ReportsWhatTheDriverWroteAndReadsNoRegister) {
  // Directions A out, B in, C in/out; port A through the DIO request, port B
  // and generator 0 through raw writes.
  ASSERT_EQ(Send(ctx.get(), IOCTL_PROPERTY_SET, Bytes().U32(0).U8(1).U8(0).U8(3).U8(0).get(), 0).result, 1);
  ASSERT_EQ(Send(ctx.get(), IOCTL_DIO_WRITE_DO_PORTS, Bytes().U32(0).U32(1).U8(0x5A).U8(0).U8(0).U8(0).get(), 0)
                .result,
            1);
  ASSERT_EQ(Send(ctx.get(), IOCTL_PORT_WRITE_BYTE, Bytes().U32(0x28).U32(0x33).get(), 0).result, 1);
  ASSERT_EQ(Send(ctx.get(), IOCTL_PORT_WRITE_WORD, Bytes().U32(0x38).U32(0x1403).get(), 0).result, 1);
  board.ClearAccesses();

  const QioDriverState state = Read();
  EXPECT_TRUE(board.Accesses().empty()) << "the view touched the board";
  EXPECT_EQ(state.size, sizeof state);
  EXPECT_EQ(state.version, QIO_DRIVER_STATE_VERSION);
  EXPECT_EQ(state.flags & (QIO_STATE_CONFIGURED | QIO_STATE_DIRECTIONS), QIO_STATE_CONFIGURED | QIO_STATE_DIRECTIONS);
  EXPECT_EQ(state.directionControl, 0x03);  // B and the low half of C are inputs
  EXPECT_EQ(state.outputsWritten, 0x03);
  EXPECT_EQ(state.outputLatch[0], 0x5A);
  EXPECT_EQ(state.outputLatch[1], 0x33);
  EXPECT_EQ(state.outputLatch[2], 0x00);
  // The record of DioReadDoPorts knows only the DIO request.
  EXPECT_EQ(state.outputRecord[0], 0x5A);
  EXPECT_EQ(state.outputRecord[1], 0x00);
  EXPECT_EQ(state.generators[0].word, 0x1403);
  EXPECT_EQ(state.generators[0].owner, QIO_GENERATOR_IDLE);
  EXPECT_EQ(state.ioBase, kTestBase);
  EXPECT_EQ(state.irq, 5u);
  EXPECT_EQ(state.openState, QIO_OPEN_CLOSED);
}

TEST_F(StateViewTest, WritesNoMoreThanTheCallerKnows) {
  QioDriverState state;
  std::memset(&state, 0xEE, sizeof state);
  EXPECT_FALSE(driver::ReadDriverState(*ctx, &state, 7));
  EXPECT_FALSE(driver::ReadDriverState(*ctx, nullptr, sizeof state));
  EXPECT_EQ(state.size, 0xEEEEEEEEu);

  // An older caller's record of just the header.
  EXPECT_TRUE(driver::ReadDriverState(*ctx, &state, 8));
  EXPECT_EQ(state.size, 8u);
  EXPECT_EQ(state.version, QIO_DRIVER_STATE_VERSION);
  EXPECT_EQ(state.flags, 0xEEEEEEEEu);

  // A newer caller's larger record: the driver's own size comes back.
  std::vector<unsigned char> larger(sizeof state + 64, 0xEE);
  EXPECT_TRUE(driver::ReadDriverState(*ctx, larger.data(), larger.size()));
  std::memcpy(&state, larger.data(), sizeof state);
  EXPECT_EQ(state.size, sizeof state);
  EXPECT_EQ(larger[sizeof state], 0xEE);
}

TEST_F(StateViewTest, OwnershipAsFlags) {
  // A frequency measurement on counter 0 with block 1 as its partner.
  ctx->counterFunction[0].store(CounterFunction::kFrequency);
  ctx->generatorState[0].store(GeneratorState::kGate);
  ctx->pairGateInUse[0].store(1);
  QioDriverState state = Read();
  EXPECT_EQ(state.counters[0].function, QIO_FUNCTION_FREQUENCY);
  EXPECT_EQ(state.counters[0].flags, QIO_COUNTER_HAS_PARTNER);
  EXPECT_EQ(state.counters[1].function, QIO_FUNCTION_IDLE);
  EXPECT_EQ(state.counters[1].flags, QIO_COUNTER_IS_PARTNER);
  EXPECT_EQ(state.generators[0].owner, QIO_GENERATOR_GATE);

  // A counted PWM: 5 periods on counter 1, counter 0 its prescaler, whose
  // terminal count interrupts.
  ctx->pairGateInUse[0].store(0);
  ctx->generatorState[0].store(GeneratorState::kPwm);
  ctx->counterFunction[0].store(CounterFunction::kPwm);
  ctx->counterFunction[1].store(CounterFunction::kPwm);
  ctx->pwmConfigured[1].store(1);
  ctx->pwmStandalone[1].store(0);
  ctx->pwmPulses[1].store(5);
  ctx->counterIntEnable.store(1);
  state = Read();
  EXPECT_EQ(state.counters[0].flags, QIO_COUNTER_PRESCALER | QIO_COUNTER_INTERRUPT);
  EXPECT_EQ(state.counters[1].flags, QIO_COUNTER_PWM_LOADED | QIO_COUNTER_PWM_COUNTED);
  EXPECT_EQ(state.counters[1].pwmPulses, 5u);
  EXPECT_EQ(state.counters[0].pwmPulses, 0u);
  EXPECT_EQ(state.counterInterrupts, 1u);

  // A setting no longer loaded reports no periods.
  ctx->pwmConfigured[1].store(0);
  EXPECT_EQ(Read().counters[1].pwmPulses, 0u);
}

TEST_F(StateViewTest, ConfigurationIsLeftOutWhileAFirstOpenAppliesIt) {
  // The first open writes the settings outside the lock: a read meanwhile
  // waits for it (half a second at most), then reports the rest.
  ctx->openSettled = platform::CreateEvent(true, false);
  ASSERT_NE(ctx->openSettled, platform::kNullHandle);
  ctx->openState.store(driver::OpenState::kOpening);
  ctx->openCount.store(1);
  const std::uint64_t start = platform::NowNs();
  const QioDriverState state = Read();
  EXPECT_GE(platform::NowNs() - start, 400'000'000u);
  EXPECT_EQ(state.flags & QIO_STATE_CONFIGURED, 0u);
  EXPECT_EQ(state.ioBase, 0u);
  EXPECT_EQ(state.openState, QIO_OPEN_OPENING);
  EXPECT_EQ(state.openCount, 1);

  // Settled: read at once, with the configuration.
  ctx->openState.store(driver::OpenState::kOpen);
  platform::SetEvent(ctx->openSettled);
  const QioDriverState open = Read();
  EXPECT_EQ(open.flags & QIO_STATE_CONFIGURED, QIO_STATE_CONFIGURED);
  EXPECT_EQ(open.ioBase, kTestBase);
  platform::CloseHandle(ctx->openSettled);
  ctx->openSettled = platform::kNullHandle;
}

}  // namespace
}  // namespace qio::test
