"""Arguments as people write them: ports, lines, directions, generator sources.

The converters refuse what the C functions would silently misread (a port of
70000 would reach a 16-bit argument as 4464) with ``ValueError`` or
``TypeError`` before anything is called; numbers inside the C type's range go
through unchanged, so the library's own checks (and result codes) decide.
"""

import math
import numbers

from . import constants as c

PORT_NAMES = ("A", "B", "C")

DIRECTIONS = {
    "in": c.DIR_INPUT,
    "out": c.DIR_OUTPUT,
    "in/out": c.DIR_LOW_IN_HIGH_OUT,
    "out/in": c.DIR_LOW_OUT_HIGH_IN,
}
DIRECTION_NAMES = {code: name for name, code in DIRECTIONS.items()}

SOURCES = {
    "10mhz": c.SOURCE_10MHZ,
    "1mhz": c.SOURCE_1MHZ,
    "100khz": c.SOURCE_100KHZ,
    "10khz": c.SOURCE_10KHZ,
    "1khz": c.SOURCE_1KHZ,
}


def unsigned(value, bits, what):
    """`value` as an integer of at most `bits` bits; ValueError or TypeError otherwise."""
    if isinstance(value, bool):
        value = int(value)
    elif not isinstance(value, numbers.Integral):
        raise TypeError("%s must be an integer, not %s" % (what, type(value).__name__))
    value = int(value)
    if value < 0 or value >> bits:
        raise ValueError("%s %d does not fit in %d bits (0 to %d)" % (what, value, bits, (1 << bits) - 1))
    return value


def u8(value, what):
    """An 8-bit argument."""
    return unsigned(value, 8, what)


def u16(value, what):
    """A 16-bit argument."""
    return unsigned(value, 16, what)


def u32(value, what):
    """A 32-bit argument."""
    return unsigned(value, 32, what)


def real(value, what):
    """A float argument (seconds, hertz, percent); NaN goes through for the library to refuse."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError("%s must be a number, not %s" % (what, type(value).__name__))
    return float(value)


def finite(value, what):
    """A float argument that must be finite (the harness's stimuli)."""
    value = real(value, what)
    if not math.isfinite(value):
        raise ValueError("%s must be finite, not %r" % (what, value))
    return value


def port(value, what="port"):
    """A DIO port: ``"A"``, ``"B"``, ``"C"`` (any case) or a number (0 = A)."""
    if isinstance(value, str):
        name = value.strip().upper()
        if name in PORT_NAMES:
            return PORT_NAMES.index(name)
        raise ValueError("%s %r: use 'A', 'B', 'C' or 0 to 2" % (what, value))
    return u16(value, what)


def channel(line):
    """A DI/DO line as its channel 0 to 23: ``"B1"`` (port and bit) or the channel number itself."""
    if isinstance(line, str):
        text = line.strip().upper()
        if len(text) == 2 and text[0] in PORT_NAMES and text[1] in "01234567":
            return PORT_NAMES.index(text[0]) * 8 + int(text[1])
        raise ValueError("line %r: use a port and a bit such as 'B1', or a channel 0 to 23" % (line,))
    value = unsigned(line, 32, "channel")
    if value > 23:
        raise ValueError("channel %d: the board has channels 0 to 23" % value)
    return value


def line_name(channel_number):
    """The line of a channel in port-and-bit notation: 9 -> ``"B1"``."""
    if not 0 <= channel_number <= 23:
        raise ValueError("channel %r: the board has channels 0 to 23" % (channel_number,))
    return "%s%d" % (PORT_NAMES[channel_number // 8], channel_number % 8)


def di_event(line):
    """The event type of a DI line: ``di_event("B1") == 0x3409``."""
    return c.EVENT_DI_FIRST + channel(line)


def direction(value):
    """A direction code: ``"in"``, ``"out"``, ``"in/out"`` (lines 0-3 in, 4-7 out), ``"out/in"`` or a code."""
    if isinstance(value, str):
        key = value.strip().lower().replace(" ", "")
        if key in DIRECTIONS:
            return DIRECTIONS[key]
        raise ValueError("direction %r: use 'in', 'out', 'in/out' or 'out/in'" % (value,))
    return u16(value, "direction")


def source(value):
    """A generator source for freq_out_start: ``"1MHz"`` ... or the shifted code (``SOURCE_1MHZ``)."""
    if isinstance(value, str):
        key = value.strip().lower().replace(" ", "")
        if key in SOURCES:
            return SOURCES[key]
        raise ValueError("source %r: use '10MHz', '1MHz', '100kHz', '10kHz' or '1kHz'" % (value,))
    return u16(value, "source")


def counter(value):
    """A counter number (0 or 1 on this board; others go to the library, which refuses them)."""
    return u16(value, "counter")


def event_type(value, bits=16):
    """An event type: a number, or a DI line such as ``"B1"`` (its DI event)."""
    if isinstance(value, str):
        return di_event(value)
    return unsigned(value, bits, "event type")
