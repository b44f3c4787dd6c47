"""Shared fixture: the built kestrel-render tool, run beside the package on the same settings."""
import glob
import os
import subprocess

import numpy as np
import pytest

import kestrel
from kestrel import _kestrel

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PHANTOM = 48  # phantom grid for the comparisons: small enough for a 2-core machine


def _tool(name):
    path = os.environ.get("KESTREL_" + name.upper().replace("KESTREL-", ""))
    if path:
        return path
    found = sorted(glob.glob(os.path.join(ROOT, "build", "*", "bin", name)), key=os.path.getmtime)
    if not found:
        pytest.fail("%s not built: set KESTREL_%s" % (name, name.upper()[8:]))
    return found[-1]


class Tool:
    """kestrel-render on the command line: its PNG as (h, w, 4) bytes, or its one-line error."""

    def __init__(self, directory):
        self.path = _tool("kestrel-render")
        self.directory = directory

    def run(self, args):
        return subprocess.run([self.path] + [str(a) for a in args], capture_output=True,
                              text=True, cwd=self.directory)

    def frame(self, args):
        output = os.path.join(self.directory, "tool.png")
        done = self.run(list(args) + ["--output", output])
        assert done.returncode == 0, done.stderr
        return _kestrel.read_png(output)

    def error(self, args):
        done = self.run(args)
        assert done.returncode == 2, done.stdout
        assert done.stderr.startswith("kestrel-render: ")
        return done.stderr[len("kestrel-render: "):].strip()


@pytest.fixture
def tool(tmp_path):
    return Tool(str(tmp_path))


@pytest.fixture(scope="session")
def head():
    return kestrel.phantom(PHANTOM)


def ramp_volume(shape=(20, 24, 30), dtype=np.uint16):
    """A volume whose value tells its (z, y, x) position apart along every axis."""
    z, y, x = np.indices(shape)
    return (x * 7 + y * 3 + z * 11).astype(dtype)
