"""Transfer functions: file and preset round trips."""
import numpy as np
import pytest

import kestrel


@pytest.mark.parametrize("name", kestrel.TransferFunction.presets())
def test_preset_round_trip(name, tmp_path):
    preset = kestrel.TransferFunction.preset(name)
    preset.write(str(tmp_path / "f.tf"))
    read = kestrel.TransferFunction.read(str(tmp_path / "f.tf"))
    assert read.points == preset.points and read.range == preset.range
    np.testing.assert_array_equal(read.table(), preset.table())
    rebuilt = kestrel.TransferFunction(preset.points, range=preset.range, samples=preset.samples)
    np.testing.assert_array_equal(rebuilt.table(), preset.table())
    assert preset.table().shape == (preset.samples, 4)
