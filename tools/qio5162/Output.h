// What a command prints: readable lines on stdout, or with --json one JSON
// document per command. Commands always fill the JSON record; the text lines
// are printed only without --json. Progress lines go to a terminal only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

namespace qio::tool {

class Output {
 public:
  explicit Output(bool json, std::FILE* stream = stdout);

  bool Json() const { return json_; }
  // One line of text (without --json).
  void Line(const std::string& text);
  // A line that replaces itself on a terminal ("\r"); on a pipe every call
  // prints its own line when `alsoOnPipe`, else nothing.
  void InPlace(const std::string& text, bool alsoOnPipe);
  // Ends an in-place line, keeping it.
  void EndInPlace();
  // Removes an in-place line (a finished progress indication).
  void ClearInPlace();
  // Progress of a slow step: on a terminal an in-place line, else nothing.
  void Progress(const std::string& text);
  // The command's record.
  nlohmann::json& Data() { return data_; }
  // Prints the record (with --json) and clears it.
  void Finish();

 private:
  bool json_;
  bool tty_;
  bool inPlaceOpen_ = false;
  std::FILE* stream_;
  nlohmann::json data_ = nlohmann::json::object();
};

// Number formatting shared by the commands.
std::string Hex(std::uint32_t value, int digits = 2);  // "0x0F"
std::string Bits(std::uint8_t value);                  // "0000 1111"
std::string FormatHz(double hz);                       // "1.000 MHz", "250.0 kHz", "100.0 Hz"
std::string FormatSeconds(double seconds);             // "10.00 ms", "2.500 us", "1.300 s"
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace qio::tool
