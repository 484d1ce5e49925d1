"""Events of a :class:`~qio5162.Device`: DI lines and terminal counts."""

import ctypes
import math

from . import constants as c
from . import convert as cv
from . import _native as n
from .errors import ZqsError

# A wait without limit, or a long one, is made of waits of at most this long,
# so that a Ctrl-C reaches Python and a close of this Device object (not the
# last open of its device number) ends the wait. Events are not lost between
# the slices: each source's event stays signalled until a wait takes it.
_SLICE_MS = 200


class EventMethods:
    """Event types are numbers (``EVENT_TERMINAL_COUNT0``, ``0x3409``) or DI lines (``"B1"``)."""

    def enable_event(self, event_type, enable=True, count=1):
        """Switches an event source on (every `count`-th interrupt signals it) or off
        (``EnableEvent``)."""
        flag = 1 if enable else 0
        self._call("EnableEvent", cv.event_type(event_type), flag, cv.u16(count if flag else 0, "count"))

    def check_event(self, timeout_ms=c.INFINITE):
        """Waits for the next event of any enabled source and returns its type (``CheckEvent``).

        `timeout_ms` is in milliseconds (``INFINITE`` or ``None``: no limit). Returns
        ``EVENT_TIMEOUT`` (0xFFFF) when nothing came in time, ``EVENT_DEVICE_CLOSED`` (0xFFFE)
        when the device was closed meanwhile (also when this object was closed before the call:
        a waiting loop may end on it in any thread), and ``EVENT_NONE`` for the signal of a
        source that was disabled meanwhile. Never raises for a time-out.
        """
        timeout = c.INFINITE if timeout_ms is None else cv.u32(timeout_ms, "time-out")
        deadline = None if timeout == c.INFINITE else self._target._clock() + timeout / 1000.0
        while True:
            handle = self._handle
            if self._closed or handle == 0:
                return c.EVENT_DEVICE_CLOSED
            if deadline is None:
                wait = _SLICE_MS
            else:
                wait = min(_SLICE_MS, max(0, math.ceil((deadline - self._target._clock()) * 1000.0)))
            event = n.u16()
            result = n.zqs().CheckEvent(handle, ctypes.byref(event), wait)
            if result != 0:
                if result == c.ERROR_HANDLE and self._closed:
                    return c.EVENT_DEVICE_CLOSED
                raise ZqsError(result, "CheckEvent")
            if event.value != c.EVENT_TIMEOUT:
                return event.value
            if deadline is not None and self._target._clock() >= deadline:
                return c.EVENT_TIMEOUT

    def events(self, timeout_s=None):
        """Iterates over the event types as they come, until `timeout_s` seconds have passed
        since the iteration began (``None`` or infinity: until the device is closed). Signals of sources
        disabled meanwhile (``EVENT_NONE``) are skipped; the device's close ends the iteration."""
        deadline = None
        if timeout_s is not None:
            timeout_s = cv.real(timeout_s, "time-out")
            if math.isnan(timeout_s):
                raise ValueError("time-out must be a number of seconds or None, not nan")
            if timeout_s != math.inf:
                deadline = self._target._clock() + max(0.0, timeout_s)
        while True:
            if deadline is None:
                wait = c.INFINITE
            else:
                # check_event waits in slices: a wait beyond 32 bits of
                # milliseconds is the longest finite one, taken again.
                wait = min(c.INFINITE - 1, max(0, math.ceil((deadline - self._target._clock()) * 1000.0)))
            event = self.check_event(wait)
            if event in (c.EVENT_TIMEOUT, c.EVENT_DEVICE_CLOSED):
                return
            if event != c.EVENT_NONE:
                yield event
            if deadline is not None and self._target._clock() >= deadline:
                return

    def dio_enable_event_and_specify_di_ports(self, event_type, first_port=0, port_count=3):
        """Enables a DI event (every rising edge) that latches `port_count` ports from `first_port`
        on when it fires, by default all three (``DioEnableEventAndSpecifyDiPorts``)."""
        self._call("DioEnableEventAndSpecifyDiPorts", cv.event_type(event_type, 32),
                   cv.u32(cv.port(first_port), "first port"), cv.u32(port_count, "port count"))

    def dio_disable_event(self, event_type):
        """Switches an event source off (``DioDisableEvent``)."""
        self._call("DioDisableEvent", cv.event_type(event_type, 32))

    def dio_get_latest_event_di_ports_state(self, event_type, length=3):
        """The ports latched at the source's latest event, one byte per port from the first port
        given when it was enabled; `length` bytes (``DioGetLatestEventDiPortsState``)."""
        size = cv.u32(length, "length")
        buffer = (n.u8 * max(size, 1))()
        self._call("DioGetLatestEventDiPortsState", cv.event_type(event_type, 32), buffer, size)
        return bytes(buffer[:size])
