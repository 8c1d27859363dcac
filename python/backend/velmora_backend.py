# SPDX-License-Identifier: GPL-3.0-or-later
"""The build backend of `pip install .` (PEP 517), with nothing to download.

It runs the project's own CMake for the module's target, for the Python that runs pip, and
writes the wheel with the standard library. Settings (pip's --config-settings, or the
environment): build-dir / VELMORA_WHEEL_BUILD_DIR, the CMake build folder (default: a
fresh temporary one); CMAKE_ARGS, more arguments for CMake (a compiler launcher, say).
"""
import base64
import hashlib
import os
import re
import shlex
import subprocess
import sys
import sysconfig
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
NAME = "velmora"


def _version():
    text = open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8").read()
    return re.search(r"project\(velmora VERSION ([0-9.]+)", text).group(1)


def _tag():
    python = "cp%d%d" % sys.version_info[:2]
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return "%s-%s-%s" % (python, python, platform)


def _metadata():
    return ("Metadata-Version: 2.1\nName: %s\nVersion: %s\n"
            "Summary: Streak images, strips and timelines of velmora-scan as NumPy arrays\n"
            "License: GPL-3.0-or-later\nRequires-Python: >=3.9\nRequires-Dist: numpy\n"
            % (NAME, _version()))


def _build(config_settings):
    settings = config_settings or {}
    build = settings.get("build-dir") or os.environ.get("VELMORA_WHEEL_BUILD_DIR")
    build = os.path.abspath(build) if build else tempfile.mkdtemp(prefix="velmora-wheel-")
    configure = ["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                 "-DVELMORA_TESTS=OFF", "-DVELMORA_BENCH=OFF", "-DVELMORA_PYTHON=ON",
                 "-DPython3_EXECUTABLE=" + sys.executable]
    if not os.path.exists(os.path.join(build, "build.ninja")):
        configure += ["-G", "Ninja"]
    configure += shlex.split(os.environ.get("CMAKE_ARGS", ""))
    # Build output goes to stderr: pip shows it with -v and when the build fails.
    subprocess.run(configure, check=True, stdout=sys.stderr)
    subprocess.run(["cmake", "--build", build, "--target", "velmora_python",
                    "-j", os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")],
                   check=True, stdout=sys.stderr)
    return os.path.join(build, "python", NAME)


def _record_line(path, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return "%s,sha256=%s,%d" % (path, digest, len(data))


def get_requires_for_build_wheel(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    info = "%s-%s.dist-info" % (NAME, _version())
    os.makedirs(os.path.join(metadata_directory, info), exist_ok=True)
    with open(os.path.join(metadata_directory, info, "METADATA"), "w") as f:
        f.write(_metadata())
    return info


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    package = _build(config_settings)
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    files = {"%s/__init__.py" % NAME: os.path.join(package, "__init__.py"),
             "%s/_velmora%s" % (NAME, suffix): os.path.join(package, "_velmora" + suffix)}
    info = "%s-%s.dist-info" % (NAME, _version())
    wheel = "%s-%s-%s.whl" % (NAME, _version(), _tag())
    extra = {info + "/METADATA": _metadata().encode(),
             info + "/WHEEL": ("Wheel-Version: 1.0\nGenerator: velmora_backend\n"
                               "Root-Is-Purelib: false\nTag: %s\n" % _tag()).encode()}
    record = []
    with zipfile.ZipFile(os.path.join(wheel_directory, wheel), "w", zipfile.ZIP_DEFLATED) as z:
        for name, path in files.items():
            data = open(path, "rb").read()
            z.writestr(name, data)
            record.append(_record_line(name, data))
        for name, data in extra.items():
            z.writestr(name, data)
            record.append(_record_line(name, data))
        record.append(info + "/RECORD,,")
        z.writestr(info + "/RECORD", "\n".join(record) + "\n")
    return wheel
