"""qio5162: the QIO-5162 counter/timer and DIO board from Python.

A ctypes binding of the user-mode library ``libZqs5162.so`` (``Zqs5162.h``) and of the hosted
target's harness ``libqio5162target.so`` (``target.h``), which boots the whole target (registry,
device manager, the board's driver and a model of the board) inside this process::

    import qio5162

    with qio5162.Target() as target, target.open(0) as device:
        board = target.board_of(0)
        board.set_counter_input(0, 1000.0)              # 1 kHz on CLK0
        device.counter_freq_start(0)
        print(device.counter_freq_read(0))              # 1000.0

- :class:`Target` boots and shuts down a hosted target; :meth:`Target.open` gives a
  :class:`Device`, :meth:`Target.board_of` the :class:`Board` model behind it.
- :class:`Device` has one method per library function that takes a driver handle
  (``DioReadPortByte`` -> ``dio_read_port_byte``); :class:`Board` one per ``qio_sim_*``
  function of the harness (``qio_sim_set_di`` -> ``set_di``).
- ``Target(virtual_time=True)`` runs the target on a virtual clock: waits take no real time
  and every run gives the same results (:meth:`Target.sleep`, :func:`detach_thread`).
- A nonzero result code raises :class:`ZqsError` (``.code``, ``.low_code``, ``.meaning``), a
  failed harness call :class:`TargetError`.

The libraries are found through ``$QIO5162_LIBRARY_DIR``, then where the package was built or
installed, then the system loader (see :mod:`qio5162._loader`).
"""

import ctypes

from . import _native
from . import constants
from . import convert
from . import records
from . import state
from .board import Board, PinChange, PinListing, PortAccess
from .constants import *  # noqa: F401,F403  (the library's and the harness's numbers)
from .convert import channel, di_event, line_name
from .device import Device, Features, decode_property
from .errors import (DeviceClosedError, LibraryNotFoundError, QioError, TargetClosedError, TargetError,
                     ZqsError, result_text)
from .target import Stream, Target

__version__ = "2.1.0"


def _argument(value, keep, what):
    """A DriverProc argument as an integer, keeping any buffer it needs alive in `keep`."""
    if value is None:
        return 0
    if isinstance(value, Device):
        return value.handle
    if isinstance(value, (ctypes.Structure, ctypes.Union, ctypes.Array, ctypes._SimpleCData)):
        keep.append(value)
        return ctypes.addressof(value)
    if isinstance(value, ctypes._Pointer):
        keep.append(value)
        return ctypes.cast(value, ctypes.c_void_p).value or 0
    if isinstance(value, bytearray):
        buffer = (ctypes.c_char * max(len(value), 1)).from_buffer(value if value else bytearray(1))
        keep.append(buffer)
        return ctypes.addressof(buffer)
    if isinstance(value, (bytes, memoryview)):
        buffer = ctypes.create_string_buffer(bytes(value), max(len(value), 1))
        keep.append(buffer)
        return ctypes.addressof(buffer)
    return convert.unsigned(value, 64, what)


def driver_proc(function, handle, record=None):
    """The generic entry ``DriverProc``: calls function number `function` (``FN_*``).

    `handle` is a :class:`Device`, a driver handle as an int, or (function 1) the ``ctypes.c_uint32``
    handle variable. `record` is the parameter record: a ctypes structure of :mod:`qio5162.records`
    (or any ctypes object, passed by address), ``bytes`` (copied) or a ``bytearray`` (passed in
    place), or an int for the functions that take a value (35, 85, 105, 132: the counter or the
    event type). Raises :class:`ZqsError` for a nonzero result.
    """
    keep = []
    number = convert.u32(function, "function")
    result = _native.zqs().DriverProc(0, 0, number, _argument(handle, keep, "handle"),
                                      _argument(record, keep, "record"))
    if result != 0:
        raise ZqsError(result, "DriverProc", "function %d" % number)


def detach_thread():
    """The calling thread stops being a thread of the target until its next call into it
    (``qio_target_detach_thread``): on a :class:`Target` with ``virtual_time``, call it before
    waiting for something outside the target (a typed line, a window, ``time.sleep``), so that
    the virtual clock goes on without this thread. Does nothing on the real clock."""
    _native.harness().qio_target_detach_thread()


def library_directory():
    """The directory the libraries were loaded from (``None``: through the system loader);
    loads them if that has not happened yet."""
    return _native.native().directory
