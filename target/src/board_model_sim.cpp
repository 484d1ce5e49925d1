// The qio_sim_* functions over the board model's Board. Each checks its
// board against the boards plugged in the running target, and its arguments
// against the board's pins, before the model is touched.
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "board_model.h"
#include "hosted_target.h"
#include "qio/sim/Board.h"

struct QioSimBoard {
  std::uint16_t ioBase = 0;
  unsigned irq = 0;
  std::unique_ptr<qio::sim::Board> model;  // powered (its timer running) while it exists
  QioSimBoard* nextRetired = nullptr;
};

namespace qio::target {
namespace {

// When the last reference to a board goes, its model is destroyed but the
// small record stays, for the life of the process, on this list: no later
// board gets the address of an earlier one, so a pointer kept from an earlier
// boot is refused instead of driving the board plugged since. Linked through
// the records themselves, so retiring needs no memory.
std::mutex& RetiredMutex() {
  static auto* mutex = new std::mutex;  // outlives static destruction: a shutdown at exit retires boards
  return *mutex;
}
QioSimBoard* retiredBoards = nullptr;  // guarded by RetiredMutex()

void RetireBoard(QioSimBoard* board) noexcept {
  board->model.reset();
  std::scoped_lock lock(RetiredMutex());
  board->nextRetired = retiredBoards;
  retiredBoards = board;
}

}  // namespace

std::shared_ptr<QioSimBoard> CreateBoardModel(std::uint16_t ioBase, unsigned irq, std::string*) {
  RetiredMutex();  // made now, where running short of memory is handled, not when the board goes
  auto record = std::make_unique<QioSimBoard>();
  record->ioBase = ioBase;
  record->irq = irq;
  record->model = std::make_unique<qio::sim::Board>(ioBase, irq);
  return std::shared_ptr<QioSimBoard>(record.release(), RetireBoard);  // retires the record if this throws
}

bool AttachBoardModel(QioSimBoard& board) { return board.model->Attach(); }
void DetachBoardModel(QioSimBoard& board) { board.model->Detach(); }
std::uint16_t BoardBase(const QioSimBoard& board) { return board.ioBase; }
qio::sim::Board& BoardModel(QioSimBoard& board) { return *board.model; }

}  // namespace qio::target

using namespace qio::target;

namespace {

constexpr unsigned kCounters = 2;
constexpr unsigned kPorts = 3;
constexpr unsigned kChannels = 24;
constexpr unsigned kGenerators = 2;

int Bad(const char* function, const std::string& why) {
  return Result(QIO_TARGET_E_ARGUMENT, std::string(function) + ": " + why);
}

// Runs `use` on the model of a plugged board, or refuses the board.
template <class Use>
int WithBoard(QioSimBoard* board, const char* function, Use use) {
  const std::shared_ptr<QioSimBoard> live = FindLiveBoard(board);
  if (!live) return Bad(function, "no such board (NULL, or unplugged at shutdown)");
  return use(*live->model) ? Succeed() : Bad(function, "the board refused the value");
}

bool ValidWave(double hz, double duty) {
  return std::isfinite(hz) && hz >= 0 && (hz == 0 || (std::isfinite(duty) && duty >= 1 && duty <= 99));
}

}  // namespace

extern "C" {
int qio_sim_set_counter_input(QioSimBoard* board, unsigned counter, double hz, double dutyPercent) {
  EnterTarget();
  return qio_sim_set_counter_input_ex(board, counter, hz, dutyPercent, 0.0);
}

int qio_sim_set_counter_input_ex(QioSimBoard* board, unsigned counter, double hz, double dutyPercent,
                                 double phase) {
  EnterTarget();
  constexpr const char* kFunction = "qio_sim_set_counter_input";
  if (counter >= kCounters) return Bad(kFunction, "counter " + std::to_string(counter) + " is not 0 or 1");
  if (!ValidWave(hz, dutyPercent)) return Bad(kFunction, "a frequency of 0 or more and a duty of 1 to 99 % are needed");
  if (!std::isfinite(phase) || phase < 0 || phase > 1) return Bad(kFunction, "the phase is not 0 to 1");
  return WithBoard(board, kFunction, [&](qio::sim::Board& model) {
    return model.SetCounterInput(counter, hz, dutyPercent, phase);
  });
}

int qio_sim_set_counter_level(QioSimBoard* board, unsigned counter, int level) {
  EnterTarget();
  constexpr const char* kFunction = "qio_sim_set_counter_level";
  if (counter >= kCounters) return Bad(kFunction, "counter " + std::to_string(counter) + " is not 0 or 1");
  if (level != 0 && level != 1) return Bad(kFunction, "the level is not 0 or 1");
  return WithBoard(board, kFunction, [&](qio::sim::Board& model) { return model.SetCounterLevel(counter, level == 1); });
}

int qio_sim_wire_counter_input(QioSimBoard* board, unsigned counter, unsigned source) {
  EnterTarget();
  constexpr const char* kFunction = "qio_sim_wire_counter_input";
  if (counter >= kCounters) return Bad(kFunction, "counter " + std::to_string(counter) + " is not 0 or 1");
  if (source > QIO_SIM_WIRE_FOUT1) return Bad(kFunction, "source " + std::to_string(source) + " is not 0 to 3");
  return WithBoard(board, kFunction, [&](qio::sim::Board& model) {
    return model.WireCounterInput(counter, static_cast<qio::sim::ClockWire>(source));
  });
}

int qio_sim_set_di(QioSimBoard* board, unsigned port, uint8_t levels) {
  EnterTarget();
  constexpr const char* kFunction = "qio_sim_set_di";
  if (port >= kPorts) return Bad(kFunction, "port " + std::to_string(port) + " is not 0 to 2");
  return WithBoard(board, kFunction, [&](qio::sim::Board& model) { return model.SetDiLevels(port, levels); });
}

int qio_sim_set_di_square(QioSimBoard* board, unsigned channel, double hz) {
  EnterTarget();
  constexpr const char* kFunction = "qio_sim_set_di_square";
  if (channel >= kChannels) return Bad(kFunction, "channel " + std::to_string(channel) + " is not 0 to 23");
  if (!std::isfinite(hz) || hz < 0) return Bad(kFunction, "the frequency is negative or not a number");
  return WithBoard(board, kFunction, [&](qio::sim::Board& model) { return model.SetDiSquare(channel, hz); });
}

int qio_sim_set_loopback(QioSimBoard* board, int fromPort, unsigned toPort) {
  EnterTarget();
  constexpr const char* kFunction = "qio_sim_set_loopback";
  if (toPort >= kPorts) return Bad(kFunction, "port " + std::to_string(toPort) + " is not 0 to 2");
  if (fromPort < -1 || fromPort >= static_cast<int>(kPorts) || fromPort == static_cast<int>(toPort)) {
    return Bad(kFunction, "the source port is not -1 or another port 0 to 2");
  }
  return WithBoard(board, kFunction, [&](qio::sim::Board& model) { return model.SetLoopback(fromPort, toPort); });
}

int qio_sim_get_pins(QioSimBoard* board, unsigned port, uint8_t* levels) {
  EnterTarget();
  constexpr const char* kFunction = "qio_sim_get_pins";
  if (port >= kPorts) return Bad(kFunction, "port " + std::to_string(port) + " is not 0 to 2");
  if (levels == nullptr) return Bad(kFunction, "levels is NULL");
  return WithBoard(board, kFunction, [&](qio::sim::Board& model) {
    const auto pins = model.Pins(port);
    if (pins) *levels = *pins;
    return pins.has_value();
  });
}

int qio_sim_get_output(QioSimBoard* board, unsigned counter, double* hz, double* highSeconds) {
  EnterTarget();
  constexpr const char* kFunction = "qio_sim_get_output";
  if (counter >= kCounters) return Bad(kFunction, "counter " + std::to_string(counter) + " is not 0 or 1");
  if (hz == nullptr || highSeconds == nullptr) return Bad(kFunction, "hz or highSeconds is NULL");
  return WithBoard(board, kFunction, [&](qio::sim::Board& model) {
    const auto wave = model.Output(counter);
    if (wave) {
      *hz = wave->hz;
      *highSeconds = wave->highSeconds;
    }
    return wave.has_value();
  });
}

int qio_sim_get_output_level(QioSimBoard* board, unsigned counter, int* level) {
  EnterTarget();
  constexpr const char* kFunction = "qio_sim_get_output_level";
  if (counter >= kCounters) return Bad(kFunction, "counter " + std::to_string(counter) + " is not 0 or 1");
  if (level == nullptr) return Bad(kFunction, "level is NULL");
  return WithBoard(board, kFunction, [&](qio::sim::Board& model) {
    const auto high = model.OutputLevel(counter);
    if (high) *level = *high ? 1 : 0;
    return high.has_value();
  });
}

int qio_sim_get_freqout(QioSimBoard* board, unsigned generator, double* hz) {
  EnterTarget();
  constexpr const char* kFunction = "qio_sim_get_freqout";
  if (generator >= kGenerators) return Bad(kFunction, "generator " + std::to_string(generator) + " is not 0 or 1");
  if (hz == nullptr) return Bad(kFunction, "hz is NULL");
  return WithBoard(board, kFunction, [&](qio::sim::Board& model) {
    const auto frequency = model.FreqOut(generator);
    if (frequency) *hz = *frequency;
    return frequency.has_value();
  });
}

int qio_sim_trace_enable(QioSimBoard* board, int on) {
  EnterTarget();
  return WithBoard(board, "qio_sim_trace_enable", [&](qio::sim::Board& model) {
    model.SetTraceEnabled(on != 0);
    return true;
  });
}

int qio_sim_trace_read(QioSimBoard* board, QioPortAccess* out, size_t capacity, size_t* count) {
  EnterTarget();
  constexpr const char* kFunction = "qio_sim_trace_read";
  if (count != nullptr) *count = 0;
  if (count == nullptr) return Bad(kFunction, "count is NULL");
  if (out == nullptr && capacity > 0) return Bad(kFunction, "out is NULL");
  return WithBoard(board, kFunction, [&](qio::sim::Board& model) {
    const std::vector<qio::sim::PortAccess> trace = model.TakeTrace(capacity);
    for (std::size_t i = 0; i < trace.size(); ++i) {
      out[i] = QioPortAccess{trace[i].timeNs, trace[i].offset, trace[i].width,
                             static_cast<uint8_t>(trace[i].isWrite ? 1 : 0), trace[i].value};
    }
    *count = trace.size();
    return true;
  });
}
}  // extern "C"
