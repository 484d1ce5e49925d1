// The hosted target and the open device that commands work on. A one-shot
// command boots, opens, runs and tears down; the shell keeps one Session
// across its commands.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "WaveRecording.h"
#include "qio5162/target.h"

namespace qio::tool {

// Options every command accepts.
struct CommonOptions {
  std::string registryFile;  // empty: the shipped default registry
  std::string device;  // --device N; empty: the session's device, else 0
  bool json = false;
  std::vector<std::string> inputs;     // --input 0=1kHz,duty=25
  std::vector<std::string> diLevels;   // --di A=0x0F
  std::vector<std::string> diSquares;  // --di-square 5=100Hz
  std::vector<std::string> loopbacks;  // --loopback A:B
  std::string vcdFile;                 // --vcd FILE: record the run as a waveform
  bool vcdBits = false;                // --vcd-bits: vectors as one wire per bit
  bool virtualTime = false;            // --virtual-time: boot the target on the virtual clock
};

class Session {
 public:
  Session() = default;
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Boots the target once: from the registry file (bare) or the default, on
  // the virtual clock if asked. Throws DeviceError when it does not boot,
  // UsageError for an unreadable file or a different registry or clock on a
  // booted session.
  void Boot(const std::string& registryFile, bool virtualTime = false);
  // Opens device `number` (closing another one the session had open), finds
  // its simulated board and applies the signals of the options.
  void Open(unsigned number);
  // Parses and applies the simulated signals (needs an open device).
  void ApplySignals(const CommonOptions& options);
  // Boot + open + signals, as a command needs them.
  void Prepare(const CommonOptions& options, bool needDevice);
  void CloseDevice();
  void Shutdown();

  bool Booted() const { return target_ != nullptr; }
  bool VirtualTime() const { return virtualTime_; }
  bool IsOpen() const { return handle_ != 0; }
  QioTarget* Target() const { return target_; }
  std::uint32_t Handle() const { return handle_; }
  unsigned DeviceNumber() const { return deviceNumber_; }
  std::uint16_t BaseAddress() const { return baseAddress_; }
  unsigned Irq() const { return irq_; }
  // The simulated board of the open device; null when the device has none.
  QioSimBoard* Board() const { return board_; }
  // Throws DeviceError when the open device has no simulated board.
  QioSimBoard* RequireBoard() const;
  const std::string& RegistryFile() const { return registryFile_; }
  // What the device manager reported at boot.
  std::string BootReport() const;
  // The boot report's lines about boards that did not load (or load twice).
  std::vector<std::string> BootProblems() const;
  // The simulated board of a device number, open or not; null if none.
  QioSimBoard* BoardOfDevice(unsigned number) const;
  // The device number a command works on: --device, else the open one, else 0.
  unsigned DeviceFor(const CommonOptions& options) const;

 private:
  QioTarget* target_ = nullptr;
  std::string registryFile_;
  bool virtualTime_ = false;
  std::uint32_t handle_ = 0;
  unsigned deviceNumber_ = 0;
  std::uint16_t baseAddress_ = 0;
  unsigned irq_ = 0;
  QioSimBoard* board_ = nullptr;
};

// The device number used when --device is not given.
inline constexpr unsigned kDefaultDevice = 0;

// Starts the --vcd recording of a run (none without --vcd): boots the target
// if need be; the device need not be open yet, so that its open and the
// signals show in the waveform. Throws DeviceError when the device has no
// simulated board, UsageError when the file cannot be written.
std::unique_ptr<WaveRecording> StartRecording(Session& session, const CommonOptions& options);

}  // namespace qio::tool
