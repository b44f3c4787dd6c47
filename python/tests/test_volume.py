"""Volumes from numpy (shared memory where promised), files written and read back, and the
load's report against the tool's --info."""
import warnings

import numpy as np
import pytest

import kestrel
from conftest import ramp_volume

SHARED_TYPES = [np.int8, np.uint8, np.int16, np.uint16, np.int32, np.uint32, np.float32]


def address(array):
    return np.asarray(array).__array_interface__["data"][0]


@pytest.mark.parametrize("dtype", SHARED_TYPES)
def test_volume_shares_the_array(dtype):
    samples = ramp_volume(dtype=dtype)
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # sharing must not warn
        volume = kestrel.Volume(samples, spacing=(0.5, 1, 2))
    view = np.asarray(volume)
    assert address(view) == address(samples) and view.dtype == samples.dtype
    assert volume.shape == samples.shape and not volume.copied
    samples[1, 2, 3] = 5
    assert view[1, 2, 3] == 5


@pytest.mark.parametrize("samples,note", [
    (ramp_volume(dtype=np.float64), "float64 samples converted to float32"),
    (ramp_volume()[:, :, ::2], "not C-contiguous"),
    (ramp_volume().astype(">u2"), "not in native byte order"),
])
def test_volume_copies_and_says_why(samples, note):
    with pytest.warns(UserWarning, match=note):
        volume = kestrel.Volume(samples)
    assert volume.copied and note in volume.notes[0]
    assert address(volume) != address(samples)
    np.testing.assert_array_equal(np.asarray(volume), samples.astype(np.asarray(volume).dtype))


def test_saved_volume_loads_back(tmp_path, tool):
    samples = ramp_volume(dtype=np.int16) - 200
    kestrel.save(kestrel.Volume(samples, spacing=(0.5, 1.25, 3)), str(tmp_path / "v.vol"))
    loaded = kestrel.load(str(tmp_path / "v.vol"))
    np.testing.assert_array_equal(np.asarray(loaded), samples)
    assert loaded.spacing == (0.5, 1.25, 3.0) and loaded.format == "structured"
    assert loaded.value_range == (samples.min(), samples.max())
    info = tool.run([tmp_path / "v.vol", "--info"])
    assert info.stdout.startswith(loaded.describe())
