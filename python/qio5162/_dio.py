"""Digital I/O and raw register access of a :class:`~qio5162.Device`."""

import ctypes

from . import convert as cv
from . import _native as n


def _data(value, what):
    """Bytes-like data (or a list of byte values) as bytes."""
    if isinstance(value, (bytes, bytearray, memoryview)):
        return bytes(value)
    try:
        return bytes(cv.u8(v, what) for v in value)
    except TypeError:
        raise TypeError("%s must be bytes or a sequence of byte values, not %s" % (what, type(value).__name__))


class DioMethods:
    """Ports are ``"A"``, ``"B"``, ``"C"`` or 0 to 2; values are plain integers."""

    # ---- inputs ----------------------------------------------------------
    def dio_read_di_ports(self, first_port, port_count):
        """The inputs of `port_count` ports from `first_port` on, one byte per port (``DioReadDiPorts``)."""
        count = cv.u32(port_count, "port count")
        buffer = (n.u8 * max(count, 1))()
        self._call("DioReadDiPorts", cv.u32(cv.port(first_port), "first port"), count, buffer)
        return bytes(buffer[:count])

    def dio_read_port_byte(self, port):
        """The 8 input lines of a port (``DioReadPortByte``)."""
        value = n.u8()
        self._call("DioReadPortByte", cv.port(port), ctypes.byref(value))
        return value.value

    def dio_read_port_word(self, port):
        """Two ports from `port` on, as ``(valid_mask, value)``; ``valid_mask`` tells which bytes are
        real ports (``DioReadPortWord``)."""
        mask, value = n.u16(), n.u16()
        self._call("DioReadPortWord", cv.port(port), ctypes.byref(mask), ctypes.byref(value))
        return mask.value, value.value

    def dio_read_port_dword(self, port):
        """Up to four ports from `port` on, as ``(valid_mask, value)`` (``DioReadPortDword``)."""
        mask, value = n.u32(), n.u32()
        self._call("DioReadPortDword", cv.port(port), ctypes.byref(mask), ctypes.byref(value))
        return mask.value, value.value

    def dio_read_bit(self, port, bit):
        """One input line, 0 or 1 (``DioReadBit``)."""
        value = n.u16()
        self._call("DioReadBit", cv.port(port), cv.u16(bit, "bit"), ctypes.byref(value))
        return value.value

    # ---- outputs as last written -----------------------------------------------
    def dio_get_current_do_ports_state(self, first_port, port_count):
        """The last values written to `port_count` output ports from `first_port` on, as bytes
        (``DioGetCurrentDoPortsState``)."""
        count = cv.u32(port_count, "port count")
        buffer = (n.u8 * max(count, 1))()
        self._call("DioGetCurrentDoPortsState", cv.u32(cv.port(first_port), "first port"), count, buffer)
        return bytes(buffer[:count])

    def dio_get_current_do_byte(self, port):
        """The last value written to an output port (``DioGetCurrentDOByte``)."""
        value = n.u8()
        self._call("DioGetCurrentDOByte", cv.port(port), ctypes.byref(value))
        return value.value

    def dio_get_current_do_word(self, port):
        """Two output ports from `port` on, as ``(valid_mask, value)`` (``DioGetCurrentDOWord``)."""
        mask, value = n.u16(), n.u16()
        self._call("DioGetCurrentDOWord", cv.port(port), ctypes.byref(mask), ctypes.byref(value))
        return mask.value, value.value

    def dio_get_current_do_dword(self, port):
        """Up to four output ports from `port` on, as ``(valid_mask, value)`` (``DioGetCurrentDODword``)."""
        mask, value = n.u32(), n.u32()
        self._call("DioGetCurrentDODword", cv.port(port), ctypes.byref(mask), ctypes.byref(value))
        return mask.value, value.value

    def dio_get_current_do_bit(self, port, bit):
        """One bit of the last value written to an output port (``DioGetCurrentDOBit``)."""
        value = n.u16()
        self._call("DioGetCurrentDOBit", cv.port(port), cv.u16(bit, "bit"), ctypes.byref(value))
        return value.value

    # ---- writers ---------------------------------------------------------------
    def dio_write_do_ports(self, first_port, data):
        """Writes one byte per port from `first_port` on; the port count is ``len(data)``
        (``DioWriteDoPorts``)."""
        data = _data(data, "data")
        buffer = (n.u8 * max(len(data), 1)).from_buffer_copy(data.ljust(1, b"\0"))
        self._call("DioWriteDoPorts", cv.u32(cv.port(first_port), "first port"), len(data), buffer)

    def dio_write_port_byte(self, port, mask, state):
        """Changes the bits of `mask` on an output port to those of `state` (``DioWritePortByte``)."""
        self._call("DioWritePortByte", cv.port(port), cv.u16(mask, "mask"), cv.u16(state, "state"))

    def dio_write_port_word(self, port, mask, state):
        """As :meth:`dio_write_port_byte` over two ports from `port` on (``DioWritePortWord``)."""
        self._call("DioWritePortWord", cv.port(port), cv.u16(mask, "mask"), cv.u16(state, "state"))

    def dio_write_port_dword(self, port, mask, state):
        """As :meth:`dio_write_port_byte` over up to four ports from `port` on (``DioWritePortDword``)."""
        self._call("DioWritePortDword", cv.port(port), cv.u32(mask, "mask"), cv.u32(state, "state"))

    def dio_write_bit(self, port, bit, state):
        """Sets (`state` true) or clears one output bit (``DioWriteBit``)."""
        self._call("DioWriteBit", cv.port(port), cv.u16(bit, "bit"), cv.u16(int(bool(state)), "state"))

    # ---- directions ------------------------------------------------------------
    def dio_set_port_mode(self, port, direction):
        """Sets a port's direction: ``"in"``, ``"out"``, and on port C ``"in/out"`` (lines 0-3 in,
        4-7 out) or ``"out/in"``; or a direction code (``DioSetPortMode``)."""
        self._call("DioSetPortMode", cv.port(port), cv.direction(direction))

    def dio_get_config(self, count=3):
        """The direction codes of ports A, B, C (at most `count` of them) as a tuple (``DioGetConfig``)."""
        count = cv.u16(count, "count")
        codes = (n.u16 * max(count, 1))()
        self._call("DioGetConfig", codes, count)
        return tuple(codes[: min(count, 3)])

    @property
    def directions(self):
        """The ports' directions by name: ``{"A": "out", "B": "in", "C": "in/out"}``."""
        codes = self.dio_get_config(3)
        return {cv.PORT_NAMES[i]: cv.DIRECTION_NAMES.get(code, str(code)) for i, code in enumerate(codes)}

    # ---- raw registers ---------------------------------------------------------
    def read_port_byte(self, address):
        """The byte at an I/O address inside the board's window (``ReadPortByte``)."""
        value = n.u16()
        self._call("ReadPortByte", cv.u16(address, "port address"), ctypes.byref(value))
        return value.value

    def read_port_word(self, address):
        """The 16-bit value at an I/O address (``ReadPortWord``)."""
        value = n.u16()
        self._call("ReadPortWord", cv.u16(address, "port address"), ctypes.byref(value))
        return value.value

    def read_port_dword(self, address):
        """The 32-bit value at an I/O address (``ReadPortDword``)."""
        value = n.u32()
        self._call("ReadPortDword", cv.u16(address, "port address"), ctypes.byref(value))
        return value.value

    def write_port_byte(self, address, value):
        """Writes a byte to an I/O address inside the board's window (``WritePortByte``)."""
        self._call("WritePortByte", cv.u16(address, "port address"), cv.u8(value, "value"))

    def write_port_word(self, address, value):
        """Writes 16 bits to an I/O address (``WritePortWord``)."""
        self._call("WritePortWord", cv.u16(address, "port address"), cv.u16(value, "value"))

    def write_port_dword(self, address, value):
        """Writes 32 bits to an I/O address (``WritePortDword``)."""
        self._call("WritePortDword", cv.u16(address, "port address"), cv.u32(value, "value"))
