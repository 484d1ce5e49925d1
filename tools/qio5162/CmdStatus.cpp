// status, and the busy refusals of the other commands: both read the driver's
// own state of the device through the harness, without opening it.
#include <array>
#include <optional>

#include "Commands.h"
#include "ResultText.h"
#include "StatusView.h"
#include "Units.h"
#include "qio5162/Zqs5162.h"

namespace qio::tool {

QioDriverState DeviceState(CommandContext& context) {
  return ReadDriverState(context.session.Target(), context.session.DeviceFor(context.common));
}

bool IsBusy(std::uint32_t code) { return code >= 0x1000 && ZQS_LOW_CODE(code) == ZQS_LOW_BUSY; }

void CheckStart(CommandContext& context, std::uint32_t code, const char* call, const Needs& needs) {
  if (code == 0) return;
  DeviceError error(call, code);
  if (IsBusy(code)) {
    try {
      for (std::string& hint : BusyHints(DeviceState(context), needs)) error.Hint(std::move(hint));
    } catch (const DeviceError&) {
      // Without the state the refusal still stands on its own.
    }
  }
  throw error;
}

void RunStatus(CommandContext& context) {
  Session& session = context.session;
  const unsigned device = session.DeviceFor(context.common);
  const QioDriverState state = ReadDriverState(session.Target(), device);
  std::optional<std::array<std::uint8_t, 3>> pins;
  if (QioSimBoard* board = session.BoardOfDevice(device)) {
    std::array<std::uint8_t, 3> levels{};
    bool read = true;
    for (unsigned p = 0; p < levels.size(); ++p) read = read && qio_sim_get_pins(board, p, &levels[p]) == QIO_TARGET_OK;
    if (read) pins = levels;
  }
  StatusReport report = DescribeStatus(state, device, pins);
  for (const std::string& line : report.lines) context.out.Line(line);
  report.data["oneShot"] = !context.persistent;
  context.out.Data() = std::move(report.data);
  if (!context.persistent) {
    context.out.Line(
        "note: a one-shot command starts from the booted target, so nothing runs yet; in 'qio5162 shell' or a "
        "'run' file, 'status' shows what the earlier commands left running");
  }
}

}  // namespace qio::tool
