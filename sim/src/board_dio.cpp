// The three DIO ports: direction, pin levels, the lines' external drive
// (constant, square wave, loopback from another port) and the DI flags that
// rising edges on input lines set.
#include <algorithm>

#include "board_state.h"

namespace qio::sim {

using detail::DiLine;
using detail::Int128;

namespace {

constexpr unsigned kLinesPerPort = 8;

Int128 Units(const detail::UnitWave& wave, std::uint64_t ns) {
  return static_cast<Int128>(ns) * detail::kPsPerNs * wave.den;
}

std::uint64_t UnitsToNsCeil(const detail::UnitWave& wave, Int128 units) {
  const Int128 ns = detail::CeilDiv(units, detail::kPsPerNs * wave.den);
  return ns >= static_cast<Int128>(UINT64_MAX) ? UINT64_MAX : static_cast<std::uint64_t>(ns);
}

std::uint8_t InputMask(std::uint8_t dir, unsigned port) {
  switch (port) {
    case 0:
      return (dir & direction::kPortA) != 0 ? 0xFF : 0x00;
    case 1:
      return (dir & direction::kPortB) != 0 ? 0xFF : 0x00;
    default:
      return static_cast<std::uint8_t>(((dir & direction::kPortCLow) != 0 ? 0x0F : 0x00) |
                                       ((dir & direction::kPortCHigh) != 0 ? 0xF0 : 0x00));
  }
}

}  // namespace

bool BoardCore::State::LineIsInput(unsigned line) const {
  return (InputMask(direction, line / kLinesPerPort) >> (line % kLinesPerPort) & 1u) != 0;
}

bool BoardCore::State::PinLevel(unsigned line, std::uint64_t t) const {
  const unsigned port = line / kLinesPerPort;
  const unsigned bit = line % kLinesPerPort;
  if (!LineIsInput(line)) return ((latch[port] >> bit) & 1u) != 0;
  const DiLine& drive = di[line];
  switch (drive.kind) {
    case DiLine::Kind::kLevel:
      return drive.level;
    case DiLine::Kind::kSquare:
      return drive.wave.LevelAt(Units(drive.wave, t));
    case DiLine::Kind::kLoop: {
      // The wire carries the other port's output line; nothing drives it
      // when that line is an input.
      const unsigned from = drive.fromPort * kLinesPerPort + bit;
      return !LineIsInput(from) && ((latch[drive.fromPort] >> bit) & 1u) != 0;
    }
  }
  return false;
}

std::uint8_t BoardCore::State::PortPins(unsigned port, std::uint64_t t) const {
  std::uint8_t levels = 0;
  for (unsigned bit = 0; bit < kLinesPerPort; ++bit) {
    if (PinLevel(port * kLinesPerPort + bit, t)) levels = static_cast<std::uint8_t>(levels | (1u << bit));
  }
  return levels;
}

std::uint8_t BoardCore::State::InputLevels(unsigned port, std::uint64_t t) const {
  return static_cast<std::uint8_t>(PortPins(port, t) & InputMask(direction, port));
}

std::uint8_t BoardCore::State::SquareRises(unsigned port, std::uint64_t from, std::uint64_t to) const {
  std::uint8_t rises = 0;
  for (unsigned bit = 0; bit < kLinesPerPort; ++bit) {
    const unsigned line = port * kLinesPerPort + bit;
    const DiLine& drive = di[line];
    if (drive.kind != DiLine::Kind::kSquare || !LineIsInput(line)) continue;
    if (drive.wave.FirstRiseAfter(Units(drive.wave, from)) <= Units(drive.wave, to)) {
      rises = static_cast<std::uint8_t>(rises | (1u << bit));
    }
  }
  return rises;
}

std::optional<std::uint64_t> BoardCore::State::NextSquareRise(unsigned port, std::uint64_t after) const {
  std::optional<std::uint64_t> best;
  for (unsigned bit = 0; bit < kLinesPerPort; ++bit) {
    const unsigned line = port * kLinesPerPort + bit;
    const DiLine& drive = di[line];
    if (drive.kind != DiLine::Kind::kSquare || !LineIsInput(line)) continue;
    const std::uint64_t ns = UnitsToNsCeil(drive.wave, drive.wave.FirstRiseAfter(Units(drive.wave, after)));
    if (!best || ns < *best) best = ns;
  }
  return best;
}

void BoardCore::State::SetDiEdgeFlags(const std::array<std::uint8_t, kPortCount>& before, std::uint64_t t) {
  for (unsigned port = 0; port < kPortCount; ++port) {
    const std::uint16_t bit = interrupt::DiPort(port);
    if ((intEnable & bit) == 0) continue;
    const auto rising = static_cast<std::uint8_t>(InputLevels(port, t) & ~before[port]);
    if (rising == 0) continue;
    flags[port] |= rising;
    if ((status & bit) == 0) {
      status |= bit;
      ++requests;
    }
  }
}

// ---- DI stimulus --------------------------------------------------------------

bool BoardCore::SetDiLevels(unsigned port, std::uint8_t levels, std::uint64_t tNs) {
  if (port >= kPortCount) return false;
  state_->Event(tNs, [&] {
    for (unsigned bit = 0; bit < kLinesPerPort; ++bit) {
      DiLine& line = state_->di[port * kLinesPerPort + bit];
      line = DiLine{};
      line.level = ((levels >> bit) & 1u) != 0;
    }
  });
  return true;
}

bool BoardCore::SetDiSquare(unsigned channel, double hz, std::uint64_t tNs) {
  if (channel >= kDiChannelCount) return false;
  State& s = *state_;
  const std::uint64_t t = s.Clamp(tNs);
  if (hz == 0.0) {
    s.Event(t, [&] {
      DiLine& line = s.di[channel];
      if (line.kind == DiLine::Kind::kSquare) {
        line.level = line.wave.LevelAt(Units(line.wave, t));
        line.kind = DiLine::Kind::kLevel;
      }
    });
    return true;
  }
  const auto wave = WaveFromFrequency(hz, 50.0);
  if (!wave) return false;
  s.Event(t, [&] {
    DiLine& line = s.di[channel];
    line.kind = DiLine::Kind::kSquare;
    line.wave.period = wave->periodNum;
    line.wave.high = wave->highNum;
    line.wave.den = wave->den;
    line.wave.origin = Units(line.wave, t);  // a rising edge now
  });
  return true;
}

bool BoardCore::SetLoopback(int fromPort, unsigned toPort, std::uint64_t tNs) {
  if (toPort >= kPortCount || fromPort < -1 || fromPort >= static_cast<int>(kPortCount) ||
      fromPort == static_cast<int>(toPort)) {
    return false;
  }
  state_->Event(tNs, [&] {
    for (unsigned bit = 0; bit < kLinesPerPort; ++bit) {
      DiLine& line = state_->di[toPort * kLinesPerPort + bit];
      if (fromPort < 0) {
        if (line.kind == DiLine::Kind::kLoop) line = DiLine{};
      } else {
        line = DiLine{};
        line.kind = DiLine::Kind::kLoop;
        line.fromPort = static_cast<std::uint8_t>(fromPort);
      }
    }
  });
  return true;
}

std::uint8_t BoardCore::Pins(unsigned port, std::uint64_t tNs) const {
  if (port >= kPortCount) return 0;
  return state_->PortPins(port, state_->Clamp(tNs));
}

}  // namespace qio::sim
