// dio and port: the 24 DIO lines as ports A, B, C, and raw register access.
#include <algorithm>

#include "Commands.h"
#include "ResultText.h"
#include "TraceView.h"
#include "Units.h"
#include "qio5162/Zqs5162.h"

namespace qio::tool {
namespace {

std::string PortName(unsigned port) {
  return port < 3 ? std::string(1, PortLetter(port)) : std::to_string(port);
}

// The three direction codes, or nothing when the call fails.
std::vector<std::uint16_t> Directions(std::uint32_t h) {
  std::uint16_t codes[3] = {};
  if (DioGetConfig(h, codes, 3) != 0) return {};
  return {codes[0], codes[1], codes[2]};
}

// Pins of a port as the board's connector shows them.
std::optional<std::uint8_t> Pins(Session& session, unsigned port) {
  std::uint8_t levels = 0;
  if (port > 2 || session.Board() == nullptr || qio_sim_get_pins(session.Board(), port, &levels) != QIO_TARGET_OK) {
    return std::nullopt;
  }
  return levels;
}

std::string DirectionNote(const std::vector<std::uint16_t>& codes, unsigned port) {
  if (port >= codes.size()) return {};
  return " (" + DirectionName(codes[port]) + ")";
}

}  // namespace

void RunDioRead(CommandContext& context, const DioOptions& options) {
  // The ports asked for, in order, each once: "A", "B C", "A:C"; none: all.
  std::vector<std::uint16_t> ports;
  auto add = [&ports](std::uint16_t port) {
    if (std::find(ports.begin(), ports.end(), port) == ports.end()) ports.push_back(port);
  };
  for (const std::string& word : options.ports) {
    const std::size_t colon = word.find(':');
    if (colon == std::string::npos) {
      add(ParsePort(word));
      continue;
    }
    const std::uint16_t first = ParsePort(word.substr(0, colon));
    const std::uint16_t last = ParsePort(word.substr(colon + 1));
    if (last < first) throw UsageError("ports '" + word + "': expected FIRST:LAST in order, e.g. A:C");
    for (std::uint16_t port = first; port <= last; ++port) add(port);
  }
  if (ports.empty()) ports = {0, 1, 2};
  // One read of the span that holds them all.
  const std::uint16_t low = *std::min_element(ports.begin(), ports.end());
  const std::uint16_t high = *std::max_element(ports.begin(), ports.end());
  std::uint8_t values[3] = {};
  Check(DioReadDiPorts(context.session.Handle(), low, static_cast<std::uint32_t>(high - low + 1), values),
        "DioReadDiPorts");
  const std::vector<std::uint16_t> codes = Directions(context.session.Handle());
  nlohmann::json records = nlohmann::json::array();
  for (const std::uint16_t port : ports) {
    const std::uint8_t value = values[port - low];
    nlohmann::json record{{"port", PortName(port)}, {"value", value}};
    if (port < codes.size()) record["direction"] = DirectionName(codes[port]);
    records.push_back(record);
    context.out.Line(Format("port %s: %s  %s%s", PortName(port).c_str(), Hex(value).c_str(), Bits(value).c_str(),
                            DirectionNote(codes, port).c_str()));
  }
  // One port keeps the record of a single read; several give a list.
  context.out.Data() = records.size() == 1 ? records[0] : nlohmann::json{{"ports", records}};
}

void RunDioWrite(CommandContext& context, const DioOptions& options) {
  const std::uint16_t port = ParsePort(options.port);
  const std::uint16_t value = static_cast<std::uint16_t>(ParseUnsigned(options.value, 0xFF, "value"));
  const std::uint16_t mask =
      options.mask.empty() ? std::uint16_t{0xFF} : static_cast<std::uint16_t>(ParseUnsigned(options.mask, 0xFF, "mask"));
  const std::uint32_t h = context.session.Handle();
  Check(DioWritePortByte(h, port, mask, value), "DioWritePortByte");
  std::uint8_t latch = 0;
  Check(DioGetCurrentDOByte(h, port, &latch), "DioGetCurrentDOByte");
  const std::vector<std::uint16_t> codes = Directions(h);
  const std::optional<std::uint8_t> pins = Pins(context.session, port);
  nlohmann::json& data = context.out.Data();
  data = {{"port", PortName(port)}, {"value", value}, {"mask", mask}, {"output", latch}};
  if (pins) data["pins"] = *pins;
  std::string line = Format("port %s <- %s (mask %s): output %s", PortName(port).c_str(), Hex(value).c_str(),
                            Hex(mask).c_str(), Hex(latch).c_str());
  if (pins) line += ", pins " + Hex(*pins);
  if (port < codes.size()) {
    data["direction"] = DirectionName(codes[port]);
    if (codes[port] == 0) line += "  (port " + PortName(port) + " is input: the output does not reach its pins)";
    if (codes[port] == 3 || codes[port] == 4) line += "  (" + DirectionName(codes[port]) + ": only the output half reaches the pins)";
  }
  context.out.Line(line);
}

void RunDioBit(CommandContext& context, const DioOptions& options) {
  // "dio bit B 1 [STATE]" names the line by port and bit; "dio bit B1
  // [STATE]" and "dio bit 9 [STATE]" by its name or channel.
  std::uint16_t port = 0;
  std::uint16_t bit = 0;
  std::string stateText;
  if (IsPortName(options.port) && !options.bit.empty()) {
    port = ParsePort(options.port);
    bit = ParseBit(options.bit);
    stateText = options.state;
  } else {
    if (IsPortName(options.port) && !(options.port[0] >= '0' && options.port[0] <= '9')) {
      throw UsageError("line '" + options.port + "': give the bit too, e.g. 'dio bit " + options.port + " 3' or 'dio bit " +
                       options.port + "3'");
    }
    const unsigned channel = ParseLine(options.port);
    port = static_cast<std::uint16_t>(channel / 8);
    bit = static_cast<std::uint16_t>(channel % 8);
    stateText = options.bit;
    if (!options.state.empty()) {
      throw UsageError("too many arguments after line " + LineName(channel) +
                       ": 'dio bit LINE [0|1]' or 'dio bit PORT BIT [0|1]'");
    }
  }
  const unsigned channel = port * 8u + bit;
  const std::uint32_t h = context.session.Handle();
  nlohmann::json& data = context.out.Data();
  if (stateText.empty()) {
    std::uint16_t value = 0;
    Check(DioReadBit(h, port, bit, &value), "DioReadBit");
    data = {{"port", PortName(port)}, {"bit", bit}, {"line", LineName(channel)}, {"channel", channel},
            {"value", value}};
    context.out.Line(Format("port %s bit %u (line %s, channel %u): %u", PortName(port).c_str(), bit,
                            LineName(channel).c_str(), channel, value));
    return;
  }
  const std::uint16_t state = static_cast<std::uint16_t>(ParseUnsigned(stateText, 1, "bit state"));
  Check(DioWriteBit(h, port, bit, state), "DioWriteBit");
  std::uint8_t latch = 0;
  Check(DioGetCurrentDOByte(h, port, &latch), "DioGetCurrentDOByte");
  data = {{"port", PortName(port)}, {"bit", bit}, {"line", LineName(channel)}, {"channel", channel},
          {"state", state}, {"output", latch}};
  context.out.Line(Format("port %s bit %u (line %s, channel %u) <- %u: output %s", PortName(port).c_str(), bit,
                          LineName(channel).c_str(), channel, state, Hex(latch).c_str()));
}

void RunDioMode(CommandContext& context, const DioOptions& options) {
  const std::uint16_t port = ParsePort(options.port);
  const std::uint16_t code = ParseDirection(options.direction);
  const std::uint32_t h = context.session.Handle();
  Check(DioSetPortMode(h, port, code), "DioSetPortMode");
  const std::vector<std::uint16_t> codes = Directions(h);
  context.out.Data() = {{"port", PortName(port)}, {"direction", DirectionName(code)}, {"code", code}};
  std::string line = Format("port %s set to %s", PortName(port).c_str(), DirectionName(code).c_str());
  if (codes.size() == 3) {
    line += Format("; now A %s, B %s, C %s", DirectionName(codes[0]).c_str(), DirectionName(codes[1]).c_str(),
                   DirectionName(codes[2]).c_str());
  }
  context.out.Line(line);
  if (!context.persistent) {
    // The next open programs the directions from the registry again.
    context.out.Line("note: the direction lasts until this command closes the device; the next command starts from "
                     "the registry's directions; use 'qio5162 shell' or 'run' to keep it");
  }
}

void RunDioConfig(CommandContext& context) {
  const std::uint32_t h = context.session.Handle();
  std::uint16_t codes[3] = {};
  Check(DioGetConfig(h, codes, 3), "DioGetConfig");
  std::uint32_t masks[3] = {};
  std::uint32_t length = sizeof masks;
  Check(DeviceGetProperty(h, ZQS_PROPERTY_DIO_OUTPUT_MASKS, masks, &length), "DeviceGetProperty");
  std::uint16_t control = 0;
  const std::uint32_t controlResult =
      ReadPortByte(h, static_cast<std::uint16_t>(context.session.BaseAddress() + reg::kDirection), &control);
  nlohmann::json ports = nlohmann::json::array();
  for (unsigned p = 0; p < 3; ++p) {
    ports.push_back({{"port", PortName(p)}, {"direction", DirectionName(codes[p])}, {"code", codes[p]},
                     {"outputMask", masks[p]}});
    context.out.Line(Format("port %c: %-6s (code %u, output mask %s)", PortLetter(p), DirectionName(codes[p]).c_str(),
                            codes[p], Hex(masks[p]).c_str()));
  }
  context.out.Data()["ports"] = ports;
  if (controlResult == 0) {
    context.out.Data()["directionRegister"] = control;
    context.out.Line(Format("direction register (base + 0x2C): %s (bits set are inputs: 4 A, 1 B, 0 C0-3, 3 C4-7)",
                            Hex(control).c_str()));
  }
}

void RunPortRead(CommandContext& context, const PortOptions& options) {
  const std::uint16_t address = ParseU16(options.address, "address");
  const std::uint32_t h = context.session.Handle();
  std::uint32_t value = 0;
  if (options.width == 8 || options.width == 16) {
    std::uint16_t v = 0;
    Check(options.width == 8 ? ReadPortByte(h, address, &v) : ReadPortWord(h, address, &v),
          options.width == 8 ? "ReadPortByte" : "ReadPortWord");
    value = v;
  } else {
    Check(ReadPortDword(h, address, &value), "ReadPortDword");
  }
  const int digits = static_cast<int>(options.width / 4);
  context.out.Data() = {{"address", address}, {"width", options.width}, {"value", value}};
  context.out.Line(Format("%s (base + 0x%02X): %s", Hex(address, 3).c_str(),
                          static_cast<unsigned>(address - context.session.BaseAddress()) & 0xFFFFu,
                          Hex(value, digits).c_str()));
}

void RunPortWrite(CommandContext& context, const PortOptions& options) {
  const std::uint16_t address = ParseU16(options.address, "address");
  const std::uint64_t max = options.width == 8 ? 0xFF : options.width == 16 ? 0xFFFF : 0xFFFFFFFFu;
  const std::uint32_t value = static_cast<std::uint32_t>(ParseUnsigned(options.value, max, "value"));
  const std::uint32_t h = context.session.Handle();
  if (options.width == 8) {
    Check(WritePortByte(h, address, static_cast<std::uint8_t>(value)), "WritePortByte");
  } else if (options.width == 16) {
    Check(WritePortWord(h, address, static_cast<std::uint16_t>(value)), "WritePortWord");
  } else {
    Check(WritePortDword(h, address, value), "WritePortDword");
  }
  const int digits = static_cast<int>(options.width / 4);
  context.out.Data() = {{"address", address}, {"width", options.width}, {"value", value}};
  context.out.Line(Format("%s (base + 0x%02X) <- %s", Hex(address, 3).c_str(),
                          static_cast<unsigned>(address - context.session.BaseAddress()) & 0xFFFFu,
                          Hex(value, digits).c_str()));
}

}  // namespace qio::tool
