"""Kestrel from Python: numpy volumes in, images out, scans opened.

    import kestrel
    volume = kestrel.load("scan.nii.gz")             # or kestrel.Volume(array, spacing=(sx, sy, sz))
    image = kestrel.render(volume, view="iso", isovalue=500, size=(512, 512),
                           camera=kestrel.Camera(azimuth=30))
    image.save("skin.png")                           # image: (h, w, 4) float32, premultiplied RGBA

Arrays are in numpy's (z, y, x) order; images have their top row first.
"""
from ._kestrel import (AbstractScene, EndoscopySliceScene, FullVRScene, IsosurfaceVRScene,
                       MIPVRScene, OffscreenGL, RetStatus, Scene, TransferFunction, Volume, save)
from ._kestrel import load as _load
from .camera import Camera
from .image import Image
from .rendering import phantom, render

__all__ = ["Volume", "load", "save", "render", "Camera", "Image", "TransferFunction", "phantom",
           "AbstractScene", "Scene", "MIPVRScene", "IsosurfaceVRScene", "FullVRScene",
           "EndoscopySliceScene", "OffscreenGL", "RetStatus"]


def load(path, series=None, volume=0):
    """Opens a volume file of any format the tools open (DICOM folder, DICOMDIR or file, NIfTI,
    NRRD, structured file); `series` and `volume` as --series and --volume of kestrel-render.
    Bad files raise ValueError, unreadable ones OSError, with the tools' one-line message."""
    if not isinstance(volume, int) or volume < 0:
        raise ValueError("--volume: %r is not a volume number (0, 1, ...)" % (volume,))
    return _load(str(path), "" if series is None else str(series), volume)


def _modified(volume):
    """Call after changing the samples (or spacing) of a volume in place: the next render
    bricks them again."""
    volume.__dict__.pop("_renderers", None)


Volume.modified = _modified

_spacing = Volume.spacing


def _set_spacing(volume, spacing):
    _spacing.fset(volume, spacing)
    _modified(volume)


Volume.spacing = property(_spacing.fget, _set_spacing, doc="voxel size (sx, sy, sz)")
