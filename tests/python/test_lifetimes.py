"""Objects and lifetimes: context managers, closes and shutdowns in the middle of other threads'
calls, shared opens of one device number, two boards side by side."""

import threading
import time

import pytest

import qio5162
from conftest import SECOND_BOARD, wait_for


class TestContextManagers:
    def test_a_raising_block_still_closes_the_device_and_shuts_the_target_down(self):
        with pytest.raises(RuntimeError):
            with qio5162.Target() as target, target.open(0) as device:
                board = target.board_of(0)
                device.dio_set_port_mode("A", "out")
                device.counter_pulse_start(1, 0.01)
                raise RuntimeError("the test's own failure")
        assert device.closed and not target.running
        with pytest.raises(qio5162.DeviceClosedError):
            device.dio_read_port_byte("A")
        with pytest.raises(qio5162.TargetClosedError):
            board.get_pins("A")
        # Nothing was left behind: the next target boots afresh.
        with qio5162.Target() as again, again.open(0) as fresh:
            assert fresh.dio_get_config() == (0, 0, 0)
            assert again.board_of(0).get_output(1) == (0.0, 0.0)

    def test_shutdown_closes_what_the_user_left_open(self):
        target = qio5162.Target()
        first, second = target.open(0), target.open(0)
        stream = target.device_open("Q621:")
        board = target.board_of(0)
        target.shutdown()
        target.shutdown()  # a second call does nothing
        assert first.closed and second.closed and first.handle == 0
        with pytest.raises(qio5162.TargetClosedError):
            target.open(0)
        with pytest.raises(qio5162.TargetClosedError):
            board.set_di("A", 0)
        with pytest.raises(qio5162.TargetError):
            stream.ioctl(0x9C406400, b"\0\0\0\0", 1)
        with pytest.raises(qio5162.TargetClosedError):
            target.export_registry()

    def test_opens_of_one_number_share_the_device_until_the_last_close(self, target, board):
        first, second = target.open(0), target.open(0)
        assert first.handle == second.handle
        first.counter_pulse_start(1, 0.01)
        first.close()
        # The device lives on for the second open: the pulse keeps running.
        assert second.dio_read_port_byte("A") == 0
        assert board.get_output(1)[0] == pytest.approx(100.0, rel=0.01)
        second.close()
        # The driver's last close resets the counters.
        assert board.get_output(1) == (0.0, 0.0)


def wait_in_thread(device, timeout_ms=qio5162.INFINITE):
    """Starts a thread blocked in device.check_event; returns (thread, results)."""
    results = []
    waiting = threading.Event()

    def run():
        waiting.set()
        results.append(device.check_event(timeout_ms))

    thread = threading.Thread(target=run)
    thread.start()
    waiting.wait()
    time.sleep(0.05)  # let it reach the wait
    return thread, results


class TestCloseWhileWaiting:
    def test_the_last_close_wakes_a_waiting_thread_with_the_closed_event(self, target):
        device = target.open(0)
        device.enable_event("B1")
        thread, results = wait_in_thread(device)
        started = time.monotonic()
        device.close()
        thread.join(10)
        assert not thread.is_alive()
        assert results == [qio5162.EVENT_DEVICE_CLOSED]
        assert time.monotonic() - started < 5

    def test_closing_the_waiters_own_open_wakes_it_while_another_open_lives_on(self, target, board):
        mine, other = target.open(0), target.open(0)
        thread, results = wait_in_thread(mine)
        mine.close()
        thread.join(10)
        assert results == [qio5162.EVENT_DEVICE_CLOSED]
        # The other open still gets the events.
        other.dio_enable_event_and_specify_di_ports("C0", 2, 1)
        board.set_di("C", 0x00)
        board.set_di("C", 0x01)
        assert other.check_event(2000) == qio5162.di_event("C0")
        other.close()

    def test_a_shutdown_wakes_every_waiting_thread(self):
        target = qio5162.Target()
        devices = [target.open(0), target.open(0)]
        waiters = [wait_in_thread(device) for device in devices for _ in range(2)]
        target.shutdown()
        for thread, results in waiters:
            thread.join(10)
            assert results == [qio5162.EVENT_DEVICE_CLOSED]

    def test_a_waiting_loop_ends_however_the_close_falls(self, target):
        # The close may come while the loop is between two waits: it still sees the close.
        device = target.open(0)
        seen = []

        def loop():
            while True:
                event = device.check_event(5)
                if event == qio5162.EVENT_DEVICE_CLOSED:
                    return
                seen.append(event)

        threads = [threading.Thread(target=loop) for _ in range(4)]
        for thread in threads:
            thread.start()
        time.sleep(0.1)
        device.close()
        for thread in threads:
            thread.join(10)
            assert not thread.is_alive()
        assert set(seen) <= {qio5162.EVENT_TIMEOUT}


class TestSideBySide:
    def test_two_boards_in_several_threads(self, two_boards):
        failures = []

        def dio_loop(number, pattern_base):
            with two_boards.open(number) as device:
                board = two_boards.board_of(number)
                device.dio_set_port_mode("A", "out")
                board.set_loopback("A", "B")
                for value in range(200):
                    pattern = (pattern_base + value) & 0xFF
                    device.dio_write_port_byte("A", 0xFF, pattern)
                    read = device.dio_read_port_byte("B")
                    if read != pattern:
                        failures.append((number, pattern, read))

        def frequency(number, hz):
            with two_boards.open(number) as device:
                board = two_boards.board_of(number)
                board.set_counter_input(0, hz)
                device.counter_freq_start(0)
                value = wait_for(lambda: device.counter_freq_read(0), lambda v: v > 0)
                if value != pytest.approx(hz, rel=0.01):
                    failures.append((number, hz, value))

        threads = [threading.Thread(target=dio_loop, args=(0, 0x00)),
                   threading.Thread(target=dio_loop, args=(1, 0x80)),
                   threading.Thread(target=frequency, args=(0, 2e6)),
                   threading.Thread(target=frequency, args=(1, 700e3))]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(60)
        assert failures == []
        assert two_boards.board_of(0) != two_boards.board_of(1)
        assert two_boards.board_of(1) == two_boards.board(0x340)

    def test_the_second_boards_registry_settings_reach_its_device(self, two_boards):
        with two_boards.open(1) as device:
            properties = device.properties
            assert (properties["device_number"], properties["base_address"], properties["irq"]) == (1, 0x340, 7)
            assert device.directions == {"A": "out", "B": "in", "C": "in"}

    def test_board_calls_racing_a_shutdown_end_with_a_clear_error(self):
        target = qio5162.Target()
        board = target.board_of(0)
        outcomes = []

        def hammer():
            try:
                while True:
                    board.set_di("A", 0x55)
                    board.get_pins("A")
            except qio5162.TargetClosedError:
                outcomes.append("closed")

        threads = [threading.Thread(target=hammer) for _ in range(3)]
        for thread in threads:
            thread.start()
        time.sleep(0.1)
        target.shutdown()
        for thread in threads:
            thread.join(10)
        assert outcomes == ["closed"] * 3

    def test_a_target_with_registry_files_merged_in_order(self, tmp_path):
        first = tmp_path / "first.reg"
        first.write_bytes(b"\xff\xfe" + SECOND_BOARD.replace("\n", "\r\n").encode("utf-16-le"))
        second = tmp_path / "second.reg"
        second.write_text(SECOND_BOARD.replace("hex:01,00,00", "hex:00,01,00"))
        with qio5162.Target(registry_file=[first, str(second)]) as target, target.open(1) as device:
            assert device.directions == {"A": "in", "B": "out", "C": "in"}
            assert "ZQS5162S1" in target.export_registry()
