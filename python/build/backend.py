"""The build backend of `pip install .`: CMake builds the module, and the standard library
zips the wheel. It needs nothing from a package index (requires = []), so pip can run it with
build isolation on a machine that reaches none; the C++ libraries come from Debian's packages,
as for the program.

The build folder is build-wheel/ in the source tree (kept, so that a second install rebuilds
only what changed); AEROSOL_WHEEL_BUILD_DIR names another. A new folder is configured for the
interpreter that runs pip (the base interpreter of a virtual environment, which outlives it);
an existing one is built as it is configured (the release build in build/, say), and must
hold a module for this interpreter's Python version. CMAKE_BUILD_PARALLEL_LEVEL sets the
parallel jobs (default 2).

The name, summary, Python version, dependencies and console scripts come from the [project]
table of pyproject.toml; the version from CMakeLists.txt, as the program's.
"""

import base64
import hashlib
import io
import os
import re
import subprocess
import sys
import sysconfig
import tomllib
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
NAME = "aerosol"


def _project():
    with open(os.path.join(ROOT, "pyproject.toml"), "rb") as f:
        return tomllib.load(f)["project"]


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
    project = _project()
    lines = ["Metadata-Version: 2.1", "Name: " + project["name"], "Version: " + version,
             "Summary: " + project["description"],
             "Requires-Python: " + project["requires-python"]]
    lines += ["Requires-Dist: " + name for name in project.get("dependencies", [])]
    return "\n".join(lines) + "\n"


def _entry_points():
    """entry_points.txt: the console scripts of [project.scripts]."""
    scripts = _project().get("scripts", {})
    return "[console_scripts]\n" + "".join("%s = %s\n" % item for item in scripts.items())


def _build(build_dir):
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
    commands = []
    if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        python = getattr(sys, "_base_executable", None) or sys.executable
        commands.append(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                         "-DAEROSOL_BUILD_TESTS=OFF", "-DAEROSOL_PYTHON=ON",
                         "-DPython3_EXECUTABLE=" + python])
    commands.append(["cmake", "--build", build_dir, "--target", "_aerosol",
                     "aerosol_python_files", "-j", jobs])
    for command in commands:
        print(" ".join(command), file=sys.stderr, flush=True)
        # CMake's output goes to standard error: pip reads the backend's standard output.
        subprocess.run(command, check=True, stdout=sys.stderr)
    package_root = os.path.join(build_dir, "python")
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    modules = [name for name in os.listdir(os.path.join(package_root, NAME))
               if name.startswith("_aerosol.") and name.endswith(".so")]
    if not any(name.endswith(suffix) for name in modules):
        raise RuntimeError("%s holds no compiled module for this Python (%s, found %s); "
                           "remove it or name another folder in AEROSOL_WHEEL_BUILD_DIR"
                           % (build_dir, suffix, ", ".join(modules) or "none"))
    return package_root


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
        add(dist_info + "/entry_points.txt", _entry_points().encode())
        records.append(dist_info + "/RECORD,,")
        wheel.writestr(dist_info + "/RECORD", "\n".join(records) + "\n")
    return wheel_name
