// A simulated QIO-5162 on the hosted target: the board model (BoardCore.h)
// fed by the platform clock, answering the port bus, and raising interrupt
// requests on its ISA line.
//
// Lifetime: the board is powered from construction to destruction; its one
// timer thread (a platform ServiceThread, so that the virtual clock knows it)
// runs all that time and wakes only at the next instant an enabled interrupt
// condition falls due. Attach() maps its 0x40-byte window
// on the port bus at ioBase, Detach() unmaps it (the destructor detaches).
// The owner may also map it itself with qio::platform::MapPorts.
//
// Thread safety: every member may be called from any thread. One mutex
// guards the model; interrupt requests are raised after it is released.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "qio/platform/condition.h"
#include "qio/platform/port_io.h"
#include "qio/sim/BoardCore.h"
#include "qio/protocol/board_registers.h"

namespace qio::sim {

// The register map the model decodes, shared with the driver that programs it.
using namespace qio::board;

class Board final : public platform::PortDevice {
 public:
  Board(std::uint16_t ioBase, unsigned irq);
  ~Board() override;
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  std::uint16_t IoBase() const { return ioBase_; }
  unsigned Irq() const { return irq_; }

  // Maps [ioBase, ioBase + 0x40) on the port bus; false if that range is
  // taken or passes 0xFFFF. Attaching twice is a no-op.
  bool Attach();
  // Unmaps the window; returns once no bus access to the board is running.
  void Detach();

  // ---- PortDevice ---------------------------------------------------------
  std::uint32_t PortRead(std::uint16_t offset, unsigned width) override;
  void PortWrite(std::uint16_t offset, unsigned width, std::uint32_t value) override;

  // ---- stimulus, at the present instant (false: bad argument) ---------------
  bool SetCounterInput(unsigned counter, double hz, double dutyPercent, double phase = 0.0);
  bool SetCounterWave(unsigned counter, const ClockWave& wave, double phase = 0.0);
  bool SetCounterLevel(unsigned counter, bool level);
  bool WireCounterInput(unsigned counter, ClockWire source);
  bool SetDiLevels(unsigned port, std::uint8_t levels);
  bool SetDiSquare(unsigned channel, double hz);
  bool SetLoopback(int fromPort, unsigned toPort);

  // ---- observation (empty for an out-of-range number) ------------------------
  std::optional<std::uint8_t> Pins(unsigned port) const;
  std::optional<OutputWave> Output(unsigned counter) const;
  std::optional<bool> OutputLevel(unsigned counter) const;
  std::optional<double> FreqOut(unsigned generator) const;
  std::uint16_t CountNow(unsigned block) const;
  std::uint64_t OutputRises(unsigned block) const;
  std::uint64_t TerminalCounts(unsigned block) const;
  // Interrupt requests this board has raised.
  std::uint64_t InterruptRequests() const;

  // ---- register trace ----------------------------------------------------------
  void SetTraceEnabled(bool on);
  // Returns and removes up to maxEntries of the oldest recorded accesses.
  std::vector<PortAccess> TakeTrace(std::size_t maxEntries = SIZE_MAX);

  // ---- pin changes (BoardCore.h), at the present instant -----------------------
  // A history of 0 changes per pin stops it.
  void SetPinHistory(std::size_t maxChangesPerPin);
  PinListing ListPinChanges(Pin pin, std::uint64_t fromNs, std::uint64_t toNs, std::size_t maxChanges) const;
  std::optional<TerminalCountOutlook> TerminalCountAhead(unsigned counter) const;

 private:
  // Runs `action(core, nowNs)` under the lock; raises the interrupt
  // requests it caused after unlocking, and wakes the timer if asked.
  template <class Action>
  auto Locked(bool rearm, Action&& action);
  template <class Action>
  auto Peek(Action&& action) const;
  void TimerLoop();
  void Raise(unsigned requests);

  const std::uint16_t ioBase_;
  const unsigned irq_;
  mutable std::mutex mutex_;
  platform::Condition wake_;
  BoardCore core_;
  bool stop_ = false;
  // The instant the timer sleeps until (none: until woken); under mutex_.
  std::optional<std::uint64_t> timerDue_;
  bool attached_ = false;
  std::uint64_t requestsRaised_ = 0;
  mutable std::mutex attachMutex_;
  std::unique_ptr<platform::ServiceThread> timer_;  // last: started once the rest is built
};

}  // namespace qio::sim
