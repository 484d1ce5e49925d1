"""An open device: one ``DeviceOpen`` of a device number, closed once."""

import ctypes
import struct
import threading
from dataclasses import dataclass, field

from . import constants as c
from . import convert as cv
from . import _native as n
from ._counters import CounterMethods
from ._dio import DioMethods
from ._events import EventMethods
from .errors import DeviceClosedError, ZqsError

# Property identifier: (name or None for the board family's reserved constants, shape).
_PROPERTIES = {
    0x0000: ("device_number", "u32"),
    0x0001: ("board_id", "u32"),
    0x0003: ("base_address", "u32"),
    0x0004: ("irq", "u32"),
    0x3004: ("dio_output_masks", "u32s"),
    0x3005: ("dio_port_groups", "bytes"),
    0x3006: ("dio_output_masks2", "u32s"),
    0x3C82: (None, "u32"),
    0x3C83: ("di_channels", "u32"),
    0x3C84: ("di_ports", "u32"),
    0x3C85: (None, "bytes"),
    0x3C86: (None, "bytes"),
    0x3C87: (None, "bytes"),
    0x3C8C: (None, "bytes"),
    0x4806: (None, "u32"),
    0x4807: ("do_channels", "u32"),
    0x4808: ("do_ports", "u32"),
    0x5001: (None, "u32s"),
    0x5002: (None, "u32"),
    0x5003: (None, "u32"),
    0x5004: (None, "u32"),
    0x5005: (None, "u32"),
    0x5006: ("counter_event_types", "u16s"),
    0x5008: ("pwm_limits", "limits"),
    0x5009: (None, "u32"),
    0x5010: (None, "u32s"),
    0x5011: (None, "u32s"),
}


def decode_property(identifier, data):
    """A property's bytes as a plain value: an int, a tuple of ints, or for ``PROPERTY_PWM_LIMITS``
    a dict of seconds; unknown identifiers stay bytes."""
    shape = _PROPERTIES.get(identifier, (None, "raw"))[1]
    if shape == "u32":
        return struct.unpack_from("<I", data)[0]
    if shape == "u32s":
        return struct.unpack("<%dI" % (len(data) // 4), data[: len(data) // 4 * 4])
    if shape == "u16s":
        return struct.unpack("<%dH" % (len(data) // 2), data[: len(data) // 2 * 2])
    if shape == "bytes":
        return tuple(data)
    if shape == "limits":
        period_min, period_max, high_min, high_max = struct.unpack_from("<4f", data)
        return {"period_min": period_min, "period_max": period_max,
                "high_time_min": high_min, "high_time_max": high_max}
    return bytes(data)


@dataclass(frozen=True)
class Features:
    """The 800-byte features record, decoded (:attr:`Device.features`)."""

    version: str  # "Ver 2.1"
    library_file: str  # "Zqs5162.dll"
    board_id: int  # 166
    do_channels: int  # 24
    di_channels: int  # 24
    do_ports: int  # do_channels // 8
    di_ports: int  # di_channels // 8
    raw: bytes = field(repr=False)  # the record as the library copied it

    @classmethod
    def decode(cls, record):
        """Decodes the record as :meth:`Device.device_get_features` returns it."""

        def text(start, size):
            return record[start : start + size].decode("utf-16-le").split("\0", 1)[0]

        board_id, = struct.unpack_from("<I", record, 48)
        do_channels, di_channels = struct.unpack_from("<HH", record, 58)
        return cls(text(0, 16), text(16, 32), board_id, do_channels, di_channels,
                   do_channels // 8, di_channels // 8, bytes(record))


class Device(DioMethods, CounterMethods, EventMethods):
    """A device number opened by :meth:`Target.open`; a context manager that closes it.

    Every function of ``Zqs5162.h`` that takes a driver handle is a method, named after it in
    snake_case (``DioReadPortByte`` -> :meth:`dio_read_port_byte`), without the handle, reserved
    arguments and output pointers: outputs are returned, a nonzero result raises
    :class:`ZqsError`. Methods may be called from several threads. After :meth:`close` every
    method raises :class:`DeviceClosedError`, except :meth:`check_event`, which reports
    ``EVENT_DEVICE_CLOSED``.

    Each ``Target.open`` is one open of the library: opens of one device number share the
    library's handle, and the device is torn down (and its counters reset by the driver) at the
    last close.
    """

    def __init__(self, target, device_number, handle):
        self._target = target
        self.device_number = device_number
        self._handle = handle
        self._closed = False
        self._close_lock = threading.Lock()

    # ---- lifetime ------------------------------------------------------------
    @property
    def handle(self):
        """The library's driver handle (0 once closed), for :func:`qio5162.driver_proc`."""
        return self._handle

    @property
    def closed(self):
        """Whether :meth:`close` has run."""
        return self._closed

    def close(self):
        """Closes this open (``DeviceClose``). The last close of a device number wakes every
        :meth:`check_event` waiting on it with ``EVENT_DEVICE_CLOSED`` and waits until each has
        returned. A second call does nothing."""
        with self._target._holding(self._close_lock):
            if self._closed:
                return
            self._closed = True
            handle = n.u32(self._handle)
            try:
                result = n.zqs().DeviceClose(ctypes.byref(handle))
            finally:
                self._handle = 0
                self._target._forget(self)
            if result != 0:
                raise ZqsError(result, "DeviceClose")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __repr__(self):
        state = "closed" if self._closed else "handle 0x%X" % self._handle
        return "<qio5162.Device %d, %s>" % (self.device_number, state)

    def _live(self, call):
        if self._closed:
            raise DeviceClosedError(call, self.device_number)
        return self._handle

    def _call(self, name, *args):
        """Calls the library function `name` with the handle and `args`; raises on a nonzero result."""
        handle = self._live(name)
        result = getattr(n.zqs(), name)(handle, *args)
        if result != 0:
            if result == c.ERROR_HANDLE and self._closed:
                raise DeviceClosedError(name, self.device_number)
            raise ZqsError(result, name)

    # ---- features and properties -------------------------------------------------
    def device_get_features(self):
        """The 800-byte features record (``DeviceGetFeatures``); :attr:`features` decodes it."""
        buffer = ctypes.create_string_buffer(c.FEATURES_SIZE)
        self._call("DeviceGetFeatures", buffer, c.FEATURES_SIZE)
        return buffer.raw

    @property
    def features(self):
        """The features record decoded: version, library file, board id, channel and port counts."""
        return Features.decode(self.device_get_features())

    def device_get_property(self, identifier, length=None):
        """A property's bytes (``DeviceGetProperty``); :meth:`read_property` decodes them. Without
        `length` the library is first asked for the property's size."""
        identifier = cv.u16(identifier, "property identifier")
        size = n.u32(0)
        if length is None:
            self._call("DeviceGetProperty", identifier, None, ctypes.byref(size))
        else:
            size.value = cv.u32(length, "length")
        buffer = ctypes.create_string_buffer(max(size.value, 1))
        self._call("DeviceGetProperty", identifier, buffer, ctypes.byref(size))
        return buffer.raw[: size.value]

    def device_set_property(self, identifier, data):
        """Writes a settable property (``DeviceSetProperty``): the output masks ``0x3004`` and
        ``0x3006``, one little-endian 32-bit mask per port (0x00 in, 0xFF out, 0xF0, 0x0F)."""
        data = bytes(data)
        buffer = ctypes.create_string_buffer(data, max(len(data), 1))
        self._call("DeviceSetProperty", cv.u16(identifier, "property identifier"), buffer, len(data))

    def read_property(self, identifier):
        """One property decoded (see :func:`qio5162.device.decode_property`)."""
        return decode_property(identifier, self.device_get_property(identifier))

    @property
    def properties(self):
        """Every property of the board, decoded: ``{"device_number": 0, "board_id": 166,
        "base_address": 0x300, "irq": 5, "dio_output_masks": (0, 255, 240), ...,
        "pwm_limits": {"period_min": 0.0005, ...}, "reserved": {0x3C82: 0, ...}}``."""
        values = {}
        reserved = {}
        for identifier, (name, _) in _PROPERTIES.items():
            value = self.read_property(identifier)
            if name is None:
                reserved[identifier] = value
            else:
                values[name] = value
        values["reserved"] = reserved
        return values
