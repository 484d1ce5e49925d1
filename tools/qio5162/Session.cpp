#include "Session.h"

#include "Output.h"
#include "ResultText.h"
#include "Units.h"
#include "qio5162/Zqs5162.h"

namespace qio::tool {
namespace {

std::string TargetMessage(const char* what, int code) {
  const char* message = qio_target_last_message();
  std::string text = std::string(what) + " failed (target code " + std::to_string(code) + ")";
  if (message != nullptr && *message != '\0') text += ": " + std::string(message);
  return text;
}

void CheckSim(int code, const char* what) {
  if (code != QIO_TARGET_OK) throw DeviceError(TargetMessage(what, code));
}

std::uint32_t PropertyU32(std::uint32_t handle, std::uint16_t id, const char* call) {
  std::uint32_t value = 0;
  std::uint32_t length = sizeof value;
  Check(DeviceGetProperty(handle, id, &value, &length), call);
  return value;
}

}  // namespace

Session::~Session() { Shutdown(); }

void Session::Boot(const std::string& registryFile, bool virtualTime) {
  if (target_ != nullptr) {
    if (registryFile != registryFile_ && !registryFile.empty()) {
      throw UsageError("the target is booted already (from " +
                       (registryFile_.empty() ? std::string("the default registry") : registryFile_) +
                       "); --registry is given once, to the shell or the command");
    }
    if (virtualTime && !virtualTime_) {
      throw UsageError("the target is booted already, on the real clock; --virtual-time is given once, to the "
                       "shell or the run");
    }
    return;
  }
  const unsigned clock = virtualTime ? QIO_TARGET_VIRTUAL_TIME : 0u;
  int code = 0;
  QioTarget* target = nullptr;
  if (registryFile.empty()) {
    code = qio_target_boot_ex(nullptr, clock, &target);
  } else {
    const char* const paths[] = {registryFile.c_str()};
    code = qio_target_boot_files(paths, 1, QIO_TARGET_BARE | clock, &target);
    if (code == QIO_TARGET_E_FILE) throw UsageError(qio_target_last_message());
  }
  if (code != QIO_TARGET_OK || target == nullptr) throw DeviceError(TargetMessage("booting the target", code));
  target_ = target;
  registryFile_ = registryFile;
  virtualTime_ = virtualTime;
}

void Session::Open(unsigned number) {
  if (handle_ != 0 && number == deviceNumber_) return;
  CloseDevice();
  std::uint32_t handle = 0;
  const std::uint32_t opened = DeviceOpen(number, &handle);
  if (opened != 0) {
    DeviceError error("DeviceOpen", opened);
    const std::vector<std::string> problems = BootProblems();
    if (opened == ZQS_ERROR_CONFIGURATION && !problems.empty()) {
      error.Hint("the boot report tells what did not load:");
      for (const std::string& line : problems) error.Hint("  " + line);
    }
    throw error;
  }
  handle_ = handle;
  deviceNumber_ = number;
  try {
    baseAddress_ = static_cast<std::uint16_t>(PropertyU32(handle_, ZQS_PROPERTY_BASE_ADDRESS, "DeviceGetProperty"));
    irq_ = PropertyU32(handle_, ZQS_PROPERTY_IRQ, "DeviceGetProperty");
  } catch (...) {
    CloseDevice();
    throw;
  }
  board_ = BoardOfDevice(number);
}

QioSimBoard* Session::BoardOfDevice(unsigned number) const {
  QioSimBoard* board = nullptr;
  if (target_ == nullptr || qio_target_board_of_device(target_, number, &board) != QIO_TARGET_OK) return nullptr;
  return board;
}

unsigned Session::DeviceFor(const CommonOptions& options) const {
  if (!options.device.empty()) return static_cast<unsigned>(ParseUnsigned(options.device, 254, "device number"));
  return handle_ != 0 ? deviceNumber_ : kDefaultDevice;
}

QioSimBoard* Session::RequireBoard() const {
  if (board_ == nullptr) {
    throw DeviceError("device " + std::to_string(deviceNumber_) + " has no simulated board at " +
                      Hex(baseAddress_, 3));
  }
  return board_;
}

void Session::ApplySignals(const CommonOptions& options) {
  // Parse everything first, so that a mistake changes nothing.
  std::vector<CounterInputSpec> inputs;
  std::vector<DiLevelSpec> levels;
  std::vector<DiSquareSpec> squares;
  std::vector<LoopbackSpec> loops;
  for (const std::string& text : options.inputs) inputs.push_back(ParseCounterInput(text));
  for (const std::string& text : options.diLevels) levels.push_back(ParseDiLevels(text));
  for (const std::string& text : options.diSquares) squares.push_back(ParseDiSquare(text));
  for (const std::string& text : options.loopbacks) loops.push_back(ParseLoopback(text));
  if (inputs.empty() && levels.empty() && squares.empty() && loops.empty()) return;
  QioSimBoard* board = RequireBoard();
  for (const LoopbackSpec& loop : loops) {
    CheckSim(qio_sim_set_loopback(board, static_cast<int>(loop.from), loop.to), "setting the loopback");
  }
  for (const DiLevelSpec& level : levels) {
    CheckSim(qio_sim_set_di(board, level.port, level.levels), "setting DI levels");
  }
  for (const DiSquareSpec& square : squares) {
    CheckSim(qio_sim_set_di_square(board, square.channel, square.hz), "setting a DI square wave");
  }
  for (const CounterInputSpec& input : inputs) {
    CheckSim(qio_sim_set_counter_input(board, input.counter, input.hz, input.dutyPercent),
             "setting a counter input");
  }
}

void Session::Prepare(const CommonOptions& options, bool needDevice) {
  Boot(options.registryFile, options.virtualTime);
  const bool signals = !options.inputs.empty() || !options.diLevels.empty() || !options.diSquares.empty() ||
                       !options.loopbacks.empty();
  if (!needDevice && !signals) return;
  if (!options.device.empty() || handle_ == 0) Open(DeviceFor(options));
  ApplySignals(options);
}

void Session::CloseDevice() {
  if (handle_ != 0) {
    std::uint32_t handle = handle_;
    DeviceClose(&handle);
    handle_ = 0;
    board_ = nullptr;
    baseAddress_ = 0;
    irq_ = 0;
  }
}

void Session::Shutdown() {
  CloseDevice();
  if (target_ != nullptr) {
    qio_target_shutdown(target_);
    target_ = nullptr;
  }
}

std::string Session::BootReport() const {
  if (target_ == nullptr) return {};
  std::size_t needed = 0;
  qio_target_boot_report(target_, nullptr, 0, &needed);
  if (needed == 0) return {};
  std::string text(needed, '\0');
  if (qio_target_boot_report(target_, text.data(), text.size(), &needed) != QIO_TARGET_OK) return {};
  text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
  return text;
}

std::vector<std::string> Session::BootProblems() const {
  const std::vector<std::string> lines = Split(BootReport(), '\n');
  // Keys the target plugged a board for ("board at 0x300 IRQ 5 for KEY"): a
  // key of these that the device manager skipped (a bad "Prefix", say) is a
  // board that did not load; other skipped keys are no boards at all.
  std::vector<std::string> boardKeys;
  for (const std::string& line : lines) {
    const std::size_t at = line.find(" for ");
    if (line.rfind("board at ", 0) == 0 && at != std::string::npos) boardKeys.push_back(line.substr(at + 5));
  }
  auto skippedBoard = [&boardKeys](const std::string& line) {
    if (line.rfind("skipped ", 0) != 0) return false;
    for (const std::string& key : boardKeys) {
      if (line.compare(8, key.size() + 2, key + ": ") == 0) return true;
    }
    return false;
  };
  std::vector<std::string> problems;
  for (const std::string& line : lines) {
    if (line.rfind("failed ", 0) == 0 || line.rfind("no board for ", 0) == 0 ||
        line.rfind("no second board for ", 0) == 0 || skippedBoard(line)) {
      problems.push_back(line);
    }
  }
  return problems;
}

std::unique_ptr<WaveRecording> StartRecording(Session& session, const CommonOptions& options) {
  if (options.vcdFile.empty()) {
    if (options.vcdBits) throw UsageError("--vcd-bits goes with --vcd FILE");
    return nullptr;
  }
  session.Boot(options.registryFile, options.virtualTime);
  const unsigned device = session.DeviceFor(options);
  QioSimBoard* board = session.BoardOfDevice(device);
  if (board == nullptr) {
    throw DeviceError("--vcd " + options.vcdFile + ": device " + std::to_string(device) +
                      " has no simulated board to record");
  }
  if (options.vcdBits && options.vcdFile.empty()) throw UsageError("--vcd-bits goes with --vcd FILE");
  return std::make_unique<WaveRecording>(options.vcdFile, board, "device " + std::to_string(device), options.vcdBits);
}

}  // namespace qio::tool
