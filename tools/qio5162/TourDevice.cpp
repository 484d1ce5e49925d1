// Tour steps about the device itself: the device list, the features record,
// the properties, the error codes of wrong calls and the final close.
#include <cstring>

#include "DeviceList.h"
#include "ResultText.h"
#include "TraceView.h"
#include "Tour.h"
#include "Units.h"
#include "qio5162/Zqs5162.h"

namespace qio::tool {
namespace {

std::uint32_t PropertyU32(std::uint32_t h, std::uint16_t id) {
  std::uint32_t value = 0;
  std::uint32_t length = sizeof value;
  Check(DeviceGetProperty(h, id, &value, &length), "DeviceGetProperty");
  return value;
}

std::string Utf16(const std::uint8_t* data, std::size_t units) {
  std::string text;
  for (std::size_t i = 0; i < units && (data[2 * i] | data[2 * i + 1]) != 0; ++i) text += static_cast<char>(data[2 * i]);
  return text;
}

}  // namespace

void TourDevices(TourRun& tour) {
  Session& session = tour.session();
  tour.Step("device list", [&] {
    StepOutcome outcome;
    for (const BoardEntry& board : ReadDeviceList()) {
      if (board.number != session.DeviceNumber()) continue;
      const std::string expectedName =
          Format("QIO-5162 IO=%xH IRQ=%u", static_cast<unsigned>(board.baseAddress.value_or(0)),
                 static_cast<unsigned>(board.irq.value_or(0)));
      outcome.matched = board.boardId == 166 && board.name == expectedName && !board.callName.empty() &&
                        board.baseAddress == session.BaseAddress() && board.irq == session.Irq();
      outcome.text = Format("device %u \"%s\", board id %u, stream %s, base %s, IRQ %u", board.number,
                            board.name.c_str(), static_cast<unsigned>(board.boardId), board.callName.c_str(),
                            Hex(board.baseAddress.value_or(0), 3).c_str(), static_cast<unsigned>(board.irq.value_or(0)));
      outcome.text += outcome.matched ? "; the name, base and IRQ agree with the library's properties"
                                      : "; does not agree with the library's properties (base " +
                                            Hex(session.BaseAddress(), 3) + ", IRQ " + std::to_string(session.Irq()) + ")";
      return outcome;
    }
    outcome.text = "device " + std::to_string(session.DeviceNumber()) + " is not in the shared device list";
    return outcome;
  });

  tour.Step("features", [&] {
    std::uint8_t features[ZQS_FEATURES_SIZE] = {};
    Check(DeviceGetFeatures(tour.Handle(), features, sizeof features), "DeviceGetFeatures");
    const std::string version = Utf16(features, 8);
    const std::string file = Utf16(features + 16, 16);
    std::uint32_t boardId = 0;
    std::memcpy(&boardId, features + 48, 4);
    const unsigned doChannels = features[58] | (features[59] << 8);
    const unsigned diChannels = features[60] | (features[61] << 8);
    const std::uint32_t diProperty = PropertyU32(tour.Handle(), ZQS_PROPERTY_DI_CHANNELS);
    const std::uint32_t doProperty = PropertyU32(tour.Handle(), ZQS_PROPERTY_DO_CHANNELS);
    StepOutcome outcome;
    outcome.matched = version == "Ver 2.1" && file == "Zqs5162.dll" && boardId == 166 && diChannels == 24 &&
                      doChannels == 24 && diProperty == diChannels && doProperty == doChannels;
    outcome.text = Format("DeviceGetFeatures: \"%s\", %s, board id %u, %u DI and %u DO channels "
                          "(properties say %u and %u)",
                          version.c_str(), file.c_str(), static_cast<unsigned>(boardId), diChannels, doChannels,
                          static_cast<unsigned>(diProperty), static_cast<unsigned>(doProperty));
    return outcome;
  });

  tour.Step("properties", [&] {
    const std::uint32_t h = tour.Handle();
    const std::uint32_t number = PropertyU32(h, ZQS_PROPERTY_DEVICE_NUMBER);
    const std::uint32_t base = PropertyU32(h, ZQS_PROPERTY_BASE_ADDRESS);
    const std::uint32_t irq = PropertyU32(h, ZQS_PROPERTY_IRQ);
    float limits[4] = {};
    std::uint32_t length = sizeof limits;
    Check(DeviceGetProperty(h, ZQS_PROPERTY_PWM_LIMITS, limits, &length), "DeviceGetProperty");
    const bool board = qio_target_board(session.Target(), static_cast<std::uint16_t>(base)) != nullptr;
    StepOutcome outcome;
    outcome.matched = number == session.DeviceNumber() && board && length == 16 && Near(limits[0], 0.0005, 1e-6) &&
                      limits[1] == 60.0f && Near(limits[2], 0.0005, 1e-6) && limits[3] == 60.0f;
    outcome.text = Format("device number %u, base %s (the board model sits %s), IRQ %u, PWM period %g..%g s, "
                          "high time %g..%g s",
                          static_cast<unsigned>(number), Hex(base, 3).c_str(), board ? "there" : "elsewhere",
                          static_cast<unsigned>(irq), limits[0], limits[1], limits[2], limits[3]);
    return outcome;
  });
}

void TourErrors(TourRun& tour) {
  const std::uint32_t h = tour.Handle();
  const std::uint32_t base = tour.ErrorBase();
  const std::uint16_t io = tour.session().BaseAddress();
  std::uint32_t window = reg::kWindow;
  for (const BoardEntry& board : ReadDeviceList()) {
    if (board.number == tour.session().DeviceNumber() && board.ioPortCount) window = *board.ioPortCount;
  }
  const auto end = static_cast<std::uint16_t>(io + window);
  tour.ExpectCode("error: bit", "DioWriteBit(port A, bit 8)", DioWriteBit(h, 0, 8, 1), base + ZQS_LOW_ARGUMENT);
  tour.ExpectCode("error: port", "DioReadPortByte(port 3)", [&] {
    std::uint8_t value = 0;
    return DioReadPortByte(h, 3, &value);
  }(), base + ZQS_LOW_RANGE);
  tour.ExpectCode("error: counter", "CounterFreqStart(counter 1)", CounterFreqStart(h, 1, 0, 0),
                  base + ZQS_LOW_RANGE);
  tour.ExpectCode("error: period", "CounterPulseStart(period 60 s)", CounterPulseStart(h, 0, 60.0f, 0, 0),
                  base + ZQS_LOW_PARAMETER);
  tour.ExpectCode("error: divisor", "FreqOutStart(divisor 17)", FreqOutStart(h, 0, 17, ZQS_FREQOUT_SOURCE(4)),
                  base + ZQS_LOW_PARAMETER);
  const std::uint32_t first = CounterEventStart(h, 0, 0);
  const std::uint32_t busy = CounterEventStart(h, 0, 0);
  CounterReset(h, 0);
  tour.ExpectCode("error: busy", first == 0 ? "CounterEventStart twice on counter 0" : "CounterEventStart(counter 0)",
                  first == 0 ? busy : first, base + ZQS_LOW_BUSY);
  tour.ExpectCode("error: event", "EnableEvent(type 0x3418)", EnableEvent(h, 0x3418, 1, 1), base + ZQS_LOW_EVENT_TYPE);
  tour.ExpectCode("error: property", "DeviceGetProperty(0x1234)", [&] {
    std::uint32_t value = 0;
    std::uint32_t length = sizeof value;
    return DeviceGetProperty(h, 0x1234, &value, &length);
  }(), base + ZQS_LOW_PROPERTY);
  tour.ExpectCode("error: window", Format("ReadPortByte(%s, past the window)", Hex(end + 1u, 3).c_str()), [&] {
    std::uint16_t value = 0;
    return ReadPortByte(h, static_cast<std::uint16_t>(end + 1), &value);
  }(), ZQS_ERROR_PORT_WINDOW);
  // The library lets the window's end through; the driver refuses it.
  tour.ExpectCode("error: driver", Format("ReadPortByte(%s, the window's end)", Hex(end, 3).c_str()), [&] {
    std::uint16_t value = 0;
    return ReadPortByte(h, end, &value);
  }(), base + ZQS_LOW_OUTSIDE_WINDOW);
  tour.ExpectCode("error: PWM", "CounterPWMEnable(counter 0) before any setting", CounterPWMEnable(h, 0),
                  base + ZQS_LOW_ARGUMENT);
  tour.ExpectCode("error: device", "DeviceOpen(device 200, not configured)", [] {
    std::uint32_t other = 0;
    const std::uint32_t result = DeviceOpen(200, &other);
    if (other != 0) DeviceClose(&other);
    return result;
  }(), ZQS_ERROR_CONFIGURATION);
}

void TourClose(TourRun& tour) {
  tour.Step("close", [&] {
    const std::uint32_t handle = tour.Handle();
    tour.session().CloseDevice();
    const std::uint32_t stale = CounterReset(handle, 0);
    StepOutcome outcome;
    outcome.matched = stale == ZQS_ERROR_HANDLE;
    outcome.text = "DeviceClose; the closed handle then gives " + DescribeResult(stale) +
                   (outcome.matched ? "" : ", expected 3");
    return outcome;
  });
}

}  // namespace qio::tool
