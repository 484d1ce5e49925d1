// A hosted target with one simulated board for the counter-engine tests:
// requests to the loaded driver as records, signals on the board's pins, and
// the register trace.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <ostream>
#include <vector>

#include "qio/platform/clock.h"
#include "qio/platform/kernel.h"
#include "qio/protocol/board_registers.h"
#include "qio/protocol/events.h"
#include "qio/protocol/ioctl.h"
#include "qio/protocol/records.h"
#include "qio5162/target.h"

namespace qio::test {

namespace proto = qio::protocol;

inline constexpr std::uint16_t kBoardBase = 0x300;

struct Reply {
  int result = 0;
  std::uint32_t error = 0;  // the thread's last error after the request
  std::vector<std::uint8_t> out;

  template <typename Record>
  Record As() const {
    return proto::Load<Record>(out.data(), out.size());
  }
};

// Register offsets as the trace reports them.
namespace regs = qio::board::offset;

struct Write {
  std::uint16_t offset;
  std::uint8_t width;
  std::uint32_t value;
  bool operator==(const Write&) const = default;
};

inline void PrintTo(const Write& w, std::ostream* os) {
  *os << "{0x" << std::hex << w.offset << " w" << std::dec << unsigned{w.width} << " = 0x" << std::hex << w.value
      << std::dec << "}";
}

// Boots on the virtual clock: waits take no real time and the board model's
// counts, published values and instants are exact. A test of real time
// overrides BootFlags().
// A command the board applied to a block, and when: each strobe applies the
// command pending in the command register of every block whose bit it has.
struct Strobe {
  std::uint64_t timeNs = 0;
  std::uint8_t command = 0;
  bool operator==(const Strobe&) const = default;
};

inline void PrintTo(const Strobe& s, std::ostream* os) {
  *os << "{" << s.timeNs << " ns: command 0x" << std::hex << unsigned{s.command} << std::dec << "}";
}

// The commands the strobes in `accesses` applied to `block`, in order.
inline std::vector<Strobe> StrobesOf(const std::vector<QioPortAccess>& accesses, unsigned block) {
  std::vector<Strobe> applied;
  int pending = -1;
  for (const QioPortAccess& a : accesses) {
    if (!a.isWrite) continue;
    if (a.offset == regs::CommandRegister(block)) pending = static_cast<int>(a.value & 0xFF);
    if (a.offset == regs::kCommandStrobe && (a.value & qio::board::command::StrobeMask(block)) != 0 && pending >= 0) {
      applied.push_back({a.timeNs, static_cast<std::uint8_t>(pending)});
      pending = -1;
    }
  }
  return applied;
}

// The instants of the strobes that applied `command` to `block`.
inline std::vector<std::uint64_t> InstantsOf(const std::vector<QioPortAccess>& accesses, unsigned block,
                                             std::uint8_t command) {
  std::vector<std::uint64_t> instants;
  for (const Strobe& s : StrobesOf(accesses, block)) {
    if (s.command == command) instants.push_back(s.timeNs);
  }
  return instants;
}

class CounterTarget : public ::testing::Test {
 protected:
  virtual unsigned BootFlags() const { return QIO_TARGET_VIRTUAL_TIME; }

  void SetUp() override {
    ASSERT_EQ(qio_target_boot_ex(nullptr, BootFlags(), &target_), QIO_TARGET_OK) << qio_target_last_message();
    board_ = qio_target_board(target_, kBoardBase);
    ASSERT_NE(board_, nullptr) << qio_target_last_message();
    ASSERT_EQ(qio_target_device_open(target_, "Q621:", &stream_), QIO_TARGET_OK) << qio_target_last_message();
  }
  void TearDown() override {
    if (stream_ != nullptr) qio_target_device_close(stream_);
    if (target_ != nullptr) qio_target_shutdown(target_);
  }

  template <typename Record>
  Reply Send(std::uint32_t code, const Record& record, std::size_t outLength = 0) {
    Reply reply;
    reply.out.assign(outLength, 0);
    std::vector<std::uint8_t> in(sizeof record);
    proto::Store(record, in.data(), in.size());
    // Records that go in and out travel in one buffer, as the library sends them.
    if (outLength != 0) std::memcpy(reply.out.data(), in.data(), std::min(outLength, in.size()));
    std::uint32_t returned = 0;
    reply.result = qio_target_device_ioctl(stream_, code, in.data(), static_cast<std::uint32_t>(in.size()),
                                           outLength ? reply.out.data() : nullptr,
                                           static_cast<std::uint32_t>(outLength), &returned, &reply.error);
    return reply;
  }

  // ---- requests ----
  Reply Config(std::uint16_t n, std::uint16_t initial, std::initializer_list<std::uint16_t> fields) {
    proto::CounterConfigRequest r{};
    r.counter = n;
    r.initialCount = initial;
    unsigned i = 0;
    for (std::uint16_t f : fields) r.modeFields[i++] = f;
    return Send(proto::IOCTL_COUNTER_CONFIG, r);
  }
  Reply Reset(std::uint16_t n) { return Send(proto::IOCTL_COUNTER_RESET, proto::CounterResetRequest{n}); }
  Reply EventStart(std::uint16_t n) {
    return Send(proto::IOCTL_COUNTER_EVENT_START, proto::CounterEventStartRequest{n, 0});
  }
  Reply EventRead(std::uint16_t n) {
    return Send(proto::IOCTL_COUNTER_EVENT_READ, proto::CounterEventReadRecord{n, 0, 0}, 8);
  }
  Reply FreqStart(std::uint16_t n, std::uint16_t method) {
    return Send(proto::IOCTL_COUNTER_FREQ_START, proto::CounterFreqStartRequest{n, method, 0});
  }
  Reply FreqRead(std::uint16_t n) {
    return Send(proto::IOCTL_COUNTER_FREQ_READ, proto::CounterFreqReadRecord{n, 0, 0.0f}, 8);
  }
  static float Hertz(const Reply& reply) { return reply.As<proto::CounterFreqReadRecord>().frequency; }
  Reply PulseStart(std::uint16_t n, float seconds) {
    proto::CounterPulseStartRequest r{};
    r.counter = n;
    r.periodSeconds = seconds;
    return Send(proto::IOCTL_COUNTER_PULSE_START, r);
  }
  Reply FreqOut(std::uint16_t n, std::uint16_t divisor, std::uint16_t sourceBits) {
    return Send(proto::IOCTL_FREQOUT_START, proto::FreqOutStartRequest{n, divisor, sourceBits});
  }
  Reply PwmSetting(std::uint16_t n, float periodMs, float highMs, std::uint32_t pulses) {
    proto::PwmSettingRequest r{};
    r.counter = n;
    r.periodMs = periodMs;
    r.highMs = highMs;
    r.pulseCount = pulses;
    return Send(proto::IOCTL_PWM_SETTING, r);
  }
  Reply PwmEnable(std::uint16_t n) { return Send(proto::IOCTL_PWM_ENABLE, proto::CounterResetRequest{n}); }
  Reply PwmStartRead(std::uint16_t n) {
    return Send(proto::IOCTL_PWM_START_READ, proto::PwmStartReadRecord{n, 0, 0.0f, 0.0f}, 12);
  }

  // ---- the board ----
  void Input(unsigned counter, double hz, double duty = 50.0) {
    ASSERT_EQ(qio_sim_set_counter_input(board_, counter, hz, duty), QIO_TARGET_OK) << qio_target_last_message();
  }
  struct Output {
    double hz = 0;
    double highSeconds = 0;
  };
  Output Out(unsigned counter) {
    Output o;
    EXPECT_EQ(qio_sim_get_output(board_, counter, &o.hz, &o.highSeconds), QIO_TARGET_OK);
    return o;
  }
  double FreqOutHz(unsigned generator) {
    double hz = -1;
    EXPECT_EQ(qio_sim_get_freqout(board_, generator, &hz), QIO_TARGET_OK);
    return hz;
  }

  void TraceOn() {
    ASSERT_EQ(qio_sim_trace_enable(board_, 1), QIO_TARGET_OK);
    TraceAccesses();  // drop what came before
  }
  std::vector<QioPortAccess> TraceAccesses() {
    std::vector<QioPortAccess> all;
    QioPortAccess chunk[256];
    for (;;) {
      std::size_t count = 0;
      if (qio_sim_trace_read(board_, chunk, 256, &count) != QIO_TARGET_OK || count == 0) break;
      all.insert(all.end(), chunk, chunk + count);
    }
    return all;
  }
  // The writes recorded since the last call, without time stamps.
  std::vector<Write> TraceWrites() {
    std::vector<Write> writes;
    for (const QioPortAccess& a : TraceAccesses()) {
      if (a.isWrite) writes.push_back({a.offset, a.width, a.value});
    }
    return writes;
  }
  static bool Contains(const std::vector<Write>& writes, std::uint16_t offset, std::uint32_t value) {
    for (const Write& w : writes) {
      if (w.offset == offset && w.value == value) return true;
    }
    return false;
  }
  static std::vector<Write> WritesTo(const std::vector<Write>& writes, std::uint16_t offset) {
    std::vector<Write> selected;
    for (const Write& w : writes) {
      if (w.offset == offset) selected.push_back(w);
    }
    return selected;
  }

  // Reads the frequency until it equals `expected` (within `tolerance`) or
  // `timeoutMs` passes; returns the milliseconds it took, or -1. Reads every
  // millisecond, so that on the virtual clock the time it returns is the
  // instant of publication, exactly.
  double WaitForFrequency(std::uint16_t n, float expected, float tolerance, std::uint32_t timeoutMs,
                          float* last = nullptr) {
    const std::uint64_t begin = platform::NowNs();
    for (;;) {
      const Reply reply = FreqRead(n);
      const float hz = Hertz(reply);
      if (last != nullptr) *last = hz;
      const double elapsedMs = static_cast<double>(platform::NowNs() - begin) / 1e6;
      if (reply.result == 1 && std::abs(hz - expected) <= tolerance) return elapsedMs;
      if (elapsedMs > timeoutMs) return -1;
      platform::Sleep(1);
    }
  }

  static double MsSince(std::uint64_t beginNs) { return static_cast<double>(platform::NowNs() - beginNs) / 1e6; }

  // The platform clock (virtual time since boot, unless the test runs on the
  // real clock) and a wait until an instant of it.
  std::uint64_t Now() const { return qio_target_now_ns(target_); }
  void SleepUntil(std::uint64_t ns) {
    const std::uint64_t now = Now();
    if (ns > now) platform::SleepNs(ns - now);
  }
  static constexpr std::uint64_t Ms(std::uint64_t ms) { return ms * 1'000'000u; }

  QioTarget* target_ = nullptr;
  QioSimBoard* board_ = nullptr;
  QioStream* stream_ = nullptr;
};

// The same tests on the real clock: a few, so that both clocks stay covered.
class RealTimeCounterTarget : public CounterTarget {
 protected:
  unsigned BootFlags() const override { return 0; }
};

inline constexpr std::uint32_t kBusy = proto::DriverError(proto::kDriverCodeBusy);
inline constexpr std::uint32_t kOutOfRange = proto::DriverError(proto::kDriverCodeOutOfRange);
inline constexpr std::uint32_t kBadCounter = proto::DriverError(proto::kDriverCodeBadCounter);
// A PWM enable without a loaded setting.
inline constexpr std::uint32_t kNoSetting = proto::DriverError(proto::kDriverCodeBadBuffer);

}  // namespace qio::test
