"""The build backend of `pip install .`: CMake builds the module, and the standard library
zips the wheel. It needs nothing from a package index (requires = []), so pip can run it with
build isolation on a machine that reaches none; the C++ libraries come from Debian's packages,
as for the program.

The build folder is build-wheel/ in the source tree (kept, so that a second install rebuilds
only what changed); AEROSOL_WHEEL_BUILD_DIR names another. CMAKE_BUILD_PARALLEL_LEVEL sets
the parallel jobs (default 2).
"""

import base64
import hashlib
import io
import os
import re
import subprocess
import sys
import sysconfig
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
NAME = "aerosol"
SUMMARY = "Nodal simulation of aerosol size distributions (nucleation, coagulation, growth)"
REQUIRES = ["numpy", "xarray", "netCDF4"]


def _version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        found = re.search(r"project\(\s*aerosol\s+VERSION\s+([0-9.]+)", f.read())
    if not found:
        raise RuntimeError("no project version in CMakeLists.txt")
    return found.group(1)


def _tag():
    """The wheel tag of the running interpreter, e.g. cp311-cp311-linux_x86_64."""
    python = "cp%d%d" % sys.version_info[:2]
    platform = re.sub(r"[-.]", "_", sysconfig.get_platform())
    return "%s-%s-%s" % (python, python, platform)


def _metadata(version):
    lines = ["Metadata-Version: 2.1", "Name: " + NAME, "Version: " + version,
             "Summary: " + SUMMARY, "Requires-Python: >=3.9"]
    lines += ["Requires-Dist: " + name for name in REQUIRES]
    return "\n".join(lines) + "\n"


def _build(build_dir):
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
    configure = ["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                 "-DAEROSOL_BUILD_TESTS=OFF", "-DAEROSOL_PYTHON=ON",
                 "-DPython3_EXECUTABLE=" + sys.executable]
    build = ["cmake", "--build", build_dir, "--target", "_aerosol", "aerosol_python_files",
             "-j", jobs]
    for command in (configure, build):
        print(" ".join(command), file=sys.stderr, flush=True)
        # CMake's output goes to standard error: pip reads the backend's standard output.
        subprocess.run(command, check=True, stdout=sys.stderr)
    return os.path.join(build_dir, "python")


def _files(package_root):
    """(path in the wheel, path on disk) of the package's files."""
    found = []
    for folder, _, names in os.walk(os.path.join(package_root, NAME)):
        for name in sorted(names):
            if name.endswith((".py", ".so")):
                disk = os.path.join(folder, name)
                found.append((os.path.relpath(disk, package_root).replace(os.sep, "/"), disk))
    if not any(path.endswith(".so") for path, _ in found):
        raise RuntimeError("the build left no compiled module in " + package_root)
    return found


def _record_line(path, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return "%s,sha256=%s,%d" % (path, digest, len(data))


# The hooks pip calls.

def get_requires_for_build_wheel(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    # Without this pip would build the whole module only to read the metadata.
    version = _version()
    dist_info = "%s-%s.dist-info" % (NAME, version)
    folder = os.path.join(metadata_directory, dist_info)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "METADATA"), "w", encoding="utf-8") as f:
        f.write(_metadata(version))
    with open(os.path.join(folder, "WHEEL"), "w", encoding="utf-8") as f:
        f.write(_wheel_file(_tag()))
    return dist_info


def _wheel_file(tag):
    return ("Wheel-Version: 1.0\nGenerator: aerosol backend\nRoot-Is-Purelib: false\n"
            "Tag: %s\n" % tag)


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    version = _version()
    tag = _tag()
    build_dir = os.environ.get("AEROSOL_WHEEL_BUILD_DIR", os.path.join(ROOT, "build-wheel"))
    package_root = _build(os.path.abspath(build_dir))
    dist_info = "%s-%s.dist-info" % (NAME, version)
    wheel_name = "%s-%s-%s.whl" % (NAME, version, tag)
    records = []
    path = os.path.join(wheel_directory, wheel_name)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as wheel:
        def add(name, data):
            wheel.writestr(name, data)
            records.append(_record_line(name, data))

        for name, disk in _files(package_root):
            with open(disk, "rb") as f:
                add(name, f.read())
        add(dist_info + "/METADATA", _metadata(version).encode())
        add(dist_info + "/WHEEL", _wheel_file(tag).encode())
        add(dist_info + "/top_level.txt", b"aerosol\n")
        records.append(dist_info + "/RECORD,,")
        wheel.writestr(dist_info + "/RECORD", "\n".join(records) + "\n")
    return wheel_name
