"""Frames from Python against kestrel-render's PNG of the same settings: the same code runs, so
the composited bytes must be equal, bit for bit."""
import threading

import numpy as np
import pytest

import kestrel
from conftest import PHANTOM, ramp_volume

EYE = (24.0, 30.0, 70.0)  # in front of the phantom's face, voxel coordinates
# (render keywords, the tool's options for the same frame)
CASES = [
    (dict(), []),
    (dict(azimuth=30, elevation=-20, zoom=1.5), ["--azimuth", 30, "--elevation", -20, "--zoom", 1.5]),
    (dict(window=(2000, 1200), azimuth=90), ["--window", 2000, 1200, "--azimuth", 90]),
    (dict(crop=(8, 40, 0, 47, 10, 30), no_grid=True, azimuth=45),
     ["--crop", 8, 40, 0, 47, 10, 30, "--no-grid", "--azimuth", 45]),
    (dict(view="iso", isovalue=1300, light_direction=(0, -1, -1), surface_colour=(1, 0.9, 0.8)),
     ["--view", "iso", "--isovalue", 1300, "--light-direction", 0, -1, -1, "--surface-colour", 1,
      0.9, 0.8]),
    (dict(view="iso", isovalue=500, illustrative=True, background=(1, 1, 1), elevation=30),
     ["--view", "iso", "--isovalue", 500, "--illustrative", "--background", 1, 1, 1,
      "--elevation", 30]),
    (dict(view="full", tf="ct-bone", azimuth=200), ["--view", "full", "--tf", "ct-bone",
                                                    "--azimuth", 200]),
    (dict(view="full", tf="ct-soft-tissue-bone", no_shading=True, sample_distance=2.5),
     ["--view", "full", "--tf", "ct-soft-tissue-bone", "--no-shading", "--sample-distance", 2.5]),
    (dict(view="mip", gpu=True, azimuth=10), ["--view", "mip", "--gpu", "--azimuth", 10]),
    (dict(view="iso", isovalue=1300, eye=EYE, look=(0, 0, -1)),
     ["--view", "iso", "--isovalue", 1300, "--eye", *EYE, "--look", 0, 0, -1]),
    (dict(view="slice", cut="vertical", eye=EYE, look=(0, -0.3, -1)),
     ["--eye", *EYE, "--look", 0, -0.3, -1, "--slice", "vertical"]),
]


@pytest.mark.parametrize("keywords,args", CASES)
def test_frame_equals_the_tool(head, tool, keywords, args):
    size = (80, 56)  # not square: rows and columns cannot be confused
    image = kestrel.render(head, size=size, **keywords)
    assert image.shape == (56, 80, 4) and image.dtype == np.float32
    expected = tool.frame(["--phantom-size", PHANTOM, "--size", "80x56"] + args)
    np.testing.assert_array_equal(image.to_rgba8(), expected)


def test_array_volume_equals_its_file(tool, tmp_path):
    # An anisotropic array: the (z, y, x) order and the spacing must reach the scene as the
    # structured file's header does for the tool.
    volume = kestrel.Volume(ramp_volume(), spacing=(1.0, 1.5, 0.75))
    kestrel.save(volume, str(tmp_path / "ramp.vol"))
    for camera in kestrel.Camera(elevation=20).orbit(3):
        image = kestrel.render(volume, size=(64, 48), camera=camera)
        expected = tool.frame([tmp_path / "ramp.vol", "--size", "64x48", "--azimuth",
                               camera.azimuth, "--elevation", 20])
        np.testing.assert_array_equal(image.to_rgba8(), expected)


def test_transfer_function_object_equals_its_file(head, tool, tmp_path):
    function = kestrel.TransferFunction([(900, 0.8, 0.5, 0.4, 0.05), (1500, 1, 1, 0.9, 0.6),
                                         (2600, 1, 1, 1, 0.9)], range=(0, 3500), samples=300)
    function.write(str(tmp_path / "skin-bone.tf"))
    image = kestrel.render(head, view="full", tf=function, size=(64, 64))
    expected = tool.frame(["--phantom-size", PHANTOM, "--view", "full", "--tf",
                           tmp_path / "skin-bone.tf", "--size", "64x64"])
    np.testing.assert_array_equal(image.to_rgba8(), expected)


def test_png_of_the_image_is_its_pixels(head, tmp_path):
    image = kestrel.render(head, view="iso", isovalue=500, size=(40, 30))
    image.save(str(tmp_path / "frame.png"))
    np.testing.assert_array_equal(kestrel._kestrel.read_png(str(tmp_path / "frame.png")),
                                  image.to_rgba8())
    assert image._repr_png_().startswith(b"\x89PNG")


def test_threads_render_side_by_side(head):
    jobs = [dict(view="mip", azimuth=a) for a in (0, 60)] + \
           [dict(view="iso", isovalue=1300, azimuth=a) for a in (0, 60)]
    expected = [kestrel.render(head, size=(64, 64), **job) for job in jobs]
    results = [None] * len(jobs)

    def work(index):
        for _ in range(3):
            results[index] = kestrel.render(head, size=(64, 64), **jobs[index])

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(jobs))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for got, want in zip(results, expected):
        np.testing.assert_array_equal(got, want)
