// The report of `qio5162 status`: the driver's state of a device as readable
// lines and as one JSON record (its shape is documented in the README).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "qio5162/target.h"

namespace qio::tool {

struct StatusReport {
  std::vector<std::string> lines;
  nlohmann::json data;
};

// `pins`: what the simulated board's connector shows on ports A, B, C, when
// the device has a simulated board.
StatusReport DescribeStatus(const QioDriverState& state, unsigned device,
                            const std::optional<std::array<std::uint8_t, 3>>& pins);

// One counter's line without "counter N: " ("event counting, rising edges on
// CLK1; tally 2 (x 65536 edges)"), and its JSON record.
std::string CounterText(const QioDriverState& state, unsigned counter);
nlohmann::json CounterJson(const QioDriverState& state, unsigned counter);

}  // namespace qio::tool
