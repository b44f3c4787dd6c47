"""A scene driven from Python in a GL context, as a C++ host drives it (needs $DISPLAY)."""
import os

import numpy as np
import pytest

import kestrel
from conftest import PHANTOM

pytestmark = pytest.mark.skipif(not os.environ.get("DISPLAY"), reason="needs an X display")


def frame(gl, scene, width, height):
    scene.Render()
    pixels = np.frombuffer(gl.ReadFrame(), np.uint8).reshape(height, width, 4)
    return pixels[::-1]  # top row first


def test_scene_in_a_gl_host(head, tool):
    width, height = 72, 56
    gl = kestrel.OffscreenGL(width, height)
    scene = kestrel.MIPVRScene()
    scene.SetData(head)
    scene.Init()
    scene.Resize(width, height)
    front = frame(gl, scene, width, height)
    # kestrel-render --gl draws the same scene through GL; the tools' default window is theirs
    width_centre = (scene.GetWindowWidth(), scene.GetWindowCenter())
    expected = tool.frame(["--phantom-size", PHANTOM, "--gl", "--size", "%dx%d" % (width, height),
                           "--window", *("%.9g" % v for v in width_centre)])
    np.testing.assert_array_equal(front, expected)
    # a drag turns the picture and asks for a redraw
    scene.LButtonDown(30, 28)
    assert scene.MouseMove(50, 28).redraw
    scene.LButtonUp(50, 28)
    assert np.count_nonzero(frame(gl, scene, width, height) != front) > 100
