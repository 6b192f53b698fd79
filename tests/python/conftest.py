"""Fixtures of the module's tests: the build's programs and sample stacks they make.

The build folder is KELVARON_BUILD, or build/ beside the sources; the module is
imported from its python/ folder.
"""

import os
import pathlib
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("KELVARON_BUILD", ROOT / "build")).resolve()
sys.path.insert(0, str(BUILD / "python"))

MAKE_SAMPLE = BUILD / "bin" / "kelvaron-make-sample"
CLI = BUILD / "bin" / "kelvaron-eval-cli"


def make_sample(folder, *args, name="sample"):
    """Writes a sample stack into folder; the path of its list file."""
    subprocess.run([str(MAKE_SAMPLE), "--out", str(folder), "--name", name, *args],
                   check=True, capture_output=True)
    return pathlib.Path(folder) / f"{name}.txt"


def run_cli(*args, check=True):
    """Runs the command line; its completed process, text output."""
    return subprocess.run([str(CLI), *map(str, args)], check=check, capture_output=True,
                          text=True)


@pytest.fixture(scope="session")
def stack(tmp_path_factory):
    """A small colour JPEG stack whose dots carry shuffled codes."""
    folder = tmp_path_factory.mktemp("stack")
    return make_sample(folder, "--width", "320", "--height", "240", "--spacing", "14",
                       "--shuffle", "--seed", "7")


@pytest.fixture(scope="session")
def deep_stack(tmp_path_factory):
    """A grey 16-bit PNG stack of a 12-bit camera, dim uneven dots."""
    folder = tmp_path_factory.mktemp("deep")
    return make_sample(folder, "--width", "240", "--height", "180", "--spacing", "16",
                       "--format", "png", "--grey", "--depth", "16", "--significant-bits", "12",
                       "--brightness", "60", "--gain-spread", "0.4", "--seed", "3")


@pytest.fixture
def kelvaron():
    import kelvaron as module
    return module
