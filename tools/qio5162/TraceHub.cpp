#include "TraceHub.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace qio::tool {
namespace {

std::mutex& HubMutex() {
  static std::mutex mutex;
  return mutex;
}

struct Listener {
  std::vector<QioPortAccess>* sink;
  std::size_t limit;
};

std::map<QioSimBoard*, std::vector<Listener>>& Listeners() {
  static std::map<QioSimBoard*, std::vector<Listener>> listeners;
  return listeners;
}

// Reads the board's whole trace; every entry goes to each of `sinks`.
void DrainLocked(QioSimBoard* board, const std::vector<Listener>& listeners) {
  constexpr std::size_t kChunk = 256;
  QioPortAccess chunk[kChunk];
  while (true) {
    std::size_t count = 0;
    if (qio_sim_trace_read(board, chunk, kChunk, &count) != QIO_TARGET_OK) return;
    for (const Listener& listener : listeners) {
      std::vector<QioPortAccess>& sink = *listener.sink;
      const std::size_t room = listener.limit > sink.size() ? listener.limit - sink.size() : 0;
      sink.insert(sink.end(), chunk, chunk + std::min(count, room));
    }
    if (count < kChunk) return;
  }
}

}  // namespace

void TraceHub::Subscribe(QioSimBoard* board, std::vector<QioPortAccess>* sink, std::size_t limit) {
  if (board == nullptr || sink == nullptr) return;
  std::scoped_lock lock(HubMutex());
  std::vector<Listener>& listeners = Listeners()[board];
  if (listeners.empty()) {
    qio_sim_trace_enable(board, 1);
    DrainLocked(board, {});  // whatever an earlier reader left behind
  } else {
    DrainLocked(board, listeners);
  }
  listeners.push_back({sink, limit});
}

void TraceHub::Unsubscribe(QioSimBoard* board, std::vector<QioPortAccess>* sink) {
  if (board == nullptr) return;
  std::scoped_lock lock(HubMutex());
  const auto found = Listeners().find(board);
  if (found == Listeners().end()) return;
  std::vector<Listener>& listeners = found->second;
  DrainLocked(board, listeners);
  listeners.erase(std::remove_if(listeners.begin(), listeners.end(),
                                 [sink](const Listener& listener) { return listener.sink == sink; }),
                  listeners.end());
  if (listeners.empty()) {
    qio_sim_trace_enable(board, 0);
    Listeners().erase(found);
  }
}

void TraceHub::Drain(QioSimBoard* board) {
  if (board == nullptr) return;
  std::scoped_lock lock(HubMutex());
  const auto found = Listeners().find(board);
  if (found != Listeners().end()) DrainLocked(board, found->second);
}

}  // namespace qio::tool
