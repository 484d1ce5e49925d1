#!/usr/bin/env python3
"""Frequency sweep: applies 1 Hz to 20 MHz to CLK0 of the hosted target's board, measures each with
counter 0 (automatic ranging) and prints the method the driver chose, the result and its error.
With matplotlib installed it also saves a plot of the relative error against frequency.

    PYTHONPATH=build/python python3 examples/python/frequency_sweep.py [--points 1e3,2e6] [--plot FILE]
        [--virtual-time]

With --virtual-time each point's target runs on the virtual clock: the whole default sweep, whose
slow points take seconds each on the real clock, is done in well under a second, and the "wait"
column shows virtual seconds.

The method is read from the board's register trace: the mode the driver wrote to counter block 0
and the clock generator it started.
"""

import argparse
import sys

import qio5162

# Register offsets and words of the board (block 0's mode register, clock generator 0).
MODE0 = 0x00
GENERATOR0 = 0x38
MODE_PERIOD_BASE = 0xA040
MODE_PERIOD_SLOW = 0xA440
GENERATOR_HZ = {3: 10e6, 4: 1e6, 5: 100e3, 6: 10e3, 7: 1e3}

DEFAULT_POINTS = [m * 10 ** e for e in range(8) for m in (1, 2, 5) if m * 10 ** e <= 20e6]


def method_of(trace):
    """The driver's measuring method, from the register writes of one start."""
    modes = [a.value for a in trace if a.is_write and a.offset == MODE0]
    generators = [a.value for a in trace if a.is_write and a.offset == GENERATOR0 and a.value & 0x1000]
    if MODE_PERIOD_SLOW in modes:
        return "period, 100 kHz time base"
    if modes and modes[-1] == MODE_PERIOD_BASE:
        return "period, 20 MHz base clock"
    if generators:
        word = generators[-1]
        source, divisor = (word >> 8) & 0x7, (word & 0xF) + 1
        if source == 6 and divisor == 1:
            return "gate 1 s (10 kHz time base)"
        if source == 6 and divisor == 2:
            return "gate 2 s (5 kHz time base)"
        return "2 ms gate, medium range (%g kHz time base)" % (GENERATOR_HZ.get(source, 0) / divisor / 1e3)
    return "2 ms gate"


def measure(hz, timeout_s, virtual_time=False):
    """Measures `hz` on a target of its own, so that each point starts on a board that has
    measured nothing before (booting takes about a millisecond) and the first nonzero reading is
    this input's. Returns (method, measured hz or None, seconds until the first result)."""
    with qio5162.Target(virtual_time=virtual_time) as target, target.open(0) as device:
        board = target.board_of(0)
        board.set_counter_input(0, hz)
        board.trace_enable(True)
        started = target.now_ns()

        def elapsed():
            return (target.now_ns() - started) / 1e9

        device.counter_freq_start(0)
        measured = 0.0
        while elapsed() < timeout_s:
            measured = device.counter_freq_read(0)
            if measured > 0:
                break
            target.sleep(20)  # a wait of the target's: on the virtual clock it takes no real time
        return method_of(board.trace_read()), (measured or None), elapsed()


def save_plot(rows, path):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no plot")
        return
    points = [(hz, abs(measured - hz) / hz) for hz, _, measured, _ in rows if measured]
    figure, axes = plt.subplots(figsize=(7, 4))
    axes.loglog([p[0] for p in points], [max(p[1], 1e-9) for p in points], "o-")
    axes.set_xlabel("input frequency (Hz)")
    axes.set_ylabel("relative error")
    axes.set_title("QIO-5162 counter 0, automatic ranging")
    axes.grid(True, which="both", alpha=0.3)
    figure.tight_layout()
    figure.savefig(path)
    print("plot saved to %s" % path)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--points", help="comma-separated frequencies in Hz (default: 1-2-5 steps, 1 Hz to 20 MHz)")
    parser.add_argument("--plot", default="frequency_sweep.png", help="where to save the plot (with matplotlib)")
    parser.add_argument("--timeout", type=float, default=10.0, help="seconds to wait for each result")
    parser.add_argument("--virtual-time", action="store_true", help="run each point on the virtual clock")
    args = parser.parse_args(argv)
    points = [float(p) for p in args.points.split(",")] if args.points else DEFAULT_POINTS

    rows = []
    print("%12s  %-42s  %12s  %10s  %6s" % ("input (Hz)", "method", "result (Hz)", "error", "wait"))
    for hz in points:
        method, measured, seconds = measure(hz, args.timeout, args.virtual_time)
        error = "%+.2e" % ((measured - hz) / hz) if measured else "no result"
        shown = "%.8g" % measured if measured else "-"
        print("%12.8g  %-42s  %12s  %10s  %5.1fs" % (hz, method, shown, error, seconds), flush=True)
        rows.append((hz, method, measured, seconds))
    save_plot(rows, args.plot)
    return 0 if all(measured for _, _, measured, _ in rows) else 1


if __name__ == "__main__":
    sys.exit(main())
