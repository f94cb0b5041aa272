"""slp.load against the native program's reading of the same files, the arrays' memory, and failures."""

import gc
import os
import warnings

import numpy as np
import pytest
from conftest import FILES, SAMPLE

import slp


def box_array(box):
    """A model's Box or the program's {"min", "max"} as float32 corners; None for an empty box."""
    if box is None:
        return None
    return np.array([box["min"], box["max"]] if isinstance(box, dict) else box, dtype=np.float32)


def assert_same_box(ours, theirs):
    assert (ours is None) == (theirs is None)
    if ours is not None:
        np.testing.assert_array_equal(box_array(ours), box_array(theirs))


@pytest.mark.parametrize("path", FILES, ids=lambda path: path.name)
def test_loads_what_the_program_loads(path, slp_json):
    expected = slp_json("info", "--json", "--geometry", path)
    if expected["result"] != 0:
        with pytest.raises(slp.FormatError) as caught:
            slp.load(path)
        assert caught.value.reason == expected["reason"]
        return
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        model = slp.load(path)
    assert model.discarded_vertices == expected["discarded_vertices"]
    # Warned exactly when the program warns.
    assert [warning.message.vertices for warning in caught] == [model.discarded_vertices] * (model.discarded_vertices > 0)
    assert_same_box(model.box, expected["bbox"])
    # Both trees side by side, without recursion; the meshes in file order with their group paths.
    pending, paths = [(model.root, expected, ())], []
    while pending:
        group, want, path_names = pending.pop()
        assert [child.name for child in group.groups] == [child["name"] for child in want["groups"]]
        assert len(group.meshes) == len(want["objects"])
        for mesh, wanted in zip(group.meshes, want["objects"]):
            paths.append((path_names, mesh.triangle_count))
            assert mesh.triangle_count == wanted["triangles"]
            np.testing.assert_array_equal(np.float32(mesh.color), np.float32(wanted["color"]))
            assert_same_box(mesh.box, wanted["bbox"])
            for ours, theirs in ((mesh.positions, wanted["vertices"]), (mesh.normals, wanted["normals"])):
                np.testing.assert_array_equal(ours.reshape(-1, 3), np.array(theirs, dtype=np.float32).reshape(-1, 3))
        children = list(zip(group.groups, want["groups"]))
        pending.extend((child, wanted, path_names + (child.name,)) for child, wanted in reversed(children))
    assert [(path, mesh.triangle_count) for path, mesh in model.meshes()] == paths
    assert [group.name for group in model.groups] == [group.name for group in model.root.groups]


def test_arrays_are_views_that_outlive_the_model():
    model = slp.load(SAMPLE)
    mesh = next(mesh for _, mesh in model.meshes())
    positions, normals = mesh.positions, mesh.normals
    assert positions.shape == (mesh.triangle_count, 3, 3) and positions.dtype == np.float32
    assert positions.strides == normals.strides == (72, 12, 4)
    assert not positions.flags.writeable
    # The normals follow the vertices in each triangle's record, and every access views the same memory.
    address = positions.__array_interface__["data"][0]
    assert normals.__array_interface__["data"][0] == address + 36
    assert mesh.positions.__array_interface__["data"][0] == address
    kept = positions.copy()
    del model, mesh, normals
    gc.collect()
    scribbles = [bytearray(b"\xff" * positions.shape[0] * 72) for _ in range(50)]  # reuse freed memory
    np.testing.assert_array_equal(positions, kept)
    del scribbles


def test_failures_raise_their_cause(tmp_path):
    missing = tmp_path / "missing.slp"
    for operation in (slp.load, slp.check):
        with pytest.raises(FileNotFoundError) as caught:
            operation(missing)
        assert caught.value.filename == missing
        with pytest.raises(IsADirectoryError):
            operation(tmp_path)
        with pytest.raises(ValueError, match="null byte"):
            operation(str(SAMPLE) + "\0")
    binary = tmp_path / "binary.slp"
    binary.write_bytes(bytes(range(256)))
    with pytest.raises(slp.FormatError, match="binary data, not SLP text"):
        slp.load(binary)
    if os.geteuid() != 0:  # root reads any file
        locked = tmp_path / "locked.slp"
        locked.write_bytes(SAMPLE.read_bytes())
        locked.chmod(0)
        with pytest.raises(PermissionError):
            slp.load(locked)


def test_deep_nesting_is_walked_without_recursion(tmp_path):
    depth = 200_000
    facet = "facet outer loop" + " normal 0 0 1 vertex 0 0 0" * 3 + " endloop endfacet\n"
    path = tmp_path / "deep.slp"
    path.write_text("solid s\n" * depth + facet + "endsolid\n" * depth)
    model = slp.load(path)
    [(names, mesh)] = list(model.meshes())
    assert names == ("s",) * depth and mesh.triangle_count == 1
    assert model.groups[0].box == mesh.box == ((0, 0, 0), (0, 0, 0))
