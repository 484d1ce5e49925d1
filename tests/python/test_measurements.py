"""The counters through the package, checked against what the board model shows: frequencies,
counts, pulse, generator and PWM outputs, phase measurement."""

import time

import pytest

import qio5162
from conftest import measure, wait_for


class TestFrequency:
    @pytest.mark.parametrize("hz", [20e6, 2e6, 150e3])
    def test_high_and_medium_frequencies_are_measured_at_once(self, device, board, hz):
        assert measure(device, board, hz) == pytest.approx(hz, rel=0.002)

    def test_a_kilohertz_is_timed_by_the_period_method(self, device, board):
        assert measure(device, board, 1000.0) == pytest.approx(1000.0, rel=0.001)

    def test_a_fixed_gate(self, device, board):
        assert measure(device, board, 250e3, gate=10) == pytest.approx(250e3, rel=0.001)

    def test_frequency_runs_on_counter_zero_only(self, device):
        with pytest.raises(qio5162.ZqsError) as caught:
            device.counter_freq_read(1)
        assert caught.value.low_code == qio5162.LOW_RANGE

    def test_a_new_input_after_a_reset_is_measured_afresh(self, device, board):
        assert measure(device, board, 4e6) == pytest.approx(4e6, rel=0.002)
        device.counter_reset(0)
        assert measure(device, board, 800e3) == pytest.approx(800e3, rel=0.002)


class TestCounting:
    def test_the_total_runs_past_sixteen_bits(self, device, board):
        board.set_counter_level(1, 0)
        device.counter_event_start(1)
        edges = 65536 + 300
        for _ in range(edges):
            board.set_counter_level(1, 1)
            board.set_counter_level(1, 0)
        # The tally counts terminal-count interrupts, which the driver's interrupt thread
        # takes a moment to service after the 65536th edge.
        assert wait_for(lambda: device.counter_total(1), lambda total: total == edges, timeout_s=5) == edges
        tally, count = device.counter_event_read(1)
        assert (tally, count) == (1, 300)

    def test_counting_a_clock_grows_with_time(self, device, board):
        board.set_counter_input(1, 1e6)
        device.counter_event_start(1)
        first = device.counter_total(1)
        time.sleep(0.2)
        second = device.counter_total(1)
        # At least the sleep's worth of edges; a loaded machine may take longer.
        assert second - first >= 0.2 * 1e6 * 0.9


class TestOutputs:
    def test_a_pulse_every_ten_milliseconds(self, device, board):
        device.counter_pulse_start(1, 0.01)
        hz, _ = board.get_output(1)
        assert hz == pytest.approx(100.0, rel=0.001)

    @pytest.mark.parametrize("source, divisor, hz", [("10MHz", 1, 10e6), ("1MHz", 4, 250e3),
                                                     (qio5162.SOURCE_10KHZ, 16, 625.0), ("1kHz", 2, 500.0)])
    def test_generator_output(self, device, board, source, divisor, hz):
        device.freq_out_start(0, divisor, source)
        assert board.get_freqout(0) == pytest.approx(hz)
        device.freq_out_reset(0)
        assert board.get_freqout(0) == 0.0

    def test_pwm_output_with_its_high_time(self, device, board):
        device.counter_pwm_setting(1, 0.01, 0.0025)
        device.counter_pwm_enable(1)
        hz, high = board.get_output(1)
        assert hz == pytest.approx(100.0, rel=0.001)
        assert high == pytest.approx(0.0025, rel=0.01)

    def test_a_counted_pwm_ends_after_its_pulses(self, device, board):
        device.counter_pwm_setting(1, 0.002, 0.001, 3)
        device.counter_pwm_enable(1)
        assert wait_for(lambda: board.get_output(1), lambda out: out == (0.0, 0.0), timeout_s=5) == (0.0, 0.0)

    def test_the_phases_of_a_signal_on_clk0(self, device, board):
        board.set_counter_input(0, 250.0, 25.0)  # 1 ms high, 3 ms low
        first, second = device.pwm_start_read(0)
        assert sorted([first, second]) == [pytest.approx(1000.0, rel=0.01), pytest.approx(3000.0, rel=0.01)]


class TestDio:
    def test_loopback_of_every_byte_value(self, device, board):
        device.dio_set_port_mode("A", "out")
        board.set_loopback("A", "B")
        for value in range(256):
            device.dio_write_port_byte("A", 0xFF, value)
            assert device.dio_read_port_byte("B") == value
        assert board.get_pins("B") == 0xFF

    def test_half_port_c_and_multi_port_reads(self, device, board):
        device.dio_set_port_mode("C", "out/in")
        device.dio_write_port_byte("C", 0xFF, 0xFF)
        board.set_di("C", 0x30)
        board.set_di("A", 0x12)
        board.set_di("B", 0x34)
        # Lines 0-3 of C drive, lines 4-7 read the pins.
        assert board.get_pins("C") == 0x3F
        assert device.dio_read_di_ports("A", 3) == bytes([0x12, 0x34, 0x3F])
        assert device.dio_read_port_dword("A") == (0x00FFFFFF, 0x3F3412)
        assert device.dio_read_port_word("C") == (0x00FF, 0x3F)
        assert device.properties["dio_output_masks"] == (0x00, 0x00, 0x0F)
