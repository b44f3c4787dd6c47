#!/usr/bin/python3
"""Isosurface frame time of Kestrel beside VTK, from one run.

Runs bench_IsoBench (Kestrel, both entry points), then shows the same
isosurface of the same volume with VTK in two ways, in one process:
  * mesh: vtkFlyingEdges3D extracts the triangle mesh of the isovalue (its
    time is reported apart, once), vtkPolyDataMapper draws it every frame;
  * ray casting: vtkGPUVolumeRayCastMapper in isosurface blend mode.
VTK draws through OpenGL, here Mesa's software rasteriser (llvmpipe) under
Xvfb, so both VTK paths run on the same processors as Kestrel. The printed
ratios are Kestrel's grid entry point over each VTK path.

Matching the views: the volume is the phantom Kestrel renders, written by the
benchmark as raw uint16 (KESTREL_ISO_RAW); the camera of each of the twelve
views is rebuilt as in vtk_mip_peer.py (camera_for). Kestrel's coverage mask
of every view (KESTREL_ISO_DUMP) is compared with the pixels VTK's mesh
covers; the share of pixels where they disagree is printed as evidence that
the views and the surface agree.

Usage: vtk_iso_peer.py --bench <build>/bin/bench_IsoBench [--passes 3]
       [--cast-passes 1] [--rounds 2] [--isovalue 1300] [--sample-distance 0.5]
Needs a display (run under Xvfb) and python3-vtk9.
"""
import argparse
import os
import statistics
import sys
import tempfile
import time

import numpy as np
import vtk

from vtk_mip_peer import EDGE, IMAGE, VIEWS, aim_camera, grab_rgb, read_phantom, run_kestrel


def timed_views(window, renderer, passes, grab_masks):
    """Frame times (wall ms) and processor time per frame over passes x VIEWS frames."""
    camera = renderer.GetActiveCamera()

    def finish():
        window.Render()
        if hasattr(window, "WaitForCompletion"):
            window.WaitForCompletion()  # the frame is drawn, not only queued

    aim_camera(camera, 0)
    start = time.perf_counter()
    finish()  # first frame uploads the mesh or the volume; reported apart
    first = (time.perf_counter() - start) * 1e3
    wall, masks = [], {}
    cpu_start = time.process_time()
    for p in range(passes):
        for view in range(VIEWS):
            aim_camera(camera, view)
            start = time.perf_counter()
            finish()
            wall.append((time.perf_counter() - start) * 1e3)
            if p == 0 and grab_masks:
                masks[view] = (grab_rgb(window).max(axis=1) > 0).astype(np.float32)
    cpu = (time.process_time() - cpu_start) * 1e3 / (passes * VIEWS)
    return first, wall, cpu, masks


def show(prop, passes, grab_masks):
    """timed_views of a window that shows only prop (an actor or a volume) over black."""
    renderer = vtk.vtkRenderer()
    renderer.AddViewProp(prop)
    renderer.SetBackground(0.0, 0.0, 0.0)
    window = vtk.vtkRenderWindow()
    window.SetSize(IMAGE, IMAGE)
    window.AddRenderer(renderer)
    result = timed_views(window, renderer, passes, grab_masks)
    window.Finalize()
    return result


def run_mesh(reader, isovalue, passes):
    surface = vtk.vtkFlyingEdges3D()
    surface.SetInputConnection(reader.GetOutputPort())
    surface.SetValue(0, isovalue)
    surface.ComputeNormalsOn()
    surface.ComputeScalarsOff()
    start = time.perf_counter()
    surface.Update()
    extraction = (time.perf_counter() - start) * 1e3
    mesh = surface.GetOutput()
    mapper = vtk.vtkPolyDataMapper()
    mapper.SetInputData(mesh)
    mapper.ScalarVisibilityOff()
    actor = vtk.vtkActor()
    actor.SetMapper(mapper)
    first, wall, cpu, masks = show(actor, passes, True)
    return extraction, mesh.GetNumberOfCells(), first, wall, cpu, masks


def run_raycast(reader, isovalue, passes, sample_distance):
    mapper = vtk.vtkGPUVolumeRayCastMapper()
    mapper.SetInputConnection(reader.GetOutputPort())
    mapper.SetBlendModeToIsoSurface()
    mapper.AutoAdjustSampleDistancesOff()
    mapper.SetSampleDistance(sample_distance)
    prop = vtk.vtkVolumeProperty()
    prop.GetIsoSurfaceValues().SetValue(0, isovalue)
    colour = vtk.vtkColorTransferFunction()
    colour.AddRGBPoint(0.0, 1.0, 1.0, 1.0)
    colour.AddRGBPoint(4095.0, 1.0, 1.0, 1.0)
    opacity = vtk.vtkPiecewiseFunction()
    opacity.AddPoint(0.0, 1.0)
    opacity.AddPoint(4095.0, 1.0)
    prop.SetColor(colour)
    prop.SetScalarOpacity(opacity)
    prop.SetInterpolationTypeToLinear()
    prop.ShadeOn()
    volume = vtk.vtkVolume()
    volume.SetMapper(mapper)
    volume.SetProperty(prop)
    first, wall, cpu, _ = show(volume, passes, False)
    return first, wall, cpu


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bench", required=True)
    parser.add_argument("--passes", type=int, default=3)
    parser.add_argument("--rounds", type=int, default=2)
    parser.add_argument("--isovalue", type=float, default=1300.0)
    parser.add_argument("--sample-distance", type=float, default=0.5,
                        help="ray-cast step of VTK's GPU mapper, mm (the voxel is 1 mm)")
    parser.add_argument("--cast-passes", type=int, default=1,
                        help="passes of VTK's ray cast (seconds per frame on llvmpipe)")
    args = parser.parse_args()
    # Kestrel and VTK take turns (--rounds), so that load from other processes
    # on the machine falls on all alike; figures are over all rounds.
    kestrel = {"grid": [], "nogrid": []}
    mesh_wall, mesh_cpu, cast_wall, cast_cpu = [], [], [], []
    with tempfile.TemporaryDirectory() as workdir:
        for _ in range(args.rounds):
            raw, k = run_kestrel(args.bench, workdir, "ISO",
                                 ("median_ms", "min_ms", "cpu_ms", "coverage"))
            for entry in kestrel:
                kestrel[entry].append(k[entry])
            reader = read_phantom(raw)
            extraction, triangles, mesh_first, w, c, masks = run_mesh(reader, args.isovalue,
                                                                      args.passes)
            mesh_wall += w
            mesh_cpu.append(c)
            cast_first, w, c = run_raycast(reader, args.isovalue, args.cast_passes,
                                           args.sample_distance)
            cast_wall += w
            cast_cpu.append(c)
        disagree = []
        for view in range(VIEWS):
            ours = np.fromfile(os.path.join(workdir, "kestrel_view%d.f32" % view), np.float32)
            disagree.append(float(np.mean((ours > 0.5) != (masks[view] > 0.5))))
    for entry in kestrel:
        rows = kestrel[entry]
        kestrel[entry] = (statistics.median(r[0] for r in rows), min(r[1] for r in rows),
                          statistics.median(r[2] for r in rows), rows[-1][3])
    grid = kestrel["grid"]
    mesh = (statistics.median(mesh_wall), min(mesh_wall), statistics.median(mesh_cpu))
    cast = (statistics.median(cast_wall), min(cast_wall), statistics.median(cast_cpu))
    print("Isosurface %g, head phantom %d^3 uint16, %dx%d, %d views about the vertical axis" %
          (args.isovalue, EDGE, IMAGE, IMAGE, VIEWS))
    print("%-46s %10s %10s %10s" % ("", "median ms", "min ms", "cpu ms"))
    print("%-46s %10.1f %10.1f %10.1f" % ("Kestrel RenderWithGridPartition", *grid[:3]))
    print("%-46s %10.1f %10.1f %10.1f" % ("Kestrel RenderWithoutGridPartition",
                                          *kestrel["nogrid"][:3]))
    print("%-46s %10.1f %10.1f %10.1f" % ("VTK flying-edges mesh, Render()", *mesh))
    print("%-46s %10.1f %10.1f %10.1f" % ("VTK GPU ray cast (isosurface), Render()", *cast))
    print("VTK mesh: extraction %.0f ms (%d triangles), first frame %.0f ms; "
          "ray cast first frame %.0f ms" % (extraction, triangles, mesh_first, cast_first))
    print("ratio Kestrel grid / VTK mesh frame (median): %.2f   (min): %.2f   (cpu): %.2f" %
          (grid[0] / mesh[0], grid[1] / mesh[1], grid[2] / mesh[2]))
    print("ratio Kestrel grid / VTK ray cast frame (median): %.2f   (min): %.2f   (cpu): %.2f" %
          (grid[0] / cast[0], grid[1] / cast[1], grid[2] / cast[2]))
    print("coverage: Kestrel %.4f of the window; pixels where Kestrel and the VTK mesh disagree "
          "per view: %s" % (grid[3], " ".join("%.4f" % d for d in disagree)))


if __name__ == "__main__":
    sys.exit(main())
