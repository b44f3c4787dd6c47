"""Rendered frames: numpy arrays that know their background and show themselves as PNG."""
import struct
import zlib

import numpy as np

from . import _kestrel


def png_bytes(pixels):
    """A PNG file of (h, w, 3) or (h, w, 4) uint8 pixels, top row first."""
    pixels = np.ascontiguousarray(pixels, dtype=np.uint8)
    height, width, channels = pixels.shape
    rows = np.zeros((height, 1 + width * channels), dtype=np.uint8)  # filter byte 0: none
    rows[:, 1:] = pixels.reshape(height, width * channels)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    colour_type = 6 if channels == 4 else 2
    header = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(rows.tobytes(), 6)) + chunk(b"IEND", b""))


class Image(np.ndarray):
    """A frame: (h, w, 4) float32 premultiplied RGBA, top row first, as the kernel cast it
    (transparent where no ray hit the volume), with the `background` the render tool clears to."""

    def __new__(cls, rgba, background=(0.0, 0.0, 0.0)):
        image = np.asarray(rgba, dtype=np.float32).view(cls)
        image.background = tuple(float(c) for c in background)
        return image

    def __array_finalize__(self, source):
        self.background = getattr(source, "background", (0.0, 0.0, 0.0))

    def to_rgba8(self, background=None):
        """The frame over `background` (default: the view's) as kestrel-render writes it:
        (h, w, 4) uint8, dst = src + (1 - src.a) * background, rounded as GL does."""
        if self.ndim != 3 or self.shape[2] != 4:
            raise ValueError("to_rgba8: needs an (h, w, 4) frame, not %s" % (self.shape,))
        colour = self.background if background is None else tuple(background)
        return _kestrel.composite(np.asarray(self), [float(c) for c in colour])

    def to_rgb8(self, background=None):
        """to_rgba8 without its alpha channel (which is opaque): (h, w, 3) uint8."""
        return self.to_rgba8(background)[:, :, :3]

    def _repr_png_(self):
        return png_bytes(self.to_rgb8())

    def save(self, path, background=None):
        """Writes the frame over the background as an RGBA PNG file, the render tool's pixels."""
        with open(path, "wb") as output:
            output.write(png_bytes(self.to_rgba8(background)))
