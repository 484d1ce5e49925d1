"""The driver's view of a board through Target.driver_state: the record as the driver fills it,
decoded, while functions run on both counters and on a second board."""

import ctypes

import pytest

import qio5162
from qio5162 import state


def test_the_record_is_the_size_the_driver_writes(target):
    record = target.driver_state(0, raw=True)
    # The driver writes no more than the caller's size and reports what it wrote: the same
    # number only when the ctypes layout matches the C one.
    assert record.size == ctypes.sizeof(state.DriverState)
    assert record.version == state.STATE_VERSION


def test_a_booted_board_before_any_open(target):
    view = target.driver_state(0)
    assert view["device_number"] == 0
    assert view["stream_name"] == "Q621:"
    assert (view["io_base"], view["irq"]) == (0x300, 5)
    assert view["open_count"] == 0 and view["open_state"] == "closed"
    assert not view["interrupt_thread"]
    assert [c["function"] for c in view["counters"]] == ["idle", "idle"]
    assert [g["owner"] for g in view["generators"]] == ["idle", "idle"]
    assert view["events"] == {}


def test_functions_on_both_counters_and_events_side_by_side(target, device, board):
    board.set_counter_input(0, 2e6)
    device.counter_freq_start(0)
    device.freq_out_start(1, 4, "1MHz")
    device.enable_event(qio5162.EVENT_TERMINAL_COUNT0, True, 3)
    device.dio_enable_event_and_specify_di_ports("C2", 1, 2)
    view = target.driver_state(0)
    assert view["open_count"] == 1 and view["open_state"] == "open"
    assert view["interrupt_thread"] and view["interrupt_bound"]
    first, second = view["counters"]
    assert first["function"] == "frequency" and "has partner" in first["flags"]
    assert "is partner" in second["flags"]  # block 1 gates the measurement on counter 0
    assert first["frequency"]["hz"] == pytest.approx(2e6, rel=1e-3)
    assert "published" in first["frequency"]["flags"]
    assert view["generators"][1]["owner"] == "frequency output"
    assert view["events"][24]["trigger_count"] == 3
    assert view["events"][18] == {"trigger_count": 1, "interrupt_count": 0, "start_port": 1, "port_count": 2,
                                  "snapshot": bytes(4)}
    # The partner block belongs to the measurement: event counting there is refused.
    with pytest.raises(qio5162.ZqsError) as refused:
        device.counter_event_start(1)
    assert refused.value.low_code == 0x32
    device.counter_reset(0)
    view = target.driver_state(0)
    assert [c["function"] for c in view["counters"]] == ["idle", "idle"]
    assert view["generators"][1]["owner"] == "frequency output"  # the reset of counter 0 left FOUT1 alone


def test_each_board_reports_its_own_state(two_boards):
    with two_boards.open(1) as second:
        second.counter_event_start(0)
        assert two_boards.driver_state(1)["counters"][0]["function"] == "event counting"
        assert two_boards.driver_state(0)["counters"][0]["function"] == "idle"
        assert two_boards.driver_state(0)["open_count"] == 0


def test_an_unknown_device_number_raises(target):
    with pytest.raises(qio5162.TargetError):
        target.driver_state(9)
