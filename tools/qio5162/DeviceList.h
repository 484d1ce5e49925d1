// The shared device list in the target's registry: every board of the board
// family under "SYSTEM\CurrentControlSet\Services\ZQSDAQ\DeviceNNN", with the
// settings the driver recorded under its own service key.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qio::tool {

struct BoardEntry {
  unsigned number = 0;
  std::string name;        // "DeviceName"
  std::string driverName;  // "DriverName", the library serving the board
  std::uint32_t boardId = 0;
  // From the driver's per-device key (absent for other kinds of board).
  std::string callName;    // stream device
  std::optional<std::uint32_t> baseAddress;
  std::optional<std::uint32_t> ioPortCount;
  std::optional<std::uint32_t> irq;
  std::vector<std::uint8_t> digPortCfg;
};

// Reads the list from the booted target's registry, by device number.
std::vector<BoardEntry> ReadDeviceList();

}  // namespace qio::tool
