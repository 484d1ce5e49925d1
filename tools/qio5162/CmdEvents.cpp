// events: enables event sources, prints every event as it arrives with its
// time stamp and latched ports, and disables what it enabled at the end.
#include "Commands.h"
#include "Interrupt.h"
#include "ResultText.h"
#include "Units.h"
#include "qio/platform/clock.h"
#include "qio5162/Zqs5162.h"

namespace qio::tool {
namespace {

bool IsDiType(std::uint16_t type) { return type >= ZQS_EVENT_DI_FIRST && type <= ZQS_EVENT_DI_LAST; }

// Disables, at scope exit, every source that was enabled through it.
class EnabledSources {
 public:
  explicit EnabledSources(std::uint32_t handle) : handle_(handle) {}
  ~EnabledSources() {
    for (const EventSpec& spec : specs_) {
      if (IsDiType(spec.type)) {
        DioDisableEvent(handle_, spec.type);
      } else {
        EnableEvent(handle_, spec.type, 0, 0);
      }
    }
  }
  EnabledSources(const EnabledSources&) = delete;
  EnabledSources& operator=(const EnabledSources&) = delete;

  void Enable(const EventSpec& spec) {
    if (IsDiType(spec.type)) {
      Check(DioEnableEventAndSpecifyDiPorts(handle_, spec.type, spec.firstPort, spec.portCount),
            "DioEnableEventAndSpecifyDiPorts");
      specs_.push_back(spec);
      if (spec.every != 1) Check(EnableEvent(handle_, spec.type, 1, spec.every), "EnableEvent");
    } else {
      Check(EnableEvent(handle_, spec.type, 1, spec.every), "EnableEvent");
      specs_.push_back(spec);
    }
  }
  const EventSpec* Find(std::uint16_t type) const {
    for (const EventSpec& spec : specs_) {
      if (spec.type == type) return &spec;
    }
    return nullptr;
  }

 private:
  std::uint32_t handle_;
  std::vector<EventSpec> specs_;
};

// True when the DI line of `type` is an output line under the port's code:
// output lines raise no DI interrupts.
bool LineIsOutput(std::uint16_t type, const std::uint16_t codes[3]) {
  const unsigned channel = type - ZQS_EVENT_DI_FIRST;
  const unsigned code = codes[channel / 8];
  const unsigned line = channel % 8;
  return code == 1 || code == 2 || (code == 3 && line >= 4) || (code == 4 && line < 4);
}

std::string SpecText(const EventSpec& spec) {
  std::string text = EventTypeName(spec.type) + " (" + Hex(spec.type, 4) + ")";
  if (IsDiType(spec.type)) {
    text += Format(" latching port%s %c", spec.portCount > 1 ? "s" : "", PortLetter(spec.firstPort));
    if (spec.portCount > 1) text += Format("-%c", PortLetter(spec.firstPort + spec.portCount - 1));
  }
  if (spec.every != 1) text += Format(", every %u interrupts", spec.every);
  return text;
}

}  // namespace

void RunEvents(CommandContext& context, const EventOptions& options) {
  if (options.enable.empty()) throw UsageError("give at least one --enable TYPE (di0..di23, tc0, tc1)");
  std::vector<EventSpec> specs;
  for (const std::string& text : options.enable) specs.push_back(ParseEventSpec(text));
  const std::uint32_t wanted = options.count.empty() ? 0 : ParseU32(options.count, "count");
  const double timeout = options.timeout.empty() ? 0 : ParseDuration(options.timeout);
  const std::uint32_t h = context.session.Handle();

  EnabledSources sources(h);
  nlohmann::json enabled = nlohmann::json::array();
  for (const EventSpec& spec : specs) {
    sources.Enable(spec);
    enabled.push_back({{"type", spec.type}, {"name", EventTypeName(spec.type)}, {"firstPort", spec.firstPort},
                       {"portCount", spec.portCount}, {"every", spec.every}});
    context.out.Line("enabled " + SpecText(spec));
  }
  std::uint16_t codes[3] = {};
  if (DioGetConfig(h, codes, 3) == 0) {
    for (const EventSpec& spec : specs) {
      if (IsDiType(spec.type) && LineIsOutput(spec.type, codes)) {
        context.out.Line(Format("note: DI line %u is an output line of port %c (%s): it raises no DI events",
                                spec.type - ZQS_EVENT_DI_FIRST, PortLetter((spec.type - ZQS_EVENT_DI_FIRST) / 8),
                                DirectionName(codes[(spec.type - ZQS_EVENT_DI_FIRST) / 8]).c_str()));
      }
    }
  }
  std::string until = wanted ? Format("%u events", static_cast<unsigned>(wanted)) : std::string();
  if (timeout > 0) until += (until.empty() ? "" : " or ") + FormatSeconds(timeout);
  context.out.Line("waiting for events" + (until.empty() ? std::string(" until Ctrl-C") : " (" + until + ", Ctrl-C stops)"));

  const std::uint64_t begin = platform::NowNs();
  nlohmann::json events = nlohmann::json::array();
  std::string ended = "interrupt";
  while (true) {
    if (Interrupted()) break;
    const double t = static_cast<double>(platform::NowNs() - begin) / 1e9;
    if (timeout > 0 && t >= timeout) {
      ended = "timeout";
      break;
    }
    std::uint16_t type = 0;
    Check(CheckEvent(h, &type, 100), "CheckEvent");
    if (type == ZQS_EVENT_TIMEOUT || type == ZQS_EVENT_NONE) continue;
    const double at = static_cast<double>(platform::NowNs() - begin) / 1e9;
    if (type == ZQS_EVENT_DEVICE_CLOSED) {
      ended = "closed";
      context.out.Line(Format("%9.3f s  device closed", at));
      break;
    }
    nlohmann::json event{{"t", at}, {"type", type}, {"name", EventTypeName(type)}};
    std::string line = Format("%9.3f s  %-5s (%s)", at, EventTypeName(type).c_str(), Hex(type, 4).c_str());
    const EventSpec* spec = sources.Find(type);
    if (IsDiType(type) && spec != nullptr) {
      std::uint8_t latched[3] = {};
      Check(DioGetLatestEventDiPortsState(h, type, latched, spec->portCount), "DioGetLatestEventDiPortsState");
      nlohmann::json ports = nlohmann::json::object();
      line += "  latched";
      for (std::uint32_t k = 0; k < spec->portCount && k < 3; ++k) {
        const char letter = PortLetter((spec->firstPort + k) % 3);
        ports[std::string(1, letter)] = latched[k];
        line += Format(" %c=%s", letter, Hex(latched[k]).c_str());
      }
      event["ports"] = ports;
    }
    events.push_back(event);
    context.out.Line(line);
    if (wanted != 0 && events.size() >= wanted) {
      ended = "count";
      break;
    }
  }
  context.out.Line(Format("%zu event%s; ", events.size(), events.size() == 1 ? "" : "s") +
                   (ended == "count"     ? "count reached"
                    : ended == "timeout" ? "time-out"
                    : ended == "closed"  ? "device closed"
                                         : "stopped by Ctrl-C") +
                   "; the sources are disabled again");
  context.out.Data() = {{"enabled", enabled}, {"events", events}, {"ended", ended}};
}

}  // namespace qio::tool
