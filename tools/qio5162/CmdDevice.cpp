// list and info: the boards the target knows, and what one of them reports
// about itself (features record and properties).
#include <cstring>
#include <iostream>

#include "App.h"
#include "Commands.h"
#include "DeviceList.h"
#include "ResultText.h"
#include "Units.h"
#include "qio5162/Zqs5162.h"

namespace qio::tool {
namespace {

std::string PortDirections(const std::vector<std::uint8_t>& codes) {
  std::string text;
  for (std::size_t i = 0; i < codes.size() && i < 3; ++i) {
    if (!text.empty()) text += ' ';
    text += std::string(1, PortLetter(static_cast<unsigned>(i))) + "=" + DirectionName(codes[i]);
  }
  return text;
}

// UTF-16LE text of at most `units` code units from the features record.
std::string Utf16Field(const std::uint8_t* data, std::size_t units) {
  std::string text;
  for (std::size_t i = 0; i < units; ++i) {
    const unsigned unit = data[2 * i] | (data[2 * i + 1] << 8);
    if (unit == 0) break;
    text += unit < 0x80 ? static_cast<char>(unit) : '?';
  }
  return text;
}

unsigned U16At(const std::uint8_t* data, std::size_t offset) { return data[offset] | (data[offset + 1] << 8); }
std::uint32_t U32At(const std::uint8_t* data, std::size_t offset) {
  return data[offset] | (data[offset + 1] << 8) | (data[offset + 2] << 16) | (static_cast<std::uint32_t>(data[offset + 3]) << 24);
}

enum class Shape { U32, U32Hex, U32List, Bytes, U16List, Floats, Masks };

struct PropertyRow {
  std::uint16_t id;
  const char* name;  // null: a reserved constant of the board family
  Shape shape;
};

// The properties the board has, in identifier order. The reserved ones hold
// constants that nothing in this system gives a meaning; they are shown as
// returned.
constexpr PropertyRow kProperties[] = {
    {0x0000, "device number", Shape::U32},
    {0x0001, "board id", Shape::U32},
    {0x0003, "base address", Shape::U32Hex},
    {0x0004, "IRQ", Shape::U32},
    {0x3004, "DIO output masks", Shape::Masks},
    {0x3005, "DIO port groups", Shape::Bytes},
    {0x3006, "DIO output masks (second set)", Shape::Masks},
    {0x3C82, nullptr, Shape::U32},
    {0x3C83, "DI channels", Shape::U32},
    {0x3C84, "DI ports", Shape::U32},
    {0x3C85, nullptr, Shape::Bytes},
    {0x3C86, nullptr, Shape::Bytes},
    {0x3C87, nullptr, Shape::Bytes},
    {0x3C8C, nullptr, Shape::Bytes},
    {0x4806, nullptr, Shape::U32},
    {0x4807, "DO channels", Shape::U32},
    {0x4808, "DO ports", Shape::U32},
    {0x5001, nullptr, Shape::U32List},
    {0x5002, nullptr, Shape::U32},
    {0x5003, nullptr, Shape::U32},
    {0x5004, nullptr, Shape::U32Hex},
    {0x5005, nullptr, Shape::U32},
    {0x5006, "counter event types", Shape::U16List},
    {0x5008, "PWM limits (s)", Shape::Floats},
    {0x5009, nullptr, Shape::U32},
    {0x5010, nullptr, Shape::U32List},
    {0x5011, nullptr, Shape::U32List},
};

constexpr const char* kReservedName = "reserved (a constant of the board family)";

void DescribeProperty(const PropertyRow& row, const std::vector<std::uint8_t>& data, std::string& text,
                      nlohmann::json& value) {
  const std::uint8_t* d = data.data();
  switch (row.shape) {
    case Shape::U32:
    case Shape::U32Hex: {
      const std::uint32_t v = data.size() >= 4 ? U32At(d, 0) : 0;
      text = row.shape == Shape::U32 ? std::to_string(v) : Hex(v, 3);
      value = v;
      break;
    }
    case Shape::U32List:
    case Shape::Masks: {
      value = nlohmann::json::array();
      for (std::size_t at = 0; at + 4 <= data.size(); at += 4) {
        const std::uint32_t v = U32At(d, at);
        if (!text.empty()) text += ", ";
        if (row.shape == Shape::Masks) text += std::string(1, PortLetter(static_cast<unsigned>(at / 4))) + " ";
        text += row.shape == Shape::Masks ? Hex(v, 2) : Hex(v, 2);
        value.push_back(v);
      }
      break;
    }
    case Shape::U16List: {
      value = nlohmann::json::array();
      for (std::size_t at = 0; at + 2 <= data.size(); at += 2) {
        if (!text.empty()) text += ", ";
        text += Hex(U16At(d, at), 4);
        value.push_back(U16At(d, at));
      }
      break;
    }
    case Shape::Bytes: {
      value = nlohmann::json::array();
      for (std::uint8_t byte : data) {
        if (!text.empty()) text += ' ';
        text += Hex(byte, 2);
        value.push_back(byte);
      }
      break;
    }
    case Shape::Floats: {
      value = nlohmann::json::array();
      for (std::size_t at = 0; at + 4 <= data.size(); at += 4) {
        float f = 0;
        std::memcpy(&f, d + at, sizeof f);
        value.push_back(f);
      }
      if (data.size() >= 16) {
        text = Format("period > %g and <= %g, high time >= %g and < %g", value[0].get<double>(),
                      value[1].get<double>(), value[2].get<double>(), value[3].get<double>());
      }
      break;
    }
  }
}

}  // namespace

void RunList(CommandContext& context) {
  const std::vector<BoardEntry> boards = ReadDeviceList();
  nlohmann::json list = nlohmann::json::array();
  context.out.Line("dev  name                          stream   base    IRQ  DIO ports");
  for (const BoardEntry& board : boards) {
    nlohmann::json entry{{"number", board.number},     {"name", board.name},   {"driver", board.driverName},
                         {"boardId", board.boardId},   {"stream", board.callName}};
    if (board.baseAddress) entry["base"] = *board.baseAddress;
    if (board.ioPortCount) entry["ioPortCount"] = *board.ioPortCount;
    if (board.irq) entry["irq"] = *board.irq;
    nlohmann::json ports = nlohmann::json::array();
    for (std::size_t i = 0; i < board.digPortCfg.size() && i < 3; ++i) ports.push_back(DirectionName(board.digPortCfg[i]));
    entry["ports"] = ports;
    list.push_back(entry);
    context.out.Line(Format("%3u  %-28s  %-7s  %-6s  %-3s  %s", board.number, board.name.c_str(),
                            board.callName.empty() ? "-" : board.callName.c_str(),
                            board.baseAddress ? Hex(*board.baseAddress, 3).c_str() : "-",
                            board.irq ? std::to_string(*board.irq).c_str() : "-",
                            PortDirections(board.digPortCfg).c_str()));
  }
  if (boards.empty()) context.out.Line("(no boards in the device list)");
  context.out.Data()["devices"] = list;
  // A board configured in the registry that did not load would otherwise be
  // missing without a word: say why, from the boot report, and fail.
  const std::vector<std::string> problems = context.session.BootProblems();
  if (problems.empty()) return;
  context.out.Data()["bootProblems"] = problems;
  std::cerr << "qio5162: not every board configured in "
            << (context.session.RegistryFile().empty() ? std::string("the registry")
                                                       : "'" + context.session.RegistryFile() + "'")
            << " loaded; the boot report says:\n";
  for (const std::string& line : problems) std::cerr << "  " << line << "\n";
  std::cerr << "a board key needs the dwords \"IoBase\", \"IoLen\", \"Irq\", \"DeviceIndex\", \"TimerClock\" and the "
               "binary \"DigPortCfg\"; 'qio5162-boot --bare FILE' shows the whole boot report\n";
  context.status = kExitDevice;
}

void RunInfo(CommandContext& context) {
  Session& session = context.session;
  const std::uint32_t h = session.Handle();
  nlohmann::json& data = context.out.Data();
  data["device"] = session.DeviceNumber();
  for (const BoardEntry& board : ReadDeviceList()) {
    if (board.number == session.DeviceNumber()) {
      data["name"] = board.name;
      data["stream"] = board.callName;
      context.out.Line(Format("device %u: %s, stream %s, base %s, IRQ %u", board.number, board.name.c_str(),
                              board.callName.c_str(), Hex(session.BaseAddress(), 3).c_str(), session.Irq()));
    }
  }
  std::uint8_t features[ZQS_FEATURES_SIZE] = {};
  Check(DeviceGetFeatures(h, features, sizeof features), "DeviceGetFeatures");
  const std::string version = Utf16Field(features, 8);
  const std::string file = Utf16Field(features + 16, 16);
  const std::uint32_t boardId = U32At(features, 48);
  const unsigned doChannels = U16At(features, 58);
  const unsigned diChannels = U16At(features, 60);
  data["features"] = {{"version", version},
                      {"library", file},
                      {"boardId", boardId},
                      {"doChannels", doChannels},
                      {"diChannels", diChannels},
                      {"field62", U16At(features, 62)},
                      {"field64", U16At(features, 64)},
                      {"field92", U32At(features, 92)}};
  context.out.Line(Format("features: library \"%s\" (%s), board id %u, %u DI / %u DO channels (%u / %u ports)",
                          version.c_str(), file.c_str(), static_cast<unsigned>(boardId), diChannels, doChannels,
                          diChannels / 8, doChannels / 8));
  data["features"]["reserved"] = {"field62", "field64", "field92"};
  context.out.Line(Format("          reserved fields at offsets 62, 64, 92: %u, %u, %s (constants of the board "
                          "family, without a meaning here)",
                          U16At(features, 62), U16At(features, 64), Hex(U32At(features, 92), 4).c_str()));
  context.out.Line("properties:");
  nlohmann::json properties = nlohmann::json::array();
  for (const PropertyRow& row : kProperties) {
    std::uint32_t size = 0;
    Check(DeviceGetProperty(h, row.id, nullptr, &size), "DeviceGetProperty");
    std::vector<std::uint8_t> buffer(size);
    std::uint32_t length = size;
    Check(DeviceGetProperty(h, row.id, buffer.data(), &length), "DeviceGetProperty");
    buffer.resize(length);
    std::string text;
    nlohmann::json value;
    DescribeProperty(row, buffer, text, value);
    const bool reserved = row.name == nullptr;
    properties.push_back({{"id", row.id},
                          {"name", reserved ? "reserved" : row.name},
                          {"reserved", reserved},
                          {"size", length},
                          {"value", value}});
    context.out.Line(Format("  %s  %-41s %s", Hex(row.id, 4).c_str(), reserved ? kReservedName : row.name,
                            text.c_str()));
  }
  data["properties"] = properties;
}

}  // namespace qio::tool
