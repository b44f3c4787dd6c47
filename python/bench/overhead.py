#!/usr/bin/env python3
"""Python's overhead over kestrel-render, alternating the two in rounds:

  render: the phantom (256^3 uint16) at 512 x 512, MIP, twelve views around the vertical axis;
          the tool's own per-frame median (--frames 12) against the median of twelve
          kestrel.render calls (each returning its float array; the scene is made beforehand,
          as the tool makes it before its timed frames);
  load:   a 512 x 512 x 400 int16 NIfTI file (200 MiB, written to $TMPDIR and removed):
          the tool's whole run rendering it at 8 x 8 (load, defaults, bricking, one frame)
          against the same work in Python (kestrel.load, then kestrel.render at 8 x 8).

    KESTREL_RENDER=build/release/bin/kestrel-render PYTHONPATH=build/python-site \\
        /usr/bin/python3 python/bench/overhead.py [--rounds 3]

Figures on the 2-core VM shared with other builds (load average 2.2 .. 3.2), five rounds:
  frame: tool median 162.05 ms (minimum 148.90), Python median 161.73 ms (minimum 160.28):
         Python / tool 0.998;
  load:  tool run median 3021 ms (minimum 2839), Python median 1865 ms (minimum 1571): 0.62.
The load figures swing with the page cache and the other builds; a separate pair of runs gave
Python 1306 + 1448 ms (load, then defaults, bricking, grid and the 8 x 8 frame) against the
tool's whole run of 2875 ms, and 1344 + 1367 against 3099 ms. Python is not slower in either.
"""
import argparse
import os
import re
import statistics
import struct
import subprocess
import tempfile
import time

import numpy as np

import kestrel


def write_nifti(path, samples, spacing):
    """A NIfTI-1 single file (.nii) of int16 samples in (z, y, x) order."""
    nz, ny, nx = samples.shape
    header = bytearray(352)
    struct.pack_into("<i", header, 0, 348)
    struct.pack_into("<8h", header, 40, 3, nx, ny, nz, 1, 1, 1, 1)
    struct.pack_into("<hh", header, 70, 4, 16)  # datatype int16, 16 bits
    struct.pack_into("<8f", header, 76, 1.0, *spacing, 1, 1, 1, 1)
    struct.pack_into("<f", header, 108, 352.0)  # vox_offset
    struct.pack_into("<f", header, 112, 1.0)  # scl_slope
    struct.pack_into("<h", header, 252, 1)  # qform: scanner
    header[344:348] = b"n+1\0"
    with open(path, "wb") as out:
        out.write(bytes(header))
        out.write(samples.astype("<i2").tobytes())


def tool_frames(tool):
    out = subprocess.run([tool, "--size", "512x512", "--frames", "12", "--output",
                          os.path.join(tempfile.gettempdir(), "overhead.png")],
                         capture_output=True, text=True, check=True).stdout
    return float(re.search(r"median ([0-9.]+) ms", out).group(1))


def python_frames(volume):
    kestrel.render(volume, size=(512, 512))  # makes the scene
    times = []
    for camera in kestrel.Camera().orbit(12):
        start = time.perf_counter()
        kestrel.render(volume, size=(512, 512), camera=camera)
        times.append(1000 * (time.perf_counter() - start))
    return statistics.median(times)


def tool_load(tool, path):
    start = time.perf_counter()
    subprocess.run([tool, path, "--size", "8x8", "--output",
                    os.path.join(tempfile.gettempdir(), "overhead-load.png")],
                   capture_output=True, check=True)
    return 1000 * (time.perf_counter() - start)


def python_load(path):
    start = time.perf_counter()
    kestrel.render(kestrel.load(path), size=(8, 8))
    return 1000 * (time.perf_counter() - start)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    tool = os.environ.get("KESTREL_RENDER", "build/release/bin/kestrel-render")
    phantom = kestrel.phantom(256)
    rng = np.random.default_rng(1)
    samples = rng.integers(-1024, 3000, size=(400, 512, 512), dtype=np.int16)
    results = {"tool frame": [], "python frame": [], "tool load": [], "python load": []}
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "scan.nii")
        write_nifti(path, samples, (0.5, 0.5, 1.0))
        del samples
        for _ in range(args.rounds):
            results["tool frame"].append(tool_frames(tool))
            results["python frame"].append(python_frames(phantom))
            results["tool load"].append(tool_load(tool, path))
            results["python load"].append(python_load(path))
    for name, values in results.items():
        print("%-13s median %8.2f ms, minimum %8.2f ms  (rounds: %s)" % (
            name, statistics.median(values), min(values),
            ", ".join("%.1f" % v for v in values)))
    for what in ("frame", "load"):
        ratio = statistics.median(results["python " + what]) / statistics.median(
            results["tool " + what])
        print("python / tool, %s: %.3f" % (what, ratio))
    print("load average:", os.getloadavg())


if __name__ == "__main__":
    main()
