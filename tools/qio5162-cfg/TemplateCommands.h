// The template commands of qio5162-cfg. Each loads the table from the script,
// applies one change with the rules of the settings window, and saves.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace qio::tools {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct CommandContext {
  std::string scriptPath;
  std::ostream& out;
  std::ostream& err;
};

struct SetRequest {
  int slot = 0;
  std::optional<std::uint32_t> base;
  std::optional<std::uint32_t> irq;
  std::optional<std::uint8_t> portA;
  std::optional<std::uint8_t> portB;
  std::optional<std::uint8_t> portC;
};

int RunList(const CommandContext& context, bool json);
int RunAdd(const CommandContext& context);
int RunRemove(const CommandContext& context, int slot);
int RunSet(const CommandContext& context, const SetRequest& request);

// Names of directions on the command line: port A and B "in"/"out"; port C
// "in", "out", "in/out" (lines 0-3 in, 4-7 out), "out/in".
std::optional<std::uint8_t> PortDirectionFromName(std::string_view name);
std::optional<std::uint8_t> PortCCodeFromName(std::string_view name);
std::string PortDirectionName(std::uint8_t value);
std::string PortCName(std::uint8_t code);

// "0x300" or "768".
std::optional<std::uint32_t> ParseNumber(std::string_view text);

}  // namespace qio::tools
