"""The module installs: cmake --install puts it where its Python looks under the prefix, and
pip installs it offline into a virtual environment (from the build at hand, to stay quick)."""

import os
import pathlib
import shutil
import subprocess
import sys

import pytest
import vellox

BUILD = os.environ.get("VELLOX_BUILD_DIR", "build/release")
SOURCE = pathlib.Path(os.environ.get("VELLOX_SOURCE_DIR", "."))
CHECK = "import vellox; print(vellox.__file__); print(vellox.encode([1, 2, 3]).hex())"
ENCODED = vellox.encode([1, 2, 3]).hex()


def run_python(python, folder, extra_path=None):
    """The module's file and a small encoding, as python imports it in folder."""
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    if extra_path:
        env["PYTHONPATH"] = str(extra_path)
    return subprocess.run([str(python), "-c", CHECK], check=True, capture_output=True, text=True,
                          env=env, cwd=folder).stdout.split()


def test_cmake_install(tmp_path):
    subprocess.run(["cmake", "--install", BUILD, "--prefix", str(tmp_path)], check=True,
                   capture_output=True)
    site = tmp_path / os.environ["VELLOX_PYTHON_INSTALL_DIR"]
    assert (site / "vellox.pyi").is_file()
    path, encoded = run_python(sys.executable, tmp_path, site)
    assert pathlib.Path(path).parent == site and encoded == ENCODED


def test_pip_install_offline_into_a_virtual_environment(tmp_path):
    if subprocess.run([sys.executable, "-m", "pip", "--version"], capture_output=True).returncode:
        pytest.skip("pip is not installed for " + sys.executable)
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--without-pip", "--system-site-packages",
                    str(venv)], check=True)
    # A copy of python/, so that setuptools' build folders stay out of the repository.
    project = tmp_path / "project"
    shutil.copytree(SOURCE / "python", project, ignore=shutil.ignore_patterns("build", "*.egg-info"))
    env = dict(os.environ, VELLOX_SOURCE_DIR=str(SOURCE), VELLOX_BUILD_DIR=BUILD)
    subprocess.run([str(venv / "bin" / "python"), "-m", "pip", "install", "--no-index",
                    "--no-build-isolation", "--no-cache-dir", str(project)], check=True,
                   capture_output=True, env=env)
    path, encoded = run_python(venv / "bin" / "python", tmp_path)
    assert venv in pathlib.Path(path).parents and encoded == ENCODED
    assert (pathlib.Path(path).parent / "vellox.pyi").is_file()
