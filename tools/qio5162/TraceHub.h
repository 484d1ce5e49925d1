// The board's register trace is one queue that a read empties. The tool has
// several readers at once (a command's TraceRecorder, a waveform recording of
// the whole run), so every reader gets every access through the hub: it keeps
// the trace switched on while anyone listens, drains it, and appends each
// access to every listener's list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "qio5162/target.h"

namespace qio::tool {

class TraceHub {
 public:
  // `sink` receives the accesses recorded from now on, until Unsubscribe;
  // at most `limit` of them in all (the later ones are not kept).
  static void Subscribe(QioSimBoard* board, std::vector<QioPortAccess>* sink, std::size_t limit = SIZE_MAX);
  // Hands `sink` what is still waiting, then forgets it; the last listener
  // of a board switches its trace off.
  static void Unsubscribe(QioSimBoard* board, std::vector<QioPortAccess>* sink);
  // Moves what the board recorded to every listener of the board.
  static void Drain(QioSimBoard* board);
};

}  // namespace qio::tool
