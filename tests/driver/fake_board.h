// A minimal register-level stand-in for the board, for the unit tests that
// link the driver library directly: every access is recorded, reads return
// values the test sets, and the direction register reads back as written.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "qio/platform/port_io.h"
#include "qio/protocol/board_registers.h"

namespace qio::test {

struct PortAccess {
  std::uint16_t offset;
  unsigned width;
  bool isWrite;
  std::uint32_t value;
  bool operator==(const PortAccess&) const = default;
};

class FakeBoard : public platform::PortDevice {
 public:
  static constexpr std::uint16_t kWindow = board::kWindowLength;

  explicit FakeBoard(std::uint16_t base) : base_(base) { mapped_ = platform::MapPorts(base_, kWindow, this); }
  ~FakeBoard() override {
    if (mapped_) platform::UnmapPorts(base_);
  }
  FakeBoard(const FakeBoard&) = delete;
  FakeBoard& operator=(const FakeBoard&) = delete;

  bool mapped() const { return mapped_; }

  // The value a read of `offset` returns (little-endian over the window).
  void SetRead(std::uint16_t offset, std::uint32_t value, unsigned width) {
    std::scoped_lock lock(mutex_);
    for (unsigned k = 0; k < width; ++k) bytes_[offset + k] = static_cast<std::uint8_t>(value >> (8 * k));
  }

  std::vector<PortAccess> Accesses() {
    std::scoped_lock lock(mutex_);
    return accesses_;
  }
  std::vector<PortAccess> Writes() {
    std::vector<PortAccess> writes;
    for (const PortAccess& a : Accesses()) {
      if (a.isWrite) writes.push_back(a);
    }
    return writes;
  }
  void ClearAccesses() {
    std::scoped_lock lock(mutex_);
    accesses_.clear();
  }

  std::uint32_t PortRead(std::uint16_t offset, unsigned width) override {
    std::scoped_lock lock(mutex_);
    std::uint32_t value = 0;
    for (unsigned k = 0; k < width; ++k) value |= std::uint32_t{bytes_[offset + k]} << (8 * k);
    accesses_.push_back({offset, width, false, value});
    return value;
  }
  void PortWrite(std::uint16_t offset, unsigned width, std::uint32_t value) override {
    std::scoped_lock lock(mutex_);
    accesses_.push_back({offset, width, true, value});
    // The direction register reads back as written; other registers keep
    // what the test set for reads.
    if (offset == kDirection) bytes_[kDirection] = static_cast<std::uint8_t>(value);
  }

 private:
  static constexpr std::uint16_t kDirection = board::offset::kDirectionControl;
  std::uint16_t base_;
  bool mapped_ = false;
  std::mutex mutex_;
  std::array<std::uint8_t, kWindow + 4> bytes_{};
  std::vector<PortAccess> accesses_;
};

}  // namespace qio::test
