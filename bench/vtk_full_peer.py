#!/usr/bin/python3
"""Full volume rendering frame time of Kestrel beside VTK's CPU ray caster, from one run.

Runs bench_FullBench (Kestrel: grid and plain entry points, shading on and off) at a given
sample distance, then renders the same volume with vtkFixedPointVolumeRayCastMapper in
composite mode with the same number of threads, shading on and off, and prints the figures and
the ratios Kestrel grid / VTK.

Matching the two:
  * Volume and views: the phantom Kestrel renders (KESTREL_FULL_RAW), read at the same spacing
    with origin 0; the camera of each of the twelve views rebuilt as in vtk_mip_peer.py.
  * Transfer function: the ct-soft-tissue-bone preset's control points as a
    vtkColorTransferFunction and a vtkPiecewiseFunction, plus the preset table's implicit
    transparent black stops at both ends of its range (0 and 4096).
  * Opacity units: Kestrel's table gives opacities for a standard sample distance of 1 mm and
    corrects them to alpha' = 1 - (1 - alpha)^(d / 1); VTK's scalar opacity unit distance is set
    to 1 mm, which is the same correction.
  * Sample distance: VTK's SampleDistance = Kestrel's sampleDistance (KESTREL_FULL_DISTANCE), in
    mm, with automatic adjustment off and full image resolution (ImageSampleDistance 1).
  * Shading: ambient 0.1, diffuse 1, specular 0.5, power 10 on both; Kestrel's light travels
    along +x, VTK gets one scene light travelling the same way.
  * Images: each side's twelve views are written as PNG pairs to --save-images (if given) for a
    side-by-side look; the mean absolute difference per channel is printed.

Usage: vtk_full_peer.py --bench <build>/bin/bench_FullBench [--sample-distance D] [--passes 1]
       [--rounds 3] [--threads 2] [--save-images DIR]
Kestrel and VTK run in turn, --rounds times; each figure is the median over the rounds (the
least for the minimum), so that both sides see the same load of a shared machine.
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

from vtk_mip_peer import EDGE, IMAGE, VIEWS, aim_camera, grab_rgb, read_phantom

# The ct-soft-tissue-bone preset (apps/common/TransferFunctionFile.cpp), with the table's
# transparent black ends at 0 and 4096.
PRESET = [
    (0.0, 0.0, 0.0, 0.0, 0.0),
    (900.0, 0.55, 0.25, 0.15, 0.0),
    (1040.0, 0.85, 0.55, 0.45, 0.05),
    (1100.0, 0.9, 0.7, 0.6, 0.03),
    (1300.0, 0.9, 0.8, 0.7, 0.0),
    (1500.0, 0.95, 0.9, 0.8, 0.3),
    (2400.0, 1.0, 0.98, 0.92, 0.85),
    (4096.0, 1.0, 1.0, 1.0, 0.95),
]


def run_kestrel(bench, workdir, distance):
    raw = os.path.join(workdir, "phantom.raw")
    env = dict(os.environ, KESTREL_FULL_RAW=raw, KESTREL_FULL_DUMP=workdir,
               KESTREL_FULL_DISTANCE=repr(distance))
    out = subprocess.run([bench, "--benchmark_format=json"], env=env, check=True,
                         capture_output=True, text=True).stdout
    results = {}
    for b in json.loads(out)["benchmarks"]:
        name = b["name"].split("/")[1] if "/" in b["name"] else b["name"]
        results[name] = (b["median_ms"], b["min_ms"], b["cpu_ms"])
    return raw, results


def run_vtk(reader, distance, shade, passes, threads):
    mapper = vtk.vtkFixedPointVolumeRayCastMapper()
    mapper.SetInputConnection(reader.GetOutputPort())
    mapper.SetBlendModeToComposite()
    mapper.AutoAdjustSampleDistancesOff()
    mapper.SetSampleDistance(distance)
    mapper.SetImageSampleDistance(1.0)
    mapper.SetNumberOfThreads(threads)
    colour = vtk.vtkColorTransferFunction()
    opacity = vtk.vtkPiecewiseFunction()
    for value, r, g, b, a in PRESET:
        colour.AddRGBPoint(value, r, g, b)
        opacity.AddPoint(value, a)
    prop = vtk.vtkVolumeProperty()
    prop.SetColor(colour)
    prop.SetScalarOpacity(opacity)
    prop.SetScalarOpacityUnitDistance(1.0)
    prop.SetInterpolationTypeToLinear()
    prop.SetAmbient(0.1)
    prop.SetDiffuse(1.0)
    prop.SetSpecular(0.5)
    prop.SetSpecularPower(10.0)
    if shade:
        prop.ShadeOn()
    else:
        prop.ShadeOff()
    volume = vtk.vtkVolume()
    volume.SetMapper(mapper)
    volume.SetProperty(prop)
    renderer = vtk.vtkRenderer()
    renderer.AddViewProp(volume)
    renderer.SetBackground(0.0, 0.0, 0.0)
    renderer.AutomaticLightCreationOff()
    light = vtk.vtkLight()
    light.SetLightTypeToSceneLight()
    light.SetPositional(False)
    centre = 0.5 * EDGE * (256.0 / EDGE)
    light.SetFocalPoint(centre, centre, centre)
    light.SetPosition(centre - 1000.0, centre, centre)  # travelling along +x
    renderer.AddLight(light)
    window = vtk.vtkRenderWindow()
    window.SetSize(IMAGE, IMAGE)
    window.AddRenderer(renderer)
    camera = renderer.GetActiveCamera()
    aim_camera(camera, 0)
    window.Render()  # first frame: set-up, reported apart
    wall, images = [], {}
    cpu = 0.0  # processor time of the whole process (the mapper's threads included) in Render
    for p in range(passes):
        for view in range(VIEWS):
            aim_camera(camera, view)
            cpu_start = time.process_time()
            start = time.perf_counter()
            window.Render()
            wall.append((time.perf_counter() - start) * 1e3)
            cpu += (time.process_time() - cpu_start) * 1e3
            if p == 0:
                images[view] = grab_rgb(window).astype(np.float32) / 255.0
    cpu /= passes * VIEWS
    window.Finalize()
    return wall, cpu, images


def kestrel_images(workdir, mode):
    images = {}
    for view in range(VIEWS):
        channels = [np.fromfile(os.path.join(workdir, "kestrel_%s_%s_view%d.f32" %
                                             (mode, c, view)), np.float32) for c in "rgb"]
        images[view] = np.clip(np.stack(channels, axis=1), 0.0, 1.0)
    return images


def save_png(path, rgb):
    data = vtk.vtkImageData()
    data.SetDimensions(IMAGE, IMAGE, 1)
    from vtk.util import numpy_support
    data.GetPointData().SetScalars(
        numpy_support.numpy_to_vtk((rgb * 255.0 + 0.5).astype(np.uint8), deep=True))
    writer = vtk.vtkPNGWriter()
    writer.SetFileName(path)
    writer.SetInputData(data)
    writer.Write()


def combine(rows):
    """One row from the rounds' rows: median of the medians, least minimum, median processor time."""
    return (statistics.median(r[0] for r in rows), min(r[1] for r in rows),
            statistics.median(r[2] for r in rows))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bench", required=True)
    parser.add_argument("--sample-distance", type=float, default=math.sqrt(3.0) / 9.0,
                        help="mm; default the scene's, one ninth of the voxel diagonal")
    parser.add_argument("--passes", type=int, default=1)
    parser.add_argument("--rounds", type=int, default=3,
                        help="Kestrel and VTK measured in turn this many times")
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--save-images")
    args = parser.parse_args()
    modes = ((True, "shaded", "GridShaded", "NoGridShaded"),
             (False, "unshaded", "GridUnshaded", "NoGridUnshaded"))
    with tempfile.TemporaryDirectory() as workdir:
        kestrel_rounds, vtk_rounds, theirs = [], {m[1]: [] for m in modes}, {}
        reader = None
        for _ in range(args.rounds):
            raw, kestrel = run_kestrel(args.bench, workdir, args.sample_distance)
            kestrel_rounds.append(kestrel)
            reader = reader or read_phantom(raw)
            for shade, mode, _, _ in modes:
                wall, cpu, images = run_vtk(reader, args.sample_distance, shade, args.passes,
                                            args.threads)
                vtk_rounds[mode].append((statistics.median(wall), min(wall), cpu))
                theirs.setdefault(mode, images)
        print("Full volume rendering, head phantom %d^3 uint16, ct-soft-tissue-bone, %dx%d, "
              "%d views about the vertical axis, sample distance %.4g mm, %d threads, "
              "%d rounds (Kestrel and VTK in turn)" %
              (EDGE, IMAGE, IMAGE, VIEWS, args.sample_distance, args.threads, args.rounds))
        print("%-44s %10s %10s %10s" % ("", "median ms", "min ms", "cpu ms"))
        for shade, mode, grid, plain in modes:
            ours = {name: combine([k[name] for k in kestrel_rounds]) for name in (grid, plain)}
            vtk_row = combine(vtk_rounds[mode])
            print("%-44s %10.1f %10.1f %10.1f" % ("Kestrel grid, " + mode, *ours[grid]))
            print("%-44s %10.1f %10.1f %10.1f" % ("Kestrel no grid, " + mode, *ours[plain]))
            print("%-44s %10.1f %10.1f %10.1f" % ("VTK fixed-point ray caster, " + mode,
                                                  *vtk_row))
            print("ratio Kestrel grid / VTK, %s (median): %.2f   (min): %.2f   (cpu): %.2f" %
                  (mode, ours[grid][0] / vtk_row[0], ours[grid][1] / vtk_row[1],
                   ours[grid][2] / vtk_row[2]))
            kestrel_view = kestrel_images(workdir, mode)
            diff = [float(np.mean(np.abs(kestrel_view[v] - theirs[mode][v])))
                    for v in range(VIEWS)]
            print("mean absolute difference per channel, per view: %s" %
                  " ".join("%.3f" % d for d in diff))
            if args.save_images:
                os.makedirs(args.save_images, exist_ok=True)
                for view in (0, 3):
                    save_png(os.path.join(args.save_images, "kestrel_%s_view%d.png" % (mode, view)),
                             kestrel_view[view])
                    save_png(os.path.join(args.save_images, "vtk_%s_view%d.png" % (mode, view)),
                             theirs[mode][view])


if __name__ == "__main__":
    sys.exit(main())
