"""The package on a target with a virtual clock: long waits take no real time, readings are exact,
threads of Python wait in the target side by side, and two runs give the same register trace."""

import threading
import time

import pytest

import qio5162

# Generous: a virtual second costs microseconds, but the machine may be loaded.
WALL_LIMIT_S = 20.0


@pytest.fixture
def virtual():
    with qio5162.Target(virtual_time=True) as booted:
        yield booted


def test_the_clock_moves_only_through_the_targets_waits(virtual):
    assert virtual.virtual_time
    begin = virtual.now_ns()
    assert virtual.now_ns() == begin  # nothing ran in between
    wall = time.monotonic()
    virtual.sleep(30_000)
    assert virtual.now_ns() - begin == 30_000_000_000
    assert time.monotonic() - wall < WALL_LIMIT_S


def test_a_slow_input_reads_exactly(virtual):
    board = virtual.board_of(0)
    with virtual.open(0) as device:
        board.set_counter_input(0, 1.0)
        device.counter_freq_start(0)
        begin = virtual.now_ns()
        wall = time.monotonic()
        reading = 0.0
        while reading == 0.0 and virtual.now_ns() - begin < 10_000_000_000:
            virtual.sleep(100)
            reading = device.counter_freq_read(0)
        assert reading == pytest.approx(1.0, abs=1e-6)
        assert time.monotonic() - wall < WALL_LIMIT_S


def test_check_event_times_out_on_the_virtual_clock(virtual):
    with virtual.open(0) as device:
        device.enable_event(qio5162.EVENT_TERMINAL_COUNT1)
        begin = virtual.now_ns()
        wall = time.monotonic()
        assert device.check_event(5000) == qio5162.EVENT_TIMEOUT
        waited = virtual.now_ns() - begin
        assert 5_000_000_000 <= waited < 5_300_000_000  # made of slices, never shorter
        assert time.monotonic() - wall < WALL_LIMIT_S


def test_di_edges_wake_the_waiter_at_their_instants(virtual):
    board = virtual.board_of(0)
    with virtual.open(0) as device:
        device.dio_enable_event_and_specify_di_ports("A3")
        board.set_di_square(3, 10.0)
        assert device.check_event(2000) == qio5162.di_event("A3")
        first = virtual.now_ns()
        assert device.check_event(2000) == qio5162.di_event("A3")
        assert virtual.now_ns() - first == 100_000_000  # one period of 10 Hz


def test_a_close_ends_a_wait_of_another_python_thread(virtual):
    device = virtual.open(0)
    device.enable_event(qio5162.EVENT_TERMINAL_COUNT0)
    seen = []
    waiter = threading.Thread(target=lambda: seen.append(device.check_event()))
    waiter.start()
    virtual.sleep(3000)  # the waiter waits in the target meanwhile
    assert seen == []
    device.close()
    qio5162.detach_thread()  # the join is a wait outside the target
    waiter.join(WALL_LIMIT_S)
    assert not waiter.is_alive()
    assert seen == [qio5162.EVENT_DEVICE_CLOSED]


def test_shutdown_with_a_python_thread_still_in_a_wait():
    target = qio5162.Target(virtual_time=True)
    device = target.open(0)
    device.enable_event(qio5162.EVENT_TERMINAL_COUNT0)
    seen = []
    waiter = threading.Thread(target=lambda: seen.append(device.check_event(60_000)))
    waiter.start()
    target.sleep(10)
    target.shutdown()
    waiter.join(WALL_LIMIT_S)
    assert not waiter.is_alive()
    assert seen == [qio5162.EVENT_DEVICE_CLOSED]
    assert not target.running


def test_shutdown_ends_a_long_sleep_of_another_python_thread():
    target = qio5162.Target(virtual_time=True)
    entered = threading.Event()
    outcome = []

    def sleeper():
        target.now_ns()  # holds the clock from here until it sleeps
        entered.set()
        try:
            target.sleep(90_000)  # shutdown detaches: paced, this would take 90 s of real time
            outcome.append("slept")
        except qio5162.TargetClosedError:
            outcome.append("shut down")

    worker = threading.Thread(target=sleeper)
    worker.start()
    qio5162.detach_thread()
    assert entered.wait(WALL_LIMIT_S)
    target.sleep(10)  # runs once the sleeper waits on the clock
    wall = time.monotonic()
    target.shutdown()
    assert time.monotonic() - wall < WALL_LIMIT_S  # not the rest of the sleep
    qio5162.detach_thread()
    worker.join(WALL_LIMIT_S)
    assert not worker.is_alive()
    assert outcome == ["shut down"]


def test_a_detached_thread_may_sleep_with_the_os_while_the_target_runs_on(virtual):
    board = virtual.board_of(0)
    board.set_counter_input(1, 1000.0)
    with virtual.open(0) as device:
        device.counter_event_start(1)
        done = threading.Event()

        def counting():
            virtual.sleep(2000)
            done.set()

        worker = threading.Thread(target=counting)
        worker.start()
        qio5162.detach_thread()
        assert done.wait(WALL_LIMIT_S)  # the clock went on without this thread
        worker.join()
        assert device.counter_total(1) >= 2000


def _frequency_trace():
    with qio5162.Target(virtual_time=True) as target, target.open(0) as device:
        board = target.board_of(0)
        board.set_counter_input(0, 20_000.0)
        board.trace_enable(True)
        device.counter_freq_start(0, 100)
        target.sleep(450)
        reading = device.counter_freq_read(0)
        device.counter_reset(0)
        return reading, [tuple(access) for access in board.trace_read()]


def test_two_runs_give_the_same_register_trace_and_reading():
    first = _frequency_trace()
    second = _frequency_trace()
    assert first[0] == pytest.approx(20_000.0, rel=1e-3)
    assert len(first[1]) > 10
    assert first == second
