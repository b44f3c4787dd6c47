#!/usr/bin/env python3
"""A 36-frame turntable of a volume as one PNG strip (6 x 6 frames).

    python3 python/examples/turntable.py [VOLUME] [--view iso] [--out turntable.png]

Without VOLUME the built-in head phantom turns. In a notebook, `kestrel.render(...)` shows
itself inline (the image's _repr_png_)."""
import argparse

import numpy as np

import kestrel
from kestrel.image import png_bytes


def turntable(volume, view, size, frames=36, columns=6, **options):
    """The frames of one turn around the vertical axis tiled into one RGB image."""
    pictures = [kestrel.render(volume, view=view, size=(size, size), camera=camera,
                               **options).to_rgb8()
                for camera in kestrel.Camera(elevation=15).orbit(frames)]
    rows = [np.hstack(pictures[i:i + columns]) for i in range(0, frames, columns)]
    return np.vstack(rows)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("volume", nargs="?", help="a scan or structured volume file")
    parser.add_argument("--view", default="iso", choices=["mip", "iso", "full"])
    parser.add_argument("--size", type=int, default=160, help="side of one frame in pixels")
    parser.add_argument("--out", default="turntable.png")
    args = parser.parse_args()
    volume = kestrel.load(args.volume) if args.volume else kestrel.phantom(128)
    options = {"isovalue": 500} if args.view == "iso" and not args.volume else {}
    if args.view == "full" and not args.volume:
        options["tf"] = "ct-soft-tissue-bone"
    strip = turntable(volume, args.view, args.size, **options)
    with open(args.out, "wb") as output:
        output.write(png_bytes(strip))
    print("wrote %s: 36 frames of %d x %d, %s view" % (args.out, args.size, args.size, args.view))


if __name__ == "__main__":
    main()
