"""The examples under examples/python run and say what they found."""

import os
import re
import subprocess
import sys

from conftest import SOURCE_DIR

EXAMPLES = os.path.join(SOURCE_DIR, "examples", "python")


def run(script, *arguments, cwd=None):
    return subprocess.run([sys.executable, os.path.join(EXAMPLES, script)] + list(arguments),
                          capture_output=True, text=True, timeout=120, cwd=cwd)


def test_the_frequency_sweep_prints_method_result_and_error_per_point(tmp_path):
    done = run("frequency_sweep.py", "--points", "1000,150000,20e6", "--plot", str(tmp_path / "sweep.png"))
    assert done.returncode == 0, done.stderr
    rows = [line.split() for line in done.stdout.splitlines() if re.match(r"\s+\d", line)]
    assert [float(row[0]) for row in rows] == [1000.0, 150000.0, 20e6]
    assert "period, 20 MHz base clock" in done.stdout and "medium range" in done.stdout
    for row in rows:
        assert float(row[-3]) == float(row[0])  # the result
        assert abs(float(row[-2])) < 1e-3  # the relative error
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        assert "matplotlib is not installed" in done.stdout
    else:
        assert (tmp_path / "sweep.png").stat().st_size > 0


def test_the_sweep_on_the_virtual_clock_reads_a_slow_input_exactly(tmp_path):
    done = run("frequency_sweep.py", "--virtual-time", "--points", "1,20,1000", "--plot",
               str(tmp_path / "sweep.png"))
    assert done.returncode == 0, done.stderr
    rows = [line.split() for line in done.stdout.splitlines() if re.match(r"\s+\d", line)]
    assert [float(row[0]) for row in rows] == [1.0, 20.0, 1000.0]
    for row in rows:
        assert float(row[-3]) == float(row[0])
    assert float(rows[0][-1].rstrip("s")) >= 1.0  # the slow pass, in virtual seconds


def test_the_dio_loopback_check_passes_every_pair():
    done = run("dio_loopback.py", "--pairs", "A:B,C:A")
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == ["A -> B: pass, 264 values and 8 single lines",
                                        "C -> A: pass, 264 values and 8 single lines"]


def test_the_event_monitor_shows_di_and_terminal_count_events():
    done = run("event_monitor.py", "--line", "B1", "--square", "B1=50", "--counter-input", "1=1MHz",
               "--count", "6", "--timeout", "10")
    assert done.returncode == 0, done.stderr
    events = [line for line in done.stdout.splitlines() if " s  " in line]
    assert len(events) == 6
    assert any("DI B1  (0x3409)  latched A=0x00 B=0x02 C=0x00" in line for line in events)
    assert any("TC1" in line for line in events)
    assert "6 events" in done.stdout


def test_the_event_monitor_ends_at_its_time_out_without_stimuli():
    done = run("event_monitor.py", "--line", "A0", "--timeout", "0.2")
    assert done.returncode == 3
    assert "0 events" in done.stdout


def test_the_readme_example_prints_what_the_readme_shows(tmp_path):
    with open(os.path.join(SOURCE_DIR, "README.md"), encoding="utf-8") as readme:
        section = readme.read().split("\n## Python\n", 1)[1].split("\n## ", 1)[0]
    code = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    shown = re.search(r"```text\n(.*?)```", section, re.S).group(1)
    script = tmp_path / "readme_example.py"
    script.write_text(code)
    done = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout == shown
