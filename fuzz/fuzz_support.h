// What the fuzz targets share: reading the fuzzer's bytes as a sequence of
// choices, buffers that show any byte written beyond their length, and the
// oracle's verdict (a message and an abort, which libFuzzer records as a
// crash with its input).
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace qio::fuzz {

// The fuzzer's bytes, consumed front to back; zeros once they run out.
class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Empty() const { return position_ >= size_; }
  std::uint8_t Byte() { return Empty() ? 0 : data_[position_++]; }
  bool Bool() { return (Byte() & 1) != 0; }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
  std::uint32_t U32() { return U16() | static_cast<std::uint32_t>(U16()) << 16; }
  float Float() {
    const std::uint32_t bits = U32();
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  // A number below n (n > 0).
  std::uint32_t Below(std::uint32_t n) { return n <= 256 ? Byte() % n : U32() % n; }
  std::uint16_t Below16(std::uint32_t n) { return static_cast<std::uint16_t>(Below(n)); }
  template <class T, std::size_t N>
  T Pick(const T (&choices)[N]) {
    return choices[Below(static_cast<std::uint32_t>(N))];
  }
  void Fill(std::uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = Byte();
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

// The oracle found a fault: say what, and end the run so that the fuzzer
// keeps the input.
[[noreturn]] inline void OracleFailure(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::fputs("\n*** ORACLE FAILURE: ", stderr);
  std::vfprintf(stderr, format, arguments);
  std::fputs("\n", stderr);
  va_end(arguments);
  std::abort();
}

#define QIO_FUZZ_CHECK(condition, ...)              \
  do {                                              \
    if (!(condition)) ::qio::fuzz::OracleFailure(__VA_ARGS__); \
  } while (0)

// An input buffer of exactly `length` bytes on the heap (the address
// sanitizer sees any read beyond it), with a copy to show it was not written.
class ExactInput {
 public:
  ExactInput(FuzzInput& input, std::size_t length, bool present)
      : length_(length), bytes_(present ? new std::uint8_t[length] : nullptr) {
    if (present) {
      input.Fill(bytes_.get(), length);
      copy_.assign(bytes_.get(), bytes_.get() + length);
    }
  }
  std::uint8_t* data() const { return bytes_.get(); }
  std::uint32_t length() const { return static_cast<std::uint32_t>(length_); }
  bool Unchanged() const { return !bytes_ || length_ == 0 || std::memcmp(bytes_.get(), copy_.data(), length_) == 0; }

 private:
  std::size_t length_;
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::vector<std::uint8_t> copy_;
};

// An output buffer of `length` bytes followed by guard bytes, every byte
// preset: a write beyond `length` shows in the guard, and any write at all
// shows in the data.
class GuardedOutput {
 public:
  static constexpr std::size_t kGuard = 32;
  static constexpr std::uint8_t kDataFill = 0x5A;
  static constexpr std::uint8_t kGuardFill = 0xA5;

  GuardedOutput(std::size_t length, bool present) : length_(length), present_(present), bytes_(length + kGuard) {
    std::memset(bytes_.data(), kDataFill, length);
    std::memset(bytes_.data() + length, kGuardFill, kGuard);
  }
  std::uint8_t* data() { return present_ ? bytes_.data() : nullptr; }
  std::uint32_t length() const { return static_cast<std::uint32_t>(length_); }
  bool GuardIntact() const {
    for (std::size_t i = length_; i < bytes_.size(); ++i) {
      if (bytes_[i] != kGuardFill) return false;
    }
    return true;
  }
  bool DataUntouched() const {
    for (std::size_t i = 0; i < length_; ++i) {
      if (bytes_[i] != kDataFill) return false;
    }
    return true;
  }
  const std::uint8_t* bytes() const { return bytes_.data(); }

 private:
  std::size_t length_;
  bool present_;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace qio::fuzz
