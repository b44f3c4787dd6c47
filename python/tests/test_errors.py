"""Bad input raises ValueError or OSError with the tool's one-line message; nothing crashes."""
import numpy as np
import pytest

import kestrel
from conftest import PHANTOM

# (render keywords, the tool's options that it refuses with the same message)
BAD_RENDER = [
    (dict(window=(0, 5)), ["--window", 0, 5]),
    (dict(view="nope"), ["--view", "nope"]),
    (dict(crop=(0, 60, 0, 10, 0, 10)), ["--crop", 0, 60, 0, 10, 0, 10]),
    (dict(view="iso", tf="ct-bone"), ["--view", "iso", "--tf", "ct-bone"]),
    (dict(view="full", tf="no-such-file.tf"), ["--view", "full", "--tf", "no-such-file.tf"]),
    (dict(light_direction=(0, 0, 0), view="iso"), ["--view", "iso", "--light-direction", 0, 0, 0]),
    (dict(zoom=0), ["--zoom", 0]),
    (dict(eye=(1, 2, 3), look=(0, 0, 0)), ["--eye", 1, 2, 3, "--look", 0, 0, 0]),
    (dict(size=(0, 10)), ["--size", "0x10"]),
]


@pytest.mark.parametrize("keywords,args", BAD_RENDER)
def test_render_refuses_as_the_tool(head, tool, keywords, args):
    with pytest.raises(ValueError) as raised:
        kestrel.render(head, **keywords)
    assert str(raised.value) == tool.error(["--phantom-size", PHANTOM] + args)


def test_load_refuses_as_the_tool(tmp_path, tool):
    missing = str(tmp_path / "missing.nii")
    with pytest.raises(OSError) as raised:
        kestrel.load(missing)
    assert str(raised.value) == tool.error([missing])
    truncated = tmp_path / "truncated.vol"
    kestrel.save(kestrel.Volume(np.zeros((4, 4, 4), np.uint8)), str(truncated))
    truncated.write_bytes(truncated.read_bytes()[:40])
    with pytest.raises(ValueError) as raised:
        kestrel.load(str(truncated))
    assert str(raised.value) == tool.error([truncated])


@pytest.mark.parametrize("make", [
    lambda: kestrel.Volume(np.zeros((4, 4), np.uint8)),
    lambda: kestrel.Volume(np.zeros((4, 4, 4), np.int64)),
    lambda: kestrel.Volume(np.zeros((0, 4, 4), np.uint8)),
    lambda: kestrel.Volume(np.zeros((4, 4, 4), np.uint8), spacing=(1, 0, 1)),
    lambda: kestrel.TransferFunction([(0, 0, 0, 0, 1.5)]),
    lambda: kestrel.TransferFunction.preset("nope"),
    lambda: kestrel.render(kestrel.phantom(8), frames=12),
])
def test_bad_values_raise_value_error(make):
    with pytest.raises(ValueError):
        make()
