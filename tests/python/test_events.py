"""Events through the package: DI lines with their latched ports, terminal counts, the events()
iterator and its time-out."""

import time

import pytest

import qio5162


def rise(device, bit, settle_s=0.0):
    """A rising edge on port A's output `bit` (looped back to port B); `settle_s` gives the
    driver's interrupt thread time to take it (edges of one line closer than its service merge
    into one interrupt, as the board latches one flag per line)."""
    device.dio_write_bit("A", bit, 0)
    device.dio_write_bit("A", bit, 1)
    time.sleep(settle_s)


@pytest.fixture
def looped(device, board):
    """Device 0 with port A an output looped back to port B."""
    device.dio_set_port_mode("A", "out")
    board.set_loopback("A", "B")
    return device


class TestDiEvents:
    def test_a_rising_edge_fires_and_latches_the_chosen_ports(self, looped, board):
        board.set_di("C", 0x81)
        looped.dio_enable_event_and_specify_di_ports("B1", "B", 2)
        looped.dio_write_port_byte("A", 0xFF, 0x40)
        looped.dio_write_port_byte("A", 0xFF, 0x42)
        assert looped.check_event(2000) == qio5162.di_event("B1") == 0x3409
        assert looped.dio_get_latest_event_di_ports_state("B1", 2) == bytes([0x42, 0x81])
        # A falling edge fires nothing.
        looped.dio_write_bit("A", 1, 0)
        assert looped.check_event(50) == qio5162.EVENT_TIMEOUT

    def test_events_iterates_until_its_time_out(self):
        # On the virtual clock the edges all come before the interrupt thread runs, as they would
        # on a busy machine; on the real clock a late service of one of them could signal again
        # after the iteration has taken the first.
        with qio5162.Target(virtual_time=True) as target, target.open(0) as device:
            device.dio_set_port_mode("A", "out")
            target.board_of(0).set_loopback("A", "B")
            device.enable_event("B2")
            device.enable_event("B3")
            for _ in range(3):
                rise(device, 2)
            rise(device, 3)
            started = target.now_ns()
            seen = list(device.events(0.3))
            elapsed = target.now_ns() - started
        # One signal per source may be pending (an event, not a queue): B2 and B3 each once.
        assert sorted(seen) == [0x340A, 0x340B]
        assert elapsed == 300_000_000

    def test_a_square_wave_on_a_line_gives_an_event_per_period(self, device, board):
        device.enable_event("C7")
        board.set_di_square("C7", 100.0)
        events = []
        for event in device.events(2.0):
            events.append(event)
            if len(events) == 20:
                break
        board.set_di_square("C7", 0)
        assert events == [qio5162.di_event("C7")] * 20

    @pytest.mark.parametrize("timeout_s", [float("inf"), 1e7, 5e9])
    def test_events_with_an_endless_or_very_long_time_out(self, device, board, timeout_s):
        device.enable_event("C6")
        board.set_di_square("C6", 100.0)
        events = []
        for event in device.events(timeout_s):
            events.append(event)
            if len(events) == 5:
                break
        board.set_di_square("C6", 0)
        assert events == [qio5162.di_event("C6")] * 5

    def test_events_refuses_a_time_out_that_is_not_a_number(self, device):
        with pytest.raises(ValueError, match="time-out"):
            next(device.events(float("nan")))
        with pytest.raises(TypeError, match="time-out"):
            next(device.events("1s"))
        # A time-out already over looks once and ends.
        assert list(device.events(float("-inf"))) == list(device.events(-1.0)) == []

    def test_a_disabled_source_is_not_reported(self, looped):
        looped.enable_event("B4")
        rise(looped, 4)
        looped.dio_disable_event("B4")
        assert list(looped.events(0.1)) == []

    def test_a_trigger_count_signals_every_nth_edge(self, looped):
        looped.enable_event("B5", count=3)
        for _ in range(2):
            rise(looped, 5, settle_s=0.05)
        assert looped.check_event(100) == qio5162.EVENT_TIMEOUT
        rise(looped, 5)
        assert looped.check_event(2000) == 0x340D

    def test_events_of_two_boards_stay_apart(self, two_boards):
        with two_boards.open(0) as first, two_boards.open(1) as second:
            first.enable_event("C0")
            second.enable_event("C0")
            two_boards.board_of(1).set_di("C", 0x01)
            assert second.check_event(2000) == qio5162.di_event("C0")
            assert first.check_event(100) == qio5162.EVENT_TIMEOUT


class TestTerminalCounts:
    def test_event_counting_on_a_megahertz_clock_reaches_terminal_counts(self, device, board):
        board.set_counter_input(1, 1e6)
        device.counter_event_start(1)
        device.enable_event(qio5162.EVENT_TERMINAL_COUNT1)
        events = [device.check_event(2000) for _ in range(2)]
        assert events == [qio5162.EVENT_TERMINAL_COUNT1] * 2
        # Each terminal count is 65536 edges.
        assert device.counter_total(1) >= 65536

    def test_an_idle_counter_never_reaches_one(self, device, board):
        device.enable_event(qio5162.EVENT_TERMINAL_COUNT0)
        board.set_counter_input(0, 1e6)
        assert device.check_event(100) == qio5162.EVENT_TIMEOUT
        assert board.next_terminal_count(0) == (False, None)

    def test_the_board_announces_the_next_terminal_count(self, device, board):
        board.set_counter_input(1, 1e6)
        device.counter_event_start(1)
        counting, when = board.next_terminal_count(1)
        assert counting and when is not None
