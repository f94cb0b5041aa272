"""meshio reads .slp once slp.meshio is imported, and its command line converts SLP to VTU."""

import subprocess
import sys
from pathlib import Path

import meshio
import numpy as np
from conftest import SAMPLE

import slp
import slp.meshio  # noqa: F401 (registers .slp)


def test_meshio_reads_one_block_per_mesh():
    mesh = meshio.read(SAMPLE)
    pairs = list(slp.load(SAMPLE).meshes())
    assert [block.type for block in mesh.cells] == ["triangle"] * len(pairs)
    blocks = zip(mesh.cells, mesh.cell_data["color"], mesh.cell_data["group"], pairs)
    for block, colors, groups, (path, ours) in blocks:
        np.testing.assert_array_equal(mesh.points[block.data], ours.positions)
        np.testing.assert_array_equal(mesh.point_data["normals"][block.data], ours.normals)
        assert (colors == np.float32(ours.color)).all() and len(colors) == ours.triangle_count
        assert (groups == mesh.field_data["/".join(path)][0]).all()
    assert len(mesh.field_data) == 5  # desk_lamp/shade holds two meshes


def test_meshio_command_converts_to_vtu(tmp_path):
    command = Path(sys.executable).with_name("meshio")  # installed with the package
    subprocess.run([command, "convert", SAMPLE, tmp_path / "lamp.vtu"], check=True, capture_output=True)
    back, original = meshio.read(tmp_path / "lamp.vtu"), meshio.read(SAMPLE)
    np.testing.assert_array_equal(back.points, original.points)
    for name in ("color", "group"):
        np.testing.assert_array_equal(np.concatenate(back.cell_data[name]), np.concatenate(original.cell_data[name]))
    cells = [np.concatenate([block.data for block in mesh.cells]) for mesh in (back, original)]
    np.testing.assert_array_equal(*cells)


def test_meshio_converts_a_model_without_triangles(tmp_path):
    path = tmp_path / "bare.slp"
    path.write_text("solid bare\nendsolid bare\n")
    command = Path(sys.executable).with_name("meshio")
    subprocess.run([command, "convert", path, tmp_path / "bare.vtu"], check=True, capture_output=True)
    assert '<Piece NumberOfPoints="0" NumberOfCells="0">' in (tmp_path / "bare.vtu").read_text()  # meshio reads none back


def test_meshio_keeps_a_name_with_a_slash_apart_from_a_path(tmp_path):
    facet = "normal 0 0 1 vertex 0 0 0 normal 0 0 1 vertex 1 0 0 normal 0 0 1 vertex 0 1 0\n"
    path = tmp_path / "slashes.slp"
    path.write_text(f"solid a/b\n{facet}endsolid\nsolid a\nsolid b\n{facet}endsolid\nendsolid\n")
    mesh = meshio.read(path)
    assert sorted(mesh.field_data) == ["a/b", "a\\/b"]
    assert [int(groups[0]) for groups in mesh.cell_data["group"]] == [
        mesh.field_data["a\\/b"][0],
        mesh.field_data["a/b"][0],
    ]
