#include "Shell.h"

#include <poll.h>
#include <unistd.h>

// readline's header needs stdio first.
#include <cstdio>
#include <readline/history.h>
#include <readline/readline.h>

#include <filesystem>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>

#include "App.h"
#include "Failures.h"
#include "Interrupt.h"
#include "ResultText.h"
#include "Units.h"
#include "qio5162/target.h"

namespace qio::tool {
namespace {

constexpr const char* kShellHelp =
    "Commands (as on the command line, without 'qio5162'):\n"
    "  list, info, status (what the driver holds now: counters, generators, events, ports)\n"
    "  dio read|write|bit|mode|config ..., port read|write ADDR ...\n"
    "  count start|read|watch COUNTER, freq 0 [--gate MS] [--watch]\n"
    "  pulse, freqout, pwm, pwm-measure, reset COUNTER\n"
    "  events --enable SOURCE ... [--count N] [--timeout TIME]\n"
    "  run FILE\n"
    "Signal options work on every line (--input 0=1kHz, --di A=0x0F, --di-square A5=100Hz,\n"
    "--loopback A:B) and stay set on the board. --device N switches the open device;\n"
    "--vcd FILE on a line records that command as a waveform.\n"
    "  help [COMMAND]   this text, or the options of a command (help dio write)\n"
    "  exit, quit       leave (Ctrl-D too)\n"
    "Outputs and counters keep running between commands until 'reset' or exit.\n";

std::string Trim(const std::string& text) {
  const std::size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return {};
  const std::size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(start, end - start + 1);
}

// Ends a recording of the shell or a run file: its file written, or exit
// code 1 when it could not be.
int Finished(const std::unique_ptr<WaveRecording>& recording, int status) {
  if (recording != nullptr && !recording->Finish() && status == kExitOk) return kExitDevice;
  return status;
}

// Editors on other systems (Notepad) start a UTF-8 file with a byte-order
// mark; it belongs to the file, not to the first command.
void DropByteOrderMark(std::string& line) {
  constexpr const char kMark[] = "\xEF\xBB\xBF";
  if (line.rfind(kMark, 0) == 0) line.erase(0, sizeof kMark - 1);
}

// The text of a UTF-16LE file (after its mark) as UTF-8; a lone surrogate
// or a final odd byte becomes U+FFFD.
std::string Utf16ToUtf8(const std::string& bytes) {
  std::string text;
  auto put = [&text](std::uint32_t c) {
    if (c < 0x80) {
      text += static_cast<char>(c);
    } else if (c < 0x800) {
      text += static_cast<char>(0xC0 | (c >> 6));
      text += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      text += static_cast<char>(0xE0 | (c >> 12));
      text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      text += static_cast<char>(0xF0 | (c >> 18));
      text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (c & 0x3F));
    }
  };
  auto unit = [&bytes](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
  };
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    const std::uint32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size()) {
      const std::uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        put(0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    put(c >= 0xD800 && c < 0xE000 ? 0xFFFD : c);
  }
  if (i < bytes.size()) put(0xFFFD);
  return text;
}

// A command file as a stream of UTF-8 lines: Windows PowerShell writes
// redirected text as UTF-16LE with the mark FF FE.
std::unique_ptr<std::istream> CommandLines(std::ifstream& file) {
  if (file.peek() == 0xFF) {
    file.get();
    if (file.peek() == 0xFE) {
      file.get();
      const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
      return std::make_unique<std::istringstream>(Utf16ToUtf8(bytes));
    }
    file.unget();
  }
  return nullptr;
}

enum class LineKind { Empty, Exit, Help, Command };

LineKind Classify(const std::string& line, std::string& helpTopic) {
  if (line.empty() || line[0] == '#') return LineKind::Empty;
  if (line == "exit" || line == "quit") return LineKind::Exit;
  if (line == "help" || line == "?") {
    helpTopic.clear();
    return LineKind::Help;
  }
  if (line.rfind("help ", 0) == 0) {
    helpTopic = Trim(line.substr(5));
    return LineKind::Help;
  }
  return LineKind::Command;
}

// Ctrl-C at the prompt drops the line being typed and shows a fresh prompt;
// readline calls this when a signal interrupts its wait for a key.
int OnPromptSignal() {
  if (Interrupted()) {
    ClearInterrupt();
    rl_crlf();
    rl_replace_line("", 0);
    rl_on_new_line();
    rl_redisplay();
  }
  return 0;
}

// Whether the next line of a pipe or file is there already (or its end).
bool LineWaiting() {
  if (std::cin.rdbuf()->in_avail() > 0) return true;
  pollfd input{STDIN_FILENO, POLLIN, 0};
  return ::poll(&input, 1, 0) > 0;
}

// One line from a terminal (readline) or a pipe; false at the end. Waiting
// for a line is waiting outside the target: on the virtual clock the target
// goes on meanwhile (at no more than real speed), and the next command's
// first call attaches the shell again. A line that is there already is read
// without letting go, so that piped commands run as a run file does.
bool ReadLine(bool terminal, std::string& line) {
  if (terminal || !LineWaiting()) qio_target_detach_thread();
  if (terminal) {
    char* text = readline("qio5162> ");
    if (text == nullptr) return false;
    line = text;
    std::free(text);
    if (!Trim(line).empty()) add_history(line.c_str());
    return true;
  }
  return static_cast<bool>(std::getline(std::cin, line));
}

}  // namespace

int RunShell(const CommonOptions& options) {
  const bool terminal = isatty(STDIN_FILENO) != 0;
  Session session;
  std::unique_ptr<WaveRecording> recording;
  try {
    recording = StartRecording(session, options);
    session.Prepare(options, true);
  } catch (const UsageError& error) {
    return ReportUsageError(error.what(), "shell", "shell", options.json);
  } catch (const DeviceError& error) {
    return ReportDeviceError(error, options.json);
  }
  if (terminal) {
    std::cout << "qio5162 shell: device " << session.DeviceNumber() << " open ('help' lists the commands, "
              << "Ctrl-D leaves)\n";
    using_history();
    rl_signal_event_hook = OnPromptSignal;
  }
  LineContext context{&session, &options, 0};
  int status = kExitOk;
  std::string line;
  bool first = true;
  while (ReadLine(terminal, line)) {
    if (first && !terminal) DropByteOrderMark(line);
    first = false;
    line = Trim(line);
    std::string topic;
    switch (Classify(line, topic)) {
      case LineKind::Empty:
        continue;
      case LineKind::Exit:
        return Finished(recording, status);
      case LineKind::Help:
        std::cout << (topic.empty() ? std::string(kShellHelp) : HelpText(topic));
        std::cout.flush();
        continue;
      case LineKind::Command:
        break;
    }
    ClearInterrupt();
    status = RunLine(line, context);
    std::cout.flush();
    std::cerr.flush();
  }
  return Finished(recording, status);
}

int RunFile(const std::string& path, Session& session, const CommonOptions& options, int depth) {
  // A folder opens as a stream that reads nothing: it would run no line
  // and succeed.
  std::error_code ignored;
  const bool folder = std::filesystem::is_directory(path, ignored);
  std::ifstream file;
  if (!folder) file.open(path);
  if (folder || !file) {
    return ReportUsageError("cannot read command file '" + path + "'" + (folder ? ": it is a folder" : ""), "run FILE",
                            "run", options.json);
  }
  std::unique_ptr<WaveRecording> recording;
  try {
    recording = StartRecording(session, options);
    session.Prepare(options, false);
  } catch (const UsageError& error) {
    return ReportUsageError(error.what(), "run FILE", "run", options.json);
  } catch (const DeviceError& error) {
    return ReportDeviceError(error, options.json);
  }
  LineContext context{&session, &options, depth};
  const std::unique_ptr<std::istream> converted = CommandLines(file);
  std::istream& lines = converted != nullptr ? *converted : static_cast<std::istream&>(file);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (number == 1) DropByteOrderMark(line);
    line = Trim(line);
    std::string topic;
    const LineKind kind = Classify(line, topic);
    if (kind == LineKind::Empty) continue;
    if (kind == LineKind::Exit) break;
    if (kind == LineKind::Help) {
      std::cout << (topic.empty() ? std::string(kShellHelp) : HelpText(topic));
      continue;
    }
    if (!options.json) std::cout << "> " << line << "\n";
    std::cout.flush();
    const int status = RunLine(line, context);
    std::cout.flush();
    if (status != kExitOk) {
      std::cerr << path << ":" << number << ": '" << line << "' failed (exit code " << status << ")\n";
      return Finished(recording, status);
    }
    if (Interrupted()) {
      std::cerr << path << ":" << number << ": stopped by Ctrl-C\n";
      return Finished(recording, kExitDevice);
    }
  }
  return Finished(recording, kExitOk);
}

}  // namespace qio::tool
