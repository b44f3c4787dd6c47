"""The render tool's two cameras: examine (azimuth, elevation, zoom) and fly-through (eye, look)."""
import math


def number_text(value):
    """A number as a command-line word: whole numbers without a fraction ("0", not "0.0"), as a
    user would type them; others in the shortest form that reads back as the same double."""
    if isinstance(value, bool):
        raise ValueError("%r is not a number" % (value,))
    value = float(value) if not isinstance(value, int) else value
    if isinstance(value, float) and math.isfinite(value) and value.is_integer() and \
            abs(value) < 1e15:
        return str(int(value))
    return repr(value) if isinstance(value, float) else str(value)


class Camera:
    """Examine camera: `azimuth` turns about the screen's vertical axis and `elevation` then tilts
    (degrees; positive looks down onto the top), `zoom` magnifies (1: the bounding sphere fills
    the image height). Fly-through camera: `eye` is a point and `look` a direction, both in voxel
    coordinates (x, y, z); given an eye, the examine parameters must stay at their defaults."""

    def __init__(self, azimuth=0.0, elevation=0.0, zoom=1.0, eye=None, look=None):
        self.azimuth = azimuth
        self.elevation = elevation
        self.zoom = zoom
        self.eye = None if eye is None else tuple(eye)
        self.look = None if look is None else tuple(look)

    def orbit(self, n):
        """n cameras turning once around the vertical axis from this one, as kestrel-render
        --frames n turns its views."""
        if self.eye is not None:
            raise ValueError("orbit: a fly-through camera (eye) has no orbit")
        return [Camera(self.azimuth + 360.0 * i / n, self.elevation, self.zoom) for i in range(n)]

    def args(self):
        """The camera as kestrel-render options."""
        if self.eye is None:
            return ["--azimuth", number_text(self.azimuth), "--elevation",
                    number_text(self.elevation), "--zoom", number_text(self.zoom)]
        if (self.azimuth, self.elevation, self.zoom) != (0.0, 0.0, 1.0):
            raise ValueError("--azimuth: not with --eye (the fly-through camera is placed by "
                             "--eye and --look)")
        words = ["--eye"] + [number_text(v) for v in self.eye]
        if self.look is not None:
            words += ["--look"] + [number_text(v) for v in self.look]
        return words

    def __repr__(self):
        if self.eye is not None:
            return "Camera(eye=%r, look=%r)" % (self.eye, self.look)
        return "Camera(azimuth=%g, elevation=%g, zoom=%g)" % (self.azimuth, self.elevation,
                                                              self.zoom)
