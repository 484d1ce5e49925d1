"""The C functions of libZqs5162.so and libqio5162target.so as ctypes declarations.

Every function gets its argument and result types here, once; the classes of the
package call them through the two namespaces of :func:`native`, looked up at each
call (so a test can watch which C functions a method reaches).
"""

import ctypes
import threading
import types

from . import _loader

u8 = ctypes.c_uint8
u16 = ctypes.c_uint16
u32 = ctypes.c_uint32
u64 = ctypes.c_uint64
f32 = ctypes.c_float
f64 = ctypes.c_double
vp = ctypes.c_void_p
P = ctypes.POINTER


class PortAccess(ctypes.Structure):
    """One register access of the board's trace (``QioPortAccess``)."""

    _fields_ = [
        ("timeNs", u64),
        ("offset", u16),
        ("width", u8),
        ("isWrite", u8),
        ("value", u32),
    ]


class PinChange(ctypes.Structure):
    """One change of a pin (``QioPinChange``)."""

    _fields_ = [("timeNs", u64), ("value", u32)]


class PinListing(ctypes.Structure):
    """What a pin listing covered (``QioPinListing``)."""

    _fields_ = [
        ("valueAtFrom", u32),
        ("count", ctypes.c_size_t),
        ("notListed", u64),
        ("firstNotListedNs", u64),
    ]


# Name: (result type, argument types). Handles of the harness (QioTarget*,
# QioSimBoard*, QioStream*) are opaque pointers.
ZQS_FUNCTIONS = {
    "DeviceOpen": (u32, [u32, P(u32)]),
    "DeviceClose": (u32, [P(u32)]),
    "DeviceGetFeatures": (u32, [u32, vp, u16]),
    "DeviceGetProperty": (u32, [u32, u16, vp, P(u32)]),
    "DeviceSetProperty": (u32, [u32, u16, vp, u32]),
    "DeviceConfigExt": (u32, [u32, u32, vp]),
    "DeviceConfig": (u32, [u32, u32, vp]),
    "DriverProc": (u32, [u32, u32, u32, ctypes.c_size_t, ctypes.c_size_t]),
    "DioReadDiPorts": (u32, [u32, u32, u32, P(u8)]),
    "DioReadPortByte": (u32, [u32, u16, P(u8)]),
    "DioReadPortWord": (u32, [u32, u16, P(u16), P(u16)]),
    "DioReadPortDword": (u32, [u32, u16, P(u32), P(u32)]),
    "DioReadBit": (u32, [u32, u16, u16, P(u16)]),
    "DioGetCurrentDoPortsState": (u32, [u32, u32, u32, P(u8)]),
    "DioGetCurrentDOByte": (u32, [u32, u16, P(u8)]),
    "DioGetCurrentDOWord": (u32, [u32, u16, P(u16), P(u16)]),
    "DioGetCurrentDODword": (u32, [u32, u16, P(u32), P(u32)]),
    "DioGetCurrentDOBit": (u32, [u32, u16, u16, P(u16)]),
    "DioWriteDoPorts": (u32, [u32, u32, u32, P(u8)]),
    "DioWritePortByte": (u32, [u32, u16, u16, u16]),
    "DioWritePortWord": (u32, [u32, u16, u16, u16]),
    "DioWritePortDword": (u32, [u32, u16, u32, u32]),
    "DioWriteBit": (u32, [u32, u16, u16, u16]),
    "DioSetPortMode": (u32, [u32, u16, u16]),
    "DioGetConfig": (u32, [u32, P(u16), u16]),
    "ReadPortByte": (u32, [u32, u16, P(u16)]),
    "ReadPortWord": (u32, [u32, u16, P(u16)]),
    "ReadPortDword": (u32, [u32, u16, P(u32)]),
    "WritePortByte": (u32, [u32, u16, u8]),
    "WritePortWord": (u32, [u32, u16, u16]),
    "WritePortDword": (u32, [u32, u16, u32]),
    "CounterEventStart": (u32, [u32, u16, u16]),
    "CounterEventRead": (u32, [u32, u16, P(u16), P(u32)]),
    "CounterFreqStart": (u32, [u32, u16, u16, u16]),
    "CounterFreqRead": (u32, [u32, u16, P(f32)]),
    "CounterPulseStart": (u32, [u32, u16, f32, u32, u16]),
    "CounterReset": (u32, [u32, u16]),
    "FreqOutStart": (u32, [u32, u16, u16, u16]),
    "FreqOutReset": (u32, [u32, u16]),
    "CounterPWMSetting": (u32, [u32, u16, f32, f32, u32, u16]),
    "CounterPWMEnable": (u32, [u32, u16]),
    "PWMStartRead": (u32, [u32, u16, P(f32), P(f32)]),
    "EnableEvent": (u32, [u32, u16, u16, u16]),
    "CheckEvent": (u32, [u32, P(u16), u32]),
    "DioEnableEventAndSpecifyDiPorts": (u32, [u32, u32, u32, u32]),
    "DioDisableEvent": (u32, [u32, u32]),
    "DioGetLatestEventDiPortsState": (u32, [u32, u32, P(u8), u32]),
}

_int = ctypes.c_int
_uint = ctypes.c_uint
_size = ctypes.c_size_t

TARGET_FUNCTIONS = {
    "qio_target_boot": (_int, [ctypes.c_char_p, P(vp)]),
    "qio_target_boot_ex": (_int, [ctypes.c_char_p, _uint, P(vp)]),
    "qio_target_boot_data": (_int, [vp, _size, _uint, P(vp)]),
    "qio_target_boot_files": (_int, [P(ctypes.c_char_p), _size, _uint, P(vp)]),
    "qio_target_shutdown": (_int, [vp]),
    "qio_target_current": (vp, []),
    "qio_target_export_registry": (_int, [vp, ctypes.c_char_p, _size, P(_size)]),
    "qio_target_boot_report": (_int, [vp, ctypes.c_char_p, _size, P(_size)]),
    "qio_target_device_open": (_int, [vp, ctypes.c_char_p, P(vp)]),
    "qio_target_device_ioctl": (_int, [vp, u32, vp, u32, vp, u32, P(u32), P(u32)]),
    "qio_target_device_close": (_int, [vp]),
    "qio_target_last_message": (ctypes.c_char_p, []),
    "qio_target_board": (vp, [vp, u16]),
    "qio_target_plug_board": (_int, [vp, u16, _uint, P(vp)]),
    "qio_target_port_in": (u32, [vp, u16, _uint]),
    "qio_target_port_out": (_int, [vp, u16, _uint, u32]),
    "qio_target_board_of_device": (_int, [vp, _uint, P(vp)]),
    "qio_target_result_text": (ctypes.c_char_p, [u32]),
    "qio_target_driver_state": (_int, [vp, _uint, vp]),
    "qio_target_now_ns": (u64, [vp]),
    "qio_target_sleep": (_int, [vp, u32]),
    "qio_target_detach_thread": (None, []),
    "qio_sim_set_counter_input": (_int, [vp, _uint, f64, f64]),
    "qio_sim_set_counter_input_ex": (_int, [vp, _uint, f64, f64, f64]),
    "qio_sim_set_counter_level": (_int, [vp, _uint, _int]),
    "qio_sim_wire_counter_input": (_int, [vp, _uint, _uint]),
    "qio_sim_set_di": (_int, [vp, _uint, u8]),
    "qio_sim_set_di_square": (_int, [vp, _uint, f64]),
    "qio_sim_set_loopback": (_int, [vp, _int, _uint]),
    "qio_sim_get_pins": (_int, [vp, _uint, P(u8)]),
    "qio_sim_get_output": (_int, [vp, _uint, P(f64), P(f64)]),
    "qio_sim_get_output_level": (_int, [vp, _uint, P(_int)]),
    "qio_sim_get_freqout": (_int, [vp, _uint, P(f64)]),
    "qio_sim_trace_enable": (_int, [vp, _int]),
    "qio_sim_trace_read": (_int, [vp, P(PortAccess), _size, P(_size)]),
    "qio_sim_record_pins": (_int, [vp, _size]),
    "qio_sim_list_edges": (_int, [vp, _uint, u64, u64, P(PinChange), _size, P(PinListing)]),
    "qio_sim_next_terminal_count": (_int, [vp, _uint, P(_int), P(u64)]),
}

_lock = threading.Lock()
_bound = None


def _bind(library, table):
    functions = types.SimpleNamespace()
    for name, (restype, argtypes) in table.items():
        function = getattr(library, name)
        function.restype = restype
        function.argtypes = argtypes
        setattr(functions, name, function)
    return functions


def native():
    """The bound functions as ``(zqs, harness)`` namespaces, loading the libraries at the first call."""
    global _bound
    with _lock:
        if _bound is None:
            zqs_library, harness_library, directory = _loader.load()
            _bound = types.SimpleNamespace(
                zqs=_bind(zqs_library, ZQS_FUNCTIONS),
                harness=_bind(harness_library, TARGET_FUNCTIONS),
                directory=directory,
            )
        return _bound


def zqs():
    """The library's functions (``Zqs5162.h``)."""
    return native().zqs


def harness():
    """The harness's functions (``target.h``)."""
    return native().harness


def last_message():
    """The harness's reason for the last failed call on this thread."""
    text = harness().qio_target_last_message()
    return text.decode("utf-8", "replace") if text else ""
