// The library's result codes in words, and the error the commands raise when
// a call fails (exit code 1).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

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
  // The code with what it means for this call, where the general meaning
  // would mislead ("port, port range or counter out of range" for a pulse
  // count on counter 0).
  DeviceError(std::string call, std::uint32_t code, std::string meaning);
  // A failure of the hosted target itself (no library code).
  explicit DeviceError(std::string message);

  const std::string& Call() const { return call_; }
  std::uint32_t Code() const { return code_; }
  bool HasCode() const { return hasCode_; }
  const std::string& Meaning() const { return meaning_; }
  // Lines that tell why or what to do, printed after the message.
  const std::vector<std::string>& Hints() const { return hints_; }
  DeviceError& Hint(std::string line) {
    hints_.push_back(std::move(line));
    return *this;
  }

 private:
  std::string call_;
  std::uint32_t code_ = 0;
  bool hasCode_ = false;
  std::string meaning_;
  std::vector<std::string> hints_;
};

// Throws DeviceError unless code is 0.
void Check(std::uint32_t code, const char* call);

}  // namespace qio::tool
