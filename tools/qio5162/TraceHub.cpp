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

std::map<QioSimBoard*, std::vector<std::vector<QioPortAccess>*>>& Listeners() {
  static std::map<QioSimBoard*, std::vector<std::vector<QioPortAccess>*>> listeners;
  return listeners;
}

// Reads the board's whole trace; every entry goes to each of `sinks`.
void DrainLocked(QioSimBoard* board, const std::vector<std::vector<QioPortAccess>*>& sinks) {
  constexpr std::size_t kChunk = 256;
  QioPortAccess chunk[kChunk];
  while (true) {
    std::size_t count = 0;
    if (qio_sim_trace_read(board, chunk, kChunk, &count) != QIO_TARGET_OK) return;
    for (std::vector<QioPortAccess>* sink : sinks) sink->insert(sink->end(), chunk, chunk + count);
    if (count < kChunk) return;
  }
}

}  // namespace

void TraceHub::Subscribe(QioSimBoard* board, std::vector<QioPortAccess>* sink) {
  if (board == nullptr || sink == nullptr) return;
  std::scoped_lock lock(HubMutex());
  std::vector<std::vector<QioPortAccess>*>& sinks = Listeners()[board];
  if (sinks.empty()) {
    qio_sim_trace_enable(board, 1);
    DrainLocked(board, {});  // whatever an earlier reader left behind
  } else {
    DrainLocked(board, sinks);
  }
  sinks.push_back(sink);
}

void TraceHub::Unsubscribe(QioSimBoard* board, std::vector<QioPortAccess>* sink) {
  if (board == nullptr) return;
  std::scoped_lock lock(HubMutex());
  const auto found = Listeners().find(board);
  if (found == Listeners().end()) return;
  std::vector<std::vector<QioPortAccess>*>& sinks = found->second;
  DrainLocked(board, sinks);
  sinks.erase(std::remove(sinks.begin(), sinks.end(), sink), sinks.end());
  if (sinks.empty()) {
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
