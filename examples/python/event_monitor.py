#!/usr/bin/env python3
"""Event monitor: enables DI-line events (latching the ports) and terminal-count events on the
hosted target's board, drives the simulated stimuli asked for, and prints each event as it comes
with its time and the latched ports, until a count or a time-out.

    PYTHONPATH=build/python python3 examples/python/event_monitor.py --line B1 --square B1=20 \\
        --counter-input 1=1MHz --timeout 1

Without stimuli nothing happens on the pins and the monitor ends at its time-out.
"""

import argparse
import sys
import time

import qio5162

UNITS = {"hz": 1.0, "khz": 1e3, "mhz": 1e6}


def hertz(text):
    """'20', '20Hz', '1kHz', '1MHz' as hertz."""
    lowered = text.strip().lower()
    for unit in ("mhz", "khz", "hz"):
        if lowered.endswith(unit):
            return float(lowered[: -len(unit)]) * UNITS[unit]
    return float(lowered)


def name_of(event):
    if qio5162.EVENT_DI_FIRST <= event <= qio5162.EVENT_DI_LAST:
        return "DI %s" % qio5162.line_name(event - qio5162.EVENT_DI_FIRST)
    return {qio5162.EVENT_TERMINAL_COUNT0: "TC0", qio5162.EVENT_TERMINAL_COUNT1: "TC1"}.get(event, "0x%04X" % event)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--line", action="append", default=[], help="a DI line to watch, e.g. B1 or 9 (repeatable)")
    parser.add_argument("--square", action="append", default=[], help="LINE=HZ: a square wave on a DI line")
    parser.add_argument("--counter-input", action="append", default=[],
                        help="N=HZ: CLKn input; counter N then counts events and TCn is watched")
    parser.add_argument("--count", type=int, default=0, help="stop after this many events (0: no limit)")
    parser.add_argument("--timeout", type=float, default=2.0, help="stop after this many seconds (default 2)")
    args = parser.parse_args(argv)

    with qio5162.Target() as target, target.open(0) as device:
        board = target.board_of(0)
        for line in args.line:
            line = int(line) if line.isdigit() else line
            device.dio_enable_event_and_specify_di_ports(line, 0, 3)
            print("watching DI %s (0x%04X), latching ports A-C" % (qio5162.line_name(qio5162.channel(line)),
                                                                   qio5162.di_event(line)))
        for spec in args.counter_input:
            counter, hz = spec.split("=")
            counter = int(counter)
            board.set_counter_input(counter, hertz(hz))
            device.counter_event_start(counter)
            device.enable_event(qio5162.EVENT_TERMINAL_COUNT0 + counter)
            print("counter %d counts a %s input; watching TC%d" % (counter, hz, counter))
        for spec in args.square:
            line, hz = spec.split("=")
            board.set_di_square(int(line) if line.isdigit() else line, hertz(hz))

        started = time.monotonic()
        seen = 0
        for event in device.events(args.timeout):
            seen += 1
            text = "%8.3f s  %-6s (0x%04X)" % (time.monotonic() - started, name_of(event), event)
            if qio5162.EVENT_DI_FIRST <= event <= qio5162.EVENT_DI_LAST:
                latched = device.dio_get_latest_event_di_ports_state(event, 3)
                text += "  latched A=0x%02X B=0x%02X C=0x%02X" % tuple(latched)
            else:
                text += "  total %d" % device.counter_total(event - qio5162.EVENT_TERMINAL_COUNT0)
            print(text, flush=True)
            if args.count and seen >= args.count:
                break
        print("%d events in %.1f s" % (seen, time.monotonic() - started))
    return 0 if seen else 3


if __name__ == "__main__":
    sys.exit(main())
