"""meshio reads .slp once slp.meshio is imported, and the meshio command installed with the package
converts SLP files."""

import subprocess
import sys
from pathlib import Path

import meshio
import numpy as np
from conftest import SAMPLE

import slp
import slp.meshio  # noqa: F401 (registers .slp)


def test_meshio_reads_one_block_per_mesh_with_its_colour_and_group(tmp_path):
    mesh = meshio.read(SAMPLE)
    pairs = list(slp.load(SAMPLE).meshes())
    assert [block.type for block in mesh.cells] == ["triangle"] * len(pairs)
    for block, colors, groups, (path, ours) in zip(mesh.cells, mesh.cell_data["color"], mesh.cell_data["group"], pairs):
        assert (mesh.points[block.data] == ours.positions).all() and (mesh.point_data["normals"][block.data] == ours.normals).all()
        assert (colors == np.float32(ours.color)).all() and len(colors) == ours.triangle_count
        assert (groups == mesh.field_data["/".join(path)][0]).all()
    assert sorted(int(number) for number, _ in mesh.field_data.values()) == list(range(len(mesh.field_data)))
    # A name with a slash is not the path of two groups.
    facet = "normal 0 0 1 vertex 0 0 0 normal 0 0 1 vertex 1 0 0 normal 0 0 1 vertex 0 1 0\n"
    path = tmp_path / "slashes.slp"
    path.write_text(f"solid a/b\n{facet}endsolid\nsolid a\nsolid b\n{facet}endsolid\nendsolid\n")
    mesh = meshio.read(path)
    assert [int(groups[0]) for groups in mesh.cell_data["group"]] == [mesh.field_data["a\\/b"][0], mesh.field_data["a/b"][0]]


def test_meshio_command_converts_a_model_without_triangles(tmp_path):
    command = Path(sys.executable).with_name("meshio")  # installed with the package
    (tmp_path / "bare.slp").write_text("solid bare\nendsolid bare\n")  # meshio's writers fail on empty cell data lists
    subprocess.run([command, "convert", tmp_path / "bare.slp", tmp_path / "bare.vtu"], check=True, capture_output=True)
    assert '<Piece NumberOfPoints="0" NumberOfCells="0">' in (tmp_path / "bare.vtu").read_text()
