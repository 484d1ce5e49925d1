#include "Output.h"

#include <unistd.h>

#include <cmath>
#include <cstdarg>

namespace qio::tool {

Output::Output(bool json, std::FILE* stream)
    : json_(json), tty_(isatty(fileno(stream)) != 0), stream_(stream) {}

void Output::Line(const std::string& text) {
  if (json_) return;
  EndInPlace();
  std::fprintf(stream_, "%s\n", text.c_str());
  std::fflush(stream_);
}

void Output::InPlace(const std::string& text, bool alsoOnPipe) {
  if (json_) return;
  if (tty_) {
    std::fprintf(stream_, "\r\033[K%s", text.c_str());
    inPlaceOpen_ = true;
  } else if (alsoOnPipe) {
    std::fprintf(stream_, "%s\n", text.c_str());
  }
  std::fflush(stream_);
}

void Output::EndInPlace() {
  if (inPlaceOpen_) {
    std::fprintf(stream_, "\n");
    inPlaceOpen_ = false;
  }
}

void Output::ClearInPlace() {
  if (inPlaceOpen_) {
    std::fprintf(stream_, "\r\033[K");
    std::fflush(stream_);
    inPlaceOpen_ = false;
  }
}

void Output::Progress(const std::string& text) { InPlace(text, false); }

void Output::Finish() {
  if (json_) {
    // Names typed in another encoding (a Latin-1 file name) keep the
    // document valid: their bytes become U+FFFD.
    std::fprintf(stream_, "%s\n", data_.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  } else {
    EndInPlace();
  }
  std::fflush(stream_);
  data_ = nlohmann::json::object();
}

std::string Hex(std::uint32_t value, int digits) { return Format("0x%0*X", digits, static_cast<unsigned>(value)); }

std::string Bits(std::uint8_t value) {
  std::string out;
  for (int bit = 7; bit >= 0; --bit) {
    out += ((value >> bit) & 1) ? '1' : '0';
    if (bit == 4) out += ' ';
  }
  return out;
}

std::string FormatHz(double hz) {
  const double a = std::fabs(hz);
  if (a >= 1e6) return Format("%.6g MHz", hz / 1e6);
  if (a >= 1e3) return Format("%.6g kHz", hz / 1e3);
  return Format("%.6g Hz", hz);
}

std::string FormatSeconds(double seconds) {
  const double a = std::fabs(seconds);
  if (a >= 1 || a == 0) return Format("%.4g s", seconds);
  if (a >= 1e-3) return Format("%.4g ms", seconds * 1e3);
  return Format("%.4g us", seconds * 1e6);
}

std::string Format(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

}  // namespace qio::tool
