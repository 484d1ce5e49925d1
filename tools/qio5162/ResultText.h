// The library's result codes in words, and the error the commands raise when
// a call fails (exit code 1).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qio::tool {

// "counter busy", "invalid argument", ... for any result code.
std::string ResultMeaning(std::uint32_t code);
// "0x1032: counter busy"; plain codes as "0x00A: port address outside ..."
// keep their own number: "10 (0xA): ...".
std::string DescribeResult(std::uint32_t code);
// "0x1032" (device codes) or "10" (plain codes).
std::string ResultCodeText(std::uint32_t code);

// A library call that did not return 0, or a target that would not boot.
class DeviceError : public std::runtime_error {
 public:
  DeviceError(std::string call, std::uint32_t code);
  // A failure of the hosted target itself (no library code).
  explicit DeviceError(std::string message);

  const std::string& Call() const { return call_; }
  std::uint32_t Code() const { return code_; }
  bool HasCode() const { return hasCode_; }

 private:
  std::string call_;
  std::uint32_t code_ = 0;
  bool hasCode_ = false;
};

// Throws DeviceError unless code is 0.
void Check(std::uint32_t code, const char* call);

}  // namespace qio::tool
