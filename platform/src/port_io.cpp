// The port-I/O bus: a small array of mapped ranges sorted by base, under a
// reader/writer lock. Every access holds the lock shared for the whole access,
// handler call included, so UnmapPorts (which takes it exclusively) returns
// only when no handler of any device is running. The lock prefers writers:
// threads that poll the bus without pause cannot keep a mapping change out.
// Consequently a device handler must not map or unmap ports, nor start a bus
// access of its own, and UnmapPorts must not be called while holding a lock
// that a handler takes.
//
// An access that lies wholly inside one range goes to that device in one
// call. Any other access (across a range end, or partly or wholly unmapped) is
// split into byte accesses, assembled little-endian; unmapped bytes read 0xFF
// and swallow writes. Port numbers are 16-bit: the bytes of a wide access at
// the top of the space wrap to port 0, as the bus decodes only 16 bits.

#include "qio/platform/port_io.h"

#include <pthread.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "qio/platform/errors.h"

namespace qio::platform {
namespace {

constexpr std::uint32_t kPortSpace = 0x10000;

struct Range {
  std::uint32_t base;
  std::uint32_t end;  // one past the last port
  PortDevice* device;
};

class WriterPreferringLock {
 public:
  WriterPreferringLock() {
    pthread_rwlockattr_t attr;
    pthread_rwlockattr_init(&attr);
    pthread_rwlockattr_setkind_np(&attr, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
    pthread_rwlock_init(&lock_, &attr);
    pthread_rwlockattr_destroy(&attr);
  }
  WriterPreferringLock(const WriterPreferringLock&) = delete;
  WriterPreferringLock& operator=(const WriterPreferringLock&) = delete;

  void lock() { pthread_rwlock_wrlock(&lock_); }
  void unlock() { pthread_rwlock_unlock(&lock_); }
  void lock_shared() { pthread_rwlock_rdlock(&lock_); }
  void unlock_shared() { pthread_rwlock_unlock(&lock_); }

 private:
  pthread_rwlock_t lock_;
};

class PortBus {
 public:
  bool Map(std::uint32_t base, std::uint32_t length, PortDevice* device) {
    std::scoped_lock lock(lock_);
    const std::uint32_t end = base + length;
    auto next = std::upper_bound(ranges_.begin(), ranges_.end(), base,
                                 [](std::uint32_t b, const Range& r) { return b < r.base; });
    if (next != ranges_.end() && next->base < end) return false;
    if (next != ranges_.begin() && std::prev(next)->end > base) return false;
    ranges_.insert(next, Range{base, end, device});
    return true;
  }

  bool Unmap(std::uint32_t base) {
    std::scoped_lock lock(lock_);
    auto it = std::find_if(ranges_.begin(), ranges_.end(), [base](const Range& r) { return r.base == base; });
    if (it == ranges_.end()) return false;
    ranges_.erase(it);
    return true;
  }

  void UnmapAll() {
    std::scoped_lock lock(lock_);
    ranges_.clear();
  }

  std::uint32_t Read(std::uint16_t port, unsigned width) {
    SharedHold hold(lock_);
    if (const Range* r = FindLocked(port); r != nullptr && port + width <= r->end) {
      return r->device->PortRead(static_cast<std::uint16_t>(port - r->base), width);
    }
    std::uint32_t value = 0;
    for (unsigned i = 0; i < width; ++i) {
      const auto bytePort = static_cast<std::uint16_t>(port + i);
      std::uint32_t byte = 0xFF;
      if (const Range* r = FindLocked(bytePort)) {
        byte = r->device->PortRead(static_cast<std::uint16_t>(bytePort - r->base), 1) & 0xFFu;
      }
      value |= byte << (8 * i);
    }
    return value;
  }

  void Write(std::uint16_t port, unsigned width, std::uint32_t value) {
    SharedHold hold(lock_);
    if (const Range* r = FindLocked(port); r != nullptr && port + width <= r->end) {
      r->device->PortWrite(static_cast<std::uint16_t>(port - r->base), width, value);
      return;
    }
    for (unsigned i = 0; i < width; ++i) {
      const auto bytePort = static_cast<std::uint16_t>(port + i);
      if (const Range* r = FindLocked(bytePort)) {
        r->device->PortWrite(static_cast<std::uint16_t>(bytePort - r->base), 1, (value >> (8 * i)) & 0xFFu);
      }
    }
  }

 private:
  class SharedHold {
   public:
    explicit SharedHold(WriterPreferringLock& lock) : lock_(lock) { lock_.lock_shared(); }
    ~SharedHold() { lock_.unlock_shared(); }
    SharedHold(const SharedHold&) = delete;
    SharedHold& operator=(const SharedHold&) = delete;

   private:
    WriterPreferringLock& lock_;
  };

  const Range* FindLocked(std::uint32_t port) const {
    // Few ranges are ever mapped: the last range whose base is not above port.
    auto next = std::upper_bound(ranges_.begin(), ranges_.end(), port,
                                 [](std::uint32_t p, const Range& r) { return p < r.base; });
    if (next == ranges_.begin()) return nullptr;
    const Range& candidate = *std::prev(next);
    return port < candidate.end ? &candidate : nullptr;
  }

  WriterPreferringLock lock_;
  std::vector<Range> ranges_;
};

PortBus& Bus() {
  static PortBus* bus = new PortBus;  // never destroyed: device threads may outlive main()
  return *bus;
}

}  // namespace

bool MapPorts(std::uint16_t base, std::uint32_t length, PortDevice* device) {
  if (device == nullptr || length == 0 || length > kPortSpace - base) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  if (!Bus().Map(base, length, device)) {
    SetLastError(kErrorBusy);
    return false;
  }
  return true;
}

bool UnmapPorts(std::uint16_t base) {
  if (!Bus().Unmap(base)) {
    SetLastError(kErrorNotFound);
    return false;
  }
  return true;
}

void UnmapAllPorts() { Bus().UnmapAll(); }

std::uint8_t PortInByte(std::uint16_t port) { return static_cast<std::uint8_t>(Bus().Read(port, 1)); }

std::uint16_t PortInWord(std::uint16_t port) { return static_cast<std::uint16_t>(Bus().Read(port, 2)); }

std::uint32_t PortInDword(std::uint16_t port) { return Bus().Read(port, 4); }

void PortOutByte(std::uint16_t port, std::uint8_t value) { Bus().Write(port, 1, value); }

void PortOutWord(std::uint16_t port, std::uint16_t value) { Bus().Write(port, 2, value); }

void PortOutDword(std::uint16_t port, std::uint32_t value) { Bus().Write(port, 4, value); }

}  // namespace qio::platform
