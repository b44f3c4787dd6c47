#!/usr/bin/python3
"""MIP frame time of Kestrel beside VTK's CPU ray caster, from one run.

Runs bench_MipBench (Kestrel, both entry points), then renders the same
volume with vtkFixedPointVolumeRayCastMapper in maximum-intensity mode with
two threads, and prints both figures and their ratio.

Matching the views:
  * Volume: the phantom Kestrel renders, written by the benchmark as raw
    uint16 (KESTREL_MIP_RAW), read with vtkImageReader2 at the same spacing
    (256 mm / edge) and origin 0, so voxel (i, j, k) sits at the same physical
    point in both systems.
  * Camera: Kestrel's scene camera rebuilt in VTK. Kestrel fits the bounding
    sphere of the box [0, dims * spacing] (radius r) into a 45 degree vertical
    field of view: the eye is r / sin(22.5 deg) from the box centre. View N
    rotates the model by N * 30 degrees about the vertical axis, which puts
    the eye at centre + R_y(-angle) (0, 0, distance), looking at the centre,
    with y up. VTK gets the same position, focal point, view-up, 45 degree
    view angle, zNear / zFar and a 512 x 512 window.
  * Rendering: linear interpolation, grey ramp over the value range (the
    window Kestrel's scene sets), opacity 1, no automatic sample-distance
    reduction, full image resolution (ImageSampleDistance 1). VTK samples
    the ray every SampleDistance (default 1 voxel); Kestrel's maximum is exact.
  * Images: both are kept (Kestrel's composited over black) and compared;
    the mean absolute grey difference per view is printed as evidence that the
    views agree.

Usage: vtk_mip_peer.py --bench <build>/bin/bench_MipBench [--passes 3]
       [--rounds 2] [--sample-distance 1.0] [--threads 2] [--save-images DIR]
Needs a display (run under Xvfb) and python3-vtk9.
"""
import argparse
import json
import math
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np
import vtk
from vtk.util import numpy_support

EDGE = 256
EXTENT_MM = 256.0
IMAGE = 512
VIEWS = 12


def run_kestrel(bench, workdir, prefix="MIP",
                counters=("median_ms", "min_ms", "mean_grey", "cpu_ms")):
    """Runs a Kestrel view benchmark with KESTREL_<prefix>_RAW and _DUMP pointing into workdir;
    returns the raw volume's path and, per entry point ("grid", "nogrid"), the counters."""
    raw = os.path.join(workdir, "phantom.raw")
    env = dict(os.environ, **{"KESTREL_%s_RAW" % prefix: raw, "KESTREL_%s_DUMP" % prefix: workdir})
    out = subprocess.run([bench, "--benchmark_format=json"], env=env, check=True,
                         capture_output=True, text=True).stdout
    results = {}
    for b in json.loads(out)["benchmarks"]:
        entry = "grid" if "WithGrid" in b["name"] else "nogrid"
        results[entry] = tuple(b[c] for c in counters)
    return raw, results


def camera_for(view, spacing):
    size = [EDGE * s for s in spacing]
    centre = [0.5 * s for s in size]
    r = 0.5 * math.sqrt(sum(s * s for s in size))
    half = 45.0 * 3.1415927 / 360.0
    z_base = -(r / math.sin(half))
    z_far = (r - z_base) * 5.0
    z_near = (-z_base - r) / 5.0
    a = math.radians(view * 30.0)
    # Model rotated by +a about y; the eye sits at R_y(-a) (0, 0, -z_base).
    d = -z_base
    eye = [centre[0] - math.sin(a) * d, centre[1], centre[2] + math.cos(a) * d]
    return eye, centre, (z_near, z_far)


def read_phantom(raw):
    """The raw phantom as VTK image data at Kestrel's spacing, origin 0."""
    reader = vtk.vtkImageReader2()
    reader.SetFileName(raw)
    reader.SetFileDimensionality(3)
    reader.SetDataScalarTypeToUnsignedShort()
    reader.SetDataByteOrderToLittleEndian()
    reader.SetDataExtent(0, EDGE - 1, 0, EDGE - 1, 0, EDGE - 1)
    reader.SetDataSpacing(*[EXTENT_MM / EDGE] * 3)
    reader.SetDataOrigin(0.0, 0.0, 0.0)
    reader.FileLowerLeftOn()  # rows in file order: y grows with the row index, as in Kestrel
    reader.Update()
    return reader


def aim_camera(camera, view):
    """Kestrel's camera of view N (camera_for) on a VTK camera, 45 degree view angle."""
    eye, centre, clip = camera_for(view, [EXTENT_MM / EDGE] * 3)
    camera.SetViewAngle(45.0)
    camera.SetPosition(*eye)
    camera.SetFocalPoint(*centre)
    camera.SetViewUp(0.0, 1.0, 0.0)
    camera.SetClippingRange(*clip)


def grab_rgb(window):
    """The window's back buffer as an (IMAGE * IMAGE, 3) uint8 array, rows bottom-up."""
    grab = vtk.vtkWindowToImageFilter()
    grab.SetInput(window)
    grab.ReadFrontBufferOff()
    grab.Update()
    return numpy_support.vtk_to_numpy(grab.GetOutput().GetPointData().GetScalars())[:, :3]


def run_vtk(raw, passes, sample_distance, threads):
    reader = read_phantom(raw)
    lo, hi = reader.GetOutput().GetScalarRange()

    mapper = vtk.vtkFixedPointVolumeRayCastMapper()
    mapper.SetInputConnection(reader.GetOutputPort())
    mapper.SetBlendModeToMaximumIntensity()
    mapper.SetNumberOfThreads(threads)
    mapper.AutoAdjustSampleDistancesOff()
    mapper.SetSampleDistance(sample_distance)
    mapper.SetImageSampleDistance(1.0)

    colour = vtk.vtkColorTransferFunction()
    colour.AddRGBPoint(lo, 0.0, 0.0, 0.0)
    colour.AddRGBPoint(hi, 1.0, 1.0, 1.0)
    opacity = vtk.vtkPiecewiseFunction()
    opacity.AddPoint(lo, 1.0)
    opacity.AddPoint(hi, 1.0)
    prop = vtk.vtkVolumeProperty()
    prop.SetColor(colour)
    prop.SetScalarOpacity(opacity)
    prop.SetInterpolationTypeToLinear()
    prop.ShadeOff()
    volume = vtk.vtkVolume()
    volume.SetMapper(mapper)
    volume.SetProperty(prop)

    renderer = vtk.vtkRenderer()
    renderer.SetBackground(0.0, 0.0, 0.0)
    renderer.AddVolume(volume)
    window = vtk.vtkRenderWindow()
    window.SetSize(IMAGE, IMAGE)
    window.AddRenderer(renderer)
    camera = renderer.GetActiveCamera()

    aim_camera(camera, 0)
    window.Render()  # first frame builds VTK's caches; not timed
    wall, cast, images = [], [], {}
    cpu_start = time.process_time()
    for p in range(passes):
        for view in range(VIEWS):
            aim_camera(camera, view)
            start = time.perf_counter()
            window.Render()
            wall.append((time.perf_counter() - start) * 1e3)
            cast.append(mapper.GetTimeToDraw() * 1e3)
            if p == 0:
                images[view] = grab_rgb(window)[:, 0].astype(np.float32) / 255.0
    # Processor time of all threads per frame (the first pass also grabs images).
    cpu = (time.process_time() - cpu_start) * 1e3 / (passes * VIEWS)
    return wall, cast, cpu, images


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bench", required=True)
    parser.add_argument("--passes", type=int, default=3)
    parser.add_argument("--rounds", type=int, default=2)
    parser.add_argument("--sample-distance", type=float, default=1.0)
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--save-images", metavar="DIR",
                        help="write both images of every view as 8-bit PGM files into DIR")
    args = parser.parse_args()
    # Kestrel and VTK take turns (--rounds), so that load from other processes
    # on the machine falls on both alike; figures are over all rounds.
    kestrel = {"grid": [], "nogrid": []}
    wall, cast, cpu = [], [], []
    with tempfile.TemporaryDirectory() as workdir:
        for _ in range(args.rounds):
            raw, k = run_kestrel(args.bench, workdir)
            for entry in kestrel:
                kestrel[entry].append(k[entry])
            w, c, u, images = run_vtk(raw, args.passes, args.sample_distance, args.threads)
            wall += w
            cast += c
            cpu.append(u)
        diffs = []
        for view in range(VIEWS):
            ours = np.fromfile(os.path.join(workdir, "kestrel_view%d.f32" % view), np.float32)
            diffs.append(float(np.mean(np.abs(np.clip(ours, 0, 1) - images[view]))))
            if args.save_images:
                os.makedirs(args.save_images, exist_ok=True)
                for name, grey in (("kestrel", np.clip(ours, 0, 1)), ("vtk", images[view])):
                    # PGM rows run top-down; both images are stored bottom-up.
                    rows = np.flipud((grey * 255.0 + 0.5).astype(np.uint8).reshape(IMAGE, IMAGE))
                    with open(os.path.join(args.save_images, "%s_view%02d.pgm" % (name, view)),
                              "wb") as out:
                        out.write(b"P5 %d %d 255\n" % (IMAGE, IMAGE))
                        out.write(rows.tobytes())
    # Per round the benchmark reports the median and minimum of its frames;
    # over rounds take the median of medians and the smallest minimum.
    for entry in kestrel:
        rows = kestrel[entry]
        kestrel[entry] = (statistics.median(r[0] for r in rows), min(r[1] for r in rows),
                          rows[-1][2], statistics.median(r[3] for r in rows))
    peer_median, peer_min = statistics.median(wall), min(wall)
    print("MIP, head phantom %d^3 uint16, %dx%d, %d views about the vertical axis" %
          (EDGE, IMAGE, IMAGE, VIEWS))
    print("%-44s %10s %10s" % ("", "median ms", "min ms"))
    print("%-44s %10.1f %10.1f" % ("Kestrel RenderWithGridPartition", *kestrel["grid"][:2]))
    print("%-44s %10.1f %10.1f" % ("Kestrel RenderWithoutGridPartition", *kestrel["nogrid"][:2]))
    print("%-44s %10.1f %10.1f" % ("VTK FixedPoint MIP, %d threads, Render()" % args.threads,
                                   peer_median, peer_min))
    print("%-44s %10.1f %10.1f" % ("VTK FixedPoint MIP, mapper time to draw",
                                   statistics.median(cast), min(cast)))
    print("ratio Kestrel grid / VTK (median): %.2f   (min): %.2f" %
          (kestrel["grid"][0] / peer_median, kestrel["grid"][1] / peer_min))
    print("ratio Kestrel grid / VTK mapper time (median): %.2f" %
          (kestrel["grid"][0] / statistics.median(cast)))
    print("processor time per frame, all threads: Kestrel grid %.1f ms, VTK %.1f ms, ratio %.2f" %
          (kestrel["grid"][3], statistics.median(cpu), kestrel["grid"][3] / statistics.median(cpu)))
    print("mean |Kestrel - VTK| grey per view: " + " ".join("%.4f" % d for d in diffs))
    print("mean grey: Kestrel %.4f, VTK %.4f" %
          (kestrel["grid"][2], float(np.mean([images[v].mean() for v in range(VIEWS)]))))


if __name__ == "__main__":
    sys.exit(main())
