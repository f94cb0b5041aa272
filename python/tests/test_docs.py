"""The documents' Python snippets run as written, and the Dask recipe of docs/python.md converts a
folder on two worker processes as the program converts it, reporting a broken file among the others."""

import re
import subprocess

import pytest
from conftest import ROOT

BLOCK = re.compile(r"```python\n(.*?)```", re.S)
GUIDE = ROOT / "docs" / "python.md"


@pytest.mark.parametrize("document", [GUIDE, ROOT / "README.md"], ids=lambda path: path.name)
def test_snippets_run(document, monkeypatch):
    monkeypatch.chdir(ROOT)  # the snippets name the repository's files
    namespace = {"__name__": "__main__"}
    blocks = BLOCK.findall(document.read_text())
    assert blocks
    for block in blocks:  # one after the other, as a reader runs them
        exec(compile(block, f"<{document.name}>", "exec"), namespace)


def test_dask_recipe_converts_a_folder(tmp_path, slp_program):
    from dask.distributed import Client, LocalCluster

    recipe = {"__name__": "slp_dask_recipe"}
    exec(next(block for block in BLOCK.findall(GUIDE.read_text()) if "def convert_all" in block), recipe)
    facet = "normal 0 0 1 vertex {0} 0 0 normal 0 0 1 vertex 0 {0} 0 normal 0 0 1 vertex 0 0 {0}\n"
    folder, ours, theirs = (tmp_path / name for name in ("in", "ours", "theirs"))
    for made in (folder, ours, theirs):
        made.mkdir()
    for number in range(8):
        (folder / f"part{number}.slp").write_text(f"solid part{number}\ncolor 0.{number} 0.5 1\n"
                                                  + facet.format(number + 1) * (number * 500 + 1) + "endsolid\n")
    (folder / "part3.slp").write_bytes(bytes(range(256)))  # broken
    sources = sorted(str(path) for path in folder.iterdir())
    with LocalCluster(n_workers=2, threads_per_worker=2, processes=True, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        rows = recipe["convert_all"](client, sources, str(ours))
    subprocess.run([slp_program, "convert", "-q", "-f", "glb", "-o", theirs, *sources], capture_output=True)
    assert [row["file"] for row in rows] == sources
    for row in rows:
        name = row["file"].replace(".slp", ".glb").split("/")[-1]
        if name == "part3.glb":
            assert row["error"] == f"FormatError: {row['file']}: binary data, not SLP text" and not (ours / name).exists()
        else:
            assert row["error"] is None and row["triangles"] > 0
            assert (ours / name).read_bytes() == (theirs / name).read_bytes()
