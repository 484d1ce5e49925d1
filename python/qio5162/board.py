"""A simulated board of a hosted target: its input pins driven, its outputs read."""

import ctypes
from collections import namedtuple

from . import constants as c
from . import convert as cv
from . import _native as n

PortAccess = namedtuple("PortAccess", "time_ns offset width is_write value")
PortAccess.__doc__ = """One register access: platform clock time, offset from the I/O base, width in
bytes, whether it was a write, and the value."""

PinChange = namedtuple("PinChange", "time_ns value")
PinChange.__doc__ = "One change of a pin: the platform clock time and the pin's value from then on."

PinListing = namedtuple("PinListing", "value_at_from count not_listed first_not_listed_ns")
PinListing.__doc__ = """What a listing of :meth:`Board.list_edges` covered: the value at the span's
start, the changes listed, the changes left out and the first of them (``None`` when none)."""

_NEVER = 0xFFFFFFFFFFFFFFFF
_TRACE_CHUNK = 4096
# list_edges without a capacity lists at most this many changes (16 bytes each).
_EDGE_LIMIT = 1000000

PIN_NAMES = {
    "CLK0": c.PIN_CLK0, "CLK1": c.PIN_CLK1, "OUT0": c.PIN_OUT0, "OUT1": c.PIN_OUT1,
    "FOUT0": c.PIN_FOUT0, "FOUT1": c.PIN_FOUT1, "A": c.PIN_PORT_A, "B": c.PIN_PORT_B, "C": c.PIN_PORT_C,
}
WIRE_NAMES = {"OUT0": c.WIRE_OUT0, "OUT1": c.WIRE_OUT1, "FOUT0": c.WIRE_FOUT0, "FOUT1": c.WIRE_FOUT1}


def _named(value, names, what):
    if isinstance(value, str):
        key = value.strip().upper()
        if key in names:
            return names[key]
        raise ValueError("%s %r: use one of %s or a number" % (what, value, ", ".join(names)))
    return cv.u32(value, what)


def _optional_ns(value):
    return None if value == _NEVER else value


class Board:
    """The board model behind a base address or device number (:meth:`Target.board`,
    :meth:`Target.board_of`).

    Every ``qio_sim_*`` function of ``target.h`` is a method named without the prefix
    (``qio_sim_set_counter_input`` -> :meth:`set_counter_input`). A failure raises
    :class:`TargetError` with the harness's reason; after the target's shutdown every method
    raises :class:`TargetClosedError`. Frequencies are in hertz, times in nanoseconds of the
    platform clock.
    """

    def __init__(self, target, pointer, io_base=None):
        self._target = target
        self._pointer = pointer
        self.io_base = io_base

    def __repr__(self):
        where = "0x%X" % self.io_base if self.io_base is not None else "?"
        return "<qio5162.Board at %s%s>" % (where, "" if self._target.running else ", target shut down")

    def __eq__(self, other):
        return isinstance(other, Board) and other._target is self._target and other._pointer == self._pointer

    def __hash__(self):
        return hash((id(self._target), self._pointer))

    def _call(self, name, *args):
        return self._target._harness_call(name, self._pointer, *args)

    # ---- stimuli -----------------------------------------------------------------
    def set_counter_input(self, counter, hz, duty_percent=50.0):
        """CLKn: a square wave of `hz` (duty 1 to 99 %); 0 Hz holds it low."""
        self._call("qio_sim_set_counter_input", cv.u32(counter, "counter"), cv.finite(hz, "frequency"),
                   cv.finite(duty_percent, "duty"))

    def set_counter_input_ex(self, counter, hz, duty_percent, phase):
        """As :meth:`set_counter_input`, starting at `phase` (0 to 1 of a period) now."""
        self._call("qio_sim_set_counter_input_ex", cv.u32(counter, "counter"), cv.finite(hz, "frequency"),
                   cv.finite(duty_percent, "duty"), cv.finite(phase, "phase"))

    def set_counter_level(self, counter, level):
        """CLKn held at a constant level, 0 or 1."""
        self._call("qio_sim_set_counter_level", cv.u32(counter, "counter"), 1 if level else 0)

    def wire_counter_input(self, counter, source):
        """CLKn wired to an output pin: ``"OUT0"``, ``"OUT1"``, ``"FOUT0"``, ``"FOUT1"`` (or ``WIRE_*``)."""
        self._call("qio_sim_wire_counter_input", cv.u32(counter, "counter"), _named(source, WIRE_NAMES, "source"))

    def set_di(self, port, levels):
        """Drives the 8 input pins of a port (``"A"`` to ``"C"``) at constant levels."""
        self._call("qio_sim_set_di", cv.port(port), cv.u8(levels, "levels"))

    def set_di_square(self, line, hz):
        """A square wave (50 % duty) on a DI line (``"B1"`` or channel 9); 0 Hz stops it."""
        self._call("qio_sim_set_di_square", cv.channel(line), cv.finite(hz, "frequency"))

    def set_loopback(self, from_port, to_port):
        """Port `to_port`'s pins follow port `from_port`'s output latch; `from_port` ``None`` (or -1)
        removes the wiring of `to_port`."""
        source = -1 if from_port is None or from_port == -1 else cv.port(from_port, "from port")
        self._call("qio_sim_set_loopback", source, cv.port(to_port, "to port"))

    # ---- outputs -----------------------------------------------------------------
    def get_pins(self, port):
        """What the connector shows on a port: inputs as driven, outputs as latched."""
        levels = n.u8()
        self._call("qio_sim_get_pins", cv.port(port), ctypes.byref(levels))
        return levels.value

    def get_output(self, counter):
        """OUTn as ``(hz, high_seconds)`` while periodic, ``(0.0, 0.0)`` otherwise."""
        hz, high = n.f64(), n.f64()
        self._call("qio_sim_get_output", cv.u32(counter, "counter"), ctypes.byref(hz), ctypes.byref(high))
        return hz.value, high.value

    def get_output_level(self, counter):
        """The present level of OUTn, 0 or 1."""
        level = ctypes.c_int()
        self._call("qio_sim_get_output_level", cv.u32(counter, "counter"), ctypes.byref(level))
        return level.value

    def get_freqout(self, generator):
        """FOUTn's frequency in hertz, 0.0 when stopped."""
        hz = n.f64()
        self._call("qio_sim_get_freqout", cv.u32(generator, "generator"), ctypes.byref(hz))
        return hz.value

    # ---- register trace ------------------------------------------------------------
    def trace_enable(self, on=True):
        """Switches the register-access trace on or off."""
        self._call("qio_sim_trace_enable", 1 if on else 0)

    def trace_read(self, capacity=None):
        """Takes the recorded register accesses, oldest first, as :class:`PortAccess` tuples: at
        most `capacity` of them, or all (``None``)."""
        accesses = []
        while capacity is None or len(accesses) < capacity:
            room = _TRACE_CHUNK if capacity is None else min(_TRACE_CHUNK, capacity - len(accesses))
            buffer = (n.PortAccess * room)()
            count = ctypes.c_size_t()
            self._call("qio_sim_trace_read", buffer, room, ctypes.byref(count))
            accesses.extend(PortAccess(a.timeNs, a.offset, a.width, bool(a.isWrite), a.value)
                            for a in buffer[: count.value])
            if count.value < room:
                break
        return accesses

    # ---- pin history --------------------------------------------------------------
    def record_pins(self, max_changes_per_pin):
        """Keeps each pin's changes from now on, at most `max_changes_per_pin` per pin; 0 switches
        the history off."""
        self._call("qio_sim_record_pins", cv.unsigned(max_changes_per_pin, 64, "maximum"))

    def list_edges(self, pin, from_ns, to_ns, capacity=None):
        """The changes of `pin` (``"CLK0"``, ``"OUT1"``, ``"A"``... or ``PIN_*``) in the span
        (`from_ns`, `to_ns`] of the platform clock, as ``(changes, listing)``: a list of
        :class:`PinChange` and a :class:`PinListing`. `capacity` ``None`` lists them all, up to a
        million (a 20 MHz input has 40 million in a second); the listing tells what was left out."""
        pin = _named(pin, PIN_NAMES, "pin")
        start = cv.unsigned(from_ns, 64, "start")
        end = cv.unsigned(to_ns, 64, "end")
        listing = n.PinListing()
        if capacity is None:
            self._call("qio_sim_list_edges", pin, start, end, None, 0, ctypes.byref(listing))
            room = min(listing.notListed, _EDGE_LIMIT)
        else:
            room = cv.unsigned(capacity, 32, "capacity")
        buffer = (n.PinChange * max(room, 1))()
        self._call("qio_sim_list_edges", pin, start, end, buffer, room, ctypes.byref(listing))
        changes = [PinChange(ch.timeNs, ch.value) for ch in buffer[: listing.count]]
        return changes, PinListing(listing.valueAtFrom, listing.count, listing.notListed,
                                   _optional_ns(listing.firstNotListedNs))

    def next_terminal_count(self, counter):
        """``(counting, next_ns)``: whether the counter block is armed and has not run to its final
        terminal count, and when its next terminal count falls due (``None``: none will come)."""
        counting, when = ctypes.c_int(), n.u64()
        self._call("qio_sim_next_terminal_count", cv.u32(counter, "counter"), ctypes.byref(counting),
                   ctypes.byref(when))
        return bool(counting.value), _optional_ns(when.value)
