"""The one-to-one layer: every function of Zqs5162.h and every qio_sim_* function of target.h has
its method, named by the rule, and each method reaches its C function on a hosted target."""

import ctypes
import os
import re

import pytest

import qio5162
from qio5162 import _native
from conftest import SOURCE_DIR

ZQS_HEADER = os.path.join(SOURCE_DIR, "library", "include", "qio5162", "Zqs5162.h")
TARGET_HEADER = os.path.join(SOURCE_DIR, "include", "qio5162", "target.h")

# Exports without a driver handle, and where they are.
NO_HANDLE = {
    "DeviceOpen": (qio5162.Target, "open"),
    "DeviceClose": (qio5162.Device, "close"),
    "DeviceConfig": (qio5162.Target, "device_config"),
    "DeviceConfigExt": (qio5162.Target, "device_config_ext"),
    "DriverProc": (qio5162, "driver_proc"),
}
# Harness functions the package calls through another: qio_target_boot is
# qio_target_boot_ex with no flags, and a Target object is the current target.
NOT_CALLED = {"qio_target_boot", "qio_target_current"}


def snake(name):
    """The method name of a C name: an acronym counts as one word."""
    name = re.sub(r"([A-Z]+)([A-Z][a-z])", r"\1_\2", name)
    return re.sub(r"([a-z0-9])([A-Z])", r"\1_\2", name).lower()


def declarations(path, macro):
    """(name, parameter list) of every function the header exports."""
    with open(path, encoding="utf-8") as header:
        text = header.read()
    pattern = re.compile(macro + r"\s+[\w\s\*]+?\b(\w+)\s*\(([^)]*)\)\s*;", re.S)
    return [(m.group(1), " ".join(m.group(2).split())) for m in pattern.finditer(text)]


def library_exports():
    return declarations(ZQS_HEADER, "ZQS5162_API")


def harness_exports():
    return declarations(TARGET_HEADER, "QIO_TARGET_API")


def takes_handle(parameters):
    first = parameters.split(",")[0].strip()
    return re.fullmatch(r"uint32_t (h|DriverHandle)", first) is not None


def test_the_naming_rule_on_the_names_people_ask_about():
    assert snake("DioReadPortByte") == "dio_read_port_byte"
    assert snake("CounterFreqRead") == "counter_freq_read"
    assert snake("CounterPWMSetting") == "counter_pwm_setting"
    assert snake("PWMStartRead") == "pwm_start_read"
    assert snake("DioGetCurrentDOByte") == "dio_get_current_do_byte"
    assert snake("FreqOutStart") == "freq_out_start"
    assert snake("CheckEvent") == "check_event"


def test_the_headers_are_read_completely():
    # The library's 48 exports less the loader entry; the board functions of the harness.
    names = [name for name, _ in library_exports()]
    assert len(names) == len(set(names)) == 47
    assert "DioGetLatestEventDiPortsState" in names and "DeviceConfigExt" in names
    sim = [name for name, _ in harness_exports() if name.startswith("qio_sim_")]
    assert "qio_sim_set_counter_input" in sim and "qio_sim_next_terminal_count" in sim


def test_every_library_export_has_its_method():
    missing = []
    for name, parameters in library_exports():
        if takes_handle(parameters):
            if not callable(getattr(qio5162.Device, snake(name), None)):
                missing.append("Device.%s (%s)" % (snake(name), name))
        else:
            owner, attribute = NO_HANDLE[name]
            if not callable(getattr(owner, attribute, None)):
                missing.append("%s.%s (%s)" % (getattr(owner, "__name__", owner), attribute, name))
    assert not missing, "exports without a method: " + ", ".join(missing)


def test_every_board_function_has_its_method():
    missing = [name for name, _ in harness_exports()
               if name.startswith("qio_sim_") and not callable(getattr(qio5162.Board, name[len("qio_sim_"):], None))]
    assert not missing, "board functions without a method: " + ", ".join(missing)


def test_every_export_is_declared_with_its_types():
    declared = set(_native.ZQS_FUNCTIONS) | set(_native.TARGET_FUNCTIONS)
    exported = {name for name, _ in library_exports()} | {name for name, _ in harness_exports()}
    assert exported - declared == set()
    # Each declaration has as many arguments as the header's prototype.
    prototypes = dict(library_exports() + harness_exports())
    for name, (_, argtypes) in list(_native.ZQS_FUNCTIONS.items()) + list(_native.TARGET_FUNCTIONS.items()):
        parameters = prototypes[name]
        count = 0 if parameters in ("", "void") else parameters.count(",") + 1
        assert len(argtypes) == count, name


@pytest.fixture
def reached():
    """Records every C function called through the package while the test runs."""
    bound = _native.native()
    names = set()
    originals = []
    for namespace in (bound.zqs, bound.harness):
        for name, function in list(vars(namespace).items()):
            def recorder(*args, _name=name, _function=function):
                names.add(_name)
                return _function(*args)
            originals.append((namespace, name, function))
            setattr(namespace, name, recorder)
    yield names
    for namespace, name, function in originals:
        setattr(namespace, name, function)


def exercise_device(target, device):
    """Calls every Device method once, with arguments the board accepts."""
    board = target.board_of(0)
    assert len(device.device_get_features()) == 800
    assert device.device_get_property(qio5162.PROPERTY_DI_CHANNELS) == (24).to_bytes(4, "little")
    device.device_set_property(qio5162.PROPERTY_DIO_OUTPUT_MASKS, bytes([0xFF, 0, 0, 0] + [0] * 8))
    board.set_loopback("A", "B")
    device.dio_write_do_ports(0, b"\x81")
    assert device.dio_read_di_ports(1, 1) == b"\x81"
    assert device.dio_read_port_byte("B") == 0x81
    assert device.dio_read_port_word("B") == (0xFFFF, 0x81)
    assert device.dio_read_port_dword("A")[0] == 0xFFFFFF
    assert device.dio_read_bit("B", 7) == 1
    assert device.dio_get_current_do_ports_state(0, 1) == b"\x81"
    assert device.dio_get_current_do_byte("A") == 0x81
    assert device.dio_get_current_do_word("A")[1] & 0xFF == 0x81
    assert device.dio_get_current_do_dword("A")[1] & 0xFF == 0x81
    assert device.dio_get_current_do_bit("A", 0) == 1
    device.dio_write_port_byte("A", 0x0F, 0x02)
    device.dio_write_port_word("A", 0x00F0, 0x0030)
    device.dio_write_port_dword("A", 0x0, 0x0)
    device.dio_write_bit("A", 6, 1)
    assert device.dio_get_current_do_byte("A") == 0x72
    device.dio_set_port_mode("C", "in/out")
    assert device.dio_get_config() == (1, 0, 3)
    base = 0x300
    device.write_port_byte(base + 0x26, 0x11)
    device.write_port_word(base + 0x02, 0x1234)
    device.write_port_dword(base + 0x02, 0x1234)
    assert device.read_port_byte(base + 0x26) == 0x11
    device.read_port_word(base + 0x04)
    device.read_port_dword(base + 0x04)
    device.counter_reset(0)
    device.counter_event_start(1)
    assert device.counter_event_read(1) == (0, 0)
    device.counter_reset(1)
    board.set_counter_input(0, 2e6)
    device.counter_freq_start(0)
    assert device.counter_freq_read(0) == pytest.approx(2e6, rel=1e-3)
    device.counter_reset(0)
    device.counter_pulse_start(1, 0.01)
    device.counter_reset(1)
    device.freq_out_start(1, 4, "1MHz")
    assert board.get_freqout(1) == pytest.approx(250e3)
    device.freq_out_reset(1)
    device.counter_pwm_setting(1, 0.01, 0.0025)
    device.counter_pwm_enable(1)
    device.counter_reset(1)
    board.set_counter_input(0, 10e3, 25.0)
    first, second = device.pwm_start_read(0)
    assert first + second == pytest.approx(100.0, rel=0.02)
    device.counter_reset(0)
    device.enable_event(qio5162.EVENT_TERMINAL_COUNT0, True, 1)
    device.dio_enable_event_and_specify_di_ports("B0", 1, 2)
    device.dio_write_port_byte("A", 0x01, 0x00)
    device.dio_write_port_byte("A", 0x01, 0x01)
    assert device.check_event(2000) == qio5162.di_event("B0")
    assert device.dio_get_latest_event_di_ports_state("B0", 2)[0] & 1 == 1
    device.dio_disable_event("B0")


def exercise_board(target, board):
    """Calls every Board method once."""
    board.set_counter_input(1, 1000.0, 50.0)
    board.set_counter_input_ex(1, 1000.0, 50.0, 0.25)
    board.set_counter_level(1, 1)
    board.wire_counter_input(1, "FOUT0")
    board.set_di("C", 0x0F)
    board.set_di_square("C7", 0)
    board.set_loopback(None, "B")
    assert board.get_pins("C") & 0x0F == 0x0F
    assert board.get_output(0) == (0.0, 0.0)
    assert board.get_output_level(0) in (0, 1)
    assert board.get_freqout(0) == 0.0
    board.record_pins(16)
    board.trace_enable(True)
    target.port_out(0x300 + 0x26, 1, 0x00)
    accesses = board.trace_read()
    assert accesses and accesses[-1].is_write and accesses[-1].offset == 0x26
    board.trace_enable(False)
    changes, listing = board.list_edges("A", accesses[-1].time_ns, accesses[-1].time_ns + 1000000)
    assert changes == [] and listing.value_at_from == board.get_pins("A")
    assert board.next_terminal_count(0) == (False, None)


def test_every_method_reaches_its_c_function(target, reached, monkeypatch):
    with target.open(0) as device:
        exercise_device(target, device)
        exercise_board(target, target.board_of(0))
        record = ctypes.c_uint16(1)  # FN_COUNTER_RESET takes the counter itself
        qio5162.driver_proc(qio5162.FN_COUNTER_RESET, device, record.value)
    for variable in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
        monkeypatch.delenv(variable, raising=False)
    assert target.device_config(0) == qio5162.DIALOG_FAILED  # nowhere to show it
    assert target.device_config_ext(255) == qio5162.DIALOG_FAILED
    target.board(0x300)
    target.plug_board(0x100, 3)
    assert "Windows Registry Editor Version 5.00" in target.export_registry()
    assert "Q621:" in target.boot_report()
    assert target.port_in(0x300 + 0x2C, 1) >= 0
    with target.device_open("Q621:") as stream:
        stream.ioctl(0x9C406400, (0x2C).to_bytes(4, "little"), 1)
    qio5162.result_text(0x1032)
    assert target.driver_state(0)["stream_name"] == "Q621:"
    before = target.now_ns()
    target.sleep(1)
    assert target.now_ns() > before
    qio5162.detach_thread()  # nothing on the real clock
    expected = {name for name, _ in library_exports()} | {name for name, _ in harness_exports()}
    expected -= NOT_CALLED | {"qio_target_boot_data", "qio_target_boot_files", "qio_target_shutdown",
                              "qio_target_boot_ex", "qio_target_last_message"}
    assert expected - reached == set(), "not reached: %s" % sorted(expected - reached)


def test_booting_and_shutting_down_reach_their_c_functions(reached, tmp_path):
    qio5162.Target().shutdown()
    qio5162.Target(registry_text=b"REGEDIT4\n").shutdown()
    script = tmp_path / "boards.reg"
    script.write_text("REGEDIT4\n")
    qio5162.Target(registry_file=script).shutdown()
    with pytest.raises(qio5162.TargetError):
        qio5162.Target(registry_file=tmp_path / "missing.reg")
    assert {"qio_target_boot_ex", "qio_target_boot_data", "qio_target_boot_files", "qio_target_shutdown",
            "qio_target_last_message"} <= reached


def test_device_config_shows_the_dialog_and_returns_its_end_code(tmp_path):
    # Offscreen, with a screenshot asked for, the dialog renders itself and ends as Cancel.
    import subprocess
    import sys
    if not os.path.isfile(os.path.join(qio5162.library_directory() or "", "libZqs5162Dialog.so")):
        pytest.skip("built without the dialog's view")
    code = ("import qio5162\nwith qio5162.Target() as t:\n"
            "    print(t.device_config(0), t.device_config_ext(0))\n")
    environment = dict(os.environ, QT_QPA_PLATFORM="offscreen", QIO5162_DIALOG_SCREENSHOT=str(tmp_path))
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120,
                          env=environment)
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == [str(qio5162.DIALOG_CANCEL)] * 2
    assert (tmp_path / "device-setting.png").stat().st_size > 0
