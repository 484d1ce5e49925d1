// A slow reference of the counter side of the board: it visits every edge of
// every clock in time order and applies the data sheet's counting rules one
// edge at a time. Written independently of the model's closed forms, for
// short windows only. Limits: generators run from the fixed rates, CLK0 is a
// wave, a level or FOUTn, and CLK1 may also be wired to OUT0 (no loops).
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace qio::sim::test {

using Wide = __int128;

class ReferenceBoard {
 public:
  enum class Pin : std::uint8_t { kLevel, kWave, kOut0, kFreqOut0, kFreqOut1 };

  explicit ReferenceBoard(std::int64_t den, std::uint64_t startNs) : den_(den), now_(Q(startNs)) {}

  // ---- events (each applied at an instant no earlier than the last) --------
  void WriteMode(unsigned b, std::uint16_t v, std::uint64_t ns) {
    At(ns, [&] {
      blocks_[b].mode = v;
      if ((v & 7) == 0) blocks_[b].out = false;
    });
  }
  void WriteLoad(unsigned b, std::uint16_t v, std::uint64_t ns) { At(ns, [&] { blocks_[b].load = v; }); }
  void WriteHold(unsigned b, std::uint16_t v, std::uint64_t ns) { At(ns, [&] { blocks_[b].hold = v; }); }
  void WriteCommand(unsigned b, std::uint8_t code) { blocks_[b].pending = code; }
  void Strobe(unsigned mask, std::uint64_t ns) {
    At(ns, [&] {
      for (unsigned b = 0; b < 4; ++b) {
        if (((mask >> b) & 1u) == 0 || blocks_[b].pending < 0) continue;
        Apply(b, static_cast<std::uint8_t>(blocks_[b].pending));
        blocks_[b].pending = -1;
      }
    });
  }
  void WriteGenerator(unsigned g, std::uint16_t word, std::uint64_t ns) {
    At(ns, [&] {
      if (word == gens_[g].word) return;
      gens_[g].word = word;
      if ((word & 0x1000) != 0) gens_[g].anchor = now_;
    });
  }
  void WriteEnable(std::uint16_t bits, std::uint64_t ns) { At(ns, [&] { enable_ = bits & 0x1F; }); }
  void Clear(std::uint64_t ns) { At(ns, [&] { status_ = 0; }); }
  void SetLevel(unsigned n, bool level, std::uint64_t ns) {
    At(ns, [&] {
      pins_[n].kind = Pin::kLevel;
      pins_[n].level = level;
    });
  }
  // A wave of periodNum/waveDen ps, high highNum/waveDen ps, standing at
  // `phase` of its period at ns.
  void SetWave(unsigned n, std::int64_t periodNum, std::int64_t highNum, std::int64_t waveDen, double phase,
               std::uint64_t ns) {
    At(ns, [&] {
      const Wide scale = den_ / waveDen;
      const Wide lead = std::llround(phase * static_cast<double>(periodNum));
      pins_[n].kind = Pin::kWave;
      pins_[n].period = periodNum * scale;
      pins_[n].high = highNum * scale;
      pins_[n].origin = (static_cast<Wide>(ns) * 1000 * waveDen - lead) * scale;
    });
  }
  void Wire(unsigned n, Pin kind, std::uint64_t ns) { At(ns, [&] { pins_[n].kind = kind; }); }

  // ---- observation (after stepping to ns) ------------------------------------
  void StepTo(std::uint64_t ns) {
    const Wide to = Q(ns);
    std::vector<Wide> instants;
    auto lattice = [&](Wide origin, Wide period, Wide high) {
      for (Wide edge : {origin, origin + high}) {
        Wide k = FloorDiv(now_ - edge, period) + 1;
        for (Wide at = edge + k * period; at <= to; at += period) instants.push_back(at);
      }
    };
    for (const auto& b : blocks_) {
      if (b.armed) lattice(b.armAt, kBasePs * den_, kBasePs / 2 * den_);
    }
    for (unsigned g = 0; g < 2; ++g) {
      const Wide p = GenPeriod(g);
      if (p > 0) lattice(gens_[g].anchor, p, p / 2);
    }
    for (const auto& pin : pins_) {
      if (pin.kind == Pin::kWave) lattice(pin.origin, pin.period, pin.high);
    }
    std::sort(instants.begin(), instants.end());
    instants.erase(std::unique(instants.begin(), instants.end()), instants.end());
    for (const Wide at : instants) {
      now_ = at;
      Process();
    }
    now_ = to;
  }

  std::uint16_t Count(unsigned b) const { return blocks_[b].count; }
  bool Out(unsigned b) const { return blocks_[b].out; }
  std::uint64_t Tcs(unsigned b) const { return blocks_[b].tcs; }
  std::uint64_t Rises(unsigned b) const { return blocks_[b].rises; }
  std::uint16_t Status() const { return status_; }
  unsigned Requests() const { return requests_; }

 private:
  static constexpr Wide kBasePs = 50'000;
  static constexpr std::array<std::int64_t, 8> kGenPs = {0, 50'000, 0, 100'000, 1'000'000, 10'000'000, 100'000'000,
                                                          1'000'000'000};

  struct Block {
    std::uint16_t mode = 0, load = 0, hold = 0;
    int pending = -1;
    bool armed = false, stopped = false, out = false;
    std::uint16_t count = 0;
    std::uint8_t phase = 0;
    int window = 0;  // 0 pending, 1 open, 2 closed
    Wide armAt = 0;
    bool basePrev = true;
    std::uint64_t tcs = 0, rises = 0;
  };
  struct Gen {
    std::uint16_t word = 0;
    Wide anchor = 0;
  };
  struct PinState {
    Pin kind = Pin::kLevel;
    bool level = false;
    Wide origin = 0, period = 1, high = 0;
  };

  static Wide FloorDiv(Wide a, Wide b) {
    Wide q = a / b;
    if (a % b != 0 && a < 0) --q;
    return q;
  }
  static Wide FloorMod(Wide a, Wide b) { return a - FloorDiv(a, b) * b; }

  Wide Q(std::uint64_t ns) const { return static_cast<Wide>(ns) * 1000 * den_; }

  template <class F>
  void At(std::uint64_t ns, F&& change) {
    StepTo(ns);
    change();
    Process();  // whatever the event changed is an edge at this instant
  }

  Wide GenPeriod(unsigned g) const {
    const std::uint16_t w = gens_[g].word;
    if ((w & 0x1000) == 0) return 0;
    const std::int64_t ps = kGenPs[(w >> 8) & 7];
    return ps == 0 ? 0 : static_cast<Wide>((w & 0xF) + 1) * ps * den_;
  }
  bool GenLevel(unsigned g) const {
    const Wide p = GenPeriod(g);
    return p > 0 && FloorMod(now_ - gens_[g].anchor, p) < p / 2;
  }
  bool PinLevel(unsigned n, const std::array<bool, 4>& outNow) const {
    const PinState& pin = pins_[n];
    switch (pin.kind) {
      case Pin::kLevel:
        return pin.level;
      case Pin::kWave:
        return FloorMod(now_ - pin.origin, pin.period) < pin.high;
      case Pin::kOut0:
        return outNow[0];
      case Pin::kFreqOut0:
        return GenLevel(0);
      case Pin::kFreqOut1:
        return GenLevel(1);
    }
    return false;
  }

  void Apply(unsigned b, std::uint8_t code) {
    Block& k = blocks_[b];
    auto restart = [&] {
      k.stopped = false;
      k.phase = 0;
      k.out = false;
      k.window = 0;
    };
    switch (code) {
      case 0x00:
        k.armed = false;
        break;
      case 0x01:
        restart();
        k.armed = false;
        k.count = k.load;
        break;
      case 0x05:
        restart();
        k.armed = true;
        k.armAt = now_;
        k.basePrev = true;  // tick 0
        k.count = (k.mode & 0x08) != 0 ? static_cast<std::uint16_t>(k.load - 1) : k.load;
        break;
      case 0x06:
        k.hold = k.count;
        break;
      case 0x07:
        restart();
        k.armed = false;
        k.count = 0;
        break;
      default:
        break;
    }
  }

  // One instant: every signal's level now against its level at the last
  // instant, blocks in dependency order.
  void Process() {
    std::array<bool, 2> genNow{GenLevel(0), GenLevel(1)};
    std::array<bool, 4> outNow{};
    for (unsigned b = 0; b < 4; ++b) outNow[b] = blocks_[b].out;
    std::array<bool, 4> pinNow{};
    pinNow[0] = PinLevel(0, outNow);
    for (unsigned b = 0; b < 4; ++b) {
      if (b == 1) pinNow[1] = PinLevel(1, outNow);
      ProcessBlock(b, pinNow, genNow, outNow);
      outNow[b] = blocks_[b].out;
      if (outNow[b] && !outPrev_[b]) ++blocks_[b].rises;
    }
    pinPrev_ = pinNow;
    genPrev_ = genNow;
    outPrev_ = outNow;
  }

  void ProcessBlock(unsigned b, const std::array<bool, 4>& pinNow, const std::array<bool, 2>& genNow,
                    const std::array<bool, 4>& outNow) {
    Block& k = blocks_[b];
    if (!k.armed) return;
    const std::uint16_t m = k.mode;
    const bool up = (m & 0x08) != 0, rep = (m & 0x10) != 0, alt = (m & 0x20) != 0, win = (m & 0x40) != 0;
    const unsigned src = (m >> 8) & 7, gate = (m >> 13) & 7, outCode = m & 7;
    const bool cas = b > 0 && (m & 0x1000) != 0;
    const bool baseNow = FloorMod(now_ - k.armAt, kBasePs * den_) < kBasePs / 2 * den_;
    const bool baseRise = baseNow && !k.basePrev;
    k.basePrev = baseNow;
    auto pinRise = [&](unsigned n) { return n < 2 && pinNow[n] && !pinPrev_[n]; };
    bool rise = false;
    switch (src) {
      case 0: rise = baseRise; break;
      case 2: rise = pinRise(b); break;
      case 4: case 5: rise = genNow[src - 4] && !genPrev_[src - 4]; break;
      case 7: rise = pinRise(cas ? b - 1 : b); break;
      default: break;
    }
    bool qualifies = rise;
    if (gate == 5 || gate == 7) {
      const unsigned r = cas ? b - 1 : b;
      const bool now = r < 2 && pinNow[r], prev = r < 2 && pinPrev_[r];
      const bool opening = gate == 5 ? (now && !prev) : (!now && prev);
      const bool closing = gate == 5 ? (!now && prev) : (now && !prev);
      if (k.window == 0 && opening) k.window = 1;
      else if (k.window == 1 && closing) k.window = 2;
      qualifies = rise && k.window == 1;
    } else if (cas) {
      const bool level = outNow[b - 1];
      if (win) {
        if (k.window == 0 && level) k.window = 1;
        else if (k.window == 1 && !level) k.window = 2;
        qualifies = rise && k.window == 1;
      } else {
        qualifies = rise && level;
      }
    } else if (win) {
      if (k.window == 0) k.window = 1;
      qualifies = rise && k.window == 1;
    }
    if (!qualifies) return;
    const bool toggles = outCode == 2 || outCode == 6, pulses = outCode != 0 && !toggles;
    if (k.stopped) {
      if (pulses) k.out = false;
      return;
    }
    bool tc = false;
    if (up) {
      if (win) {
        if (k.count != 0xFFFF) ++k.count;
      } else {
        k.count = static_cast<std::uint16_t>(k.count + 1);
        tc = k.count == 0;
      }
    } else {
      k.count = static_cast<std::uint16_t>(k.count - 1);
      tc = k.count == 0;
    }
    if (!tc) {
      if (pulses) k.out = false;
      return;
    }
    ++k.tcs;
    bool stop = false;
    if (up) {
      stop = !rep;
    } else if (win) {
      stop = true;
    } else if (rep) {
      k.phase = alt ? static_cast<std::uint8_t>(k.phase ^ 1) : 0;
      k.count = k.phase == 1 ? k.hold : k.load;
    } else if (alt && k.phase == 0) {
      k.phase = 1;
      k.count = k.hold;
    } else {
      stop = true;
    }
    k.stopped = stop;
    if (b < 2 && ((rep && !win) || stop) && (enable_ & (1u << b)) != 0 && (status_ & (1u << b)) == 0) {
      status_ |= static_cast<std::uint16_t>(1u << b);
      ++requests_;
    }
    if (toggles) k.out = !k.out;
    if (pulses) k.out = true;
  }

  Wide den_;
  Wide now_;
  std::array<Block, 4> blocks_{};
  std::array<Gen, 2> gens_{};
  std::array<PinState, 2> pins_{};
  std::array<bool, 4> pinPrev_{};
  std::array<bool, 2> genPrev_{};
  std::array<bool, 4> outPrev_{};
  std::uint16_t enable_ = 0, status_ = 0;
  unsigned requests_ = 0;
};

}  // namespace qio::sim::test
