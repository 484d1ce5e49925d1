"""The two counter/timers of a :class:`~qio5162.Device`.

Frequencies are in hertz and times in seconds, as in the C API; the gate of
:meth:`~CounterMethods.counter_freq_start` is in milliseconds and the phases
:meth:`~CounterMethods.pwm_start_read` reports are in microseconds, also as there.
"""

import ctypes

from . import convert as cv
from . import _native as n


class CounterMethods:
    """Counters are 0 and 1."""

    def counter_event_start(self, counter):
        """Starts counting rising edges on CLKn (``CounterEventStart``)."""
        self._call("CounterEventStart", cv.counter(counter), 0)

    def counter_event_read(self, counter):
        """The count so far as ``(tally, count)``: terminal counts since the start and the
        counter's present count (``CounterEventRead``); see :meth:`counter_total`."""
        tally, count = n.u16(), n.u32()
        self._call("CounterEventRead", cv.counter(counter), ctypes.byref(tally), ctypes.byref(count))
        return tally.value, count.value

    def counter_total(self, counter):
        """The edges counted since :meth:`counter_event_start`: tally x 65536 + count."""
        tally, count = self.counter_event_read(counter)
        return tally * 65536 + count

    def counter_freq_start(self, counter, gate=0):
        """Starts measuring the frequency on CLK0: `gate` 0 ranges automatically, 1 to 2000 is a
        fixed gate in milliseconds (``CounterFreqStart``)."""
        self._call("CounterFreqStart", cv.counter(counter), cv.u16(gate, "gate"), 0)

    def counter_freq_read(self, counter):
        """The latest frequency in hertz; 0.0 until the first pass has a result (``CounterFreqRead``)."""
        value = n.f32()
        self._call("CounterFreqRead", cv.counter(counter), ctypes.byref(value))
        return value.value

    def counter_pulse_start(self, counter, period):
        """A pulse every `period` seconds (0.001 to 50) on OUTn (``CounterPulseStart``)."""
        self._call("CounterPulseStart", cv.counter(counter), cv.real(period, "period"), 0, 0)

    def counter_reset(self, counter):
        """Stops whatever runs on the counter and frees it (``CounterReset``)."""
        self._call("CounterReset", cv.counter(counter))

    def freq_out_start(self, counter, divisor, source):
        """Generator output on FOUTn: `source` (``"10MHz"``, ``"1MHz"``, ``"100kHz"``, ``"10kHz"``,
        ``"1kHz"`` or a ``SOURCE_*`` code) divided by `divisor` 1 to 16 (``FreqOutStart``)."""
        self._call("FreqOutStart", cv.counter(counter), cv.u16(divisor, "divisor"), cv.source(source))

    def freq_out_reset(self, counter):
        """Stops the generator output; the same as :meth:`counter_reset` (``FreqOutReset``)."""
        self._call("FreqOutReset", cv.counter(counter))

    def counter_pwm_setting(self, counter, period, high_time, pulse_count=0):
        """Sets up PWM on OUTn: `period` and `high_time` in seconds (0.0005 < period <= 60,
        0.0005 <= high time < period); `pulse_count` 0 runs continuously, the only choice on
        counter 0 (``CounterPWMSetting``). :meth:`counter_pwm_enable` starts it."""
        self._call("CounterPWMSetting", cv.counter(counter), cv.real(period, "period"),
                   cv.real(high_time, "high time"), cv.u32(pulse_count, "pulse count"), 0)

    def counter_pwm_enable(self, counter):
        """Starts the PWM set up by :meth:`counter_pwm_setting` (``CounterPWMEnable``)."""
        self._call("CounterPWMEnable", cv.counter(counter))

    def pwm_start_read(self, counter=0):
        """Measures the two phases of the signal on CLK0 (counter 0 only) and returns them as
        ``(first, second)`` in microseconds (``PWMStartRead``)."""
        first, second = n.f32(), n.f32()
        self._call("PWMStartRead", cv.counter(counter), ctypes.byref(first), ctypes.byref(second))
        return first.value, second.value
