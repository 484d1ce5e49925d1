// Request records as little-endian bytes, for the driver tests.
#pragma once

#include <cstdint>
#include <vector>

namespace qio::test {

// Little-endian request bytes from 32-bit and 16-bit fields.
class Bytes {
 public:
  Bytes& U32(std::uint32_t v) {
    for (int k = 0; k < 4; ++k) data_.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
    return *this;
  }
  Bytes& U16(std::uint16_t v) {
    data_.push_back(static_cast<std::uint8_t>(v));
    data_.push_back(static_cast<std::uint8_t>(v >> 8));
    return *this;
  }
  Bytes& U8(std::uint8_t v) {
    data_.push_back(v);
    return *this;
  }
  Bytes& Pad(std::size_t n) {
    data_.resize(data_.size() + n, 0);
    return *this;
  }
  const std::vector<std::uint8_t>& get() const { return data_; }

 private:
  std::vector<std::uint8_t> data_;
};

inline Bytes EventEnable(std::uint16_t enable, std::uint16_t source, std::uint16_t trigger) {
  return Bytes().U16(enable).U16(source).U16(trigger).Pad(10);
}

}  // namespace qio::test
