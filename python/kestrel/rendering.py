"""kestrel.render: the frame kestrel-render draws, as a float array.

The options are kestrel-render's, by the same names (dashes as underscores): every keyword
becomes its command-line option and goes through the tool's own parser, so an option the tool
gains is available here too, and a bad value raises ValueError with the tool's message."""
import collections
import os
import threading

import numpy as np

from . import _kestrel
from .camera import Camera, number_text
from .image import Image

# Options of the tool's command line that are not settings of a frame.
_COMMAND_LINE_ONLY = {
    "output", "o", "frames", "info", "convert", "eye_to", "gl", "help", "h", "phantom_size",
    "raw", "dims", "type", "spacing", "series", "volume", "slice", "view", "size"}
_CAMERA_OPTIONS = ("azimuth", "elevation", "zoom", "eye", "look")
_CACHED_RENDERERS = 4  # per volume: scenes (each with its bricked copy) kept for further frames
_cache_lock = threading.Lock()


def phantom(size=256):
    """The built-in head phantom: size^3 uint16 samples spanning 256 mm (CT numbers + 1024)."""
    return _kestrel.phantom(int(size))


def _number(value):
    if isinstance(value, (bool, np.bool_)):
        raise ValueError("%r is not a number" % (value,))
    return number_text(int(value) if isinstance(value, np.integer) else float(value)
                       if isinstance(value, np.floating) else value)


def _words(name, value):
    """The command-line words of keyword `name` = `value`."""
    option = "--" + name.replace("_", "-")
    if value is None or value is False:
        return []
    if value is True:
        return [option]
    if isinstance(value, (str, os.PathLike)):
        return [option, os.fspath(value)]
    if np.ndim(value) == 0:
        return [option, _number(value)]
    return [option] + [_number(v) for v in np.asarray(value).ravel()]


def _size_words(size):
    try:
        width, height = (int(v) for v in size)
    except (TypeError, ValueError):
        raise ValueError("--size: %r is not (width, height)" % (size,)) from None
    return ["--size", "%dx%d" % (width, height)]


def _renderer(volume, key, args, function):
    """The volume's renderer for these settings, made on first use; the last few are kept in
    the volume (volume.modified() drops them after its samples changed)."""
    with _cache_lock:
        cache = volume.__dict__.setdefault("_renderers", collections.OrderedDict())
        renderer = cache.get(key)
        if renderer is not None:
            cache.move_to_end(key)
            return renderer
    renderer = _kestrel.Renderer(volume, args, function)  # bricks the volume, GIL released
    with _cache_lock:
        renderer = cache.setdefault(key, renderer)
        while len(cache) > _CACHED_RENDERERS:
            cache.popitem(last=False)
    return renderer


def render(volume, view="mip", size=(512, 512), camera=None, tf=None, cut="horizontal",
           **options):
    """Renders `volume` (a kestrel.Volume) as kestrel-render would and returns an Image: an
    (h, w, 4) float32 array of premultiplied RGBA, top row first.

    view: "mip", "iso", "full" or "slice" (the endoscopy slice of a fly-through camera, `cut`
    "horizontal" or "vertical"). camera: a kestrel.Camera (or the keywords azimuth, elevation,
    zoom, eye, look). tf (full view): a preset name, a transfer-function file or a
    kestrel.TransferFunction. Every other keyword is the tool's option of that name, e.g.
    window=(3500, 1750), isovalue=500, surface_colour=(1, 0.9, 0.8), light_direction=(1, 0, 0),
    background=(1, 1, 1), illustrative=True, no_shading=True, sample_distance=0.5,
    crop=(x0, x1, y0, y1, z0, z1), no_grid=True, gpu=True.

    The global interpreter lock is released while the frame renders."""
    if not isinstance(volume, _kestrel.Volume):
        raise ValueError("render: needs a kestrel.Volume, not %s" % type(volume).__name__)
    for name in options:
        if name in _COMMAND_LINE_ONLY:
            raise ValueError("--%s: an option of the command line, not of a frame"
                             % name.replace("_", "-"))
    camera_keywords = {k: options.pop(k) for k in _CAMERA_OPTIONS if k in options}
    if camera is not None and camera_keywords:
        raise ValueError("camera: give a Camera or the keywords %s, not both"
                         % ", ".join(camera_keywords))
    if camera is None:
        camera = Camera(**camera_keywords)

    settings = []
    if view == "slice":
        if camera.eye is None:
            raise ValueError("--slice: needs a fly-through camera (eye)")
        settings += ["--slice", str(cut)]
    else:
        settings += ["--view", str(view)]
    function = None
    if isinstance(tf, _kestrel.TransferFunction):
        function = tf
    elif tf is not None:
        settings += _words("tf", tf)
    for name, value in sorted(options.items()):
        settings += _words(name, value)
    frame = _size_words(size) + camera.args()

    key = (tuple(settings), camera.eye is not None,
           None if function is None else function.text())
    renderer = _renderer(volume, key, settings + frame, function)
    return Image(renderer.render(settings + frame), renderer.background)
