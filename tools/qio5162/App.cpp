#include "App.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>

#include "Commands.h"
#include "Failures.h"
#include "ResultText.h"
#include "Shell.h"
#include "Tour.h"
#include "Units.h"
#include "WaveRecording.h"

#ifndef QIO5162_VERSION
#define QIO5162_VERSION "unknown"
#endif

namespace qio::tool {
namespace {

constexpr const char* kFooter =
    "Conventions:\n"
    "  numbers     decimal or 0x hexadecimal (0x300, 768)\n"
    "  frequencies 100Hz, 1kHz, 2.5MHz (a plain number is hertz)\n"
    "  times       10ms, 250us, 1.5s (a plain number is seconds; --gate takes milliseconds)\n"
    "  ports       A, B, C (or 0, 1, 2); counters 0 and 1\n"
    "  lines       port and bit (A0 .. C7, e.g. B1) or channel 0 to 23 (port x 8 + bit: B1 = 9)\n"
    "  exit codes  0 success\n"
    "              1 device or library error (shown as the library's code, e.g. \"0x1032: counter busy\")\n"
    "              2 usage error (a short usage line; with --json also as a JSON document)\n"
    "              3 events: the time-out passed without any event\n"
    "Every command takes the target and signal options (--registry, --device, --json,\n"
    "--virtual-time, --vcd, --input, --di, --di-square, --loopback); 'qio5162 COMMAND --help'\n"
    "shows them.\n"
    "--virtual-time runs the target on a virtual clock: a 2 s gate takes no real time, the\n"
    "times shown are virtual, and a command gives the same register trace on every run.\n"
    "--vcd FILE records the board's pins and register accesses for the whole run as a\n"
    "Value Change Dump (GTKWave, PulseView); each signal keeps at most 100000 changes.\n"
    "Examples:\n"
    "  qio5162 tour\n"
    "  qio5162 freq 0 --input 0=20kHz\n"
    "  qio5162 --virtual-time freq 0 --input 0=1Hz\n"
    "  qio5162 dio write A 0x5A --loopback A:B\n"
    "  qio5162 pwm 1 --period 10ms --high 2.5ms --vcd pwm.vcd\n"
    "  qio5162 events --enable di5,ports=B:C --count 3 --di-square A5=100Hz\n";

// Options that take a value, as they may stand before a command's name.
const char* const kValueOptions[] = {"--registry", "--device", "--input", "--di", "--di-square", "--loopback", "--vcd"};

struct Parsed {
  CommonOptions common;
  DioOptions dio;
  PortOptions port;
  CounterOptions counter;
  EventOptions events;
  std::string file;
  enum class Special { None, Shell, Run, Tour } special = Special::None;
  bool needDevice = true;
  std::function<void(CommandContext&)> action;
  const CLI::App* leaf = nullptr;
  std::map<const CLI::App*, std::string> usage;
};

void AddCommon(CLI::App* app, CommonOptions& c) {
  CLI::Option_group* target = app->add_option_group("Target", "which target and device the command works on");
  target->add_option("--registry", c.registryFile,
                     "boot the target from this registry script (e.g. one qio5162-cfg wrote) instead of the "
                     "shipped default board at 0x300, IRQ 5")
      ->type_name("FILE");
  target->add_option("--device", c.device, "device number (default 0)")->type_name("N");
  target->add_flag("--json", c.json, "machine-readable output (one JSON document; errors too)");
  target->add_flag("--virtual-time", c.virtualTime,
                   "run the target on a virtual clock: waits take no real time, times shown are virtual, and the "
                   "same command gives the same register trace every time");
  target->add_option("--vcd", c.vcdFile,
                     "record the board's pins and register accesses for the whole run as a Value Change Dump "
                     "(GTKWave, PulseView); at most 100000 changes per signal")
      ->type_name("FILE");
  target->add_flag("--vcd-bits", c.vcdBits,
                   "with --vcd: ports and register values as one wire per bit (A0..A7, reg_value0..31), for "
                   "readers without vector support such as sigrok before 0.6");
  CLI::Option_group* signals = app->add_option_group("Signals", "simulated signals set on the board first");
  signals->add_option("--input", c.inputs, "square wave on CLK0/CLK1, e.g. 0=1kHz,duty=25")
      ->type_name("COUNTER=FREQ[,duty=PERCENT]")
      ->allow_extra_args(false);
  signals->add_option("--di", c.diLevels, "DI pin levels of a port, e.g. A=0x0F")
      ->type_name("PORT=LEVELS")
      ->allow_extra_args(false);
  signals->add_option("--di-square", c.diSquares, "square wave on a DI line, e.g. A5=100Hz or 5=100Hz")
      ->type_name("LINE=FREQ")
      ->allow_extra_args(false);
  signals->add_option("--loopback", c.loopbacks, "wire one port's outputs to another port's inputs, e.g. A:B")
      ->type_name("FROM:TO")
      ->allow_extra_args(false);
}

CLI::App* Group(CLI::App* parent, Parsed& p, const char* name, const char* description, const char* usage) {
  CLI::App* group = parent->add_subcommand(name, description);
  group->require_subcommand(1);
  p.usage[group] = usage;
  return group;
}

CLI::App* Add(CLI::App* parent, Parsed& p, const char* name, const char* description, const char* usage,
              bool needDevice, std::function<void(CommandContext&)> action) {
  CLI::App* sub = parent->add_subcommand(name, description);
  p.usage[sub] = usage;
  AddCommon(sub, p.common);
  sub->callback([&p, sub, needDevice, action] {
    p.needDevice = needDevice;
    p.action = action;
    p.leaf = sub;
  });
  return sub;
}

CLI::App* AddSpecial(CLI::App* parent, Parsed& p, const char* name, const char* description, const char* usage,
                     Parsed::Special special) {
  CLI::App* sub = parent->add_subcommand(name, description);
  p.usage[sub] = usage;
  AddCommon(sub, p.common);
  sub->callback([&p, sub, special] {
    p.special = special;
    p.leaf = sub;
  });
  return sub;
}

void Build(CLI::App& app, Parsed& p) {
  app.description("Command-line tool of the QIO-5162 counter/timer and DIO board, on the hosted target");
  app.require_subcommand(1);
  p.usage[&app] = "COMMAND [ARGS] [OPTIONS]   (qio5162 --help lists the commands)";
  AddCommon(&app, p.common);

  Add(&app, p, "list", "boards of the shared device list: number, name, stream device, base, IRQ", "list", false,
      [](CommandContext& c) { RunList(c); });
  Add(&app, p, "info", "the device's features record and every property with its value", "info", true,
      [](CommandContext& c) { RunInfo(c); });
  Add(&app, p, "status",
      "what the driver holds now: each counter's function and settings, the generators and their owners, the "
      "enabled events, the ports (a one-shot 'status' shows the target as booted: use it in 'shell' or 'run')",
      "status", false, [](CommandContext& c) { RunStatus(c); });

  CLI::App* dio = Group(&app, p, "dio", "digital I/O on ports A, B, C", "dio read|write|bit|mode|config ...");
  Add(dio, p, "read", "read the input lines of one or more ports", "dio read [PORT...]   (A, B, C, A:C; none: all)",
      true, [&p](CommandContext& c) { RunDioRead(c, p.dio); })
      ->add_option("PORT", p.dio.ports, "A, B or C, or a range A:C; several read in one request; none: all three")
      ->type_name("");
  CLI::App* write = Add(dio, p, "write", "write a port's output lines (read-modify-write with --mask)",
                        "dio write PORT VALUE [--mask M]", true, [&p](CommandContext& c) { RunDioWrite(c, p.dio); });
  write->add_option("PORT", p.dio.port, "A, B or C")->required()->type_name("");
  write->add_option("VALUE", p.dio.value, "byte to write")->required()->type_name("");
  write->add_option("--mask", p.dio.mask, "only the bits set here change (default 0xFF)")->type_name("MASK");
  CLI::App* bit = Add(dio, p, "bit", "read one input bit, or write one output bit",
                      "dio bit LINE [0|1]  or  dio bit PORT BIT [0|1]   (LINE: B1 or channel 9)", true,
                      [&p](CommandContext& c) { RunDioBit(c, p.dio); });
  bit->add_option("LINE|PORT", p.dio.port,
                  "the line as port and bit (B1) or channel 0 to 23 (9), or a port A, B, C followed by BIT")
      ->required()
      ->type_name("");
  bit->add_option("BIT|STATE", p.dio.bit, "after a port: the bit 0 to 7; after a line: 0 or 1 to write")
      ->type_name("");
  bit->add_option("STATE", p.dio.state, "after a port and bit: 0 or 1 to write; leave out to read")->type_name("");
  CLI::App* mode = Add(dio, p, "mode", "set a port's direction", "dio mode PORT in|out|in/out|out/in", true,
                       [&p](CommandContext& c) { RunDioMode(c, p.dio); });
  mode->add_option("PORT", p.dio.port, "A, B or C")->required()->type_name("");
  mode->add_option("DIRECTION", p.dio.direction,
                   "in, out, or for port C in/out (lines 0-3 in, 4-7 out) and out/in (lines 0-3 out, 4-7 in)")
      ->required()
      ->type_name("");
  Add(dio, p, "config", "the direction of every port, its output mask and the board's direction register",
      "dio config", true, [](CommandContext& c) { RunDioConfig(c); });

  CLI::App* port = Group(&app, p, "port", "raw register access inside the board's port window",
                         "port read|write ADDR ...");
  CLI::App* portRead = Add(port, p, "read", "read a register", "port read ADDR [--width 8|16|32]", true,
                           [&p](CommandContext& c) { RunPortRead(c, p.port); });
  portRead->add_option("ADDR", p.port.address, "absolute I/O address, e.g. 0x32C")->required()->type_name("");
  portRead->add_option("--width", p.port.width, "access width in bits (default 8)")
      ->check(CLI::IsMember({8, 16, 32}))
      ->type_name("8|16|32");
  CLI::App* portWrite = Add(port, p, "write", "write a register", "port write ADDR VALUE [--width 8|16|32]", true,
                            [&p](CommandContext& c) { RunPortWrite(c, p.port); });
  portWrite->add_option("ADDR", p.port.address, "absolute I/O address")->required()->type_name("");
  portWrite->add_option("VALUE", p.port.value, "value to write")->required()->type_name("");
  portWrite->add_option("--width", p.port.width, "access width in bits (default 8)")
      ->check(CLI::IsMember({8, 16, 32}))
      ->type_name("8|16|32");

  CLI::App* count = Group(&app, p, "count", "event counting (count and terminal-count tally)",
                          "count start|read|watch COUNTER");
  Add(count, p, "start", "start counting rising edges on CLKn", "count start COUNTER", true,
      [&p](CommandContext& c) { RunCountStart(c, p.counter); })
      ->add_option("COUNTER", p.counter.counter, "0 or 1")
      ->required()
      ->type_name("");
  Add(count, p, "read", "read the count and the tally", "count read COUNTER", true,
      [&p](CommandContext& c) { RunCountRead(c, p.counter); })
      ->add_option("COUNTER", p.counter.counter, "0 or 1")
      ->required()
      ->type_name("");
  CLI::App* watch = Add(count, p, "watch", "start counting and show the 32-bit total, refreshed in place",
                        "count watch COUNTER [--for TIME]", true,
                        [&p](CommandContext& c) { RunCountWatch(c, p.counter); });
  watch->add_option("COUNTER", p.counter.counter, "0 or 1")->required()->type_name("");
  watch->add_option("--for", p.counter.duration, "how long to watch (default: until Ctrl-C)")->type_name("TIME");

  CLI::App* freq = Add(&app, p, "freq", "measure the frequency on CLK0 (automatic ranging or a fixed gate)",
                       "freq COUNTER [--gate MS] [--watch [--for TIME]]", true,
                       [&p](CommandContext& c) { RunFreq(c, p.counter); });
  freq->add_option("COUNTER", p.counter.counter, "0 (only counter 0 measures frequency)")->required()->type_name("");
  freq->add_option("--gate", p.counter.gate, "fixed gate time, 1 to 2000 ms (default: automatic ranging)")
      ->type_name("MS");
  freq->add_flag("--watch", p.counter.watch, "keep measuring and show each new value");
  freq->add_option("--for", p.counter.duration, "with --watch: how long (default: until Ctrl-C)")->type_name("TIME");

  CLI::App* pulse = Add(&app, p, "pulse", "square wave on OUTn with the given period", "pulse COUNTER --period TIME",
                        true, [&p](CommandContext& c) { RunPulse(c, p.counter); });
  pulse->add_option("COUNTER", p.counter.counter, "0 or 1")->required()->type_name("");
  pulse->add_option("--period", p.counter.period, "1 ms to 50 s")->required()->type_name("TIME");
  CLI::App* freqout = Add(&app, p, "freqout", "clock generator output on FOUTn: source / divisor",
                          "freqout COUNTER --source 1MHz --divisor 4", true,
                          [&p](CommandContext& c) { RunFreqOut(c, p.counter); });
  freqout->add_option("COUNTER", p.counter.counter, "0 or 1")->required()->type_name("");
  freqout->add_option("--source", p.counter.source, "10MHz, 1MHz, 100kHz, 10kHz, 1kHz (default 1MHz)")
      ->type_name("FREQ");
  freqout->add_option("--divisor", p.counter.divisor, "1 to 16 (default 1)")->type_name("N");
  CLI::App* pwm = Add(&app, p, "pwm", "PWM output on OUTn", "pwm COUNTER --period TIME --high TIME [--count N]", true,
                      [&p](CommandContext& c) { RunPwm(c, p.counter); });
  pwm->add_option("COUNTER", p.counter.counter, "0 or 1")->required()->type_name("");
  pwm->add_option("--period", p.counter.period, "period, above 0.5 ms up to 60 s")->required()->type_name("TIME");
  pwm->add_option("--high", p.counter.high, "high time, at least 0.5 ms and below the period")
      ->required()
      ->type_name("TIME");
  pwm->add_option("--count", p.counter.pulses, "number of periods (counter 1 only; default: continuous)")
      ->type_name("N");
  Add(&app, p, "pwm-measure", "measure the high and low phase of the signal on CLK0 (uses both counters)",
      "pwm-measure [COUNTER]", true, [&p](CommandContext& c) { RunPwmMeasure(c, p.counter); })
      ->add_option("COUNTER", p.counter.counter, "0 (default)")
      ->type_name("");
  Add(&app, p, "reset", "stop whatever the counter does (and its generator output)", "reset COUNTER", true,
      [&p](CommandContext& c) { RunReset(c, p.counter); })
      ->add_option("COUNTER", p.counter.counter, "0 or 1")
      ->required()
      ->type_name("");

  CLI::App* events = Add(&app, p, "events", "enable event sources and print each event as it arrives",
                         "events --enable SOURCE[,ports=B:C][,every=N] ... [--count N] [--timeout TIME]", true,
                         [&p](CommandContext& c) { RunEvents(c, p.events); });
  events->add_option("--enable", p.events.enable,
                     "a DI line (di9, diB1 or B1), tc0, tc1 (terminal count) or an event type number; ports=B:C "
                     "picks the DI ports latched when the event fires (default A:C), every=N signals every N-th "
                     "interrupt")
      ->required()
      ->allow_extra_args(false)
      ->type_name("SOURCE[,ports=FIRST:LAST][,every=N]");
  events->add_option("--count", p.events.count, "stop after N events")->type_name("N");
  events->add_option("--timeout", p.events.timeout, "stop after this time; with no event by then the exit code is 3")
      ->type_name("TIME");

  AddSpecial(&app, p, "shell", "interactive prompt keeping one target and one open device", "shell",
             Parsed::Special::Shell);
  AddSpecial(&app, p, "run", "run the commands of a file, stopping at the first failure", "run FILE",
             Parsed::Special::Run)
      ->add_option("FILE", p.file, "one command per line; # starts a comment")
      ->required()
      ->type_name("");
  AddSpecial(&app, p, "tour", "boot the default target and walk through every function of the board", "tour",
             Parsed::Special::Tour);
  app.set_version_flag("--version", std::string("qio5162 ") + QIO5162_VERSION +
                                        " (the QIO-5162 tool over the Zqs5162 library, on the hosted target)");
  // Set last: subcommands created before would inherit it.
  app.footer(kFooter);
}

// The deepest command that the parser selected.
const CLI::App* Deepest(const CLI::App& app) {
  const CLI::App* node = &app;
  while (true) {
    const std::vector<CLI::App*> subs = node->get_subcommands();
    if (subs.empty()) return node;
    node = subs.back();
  }
}

std::string PathOf(const CLI::App* node) {
  std::string path;
  for (const CLI::App* at = node; at != nullptr && at->get_parent() != nullptr; at = at->get_parent()) {
    path = at->get_name() + (path.empty() ? "" : " " + path);
  }
  return path;
}

int UsageFailure(const Parsed& p, const CLI::App* node, const std::string& message, bool json) {
  const auto it = p.usage.find(node);
  return ReportUsageError(message, it != p.usage.end() ? it->second : std::string(), PathOf(node), json);
}

CommonOptions Merge(const CommonOptions& own, const LineContext& context) {
  CommonOptions merged = own;
  if (context.defaults != nullptr) {
    if (!merged.json) merged.json = context.defaults->json;
    if (!merged.virtualTime) merged.virtualTime = context.defaults->virtualTime;
    if (merged.registryFile.empty()) merged.registryFile = context.defaults->registryFile;
    if (merged.device.empty() && context.session != nullptr && !context.session->IsOpen()) {
      merged.device = context.defaults->device;
    }
  }
  return merged;
}

int Execute(Parsed& p, const LineContext& context) {
  const CommonOptions common = Merge(p.common, context);
  std::cout.flush();
  try {
    switch (p.special) {
      case Parsed::Special::Shell:
        if (context.session != nullptr) throw UsageError("the shell is running already");
        return RunShell(common);
      case Parsed::Special::Tour:
        if (context.session != nullptr) {
          throw UsageError("the tour boots a target of its own: run 'qio5162 tour' from the command line");
        }
        return RunTour(common);
      case Parsed::Special::Run:
        if (context.session != nullptr) {
          if (context.depth >= 8) throw UsageError("run files nested too deeply");
          return RunFile(p.file, *context.session, common, context.depth + 1);
        } else {
          Session session;
          return RunFile(p.file, session, common, 1);
        }
      case Parsed::Special::None:
        break;
    }
    Session local;
    Session& session = context.session != nullptr ? *context.session : local;
    // Declared after the session: it stops (and writes its file) first.
    std::unique_ptr<WaveRecording> recording = StartRecording(session, common);
    session.Prepare(common, p.needDevice);
    Output out(common.json);
    CommandContext commandContext{session, out, common, context.session != nullptr};
    p.action(commandContext);
    out.Finish();
    const bool recorded = recording == nullptr || recording->Finish();
    if (commandContext.status != kExitOk) return commandContext.status;
    return recorded ? kExitOk : kExitDevice;
  } catch (const UsageError& error) {
    return UsageFailure(p, p.leaf, error.what(), common.json);
  } catch (const DeviceError& error) {
    return ReportDeviceError(error, common.json);
  }
}

bool TakesValue(const std::string& word) {
  for (const char* option : kValueOptions) {
    if (word == option) return true;
  }
  return false;
}

// Names of a command's subcommands, in order.
std::vector<const CLI::App*> Commands(const CLI::App* node) {
  std::vector<const CLI::App*> commands;
  for (const CLI::App* sub : node->get_subcommands([](const CLI::App*) { return true; })) {
    // Option groups are subcommands to the parser, not to the user.
    if (dynamic_cast<const CLI::Option_group*>(sub) == nullptr) commands.push_back(sub);
  }
  return commands;
}

std::vector<std::string> SubcommandNames(const CLI::App* node) {
  std::vector<std::string> names;
  for (const CLI::App* sub : Commands(node)) names.push_back(sub->get_name());
  return names;
}

std::string Listing(const std::vector<std::string>& words) {
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == words.size() ? " or " : ", ") + words[i];
  }
  return text;
}

// Walks the command words before the parser does, so that a word that is no
// command gets its own message ("unknown command 'red' for 'dio'") rather
// than the parser's "A subcommand is required".
std::optional<std::pair<const CLI::App*, std::string>> UnknownCommand(const CLI::App& app,
                                                                      const std::vector<std::string>& args) {
  const CLI::App* node = &app;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word == "--") break;
    if (!word.empty() && word[0] == '-') {
      if (TakesValue(word)) ++i;
      continue;
    }
    const std::vector<std::string> names = SubcommandNames(node);
    if (names.empty()) break;  // a command: the rest are its arguments
    const CLI::App* next = nullptr;
    for (const CLI::App* sub : Commands(node)) {
      if (sub->get_name() == word) next = sub;
    }
    if (next != nullptr) {
      node = next;
      continue;
    }
    const std::string path = PathOf(node);
    std::string message = "unknown command '" + word + "'" + (path.empty() ? "" : " for '" + path + "'") +
                          ": expected " + Listing(names);
    const std::string closest = ClosestWord(word, names);
    if (!closest.empty()) message += " (did you mean '" + closest + "'?)";
    return std::make_pair(node, message);
  }
  return std::nullopt;
}

bool WantsJson(const std::vector<std::string>& args, const LineContext& context) {
  if (context.defaults != nullptr && context.defaults->json) return true;
  return std::find(args.begin(), args.end(), "--json") != args.end();
}

int ParseAndRun(const std::vector<std::string>& args, const LineContext& context) {
  CLI::App app{"", "qio5162"};
  Parsed p;
  Build(app, p);
  const bool json = WantsJson(args, context);
  if (!args.empty() && args[0] == "help") {
    std::string topic;
    for (std::size_t i = 1; i < args.size(); ++i) topic += (i > 1 ? " " : "") + args[i];
    std::cout << HelpText(topic);
    return kExitOk;
  }
  if (const auto unknown = UnknownCommand(app, args)) {
    return UsageFailure(p, unknown->first, unknown->second, json);
  }
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return kExitOk;
  } catch (const CLI::CallForAllHelp&) {
    std::cout << app.help("", CLI::AppFormatMode::All);
    return kExitOk;
  } catch (const CLI::CallForVersion& version) {
    std::cout << version.what() << "\n";
    return kExitOk;
  } catch (const CLI::RequiredError& error) {
    // A group without its command: name the commands it has.
    const CLI::App* node = Deepest(app);
    const std::vector<std::string> names = SubcommandNames(node);
    return UsageFailure(p, node, names.empty() ? std::string(error.what()) : "a command is needed: " + Listing(names),
                        json);
  } catch (const CLI::ParseError& error) {
    return UsageFailure(p, Deepest(app), error.what(), json);
  } catch (const UsageError& error) {
    return UsageFailure(p, Deepest(app), error.what(), json);
  }
  if (!p.action && p.special == Parsed::Special::None) {
    const std::vector<std::string> names = SubcommandNames(Deepest(app));
    return UsageFailure(p, Deepest(app), names.empty() ? "no command given" : "a command is needed: " + Listing(names),
                        json);
  }
  return Execute(p, context);
}

// A shell or file line split into words as the parser splits it (quotes
// keep spaces).
std::vector<std::string> Words(const std::string& line) {
  std::string text = CLI::detail::find_and_modify(line, "=", CLI::detail::escape_detect);
  std::vector<std::string> words = CLI::detail::split_up(std::move(text));
  words.erase(std::remove(words.begin(), words.end(), std::string{}), words.end());
  return words;
}

}  // namespace

int RunArguments(const std::vector<std::string>& args) { return ParseAndRun(args, LineContext{}); }

int RunLine(const std::string& line, const LineContext& context) { return ParseAndRun(Words(line), context); }

std::string HelpText(const std::string& command) {
  CLI::App app{"", "qio5162"};
  Parsed p;
  Build(app, p);
  const CLI::App* node = &app;
  for (const std::string& word : Split(command, ' ')) {
    if (word.empty()) continue;
    const CLI::App* next = nullptr;
    for (const CLI::App* sub : node->get_subcommands([](const CLI::App*) { return true; })) {
      if (sub->get_name() == word) next = sub;
    }
    if (next == nullptr) return "no command '" + command + "'; 'help' lists the commands\n";
    node = next;
  }
  return node->help();
}

}  // namespace qio::tool
