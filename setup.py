"""Builds the Python package slp: python/slp and its native module slp._slp, which this project's CMake
makes (SLP_BUILD_PYTHON, static libraries, so the module needs no library beside it). The metadata is in
pyproject.toml; the version is the CMake project's."""

import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(slp VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    """Configures and builds the module's target in the build folder that setuptools gives, which a
    later install reuses, so only what changed is rebuilt."""

    def build_extension(self, ext):
        output = Path(self.get_ext_fullpath(ext.name)).resolve()
        build = Path(self.build_temp).resolve() / "cmake"
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DBUILD_SHARED_LIBS=OFF",
            "-DSLP_BUILD_PYTHON=ON",
            "-DSLP_BUILD_TESTS=OFF",
            "-DSLP_BUILD_TOOLS=OFF",
            "-DSLP_BUILD_BENCH=OFF",
            "-DSLP_INSTALL=OFF",
            f"-DPython_EXECUTABLE={sys.executable}",
            f"-DSLP_PYTHON_OUTPUT_DIR={output.parent}",
        ]
        if shutil.which("ninja") and not (build / "CMakeCache.txt").exists():
            configure += ["-G", "Ninja"]
        subprocess.run(configure, check=True)
        # --config: a multi-configuration generator (Visual Studio, Xcode) builds Debug unless told.
        subprocess.run(["cmake", "--build", str(build), "--target", "slp_python", "--config", "Release"], check=True)
        if not output.exists():
            raise RuntimeError(f"the CMake build did not write {output}")


setup(
    version=project_version(),
    ext_modules=[Extension("slp._slp", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
