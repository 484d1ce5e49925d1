"""The exceptions of the package.

- :class:`ZqsError`: a call of the library (``Zqs5162.h``) gave a nonzero result code;
  :class:`DeviceClosedError` is the one for a :class:`~qio5162.Device` that was closed.
- :class:`TargetError`: a call of the harness (``target.h``) failed;
  :class:`TargetClosedError` is the one for a :class:`~qio5162.Target` that was shut down.
- :class:`LibraryNotFoundError`: the shared libraries could not be loaded.
"""

# The plain result codes; every other nonzero code is a device code,
# (device number + 1) * 0x1000 + a low code.
PLAIN_CODES = (2, 3, 10, 27)
_DEVICE_CODE_STEP = 0x1000
_LOW_CODE_MASK = 0xFFF


def result_text(code):
    """What a result code of the library means, in the words the command-line tool prints."""
    from . import _native

    text = _native.harness().qio_target_result_text(code & 0xFFFFFFFF)
    return text.decode("utf-8", "replace") if text else "unknown result code"


class QioError(Exception):
    """Base class of every error the package raises about the board, the library or the target."""


class ZqsError(QioError):
    """A library call returned a nonzero result code.

    Attributes:
        code: the library's 32-bit result code (for example ``0x1032``).
        low_code: the low 12 bits of a device code (``0x032``); ``None`` for the
            plain codes 2, 3, 10 and 27 (and any other code below ``0x1000``).
        device_number: the device a device code names (``0x2032`` -> 1), else ``None``.
        meaning: the code in a few words ("counter busy"), as the command-line tool prints it.
        call: the C function that returned it (``"CounterEventStart"``), or ``None``.
    """

    def __init__(self, code, call=None, detail=None):
        self.code = int(code)
        self.call = call
        if self.code >= _DEVICE_CODE_STEP:
            self.low_code = self.code & _LOW_CODE_MASK
            self.device_number = self.code // _DEVICE_CODE_STEP - 1
        else:
            self.low_code = None
            self.device_number = None
        try:
            self.meaning = result_text(self.code)
        except QioError:
            self.meaning = "unknown result code"
        text = "%s failed: 0x%X: %s" % (call or "call", self.code, self.meaning)
        if detail:
            text += " (%s)" % detail
        super().__init__(text)


class DeviceClosedError(ZqsError):
    """A method was called on a :class:`~qio5162.Device` after its :meth:`~qio5162.Device.close`
    (or after its target was shut down). Its ``code`` is 3, the library's code for a closed handle."""

    def __init__(self, call=None, device_number=None):
        what = "device %d is closed" % device_number if device_number is not None else "the device is closed"
        super().__init__(3, call, what)


class TargetError(QioError):
    """A harness call failed.

    Attributes:
        code: the harness's error code (``qio5162.TARGET_E_*``: 1 argument, 2 state,
            3 registry text, 4 device, 5 space, 6 bus, 7 file).
        message: the harness's reason, for example the file and line of bad registry text.
        call: the C function that failed, or ``None``.
    """

    def __init__(self, code, message, call=None):
        self.code = int(code)
        self.message = message
        self.call = call
        super().__init__(message or ("%s failed with code %d" % (call or "harness call", self.code)))


class TargetClosedError(TargetError):
    """The :class:`~qio5162.Target` (or a :class:`~qio5162.Board` of it) was used after its shutdown."""

    def __init__(self, call=None):
        super().__init__(2, "the target has been shut down", call)


class LibraryNotFoundError(QioError, OSError):
    """``libZqs5162.so`` or ``libqio5162target.so`` could not be loaded; the message says where
    the package looked."""
