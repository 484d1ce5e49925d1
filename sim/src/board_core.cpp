// Segments, the register window and the commands of the board model.
#include <algorithm>

#include "board_state.h"

namespace qio::sim {

using detail::BlockPlan;
using detail::Count;
using detail::Int128;
using detail::kNever;
using detail::WindowState;
using Instant = detail::Instant;

namespace {

constexpr std::uint16_t kCommandSlot = 6;
constexpr std::uint16_t kLoadSlot = 2;
constexpr std::uint16_t kHoldSlot = 4;
constexpr std::uint16_t kByteMask = 0x00FF;
constexpr std::uint8_t kStrobeMask = 0x0F;

std::uint16_t Merge(std::uint16_t old, std::uint16_t value, std::uint16_t mask) {
  return static_cast<std::uint16_t>((old & ~mask) | (value & mask));
}

}  // namespace

BoardCore::State::State(std::uint64_t powerUpNs) : segmentNs(powerUpNs) { Rebuild(); }

Instant BoardCore::State::ToInstant(std::uint64_t ns) const {
  return static_cast<Int128>(ns) * detail::kPsPerNs * den;
}

std::uint64_t BoardCore::State::ToNsCeil(Instant at) const {
  if (at >= kNever) return UINT64_MAX;
  const Int128 ns = detail::CeilDiv(at, detail::kPsPerNs * den);
  if (ns < 0) return 0;
  return ns >= static_cast<Int128>(UINT64_MAX) ? UINT64_MAX : static_cast<std::uint64_t>(ns);
}

// ---- segments -------------------------------------------------------------------

void BoardCore::State::Rebase(std::uint64_t t) {
  Advance(t);
  if (history.on) detail::CaptureSegment(*this, t);
  const Instant at = ToInstant(t);
  for (unsigned b = 0; b < kBlockCount; ++b) {
    const BlockPlan& p = plan.blocks[b];
    const Count m = p.qualifying->CountUpTo(at);
    detail::BlockState next = p.machine.StateAfter(m);
    if (p.windowed) {
      next.window = at < p.windowStart ? WindowState::kPending
                    : at < p.windowEnd ? WindowState::kOpen
                                       : WindowState::kClosed;
    }
    tcsBefore[b] += static_cast<std::uint64_t>(p.machine.TerminalCountsAfter(m));
    risesBefore[b] += static_cast<std::uint64_t>(p.out->rises->CountUpTo(at));
    blocks[b] = next;
    outOld[b] = p.out->LevelAt(at);
  }
  for (unsigned pin = 0; pin < kCounterCount; ++pin) pinOld[pin] = plan.pins[pin]->LevelAt(at);
  for (unsigned g = 0; g < kGeneratorCount; ++g) generatorOld[g] = plan.generators[g].out->LevelAt(at);
  haveOld = true;
  segmentNs = t;
}

void BoardCore::State::Advance(std::uint64_t t) {
  t = Clamp(t);
  const Instant at = ToInstant(t);
  for (unsigned c = 0; c < kCounterCount; ++c) {
    const std::uint16_t bit = interrupt::TerminalCount(c);
    if ((intEnable & bit) == 0 || (status & bit) != 0) continue;
    const BlockPlan& p = plan.blocks[c];
    const Count index = p.machine.StatusCounts().Nth(1);
    if (index > 0 && p.qualifying->Nth(index) <= at) {
      status |= bit;
      ++requests;
    }
  }
  for (unsigned port = 0; port < kPortCount; ++port) {
    const std::uint16_t bit = interrupt::DiPort(port);
    if ((intEnable & bit) == 0) continue;
    const std::uint8_t rises = SquareRises(port, segmentNs, t);
    if (rises == 0) continue;
    flags[port] |= rises;
    if ((status & bit) == 0) {
      status |= bit;
      ++requests;
    }
  }
}

std::optional<std::uint64_t> BoardCore::State::NextInterruptTime() const {
  std::optional<std::uint64_t> best;
  auto consider = [&best](std::uint64_t ns) {
    if (ns != UINT64_MAX && (!best || ns < *best)) best = ns;
  };
  for (unsigned c = 0; c < kCounterCount; ++c) {
    const std::uint16_t bit = interrupt::TerminalCount(c);
    if ((intEnable & bit) == 0 || (status & bit) != 0) continue;
    const BlockPlan& p = plan.blocks[c];
    const Count index = p.machine.StatusCounts().Nth(1);
    if (index > 0) consider(ToNsCeil(p.qualifying->Nth(index)));
  }
  for (unsigned port = 0; port < kPortCount; ++port) {
    const std::uint16_t bit = interrupt::DiPort(port);
    if ((intEnable & bit) == 0 || (status & bit) != 0) continue;
    if (const auto ns = NextSquareRise(port, segmentNs)) consider(*ns);
  }
  return best;
}

// ---- registers ----------------------------------------------------------------

std::uint16_t BoardCore::State::ReadSlot(std::uint16_t slot, std::uint64_t t) {
  if (slot < offset::kCommandStrobe) {
    const unsigned b = slot / offset::kBlockStride;
    switch (slot % offset::kBlockStride) {
      case 0:
        return mode[b];
      case kLoadSlot:
        return load[b];
      case kHoldSlot:
        return hold[b];
      default:
        return 0;  // the command register is write-only
    }
  }
  switch (slot) {
    case offset::kInterruptControl:
      Advance(t);
      return status;
    case offset::PortData(0):
    case offset::PortData(1):
    case offset::PortData(2):
      return PortPins(static_cast<unsigned>(slot - offset::PortData(0)) / 2, Clamp(t));
    case offset::kDirectionControl:
      return direction;
    case offset::DiFlags(0):
    case offset::DiFlags(1):
    case offset::DiFlags(2):
      Advance(t);
      return flags[static_cast<unsigned>(slot - offset::DiFlags(0)) / 2];
    case offset::ClockGenerator(0):
    case offset::ClockGenerator(1):
      return generatorWord[static_cast<unsigned>(slot - offset::ClockGenerator(0)) / 2];
    default:
      return 0;  // strobe, clear and reserved offsets
  }
}

void BoardCore::State::WriteSlot(std::uint16_t slot, std::uint16_t value, std::uint16_t mask, std::uint64_t t) {
  auto setRegister = [&](std::uint16_t& reg) {
    const std::uint16_t next = Merge(reg, value, mask);
    if (next != reg) Event(t, [&] { reg = next; });
  };
  if (slot < offset::kCommandStrobe) {
    const unsigned b = slot / offset::kBlockStride;
    switch (slot % offset::kBlockStride) {
      case 0:
        setRegister(mode[b]);
        break;
      case kLoadSlot:
        setRegister(load[b]);
        break;
      case kHoldSlot:
        setRegister(hold[b]);
        break;
      case kCommandSlot:
        if ((mask & kByteMask) != 0) pending[b] = value & kByteMask;  // waits for the strobe
        break;
      default:
        break;
    }
    return;
  }
  if ((mask & kByteMask) == 0 && slot != offset::kInterruptControl && slot != offset::ClockGenerator(0) &&
      slot != offset::ClockGenerator(1)) {
    return;  // the high byte of a byte-wide register is reserved
  }
  switch (slot) {
    case offset::kCommandStrobe: {
      const unsigned bits = value & kStrobeMask;
      bool any = false;
      for (unsigned b = 0; b < kBlockCount; ++b) any = any || (((bits >> b) & 1u) != 0 && pending[b] >= 0);
      if (!any) return;
      // One strobe applies every selected command at the same instant.
      Event(t, [&] {
        for (unsigned b = 0; b < kBlockCount; ++b) {
          if (((bits >> b) & 1u) == 0 || pending[b] < 0) continue;
          ApplyCommand(b, static_cast<std::uint8_t>(pending[b]), t);
          pending[b] = -1;
        }
      });
      return;
    }
    case offset::kInterruptControl: {
      const std::uint16_t next = Merge(intEnable, value, mask) & interrupt::kAll;
      if (next != intEnable) Event(t, [&] { intEnable = next; });
      return;
    }
    case offset::kInterruptClear:
      Event(t, [&] {
        status = 0;
        flags.fill(0);
      });
      return;
    case offset::PortData(0):
    case offset::PortData(1):
    case offset::PortData(2): {
      const unsigned port = static_cast<unsigned>(slot - offset::PortData(0)) / 2;
      const auto next = static_cast<std::uint8_t>(value & kByteMask);
      if (next != latch[port]) DioEvent(t, [&] { latch[port] = next; });
      return;
    }
    case offset::kDirectionControl: {
      const auto next = static_cast<std::uint8_t>(value & direction::kAll);
      if (next != direction) DioEvent(t, [&] { direction = next; });
      return;
    }
    case offset::ClockGenerator(0):
    case offset::ClockGenerator(1): {
      const unsigned g = static_cast<unsigned>(slot - offset::ClockGenerator(0)) / 2;
      const std::uint16_t next = Merge(generatorWord[g], value, mask);
      if (next == generatorWord[g]) return;
      Event(t, [&] {
        generatorWord[g] = next;
        if ((next & generator::kEnable) != 0) {
          generatorAnchorNs[g] = Clamp(t);  // phase zero: a rising edge now
          generatorPinSpan[g] = 0;
        }
      });
      return;
    }
    default:
      return;  // reserved
  }
}

void BoardCore::State::ApplyCommand(unsigned b, std::uint8_t code, std::uint64_t t) {
  detail::BlockState& block = blocks[b];
  auto restart = [&block] {
    block.stopped = false;
    block.phase = 0;
    block.outLevel = false;
    block.window = WindowState::kPending;
  };
  switch (code) {
    case command::kDisarm:
      block.armed = false;  // the count, the phase and the output stay
      break;
    case command::kLoad:
      restart();
      block.armed = false;
      block.count = load[b];
      break;
    case command::kLoadAndArm:
      restart();
      block.armed = true;
      block.armNs = Clamp(t);
      block.count = (mode[b] & mode::kCountUp) != 0 ? static_cast<std::uint16_t>(load[b] - 1) : load[b];
      break;
    case command::kLatch:
      hold[b] = block.count;  // counting goes on
      break;
    case command::kReset:
      restart();
      block.armed = false;
      block.count = 0;
      break;
    default:
      break;  // other codes are ignored
  }
}

// ---- BoardCore ------------------------------------------------------------------

BoardCore::BoardCore(std::uint64_t powerUpNs) : state_(std::make_unique<State>(powerUpNs)) {}

BoardCore::~BoardCore() = default;

namespace {

void Record(BoardCore::State& s, std::uint64_t t, std::uint16_t offset, unsigned width, bool isWrite,
            std::uint32_t value) {
  if (!s.trace) return;
  if (s.traceLog.size() >= BoardCore::kTraceCapacity) s.traceLog.pop_front();
  s.traceLog.push_back(PortAccess{t, offset, static_cast<std::uint8_t>(width), isWrite, value});
}

std::uint8_t ReadByte(BoardCore::State& s, unsigned offset, std::uint64_t t) {
  if (offset >= kWindowLength) return 0xFF;
  const auto slot = static_cast<std::uint16_t>(offset & ~1u);
  return static_cast<std::uint8_t>(s.ReadSlot(slot, t) >> (8 * (offset & 1u)));
}

std::uint16_t ReadWord(BoardCore::State& s, unsigned offset, std::uint64_t t) {
  if ((offset & 1u) == 0 && offset < kWindowLength) return s.ReadSlot(static_cast<std::uint16_t>(offset), t);
  return static_cast<std::uint16_t>(ReadByte(s, offset, t) | (ReadByte(s, offset + 1, t) << 8));
}

void WriteByte(BoardCore::State& s, unsigned offset, std::uint8_t value, std::uint64_t t) {
  if (offset >= kWindowLength) return;
  const auto slot = static_cast<std::uint16_t>(offset & ~1u);
  if ((offset & 1u) != 0) {
    s.WriteSlot(slot, static_cast<std::uint16_t>(value << 8), 0xFF00, t);
  } else {
    s.WriteSlot(slot, value, 0x00FF, t);
  }
}

void WriteWord(BoardCore::State& s, unsigned offset, std::uint16_t value, std::uint64_t t) {
  if ((offset & 1u) == 0 && offset < kWindowLength) {
    s.WriteSlot(static_cast<std::uint16_t>(offset), value, 0xFFFF, t);
    return;
  }
  WriteByte(s, offset, static_cast<std::uint8_t>(value), t);
  WriteByte(s, offset + 1, static_cast<std::uint8_t>(value >> 8), t);
}

}  // namespace

std::uint32_t BoardCore::Read(std::uint16_t offset, unsigned width, std::uint64_t tNs) {
  State& s = *state_;
  const std::uint64_t t = s.Clamp(tNs);
  std::uint32_t value = 0;
  switch (width) {
    case 1:
      value = ReadByte(s, offset, t);
      break;
    case 2:
      value = ReadWord(s, offset, t);
      break;
    case 4:
      // Two 16-bit accesses, low half first.
      value = ReadWord(s, offset, t);
      value |= static_cast<std::uint32_t>(ReadWord(s, offset + 2u, t)) << 16;
      break;
    default:
      return 0xFFFFFFFFu;
  }
  Record(s, t, offset, width, false, value);
  return value;
}

void BoardCore::Write(std::uint16_t offset, unsigned width, std::uint32_t value, std::uint64_t tNs) {
  State& s = *state_;
  const std::uint64_t t = s.Clamp(tNs);
  switch (width) {
    case 1:
      WriteByte(s, offset, static_cast<std::uint8_t>(value), t);
      break;
    case 2:
      WriteWord(s, offset, static_cast<std::uint16_t>(value), t);
      break;
    case 4:
      WriteWord(s, offset, static_cast<std::uint16_t>(value), t);
      WriteWord(s, offset + 2u, static_cast<std::uint16_t>(value >> 16), t);
      break;
    default:
      return;
  }
  Record(s, t, offset, width, true, value);
}

void BoardCore::Advance(std::uint64_t tNs) { state_->Advance(tNs); }

unsigned BoardCore::TakeInterruptRequests() {
  const unsigned count = state_->requests;
  state_->requests = 0;
  return count;
}

std::optional<std::uint64_t> BoardCore::NextInterruptTime() const { return state_->NextInterruptTime(); }

std::uint16_t BoardCore::InterruptEnable() const { return state_->intEnable; }

void BoardCore::SetTraceEnabled(bool on) { state_->trace = on; }

bool BoardCore::TraceEnabled() const { return state_->trace; }

std::vector<PortAccess> BoardCore::TakeTrace(std::size_t maxEntries) {
  auto& log = state_->traceLog;
  const std::size_t n = std::min(maxEntries, log.size());
  std::vector<PortAccess> out(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(n));
  log.erase(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(n));
  return out;
}

}  // namespace qio::sim
