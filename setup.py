"""Builds the native part of the Python package (quarrow._native) with CMake.

The extension is the same pybind11 module that the CMake build makes; this
file only runs CMake and puts the module where setuptools packs it. The
CMake build folder is QUARROW_CMAKE_BUILD_DIR when set (reused between
installs), else a folder in setuptools' temporary build tree.
"""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(Quarrow VERSION ([0-9.]+)", text).group(1)


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        target = Path(self.get_ext_fullpath(ext.name)).resolve()
        build = Path(os.environ.get("QUARROW_CMAKE_BUILD_DIR") or Path(self.build_temp).resolve() / "cmake")
        jobs = str(os.cpu_count() or 2)
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                        "-DQUARROW_BUILD_TESTS=OFF", "-DQUARROW_BUILD_BENCH=OFF",
                        "-DPython_EXECUTABLE=" + sys.executable], check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "quarrow_python", "-j", jobs], check=True)
        built = sorted((build / "python" / "quarrow").glob("_native*"))
        if not built:
            raise RuntimeError("the CMake build made no quarrow/_native module in " + str(build))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built[0], target)


setup(
    version=project_version(),
    ext_modules=[CMakeExtension("quarrow._native")],
    cmdclass={"build_ext": CMakeBuild},
)
