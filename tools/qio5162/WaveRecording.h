// --vcd FILE: records the board's pins and its register accesses for the
// whole run of a command (or of the shell, or of a run file) and writes them
// as a Value Change Dump when the run ends, whatever way it ends.
//
// Pins come from the board model's closed form through the harness
// (qio_sim_record_pins, qio_sim_list_edges): CLK0, CLK1, OUT0, OUT1, FOUT0,
// FOUT1 as 1-bit wires, ports A, B, C as 8-bit vectors. Register accesses
// come from the board's trace: reg_offset (8 bits) and reg_value (32 bits)
// at each access, and reg_write, a 1 ns pulse on each write (accesses closer
// than 2 ns are spaced 2 ns apart so that each shows). Each signal keeps at
// most kVcdMaxChanges changes; from the first one beyond, it reads x.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Vcd.h"
#include "qio5162/target.h"

namespace qio::tool {

inline constexpr std::size_t kVcdMaxChanges = 100000;

// The register accesses as the three reg_* signals, times from startNs.
std::vector<VcdSignal> RegisterSignals(const std::vector<QioPortAccess>& trace, std::uint64_t startNs,
                                       std::uint64_t endNs, std::size_t maxChanges);

class WaveRecording {
 public:
  // Starts recording; throws UsageError when the file cannot be written.
  // `bits`: vectors as one wire per bit (VcdDocument::splitVectors).
  WaveRecording(std::string path, QioSimBoard* board, std::string boardText, bool bits = false);
  ~WaveRecording();
  WaveRecording(const WaveRecording&) = delete;
  WaveRecording& operator=(const WaveRecording&) = delete;

  // Stops and writes the file (once); false when it could not be written.
  // Warnings (a signal reaching the cap, a failed write) go to stderr.
  bool Finish();

 private:
  std::string path_;
  std::string partPath_;
  QioSimBoard* board_;
  std::string boardText_;
  bool bits_ = false;
  std::uint64_t startNs_ = 0;
  std::vector<QioPortAccess> trace_;
  bool finished_ = false;
};

}  // namespace qio::tool
