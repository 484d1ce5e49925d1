"""Result codes as exceptions: what the library refuses, what the package refuses before the
call, and what the harness refuses."""

import ctypes

import pytest

import qio5162
from qio5162 import records


class TestLibraryCodes:
    def test_out_of_range_arguments_carry_the_device_code_and_its_meaning(self, device):
        cases = [
            (lambda: device.dio_read_port_byte(3), "DioReadPortByte", 0x1007),
            (lambda: device.dio_read_bit("A", 8), "DioReadBit", 0x100A),
            (lambda: device.counter_pulse_start(0, 50.5), "CounterPulseStart", 0x1020),
            (lambda: device.freq_out_start(0, 17, "1MHz"), "FreqOutStart", 0x1020),
            (lambda: device.counter_freq_start(1), "CounterFreqStart", 0x1007),
            (lambda: device.enable_event(0x3418), "EnableEvent", 0x1028),
            (lambda: device.counter_pwm_enable(1), "CounterPWMEnable", 0x100A),
            (lambda: device.dio_set_port_mode("A", "in/out"), "DioSetPortMode", 0x100A),
            (lambda: device.device_get_property(0x1234), "DeviceGetProperty", 0x103E),
        ]
        for call, name, code in cases:
            with pytest.raises(qio5162.ZqsError) as caught:
                call()
            error = caught.value
            assert (error.call, error.code, error.low_code, error.device_number) == (name, code, code & 0xFFF, 0)
            assert error.meaning == qio5162.result_text(code) != "unknown result code"
            assert "%s failed: 0x%X: %s" % (name, code, error.meaning) in str(error)

    def test_plain_codes_have_no_low_code(self, device):
        with pytest.raises(qio5162.ZqsError) as caught:
            device.read_port_byte(0x2FF)  # below the board's window
        error = caught.value
        assert (error.code, error.low_code, error.device_number) == (10, None, None)
        assert error.meaning == "port address outside the board's port window"

    def test_an_unconfigured_device_number_cannot_be_opened(self, target):
        with pytest.raises(qio5162.ZqsError) as caught:
            target.open(7)
        assert (caught.value.code, caught.value.low_code, caught.value.call) == (2, None, "DeviceOpen")
        assert "device 7" in str(caught.value)

    def test_device_one_reports_its_own_error_base(self, two_boards):
        with two_boards.open(1) as second:
            with pytest.raises(qio5162.ZqsError) as caught:
                second.counter_event_read(2)
        assert (caught.value.code, caught.value.low_code, caught.value.device_number) == (0x2007, 7, 1)

    def test_a_failed_call_changes_nothing(self, device, board):
        device.dio_set_port_mode("A", "out")
        device.dio_write_port_byte("A", 0xFF, 0x3C)
        with pytest.raises(qio5162.ZqsError):
            device.dio_write_bit("A", 9, 1)
        assert device.dio_get_current_do_byte("A") == 0x3C
        assert board.get_pins("A") == 0x3C


class TestHandles:
    def test_the_null_handle_is_refused_by_the_library(self, device):
        value = ctypes.c_uint8()
        record = records.PortByteRefParams(Port=0, Value=ctypes.pointer(value))
        with pytest.raises(qio5162.ZqsError) as caught:
            qio5162.driver_proc(qio5162.FN_DIO_READ_PORT_BYTE, 0, record)
        assert (caught.value.code, caught.value.meaning) == (3, "invalid driver handle")

    def test_a_stale_handle_after_the_last_close_is_refused(self, target):
        device = target.open(0)
        stale = device.handle
        device.close()
        assert device.handle == 0
        with pytest.raises(qio5162.ZqsError) as caught:
            qio5162.driver_proc(qio5162.FN_COUNTER_RESET, stale, 0)
        assert caught.value.code == 3
        # A new open gets a new handle; the old one stays dead.
        with target.open(0) as again:
            assert again.handle != stale
            with pytest.raises(qio5162.ZqsError):
                qio5162.driver_proc(qio5162.FN_COUNTER_RESET, stale, 0)
            qio5162.driver_proc(qio5162.FN_COUNTER_RESET, again, 0)

    def test_a_closed_device_raises_without_calling_the_library(self, target):
        device = target.open(0)
        device.close()
        device.close()  # a second close does nothing
        with pytest.raises(qio5162.DeviceClosedError) as caught:
            device.dio_read_port_byte("A")
        assert isinstance(caught.value, qio5162.ZqsError)
        assert caught.value.code == 3 and "device 0 is closed" in str(caught.value)
        assert device.check_event(0) == qio5162.EVENT_DEVICE_CLOSED

    def test_driver_proc_fills_records_and_refuses_unknown_functions(self, device, board):
        board.set_di("C", 0xA5)
        value = ctypes.c_uint8()
        qio5162.driver_proc(qio5162.FN_DIO_READ_PORT_BYTE, device,
                            records.PortByteRefParams(Port=2, Value=ctypes.pointer(value)))
        assert value.value == 0xA5
        handle = ctypes.c_uint32()
        qio5162.driver_proc(qio5162.FN_DEVICE_OPEN, 0, handle)  # handle argument: the device number
        assert handle.value == device.handle
        qio5162.driver_proc(qio5162.FN_DEVICE_CLOSE, handle, None)
        assert handle.value == 0
        # The record as bytes: port 2 in direction code 0.
        qio5162.driver_proc(qio5162.FN_DIO_SET_PORT_MODE, device, bytearray(b"\x00\x00\x01\x00"))
        assert device.dio_get_config()[0] == 1
        with pytest.raises(qio5162.ZqsError) as caught:
            qio5162.driver_proc(200, device, None)
        assert caught.value.code == 27


class TestArguments:
    def test_numbers_that_do_not_fit_the_c_type_are_refused_before_the_call(self, device):
        with pytest.raises(ValueError, match="port 70000 does not fit in 16 bits"):
            device.dio_read_port_byte(70000)  # would read port 70000 & 0xFFFF = 4464 otherwise
        with pytest.raises(ValueError):
            device.dio_write_port_byte("A", -1, 0)
        with pytest.raises(ValueError):
            device.write_port_byte(0x326, 0x100)
        with pytest.raises(TypeError):
            device.counter_reset(0.5)
        with pytest.raises(TypeError):
            device.counter_pulse_start(0, "1 s")

    def test_names_of_ports_lines_directions_and_sources(self, device, board):
        with pytest.raises(ValueError, match="use 'A', 'B', 'C'"):
            device.dio_read_port_byte("D")
        with pytest.raises(ValueError):
            device.dio_set_port_mode("A", "sideways")
        with pytest.raises(ValueError):
            device.freq_out_start(0, 1, "3MHz")
        with pytest.raises(ValueError):
            board.set_di_square("B8", 10.0)
        with pytest.raises(ValueError):
            board.set_counter_input(0, float("nan"))
        assert qio5162.channel("b1") == 9 and qio5162.line_name(23) == "C7"
        assert qio5162.di_event("C7") == 0x3417
        device.dio_set_port_mode("c", "Out/In")
        assert device.directions == {"A": "in", "B": "in", "C": "out/in"}

    def test_a_nan_period_reaches_the_library_and_is_refused_there(self, device):
        with pytest.raises(qio5162.ZqsError) as caught:
            device.counter_pwm_setting(1, float("nan"), 0.001)
        assert caught.value.low_code == qio5162.LOW_PARAMETER


class TestHarness:
    def test_malformed_registry_text_names_the_line(self):
        with pytest.raises(qio5162.TargetError) as caught:
            qio5162.Target(registry_text="REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Drivers\n\"Dll\"=dword:zz\n")
        assert caught.value.code == qio5162.TARGET_E_REGISTRY
        assert "line" in caught.value.message

    def test_a_missing_registry_file_is_named(self, tmp_path):
        missing = tmp_path / "nowhere.reg"
        with pytest.raises(qio5162.TargetError) as caught:
            qio5162.Target(registry_file=[missing])
        assert caught.value.code == qio5162.TARGET_E_FILE
        assert "nowhere.reg" in caught.value.message

    def test_only_one_target_at_a_time(self, target):
        with pytest.raises(qio5162.TargetError) as caught:
            qio5162.Target()
        assert caught.value.code == qio5162.TARGET_E_STATE
        assert target.running

    def test_refused_board_calls_carry_the_harness_reason(self, target, board):
        with pytest.raises(qio5162.TargetError) as caught:
            board.set_counter_input(2, 1000.0)
        assert caught.value.code == qio5162.TARGET_E_ARGUMENT and caught.value.call == "qio_sim_set_counter_input"
        with pytest.raises(qio5162.TargetError) as caught:
            target.board(0x200)
        assert caught.value.code == qio5162.TARGET_E_DEVICE
        with pytest.raises(qio5162.TargetError):
            target.board_of(9)
        with pytest.raises(qio5162.TargetError):
            target.port_in(0x300, 3)
        with pytest.raises(qio5162.TargetError, match="are in use"):
            target.plug_board(0x300, 7)

    def test_a_refused_stream_request_carries_the_drivers_error(self, target):
        with target.device_open("Q621:") as stream:
            with pytest.raises(qio5162.TargetError) as caught:
                stream.ioctl(0x9C406400, (0x40).to_bytes(4, "little"), 1)  # offset outside the window
        assert caught.value.last_error == 0x20000040

    def test_a_registry_file_and_text_together_are_refused(self):
        with pytest.raises(ValueError):
            qio5162.Target(registry_file="a.reg", registry_text="REGEDIT4\n")
