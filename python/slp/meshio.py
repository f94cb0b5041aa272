"""Teaches meshio the .slp extension: import slp.meshio, then meshio.read("part.slp").

meshio has no plugin mechanism: a format is known once the module that registers it is imported. The
`meshio` command installed with this package is meshio's own command line with .slp registered first,
so `meshio convert part.slp part.vtu` works (so does `python -m slp.meshio convert part.slp part.vtu`).

What meshio.read gives for an SLP file:
  points          every triangle corner, three per triangle, mesh after mesh (float32)
  cells           one "triangle" block per mesh, in the order of slp.Model.meshes()
  point_data      "normals": the normal at each corner (float32)
  cell_data       "color": each triangle's mesh colour, RGBA (float32);
                  "group": the number of the mesh's group path (int32);
                  none for a model without triangles (no cell block either)
  field_data      each group path ("outer/inner", names joined by "/", a "/" or "\\" in a name escaped
                  by a "\\") mapped to [number, 2], as meshio's gmsh reader maps physical names, so
                  formats that keep names keep the paths
meshio cannot write SLP.
"""

from __future__ import annotations

import sys

import meshio
import numpy as np

from . import load

__all__ = ["read", "main"]


def _path_name(path) -> str:
    """The group path as one name, told apart from every other path: ("a/b",) is "a\\/b", ("a", "b") "a/b"."""
    return "/".join(name.replace("\\", "\\\\").replace("/", "\\/") for name in path)


def read(filename) -> meshio.Mesh:
    """Reads an SLP file into a meshio.Mesh (see the module's documentation for its layout).

    filename: a str, bytes or os.PathLike. Raises what slp.load raises.
    """
    points, normals, cells, colors, groups = [], [], [], [], []
    field_data = {}
    first = 0
    for path, mesh in load(filename).meshes():
        count = mesh.triangle_count
        number = field_data.setdefault(_path_name(path), np.array([len(field_data), 2]))[0]
        points.append(mesh.positions.reshape(-1, 3))
        normals.append(mesh.normals.reshape(-1, 3))
        cells.append(("triangle", np.arange(first, first + 3 * count, dtype=np.int64).reshape(-1, 3)))
        colors.append(np.tile(np.array(mesh.color, dtype=np.float32), (count, 1)))
        groups.append(np.full(count, number, dtype=np.int32))
        first += 3 * count
    empty = np.empty((0, 3), dtype=np.float32)
    # meshio's writers join each cell data list across the blocks, which fails for a list of none: a
    # model without triangles is a mesh without cell data.
    return meshio.Mesh(
        np.concatenate(points) if points else empty,
        cells,
        point_data={"normals": np.concatenate(normals) if normals else empty},
        cell_data={"color": colors, "group": groups} if cells else {},
        field_data=field_data,
    )


if "slp" not in meshio.extension_to_filetypes.get(".slp", []):
    meshio.register_format("slp", [".slp"], read, {})


def main(argv=None):
    """meshio's command line (meshio convert, info, ...) with the .slp extension registered."""
    from meshio._cli import main as meshio_main

    return meshio_main(argv)


if __name__ == "__main__":
    sys.exit(main())
