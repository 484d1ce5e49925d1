#include "App.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <iostream>
#include <map>

#include "Commands.h"
#include "ResultText.h"
#include "Shell.h"
#include "Tour.h"
#include "Units.h"

namespace qio::tool {
namespace {

constexpr const char* kFooter =
    "Conventions:\n"
    "  numbers     decimal or 0x hexadecimal (0x300, 768)\n"
    "  frequencies 100Hz, 1kHz, 2.5MHz (a plain number is hertz)\n"
    "  times       10ms, 250us, 1.5s (a plain number is seconds; --gate takes milliseconds)\n"
    "  ports       A, B, C (or 0, 1, 2); counters 0 and 1\n"
    "  exit codes  0 success, 1 device or library error (shown as the library's code,\n"
    "              e.g. \"0x1032: counter busy\"), 2 usage error\n"
    "Every command takes the target and signal options (--registry, --device, --json,\n"
    "--input, --di, --di-square, --loopback); 'qio5162 COMMAND --help' shows them.\n"
    "Examples:\n"
    "  qio5162 tour\n"
    "  qio5162 freq 0 --input 0=20kHz\n"
    "  qio5162 dio write A 0x5A --loopback A:B\n"
    "  qio5162 pwm 1 --period 10ms --high 2.5ms\n"
    "  qio5162 events --enable di5,ports=B:C --count 3 --di-square 5=100Hz\n";

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
                     "shipped default board at 0x300, IRQ 5");
  target->add_option("--device", c.device, "device number (default 0)");
  target->add_flag("--json", c.json, "machine-readable output (one JSON document)");
  CLI::Option_group* signals = app->add_option_group("Signals", "simulated signals set on the board first");
  signals->add_option("--input", c.inputs, "square wave on CLK0/CLK1: COUNTER=FREQ[,duty=PERCENT], e.g. 0=1kHz,duty=25")
      ->allow_extra_args(false);
  signals->add_option("--di", c.diLevels, "DI pin levels of a port: PORT=LEVELS, e.g. A=0x0F")->allow_extra_args(false);
  signals->add_option("--di-square", c.diSquares, "square wave on a DI line: CHANNEL=FREQ, e.g. 5=100Hz")
      ->allow_extra_args(false);
  signals->add_option("--loopback", c.loopbacks, "wire one port's outputs to another port's inputs: FROM:TO, e.g. A:B")
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

  CLI::App* dio = Group(&app, p, "dio", "digital I/O on ports A, B, C", "dio read|write|bit|mode|config ...");
  Add(dio, p, "read", "read a port's input lines", "dio read PORT", true,
      [&p](CommandContext& c) { RunDioRead(c, p.dio); })
      ->add_option("PORT", p.dio.port, "A, B or C")->required();
  CLI::App* write = Add(dio, p, "write", "write a port's output lines (read-modify-write with --mask)",
                        "dio write PORT VALUE [--mask M]", true, [&p](CommandContext& c) { RunDioWrite(c, p.dio); });
  write->add_option("PORT", p.dio.port, "A, B or C")->required();
  write->add_option("VALUE", p.dio.value, "byte to write")->required();
  write->add_option("--mask", p.dio.mask, "only the bits set here change (default 0xFF)");
  CLI::App* bit = Add(dio, p, "bit", "read one input bit, or write one output bit", "dio bit PORT BIT [0|1]", true,
                      [&p](CommandContext& c) { RunDioBit(c, p.dio); });
  bit->add_option("PORT", p.dio.port, "A, B or C")->required();
  bit->add_option("BIT", p.dio.bit, "bit number 0 to 7")->required();
  bit->add_option("STATE", p.dio.state, "0 or 1 to write; leave out to read");
  CLI::App* mode = Add(dio, p, "mode", "set a port's direction", "dio mode PORT in|out|in/out|out/in", true,
                       [&p](CommandContext& c) { RunDioMode(c, p.dio); });
  mode->add_option("PORT", p.dio.port, "A, B or C")->required();
  mode->add_option("DIRECTION", p.dio.direction,
                   "in, out, or for port C in/out (lines 0-3 in, 4-7 out) and out/in (lines 0-3 out, 4-7 in)")
      ->required();
  Add(dio, p, "config", "the direction of every port, its output mask and the board's direction register",
      "dio config", true, [](CommandContext& c) { RunDioConfig(c); });

  CLI::App* port = Group(&app, p, "port", "raw register access inside the board's port window",
                         "port read|write ADDR ...");
  CLI::App* portRead = Add(port, p, "read", "read a register", "port read ADDR [--width 8|16|32]", true,
                           [&p](CommandContext& c) { RunPortRead(c, p.port); });
  portRead->add_option("ADDR", p.port.address, "absolute I/O address, e.g. 0x32C")->required();
  portRead->add_option("--width", p.port.width, "access width in bits (default 8)")->check(CLI::IsMember({8, 16, 32}));
  CLI::App* portWrite = Add(port, p, "write", "write a register", "port write ADDR VALUE [--width 8|16|32]", true,
                            [&p](CommandContext& c) { RunPortWrite(c, p.port); });
  portWrite->add_option("ADDR", p.port.address, "absolute I/O address")->required();
  portWrite->add_option("VALUE", p.port.value, "value to write")->required();
  portWrite->add_option("--width", p.port.width, "access width in bits (default 8)")->check(CLI::IsMember({8, 16, 32}));

  CLI::App* count = Group(&app, p, "count", "event counting (count and terminal-count tally)",
                          "count start|read|watch COUNTER");
  Add(count, p, "start", "start counting rising edges on CLKn", "count start COUNTER", true,
      [&p](CommandContext& c) { RunCountStart(c, p.counter); })
      ->add_option("COUNTER", p.counter.counter, "0 or 1")->required();
  Add(count, p, "read", "read the count and the tally", "count read COUNTER", true,
      [&p](CommandContext& c) { RunCountRead(c, p.counter); })
      ->add_option("COUNTER", p.counter.counter, "0 or 1")->required();
  CLI::App* watch = Add(count, p, "watch", "start counting and show the 32-bit total, refreshed in place",
                        "count watch COUNTER [--for TIME]", true,
                        [&p](CommandContext& c) { RunCountWatch(c, p.counter); });
  watch->add_option("COUNTER", p.counter.counter, "0 or 1")->required();
  watch->add_option("--for", p.counter.duration, "how long to watch (default: until Ctrl-C)");

  CLI::App* freq = Add(&app, p, "freq", "measure the frequency on CLK0 (automatic ranging or a fixed gate)",
                       "freq COUNTER [--gate MS] [--watch [--for TIME]]", true,
                       [&p](CommandContext& c) { RunFreq(c, p.counter); });
  freq->add_option("COUNTER", p.counter.counter, "0 (only counter 0 measures frequency)")->required();
  freq->add_option("--gate", p.counter.gate, "fixed gate time, 1 to 2000 ms (default: automatic ranging)");
  freq->add_flag("--watch", p.counter.watch, "keep measuring and show each new value");
  freq->add_option("--for", p.counter.duration, "with --watch: how long (default: until Ctrl-C)");

  CLI::App* pulse = Add(&app, p, "pulse", "square wave on OUTn with the given period", "pulse COUNTER --period TIME",
                        true, [&p](CommandContext& c) { RunPulse(c, p.counter); });
  pulse->add_option("COUNTER", p.counter.counter, "0 or 1")->required();
  pulse->add_option("--period", p.counter.period, "1 ms to 50 s")->required();
  CLI::App* freqout = Add(&app, p, "freqout", "clock generator output on FOUTn: source / divisor",
                          "freqout COUNTER --source 1MHz --divisor 4", true,
                          [&p](CommandContext& c) { RunFreqOut(c, p.counter); });
  freqout->add_option("COUNTER", p.counter.counter, "0 or 1")->required();
  freqout->add_option("--source", p.counter.source, "10MHz, 1MHz, 100kHz, 10kHz, 1kHz (default 1MHz)");
  freqout->add_option("--divisor", p.counter.divisor, "1 to 16 (default 1)");
  CLI::App* pwm = Add(&app, p, "pwm", "PWM output on OUTn", "pwm COUNTER --period TIME --high TIME [--count N]", true,
                      [&p](CommandContext& c) { RunPwm(c, p.counter); });
  pwm->add_option("COUNTER", p.counter.counter, "0 or 1")->required();
  pwm->add_option("--period", p.counter.period, "period, above 0.5 ms up to 60 s")->required();
  pwm->add_option("--high", p.counter.high, "high time, at least 0.5 ms and below the period")->required();
  pwm->add_option("--count", p.counter.pulses, "number of periods (counter 1 only; default: continuous)");
  Add(&app, p, "pwm-measure", "measure the high and low phase of the signal on CLK0 (uses both counters)",
      "pwm-measure [COUNTER]", true, [&p](CommandContext& c) { RunPwmMeasure(c, p.counter); })
      ->add_option("COUNTER", p.counter.counter, "0 (default)");
  Add(&app, p, "reset", "stop whatever the counter does (and its generator output)", "reset COUNTER", true,
      [&p](CommandContext& c) { RunReset(c, p.counter); })
      ->add_option("COUNTER", p.counter.counter, "0 or 1")->required();

  CLI::App* events = Add(&app, p, "events", "enable event sources and print each event as it arrives",
                         "events --enable TYPE[,ports=B:C][,every=N] ... [--count N] [--timeout TIME]", true,
                         [&p](CommandContext& c) { RunEvents(c, p.events); });
  events->add_option("--enable", p.events.enable,
                     "di0..di23 (DI line), tc0, tc1 (terminal count) or an event type number; ports=B:C picks the "
                     "DI ports latched when the event fires (default A:C), every=N signals every N-th interrupt")
      ->required()
      ->allow_extra_args(false);
  events->add_option("--count", p.events.count, "stop after N events");
  events->add_option("--timeout", p.events.timeout, "stop after this time");

  AddSpecial(&app, p, "shell", "interactive prompt keeping one target and one open device", "shell",
             Parsed::Special::Shell);
  AddSpecial(&app, p, "run", "run the commands of a file, stopping at the first failure", "run FILE",
             Parsed::Special::Run)
      ->add_option("FILE", p.file, "one command per line; # starts a comment")
      ->required();
  AddSpecial(&app, p, "tour", "boot the default target and walk through every function of the board", "tour",
             Parsed::Special::Tour);
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

int UsageFailure(const Parsed& p, const CLI::App* node, const std::string& message) {
  std::cerr << "qio5162: " << message << "\n";
  const auto it = p.usage.find(node);
  if (it != p.usage.end()) std::cerr << "usage: qio5162 " << it->second << "\n";
  const std::string path = PathOf(node);
  std::cerr << "see 'qio5162 " << (path.empty() ? "" : path + " ") << "--help'\n";
  return kExitUsage;
}

int DeviceFailure(const CommonOptions& common, const DeviceError& error) {
  if (common.json) {
    nlohmann::json record{{"message", error.what()}};
    if (error.HasCode()) {
      record["call"] = error.Call();
      record["code"] = error.Code();
      record["codeText"] = ResultCodeText(error.Code());
      record["meaning"] = ResultMeaning(error.Code());
    }
    std::cout << nlohmann::json{{"error", record}}.dump(2) << std::endl;
  }
  std::cerr << "qio5162: " << error.what() << "\n";
  return kExitDevice;
}

CommonOptions Merge(const CommonOptions& own, const LineContext& context) {
  CommonOptions merged = own;
  if (context.defaults != nullptr) {
    if (!merged.json) merged.json = context.defaults->json;
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
    session.Prepare(common, p.needDevice);
    Output out(common.json);
    CommandContext commandContext{session, out, common, context.session != nullptr};
    p.action(commandContext);
    out.Finish();
    return kExitOk;
  } catch (const UsageError& error) {
    return UsageFailure(p, p.leaf, error.what());
  } catch (const DeviceError& error) {
    return DeviceFailure(common, error);
  }
}

template <typename Parse>
int ParseAndRun(Parse parse, const LineContext& context) {
  CLI::App app{"", "qio5162"};
  Parsed p;
  Build(app, p);
  try {
    parse(app);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return kExitOk;
  } catch (const CLI::CallForAllHelp&) {
    std::cout << app.help("", CLI::AppFormatMode::All);
    return kExitOk;
  } catch (const CLI::ParseError& error) {
    return UsageFailure(p, Deepest(app), error.what());
  } catch (const UsageError& error) {
    return UsageFailure(p, Deepest(app), error.what());
  }
  if (!p.action && p.special == Parsed::Special::None) return UsageFailure(p, Deepest(app), "no command given");
  return Execute(p, context);
}

}  // namespace

int RunArguments(const std::vector<std::string>& args) {
  return ParseAndRun(
      [&args](CLI::App& app) {
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        app.parse(reversed);
      },
      LineContext{});
}

int RunLine(const std::string& line, const LineContext& context) {
  return ParseAndRun([&line](CLI::App& app) { app.parse(line, false); }, context);
}

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
