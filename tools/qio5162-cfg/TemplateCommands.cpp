#include "TemplateCommands.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "ScriptLock.h"
#include "config/templates/TemplateTable.h"

namespace qio::tools {

namespace {

using config::TemplateRecord;
using config::TemplateTable;

constexpr std::string_view kSameIrqMessage = "The same IRQ is selected, conflict might occur";
constexpr std::string_view kTooManyMessage = "Support up to 16 Templates";

// Messages of the template table go to the error stream as "Caption: text".
class StreamSink final : public config::MessageSink {
 public:
  explicit StreamSink(std::ostream& err) : err_(err) {}
  void ShowMessage(std::string_view text, std::string_view caption) override {
    if (!caption.empty()) err_ << caption << ": ";
    err_ << text << "\n";
  }

 private:
  std::ostream& err_;
};

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

std::string Describe(int slot, const TemplateRecord& record) {
  return "Template" + std::to_string(slot) + ": base " + Hex(record.ioBase) + ", IRQ " +
         std::to_string(record.irq) + ", port A " + PortDirectionName(record.portConfig[0]) +
         ", port B " + PortDirectionName(record.portConfig[1]) + ", port C " +
         PortCName(record.portConfig[2]);
}

// Loads the table; a script that cannot be opened is reported (it is never
// created here).
bool LoadTable(const CommandContext& context, TemplateTable& table) {
  if (const int rc = table.Load(context.scriptPath); rc != 0) {
    context.err << "qio5162-cfg: cannot open " << context.scriptPath << ": "
                << (table.lastError().empty() ? std::strerror(rc) : table.lastError()) << "\n";
    return false;
  }
  return true;
}

int SaveTable(const CommandContext& context, TemplateTable& table) {
  if (!table.Save(context.scriptPath)) {
    context.err << "qio5162-cfg: writing " << context.scriptPath << " failed"
                << (table.lastError().empty() ? "" : ": " + table.lastError())
                << "; the script is as it was\n";
    return kExitFailure;
  }
  if (table.lastSaveInPlace()) {
    context.err << "qio5162-cfg: note: the folder of " << context.scriptPath
                << " takes no new file, so the script was rewritten in place; an interruption during "
                   "that write could have damaged it\n";
  }
  return kExitOk;
}

bool RequireTemplate(const CommandContext& context, const TemplateTable& table, int slot) {
  if (slot < 0 || slot >= config::kTemplateSlots || table.Record(slot).inUse == 0) {
    context.err << "qio5162-cfg: Template" << slot << " does not exist\n";
    return false;
  }
  return true;
}

std::string JsonString(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') quoted.push_back('\\');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return quoted;
}

}  // namespace

std::optional<std::uint8_t> PortDirectionFromName(std::string_view name) {
  if (name == "in") return config::kPortInput;
  if (name == "out") return config::kPortOutput;
  return std::nullopt;
}

std::optional<std::uint8_t> PortCCodeFromName(std::string_view name) {
  if (name == "in") return config::kPortCInput;
  if (name == "out") return config::kPortCOutput;
  if (name == "in/out") return config::kPortCLowInHighOut;
  if (name == "out/in") return config::kPortCLowOutHighIn;
  return std::nullopt;
}

// As the settings window shows it: output exactly for 1.
std::string PortDirectionName(std::uint8_t value) {
  return value == config::kPortOutput ? "out" : "in";
}

std::string PortCName(std::uint8_t code) {
  switch (code) {
    case config::kPortCInput: return "in";
    case config::kPortCOutput: return "out";
    case config::kPortCLowInHighOut: return "in/out";
    case config::kPortCLowOutHighIn: return "out/in";
    default: return "code" + std::to_string(code);
  }
}

std::optional<std::uint32_t> ParseNumber(std::string_view text) {
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
  }
  if (value > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

int RunList(const CommandContext& context, bool json) {
  TemplateTable table;
  if (!LoadTable(context, table)) return kExitFailure;
  std::vector<int> used;
  for (int n = 0; n < config::kTemplateSlots; ++n) {
    if (table.Record(n).inUse != 0) used.push_back(n);
  }
  if (json) {
    context.out << "[";
    for (std::size_t i = 0; i < used.size(); ++i) {
      const auto& record = table.Record(used[i]);
      context.out << (i == 0 ? "\n" : ",\n") << "  {\"slot\": " << used[i]
                  << ", \"template\": " << JsonString("Template" + std::to_string(used[i]))
                  << ", \"base\": " << record.ioBase << ", \"irq\": " << record.irq
                  << ", \"portA\": " << JsonString(PortDirectionName(record.portConfig[0]))
                  << ", \"portB\": " << JsonString(PortDirectionName(record.portConfig[1]))
                  << ", \"portC\": " << JsonString(PortCName(record.portConfig[2]))
                  << ", \"portCCode\": " << static_cast<unsigned>(record.portConfig[2]) << "}";
    }
    context.out << (used.empty() ? "]\n" : "\n]\n");
    return kExitOk;
  }
  char line[96];
  std::snprintf(line, sizeof line, "%-5s %-6s %-4s %-7s %-7s %s\n", "Slot", "Base", "IRQ", "PortA",
                "PortB", "PortC");
  context.out << line;
  for (const int n : used) {
    const auto& record = table.Record(n);
    std::snprintf(line, sizeof line, "%-5d %-6s %-4u %-7s %-7s %s\n", n, Hex(record.ioBase).c_str(),
                  record.irq, PortDirectionName(record.portConfig[0]).c_str(),
                  PortDirectionName(record.portConfig[1]).c_str(),
                  PortCName(record.portConfig[2]).c_str());
    context.out << line;
  }
  return kExitOk;
}

int RunAdd(const CommandContext& context) {
  const ScriptLock lock(context.scriptPath);
  StreamSink sink(context.err);
  TemplateTable table(&sink);
  if (!LoadTable(context, table)) return kExitFailure;
  const int n = table.AllocateSlot();
  if (n >= config::kTemplateSlots) {
    context.err << "qio5162-cfg: " << kTooManyMessage << "\n";
    return kExitFailure;
  }
  table.ApplyDefaults(n);
  if (const int rc = SaveTable(context, table); rc != kExitOk) return rc;
  context.out << "Added " << Describe(n, table.Record(n)) << "\n";
  return kExitOk;
}

int RunRemove(const CommandContext& context, int slot) {
  const ScriptLock lock(context.scriptPath);
  TemplateTable table;
  if (!LoadTable(context, table) || !RequireTemplate(context, table, slot)) return kExitFailure;
  table.RemoveSlot(slot);
  if (const int rc = SaveTable(context, table); rc != kExitOk) return rc;
  context.out << "Removed Template" << slot << "\n";
  return kExitOk;
}

int RunSet(const CommandContext& context, const SetRequest& request) {
  const ScriptLock lock(context.scriptPath);
  StreamSink sink(context.err);
  TemplateTable table(&sink);
  if (!LoadTable(context, table) || !RequireTemplate(context, table, request.slot)) {
    return kExitFailure;
  }
  TemplateRecord& record = table.Record(request.slot);
  // A base another template has is refused before anything changes; asking
  // for the template's own base changes nothing.
  if (request.base && *request.base != record.ioBase && table.IsBaseInUse(*request.base)) {
    context.err << "qio5162-cfg: base address " << Hex(*request.base)
                << " is already used by a template\n";
    return kExitFailure;
  }
  if (request.irq && table.IsIrqInUse(*request.irq)) {
    sink.ShowMessage(kSameIrqMessage, config::kWarningCaption);
  }
  if (request.base) record.ioBase = *request.base;
  if (request.irq) record.irq = *request.irq;
  if (request.portA) record.portConfig[0] = *request.portA;
  if (request.portB) record.portConfig[1] = *request.portB;
  if (request.portC) record.portConfig[2] = *request.portC;
  if (const int rc = SaveTable(context, table); rc != kExitOk) return rc;
  context.out << Describe(request.slot, record) << "\n";
  return kExitOk;
}

}  // namespace qio::tools
