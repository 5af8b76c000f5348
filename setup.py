"""setuptools builds the package lumbra by driving the project's CMake build
of one target, the extension lumbra._lumbra (pyproject.toml holds the rest)."""
import os
import pathlib
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = pathlib.Path(__file__).resolve().parent


class CMakeBuild(build_ext):
    """Configures a Release tree without tests for the interpreter that runs
    pip, builds lumbra_python in it and puts the extension where setuptools
    packs it."""

    def build_extension(self, ext):
        tree = pathlib.Path(self.build_temp).resolve() / "cmake"
        tree.mkdir(parents=True, exist_ok=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(["cmake", "-S", str(SOURCE), "-B", str(tree), "-DCMAKE_BUILD_TYPE=Release",
                        "-DLUMBRA_TESTS=OFF", f"-DPYTHON_EXECUTABLE={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", str(tree), "-j", jobs, "--target", "lumbra_python"], check=True)
        built = next((tree / "python" / "lumbra").glob("_lumbra*.so"))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        self.copy_file(str(built), str(target))


setup(ext_modules=[Extension("lumbra._lumbra", sources=[])], cmdclass={"build_ext": CMakeBuild},
      options={"build": {"build_base": "build-pip"}})
