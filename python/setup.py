"""Builds the vellox module for pip, offline: python3 -m pip install --no-build-isolation ./python

CMake builds it from the repository, as `cmake --build` does (the same sources, flags and static
library), for the Python that runs pip; the one file it makes, with vellox.pyi beside it, is
what gets installed. VELLOX_BUILD_DIR names a configured build of the repository to take the
module from instead (it must have been configured for the same Python)."""

import os
import pathlib
import re
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = pathlib.Path(__file__).resolve().parent
ROOT = pathlib.Path(os.environ.get("VELLOX_SOURCE_DIR", HERE.parent))


def version():
    header = (ROOT / "include" / "vellox" / "vellox.h").read_text()
    return ".".join(re.search(rf"#define VELLOX_VERSION_{part} +(\d+)", header).group(1)
                    for part in ("MAJOR", "MINOR", "PATCH"))


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.environ.get("VELLOX_BUILD_DIR")
        if not build:
            build = pathlib.Path(self.build_temp).resolve() / "cmake"
            generator = ["-G", "Ninja"] if shutil.which("ninja") else []
            subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), *generator,
                            "-DCMAKE_BUILD_TYPE=Release", f"-DPython3_EXECUTABLE={sys.executable}",
                            "-DVELLOX_PYTHON=ON", "-DVELLOX_TESTS=OFF", "-DVELLOX_BENCH=OFF",
                            "-DVELLOX_SHARED=OFF"], check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "vellox_python",
                        "--parallel", str(os.cpu_count() or 2)], check=True)
        module = pathlib.Path(build) / "python" / ("vellox" + sysconfig.get_config_var("EXT_SUFFIX"))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(module, target)
        shutil.copyfile(HERE / "vellox.pyi", target.parent / "vellox.pyi")


setup(
    name="vellox",
    version=version(),
    description="Encode 16-bit samples into ACM files and decode them, with libvellox",
    python_requires=">=3.8",
    install_requires=["numpy"],
    ext_modules=[Extension("vellox", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
