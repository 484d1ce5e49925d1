#include "WaveRecording.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>

#include "Output.h"
#include "TraceHub.h"
#include "Units.h"
#include "qio/platform/clock.h"

#ifndef QIO5162_VERSION
#define QIO5162_VERSION "unknown"
#endif

namespace qio::tool {
namespace {

constexpr const char* kPinNames[QIO_SIM_PIN_COUNT] = {"CLK0", "CLK1", "OUT0", "OUT1", "FOUT0",
                                                      "FOUT1", "A",    "B",    "C"};
constexpr std::uint64_t kAccessSpacingNs = 2;

// The pin history of a board is shared by every recording of it (the shell's
// and a command's inside it): switched on by the first, off by the last.
std::mutex& HistoryMutex() {
  static std::mutex mutex;
  return mutex;
}
std::map<QioSimBoard*, int>& HistoryUsers() {
  static std::map<QioSimBoard*, int> users;
  return users;
}

void UseHistory(QioSimBoard* board) {
  std::scoped_lock lock(HistoryMutex());
  if (HistoryUsers()[board]++ == 0) qio_sim_record_pins(board, kVcdMaxChanges);
}

void ReleaseHistory(QioSimBoard* board) {
  std::scoped_lock lock(HistoryMutex());
  const auto found = HistoryUsers().find(board);
  if (found == HistoryUsers().end()) return;
  if (--found->second == 0) {
    qio_sim_record_pins(board, 0);
    HistoryUsers().erase(found);
  }
}

std::string LocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// One pin over the recording, from the board model.
VcdSignal PinSignal(QioSimBoard* board, unsigned pin, std::uint64_t startNs, std::uint64_t endNs,
                    std::vector<QioPinChange>& buffer, std::string* problem) {
  VcdSignal signal;
  signal.name = kPinNames[pin];
  signal.width = pin >= QIO_SIM_PIN_PORT_A ? 8 : 1;
  QioPinListing listing{};
  if (qio_sim_list_edges(board, pin, startNs, endNs, buffer.data(), buffer.size(), &listing) != QIO_TARGET_OK) {
    signal.unknownFromNs = 0;
    *problem = signal.name + ": " + qio_target_last_message();
    return signal;
  }
  signal.initial = listing.valueAtFrom;
  for (std::size_t i = 0; i < listing.count; ++i) signal.changes.push_back({buffer[i].timeNs - startNs, buffer[i].value});
  if (listing.notListed > 0) {
    signal.unknownFromNs = listing.firstNotListedNs - startNs;
    *problem = signal.name + " reached " + std::to_string(kVcdMaxChanges) + " changes at " +
               FormatSeconds(static_cast<double>(*signal.unknownFromNs) / 1e9) + "; it reads x from there (" +
               std::to_string(listing.notListed) + " changes left out)";
  }
  return signal;
}

}  // namespace

std::vector<VcdSignal> RegisterSignals(const std::vector<QioPortAccess>& trace, std::uint64_t startNs,
                                       std::uint64_t endNs, std::size_t maxChanges) {
  VcdSignal offset{"reg_offset", 8, 0, {}, std::nullopt};
  VcdSignal value{"reg_value", 32, 0, {}, std::nullopt};
  VcdSignal write{"reg_write", 1, 0, {}, std::nullopt};
  std::uint64_t last = 0;
  bool first = true;
  std::size_t accesses = 0;
  for (const QioPortAccess& access : trace) {
    if (access.timeNs < startNs || access.timeNs > endNs) continue;
    std::uint64_t at = access.timeNs - startNs;
    if (!first && at < last + kAccessSpacingNs) at = last + kAccessSpacingNs;
    if (accesses == maxChanges) {
      offset.unknownFromNs = value.unknownFromNs = write.unknownFromNs = at;
      break;
    }
    ++accesses;
    first = false;
    last = at;
    offset.changes.push_back({at, access.offset});
    value.changes.push_back({at, access.value});
    if (access.isWrite) {
      write.changes.push_back({at, 1});
      write.changes.push_back({at + 1, 0});
    }
  }
  return {offset, value, write};
}

WaveRecording::WaveRecording(std::string path, QioSimBoard* board, std::string boardText, bool bits)
    : path_(std::move(path)), partPath_(path_ + ".part"), board_(board), boardText_(std::move(boardText)),
      bits_(bits) {
  {
    // Find out now, not after the run, whether the file can be written
    // (a folder takes the part file but not the rename over it).
    std::error_code ignored;
    if (std::filesystem::is_directory(path_, ignored)) {
      throw UsageError("--vcd: cannot write '" + path_ + "': it is a folder");
    }
    std::ofstream probe(partPath_, std::ios::binary | std::ios::trunc);
    if (!probe) throw UsageError("--vcd: cannot write '" + path_ + "'");
  }
  UseHistory(board_);
  // After the history began, so that the whole span is known; the trace from
  // then on, as many accesses as are written and one to tell that more came.
  startNs_ = platform::NowNs();
  TraceHub::Subscribe(board_, &trace_, kVcdMaxChanges + 1);
}

WaveRecording::~WaveRecording() {
  try {
    Finish();
  } catch (...) {
    // A destructor reports nothing more.
  }
}

bool WaveRecording::Finish() {
  if (finished_) return true;
  finished_ = true;
  const std::uint64_t endNs = platform::NowNs();
  TraceHub::Unsubscribe(board_, &trace_);

  VcdDocument document;
  document.date = LocalTime();
  document.version = std::string("qio5162 ") + QIO5162_VERSION;
  document.comments.push_back(boardText_ + "; pins computed from the board model's closed form, register accesses "
                              "from its trace (reg_write pulses 1 ns on each write)");
  document.comments.push_back("at most " + std::to_string(kVcdMaxChanges) +
                              " changes per signal; a signal reads x from the first change beyond");
  document.endNs = endNs - startNs_;
  document.splitVectors = bits_;
  std::vector<QioPinChange> buffer(kVcdMaxChanges);
  std::vector<std::string> problems;
  for (unsigned pin = 0; pin < QIO_SIM_PIN_COUNT; ++pin) {
    std::string problem;
    document.signals.push_back(PinSignal(board_, pin, startNs_, endNs, buffer, &problem));
    if (!problem.empty()) problems.push_back(problem);
  }
  ReleaseHistory(board_);
  for (VcdSignal& signal : RegisterSignals(trace_, startNs_, endNs, kVcdMaxChanges)) {
    if (signal.unknownFromNs) {
      problems.push_back(signal.name + " reached " + std::to_string(kVcdMaxChanges) + " accesses at " +
                         FormatSeconds(static_cast<double>(*signal.unknownFromNs) / 1e9) + "; it reads x from there");
    }
    document.signals.push_back(std::move(signal));
  }
  for (const std::string& problem : problems) document.comments.push_back(problem);

  const std::string text = WriteVcd(document);
  bool written = false;
  {
    std::ofstream file(partPath_, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    written = static_cast<bool>(file) && std::rename(partPath_.c_str(), path_.c_str()) == 0;
  }
  for (const std::string& problem : problems) std::cerr << "qio5162: --vcd " << path_ << ": " << problem << "\n";
  if (!written) {
    std::remove(partPath_.c_str());
    std::cerr << "qio5162: --vcd: cannot write '" << path_ << "'\n";
  }
  return written;
}

}  // namespace qio::tool
