"""The documents' Python snippets run as written (the Dask recipe of docs/python.md converts the examples
on two worker processes), and the recipe reports a broken file rather than failing with it."""

import re

import pytest
from conftest import ROOT, SAMPLE

import slp

BLOCK = re.compile(r"```python\n(.*?)```", re.S)
GUIDE = ROOT / "docs" / "python.md"


@pytest.mark.parametrize("document", [GUIDE, ROOT / "README.md"], ids=lambda path: path.name)
def test_snippets_run(document, monkeypatch):
    monkeypatch.chdir(ROOT)  # the snippets name the repository's files
    namespace = {"__name__": "__main__"}
    for block in BLOCK.findall(document.read_text()):  # one after the other, as a reader runs them
        exec(compile(block, f"<{document.name}>", "exec"), namespace)
    assert "slp" in namespace and namespace.get("failed", []) == []


def test_dask_recipe_reports_a_broken_file(tmp_path):
    recipe = {"__name__": "slp_dask_recipe"}
    exec(next(block for block in BLOCK.findall(GUIDE.read_text()) if "def convert_all" in block), recipe)
    broken = tmp_path / "broken.slp"
    broken.write_bytes(bytes(range(256)))
    good, bad = (recipe["convert"](str(source), str(tmp_path / "out.glb")) for source in (SAMPLE, broken))
    assert good["error"] is None and (tmp_path / "out.glb").exists()
    assert good["triangles"] == sum(mesh.triangle_count for _, mesh in slp.load(SAMPLE).meshes())
    assert bad["error"] == f"FormatError: {broken}: binary data, not SLP text"
