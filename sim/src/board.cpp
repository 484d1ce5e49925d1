#include "qio/sim/Board.h"

#include <cstdio>

#include "qio/platform/clock.h"
#include "qio/platform/interrupts.h"

namespace qio::sim {

Board::Board(std::uint16_t ioBase, unsigned irq)
    : ioBase_(ioBase), irq_(irq), core_(platform::NowNs()) {
  char name[40];
  std::snprintf(name, sizeof name, "timer of the board at 0x%X", ioBase);
  timer_ = std::make_unique<platform::ServiceThread>(name, [this] { TimerLoop(); });
}

Board::~Board() {
  Detach();
  {
    std::scoped_lock lock(mutex_);
    stop_ = true;
  }
  wake_.NotifyAll();
  timer_->Join();
}

bool Board::Attach() {
  std::scoped_lock guard(attachMutex_);
  if (attached_) return true;
  attached_ = platform::MapPorts(ioBase_, kWindowLength, this);
  return attached_;
}

void Board::Detach() {
  std::scoped_lock guard(attachMutex_);
  if (!attached_) return;
  platform::UnmapPorts(ioBase_);
  attached_ = false;
}

void Board::Raise(unsigned requests) {
  for (unsigned i = 0; i < requests; ++i) platform::RaiseInterruptRequest(irq_);
}

template <class Action>
auto Board::Locked(bool rearm, Action&& action) {
  unsigned requests = 0;
  auto finish = [&] {
    requests = core_.TakeInterruptRequests();
    requestsRaised_ += requests;
    // The timer is woken only when its next instant moves earlier (or one
    // comes where there was none): most writes and stimuli leave it alone,
    // and a timer that wakes at an instant that has gone just plans anew.
    if (rearm) {
      const std::optional<std::uint64_t> due = core_.NextInterruptTime();
      if (due && (!timerDue_ || *due < *timerDue_)) {
        timerDue_ = due;
        wake_.NotifyOne();
      }
    }
  };
  if constexpr (std::is_void_v<decltype(action(core_, std::uint64_t{}))>) {
    {
      std::scoped_lock lock(mutex_);
      action(core_, platform::NowNs());
      finish();
    }
    Raise(requests);
  } else {
    decltype(action(core_, std::uint64_t{})) result{};
    {
      std::scoped_lock lock(mutex_);
      result = action(core_, platform::NowNs());
      finish();
    }
    Raise(requests);
    return result;
  }
}

template <class Action>
auto Board::Peek(Action&& action) const {
  std::scoped_lock lock(mutex_);
  return action(core_, platform::NowNs());
}

// The board's timer: sleeps until the next instant an enabled interrupt
// condition falls due (or until a register write or stimulus change has
// moved that instant earlier), sets the status and raises the request.
void Board::TimerLoop() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    core_.Advance(platform::NowNs());
    const unsigned requests = core_.TakeInterruptRequests();
    if (requests > 0) {
      requestsRaised_ += requests;
      lock.unlock();
      Raise(requests);
      lock.lock();
      continue;
    }
    timerDue_ = core_.NextInterruptTime();
    if (timerDue_) {
      wake_.WaitUntil(lock, *timerDue_);
    } else {
      wake_.Wait(lock);
    }
  }
}

std::uint32_t Board::PortRead(std::uint16_t offset, unsigned width) {
  return Locked(false, [&](BoardCore& core, std::uint64_t now) { return core.Read(offset, width, now); });
}

void Board::PortWrite(std::uint16_t offset, unsigned width, std::uint32_t value) {
  Locked(true, [&](BoardCore& core, std::uint64_t now) { core.Write(offset, width, value, now); });
}

bool Board::SetCounterInput(unsigned counter, double hz, double dutyPercent, double phase) {
  return Locked(true, [&](BoardCore& core, std::uint64_t now) {
    return core.SetCounterInput(counter, hz, dutyPercent, phase, now);
  });
}

bool Board::SetCounterWave(unsigned counter, const ClockWave& wave, double phase) {
  return Locked(true,
                [&](BoardCore& core, std::uint64_t now) { return core.SetCounterWave(counter, wave, phase, now); });
}

bool Board::SetCounterLevel(unsigned counter, bool level) {
  return Locked(true, [&](BoardCore& core, std::uint64_t now) { return core.SetCounterLevel(counter, level, now); });
}

bool Board::WireCounterInput(unsigned counter, ClockWire source) {
  return Locked(true,
                [&](BoardCore& core, std::uint64_t now) { return core.WireCounterInput(counter, source, now); });
}

bool Board::SetDiLevels(unsigned port, std::uint8_t levels) {
  return Locked(true, [&](BoardCore& core, std::uint64_t now) { return core.SetDiLevels(port, levels, now); });
}

bool Board::SetDiSquare(unsigned channel, double hz) {
  return Locked(true, [&](BoardCore& core, std::uint64_t now) { return core.SetDiSquare(channel, hz, now); });
}

bool Board::SetLoopback(int fromPort, unsigned toPort) {
  return Locked(true, [&](BoardCore& core, std::uint64_t now) { return core.SetLoopback(fromPort, toPort, now); });
}

std::optional<std::uint8_t> Board::Pins(unsigned port) const {
  if (port >= kPortCount) return std::nullopt;
  return Peek([&](const BoardCore& core, std::uint64_t now) { return core.Pins(port, now); });
}

std::optional<OutputWave> Board::Output(unsigned counter) const {
  if (counter >= kCounterCount) return std::nullopt;
  return Peek([&](const BoardCore& core, std::uint64_t now) { return core.Output(counter, now); });
}

std::optional<bool> Board::OutputLevel(unsigned counter) const {
  if (counter >= kCounterCount) return std::nullopt;
  return Peek([&](const BoardCore& core, std::uint64_t now) { return core.OutputLevel(counter, now); });
}

std::optional<double> Board::FreqOut(unsigned generator) const {
  if (generator >= kGeneratorCount) return std::nullopt;
  return Peek([&](const BoardCore& core, std::uint64_t) { return core.FreqOut(generator); });
}

std::uint16_t Board::CountNow(unsigned block) const {
  return Peek([&](const BoardCore& core, std::uint64_t now) { return core.CountNow(block, now); });
}

std::uint64_t Board::OutputRises(unsigned block) const {
  return Peek([&](const BoardCore& core, std::uint64_t now) { return core.OutputRises(block, now); });
}

std::uint64_t Board::TerminalCounts(unsigned block) const {
  return Peek([&](const BoardCore& core, std::uint64_t now) { return core.TerminalCounts(block, now); });
}

std::uint64_t Board::InterruptRequests() const {
  std::scoped_lock lock(mutex_);
  return requestsRaised_;
}

void Board::SetTraceEnabled(bool on) {
  std::scoped_lock lock(mutex_);
  core_.SetTraceEnabled(on);
}

std::vector<PortAccess> Board::TakeTrace(std::size_t maxEntries) {
  std::scoped_lock lock(mutex_);
  return core_.TakeTrace(maxEntries);
}

void Board::SetPinHistory(std::size_t maxChangesPerPin) {
  std::scoped_lock lock(mutex_);
  if (maxChangesPerPin == 0) {
    core_.StopPinHistory();
  } else {
    core_.StartPinHistory(maxChangesPerPin, platform::NowNs());
  }
}

PinListing Board::ListPinChanges(Pin pin, std::uint64_t fromNs, std::uint64_t toNs, std::size_t maxChanges) const {
  return Peek([&](const BoardCore& core, std::uint64_t) { return core.ListPinChanges(pin, fromNs, toNs, maxChanges); });
}

std::optional<TerminalCountOutlook> Board::TerminalCountAhead(unsigned counter) const {
  if (counter >= kCounterCount) return std::nullopt;
  return Peek([&](const BoardCore& core, std::uint64_t now) { return core.TerminalCountAhead(counter, now); });
}

}  // namespace qio::sim
