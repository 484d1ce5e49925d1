"""The parameter records of ``DriverProc`` as ctypes structures, for :func:`qio5162.driver_proc`.

Each is the header's ``Zqs...Params`` record without its prefix, with natural alignment (the
references are pointer-sized). Fill the references with ``ctypes.pointer`` or
``ctypes.cast(ctypes.byref(x), ...)`` of variables that outlive the call::

    value = ctypes.c_uint8()
    record = records.PortByteRefParams(Port=1, Value=ctypes.pointer(value))
    qio5162.driver_proc(qio5162.FN_DIO_READ_PORT_BYTE, device, record)
"""

import ctypes

u8 = ctypes.c_uint8
u16 = ctypes.c_uint16
u32 = ctypes.c_uint32
f32 = ctypes.c_float
P = ctypes.POINTER



class GetFeaturesParams(ctypes.Structure):
    """``ZqsGetFeaturesParams``."""

    _fields_ = [("Buffer", ctypes.c_void_p), ("Size", u16)]


class SetPortModeParams(ctypes.Structure):
    """``ZqsSetPortModeParams``."""

    _fields_ = [("Port", u16), ("Direction", u16)]


class GetConfigParams(ctypes.Structure):
    """``ZqsGetConfigParams``."""

    _fields_ = [("Codes", P(u16)), ("Count", u16)]


class PortByteRefParams(ctypes.Structure):
    """``ZqsPortByteRefParams``."""

    _fields_ = [("Port", u16), ("Value", P(u8))]


class PortMaskParams(ctypes.Structure):
    """``ZqsPortMaskParams``."""

    _fields_ = [("Port", u16), ("Mask", u16), ("State", u16)]


class PortBitRefParams(ctypes.Structure):
    """``ZqsPortBitRefParams``."""

    _fields_ = [("Port", u16), ("Bit", u16), ("Value", P(u16))]


class PortBitStateParams(ctypes.Structure):
    """``ZqsPortBitStateParams``."""

    _fields_ = [("Port", u16), ("Bit", u16), ("State", u16)]


class WritePortWordParams(ctypes.Structure):
    """``ZqsWritePortWordParams``."""

    _fields_ = [("Port", u16), ("Value", u16)]


class ReadPortWordParams(ctypes.Structure):
    """``ZqsReadPortWordParams``."""

    _fields_ = [("Port", u16), ("Value", P(u16))]


class CounterEventStartParams(ctypes.Structure):
    """``ZqsCounterEventStartParams``."""

    _fields_ = [("Counter", u16), ("Reserved", u16)]


class CounterEventReadParams(ctypes.Structure):
    """``ZqsCounterEventReadParams``."""

    _fields_ = [("Counter", u16), ("Tally", P(u16)), ("Count", P(u32))]


class CounterFreqStartParams(ctypes.Structure):
    """``ZqsCounterFreqStartParams``."""

    _fields_ = [("Counter", u16), ("Gate", u16), ("Reserved", u16)]


class CounterFreqReadParams(ctypes.Structure):
    """``ZqsCounterFreqReadParams``."""

    _fields_ = [("Counter", u16), ("Frequency", P(f32))]


class CounterPulseStartParams(ctypes.Structure):
    """``ZqsCounterPulseStartParams``."""

    _fields_ = [("Counter", u16), ("Period", f32), ("Reserved1", u32), ("Reserved2", u16)]


class EnableEventParams(ctypes.Structure):
    """``ZqsEnableEventParams``."""

    _fields_ = [("EventType", u16), ("Enable", u16), ("Count", u16)]


class CheckEventParams(ctypes.Structure):
    """``ZqsCheckEventParams``."""

    _fields_ = [("EventType", P(u16)), ("Milliseconds", u32)]


class CounterPwmSettingParams(ctypes.Structure):
    """``ZqsCounterPwmSettingParams``."""

    _fields_ = [("Counter", u16), ("Period", f32), ("HighTime", f32), ("PulseCount", u32), ("Reserved", u16)]


class PwmStartReadParams(ctypes.Structure):
    """``ZqsPwmStartReadParams``."""

    _fields_ = [("Counter", u16), ("First", P(f32)), ("Second", P(f32))]


class FreqOutStartParams(ctypes.Structure):
    """``ZqsFreqOutStartParams``."""

    _fields_ = [("Counter", u16), ("Divisor", u16), ("Source", u16)]


class CounterConfigParams(ctypes.Structure):
    """``ZqsCounterConfigParams``."""

    _fields_ = [("Counter", u16), ("InitialCount", u16), ("Mode", u16 * 8)]


class SetPropertyParams(ctypes.Structure):
    """``ZqsSetPropertyParams``."""

    _fields_ = [("Id", u16), ("Length", u32), ("Data", ctypes.c_void_p)]


class GetPropertyParams(ctypes.Structure):
    """``ZqsGetPropertyParams``."""

    _fields_ = [("Id", u16), ("Length", P(u32)), ("Buffer", ctypes.c_void_p)]


class WritePortWordAltParams(ctypes.Structure):
    """``ZqsWritePortWordAltParams``."""

    _fields_ = [("Port", u16), ("Reserved", u16), ("Value", u16)]


class ReadPortDwordParams(ctypes.Structure):
    """``ZqsReadPortDwordParams``."""

    _fields_ = [("Port", u16), ("Value", P(u32))]


class PortWordRefParams(ctypes.Structure):
    """``ZqsPortWordRefParams``."""

    _fields_ = [("Port", u16), ("Value", P(u16)), ("ValidMask", P(u16))]


class PortDwordRefParams(ctypes.Structure):
    """``ZqsPortDwordRefParams``."""

    _fields_ = [("Port", u16), ("Value", P(u32)), ("ValidMask", P(u32))]


class PortDwordMaskParams(ctypes.Structure):
    """``ZqsPortDwordMaskParams``."""

    _fields_ = [("Port", u16), ("Mask", u32), ("State", u32)]


class EnableEventDiPortsParams(ctypes.Structure):
    """``ZqsEnableEventDiPortsParams``."""

    _fields_ = [("EventType", u32), ("FirstPort", u32), ("PortCount", u32)]


class LatestEventDiPortsParams(ctypes.Structure):
    """``ZqsLatestEventDiPortsParams``."""

    _fields_ = [("EventType", u32), ("Buffer", P(u8)), ("Length", u32)]


class PortsBufferParams(ctypes.Structure):
    """``ZqsPortsBufferParams``."""

    _fields_ = [("FirstPort", u32), ("PortCount", u32), ("Buffer", P(u8))]


class PortsDataParams(ctypes.Structure):
    """``ZqsPortsDataParams``."""

    _fields_ = [("FirstPort", u32), ("PortCount", u32), ("Data", P(u8))]
