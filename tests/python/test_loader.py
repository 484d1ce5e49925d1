"""Finding the libraries: the environment variable, the location recorded beside the package, and
an error that says where the package looked. Each case runs in an interpreter of its own, since
a process loads the libraries once."""

import os
import subprocess
import sys

import qio5162

PROBE = "import qio5162; t = qio5162.Target(); print(qio5162.library_directory()); t.shutdown()"


def python(code, **environment):
    env = dict(os.environ)
    for name, value in environment.items():
        if value is None:
            env.pop(name, None)
        else:
            env[name] = value
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60, env=env)


def test_the_environment_variable_names_the_directory():
    directory = os.environ["QIO5162_LIBRARY_DIR"]
    done = python(PROBE)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == os.path.abspath(directory)


def test_the_build_tree_package_finds_its_libraries_without_the_variable():
    done = python(PROBE, QIO5162_LIBRARY_DIR=None, LD_LIBRARY_PATH=None)
    assert done.returncode == 0, done.stderr
    assert os.path.isfile(os.path.join(done.stdout.strip(), "libZqs5162.so"))


def test_a_directory_without_the_libraries_is_named_in_the_error(tmp_path):
    done = python("import qio5162\ntry:\n    qio5162.Target()\nexcept qio5162.LibraryNotFoundError as e:\n"
                  "    print(e)\n    raise SystemExit(7)\n", QIO5162_LIBRARY_DIR=str(tmp_path))
    assert done.returncode == 7, done.stderr
    assert str(tmp_path) in done.stdout and "QIO5162_LIBRARY_DIR" in done.stdout
    assert "no libZqs5162.so there" in done.stdout


def test_importing_needs_no_libraries(tmp_path):
    done = python("import qio5162; print(qio5162.EVENT_DEVICE_CLOSED, qio5162.channel('B1'))",
                  QIO5162_LIBRARY_DIR=str(tmp_path))
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["65534", "9"]


def test_the_versions_agree():
    source = os.environ.get("QIO5162_SOURCE_DIR")
    with open(os.path.join(source, "python", "pyproject.toml"), encoding="utf-8") as pyproject:
        assert 'version = "%s"' % qio5162.__version__ in pyproject.read()
    with open(os.path.join(source, "CMakeLists.txt"), encoding="utf-8") as cmake:
        assert "VERSION %s " % qio5162.__version__ in cmake.read()
