// Tour steps of the digital I/O: port directions, writes read back through a
// loopback, masked, bit and multi-port calls, raw registers, and a DI
// interrupt event with its latched ports.
#include "ResultText.h"
#include "TraceView.h"
#include "Tour.h"
#include "Units.h"
#include "qio/platform/clock.h"
#include "qio5162/Zqs5162.h"

namespace qio::tool {
namespace {

constexpr unsigned kA = 0;
constexpr unsigned kB = 1;
constexpr unsigned kC = 2;

void SimCheck(int code, const char* what) {
  if (code != QIO_TARGET_OK) throw DeviceError(std::string(what) + ": " + qio_target_last_message());
}

std::uint8_t ReadByte(std::uint32_t h, unsigned port) {
  std::uint8_t value = 0;
  Check(DioReadPortByte(h, static_cast<std::uint16_t>(port), &value), "DioReadPortByte");
  return value;
}

std::uint8_t OutputByte(std::uint32_t h, unsigned port) {
  std::uint8_t value = 0;
  Check(DioGetCurrentDOByte(h, static_cast<std::uint16_t>(port), &value), "DioGetCurrentDOByte");
  return value;
}

std::string Verdict(bool matched) { return matched ? "matches" : "DOES NOT match"; }

}  // namespace

void TourDigitalIo(TourRun& tour) {
  const std::uint32_t h = tour.Handle();
  const std::uint16_t io = tour.session().BaseAddress();

  tour.Step("directions", [&] {
    Check(DioSetPortMode(h, kA, ZQS_DIR_OUTPUT), "DioSetPortMode");
    Check(DioSetPortMode(h, kB, ZQS_DIR_INPUT), "DioSetPortMode");
    Check(DioSetPortMode(h, kC, ZQS_DIR_LOW_IN_HIGH_OUT), "DioSetPortMode");
    std::uint16_t codes[3] = {};
    Check(DioGetConfig(h, codes, 3), "DioGetConfig");
    std::uint32_t masks[3] = {};
    std::uint32_t length = sizeof masks;
    Check(DeviceGetProperty(h, ZQS_PROPERTY_DIO_OUTPUT_MASKS, masks, &length), "DeviceGetProperty");
    std::uint16_t control = 0;
    Check(ReadPortByte(h, static_cast<std::uint16_t>(io + reg::kDirection), &control), "ReadPortByte");
    // Direction register bits set are inputs: bit 1 port B, bit 0 port C lines 0-3.
    const bool matched = codes[0] == 1 && codes[1] == 0 && codes[2] == 3 && masks[0] == 0xFF && masks[1] == 0 &&
                         masks[2] == 0xF0 && control == 0x03;
    StepOutcome outcome{matched,
                        Format("A out, B in, C in/out: DioGetConfig %u %u %u, output masks %s %s %s; the board's "
                               "direction register reads %s (expected 0x03)",
                               codes[0], codes[1], codes[2], Hex(masks[0]).c_str(), Hex(masks[1]).c_str(),
                               Hex(masks[2]).c_str(), Hex(control).c_str())};
    return outcome;
  });

  tour.Step("loopback", [&] {
    QioSimBoard* board = tour.Board();
    SimCheck(qio_sim_set_loopback(board, kA, kB), "loopback A:B");
    Check(DioWritePortByte(h, kA, 0xFF, 0x5A), "DioWritePortByte");
    const std::uint8_t pins = PinsOf(board, kA);
    const std::uint8_t readB = ReadByte(h, kB);
    const bool matched = pins == 0x5A && readB == 0x5A;
    return StepOutcome{matched, Format("DioWritePortByte(A, 0x5A) with A wired to B: A's pins %s, DioReadPortByte(B) "
                                       "%s; %s the written byte",
                                       Hex(pins).c_str(), Hex(readB).c_str(), Verdict(matched).c_str())};
  });

  tour.Step("masked write", [&] {
    Check(DioWritePortByte(h, kA, 0x0F, 0xFF), "DioWritePortByte");
    const std::uint8_t latch = OutputByte(h, kA);
    const std::uint8_t pins = PinsOf(tour.Board(), kA);
    const std::uint8_t readB = ReadByte(h, kB);
    const bool matched = latch == 0x5F && pins == 0x5F && readB == 0x5F;
    return StepOutcome{matched, Format("DioWritePortByte(A, mask 0x0F, 0xFF) on 0x5A: output %s, pins %s, B reads %s "
                                       "(expected 0x5F)",
                                       Hex(latch).c_str(), Hex(pins).c_str(), Hex(readB).c_str())};
  });

  tour.Step("bits", [&] {
    Check(DioWriteBit(h, kA, 7, 1), "DioWriteBit");
    Check(DioWriteBit(h, kA, 0, 0), "DioWriteBit");
    std::uint16_t bit7 = 0;
    std::uint16_t bit0 = 1;
    std::uint16_t out7 = 0;
    Check(DioReadBit(h, kB, 7, &bit7), "DioReadBit");
    Check(DioReadBit(h, kB, 0, &bit0), "DioReadBit");
    Check(DioGetCurrentDOBit(h, kA, 7, &out7), "DioGetCurrentDOBit");
    const std::uint8_t pins = PinsOf(tour.Board(), kA);
    const bool matched = bit7 == 1 && bit0 == 0 && out7 == 1 && pins == 0xDE;
    return StepOutcome{matched, Format("DioWriteBit(A, 7, 1), (A, 0, 0): pins %s (expected 0xDE); DioReadBit(B, 7) %u, "
                                       "(B, 0) %u; DioGetCurrentDOBit(A, 7) %u",
                                       Hex(pins).c_str(), bit7, bit0, out7)};
  });

  tour.Step("multi-port", [&] {
    QioSimBoard* board = tour.Board();
    SimCheck(qio_sim_set_di(board, kC, 0x0C), "DI levels of port C");
    Check(DioWritePortByte(h, kC, 0xF0, 0x90), "DioWritePortByte");
    Check(DioWritePortWord(h, kA, 0x00FF, 0x00A5), "DioWritePortWord");
    std::uint32_t mask = 0;
    std::uint32_t value = 0;
    Check(DioReadPortDword(h, kA, &mask, &value), "DioReadPortDword");
    std::uint8_t ports[3] = {};
    Check(DioReadDiPorts(h, 0, 3, ports), "DioReadDiPorts");
    std::uint8_t outputs[3] = {};
    Check(DioGetCurrentDoPortsState(h, 0, 3, outputs), "DioGetCurrentDoPortsState");
    const std::uint32_t expected = 0x9CA5A5;  // C: lines 4-7 latch 0x9, lines 0-3 pins 0xC; B = A by the loopback
    const std::uint32_t fromBytes = ports[0] | (ports[1] << 8) | (ports[2] << 16);
    const bool matched = mask == 0x00FFFFFF && value == expected && fromBytes == expected && outputs[0] == 0xA5 &&
                         outputs[2] == 0x90 && PinsOf(board, kC) == 0x9C;
    return StepOutcome{matched,
                       Format("C lines 4-7 <- 0x9, C pins 0-3 driven 0xC, DioWritePortWord(A, mask 0x00FF, 0xA5): "
                              "DioReadPortDword(A) %s (valid %s), DioReadDiPorts %s %s %s, outputs %s %s %s; "
                              "expected %s",
                              Hex(value, 6).c_str(), Hex(mask, 6).c_str(), Hex(ports[0]).c_str(),
                              Hex(ports[1]).c_str(), Hex(ports[2]).c_str(), Hex(outputs[0]).c_str(),
                              Hex(outputs[1]).c_str(), Hex(outputs[2]).c_str(), Hex(expected, 6).c_str())};
  });

  tour.Step("raw register", [&] {
    const auto portA = static_cast<std::uint16_t>(io + reg::PortData(kA));
    Check(WritePortByte(h, portA, 0x3C), "WritePortByte");
    std::uint16_t raw = 0;
    Check(ReadPortByte(h, portA, &raw), "ReadPortByte");
    const std::uint8_t readB = ReadByte(h, kB);
    const std::uint8_t shadow = OutputByte(h, kA);
    const std::uint8_t pins = PinsOf(tour.Board(), kA);
    Check(DioWritePortByte(h, kA, 0xFF, 0xA5), "DioWritePortByte");
    // A raw write bypasses the driver's record of the outputs.
    const bool matched = raw == 0x3C && pins == 0x3C && readB == 0x3C && shadow == 0xA5;
    return StepOutcome{matched, Format("WritePortByte(%s, 0x3C) on port A's data register: reads back %s, pins %s, "
                                       "B %s; the driver's output record stays %s",
                                       Hex(portA, 3).c_str(), Hex(raw).c_str(), Hex(pins).c_str(), Hex(readB).c_str(),
                                       Hex(shadow).c_str())};
  });
}

void TourDiEvent(TourRun& tour) {
  const std::uint32_t h = tour.Handle();
  tour.Step("DI event", [&] {
    QioSimBoard* board = tour.Board();
    SimCheck(qio_sim_set_loopback(board, -1, kB), "removing the loopback");
    Check(DioSetPortMode(h, kA, ZQS_DIR_INPUT), "DioSetPortMode");
    SimCheck(qio_sim_set_di(board, kA, 0x00), "DI levels of port A");
    SimCheck(qio_sim_set_di(board, kB, 0x3C), "DI levels of port B");
    constexpr std::uint16_t kType = ZQS_EVENT_DI(5);
    Check(DioEnableEventAndSpecifyDiPorts(h, kType, kB, 2), "DioEnableEventAndSpecifyDiPorts");
    std::uint16_t type = 0;
    do {
      Check(CheckEvent(h, &type, 0), "CheckEvent");
    } while (type != ZQS_EVENT_TIMEOUT && type != ZQS_EVENT_DEVICE_CLOSED);
    const std::uint64_t edge = platform::NowNs();
    SimCheck(qio_sim_set_di(board, kA, 0x20), "raising DI line 5");
    Check(CheckEvent(h, &type, 1000), "CheckEvent");
    const double latency = static_cast<double>(platform::NowNs() - edge) / 1e6;
    std::uint8_t latched[2] = {};
    if (type == kType) Check(DioGetLatestEventDiPortsState(h, kType, latched, 2), "DioGetLatestEventDiPortsState");
    Check(DioDisableEvent(h, kType), "DioDisableEvent");
    const std::uint8_t pinsB = PinsOf(board, kB);
    const std::uint8_t pinsC = PinsOf(board, kC);
    const bool matched = type == kType && latched[0] == pinsB && latched[1] == pinsC;
    return StepOutcome{matched, Format("DI line 5 enabled latching B-C, then raised: CheckEvent %s (%s) after %.1f ms, "
                                       "latched B=%s C=%s; the pins show B=%s C=%s",
                                       EventTypeName(type).c_str(), Hex(type, 4).c_str(), latency,
                                       Hex(latched[0]).c_str(), Hex(latched[1]).c_str(), Hex(pinsB).c_str(),
                                       Hex(pinsC).c_str())};
  });
}

}  // namespace qio::tool
