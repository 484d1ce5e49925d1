// qio5162-cfg: edits the QIO-5162 device templates of an image-build tree
// without a window, for build pipelines.
//
//   qio5162-cfg --root DIR [--component QIO5162] list [--json]
//   qio5162-cfg --root DIR add
//   qio5162-cfg --root DIR remove N
//   qio5162-cfg --root DIR set N [--base 0x300] [--irq 5] [--port-a in|out] ...
//   qio5162-cfg --root DIR gui [--screenshot DIR]   (the settings window of the plug-in)
//
// Exit codes: 0 done, 1 refused or failed (message on stderr), 2 usage error.
// Each subcommand is registered by one function below, so that further ones
// (a windowed editor) are added the same way.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <string>

#include "GuiCommand.h"
#include "TemplateCommands.h"
#include "config/script/ScriptPath.h"
#include "config/templates/TemplateRecord.h"

namespace {

using namespace qio::tools;

constexpr const char* kUsage =
    "usage: qio5162-cfg --root DIR [--component NAME] {list [--json] | add | remove N | "
    "set N [--base ADDR] [--irq LINE] [--port-a DIR] [--port-b DIR] [--port-c DIR] | gui [--screenshot DIR]}\n"
    "       qio5162-cfg --help\n";

struct GlobalOptions {
  std::string root;
  std::string component{qio::config::kDefaultComponent};
};

// What the chosen subcommand runs once the command line is parsed.
using Action = std::function<int(const CommandContext&)>;

const CLI::Validator kSlotNumber(
    [](std::string& text) -> std::string {
      const auto value = ParseNumber(text);
      if (!value || *value >= static_cast<std::uint32_t>(qio::config::kTemplateSlots)) {
        return "template number must be 0 to 15";
      }
      return {};
    },
    "0-15");

const CLI::Validator kBaseAddress(
    [](std::string& text) -> std::string {
      const auto value = ParseNumber(text);
      if (!value || !qio::config::IsOfferedBase(*value)) {
        return "base address must be 0x100 to 0x3c0 in steps of 0x40";
      }
      return {};
    },
    "ADDR");

const CLI::Validator kIrqLine(
    [](std::string& text) -> std::string {
      const auto value = ParseNumber(text);
      if (!value || !qio::config::IsOfferedIrq(*value)) {
        return "IRQ must be one of 3, 4, 5, 6, 7, 9, 11, 12, 15";
      }
      return {};
    },
    "LINE");

void AddList(CLI::App& app, Action& action) {
  auto* list = app.add_subcommand("list", "Show the templates: slot, base, IRQ, port directions");
  auto json = std::make_shared<bool>(false);
  list->add_flag("--json", *json, "Print a JSON array instead of a table");
  list->callback([&action, json] {
    action = [json](const CommandContext& context) { return RunList(context, *json); };
  });
}

void AddAdd(CLI::App& app, Action& action) {
  auto* add = app.add_subcommand(
      "add", "Add a template in the lowest free slot with a free base address and IRQ");
  add->callback([&action] { action = [](const CommandContext& context) { return RunAdd(context); }; });
}

void AddRemove(CLI::App& app, Action& action) {
  auto* remove = app.add_subcommand("remove", "Remove template N");
  auto slot = std::make_shared<std::string>();
  remove->add_option("N", *slot, "Template number")->required()->check(kSlotNumber);
  remove->callback([&action, slot] {
    const int n = static_cast<int>(*ParseNumber(*slot));
    action = [n](const CommandContext& context) { return RunRemove(context, n); };
  });
}

void AddSet(CLI::App& app, Action& action) {
  struct Texts {
    std::string slot, base, irq, portA, portB, portC;
  };
  auto texts = std::make_shared<Texts>();
  auto* set = app.add_subcommand("set", "Change template N; a base another template uses is refused");
  set->add_option("N", texts->slot, "Template number")->required()->check(kSlotNumber);
  set->add_option("--base", texts->base, "I/O base: 0x100 to 0x3c0 in steps of 0x40")->check(kBaseAddress);
  set->add_option("--irq", texts->irq, "Interrupt line: 3, 4, 5, 6, 7, 9, 11, 12 or 15")->check(kIrqLine);
  set->add_option("--port-a", texts->portA, "Port A direction")->check(CLI::IsMember({"in", "out"}));
  set->add_option("--port-b", texts->portB, "Port B direction")->check(CLI::IsMember({"in", "out"}));
  set->add_option("--port-c", texts->portC, "Port C: in, out, in/out (lines 0-3 in, 4-7 out), out/in")
      ->check(CLI::IsMember({"in", "out", "in/out", "out/in"}));
  set->callback([&action, texts] {
    SetRequest request;
    request.slot = static_cast<int>(*ParseNumber(texts->slot));
    if (!texts->base.empty()) request.base = ParseNumber(texts->base);
    if (!texts->irq.empty()) request.irq = ParseNumber(texts->irq);
    if (!texts->portA.empty()) request.portA = PortDirectionFromName(texts->portA);
    if (!texts->portB.empty()) request.portB = PortDirectionFromName(texts->portB);
    if (!texts->portC.empty()) request.portC = PortCCodeFromName(texts->portC);
    action = [request](const CommandContext& context) { return RunSet(context, request); };
  });
}

void AddGui(CLI::App& app, Action& action, const GlobalOptions& options) {
  auto* gui = app.add_subcommand("gui", "Open the settings window of the plug-in libQIO5162Cfg.so");
  auto screenshots = std::make_shared<std::string>();
  gui->add_option("--screenshot", *screenshots, "Render every window and page to PNG files in DIR and exit");
  gui->callback([&action, &options, screenshots] {
    action = [&options, screenshots](const CommandContext&) {
      std::string root = options.root;
      if (!root.empty() && root.back() != '/') root.push_back('/');
      return RunGui(root, options.component, *screenshots);
    };
  });
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Edits the QIO-5162 device templates of an image-build tree's registry script.",
               "qio5162-cfg"};
  GlobalOptions options;
  Action action;
  app.add_option("--root", options.root, "Root directory of the image-build tree")->required();
  app.add_option("--component", options.component, "Component name (first 7 characters used)")
      ->capture_default_str();
  app.require_subcommand(1);
  AddList(app, action);
  AddAdd(app, action);
  AddRemove(app, action);
  AddSet(app, action);
  AddGui(app, action, options);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "qio5162-cfg: " << e.what() << "\n" << kUsage;
    return kExitUsage;
  }

  std::string root = options.root;
  if (!root.empty() && root.back() != '/') root.push_back('/');
  const auto path = qio::config::ScriptPathFor(root, options.component);
  if (!path) {
    std::cerr << "qio5162-cfg: the script path under " << options.root << " is too long\n";
    return kExitFailure;
  }
  const CommandContext context{*path, std::cout, std::cerr};
  const int status = action(context);
  // A listing redirected to a full disk is lost: that is no success.
  std::cout.flush();
  const bool written = static_cast<bool>(std::cout) && std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  if (!written) {
    std::cerr << "qio5162-cfg: writing the output failed\n";
    if (status == kExitOk) return kExitFailure;
  }
  return status;
}
