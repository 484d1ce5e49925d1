"""A build backend for the pure-Python package qio5162, with the standard library only.

It builds the wheel (the package's modules and its metadata) and a source archive; pip calls
it for ``pip install ./python`` without fetching any build tool.
"""

import base64
import hashlib
import io
import os
import re
import tarfile
import zipfile

NAME = "qio5162"
HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PACKAGE = os.path.join(HERE, NAME)
SUMMARY = "The QIO-5162 counter/timer and DIO board from Python: the user-mode library and the hosted target"
# Written by the build and the install, never shipped in a wheel: it names a directory of the machine.
GENERATED = "_location.py"


def _version():
    with open(os.path.join(PACKAGE, "__init__.py"), encoding="utf-8") as source:
        return re.search(r'^__version__ = "([^"]+)"', source.read(), re.M).group(1)


def _modules():
    return sorted(name for name in os.listdir(PACKAGE) if name.endswith(".py") and name != GENERATED)


def _metadata():
    return ("Metadata-Version: 2.1\nName: %s\nVersion: %s\nSummary: %s\nRequires-Python: >=3.9\n"
            % (NAME, _version(), SUMMARY))


def _wheel_name():
    return "%s-%s-py3-none-any.whl" % (NAME, _version())


def _record_line(path, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode("ascii")
    return "%s,sha256=%s,%d" % (path, digest, len(data))


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    info = "%s-%s.dist-info" % (NAME, _version())
    os.makedirs(os.path.join(metadata_directory, info), exist_ok=True)
    with open(os.path.join(metadata_directory, info, "METADATA"), "w", encoding="utf-8") as out:
        out.write(_metadata())
    return info


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    info = "%s-%s.dist-info" % (NAME, _version())
    files = []
    for module in _modules():
        with open(os.path.join(PACKAGE, module), "rb") as source:
            files.append(("%s/%s" % (NAME, module), source.read()))
    files.append(("%s/METADATA" % info, _metadata().encode("utf-8")))
    wheel = "Wheel-Version: 1.0\nGenerator: qio5162_build\nRoot-Is-Purelib: true\nTag: py3-none-any\n"
    files.append(("%s/WHEEL" % info, wheel.encode("utf-8")))
    record = [_record_line(path, data) for path, data in files] + ["%s/RECORD,," % info]
    files.append(("%s/RECORD" % info, ("\n".join(record) + "\n").encode("utf-8")))
    name = _wheel_name()
    with zipfile.ZipFile(os.path.join(wheel_directory, name), "w", zipfile.ZIP_DEFLATED) as archive:
        for path, data in files:
            archive.writestr(path, data)
    return name


def build_sdist(sdist_directory, config_settings=None):
    root = "%s-%s" % (NAME, _version())
    name = root + ".tar.gz"
    with tarfile.open(os.path.join(sdist_directory, name), "w:gz") as archive:
        for relative in ["pyproject.toml", "build_backend/qio5162_build.py"] + [
                "%s/%s" % (NAME, module) for module in _modules()]:
            archive.add(os.path.join(HERE, relative), arcname="%s/%s" % (root, relative))
        info = tarfile.TarInfo("%s/PKG-INFO" % root)
        data = _metadata().encode("utf-8")
        info.size = len(data)
        archive.addfile(info, io.BytesIO(data))
    return name
