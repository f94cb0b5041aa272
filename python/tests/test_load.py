"""slp.load against the slp program's reading of the same files; the model's arrays, boxes and reprs."""

import gc
import re
import warnings

import numpy as np
import pytest
from conftest import FACET, FILES, SAMPLE

import slp


def floats(value):
    """A Box, a (min, max) dict of the program's, a colour or coordinates as float32 values; None as None."""
    if isinstance(value, dict):
        value = [value["min"], value["max"]]
    return None if value is None else np.array(value, dtype=np.float32).tolist()


@pytest.mark.parametrize("path", FILES, ids=lambda path: path.name)
def test_loads_what_the_program_loads(path, slp_program):
    expected = slp_program("info", "--json", "--geometry", path)
    if expected["result"] != 0:
        with pytest.raises(slp.FormatError, match=f": {re.escape(expected['reason'])}$"):
            slp.load(path)
        return
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        model = slp.load(path)
    dropped = expected["discarded_vertices"]
    assert [warning.message.vertices for warning in caught] == [dropped] * (dropped > 0) == [model.discarded_vertices] * (dropped > 0)
    assert floats(model.box) == floats(expected["bbox"])
    # Both trees side by side, without recursion; the meshes in file order with their group paths.
    pending, paths = [(model.root, expected, ())], []
    while pending:
        group, want, names = pending.pop()
        assert [child.name for child in group.groups] == [child["name"] for child in want["groups"]]
        ours = [(mesh.triangle_count, floats(mesh.color), floats(mesh.box), floats(mesh.positions.reshape(-1, 3)),
                 floats(mesh.normals.reshape(-1, 3))) for mesh in group.meshes]
        assert ours == [(mesh["triangles"], floats(mesh["color"]), floats(mesh["bbox"]), floats(mesh["vertices"]),
                         floats(mesh["normals"])) for mesh in want["objects"]]
        paths += [(names, mesh.triangle_count) for mesh in group.meshes]
        pending += [(child, wanted, names + (child.name,)) for child, wanted in reversed(list(zip(group.groups, want["groups"])))]
    assert [(names, mesh.triangle_count) for names, mesh in model.meshes()] == paths


def test_arrays_are_read_only_views_that_outlive_the_model():
    model = slp.load(SAMPLE)
    mesh = next(mesh for _, mesh in model.meshes())
    positions, normals = mesh.positions, mesh.normals
    assert positions.shape == (mesh.triangle_count, 3, 3) and positions.strides == normals.strides == (72, 12, 4)
    assert normals.__array_interface__["data"][0] == positions.__array_interface__["data"][0] + 36
    assert not positions.flags.writeable
    kept = positions.copy()
    del model, mesh, normals
    gc.collect()
    scribbles = [bytearray(b"\xff" * positions.shape[0] * 72) for _ in range(50)]  # reuse freed memory
    assert (positions == kept).all() and scribbles


def test_model_reads_as_the_file_writes_it(tmp_path):
    facet = "normal 0 0 1 vertex {0} 0 0 normal 0 0 1 vertex 0 {1} 0 normal 0 0 1 vertex 0 0 0\n"
    path = tmp_path / "nested.slp"
    path.write_text(f"solid one\ncolor 0.28 0.1 1e-3\n{facet.format(0.1, 0.7)}endsolid\nsolid two\nsolid a\n"
                    f"{facet.format(-2, 1) * 2}solid deepest\n{facet.format(5, 0)}endsolid\nendsolid\nsolid b\nendsolid\nendsolid\n")
    model = slp.load(path)
    one, two = model.groups
    (a, b), mesh = two.groups, one.meshes[0]
    assert repr(mesh) == "<slp.Mesh 1 triangle, color (0.28, 0.1, 0.001, 1.0)>"
    assert repr(a.meshes[0]).startswith("<slp.Mesh 2 triangles,")
    assert repr(one) == "<slp.Group 'one', 0 groups, 1 mesh>" and repr(two) == "<slp.Group 'two', 2 groups, 0 meshes>"
    assert repr(model) == "<slp.Model 2 groups, box Box(min=(-2.0, 0.0, 0.0), max=(5.0, 1.0, 0.0))>"
    # A group's box covers the groups below it.
    assert one.box == mesh.box == ((0, 0, 0), (0.1, 0.7, 0)) and two.box == a.box == ((-2, 0, 0), (5, 1, 0))
    assert a.groups[0].box == ((0, 0, 0), (5, 0, 0)) and b.box is None and model.root.box == model.box


def test_deep_nesting_is_walked_without_recursion(tmp_path):
    depth = 200_000
    path = tmp_path / "deep.slp"
    path.write_text("solid s\n" * depth + FACET + "endsolid\n" * depth)
    model = slp.load(path)
    [(names, mesh)] = list(model.meshes())
    assert names == ("s",) * depth and model.groups[0].box == mesh.box == ((0, 0, 0), (0, 0, 0))


def test_failures_raise_their_cause(tmp_path):
    for operation in (slp.load, slp.check):
        with pytest.raises(FileNotFoundError) as caught:
            operation(tmp_path / "missing.slp")
        assert caught.value.filename == tmp_path / "missing.slp"
        with pytest.raises(IsADirectoryError):
            operation(tmp_path)
        with pytest.raises(ValueError, match="null byte"):
            operation(str(SAMPLE) + "\0")
