// events: enables event sources, prints every event as it arrives with its
// time stamp and latched ports, and disables what it enabled at the end.
#include "App.h"
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

// A terminal-count source that will not fire as things stand: the counter is
// idle, or counts but no edge reaches it. Empty when a terminal count is due,
// or when there is no simulated board to ask.
std::string SilentCounterNote(QioSimBoard* board, std::uint16_t type, bool persistent) {
  const unsigned counter = type - ZQS_EVENT_TERMINAL_COUNT0;
  int counting = 0;
  std::uint64_t next = 0;
  if (board == nullptr || qio_sim_next_terminal_count(board, counter, &counting, &next) != QIO_TARGET_OK ||
      next != UINT64_MAX) {
    return {};
  }
  if (counting == 0) {
    return Format("note: counter %u is idle, so TC%u never fires: start it first (count start %u, pulse %u, pwm %u ...)",
                  counter, counter, counter, counter, counter) +
           (persistent ? std::string()
                       : "; a one-shot command starts with idle counters, so use 'qio5162 shell' or 'run'");
  }
  return Format("note: counter %u counts, but nothing reaches it: no terminal count is due as things stand "
                "(a signal on CLK%u, e.g. --input %u=1MHz, makes it count)",
                counter, counter, counter);
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
  if (options.enable.empty()) throw UsageError("give at least one --enable SOURCE (di9, diB1, tc0, tc1)");
  std::vector<EventSpec> specs;
  for (const std::string& text : options.enable) specs.push_back(ParseEventSpec(text));
  const std::uint32_t wanted = options.count.empty() ? 0 : ParseU32(options.count, "count");
  const double timeout = options.timeout.empty() ? 0 : ParseDuration(options.timeout);
  const std::uint32_t h = context.session.Handle();

  EnabledSources sources(h);
  nlohmann::json enabled = nlohmann::json::array();
  for (const EventSpec& spec : specs) {
    sources.Enable(spec);
    nlohmann::json record{{"type", spec.type}, {"name", EventTypeName(spec.type)}, {"firstPort", spec.firstPort},
                          {"portCount", spec.portCount}, {"every", spec.every}};
    if (IsDiType(spec.type)) record["line"] = LineName(spec.type - ZQS_EVENT_DI_FIRST);
    enabled.push_back(record);
    context.out.Line("enabled " + SpecText(spec));
  }
  std::uint16_t codes[3] = {};
  nlohmann::json notes = nlohmann::json::array();
  auto note = [&](const std::string& text) {
    notes.push_back(text);
    context.out.Line(text);
  };
  if (DioGetConfig(h, codes, 3) == 0) {
    for (const EventSpec& spec : specs) {
      if (IsDiType(spec.type) && LineIsOutput(spec.type, codes)) {
        const unsigned channel = spec.type - ZQS_EVENT_DI_FIRST;
        note(Format("note: DI line %u (%s) is an output line of port %c (%s): it raises no DI events", channel,
                    LineName(channel).c_str(), PortLetter(channel / 8), DirectionName(codes[channel / 8]).c_str()));
      }
    }
  }
  for (const EventSpec& spec : specs) {
    if (spec.type != ZQS_EVENT_TERMINAL_COUNT0 && spec.type != ZQS_EVENT_TERMINAL_COUNT1) continue;
    const std::string text = SilentCounterNote(context.session.Board(), spec.type, context.persistent);
    if (!text.empty()) note(text);
  }
  std::string until = wanted ? Format("%u event%s", static_cast<unsigned>(wanted), wanted == 1 ? "" : "s")
                             : std::string();
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
    if (IsDiType(type)) event["line"] = LineName(type - ZQS_EVENT_DI_FIRST);
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
  if (!notes.empty()) context.out.Data()["notes"] = notes;
  // Like grep finding nothing: the wait ended on its time-out, empty-handed.
  if (ended == "timeout" && events.empty()) context.status = kExitNoEvent;
}

}  // namespace qio::tool
