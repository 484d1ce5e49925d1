// The pin changes of a simulated board and the outlook of its counters'
// terminal counts (qio_sim_record_pins, qio_sim_list_edges,
// qio_sim_next_terminal_count), over the board model's closed-form state.
#include <algorithm>
#include <memory>
#include <string>

#include "board_model.h"
#include "hosted_target.h"
#include "qio/sim/Board.h"

using namespace qio::target;

namespace {

constexpr unsigned kCounters = 2;

int Bad(const char* function, const std::string& why) {
  return Result(QIO_TARGET_E_ARGUMENT, std::string(function) + ": " + why);
}

int NoBoard(const char* function) { return Bad(function, "no such board (NULL, or unplugged at shutdown)"); }

}  // namespace

extern "C" {

int qio_sim_record_pins(QioSimBoard* board, size_t maxChangesPerPin) {
  EnterTarget();
  const std::shared_ptr<QioSimBoard> live = FindLiveBoard(board);
  if (!live) return NoBoard("qio_sim_record_pins");
  BoardModel(*live).SetPinHistory(maxChangesPerPin);
  return Succeed();
}

int qio_sim_list_edges(QioSimBoard* board, unsigned pin, uint64_t fromNs, uint64_t toNs, QioPinChange* out,
                       size_t capacity, QioPinListing* listing) {
  EnterTarget();
  constexpr const char* kFunction = "qio_sim_list_edges";
  if (listing != nullptr) *listing = QioPinListing{0, 0, 0, UINT64_MAX};
  if (listing == nullptr) return Bad(kFunction, "listing is NULL");
  if (out == nullptr && capacity > 0) return Bad(kFunction, "out is NULL");
  if (pin >= QIO_SIM_PIN_COUNT) return Bad(kFunction, "pin " + std::to_string(pin) + " is not 0 to 8");
  if (toNs < fromNs) return Bad(kFunction, "the span ends before it begins");
  const std::shared_ptr<QioSimBoard> live = FindLiveBoard(board);
  if (!live) return NoBoard(kFunction);
  const qio::sim::PinListing found =
      BoardModel(*live).ListPinChanges(static_cast<qio::sim::Pin>(pin), fromNs, toNs, capacity);
  if (!found.known) {
    return Result(QIO_TARGET_E_STATE, std::string(kFunction) + ": the board knows its pins from " +
                                          std::to_string(found.knownFromNs) +
                                          " ns on (switch the pin history on to keep earlier changes)");
  }
  listing->valueAtFrom = found.valueAtFrom;
  listing->count = std::min(found.changes.size(), capacity);
  for (std::size_t i = 0; i < listing->count; ++i) out[i] = QioPinChange{found.changes[i].timeNs, found.changes[i].value};
  listing->notListed = found.notListed;
  listing->firstNotListedNs = found.firstNotListedNs;
  return Succeed();
}

int qio_sim_next_terminal_count(QioSimBoard* board, unsigned counter, int* counting, uint64_t* nextNs) {
  EnterTarget();
  constexpr const char* kFunction = "qio_sim_next_terminal_count";
  if (counter >= kCounters) return Bad(kFunction, "counter " + std::to_string(counter) + " is not 0 or 1");
  if (counting == nullptr) return Bad(kFunction, "counting is NULL");
  const std::shared_ptr<QioSimBoard> live = FindLiveBoard(board);
  if (!live) return NoBoard(kFunction);
  const auto outlook = BoardModel(*live).TerminalCountAhead(counter);
  if (!outlook) return Bad(kFunction, "the board has no such counter");
  *counting = outlook->counting ? 1 : 0;
  if (nextNs != nullptr) *nextNs = outlook->nextNs.value_or(UINT64_MAX);
  return Succeed();
}

}  // extern "C"
