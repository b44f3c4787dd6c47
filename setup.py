"""Builds the Python package `kestrel`: the project's CMake builds the module kestrel._kestrel
and the Kestrel libraries, which are copied into the package beside it (found there through the
$ORIGIN run path). Install with `python3 -m pip install --no-build-isolation .` (see README).

KESTREL_PYTHON_BUILD_DIR names the CMake build folder (default build/python-package), so that
repeated installs rebuild only what changed."""
import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = os.path.abspath(os.environ.get("KESTREL_PYTHON_BUILD_DIR",
                                                   os.path.join(ROOT, "build", "python-package")))
        configure = [
            "cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja",
            "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DKESTREL_BUILD_PYTHON=ON",
            "-DKESTREL_BUILD_TESTS=OFF", "-DKESTREL_BUILD_APPS=OFF", "-DKESTREL_BUILD_BENCH=OFF",
            "-DPYTHON_EXECUTABLE=" + sys.executable, "-DCMAKE_BUILD_WITH_INSTALL_RPATH=ON",
            "-DCMAKE_INSTALL_RPATH=$ORIGIN"]
        if shutil.which("ccache"):
            configure += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache",
                          "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
        subprocess.check_call(configure)
        subprocess.check_call(["cmake", "--build", build_dir, "--target", "_kestrel"])

        target = self.get_ext_fullpath(ext.name)
        package_dir = os.path.dirname(target)
        os.makedirs(package_dir, exist_ok=True)
        module = [f for f in os.listdir(os.path.join(build_dir, "python"))
                  if f.startswith("_kestrel") and f.endswith(".so")]
        shutil.copyfile(os.path.join(build_dir, "python", module[0]), target)
        # The libraries under their run-time names (libKestrelScene.so.0, ...).
        lib_dir = os.path.join(build_dir, "lib")
        for name in os.listdir(lib_dir):
            if re.fullmatch(r"libKestrel\w+\.so\.\d+", name):
                shutil.copyfile(os.path.realpath(os.path.join(lib_dir, name)),
                                os.path.join(package_dir, name))


setup(ext_modules=[Extension("kestrel._kestrel", sources=[])],
      cmdclass={"build_ext": CMakeBuild})
