#!/usr/bin/env python3
"""DIO loopback check: wires one port's outputs to another port's inputs on the hosted target's
board and checks that every byte value written arrives, then walks a single 1 across the lines.

    PYTHONPATH=build/python python3 examples/python/dio_loopback.py [--pairs A:B,B:C,C:A] [--device N]

Exit code 0 when every pair passed, 1 otherwise.
"""

import argparse
import sys

import qio5162


def check_pair(device, board, source, sink):
    """Writes every value on `source` and reads it on `sink`; returns the mismatches."""
    device.dio_set_port_mode(source, "out")
    device.dio_set_port_mode(sink, "in")
    board.set_loopback(source, sink)
    mismatches = []
    values = list(range(256)) + [1 << bit for bit in range(8)]
    for value in values:
        device.dio_write_port_byte(source, 0xFF, value)
        read = device.dio_read_port_byte(sink)
        if read != value:
            mismatches.append((value, read))
    for bit in range(8):  # one line at a time, through the bit calls
        device.dio_write_port_byte(source, 0xFF, 0)
        device.dio_write_bit(source, bit, 1)
        if device.dio_read_bit(sink, bit) != 1 or device.dio_read_port_byte(sink) != 1 << bit:
            mismatches.append((1 << bit, device.dio_read_port_byte(sink)))
    board.set_loopback(None, sink)
    device.dio_set_port_mode(source, "in")
    return mismatches


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--pairs", default="A:B,B:C,C:A", help="source:sink port pairs (default A:B,B:C,C:A)")
    parser.add_argument("--device", type=int, default=0, help="device number (default 0)")
    args = parser.parse_args(argv)
    pairs = [tuple(pair.split(":")) for pair in args.pairs.split(",")]

    failed = 0
    with qio5162.Target() as target, target.open(args.device) as device:
        board = target.board_of(args.device)
        for source, sink in pairs:
            mismatches = check_pair(device, board, source, sink)
            if mismatches:
                failed += 1
                shown = ", ".join("wrote 0x%02X read 0x%02X" % m for m in mismatches[:4])
                print("%s -> %s: FAIL, %d mismatches (%s)" % (source, sink, len(mismatches), shown))
            else:
                print("%s -> %s: pass, 264 values and 8 single lines" % (source, sink))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
