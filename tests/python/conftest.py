"""Fixtures of the Python package's tests: a hosted target per test, its device 0 and board,
and a target with two boards (devices 0 and 1).

Run from the build: ctest -L python (CTest sets PYTHONPATH and QIO5162_LIBRARY_DIR), or by hand:
PYTHONPATH=build/python QIO5162_LIBRARY_DIR=build/lib /usr/bin/python3 -m pytest tests/python
"""

import os
import time

import pytest

import qio5162

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.environ.get("QIO5162_SOURCE_DIR") or os.path.dirname(os.path.dirname(HERE))

# A second board at 0x340, IRQ 7, as device 1; port A of it is an output from the start.
SECOND_BOARD = r"""REGEDIT4

[HKEY_LOCAL_MACHINE\Drivers\BuiltIn\ZQS5162S1]
"Prefix"="Q62"
"Dll"="Zqs5162s.dll"
"Order"=dword:1
"DeviceIndex"=dword:1
"IoBase"=dword:340
"IoLen"=dword:40
"Irq"=dword:7
"TimerClock"=dword:14
"DigPortCfg"=hex:01,00,00
"""


@pytest.fixture
def target():
    """A target booted from the shipped default registry, shut down after the test."""
    with qio5162.Target() as booted:
        yield booted


@pytest.fixture
def device(target):
    """Device 0 of the default target, open."""
    with target.open(0) as opened:
        yield opened


@pytest.fixture
def board(target):
    """The board model behind device 0."""
    return target.board_of(0)


@pytest.fixture
def two_boards():
    """A target with boards at 0x300 (device 0) and 0x340 (device 1)."""
    with qio5162.Target(registry_text=SECOND_BOARD) as booted:
        yield booted


def wait_for(read, accept, timeout_s=10.0, interval_s=0.01):
    """Calls `read` until `accept` takes its value or the time runs out; returns the last value."""
    deadline = time.monotonic() + timeout_s
    value = read()
    while not accept(value) and time.monotonic() < deadline:
        time.sleep(interval_s)
        value = read()
    return value


def measure(device, board, hz, gate=0, timeout_s=10.0):
    """`hz` on CLK0 measured with counter 0: the first nonzero reading (0.0 when none came)."""
    board.set_counter_input(0, hz)
    device.counter_freq_start(0, gate)
    return wait_for(lambda: device.counter_freq_read(0), lambda value: value > 0, timeout_s)
