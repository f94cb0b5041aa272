"""slp.check and slp.export against the native program: the same findings, the same bytes."""

import dataclasses
import errno
import gzip
import io
import re
import subprocess
from pathlib import Path

import pytest
from conftest import FILES, SAMPLE

import slp


@pytest.mark.parametrize("path", FILES, ids=lambda path: path.name)
def test_check_finds_what_the_program_finds(path, slp_json):
    expected = slp_json("check", "--json", path)
    report = slp.check(path)
    assert [dataclasses.asdict(finding) for finding in report.findings] == expected["findings"]
    counts = {name: value for name, value in dataclasses.asdict(report).items() if name != "findings"}
    assert counts == {name: expected[name] for name in counts}
    # Fewer findings kept, the same counts.
    for kept in (0, 1):
        fewer = slp.check(path, max_findings=kept)
        assert fewer.findings == report.findings[:kept] and fewer.errors == report.errors


# Colours outside 0..1, normals without a direction and a NaN vertex: every count of a report.
ODD = """solid odd
color 2 0.5 -1
normal 0 0 0 vertex 0 0 0 normal 0 0 0 vertex 1 0 0 normal 0 0 0 vertex 0 1 0
normal 0 0 1 vertex nan 0 0 normal 0 0 1 vertex 1 0 0 normal 0 0 1 vertex 0 1 0
endsolid
"""
SUMMARY = re.compile(r": (\w+), (\d+) groups?, (\d+) meshe?s?, (\d+) triangles?, (\d+) vertices(?: \(with (.+)\))?\n")
WARNINGS = {"clamped_colors": "colours? outside", "skipped_triangles": "triangles? with infinite", "replaced_normals": "normals? without"}


def test_export_writes_and_counts_what_the_program_does(tmp_path, slp_program):
    odd = tmp_path / "odd.slp"
    odd.write_text(ODD)
    for source in (SAMPLE, odd):
        model = slp.load(source)
        for extension in ("glb", "gltf", "obj", "ply", "stl"):
            ours, theirs = tmp_path / "ours" / f"out.{extension}", tmp_path / "theirs" / f"out.{extension}"
            ours.parent.mkdir(exist_ok=True)
            theirs.parent.mkdir(exist_ok=True)
            report = slp.export(model, ours)
            done = subprocess.run([slp_program, "convert", source, theirs], check=True, capture_output=True, text=True)
            name, *counts, companion = SUMMARY.search(done.stdout).groups()
            assert [report.format, report.groups, report.meshes, report.triangles, report.vertices] == [name, *map(int, counts)]
            for field, words in WARNINGS.items():
                found = re.search(rf"(\d+) \S* ?{words}", done.stderr)
                assert getattr(report, field) == (int(found.group(1)) if found else 0), (source.name, extension, field)
            companions = [companion] if companion else []
            assert report.files == [str(ours)] + [str(ours.parent / Path(other).name) for other in companions]
            for file in report.files:
                assert Path(file).read_bytes() == (theirs.parent / Path(file).name).read_bytes()
    assert slp.export(model, tmp_path / "odd.bin", format="STL").triangles == 2


def test_export_to_slp_loads_back_the_same_model_and_gzipped_files_load(tmp_path, slp_program):
    for source in FILES:
        try:
            model = slp.load(source)
        except slp.FormatError:
            continue
        report = slp.export(model, tmp_path / "again.slp")
        assert report.format == "slp" and report.triangles == sum(mesh.triangle_count for _, mesh in model.meshes())
        again = slp.load(tmp_path / "again.slp")
        assert again.discarded_vertices == 0
        assert [(path, mesh.color) for path, mesh in again.meshes()] == [(path, mesh.color) for path, mesh in model.meshes()]
        for (_, ours), (_, theirs) in zip(again.meshes(), model.meshes()):
            assert ours.positions.tobytes() == theirs.positions.tobytes() and ours.normals.tobytes() == theirs.normals.tobytes()
        # As slp convert writes it.
        subprocess.run([slp_program, "convert", "-q", source, tmp_path / "theirs.slp"], check=True)
        assert (tmp_path / "theirs.slp").read_bytes() == (tmp_path / "again.slp").read_bytes()
    # A gzipped file by its name or its content, whatever its name; cut data is an OSError.
    packed = gzip.compress(SAMPLE.read_bytes())
    (tmp_path / "lamp.slp.gz").write_bytes(packed)
    (tmp_path / "lamp.slp").write_bytes(packed)
    lamp = slp.load(SAMPLE)
    for source in (tmp_path / "lamp.slp.gz", tmp_path / "lamp.slp", packed, io.BytesIO(packed)):
        loaded = slp.load(source)
        assert [mesh.positions.tobytes() for _, mesh in loaded.meshes()] == [mesh.positions.tobytes() for _, mesh in lamp.meshes()]
    (tmp_path / "cut.slp.gz").write_bytes(packed[:200])
    with pytest.raises(OSError, match="corrupt gzip data") as caught:
        slp.load(tmp_path / "cut.slp.gz")
    assert caught.value.errno == errno.EILSEQ


def test_export_failures_raise(tmp_path):
    model = slp.load(SAMPLE)
    with pytest.raises(ValueError, match="no format"):
        slp.export(model, tmp_path / "lamp.txt")
    with pytest.raises(ValueError, match="no format"):
        slp.export(model, tmp_path / "lamp.stl", format="step")
    with pytest.raises(OSError, match="cannot create .*No such file or directory"):
        slp.export(model, tmp_path / "missing" / "lamp.stl")
    with pytest.raises(TypeError):
        slp.export(model, tmp_path / "lamp.stl", format=b"stl")
    with pytest.raises(ValueError):
        slp.check(SAMPLE, max_findings=-1)
