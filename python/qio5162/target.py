"""The hosted target: boot, devices, boards, stream devices, shutdown."""

import contextlib
import ctypes
import os
import threading
import time

from . import constants as c
from . import convert as cv
from . import _native as n
from . import state
from .board import Board
from .device import Device
from .errors import TargetClosedError, TargetError, ZqsError


def _paths(registry_file):
    if isinstance(registry_file, (str, bytes, os.PathLike)):
        registry_file = [registry_file]
    paths = [os.fsencode(path) for path in registry_file]
    if not paths:
        raise ValueError("registry_file: give at least one path")
    return paths


class Stream:
    """A stream device of the target opened by name (:meth:`Target.device_open`), for sending a
    driver device-control requests directly; a context manager that closes it."""

    def __init__(self, target, name, pointer):
        self._target = target
        self.name = name
        self._pointer = pointer

    def ioctl(self, code, data=b"", out_length=0):
        """Sends request `code` with `data` and room for `out_length` bytes of response; returns the
        bytes the driver returned. A refused request raises :class:`TargetError` whose
        ``last_error`` is the driver's error value (for example ``0x20000032``)."""
        if self._pointer is None:
            raise TargetError(c.TARGET_E_ARGUMENT, "the stream %s is closed" % self.name, "qio_target_device_ioctl")
        data = bytes(data)
        size = cv.u32(out_length, "output length")
        in_buffer = ctypes.create_string_buffer(data, max(len(data), 1))
        out_buffer = ctypes.create_string_buffer(max(size, 1))
        returned, error = n.u32(), n.u32()
        with self._target._in_call("qio_target_device_ioctl"):
            ok = n.harness().qio_target_device_ioctl(self._pointer, cv.u32(code, "code"), in_buffer, len(data),
                                                     out_buffer, size, ctypes.byref(returned), ctypes.byref(error))
            message = n.last_message()
        if not ok:
            failure = TargetError(c.TARGET_E_DEVICE, message, "qio_target_device_ioctl")
            failure.last_error = error.value
            raise failure
        return out_buffer.raw[: min(returned.value, size)]

    def close(self):
        """Closes the stream (the driver's close entry runs); a second call does nothing."""
        pointer, self._pointer = self._pointer, None
        if pointer is None:
            return
        self._target._forget(self)
        self._target._harness_call("qio_target_device_close", pointer)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


class Target:
    """A hosted target booted in this process; a context manager that shuts it down.

    ``Target()`` boots the shipped default registry (one board at 0x300, IRQ 5, device 0).
    `registry_file` (a path or a list of paths, merged in order) or `registry_text` (``str`` or
    ``bytes`` in any encoding regedit or an editor writes) are merged over it; with `bare` they
    replace the shipped board, and with `no_boards` no board model is plugged for the configured
    boards (:meth:`plug_board` plugs one). Only one target runs in a process at a time; booting a
    second raises :class:`TargetError` (code ``TARGET_E_STATE``).

    With `virtual_time` the whole target runs on a virtual clock (``QIO_TARGET_VIRTUAL_TIME``):
    time stands still while any of its threads runs and jumps to the next deadline when all of
    them wait, so a 2 s gate takes milliseconds and every run gives the same results. The one
    rule: wait with the target (:meth:`sleep`, ``check_event`` with a time-out), never with
    ``time.sleep`` or a busy loop, which would freeze the clock; a thread that waits for
    something outside the target calls :func:`qio5162.detach_thread` first. :meth:`now_ns`
    reads the clock in both modes.

    :meth:`shutdown` closes every device and stream opened through the target, stops the
    drivers and joins the target's threads; afterwards the target, its boards and devices raise
    :class:`TargetClosedError` or :class:`DeviceClosedError`.
    """

    def __init__(self, *, registry_file=None, registry_text=None, bare=False, no_boards=False, virtual_time=False):
        if registry_file is not None and registry_text is not None:
            raise ValueError("give registry_file or registry_text, not both")
        flags = (c.TARGET_BARE if bare else 0) | (c.TARGET_NO_BOARDS if no_boards else 0)
        flags |= c.TARGET_VIRTUAL_TIME if virtual_time else 0
        self.virtual_time = bool(virtual_time)
        self._lock = threading.Lock()  # opens, closes and the shutdown
        self._calls = threading.Condition()  # harness calls in progress
        self._in_progress = 0
        self._running = False
        self._closing = False
        self._open = []  # devices and streams opened through the target
        self._boards = {}
        self._pointer = self._boot(registry_file, registry_text, flags)
        self._running = True

    @staticmethod
    def _boot(registry_file, registry_text, flags):
        harness = n.harness()
        pointer = ctypes.c_void_p()
        if registry_file is not None:
            paths = _paths(registry_file)
            array = (ctypes.c_char_p * len(paths))(*paths)
            call = "qio_target_boot_files"
            result = harness.qio_target_boot_files(array, len(paths), flags, ctypes.byref(pointer))
        elif registry_text is not None:
            if isinstance(registry_text, str):
                data = registry_text.encode("utf-8")
            elif isinstance(registry_text, (bytes, bytearray, memoryview)):
                data = bytes(registry_text)
            else:
                raise TypeError("registry_text must be str or bytes, not %s" % type(registry_text).__name__)
            call = "qio_target_boot_data"
            result = harness.qio_target_boot_data(data, len(data), flags, ctypes.byref(pointer))
        else:
            call = "qio_target_boot_ex"
            result = harness.qio_target_boot_ex(None, flags, ctypes.byref(pointer))
        if result != 0:
            raise TargetError(result, n.last_message(), call)
        return pointer.value

    # ---- lifetime ------------------------------------------------------------------
    @property
    def running(self):
        """Whether the target runs (it was booted and not shut down)."""
        return self._running

    def shutdown(self):
        """Closes every device and stream still open through this target, then shuts the target
        down (``qio_target_shutdown``). A second call does nothing. Raises :class:`TargetError` when
        the harness reports threads or drivers left behind."""
        with self._holding(self._lock):
            if self._closing:
                return
            self._closing = True
            still_open = list(self._open)
        for thing in reversed(still_open):
            with contextlib.suppress(ZqsError, TargetError):
                thing.close()
        with self._calls:
            self._running = False
            if self._in_progress != 0:
                self._detach_before_blocking()
                self._calls.wait_for(lambda: self._in_progress == 0)
        result = n.harness().qio_target_shutdown(self._pointer)
        if result != 0:
            raise TargetError(result, n.last_message(), "qio_target_shutdown")

    close = shutdown

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.shutdown()
        return False

    def __repr__(self):
        return "<qio5162.Target %s>" % ("running" if self._running else "shut down")

    def _detach_before_blocking(self):
        """On the virtual clock, a thread about to block in Python (not in the target) lets go of
        the clock first, so that the thread it waits for can run."""
        if self.virtual_time:
            n.harness().qio_target_detach_thread()

    @contextlib.contextmanager
    def _holding(self, lock):
        """Holds a Python lock that another thread may keep across a call into the target."""
        if not lock.acquire(blocking=False):
            self._detach_before_blocking()
            lock.acquire()
        try:
            yield
        finally:
            lock.release()

    def _forget(self, thing):
        with self._holding(self._lock):
            if thing in self._open:
                self._open.remove(thing)

    @contextlib.contextmanager
    def _in_call(self, name):
        """Counts a harness call in progress, refused once the target is shut down."""
        with self._calls:
            if not self._running:
                raise TargetClosedError(name)
            self._in_progress += 1
        try:
            yield
        finally:
            with self._calls:
                self._in_progress -= 1
                if self._in_progress == 0:
                    self._calls.notify_all()

    def _harness_call(self, name, *args):
        """Calls an int-returning harness function; a nonzero result raises :class:`TargetError`."""
        with self._in_call(name):
            result = getattr(n.harness(), name)(*args)
            if result != 0:
                raise TargetError(result, n.last_message(), name)

    # ---- the platform clock --------------------------------------------------------
    def now_ns(self):
        """The platform clock in nanoseconds (``qio_target_now_ns``): virtual time since the boot
        on the virtual clock, else real time since the platform was loaded."""
        with self._in_call("qio_target_now_ns"):
            return n.harness().qio_target_now_ns(self._pointer)

    def sleep(self, milliseconds):
        """Waits `milliseconds` on the platform clock (``qio_target_sleep``); on the virtual clock
        this takes no real time when nothing else runs. 0 lets the target's ready threads run.
        A shutdown from another thread does not wait for the sleep: on the virtual clock it ends
        the sleep, which then raises :class:`TargetClosedError`."""
        milliseconds = cv.u32(milliseconds, "milliseconds")
        with self._calls:
            if not self._running:
                raise TargetClosedError("qio_target_sleep")
        # Not counted as a call in progress: the harness refuses a target shut down meanwhile.
        result = n.harness().qio_target_sleep(self._pointer, milliseconds)
        if result != 0:
            if not self._running:
                raise TargetClosedError("qio_target_sleep")
            raise TargetError(result, n.last_message(), "qio_target_sleep")

    def _clock(self):
        """Seconds on the clock that the target's waits follow, for deadlines of waits made of
        several calls."""
        if self.virtual_time:  # 0 once the target is shut down
            return n.harness().qio_target_now_ns(self._pointer) / 1e9
        return time.monotonic()

    # ---- devices -------------------------------------------------------------------
    def open(self, device_number=0):
        """Opens a device number (``DeviceOpen``) and returns its :class:`Device`."""
        number = cv.u32(device_number, "device number")
        with self._holding(self._lock):
            if self._closing:
                raise TargetClosedError("DeviceOpen")
            handle = n.u32()
            result = n.zqs().DeviceOpen(number, ctypes.byref(handle))
            if result != 0:
                raise ZqsError(result, "DeviceOpen", "device %d" % number)
            device = Device(self, number, handle.value)
            self._open.append(device)
            return device

    def device_config(self, device_number, parent_window=None):
        """Shows the configuration dialog of a device number (``DeviceConfig``) and returns its end
        code: ``DIALOG_OK`` (1), ``DIALOG_CANCEL`` (2), ``DIALOG_NO_MEMORY`` (0) or
        ``DIALOG_FAILED`` (0xFFFFFFFF: no display, no dialog module, a number above 254). Modal:
        returns when the dialog closes. `parent_window` is a ``QWidget*`` as an int, or ``None``."""
        with self._in_call("DeviceConfig"):
            return n.zqs().DeviceConfig(cv.u32(device_number, "device number"), 0, parent_window)

    def device_config_ext(self, device_number, parent_window=None):
        """The same dialog as :meth:`device_config` (``DeviceConfigExt``)."""
        with self._in_call("DeviceConfigExt"):
            return n.zqs().DeviceConfigExt(cv.u32(device_number, "device number"), 0, parent_window)

    # ---- boards ----------------------------------------------------------------------
    def _board(self, pointer, io_base=None):
        board = self._boards.get(pointer)
        if board is None:
            board = self._boards.setdefault(pointer, Board(self, pointer, io_base))
        if board.io_base is None:
            board.io_base = io_base
        return board

    def board(self, io_base=0x300):
        """The simulated board plugged at an I/O base address."""
        base = cv.u16(io_base, "I/O base")
        with self._in_call("qio_target_board"):
            pointer = n.harness().qio_target_board(self._pointer, base)
        if not pointer:
            raise TargetError(c.TARGET_E_DEVICE, "no board is plugged at 0x%X" % base, "qio_target_board")
        return self._board(pointer, base)

    def board_of(self, device_number):
        """The simulated board behind a device number (``qio_target_board_of_device``)."""
        pointer = ctypes.c_void_p()
        self._harness_call("qio_target_board_of_device", self._pointer, cv.u32(device_number, "device number"),
                           ctypes.byref(pointer))
        return self._board(pointer.value)

    def driver_state(self, device_number=0, raw=False):
        """The driver's view of a device's board (``qio_target_driver_state``): what owns each
        counter and generator and with what settings, the enabled event sources, the ports and
        the open/close cycle, as one consistent picture, read without opening the device. A dict
        of plain values (see :func:`qio5162.state.decode`), or with `raw` the
        :class:`qio5162.state.DriverState` record itself."""
        record = state.DriverState()
        record.size = ctypes.sizeof(record)
        self._harness_call("qio_target_driver_state", self._pointer, cv.u32(device_number, "device number"),
                           ctypes.byref(record))
        return record if raw else state.decode(record)

    def plug_board(self, io_base, irq):
        """Plugs a board model at a base address and IRQ line, for example after booting with
        `no_boards` (``qio_target_plug_board``)."""
        pointer = ctypes.c_void_p()
        base = cv.u16(io_base, "I/O base")
        self._harness_call("qio_target_plug_board", self._pointer, base, cv.u32(irq, "IRQ"), ctypes.byref(pointer))
        return self._board(pointer.value, base)

    # ---- registry, boot report, raw bus --------------------------------------------------
    def _text(self, name):
        needed = ctypes.c_size_t()
        with self._in_call(name):
            function = getattr(n.harness(), name)
            while True:
                buffer = ctypes.create_string_buffer(max(needed.value, 1))
                result = function(self._pointer, buffer, len(buffer), ctypes.byref(needed))
                if result == 0:
                    return buffer.value.decode("utf-8", "replace")
                if result != c.TARGET_E_SPACE or needed.value <= len(buffer):
                    raise TargetError(result, n.last_message(), name)

    def export_registry(self):
        """The registry as "Windows Registry Editor Version 5.00" text (``qio_target_export_registry``)."""
        return self._text("qio_target_export_registry")

    def boot_report(self):
        """What the device manager loaded at boot, one line per driver or failure
        (``qio_target_boot_report``)."""
        return self._text("qio_target_boot_report")

    def port_in(self, port, width=1):
        """Reads 1, 2 or 4 bytes from an I/O port of the bus (``qio_target_port_in``)."""
        with self._in_call("qio_target_port_in"):
            value = n.harness().qio_target_port_in(self._pointer, cv.u16(port, "port"), cv.u32(width, "width"))
            message = n.last_message() if value == 0xFFFFFFFF else ""
        if message:
            raise TargetError(c.TARGET_E_ARGUMENT, message, "qio_target_port_in")
        return value

    def port_out(self, port, width, value):
        """Writes 1, 2 or 4 bytes to an I/O port of the bus (``qio_target_port_out``)."""
        self._harness_call("qio_target_port_out", self._pointer, cv.u16(port, "port"), cv.u32(width, "width"),
                           cv.u32(value, "value"))

    def device_open(self, stream_name):
        """Opens a driver's stream device by name (``"Q621:"``) and returns a :class:`Stream`
        (``qio_target_device_open``)."""
        pointer = ctypes.c_void_p()
        with self._holding(self._lock):
            if self._closing:
                raise TargetClosedError("qio_target_device_open")
            self._harness_call("qio_target_device_open", self._pointer, os.fsencode(stream_name),
                               ctypes.byref(pointer))
            stream = Stream(self, stream_name, pointer.value)
            self._open.append(stream)
            return stream
